#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "platform/graphics/codecs.h"
#include "platform/graphics/image_source.h"
#include "tests/platform/graphics/gif_writer.h"
#include "tests/platform/graphics/pil.h"

using namespace graphics;
using hxtest::GifFrameSpec;
using hxtest::GifSpec;

namespace {

std::vector<std::array<uint8_t, 3>> palette(int n, int seed) {
    std::vector<std::array<uint8_t, 3>> p(n);
    for (int i = 0; i < n; ++i) {
        p[i] = {static_cast<uint8_t>((i * 53 + seed * 17) & 0xFF), static_cast<uint8_t>((i * 101 + seed) & 0xFF),
                static_cast<uint8_t>((i * 29 + seed * 7 + 40) & 0xFF)};
    }
    return p;
}

GifFrameSpec frame(int l, int t, int w, int h, int disposal, std::optional<int> transparent, std::mt19937& random,
                   int colours) {
    GifFrameSpec f;
    f.left = l, f.top = t, f.width = w, f.height = h;
    f.disposal = disposal;
    f.transparent = transparent;
    f.indices.resize(size_t(w) * h);
    for (auto& i : f.indices) i = static_cast<uint8_t>(random() % colours);
    return f;
}

// GIFs whose composition rules are settled: the first frame always names a transparent index (or
// no frame does), and every frame says its disposal.
std::map<std::string, GifSpec> fixtures() {
    std::mt19937 random(2024);
    std::map<std::string, GifSpec> out;

    GifSpec d{37, 23, palette(8, 1), 0, 0, {}};
    d.frames.push_back(frame(0, 0, 37, 23, 1, 0, random, 8));
    d.frames.push_back(frame(5, 3, 11, 9, 2, 0, random, 8));
    d.frames.push_back(frame(2, 2, 20, 10, 3, 0, random, 8));
    d.frames.back().interlaced = true;
    d.frames.push_back(frame(10, 5, 15, 15, 1, 7, random, 8));
    d.frames.back().localPalette = palette(8, 9);
    d.frames.push_back(frame(0, 0, 37, 23, 2, 0, random, 2));  // mostly transparent
    d.frames.push_back(frame(36, 22, 1, 1, 3, 0, random, 8));
    d.frames.push_back(frame(1, 1, 3, 3, 1, 0, random, 8));
    for (size_t i = 0; i < d.frames.size(); ++i) d.frames[i].delayHundredths = static_cast<int>(i * 7 % 20);
    out["disposals"] = d;

    GifSpec o{13, 61, palette(16, 2), 3, 3, {}};
    o.frames.push_back(frame(0, 0, 13, 61, 1, std::nullopt, random, 16));
    int y = 0;
    for (int h : {1, 2, 3, 4, 5, 7, 8, 9, 17}) {
        o.frames.push_back(frame(h % 4, y, 9, h, 1, std::nullopt, random, 16));
        o.frames.back().interlaced = true;
        y += h;
    }
    out["interlaced"] = o;

    GifSpec p{20, 20, palette(4, 3), 1, std::nullopt, {}};
    p.frames.push_back(frame(3, 4, 5, 6, 3, 0, random, 4));  // restores to the empty canvas
    p.frames.push_back(frame(0, 0, 20, 20, 2, 0, random, 4));
    p.frames.back().delayHundredths = 65535;
    p.frames.push_back(frame(8, 8, 4, 4, 1, 2, random, 4));
    out["partialFirst"] = p;

    GifSpec r{50, 40, palette(32, 4), 0, 65535, {}};
    r.frames.push_back(frame(0, 0, 50, 40, 1, 0, random, 32));
    for (int i = 0; i < 14; ++i) {
        const int w = 1 + random() % 50, h = 1 + random() % 40;
        r.frames.push_back(frame(random() % (51 - w), random() % (41 - h), w, h, 1 + random() % 3,
                                 static_cast<int>(random() % 32), random, 32));
        r.frames.back().interlaced = random() % 2;
        if (random() % 3 == 0) r.frames.back().localPalette = palette(32, i + 10);
    }
    out["random"] = r;
    return out;
}

}  // namespace

TEST(GifFrames, ComposedFramesLoopAndDelaysAgreeWithPIL) {
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    const auto gifs = fixtures();
    std::string names;
    for (const auto& [name, spec] : gifs) {
        ASSERT_TRUE(foundation::files::writeAtomically(dir / (name + ".gif"), hxtest::writeGif(spec)).ok());
        names += "'" + name + "',";
    }
    const std::string report = hxtest::runPIL(dir, "for name in [" + names + R"(]:
    im = Image.open(name + '.gif')
    print(name, im.n_frames, im.info.get('loop', -1))
    for i in range(im.n_frames):
        im.seek(i)
        print(' ', im.info.get('duration', -1))
        open('%s_%d.rgba' % (name, i), 'wb').write(im.convert('RGBA').tobytes())
)");
    std::istringstream lines(report);
    for (const auto& [name, spec] : gifs) {
        SCOPED_TRACE(name);
        std::string pilName;
        size_t pilFrames = 0;
        int pilLoop = 0;
        lines >> pilName >> pilFrames >> pilLoop;
        ASSERT_EQ(pilName, name);
        auto source = ImageSource::create(hxtest::readBytes(dir / (name + ".gif")));
        ASSERT_TRUE(source.ok());
        const ImageSource& s = **source;
        EXPECT_EQ(s.type(), "com.compuserve.gif");
        EXPECT_EQ(s.count(), pilFrames);
        EXPECT_EQ(s.loopCount().value_or(-1), pilLoop);
        // Frames in order, then a second pass backwards (which recomposes from the start).
        std::vector<size_t> order;
        for (size_t i = 0; i < pilFrames; ++i) order.push_back(i);
        for (size_t i = pilFrames; i-- > 0;) order.push_back(i);
        std::vector<int> durations(pilFrames);
        for (size_t i = 0; i < pilFrames; ++i) lines >> durations[i];
        for (size_t i : order) {
            const int ms =
                s.frameInfo(i).delayTime ? static_cast<int>(std::lround(*s.frameInfo(i).delayTime * 1000)) : -1;
            EXPECT_EQ(ms, durations[i]) << "frame " << i;
            auto bitmap = s.frameAt(i);
            ASSERT_TRUE(bitmap.ok()) << i;
            ASSERT_EQ((*bitmap)->width(), s.canvasWidth());
            const auto expected =
                hxtest::premultipliedRGBA(hxtest::readBytes(dir / (name + "_" + std::to_string(i) + ".rgba")));
            const auto got = hxtest::pixelsOf(**bitmap);
            ASSERT_EQ(got.size(), expected.size());
            size_t differing = 0;
            for (size_t k = 0; k < got.size(); ++k) differing += got[k] != expected[k];
            EXPECT_EQ(differing, 0u) << "frame " << i;
        }
    }
}

TEST(GifFrames, FramesOutsideTheCanvasAreClippedAndBrokenDataStopsCleanly) {
    std::mt19937 random(5);
    GifSpec spec{10, 10, palette(4, 5), 0, 0, {}};
    spec.frames.push_back(frame(0, 0, 10, 10, 1, std::nullopt, random, 4));
    spec.frames.push_back(frame(6, 7, 30, 30, 1, std::nullopt, random, 4));  // runs past both edges
    spec.frames.push_back(frame(2, 2, 2, 2, 1, std::nullopt, random, 4));
    const foundation::Data gif = hxtest::writeGif(spec);
    auto source = ImageSource::create(gif);
    ASSERT_TRUE(source.ok());
    ASSERT_EQ((*source)->count(), 3u);
    auto second = (*source)->frameAt(1);
    ASSERT_TRUE(second.ok());
    // The visible corner of the oversized frame is its own top left.
    const auto& idx = spec.frames[1].indices;
    const auto colour = spec.palette[idx[0]];
    EXPECT_EQ((*second)->rgbaAt(6, 7), (std::array<uint8_t, 4>{colour[0], colour[1], colour[2], 255}));
    const auto last = spec.palette[idx[3 * 30 + 3]];
    EXPECT_EQ((*second)->rgbaAt(9, 9), (std::array<uint8_t, 4>{last[0], last[1], last[2], 255}));

    // Frames wholly outside the canvas draw nothing and dispose of nothing, whatever their disposal.
    for (int disposal : {1, 2, 3}) {
        GifSpec outside{10, 10, palette(4, 5), 0, 0, {}};
        outside.frames.push_back(frame(0, 0, 10, 10, 1, std::nullopt, random, 4));
        outside.frames.push_back(frame(25, 3, 12, 4, disposal, std::nullopt, random, 4));
        outside.frames.push_back(frame(3, 30, 2, 2, disposal, std::nullopt, random, 4));
        outside.frames.push_back(frame(0, 0, 1, 1, 1, std::nullopt, random, 4));
        auto s = ImageSource::create(hxtest::writeGif(outside));
        ASSERT_TRUE(s.ok());
        auto first = (*s)->frameAt(0), last = (*s)->frameAt(3);
        ASSERT_TRUE(first.ok() && last.ok());
        EXPECT_EQ((*first)->rgbaAt(9, 9), (*last)->rgbaAt(9, 9)) << disposal;
    }

    // Every prefix: either an error, or a source whose complete frames compose and whose last
    // frame may be incomplete.
    for (size_t n = 0; n < gif.size(); ++n) {
        auto cut = ImageSource::create(foundation::Data(gif.begin(), gif.begin() + n));
        if (!cut.ok()) continue;
        for (size_t i = 0; i < (*cut)->count(); ++i) {
            auto f = (*cut)->frameAt(i);
            EXPECT_EQ(f.ok(), (*cut)->frameInfo(i).complete) << n << " " << i;
        }
        EXPECT_FALSE((*cut)->frameAt((*cut)->count()).ok());
    }
    // Still formats give one frame.
    auto png = encodePNG(*Bitmap::make(3, 2).value()).value();
    auto still = ImageSource::create(png);
    ASSERT_TRUE(still.ok());
    EXPECT_EQ((*still)->type(), "public.png");
    EXPECT_EQ((*still)->count(), 1u);
    EXPECT_FALSE((*still)->loopCount());
    EXPECT_TRUE((*still)->frameAt(0).ok());
    EXPECT_FALSE(ImageSource::create(foundation::Data{'n', 'o', 'p', 'e'}).ok());
}

TEST(GifFrames, FramesTooLargeInTotalAreRefused) {
    setDecodedPixelLimit(10'000);
    std::mt19937 random(3);
    GifSpec spec{100, 100, palette(2, 1), 0, 0, {}};
    spec.frames.push_back(frame(0, 0, 100, 100, 1, std::nullopt, random, 2));
    auto one = ImageSource::create(hxtest::writeGif(spec));
    EXPECT_TRUE(one.ok()) << "exactly at the limit";
    spec.frames.push_back(frame(0, 0, 1, 1, 1, std::nullopt, random, 2));
    auto two = ImageSource::create(hxtest::writeGif(spec));
    setDecodedPixelLimit(0);
    ASSERT_FALSE(two.ok());
    EXPECT_EQ(two.error().code, kImageTooLargeError);
}
