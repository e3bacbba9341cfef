#include "platform/toolkit/view.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

#include "platform/dispatch/run_loop.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"

namespace toolkit {

namespace {

bool gLayoutScheduled = false;

void scheduleLayout() {
    if (gLayoutScheduled) return;
    gLayoutScheduled = true;
    dispatch::RunLoop::main().performAtNextTurn([] {
        if (gLayoutScheduled) flushLayout();
    });
}

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v == 0 ? 0.0 : v);
    return buf;
}

}  // namespace

std::string describe(const Point& p) { return "(" + num(p.x) + ", " + num(p.y) + ")"; }
std::string describe(const Rect& r) {
    return "(" + num(r.origin.x) + ", " + num(r.origin.y) + ", " + num(r.size.width) + ", " + num(r.size.height) + ")";
}
std::string describe(const IndexPath& p) { return "s" + std::to_string(p.section) + "r" + std::to_string(p.row); }
std::string describe(const Color& c) {
    const graphics::RGBA v = c.rgbaFor(graphics::UserInterfaceStyle::light);
    return "rgba(" + num(v.red) + ", " + num(v.green) + ", " + num(v.blue) + ", " + num(v.alpha) + ")";
}

ImagePtr makeImage(const std::string& name, Size size, bool isTemplate) {
    auto bitmap = graphics::Bitmap::make(std::max<int64_t>(1, std::llround(size.width)),
                                         std::max<int64_t>(1, std::llround(size.height)));
    ImagePtr image = graphics::Image::fromBitmap(bitmap ? bitmap.value() : nullptr)->withName(name, false);
    return isTemplate ? image->withRenderingMode(RenderingMode::alwaysTemplate) : image;
}

void flushLayout() {
    TK_MAIN_THREAD("layout pass");
    gLayoutScheduled = false;
    // Layout may mark more views; repeat a bounded number of times so a view that always asks
    // for layout cannot hang the loop.
    for (int round = 0; round < 8; ++round) {
        bool any = false;
        for (Window* w : Window::allWindows()) {
            w->layoutSubtree();
            any = true;
        }
        if (!gLayoutScheduled || !any) break;
        gLayoutScheduled = false;
    }
}

View::View() : View(Rect()) {}

View::View(const Rect& frame) {
    bounds_ = Rect(0, 0, frame.size.width, frame.size.height);
    center_ = {frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2};
}

View::~View() {
    for (auto& s : subviews_) s->superview_ = nullptr;
    for (auto& g : recognizers_) g->attachTo(nullptr);
}

// ---- Geometry

Rect View::frame() const {
    Size s = bounds_.size;
    Point a = layer_.anchorPoint;
    Rect local(-a.x * s.width, -a.y * s.height, s.width, s.height);
    if (!identityTransform_) local = transform_.apply(local);
    return local.offsetBy(center_.x, center_.y);
}

void View::setFrame(const Rect& f) {
    TK_MAIN_THREAD("setFrame");
    // Layout passes mostly set the frames views already have.
    if (identityTransform_ && f.size.width >= 0 && f.size.height >= 0 && f.size == bounds_.size &&
        f.origin.x + layer_.anchorPoint.x * f.size.width == center_.x &&
        f.origin.y + layer_.anchorPoint.y * f.size.height == center_.y)
        return;
    noteAnimatableChange(*this);
    Size old = bounds_.size;
    setFrameNoResize(f);
    if (!(old == bounds_.size)) {
        resizeSubviews(old);
        setNeedsLayout();
    }
}

void View::setFrameNoResize(const Rect& f) {
    Rect r = f.standardized();
    if (!identityTransform_) {
        // With a transform the frame is the bounding box; keep the size, move the centre.
        Rect cur = frame();
        center_ = {center_.x + r.midX() - cur.midX(), center_.y + r.midY() - cur.midY()};
        return;
    }
    bounds_.size = r.size;
    center_ = {r.origin.x + layer_.anchorPoint.x * r.size.width, r.origin.y + layer_.anchorPoint.y * r.size.height};
}

void View::setBounds(const Rect& b) {
    TK_MAIN_THREAD("setBounds");
    noteAnimatableChange(*this);
    Size old = bounds_.size;
    bounds_ = b;
    if (!(old == b.size)) {
        resizeSubviews(old);
        setNeedsLayout();
    } else {
        // A scroll (origin change) moves what subviews show but not their geometry.
        setNeedsLayout();
    }
}

void View::setCenter(Point c) {
    TK_MAIN_THREAD("setCenter");
    noteAnimatableChange(*this);
    center_ = c;
}

void View::setTransform(const AffineTransform& t) {
    TK_MAIN_THREAD("setTransform");
    noteAnimatableChange(*this);
    transform_ = t;
    identityTransform_ = t.isIdentity();
}

void View::setAnchorPoint(Point anchor) {
    // The layer keeps its position (the centre) when its anchor moves, so the frame shifts.
    layer_.anchorPoint = anchor;
}

AffineTransform View::toSuperview() const {
    Size s = bounds_.size;
    Point a = layer_.anchorPoint;
    return AffineTransform::translation(-bounds_.origin.x - a.x * s.width, -bounds_.origin.y - a.y * s.height)
        .concat(transform_)
        .concat(AffineTransform::translation(center_.x, center_.y));
}

Point View::pointFromSuperview(Point p) const {
    if (identityTransform_) {
        // Only a translation: the frame's origin maps to the bounds' origin.
        Point a = layer_.anchorPoint;
        return {p.x - center_.x + a.x * bounds_.size.width + bounds_.origin.x,
                p.y - center_.y + a.y * bounds_.size.height + bounds_.origin.y};
    }
    return toSuperview().inverted().apply(p);
}

AffineTransform View::toRoot() const {
    AffineTransform up;
    for (const View* v = this; v; v = v->superview_) up = up.concat(v->toSuperview());
    return up;
}

// From this view's coordinates to view's (a null view: the screen's).
AffineTransform View::transformTo(const View* view) const {
    AffineTransform t = toRoot();
    return view ? t.concat(view->toRoot().inverted()) : t;
}

std::optional<Point> View::offsetToRoot() const {
    Point o;
    for (const View* v = this; v; v = v->superview_) {
        if (!v->identityTransform_) return std::nullopt;
        o.x += v->center_.x - v->layer_.anchorPoint.x * v->bounds_.size.width - v->bounds_.origin.x;
        o.y += v->center_.y - v->layer_.anchorPoint.y * v->bounds_.size.height - v->bounds_.origin.y;
    }
    return o;
}

// How far to shift this view's coordinates to get view's, when no transform is on either way.
std::optional<Point> View::offsetTo(const View* view) const {
    auto a = offsetToRoot();
    if (!a) return std::nullopt;
    if (!view) return a;
    auto b = view->offsetToRoot();
    if (!b) return std::nullopt;
    return Point{a->x - b->x, a->y - b->y};
}

Point View::convertPointTo(Point p, const View* view) const {
    if (auto d = offsetTo(view)) return {p.x + d->x, p.y + d->y};
    return transformTo(view).apply(p);
}
Point View::convertPointFrom(Point p, const View* view) const {
    if (auto d = view ? view->offsetTo(this) : std::optional<Point>()) return {p.x + d->x, p.y + d->y};
    return view ? view->transformTo(this).apply(p) : toRoot().inverted().apply(p);
}
Rect View::convertRectTo(const Rect& r, const View* view) const {
    if (auto d = offsetTo(view)) return r.standardized().offsetBy(d->x, d->y);
    return transformTo(view).apply(r);
}
Rect View::convertRectFrom(const Rect& r, const View* view) const {
    if (auto d = view ? view->offsetTo(this) : std::optional<Point>()) return r.standardized().offsetBy(d->x, d->y);
    return view ? view->transformTo(this).apply(r) : toRoot().inverted().apply(r);
}

void View::addInteraction(const std::shared_ptr<Interaction>& interaction) {
    if (!interaction || interaction->view_ == this) return;
    if (interaction->view_) interaction->view_->removeInteraction(interaction.get());
    interaction->view_ = this;
    interactions_.push_back(interaction);
}

void View::removeInteraction(const Interaction* interaction) {
    std::erase_if(interactions_, [&](const std::shared_ptr<Interaction>& i) {
        if (i.get() != interaction) return false;
        i->view_ = nullptr;
        return true;
    });
}

std::vector<View*> View::outlineSubviews() const {
    std::vector<View*> out;
    if (!outlinesSubviews()) return out;
    for (auto& s : subviews_) out.push_back(s.get());
    return out;
}

// ---- Hierarchy

Window* View::window() const { return window_; }

void View::addSubview(const ViewPtr& view) { insertSubview(view, subviews_.size()); }

void View::insertSubview(const ViewPtr& view, size_t index) {
    TK_MAIN_THREAD("insertSubview");
    if (!view || view.get() == this || isDescendantOf(view.get())) return;
    insertAt(view, index);
}

void View::insertAt(const ViewPtr& view, size_t index) {
    ViewPtr keep = view;
    if (view->superview_ == this) {
        // Moving within the same parent only reorders.
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        size_t from = static_cast<size_t>(it - subviews_.begin());
        subviews_.erase(it);
        if (index > from) --index;
        subviews_.insert(subviews_.begin() + static_cast<long>(std::min(index, subviews_.size())), view);
        return;
    }
    bool windowChanges = view->window_ != window_;
    if (windowChanges) view->willMoveToWindow(window_);
    view->willMoveToSuperview(this);
    if (view->superview_) view->superview_->detachChild(view.get());
    subviews_.insert(subviews_.begin() + static_cast<long>(std::min(index, subviews_.size())), view);
    view->superview_ = this;
    if (windowChanges) view->moveToWindow(window_);
    view->didMoveToSuperview();
    didAddSubview(view.get());
    view->setNeedsLayout();
    setNeedsLayout();
}

void View::insertSubviewBelow(const ViewPtr& view, const View* sibling) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const ViewPtr& v) { return v.get() == sibling; });
    insertSubview(view, it == subviews_.end() ? subviews_.size() : static_cast<size_t>(it - subviews_.begin()));
}

void View::insertSubviewAbove(const ViewPtr& view, const View* sibling) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const ViewPtr& v) { return v.get() == sibling; });
    insertSubview(view, it == subviews_.end() ? subviews_.size() : static_cast<size_t>(it - subviews_.begin()) + 1);
}

void View::bringSubviewToFront(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const ViewPtr& v) { return v.get() == view; });
    if (it == subviews_.end()) return;
    ViewPtr v = *it;
    subviews_.erase(it);
    subviews_.push_back(v);
}

void View::sendSubviewToBack(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const ViewPtr& v) { return v.get() == view; });
    if (it == subviews_.end()) return;
    ViewPtr v = *it;
    subviews_.erase(it);
    subviews_.insert(subviews_.begin(), v);
}

void View::detachChild(const View* child) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const ViewPtr& v) { return v.get() == child; });
    if (it == subviews_.end()) return;
    willRemoveSubview(it->get());
    subviews_.erase(it);
}

void View::removeFromSuperview() {
    TK_MAIN_THREAD("removeFromSuperview");
    if (!superview_) return;
    ViewPtr keep = self();
    View* parent = superview_;
    if (window_) willMoveToWindow(nullptr);
    willMoveToSuperview(nullptr);
    parent->detachChild(this);
    superview_ = nullptr;
    if (window_) moveToWindow(nullptr);
    didMoveToSuperview();
    parent->setNeedsLayout();
}

void View::applyAppearance() {
    if (!backgroundColor_)
        if (auto c = Appearance::get<Color>(*this, "backgroundColor")) setBackgroundColor(*c);
    if (!tint_)
        if (auto c = Appearance::get<Color>(*this, "tintColor")) setTintColor(*c);
}

void View::moveToWindow(Window* window) {
    // Everything below moves with this view: the traits before and after are the same for all.
    TraitCollection before = traitCollection();
    TraitCollection after = window ? window->windowTraits() : Window::deviceTraits();
    moveSubtreeToWindow(window, before, after);
}

void View::moveSubtreeToWindow(Window* window, const TraitCollection& before, const TraitCollection& after) {
    window_ = window;
    if (!window) {
        // Leaving the window takes the keyboard focus with it.
        if (auto* fr = dynamic_cast<View*>(firstResponder()); fr && (fr == this)) {
            if (!fr->resignFirstResponder()) fr->dropFocusSilently();
        }
    }
    for (size_t i = 0; i < subviews_.size(); ++i) {
        ViewPtr s = subviews_[i];
        s->willMoveToWindow(window);
        s->moveSubtreeToWindow(window, before, after);
    }
    if (window) {
        needsLayout_ = true;
        descendantNeedsLayout_ = !subviews_.empty();
        scheduleLayout();
        if (!appearanceApplied_) {
            appearanceApplied_ = true;
            if (!Appearance::empty()) applyAppearance();
        }
    }
    didMoveToWindow();
    if (!(before == after)) traitCollectionDidChange(before);
}

bool View::isDescendantOf(const View* view) const {
    for (const View* v = this; v; v = v->superview_)
        if (v == view) return true;
    return false;
}

View* View::viewWithTag(long tag) {
    if (tag_ == tag) return this;
    for (auto& s : subviews_)
        if (View* v = s->viewWithTag(tag)) return v;
    return nullptr;
}

// ---- Appearance

void View::setHidden(bool hidden) {
    if (hidden_ == hidden) return;
    hidden_ = hidden;
    if (hidden)
        if (auto* fr = dynamic_cast<View*>(firstResponder()); fr && fr->isDescendantOf(this))
            fr->resignFirstResponder();
}

void View::setAlpha(double alpha) {
    noteAnimatableChange(*this);
    alpha_ = std::clamp(alpha, 0.0, 1.0);
}

void View::setBackgroundColor(std::optional<Color> color) { backgroundColor_ = color; }

Color View::tintColor() const {
    for (const View* v = this; v; v = v->superview_)
        if (v->tintMode_ == TintAdjustmentMode::Dimmed) return Color::white(0.5);
    for (const View* v = this; v; v = v->superview_)
        if (v->tint_) return *v->tint_;
    return Color::rgb(0, 122.0 / 255, 1);
}

void View::setTintColor(std::optional<Color> color) {
    tint_ = color;
    propagateTintChange();
}

void View::setTintAdjustmentMode(TintAdjustmentMode mode) {
    if (tintMode_ == mode) return;
    tintMode_ = mode;
    propagateTintChange();
}

void View::propagateTintChange() {
    tintColorDidChange();
    for (auto& s : std::vector<ViewPtr>(subviews_))
        if (!s->tint_ || tintMode_ == TintAdjustmentMode::Dimmed) s->propagateTintChange();
}

// ---- Interaction

bool View::pointInside(Point p, const Event*) const { return bounds_.contains(p); }

View* View::hitTest(Point p, const Event* event) {
    if (hidden_ || !interaction_ || alpha_ < 0.01) return nullptr;
    if (!pointInside(p, event)) return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        View* s = it->get();
        // Views that take no touches are skipped before their coordinates are worked out.
        if (s->hidden_ || !s->interaction_) continue;
        if (View* hit = s->hitTest(s->pointFromSuperview(p), event)) return hit;
    }
    return this;
}

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& g) {
    if (!g) return;
    if (g->view() && g->view() != this) g->view()->removeGestureRecognizer(g.get());
    if (std::find(recognizers_.begin(), recognizers_.end(), g) == recognizers_.end()) recognizers_.push_back(g);
    g->attachTo(this);
}

void View::removeGestureRecognizer(const GestureRecognizer* g) {
    auto it = std::find_if(recognizers_.begin(), recognizers_.end(), [&](auto& r) { return r.get() == g; });
    if (it == recognizers_.end()) return;
    (*it)->attachTo(nullptr);
    recognizers_.erase(it);
}

void View::touchesBegan(const TouchSet& t, const Event* e) {
    if (auto* v = dynamic_cast<View*>(nextResponder())) v->touchesBegan(t, e);
}
void View::touchesMoved(const TouchSet& t, const Event* e) {
    if (auto* v = dynamic_cast<View*>(nextResponder())) v->touchesMoved(t, e);
}
void View::touchesEnded(const TouchSet& t, const Event* e) {
    if (auto* v = dynamic_cast<View*>(nextResponder())) v->touchesEnded(t, e);
}
void View::touchesCancelled(const TouchSet& t, const Event* e) {
    if (auto* v = dynamic_cast<View*>(nextResponder())) v->touchesCancelled(t, e);
}

Responder* View::nextResponder() const {
    if (controller_) return controller_;
    return superview_;
}

// ---- Layout

void View::resizeSubviews(Size old) {
    if (!autoresizesSubviews_) return;
    Size now = bounds_.size;
    for (auto& s : subviews_) {
        unsigned m = s->autoresizing_;
        if (m == kAutoresizeNone) continue;
        Rect f = s->frame();
        auto distribute = [](double delta, double parts[3], const bool flex[3]) {
            double total = 0;
            int count = 0;
            for (int i = 0; i < 3; ++i)
                if (flex[i]) total += parts[i], ++count;
            if (count == 0) return;
            for (int i = 0; i < 3; ++i)
                if (flex[i]) parts[i] += total > 0 ? delta * parts[i] / total : delta / count;
        };
        double h[3] = {f.minX(), f.width(), old.width - f.maxX()};
        bool hf[3] = {(m & kFlexibleLeftMargin) != 0, (m & kFlexibleWidth) != 0, (m & kFlexibleRightMargin) != 0};
        distribute(now.width - old.width, h, hf);
        double v[3] = {f.minY(), f.height(), old.height - f.maxY()};
        bool vf[3] = {(m & kFlexibleTopMargin) != 0, (m & kFlexibleHeight) != 0, (m & kFlexibleBottomMargin) != 0};
        distribute(now.height - old.height, v, vf);
        s->setFrame(Rect(h[0], v[0], std::max(0.0, h[1]), std::max(0.0, v[1])));
    }
}

namespace {
std::atomic<uint64_t> gRedrawRequests{0};
}  // namespace

uint64_t redrawRequests() { return gRedrawRequests.load(std::memory_order_relaxed); }
void noteRedrawRequest() { gRedrawRequests.fetch_add(1, std::memory_order_relaxed); }

void View::setNeedsLayout() {
    needsLayout_ = true;
    noteRedrawRequest();
    // Ancestors learn that something below them waits, so clean branches can be skipped.
    for (View* v = superview_; v && !v->descendantNeedsLayout_; v = v->superview_) v->descendantNeedsLayout_ = true;
    if (window_) scheduleLayout();
}

void View::layoutIfNeeded() {
    TK_MAIN_THREAD("layoutIfNeeded");
    View* start = this;
    while (start->superview_ && start->superview_->needsLayout_) start = start->superview_;
    start->layoutSubtree();
}

void View::layoutSubtree() {
    if (!needsLayout_ && !descendantNeedsLayout_) return;
    descendantNeedsLayout_ = false;
    if (needsLayout_) {
        needsLayout_ = false;
        if (controller_) controller_->viewWillLayoutSubviews();
        resolveConstraints();
        layoutSubviews();
        if (controller_) controller_->viewDidLayoutSubviews();
    }
    // By index, holding each child: a layout pass may add or remove subviews as it goes.
    for (size_t i = 0; i < subviews_.size(); ++i) {
        ViewPtr s = subviews_[i];
        s->layoutSubtree();
    }
}

void View::layoutSubviews() {}

void View::sizeToFit() {
    Size s = sizeThatFits(bounds_.size);
    Rect f = frame();
    setFrame(Rect(f.origin, s));
}

void View::setAdditionalSafeAreaInsets(const EdgeInsets& insets) {
    if (additionalSafeArea_ == insets) return;
    additionalSafeArea_ = insets;
    safeAreaInsetsDidChange();
    setNeedsLayout();
}

void View::setLayoutMargins(const EdgeInsets& m) {
    layoutMargins_ = m;
    setNeedsLayout();
}

Rect View::safeRectInWindow() const { return safeRectInWindow(nullptr); }

Rect View::safeRectInWindow(Rect* ownInWindow) const {
    // Without transforms on the way up, each view's rectangle in the window is its parent's
    // offset plus its own: one walk down from the root rather than one walk up per ancestor.
    constexpr size_t kDepth = 32;
    const View* chain[kDepth];
    size_t n = 0;
    for (const View* v = this; v; v = v->superview_) {
        if (!v->identityTransform_ || n == kDepth) {
            if (ownInWindow) *ownInWindow = convertRectTo(bounds_, nullptr);
            return safeRectInWindowSlow();
        }
        chain[n++] = v;
    }
    Point offset;
    Rect above;
    for (size_t i = n; i-- > 0;) {
        const View* v = chain[i];
        offset.x += v->center_.x - v->layer_.anchorPoint.x * v->bounds_.size.width - v->bounds_.origin.x;
        offset.y += v->center_.y - v->layer_.anchorPoint.y * v->bounds_.size.height - v->bounds_.origin.y;
        Rect own = v->bounds_.standardized().offsetBy(offset.x, offset.y);
        if (i == 0 && ownInWindow) *ownInWindow = own;
        Rect inherited = own;
        if (i == n - 1) {
            // A window is its own window.
            if (static_cast<const View*>(v->window_) == v)
                inherited = own.inset(v->window_->profile().currentSafeArea());
        } else {
            // A view outside its ancestors' safe area has none of its own.
            if (!own.intersects(above)) return {};
            inherited = own.intersection(above);
        }
        above = inherited.inset(v->additionalSafeArea_);
    }
    return above;
}

Rect View::safeRectInWindowSlow() const {
    Rect own = convertRectTo(bounds_, nullptr);
    // Extra insets add to what the view inherits from its ancestors.
    Rect inherited = own;
    if (const auto* w = dynamic_cast<const Window*>(this)) {
        inherited = own.inset(w->profile().currentSafeArea());
    } else if (superview_) {
        const Rect above = superview_->safeRectInWindow();
        // A view outside its ancestors' safe area has none of its own.
        if (!own.intersects(above)) return {};
        inherited = own.intersection(above);
    }
    return inherited.inset(additionalSafeArea_);
}

EdgeInsets View::safeAreaInsets() const {
    Rect own;
    Rect safe = safeRectInWindow(&own);
    if (safe.isEmpty()) return {};
    return {std::max(0.0, safe.minY() - own.minY()), std::max(0.0, safe.minX() - own.minX()),
            std::max(0.0, own.maxY() - safe.maxY()), std::max(0.0, own.maxX() - safe.maxX())};
}

void View::addConstraint(const std::shared_ptr<LayoutConstraint>& c) {
    if (!c) return;
    constraints_.push_back(c);
    setNeedsLayout();
}

void View::removeConstraint(const LayoutConstraint* c) {
    std::erase_if(constraints_, [&](auto& x) { return x.get() == c; });
    setNeedsLayout();
}

// ---- Traits

TraitCollection View::traitCollection() const { return window_ ? window_->windowTraits() : Window::deviceTraits(); }

void View::propagateTraitChange(const TraitCollection& previous) {
    traitCollectionDidChange(previous);
    if (controller_) controller_->traitCollectionDidChange(previous);
    for (auto& s : std::vector<ViewPtr>(subviews_)) s->propagateTraitChange(previous);
}

}  // namespace toolkit
