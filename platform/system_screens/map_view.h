// A map as the app shows places: no tiles to load here, so a plain background, the user's
// position as a dot, pins with callouts and overlays drawn by their renderers. The visible part
// is a Web-Mercator rectangle (platform/services/map_geometry.h) about a centre at a zoom scale
// (points per map point); overlays are drawn in square tiles, several at once on worker threads,
// as maps do, so a renderer must be safe to call from several threads.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/color.h"
#include "platform/services/map_geometry.h"
#include "platform/toolkit/view.h"

namespace system_screens {

// A pin: where it stands and what its callout says.
class MapAnnotation {
public:
    virtual ~MapAnnotation() = default;
    virtual services::Coordinate coordinate() const = 0;
    virtual std::optional<std::string> title() const { return std::nullopt; }
    virtual std::optional<std::string> subtitle() const { return std::nullopt; }
};

class MapOverlay {
public:
    virtual ~MapOverlay() = default;
    virtual services::MapRect boundingMapRect() const = 0;
};

class MapCircle : public MapOverlay {
public:
    MapCircle(services::Coordinate centre, double radius) : centre_(centre), radius_(radius) {}
    services::Coordinate coordinate() const { return centre_; }
    double radius() const { return radius_; }
    services::MapRect boundingMapRect() const override { return services::boundingMapRectForCircle(centre_, radius_); }

private:
    services::Coordinate centre_;
    double radius_;
};

class MapView;

// Draws one overlay. Its drawing units are map points measured from the overlay's bounding
// rectangle's origin; drawMapRect is called once per tile, from several threads at once.
class OverlayRenderer : public std::enable_shared_from_this<OverlayRenderer> {
public:
    explicit OverlayRenderer(std::shared_ptr<MapOverlay> overlay) : overlay_(std::move(overlay)) {}
    virtual ~OverlayRenderer() = default;
    const std::shared_ptr<MapOverlay>& overlay() const { return overlay_; }
    // A map rectangle in the drawing units.
    graphics::Rect rectForMapRect(const services::MapRect& rect) const;
    // Draws the part of the overlay in mapRect; zoomScale is points per map point.
    virtual void drawMapRect(const services::MapRect& mapRect, double zoomScale,
                             graphics::GraphicsContext& context) = 0;
    // Asks the map showing it to draw again.
    void setNeedsDisplay();

private:
    friend class MapView;
    std::shared_ptr<MapOverlay> overlay_;
    std::weak_ptr<toolkit::View> map_;
};

// Fills and strokes a circle; the line width is in points on the screen.
class CircleRenderer : public OverlayRenderer {
public:
    explicit CircleRenderer(std::shared_ptr<MapCircle> circle) : OverlayRenderer(std::move(circle)) {}
    void setStrokeColor(graphics::Color color);
    void setFillColor(graphics::Color color);
    void setLineWidth(double width);
    void drawMapRect(const services::MapRect& mapRect, double zoomScale, graphics::GraphicsContext& context) override;

private:
    std::mutex mutex_;
    graphics::Color stroke_ = graphics::Color::clear();
    graphics::Color fill_ = graphics::Color::clear();
    double lineWidth_ = 0;
};

// How a pin looks: its colour (none: no pin, as for the user's own position).
struct PinStyle {
    graphics::Color tint = graphics::Color::systemRed();
    bool showsCallout = true;
};

class MapViewDelegate {
public:
    virtual ~MapViewDelegate() = default;
    virtual std::shared_ptr<OverlayRenderer> rendererForOverlay(MapView& map,
                                                                const std::shared_ptr<MapOverlay>& overlay) = 0;
    // The pin of an annotation; none draws nothing for it.
    virtual std::optional<PinStyle> viewForAnnotation(MapView& map, const MapAnnotation& annotation) {
        (void)map, (void)annotation;
        return PinStyle{};
    }
};

enum class MapType { Standard, Satellite, Hybrid };

class MapView : public toolkit::View {
public:
    // Square tiles of this many points are drawn by the overlays.
    static constexpr double kTileSize = 64;

    explicit MapView(toolkit::Rect frame = {});
    std::string className() const override { return "MapView"; }

    MapType mapType = MapType::Standard;
    bool scrollEnabled = true;
    bool zoomEnabled = true;
    bool rotateEnabled = true;
    bool pitchEnabled = true;
    void setShowsUserLocation(bool shows);
    bool showsUserLocation() const { return showsUserLocation_; }
    // Where the user is (the device's last fix, given by the owner); none hides the dot.
    void setUserLocation(std::optional<services::Coordinate> location);
    void setDelegate(std::weak_ptr<MapViewDelegate> delegate) { delegate_ = std::move(delegate); }

    // Shows latitudinalMeters by longitudinalMeters about centre, both fitting in the view.
    void setRegion(services::Coordinate centre, double latitudinalMeters, double longitudinalMeters, bool animated);
    services::Coordinate centerCoordinate() const;
    // Points per map point.
    double zoomScale() const { return zoomScale_; }
    services::MapRect visibleMapRect() const;
    toolkit::Point convertCoordinateToPoint(services::Coordinate coordinate) const;
    services::Coordinate convertPointToCoordinate(toolkit::Point point) const;
    services::MapPoint mapPointForPoint(toolkit::Point point) const;

    void addOverlay(const std::shared_ptr<MapOverlay>& overlay);
    void removeOverlay(const std::shared_ptr<MapOverlay>& overlay);
    const std::vector<std::shared_ptr<MapOverlay>>& overlays() const { return overlays_; }
    // The renderer the delegate gave for an overlay on the map (none for one not on it).
    std::shared_ptr<OverlayRenderer> rendererForOverlay(const std::shared_ptr<MapOverlay>& overlay) const;

    void addAnnotation(const std::shared_ptr<MapAnnotation>& annotation);
    void removeAnnotation(const MapAnnotation* annotation);
    const std::vector<std::shared_ptr<MapAnnotation>>& annotations() const { return annotations_; }
    // A selected annotation shows its callout (title and subtitle).
    void selectAnnotation(const std::shared_ptr<MapAnnotation>& annotation, bool animated);
    std::shared_ptr<MapAnnotation> selectedAnnotation() const { return selected_.lock(); }

    void draw(graphics::GraphicsContext& context, const toolkit::Rect& rect) override;
    std::string outlineText() const override;
    // Tiles drawn by the last draw and the distinct threads that drew them.
    size_t lastTileCount() const;
    size_t lastTileThreads() const;

private:
    void drawOverlays(graphics::GraphicsContext& context);
    void drawPin(graphics::GraphicsContext& context, const MapAnnotation& annotation, const PinStyle& style);

    services::MapPoint centre_{services::kMapWorldSize / 2, services::kMapWorldSize / 2};
    double zoomScale_ = 1.0 / 1024;
    bool showsUserLocation_ = false;
    std::optional<services::Coordinate> userLocation_;
    std::weak_ptr<MapViewDelegate> delegate_;
    std::vector<std::shared_ptr<MapOverlay>> overlays_;
    std::map<const MapOverlay*, std::shared_ptr<OverlayRenderer>> renderers_;
    std::vector<std::shared_ptr<MapAnnotation>> annotations_;
    std::weak_ptr<MapAnnotation> selected_;
    mutable std::mutex tileMutex_;
    size_t lastTiles_ = 0;
    size_t lastThreads_ = 0;
};

}  // namespace system_screens
