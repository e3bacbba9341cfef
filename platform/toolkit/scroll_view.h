// The scroll view: a view whose bounds origin is the content offset. Programmatic offsets are
// taken as given; a drag moves the content with the finger (at half speed past the edges when
// it bounces, not at all past them when it does not). Let go while moving, the content glides
// on, slowing by the deceleration rate each millisecond until it would look still, to a rest the
// delegate may move, in steps on the process clock while "decelerating"; let go at rest out of
// range, it settles back. Every move, the user's included, goes through setContentOffset, so
// subclasses see them all. Insets grow by the safe area unless the adjustment is off; zooming
// scales the delegate's view within the minimum and maximum.
#pragma once

#include <memory>

#include "platform/dispatch/run_loop.h"

#include "platform/toolkit/controls.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/view.h"

namespace toolkit {

class ScrollView;

// Pull to refresh: dragging the content down past the threshold and letting go starts
// refreshing and sends value-changed; the control keeps room above the content until
// endRefreshing.
class RefreshControl : public Control {
public:
    RefreshControl();
    std::string className() const override { return "RefreshControl"; }
    std::string attributedTitle;
    bool isRefreshing() const { return refreshing_; }
    // In code: no value-changed.
    void beginRefreshing();
    void endRefreshing();
    std::string outlineText() const override { return attributedTitle; }
    std::string outlineState() const override { return refreshing_ ? "refreshing" : ""; }
    static constexpr double kHeight = 60;

private:
    friend class ScrollView;
    void setRefreshing(bool on, bool fromUser);
    bool refreshing_ = false;
};

class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(ScrollView&) {}
    virtual void scrollViewWillBeginDragging(ScrollView&) {}
    // The delegate may change where the content comes to rest. The velocity is the content's,
    // in points per millisecond (positive: the offset grows).
    virtual void scrollViewWillEndDragging(ScrollView&, Point velocity, Point* targetContentOffset) {
        (void)velocity, (void)targetContentOffset;
    }
    virtual void scrollViewDidEndDragging(ScrollView&, bool willDecelerate) { (void)willDecelerate; }
    virtual void scrollViewWillBeginDecelerating(ScrollView&) {}
    virtual void scrollViewDidEndDecelerating(ScrollView&) {}
    virtual void scrollViewDidEndScrollingAnimation(ScrollView&) {}
    virtual View* viewForZooming(ScrollView&) { return nullptr; }
    virtual void scrollViewDidZoom(ScrollView&) {}
    virtual bool scrollViewShouldScrollToTop(ScrollView&) { return true; }
    virtual void scrollViewDidScrollToTop(ScrollView&) {}
};

enum class ContentInsetAdjustment { Automatic, ScrollableAxes, Never, Always };

class ScrollView : public View {
public:
    ScrollView();
    explicit ScrollView(const Rect& frame);
    ~ScrollView() override;
    std::string className() const override { return "ScrollView"; }

    Point contentOffset() const { return bounds().origin; }
    virtual void setContentOffset(Point offset, bool animated = false);
    Size contentSize() const { return contentSize_; }
    void setContentSize(Size size);
    const EdgeInsets& contentInset() const { return contentInset_; }
    // Overridable: a subclass may keep some edges of its own.
    virtual void setContentInset(const EdgeInsets& insets);
    // The inset plus the safe area the adjustment behaviour adds (top and bottom).
    EdgeInsets adjustedContentInset() const;
    ContentInsetAdjustment contentInsetAdjustmentBehavior = ContentInsetAdjustment::Automatic;
    EdgeInsets scrollIndicatorInsets;
    bool bounces = true;
    bool alwaysBounceVertical = false;
    bool alwaysBounceHorizontal = false;
    bool scrollsToTop = true;
    bool showsVerticalScrollIndicator = true;
    bool showsHorizontalScrollIndicator = true;
    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool enabled);
    bool isDragging() const { return dragging_; }
    bool isDecelerating() const { return decelerating_; }
    bool isTracking() const { return dragging_; }

    // The range a drag settles into: from minus the top/left inset to the end of the content.
    Point minimumContentOffset() const;
    Point maximumContentOffset() const;
    // Scrolls the least needed to show rect (content coordinates), within the range.
    void scrollRectToVisible(const Rect& rect, bool animated);
    void flashScrollIndicators() { ++flashes_; }
    int scrollIndicatorFlashes() const { return flashes_; }

    double minimumZoomScale = 1;
    double maximumZoomScale = 1;
    double zoomScale() const { return zoom_; }
    // Clamped to the minimum and maximum; scales the delegate's view for zooming.
    void setZoomScale(double scale, bool animated = false);
    bool isZooming() const { return false; }
    // Zooms so that rect (in the zooming view's own coordinates) fills as much of the bounds as
    // the zoom range allows, and centres it as far as the content reaches.
    void zoomToRect(const Rect& rect, bool animated);

    // The share of its speed a gliding scroll keeps each millisecond.
    static constexpr double kDecelerationNormal = 0.998;
    static constexpr double kDecelerationFast = 0.99;
    double decelerationRate = kDecelerationNormal;
    // The speed under which content looks still (points per millisecond: a third of a point a
    // frame at 60 Hz, a pixel on the densest screens). A glide ends when it slows to it; content
    // let go slower does not glide.
    static constexpr double kRestingSpeed = 0.02;
    // Where content let go at this velocity (points per millisecond) would come to rest, before
    // the delegate and the range have their say.
    Point projectedRest(Point velocity) const;

    std::weak_ptr<ScrollViewDelegate> delegate;
    PanGestureRecognizer& panGestureRecognizer() { return *pan_; }
    const std::shared_ptr<RefreshControl>& refreshControl() const { return refresh_; }
    void setRefreshControl(std::shared_ptr<RefreshControl> control);
    void layoutSubviews() override;
    // A tap on the status bar: scrolls to the top when allowed. Returns whether it did.
    bool scrollToTop();

    static constexpr double kSettleDuration = 0.3;
    // A finger came down: a glide or settle stops where it is (no end callback), and that touch
    // only stops it (see touchCaughtGlide).
    void touchDown() {
        caughtGlide_ = decelerating_;
        if (caughtGlide_) interruptMotion();
    }
    // Whether the latest touch landed on moving content (so it selects nothing).
    bool touchCaughtGlide() const { return caughtGlide_; }

protected:
    // Subclasses hear about offset changes (after delegates).
    virtual void contentOffsetDidChange() {}

private:
    void setup();
    void handlePan(GestureRecognizer& g);
    bool scrollsVertically() const;
    bool scrollsHorizontally() const;
    void applyOffset(Point p);
    // A move made by the scroll view itself (a drag, a glide, a settle): through the overridable
    // setter, without stopping the motion it belongs to.
    void moveByUser(Point p);
    // A programmatic move or a new drag ends any glide or settle (without its end callback).
    void interruptMotion();
    void glide(Point target, Point velocity);
    friend class RefreshControl;
    std::shared_ptr<RefreshControl> refresh_;
    std::shared_ptr<PanGestureRecognizer> pan_;
    std::shared_ptr<GestureRecognizerDelegate> panDelegate_;
    Size contentSize_;
    EdgeInsets contentInset_;
    bool scrollEnabled_ = true;
    bool dragging_ = false;
    bool decelerating_ = false;
    Point dragStart_;
    int flashes_ = 0;
    double zoom_ = 1;
    uint64_t settleGeneration_ = 0;
    bool movingByUser_ = false;
    bool caughtGlide_ = false;
    std::weak_ptr<dispatch::Timer> glideTimer_;
    std::optional<EdgeInsets> lastAdjusted_;
};

}  // namespace toolkit
