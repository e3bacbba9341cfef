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

// The run's wait-idle (as the program asks it: no request out and no first data loading) ends
// only once the shown list's first page is in.
TEST_F(FirstLoad, WaitIdleWaitsForTheShownListsFirstPage) {
    harness.clock().setPacedByRealIO(true);  // as the run sets its clock
    ASSERT_TRUE(launch());
    harness.settle();
    auto steps = toolkit::testing::parseInputScript("wait-idle\n");
    ASSERT_TRUE(steps.ok());
    auto played = toolkit::testing::playInputScript(
        harness, steps.value(),
        [&] { return HXWebClientOf(*app).firstReachabilityHandled && app->isIdle() && !HXLoadingFirstData(*app); }, 20);
    ASSERT_TRUE(played.ok()) << played.error().localizedDescription();
    auto list = texts();
    ASSERT_TRUE(list && list->messageList());
    EXPECT_FALSE(list->messageList()->loadingFirstPage());
    EXPECT_GE(list->messageList()->numberOfConversations(), size_t{20}) << "the first page is stored and shown";
    EXPECT_GE(list->tableView()->numberOfRows(0), 20);
}

}  // namespace
