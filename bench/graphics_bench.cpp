// GIF decoding: the frame source (giflib's line reader, composed frames on demand) against
// giflib's own slurp followed by a plain composition loop, on a 10-frame 500 x 500 animation with
// full and partial frames, transparency and every disposal; and a screen's PNG encoding at the
// default and the fast compression.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstring>
#include <random>

#include "platform/graphics/codecs.h"
#include "platform/graphics/image_source.h"
#include "tests/platform/graphics/gif_writer.h"

namespace {

const foundation::Data& animation() {
    static const foundation::Data data = [] {
        std::mt19937 random(42);
        hxtest::GifSpec spec{500, 500, {}, 0, 0, {}};
        for (int i = 0; i < 64; ++i) {
            spec.palette.push_back({static_cast<uint8_t>(i * 4), static_cast<uint8_t>(255 - i * 3),
                                    static_cast<uint8_t>((i * 37) & 0xFF)});
        }
        for (int f = 0; f < 10; ++f) {
            hxtest::GifFrameSpec frame;
            const bool full = f % 3 == 0;
            frame.width = full ? 500 : 200 + f * 20;
            frame.height = full ? 500 : 150 + f * 25;
            frame.left = full ? 0 : f * 13;
            frame.top = full ? 0 : f * 11;
            frame.disposal = 1 + f % 3;
            frame.transparent = 0;
            frame.indices.resize(size_t(frame.width) * frame.height);
            // Smooth bands with some noise: compresses as real animations do.
            for (int y = 0; y < frame.height; ++y) {
                for (int x = 0; x < frame.width; ++x) {
                    const int v = ((x + f * 7) / 9 + (y / 13)) % 64;
                    frame.indices[size_t(y) * frame.width + x] = static_cast<uint8_t>(random() % 17 == 0 ? 0 : v);
                }
            }
            spec.frames.push_back(std::move(frame));
        }
        return hxtest::writeGif(spec);
    }();
    return data;
}

void BM_FrameSource(benchmark::State& state) {
    const foundation::Data& gif = animation();
    for (auto _ : state) {
        auto source = graphics::ImageSource::create(gif);
        for (size_t i = 0; i < (*source)->count(); ++i) {
            auto frame = (*source)->frameAt(i);
            benchmark::DoNotOptimize(frame.ok());
        }
    }
}
BENCHMARK(BM_FrameSource)->Unit(benchmark::kMillisecond);

struct Reader {
    const uint8_t* bytes;
    size_t length, offset;
};

void BM_GiflibSlurpAndCompose(benchmark::State& state) {
    const foundation::Data& gif = animation();
    for (auto _ : state) {
        Reader reader{gif.data(), gif.size(), 0};
        int error = 0;
        GifFileType* file = DGifOpen(
            &reader,
            [](GifFileType* g, GifByteType* out, int n) {
                auto* r = static_cast<Reader*>(g->UserData);
                const size_t k = std::min<size_t>(n, r->length - r->offset);
                std::memcpy(out, r->bytes + r->offset, k);
                r->offset += k;
                return static_cast<int>(k);
            },
            &error);
        DGifSlurp(file);
        const int w = file->SWidth, h = file->SHeight;
        std::vector<uint32_t> canvas(size_t(w) * h, 0), saved;
        uint32_t palette[256] = {};
        for (int i = 0; i < file->SColorMap->ColorCount; ++i) {
            const GifColorType& c = file->SColorMap->Colors[i];
            palette[i] = 0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
        }
        for (int f = 0; f < file->ImageCount; ++f) {
            const SavedImage& image = file->SavedImages[f];
            GraphicsControlBlock gcb;
            DGifSavedExtensionToGCB(file, f, &gcb);
            const GifImageDesc& d = image.ImageDesc;
            if (gcb.DisposalMode == DISPOSE_PREVIOUS) saved = canvas;
            for (int y = 0; y < d.Height; ++y) {
                uint32_t* out = canvas.data() + size_t(d.Top + y) * w + d.Left;
                const GifByteType* in = image.RasterBits + size_t(y) * d.Width;
                for (int x = 0; x < d.Width; ++x) {
                    if (in[x] != gcb.TransparentColor) out[x] = palette[in[x]];
                }
            }
            std::vector<uint32_t> frame = canvas;  // each frame handed out whole
            benchmark::DoNotOptimize(frame.data());
            if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
                for (int y = 0; y < d.Height; ++y) {
                    std::fill_n(canvas.data() + size_t(d.Top + y) * w + d.Left, d.Width, 0u);
                }
            } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
                canvas = saved;
            }
        }
        DGifCloseFile(file, &error);
    }
}
BENCHMARK(BM_GiflibSlurpAndCompose)->Unit(benchmark::kMillisecond);

// A phone screen's snapshot (750 x 1334, flat areas and text-like detail) written as PNG with the
// library's default compression and with the fast one the headless snapshots use.
void encodeScreen(benchmark::State& state, graphics::PNGCompression compression) {
    auto bitmap = graphics::Bitmap::make(750, 1334).value();
    std::mt19937 random(7);
    for (int y = 0; y < bitmap->height(); ++y) {
        uint32_t* row = bitmap->row(y);
        for (int x = 0; x < bitmap->width(); ++x) {
            const bool detail = (y / 44) % 3 == 1 && x > 30 && x < 600 && random() % 4 == 0;
            row[x] = detail ? 0xFF202020u : (y < 128 ? 0xFFF7F7F7u : 0xFFFFFFFFu);
        }
    }
    size_t bytes = 0;
    for (auto _ : state) {
        auto png = graphics::encodePNG(*bitmap, compression);
        if (!png.ok()) state.SkipWithError("encode failed");
        bytes = png->size();
    }
    state.counters["KiB"] = static_cast<double>(bytes) / 1024.0;
}
void BM_EncodePNG_Compact(benchmark::State& state) { encodeScreen(state, graphics::PNGCompression::Compact); }
void BM_EncodePNG_Fast(benchmark::State& state) { encodeScreen(state, graphics::PNGCompression::Fast); }
BENCHMARK(BM_EncodePNG_Compact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePNG_Fast)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
