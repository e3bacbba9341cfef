// The location screen's circle: the plain circle, then a dashed radius line to the right-hand
// rim, the drag handle at its end and, while the user drags, the radius as a length. Tiles are
// drawn on several threads at once; the values shared with the screen are read whole.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/system_screens/map_view.h"

class HXResizableMKCircleRenderer : public system_screens::CircleRenderer {
public:
    explicit HXResizableMKCircleRenderer(std::shared_ptr<system_screens::MapCircle> circle)
        : CircleRenderer(std::move(circle)) {}

    // The length the label shows, metres.
    double radius() const { return radius_.load(); }
    void setRadius(double metres) { radius_.store(metres); }
    bool showRadius() const { return showRadius_.load(); }
    void setShowRadius(bool show) { showRadius_.store(show); }

    void drawMapRect(const services::MapRect& mapRect, double zoomScale, graphics::GraphicsContext& context) override;

    // The values one location screen shares with every renderer of the process.
    // The radius of the circle on the map (metres; 0 at first).
    static std::atomic<double> drawnRadius;
    // Where a drag began, points right of the map's centre; -1: no drag.
    static std::atomic<double> dragStartOffset;
    // The radius line's width in drawing units once computed; a negative value -H asks the next
    // tile drawn to compute it for a header H points wide (w = 4 x the circle's width / H).
    static void setLineWidthBasis(double basis);
    static double lineWidthBasis();

    // The label of a radius: metres with grouping up to 1 km, else "%.1f km"; in a non-metric
    // locale feet up to a mile, else "%.1f mi".
    static std::string radiusText(double metres, bool metric, const std::string& locale);

private:
    std::atomic<double> radius_{0};
    std::atomic<bool> showRadius_{false};
};
