// The SMS list screen as the user sees it, loaded from the service: an account whose threads are
// one of each kind of row (unread with a count, a blocked sender, a note and a star, a group, a
// right-to-left text, a number without a name), outlined on the phone and the tablet at the
// default and an accessibility text size, and pictured in light and dark: the list, its open
// dropdown and a row swiped open.
#include <gtest/gtest.h>

#include "platform/foundation/user_defaults.h"
#include "platform/store/context.h"
#include "tests/ui/messages/list_fixture.h"
#include "ui/messages/message_list_table_view_cell.h"

namespace {

using toolkit::ContentSizeCategory;
using toolkit::IndexPath;

constexpr int64_t kNowMs = 1'700'000'000'000;  // the harness clock's start
constexpr int64_t kMinuteMs = 60'000;
constexpr int64_t kDayMs = 86'400'000;

emulator::Thread textThread(const std::vector<std::string>& numbers, const std::string& name, int64_t lastMs,
                            const std::vector<std::string>& texts) {
    emulator::Thread t;
    t.numbers = numbers;
    t.id = "t." + numbers.front() + (numbers.size() > 1 ? ",g" : "");
    t.contactName = name;
    for (size_t i = 0; i < texts.size(); ++i) {
        emulator::Message m;
        m.id = t.id + ".m" + std::to_string(i);
        m.startTimeMs = lastMs - static_cast<int64_t>(texts.size() - 1 - i) * kMinuteMs;
        m.text = texts[i];
        m.fromNumber = numbers[i % numbers.size()];
        t.items.push_back(m);
    }
    return t;
}

// One row of each kind, newest first.
std::vector<emulator::Thread> rowKinds() {
    std::vector<std::string> twelve(11, "More about lunch");
    twelve.push_back("Are we still on for lunch today? I booked the table by the window?");
    auto unread = textThread({"+12025550101"}, "Ann Lee", kNowMs - 5 * kMinuteMs, twelve);
    unread.read = false;
    auto blocked = textThread({"+12025550102"}, "Ben Ode", kNowMs - 90 * kMinuteMs, {"Stop texting me"});
    blocked.blocked = true;
    auto noted = textThread({"+12025550103"}, "Cy Park", kNowMs - kDayMs, {"ok"});
    auto group = textThread({"+12025550104", "+12025550105"}, "", kNowMs - 2 * kDayMs,
                            {"Who brings the cake?", "I will", "See you all there"});
    auto rtl = textThread({"+12025550106"}, "Dana", kNowMs - 4 * kDayMs,
                          {"\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D"});
    auto unnamed = textThread({"+12025550107"}, "", kNowMs - 10 * kDayMs, {"Your code is 123456"});
    return {unread, blocked, noted, group, rtl, unnamed};
}

template <typename Form>
struct ListPictures : hxtest::ListFixture<Form> {
    using Base = hxtest::ListFixture<Form>;
    explicit ListPictures(hxtest::DeviceForm form) : Base(form, 15, true, true) {}

    // Launches at the text size into the SMS list of the row kinds, then notes one row and stars it.
    VC_Messages& show(ContentSizeCategory size = ContentSizeCategory::large) {
        this->service->withAccount([](emulator::Account& a) {
            a.threads = rowKinds();
            return 0;
        });
        foundation::UserDefaults::standardUserDefaults()->setBool(true, "showNotesInMessageLists");
        // The rows' date width is measured once per process: anew for this device's fonts.
        makeMessageTableCell()->resetDateLabelWidth();
        this->harness.setContentSizeCategory(size);
        auto& l = this->launchAndShow(1);
        EXPECT_EQ(this->rows(1), 6);
        for (long r = 0; r < this->rows(1); ++r) {
            auto c = l.conversationAtIndexPath({0, r});
            if (c->value("conversationID").stringValue() != "t.+12025550103") continue;
            (void)c->setValue("note", "Owes me $20");
            l.accessoryButtonTapped(*l.tableView(), IndexPath{0, r});
        }
        this->harness.settle();
        l.tableView()->reloadData();
        // The contact pictures come from the cache a turn later, and the end of the load scrolls
        // to the top with an animation; the last turn of a settle may move the list after its
        // layout pass, so a second one lays the rows out where the picture is taken.
        this->harness.advance(1);
        this->harness.settle();
        this->harness.settle();
        return l;
    }
};

struct PhoneListPictures : ListPictures<HX_ConnectAppDelegate_iPhone> {
    PhoneListPictures() : ListPictures(hxtest::DeviceForm::phone) {}
};
struct TabletListPictures : ListPictures<HX_ConnectAppDelegate_iPad> {
    TabletListPictures() : ListPictures(hxtest::DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PhoneListPictures, OutlineAtTheDefaultSize) {
    show();
    expectOutline("list_phone");
}

TEST_F(PhoneListPictures, OutlineAtAnAccessibilitySize) {
    show(ContentSizeCategory::accessibilityExtraLarge);
    expectOutline("list_phone_ax");
}

TEST_F(TabletListPictures, OutlineAtTheDefaultSize) {
    show();
    expectOutline("list_tablet");
}

TEST_F(TabletListPictures, OutlineAtAnAccessibilitySize) {
    show(ContentSizeCategory::accessibilityExtraLarge);
    expectOutline("list_tablet_ax");
}

TEST_F(PhoneListPictures, TheListItsOpenDropdownAndASwipedRowInLightAndDark) {
    auto& l = show();
    expectSnapshot("list_sms", {.lightAndDark = true});

    l.navBarMenu()->openComponent(0, false);
    harness.settle();
    expectSnapshot("list_dropdown", {.lightAndDark = true});
    l.navBarMenu()->closeAllComponentsAnimated(false);
    harness.settle();

    const auto titles = harness.swipeRow(*l.tableView(), IndexPath{0, 1}, toolkit::SwipeEdge::Trailing);
    ASSERT_FALSE(titles.empty());
    harness.settle();
    expectSnapshot("list_swiped", {.lightAndDark = true});
}

// Turned to landscape, the phone hides the status bar and shortens the navigation bar: the list
// resting with its search bar hidden keeps it hidden under the shorter bar, not half under it.
TEST_F(PhoneListPictures, TurnedToLandscapeTheSearchBarStaysHiddenUnderTheBar) {
    auto& l = show();
    auto& bar = l.navigationController()->navigationBar();
    auto hiddenUnderTheBar = [&] {
        const toolkit::Rect search = l.searchBar()->convertRectTo(l.searchBar()->bounds(), nullptr);
        const toolkit::Rect under = bar.convertRectTo(bar.bounds(), nullptr);
        return search.maxY() <= under.maxY() + 0.5;
    };
    ASSERT_TRUE(hiddenUnderTheBar());
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    harness.settle();
    EXPECT_TRUE(hiddenUnderTheBar()) << harness.outline();
    expectSnapshot("list_sms_landscape");
    harness.rotate(toolkit::Orientation::Portrait);
    harness.settle();
    EXPECT_TRUE(hiddenUnderTheBar()) << harness.outline();
}

// A pull shows the refresh control above the rows: its spinner and the date of the last update.
TEST_F(PhoneListPictures, AListPulledDownShowsItsRefreshControl) {
    auto& l = show();
    auto table = l.tableView();
    // Held 70 points below its resting place, as a finger holds it before letting go.
    table->setContentOffset({0, table->minimumContentOffset().y - 70});
    harness.settle();
    expectOutline("list_pulled_phone");
    expectSnapshot("list_pulled", {.lightAndDark = true});
}
