// Views that keep their drawing as pixels. A view may ask for it (a table's rows, while they
// scroll): the renderer then keeps the pixels of the view's drawing, its subviews' included, and
// while nothing in it changes, a frame that finds the view only moved copies those pixels to its
// new place instead of drawing it again. Anything that changes what the view draws drops them: a
// display or layout request in it or below it, subviews added, removed or hidden, alpha,
// transforms, layer styling, size, tint, the appearance (light or dark) and the scale. The pixels
// are kept only where copying them gives the pixels that drawing the view gives (see renderer.cpp):
// elsewhere the view is drawn as any other.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/graphics/bitmap.h"
#include "platform/toolkit/view.h"

namespace toolkit {

void setShouldRasterize(const ViewPtr& view, bool on);
bool shouldRasterize(const View& view);
// Frames in which a view was copied from its kept pixels, over the program's life.
uint64_t rasterCopies();

// What the renderer keeps for such a view.
namespace raster {

// Everything a view's drawing depends on that can change from frame to frame, its place in its
// superview left out.
struct Key {
    std::vector<double> numbers;
    std::vector<std::optional<Color>> colours;
    friend bool operator==(const Key&, const Key&) = default;
};

// The key of the view's drawing at this appearance and scale, or none when it depends on what no
// key tells (a running animation or spinner, a caret, layer masks, gradients and shapes, whose
// contents may change in place).
std::optional<Key> keyOf(const View& view, graphics::UserInterfaceStyle style, double scale);

struct Entry {
    std::weak_ptr<View> view;
    // The key of the last frame that drew the view, and the pixels drawn with it (none until two
    // frames in a row find the same key: a view shown for one frame only is not worth keeping).
    std::optional<Key> key;
    std::shared_ptr<graphics::Bitmap> pixels;
};

// The entry of a view that asked to be kept as pixels; null for any other.
Entry* entryOf(const View& view);
void noteCopy();
// Lets go of the pixels of views that died.
void dropDead();

}  // namespace raster
}  // namespace toolkit
