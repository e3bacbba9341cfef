#include "platform/graphics/font.h"

#include <cstdio>
#include <map>

namespace graphics {
namespace {

// Point sizes by text style (rows) and content-size category (columns: extra small to extra extra
// extra large, then the five accessibility sizes).
constexpr double kSizes[11][12] = {
    /* largeTitle  */ {31, 32, 33, 34, 36, 38, 40, 44, 48, 52, 56, 60},
    /* title1      */ {25, 26, 27, 28, 30, 32, 34, 38, 43, 48, 53, 58},
    /* title2      */ {19, 20, 21, 22, 24, 26, 28, 34, 39, 44, 50, 56},
    /* title3      */ {17, 18, 19, 20, 22, 24, 26, 31, 37, 43, 49, 55},
    /* headline    */ {14, 15, 16, 17, 19, 21, 23, 28, 33, 40, 47, 53},
    /* subheadline */ {12, 13, 14, 15, 17, 19, 21, 25, 30, 36, 42, 49},
    /* body        */ {14, 15, 16, 17, 19, 21, 23, 28, 33, 40, 47, 53},
    /* callout     */ {13, 14, 15, 16, 18, 20, 22, 26, 32, 38, 44, 51},
    /* footnote    */ {12, 12, 12, 13, 15, 17, 19, 23, 27, 33, 38, 44},
    /* caption1    */ {11, 11, 11, 12, 14, 16, 18, 22, 26, 32, 37, 43},
    /* caption2    */ {11, 11, 11, 11, 13, 15, 17, 20, 24, 29, 34, 40},
};

struct Face {
    FontWeight weight;
    bool italic;
};

// The named faces callers ask for, by the weight they are drawn in.
const std::map<std::string, Face>& faceTable() {
    static const std::map<std::string, Face> table = {
        {"system", {FontWeight::regular, false}},
        {"HelveticaNeue", {FontWeight::regular, false}},
        {"HelveticaNeue-Thin", {FontWeight::thin, false}},
        {"HelveticaNeue-UltraLight", {FontWeight::ultraLight, false}},
        {"HelveticaNeue-Light", {FontWeight::light, false}},
        {"HelveticaNeue-Medium", {FontWeight::medium, false}},
        {"HelveticaNeue-Bold", {FontWeight::bold, false}},
        {"HelveticaNeue-Italic", {FontWeight::regular, true}},
        {"HelveticaNeue-BoldItalic", {FontWeight::bold, true}},
        {"Helvetica", {FontWeight::regular, false}},
        {"Helvetica-Bold", {FontWeight::bold, false}},
    };
    return table;
}

}  // namespace

double preferredPointSize(TextStyle style, ContentSizeCategory category) {
    return kSizes[static_cast<int>(style)][static_cast<int>(category)];
}

FontWeight preferredWeight(TextStyle style) {
    return style == TextStyle::headline ? FontWeight::semibold : FontWeight::regular;
}

Font Font::system(double pointSize, FontWeight weight) {
    Font f;
    f.pointSize_ = pointSize;
    f.weight_ = weight;
    return f;
}

Font Font::boldSystem(double pointSize) { return system(pointSize, FontWeight::bold); }

Font Font::italicSystem(double pointSize) {
    Font f = system(pointSize);
    f.italic_ = true;
    return f;
}

Font Font::monospacedDigitSystem(double pointSize, FontWeight weight) {
    Font f = system(pointSize, weight);
    f.monospacedDigits_ = true;
    return f;
}

std::optional<Font> Font::named(const std::string& name, double pointSize) {
    auto it = faceTable().find(name);
    if (it == faceTable().end()) return std::nullopt;
    Font f;
    f.name_ = name;
    f.pointSize_ = pointSize;
    f.weight_ = it->second.weight;
    f.italic_ = it->second.italic;
    return f;
}

Font Font::preferred(TextStyle style, ContentSizeCategory category) {
    Font f = system(preferredPointSize(style, category), preferredWeight(style));
    f.style_ = style;
    return f;
}

Font Font::withSize(double pointSize) const {
    Font f = *this;
    f.pointSize_ = pointSize;
    return f;
}

Font Font::withTraits(SymbolicTraits traits) const {
    Font f = *this;
    if (traits.bold && f.weight_ < FontWeight::bold) f.weight_ = FontWeight::bold;
    if (!traits.bold && f.weight_ >= FontWeight::semibold) f.weight_ = FontWeight::regular;
    f.italic_ = traits.italic;
    return f;
}

const char* Font::family() const { return "DejaVu Sans"; }

const char* Font::face() const {
    // DejaVu Sans has three weights worth drawing with: ExtraLight, Book and Bold.
    if (weight_ <= FontWeight::thin) return "ExtraLight";
    if (weight_ >= FontWeight::semibold) return italic_ ? "Bold Oblique" : "Bold";
    return italic_ ? "Oblique" : "Book";
}

std::string Font::description() const {
    char buf[160];
    static const char* weights[] = {"ultraLight", "thin", "light", "regular", "medium",
                                    "semibold",   "bold", "heavy", "black"};
    std::snprintf(buf, sizeof buf, "font %s %g pt %s%s%s", name_.c_str(), pointSize_,
                  weights[static_cast<int>(weight_)], italic_ ? " italic" : "",
                  monospacedDigits_ ? " monospaced digits" : "");
    return buf;
}

}  // namespace graphics
