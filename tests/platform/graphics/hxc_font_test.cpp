#include "platform/graphics/hxc_font.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "tests/platform/graphics/pil.h"
#include "tests/support/phone_fonts.h"

using namespace graphics;

namespace {
struct Reset {
    ~Reset() { hxtest::resetToPhoneMessageFonts(); }
};
}  // namespace

TEST(HXCFont, SizesByTypeTextSizeAndDeviceAgreeWithAnIndependentComputation) {
    Reset reset;
    // python3 computes the sizes from the style sizes: factor, the 34-point cap of type 5, 1.15
    // on iPad, and its round() which takes halves to even.
    const ContentSizeCategory categories[] = {ContentSizeCategory::extraSmall,
                                              ContentSizeCategory::large,
                                              ContentSizeCategory::extraExtraExtraLarge,
                                              ContentSizeCategory::accessibilityLarge,
                                              ContentSizeCategory::accessibilityExtraLarge,
                                              ContentSizeCategory::accessibilityExtraExtraExtraLarge};
    const TextStyle styles[] = {TextStyle::footnote, TextStyle::footnote, TextStyle::subheadline, TextStyle::footnote,
                                TextStyle::body,     TextStyle::body,     TextStyle::caption1,    TextStyle::footnote};
    std::string table = "cases = [";
    for (ContentSizeCategory c : categories) {
        table += "[";
        for (TextStyle s : styles) table += std::to_string(preferredPointSize(s, c)) + ",";
        table += "],";
    }
    table += "]\n";
    hxtest::TempDir dir;
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP();
    const std::string out = hxtest::runPIL(dir, table + R"(
factors = [1, 1, 14/15, 1, 15/17, 15/17, 1, 1]
for sizes in cases:
    for pad in (False, True):
        row = []
        for t in range(8):
            v = sizes[t] * factors[t] if factors[t] != 1 else sizes[t]
            if t == 5: v = min(v, 34)
            row.append(str(round(v * (1.15 if pad else 1))))
        print(' '.join(row))
)");
    std::istringstream expected(out);
    for (ContentSizeCategory c : categories) {
        for (bool pad : {false, true}) {
            HXCFont::setContentSizeCategory(c);
            HXCFont::setIPad(pad);
            HXCFont::clearFontCache();
            for (uint32_t t = 0; t < 8; ++t) {
                double size = 0;
                expected >> size;
                ASSERT_TRUE(HXCFont::HXCFontForType(t));
                EXPECT_EQ(HXCFont::HXCFontForType(t)->pointSize(), size)
                    << "type " << t << " category " << int(c) << " iPad " << pad;
            }
        }
    }
}

TEST(HXCFont, TraitsCacheAndEdges) {
    Reset reset;
    HXCFont::clearFontCache();
    EXPECT_TRUE(HXCFont::HXCFontForType(1)->italic());
    EXPECT_TRUE(HXCFont::HXCFontForType(7)->italic());
    EXPECT_TRUE(HXCFont::HXCFontForType(2)->traits().bold);
    EXPECT_FALSE(HXCFont::HXCFontForType(0)->italic());
    EXPECT_EQ(HXCFont::HXCFontForType(4)->pointSize(), 15) << "body 17 x 15/17";
    EXPECT_FALSE(HXCFont::HXCFontForType(8));
    const auto first = HXCFont::HXCFontForType(4);
    EXPECT_EQ(HXCFont::HXCFontForType(4), first) << "the same font object until the cache is cleared";
    EXPECT_EQ(HXCFont::fontCache().size(), 5u);
    // A text-size change alone keeps the cache; clearing it builds at the new size.
    HXCFont::setContentSizeCategory(ContentSizeCategory::accessibilityExtraLarge);
    EXPECT_EQ(HXCFont::HXCFontForType(4), first);
    HXCFont::clearFontCache();
    EXPECT_TRUE(HXCFont::fontCache().empty());
    EXPECT_EQ(HXCFont::HXCFontForType(5)->pointSize(), 34) << "body 40 x 15/17 = 35.3, limited to 34";
    EXPECT_EQ(HXCFont::HXCFontForType(4)->pointSize(), 35) << "type 4 keeps growing";
    HXCFont::setIPad(true);
    HXCFont::clearFontCache();
    EXPECT_EQ(HXCFont::HXCFontForType(5)->pointSize(), 39) << "34 x 1.15 = 39.1";
    // Concurrent first requests agree on one object.
    HXCFont::clearFontCache();
    std::vector<HXCFont::FontPtr> got(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([i, &got] { got[i] = HXCFont::HXCFontForType(6); });
    for (auto& t : threads) t.join();
    for (const auto& f : got) EXPECT_EQ(f, got[0]);
}
