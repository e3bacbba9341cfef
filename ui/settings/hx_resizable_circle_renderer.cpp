#include "ui/settings/hx_resizable_circle_renderer.h"

#include <cmath>
#include <mutex>

#include "platform/foundation/dates.h"
#include "platform/foundation/format.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/text_layout.h"

std::atomic<double> HXResizableMKCircleRenderer::drawnRadius{0};
std::atomic<double> HXResizableMKCircleRenderer::dragStartOffset{-1};

namespace {
// The basis is one value for all renderers: computed once, by one tile, under this lock.
std::mutex basisMutex;
double basis = -1.0;
}  // namespace

void HXResizableMKCircleRenderer::setLineWidthBasis(double value) {
    std::lock_guard lock(basisMutex);
    basis = value;
}

double HXResizableMKCircleRenderer::lineWidthBasis() {
    std::lock_guard lock(basisMutex);
    return basis;
}

std::string HXResizableMKCircleRenderer::radiusText(double r, bool metric, const std::string& locale) {
    foundation::NumberFormatter decimal;
    decimal.setStyle(foundation::NumberFormatter::Style::Decimal);
    decimal.setLocale(locale);
    if (metric) {
        if (r <= 1000) return decimal.string(static_cast<int64_t>(r)) + " m";
        return foundation::format("%.1f km", r / 1000);
    }
    if (r <= 1609.344) return decimal.string(static_cast<int64_t>(r * 3.28084)) + " ft";
    return foundation::format("%.1f mi", r / 1609.344);
}

void HXResizableMKCircleRenderer::drawMapRect(const services::MapRect& mapRect, double zoomScale,
                                              graphics::GraphicsContext& context) {
    CircleRenderer::drawMapRect(mapRect, zoomScale, context);
    graphics::pushContext(&context);
    context.save();
    const auto blue = graphics::Color::systemBlue();
    context.setFillColor(blue);
    context.setStrokeColor(blue);
    const auto R = rectForMapRect(overlay()->boundingMapRect());
    double w = 0;
    {
        std::lock_guard lock(basisMutex);
        if (basis < 0) basis = R.size.width * -4.0 / basis;
        w = basis;
    }
    const double midX = R.origin.x + R.size.width / 2, midY = R.origin.y + R.size.height / 2;
    const double maxX = R.origin.x + R.size.width;
    context.setLineDash(0, {6 * w, 5 * w});
    context.setLineWidth(w);
    context.setLineCap(graphics::LineCap::round);
    context.beginPath();
    context.moveTo({midX, midY});
    context.lineTo({maxX, midY});
    context.strokePath();
    context.fillEllipse({maxX - 4 * w, midY - 4 * w, 8 * w, 8 * w});
    if (showRadius()) {
        const auto locale = foundation::currentLocaleIdentifier();
        const std::string label = radiusText(radius(), foundation::usesMetricSystem(locale), locale);
        graphics::drawText(context, label, {midX + 8 * w, midY - 1.3 * 8 * w},
                           {.font = graphics::Font::system(8 * w), .color = blue});
    }
    context.restore();
    graphics::popContext();
}
