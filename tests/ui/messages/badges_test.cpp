// The unread badges of a list: the count of its unread conversations (less the one open over it)
// on its tab, the app icon (by "badgeType"), the tablet's master list and the back button of the
// screen pushed over it, whose badge is a dingbat digit, a numbered circle or the list's title by
// system version.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/foundation/application.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/store/context.h"
#include "platform/toolkit/navigation_controller.h"
#include "service/message_list_model.h"
#include "service/message_list_view.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/system_version.h"
#include "ui/messages/back_button_badge.h"
#include "ui/messages/vc_messages.h"
#include "ui/shell/ui_screens.h"

namespace {

using hxtest::SystemVersion;

}  // namespace

TEST(BackButtonBadge, DingbatsBefore13CirclesTo50AndTheTitleBeyond) {
    struct Case {
        int version;
        uint64_t count;
        std::optional<std::string> title;
        std::string symbol;
    };
    const std::optional<std::string> none, empty = std::string();
    const Case cases[] = {
        {12, 0, empty, ""},
        {12, 1, "\xE2\x9E\x8A", ""},   // U+278A
        {12, 2, "\xE2\x9E\x8B", ""},   // U+278B
        {12, 10, "\xE2\x9E\x93", ""},  // U+2793
        {12, 11, empty, ""},
        {12, 51, empty, ""},
        {13, 1, none, "1.circle.fill"},
        {13, 50, none, "50.circle.fill"},
        {13, 51, empty, ""},
        {13, 0, empty, ""},
        {14, 2, none, "2.circle.fill"},
        {14, 51, none, ""},
        {15, 0, none, ""},
        {18, 50, none, "50.circle.fill"},
        {18, 1000000, none, ""},
    };
    for (const Case& c : cases) {
        const auto badge = backButtonBadgeForCount(c.count, c.version);
        EXPECT_EQ(badge.title, c.title) << c.version << " " << c.count;
        EXPECT_EQ(badge.symbolName, c.symbol) << c.version << " " << c.count;
    }
}

namespace {

// A list's view: the shown list with a conversation open over it, whose back button shows the
// count as a list screen's does.
struct BadgedList : HXMessageListView {
    std::shared_ptr<toolkit::NavigationController> navigation;
    std::shared_ptr<toolkit::ViewController> list, open;
    std::optional<bool> openIsRead;
    bool isShownScreen() const override { return true; }
    void beginRefreshing(const std::string&) override {}
    void endRefreshing() override {}
    void updateLastRefreshDate() override {}
    void reloadTable() override {}
    void reloadVisibleCells() override {}
    void scrollToTopWithAnimation(bool) override {}
    void controllerDidChangeContent() override {}
    std::optional<bool> shownConversationIsRead() const override { return openIsRead; }
    void showBackButtonCount(uint64_t count) override {
        ::showBackButtonCount(list->navigationItem(), count, list->navigationItem().title);
    }
};

template <typename Form>
struct Badges : hxtest::ScreenFixture<Form> {
    explicit Badges(hxtest::DeviceForm form) : hxtest::ScreenFixture<Form>({.form = form}) {}
    std::shared_ptr<HXMessageListModel> model;
    std::shared_ptr<BadgedList> view = std::make_shared<BadgedList>();

    void setUpList(int unread) {
        auto& app = this->app;
        auto account = std::make_shared<HX_Account>();
        account->setUsername("badges@example.test");
        app->setAccount(account);
        ASSERT_TRUE(app->resetPersistentStore().ok());
        auto context = app->managedObjectContext();
        ASSERT_TRUE(context);
        context->performAndWait([&] {
            for (int i = 0; i < unread + 2; ++i) {
                auto c = context->insertNewObject("HX_Conversation").value();
                (void)c->setValue("conversationID", "t" + std::to_string(i));
                (void)c->setValue("phoneNumber", "+1555000" + std::to_string(i));
                (void)c->setValue("type", i % 2 ? 10 : 11);
                (void)c->setValue("isRead", i >= unread);
            }
            // A voicemail is not counted in the texts' badge.
            auto vm = context->insertNewObject("HX_Conversation").value();
            (void)vm->setValue("conversationID", "vm");
            (void)vm->setValue("phoneNumber", "+15559999");
            (void)vm->setValue("type", 2);
            ASSERT_TRUE(context->save().ok());
        });
        model =
            std::make_shared<HXMessageListModel>(app, HXMessageListModel::smsViewSettings("https://voice.test/voice/"));
        view->list = std::make_shared<toolkit::ViewController>();
        view->list->navigationItem().title = "Messages";
        view->navigation = std::make_shared<toolkit::NavigationController>(view->list);
        this->harness.setRoot(view->navigation);
        view->open = std::make_shared<toolkit::ViewController>();
        view->navigation->pushViewController(view->open, false);
        this->harness.settle();
        model->setView(view);
    }
    void update() {
        model->updateBadgeValue();
        this->harness.clock().runUntilIdle();
        this->harness.settle();
    }
    toolkit::BarItemLook back() { return view->navigation->navigationBar().backButtonLook(); }
};

struct PhoneBadges : Badges<HX_ConnectAppDelegate_iPhone> {
    PhoneBadges() : Badges(hxtest::DeviceForm::phone) {}
};
struct TabletBadges : Badges<HX_ConnectAppDelegate_iPad> {
    TabletBadges() : Badges(hxtest::DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PhoneBadges, ThreeUnreadSetTabIconAndBackButtonLessTheOneOpen) {
    ASSERT_TRUE(launch());
    foundation::UserDefaults::standardUserDefaults()->setInteger(0, "badgeType");
    setUpList(3);
    auto tab = [&] { return app->tabBarController()->viewControllers().at(1)->tabBarItem().badgeValue; };

    view->openIsRead = std::nullopt;  // nothing open that counts
    update();
    EXPECT_EQ(tab(), "3");
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 3);
    ASSERT_TRUE(back().image);
    EXPECT_EQ(back().image->name(), "3.circle.fill");

    view->openIsRead = false;  // an unread conversation is open over the list
    update();
    EXPECT_EQ(tab(), "2");
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 2);
    ASSERT_TRUE(back().image);
    EXPECT_EQ(back().image->name(), "2.circle.fill");

    view->openIsRead = true;
    foundation::UserDefaults::standardUserDefaults()->setInteger(1, "badgeType");  // voicemails only
    update();
    EXPECT_EQ(tab(), "3");
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 0);

    {
        SystemVersion version(12);
        view->openIsRead = false;
        update();
        EXPECT_EQ(back().title, "\xE2\x9E\x8B");  // the dingbat two
        EXPECT_FALSE(back().image);
    }
}

TEST_F(PhoneBadges, PastFiftyTheBackButtonShowsTheListsTitle) {
    ASSERT_TRUE(launch());
    setUpList(51);
    view->openIsRead = false;  // 50 with the open one left out
    update();
    ASSERT_TRUE(back().image);
    EXPECT_EQ(back().image->name(), "50.circle.fill");
    view->openIsRead = true;
    update();
    EXPECT_EQ(app->tabBarController()->viewControllers().at(1)->tabBarItem().badgeValue, "51");
    EXPECT_FALSE(back().image);
    EXPECT_EQ(back().title, "Messages");
    EXPECT_FALSE(view->list->navigationItem().backBarButtonItem);
}

TEST_F(TabletBadges, ThreeUnreadSetTheMasterListAndIcon) {
    ASSERT_TRUE(launch());
    foundation::UserDefaults::standardUserDefaults()->setInteger(2, "badgeType");
    setUpList(3);
    view->openIsRead = false;
    update();
    EXPECT_EQ(app->unreadSMSCount(), 2);
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 2);
    view->openIsRead = std::nullopt;
    update();
    EXPECT_EQ(app->unreadSMSCount(), 3);
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 3);
}

namespace {

// The whole app against the service, whose unread texts are partly archived.
struct ServiceBadges : hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>> {
    ServiceBadges() : ScreenFixture({.screens = std::make_shared<HXUIScreens>(), .emulator = true, .signedIn = true}) {}
};

}  // namespace

// The texts' tab shows one count from the first badge on: the service's count of unread text
// threads agrees with the unread conversations the store then holds, archived ones included, and
// showing the list counts the same again.
TEST_F(ServiceBadges, TheTextsBadgeIsOneCountFromTheFirstFrame) {
    service->withAccount([](emulator::Account& a) {
        emulator::addGeneratedTextThreads(a, 7, 4, 2);
        for (size_t i = a.threads.size() - 4; i < a.threads.size(); ++i) {
            a.threads[i].read = false;
            a.threads[i].archived = i >= a.threads.size() - 2;
        }
        return 0;
    });
    ASSERT_TRUE(launch());
    auto tab = [&] { return app->tabBarController()->viewControllers().at(1)->tabBarItem().badgeValue.value_or(""); };
    // The application's own count: the stored unread conversations of the text types, and all
    // of them.
    auto storedTexts = [&](bool unreadOnly) -> int64_t {
        auto context = app->managedObjectContext();
        if (!context) return -1;
        int64_t n = -1;
        context->performAndWait([&] {
            foundation::Array types{10, 11};
            auto request = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate(
                unreadOnly ? "cv_unread" : "cv_type", foundation::Dictionary{{"TYPELIST", types}});
            if (!request.ok()) return;
            auto counted = context->count(request.value());
            if (counted.ok()) n = static_cast<int64_t>(counted.value());
        });
        return n;
    };
    std::set<std::string> shown;
    auto note = [&] {
        if (!tab().empty()) shown.insert(tab());
    };
    // Runs the clock in frames until every text is stored and the app has nothing left to load,
    // noting every count the tab shows. The replies come over real sockets: the clock stands still
    // while any is out (and the parses, on queues of their own, run), so a slow machine sees the
    // same frames as a fast one.
    auto watch = [&] {
        for (int step = 0; step < 400; ++step) {
            ASSERT_TRUE(settleRequests()) << "step " << step;
            note();
            if (step > 40 && storedTexts(false) == 5 && app->isIdle() &&
                !foundation::Application::shared().isNetworkActivityIndicatorVisible())
                break;
            harness.advance(0.05);
            note();
        }
        harness.settle();
    };
    watch();
    // The refreshes that follow ask the service for its counts again.
    for (int refresh = 0; refresh < 2; ++refresh) {
        app->loadUnreadMessages();
        watch();
    }
    ASSERT_EQ(storedTexts(false), 5);
    ASSERT_EQ(storedTexts(true), 5) << "the sample's unread text, two new ones and two archived";
    EXPECT_EQ(shown, std::set<std::string>{"5"});
    app->selectViewForIndex(1);
    harness.advance(1);
    harness.settle();
    EXPECT_EQ(tab(), "5");
}

namespace {

// The service's unread threads of a kind, as its threading information counts them.
template <typename Service>
int64_t serviceUnreadThreads(Service& service, bool texts) {
    return service.withAccount([texts](emulator::Account& a) {
        int64_t n = 0;
        for (const auto& t : a.threads)
            if (!t.read && !t.spam && (texts ? t.isText() : t.isVoicemail())) ++n;
        return n;
    });
}

// Copies of the account's first voicemail, each an hour older than the one before; false when it
// has none.
bool addVoicemailCopies(emulator::Account& a, int count) {
    const emulator::Thread* model = nullptr;
    for (const auto& t : a.threads)
        if (t.isVoicemail() && !t.spam) model = &t;
    if (!model) return false;
    const emulator::Thread copy = *model;
    for (int i = 0; i < count; ++i) {
        emulator::Thread extra = copy;
        extra.id = copy.id + "x" + std::to_string(i);
        for (auto& item : extra.items) item.id += "x" + std::to_string(i), item.startTimeMs -= (i + 1) * 3'600'000;
        a.threads.push_back(extra);
    }
    return true;
}

// Frame by frame (1/20 s of the clock, which stands still while a request is out: the replies
// come over real sockets) for the first seconds after the launch, each count the badge shows.
template <typename Fixture>
std::vector<std::string> badgesOverTheFirstSeconds(Fixture& f, const std::function<std::string()>& badge,
                                                   double seconds = 8) {
    std::vector<std::string> shown;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    double elapsed = 0;
    while (elapsed < seconds && std::chrono::steady_clock::now() < until) {
        if (!HXWebClientOf(*f.app).requests.empty()) {
            f.harness.clock().runUntilIdle();
            std::this_thread::yield();
        } else {
            f.harness.advance(0.05);
            elapsed += 0.05;
        }
        const std::string now = badge();
        if (!now.empty() && (shown.empty() || shown.back() != now)) shown.push_back(now);
    }
    return shown;
}

}  // namespace

// The store holds fewer of the service's unread voicemails than the service counts (the first
// page, from an earlier run): the voicemail tab shows the service's count from its first badge on.
TEST_F(ServiceBadges, TheVoicemailBadgeIsTheServicesCountFromTheFirstFrame) {
    std::vector<std::string> unreadIDs;
    service->withAccount([&](emulator::Account& a) {
        // Voicemails enough for a first page and more, as copies of the account's voicemail.
        if (!addVoicemailCopies(a, 24)) return 0;
        int unread = 0;
        for (auto& t : a.threads) {
            if (!t.isVoicemail() || t.spam) continue;
            t.read = unread >= 3;
            if (!t.read) unreadIDs.push_back(t.id), ++unread;
        }
        return 0;
    });
    const int64_t expected = serviceUnreadThreads(*service, false);
    ASSERT_GE(expected, 2) << "the service's account has voicemails";
    ASSERT_TRUE(launch());
    // What an earlier run stored: all but one of the unread voicemails.
    auto context = app->managedObjectContext();
    ASSERT_TRUE(context);
    context->performAndWait([&] {
        for (size_t i = 0; i + 1 < unreadIDs.size(); ++i) {
            auto c = context->insertNewObject("HX_Conversation").value();
            (void)c->setValue("conversationID", unreadIDs[i]);
            (void)c->setValue("phoneNumber", "+1555010" + std::to_string(i));
            (void)c->setValue("type", 2);
            (void)c->setValue("isRead", false);
        }
        ASSERT_TRUE(context->save().ok());
    });
    auto tab = [&] { return app->tabBarController()->viewControllers().at(2)->tabBarItem().badgeValue.value_or(""); };
    EXPECT_EQ(badgesOverTheFirstSeconds(*this, tab), std::vector<std::string>{std::to_string(expected)});
}

namespace {

// The phone's two badges over the first seconds of a launch whose count from the service comes
// late (its threading information held for `held` seconds of the clock): each count each shows.
struct Shown {
    std::vector<std::string> texts, voicemail;
};
template <typename Fixture>
Shown badgesWithTheCountsLate(Fixture& f, double held, const std::function<void()>& release, double seconds = 8) {
    auto badge = [&](int index) {
        return f.app->tabBarController()->viewControllers().at(index)->tabBarItem().badgeValue.value_or("");
    };
    Shown shown;
    auto note = [&] {
        for (auto [index, list] : {std::pair{1, &shown.texts}, std::pair{2, &shown.voicemail}}) {
            const std::string now = badge(index);
            if (!now.empty() && (list->empty() || list->back() != now)) list->push_back(now);
        }
    };
    // Meanwhile the lists load what they load (the clock runs only while nothing but the held
    // request is out).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    double elapsed = 0;
    while (elapsed < held && std::chrono::steady_clock::now() < until) {
        if (HXWebClientOf(*f.app).requests.size() > 1 ||
            !HXWebClientOf(*f.app).requests.contains(std::string(kHXApiPath) + "threadinginfo/get?alt=json")) {
            if (!HXWebClientOf(*f.app).requests.empty()) {
                f.harness.clock().runUntilIdle();
                std::this_thread::yield();
                note();
                continue;
            }
        }
        f.harness.advance(0.05);
        elapsed += 0.05;
        note();
    }
    release();
    for (const auto& now : badgesOverTheFirstSeconds(
             f, [&] { return badge(1) + "|" + badge(2); }, seconds)) {
        const auto bar = now.find('|');
        for (auto [text, list] :
             {std::pair{now.substr(0, bar), &shown.texts}, std::pair{now.substr(bar + 1), &shown.voicemail}})
            if (!text.empty() && (list->empty() || list->back() != text)) list->push_back(text);
    }
    return shown;
}

}  // namespace

// The store holds fewer unread conversations than the service counts, and the lists (every tab's
// root is loaded after the launch) count the store before the service has answered: each badge
// still changes once, from none to the service's count, and opening a tab changes nothing.
TEST_F(ServiceBadges, ThePhonesBadgesWaitForTheServicesCountsAndChangeOnce) {
    std::string keptID;
    service->withAccount([&](emulator::Account& a) {
        emulator::addGeneratedTextThreads(a, 11, 6, 3);
        keptID = a.threads.back().id;
        for (size_t i = a.threads.size() - 4; i < a.threads.size(); ++i) a.threads[i].read = false;
        // More unread voicemails than a page holds, as copies of the account's voicemail.
        if (!addVoicemailCopies(a, 24)) return 0;
        for (auto& t : a.threads)
            if (t.isVoicemail()) t.read = false;
        return 0;
    });
    const int64_t texts = serviceUnreadThreads(*service, true), voicemail = serviceUnreadThreads(*service, false);
    ASSERT_GE(texts, 2);
    ASSERT_GT(voicemail, 20) << "more than the unread list's page";
    ASSERT_TRUE(launch());
    // What an earlier run stored: one of the unread texts and no voicemail.
    auto context = app->managedObjectContext();
    ASSERT_TRUE(context);
    context->performAndWait([&] {
        auto c = context->insertNewObject("HX_Conversation").value();
        (void)c->setValue("conversationID", keptID);
        (void)c->setValue("phoneNumber", "+15550100");
        (void)c->setValue("type", 10);
        (void)c->setValue("isRead", false);
        ASSERT_TRUE(context->save().ok());
    });
    service->inject(emulator::Fault::Slow, std::string(kHXApiPath) + "threadinginfo/get");
    auto shown = badgesWithTheCountsLate(*this, 3, [&] { service->releaseHeld(); });
    EXPECT_EQ(shown.texts, std::vector<std::string>{std::to_string(texts)});
    EXPECT_EQ(shown.voicemail, std::vector<std::string>{std::to_string(voicemail)});
    // Opening the voicemail tab, then the texts', changes neither.
    for (int tab : {2, 1}) {
        app->selectViewForIndex(tab);
        for (const auto& now : badgesOverTheFirstSeconds(
                 *this,
                 [&] {
                     return app->tabBarController()->viewControllers().at(tab)->tabBarItem().badgeValue.value_or("");
                 },
                 3))
            EXPECT_EQ(now, std::to_string(tab == 1 ? texts : voicemail)) << "tab " << tab;
    }
}

// From the launch: the voicemail tab, then the texts', whose own page comes late, and an unread
// conversation opened from the rows the unread items left. Once the service has confirmed the
// read, the back button and the texts' tab show the service's count less that conversation.
TEST_F(ServiceBadges, ReadingAConversationAfterATabVisitTakesItOffTheServicesCount) {
    service->withAccount([](emulator::Account& a) {
        emulator::addGeneratedTextThreads(a, 11, 6, 3);
        for (size_t i = a.threads.size() - 4; i < a.threads.size(); ++i) a.threads[i].read = false;
        return 0;
    });
    ASSERT_TRUE(launch());
    ASSERT_TRUE(settleRequests());
    const int64_t texts = serviceUnreadThreads(*service, true);
    ASSERT_GE(texts, 2);
    auto tab = [&] { return app->tabBarController()->viewControllers().at(1)->tabBarItem().badgeValue.value_or(""); };
    app->selectViewForIndex(2);
    ASSERT_TRUE(settleRequests());
    service->inject(emulator::Fault::Slow, std::string(kHXApiPath) + "api2thread/list", 1, 4.0);
    app->selectViewForIndex(1);
    harness.settle();
    auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
    ASSERT_TRUE(list && list->model());
    auto table = list->tableView();
    long unread = -1;
    ASSERT_TRUE(harness.clock().runUntil(
        [&] {
            const long n = table->numberOfSections() > 0 ? table->numberOfRows(0) : 0;
            for (long r = 0; r < n && unread < 0; ++r)
                if (auto c = list->conversationAtIndexPath({0, r}); c && !c->value("isRead").boolValue()) unread = r;
            return unread >= 0;
        },
        10));
    harness.settle();
    auto cell = table->cellForRow({0, unread});
    ASSERT_TRUE(cell);
    ASSERT_TRUE(harness.tap(*cell));
    // Two seconds while the list's own page is still on its way.
    ASSERT_TRUE(harness.clock().runUntil([&] { return serviceUnreadThreads(*service, true) == texts - 1; }, 2))
        << "the service has the read";
    for (int frame = 0; frame < 40; ++frame) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        harness.advance(0.05);
        harness.settle();
    }
    auto* nav = list->navigationController();
    ASSERT_TRUE(nav && nav->viewControllers().size() == 2) << "the conversation is open";
    const auto back = nav->navigationBar().backButtonLook();
    ASSERT_TRUE(back.image);
    EXPECT_EQ(back.image->name(), std::to_string(texts - 1) + ".circle.fill");
    EXPECT_EQ(tab(), std::to_string(texts - 1));
    // A list that counts for the first time only now (as the texts' list does when its page comes
    // after the read) takes the same count: the service's, less the read one.
    auto late = std::make_shared<HXMessageListModel>(
        app, HXMessageListModel::smsViewSettings(HXWebClientOf(*app).endpoints.servicePageBase()));
    late->updateBadgeValue();
    harness.settle();
    EXPECT_EQ(tab(), std::to_string(texts - 1));
}
