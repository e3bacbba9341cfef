// Scroll momentum on the virtual clock: a flick glides on to a rest projected from the finger's
// velocity (which the delegate may move and the range bounds), decelerating in steps until the
// delegate hears the end; new touches and programmatic offsets stop it. zoomToRect as a table.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

std::string pt(Point p) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "(%g, %g)", p.x, p.y);
    return buf;
}

class Glide : public ScrollViewDelegate {
public:
    Log log;
    Point velocity;
    Point proposed;
    std::function<void(Point*)> moveTarget;
    int scrolls = 0;
    void scrollViewDidScroll(ScrollView&) override { ++scrolls; }
    void scrollViewWillBeginDragging(ScrollView&) override { log.push_back("willBeginDragging"); }
    void scrollViewWillEndDragging(ScrollView&, Point v, Point* target) override {
        velocity = v;
        proposed = *target;
        if (moveTarget) moveTarget(target);
        log.push_back("willEndDragging " + pt(*target));
    }
    void scrollViewDidEndDragging(ScrollView&, bool decelerate) override {
        log.push_back(decelerate ? "didEndDragging decelerate" : "didEndDragging stop");
    }
    void scrollViewWillBeginDecelerating(ScrollView&) override { log.push_back("willBeginDecelerating"); }
    void scrollViewDidEndDecelerating(ScrollView& s) override {
        log.push_back("didEndDecelerating " + pt(s.contentOffset()));
    }
};

// Sees every move, as a subclass that adjusts its insets while the user scrolls would.
class WatchingScrollView : public ScrollView {
public:
    using ScrollView::ScrollView;
    int whileDragging = 0, whileDecelerating = 0, otherwise = 0;
    void setContentOffset(Point offset, bool animated = false) override {
        (isDragging() ? whileDragging : isDecelerating() ? whileDecelerating : otherwise)++;
        ScrollView::setContentOffset(offset, animated);
    }
};

struct GlidingScreen {
    Harness h{ScreenProfile::iPhone8(), 15};
    std::shared_ptr<WatchingScrollView> sv = std::make_shared<WatchingScrollView>(Rect(0, 100, 375, 400));
    std::shared_ptr<Glide> d = std::make_shared<Glide>();
    GlidingScreen() {
        auto root = std::make_shared<ViewController>();
        h.setRoot(root);
        sv->contentInsetAdjustmentBehavior = ContentInsetAdjustment::Never;
        sv->setContentSize({375, 4000});
        sv->delegate = d;
        root->view()->addSubview(sv);
        h.settle();
    }
};

}  // namespace

TEST(ToolkitScrollMomentum, TheRestIsProjectedFromTheVelocityAndTheRate) {
    // An independent reckoning: a speed that keeps the share r each millisecond covers v * r^k in
    // its k-th millisecond, for as long as it stays above the speed at which content looks still.
    auto covered = [](Point v, double r) {
        Point sum{0, 0};
        double share = 1;
        for (int k = 0; k < 200000; ++k) {
            share *= r;
            if (std::hypot(v.x, v.y) * share < ScrollView::kRestingSpeed) break;
            sum.x += v.x * share, sum.y += v.y * share;
        }
        return sum;
    };
    struct Case {
        double rate;
        Point velocity;
    };
    const std::vector<Case> cases = {
        {ScrollView::kDecelerationNormal, {0, 2}},
        {ScrollView::kDecelerationNormal, {0, -0.5}},
        {ScrollView::kDecelerationFast, {0, 2}},
        {ScrollView::kDecelerationFast, {1, -3}},
        {ScrollView::kDecelerationNormal, {0, 0.015}},  // let go slower than still content moves
        {0.95, {0, 0}},
    };
    GlidingScreen s;
    s.sv->setContentOffset({0, 1000});
    for (const Case& c : cases) {
        s.sv->decelerationRate = c.rate;
        // Within the last millisecond's step.
        Point rest = s.sv->projectedRest(c.velocity);
        EXPECT_NEAR(rest.x, covered(c.velocity, c.rate).x, ScrollView::kRestingSpeed) << c.rate;
        EXPECT_NEAR(rest.y, 1000 + covered(c.velocity, c.rate).y, ScrollView::kRestingSpeed) << c.rate;
    }
}

TEST(ToolkitScrollMomentum, AFlickGlidesOnTheClockToTheRest) {
    struct Case {
        const char* name;
        Point start;
        Point delta;  // the content's drag
        bool rest;    // rest before letting go
        std::function<void(Point*)> moveTarget;
        bool glides;
    };
    const std::vector<Case> cases = {
        {"flick down the content", {0, 0}, {0, 300}, false, nullptr, true},
        {"flick back up", {0, 2000}, {0, -300}, false, nullptr, true},
        {"flick against the end", {0, 3400}, {0, 150}, false, nullptr, true},
        {"the delegate snaps to 100s",
         {0, 0},
         {0, 300},
         false,
         [](Point* t) { t->y = std::round(t->y / 100) * 100 + 50; },
         true},
        {"the delegate keeps it where it is", {0, 0}, {0, 300}, false, [](Point* t) { t->y = 300; }, false},
        {"a drag that rests", {0, 0}, {0, 300}, true, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GlidingScreen s;
        s.sv->setContentOffset(c.start);
        s.d->moveTarget = c.moveTarget;
        if (c.rest)
            s.h.scroll(*s.sv, c.delta);
        else
            s.h.fling(*s.sv, c.delta, 0.08);
        Point released{0, c.start.y + c.delta.y};
        if (c.rest) {
            EXPECT_EQ(s.sv->contentOffset(), released);
            EXPECT_EQ(s.d->log, (Log{"willBeginDragging", "willEndDragging " + pt(released), "didEndDragging stop"}));
            EXPECT_EQ(s.d->velocity, Point(0, 0));
            continue;
        }
        // 300 points in 80 ms, 37.5 in each 10 ms step: 3.75 points per millisecond.
        EXPECT_NEAR(s.d->velocity.y, c.delta.y / 80, 1e-9);
        EXPECT_EQ(s.d->velocity.x, 0) << "only the axes that scroll";
        // Less the way the resting speed would have covered: the glide ends there.
        double free = released.y + (c.delta.y / 80 - std::copysign(ScrollView::kRestingSpeed, c.delta.y)) * 499;
        EXPECT_NEAR(s.d->proposed.y, std::clamp(free, 0.0, 3600.0), 1e-6) << "projected, within the range";
        Point target = s.d->proposed;
        if (c.moveTarget) c.moveTarget(&target);
        if (!c.glides) {
            EXPECT_FALSE(s.sv->isDecelerating());
            EXPECT_EQ(s.d->log.back(), "didEndDragging stop");
            continue;
        }
        EXPECT_EQ(s.d->log, (Log{"willBeginDragging", "willEndDragging " + pt(target), "didEndDragging decelerate",
                                 "willBeginDecelerating"}));
        // The glide takes its time on the clock: still under way after settling and a second.
        EXPECT_TRUE(s.sv->isDecelerating());
        EXPECT_EQ(s.sv->contentOffset(), released);
        if (target.y == 3600) {
            // Content that meets the end on the way glides freely into it (1.875 points a
            // millisecond, 50 points away: about 27 ms) and rests there, the glide over.
            s.h.advance(0.05);
            EXPECT_FALSE(s.sv->isDecelerating());
            EXPECT_EQ(s.sv->contentOffset(), target);
            EXPECT_EQ(s.d->log.back(), "didEndDecelerating " + pt(target));
            EXPECT_GT(s.sv->whileDecelerating, 0) << "each step goes through the overridable setter";
            continue;
        }
        s.h.advance(0.5);
        double y1 = s.sv->contentOffset().y;
        EXPECT_TRUE(s.sv->isDecelerating());
        EXPECT_GT(std::fabs(y1 - released.y), std::fabs(target.y - released.y) / 3) << "fast at first";
        EXPECT_LT(std::fabs(y1 - released.y), std::fabs(target.y - released.y));
        s.h.advance(0.5);
        double y2 = s.sv->contentOffset().y;
        EXPECT_LT(std::fabs(y2 - y1), std::fabs(y1 - released.y)) << "slower later";
        s.h.advance(10);
        EXPECT_FALSE(s.sv->isDecelerating());
        EXPECT_EQ(s.sv->contentOffset(), target);
        EXPECT_EQ(s.d->log.back(), "didEndDecelerating " + pt(target));
        EXPECT_GT(s.sv->whileDecelerating, 10) << "each step goes through the overridable setter";
        EXPECT_GT(s.sv->whileDragging, 0);
        EXPECT_EQ(s.sv->otherwise, 1) << "only the test's own start";
    }
}

TEST(ToolkitScrollMomentum, TouchesAndOffsetsStopAGlide) {
    GlidingScreen s;
    s.h.fling(*s.sv, {0, 300});
    s.h.advance(0.3);
    ASSERT_TRUE(s.sv->isDecelerating());
    // A finger on the gliding content catches it: a new drag, without an end of deceleration.
    s.h.scroll(*s.sv, {0, 10});
    EXPECT_FALSE(s.sv->isDecelerating());
    Point caught = s.sv->contentOffset();
    s.h.advance(5);
    EXPECT_EQ(s.sv->contentOffset(), caught);
    for (auto& line : s.d->log) EXPECT_EQ(line.find("didEndDecelerating"), std::string::npos) << line;

    // An offset set in code ends the glide too.
    s.h.fling(*s.sv, {0, 300});
    s.h.advance(0.3);
    ASSERT_TRUE(s.sv->isDecelerating());
    s.sv->setContentOffset({0, 42});
    EXPECT_FALSE(s.sv->isDecelerating());
    s.h.advance(5);
    EXPECT_EQ(s.sv->contentOffset(), Point(0, 42));
}

TEST(ToolkitScrollMomentum, AnOffsetSetDuringASettleEndsTheDeceleration) {
    // Released past the top at rest, the content settles back over 0.3 s; an offset set in
    // that time takes over, and the view must not stay "decelerating" for good.
    GlidingScreen s;
    Animations::setTimed(true);
    s.h.scroll(*s.sv, {0, -200});
    ASSERT_TRUE(s.sv->isDecelerating());
    s.sv->setContentOffset({0, 100});
    EXPECT_FALSE(s.sv->isDecelerating());
    s.h.advance(1);
    EXPECT_FALSE(s.sv->isDecelerating());
    EXPECT_EQ(s.sv->contentOffset(), Point(0, 100));
    Animations::setTimed(false);
}

namespace {
class Zoomer : public ScrollViewDelegate {
public:
    std::shared_ptr<View> content;
    int zooms = 0;
    View* viewForZooming(ScrollView&) override { return content.get(); }
    void scrollViewDidZoom(ScrollView&) override { ++zooms; }
};
}  // namespace

TEST(ToolkitScrollMomentum, ZoomToRectFitsAndCentresTheRect) {
    // A 375 x 300 scroll view over a 200 x 100 picture, zoom 1 to 5.
    struct Case {
        Rect rect;
        double scale;
        Point offset;
    };
    const std::vector<Case> cases = {
        // 75 x 60 fits 5 times in both ways: centre (112.5, 50) x 5 = (562.5, 250).
        {Rect(75, 20, 75, 60), 5, {562.5 - 187.5, 250 - 150}},
        // Twice as tall as wide a rect: the height decides (300 / 150 = 2).
        {Rect(0, 0, 50, 150), 2, {0, 0}},
        // A small rect asks for more than the maximum: held at 5, centred as far as the content goes.
        {Rect(190, 90, 10, 10), 5, {1000 - 375, 500 - 300}},
        // The whole picture and more: held at the minimum, which shows all of it at rest.
        {Rect(0, 0, 800, 400), 1, {0, 0}},
    };
    Harness h;
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto sv = std::make_shared<ScrollView>(Rect(0, 100, 375, 300));
    sv->contentInsetAdjustmentBehavior = ContentInsetAdjustment::Never;
    sv->maximumZoomScale = 5;
    auto z = std::make_shared<Zoomer>();
    z->content = std::make_shared<View>(Rect(0, 0, 200, 100));
    sv->addSubview(z->content);
    sv->setContentSize({200, 100});
    sv->delegate = z;
    root->view()->addSubview(sv);
    h.settle();
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.rect));
        int before = z->zooms;
        sv->zoomToRect(c.rect, false);
        EXPECT_DOUBLE_EQ(sv->zoomScale(), c.scale);
        EXPECT_EQ(sv->contentSize(), Size(200 * c.scale, 100 * c.scale));
        EXPECT_EQ(sv->contentOffset(), c.offset);
        EXPECT_EQ(z->zooms, before + 1);
    }
    // Nothing to zoom into: no change.
    sv->zoomToRect(Rect(0, 0, 0, 10), false);
    EXPECT_DOUBLE_EQ(sv->zoomScale(), 1);
}

namespace {
class RowsController : public TableViewController {
public:
    std::vector<IndexPath> selected;
    long numberOfRows(TableView&, long) override { return 100; }
    TableViewCellPtr cellForRow(TableView& t, IndexPath ip) override {
        auto cell = t.dequeueReusableCell("row");
        if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
        cell->textLabel().setText("Row " + std::to_string(ip.row));
        return cell;
    }
    void didSelectRow(TableView&, IndexPath ip) override { selected.push_back(ip); }
};
}  // namespace

TEST(ToolkitScrollMomentum, ATapOnGlidingRowsOnlyStopsThem) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<RowsController>();
    h.setRoot(list);
    TableView& t = *list->tableView();
    h.fling(t, {0, 300});
    h.advance(0.2);
    ASSERT_TRUE(t.isDecelerating());
    Point stopped = t.contentOffset();
    h.tap(Point{100, 300});
    EXPECT_FALSE(t.isDecelerating());
    EXPECT_EQ(t.contentOffset(), stopped);
    EXPECT_TRUE(list->selected.empty()) << "the tap only caught the rows";
    EXPECT_FALSE(t.indexPathForSelectedRow());
    // At rest, the next tap selects.
    h.tap(Point{100, 300});
    ASSERT_EQ(list->selected.size(), 1u);
    EXPECT_EQ(list->selected[0], *t.indexPathForRowAtPoint({100, t.contentOffset().y + 300}));
}

// Flicks of several speeds at both rates, frame by frame on the clock: the list counts itself as
// moving only while it visibly moves (at least a quarter of a point each frame, half a pixel on
// this screen), comes to rest at the target, and the first tap after selects the row under it
// (a glide once crept under a point a frame for more than a second, and a tap then only stopped
// it).
TEST(ToolkitScrollMomentum, AGlideCountsAsMovingOnlyWhileItVisiblyMovesAndTheTapAfterSelects) {
    const struct {
        double rate;
        double points;  // dragged in 80 ms
    } flicks[] = {{ScrollView::kDecelerationNormal, 300},
                  {ScrollView::kDecelerationNormal, 60},
                  {ScrollView::kDecelerationNormal, 12},
                  {ScrollView::kDecelerationFast, 300},
                  {ScrollView::kDecelerationFast, 40}};
    for (const auto& flick : flicks) {
        SCOPED_TRACE(std::to_string(flick.points) + " points at " + std::to_string(flick.rate));
        Harness h(ScreenProfile::iPhone8(), 15);
        auto list = std::make_shared<RowsController>();
        h.setRoot(list);
        TableView& t = *list->tableView();
        t.decelerationRate = flick.rate;
        t.setContentOffset({0, 1000});
        h.settle();
        h.fling(t, {0, flick.points}, 0.08);
        int frames = 0;
        for (double before = t.contentOffset().y; t.isDecelerating(); before = t.contentOffset().y) {
            ASSERT_LT(++frames, 600) << "at rest within ten seconds";
            h.advance(1.0 / 60);
            if (t.isDecelerating()) {
                ASSERT_GE(std::fabs(t.contentOffset().y - before), 0.25) << "frame " << frames << " looked still";
            }
        }
        EXPECT_GT(t.contentOffset().y, 1000 + flick.points) << "it glided on";
        h.advance(1);
        const double rest = t.contentOffset().y;
        h.tap(Point{100, 300});
        ASSERT_EQ(list->selected.size(), 1u) << "the first tap selected";
        EXPECT_EQ(list->selected[0], *t.indexPathForRowAtPoint({100, rest + 300}));
    }
}
