// Views: geometry about the anchor point, conversion, autoresizing, the deferred layout pass,
// hit-testing, safe areas and tint inheritance.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/layout_constraint.h"
#include "platform/toolkit/outline.h"
#include "platform/toolkit/window.h"

using namespace toolkit;

namespace {

class CountingView : public View {
public:
    using View::View;
    int layouts = 0;
    void layoutSubviews() override { ++layouts; }
};

void expectRect(const Rect& r, double x, double y, double w, double h) {
    EXPECT_NEAR(r.origin.x, x, 1e-9) << describe(r);
    EXPECT_NEAR(r.origin.y, y, 1e-9) << describe(r);
    EXPECT_NEAR(r.size.width, w, 1e-9) << describe(r);
    EXPECT_NEAR(r.size.height, h, 1e-9) << describe(r);
}

}  // namespace

TEST(ToolkitView, TransformAppliesAboutTheAnchorPoint) {
    auto v = std::make_shared<View>(Rect(10, 20, 100, 50));
    v->setTransform(AffineTransform::scale(2, 1));
    expectRect(v->frame(), -40, 20, 200, 50);  // centre (60, 45) stays put
    v->setTransform(AffineTransform::rotation(M_PI / 2));
    expectRect(v->frame(), 35, -5, 50, 100);
    // Moving the anchor to the top-left corner keeps the position, so the frame moves.
    v->setTransform(AffineTransform::identity());
    v->setAnchorPoint({0, 0});
    expectRect(v->frame(), 60, 45, 100, 50);
}

TEST(ToolkitView, ConvertsPointsThroughBoundsOriginsAndTransforms) {
    auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
    auto a = std::make_shared<View>(Rect(10, 10, 200, 200));
    auto b = std::make_shared<View>(Rect(20, 30, 50, 50));
    root->addSubview(a);
    a->addSubview(b);
    Point p = b->convertPointTo({5, 5}, root.get());
    EXPECT_DOUBLE_EQ(p.x, 35);
    EXPECT_DOUBLE_EQ(p.y, 45);
    // Scrolling a (bounds origin) moves what it shows.
    a->setBounds(Rect(0, 100, 200, 200));
    p = b->convertPointTo({5, 5}, root.get());
    EXPECT_DOUBLE_EQ(p.y, -55);
    Point back = b->convertPointFrom(p, root.get());
    EXPECT_NEAR(back.x, 5, 1e-9);
    EXPECT_NEAR(back.y, 5, 1e-9);
    // A rotated view: its local top-left lands at the rotated corner.
    a->setBounds(Rect(0, 0, 200, 200));
    a->setTransform(AffineTransform::rotation(M_PI));
    p = a->convertPointTo({0, 0}, root.get());
    EXPECT_NEAR(p.x, 210, 1e-9);
    EXPECT_NEAR(p.y, 210, 1e-9);
    Rect r = b->convertRectTo(b->bounds(), root.get());
    expectRect(r, 140, 130, 50, 50);
}

TEST(ToolkitView, AutoresizingSharesTheChangeAmongFlexibleParts) {
    struct Case {
        unsigned mask;
        Rect expect;
    };
    // Parent grows from 300 x 200 to 400 x 300; child at (50, 50, 100, 50).
    Case cases[] = {
        {kAutoresizeNone, Rect(50, 50, 100, 50)},
        {kFlexibleWidth, Rect(50, 50, 200, 50)},
        {kFlexibleLeftMargin, Rect(150, 50, 100, 50)},
        {kFlexibleWidth | kFlexibleHeight, Rect(50, 50, 200, 150)},
        {kFlexibleTopMargin | kFlexibleBottomMargin, Rect(50, 50 + 100 * 50.0 / 150, 100, 50)},
        {kFlexibleLeftMargin | kFlexibleWidth | kFlexibleRightMargin,
         Rect(50 + 100 * 50.0 / 300, 50, 100 + 100 * 100.0 / 300, 50)},
    };
    for (auto& c : cases) {
        auto parent = std::make_shared<View>(Rect(0, 0, 300, 200));
        auto child = std::make_shared<View>(Rect(50, 50, 100, 50));
        child->setAutoresizingMask(c.mask);
        parent->addSubview(child);
        parent->setFrame(Rect(0, 0, 400, 300));
        SCOPED_TRACE(c.mask);
        expectRect(child->frame(), c.expect.origin.x, c.expect.origin.y, c.expect.size.width, c.expect.size.height);
    }
}

TEST(ToolkitView, LayoutRunsOnceOnTheNextRunLoopTurn) {
    dispatch::ScopedVirtualClock clock;
    Window window(ScreenProfile::iPhone8());
    auto v = std::make_shared<CountingView>(Rect(0, 0, 10, 10));
    window.addSubview(v);
    clock->runUntilIdle();
    int base = v->layouts;
    EXPECT_EQ(base, 1);
    v->setNeedsLayout();
    v->setFrame(Rect(0, 0, 20, 20));
    v->setNeedsLayout();
    EXPECT_EQ(v->layouts, base) << "layout waits for the next turn";
    clock->runUntilIdle();
    EXPECT_EQ(v->layouts, base + 1) << "marks are batched into one pass";
    // layoutIfNeeded runs a pending pass at once, and nothing when none is pending.
    v->setNeedsLayout();
    v->layoutIfNeeded();
    v->layoutIfNeeded();
    EXPECT_EQ(v->layouts, base + 2);
    clock->runUntilIdle();
    EXPECT_EQ(v->layouts, base + 2);
}

TEST(ToolkitView, HitTestingSkipsHiddenTransparentAndNonInteractiveViews) {
    dispatch::ScopedVirtualClock clock;
    Window window(ScreenProfile::iPhoneSE());
    auto back = std::make_shared<View>(Rect(0, 0, 320, 568));
    auto front = std::make_shared<View>(Rect(0, 0, 100, 100));
    auto child = std::make_shared<View>(Rect(50, 50, 100, 100));  // sticks out of front
    window.addSubview(back);
    window.addSubview(front);
    front->addSubview(child);
    EXPECT_EQ(window.hitTest({10, 10}, nullptr), front.get());
    EXPECT_EQ(window.hitTest({60, 60}, nullptr), child.get());
    // The part outside its superview's bounds is not hit even without clipping.
    EXPECT_EQ(window.hitTest({120, 120}, nullptr), back.get());
    front->setHidden(true);
    EXPECT_EQ(window.hitTest({10, 10}, nullptr), back.get());
    front->setHidden(false);
    front->setAlpha(0.005);
    EXPECT_EQ(window.hitTest({10, 10}, nullptr), back.get());
    front->setAlpha(1);
    front->setUserInteractionEnabled(false);
    EXPECT_EQ(window.hitTest({60, 60}, nullptr), back.get());
    front->setUserInteractionEnabled(true);
    child->setTransform(AffineTransform::scale(0.5, 0.5));  // now (75, 75, 50, 50)
    EXPECT_EQ(window.hitTest({60, 60}, nullptr), front.get());
    EXPECT_EQ(window.hitTest({80, 80}, nullptr), child.get());
}

TEST(ToolkitView, SafeAreaFollowsTheScreenProfileAndExtraInsets) {
    dispatch::ScopedVirtualClock clock;
    Window window(ScreenProfile::iPhoneX());
    auto v = std::make_shared<View>(window.bounds());
    window.addSubview(v);
    EXPECT_EQ(v->safeAreaInsets(), (EdgeInsets{44, 0, 34, 0}));
    auto inner = std::make_shared<View>(Rect(0, 100, 375, 600));
    v->addSubview(inner);
    EXPECT_EQ(inner->safeAreaInsets(), (EdgeInsets{0, 0, 0, 0}));
    inner->setFrame(Rect(0, 20, 375, 792));
    EXPECT_EQ(inner->safeAreaInsets(), (EdgeInsets{24, 0, 34, 0}));
    v->setAdditionalSafeAreaInsets({44, 0, 49, 0});
    EXPECT_EQ(v->safeAreaInsets(), (EdgeInsets{88, 0, 83, 0}));
    EXPECT_EQ(inner->safeAreaInsets(), (EdgeInsets{68, 0, 83, 0}));
    window.setProfile(ScreenProfile::iPhoneX().rotatedTo(Orientation::LandscapeLeft));
    EXPECT_EQ(window.bounds().size, (Size{812, 375}));
    EXPECT_EQ(v->frame().size, (Size{375, 812})) << "no autoresizing mask: the view keeps its size";
}

TEST(ToolkitView, TintIsInheritedAndDimmedByAncestors) {
    struct Watcher : View {
        int changes = 0;
        void tintColorDidChange() override { ++changes; }
    };
    auto root = std::make_shared<View>();
    auto mid = std::make_shared<View>();
    auto leaf = std::make_shared<Watcher>();
    root->addSubview(mid);
    mid->addSubview(leaf);
    root->setTintColor(Color::rgb(1, 0, 0));
    EXPECT_EQ(leaf->tintColor(), Color::rgb(1, 0, 0));
    EXPECT_EQ(leaf->changes, 1);
    mid->setTintColor(Color::rgb(0, 1, 0));
    EXPECT_EQ(leaf->tintColor(), Color::rgb(0, 1, 0));
    root->setTintColor(Color::rgb(0, 0, 1));  // mid's own tint shields the leaf
    EXPECT_EQ(leaf->changes, 2);
    root->setTintAdjustmentMode(TintAdjustmentMode::Dimmed);
    EXPECT_EQ(leaf->tintColor(), Color::white(0.5));
    EXPECT_EQ(leaf->changes, 3);
}

TEST(ToolkitView, ViewWithTagSearchesDepthFirst) {
    auto root = std::make_shared<View>();
    auto a = std::make_shared<View>();
    auto b = std::make_shared<View>();
    auto c = std::make_shared<View>();
    a->setTag(7);
    b->setTag(999);
    c->setTag(999);
    root->addSubview(a);
    a->addSubview(b);
    root->addSubview(c);
    EXPECT_EQ(root->viewWithTag(999), b.get());
    EXPECT_EQ(root->viewWithTag(5), nullptr);
    b->removeFromSuperview();
    EXPECT_EQ(root->viewWithTag(999), c.get());
    EXPECT_EQ(b->superview(), nullptr);
}

TEST(ToolkitView, VisualFormatsPinEdgesAndSizes) {
    dispatch::ScopedVirtualClock clock;
    Window window(ScreenProfile::iPhone8());
    auto container = std::make_shared<View>(Rect(0, 0, 300, 10));
    auto spacer = std::make_shared<View>(Rect(0, 0, 10, 10));
    auto table = std::make_shared<View>(Rect(0, 0, 10, 10));
    window.addSubview(container);
    container->addSubview(spacer);
    container->addSubview(table);
    std::map<std::string, View*> views{{"s", spacer.get()}, {"v", table.get()}, {"c", container.get()}};
    for (const char* f : {"H:|[c]|", "H:|[v]|", "H:|-(12)-[s]-(12)-|", "V:|[s][v]|"}) {
        auto cs = LayoutConstraint::withVisualFormat(f, views);
        ASSERT_TRUE(cs.ok()) << f << ": " << cs.error().localizedDescription();
        LayoutConstraint::activate(*cs);
    }
    auto sh =
        LayoutConstraint::make(spacer.get(), LayoutAttribute::Height, nullptr, LayoutAttribute::NotAnAttribute, 1, 20);
    auto th =
        LayoutConstraint::make(table.get(), LayoutAttribute::Height, nullptr, LayoutAttribute::NotAnAttribute, 1, 88);
    sh->setActive(true);
    th->setActive(true);
    clock->runUntilIdle();
    expectRect(spacer->frame(), 12, 0, 351, 20);
    expectRect(table->frame(), 0, 20, 375, 88);
    // The container has no height of its own: its chain of spacer and table gives it one.
    LayoutConstraint::make(container.get(), LayoutAttribute::Top, &window, LayoutAttribute::Top, 1, 64)
        ->setActive(true);
    clock->runUntilIdle();
    expectRect(container->frame(), 0, 64, 375, 108);
    th->setConstant(44);
    clock->runUntilIdle();
    expectRect(table->frame(), 0, 20, 375, 44);
    expectRect(container->frame(), 0, 64, 375, 64);

    for (const char* bad : {"H:|[x]|", "H:|-(8-[v]|", "Q|[v]", "H:|[v]|junk", "H:|[v"}) {
        auto cs = LayoutConstraint::withVisualFormat(bad, views);
        EXPECT_FALSE(cs.ok()) << bad;
    }
}

namespace {
struct PassCountingView : View {
    int layouts = 0;
    void layoutSubviews() override { ++layouts; }
};
}  // namespace

TEST(ToolkitView, LayoutPassesSkipCleanBranchesButReachMarkedAndNewViews) {
    dispatch::ScopedVirtualClock clock;
    Window window(ScreenProfile::iPhone8());
    auto a = std::make_shared<PassCountingView>(), b = std::make_shared<PassCountingView>();
    auto c = std::make_shared<PassCountingView>(), sibling = std::make_shared<PassCountingView>();
    window.addSubview(a);
    a->addSubview(b);
    b->addSubview(c);
    a->addSubview(sibling);
    flushLayout();
    std::vector<PassCountingView*> all{a.get(), b.get(), c.get(), sibling.get()};
    for (auto* v : all) EXPECT_EQ(v->layouts, 1);
    // A mark deep down lays out that view only.
    c->setNeedsLayout();
    flushLayout();
    EXPECT_EQ(c->layouts, 2);
    EXPECT_EQ(a->layouts + b->layouts + sibling->layouts, 3);
    // A subtree that arrives is laid out whole, though its new parent was clean.
    auto d = std::make_shared<PassCountingView>(), e = std::make_shared<PassCountingView>();
    d->addSubview(e);
    flushLayout();
    EXPECT_EQ(e->layouts, 0) << "outside a window nothing is laid out";
    sibling->addSubview(d);
    clock->runUntilIdle();
    EXPECT_EQ(d->layouts, 1);
    EXPECT_EQ(e->layouts, 1);
    EXPECT_EQ(c->layouts, 2);
    // Conversions agree whether or not a transform is on the way.
    b->setFrame(Rect(10, 20, 100, 100));
    c->setFrame(Rect(5, 5, 50, 50));
    Point plain = c->convertPointTo({1, 2}, nullptr);
    EXPECT_EQ(plain, Point(16, 27));
    EXPECT_EQ(c->convertPointFrom(plain, nullptr), Point(1, 2));
    b->setTransform(AffineTransform::scale(2, 2));
    Point scaled = c->convertPointTo({1, 2}, nullptr);
    EXPECT_NEAR(c->convertPointFrom(scaled, nullptr).x, 1, 1e-9);
    EXPECT_NEAR(c->convertPointFrom(scaled, nullptr).y, 2, 1e-9);
    EXPECT_EQ(c->convertRectTo(Rect(0, 0, 10, 10), sibling.get()), Rect(scaled.x - 2 - 0, scaled.y - 4, 20, 20));
}

namespace {

// A view whose label says what it shows, made when asked for.
class ShowsAWord : public View {
public:
    using View::View;
    std::string word;
    mutable int made = 0;
    void show(std::string w) {
        word = std::move(w);
        setAccessibilityLabelMadeWhenAsked();
    }

protected:
    std::string makeAccessibilityLabel() const override {
        ++made;
        return "shows " + word;
    }
};

}  // namespace

// A label made when asked for says what the view shows when it is asked, once for each change;
// a label set outright afterwards replaces the one still to be made, and the outline prints it.
TEST(ToolkitView, ALabelMadeWhenAskedSaysWhatTheViewShowsThen) {
    Window window(ScreenProfile::iPhone8());
    auto v = std::make_shared<ShowsAWord>(Rect(0, 0, 50, 20));
    window.addSubview(v);
    v->show("one");
    v->show("two");
    EXPECT_EQ(v->made, 0) << "made before anyone asked";
    EXPECT_EQ(v->accessibilityLabel(), "shows two");
    EXPECT_EQ(static_cast<const View&>(*v).accessibility().label, "shows two");
    EXPECT_EQ(v->made, 1);
    v->show("three");
    EXPECT_NE(outline(window).find("label=\"shows three\""), std::string::npos) << outline(window);
    v->show("four");
    v->accessibility().label = "set outright";
    EXPECT_EQ(v->accessibilityLabel(), "set outright");
    EXPECT_EQ(v->accessibility().label, "set outright");
}
