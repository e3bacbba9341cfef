// Views: a tree of rectangles with their own coordinate systems. A view's frame is derived from
// its centre, bounds and transform (applied about the layer's anchor point); changing a frame or
// bounds size resizes subviews by their autoresizing masks and marks the view for layout, and
// the layout pass runs once on the next turn of the main run loop for every window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/geometry.h"
#include "platform/toolkit/graphics_types.h"
#include "platform/toolkit/layer.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/traits.h"

namespace graphics {
class GraphicsContext;
}

namespace toolkit {

class View;
class Window;
class ViewController;
class GestureRecognizer;
struct Touch;
struct Event;
class LayoutConstraint;
using ViewPtr = std::shared_ptr<View>;
using TouchSet = std::vector<std::shared_ptr<Touch>>;

enum AutoresizingMask : unsigned {
    kAutoresizeNone = 0,
    kFlexibleLeftMargin = 1,
    kFlexibleWidth = 2,
    kFlexibleRightMargin = 4,
    kFlexibleTopMargin = 8,
    kFlexibleHeight = 16,
    kFlexibleBottomMargin = 32,
};

enum class ContentMode { ScaleToFill, ScaleAspectFit, ScaleAspectFill, Redraw, Center, Top, Bottom, Left, Right };
enum class TintAdjustmentMode { Automatic, Normal, Dimmed };

enum AccessibilityTrait : unsigned {
    kTraitNone = 0,
    kTraitButton = 1,
    kTraitImage = 4,
    kTraitSelected = 8,
    kTraitStaticText = 64,
    kTraitNotEnabled = 256,
    kTraitHeader = 65536,
};

// Behaviour attached to a view (drag, drop, context menus); the view keeps it alive.
class Interaction {
public:
    virtual ~Interaction() = default;
    View* view() const { return view_; }

private:
    friend class View;
    View* view_ = nullptr;
};

// Redraw and layout requests of every view so far: a window whose last frame saw the same count
// (and nothing else asked for a frame) shows what it would draw now.
uint64_t redrawRequests();
void noteRedrawRequest();

class View : public Responder {
public:
    View();
    explicit View(const Rect& frame);
    ~View() override;

    template <class T = View, class... A>
    static std::shared_ptr<T> make(A&&... args) {
        return std::make_shared<T>(std::forward<A>(args)...);
    }
    ViewPtr self() { return std::static_pointer_cast<View>(shared_from_this()); }

    // The class name the outline and finders use.
    virtual std::string className() const { return "View"; }

    // ---- Geometry
    Rect frame() const;
    // Overridable: a view may lay itself out as its frame is set (autoresizing comes through here).
    virtual void setFrame(const Rect& frame);
    Rect bounds() const { return bounds_; }
    void setBounds(const Rect& bounds);
    Point center() const { return center_; }
    void setCenter(Point center);
    AffineTransform transform() const { return transform_; }
    void setTransform(const AffineTransform& t);
    Layer& layer() { return layer_; }
    const Layer& layer() const { return layer_; }
    void setAnchorPoint(Point anchor);

    // ---- Hierarchy
    View* superview() const { return superview_; }
    const std::vector<ViewPtr>& subviews() const { return subviews_; }
    Window* window() const;
    void addSubview(const ViewPtr& view);
    void insertSubview(const ViewPtr& view, size_t index);
    void insertSubviewBelow(const ViewPtr& view, const View* sibling);
    void insertSubviewAbove(const ViewPtr& view, const View* sibling);
    void bringSubviewToFront(const View* view);
    void sendSubviewToBack(const View* view);
    void removeFromSuperview();
    bool isDescendantOf(const View* view) const;
    // Depth-first, this view first; tag 0 matches every untagged view.
    View* viewWithTag(long tag);

    virtual void willMoveToSuperview(View*) {}
    virtual void didMoveToSuperview() {}
    virtual void willMoveToWindow(Window*) {}
    virtual void didMoveToWindow() {}
    virtual void didAddSubview(View*) {}
    virtual void willRemoveSubview(View*) {}

    // ---- Appearance
    long tag() const { return tag_; }
    void setTag(long tag) { tag_ = tag; }
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden);
    double alpha() const { return alpha_; }
    virtual void setAlpha(double alpha);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { setProperty(opaque_, opaque); }
    const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
    virtual void setBackgroundColor(std::optional<Color> color);
    bool clipsToBounds() const { return clips_; }
    void setClipsToBounds(bool clips) { setProperty(clips_, clips); }
    ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode mode) { setProperty(contentMode_, mode); }
    // The view's own tint or the nearest ancestor's, dimmed (grey) while any ancestor dims.
    Color tintColor() const;
    void setTintColor(std::optional<Color> color);
    TintAdjustmentMode tintAdjustmentMode() const { return tintMode_; }
    void setTintAdjustmentMode(TintAdjustmentMode mode);
    virtual void tintColorDidChange() {}
    // The edit menu aimed at this view closed without an item chosen (a touch elsewhere, Escape,
    // or its owner hiding it).
    virtual void editMenuDidCloseWithoutChoice() {}
    const std::shared_ptr<View>& maskView() const { return maskView_; }
    // The view's drawing shows only where the mask view draws (by its alpha); the mask's frame
    // is in this view's bounds coordinates and it is not one of its subviews.
    void setMaskView(std::shared_ptr<View> mask) { setProperty(maskView_, std::move(mask)); }
    // Custom drawing, in the view's bounds coordinates, above its background and below its
    // subviews; rect is the area to draw (the bounds).
    virtual void draw(graphics::GraphicsContext& context, const Rect& rect) {
        (void)context;
        (void)rect;
    }
    // Counts redraw requests: every setter of a property that changes the look calls it.
    void setNeedsDisplay() {
        ++displayGeneration_;
        noteRedrawRequest();
    }
    uint64_t displayGeneration() const { return displayGeneration_; }

    // ---- Interaction
    bool isUserInteractionEnabled() const { return interaction_; }
    void setUserInteractionEnabled(bool enabled) { interaction_ = enabled; }
    virtual bool pointInside(Point point, const Event* event) const;
    // The deepest visible, interactive view containing point (in this view's coordinates).
    virtual View* hitTest(Point point, const Event* event);
    const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return recognizers_; }
    void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    void removeGestureRecognizer(const GestureRecognizer* recognizer);

    const std::vector<std::shared_ptr<Interaction>>& interactions() const { return interactions_; }
    void addInteraction(const std::shared_ptr<Interaction>& interaction);
    void removeInteraction(const Interaction* interaction);
    // A point of the superview's coordinates in this view's.
    Point pointFromSuperview(Point p) const;

    virtual void touchesBegan(const TouchSet& touches, const Event* event);
    virtual void touchesMoved(const TouchSet& touches, const Event* event);
    virtual void touchesEnded(const TouchSet& touches, const Event* event);
    virtual void touchesCancelled(const TouchSet& touches, const Event* event);

    Responder* nextResponder() const override;

    // ---- Coordinates (a null view means the window, whose frame is the screen's bounds)
    Point convertPointTo(Point point, const View* view) const;
    Point convertPointFrom(Point point, const View* view) const;
    Rect convertRectTo(const Rect& rect, const View* view) const;
    Rect convertRectFrom(const Rect& rect, const View* view) const;

    // ---- Layout
    unsigned autoresizingMask() const { return autoresizing_; }
    void setAutoresizingMask(unsigned mask) { autoresizing_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }
    void setNeedsLayout();
    bool needsLayout() const { return needsLayout_; }
    // Lays out this subtree now (ancestors that are waiting for layout first).
    void layoutIfNeeded();
    virtual void layoutSubviews();
    virtual Size sizeThatFits(Size) const { return bounds_.size; }
    void sizeToFit();
    static constexpr double kNoIntrinsicMetric = -1;
    virtual Size intrinsicContentSize() const { return {kNoIntrinsicMetric, kNoIntrinsicMetric}; }
    void invalidateIntrinsicContentSize() { setNeedsLayout(); }
    // Insets that keep content clear of bars and the screen's rounded corners.
    EdgeInsets safeAreaInsets() const;
    Rect safeAreaLayoutFrame() const { return bounds_.inset(safeAreaInsets()); }
    // Extra safe-area insets set by a container on its child's root view (bars).
    void setAdditionalSafeAreaInsets(const EdgeInsets& insets);
    const EdgeInsets& additionalSafeAreaInsets() const { return additionalSafeArea_; }
    virtual void safeAreaInsetsDidChange() {}
    EdgeInsets layoutMargins() const { return layoutMargins_; }
    void setLayoutMargins(const EdgeInsets& margins);
    bool preservesSuperviewLayoutMargins() const { return preservesMargins_; }
    void setPreservesSuperviewLayoutMargins(bool on) { preservesMargins_ = on; }
    bool insetsLayoutMarginsFromSafeArea() const { return marginsFromSafeArea_; }
    void setInsetsLayoutMarginsFromSafeArea(bool on) { marginsFromSafeArea_ = on; }

    // Constraints held by this view (the nearest common ancestor of their items), resolved in
    // one pass before layoutSubviews.
    const std::vector<std::shared_ptr<LayoutConstraint>>& constraints() const { return constraints_; }
    void addConstraint(const std::shared_ptr<LayoutConstraint>& c);
    void removeConstraint(const LayoutConstraint* c);

    // ---- Traits
    TraitCollection traitCollection() const;
    virtual void traitCollectionDidChange(const TraitCollection& previous) { (void)previous; }

    // ---- Accessibility
    struct Accessibility {
        std::optional<bool> isElement;
        std::string label;
        std::string hint;
        std::string value;
        std::optional<unsigned> traits;
        bool elementsHidden = false;
        std::string identifier;
        bool ignoresInvertColors = false;
    };
    // (A label still to be made is made first: see setAccessibilityLabelMadeWhenAsked.)
    Accessibility& accessibility() {
        settleAccessibilityLabel();
        return accessibility_;
    }
    const Accessibility& accessibility() const {
        settleAccessibilityLabel();
        return accessibility_;
    }
    // What a control says about itself when no label was set (its title or text).
    virtual std::string accessibilityLabel() const { return accessibility().label; }
    virtual unsigned accessibilityTraits() const { return accessibility_.traits.value_or(kTraitNone); }
    virtual bool isAccessibilityElement() const { return accessibility_.isElement.value_or(false); }

    // The label is made by makeAccessibilityLabel when it is next asked for (through
    // accessibility()), from what the view shows then, rather than now: for a view that would
    // otherwise put a label together on every reuse (a table's row) and is seldom asked.
    void setAccessibilityLabelMadeWhenAsked() { labelToMake_ = true; }

    // The text, state and value the outline prints for this view (empty: nothing to say).
    virtual std::string outlineText() const { return {}; }
    virtual std::string outlineState() const { return {}; }
    // Controls whose subviews are their own parts say so; the outline shows them as one line.
    virtual bool outlinesSubviews() const { return true; }
    // The subviews the outline lists under this one, in order (all of them, unless the view
    // outlines itself as one line or orders its parts itself).
    virtual std::vector<View*> outlineSubviews() const;

    // The controller whose root view this is (weak).
    ViewController* owningController() const { return controller_; }

    // Takes the class-level appearance defaults (Appearance) for the properties not set on the
    // view itself; called once, when the view first comes into a window. Subclasses add their
    // own properties and call this.
    virtual void applyAppearance();

    // Called by the window when its traits change and by views moving between windows.
    void propagateTraitChange(const TraitCollection& previous);
    void propagateTintChange();

protected:
    // Lays out the subviews' edges from the constraints this view holds.
    void resolveConstraints();
    // The setters' common step: stores a new value and, when it differs, marks the view for
    // display (and, for a property its size or its subviews' places depend on, for layout) and
    // calls propertyDidChange. Answers whether the value changed.
    template <class T, class V>
    bool setProperty(T& field, V&& value, bool affectsLayout = false) {
        if (field == value) return false;
        field = std::forward<V>(value);
        setNeedsDisplay();
        if (affectsLayout) setNeedsLayout();
        propertyDidChange();
        return true;
    }
    // Called after a property set through setProperty changed.
    virtual void propertyDidChange() {}
    // The label of a view that set setAccessibilityLabelMadeWhenAsked.
    virtual std::string makeAccessibilityLabel() const { return accessibility_.label; }

private:
    void settleAccessibilityLabel() const {
        if (!labelToMake_) return;
        labelToMake_ = false;
        accessibility_.label = makeAccessibilityLabel();
    }
    friend class ViewController;
    friend class Window;
    friend void flushLayout();

    void setFrameNoResize(const Rect& frame);
    void resizeSubviews(Size oldSize);
    void moveToWindow(Window* window);
    void moveSubtreeToWindow(Window* window, const TraitCollection& before, const TraitCollection& after);
    void detachChild(const View* child);
    void insertAt(const ViewPtr& view, size_t index);
    void layoutSubtree();
    AffineTransform toSuperview() const;
    AffineTransform toRoot() const;
    AffineTransform transformTo(const View* view) const;
    std::optional<Point> offsetToRoot() const;
    std::optional<Point> offsetTo(const View* view) const;
    Rect safeRectInWindow() const;
    // Also answers the view's own rectangle in the window.
    Rect safeRectInWindow(Rect* ownInWindow) const;
    Rect safeRectInWindowSlow() const;

    // What hit tests, conversions and layout passes read on every view they pass comes first,
    // together (the anchor point leads the layer); the rest follows.
    bool identityTransform_ = true;
    bool hidden_ = false;
    bool interaction_ = true;
    bool needsLayout_ = true;
    bool descendantNeedsLayout_ = false;
    double alpha_ = 1;
    Rect bounds_;
    Point center_;
    View* superview_ = nullptr;
    Window* window_ = nullptr;
    std::vector<ViewPtr> subviews_;
    Layer layer_;
    AffineTransform transform_;
    std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
    std::vector<std::shared_ptr<LayoutConstraint>> constraints_;
    std::vector<std::shared_ptr<Interaction>> interactions_;
    long tag_ = 0;
    bool opaque_ = true;
    bool clips_ = false;
    bool autoresizesSubviews_ = true;
    bool preservesMargins_ = false;
    bool marginsFromSafeArea_ = true;
    unsigned autoresizing_ = kAutoresizeNone;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
    TintAdjustmentMode tintMode_ = TintAdjustmentMode::Automatic;
    std::optional<Color> backgroundColor_;
    std::optional<Color> tint_;
    std::shared_ptr<View> maskView_;
    EdgeInsets additionalSafeArea_;
    EdgeInsets layoutMargins_{8, 8, 8, 8};
    // Made when asked for (the label, lazily): kept in a view asked through a const reference.
    mutable Accessibility accessibility_;
    mutable bool labelToMake_ = false;
    uint64_t displayGeneration_ = 0;
    ViewController* controller_ = nullptr;
    bool appearanceApplied_ = false;
};

// Runs the pending layout pass now (the harness and outlines call it; the run loop otherwise
// runs it on its next turn).
void flushLayout();

}  // namespace toolkit
