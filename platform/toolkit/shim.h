// Colour, image and font values the toolkit's views hold. They stand for the drawing layer's own
// types, which the views only store and hand to the renderer; the views never look inside an
// image or a font beyond its size and identity.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/toolkit/geometry.h"

namespace toolkit {

struct Color {
    double red = 0, green = 0, blue = 0, alpha = 1;
    static Color rgb(double r, double g, double b, double a = 1) { return {r, g, b, a}; }
    static Color white(double w = 1, double a = 1) { return {w, w, w, a}; }
    static Color black(double a = 1) { return {0, 0, 0, a}; }
    static Color clear() { return {0, 0, 0, 0}; }
    Color withAlpha(double a) const { return {red, green, blue, a}; }
    friend bool operator==(const Color&, const Color&) = default;
};

std::string describe(const Color& c);

// An image's identity (bundle name or symbol) and size; the pixels belong to the drawing layer.
struct Image {
    std::string name;
    Size size;
    double scale = 1;
    bool isTemplate = false;
};
using ImagePtr = std::shared_ptr<const Image>;

inline ImagePtr makeImage(std::string name, Size size, bool isTemplate = false) {
    return std::make_shared<Image>(Image{std::move(name), size, 1, isTemplate});
}

enum class FontWeight { UltraLight, Thin, Light, Regular, Medium, Semibold, Bold };

struct Font {
    std::string family = "system";
    double pointSize = 17;
    FontWeight weight = FontWeight::Regular;
    static Font system(double size, FontWeight w = FontWeight::Regular) { return {"system", size, w}; }
    static Font boldSystem(double size) { return {"system", size, FontWeight::Bold}; }
    friend bool operator==(const Font&, const Font&) = default;
};

}  // namespace toolkit
