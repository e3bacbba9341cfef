#include "ui/widgets/hxc_token.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "platform/graphics/graphics_context.h"
#include "platform/graphics/text_layout.h"
#include "platform/toolkit/text_metrics.h"

using toolkit::Color;
using toolkit::Point;
using toolkit::Rect;
using toolkit::Size;

namespace {
constexpr double kChevronThickness = 2.5;
constexpr float kCos45 = 0.70710677f;
}  // namespace

HXCToken::HXCToken(std::string title, foundation::Value representedObject)
    : HXCToken(std::move(title), std::move(representedObject), toolkit::Font::system(14)) {}

HXCToken::HXCToken(std::string title, foundation::Value representedObject, std::optional<toolkit::Font> font)
    : title_(std::move(title)),
      representedObject_(std::move(representedObject)),
      font_(font.value_or(toolkit::Font::system(14))),
      tint_(blueTintColor()),
      textColor_(Color::black()),
      highlightedTextColor_(Color::whiteColor()) {
    setBackgroundColor(Color::clear());
    setOpaque(false);
    fitSize();
}

Color HXCToken::blueTintColor() { return Color::rgb(0.216, 0.373, 0.965, 1); }
Color HXCToken::redTintColor() { return Color::rgb(1.0, 0.15, 0.15, 1); }
Color HXCToken::greenTintColor() { return Color::rgb(0.333, 0.741, 0.235, 1); }

void HXCToken::setTitle(std::optional<std::string> title) {
    if (!title) return;
    title_ = std::move(*title);
    fitSize();
    setNeedsDisplay();
}

void HXCToken::setFont(std::optional<toolkit::Font> font) {
    const toolkit::Font f = font.value_or(toolkit::Font::system(14));
    if (f == font_) return;
    font_ = f;
    fitSize();
    setNeedsDisplay();
}

void HXCToken::setTintColor(std::optional<Color> color) {
    const Color c = color.value_or(blueTintColor());
    if (c == tint_) return;
    tint_ = c;
    setNeedsDisplay();
}

void HXCToken::setAccessoryType(int type) {
    if (type == accessoryType_) return;
    accessoryType_ = type;
    fitSize();
    setNeedsDisplay();
}

void HXCToken::setMaxWidth(double width) {
    if (width == maxWidth_) return;
    maxWidth_ = width;
    fitSize();
    setNeedsDisplay();
}

void HXCToken::setHighlighted(bool highlighted) {
    if (highlighted == isHighlighted()) return;
    Control::setHighlighted(highlighted);
    setNeedsDisplay();
}

void HXCToken::setSelected(bool selected) {
    if (selected == isSelected()) return;
    Control::setSelected(selected);
    setNeedsDisplay();
}

bool HXCToken::getTintColorRed(double* red, double* green, double* blue, double* alpha) const {
    switch (tint_.model()) {
        case graphics::ColorSpaceModel::monochrome: {
            const auto [white, a] = *tint_.whiteComponents();
            if (red) *red = white;
            if (green) *green = white;
            if (blue) *blue = white;
            if (alpha) *alpha = a;
            return true;
        }
        case graphics::ColorSpaceModel::rgb: {
            const graphics::RGBA c = *tint_.rgbaComponents();
            if (red) *red = c.red;
            if (green) *green = c.green;
            if (blue) *blue = c.blue;
            if (alpha) *alpha = c.alpha;
            return true;
        }
        default:
            return false;
    }
}

graphics::Path HXCToken::chevronPath(Point tip, double s, double t) {
    const double c = kCos45, d = t / c;
    const double x = tip.x, y = tip.y;
    return graphics::Path::polygon({{x, y},
                                    {x - s / 2, y - s / 2},
                                    {x - s / 2 - d * c, y - s / 2 + d * c},
                                    {x - d / c, y},
                                    {x - s / 2 - d * c, y + s / 2 - d * c},
                                    {x - s / 2, y + s / 2}});
}

double HXCToken::chevronWidth(double s, double t) { return s / 2 + (t / kCos45) * kCos45; }

double HXCToken::accessoryWidth() const {
    return accessoryType_ == 1 ? chevronWidth(font_.pointSize(), kChevronThickness) + 7 : 0;
}

Size HXCToken::titleSize() const {
    const toolkit::TextMeasurer& m = toolkit::textMeasurer();
    const double bound = maxWidth_ - 14 - accessoryWidth();
    const auto lines = m.lines(title_, font_, std::max(bound, 0.0), 1, toolkit::LineBreakMode::truncateTail);
    const std::string shown = lines.empty() ? std::string() : lines.front();
    return {m.lineWidth(shown, font_), m.lineHeight(font_)};
}

Size HXCToken::sizeThatFits(Size) const {
    const Size text = titleSize();
    const float height = std::floor(static_cast<float>(text.height + 8));
    const float width = std::floor(static_cast<float>(accessoryWidth() + text.width + 14));
    return {std::max(width, height - 3.0f), height};
}

void HXCToken::fitSize() {
    Rect f = frame();
    f.size = sizeThatFits({});
    setFrame(f);
}

void HXCToken::draw(graphics::GraphicsContext& c, const Rect& rect) {
    const double width = rect.width(), height = rect.height();
    const double r = height / 2 - 1;
    const double pi = std::numbers::pi;
    graphics::Path capsule;
    capsule.addArc({r, r}, r, pi / 2, 3 * pi / 2, true);
    capsule.addArc({width - r, r}, r, 3 * pi / 2, pi / 2, true);
    capsule.close();
    double red = 1, green = 1, blue = 1, alpha = 1;
    if (!getTintColorRed(&red, &green, &blue, &alpha)) red = green = blue = alpha = 1;
    const bool lit = isSelected() || isHighlighted();
    c.save();
    if (lit) {
        c.setFillColor(Color::rgb(red, green, blue, 1));
        c.addPath(capsule);
        c.fillPath();
    } else {
        c.addPath(capsule);
        c.clip();
        c.drawLinearGradient(
            {{Color::rgb(red + 0.2, green + 0.2, blue + 0.2, alpha), Color::rgb(red, green, blue, 0.8)}, {0, 0.95}},
            {0, 0}, {0, height});
    }
    c.restore();
    if (accessoryType_ == 1) {
        const Point tip{width - 7, height / 2 - 1};
        const graphics::Path chevron = chevronPath(tip, font_.pointSize(), kChevronThickness);
        c.save();
        c.setFillColor(Color::whiteColor());
        if (!lit) c.setShadow({0, 1}, 1, Color::white(1, 0.6));
        c.addPath(chevron);
        c.fillPath();
        c.restore();
        if (!lit) {
            c.save();
            c.addPath(chevron);
            c.clip();
            c.setStrokeColor(Color::rgb(0, 0, 0, 0.3));
            c.addPath(chevron.transformed(graphics::AffineTransform::translation(0, 0.5)));
            c.strokePath();
            c.restore();
        }
    }
    const toolkit::TextMeasurer& m = toolkit::textMeasurer();
    const double bound = maxWidth_ - 14 - accessoryWidth();
    const auto lines = m.lines(title_, font_, std::max(bound, 0.0), 1, toolkit::LineBreakMode::truncateTail);
    const Size text = titleSize();
    const float vPad = std::floor(static_cast<float>((height - text.height) / 2));
    graphics::TextAttributes a;
    a.font = font_;
    a.color = lit ? highlightedTextColor_ : textColor_;
    c.save();
    c.clipToRect(Rect{7, vPad - 1.0, std::ceil(text.width), std::floor(height - 2 * vPad)});
    if (!lines.empty()) graphics::drawText(c, lines.front(), {7, vPad - 1.0}, a);
    c.restore();
}

std::string HXCToken::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
    const std::string object = representedObject_.isString() ? representedObject_.asString()
                               : representedObject_.isNull() ? "(null)"
                                                             : representedObject_.description();
    return std::string("<HXCToken ") + buf + "; title = \"" + title_ + "\"; representedObject = \"" + object + "\">";
}
