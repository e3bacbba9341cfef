// The device's clock, zone and locale changed under a running app, as the harness plays them.
#include <gtest/gtest.h>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/testing/harness.h"

namespace {

struct Heard {
    std::vector<std::string> names;
    Heard() {
        for (const char* name : {foundation::kApplicationSignificantTimeChangeNotification,
                                 foundation::kCurrentLocaleDidChangeNotification})
            foundation::NotificationCenter::defaultCenter().addObserver(
                this, name, [this](const foundation::Notification& n) { names.push_back(n.name); });
    }
    ~Heard() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }
};

}  // namespace

TEST(SystemChanges, AClockJumpMovesDatesButNotTimersAndIsAnnounced) {
    toolkit::testing::Harness h;
    Heard heard;
    int fired = 0;
    auto timer = dispatch::Timer::scheduled(10.0, false, [&](dispatch::Timer&) { ++fired; });
    const double before = foundation::timeIntervalSince1970(foundation::now());
    h.changeSystemTime(3600);
    EXPECT_NEAR(foundation::timeIntervalSince1970(foundation::now()) - before, 3600, 0.001);
    EXPECT_EQ(heard.names, std::vector<std::string>{foundation::kApplicationSignificantTimeChangeNotification});
    EXPECT_EQ(fired, 0) << "a timer runs on the monotonic clock, which did not move";
    h.advance(9.9);
    EXPECT_EQ(fired, 0);
    h.advance(0.2);
    EXPECT_EQ(fired, 1);
    h.changeSystemTime(-7200);
    EXPECT_NEAR(foundation::timeIntervalSince1970(foundation::now()) - before, -3600 + 10.1, 0.001);
}

TEST(SystemChanges, ZoneAndLocaleChangesTakeEffectBeforeTheirNotifications) {
    toolkit::testing::Harness h;
    Heard heard;
    std::string zoneSeen, localeSeen;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(&localeSeen, foundation::kCurrentLocaleDidChangeNotification,
                       [&](const foundation::Notification&) { localeSeen = foundation::currentLocaleIdentifier(); });
    center.addObserver(&zoneSeen, foundation::kApplicationSignificantTimeChangeNotification,
                       [&](const foundation::Notification&) { zoneSeen = foundation::currentTimeZoneName(); });
    h.changeTimeZone("Asia/Tokyo");
    h.changeLocale("de_DE");
    EXPECT_EQ(zoneSeen, "Asia/Tokyo");
    EXPECT_EQ(localeSeen, "de_DE");
    EXPECT_EQ(heard.names, (std::vector<std::string>{foundation::kApplicationSignificantTimeChangeNotification,
                                                     foundation::kCurrentLocaleDidChangeNotification}));
    center.removeObserver(&localeSeen);
    center.removeObserver(&zoneSeen);
    foundation::setDefaultTimeZone("");
    foundation::setCurrentLocaleIdentifier("");
}
