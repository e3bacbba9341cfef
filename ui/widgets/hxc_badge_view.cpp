#include "ui/widgets/hxc_badge_view.h"

#include <cmath>
#include <numbers>

#include "platform/graphics/graphics_context.h"
#include "platform/graphics/text_layout.h"
#include "platform/toolkit/text_metrics.h"

using toolkit::Rect;
using toolkit::Size;

HXCBadgeView::HXCBadgeView() { applyDefaults(); }

HXCBadgeView::HXCBadgeView(const Rect& frame) : View(frame) { applyDefaults(); }

void HXCBadgeView::applyDefaults() { setOpaque(false); }

void HXCBadgeView::setText(std::string text) {
    text_ = std::move(text);
    setNeedsDisplay();
    invalidateIntrinsicContentSize();
}

void HXCBadgeView::setFont(const toolkit::Font& font) {
    font_ = font;
    setNeedsDisplay();
    invalidateIntrinsicContentSize();
}

void HXCBadgeView::setTextColor(const toolkit::Color& color) {
    textColor_ = color;
    setNeedsDisplay();
}

Size HXCBadgeView::sizeThatFits(Size) const {
    const toolkit::TextMeasurer& m = toolkit::textMeasurer();
    const double tw = m.lineWidth(text_, font_), th = m.lineHeight(font_);
    const double zw = m.lineWidth("0", font_);
    return {std::max(tw + 20, zw + 22), th + 10};
}

void HXCBadgeView::draw(graphics::GraphicsContext& c, const Rect& rect) {
    const toolkit::TextMeasurer& m = toolkit::textMeasurer();
    const double tw = m.lineWidth(text_, font_), th = m.lineHeight(font_);
    const double x = rect.minX(), y = rect.minY(), w = rect.width(), h = rect.height();
    const double r = th / 2 + 0.5;
    const double left = x + 5, right = x + w - 6, top = y + 2, bottom = y + h - 6;
    const double pi = std::numbers::pi;
    c.save();
    c.beginPath();
    c.addArc({right - r, top + r}, r, 3 * pi / 2, 0, true);
    c.addArc({right - r, bottom - r}, r, 0, pi / 2, true);
    c.addArc({left + r, bottom - r}, r, pi / 2, pi, true);
    c.addArc({left + r, top + r}, r, pi, 3 * pi / 2, true);
    c.closePath();
    c.setFillColor(tintColor());
    c.fillPath();
    c.restore();
    graphics::TextAttributes a;
    a.font = font_;
    a.color = textColor_;
    const float tx = std::floor(static_cast<float>((w - tw) / 2));
    const float ty = std::floor(static_cast<float>((h - th) / 2)) - 2;
    graphics::drawText(c, text_, {tx, ty}, a);
}
