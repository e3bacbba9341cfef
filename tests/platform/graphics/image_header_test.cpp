#include "platform/graphics/image.h"

#include <gtest/gtest.h>

#include "platform/foundation/files.h"
#include "tests/support/test_support.h"

using namespace foundation;
using graphics::Image;
using graphics::kImageCorruptError;
using graphics::readImageHeader;

namespace {

// A minimal baseline JPEG prefix: SOI, an APP0 segment, then SOF0 for 640x480 (fill bytes before
// the frame marker are legal).
Data jpeg640x480() {
    return Data{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x06, 'J',  'F',  'I',  'F',  0xFF, 0xFF, 0xC0,
                0x00, 0x0B, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};
}

}  // namespace

TEST(ImageHeader, HeadersOfEachFormat) {
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

TEST(ImageHeader, PngWrittenByPython) {
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
    const Image& i = **image;
    EXPECT_EQ(i.format(), "public.png");
    EXPECT_EQ(i.pixelWidth(), 33);
    EXPECT_EQ(i.pixelHeight(), 17);
    EXPECT_DOUBLE_EQ(i.width(), 16.5);
    ASSERT_TRUE(i.bitmap());
    EXPECT_EQ(i.bitmap()->rgbaAt(32, 16), (std::array<uint8_t, 4>{0x80, 0x80, 0x80, 0xFF}));

    auto back = Image::fromDictionary(i.toDictionary());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(**back, i);
    EXPECT_EQ((*back)->toDictionary().get("orientation"), Value()) << "up is the bytes' own orientation";
    auto turned = Image::fromDictionary(i.withOrientation(graphics::ImageOrientation::left)->toDictionary());
    ASSERT_TRUE(turned.ok());
    EXPECT_EQ((*turned)->orientation(), graphics::ImageOrientation::left);
    EXPECT_DOUBLE_EQ((*turned)->width(), 8.5);
    Dictionary lying = i.toDictionary();
    lying.set("pixelWidth", 34);
    EXPECT_FALSE(Image::fromDictionary(lying).ok());
    Dictionary badOrientation = i.toDictionary();
    badOrientation.set("orientation", 8);
    EXPECT_FALSE(Image::fromDictionary(badOrientation).ok());
    Dictionary missing = i.toDictionary();
    missing.remove("data");
    EXPECT_FALSE(Image::fromDictionary(missing).ok());
}

TEST(ImageHeader, TruncatedAndUnknownDataFailCleanly) {
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

TEST(ImageHeader, ExifOrientationOfJPEG) {
    // SOI, APP1 "Exif" with a TIFF header and one IFD0 entry (orientation), then the frame header.
    auto jpegWith = [](bool little, uint16_t orientation) {
        Data tiff = little ? Data{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0}
                           : Data{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1};
        if (little) {
            tiff.push_back(static_cast<uint8_t>(orientation));
            tiff.push_back(static_cast<uint8_t>(orientation >> 8));
        } else {
            tiff.push_back(static_cast<uint8_t>(orientation >> 8));
            tiff.push_back(static_cast<uint8_t>(orientation));
        }
        tiff.insert(tiff.end(), {0, 0, 0, 0, 0, 0});
        Data app1 = {'E', 'x', 'i', 'f', 0, 0};
        app1.insert(app1.end(), tiff.begin(), tiff.end());
        Data out = {0xFF,
                    0xD8,
                    0xFF,
                    0xE1,
                    static_cast<uint8_t>((app1.size() + 2) >> 8),
                    static_cast<uint8_t>(app1.size() + 2)};
        out.insert(out.end(), app1.begin(), app1.end());
        const Data sof = {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x0A, 0x00, 0x14, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};
        out.insert(out.end(), sof.begin(), sof.end());
        return out;
    };
    const struct {
        uint16_t exif;
        graphics::ImageOrientation orientation;
    } cases[] = {{1, graphics::ImageOrientation::up},
                 {2, graphics::ImageOrientation::upMirrored},
                 {3, graphics::ImageOrientation::down},
                 {4, graphics::ImageOrientation::downMirrored},
                 {5, graphics::ImageOrientation::leftMirrored},
                 {6, graphics::ImageOrientation::right},
                 {7, graphics::ImageOrientation::rightMirrored},
                 {8, graphics::ImageOrientation::left},
                 {9, graphics::ImageOrientation::up},
                 {0, graphics::ImageOrientation::up}};
    for (bool little : {true, false}) {
        for (const auto& c : cases) {
            auto image = Image::fromEncoded(jpegWith(little, c.exif));
            ASSERT_TRUE(image.ok()) << c.exif;
            EXPECT_EQ((*image)->orientation(), c.orientation) << c.exif << " little " << little;
            EXPECT_EQ((*image)->pixelWidth(), 20);
            const bool sideways = c.exif >= 5 && c.exif <= 8;
            EXPECT_EQ((*image)->size(), (graphics::Size{sideways ? 10.0 : 20.0, sideways ? 20.0 : 10.0}));
        }
    }
    // An entry table that runs past its segment is ignored, not read.
    Data cut = jpegWith(true, 6);
    cut[5] = 20;  // APP1 length shorter than its entry
    auto header = readImageHeader(cut.data(), cut.size());
    if (header.ok()) {
        EXPECT_EQ(header->exifOrientation, 1);
    }
}

TEST(ImageHeader, JPEGMarkersAreFoundAsTheDecoderFindsThem) {
    // Garbage and a stuffed 0xFF 0x00 between segments are skipped; the frame header after them
    // gives the size (3 x 2).
    const Data jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 'J',  'F',  0x12, 0x34, 0xFF, 0x00, 0x00, 0x61, 0xFF,
                       0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x02, 0x00, 0x03, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};
    auto header = readImageHeader(jpeg.data(), jpeg.size());
    ASSERT_TRUE(header.ok());
    EXPECT_EQ(header->pixelWidth, 3);
    EXPECT_EQ(header->pixelHeight, 2);
}
