// One recipient bubble: a control that draws its title in a rounded capsule (a gradient of the
// tint, or a flat fill while selected or highlighted), optionally with a disclosure chevron, and
// sizes itself to its title within a maximum width.
#pragma once

#include <string>

#include "platform/foundation/value.h"
#include "platform/toolkit/controls.h"

class HXCToken : public toolkit::Control {
public:
    explicit HXCToken(std::string title = {}, foundation::Value representedObject = {});
    HXCToken(std::string title, foundation::Value representedObject, std::optional<toolkit::Font> font);
    std::string className() const override { return "HXCToken"; }

    static toolkit::Color blueTintColor();
    static toolkit::Color redTintColor();
    static toolkit::Color greenTintColor();

    const std::string& title() const { return title_; }
    // None is ignored.
    void setTitle(std::optional<std::string> title);
    const foundation::Value& representedObject() const { return representedObject_; }
    void setRepresentedObject(foundation::Value object) { representedObject_ = std::move(object); }
    const toolkit::Font& font() const { return font_; }
    // None means the system font of 14 points.
    void setFont(std::optional<toolkit::Font> font);
    const toolkit::Color& tintColor() const { return tint_; }
    // None means blueTintColor.
    void setTintColor(std::optional<toolkit::Color> color);
    const toolkit::Color& textColor() const { return textColor_; }
    void setTextColor(const toolkit::Color& color) { textColor_ = color; }
    const toolkit::Color& highlightedTextColor() const { return highlightedTextColor_; }
    void setHighlightedTextColor(const toolkit::Color& color) { highlightedTextColor_ = color; }
    int accessoryType() const { return accessoryType_; }
    void setAccessoryType(int type);
    double maxWidth() const { return maxWidth_; }
    void setMaxWidth(double width);
    void setHighlighted(bool highlighted) override;
    void setSelected(bool selected) override;

    // The tint's components: a grey spreads to red, green and blue; RGB gives its four; any other
    // colour space writes nothing and answers false. Each out-pointer may be null.
    bool getTintColorRed(double* red, double* green, double* blue, double* alpha) const;

    toolkit::Size sizeThatFits(toolkit::Size size) const override;
    void draw(graphics::GraphicsContext& context, const toolkit::Rect& rect) override;
    std::string description() const;
    std::string outlineText() const override { return title_; }

    // The chevron of the disclosure accessory: tip at `tip`, size s, arms t thick.
    static graphics::Path chevronPath(toolkit::Point tip, double size, double thickness);
    static double chevronWidth(double size, double thickness);

private:
    double accessoryWidth() const;
    // The title measured within maxWidth - 14 - accessory width: width and height.
    toolkit::Size titleSize() const;
    void fitSize();

    int accessoryType_ = 0;
    std::string title_;
    foundation::Value representedObject_;
    toolkit::Font font_;
    toolkit::Color tint_;
    toolkit::Color textColor_;
    toolkit::Color highlightedTextColor_;
    double maxWidth_ = 200;
};
