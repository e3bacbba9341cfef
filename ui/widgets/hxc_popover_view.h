// A bubble with an arrow pointing at a spot of the screen, showing a text, a list of tappable
// strings (with images or a title) or any views. It places itself in the safe area of the top
// view of the key window (its last subview), below, above, right or left of the spot, dims the
// rest of the screen's tint, grows out of the arrow's tip, and reports taps and long presses on
// its items by index to its delegate, which dismisses it when it wants to. A touch outside the
// body or a rotation closes it. It can swap its items for an activity indicator, an image or an
// "error" or "success" picture.
//
// An empty item list shows nothing (the show operations answer false, the class operations
// nullptr); strings beyond the images given show their text alone, as a missing image does.
// A held item reports the long press alone, never a tap as well when the finger lifts.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/controls.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/view.h"

class HXCPopoverView;

// Every operation is optional: a delegate overrides those it takes.
class HXCPopoverViewDelegate {
public:
    virtual ~HXCPopoverViewDelegate() = default;
    // An item was tapped; the popover stays up.
    virtual void popoverViewDidSelectItemAtIndex(HXCPopoverView& popover, long index) { (void)popover, (void)index; }
    // Whether the delegate takes long presses: the popover listens for them only then (asked when
    // it has finished appearing).
    virtual bool respondsToLongPress() const { return false; }
    // An item was held for 0.7 s.
    virtual void popoverViewLongPressForItemAtIndex(HXCPopoverView& popover, long index) { (void)popover, (void)index; }
    // The popover has left the screen.
    virtual void popoverViewDidDismiss(HXCPopoverView& popover) { (void)popover; }
};

// Where the body and the arrow go for a point (in the top view's coordinates), the top view's
// safe area S (its top moved to 0) and the content's size.
struct HXCPopoverPlacement {
    toolkit::Rect box;
    toolkit::Point arrow;
    // 0 arrow on the top edge (body below the point), 1 on the bottom edge (body above), 2 on the
    // left edge (body to the right), 3 on the right edge (body to the left).
    int direction = 0;
};
HXCPopoverPlacement hxcPopoverPlacement(toolkit::Point point, const toolkit::Rect& safe, toolkit::Size content);

class HXCPopoverView : public toolkit::View {
public:
    static constexpr double kMargin = 10;      // between the body's edge and the content
    static constexpr double kSpacing = 10;     // between items
    static constexpr double kArrow = 12;       // the arrow's length and half its base
    static constexpr double kCorner = 4;       // the body's corner radius
    static constexpr double kLongPress = 0.7;  // seconds an item is held

    using Delegate = std::weak_ptr<HXCPopoverViewDelegate>;
    using Views = std::vector<toolkit::ViewPtr>;
    using Strings = std::vector<std::string>;
    using Images = std::vector<toolkit::ImagePtr>;
    using Point = toolkit::Point;

    HXCPopoverView();
    ~HXCPopoverView() override;
    std::string className() const override { return "HXCPopoverView"; }

    // Each makes a popover, gives it the delegate and shows it at point (in view's coordinates);
    // the top view keeps it while it is up. nullptr when nothing was shown.
    static std::shared_ptr<HXCPopoverView> showPopoverWithText(Point point, toolkit::View& view,
                                                               const std::string& text, Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithTitleText(Point point, toolkit::View& view,
                                                                    const std::string& title, const std::string& text,
                                                                    Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithViews(Point point, toolkit::View& view, Views views,
                                                                Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithTitleViews(Point point, toolkit::View& view,
                                                                     const std::string& title, Views views,
                                                                     Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithStrings(Point point, toolkit::View& view,
                                                                  const Strings& strings, Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithTitleStrings(Point point, toolkit::View& view,
                                                                       const std::string& title, const Strings& strings,
                                                                       Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithStringsImages(Point point, toolkit::View& view,
                                                                        const Strings& strings, const Images& images,
                                                                        Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithTitleStringsImages(Point point, toolkit::View& view,
                                                                             const std::string& title,
                                                                             const Strings& strings,
                                                                             const Images& images, Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithTitleContentView(Point point, toolkit::View& view,
                                                                           const std::string& title,
                                                                           toolkit::ViewPtr content, Delegate delegate);
    static std::shared_ptr<HXCPopoverView> showPopoverWithContentView(Point point, toolkit::View& view,
                                                                      toolkit::ViewPtr content, Delegate delegate);

    // Keeps object until the popover has closed or is destroyed: a delegate with no other owner
    // lives exactly as long as the popover that talks to it.
    void keepWhileShown(std::shared_ptr<void> object) { kept_ = std::move(object); }

    // The content builders; each answers whether the popover is shown.
    bool showWithText(Point point, toolkit::View& view, const std::string& text);
    bool showWithTitleText(Point point, toolkit::View& view, const std::string& title, const std::string& text);
    bool showWithStrings(Point point, toolkit::View& view, const Strings& strings);
    bool showWithTitleStrings(Point point, toolkit::View& view, const std::string& title, const Strings& strings);
    bool showWithStringsImages(Point point, toolkit::View& view, const Strings& strings, const Images& images);
    bool showWithTitleStringsImages(Point point, toolkit::View& view, const std::string& title, const Strings& strings,
                                    const Images& images);
    bool showWithViews(Point point, toolkit::View& view, Views views);
    bool showWithTitleViews(Point point, toolkit::View& view, const std::string& title, Views views);
    bool showWithTitleContentView(Point point, toolkit::View& view, const std::string& title, toolkit::ViewPtr content);
    bool showWithContentView(Point point, toolkit::View& view, toolkit::ViewPtr content);
    // An item per string: the image above its label, both centred.
    Views makeTempViews(const Strings& strings, const Images& images) const;

    // Places the popover again for a new point (alpha 0, then 1 over 0.2 s).
    void layoutAtPoint(Point point, toolkit::View& view);
    void animateRotationToNewPoint(Point point, toolkit::View& view, double duration);

    void showActivityIndicatorWithMessage(const std::string& message);
    void hideActivityIndicatorWithMessage(const std::string& message);
    void showImage(toolkit::ImagePtr image, const std::optional<std::string>& message);
    void showError();
    void showSuccess();

    void dismiss(bool animated = true);

    // The main screen's size less the status bar while it shows.
    static toolkit::Size screenSize();
    // The item font: 18 points on the tablet, 16 on the phone; the title's bold 16.
    static toolkit::Font itemFont();
    static toolkit::Font titleFont();
    static toolkit::Color itemColor();

    Delegate delegate() const { return delegate_; }
    void setDelegate(Delegate delegate) { delegate_ = std::move(delegate); }
    const toolkit::Rect& boxFrame() const { return boxFrame_; }
    toolkit::Point arrowPoint() const { return arrowPoint_; }
    int arrowDirection() const { return arrowDirection_; }
    const Views& subviewsArray() const { return subviewsArray_; }
    void setSubviewsArray(Views views) { subviewsArray_ = std::move(views); }
    const toolkit::ViewPtr& contentView() const { return contentView_; }
    void setContentView(toolkit::ViewPtr view) { contentView_ = std::move(view); }
    const toolkit::ViewPtr& titleView() const { return titleView_; }
    void setTitleView(toolkit::ViewPtr view) { titleView_ = std::move(view); }
    const std::vector<toolkit::Rect>& dividerRects() const { return dividerRects_; }
    bool showDividerRects() const { return showDividerRects_; }
    const std::shared_ptr<toolkit::ActivityIndicatorView>& activityIndicator() const { return activityIndicator_; }
    toolkit::View* topView() const { return topView_.lock().get(); }
    // Up and taking touches (the appearing animation is over).
    bool isShown() const { return shown_; }

    void draw(graphics::GraphicsContext& context, const toolkit::Rect& rect) override;
    void layoutSubviews() override;

private:
    void setupLayout(Point point, toolkit::View& view);
    void appeared();
    void tapped(toolkit::GestureRecognizer& recognizer);
    void didTapButton(toolkit::Control& button);
    void dismissComplete();
    void hideItems(double duration);
    void showPicture(toolkit::ImagePtr image, std::optional<toolkit::Rect> frame, double duration,
                     const std::optional<std::string>& message);
    std::shared_ptr<toolkit::Button> makeButton(const std::string& title, bool fitted);
    std::weak_ptr<HXCPopoverView> weakPopover() { return std::static_pointer_cast<HXCPopoverView>(self()); }
    void stackItems(Views& views, double top, double widest);

    toolkit::Rect boxFrame_;
    toolkit::Point arrowPoint_;
    int arrowDirection_ = 0;
    Delegate delegate_;
    std::shared_ptr<void> kept_;
    std::weak_ptr<toolkit::View> parentView_;
    std::weak_ptr<toolkit::View> topView_;
    Views subviewsArray_;
    std::vector<toolkit::Rect> dividerRects_;
    toolkit::ViewPtr contentView_;
    toolkit::ViewPtr titleView_;
    std::shared_ptr<toolkit::ActivityIndicatorView> activityIndicator_;
    bool showDividerRects_ = true;
    bool shown_ = false;
    bool dismissing_ = false;
    std::optional<toolkit::Orientation> shownOrientation_;
};
