#include "platform/foundation/image.h"

#include <gtest/gtest.h>

#include "platform/foundation/files.h"
#include "tests/support/test_support.h"

using namespace foundation;

namespace {

// A minimal baseline JPEG prefix: SOI, an APP0 segment, then SOF0 for 640x480 (fill bytes before
// the frame marker are legal).
Data jpeg640x480() {
    return Data{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x06, 'J',  'F',  'I',  'F',  0xFF, 0xFF, 0xC0,
                0x00, 0x0B, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};
}

}  // namespace

TEST(Image, HeadersOfEachFormat) {
    auto jpeg = readImageHeader(jpeg640x480().data(), jpeg640x480().size());
    ASSERT_TRUE(jpeg.ok());
    EXPECT_EQ(jpeg->format, "public.jpeg");
    EXPECT_EQ(jpeg->pixelWidth, 640);
    EXPECT_EQ(jpeg->pixelHeight, 480);

    const Data gif = {'G', 'I', 'F', '8', '9', 'a', 0x2C, 0x01, 0x05, 0x00, 0x80, 0x00, 0x00};
    auto g = readImageHeader(gif.data(), gif.size());
    ASSERT_TRUE(g.ok());
    EXPECT_EQ(g->format, "com.compuserve.gif");
    EXPECT_EQ(g->pixelWidth, 300);
    EXPECT_EQ(g->pixelHeight, 5);

    Data bmp(54, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[14] = 40;
    bmp[18] = 7;
    bmp[22] = 0xFD, bmp[23] = 0xFF, bmp[24] = 0xFF, bmp[25] = 0xFF;  // height -3: top-down
    auto b = readImageHeader(bmp.data(), bmp.size());
    ASSERT_TRUE(b.ok());
    EXPECT_EQ(b->pixelWidth, 7);
    EXPECT_EQ(b->pixelHeight, 3);
}

TEST(Image, PngWrittenByPython) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP();
    hxtest::TempDir tmp;
    const auto path = tmp / "t.png";
    const std::string script = "import struct,zlib\n"
                               "def chunk(t,d): return struct.pack('>I',len(d))+t+d+struct.pack('>I',zlib.crc32(t+d))\n"
                               "w,h=33,17\n"
                               "raw=b''.join(b'\\x00'+b'\\x80'*(w*3) for _ in range(h))\n"
                               "png=b'\\x89PNG\\r\\n\\x1a\\n'+chunk(b'IHDR',struct.pack('>IIBBBBB',w,h,8,2,0,0,0))+"
                               "chunk(b'IDAT',zlib.compress(raw))+chunk(b'IEND',b'')\n"
                               "open('" +
                               path.string() + "','wb').write(png)\n";
    ASSERT_TRUE(files::writeAtomically(tmp / "mk.py", script).ok());
    ASSERT_EQ(hxtest::runCommand("python3 " + (tmp / "mk.py").string()), 0);
    auto image = Image::fromEncoded(files::readData(path).value(), 2);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image->format, "public.png");
    EXPECT_EQ(image->pixelWidth, 33);
    EXPECT_EQ(image->pixelHeight, 17);
    EXPECT_DOUBLE_EQ(image->width(), 16.5);

    auto back = Image::fromDictionary(image->toDictionary());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, *image);
    Dictionary lying = image->toDictionary();
    lying.set("pixelWidth", 34);
    EXPECT_FALSE(Image::fromDictionary(lying).ok());
    Dictionary missing = image->toDictionary();
    missing.remove("data");
    EXPECT_FALSE(Image::fromDictionary(missing).ok());
}

TEST(Image, TruncatedAndUnknownDataFailCleanly) {
    const Data full = jpeg640x480();
    // Every prefix short of the frame header is an error, never a read past the end.
    for (size_t n = 0; n < 20; ++n) {
        EXPECT_FALSE(readImageHeader(full.data(), n).ok()) << n;
    }
    const Data zeroGif = {'G', 'I', 'F', '8', '7', 'a', 0, 0, 1, 0};
    EXPECT_FALSE(readImageHeader(zeroGif.data(), zeroGif.size()).ok());
    const Data text = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(readImageHeader(text.data(), text.size()).error().code, kImageCorruptError);
    const Data badSegment = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xC0};
    EXPECT_FALSE(readImageHeader(badSegment.data(), badSegment.size()).ok());
    EXPECT_FALSE(Image::fromEncoded(full, 0).ok());
    EXPECT_FALSE(Image::fromEncoded(full, -1).ok());
}
