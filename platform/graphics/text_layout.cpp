#include "platform/graphics/text_layout.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_map>

#include <unistd.h>

#include "platform/foundation/bundle.h"
#include "platform/graphics/cairo_support.h"
#include "platform/graphics/graphics_context.h"

namespace graphics {
namespace {

constexpr const char* kEllipsis = "\xE2\x80\xA6";

struct LayoutDeleter {
    void operator()(PangoLayout* l) const { g_object_unref(l); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

// A line of attributed text as shaped for one appearance: what measuring and drawing it again
// find without shaping it again.
struct ShapedKey {
    AttributedString text;
    UserInterfaceStyle style;
};
struct ShapedProbe {
    const AttributedString* text;
    UserInterfaceStyle style;
};
struct ShapedHash {
    using is_transparent = void;
    size_t hash(const AttributedString& text, UserInterfaceStyle style) const {
        size_t h = std::hash<std::string>{}(text.string());
        for (const AttributedString::Run& run : text.runs()) h = h * 31 + run.length;
        return h * 3 + static_cast<size_t>(style);
    }
    size_t operator()(const ShapedKey& k) const { return hash(k.text, k.style); }
    size_t operator()(const ShapedProbe& k) const { return hash(*k.text, k.style); }
};
struct ShapedEqual {
    using is_transparent = void;
    static bool same(const AttributedString& a, UserInterfaceStyle as, const AttributedString& b,
                     UserInterfaceStyle bs) {
        if (as != bs || a.string() != b.string() || a.runs().size() != b.runs().size()) return false;
        for (size_t i = 0; i < a.runs().size(); ++i) {
            const AttributedString::Run &x = a.runs()[i], &y = b.runs()[i];
            if (x.start != y.start || x.length != y.length || !(x.attributes == y.attributes)) return false;
        }
        return true;
    }
    bool operator()(const ShapedKey& a, const ShapedKey& b) const { return same(a.text, a.style, b.text, b.style); }
    bool operator()(const ShapedProbe& a, const ShapedKey& b) const { return same(*a.text, a.style, b.text, b.style); }
    bool operator()(const ShapedKey& a, const ShapedProbe& b) const { return same(a.text, a.style, *b.text, b.style); }
};

// The one font configuration, font map and pango context of the process, and the lines shaped
// lately. Pango objects are not meant for concurrent use, so every text call holds the mutex.
struct TextSystem {
    std::mutex mutex;
    FcConfig* config = nullptr;
    PangoFontMap* fontMap = nullptr;
    PangoContext* context = nullptr;
    std::vector<std::string> files;
    // Two generations: a full one becomes the older and the older is let go, so what is drawn again
    // within about a generation's worth of other lines (a long thread scrolled back and forth) is
    // not shaped again.
    using Shaped = std::unordered_map<ShapedKey, LayoutPtr, ShapedHash, ShapedEqual>;
    Shaped shaped;
    Shaped olderShaped;
    // A line too long to keep, shaped for the call at hand.
    LayoutPtr unkept;
    TextWork work;
};

std::mutex directoryMutex;
std::filesystem::path& directoryOverride() {
    static std::filesystem::path path;
    return path;
}

TextSystem& textSystem() {
    static TextSystem* system = [] {
        auto* s = new TextSystem;
        // A configuration of our own: no system directories, no user files, only the bundled faces.
        s->config = FcConfigCreate();
        // A private cache folder (fontconfig complains without a writable one); the cache only
        // mirrors the bundled files, so it cannot change what is drawn.
        std::error_code ec;
        const auto cache = std::filesystem::temp_directory_path(ec) / ("hx-fontconfig-4-" + std::to_string(getuid()));
        // DejaVu's monochrome pictographs (emoticons, pictographs, transport and the rest of the
        // U+1F000 planes' symbols) are taken out of its coverage when the faces are scanned, so
        // emoji come from the colour face. (The cache folder's name changes with this rule: a
        // cache written without it would keep the old coverage.)
        const std::string conf =
            "<fontconfig><cachedir>" + cache.string() +
            "</cachedir><match target=\"scan\"><test name=\"family\"><string>DejaVu Sans</string></test>"
            "<edit name=\"charset\" mode=\"assign\"><minus><name>charset</name><charset><range><int>0x1F000</int>"
            "<int>0x1FAFF</int></range></charset></minus></edit></match>"
            // A face of bitmaps (the colour emoji, no outlines) is scaled to the size asked for.
            "<match target=\"font\"><test name=\"outline\" compare=\"eq\"><bool>false</bool></test>"
            "<edit name=\"pixelsizefixupfactor\" mode=\"assign\"><divide><name target=\"pattern\">pixelsize</name>"
            "<name target=\"font\">pixelsize</name></divide></edit></match>"
            "<match target=\"font\"><test name=\"outline\" compare=\"eq\"><bool>false</bool></test>"
            "<edit name=\"matrix\" mode=\"assign\"><times><name>matrix</name><matrix><name>pixelsizefixupfactor</name>"
            "<double>0</double><double>0</double><name>pixelsizefixupfactor</name></matrix></times></edit>"
            "<edit name=\"size\" mode=\"assign\"><divide><name>size</name><name>pixelsizefixupfactor</name></divide>"
            "</edit></match></fontconfig>";
        FcConfigParseAndLoadFromMemory(s->config, reinterpret_cast<const FcChar8*>(conf.c_str()), FcFalse);
        const std::string directory = fontsDirectory().string();
        FcConfigAppFontAddDir(s->config, reinterpret_cast<const FcChar8*>(directory.c_str()));
        if (FcFontSet* set = FcConfigGetFonts(s->config, FcSetApplication)) {
            for (int i = 0; i < set->nfont; ++i) {
                FcChar8* file = nullptr;
                if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) == FcResultMatch) {
                    s->files.emplace_back(reinterpret_cast<const char*>(file));
                }
            }
            std::sort(s->files.begin(), s->files.end());
            // A collection file holds several faces; it is one file all the same.
            s->files.erase(std::unique(s->files.begin(), s->files.end()), s->files.end());
        }
        s->fontMap = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
        pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(s->fontMap), s->config);
        s->context = pango_font_map_create_context(s->fontMap);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        pango_cairo_context_set_font_options(s->context, options);
        cairo_font_options_destroy(options);
        pango_context_set_round_glyph_positions(s->context, FALSE);
        pango_context_set_language(s->context, pango_language_from_string("en"));
        return s;
    }();
    return *system;
}

PangoFontDescription* describe(const Font& font) {
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, font.family());
    const FontWeight w = font.weight();
    pango_font_description_set_weight(d, w <= FontWeight::thin       ? PANGO_WEIGHT_ULTRALIGHT
                                         : w >= FontWeight::semibold ? PANGO_WEIGHT_BOLD
                                                                     : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d, font.italic() ? PANGO_STYLE_OBLIQUE : PANGO_STYLE_NORMAL);
    const double size = font.pointSize() > 0 && std::isfinite(font.pointSize()) ? font.pointSize() : 1;
    pango_font_description_set_absolute_size(d, size * PANGO_SCALE);
    return d;
}

// A pango layout of the attributed text on one unlimited line (or wrapped at `width` > 0).
LayoutPtr makeLayout(TextSystem& s, const AttributedString& text, UserInterfaceStyle style) {
    s.work.bytes += text.string().size();
    s.work.largestPiece = std::max<uint64_t>(s.work.largestPiece, text.string().size());
    LayoutPtr layout(pango_layout_new(s.context));
    pango_layout_set_text(layout.get(), text.string().data(), static_cast<int>(text.string().size()));
    // The font of an empty text still sets the line's height.
    PangoFontDescription* base = describe(text.attributesAt(0).font);
    pango_layout_set_font_description(layout.get(), base);
    pango_font_description_free(base);
    PangoAttrList* list = pango_attr_list_new();
    // Lines broken inside a word get no hyphen (they would measure wider than the text they show).
    pango_attr_list_insert(list, pango_attr_insert_hyphens_new(FALSE));
    for (const AttributedString::Run& run : text.runs()) {
        const auto start = static_cast<guint>(run.start), end = static_cast<guint>(run.start + run.length);
        auto add = [&](PangoAttribute* a) {
            a->start_index = start;
            a->end_index = end;
            pango_attr_list_insert(list, a);
        };
        PangoFontDescription* d = describe(run.attributes.font);
        add(pango_attr_font_desc_new(d));
        pango_font_description_free(d);
        const RGBA c = run.attributes.color.rgbaFor(style);
        add(pango_attr_foreground_new(static_cast<guint16>(std::lround(c.red * 65535)),
                                      static_cast<guint16>(std::lround(c.green * 65535)),
                                      static_cast<guint16>(std::lround(c.blue * 65535))));
        add(pango_attr_foreground_alpha_new(static_cast<guint16>(std::max(1L, std::lround(c.alpha * 65535)))));
        if (run.attributes.kern != 0)
            add(pango_attr_letter_spacing_new(static_cast<int>(run.attributes.kern * PANGO_SCALE)));
        if (run.attributes.underline) add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (run.attributes.baselineOffset != 0) {
            add(pango_attr_rise_new(static_cast<int>(run.attributes.baselineOffset * PANGO_SCALE)));
        }
    }
    pango_layout_set_attributes(layout.get(), list);
    pango_attr_list_unref(list);
    return layout;
}

struct Measure {
    double width = 0, height = 0, baseline = 0;
};

// Lines kept shaped per generation, and the longest line kept.
constexpr size_t kMaxShapedLines = 4096;
constexpr size_t kMaxShapedBytes = 4096;

// The layout of one unwrapped line, shaped once and kept (owned by the text system: valid until
// the next call while the mutex is held).
PangoLayout* shapedLine(TextSystem& s, const AttributedString& text, UserInterfaceStyle style) {
    if (text.string().size() > kMaxShapedBytes) {
        s.unkept = makeLayout(s, text, style);
        return s.unkept.get();
    }
    const ShapedProbe probe{&text, style};
    if (auto it = s.shaped.find(probe); it != s.shaped.end()) return it->second.get();
    TextSystem::Shaped::node_type older;
    if (auto it = s.olderShaped.find(probe); it != s.olderShaped.end()) older = s.olderShaped.extract(it);
    if (s.shaped.size() >= kMaxShapedLines) {
        s.olderShaped = std::move(s.shaped);
        s.shaped.clear();
    }
    // A line of the older generation still in use moves to the current one.
    if (older) return s.shaped.insert(std::move(older)).position->second.get();
    LayoutPtr layout = makeLayout(s, text, style);
    PangoLayout* raw = layout.get();
    s.shaped.emplace(ShapedKey{text, style}, std::move(layout));
    return raw;
}

Measure measureLine(TextSystem& s, const AttributedString& text) {
    PangoLayout* layout = shapedLine(s, text, UserInterfaceStyle::light);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE,
            static_cast<double>(pango_layout_get_baseline(layout)) / PANGO_SCALE};
}

// Byte offsets where a cut may fall (grapheme boundaries), from the start to the end.
std::vector<size_t> cutPoints(TextSystem& s, const AttributedString& text) {
    LayoutPtr layout = makeLayout(s, text, UserInterfaceStyle::light);
    int count = 0;
    const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(layout.get(), &count);
    std::vector<size_t> points;
    const std::string& str = text.string();
    size_t offset = 0;
    for (int i = 0; i < count; ++i) {
        if (attrs[i].is_cursor_position) points.push_back(offset);
        if (offset >= str.size()) break;
        // The next character's start.
        ++offset;
        while (offset < str.size() && (static_cast<unsigned char>(str[offset]) & 0xC0) == 0x80) ++offset;
    }
    if (points.empty() || points.back() != str.size()) points.push_back(str.size());
    return points;
}

AttributedString withoutTrailingSpaces(const AttributedString& text) {
    size_t end = text.string().size();
    while (end > 0 && (text.string()[end - 1] == ' ' || text.string()[end - 1] == '\t')) --end;
    return end == text.string().size() ? text : text.substring(0, end);
}

AttributedString withoutLeadingSpaces(const AttributedString& text) {
    size_t start = 0;
    while (start < text.string().size() && (text.string()[start] == ' ' || text.string()[start] == '\t')) ++start;
    return start == 0 ? text : text.substring(start, text.string().size());
}

// A whole character's byte offset at or before `offset`.
size_t characterStart(const std::string& str, size_t offset) {
    offset = std::min(offset, str.size());
    while (offset > 0 && offset < str.size() && (static_cast<unsigned char>(str[offset]) & 0xC0) == 0x80) --offset;
    return offset;
}

// The width of a piece of text on one line, shaped for this question only.
double unkeptWidth(TextSystem& s, const AttributedString& text) {
    LayoutPtr layout = makeLayout(s, text, UserInterfaceStyle::light);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

// How many bytes of the text's start (fromEnd: of its end) are wider than `width`, in whole
// characters: a few hundred to begin with, twice as many each time; the whole text when even
// that is not wider.
size_t widerThan(TextSystem& s, const AttributedString& text, double width, bool fromEnd) {
    const std::string& str = text.string();
    for (size_t bytes = 256; bytes < str.size(); bytes *= 2) {
        const size_t cut = fromEnd ? str.size() - characterStart(str, str.size() - bytes) : characterStart(str, bytes);
        if (cut == 0 || cut >= str.size()) continue;
        const AttributedString piece = fromEnd ? text.substring(str.size() - cut, str.size()) : text.substring(0, cut);
        if (unkeptWidth(s, piece) > width) return cut;
    }
    return str.size();
}

// The text cut with "…" where the mode says so, as long as still fits in width. Only as much of
// a long text's ends is shaped as the cut can keep: a start (and an end) each wider than the
// width on its own.
AttributedString truncate(TextSystem& s, const AttributedString& text, double width, LineBreakMode mode) {
    const std::string& str = text.string();
    const bool keepsTail = mode == LineBreakMode::truncateHead || mode == LineBreakMode::truncateMiddle;
    const bool keepsHead = mode != LineBreakMode::truncateHead;
    const size_t headBytes = keepsHead ? widerThan(s, text, width, false) : str.size();
    const size_t tailBytes = keepsTail ? widerThan(s, text, width, true) : str.size();
    const bool windowed = (keepsHead ? headBytes : 0) + (keepsTail ? tailBytes : 0) < str.size();
    if (!windowed && measureLine(s, text).width <= width) return text;
    // The ends the cut keeps from (each the whole text when the text is short) and the grapheme
    // boundaries in each, from the start and from the end.
    const size_t tailStart = windowed ? str.size() - tailBytes : 0;
    const std::vector<size_t> headPoints = cutPoints(s, windowed && keepsHead ? text.substring(0, headBytes) : text);
    std::vector<size_t> tailPoints = headPoints;
    if (windowed && keepsTail) {
        tailPoints = cutPoints(s, text.substring(tailStart, str.size()));
        for (size_t& p : tailPoints) p += tailStart;
    }
    const size_t headGraphemes = headPoints.size() - 1, tailGraphemes = tailPoints.size() - 1;
    auto candidate = [&](size_t keep) {
        AttributedString out;
        if (mode == LineBreakMode::truncateHead) {
            const size_t from = tailPoints[tailGraphemes - keep];
            const AttributedString tail = withoutLeadingSpaces(text.substring(from, str.size()));
            out.append(kEllipsis, text.attributesAt(from));
            out.append(tail);
        } else if (mode == LineBreakMode::truncateMiddle) {
            const size_t front = (keep + 1) / 2, back = keep - front;
            out.append(withoutTrailingSpaces(text.substring(0, headPoints[front])));
            out.append(kEllipsis, text.attributesAt(front > 0 ? headPoints[front] - 1 : 0));
            out.append(withoutLeadingSpaces(text.substring(tailPoints[tailGraphemes - back], str.size())));
        } else {
            out.append(withoutTrailingSpaces(text.substring(0, headPoints[keep])));
            out.append(kEllipsis, text.attributesAt(keep > 0 ? headPoints[keep] - 1 : 0));
        }
        return out;
    };
    // The most characters kept that still fit; at least the ellipsis alone. Past an end wider
    // than the width nothing fits.
    size_t hi = mode == LineBreakMode::truncateHead ? tailGraphemes : headGraphemes;
    if (mode == LineBreakMode::truncateMiddle) {
        hi = windowed ? std::min(2 * headGraphemes, 2 * tailGraphemes + 1) : headGraphemes;
    }
    size_t lo = 0;
    while (lo < hi) {
        const size_t mid = (lo + hi + 1) / 2;
        if (measureLine(s, candidate(mid)).width <= width) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return candidate(lo);
}

}  // namespace

void setFontsDirectory(const std::filesystem::path& directory) {
    std::lock_guard<std::mutex> lock(directoryMutex);
    directoryOverride() = directory;
}

std::filesystem::path fontsDirectory() {
    {
        std::lock_guard<std::mutex> lock(directoryMutex);
        if (!directoryOverride().empty()) return directoryOverride();
    }
    return foundation::Bundle::main().resourcesDirectory() / "fonts";
}

std::vector<std::string> loadedFontFiles() {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.files;
}

FontMetrics fontMetrics(const Font& font) {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    PangoFontDescription* d = describe(font);
    PangoFontMetrics* m = pango_context_get_metrics(s.context, d, nullptr);
    FontMetrics out;
    out.ascender = static_cast<double>(pango_font_metrics_get_ascent(m)) / PANGO_SCALE;
    out.descender = -static_cast<double>(pango_font_metrics_get_descent(m)) / PANGO_SCALE;
    out.lineHeight = static_cast<double>(pango_font_metrics_get_height(m)) / PANGO_SCALE;
    out.leading = std::max(0.0, out.lineHeight - (out.ascender - out.descender));
    pango_font_metrics_unref(m);
    // Cap and x heights from the ink of "H" and "x".
    for (auto [glyph, target] : {std::pair{"H", &out.capHeight}, std::pair{"x", &out.xHeight}}) {
        LayoutPtr layout(pango_layout_new(s.context));
        pango_layout_set_font_description(layout.get(), d);
        pango_layout_set_text(layout.get(), glyph, -1);
        PangoRectangle ink;
        pango_layout_get_extents(layout.get(), &ink, nullptr);
        *target = static_cast<double>(ink.height) / PANGO_SCALE;
    }
    pango_font_description_free(d);
    return out;
}

AttributedString::AttributedString(std::string text, TextAttributes attributes) { append(text, attributes); }

void AttributedString::append(const std::string& text, const TextAttributes& attributes) {
    if (text.empty()) return;
    if (!runs_.empty() && runs_.back().attributes == attributes) {
        runs_.back().length += text.size();
    } else {
        runs_.push_back({text_.size(), text.size(), attributes});
    }
    text_ += text;
}

void AttributedString::append(const AttributedString& other) {
    for (const Run& r : other.runs_) append(other.text_.substr(r.start, r.length), r.attributes);
}

AttributedString AttributedString::substring(size_t start, size_t end) const {
    AttributedString out;
    end = std::min(end, text_.size());
    for (const Run& r : runs_) {
        const size_t a = std::max(start, r.start), b = std::min(end, r.start + r.length);
        if (a < b) out.append(text_.substr(a, b - a), r.attributes);
    }
    return out;
}

TextAttributes AttributedString::attributesAt(size_t offset) const {
    for (const Run& r : runs_) {
        if (offset >= r.start && offset < r.start + r.length) return r.attributes;
    }
    return runs_.empty() ? TextAttributes{} : runs_.back().attributes;
}

namespace {

// Paragraphs longer than this are wrapped a piece at a time (the engine's wrapping of a word
// longer than a line costs about the square of what it is handed), and a piece's lines are taken
// only where the next one starts this far before the piece's end, clear of anything the cut
// changes (break opportunities, clusters, shaping across it).
constexpr size_t kPieceBytes = 2048;
constexpr size_t kSeamBytes = 128;

// The way the text's first strong character reads (neutral when it has none), as the engine
// decides a paragraph's direction.
PangoDirection firstStrongDirection(const std::string& str, size_t from, size_t to) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    return pango_find_base_dir(str.data() + from, static_cast<int>(to - from));
    G_GNUC_END_IGNORE_DEPRECATIONS
}

// A run longer than this with no break opportunity (a long word, a link) is handed to the engine
// with one before each of its characters (a zero-width space): breaking a word longer than a line
// between its characters costs the engine a great deal more than breaking between words, and the
// lines are the same, for a word longer than a line breaks between characters anyway.
constexpr size_t kUnbrokenBytes = 256;
constexpr const char kZeroWidthSpace[] = "\u200B";
constexpr size_t kZeroWidthSpaceBytes = sizeof kZeroWidthSpace - 1;

// Where a zero-width space goes before a character of the text (byte offsets, rising): inside
// each unbroken run of at least kUnbrokenBytes, at every boundary between characters. A run that
// starts after other text on its line (the text's start is a line start) keeps a start wider
// than the line without them, so that it still goes to a line of its own as it would. `oneRun`
// tells whether the whole text is one such run.
std::vector<size_t> openUnbrokenRuns(TextSystem& s, const AttributedString& text, double width, bool& oneRun) {
    const std::string& str = text.string();
    std::vector<size_t> out;
    oneRun = false;
    // Most texts have no long run without a space: told without asking the engine.
    size_t longest = 0, run = 0;
    for (char c : str) {
        run = c == ' ' || c == '\n' || c == '\t' ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    if (longest < kUnbrokenBytes) return out;
    const auto chars = static_cast<int>(g_utf8_strlen(str.data(), static_cast<gssize>(str.size())));
    std::vector<PangoLogAttr> attrs(static_cast<size_t>(chars) + 1);
    pango_get_log_attrs(str.data(), static_cast<int>(str.size()), -1, pango_language_from_string("en"), attrs.data(),
                        chars + 1);
    std::vector<size_t> offsets;  // each character's start, and the end
    offsets.reserve(attrs.size());
    for (const char* p = str.data(); offsets.size() < static_cast<size_t>(chars); p = g_utf8_next_char(p))
        offsets.push_back(static_cast<size_t>(p - str.data()));
    offsets.push_back(str.size());
    for (size_t i = 0; i < static_cast<size_t>(chars);) {
        size_t j = i + 1;
        while (j < static_cast<size_t>(chars) && !attrs[j].is_line_break) ++j;
        if (offsets[j] - offsets[i] >= kUnbrokenBytes) {
            oneRun = i == 0 && j == static_cast<size_t>(chars);
            size_t from = offsets[i];
            if (from > 0) from += widerThan(s, text.substring(offsets[i], offsets[j]), width, false);
            for (size_t k = i + 1; k < j; ++k)
                if (offsets[k] > from && attrs[k].is_char_break) out.push_back(offsets[k]);
        }
        i = j;
    }
    return out;
}

// The text with a zero-width space (in the attributes of the character before it) at each offset.
AttributedString withZeroWidthSpaces(const AttributedString& text, const std::vector<size_t>& at) {
    AttributedString out;
    auto next = at.begin();
    for (const AttributedString::Run& r : text.runs()) {
        std::string part;
        part.reserve(r.length + 4 * static_cast<size_t>(at.end() - next));
        for (size_t b = r.start; b < r.start + r.length; ++b) {
            if (next != at.end() && *next == b) {
                if (b > r.start) {
                    part += kZeroWidthSpace;
                } else {
                    // At a run's start, the space takes the attributes of the run before.
                    out.append(kZeroWidthSpace, out.runs().empty() ? r.attributes : out.runs().back().attributes);
                }
                ++next;
            }
            part += text.string()[b];
        }
        out.append(part, r.attributes);
    }
    return out;
}

// Where the lines of a text holding long unbroken runs end, told from the text shaped once on
// one line: lines filled greedily from its characters' widths, broken at its own opportunities
// or at any of `opened`, whitespace hanging past the room. Only a guess (widths summed are not a
// line measured whole), and the marks that matter are those near where the lines end: each
// guessed end keeps the marks of `opened` within kMarksNearAnEnd characters of it. The engine
// weighs every break opportunity of a line against the room, so a handful a line cost it far
// less than one before every character.
constexpr size_t kMarksNearAnEnd = 2;

// A text shaped once on one line to tell where its lines end: each character's start (and the
// text's end), and the sum of the characters' widths before each (pango units).
struct Probe {
    LayoutPtr layout;
    std::vector<size_t> starts;
    std::vector<int64_t> before;
};
Probe probeWidths(TextSystem& s, const AttributedString& text) {
    Probe probe{makeLayout(s, text, UserInterfaceStyle::light), {}, {}};
    // Shaped to find the lines, not to lay them out: counted apart.
    const std::string& str = text.string();
    s.work.bytes -= str.size();
    s.work.breakProbeBytes += str.size();
    const auto chars = static_cast<size_t>(g_utf8_strlen(str.data(), static_cast<gssize>(str.size())));
    probe.starts.reserve(chars + 1);
    for (const char* p = str.data(); probe.starts.size() < chars; p = g_utf8_next_char(p))
        probe.starts.push_back(static_cast<size_t>(p - str.data()));
    probe.starts.push_back(str.size());
    std::vector<int64_t> widths(chars, 0);
    PangoLayoutIter* it = pango_layout_get_iter(probe.layout.get());
    do {
        PangoLayoutRun* run = pango_layout_iter_get_run_readonly(it);
        if (!run) continue;
        std::vector<int> w(static_cast<size_t>(run->item->num_chars));
        pango_glyph_item_get_logical_widths(run, str.data(), w.data());
        const auto first = static_cast<size_t>(
            std::lower_bound(probe.starts.begin(), probe.starts.end(), static_cast<size_t>(run->item->offset)) -
            probe.starts.begin());
        for (size_t k = 0; k < w.size() && first + k < chars; ++k) widths[first + k] = w[k];
    } while (pango_layout_iter_next_run(it));
    pango_layout_iter_free(it);
    probe.before.assign(chars + 1, 0);
    for (size_t i = 0; i < chars; ++i) probe.before[i + 1] = probe.before[i] + widths[i];
    return probe;
}

std::vector<size_t> marksNearLineEnds(TextSystem& s, const AttributedString& text, const std::vector<size_t>& opened,
                                      double width) {
    const Probe probe = probeWidths(s, text);
    const std::vector<size_t>& starts = probe.starts;
    const std::vector<int64_t>& before = probe.before;
    const size_t chars = starts.size() - 1;
    int count = 0;
    const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(probe.layout.get(), &count);
    if (static_cast<size_t>(count) < chars + 1) return opened;
    // Greedy lines over the characters, then the marks near each end.
    const auto room = static_cast<int64_t>(width * PANGO_SCALE);
    std::vector<size_t> near;
    size_t lineStart = 0, lastBreak = 0;
    auto nextOpened = opened.begin();
    for (size_t i = 0; i < chars; ++i) {
        while (nextOpened != opened.end() && *nextOpened < starts[i]) ++nextOpened;
        const bool canBreak = attrs[i].is_line_break || (nextOpened != opened.end() && *nextOpened == starts[i]);
        if (attrs[i].is_mandatory_break) lineStart = lastBreak = i;
        if (canBreak && i > lineStart) lastBreak = i;
        if (attrs[i].is_white || before[i + 1] - before[lineStart] <= room || i == lineStart) continue;
        lineStart = lastBreak > lineStart ? lastBreak : i;
        const auto j =
            static_cast<size_t>(std::lower_bound(opened.begin(), opened.end(), starts[lineStart]) - opened.begin());
        for (size_t k = j > kMarksNearAnEnd ? j - kMarksNearAnEnd : 0;
             k < std::min(opened.size(), j + kMarksNearAnEnd + 1); ++k)
            if (near.empty() || near.back() < opened[k]) near.push_back(opened[k]);
    }
    return near;
}

// Whether a line starts (at one of `starts`, rising) right after the last of a group of marks
// kept from `opened` with marks left out after it: there the engine may have broken early, for
// want of the opportunities left out.
bool breaksBeforeMissingMarks(const std::vector<size_t>& starts, const std::vector<size_t>& kept,
                              const std::vector<size_t>& opened) {
    for (size_t start : starts) {
        const auto k = std::lower_bound(kept.begin(), kept.end(), start);
        if (k == kept.end() || *k != start) continue;
        const auto o = std::lower_bound(opened.begin(), opened.end(), start);
        if (o + 1 != opened.end() && (k + 1 == kept.end() || *(k + 1) != *(o + 1))) return true;
    }
    return false;
}

struct LineRange {
    size_t start = 0, end = 0;
    // The earlier layout's line it repeats (moved by `shift` bytes), if any.
    const TextLine* earlier = nullptr;
    ptrdiff_t shift = 0;
};

// Breaks a text into lines as the options say, from a line start on: each paragraph on its own,
// a long one by pieces.
class LineBreaker {
public:
    LineBreaker(TextSystem& s, const AttributedString& text, const TextLayoutOptions& options)
        : s_(s), text_(text), options_(options), limited_(options.width > 0 && std::isfinite(options.width)) {}

    // Appends the lines from `from` (a line start) on, at most `limit` in all (0: no limit), and
    // stops before a line whose start `stop` accepts: the byte where it stopped, or npos at the end.
    template <typename Stop>
    size_t run(size_t from, size_t limit, std::vector<LineRange>& out, const Stop& stop) {
        const std::string& str = text_.string();
        size_t at = from;
        for (;;) {
            const size_t newline = str.find('\n', at);
            size_t end = newline == std::string::npos ? str.size() : newline;
            // A "\r\n" ends the paragraph as the newline alone does.
            if (newline != std::string::npos && end > at && str[end - 1] == '\r') --end;
            const size_t paragraph = at == 0 ? 0 : str.rfind('\n', at - 1) + 1;
            if (const size_t stopped = paragraphLines(paragraph, at, end, limit, out, stop);
                stopped != std::string::npos)
                return stopped;
            if (newline == std::string::npos) return std::string::npos;
            at = newline + 1;
        }
    }

private:
    // The lines of [from, end) of the paragraph starting at `paragraph`; as run().
    template <typename Stop>
    size_t paragraphLines(size_t paragraph, size_t from, size_t end, size_t limit, std::vector<LineRange>& out,
                          const Stop& stop) {
        auto add = [&](size_t start, size_t lineEnd) {
            if ((limit > 0 && out.size() >= limit) || stop(start)) return false;
            out.push_back({start, lineEnd});
            return true;
        };
        if (from == end) return add(from, from) ? std::string::npos : from;
        const std::string& str = text_.string();
        // A piece that starts inside a paragraph goes the paragraph's way.
        const PangoDirection direction =
            from == paragraph ? PANGO_DIRECTION_NEUTRAL : firstStrongDirection(str, paragraph, end);
        size_t piece = limited_ ? kPieceBytes : std::string::npos;
        for (size_t at = from;;) {
            const size_t pieceEnd = end - at <= piece ? end : characterStart(str, at + piece);
            std::vector<std::pair<size_t, size_t>> lines =
                wrap(at, pieceEnd, at == paragraph ? PANGO_DIRECTION_NEUTRAL : direction);
            if (pieceEnd == end) {
                for (const auto& [start, lineEnd] : lines)
                    if (!add(start, lineEnd)) return start;
                return std::string::npos;
            }
            // The lines whose follower starts clear of the cut.
            size_t taken = 0;
            while (taken + 1 < lines.size() && lines[taken + 1].first + kSeamBytes <= pieceEnd) ++taken;
            if (taken == 0) {
                // One line longer than the piece: a longer piece.
                piece *= 2;
                continue;
            }
            for (size_t i = 0; i < taken; ++i)
                if (!add(lines[i].first, lines[i].second)) return lines[i].first;
            at = lines[taken].first;
            piece = kPieceBytes;
        }
    }

    // The lines of text[from, to), wrapped in the width; `direction` (when not neutral) is the
    // paragraph's, given to a piece that would read the other way.
    std::vector<std::pair<size_t, size_t>> wrap(size_t from, size_t to, PangoDirection direction) {
        const std::string& str = text_.string();
        // The whole text (a paragraph on its own, as most are) goes as it is.
        const bool whole = from == 0 && to == str.size();
        const AttributedString piece = whole ? AttributedString() : text_.substring(from, to);
        const AttributedString& handed = whole ? text_ : piece;
        // Long unbroken runs get break opportunities for the engine only: first those near where
        // the lines are guessed to end, then (where a line may have ended early for want of one)
        // one before every character of them.
        if (limited_ && options_.lineBreakMode == LineBreakMode::wordWrap) {
            bool oneRun = false;
            const std::vector<size_t> opened = openUnbrokenRuns(s_, handed, options_.width, oneRun);
            if (oneRun) return breakRun(from, handed, opened);
            if (!opened.empty()) {
                const std::vector<size_t> near = marksNearLineEnds(s_, handed, opened, options_.width);
                if (near.size() < opened.size()) {
                    auto lines = wrapMarked(from, to, handed, near, direction);
                    std::vector<size_t> starts;
                    for (const auto& line : lines) starts.push_back(line.first - from);
                    if (!breaksBeforeMissingMarks(starts, near, opened)) return lines;
                }
                return wrapMarked(from, to, handed, opened, direction);
            }
        }
        return wrapMarked(from, to, handed, {}, direction);
    }

    // The lines of `handed` (text[from, from + its size)), one unbroken run, broken greedily at
    // `opened` (its break opportunities between characters): each line as many characters as fit
    // the room, measured as the line alone is shaped and drawn. The engine breaks such a run the
    // same way, weighing every opportunity of a line, at many times the cost. Each line's end is
    // guessed from the run's widths on one line and then measured, with the next opportunity
    // past it, and moved until it is the last that fits; the lines measured are kept shaped, so
    // measuring the laid-out lines finds them.
    std::vector<std::pair<size_t, size_t>> breakRun(size_t from, const AttributedString& handed,
                                                    const std::vector<size_t>& opened) {
        const Probe probe = probeWidths(s_, handed);
        std::vector<size_t> at;  // where a line may end: the opportunities and the end
        at.reserve(opened.size() + 2);
        at.push_back(0);
        at.insert(at.end(), opened.begin(), opened.end());
        at.push_back(handed.string().size());
        // The width on one line up to each of them.
        std::vector<int64_t> upTo(at.size());
        for (size_t k = 0; k < at.size(); ++k) {
            const auto c = std::lower_bound(probe.starts.begin(), probe.starts.end(), at[k]) - probe.starts.begin();
            upTo[k] = probe.before[static_cast<size_t>(c)];
        }
        const auto room = static_cast<int>(options_.width * PANGO_SCALE);
        auto fits = [&](size_t a, size_t b) {
            PangoLayout* line = shapedLine(s_, handed.substring(at[a], at[b]), UserInterfaceStyle::light);
            PangoRectangle logical;
            pango_layout_get_extents(line, nullptr, &logical);
            return logical.width <= room;
        };
        std::vector<std::pair<size_t, size_t>> out;
        const size_t last = at.size() - 1;
        for (size_t a = 0; a < last;) {
            const auto guess =
                std::upper_bound(upTo.begin() + static_cast<ptrdiff_t>(a) + 1, upTo.end(), upTo[a] + room);
            size_t b = std::clamp(static_cast<size_t>(guess - upTo.begin()) - 1, a + 1, last);
            if (fits(a, b)) {
                while (b < last && fits(a, b + 1)) ++b;
            } else {
                while (b > a + 1 && !fits(a, b - 1)) --b;
                if (b > a + 1) --b;
            }
            out.emplace_back(from + at[a], from + at[b]);
            a = b;
        }
        return out;
    }

    // The lines of `handed` (text[from, to)) wrapped with a zero-width space before each offset of
    // `opened`, as offsets in the text.
    std::vector<std::pair<size_t, size_t>> wrapMarked(size_t from, size_t to, const AttributedString& handed,
                                                      const std::vector<size_t>& opened, PangoDirection direction) {
        const std::string& str = text_.string();
        AttributedString piece = opened.empty() ? AttributedString() : withZeroWidthSpaces(handed, opened);
        bool asIs = opened.empty();
        // An offset in what the engine was handed, in the piece: less the spaces before it.
        auto inPiece = [&](size_t given) {
            size_t lo = 0, hi = opened.size();
            while (lo < hi) {
                const size_t mid = (lo + hi) / 2;
                if (opened[mid] + (mid + 1) * kZeroWidthSpaceBytes <= given)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            return given - lo * kZeroWidthSpaceBytes;
        };
        size_t mark = 0;
        if (direction != PANGO_DIRECTION_NEUTRAL && firstStrongDirection(str, from, to) != direction) {
            AttributedString marked(direction == PANGO_DIRECTION_RTL ? "\u200F" : "\u200E", text_.attributesAt(from));
            mark = marked.string().size();
            marked.append(asIs ? handed : piece);
            piece = std::move(marked);
            asIs = false;
        }
        LayoutPtr layout = makeLayout(s_, asIs ? handed : piece, UserInterfaceStyle::light);
        s_.work.bytes -= opened.size() * kZeroWidthSpaceBytes;
        s_.work.breakMarkBytes += opened.size() * kZeroWidthSpaceBytes;
        if (limited_) {
            pango_layout_set_width(layout.get(), static_cast<int>(options_.width * PANGO_SCALE));
            pango_layout_set_wrap(layout.get(), options_.lineBreakMode == LineBreakMode::charWrap
                                                    ? PANGO_WRAP_CHAR
                                                    : PANGO_WRAP_WORD_CHAR);
        }
        std::vector<std::pair<size_t, size_t>> out;
        const int count = pango_layout_get_line_count(layout.get());
        for (int i = 0; i < count; ++i) {
            PangoLayoutLine* line = pango_layout_get_line_readonly(layout.get(), i);
            const size_t start = inPiece(std::max(static_cast<size_t>(line->start_index), mark) - mark);
            const size_t end = inPiece(std::max(static_cast<size_t>(line->start_index + line->length), mark) - mark);
            out.emplace_back(from + start, from + end);
        }
        return out;
    }

    TextSystem& s_;
    const AttributedString& text_;
    const TextLayoutOptions& options_;
    bool limited_;
};

// How many bytes two texts share at their start (fromEnd: at their end), in characters with the
// same attributes.
size_t sharedBytes(const AttributedString& a, const AttributedString& b, bool fromEnd) {
    const std::string &x = a.string(), &y = b.string();
    const size_t most = std::min(x.size(), y.size());
    size_t n = 0;
    if (fromEnd) {
        while (n < most && x[x.size() - 1 - n] == y[y.size() - 1 - n]) ++n;
    } else {
        n = static_cast<size_t>(std::mismatch(x.begin(), x.begin() + static_cast<ptrdiff_t>(most), y.begin()).first -
                                x.begin());
    }
    // Walk the runs of both from that end while their attributes agree.
    auto runs = [&](const AttributedString& t) {
        std::vector<std::pair<size_t, const TextAttributes*>> out;  // the byte distance of each run's far edge
        for (const AttributedString::Run& r : t.runs())
            out.emplace_back(fromEnd ? t.string().size() - r.start : r.start + r.length, &r.attributes);
        if (fromEnd) std::reverse(out.begin(), out.end());
        return out;
    };
    const auto ra = runs(a), rb = runs(b);
    size_t agreed = 0;
    for (size_t i = 0, j = 0; i < ra.size() && j < rb.size() && agreed < n;) {
        if (!(*ra[i].second == *rb[j].second)) break;
        agreed = std::min(ra[i].first, rb[j].first);
        if (ra[i].first == agreed) ++i;
        if (rb[j].first == agreed) ++j;
    }
    return std::min(n, agreed);
}

}  // namespace

TextLayout::TextLayout(AttributedString text, TextLayoutOptions options) : text_(std::move(text)), options_(options) {
    layOut(nullptr, nullptr);
}

TextLayout::TextLayout(AttributedString text, TextLayoutOptions options, const AttributedString& earlierText,
                       const std::vector<TextLine>& earlierLines)
    : text_(std::move(text)), options_(options) {
    layOut(&earlierText, &earlierLines);
}

void TextLayout::layOut(const AttributedString* earlierText, const std::vector<TextLine>* earlierLines) {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    const LineBreakMode mode = options_.lineBreakMode;
    const bool truncating = mode == LineBreakMode::truncateHead || mode == LineBreakMode::truncateTail ||
                            mode == LineBreakMode::truncateMiddle;
    int maxLines = options_.maximumLines > 0 ? options_.maximumLines : 0;
    if (truncating && maxLines == 0) maxLines = 1;
    const bool limited = options_.width > 0 && std::isfinite(options_.width);
    const std::string& str = text_.string();

    // Where the lines start and end when wrapped (or broken only at newlines): with a limit of
    // lines, only as many as show and one more (to know there are more).
    std::vector<LineRange> ranges;
    LineBreaker breaker(s, text_, options_);
    const bool takesOver = earlierText && earlierLines && !earlierLines->empty() && maxLines == 0 &&
                           options_.maximumHeight <= 0 && !truncating;
    if (!takesOver) {
        breaker.run(0, maxLines > 0 ? static_cast<size_t>(maxLines) + 1 : 0, ranges, [](size_t) { return false; });
    } else {
        const std::vector<TextLine>& earlier = *earlierLines;
        const size_t before = earlierText->string().size();
        const size_t head = sharedBytes(*earlierText, text_, false);
        const size_t tail = std::min(sharedBytes(*earlierText, text_, true), std::min(before, str.size()) - head);
        // A line stays while what decides where it ends (its text, the next line's, a seam's
        // worth past them) is before the change.
        size_t kept = 0;
        while (kept + 2 < earlier.size() && earlier[kept + 2].start + kSeamBytes <= head) ++kept;
        for (size_t i = 0; i < kept; ++i) ranges.push_back({earlier[i].start, earlier[i].end, &earlier[i], 0});
        // Past the change, a line that starts where an earlier one did (the change's length
        // apart), clear of the seam, starts the same lines as then.
        const ptrdiff_t shift = static_cast<ptrdiff_t>(str.size()) - static_cast<ptrdiff_t>(before);
        const size_t changeEnd = str.size() - tail;
        size_t resumed = earlier.size();
        auto earlierStartingAt = [&](size_t start) {
            const size_t then = static_cast<size_t>(static_cast<ptrdiff_t>(start) - shift);
            const auto it = std::lower_bound(earlier.begin(), earlier.end(), then,
                                             [](const TextLine& line, size_t at) { return line.start < at; });
            return it != earlier.end() && it->start == then ? static_cast<size_t>(it - earlier.begin())
                                                            : earlier.size();
        };
        const size_t from = kept < earlier.size() ? earlier[kept].start : 0;
        const size_t stopped = breaker.run(from, 0, ranges, [&](size_t start) {
            if (start < changeEnd + kSeamBytes) return false;
            resumed = earlierStartingAt(start);
            return resumed < earlier.size();
        });
        if (stopped != std::string::npos) {
            for (size_t i = resumed; i < earlier.size(); ++i) {
                const TextLine& line = earlier[i];
                ranges.push_back({static_cast<size_t>(static_cast<ptrdiff_t>(line.start) + shift),
                                  static_cast<size_t>(static_cast<ptrdiff_t>(line.end) + shift), &line, shift});
            }
        }
    }
    if (ranges.empty()) ranges.push_back({0, 0});

    size_t shown = ranges.size();
    if (maxLines > 0) shown = std::min(shown, static_cast<size_t>(maxLines));
    struct Pending {
        AttributedString content;
        size_t start, end;
        bool cut;
        const TextLine* earlier;
    };
    std::vector<Pending> contents;
    contents.reserve(shown);
    for (size_t i = 0; i < shown; ++i) {
        const LineRange& r = ranges[i];
        contents.push_back({r.earlier ? r.earlier->content : withoutTrailingSpaces(text_.substring(r.start, r.end)),
                            r.start, r.end, false, r.earlier});
    }
    const bool cut = shown < ranges.size();
    if (truncating && limited) {
        // The last line shown takes the rest of its paragraph and is cut to fit. Where the next
        // line goes on in the same paragraph, the two together are wider than the room and the
        // cut keeps less than them, so a tail cut needs no more of the paragraph.
        const size_t last = shown - 1;
        size_t end = str.find('\n', ranges[last].start);
        if (end == std::string::npos) end = str.size();
        size_t restEnd = end;
        if (mode == LineBreakMode::truncateTail && cut && ranges[shown].start < end) restEnd = ranges[shown].end;
        AttributedString rest = withoutTrailingSpaces(text_.substring(ranges[last].start, restEnd));
        AttributedString fitted = truncate(s, rest, options_.width, mode);
        truncated_ = fitted.string() != rest.string() || restEnd < end || (cut && end < str.size());
        contents[last].cut = fitted.string() != contents[last].content.string();
        contents[last].content = fitted;
        contents[last].end = std::max(contents[last].end, end);
    } else {
        truncated_ = cut;
    }

    double y = 0, widest = 0;
    lines_.reserve(contents.size());
    for (Pending& pending : contents) {
        Measure m;
        if (pending.earlier) {
            m = {pending.earlier->frame.width(), pending.earlier->frame.height(),
                 pending.earlier->baseline - pending.earlier->frame.minY()};
        } else if (pending.content.string().empty()) {
            // An empty line is as high as a line of the font at its place.
            m = measureLine(s, AttributedString(" ", text_.attributesAt(pending.start)));
            m.width = 0;
        } else {
            m = measureLine(s, pending.content);
        }
        if (options_.maximumHeight > 0 && !lines_.empty() && y + m.height > options_.maximumHeight + 1e-9) {
            truncated_ = true;
            break;
        }
        lines_.push_back({std::move(pending.content), Rect{0, y, m.width, m.height}, y + m.baseline, pending.start,
                          pending.end, pending.cut});
        widest = std::max(widest, m.width);
        y += m.height;
    }
    size_ = {widest, y};
    const double box = limited ? options_.width : widest;
    for (TextLine& line : lines_) {
        const double free = box - line.frame.width();
        switch (options_.alignment) {
            case TextAlignment::center:
                line.frame.origin.x = free / 2;
                break;
            case TextAlignment::right:
                line.frame.origin.x = free;
                break;
            default:
                break;
        }
    }
}

std::vector<std::string> TextLayout::lineTexts() const {
    std::vector<std::string> out;
    for (const TextLine& line : lines_) out.push_back(line.content.string());
    return out;
}

void TextLayout::draw(GraphicsContext& context, Point origin) const { drawTextLines(context, lines_, origin); }

std::optional<TextShadow> effectiveShadow(const TextAttributes& attributes) {
    if (attributes.shadow) return attributes.shadow;
    if (!attributes.letterpress) return std::nullopt;
    // A light edge a point below the glyphs on light backgrounds, a dark one on dark backgrounds.
    return TextShadow{{0, 1}, 0, Color::dynamic(Color::white(1, 0.8), Color::white(0, 0.8))};
}

namespace {

// The line with only the runs whose shadow is `shadow` showing (the others are kept for their
// metrics but take no ink), so every run is painted exactly once.
AttributedString onlyRunsWithShadow(const AttributedString& line, const std::optional<TextShadow>& shadow) {
    AttributedString out;
    for (const AttributedString::Run& run : line.runs()) {
        TextAttributes a = run.attributes;
        if (effectiveShadow(a) != shadow) a.color = Color::clear(), a.underline = false;
        out.append(line.string().substr(run.start, run.length), a);
    }
    return out;
}

void showLine(TextSystem& s, GraphicsContext& context, const AttributedString& content, Point at) {
    cairo_t* cr = context.cairo();
    PangoLayout* layout = shapedLine(s, content, context.userInterfaceStyle());
    cairo_save(cr);
    cairo_move_to(cr, at.x, at.y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
}

TextRunWatcher& textRunWatcher() {
    static TextRunWatcher watcher;
    return watcher;
}

void tellWatcher(GraphicsContext& context, const TextLine& line, Point at) {
    const TextRunWatcher& watcher = textRunWatcher();
    if (!watcher) return;
    const Rect frame{at, line.frame.size};
    const std::string& text = line.content.string();
    for (const AttributedString::Run& run : line.content.runs()) {
        if (run.start >= text.size()) continue;
        watcher(context, text.substr(run.start, run.length),
                run.attributes.color.resolved(context.userInterfaceStyle()), frame);
    }
}

}  // namespace

void setTextRunWatcher(TextRunWatcher watcher) { textRunWatcher() = std::move(watcher); }

void drawTextLines(GraphicsContext& context, const std::vector<TextLine>& lines, Point origin) {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const TextLine& line : lines) {
        if (line.content.string().empty()) continue;
        const Point at{origin.x + line.frame.minX(), origin.y + line.frame.minY()};
        tellWatcher(context, line, at);
        std::vector<TextShadow> shadows;
        for (const AttributedString::Run& run : line.content.runs()) {
            const auto shadow = effectiveShadow(run.attributes);
            if (shadow && std::find(shadows.begin(), shadows.end(), *shadow) == shadows.end()) {
                shadows.push_back(*shadow);
            }
        }
        if (shadows.empty()) {
            showLine(s, context, line.content, at);
            continue;
        }
        // Runs without a shadow first, then each shadow's runs in a layer that casts it. The layer
        // and its shadow are only as big as the line's ink and where its shadow falls (pictures
        // of the whole clip, a screen's worth, for a line of text otherwise).
        showLine(s, context, onlyRunsWithShadow(line.content, std::nullopt), at);
        for (const TextShadow& shadow : shadows) {
            const AttributedString shadowed = onlyRunsWithShadow(line.content, shadow);
            PangoRectangle ink, logical;
            pango_layout_get_extents(shapedLine(s, shadowed, context.userInterfaceStyle()), &ink, &logical);
            pango_extents_to_pixels(&ink, nullptr);
            pango_extents_to_pixels(&logical, nullptr);
            const Rect glyphs =
                Rect{at.x + ink.x, at.y + ink.y, static_cast<double>(ink.width), static_cast<double>(ink.height)}
                    .unionWith(Rect{at.x + logical.x, at.y + logical.y, static_cast<double>(logical.width),
                                    static_cast<double>(logical.height)});
            const double reach = 4 * shadow.blur + 2;
            const Rect extent =
                glyphs.unionWith(glyphs.offsetBy(shadow.offset.width, shadow.offset.height)).insetBy(-reach, -reach);
            context.save();
            clipToPixelsOf(context.cairo(), extent);
            context.setShadow(shadow.offset, shadow.blur, shadow.color);
            context.drawInLayer([&] { showLine(s, context, shadowed, at); });
            context.restore();
        }
    }
}

double caretOffsetInLine(const AttributedString& line, size_t offset) {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    LayoutPtr layout = makeLayout(s, line, UserInterfaceStyle::light);
    PangoRectangle strong;
    const auto index = static_cast<int>(std::min(offset, line.string().size()));
    pango_layout_get_cursor_pos(layout.get(), index, &strong, nullptr);
    return static_cast<double>(strong.x) / PANGO_SCALE;
}

TextWork textWork() {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    TextWork work = s.work;
    work.shapedLinesKept = s.shaped.size() + s.olderShaped.size();
    for (const auto* generation : {&s.shaped, &s.olderShaped})
        for (const auto& [key, layout] : *generation) work.shapedBytesKept += key.text.string().size();
    return work;
}

void resetTextWork() {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.work = {};
}

size_t offsetInLineAt(const AttributedString& line, double x) {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    LayoutPtr layout = makeLayout(s, line, UserInterfaceStyle::light);
    int index = 0, trailing = 0;
    pango_layout_line_x_to_index(pango_layout_get_line_readonly(layout.get(), 0), static_cast<int>(x * PANGO_SCALE),
                                 &index, &trailing);
    // Past the middle of a character the caret goes after it (after the whole cluster).
    size_t offset = static_cast<size_t>(std::max(0, index));
    const std::string& str = line.string();
    for (int k = 0; k < trailing && offset < str.size(); ++k) {
        ++offset;
        while (offset < str.size() && (static_cast<unsigned char>(str[offset]) & 0xC0) == 0x80) ++offset;
    }
    return std::min(offset, str.size());
}

int missingGlyphCount(const AttributedString& text) {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    LayoutPtr layout = makeLayout(s, text, UserInterfaceStyle::light);
    return pango_layout_get_unknown_glyphs_count(layout.get());
}

std::vector<std::string> facesUsed(const AttributedString& text) {
    TextSystem& s = textSystem();
    std::lock_guard<std::mutex> lock(s.mutex);
    LayoutPtr layout = makeLayout(s, text, UserInterfaceStyle::light);
    std::vector<std::string> out;
    for (GSList* l = pango_layout_get_line_readonly(layout.get(), 0)->runs; l; l = l->next) {
        auto* run = static_cast<PangoGlyphItem*>(l->data);
        PangoFontDescription* d = pango_font_describe(run->item->analysis.font);
        out.emplace_back(pango_font_description_get_family(d));
        pango_font_description_free(d);
    }
    return out;
}

Size sizeOfText(const std::string& text, const Font& font) {
    TextAttributes attributes;
    attributes.font = font;
    return TextLayout(AttributedString(text, attributes), {}).size();
}

void drawText(GraphicsContext& context, const std::string& text, Point at, const TextAttributes& attributes) {
    TextLayout(AttributedString(text, attributes), {}).draw(context, at);
}

}  // namespace graphics
