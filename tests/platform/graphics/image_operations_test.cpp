#include "platform/graphics/image_operations.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/graphics/codecs.h"
#include "platform/graphics/screen_scale.h"
#include "tests/platform/graphics/pil.h"
#include "tests/support/pixels.h"

using namespace graphics;
using RGBA8 = std::array<uint8_t, 4>;

namespace {

using hxtest::kBlue;
using hxtest::kRed;
const RGBA8 kGreen{0, 255, 0, 255}, kWhite{255, 255, 255, 255};

// Vertical stripes (or horizontal bands) of the four colours, each a quarter of the picture.
ImagePtr stripes(int w, int h, bool vertical, double scale = 1) {
    auto b = Bitmap::make(w, h).value();
    const RGBA8 colours[4] = {kRed, kGreen, kBlue, kWhite};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const RGBA8& c = colours[vertical ? x * 4 / w : y * 4 / h];
            b->setRGBA(x, y, c[0], c[1], c[2], c[3]);
        }
    }
    return Image::fromBitmap(b, scale);
}

ImagePtr noise(int w, int h) {
    std::mt19937 random(9);
    auto b = Bitmap::make(w, h).value();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            b->setRGBA(x, y, static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                       static_cast<uint8_t>(random()), 255);
        }
    }
    return Image::fromBitmap(b);
}

RGBA8 pixel(const ImagePtr& image, int x, int y) { return image->bitmap()->rgbaAt(x, y); }

struct MainScale {
    explicit MainScale(double s) { setMainScreenScale(s); }
    ~MainScale() { setMainScreenScale(2); }
};

}  // namespace

TEST(ImageOperations, UprightRedraw) {
    const ImagePtr up = stripes(8, 4, true);
    EXPECT_EQ(imageWithFixedOrientationOfImage(up), up) << "an upright image is returned itself";
    // A portrait camera picture: stored 40 x 30 turned right is 30 x 40 points upright.
    const ImagePtr portrait = stripes(40, 30, true)->withOrientation(ImageOrientation::right);
    ASSERT_EQ(portrait->size(), (Size{30, 40}));
    const ImagePtr fixed = imageWithFixedOrientationOfImage(portrait);
    ASSERT_TRUE(fixed);
    EXPECT_EQ(fixed->orientation(), ImageOrientation::up);
    EXPECT_EQ(fixed->scale(), 1);
    EXPECT_EQ(fixed->pixelWidth(), 30);
    EXPECT_EQ(fixed->pixelHeight(), 40);
    // Turned a quarter clockwise, the stored left (red) stripe is now the top band.
    EXPECT_EQ(pixel(fixed, 15, 2), kRed);
    EXPECT_EQ(pixel(fixed, 15, 37), kWhite);
    // A scale-2 picture is redrawn at its point size (the Part's whole pixels at scale 1).
    const ImagePtr retina = stripes(40, 20, true, 2)->withOrientation(ImageOrientation::down);
    const ImagePtr small = imageWithFixedOrientationOfImage(retina);
    EXPECT_EQ(small->pixelWidth(), 20);
    EXPECT_EQ(pixel(small, 1, 5), kWhite);
}

TEST(ImageOperations, JPEGShrinksByTenthsUntilItFitsAndPILReadsIt) {
    const ImagePtr picture = noise(200, 100);
    const auto once = jpegRepresentation(picture, 0.7);
    ASSERT_TRUE(once);
    EXPECT_EQ(UIImageJPEGRepresentationWithMaxSize(picture, once->size(), 0.7), once)
        << "within the limit: one encoding";
    // The limit met after two shrinks: 0.9 then 0.81 of the first size.
    const ImagePtr twice = resizedWithPercentage(resizedWithPercentage(picture, 0.9), 0.9);
    const auto expected = jpegRepresentation(twice, 0.7);
    ASSERT_TRUE(expected);
    const auto fitted = UIImageJPEGRepresentationWithMaxSize(picture, expected->size(), 0.7);
    ASSERT_TRUE(fitted);
    EXPECT_EQ(*fitted, *expected);
    auto decoded = decodeJPEG(fitted->data(), fitted->size());
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ((*decoded)->width(), 162);
    EXPECT_EQ((*decoded)->height(), 81);
    const ImagePtr thrice = resizedWithPercentage(twice, 0.9);
    EXPECT_EQ(thrice->pixelWidth(), 146) << "0.729 of 200, whole pixels rounded up";
    // A limit no JPEG can meet ends with none instead of shrinking for ever.
    EXPECT_FALSE(UIImageJPEGRepresentationWithMaxSize(picture, 10, 0.7));
    EXPECT_FALSE(UIImageJPEGRepresentationWithMaxSize(nullptr, 1e9, 0.7));

    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    ASSERT_TRUE(foundation::files::writeAtomically(dir / "mms.jpg", *fitted).ok());
    EXPECT_EQ(hxtest::runPIL(dir, "im = Image.open('mms.jpg'); im.load(); print(im.format, im.size)\n"),
              "JPEG (162, 81)\n");
}

TEST(ImageOperations, FittingToABoxCropsOrScalesByMethod) {
    MainScale one(1);
    const ImagePtr wide = stripes(400, 200, true);
    struct Case {
        ImagePtr image;
        int method;
        Size size;
        RGBA8 first, second;  // colours at a quarter and three quarters along the long axis
    } cases[] = {
        {wide, 0, {100, 100}, kGreen, kBlue},                      // the middle 200 x 200
        {wide, 1, {100, 100}, kRed, kGreen},                       // the left square
        {wide, 2, {100, 100}, kBlue, kWhite},                      // the right square
        {wide, 7, {100, 100}, kRed, kGreen},                       // unknown methods keep the top left
        {stripes(200, 400, false), 1, {100, 100}, kRed, kGreen},   // the top square
        {stripes(200, 400, false), 2, {100, 100}, kBlue, kWhite},  // the bottom square
        {stripes(200, 400, false), 0, {100, 100}, kGreen, kBlue},
    };
    for (const Case& c : cases) {
        const ImagePtr fitted = imageToFitSize(c.image, {100, 100}, c.method);
        ASSERT_TRUE(fitted);
        EXPECT_EQ(fitted->size(), c.size);
        const bool vertical = c.image->width() > c.image->height();
        EXPECT_EQ(pixel(fitted, vertical ? 25 : 50, vertical ? 50 : 25), c.first) << c.method;
        EXPECT_EQ(pixel(fitted, vertical ? 75 : 50, vertical ? 50 : 75), c.second) << c.method;
    }
    const ImagePtr scaled = imageScaledToFitSize(wide, {100, 100});
    EXPECT_EQ(scaled->size(), (Size{100, 50}));
    EXPECT_EQ(pixel(scaled, 12, 25), kRed);
    EXPECT_EQ(pixel(scaled, 87, 25), kWhite);
    EXPECT_EQ(imageCroppedToFitSize(wide, {100, 100})->bitmap()->rgbaAt(25, 50), kGreen);
    EXPECT_FALSE(imageToFitSize(wide, {0, 100}, 0));
}

TEST(ImageOperations, FittingDrawsAtTheMainScreenScaleAndKeepsTurnedPicturesWhole) {
    MainScale two(2);
    const ImagePtr thumb = imageScaledToFitSize(stripes(400, 200, true), {40, 40});
    EXPECT_EQ(thumb->size(), (Size{40, 20}));
    EXPECT_EQ(thumb->scale(), 2);
    EXPECT_EQ(thumb->pixelWidth(), 80);
    // Stored 40 x 30 with vertical stripes, turned right: upright the stripes are bands of ten
    // rows, red on top. The centred crop takes upright rows 6 to 37, so the square shows green
    // over blue in its middle, not the stored stripes squeezed.
    const ImagePtr turned = stripes(40, 30, true)->withOrientation(ImageOrientation::right);
    const ImagePtr square = imageCroppedToFitSize(turned, {10, 10});
    ASSERT_TRUE(square);
    EXPECT_EQ(square->size(), (Size{10, 10}));
    EXPECT_EQ(pixel(square, 10, 6), kGreen);
    EXPECT_EQ(pixel(square, 10, 13), kBlue);
    EXPECT_EQ(pixel(square, 2, 13), kBlue) << "bands run the full width";
}

// A picture of 6,900 x 6,900 pixels (a PNG of a few tens of kilobytes) shown as a thumbnail is
// decoded reduced: with the decoder's pixel limit at 2 megapixels, where the picture itself cannot
// be decoded, its thumbnail (PNG and JPEG) still shows each of its four quarters.
TEST(ImageOperations, AThumbnailOfAHugePictureIsDecodedReduced) {
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    hxtest::runPIL(dir,
                   "from PIL import ImageDraw\n"
                   "for name, mode, side in (('huge.png', 'P', 6900), ('huge.jpg', 'RGB', 4000)):\n"
                   "    im = Image.new(mode, (side, side), 0)\n"
                   "    if mode == 'P': im.putpalette([255,0,0, 0,255,0, 0,0,255, 255,255,255] + [0] * 756)\n"
                   "    d = ImageDraw.Draw(im)\n"
                   "    colours = [0, 1, 2, 3] if mode == 'P' else [(255,0,0), (0,255,0), (0,0,255), (255,255,255)]\n"
                   "    h = side // 2\n"
                   "    for i, (x, y) in enumerate(((0, 0), (h, 0), (0, h), (h, h))):\n"
                   "        d.rectangle([x, y, x + h - 1, y + h - 1], fill=colours[i])\n"
                   "    im.save(name, quality=95) if mode == 'RGB' else im.save(name)\n");
    struct Limit {
        Limit() { setDecodedPixelLimit(2'000'000); }
        ~Limit() { setDecodedPixelLimit(0); }
    } limit;
    const double screen = mainScreenScale();
    setMainScreenScale(2);
    for (const char* name : {"huge.png", "huge.jpg"}) {
        SCOPED_TRACE(name);
        const foundation::Data bytes = hxtest::readBytes(dir / name);
        if (std::string(name) == "huge.png") {
            EXPECT_LT(bytes.size(), 200'000u);
        }
        const ImagePtr picture = Image::fromEncoded(bytes).value();
        EXPECT_EQ(picture->bitmap(), nullptr) << "the whole picture is past the limit";
        const ImagePtr thumb = imageScaledToFitSize(picture, {280, 1e9});
        ASSERT_TRUE(thumb);
        EXPECT_EQ(thumb->size(), (Size{280, 280}));
        const auto pixels = thumb->bitmap();
        ASSERT_TRUE(pixels);
        const int side = pixels->width();
        const RGBA8 quarters[4] = {kRed, kGreen, kBlue, kWhite};
        for (int q = 0; q < 4; ++q) {
            const RGBA8 got = pixels->rgbaAt(side / 4 + (q % 2) * side / 2, side / 4 + (q / 2) * side / 2);
            for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[c], quarters[q][c], 6) << "quarter " << q << " channel " << c;
        }
        // Reduced to no fewer pixels than drawn, and no more than twice as many each way.
        const auto reduced = picture->reducedFor({560, 560})->bitmap();
        ASSERT_TRUE(reduced);
        EXPECT_GE(reduced->width(), 560);
        EXPECT_LT(reduced->width(), 1120);
    }
    setMainScreenScale(screen);
}

TEST(ImageOperations, TintingFillsTheShape) {
    MainScale one(1);
    auto b = Bitmap::make(2, 1).value();
    b->setRGBA(0, 0, 0, 255, 0, 255);
    const ImagePtr shape = Image::fromBitmap(b);
    EXPECT_EQ(imageTintedWithColor(shape, std::nullopt), shape) << "no colour: the image itself";
    const ImagePtr red = imageTintedWithColor(shape, Color::red());
    EXPECT_EQ(pixel(red, 0, 0), kRed);
    EXPECT_EQ(pixel(red, 1, 0)[3], 0) << "transparent stays transparent";
    const ImagePtr half = imageTintedWithColor(shape, Color::red(), 0.5);
    const RGBA8 mix = pixel(half, 0, 0);
    EXPECT_NEAR(mix[0], 128, 1);
    EXPECT_NEAR(mix[1], 128, 1);
    EXPECT_EQ(mix[3], 255);
}

TEST(ImageOperations, RoundedCorners) {
    const ImagePtr picture = stripes(41, 60, true);
    const ImagePtr round = makeRoundImage(picture);
    ASSERT_TRUE(round);
    EXPECT_EQ(round->size(), (Size{41, 60}));
    EXPECT_EQ(*round->bitmap(), *makeRoundedImageWithRadius(picture, 20)->bitmap()) << "radius 20 for 41 x 60";
    EXPECT_NE(*round->bitmap(), *makeRoundedImageWithRadius(picture, 21)->bitmap());
    EXPECT_EQ(pixel(round, 0, 0)[3], 0);
    EXPECT_EQ(pixel(round, 20, 0)[3], 255);
    EXPECT_EQ(pixel(round, 0, 30)[3], 255);
    EXPECT_EQ(pixel(round, 40, 59)[3], 0);
    const ImagePtr square = makeRoundedImageWithRadius(picture, 0);
    EXPECT_EQ(*square->bitmap(), *picture->bitmap()) << "radius 0 keeps every pixel";
}
