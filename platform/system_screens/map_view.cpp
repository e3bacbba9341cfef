#include "platform/system_screens/map_view.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>
#include <thread>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/format.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/text_layout.h"

namespace system_screens {

using services::MapPoint;
using services::MapRect;

graphics::Rect OverlayRenderer::rectForMapRect(const MapRect& rect) const {
    const auto bounds = overlay_->boundingMapRect();
    return {rect.origin.x - bounds.origin.x, rect.origin.y - bounds.origin.y, rect.width, rect.height};
}

void OverlayRenderer::setNeedsDisplay() {
    if (auto map = map_.lock()) map->setNeedsDisplay();
}

void CircleRenderer::setStrokeColor(graphics::Color color) {
    std::lock_guard lock(mutex_);
    stroke_ = color;
}
void CircleRenderer::setFillColor(graphics::Color color) {
    std::lock_guard lock(mutex_);
    fill_ = color;
}
void CircleRenderer::setLineWidth(double width) {
    std::lock_guard lock(mutex_);
    lineWidth_ = width;
}

void CircleRenderer::drawMapRect(const MapRect&, double zoomScale, graphics::GraphicsContext& context) {
    graphics::Color stroke, fill;
    double width = 0;
    {
        std::lock_guard lock(mutex_);
        stroke = stroke_;
        fill = fill_;
        width = lineWidth_;
    }
    const auto r = rectForMapRect(overlay()->boundingMapRect());
    context.save();
    context.setFillColor(fill);
    context.fillEllipse(r);
    if (width > 0 && zoomScale > 0) {
        context.setStrokeColor(stroke);
        context.setLineWidth(width / zoomScale);
        const double inset = width / zoomScale / 2;
        context.beginPath();
        context.addEllipse(
            {r.origin.x + inset, r.origin.y + inset, r.size.width - 2 * inset, r.size.height - 2 * inset});
        context.strokePath();
    }
    context.restore();
}

MapView::MapView(toolkit::Rect frame) : toolkit::View(frame) { setClipsToBounds(true); }

void MapView::setShowsUserLocation(bool shows) {
    showsUserLocation_ = shows;
    setNeedsDisplay();
}

void MapView::setUserLocation(std::optional<services::Coordinate> location) {
    userLocation_ = location;
    setNeedsDisplay();
}

void MapView::setRegion(services::Coordinate centre, double latitudinalMeters, double longitudinalMeters, bool) {
    centre_ = services::mapPointForCoordinate(centre);
    const double perMeter = services::mapPointsPerMeterAtLatitude(centre.latitude);
    const auto size = bounds().size;
    const double spanX = std::max(longitudinalMeters, 1.0) * perMeter;
    const double spanY = std::max(latitudinalMeters, 1.0) * perMeter;
    if (size.width > 0 && size.height > 0) zoomScale_ = std::min(size.width / spanX, size.height / spanY);
    setNeedsDisplay();
}

services::Coordinate MapView::centerCoordinate() const { return services::coordinateForMapPoint(centre_); }

MapRect MapView::visibleMapRect() const {
    const auto size = bounds().size;
    const double w = size.width / zoomScale_, h = size.height / zoomScale_;
    return {{centre_.x - w / 2, centre_.y - h / 2}, w, h};
}

MapPoint MapView::mapPointForPoint(toolkit::Point p) const {
    const auto visible = visibleMapRect();
    return {visible.origin.x + p.x / zoomScale_, visible.origin.y + p.y / zoomScale_};
}

toolkit::Point MapView::convertCoordinateToPoint(services::Coordinate c) const {
    const auto p = services::mapPointForCoordinate(c);
    const auto visible = visibleMapRect();
    return {(p.x - visible.origin.x) * zoomScale_, (p.y - visible.origin.y) * zoomScale_};
}

services::Coordinate MapView::convertPointToCoordinate(toolkit::Point p) const {
    return services::coordinateForMapPoint(mapPointForPoint(p));
}

void MapView::addOverlay(const std::shared_ptr<MapOverlay>& overlay) {
    if (!overlay) return;
    overlays_.push_back(overlay);
    std::shared_ptr<OverlayRenderer> renderer;
    if (auto delegate = delegate_.lock()) renderer = delegate->rendererForOverlay(*this, overlay);
    if (renderer) {
        renderer->map_ = std::static_pointer_cast<toolkit::View>(shared_from_this());
        renderers_[overlay.get()] = renderer;
    }
    setNeedsDisplay();
}

void MapView::removeOverlay(const std::shared_ptr<MapOverlay>& overlay) {
    std::erase(overlays_, overlay);
    renderers_.erase(overlay.get());
    setNeedsDisplay();
}

std::shared_ptr<OverlayRenderer> MapView::rendererForOverlay(const std::shared_ptr<MapOverlay>& overlay) const {
    const auto it = renderers_.find(overlay.get());
    return it == renderers_.end() ? nullptr : it->second;
}

void MapView::addAnnotation(const std::shared_ptr<MapAnnotation>& annotation) {
    if (!annotation) return;
    annotations_.push_back(annotation);
    setNeedsDisplay();
}

void MapView::removeAnnotation(const MapAnnotation* annotation) {
    std::erase_if(annotations_, [&](const auto& a) { return a.get() == annotation; });
    if (selected_.lock().get() == annotation) selected_.reset();
    setNeedsDisplay();
}

void MapView::selectAnnotation(const std::shared_ptr<MapAnnotation>& annotation, bool) {
    selected_ = annotation;
    setNeedsDisplay();
}

size_t MapView::lastTileCount() const {
    std::lock_guard lock(tileMutex_);
    return lastTiles_;
}

size_t MapView::lastTileThreads() const {
    std::lock_guard lock(tileMutex_);
    return lastThreads_;
}

void MapView::drawOverlays(graphics::GraphicsContext& context) {
    const auto size = bounds().size;
    const auto visible = visibleMapRect();
    struct Tile {
        toolkit::Rect frame;  // in the view
        std::shared_ptr<OverlayRenderer> renderer;
        std::unique_ptr<graphics::GraphicsContext> image;
    };
    std::vector<Tile> tiles;
    for (const auto& overlay : overlays_) {
        auto renderer = rendererForOverlay(overlay);
        if (!renderer) continue;
        const auto bounds = overlay->boundingMapRect();
        for (double y = 0; y < size.height; y += kTileSize) {
            for (double x = 0; x < size.width; x += kTileSize) {
                const toolkit::Rect frame{x, y, std::min(kTileSize, size.width - x),
                                          std::min(kTileSize, size.height - y)};
                const MapRect tileRect{{visible.origin.x + x / zoomScale_, visible.origin.y + y / zoomScale_},
                                       frame.size.width / zoomScale_,
                                       frame.size.height / zoomScale_};
                if (tileRect.intersects(bounds)) tiles.push_back({frame, renderer, nullptr});
            }
        }
    }
    // Each tile on a worker of its own, as the map's tile threads draw.
    std::mutex threadsMutex;
    std::set<std::thread::id> threads;
    dispatch::Group group;
    const double scale = context.scale();
    const double zoom = zoomScale_;
    for (auto& tile : tiles) {
        group.async(dispatch::Queue::global(dispatch::Priority::High),
                    [&tile, &threads, &threadsMutex, visible, scale, zoom] {
                        {
                            std::lock_guard lock(threadsMutex);
                            threads.insert(std::this_thread::get_id());
                        }
                        auto image = graphics::GraphicsContext::image(tile.frame.size, false, scale);
                        if (!image.ok()) return;
                        auto& c = *image.value();
                        const auto bounds = tile.renderer->overlay()->boundingMapRect();
                        const MapRect tileRect{{visible.origin.x + tile.frame.origin.x / zoom,
                                                visible.origin.y + tile.frame.origin.y / zoom},
                                               tile.frame.size.width / zoom,
                                               tile.frame.size.height / zoom};
                        c.save();
                        c.scaleBy(zoom, zoom);
                        c.translate(bounds.origin.x - tileRect.origin.x, bounds.origin.y - tileRect.origin.y);
                        tile.renderer->drawMapRect(tileRect, zoom, c);
                        c.restore();
                        tile.image = std::move(image.value());
                    });
    }
    group.wait();
    for (const auto& tile : tiles)
        if (tile.image) context.drawImage(*tile.image->makeImage(), tile.frame);
    std::lock_guard lock(tileMutex_);
    lastTiles_ = tiles.size();
    lastThreads_ = threads.size();
}

void MapView::drawPin(graphics::GraphicsContext& context, const MapAnnotation& annotation, const PinStyle& style) {
    const auto p = convertCoordinateToPoint(annotation.coordinate());
    context.save();
    context.setStrokeColor(graphics::Color::white(0.2));
    context.setLineWidth(2);
    context.beginPath();
    context.moveTo({p.x, p.y});
    context.lineTo({p.x, p.y - 22});
    context.strokePath();
    context.setFillColor(style.tint);
    context.fillEllipse({p.x - 7, p.y - 34, 14, 14});
    context.restore();
    if (!style.showsCallout || selected_.lock().get() != &annotation) return;
    const auto title = annotation.title().value_or("");
    const auto subtitle = annotation.subtitle();
    graphics::TextAttributes titleStyle{.font = graphics::Font::system(15, graphics::FontWeight::semibold),
                                        .color = graphics::Color::label()};
    graphics::TextAttributes subtitleStyle{.font = graphics::Font::system(12),
                                           .color = graphics::Color::secondaryLabel()};
    const auto titleSize = graphics::sizeOfText(title, titleStyle.font);
    const auto subtitleSize = subtitle ? graphics::sizeOfText(*subtitle, subtitleStyle.font) : graphics::Size{};
    const double width = std::min(std::max(titleSize.width, subtitleSize.width) + 24, bounds().size.width - 8);
    const double height = titleSize.height + (subtitle ? subtitleSize.height + 2 : 0) + 16;
    const double x = std::clamp(p.x - width / 2, 4.0, std::max(4.0, bounds().size.width - width - 4));
    const double y = std::max(2.0, p.y - 40 - height);
    context.save();
    context.setShadow({0, 1}, 4);
    context.setFillColor(graphics::Color::secondarySystemGroupedBackground());
    context.fillRect({x, y, width, height});
    context.restore();
    context.save();
    context.clipToRect({x, y, width, height});
    graphics::drawText(context, title, {x + 12, y + 8}, titleStyle);
    if (subtitle) graphics::drawText(context, *subtitle, {x + 12, y + 10 + titleSize.height}, subtitleStyle);
    context.restore();
}

void MapView::draw(graphics::GraphicsContext& context, const toolkit::Rect& rect) {
    (void)rect;
    const auto size = bounds().size;
    // Land in plain colours: no map data here.
    context.setFillColor(
        graphics::Color::dynamic(graphics::Color::rgb(0.949, 0.937, 0.914), graphics::Color::rgb(0.17, 0.17, 0.18)));
    context.fillRect({0, 0, size.width, size.height});
    drawOverlays(context);
    if (showsUserLocation_ && userLocation_) {
        const auto p = convertCoordinateToPoint(*userLocation_);
        context.setFillColor(graphics::Color::whiteColor());
        context.fillEllipse({p.x - 9, p.y - 9, 18, 18});
        context.setFillColor(graphics::Color::systemBlue());
        context.fillEllipse({p.x - 6, p.y - 6, 12, 12});
    }
    auto delegate = delegate_.lock();
    for (const auto& annotation : annotations_) {
        std::optional<PinStyle> style = PinStyle{};
        if (delegate) style = delegate->viewForAnnotation(*this, *annotation);
        if (style) drawPin(context, *annotation, *style);
    }
}

std::string MapView::outlineText() const {
    const auto c = centerCoordinate();
    const auto visible = visibleMapRect();
    const double perMeter = services::mapPointsPerMeterAtLatitude(c.latitude);
    std::string text =
        foundation::format("centre %.5f, %.5f, %.0f m across", c.latitude, c.longitude, visible.width / perMeter);
    text += ", " + std::to_string(overlays_.size()) + " overlay(s)";
    for (const auto& annotation : annotations_) {
        text += ", pin \"" + annotation->title().value_or("") + "\"";
        if (selected_.lock() == annotation) text += " (callout)";
    }
    if (showsUserLocation_ && userLocation_) text += ", user location";
    return text;
}

}  // namespace system_screens
