// The rules of list rows that hold without a screen: the conversation type a list opens, the
// row's date around midnight and daylight-saving changes (against python3's zoneinfo), the back button's count on each
// system, and the swipe action's drawn background.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/codecs.h"
#include "platform/graphics/image.h"
#include "platform/graphics/text_layout.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/test_support.h"
#include "ui/messages/vc_messages.h"

namespace {

TEST(ListRules, TheConversationTypeOfAScreenFollowsTheFullHistoryOnly) {
    struct Case {
        int64_t mask, viewType, type;
        int expected;
    };
    const Case cases[] = {{245143, 3, 10, 1}, {245143, 3, 11, 1}, {245143, 3, 2, 2}, {245143, 3, 4, 3},
                          {245143, 3, 0, 3},  {242067, 3, 10, 3}, {3072, 1, 2, 1},   {20, 2, 4, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(VC_Messages::conversationTypeFor(c.mask, c.viewType, c.type), c.expected) << c.mask << " " << c.type;
}

TEST(ListRules, DatesAroundMidnightAndDaylightSavingAreThoseOfPythonsZoneinfo) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "python3 is the oracle";
    std::string out;
    ASSERT_EQ(hxtest::runCommand(
                  std::string("/usr/bin/python3 ") + HX_SOURCE_DIR + "/tests/ui/messages/list_dates_oracle.py", &out),
              0)
        << out;
    foundation::setCurrentLocaleIdentifier("en_US");
    std::istringstream lines(out);
    std::string line;
    size_t cases = 0, differences = 0;
    while (std::getline(lines, line)) {
        const auto fields = foundation::split(line, "\t");
        ASSERT_EQ(fields.size(), 4u) << line;
        const double now = std::stod(fields[1]), date = std::stod(fields[2]);
        std::string shown = VC_Messages::dateText(foundation::Date{date}, foundation::Date{now}, fields[0]);
        // ICU separates the time from AM/PM with a narrow no-break space.
        shown = foundation::replaceAll(shown, "\u202F", " ");
        ++cases;
        if (shown != fields[3] && ++differences <= 10) ADD_FAILURE() << line << " shows " << shown;
    }
    foundation::setCurrentLocaleIdentifier("");
    EXPECT_GT(cases, 1000u);
    EXPECT_EQ(differences, 0u);
}

TEST(ListRules, TheDayBeforeAShortDayIsNotYesterday) {
    // New York's 12 March 2023 had 23 hours: 11 March 23:30 is more than a day before the 13th's
    // midnight by the calendar but within 86,400 s of it.
    foundation::setCurrentLocaleIdentifier("en_US");
    const std::string zone = "America/New_York";
    const auto midnight13 = foundation::dateFromComponents({.year = 2023, .month = 3, .day = 13}, zone);
    const auto late11 =
        foundation::dateFromComponents({.year = 2023, .month = 3, .day = 11, .hour = 23, .minute = 30}, zone);
    ASSERT_LT(midnight13.secondsSince1970 - late11.secondsSince1970, 86400);
    EXPECT_EQ(VC_Messages::dateText(late11, foundation::Date{midnight13.secondsSince1970 + 60}, zone), "Saturday");
    foundation::setCurrentLocaleIdentifier("");
}

TEST(ListRules, TheBackButtonCountsByTheSystemsMeans) {
    struct Case {
        int system;
        uint64_t count;
        // The back item's title, or none for an item with the symbol image or no item at all.
        std::optional<std::string> itemTitle;
        const char* symbol;  // the back item's image, "" for none
        // Without a back item: the back title.
        std::optional<std::string> backTitle;
    };
    const std::optional<std::string> none;
    const Case cases[] = {
        {12, 1, "\u278A", "", none}, {12, 10, "\u2793", "", none},         {12, 11, "", "", none},
        {12, 0, "", "", none},       {13, 1, none, "1.circle.fill", none}, {13, 50, none, "50.circle.fill", none},
        {13, 51, "", "", none},      {15, 3, none, "3.circle.fill", none}, {15, 51, none, "", "SMS"},
        {18, 51, none, "", "SMS"},
    };
    for (const auto& c : cases) {
        toolkit::testing::Harness harness(toolkit::ScreenProfile::iPhone8(), c.system);
        auto list = std::make_shared<VC_Messages>(VC_Messages::Roles{}, VC_Messages::Makers{}, 1);
        list->setTitle("SMS");
        list->showBackButtonCount(c.count);
        const std::string which = std::to_string(c.system) + " " + std::to_string(c.count);
        auto item = list->navigationItem().backBarButtonItem;
        if (!c.itemTitle && !*c.symbol) {
            EXPECT_FALSE(item) << which;
            EXPECT_EQ(list->navigationItem().backButtonTitle, c.backTitle) << which;
            continue;
        }
        ASSERT_TRUE(item) << which;
        if (*c.symbol) {
            ASSERT_TRUE(item->image) << which;
            EXPECT_EQ(item->image->name(), c.symbol) << which;
        } else {
            EXPECT_FALSE(item->image) << which;
            EXPECT_EQ(item->title, *c.itemTitle) << which;
        }
        // The badge's text attributes and back-title adjustments, whatever it shows.
        EXPECT_EQ(item->titleFont, graphics::Font::system(25)) << which;
        EXPECT_EQ(item->titleBaselineOffset, -1.5) << which;
        EXPECT_EQ(item->backButtonTitleAdjustment, (toolkit::Point{-4, 3})) << which;
        EXPECT_EQ(item->compactBackButtonTitleAdjustment, (toolkit::Point{-3, 2})) << which;
    }
}

TEST(ListRules, TheSwipeBackgroundHasItsCircleAtElevenPointsAsWideAsSixSpacesAndTwenty) {
    toolkit::testing::Harness harness(toolkit::ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<VC_Messages>(VC_Messages::Roles{}, VC_Messages::Makers{}, 1);
    harness.setRoot(list);
    harness.settle();
    graphics::TextAttributes system17;
    system17.font = graphics::Font::system(17);
    const auto faces = graphics::facesUsed(graphics::AttributedString("      x", system17));
    const auto font = graphics::fontsDirectory() / "DejaVuSans.ttf";
    // Rows lower than the circle's width bound it by their height less 4.
    struct Case {
        double height;
        bool heightBound;
    } cases[] = {{57, false}, {71, false}, {40, true}};
    for (const auto& c : cases) {
        for (int type = 0; type <= 6; ++type) {
            const auto colour = list->backgroundForEditActionWithType(type, c.height);
            ASSERT_TRUE(colour.isPattern()) << type;
            const auto& image = colour.patternImage();
            ASSERT_TRUE(image);
            EXPECT_EQ(image->size().width, list->tableView()->bounds().size.width) << type;
            EXPECT_EQ(image->size().height, c.height) << type;
            // The action's image is empty, as big as the circle.
            auto empty = VC_Messages::emptyImageForEditAction(c.height);
            ASSERT_TRUE(empty);
            auto pixels = empty->bitmap();
            ASSERT_TRUE(pixels);
            bool clear = true;
            for (int y = 0; y < pixels->height(); ++y)
                for (int x = 0; x < pixels->width(); ++x) clear &= pixels->row(y)[x] == 0;
            EXPECT_TRUE(clear);
            if (type != 0 || !hxtest::haveProgram("/usr/bin/python3")) continue;
            // python3-pil finds the red circle's edges (points; the image is at 2x) and measures six
            // spaces of the font the system font is drawn with.
            ASSERT_EQ(faces, std::vector<std::string>{"DejaVu Sans"});
            ASSERT_TRUE(std::filesystem::exists(font)) << font;
            hxtest::TempDir dir;
            const auto file = dir / "action.png";
            auto bitmap = image->bitmap();
            ASSERT_TRUE(bitmap);
            auto png = graphics::encodePNG(*bitmap);
            ASSERT_TRUE(png.ok());
            ASSERT_TRUE(foundation::files::writeAtomically(file, png->data(), png->size()).ok());
            std::string out;
            ASSERT_EQ(hxtest::runCommand(std::string("/usr/bin/python3 ") + HX_SOURCE_DIR +
                                             "/tests/ui/messages/find_swipe_circle.py " + file.string() + " '" +
                                             font.string() + "' 17 2>&1",
                                         &out),
                      0)
                << out;
            std::istringstream read(out);
            long first = -1, last = -1, width = 0;
            double spaces = 0;
            read >> first >> last >> width >> spaces;
            const double scale = static_cast<double>(width) / list->tableView()->bounds().size.width;
            const double diameter = c.heightBound ? c.height - 4 : std::ceil(spaces) + 20;
            EXPECT_NEAR(first / scale, 11, 1.0) << out;
            EXPECT_NEAR((last - first + 1) / scale, diameter, 1.5) << c.height << ": " << out;
            EXPECT_NEAR(empty->size().width, diameter, 0.5) << c.height;
        }
    }
}

}  // namespace
