#include "platform/graphics/screen_scale.h"

#include <atomic>
#include <cmath>

namespace graphics {
namespace {
std::atomic<double> scale{2.0};
}

double mainScreenScale() { return scale.load(std::memory_order_relaxed); }

void setMainScreenScale(double s) {
    if (s > 0 && std::isfinite(s)) scale.store(s, std::memory_order_relaxed);
}

}  // namespace graphics
