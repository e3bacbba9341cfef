// GIF bytes from outside (picture messages and animated attachments): the frame source is made or
// refused cleanly; every complete frame composes on the canvas, in order and out of order, and an
// incomplete one is an error, never a read past the data.
#include <cstdint>
#include <cstdlib>

#include "platform/graphics/image_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    graphics::setDecodedPixelLimit(4'000'000);
    auto source = graphics::ImageSource::create(foundation::Data(data, data + size));
    if (!source.ok()) return 0;
    const graphics::ImageSource& s = **source;
    if (s.count() > graphics::kMaxImageFrames) std::abort();
    const size_t n = s.count();
    for (size_t step = 0; step < 2 * n && step < 64; ++step) {
        const size_t i = step < n ? step : (step * 7) % n;
        auto frame = s.frameAt(i);
        if (frame.ok() != s.frameInfo(i).complete && s.type() == "com.compuserve.gif") std::abort();
        if (frame.ok() && ((*frame)->width() != s.canvasWidth() || (*frame)->height() != s.canvasHeight())) {
            std::abort();
        }
    }
    if (s.frameAt(n).ok()) std::abort();
    return 0;
}
