#include "platform/toolkit/renderer.h"
#include "platform/toolkit/menu_panel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "platform/foundation/files.h"
#include "platform/graphics/bitmap_compare.h"
#include "platform/graphics/clip_pixels.h"
#include "platform/graphics/codecs.h"
#include "platform/graphics/screen_scale.h"
#include "platform/graphics/text_layout.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/bar_item_view.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/raster_cache.h"
#include "platform/toolkit/renderer_bars.h"
#include "platform/toolkit/renderer_cells.h"
#include "platform/toolkit/renderer_controls.h"
#include "platform/toolkit/status_bar.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"

namespace toolkit {
namespace {

using graphics::GraphicsContext;
using graphics::onWholePixel;

void drawLabel(const Label& label, GraphicsContext& c) {
    if (label.text().empty()) return;
    const Rect b = label.bounds();
    // The lines the label measures, centred down its bounds.
    const TextBox& box = label.textBox(b.width());
    graphics::drawTextLines(c, box.lines, {b.minX(), b.minY() + (b.height() - box.size.height) / 2});
}

Rect imageRect(const Rect& b, Size s, ContentMode mode) {
    if (s.width <= 0 || s.height <= 0) return b;
    switch (mode) {
        case ContentMode::ScaleAspectFit:
        case ContentMode::ScaleAspectFill: {
            const double k = mode == ContentMode::ScaleAspectFit ? std::min(b.width() / s.width, b.height() / s.height)
                                                                 : std::max(b.width() / s.width, b.height() / s.height);
            return {b.midX() - s.width * k / 2, b.midY() - s.height * k / 2, s.width * k, s.height * k};
        }
        case ContentMode::Center:
            return {b.midX() - s.width / 2, b.midY() - s.height / 2, s.width, s.height};
        case ContentMode::Top:
            return {b.midX() - s.width / 2, b.minY(), s.width, s.height};
        case ContentMode::Bottom:
            return {b.midX() - s.width / 2, b.maxY() - s.height, s.width, s.height};
        case ContentMode::Left:
            return {b.minX(), b.midY() - s.height / 2, s.width, s.height};
        case ContentMode::Right:
            return {b.maxX() - s.width, b.midY() - s.height / 2, s.width, s.height};
        default:
            return b;
    }
}

void drawImageView(const ImageView& view, GraphicsContext& c) {
    const ImagePtr image = view.isHighlighted() && view.highlightedImage() ? view.highlightedImage() : view.image();
    if (!image) return;
    c.save();
    c.clipToRect(view.bounds());
    drawImageIn(image, imageRect(view.bounds(), image->size(), view.contentMode()), view.tintColor(), c);
    c.restore();
}

void drawSwitch(const Switch& s, GraphicsContext& c) {
    const Rect b = s.bounds();
    const Rect track{b.minX(), b.midY() - 15.5, 51, 31};
    c.addPath(graphics::Path::roundedRect(track, 15.5));
    c.setFillColor(s.isOn() ? s.onTintColor.value_or(Color::systemGreen()) : Color::systemGray5());
    c.fillPath();
    const double x = s.isOn() ? track.maxX() - 29 : track.minX() + 2;
    c.save();
    c.setShadow({0, 2}, 4, Color::white(0, 0.2));
    c.setFillColor(Color::whiteColor());
    c.fillEllipse({x, track.minY() + 2, 27, 27});
    c.restore();
}

void drawSlider(const Slider& s, GraphicsContext& c) {
    const Rect b = s.bounds();
    const double span = s.maximumValue - s.minimumValue;
    const double f = span > 0 ? std::clamp((s.value() - s.minimumValue) / span, 0.0, 1.0) : 0;
    const double thumb = 28, left = b.minX() + thumb / 2, right = b.maxX() - thumb / 2;
    const double x = left + (right - left) * f;
    c.setFillColor(Color::systemGray4());
    c.addPath(graphics::Path::roundedRect({b.minX(), b.midY() - 2, b.width(), 4}, 2));
    c.fillPath();
    c.setFillColor(s.minimumTrackTintColor.value_or(s.tintColor()));
    c.addPath(graphics::Path::roundedRect({b.minX(), b.midY() - 2, x - b.minX(), 4}, 2));
    c.fillPath();
    // A thumb image set for the slider's state stands in for the round thumb (an empty one hides it).
    if (const auto image = s.thumbImageForState(s.state())) {
        const Size size = image->size();
        c.drawImage(*image, {x - size.width / 2, b.midY() - size.height / 2, size.width, size.height});
        return;
    }
    c.save();
    c.setShadow({0, 2}, 4, Color::white(0, 0.25));
    c.setFillColor(Color::whiteColor());
    c.fillEllipse({x - thumb / 2, b.midY() - thumb / 2, thumb, thumb});
    c.restore();
}

void drawProgress(const ProgressView& p, GraphicsContext& c) {
    const Rect b = p.bounds();
    const double h = std::max(2.0, std::min(4.0, b.height()));
    const Rect track{b.minX(), b.midY() - h / 2, b.width(), h};
    c.setFillColor(p.trackTintColor.value_or(Color::systemGray5()));
    c.addPath(graphics::Path::roundedRect(track, h / 2));
    c.fillPath();
    c.setFillColor(p.tintColor());
    c.addPath(graphics::Path::roundedRect(
        {track.minX(), track.minY(),
         track.width() * std::clamp(presentedValue(p, AnimatedProperty::Progress, p.progress()), 0.0, 1.0), h},
        h / 2));
    c.fillPath();
}

}  // namespace

void drawImageIn(const ImagePtr& image, const Rect& rect, const Color& tint, GraphicsContext& c) {
    if (!image) return;
    // Template images take the view's tint unless they carry a colour of their own.
    if (image->renderingMode() == RenderingMode::alwaysTemplate && !image->tintColor()) {
        c.drawImage(*image->withTintColor(tint), rect);
    } else {
        c.drawImage(*image, rect);
    }
}

void drawSpinner(const ActivityIndicatorView& a, GraphicsContext& c, int spokes) {
    const Rect b = a.bounds();
    const bool large = a.style == ActivityIndicatorStyle::WhiteLarge || a.style == ActivityIndicatorStyle::Large;
    const double radius = large ? 18 : 10, inner = radius * 0.45, width = large ? 3.5 : 2;
    const Color colour =
        a.color.value_or(a.style == ActivityIndicatorStyle::Gray || a.style == ActivityIndicatorStyle::Medium ||
                                 a.style == ActivityIndicatorStyle::Large
                             ? Color::systemGray()
                             : Color::whiteColor());
    c.setLineWidth(width);
    c.setLineCap(graphics::LineCap::round);
    // The darkest spoke leads, turning clockwise while the spinner spins on a timed screen.
    const int phase = a.isAnimating() ? spinnerPhase() : 0;
    for (int i = 8 - std::clamp(spokes, 0, 8); i < 8; ++i) {
        const double angle = -std::numbers::pi / 2 + (i + phase) * std::numbers::pi / 4;
        c.setStrokeColor(colour.withAlphaComponent(0.25 + 0.75 * (8 - i) / 8.0));
        c.moveTo({b.midX() + inner * std::cos(angle), b.midY() + inner * std::sin(angle)});
        c.lineTo({b.midX() + radius * std::cos(angle), b.midY() + radius * std::sin(angle)});
        c.strokePath();
    }
}

namespace {

void drawButtonBackground(const Button& button, GraphicsContext& c) {
    if (ImagePtr background = button.backgroundImageForState(button.state())) {
        drawImageIn(background, button.bounds(), button.tintColor(), c);
    }
}

// The built-in looks of the toolkit's controls: a view draws the first whose class it is of (a
// view of none draws nothing of its own).
using DrawLook = void (*)(View&, GraphicsContext&);

template <typename T>
bool isA(View& view) {
    return dynamic_cast<T*>(&view) != nullptr;
}

struct OwnLook {
    bool (*is)(View&);
    DrawLook draw;
};

const OwnLook kOwnLooks[] = {
    {isA<Label>, [](View& v, GraphicsContext& c) { drawLabel(static_cast<Label&>(v), c); }},
    {isA<ImageView>, [](View& v, GraphicsContext& c) { drawImageView(static_cast<ImageView&>(v), c); }},
    {isA<Switch>, [](View& v, GraphicsContext& c) { drawSwitch(static_cast<Switch&>(v), c); }},
    {isA<Slider>, [](View& v, GraphicsContext& c) { drawSlider(static_cast<Slider&>(v), c); }},
    {isA<ProgressView>, [](View& v, GraphicsContext& c) { drawProgress(static_cast<ProgressView&>(v), c); }},
    {isA<ActivityIndicatorView>,
     [](View& v, GraphicsContext& c) { drawSpinner(static_cast<ActivityIndicatorView&>(v), c, 8); }},
    {isA<Button>,
     [](View& v, GraphicsContext& c) {
         drawButtonBackground(static_cast<Button&>(v), c);
         drawButtonGlyph(static_cast<Button&>(v), c);
     }},
    {isA<TableViewCell>,
     [](View& v, GraphicsContext& c) {
         drawCellBackground(static_cast<TableViewCell&>(v), c);
         drawCellSelection(static_cast<TableViewCell&>(v), c);
         drawCellAccessory(static_cast<TableViewCell&>(v), c);
     }},
    {isA<RefreshControl>, [](View& v, GraphicsContext& c) { drawRefreshControl(static_cast<RefreshControl&>(v), c); }},
    {isA<TextField>, [](View& v, GraphicsContext& c) { drawTextField(static_cast<TextField&>(v), c); }},
    {isA<TextView>, [](View& v, GraphicsContext& c) { drawTextView(static_cast<TextView&>(v), c); }},
    {isA<BarItemView>, [](View& v, GraphicsContext& c) { drawBarItem(static_cast<BarItemView&>(v), c); }},
    {isA<NavigationBar>, [](View& v, GraphicsContext& c) { drawNavigationBar(static_cast<NavigationBar&>(v), c); }},
    {isA<TabBar>, [](View& v, GraphicsContext& c) { drawTabBar(static_cast<TabBar&>(v), c); }},
};

// The look depends on the view's class alone: found once per class (and thread), not by trying
// each on every view of every frame. None for a class without one (a plain view).
DrawLook ownLookOf(View& view) {
    thread_local std::unordered_map<std::type_index, DrawLook> looks;
    const auto [it, added] = looks.try_emplace(std::type_index(typeid(view)), nullptr);
    if (added) {
        for (const OwnLook& look : kOwnLooks) {
            if (look.is(view)) {
                it->second = look.draw;
                break;
            }
        }
    }
    return it->second;
}

void drawShape(const ShapeLayer& shape, GraphicsContext& c) {
    if (shape.fillColor) {
        c.setFillColor(*shape.fillColor);
        c.addPath(shape.path);
        c.fillPath();
    }
    if (shape.strokeColor && shape.lineWidth > 0) {
        c.setStrokeColor(*shape.strokeColor);
        c.setLineWidth(shape.lineWidth);
        c.addPath(shape.path);
        c.strokePath();
    }
}

// The presented controller whose frame a window's subview lies in: what a popover's or a sheet's
// content presents in its current context (the tablet's favourites over the dial pad, the library
// picker over a new message) takes the content's place inside the same frame.
ViewController* framingController(const View& sub) {
    ViewController* vc = sub.owningController();
    while (vc && vc->presentingViewController() &&
           (vc->presentationStyleInUse() == ModalPresentationStyle::CurrentContext ||
            vc->presentationStyleInUse() == ModalPresentationStyle::OverCurrentContext)) {
        vc = vc->presentingViewController();
        while (vc->parent()) vc = vc->parent();
    }
    return vc && vc->presentingViewController() ? vc : nullptr;
}

// A presented popover's view sits in the window, above its dimming view, inside a frame of its own.
PopoverPresentationController* popoverShowing(const View& parent, const View& sub) {
    if (!dynamic_cast<const Window*>(&parent)) return nullptr;
    ViewController* vc = framingController(sub);
    if (!vc || vc->presentationStyleInUse() != ModalPresentationStyle::Popover) return nullptr;
    return vc->popoverPresentationController();
}

// A form or page sheet's view sits in the window inside a frame of its own: its top corners
// rounded on a card (compact width, running off the bottom of the screen), all four on a sheet in
// the middle of a wide screen, which also casts a shadow over the dimmed screen around it.
constexpr double kSheetRadius = 10;
// How much narrower, each side, the presenter under a card is drawn.
constexpr double kPushedBackInset = 16;
bool sheetShowing(const View& parent, const View& sub, bool& card) {
    if (!dynamic_cast<const Window*>(&parent)) return false;
    ViewController* vc = framingController(sub);
    if (!vc) return false;
    const ModalPresentationStyle style = vc->presentationStyleInUse();
    if (style != ModalPresentationStyle::FormSheet && style != ModalPresentationStyle::PageSheet) return false;
    card = static_cast<const Window&>(parent).windowTraits().horizontal == SizeClass::Compact;
    return true;
}

graphics::Path sheetOutline(const Rect& frame, bool card) {
    return card ? graphics::Path::roundedRect(frame, kCornerTopLeft | kCornerTopRight, {kSheetRadius, kSheetRadius})
                : graphics::Path::roundedRect(frame, kSheetRadius);
}

// An arrow pointing up from a popover whose content starts with a navigation bar takes the bar's
// colour.
std::optional<Color> popoverArrowOverlay(const View& content, unsigned arrow) {
    if (arrow != kArrowUp) return std::nullopt;
    auto* nav = dynamic_cast<NavigationController*>(content.owningController());
    if (!nav || nav->isNavigationBarHidden()) return std::nullopt;
    const NavigationBar& bar = nav->navigationBar();
    if (bar.isHidden() || bar.frame().minY() > 0.5) return std::nullopt;
    return navigationBarBackground(bar);
}

// Moves the context from the superview's bounds coordinates into the subview's.
void placeSubview(const View& sub, GraphicsContext& c) {
    // Where the screen shows it now (its model geometry unless it is animating).
    const Rect sb = presentedBounds(sub);
    const Point anchor = sub.layer().anchorPoint;
    const Point centre = presentedCenter(sub);
    c.translate(centre.x, centre.y);
    c.concat(presentedTransform(sub));
    c.translate(-anchor.x * sb.width() - sb.minX(), -anchor.y * sb.height() - sb.minY());
}

// notOver: where, in the view's bounds coordinates, what lies under it is not known to be the
// backdrop (what earlier siblings of a view that draws nothing of its own painted there).
void renderViewOver(View& view, GraphicsContext& c, const std::optional<Color>& backdrop,
                    const std::vector<Rect>& notOver = {});

// The opaque plain colour a background fills with, as the context draws it; none for a clear,
// translucent or patterned one.
std::optional<Color> opaqueFill(const std::optional<Color>& background, const GraphicsContext& c) {
    if (!background) return std::nullopt;
    const Color resolved = background->resolved(c.userInterfaceStyle());
    if (resolved.isPattern() || resolved.alpha() < 1) return std::nullopt;
    return resolved;
}

// Whether a subview's drawing stays in its frame (in its superview's bounds coordinates) as the
// screen shows it now: it clips to its bounds, stands upright and unmoved, and casts no shadow.
bool staysInFrame(const View& sub) {
    return sub.clipsToBounds() && presentedTransform(sub).isIdentity() && !hasPresentationAnimation(sub) &&
           sub.layer().shadowOpacity <= 0;
}

// An image view with no background, border, layers, mask or subviews of its own: its drawing is
// its image alone (or, for a view that shows frames, the current frame alone).
bool drawsOnlyItsImage(const View& view) {
    const Layer& layer = view.layer();
    return dynamic_cast<const ImageView*>(&view) && view.subviews().empty() && !view.backgroundColor() &&
           layer.borderWidth <= 0 && layer.shapeSublayers.empty() && layer.gradientSublayers.empty() &&
           !view.maskView();
}

// Whether a subview's frame is known to lie on what its superview leaves under it: it stays in its
// frame, or stands there upright and unmoved without shadow, drawing straight onto the canvas (at
// full alpha, or an image view fading its image alone).
bool liesOnItsFrame(const View& sub) {
    if (staysInFrame(sub)) return true;
    return presentedTransform(sub).isIdentity() && !hasPresentationAnimation(sub) && sub.layer().shadowOpacity <= 0 &&
           !sub.maskView() && (presentedAlpha(sub) >= 1 || drawsOnlyItsImage(sub));
}

// What of the view's bounds that shows (within the clip) its subviews leave unpainted, in whole
// pixels of the context, when every other pixel there they paint with opaque colour whatever lies
// there before them: each such subview fills a plain opaque background over its frame, stands
// upright and unmoved at full alpha with no mask, shadow or round corners, and covers those
// pixels whole (an antialiased edge, of a subview or of the clip, lets what is under it show
// through and counts as uncovered). None when that cannot be told (a turned context, a clip that
// is not whole pixels) or no subview covers any of it.
struct PixelBox {
    double x0, y0, x1, y1;
};
std::optional<std::vector<PixelBox>> uncoveredBySubviews(const View& view, const Rect& bounds,
                                                         const GraphicsContext& c) {
    // Views are drawn with paint as it is (full alpha, normal blend, no shadow: a view's fade and
    // shadow apply to a layer holding its drawing).
    const graphics::AffineTransform m = c.ctm();
    if (m.b != 0 || m.c != 0 || m.a == 0 || m.d == 0) return std::nullopt;
    // In pixels: the whole pixels a rectangle touches (outward) or covers entirely (inward).
    constexpr double kSlack = 1e-6;
    auto pixels = [&](const Rect& r, bool outward) {
        const double xa = m.a * r.minX() + m.tx, xb = m.a * r.maxX() + m.tx;
        const double ya = m.d * r.minY() + m.ty, yb = m.d * r.maxY() + m.ty;
        const double x0 = std::min(xa, xb), x1 = std::max(xa, xb), y0 = std::min(ya, yb), y1 = std::max(ya, yb);
        if (outward)
            return PixelBox{std::floor(x0 + kSlack), std::floor(y0 + kSlack), std::ceil(x1 - kSlack),
                            std::ceil(y1 - kSlack)};
        return PixelBox{std::ceil(x0 - kSlack), std::ceil(y0 - kSlack), std::floor(x1 + kSlack),
                        std::floor(y1 + kSlack)};
    };
    const Rect shown = bounds.intersection(c.clipBoundingBox());
    if (shown.isEmpty()) return std::nullopt;
    const PixelBox target = pixels(shown, true);
    std::vector<PixelBox> boxes;
    for (const ViewPtr& sub : view.subviews()) {
        if (!sub || sub->isHidden() || presentedAlpha(*sub) < 1 || hasPresentationAnimation(*sub) ||
            !presentedTransform(*sub).isIdentity() || sub->maskView())
            continue;
        const Layer& layer = sub->layer();
        if (layer.shadowOpacity > 0 || layer.mask || layer.cornerRadius > 0 || !opaqueFill(sub->backgroundColor(), c))
            continue;
        const Rect sb = presentedBounds(*sub);
        const Point centre = presentedCenter(*sub);
        const Rect frame(centre.x - layer.anchorPoint.x * sb.width(), centre.y - layer.anchorPoint.y * sb.height(),
                         sb.width(), sb.height());
        PixelBox box = pixels(frame, false);
        box = {std::max(box.x0, target.x0), std::max(box.y0, target.y0), std::min(box.x1, target.x1),
               std::min(box.y1, target.y1)};
        if (box.x0 < box.x1 && box.y0 < box.y1) boxes.push_back(box);
    }
    if (boxes.empty()) return std::nullopt;
    // Band by band down the target, the gaps between the boxes spanning the band.
    std::vector<double> edges{target.y0, target.y1};
    for (const PixelBox& box : boxes) edges.insert(edges.end(), {box.y0, box.y1});
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<PixelBox> gaps;
    std::vector<std::pair<double, double>> spans;
    for (size_t i = 0; i + 1 < edges.size(); ++i) {
        const double y0 = edges[i], y1 = edges[i + 1];
        if (y0 < target.y0 || y1 > target.y1) continue;
        spans.clear();
        for (const PixelBox& box : boxes)
            if (box.y0 <= y0 && box.y1 >= y1) spans.emplace_back(box.x0, box.x1);
        std::sort(spans.begin(), spans.end());
        double reach = target.x0;
        for (const auto& [x0, x1] : spans) {
            if (x0 > reach) gaps.push_back({reach, y0, x0, y1});
            reach = std::max(reach, x1);
        }
        if (reach < target.x1) gaps.push_back({reach, y0, target.x1, y1});
    }
    if (!graphics::clipIsWholePixels(c)) return std::nullopt;
    return gaps;
}

// The rectangle of whole pixels in the context's user space.
Rect userRect(const PixelBox& box, const GraphicsContext& c) {
    const graphics::AffineTransform m = c.ctm();
    const double xa = (box.x0 - m.tx) / m.a, xb = (box.x1 - m.tx) / m.a;
    const double ya = (box.y0 - m.ty) / m.d, yb = (box.y1 - m.ty) / m.d;
    return {std::min(xa, xb), std::min(ya, yb), std::abs(xb - xa), std::abs(yb - ya)};
}

// Whether the rectangle lies on whole pixels of the context (which only scales and moves it).
bool onWholePixels(const Rect& r, const GraphicsContext& c) {
    const graphics::AffineTransform m = c.ctm();
    return m.b == 0 && m.c == 0 && onWholePixel(m.a * r.minX() + m.tx) && onWholePixel(m.a * r.maxX() + m.tx) &&
           onWholePixel(m.d * r.minY() + m.ty) && onWholePixel(m.d * r.maxY() + m.ty);
}

// A plain view that draws nothing of its own (no background, border, layers or mask; upright and
// unmoved, at full alpha, without shadow): what lies under it shows wherever its subviews do not
// paint.
bool drawsNothingOfItsOwn(const View& view) {
    const Layer& layer = view.layer();
    return typeid(view) == typeid(View) && !view.backgroundColor() && layer.borderWidth <= 0 && !layer.mask &&
           layer.shapeSublayers.empty() && layer.gradientSublayers.empty() && !view.maskView() &&
           layer.shadowOpacity <= 0 && presentedTransform(view).isIdentity() && !hasPresentationAnimation(view) &&
           presentedAlpha(view) >= 1;
}

// Where a subview's drawing, its subviews' included, is known to lie, in its superview's bounds
// coordinates: its frame when it stays there or is an image view drawing only its image (clipped to
// its bounds); for a view that draws nothing of its own, what its shown subviews paint, each known
// the same way (empty: nothing). Unknown otherwise.
std::optional<Rect> paintedExtent(const View& sub, int depth = 0) {
    if (staysInFrame(sub)) return sub.frame();
    const bool upright =
        presentedTransform(sub).isIdentity() && !hasPresentationAnimation(sub) && sub.layer().shadowOpacity <= 0;
    if (upright && drawsOnlyItsImage(sub)) return sub.frame();
    if (depth > 4 || !drawsNothingOfItsOwn(sub)) return std::nullopt;
    const Rect frame = sub.frame(), bounds = sub.bounds();
    std::optional<Rect> extent;
    for (const ViewPtr& inner : sub.subviews()) {
        if (!inner || inner->isHidden() || presentedAlpha(*inner) < 0.01) continue;
        const auto painted = paintedExtent(*inner, depth + 1);
        if (!painted) return std::nullopt;
        if (painted->isEmpty()) continue;
        const Rect placed = painted->offsetBy(frame.minX() - bounds.minX(), frame.minY() - bounds.minY());
        extent = extent ? extent->unionWith(placed) : placed;
    }
    return extent.value_or(Rect{});
}

// The rectangle grown by a pixel of the context all round (whatever it turns or scales), so that a
// rectangle whose inside does not meet it shares no pixel with it, not even an antialiased edge.
std::optional<Rect> grownByAPixel(const Rect& r, const GraphicsContext& c) {
    const graphics::AffineTransform m = c.ctm();
    const double det = std::abs(m.a * m.d - m.b * m.c);
    // Upright, a pixel is 1/scale points each way; turned, its diagonal reaches no further than the
    // inverse transform's norm, which is at most the transform's own (Frobenius) norm over its
    // determinant, times the diagonal's length.
    const double reach = m.b == 0 && m.c == 0 ? 1 / std::min(std::abs(m.a), std::abs(m.d))
                                              : std::sqrt(2 * (m.a * m.a + m.b * m.b + m.c * m.c + m.d * m.d)) / det;
    if (!std::isfinite(reach)) return std::nullopt;
    return r.insetBy(-reach, -reach);
}

// backdrop: the plain opaque colour the view's whole frame is known to lie on (its superview's
// background, with nothing drawn over it there yet), if any. A background of that colour would
// change no pixel and is not filled again (a table's rows over the table's own background).
void renderContents(View& view, GraphicsContext& c, const std::optional<Color>& backdrop,
                    const std::vector<Rect>& notOver = {}) {
    // Geometry and alpha as the screen shows them now (their model values unless animating).
    const Rect b = presentedBounds(view);
    const Layer& layer = view.layer();
    const double radius = std::max(0.0, layer.cornerRadius);
    const std::optional<Color> fill = opaqueFill(view.backgroundColor(), c);
    const bool alreadyThere = backdrop && notOver.empty() && fill && *fill == *backdrop && layer.shadowOpacity <= 0;
    if (layer.mask) {
        c.addPath(layer.mask->path);
        c.clip();
    }
    if (view.clipsToBounds()) {
        c.addPath(graphics::Path::roundedRect(b, radius));
        c.clip();
    }
    // A background wholly under opaque subviews would change no pixel that shows.
    auto* window = dynamic_cast<Window*>(&view);
    std::optional<std::vector<PixelBox>> uncovered;
    if (view.backgroundColor() && !alreadyThere && !window) uncovered = uncoveredBySubviews(view, b, c);
    const bool covered = uncovered && uncovered->empty();
    // Partly covered, a square background on whole pixels is filled only where it shows (the
    // screen's own background around its table).
    const bool partly = uncovered && !covered && radius <= 0 && onWholePixels(b, c);
    if (view.backgroundColor() && !alreadyThere && !covered) {
        c.setFillColor(*view.backgroundColor());
        if (partly) {
            for (const PixelBox& gap : *uncovered) c.addRect(userRect(gap, c));
        } else {
            c.addPath(graphics::Path::roundedRect(b, radius));
        }
        c.fillPath();
    }
    for (const auto& gradient : layer.gradientSublayers) {
        if (!gradient) continue;
        c.save();
        c.addPath(graphics::Path::roundedRect(b, radius));
        c.clip();
        graphics::fillRectWithGradient(c, gradient->frame.value_or(b), {gradient->colors, gradient->locations},
                                       gradient->startPoint, gradient->endPoint);
        c.restore();
    }
    for (const auto& shape : layer.shapeSublayers) {
        if (shape) drawShape(*shape, c);
    }
    // A view without a look of its own saves no state for it.
    if (const DrawLook look = ownLookOf(view)) {
        c.save();
        // An image view that draws only its image draws it first over the colour it lies on.
        if (backdrop && notOver.empty() && drawsOnlyItsImage(view)) c.setKnownBackdrop(*backdrop, b);
        look(view, c);
        c.restore();
    }
    c.save();
    view.draw(c, b);
    c.restore();
    const Rect visible = c.clipBoundingBox();
    // What the subviews lie on: this view's own background all over its bounds, when a plain view,
    // table or cell (which draw nothing else of their own here) fills it with a plain opaque
    // colour; or what the view lies on, when it has no background.
    std::optional<Color> under;
    // Frames of the subviews drawn so far (where they may have drawn over that background).
    std::vector<Rect> drawnOver;
    const auto* cell = dynamic_cast<const TableViewCell*>(&view);
    if (radius <= 0 && !layer.mask && layer.gradientSublayers.empty() && layer.shapeSublayers.empty() &&
        (typeid(view) == typeid(View) || typeid(view) == typeid(TableView) || (cell && cellLookDrawsNothing(*cell)))) {
        if (fill && !covered && !partly) {
            under = fill;
        } else if (!view.backgroundColor()) {
            under = backdrop;
            drawnOver = notOver;
        }
    }
    // Under a card, what presented it is pushed back: on black, a little narrower, from the bottom
    // of the status bar down, with round corners; the dimming and the card lie over it.
    bool pushedBack = window && showsCard(*window);
    if (pushedBack) {
        c.setFillColor(Color::black());
        c.fillRect(b);
    }
    for (const ViewPtr& sub : view.subviews()) {
        if (!sub) continue;
        if (pushedBack && sub->className() == "DimmingView") pushedBack = false;
        if (sub->isHidden() || presentedAlpha(*sub) < 0.01) continue;
        // Views wholly outside the clip are skipped (those with a shadow may reach into it, and
        // moving ones are not where their frame says).
        if (sub->layer().shadowOpacity <= 0 && !sub->frame().intersects(visible) && !hasPresentationAnimation(*sub))
            continue;
        c.save();
        // Popovers and sheets lie in the window alone.
        if (auto* popover = window ? popoverShowing(view, *sub) : nullptr) {
            // The frame fades in and out with the popover's view.
            c.save();
            c.setAlpha(presentedAlpha(*sub));
            // Nothing of the frame, its arrow or its shadow lies further out than this: the
            // layers its shadow needs are made no bigger.
            const double reach = PopoverPresentationController::kArrowHeight + 60;
            c.clipToRect(sub->frame().insetBy(-reach, -reach));
            drawPopoverFrame(sub->frame(), popover->arrowDirection(), popover->anchorInWindow(),
                             popover->backgroundColor, c, popoverArrowOverlay(*sub, popover->arrowDirection()));
            c.restore();
            c.addPath(popoverOutline(sub->frame()));
            c.clip();
        } else if (bool card = false; window && sheetShowing(view, *sub, card)) {
            // Where the sheet is now (it rises into place when animated).
            const Point centre = presentedCenter(*sub);
            const Rect sb = presentedBounds(*sub);
            const Rect f(centre.x - sb.width() / 2, centre.y - sb.height() / 2, sb.width(), sb.height());
            if (!card) {
                c.save();
                c.setAlpha(presentedAlpha(*sub));
                c.clipToRect(f.insetBy(-60, -60));
                c.setShadow({0, 4}, 24, Color::white(0, 0.35));
                c.setFillColor(Color::black());
                c.addPath(sheetOutline(f, card));
                c.fillPath();
                c.restore();
            }
            c.addPath(sheetOutline(f, card));
            c.clip();
        } else if (pushedBack) {
            const double top = window->profile().currentSafeArea().top;
            const double k = (b.width() - 2 * kPushedBackInset) / b.width();
            c.translate(b.midX(), b.minY() + top);
            c.scaleBy(k, k);
            c.translate(-b.midX(), -b.minY());
            c.addPath(graphics::Path::roundedRect(b, kSheetRadius / k));
            c.clip();
        }
        std::optional<Color> subBackdrop;
        // A view that draws nothing of its own passes what it lies on to its subviews, but for
        // where earlier subviews drew (in its coordinates).
        std::vector<Rect> subNotOver;
        if (under && liesOnItsFrame(*sub) && (view.clipsToBounds() || b.contains(sub->frame()))) {
            const bool passes = drawsNothingOfItsOwn(*sub);
            const Rect f = sub->frame(), sb = sub->bounds();
            bool clear = true;
            for (const Rect& r : drawnOver) {
                if (!r.intersects(f)) continue;
                clear = false;
                if (passes) subNotOver.push_back(r.offsetBy(sb.minX() - f.minX(), sb.minY() - f.minY()));
            }
            if (clear || passes) subBackdrop = under;
        }
        placeSubview(*sub, c);
        renderViewOver(*sub, c, subBackdrop, subNotOver);
        c.restore();
        // A subview whose drawing may reach anywhere leaves nothing known of what lies below; one
        // that stays in its frame is known to have drawn only there, and one that draws nothing of
        // its own only where its subviews did (to the pixel).
        if (staysInFrame(*sub)) {
            drawnOver.push_back(sub->frame());
        } else if (const auto painted = under ? paintedExtent(*sub) : std::nullopt; !painted) {
            under.reset();
        } else if (!painted->isEmpty()) {
            if (const auto grown = grownByAPixel(*painted, c))
                drawnOver.push_back(*grown);
            else
                under.reset();
        }
    }
    // A cell's separator lies over its content.
    if (auto* cell = dynamic_cast<TableViewCell*>(&view)) drawCellSeparator(*cell, c);
    if (layer.borderWidth > 0) {
        const double w = layer.borderWidth;
        c.setStrokeColor(layer.borderColor);
        c.setLineWidth(w);
        c.addPath(graphics::Path::roundedRect(b.insetBy(w / 2, w / 2), std::max(0.0, radius - w / 2)));
        c.strokePath();
    }
}

// Where the view's drawing, its subviews' included, is known to stay: its bounds when it clips to
// them, or when it is an image view with nothing inside it (an image view's own drawing is clipped
// to its bounds). Unknown otherwise.
std::optional<Rect> drawnExtent(const View& view) {
    const Layer& layer = view.layer();
    if (view.clipsToBounds()) return presentedBounds(view);
    if (dynamic_cast<const ImageView*>(&view) && view.subviews().empty() && layer.shapeSublayers.empty())
        return presentedBounds(view);
    return std::nullopt;
}

// A view kept as pixels (raster_cache.h), drawn from them where that gives the pixels drawing it
// gives: it paints its whole bounds opaque (it clips to them and fills them with a plain opaque
// colour, or is wholly covered by subviews that do), stands at full alpha without shadow or mask,
// lies on whole pixels of a context that only scales and moves it, at the context's own scale,
// inside a clip of whole pixels. The pixels are made the second frame in a row that finds the same
// key: until then the view is drawn anew. Answers false when it is to be drawn as any other view.
bool drawnFromPixels(View& view, raster::Entry& entry, GraphicsContext& c) {
    const auto drawAnew = [&] {
        entry.key.reset();
        entry.pixels.reset();
        return false;
    };
    const Layer& layer = view.layer();
    const std::optional<Color> fill = opaqueFill(view.backgroundColor(), c);
    if (!fill || !view.clipsToBounds() || layer.cornerRadius > 0 || layer.mask || view.maskView() ||
        layer.shadowOpacity > 0 || hasPresentationAnimation(view) || presentedAlpha(view) < 1)
        return drawAnew();
    // Where the pixels cannot be copied to this context, they stay for a frame where they can.
    const graphics::AffineTransform m = c.ctm();
    const double s = m.a;
    if (m.b != 0 || m.c != 0 || m.d != s || s != c.scale()) return false;
    const Rect b = view.bounds();
    const double x = s * b.minX() + m.tx, y = s * b.minY() + m.ty, w = s * b.width(), h = s * b.height();
    if (!onWholePixel(x) || !onWholePixel(y) || !onWholePixel(w) || !onWholePixel(h) || w < 1 || h < 1 ||
        !graphics::clipIsWholePixels(c))
        return false;
    auto key = raster::keyOf(view, c.userInterfaceStyle(), s);
    if (!key) return drawAnew();
    const long pw = std::lround(w), ph = std::lround(h);
    if (!entry.pixels || entry.key != key || entry.pixels->width() != pw || entry.pixels->height() != ph) {
        if (entry.key != key) {
            entry.key = std::move(key);
            entry.pixels.reset();
            return false;
        }
        // The view's drawing on its own background, as it lies on it when drawn in place.
        auto made = GraphicsContext::image({b.width(), b.height()}, true, s);
        if (!made.ok()) return drawAnew();
        GraphicsContext& own = **made;
        own.setUserInterfaceStyle(c.userInterfaceStyle());
        own.setFillColor(*fill);
        own.fillRect({0, 0, b.width(), b.height()});
        own.translate(-b.minX(), -b.minY());
        renderContents(view, own, fill);
        entry.pixels = GraphicsContext::finishBitmap(std::move(*made));
        if (!entry.pixels || entry.pixels->width() != pw || entry.pixels->height() != ph) return drawAnew();
    }
    graphics::copyPixels(c, *entry.pixels, static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
    raster::noteCopy();
    return true;
}

}  // namespace

void renderView(View& view, GraphicsContext& c) { renderViewOver(view, c, std::nullopt); }

namespace {

void renderViewOver(View& view, GraphicsContext& c, const std::optional<Color>& backdrop,
                    const std::vector<Rect>& notOver) {
    if (auto* entry = raster::entryOf(view); entry && drawnFromPixels(view, *entry, c)) return;
    c.save();
    const Layer& layer = view.layer();
    const bool shadow = layer.shadowOpacity > 0 && layer.shadowColor;
    const double alpha = presentedAlpha(view);
    // An image view that draws nothing but its image fades the image itself: no layer is needed
    // to fade one picture (a stretched one's pieces fade without seams where they meet on whole
    // pixels; elsewhere the drawing takes a layer of the image's size).
    const bool fadesItsImage = alpha < 1 && !shadow && drawsOnlyItsImage(view);
    const bool group = (alpha < 1 || shadow) && !fadesItsImage;
    if (fadesItsImage) c.setAlpha(alpha);
    if (shadow) {
        c.setShadow(layer.shadowOffset, layer.shadowRadius,
                    layer.shadowColor->withAlphaComponent(layer.shadowColor->alpha() * layer.shadowOpacity));
    }
    if (group) {
        c.setAlpha(alpha);
        // A group as big as what the view draws, rather than the whole clip.
        if (const auto extent = drawnExtent(view); extent && !view.maskView())
            c.beginTransparencyLayer(*extent);
        else
            c.beginTransparencyLayer();
    }
    if (const auto& mask = view.maskView()) {
        // The view's drawing keeps only what the mask view covers, by the mask's alpha.
        c.beginTransparencyLayer();
        renderContents(view, c, std::nullopt);
        c.save();
        c.setBlendMode(graphics::BlendMode::destinationIn);
        c.beginTransparencyLayer();
        if (!mask->isHidden()) {
            placeSubview(*mask, c);
            renderView(*mask, c);
        }
        c.endTransparencyLayer();
        c.restore();
        c.endTransparencyLayer();
    } else {
        renderContents(view, c, backdrop, notOver);
    }
    if (group) c.endTransparencyLayer();
    c.restore();
}

}  // namespace

void renderWindow(Window& window, GraphicsContext& c) {
    // Rows kept as pixels that left with a closed screen hold no memory past its next frame.
    raster::dropDead();
    const Rect b = window.bounds();
    c.save();
    c.setUserInterfaceStyle(window.traitCollection().style);
    c.clearRect({0, 0, b.width(), b.height()});
    c.translate(-b.minX(), -b.minY());
    renderView(window, c);
    // The system's status bar and home indicator lie over a whole screen, and a menu over both.
    drawStatusBar(window, c);
    drawMenuPanel(window, c);
    drawEditMenu(window, c);
    c.restore();
}

namespace {

double scaleFor(const View& view, double scale) {
    if (scale > 0) return scale;
    const Window* window = dynamic_cast<const Window*>(&view);
    if (!window) window = view.window();
    return window ? window->profile().scale : graphics::mainScreenScale();
}

std::shared_ptr<graphics::Bitmap> drawAlone(View& view, double scale) {
    const Rect b = view.bounds();
    auto context = GraphicsContext::image({std::max(b.width(), 1e-3), std::max(b.height(), 1e-3)}, false, scale);
    if (!context.ok()) return nullptr;
    if (auto* window = dynamic_cast<Window*>(&view)) {
        renderWindow(*window, **context);
        return GraphicsContext::finishBitmap(std::move(*context));
    }
    (*context)->setUserInterfaceStyle(view.traitCollection().style);
    (*context)->translate(-b.minX(), -b.minY());
    renderView(view, **context);
    return GraphicsContext::finishBitmap(std::move(*context));
}

}  // namespace

std::shared_ptr<ImageView> snapshotView(View& view, bool afterScreenUpdates) {
    if (afterScreenUpdates) view.layoutIfNeeded();
    const double scale = scaleFor(view, 0);
    auto result = std::make_shared<ImageView>();
    result->setFrame(Rect(0, 0, view.bounds().width(), view.bounds().height()));
    if (auto bitmap = drawAlone(view, scale)) result->setImage(graphics::Image::fromBitmap(bitmap, scale));
    return result;
}

std::shared_ptr<graphics::Bitmap> snapshot(View& view, double scale) {
    view.layoutIfNeeded();
    return drawAlone(view, scaleFor(view, scale));
}

foundation::Status snapshotPNG(View& view, const std::filesystem::path& path, double scale) {
    auto bitmap = snapshot(view, scale);
    if (!bitmap) return graphics::imageError(graphics::kImageTooLargeError, "the view cannot be drawn");
    // A snapshot is looked at, not kept small: the quickest encoding.
    auto png = graphics::encodePNG(*bitmap, graphics::PNGCompression::Fast);
    if (!png.ok()) return png.error();
    return foundation::files::writeAtomically(path, *png);
}

}  // namespace toolkit
