// The run's service and device worked through its window (SDL's offscreen driver) with the keys a
// user presses, the hooks wired as the program wires them (app/main.cpp, app/run_device.h): F10 has
// a text arrive from a new number, the app in the background finds it and its banner's Reply
// answers it; F11 takes the network away, a request fails as not connected with the alert, and
// the network comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <thread>

#include "app/connect_app_delegate_iphone.h"
#include "app/run_device.h"
#include "emulator/emulator.h"
#include "platform/foundation/application.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/net/url_error.h"
#include "platform/services/contacts.h"
#include "platform/services/device.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/testing/input_script.h"
#include "platform/toolkit/traits.h"
#include "platform/window/input_script.h"
#include "platform/window/sdl_library.h"
#include "service/conversation_title.h"
#include "service/request_machinery.h"
#include "tests/support/window_fixture.h"
#include "ui/conversation/contact_header.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/messages/vc_messages.h"
#include "ui/settings/vc_settings.h"
#include "ui/widgets/hxc_input_toolbar.h"

namespace {

struct RunWindow : hxtest::WindowFixture {
    void SetUp() override {
        WindowFixture::SetUp();
        // The device's network, as the program has it before the launch.
        hxrun::installConnection();
    }
    // A drag or swipe played as the window plays a script's: one move a display frame (1/60 s
    // of the virtual clock), the window drawing each.
    void playInFrames(const std::string& line) {
        auto steps = windowing::parseInputScript(line);
        ASSERT_TRUE(steps.ok()) << line;
        const auto& sdl = *windowing::sdlLibrary().value();
        for (const auto& step : *steps)
            for (auto& frame : windowing::eventFramesForStep(step, frontEnd->pointsToPixels(), frontEnd->windowID(),
                                                             last, harness.window().bounds().size)) {
                for (SDL_Event event : frame) ASSERT_EQ(sdl.PushEvent(&event), 1) << sdl.GetError();
                frontEnd->pumpEvents();
                harness.advance(1.0 / 60);
                frontEnd->frame();
            }
    }
    // The app launched and loaded in the window, its Settings tab chosen.
    bool openSettingsInWindow() {
        if (!launchAndLoad()) return false;
        openWindow();
        frames(2);
        if (!settleRequests()) return false;
        app->selectViewForIndex(4);
        frames(1);
        return std::dynamic_pointer_cast<VC_Settings>(settingsNavigation().viewControllers().front()) != nullptr;
    }
    toolkit::NavigationController& settingsNavigation() {
        return dynamic_cast<toolkit::NavigationController&>(*app->tabBarController()->viewControllers()[4]);
    }
    // The conversation threads the run's service adds (a long one, ..., every kind of attachment).
    std::vector<std::string> conversationThreads() {
        return service->withAccount([](emulator::Account& a) {
            emulator::addConversationThreadsOnce(a, 1);
            return emulator::conversationThreadIds(a);
        });
    }
    // The messages of a thread the service keeps.
    std::vector<std::string> serviceItems(const std::string& thread) {
        return service->withAccount([&](emulator::Account& a) {
            std::vector<std::string> kept;
            if (auto* t = a.thread(thread))
                for (const auto& m : t->items) kept.push_back(m.id);
            return kept;
        });
    }
    // Clicks the action a swipe uncovered (drawn as a picture, its title blank): the messages of
    // the thread the service deleted then.
    std::vector<std::string> deletedByTheRevealedAction(const std::string& thread) {
        const auto before = serviceItems(thread);
        toolkit::View* remove = nullptr;
        for (auto* actions : harness.findAll("SwipeActionsView"))
            if (!actions->subviews().empty()) remove = actions->subviews().front().get();
        if (!remove) return {};
        click(*remove);
        frames(1);
        EXPECT_TRUE(settleRequests());
        const auto after = serviceItems(thread);
        std::vector<std::string> gone;
        for (const auto& id : before)
            if (std::find(after.begin(), after.end(), id) == after.end()) gone.push_back(id);
        return gone;
    }
    // The app launched in its window and the thread of that id opened from the messages list.
    VC_Conversation* launchIntoThread(const std::string& id) {
        if (!launchAndLoad()) return nullptr;
        openWindow();
        frames(2);
        if (!settleRequests()) return nullptr;
        return openThread(id);
    }
    // The thread of that id opened from the messages list, as a user opens it.
    VC_Conversation* openThread(const std::string& id) {
        app->selectViewForIndex(1);
        frames(1);
        EXPECT_TRUE(settleRequests());
        auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
        if (!list) return nullptr;
        auto& rows = *list->tableView();
        for (long row = 0; row < rows.numberOfRows(0); ++row) {
            const auto conversation = list->rowAt({0, row});
            if (!conversation || conversation->conversationID() != id) continue;
            if (!harness.selectRow(rows, {0, row})) return nullptr;
            frames(1);
            EXPECT_TRUE(settleRequests());
            return dynamic_cast<VC_Conversation*>(list->navigationController()->topViewController());
        }
        return nullptr;
    }
    // click-on LABEL as the window plays it.
    void clickOn(const std::string& label) {
        const auto point = toolkit::testing::findClickPoint(harness.window(), label);
        ASSERT_TRUE(point) << label << "\n" << harness.outline();
        play("click " + at(*point));
    }
};

// The service host's monitor reports once as it starts: the launch loads its data once, and
// after a trip to the background (F5 twice) the monitor, started again, reports again, so an
// address typed then (F7) opens and the run goes idle.
TEST_F(RunWindow, TheLaunchLoadsOnceAndAfterF5TwiceAnAddressOpensHistoryAndTheRunGoesIdle) {
    ASSERT_TRUE(launchAndLoad());
    ASSERT_EQ(runScript("wait-frames 120\nwait-idle\n"), "");
    std::map<std::string, int> loads;
    for (const auto& request : service->requests())
        if (request.path.ends_with("/account/get") || request.path.ends_with("/api2thread/list") ||
            request.path.ends_with("/threadinginfo/get"))
            ++loads[request.path.substr(request.path.rfind('/', request.path.rfind('/') - 1)) + " " + request.body];
    const std::map<std::string, int> once = {
        {"/account/get [null,1]", 1},
        {"/api2thread/list [1,20,15,null,null,[null,true,true]]", 1},
        {"/api2thread/list [5,20,15,null,null,[null,true,true]]", 1},
        {"/api2thread/list [6,20,15,null,null,[null,true,true]]", 1},
        {"/threadinginfo/get []", 1},
    };
    EXPECT_EQ(loads, once) << "the settings, the unread, spam and archive lists and the counts, once each";

    const std::string played =
        runScript("press-key F5\npress-key F5\npress-key F7\ntype hxconnect://history\npress-key Return\nwait-idle\n");
    EXPECT_EQ(played, "");
    EXPECT_FALSE(app->pendingURL()) << "the address was not held";
    EXPECT_EQ(app->currentViewIndex(), 3) << harness.outline();
    auto history = app->viewControllerForIndex(3);
    ASSERT_TRUE(history);
    EXPECT_TRUE(history->isViewLoaded() && history->view()->window()) << harness.outline();
}

TEST_F(RunWindow, F10HasATextArriveFromANewNumberWhoseBannerReplySends) {
    foundation::UserDefaults::standardUserDefaults()->setInteger(7, "notificationTypes");
    ASSERT_TRUE(launchAndLoad());
    openWindow();
    // The launch's own loads (the unread ones a second after the first) are done.
    frames(2);
    ASSERT_TRUE(settleRequests());
    services::BackgroundFetch::shared().setSystemMinimumInterval(5);
    play("press-key F5");
    ASSERT_TRUE(foundation::Application::shared().isInBackground());
    // The key asks the service; the text lands in a thread of its own.
    play("press-key F10");
    ASSERT_TRUE(untilReal([&] { return !arrivals.empty(); })) << "the route answered";
    EXPECT_EQ(arrivals.front().rfind("a text arrived from +15550140000: ", 0), 0u) << arrivals.front();
    const std::string thread = "t.+15550140000";
    ASSERT_TRUE(
        service->withAccount([&](emulator::Account& a) { return a.thread(thread) && !a.thread(thread)->read; }));

    // The system's background fetch finds it and announces it.
    frames(6);
    ASSERT_EQ(services::BackgroundFetch::shared().fetchesBegun(), 1);
    ASSERT_TRUE(untilReal([&] { return !fetchResults.empty(); }));
    EXPECT_EQ(fetchResults, std::vector<int>{HXApplicationModel::BackgroundFetchNewData});
    EXPECT_TRUE(app->getConversationWithID(thread));
    frames(1.5);
    ASSERT_NE(frontEnd->banners().banner(), nullptr) << harness.outline();
    EXPECT_EQ(frontEnd->banners().shown()->request.content.userInfo.get("id").stringValue(), thread);
    play("press-key F5");
    ASSERT_TRUE(settleRequests());

    ASSERT_NE(bannerButton("Reply"), nullptr) << harness.outline();
    click(*bannerButton("Reply"));
    ASSERT_NE(bannerButton("Send"), nullptr);
    play("type Who is this?\n");
    click(*bannerButton("Send"));
    ASSERT_TRUE(settleRequests());
    EXPECT_TRUE(service->withAccount([&](emulator::Account& a) {
        return std::any_of(a.sent.begin(), a.sent.end(),
                           [&](const auto& m) { return m.text == "Who is this?" && m.threadId == thread; });
    })) << "the reply went to the new number's thread";
}

TEST_F(RunWindow, F11TakesTheNetworkAwayAReplyIsKeptToSendLaterAndGoesOutWhenF11BringsItBack) {
    ASSERT_TRUE(launchAndLoad());
    openWindow();
    frames(2);
    ASSERT_TRUE(settleRequests());
    app->selectViewForIndex(1);
    // The list shows its rows once its own first page, asked for a moment after it appears, is in.
    ASSERT_TRUE(settleQuietly());
    auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
    ASSERT_TRUE(list && list->tableView()->numberOfRows(0) > 0) << harness.outline();
    ASSERT_TRUE(harness.selectRow(*list->tableView(), {0, 0}));
    harness.settle();
    auto* conversation = dynamic_cast<VC_Conversation*>(list->navigationController()->topViewController());
    ASSERT_TRUE(conversation) << harness.outline();
    ASSERT_TRUE(settleRequests());
    frames(1);

    play("press-key F11");
    EXPECT_FALSE(hxrun::connectionOn());
    auto* bar = conversation->inputToolbar();
    ASSERT_TRUE(bar && bar->textView());
    click(*bar->textView());
    play("type See you at eight\n");
    const size_t sentBefore = service->withAccount([](emulator::Account& a) { return a.sent.size(); });
    click(*bar->inputButton());
    ASSERT_TRUE(settleRequests());
    frames(0.5);
    // The send failed as not connected: the app offers to keep it.
    auto* alert = harness.visibleAlert();
    ASSERT_NE(alert, nullptr) << harness.outline();
    EXPECT_EQ(alert->alertTitle().value_or(""), "No Network Connection");
    ASSERT_TRUE(harness.tapAlertAction("Send Later")) << harness.outline();
    harness.settle();
    EXPECT_EQ(service->withAccount([](emulator::Account& a) { return a.sent.size(); }), sentBefore);

    // Back on: the app hears it and sends what it kept.
    play("press-key F11");
    EXPECT_TRUE(hxrun::connectionOn());
    for (int i = 0; i < 40 && service->withAccount([](emulator::Account& a) { return a.sent.size(); }) == sentBefore;
         ++i) {
        frames(0.5);
        ASSERT_TRUE(settleRequests());
    }
    EXPECT_TRUE(service->withAccount([](emulator::Account& a) {
        return !a.sent.empty() && a.sent.back().text == "See you at eight";
    })) << "the kept reply went out";
}

}  // namespace

// A swipe on a row near the bottom of a long thread, through the window as a user makes it, after
// the thread was scrolled and after it was loaded again: the message deleted is the one the finger
// was on when the swipe began (run many times: a swipe once deleted a message some rows above).
TEST_F(RunWindow, ASwipeNearTheBottomOfALongThreadDeletesTheMessageUnderTheFinger) {
    const auto ids = conversationThreads();
    ASSERT_FALSE(ids.empty());
    VC_Conversation* thread = launchIntoThread(ids[0]);
    ASSERT_NE(thread, nullptr) << harness.outline();
    auto& table = thread->tableView();
    // Scrolled up a little with the wheel, then loaded again, as the run's user did.
    const toolkit::Rect shown = table.convertRectTo(table.bounds(), nullptr);
    play("scroll 0 3");
    frames(0.5);
    table.reloadData();
    frames(1);
    ASSERT_TRUE(settleRequests());

    // The lowest row wholly above the reply bar, its message, and a swipe to the left across it.
    const double bottom = thread->inputToolbar()
                              ? thread->inputToolbar()->convertRectTo(thread->inputToolbar()->bounds(), nullptr).minY()
                              : shown.maxY();
    std::optional<toolkit::IndexPath> target;
    toolkit::Rect targetFrame;
    for (const auto& path : table.indexPathsForVisibleRows()) {
        auto cell = table.cellForRow(path);
        if (!cell) continue;
        const toolkit::Rect f = cell->convertRectTo(cell->bounds(), nullptr);
        if (f.maxY() > bottom - 4 || f.height() < 30 || !thread->messageAt(path.section)) continue;
        if (!target || f.minY() > targetFrame.minY()) target = path, targetFrame = f;
    }
    ASSERT_TRUE(target) << harness.outline();
    const std::string underFinger = thread->messageAt(target->section)->messageID();
    const double y = targetFrame.midY();
    play("drag " + std::to_string(shown.maxX() - 20) + " " + std::to_string(y) + " " +
         std::to_string(shown.minX() + 40) + " " + std::to_string(y) + " 8");
    frames(0.5);
    EXPECT_EQ(deletedByTheRevealedAction(ids[0]), std::vector<std::string>{underFinger}) << harness.outline();
}

// Settings dragged to its bottom with four quick drags, as a user flicks through it, then a tap
// on "Passcode Lock" once the list has come to rest against its end: the first tap opens the
// screen (it once only stopped a glide that still counted itself as moving seconds after the
// list had stopped at its edge). Flicks of several speeds, each tap after the three seconds
// the window's script waited.
TEST_F(RunWindow, TheFirstTapAfterDragsToTheBottomOfSettingsOpensTheRowTapped) {
    ASSERT_TRUE(openSettingsInWindow()) << harness.outline();
    auto& nav = settingsNavigation();
    auto settings = std::dynamic_pointer_cast<VC_Settings>(nav.viewControllers().front());
    auto& table = *settings->tableView();
    const toolkit::Rect shown = table.convertRectTo(table.bounds(), nullptr);
    const std::string x = std::to_string(shown.midX());
    const std::string from = std::to_string(shown.maxY() - 60), to = std::to_string(shown.minY() + 60);
    for (const int moves : {4, 6, 8, 10, 14}) {
        SCOPED_TRACE("drags of " + std::to_string(moves) + " moves");
        for (int i = 0; i < 4; ++i)
            playInFrames("drag " + x + " " + from + " " + x + " " + to + " " + std::to_string(moves));
        frames(3);
        ASSERT_NEAR(table.contentOffset().y, table.maximumContentOffset().y, 1) << "the list shows its end";
        clickOn("Passcode Lock");
        frames(1);
        ASSERT_EQ(nav.viewControllers().size(), 2u) << "one tap opened the screen\n" << harness.outline();
        EXPECT_EQ(nav.topViewController()->title(), "Passcode Lock");
        nav.popViewController(false);
        frames(1);
        table.setContentOffset(table.minimumContentOffset(), false);
        frames(0.5);
    }
    // One quick flick let go inside the list, a little above its end: it glides into the end and
    // stops there.
    table.setContentOffset({0, table.maximumContentOffset().y - 300}, false);
    frames(0.5);
    playInFrames("drag " + x + " " + from + " " + x + " " + std::to_string(shown.maxY() - 160) + " 3");
    frames(3);
    ASSERT_NEAR(table.contentOffset().y, table.maximumContentOffset().y, 1) << "the list shows its end";
    clickOn("Passcode Lock");
    frames(1);
    EXPECT_EQ(nav.viewControllers().size(), 2u) << "one tap opened the screen\n" << harness.outline();
}

// Settings dragged up from where the user starts by a drag that ends inside the list, not at an
// edge, as the window's script plays it (the finger let go while moving, at several speeds, and
// held still a moment before letting go), then played frame by frame until the list looks still
// (under half a point in three frames): a click on the "Start Calls From" row then opens its sheet
// at once (a glide slowed under a point a frame once went on counting itself as
// moving for more than a second, and the first click only stopped it).
TEST_F(RunWindow, TheFirstTapOnSettingsAtRestInsideTheListOpensTheRowTapped) {
    ASSERT_TRUE(openSettingsInWindow()) << harness.outline();
    auto& nav = settingsNavigation();
    auto settings = std::dynamic_pointer_cast<VC_Settings>(nav.viewControllers().front());
    auto& table = *settings->tableView();
    const auto& sdl = *windowing::sdlLibrary().value();
    const struct {
        int moves;  // over the drag's 200 points, a move a frame
        int held;   // frames the finger rests before it lets go
    } drags[] = {{20, 0}, {24, 0}, {40, 0}, {20, 12}};
    for (const auto& drag : drags) {
        SCOPED_TRACE(std::to_string(drag.moves) + " moves, held " + std::to_string(drag.held) + " frames");
        table.setContentOffset(table.minimumContentOffset(), false);
        frames(0.5);
        auto steps = windowing::parseInputScript("drag 200 500 200 300 " + std::to_string(drag.moves));
        ASSERT_TRUE(steps.ok());
        auto events = windowing::eventFramesForStep(steps->front(), frontEnd->pointsToPixels(), frontEnd->windowID(),
                                                    last, harness.window().bounds().size);
        events.insert(events.end() - 1, drag.held, std::vector<SDL_Event>{});
        std::vector<double> seen;
        auto frame = [&](const std::vector<SDL_Event>& input) {
            for (SDL_Event event : input) ASSERT_EQ(sdl.PushEvent(&event), 1) << sdl.GetError();
            frontEnd->pumpEvents();
            harness.advance(1.0 / 60);
            frontEnd->frame();
            seen.push_back(table.contentOffset().y);
        };
        for (const auto& input : events) frame(input);
        const size_t letGo = seen.size();
        while (seen.size() < letGo + 3 || std::fabs(seen.back() - seen[seen.size() - 4]) >= 0.5) {
            ASSERT_LT(seen.size(), letGo + 600u) << "the list came to rest within ten seconds";
            frame({});
        }
        ASSERT_GT(table.contentOffset().y, table.minimumContentOffset().y + 100) << "moved up into the list";
        ASSERT_LT(table.contentOffset().y, table.maximumContentOffset().y - 100) << "resting inside, not at its end";
        const auto row = table.cellForRow(settings->indexPathForTag(103));
        ASSERT_TRUE(row) << harness.outline();
        const toolkit::Rect at = row->convertRectTo(row->bounds(), nullptr);
        ASSERT_TRUE(at.minY() > 64 && at.maxY() < 618) << "the row shows between the bars\n" << harness.outline();
        click(*row);
        frames(1);
        auto* sheet = harness.visibleAlert();
        ASSERT_NE(sheet, nullptr) << "one click opened the sheet, " << seen.size() - letGo
                                  << " frames after letting go\n"
                                  << harness.outline();
        EXPECT_EQ(sheet->alertTitle().value_or(""), "Select phone to ring back when starting a call");
        sheet->dismiss(false);
        frames(1);
    }
}

// The caret swipes over the conversation's bubbles, as a user makes them in the window (Alt makes
// the pointer two fingers): two and three fingers move the reply's caret wherever they start, over
// a sent text, a video or its placeholder, a picture; one finger is the row's own swipe, which
// uncovers its Delete (two fingers over a sent text once opened the Delete instead, and no
// swipe over an attachment's row moved the caret).
TEST_F(RunWindow, TwoAndThreeFingerSwipesOverAnyBubbleMoveTheReplysCaretAndOneFingerSwipesTheRow) {
    const auto ids = conversationThreads();
    ASSERT_GE(ids.size(), 4u);
    VC_Conversation* thread = launchIntoThread(ids[3]);  // a message of every kind of attachment
    ASSERT_NE(thread, nullptr) << harness.outline();
    frames(2);
    ASSERT_TRUE(settleRequests());
    auto& table = thread->tableView();
    auto& field = *thread->inputToolbar()->textView();
    field.setText("hello brave new world");
    field.setSelectedRange({21, 0});
    harness.settle();

    // A row showing what is wanted, brought to the middle of the screen.
    auto rowShowing =
        [&](const std::function<bool(ConversationTableViewCell&)>& wanted) -> std::optional<toolkit::Rect> {
        for (long section = 0; section < table.numberOfSections(); ++section)
            for (long row = 0; row < table.numberOfRows(section); ++row) {
                table.scrollToRow({section, row}, toolkit::ScrollPosition::Middle, false);
                frames(0.25);
                auto cell = std::dynamic_pointer_cast<ConversationTableViewCell>(table.cellForRow({section, row}));
                if (cell && wanted(*cell)) return cell->convertRectTo(cell->bounds(), nullptr);
            }
        return std::nullopt;
    };
    const auto video = rowShowing([](ConversationTableViewCell& c) {
        return c.messageView().text().find("Video") != std::string::npos ||
               c.accessibilityLabel().find("Video") != std::string::npos;
    });
    ASSERT_TRUE(video) << harness.outline();
    auto swipeAcross = [&](const toolkit::Rect& row, bool right, int fingers) {
        const double y = row.midY(), from = right ? 80 : 300, to = right ? 300 : 80;
        play("swipe " + std::to_string(from) + " " + std::to_string(y) + " " + std::to_string(to) + " " +
             std::to_string(y) + " " + std::to_string(fingers));
        frames(0.5);
    };
    auto swiped = [&] { return table.swipedRow().has_value(); };
    const struct {
        bool right;
        int fingers;
        size_t caret;
    } overVideo[] = {{false, 2, 16}, {false, 2, 12}, {false, 3, 0}, {true, 2, 6}, {true, 3, 21}};
    for (const auto& c : overVideo) {
        SCOPED_TRACE(std::to_string(c.fingers) + (c.right ? " fingers right" : " fingers left") + " over the video");
        swipeAcross(*video, c.right, c.fingers);
        EXPECT_EQ(field.selectedRange().location, c.caret);
        EXPECT_FALSE(swiped());
    }

    const auto sent = rowShowing([](ConversationTableViewCell& c) {
        return c.isSent() && !c.messageView().text().empty() &&
               c.accessibilityLabel().find("Attachment") == std::string::npos;
    });
    ASSERT_TRUE(sent) << harness.outline();
    swipeAcross(*sent, false, 2);
    EXPECT_EQ(field.selectedRange().location, 16u) << "two fingers over a sent text move the caret";
    EXPECT_FALSE(swiped()) << "and do not open the row's Delete";
    swipeAcross(*sent, false, 3);
    EXPECT_EQ(field.selectedRange().location, 0u);
    EXPECT_FALSE(swiped());
    // One finger: the row's own swipe, the caret left where it was.
    swipeAcross(*sent, false, 1);
    EXPECT_TRUE(swiped()) << harness.outline();
    EXPECT_EQ(field.selectedRange().location, 0u);
}

// Rows that move under a swipe still under way: the finger goes down on a message and starts
// sliding it, a message above it goes from the store (a refresh found it deleted elsewhere), the
// finger goes on and lifts, and Delete deletes on the service the message the swipe began on,
// now a row higher (once the row that had come under its old place went instead).
TEST_F(RunWindow, ASwipeDeletesTheMessageItBeganOnWhenTheRowsMoveBeforeTheFingerLifts) {
    const auto ids = conversationThreads();
    ASSERT_FALSE(ids.empty());
    VC_Conversation* thread = launchIntoThread(ids[0]);
    ASSERT_NE(thread, nullptr) << harness.outline();
    auto& table = thread->tableView();
    // A text row in the middle of the screen, with messages above it.
    const toolkit::Rect shown = table.convertRectTo(table.bounds(), nullptr);
    std::optional<toolkit::IndexPath> target;
    toolkit::Rect targetFrame;
    for (const auto& path : table.indexPathsForVisibleRows()) {
        auto cell = table.cellForRow(path);
        if (!cell || path.section < 1 || path.row != 0 || !thread->messageAt(path.section)) continue;
        const toolkit::Rect f = cell->convertRectTo(cell->bounds(), nullptr);
        if (f.height() < 30 || f.midY() < shown.midY() - 60) continue;
        target = path, targetFrame = f;
        break;
    }
    ASSERT_TRUE(target) << harness.outline();
    const std::string underFinger = thread->messageAt(target->section)->messageID();

    // The finger goes down and slides the row halfway; then the message above goes.
    const double y = targetFrame.midY();
    auto steps = windowing::parseInputScript("drag " + std::to_string(shown.maxX() - 20) + " " + std::to_string(y) +
                                             " " + std::to_string(shown.minX() + 40) + " " + std::to_string(y) + " 8");
    ASSERT_TRUE(steps.ok());
    auto moves = windowing::eventFramesForStep(steps->front(), frontEnd->pointsToPixels(), frontEnd->windowID(), last,
                                               harness.window().bounds().size);
    const auto& sdl = *windowing::sdlLibrary().value();
    auto playFrames = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            for (SDL_Event event : moves[i]) ASSERT_EQ(sdl.PushEvent(&event), 1);
            frontEnd->pumpEvents();
            harness.advance(1.0 / 60);
            frontEnd->frame();
        }
    };
    playFrames(0, moves.size() / 2);
    auto above = thread->messageAt(target->section - 1);
    ASSERT_TRUE(above);
    app->managedObjectContext()->deleteObject(above->object());
    ASSERT_TRUE(app->managedObjectContext()->save().ok());
    ASSERT_EQ(thread->messageAt(target->section - 1)->messageID(), underFinger) << "the rows moved up one";
    playFrames(moves.size() / 2, moves.size());
    frames(0.5);

    ASSERT_EQ(table.swipedRow(), (toolkit::IndexPath{target->section - 1, 0})) << "the row the swipe began on";
    EXPECT_EQ(deletedByTheRevealedAction(ids[0]), std::vector<std::string>{underFinger}) << harness.outline();
}

// A number nobody names saved as a device contact from its conversation, through the window as a
// user does it: the add button, the device's contacts in "Create new Contact", a name typed into
// the new card, Done. The screen then goes by the name, in its title and above the number, and
// the picture is the button to the saved card, which shows the number. The service still names
// nobody, so the add button stays and now offers the service's contacts, filled with the name.
TEST_F(RunWindow, ANumberSavedAsADeviceContactNamesItsConversationWhosePictureOpensTheCard) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    const std::string number = "+15550133";  // the service's sample thread without a name
    VC_Conversation* thread = launchIntoThread("t." + number);
    ASSERT_NE(thread, nullptr) << harness.outline();
    auto& window = harness.window();
    HXContactHeader& header = *thread->contactHeader();
    ASSERT_EQ(thread->conversation()->sender(), number);
    EXPECT_EQ(thread->title(), "");
    ASSERT_TRUE(toolkit::testing::isShown(window, "Add Contact")) << harness.outline();
    EXPECT_FALSE(toolkit::testing::isShown(window, "Contact Image")) << "the device knows no such number yet";

    clickOn("Add Contact");
    frames(0.5);
    auto* where = harness.visibleAlert();
    ASSERT_NE(where, nullptr) << harness.outline();
    EXPECT_EQ(where->alertTitle().value_or(""), "Create new Contact");
    clickOn(toolkit::Device::current().model() + " Contacts");
    frames(0.5);
    ASSERT_TRUE(toolkit::testing::isShown(window, "Create New Contact")) << harness.outline();
    clickOn("Create New Contact");
    frames(0.5);
    play("type Zed");
    clickOn("Last name");
    play("type Tester");
    clickOn("Done");
    // The card goes; the device's contacts are read again off the main thread.
    for (int i = 0; i < 40 && !header.contactImage()->isUserInteractionEnabled(); ++i) {
        frames(0.25);
        ASSERT_TRUE(untilReal([&] { return app->isIdle(); }, 10));
    }
    frames(1);

    EXPECT_EQ(thread->navigationController()->topViewController(), thread) << harness.outline();
    EXPECT_EQ(thread->title(), "Zed Tester");
    // The device's name of the number, with the label of the number on the card.
    EXPECT_EQ(HXContactNameWithoutLabel(thread->conversation()->ABName()), "Zed Tester");
    EXPECT_TRUE(toolkit::testing::isShown(window, "Zed Tester")) << "the title\n" << harness.outline();
    EXPECT_EQ(header.contactName()->text(), "Zed Tester\n" + thread->conversation()->formattedNumber());
    // The picture is the button to the card.
    toolkit::ImageView& picture = *header.contactImage();
    ASSERT_TRUE(picture.isUserInteractionEnabled()) << harness.outline();
    EXPECT_EQ(picture.accessibility().label, "Contact Image");
    EXPECT_EQ(picture.accessibility().hint, "Opens the contact's card");
    EXPECT_TRUE(picture.accessibility().isElement);
    EXPECT_EQ(picture.layer().borderWidth, 2.0);
    EXPECT_EQ(picture.layer().borderColor, graphics::Color::systemBlue());
    // The add button stays: the service names nobody, and the device's name fills its prompt.
    ASSERT_TRUE(toolkit::testing::isShown(window, "Add Contact")) << harness.outline();
    clickOn("Add Contact");
    frames(0.5);
    auto* prompt = harness.visibleAlert();
    ASSERT_NE(prompt, nullptr) << harness.outline();
    EXPECT_EQ(prompt->message().value_or(""), "Enter a name to add this number to your HX Contacts");
    ASSERT_EQ(prompt->textFields().size(), 1u);
    EXPECT_EQ(prompt->textFields().front()->text(), "Zed Tester");
    clickOn("Cancel");
    frames(0.5);
    EXPECT_EQ(harness.visibleAlert(), nullptr);

    clickOn("Contact Image");
    frames(0.5);
    auto* card =
        dynamic_cast<system_screens::ContactViewController*>(thread->navigationController()->topViewController());
    ASSERT_NE(card, nullptr) << "the card is pushed\n" << harness.outline();
    EXPECT_EQ(card->contact().givenName, "Zed");
    EXPECT_EQ(card->contact().familyName, "Tester");
    ASSERT_EQ(card->contact().phoneNumbers.size(), 1u);
    EXPECT_TRUE(card->isHighlightedRow(0)) << "the conversation's number stands out";
    EXPECT_TRUE(toolkit::testing::isShown(window, card->contact().phoneNumbers[0].stringValue)) << harness.outline();
    EXPECT_EQ(services::ContactStore::shared()->count(), 1u) << "saved once";
}
