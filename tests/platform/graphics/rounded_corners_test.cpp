#include <gtest/gtest.h>

#include "platform/graphics/path.h"

using namespace graphics;

// Each corner of a 100 x 40 rectangle, probed just inside its square corner (outside a rounding)
// and just inside the rounding's reach along each edge.
TEST(Path, RoundedCornersFollowTheMask) {
    const Rect r{10, 20, 100, 40};
    struct Probe {
        unsigned corner;
        Point squareTip;
    } probes[] = {
        {kCornerTopLeft, {10.5, 20.5}},
        {kCornerTopRight, {109.5, 20.5}},
        {kCornerBottomLeft, {10.5, 59.5}},
        {kCornerBottomRight, {109.5, 59.5}},
    };
    for (unsigned mask : {0u, 1u, 2u, 4u, 8u, 12u, 15u}) {
        const Path p = Path::roundedRect(r, mask, {8, 6});
        for (const Probe& probe : probes)
            EXPECT_EQ(p.contains(probe.squareTip), !(mask & probe.corner))
                << "mask " << mask << " corner " << probe.corner;
        EXPECT_TRUE(p.contains({60, 40})) << mask;
        const Rect box = p.boundingBox();
        EXPECT_NEAR(box.minX(), 10, 1e-9);
        EXPECT_NEAR(box.maxX(), 110, 1e-9);
        EXPECT_NEAR(box.minY(), 20, 1e-9);
        EXPECT_NEAR(box.maxY(), 60, 1e-9);
    }
    // The rounding is a quarter ellipse 8 across and 6 down: its 45-degree point lies on it.
    const Path bottom = Path::roundedRect(r, kCornerBottomLeft | kCornerBottomRight, {8, 6});
    const double c = 0.70710678;
    const Point onCurve{10 + 8 - 8 * c, 60 - 6 + 6 * c};
    EXPECT_TRUE(bottom.contains({onCurve.x + 0.05, onCurve.y - 0.05}));
    EXPECT_FALSE(bottom.contains({onCurve.x - 0.05, onCurve.y + 0.05}));
    // Radii past half the size are capped: a 10 x 10 square with radius 50 is a circle of 5.
    const Path circle = Path::roundedRect({0, 0, 10, 10}, kAllCorners, {50, 50});
    EXPECT_FALSE(circle.contains({0.8, 0.8}));
    EXPECT_TRUE(circle.contains({5, 0.2}));
    EXPECT_TRUE(circle.contains({1.6, 1.6}));
}
