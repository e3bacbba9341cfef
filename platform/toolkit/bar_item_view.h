// The touchable items of the bars (a bar button item, the back button, a tab) and what each
// shows. The renderer draws an item from its look, and the bars size the item from the same look
// (preferredWidth), so a touch lands on an item exactly where it is drawn.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/view.h"

namespace toolkit {

struct BarItemLook {
    enum class Kind { button, back, tab };
    Kind kind = Kind::button;
    std::string title;
    // A bar button's image, or a tab's image while unselected.
    ImagePtr image;
    // A bar button's image in a compact (landscape phone) bar, when it has one.
    ImagePtr compactImage;
    ImagePtr selectedImage;
    // Bar buttons without title or image draw the system item's glyph.
    SystemItem systemItem = SystemItem::None;
    // The done style: the title in the semibold system font.
    bool prominent = false;
    std::optional<Color> tintColor;
    // The title's font when not the bar's, its baseline moved up by baselineOffset, and (back
    // buttons) the title moved by titleAdjustment, compactTitleAdjustment in a compact bar.
    std::optional<Font> font;
    double baselineOffset = 0;
    Point titleAdjustment;
    Point compactTitleAdjustment;
    bool selected = false;
    std::optional<std::string> badge;
};

// A touch that ends inside the item runs its action; a disabled item takes no touches. A bar
// button item's view reads the item as it is now (title, image, tint, enabled) and the back
// button reads the bar's back item, so that an item changed after the bar placed it is drawn,
// outlined and touched as it now is (and sized so at the bar's next layout).
class BarItemView : public View {
public:
    BarItemView(std::string cls, std::string text, std::function<void()> action, bool enabled = true);
    std::string className() const override { return cls_; }
    std::string outlineText() const override;
    std::string outlineState() const override { return isEnabled() ? "" : "disabled"; }
    std::string accessibilityLabel() const override;
    View* hitTest(Point p, const Event* e) override { return isEnabled() ? View::hitTest(p, e) : nullptr; }
    void touchesBegan(const TouchSet&, const Event*) override {}
    void touchesMoved(const TouchSet&, const Event*) override {}
    void touchesCancelled(const TouchSet&, const Event*) override {}
    void touchesEnded(const TouchSet& touches, const Event*) override;

    bool isEnabled() const;
    BarItemLook look() const;
    void setLook(BarItemLook look);
    // Where the look is read from each time it is asked for.
    void setLookSource(std::function<BarItemLook()> source);
    // The bar button item this view shows.
    void setItem(const std::shared_ptr<BarButtonItem>& item);
    // The width the item needs to show its look in full (at least a finger's 44 points), or the
    // fixed width its bar button item asks for.
    double preferredWidth() const;

private:
    std::string cls_, text_;
    std::function<void()> action_;
    bool enabled_;
    BarItemLook look_;
    std::function<BarItemLook()> source_;
    std::weak_ptr<BarButtonItem> item_;
};

// The width a bar gives a view it places: its own item's preferred width, a custom view's own.
double barItemWidth(const View& view);

}  // namespace toolkit
