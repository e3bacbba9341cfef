#include "platform/graphics/color.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace graphics {
namespace {

double unit(double v) { return v != v ? 0 : std::clamp(v, 0.0, 1.0); }

Color rgb255(int r, int g, int b) { return Color::rgb(r / 255.0, g / 255.0, b / 255.0); }

}  // namespace

Color Color::rgb(double r, double g, double b, double a) {
    Color c;
    c.kind_ = Kind::rgb;
    c.c_ = {unit(r), unit(g), unit(b), unit(a)};
    return c;
}

Color Color::white(double w, double a) {
    Color c;
    c.kind_ = Kind::monochrome;
    c.c_ = {unit(w), unit(w), unit(w), unit(a)};
    return c;
}

Color Color::dynamic(const Color& light, const Color& dark) {
    Color c;
    c.kind_ = Kind::dynamic;
    // Variants are stored resolved, so nesting never recurses at use.
    c.variants_ = std::make_shared<const std::pair<Color, Color>>(light.resolved(UserInterfaceStyle::light),
                                                                  dark.resolved(UserInterfaceStyle::dark));
    return c;
}

Color Color::pattern(std::shared_ptr<const Image> image) {
    if (!image) return clear();
    Color c;
    c.kind_ = Kind::pattern;
    c.c_ = {1, 1, 1, 1};
    c.image_ = std::move(image);
    return c;
}

// The accent colours have a brighter variant in the dark appearance; the greys and backgrounds
// invert their lightness so that contrast is kept.
Color Color::systemBlue() { return dynamic(rgb255(0, 122, 255), rgb255(10, 132, 255)); }
Color Color::systemRed() { return dynamic(rgb255(255, 59, 48), rgb255(255, 69, 58)); }
Color Color::systemOrange() { return dynamic(rgb255(255, 149, 0), rgb255(255, 159, 10)); }
Color Color::systemGreen() { return dynamic(rgb255(52, 199, 89), rgb255(48, 209, 88)); }
Color Color::systemGray() { return dynamic(rgb255(142, 142, 147), rgb255(142, 142, 147)); }
Color Color::systemGray2() { return dynamic(rgb255(174, 174, 178), rgb255(99, 99, 102)); }
Color Color::systemGray3() { return dynamic(rgb255(199, 199, 204), rgb255(72, 72, 74)); }
Color Color::systemGray4() { return dynamic(rgb255(209, 209, 214), rgb255(58, 58, 60)); }
Color Color::systemGray5() { return dynamic(rgb255(229, 229, 234), rgb255(44, 44, 46)); }
Color Color::systemGray6() { return dynamic(rgb255(242, 242, 247), rgb255(28, 28, 30)); }
Color Color::label() { return dynamic(white(0), white(1)); }
Color Color::secondaryLabel() {
    return dynamic(rgb(60 / 255.0, 60 / 255.0, 67 / 255.0, 0.6), rgb(235 / 255.0, 235 / 255.0, 245 / 255.0, 0.6));
}
Color Color::tertiaryLabel() {
    return dynamic(rgb(60 / 255.0, 60 / 255.0, 67 / 255.0, 0.3), rgb(235 / 255.0, 235 / 255.0, 245 / 255.0, 0.3));
}
Color Color::placeholderText() { return tertiaryLabel(); }
Color Color::separator() {
    return dynamic(rgb(60 / 255.0, 60 / 255.0, 67 / 255.0, 0.29), rgb(84 / 255.0, 84 / 255.0, 88 / 255.0, 0.6));
}
Color Color::systemBackground() { return dynamic(white(1), white(0)); }
Color Color::secondarySystemBackground() { return dynamic(rgb255(242, 242, 247), rgb255(28, 28, 30)); }
Color Color::tertiarySystemBackground() { return dynamic(white(1), rgb255(44, 44, 46)); }
Color Color::systemGroupedBackground() { return dynamic(rgb255(242, 242, 247), white(0)); }
Color Color::secondarySystemGroupedBackground() { return dynamic(white(1), rgb255(28, 28, 30)); }
Color Color::tertiarySystemGroupedBackground() { return dynamic(rgb255(242, 242, 247), rgb255(44, 44, 46)); }
Color Color::groupTableViewBackground() { return systemGroupedBackground(); }

std::optional<Color> Color::named(const std::string& name) {
    static const std::map<std::string, Color (*)()> table = {
        {"black", &Color::black},
        {"white", &Color::whiteColor},
        {"clear", &Color::clear},
        {"gray", &Color::gray},
        {"lightGray", &Color::lightGray},
        {"darkGray", &Color::darkGray},
        {"red", &Color::red},
        {"green", &Color::green},
        {"blue", &Color::blue},
        {"systemBlue", &Color::systemBlue},
        {"systemRed", &Color::systemRed},
        {"systemOrange", &Color::systemOrange},
        {"systemGreen", &Color::systemGreen},
        {"systemGray", &Color::systemGray},
        {"systemGray2", &Color::systemGray2},
        {"systemGray3", &Color::systemGray3},
        {"systemGray4", &Color::systemGray4},
        {"systemGray5", &Color::systemGray5},
        {"systemGray6", &Color::systemGray6},
        {"label", &Color::label},
        {"secondaryLabel", &Color::secondaryLabel},
        {"tertiaryLabel", &Color::tertiaryLabel},
        {"placeholderText", &Color::placeholderText},
        {"separator", &Color::separator},
        {"systemBackground", &Color::systemBackground},
        {"secondarySystemBackground", &Color::secondarySystemBackground},
        {"tertiarySystemBackground", &Color::tertiarySystemBackground},
        {"systemGroupedBackground", &Color::systemGroupedBackground},
        {"secondarySystemGroupedBackground", &Color::secondarySystemGroupedBackground},
        {"tertiarySystemGroupedBackground", &Color::tertiarySystemGroupedBackground},
        {"groupTableViewBackground", &Color::groupTableViewBackground},
    };
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second();
}

Color Color::resolved(UserInterfaceStyle style) const {
    if (kind_ != Kind::dynamic) return *this;
    return style == UserInterfaceStyle::dark ? variants_->second : variants_->first;
}

ColorSpaceModel Color::model() const {
    switch (kind_) {
        case Kind::monochrome:
            return ColorSpaceModel::monochrome;
        case Kind::rgb:
            return ColorSpaceModel::rgb;
        case Kind::pattern:
            return ColorSpaceModel::pattern;
        case Kind::dynamic:
            return variants_->first.model();
    }
    return ColorSpaceModel::unknown;
}

std::optional<std::pair<double, double>> Color::whiteComponents() const {
    const Color c = resolved(UserInterfaceStyle::light);
    if (c.kind_ != Kind::monochrome) return std::nullopt;
    return std::make_pair(c.c_.red, c.c_.alpha);
}

std::optional<RGBA> Color::rgbaComponents() const {
    const Color c = resolved(UserInterfaceStyle::light);
    if (c.kind_ == Kind::pattern) return std::nullopt;
    return c.c_;
}

RGBA Color::rgbaFor(UserInterfaceStyle style) const { return resolved(style).c_; }

double Color::alpha() const { return resolved(UserInterfaceStyle::light).c_.alpha; }

Color Color::withAlphaComponent(double a) const {
    Color c = *this;
    if (kind_ == Kind::dynamic) {
        return dynamic(variants_->first.withAlphaComponent(a), variants_->second.withAlphaComponent(a));
    }
    c.c_.alpha = unit(a);
    return c;
}

std::string Color::description() const {
    char buf[96];
    switch (kind_) {
        case Kind::monochrome:
            std::snprintf(buf, sizeof buf, "grey %g alpha %g", c_.red, c_.alpha);
            return buf;
        case Kind::rgb:
            std::snprintf(buf, sizeof buf, "rgb %g %g %g alpha %g", c_.red, c_.green, c_.blue, c_.alpha);
            return buf;
        case Kind::pattern:
            return "pattern";
        case Kind::dynamic:
            return "dynamic (light " + variants_->first.description() + ", dark " + variants_->second.description() +
                   ")";
    }
    return {};
}

bool operator==(const Color& a, const Color& b) {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
        case Color::Kind::monochrome:
        case Color::Kind::rgb:
            return a.c_ == b.c_;
        case Color::Kind::pattern:
            return a.image_ == b.image_;
        case Color::Kind::dynamic:
            return a.variants_ == b.variants_ || *a.variants_ == *b.variants_;
    }
    return false;
}

}  // namespace graphics
