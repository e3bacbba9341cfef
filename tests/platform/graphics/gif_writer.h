// Writes GIFs with exactly the frame layout a test asks for (rectangles, disposal, transparency,
// interlace, palettes, delays, loop count) through giflib's encoder, for the decoder tests, the
// animated-image tests and the benchmark.
#pragma once

#include <gif_lib.h>

#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/foundation/value.h"

namespace hxtest {

struct GifFrameSpec {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    // A graphic control block is written only when `control` is set.
    bool control = true;
    int disposal = 1;
    std::optional<int> transparent;
    int delayHundredths = 10;
    std::optional<std::vector<std::array<uint8_t, 3>>> localPalette;
    std::vector<uint8_t> indices;  // width * height, rows top to bottom
};

struct GifSpec {
    int width = 0, height = 0;
    std::vector<std::array<uint8_t, 3>> palette;  // a power of two entries, or empty for none
    int background = 0;
    std::optional<int> loop;
    std::vector<GifFrameSpec> frames;
};

inline ColorMapObject* gifMap(const std::vector<std::array<uint8_t, 3>>& colours) {
    if (colours.empty()) return nullptr;
    std::vector<GifColorType> c(colours.size());
    for (size_t i = 0; i < colours.size(); ++i) c[i] = {colours[i][0], colours[i][1], colours[i][2]};
    return GifMakeMapObject(static_cast<int>(c.size()), c.data());
}

inline foundation::Data writeGif(const GifSpec& spec) {
    foundation::Data out;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &out,
        [](GifFileType* g, const GifByteType* bytes, int n) {
            auto* o = static_cast<foundation::Data*>(g->UserData);
            o->insert(o->end(), bytes, bytes + n);
            return n;
        },
        &error);
    if (!gif) return {};
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = gifMap(spec.palette);
    EGifPutScreenDesc(gif, spec.width, spec.height, 8, spec.background, global);
    if (spec.loop) {
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
        const uint8_t loop[3] = {1, static_cast<uint8_t>(*spec.loop & 0xFF), static_cast<uint8_t>(*spec.loop >> 8)};
        EGifPutExtensionBlock(gif, 3, loop);
        EGifPutExtensionTrailer(gif);
    }
    for (const GifFrameSpec& f : spec.frames) {
        if (f.control) {
            const uint8_t gce[4] = {static_cast<uint8_t>((f.disposal & 7) << 2 | (f.transparent ? 1 : 0)),
                                    static_cast<uint8_t>(f.delayHundredths & 0xFF),
                                    static_cast<uint8_t>(f.delayHundredths >> 8),
                                    static_cast<uint8_t>(f.transparent.value_or(0))};
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce);
        }
        ColorMapObject* local = f.localPalette ? gifMap(*f.localPalette) : nullptr;
        EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, local);
        if (local) GifFreeMapObject(local);
        std::vector<int> order;
        if (f.interlaced) {
            for (int pass = 0; pass < 4; ++pass) {
                static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
                for (int y = start[pass]; y < f.height; y += step[pass]) order.push_back(y);
            }
        } else {
            for (int y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (int y : order) {
            std::vector<GifPixelType> row(f.indices.begin() + size_t(y) * f.width,
                                          f.indices.begin() + size_t(y + 1) * f.width);
            EGifPutLine(gif, row.data(), f.width);
        }
        // The encoder keeps its own copy of a local colour table and forgets it at the next
        // frame without freeing it.
        if (gif->Image.ColorMap) {
            GifFreeMapObject(gif->Image.ColorMap);
            gif->Image.ColorMap = nullptr;
        }
    }
    EGifCloseFile(gif, &error);
    if (global) GifFreeMapObject(global);
    return out;
}

}  // namespace hxtest
