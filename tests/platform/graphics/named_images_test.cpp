#include "platform/graphics/named_images.h"

#include <gtest/gtest.h>

#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/graphics/codecs.h"
#include "tests/support/test_support.h"

using namespace graphics;

namespace {

struct Resources {
    hxtest::TempDir dir;
    Resources() {
        std::filesystem::create_directories(dir / "images");
        std::filesystem::create_directories(dir / "symbols");
        // A red bar 20 x 10 points with a blue square in its right half.
        write(
            "images/Knob.svg",
            "<svg xmlns='http://www.w3.org/2000/svg' width='20' height='10'>"
            "<rect width='20' height='10' fill='#ff0000'/><rect x='10' width='10' height='10' fill='#0000ff'/></svg>");
        // A star-like symbol in a 10 x 20 box (twice as high as wide), drawn in black.
        write("symbols/star.fill.svg",
              "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 20'><rect width='10' height='20'/></svg>");
        auto one = Bitmap::make(3, 2).value(), two = Bitmap::make(6, 4).value();
        write("images/Dot.png", encodePNG(*one).value());
        write("images/Dot@2x.png", encodePNG(*two).value());
        foundation::Bundle::main().setResourcesDirectory(dir.path());
    }
    ~Resources() { foundation::Bundle::main().setResourcesDirectory({}); }
    void write(const std::string& name, const std::string& text) {
        ASSERT_TRUE(foundation::files::writeAtomically(dir / name, text).ok());
    }
    void write(const std::string& name, const foundation::Data& data) {
        ASSERT_TRUE(foundation::files::writeAtomically(dir / name, data).ok());
    }
};

}  // namespace

TEST(NamedImages, SVGDrawingsAtTheirSizeAndTheScaleAsked) {
    Resources resources;
    ImagePtr knob = imageNamed("Knob", 2);
    ASSERT_TRUE(knob);
    EXPECT_EQ(knob->name(), "Knob");
    EXPECT_FALSE(knob->isSymbol());
    EXPECT_EQ(knob->size(), (Size{20, 10}));
    EXPECT_EQ(knob->pixelWidth(), 40);
    EXPECT_EQ(knob->bitmap()->rgbaAt(5, 10), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(knob->bitmap()->rgbaAt(35, 10), (std::array<uint8_t, 4>{0, 0, 255, 255}));
    EXPECT_FALSE(imageNamed("NoSuchImage"));
    EXPECT_FALSE(imageFromSVG({'n', 'o', 't'}, std::nullopt, 1));
}

TEST(NamedImages, PNGsByScaleAndSymbolsByPointSize) {
    Resources resources;
    ImagePtr dot2 = imageNamed("Dot", 2), dot1 = imageNamed("Dot", 1), dot3 = imageNamed("Dot", 3);
    ASSERT_TRUE(dot1 && dot2 && dot3);
    EXPECT_EQ(dot1->scale(), 1);
    EXPECT_EQ(dot2->scale(), 2);
    EXPECT_EQ(dot3->scale(), 2) << "the largest drawing there is";
    EXPECT_EQ(dot2->size(), dot1->size());
    ImagePtr star = systemImageNamed("star.fill", 30, 2);
    ASSERT_TRUE(star);
    EXPECT_TRUE(star->isSymbol());
    EXPECT_EQ(star->name(), "star.fill");
    EXPECT_EQ(star->renderingMode(), RenderingMode::alwaysTemplate);
    EXPECT_EQ(star->size(), (Size{15, 30}));
    EXPECT_EQ(star->bitmap()->rgbaAt(15, 30)[3], 255);
    EXPECT_FALSE(systemImageNamed("no.such.symbol"));
}
