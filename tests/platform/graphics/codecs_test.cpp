#include "platform/graphics/codecs.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/graphics/image.h"
#include "platform/graphics/image_source.h"
#include "tests/platform/graphics/pil.h"

using namespace graphics;
using foundation::Data;

namespace {

// A bitmap with every alpha level and colour ramps, so premultiplication and channel order show.
std::shared_ptr<Bitmap> rampBitmap(int w, int h) {
    auto b = Bitmap::make(w, h).value();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            b->setRGBA(x, y, static_cast<uint8_t>(x * 255 / std::max(1, w - 1)),
                       static_cast<uint8_t>(y * 255 / std::max(1, h - 1)),
                       static_cast<uint8_t>((x * 7 + y * 13) & 0xFF),
                       static_cast<uint8_t>((x + y * w) * 255 / std::max(1, w * h - 1)));
        }
    }
    return b;
}

uint32_t be32(const Data& d, size_t at) {
    return uint32_t(d[at]) << 24 | uint32_t(d[at + 1]) << 16 | uint32_t(d[at + 2]) << 8 | d[at + 3];
}

}  // namespace

TEST(Codecs, PNGsWrittenByPILDecodeToPILsPixels) {
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    // Each mode PIL writes: palette with transparency, grey with and without alpha, 1-bit, 16-bit
    // grey, RGB and RGBA; sizes odd on purpose. PIL also dumps what it reads as RGBA.
    hxtest::runPIL(dir, R"(
import random
random.seed(7)
def noise(mode, size):
    im = Image.new('RGBA', size)
    im.putdata([(random.randrange(256), random.randrange(256), random.randrange(256), random.randrange(256))
                for _ in range(size[0] * size[1])])
    return im
cases = {
  'rgba': noise('RGBA', (33, 7)),
  'rgb': noise('RGBA', (1, 1)).convert('RGB'),
  'la': noise('RGBA', (5, 40)).convert('LA'),
  'l': noise('RGBA', (17, 3)).convert('L'),
  'one': noise('RGBA', (9, 9)).convert('1'),
  'p': noise('RGBA', (12, 12)).convert('RGB').convert('P', palette=Image.ADAPTIVE, colors=16),
  'i16': noise('RGBA', (4, 6)).convert('I').point(lambda v: v * 200),
}
for name, im in cases.items():
    if name == 'p':
        im.save(name + '.png', transparency=3)
    elif name == 'i16':
        im.convert('I;16').save(name + '.png')
    else:
        im.save(name + '.png')
    back = Image.open(name + '.png')
    back.load()
    if back.mode == 'I;16' or back.mode == 'I':
        back = back.point(lambda v: v / 257).convert('L')
    open(name + '.rgba', 'wb').write(back.convert('RGBA').tobytes())
)");
    for (const std::string name : {"rgba", "rgb", "la", "l", "one", "p", "i16"}) {
        const Data png = hxtest::readBytes(dir / (name + ".png"));
        auto bitmap = decodePNG(png.data(), png.size());
        ASSERT_TRUE(bitmap.ok()) << name << ": " << bitmap.error().localizedDescription();
        auto expected = hxtest::premultipliedRGBA(hxtest::readBytes(dir / (name + ".rgba")));
        if (name == "i16") {
            // 16-bit grey is cut to its top byte here and scaled by PIL: allow one level.
            auto got = hxtest::pixelsOf(**bitmap);
            ASSERT_EQ(got.size(), expected.size());
            for (size_t i = 0; i < got.size(); ++i)
                EXPECT_LE(std::abs(int(got[i] & 0xFF) - int(expected[i] & 0xFF)), 1);
            continue;
        }
        EXPECT_EQ(hxtest::pixelsOf(**bitmap), expected) << name;
    }
}

TEST(Codecs, PNGWeWriteIsReadByPILAsTheSamePixels) {
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    auto ramp = rampBitmap(31, 9);
    // Both compressions write the same pixels; only the effort spent on size differs.
    for (PNGCompression compression : {PNGCompression::Compact, PNGCompression::Fast}) {
        SCOPED_TRACE(compression == PNGCompression::Fast ? "fast" : "compact");
        auto png = encodePNG(*ramp, compression);
        ASSERT_TRUE(png.ok());
        ASSERT_TRUE(foundation::files::writeAtomically(dir / "ours.png", *png).ok());
        const std::string out = hxtest::runPIL(dir, R"(
im = Image.open('ours.png')
print(im.mode, im.size[0], im.size[1])
open('ours.rgba', 'wb').write(im.tobytes())
)");
        EXPECT_EQ(out, "RGBA 31 9\n");
        EXPECT_EQ(hxtest::premultipliedRGBA(hxtest::readBytes(dir / "ours.rgba")), hxtest::pixelsOf(*ramp));
        // And it decodes back here to the same pixels.
        auto back = decodePNG(png->data(), png->size());
        ASSERT_TRUE(back.ok());
        EXPECT_EQ(**back, *ramp);
    }
}

TEST(Codecs, JPEGWeWriteIsReadByPILAndQualityControlsSize) {
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    auto b = Bitmap::make(64, 48).value();
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x)
            b->setRGBA(x, y, static_cast<uint8_t>(x * 4), static_cast<uint8_t>(y * 5), 90, 255);
    }
    auto high = encodeJPEG(*b, 0.9), low = encodeJPEG(*b, 0.1);
    ASSERT_TRUE(high.ok() && low.ok());
    EXPECT_LT(low->size(), high->size());
    ASSERT_TRUE(foundation::files::writeAtomically(dir / "ours.jpg", *high).ok());
    const std::string out = hxtest::runPIL(dir, R"(
im = Image.open('ours.jpg')
print(im.format, im.mode, im.size[0], im.size[1])
open('ours.rgb', 'wb').write(im.convert('RGBA').tobytes())
)");
    EXPECT_EQ(out, "JPEG RGB 64 48\n");
    const auto pil = hxtest::premultipliedRGBA(hxtest::readBytes(dir / "ours.rgb"));
    ASSERT_EQ(pil.size(), size_t(64 * 48));
    double error = 0;
    for (size_t i = 0; i < pil.size(); ++i) {
        for (int shift : {0, 8, 16}) error += std::abs(int(pil[i] >> shift & 0xFF) - int(b->data()[i] >> shift & 0xFF));
    }
    EXPECT_LT(error / (pil.size() * 3), 3.0) << "mean error per channel at quality 0.9";
    // Our decoder reads PIL's view of the same file exactly (the same library underneath).
    auto decoded = decodeJPEG(high->data(), high->size());
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(hxtest::pixelsOf(**decoded), pil);
}

TEST(Codecs, JPEGsWrittenByPILInEachColourModel) {
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    hxtest::runPIL(dir, R"(
im = Image.new('RGB', (40, 24), (200, 30, 60))
for x in range(40):
    for y in range(0, 24, 3):
        im.putpixel((x, y), (x * 6, 250 - x * 6, 100))
im.save('rgb.jpg', quality=95)
im.convert('L').save('grey.jpg', quality=95)
im.save('progressive.jpg', quality=95, progressive=True)
Image.new('CMYK', (8, 8), (0, 255, 255, 0)).save('cmyk.jpg', quality=100)
for n in ('rgb', 'grey', 'progressive'):
    open(n + '.rgba', 'wb').write(Image.open(n + '.jpg').convert('RGBA').tobytes())
)");
    for (const std::string name : {"rgb", "grey", "progressive"}) {
        const Data jpg = hxtest::readBytes(dir / (name + ".jpg"));
        auto bitmap = decodeJPEG(jpg.data(), jpg.size());
        ASSERT_TRUE(bitmap.ok()) << name;
        EXPECT_EQ(hxtest::pixelsOf(**bitmap), hxtest::premultipliedRGBA(hxtest::readBytes(dir / (name + ".rgba"))))
            << name;
    }
    const Data cmyk = hxtest::readBytes(dir / "cmyk.jpg");
    auto red = decodeJPEG(cmyk.data(), cmyk.size());
    ASSERT_TRUE(red.ok());
    const auto c = (*red)->rgbaAt(4, 4);
    EXPECT_GT(c[0], 240);
    EXPECT_LT(c[1], 15);
    EXPECT_LT(c[2], 15);
}

TEST(Codecs, OpaqueAndTranslucentPixelsSideBySideKeepTheirColoursThroughPNG) {
    // A screen is mostly opaque with a few translucent pixels: both kinds, every channel value,
    // next to each other in the same rows.
    auto b = Bitmap::make(256, 4).value();
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 256; ++x) {
            const auto v = static_cast<uint8_t>(x);
            const uint8_t alpha = (x + y) % 3 == 0 ? static_cast<uint8_t>(255 - (x % 200)) : 255;
            b->setRGBA(x, y, v, static_cast<uint8_t>(255 - v), static_cast<uint8_t>(v * 7), alpha);
        }
    }
    for (PNGCompression compression : {PNGCompression::Compact, PNGCompression::Fast}) {
        auto png = encodePNG(*b, compression);
        ASSERT_TRUE(png.ok());
        auto back = decodePNG(png->data(), png->size());
        ASSERT_TRUE(back.ok());
        EXPECT_EQ(**back, *b);
        // The stored bytes are straight (not premultiplied) colours: opaque ones exactly as set.
        for (int x = 0; x < 256; x += 17) {
            const auto p = (*back)->rgbaAt(x, 1);
            if (p[3] != 255) continue;
            EXPECT_EQ(p, (std::array<uint8_t, 4>{static_cast<uint8_t>(x), static_cast<uint8_t>(255 - x),
                                                 static_cast<uint8_t>(x * 7), 255}));
        }
    }
}

TEST(Codecs, HugeClaimedSizesAreRefusedBeforeAllocating) {
    // 60000 x 60000 in each header; the bytes after it are too few for even one row.
    Data png = encodePNG(*Bitmap::make(1, 1).value()).value();
    png[16] = 0, png[17] = 0, png[18] = 0xEA, png[19] = 0x60;
    png[20] = 0, png[21] = 0, png[22] = 0xEA, png[23] = 0x60;
    auto p = decodePNG(png.data(), png.size());
    ASSERT_FALSE(p.ok());
    // The header's checksum no longer matches; the refusal may come from either check, but never
    // from an allocation.
    Data jpeg = encodeJPEG(*Bitmap::make(8, 8).value(), 0.5).value();
    for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = 0xEA, jpeg[i + 6] = 0x60, jpeg[i + 7] = 0xEA, jpeg[i + 8] = 0x60;
            break;
        }
    }
    auto j = decodeJPEG(jpeg.data(), jpeg.size());
    ASSERT_FALSE(j.ok());
    EXPECT_EQ(j.error().code, kImageTooLargeError);
    const Data gif = {'G', 'I', 'F', '8', '9', 'a', 0x60, 0xEA, 0x60, 0xEA, 0, 0, 0, ';'};
    auto g = decodeGIF(gif.data(), gif.size());
    ASSERT_FALSE(g.ok());
    EXPECT_EQ(g.error().code, kImageTooLargeError);
    // The same for a PNG whose checksum is right: rebuild the header chunk with python's zlib.
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    hxtest::runPIL(dir, R"(
import zlib
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
open('huge.png', 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 60000, 60000, 8, 6, 0, 0, 0))
    + chunk(b'IDAT', zlib.compress(b'\0' * 1000)) + chunk(b'IEND', b''))
)");
    const Data huge = hxtest::readBytes(dir / "huge.png");
    auto h = decodePNG(huge.data(), huge.size());
    ASSERT_FALSE(h.ok());
    EXPECT_EQ(h.error().code, kImageTooLargeError);
}

TEST(Codecs, TruncatedAndCorruptDataNeverCrash) {
    const Data png = encodePNG(*rampBitmap(20, 20)).value();
    const Data jpeg = encodeJPEG(*rampBitmap(40, 40), 0.8).value();
    for (size_t n = 0; n < png.size(); n += 3) (void)decodePNG(png.data(), n);
    EXPECT_FALSE(decodePNG(png.data(), png.size() - 20).ok()) << "no end chunk";
    size_t partial = 0;
    for (size_t n = 0; n < jpeg.size(); n += 7) {
        auto r = decodeJPEG(jpeg.data(), n);
        if (r.ok()) ++partial;
    }
    EXPECT_GT(partial, 0u) << "a JPEG cut after its headers still gives the rows that arrived";
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        for (const Data* original : {&png, &jpeg}) {
            Data d = *original;
            for (int k = 0; k < 4; ++k) d[random() % d.size()] = static_cast<uint8_t>(random());
            (void)decodeImage(d.data(), d.size());
        }
    }
}

TEST(Codecs, ImagesDecodeLazilyOnceAndKeepTheirError) {
    const Data png = encodePNG(*rampBitmap(5, 3)).value();
    auto image = Image::fromEncoded(png, 2);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ((*image)->size(), (Size{2.5, 1.5}));
    auto first = (*image)->bitmap();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), (*image)->bitmap().get()) << "decoded once";
    EXPECT_EQ((*image)->withScale(1)->bitmap().get(), first.get()) << "copies share the pixels";
    Data broken = png;
    broken.resize(40);
    auto bad = Image::fromEncoded(broken);
    ASSERT_TRUE(bad.ok()) << "the header is enough to make the image";
    EXPECT_FALSE((*bad)->bitmap());
    ASSERT_TRUE((*bad)->decodeError());
    EXPECT_EQ((*bad)->decodeError()->code, kImageCorruptError);
    EXPECT_EQ(be32(png, 16), 5u);
}

TEST(Codecs, GIFsWeWriteLoopWithTheirFramesDelaysAndNearColours) {
    struct Case {
        int width, height, frames;
        double delay;
        int hundredths;
    };
    const Case cases[] = {{1, 1, 1, 0, 0}, {40, 30, 3, 0.2, 20}, {17, 5, 2, 0.054, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        std::vector<std::shared_ptr<Bitmap>> frames;
        for (int f = 0; f < c.frames; ++f) {
            auto b = rampBitmap(c.width, c.height);
            // Each frame shifted so frames differ; the top left pixel is transparent.
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x) {
                    auto p = b->rgbaAt(x, y);
                    b->setRGBA(x, y, static_cast<uint8_t>(p[0] + f * 40), p[1], p[2], 255);
                }
            b->setRGBA(0, 0, 0, 0, 0, 0);
            frames.push_back(b);
        }
        auto gif = encodeGIF(frames, c.delay);
        ASSERT_TRUE(gif.ok());
        auto source = ImageSource::create(*gif);
        ASSERT_TRUE(source.ok());
        EXPECT_EQ((*source)->canvasWidth(), c.width);
        ASSERT_EQ((*source)->count(), static_cast<size_t>(c.frames));
        EXPECT_EQ((*source)->loopCount(), 0);
        for (int f = 0; f < c.frames; ++f) {
            EXPECT_NEAR((*source)->frameInfo(static_cast<size_t>(f)).delayTime.value_or(-1), c.hundredths / 100.0,
                        1e-9);
            auto frame = (*source)->frameAt(static_cast<size_t>(f));
            ASSERT_TRUE(frame.ok());
            EXPECT_EQ((*frame)->rgbaAt(0, 0)[3], 0) << "transparent pixel";
            for (int y = 0; y < c.height; ++y)
                for (int x = (y == 0 ? 1 : 0); x < c.width; ++x) {
                    const auto want = frames[static_cast<size_t>(f)]->rgbaAt(x, y);
                    const auto got = (*frame)->rgbaAt(x, y);
                    // The fixed palette's steps are 51 apart: no channel is off by more than half.
                    for (int k = 0; k < 3; ++k)
                        ASSERT_LE(std::abs(int(got[static_cast<size_t>(k)]) - int(want[static_cast<size_t>(k)])), 26)
                            << f << " " << x << "," << y;
                    ASSERT_EQ(got[3], 255);
                }
        }
    }
    // Nothing to write, or frames of different sizes, are errors.
    EXPECT_FALSE(encodeGIF({}, 0.1).ok());
    EXPECT_FALSE(encodeGIF({rampBitmap(4, 4), rampBitmap(4, 5)}, 0.1).ok());
    EXPECT_FALSE(encodeGIF({nullptr}, 0.1).ok());
}
