// Fonts as values: a face (by the name callers use), a point size, a weight and traits. The
// faces map to the bundled fonts through one table (see text.h); the preferred fonts follow a
// text style and the content-size category (the user's text size) through one size table.
#pragma once

#include <optional>
#include <string>

namespace graphics {

enum class TextStyle {
    largeTitle,
    title1,
    title2,
    title3,
    headline,
    subheadline,
    body,
    callout,
    footnote,
    caption1,
    caption2
};

// The user's text size, smallest to largest; `large` is the default.
enum class ContentSizeCategory {
    extraSmall,
    small,
    medium,
    large,
    extraLarge,
    extraExtraLarge,
    extraExtraExtraLarge,
    accessibilityMedium,
    accessibilityLarge,
    accessibilityExtraLarge,
    accessibilityExtraExtraLarge,
    accessibilityExtraExtraExtraLarge
};

// The weights a font can ask for, thinnest to heaviest (values as the platform's weight scale).
enum class FontWeight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };

struct SymbolicTraits {
    bool bold = false;
    bool italic = false;
    friend bool operator==(const SymbolicTraits&, const SymbolicTraits&) = default;
};

class Font {
public:
    Font() = default;
    // The system font ("system") at a size (and weight).
    static Font system(double pointSize, FontWeight weight = FontWeight::regular);
    static Font boldSystem(double pointSize);
    static Font italicSystem(double pointSize);
    // The system font whose digits all have one width.
    static Font monospacedDigitSystem(double pointSize, FontWeight weight = FontWeight::regular);
    // A named face ("HelveticaNeue-Bold", ...); nothing for a name the face table does not know.
    static std::optional<Font> named(const std::string& name, double pointSize);
    // The preferred font of a text style at a text size (its traits and size from the table).
    static Font preferred(TextStyle style, ContentSizeCategory category);

    const std::string& name() const { return name_; }
    double pointSize() const { return pointSize_; }
    FontWeight weight() const { return weight_; }
    bool italic() const { return italic_; }
    bool monospacedDigits() const { return monospacedDigits_; }
    std::optional<TextStyle> textStyle() const { return style_; }

    Font withSize(double pointSize) const;
    Font withTraits(SymbolicTraits traits) const;
    SymbolicTraits traits() const { return {weight_ >= FontWeight::semibold, italic_}; }

    // The bundled family and face this font is drawn with ("DejaVu Sans", "Bold", ...).
    const char* family() const;
    const char* face() const;
    std::string description() const;

    friend bool operator==(const Font&, const Font&) = default;

private:
    std::string name_ = "system";
    double pointSize_ = 17;
    FontWeight weight_ = FontWeight::regular;
    bool italic_ = false;
    bool monospacedDigits_ = false;
    std::optional<TextStyle> style_;
};

// The point size of a text style at a text size, from the one size table.
double preferredPointSize(TextStyle style, ContentSizeCategory category);
// The weight a text style is drawn in (headline is semibold, the rest regular).
FontWeight preferredWeight(TextStyle style);

}  // namespace graphics
