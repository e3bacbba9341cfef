// A drawn rounded badge with a count, as the list rows show unread numbers: its fill is the tint,
// its text white in the system font of 16 points unless set otherwise.
#pragma once

#include <optional>
#include <string>

#include "platform/toolkit/view.h"

class HXCBadgeView : public toolkit::View {
public:
    HXCBadgeView();
    explicit HXCBadgeView(const toolkit::Rect& frame);
    std::string className() const override { return "HXCBadgeView"; }

    const std::string& text() const { return text_; }
    void setText(std::string text);
    const toolkit::Font& font() const { return font_; }
    void setFont(const toolkit::Font& font);
    const toolkit::Color& textColor() const { return textColor_; }
    void setTextColor(const toolkit::Color& color);
    void tintColorDidChange() override { setNeedsDisplay(); }

    // Width: the larger of the text's width + 20 and the width of "0" + 22; height: the text's
    // height + 10.
    toolkit::Size sizeThatFits(toolkit::Size size) const override;
    toolkit::Size intrinsicContentSize() const override { return sizeThatFits(bounds().size); }
    void draw(graphics::GraphicsContext& context, const toolkit::Rect& rect) override;
    std::string outlineText() const override { return text_; }

private:
    void applyDefaults();
    std::string text_;
    toolkit::Font font_ = toolkit::Font::system(16);
    toolkit::Color textColor_ = toolkit::Color::whiteColor();
};
