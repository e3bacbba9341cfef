// Drawing a view tree to pixels: each view placed by its center, transform and anchor point,
// faded as a group by its alpha, its shadow cast by the whole group, clipped to its rounded bounds
// when it clips, then its background, shape sublayers, own drawing (the controls' flat look in
// light and dark, or a custom draw), subviews and border. Snapshots render a view or window alone
// and compare with golden PNGs.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/foundation/error.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/bitmap_compare.h"
#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/view.h"

namespace toolkit {

// Draws the view's contents and subviews in its bounds coordinates on the context.
void renderView(View& view, graphics::GraphicsContext& context);

// An image drawn into a rectangle, a template image in the tint unless it carries its own colour.
void drawImageIn(const ImagePtr& image, const Rect& rect, const Color& tint, graphics::GraphicsContext& c);

class ActivityIndicatorView;
// The spinner's spokes in its bounds: all eight, or the last few of the turn (the lightest ones
// leading) as a pull reveals them.
void drawSpinner(const ActivityIndicatorView& spinner, graphics::GraphicsContext& context, int spokes);

class Window;

// A whole window as its screen shows it, the status bar and home indicator over it, on a context
// as big as the window (what was there is cleared first): the desktop window draws every frame
// into the same context this way, and a snapshot of a window is this on a fresh one.
void renderWindow(Window& window, graphics::GraphicsContext& context);

// The view (laid out first) as pixels at a scale (0: its window's screen scale, else the main
// screen's), its own position and transform ignored.
std::shared_ptr<graphics::Bitmap> snapshot(View& view, double scale = 0);
foundation::Status snapshotPNG(View& view, const std::filesystem::path& path, double scale = 0);

class ImageView;
// A view that shows the view's current pixels (at its window's scale), as big as its bounds and
// not changing when the view does. After screen updates, pending layout runs first; otherwise
// the view is drawn as it stands.
std::shared_ptr<ImageView> snapshotView(View& view, bool afterScreenUpdates);

// Snapshots compare with golden PNGs through the drawing layer's comparison.
using SnapshotComparison = graphics::GoldenComparison;
using graphics::compareWithGolden;
using graphics::updatingGoldens;

}  // namespace toolkit
