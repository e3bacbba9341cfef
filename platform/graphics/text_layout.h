// Attributed text: runs of text with a font, colour, letter spacing, underline, baseline offset,
// shadow and letterpress, laid out in lines (wrapped by word or by character, clipped or truncated
// at the head, middle or tail within a width and a number of lines), measured and drawn. Shaping
// and measuring use pango over a private font configuration that sees only the bundled faces
// (DejaVu, with WenQuanYi Micro Hei for Chinese, Japanese and Korean and Noto Color Emoji for
// emoji as fallbacks), unhinted and with unrounded positions, so metrics and pixels are the same
// on every machine. Line breaking happens once, here: a layout's lines are both what is measured
// and what is drawn. Safe from any thread (text work is serialised inside).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/color.h"
#include "platform/graphics/font.h"
#include "platform/graphics/geometry.h"

namespace graphics {

class GraphicsContext;

// Where the bundled fonts are: the main bundle's "fonts" resource folder unless set (before the
// first text call; later calls are ignored).
void setFontsDirectory(const std::filesystem::path& directory);
std::filesystem::path fontsDirectory();
// The files of the faces text is drawn with, as loaded (for checks that nothing else is used).
std::vector<std::string> loadedFontFiles();

struct FontMetrics {
    double ascender = 0;   // above the baseline, positive
    double descender = 0;  // below the baseline, negative
    double lineHeight = 0;
    double leading = 0;
    double capHeight = 0;
    double xHeight = 0;
};
FontMetrics fontMetrics(const Font& font);

struct TextShadow {
    Size offset{0, -1};  // down is positive
    double blur = 0;     // in points
    Color color = Color::white(0, 1.0 / 3.0);
    friend bool operator==(const TextShadow&, const TextShadow&) = default;
};

struct TextAttributes {
    Font font = Font::system(17);
    Color color = Color::label();
    double kern = 0;  // extra space after each character, in points
    bool underline = false;
    double baselineOffset = 0;  // up is positive
    std::optional<TextShadow> shadow;
    // The pressed-into-the-page look: a light edge under the glyphs (a dark one in dark mode).
    bool letterpress = false;
    friend bool operator==(const TextAttributes&, const TextAttributes&) = default;
};

// The shadow a run is drawn with: its own, else the letterpress edge, else none.
std::optional<TextShadow> effectiveShadow(const TextAttributes& attributes);

class AttributedString {
public:
    struct Run {
        size_t start = 0;  // bytes of the UTF-8 text
        size_t length = 0;
        TextAttributes attributes;
    };

    AttributedString() = default;
    AttributedString(std::string text, TextAttributes attributes);
    void append(const std::string& text, const TextAttributes& attributes);
    void append(const AttributedString& other);
    // The part between two byte offsets (on character boundaries), attributes kept.
    AttributedString substring(size_t start, size_t end) const;
    const std::string& string() const { return text_; }
    const std::vector<Run>& runs() const { return runs_; }
    // The attributes at a byte offset (the last run's past the end; defaults when empty).
    TextAttributes attributesAt(size_t offset) const;

private:
    std::string text_;
    std::vector<Run> runs_;
};

enum class LineBreakMode { wordWrap, charWrap, clip, truncateHead, truncateTail, truncateMiddle };
enum class TextAlignment { left, center, right, justified, natural };

struct TextLayoutOptions {
    double width = 0;          // <= 0: unlimited
    int maximumLines = 0;      // 0: all (a truncating mode with 0 means one line)
    double maximumHeight = 0;  // <= 0: unlimited; lines that would pass it are not shown
    LineBreakMode lineBreakMode = LineBreakMode::wordWrap;
    TextAlignment alignment = TextAlignment::natural;
};

struct TextLine {
    AttributedString content;  // the visible text of the line, with "…" where it was cut
    Rect frame;                // in the layout: x by alignment, y from the top
    double baseline = 0;       // from the top of the layout
    // The bytes of the laid-out text the line holds (its trailing white space included, its line
    // break not); content is text[start, start + content.size()) unless the line was cut.
    size_t start = 0;
    size_t end = 0;
    bool cut = false;
};

class TextLayout {
public:
    TextLayout(AttributedString text, TextLayoutOptions options);
    // The same, taking over the lines of an earlier layout (laid out with the same options) where
    // the text is the same before and after what changed: only the lines around the change are
    // laid out anew. Options with a limit of lines or height, or a truncating mode, take nothing.
    TextLayout(AttributedString text, TextLayoutOptions options, const AttributedString& earlierText,
               const std::vector<TextLine>& earlierLines);
    const std::vector<TextLine>& lines() const { return lines_; }
    std::vector<std::string> lineTexts() const;
    // Width of the widest line, height of the lines shown.
    Size size() const { return size_; }
    bool isTruncated() const { return truncated_; }
    // Draws the lines with their top left at origin (alignment within the layout's width).
    void draw(GraphicsContext& context, Point origin) const;

private:
    void layOut(const AttributedString* earlierText, const std::vector<TextLine>* earlierLines);
    AttributedString text_;
    TextLayoutOptions options_;
    std::vector<TextLine> lines_;
    Size size_;
    bool truncated_ = false;
};

// Draws laid-out lines with the layout's top left at origin: colours, underlines, baseline
// offsets, shadows and letterpress per run.
void drawTextLines(GraphicsContext& context, const std::vector<TextLine>& lines, Point origin);
// Watches each run of text as it is about to be drawn (an audit of what the screens show, such as
// the tests' contrast report): the context, the run's text, its colour as the context's appearance
// resolves it, and its line's rectangle in the context's user space. None by default; main thread.
using TextRunWatcher = std::function<void(GraphicsContext&, const std::string&, const Color&, const Rect&)>;
void setTextRunWatcher(TextRunWatcher watcher);
// Where the caret before the byte offset of a line's text sits, from the line's left edge.
double caretOffsetInLine(const AttributedString& line, size_t offset);
// The byte offset of a line's text nearest to x (from the line's left edge), on a character
// boundary.
size_t offsetInLineAt(const AttributedString& line, double x);

// What the shaping engine was handed since the process started: bytes of text in all, and the
// most in one piece. Long paragraphs are wrapped a piece at a time and a limit of lines is laid
// out from a prefix that holds them, so the work of a text grows with what shows of it.
struct TextWork {
    uint64_t bytes = 0;  // of the texts themselves
    uint64_t largestPiece = 0;
    // Of the break opportunities put into long unbroken runs for the engine (not in `bytes`).
    uint64_t breakMarkBytes = 0;
    // Of long unbroken runs shaped on one line to find where their lines end (not in `bytes`).
    uint64_t breakProbeBytes = 0;
    // Lines kept shaped now (both generations), and the bytes of their texts.
    uint64_t shapedLinesKept = 0;
    uint64_t shapedBytesKept = 0;
};
TextWork textWork();
// Starts the count again (tests and benchmarks).
void resetTextWork();

// How many characters of the text no bundled face has a glyph for (drawn as boxes).
int missingGlyphCount(const AttributedString& text);
// The family of the face each character of the text is drawn with, in order, one per shaped run.
std::vector<std::string> facesUsed(const AttributedString& text);

// The size of text on one line, unwrapped.
Size sizeOfText(const std::string& text, const Font& font);
// Draws text on one line with its top left at the point.
void drawText(GraphicsContext& context, const std::string& text, Point at, const TextAttributes& attributes);

}  // namespace graphics
