// The first load as a user meets it: the texts' list shown at launch against the service, whose
// first page comes after the unread items it holds. The page lands as one change, so a row aimed
// at when the list first shows rows is the conversation a tap opens; and the run's wait-idle
// waits for the shown list's first page.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/screens.h"
#include "platform/toolkit/testing/input_script.h"
#include "tests/ui/messages/list_fixture.h"

namespace {

struct FirstLoad : hxtest::ListFixture<HX_ConnectAppDelegate_iPhone> {
    FirstLoad() : ListFixture(hxtest::DeviceForm::phone, 15) {}
    void SetUp() override {
        ListFixture::SetUp();
        useAccount({});
        // The texts' list is the view the launch shows; its own first page comes late (a second
        // of real time), after the unread items.
        foundation::UserDefaults::standardUserDefaults()->setInteger(1, "tabBarIndex");
        service->inject(emulator::Fault::Slow, std::string(kHXApiPath) + "api2thread/list", 1, 1.0);
    }
    std::shared_ptr<VC_Messages> texts() {
        return std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
    }
    // One frame of the app: the clock stands still while a request is out (the replies come over
    // real sockets), else moves a twentieth of a second.
    void frame() {
        if (!HXWebClientOf(*app).requests.empty()) {
            harness.clock().runUntilIdle();
            std::this_thread::yield();
        } else {
            harness.advance(0.05);
        }
        harness.settle();
    }
    // Plays an input script as the run does, whose wait-idle asks what the program asks (no
    // request out and no first data loading); "" when it played through, else what stopped it.
    std::string play(const char* script) {
        auto steps = toolkit::testing::parseInputScript(script);
        if (!steps.ok()) return steps.error().localizedDescription();
        auto played = toolkit::testing::playInputScript(
            harness, steps.value(),
            [&] { return HXWebClientOf(*app).firstReachabilityHandled && app->isIdle() && !HXLoadingFirstData(*app); },
            20);
        return played.ok() ? std::string() : played.error().localizedDescription();
    }
    template <typename F>
    bool framesUntil(F&& done, double realSeconds = 60) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(realSeconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= until) return false;
            frame();
        }
        return true;
    }
};

TEST_F(FirstLoad, ATapDuringTheFirstLoadOpensTheConversationAimedAt) {
    ASSERT_TRUE(launch());
    harness.settle();
    auto list = texts();
    ASSERT_TRUE(list);
    auto table = list->tableView();
    // The user aims at the fourth row as soon as the list shows rows.
    ASSERT_TRUE(framesUntil([&] { return table->numberOfSections() > 0 && table->numberOfRows(0) > 4; }));
    const toolkit::IndexPath aimed{0, 3};
    auto cell = table->cellForRow(aimed);
    ASSERT_TRUE(cell);
    const auto centre =
        cell->convertPointTo(toolkit::Point{cell->bounds().width() / 2, cell->bounds().height() / 2}, nullptr);
    auto aimedAt = list->messageList()->conversationAt(aimed.row);
    ASSERT_TRUE(aimedAt);
    const std::string aimedID = aimedAt->conversationID();
    // The rest of the load comes in before the finger lands.
    ASSERT_TRUE(framesUntil([&] {
        return HXWebClientOf(*app).requests.empty() && !list->messageList()->isLoadingMessages() &&
               !HXLoadingFirstData(*app);
    }));
    harness.tap(centre);
    auto* nav = list->navigationController();
    ASSERT_TRUE(nav);
    HXConversationScreen* opened = nullptr;
    ASSERT_TRUE(
        framesUntil([&] { return (opened = dynamic_cast<HXConversationScreen*>(nav->topViewController())); }, 10));
    EXPECT_EQ(opened->setup().conversationID, aimedID);
}

// The texts' list opened later, once the launch is idle on the tab the app lands on: the store
// already holds the unread threads (the unread list parsed at launch) and the list's own first
// page comes late. The rows under a finger aimed at when the list first shows rows stay where they
// are until it lands (neither the page's other rows nor the search bar move them), and the tap
// opens the conversation aimed at.
TEST_F(FirstLoad, TheTextsListOpenedLaterKeepsTheRowsUnderTheFinger) {
    foundation::UserDefaults::standardUserDefaults()->setInteger(0, "tabBarIndex");
    // Every other text thread, newest first, is unread: the unread list's threads lie between the
    // list's others.
    service->withAccount([](emulator::Account& a) {
        std::vector<emulator::Thread*> texts;
        for (auto& t : a.threads)
            if (t.isText() && !t.spam && !t.archived) texts.push_back(&t);
        std::sort(texts.begin(), texts.end(), [](auto* x, auto* y) { return x->lastTimeMs() > y->lastTimeMs(); });
        for (size_t i = 0; i < texts.size(); ++i) texts[i]->read = i % 2 == 1;
        return 0;
    });
    harness.clock().setPacedByRealIO(true);  // as the run sets its clock
    ASSERT_TRUE(launch());
    harness.settle();
    ASSERT_EQ(play("wait-idle\n"), "");
    service->inject(emulator::Fault::Slow, std::string(kHXApiPath) + "api2thread/list", 1, 1.0);
    ASSERT_EQ(play("click-on SMS\n"), "");
    auto list = texts();
    ASSERT_TRUE(list && list->isViewLoaded() && list->messageList());
    auto table = list->tableView();
    const long stored = static_cast<long>(list->messageList()->totalMessagesInStore());
    ASSERT_GT(stored, 0) << "the unread list's threads are stored before the list's own page";
    // The list's rows do not scroll from the first frame it shows to the tap (the search bar rests
    // hidden from the start).
    const double offset = table->contentOffset().y;
    int scrolled = 0;
    auto frameScrolled = [&] { scrolled += table->contentOffset().y != offset; };
    ASSERT_TRUE(framesUntil([&] {
        frameScrolled();
        return table->numberOfSections() > 0 && table->numberOfRows(0) > 4;
    }));
    const toolkit::IndexPath aimed{0, 3};
    auto cell = table->cellForRow(aimed);
    ASSERT_TRUE(cell);
    const auto centre =
        cell->convertPointTo(toolkit::Point{cell->bounds().width() / 2, cell->bounds().height() / 2}, nullptr);
    auto aimedAt = list->messageList()->conversationAt(aimed.row);
    ASSERT_TRUE(aimedAt);
    const std::string aimedID = aimedAt->conversationID();
    auto underFinger = [&] {
        auto row = table->indexPathForRowAtPoint(table->convertPointFrom(centre, nullptr));
        auto c = row ? list->messageList()->conversationAt(static_cast<size_t>(row->row)) : std::nullopt;
        return c ? c->conversationID() : std::string();
    };
    // Until the finger lands, the list's own first page comes in; the row under it stays the one
    // aimed at.
    int moved = 0;
    ASSERT_TRUE(framesUntil([&] {
        frameScrolled();
        moved += underFinger() != aimedID;
        return list->messageList()->initialLoadDone() && HXWebClientOf(*app).requests.empty() &&
               !list->messageList()->isLoadingMessages() && !HXLoadingFirstData(*app);
    }));
    EXPECT_EQ(moved, 0) << "frames in which another conversation lay under the finger";
    EXPECT_EQ(scrolled, 0) << "frames in which the rows had scrolled";
    harness.tap(centre);
    auto* nav = list->navigationController();
    ASSERT_TRUE(nav);
    HXConversationScreen* opened = nullptr;
    ASSERT_TRUE(
        framesUntil([&] { return (opened = dynamic_cast<HXConversationScreen*>(nav->topViewController())); }, 10));
    EXPECT_EQ(opened->setup().conversationID, aimedID);
}

// The run's wait-idle (as the program asks it: no request out and no first data loading) ends
// only once the shown list's first page is in.
TEST_F(FirstLoad, WaitIdleWaitsForTheShownListsFirstPage) {
    harness.clock().setPacedByRealIO(true);  // as the run sets its clock
    ASSERT_TRUE(launch());
    harness.settle();
    ASSERT_EQ(play("wait-idle\n"), "");
    auto list = texts();
    ASSERT_TRUE(list && list->messageList());
    EXPECT_FALSE(list->messageList()->loadingFirstPage());
    EXPECT_GE(list->messageList()->numberOfConversations(), size_t{20}) << "the first page is stored and shown";
    EXPECT_GE(list->tableView()->numberOfRows(0), 20);
}

}  // namespace
