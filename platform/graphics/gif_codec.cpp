// The GIF writer: every frame quantised to one fixed palette of 6 x 6 x 6 colours (216 entries
// plus transparent), looping for ever, each frame shown for the same delay.
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/graphics/codecs.h"

namespace graphics {

namespace {

constexpr int kTransparentIndex = 216;

int writeOutput(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* out = static_cast<foundation::Data*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + length);
    return length;
}

struct EncoderGuard {
    GifFileType* gif = nullptr;
    ~EncoderGuard() {
        int error = 0;
        if (gif) EGifCloseFile(gif, &error);
    }
};

GifByteType level(uint8_t value) { return static_cast<GifByteType>(std::lround(value / 51.0)); }

foundation::Error gifError(int code) {
    const char* text = GifErrorString(code);
    return imageError(kImageCorruptError, std::string("GIF: ") + (text ? text : "write failed"));
}

}  // namespace

foundation::Result<foundation::Data> encodeGIF(const std::vector<std::shared_ptr<Bitmap>>& frames, double delay) {
    if (frames.empty() || !frames[0]) return imageError(kImageCorruptError, "GIF: no frames");
    const int width = frames[0]->width();
    const int height = frames[0]->height();
    if (width > 65535 || height > 65535) return imageError(kImageCorruptError, "GIF: too large");
    for (const auto& f : frames)
        if (!f || f->width() != width || f->height() != height)
            return imageError(kImageCorruptError, "GIF: frames differ in size");

    foundation::Data out;
    int error = 0;
    EncoderGuard guard;
    guard.gif = EGifOpen(&out, writeOutput, &error);
    if (!guard.gif) return gifError(error);
    EGifSetGifVersion(guard.gif, true);

    GifColorType colours[256] = {};
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) {
                GifColorType& c = colours[r * 36 + g * 6 + b];
                c.Red = static_cast<GifByteType>(r * 51);
                c.Green = static_cast<GifByteType>(g * 51);
                c.Blue = static_cast<GifByteType>(b * 51);
            }
    ColorMapObject* map = GifMakeMapObject(256, colours);
    if (!map) return imageError(kImageCorruptError, "GIF: no colour map");
    const int put = EGifPutScreenDesc(guard.gif, width, height, 8, 0, map);
    GifFreeMapObject(map);
    if (put == GIF_ERROR) return gifError(guard.gif->Error);

    // Loop for ever.
    const GifByteType loopName[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    const GifByteType loopCount[] = {1, 0, 0};
    if (EGifPutExtensionLeader(guard.gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(guard.gif, sizeof loopName, loopName) == GIF_ERROR ||
        EGifPutExtensionBlock(guard.gif, sizeof loopCount, loopCount) == GIF_ERROR ||
        EGifPutExtensionTrailer(guard.gif) == GIF_ERROR)
        return gifError(guard.gif->Error);

    const int hundredths = std::clamp(static_cast<int>(std::lround(delay * 100)), 0, 65535);
    std::vector<GifPixelType> line(static_cast<size_t>(width));
    for (const auto& frame : frames) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_BACKGROUND;
        control.DelayTime = hundredths;
        control.TransparentColor = kTransparentIndex;
        GifByteType block[4];
        EGifGCBToExtension(&control, block);
        if (EGifPutExtension(guard.gif, GRAPHICS_EXT_FUNC_CODE, 4, block) == GIF_ERROR ||
            EGifPutImageDesc(guard.gif, 0, 0, width, height, false, nullptr) == GIF_ERROR)
            return gifError(guard.gif->Error);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto [r, g, b, a] = frame->rgbaAt(x, y);
                line[static_cast<size_t>(x)] =
                    a < 128 ? kTransparentIndex : static_cast<GifPixelType>(level(r) * 36 + level(g) * 6 + level(b));
            }
            if (EGifPutLine(guard.gif, line.data(), width) == GIF_ERROR) return gifError(guard.gif->Error);
        }
    }
    GifFileType* gif = guard.gif;
    guard.gif = nullptr;
    if (EGifCloseFile(gif, &error) == GIF_ERROR) return gifError(error);
    return out;
}

}  // namespace graphics
