// Colours: grey or RGB with alpha, pattern colours that tile an image, and dynamic colours that
// differ between the light and the dark appearance. The system colours come from one table.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace graphics {

class Image;

enum class UserInterfaceStyle { unspecified, light, dark };

// The colour space model a colour's components are in.
enum class ColorSpaceModel { monochrome, rgb, pattern, unknown };

struct RGBA {
    double red = 0, green = 0, blue = 0, alpha = 0;
    friend bool operator==(const RGBA&, const RGBA&) = default;
};

class Color {
public:
    // Transparent black (white 0, alpha 0), as a colour made without components is.
    Color() = default;

    static Color rgb(double red, double green, double blue, double alpha = 1);
    static Color white(double white, double alpha = 1);
    // A colour that resolves to `light` or `dark` by the appearance (unspecified is light).
    static Color dynamic(const Color& light, const Color& dark);
    // Tiles the image (from the top left of the area it fills); null gives clear.
    static Color pattern(std::shared_ptr<const Image> image);

    static Color black() { return white(0); }
    static Color whiteColor() { return white(1); }
    static Color clear() { return white(0, 0); }
    static Color gray() { return white(0.5); }
    static Color lightGray() { return white(2.0 / 3.0); }
    static Color darkGray() { return white(1.0 / 3.0); }
    static Color red() { return rgb(1, 0, 0); }
    static Color green() { return rgb(0, 1, 0); }
    static Color blue() { return rgb(0, 0, 1); }

    // System colours; the labels and backgrounds are dynamic.
    static Color systemBlue();
    static Color systemRed();
    static Color systemOrange();
    static Color systemGreen();
    static Color systemGray();
    static Color systemGray2();
    static Color systemGray3();
    static Color systemGray4();
    static Color systemGray5();
    static Color systemGray6();
    static Color label();
    static Color secondaryLabel();
    static Color tertiaryLabel();
    static Color placeholderText();
    static Color separator();
    static Color systemBackground();
    static Color secondarySystemBackground();
    static Color tertiarySystemBackground();
    static Color systemGroupedBackground();
    static Color secondarySystemGroupedBackground();
    static Color tertiarySystemGroupedBackground();
    static Color groupTableViewBackground();
    // A system colour by its name without the "Color" suffix ("systemBlue", "label", "lightGray").
    static std::optional<Color> named(const std::string& name);

    bool isDynamic() const { return kind_ == Kind::dynamic; }
    bool isPattern() const { return kind_ == Kind::pattern; }
    // The colour for an appearance; a colour that is not dynamic resolves to itself.
    Color resolved(UserInterfaceStyle style) const;
    // The model of the colour's space; a dynamic colour answers for its light variant.
    ColorSpaceModel model() const;
    // The grey and alpha of a monochrome colour.
    std::optional<std::pair<double, double>> whiteComponents() const;
    // RGB and alpha for monochrome and RGB colours (a grey spreads to all three); nothing for
    // patterns. A dynamic colour answers for its light variant.
    std::optional<RGBA> rgbaComponents() const;
    // Components resolved for an appearance, patterns counting as opaque white (the look of a
    // pattern is its image, which callers draw themselves).
    RGBA rgbaFor(UserInterfaceStyle style) const;
    double alpha() const;
    Color withAlphaComponent(double alpha) const;
    const std::shared_ptr<const Image>& patternImage() const { return image_; }

    std::string description() const;
    friend bool operator==(const Color& a, const Color& b);

private:
    enum class Kind { monochrome, rgb, pattern, dynamic };
    Kind kind_ = Kind::monochrome;
    RGBA c_;
    std::shared_ptr<const Image> image_;
    std::shared_ptr<const std::pair<Color, Color>> variants_;
};

}  // namespace graphics
