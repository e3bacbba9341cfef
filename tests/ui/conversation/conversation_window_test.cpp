// A reply written and sent in the desktop window (SDL's offscreen driver, no display needed), as
// a user does it: the long thread opened by the "reply" URL with the keyboard up, the text typed
// and Send clicked as window events, the reply read back from the loopback service; the window
// then shows the new bubble whole above the reply bar, keyboard still up.
#include <cstdlib>

#include "platform/toolkit/text_input.h"
#include "platform/window/front_end.h"
#include "platform/window/input_script.h"
#include "platform/window/sdl_library.h"
#include "tests/ui/conversation/service_support.h"

namespace {

struct WindowReply : hxtest::ServiceThreads<HX_ConnectAppDelegate_iPhone> {
    WindowReply() : ServiceThreads(hxtest::DeviceForm::phone) {}
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        ServiceThreads::SetUp();
    }
    void TearDown() override {
        frontEnd.reset();
        ServiceThreads::TearDown();
    }
    // A script line played as the window system's events.
    void play(const std::string& line) {
        auto steps = windowing::parseInputScript(line);
        ASSERT_TRUE(steps.ok()) << line;
        const auto& sdl = *windowing::sdlLibrary().value();
        for (const auto& step : *steps)
            for (SDL_Event event :
                 windowing::eventsForStep(step, frontEnd->pointsToPixels(), frontEnd->windowID(), last))
                ASSERT_EQ(sdl.PushEvent(&event), 1) << sdl.GetError();
        frontEnd->pumpEvents();
        harness.settle();
    }
    std::unique_ptr<windowing::FrontEnd> frontEnd;
    toolkit::Point last;
};

}  // namespace

TEST_F(WindowReply, ASentReplyShowsWholeAboveTheReplyBarWithTheKeyboardUp) {
    const std::string id = threadIds[0];
    ASSERT_TRUE(runUntil([&] { return app->getConversationWithID(id) != nullptr; }));
    auto* s = openByURL("conversationID=" + foundation::queryItemEncoded(id));
    ASSERT_NE(s, nullptr);
    auto opened = windowing::FrontEnd::open(harness.window(), {});
    ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
    frontEnd = std::move(*opened);
    auto& field = *s->inputToolbar()->textView();
    ASSERT_TRUE(field.isFirstResponder()) << "the reply URL opens the keyboard";
    ASSERT_TRUE(toolkit::Keyboard::shared().isVisible());
    const long before = s->tableView().numberOfSections();
    ASSERT_GT(before, 8) << "a thread longer than the screen";

    play("type On my way, see you at the station in ten minutes");
    ASSERT_EQ(field.text(), "On my way, see you at the station in ten minutes");
    auto& send = *s->inputToolbar()->inputButton();
    const toolkit::Point at = send.convertPointTo({send.bounds().midX(), send.bounds().midY()}, nullptr);
    play("click " + std::to_string(at.x) + " " + std::to_string(at.y));
    EXPECT_EQ(field.text(), "");
    ASSERT_TRUE(runUntil([&] { return hasBubble(*s, "On my way, see you at the station in ten minutes"); }));
    ASSERT_TRUE(runUntil([&] { return !s->isSendingReply() && app->isIdle(); }));
    harness.advance(1);
    harness.settle();
    ASSERT_TRUE(toolkit::Keyboard::shared().isVisible()) << "the keyboard stays up";

    // The new bubble (the last message) lies whole between the navigation bar and the reply bar.
    auto& table = s->tableView();
    const long last = table.numberOfSections() - 1;
    ASSERT_EQ(s->messageAt(last)->text(), "On my way, see you at the station in ten minutes");
    const toolkit::Rect row = table.convertRectTo(table.rectForRow({last, 0}), nullptr);
    auto& bar = *s->inputToolbar();
    const double barTop = bar.convertRectTo(bar.bounds(), nullptr).minY();
    const double tableTop = table.convertRectTo(table.bounds(), nullptr).minY() + table.contentInset().top;
    EXPECT_GE(row.minY(), tableTop - 0.5);
    EXPECT_LE(row.maxY(), barTop + 0.5) << "the bubble ends at " << row.maxY() << ", the bar begins at " << barTop;

    // And the window shows it: the sent bubble's blue fills the middle of its row.
    ASSERT_TRUE(frontEnd->drawFrame().ok());
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok());
    const double scale = frontEnd->pointsToPixels();
    int blue = 0, looked = 0;
    for (double y = row.minY() + 4; y < row.maxY() - 4; y += 2)
        for (double x = row.maxX() - 60; x < row.maxX() - 20; x += 2) {
            const auto p = (*shown)->rgbaAt(static_cast<int>(x * scale), static_cast<int>(y * scale));
            blue += p[2] > p[0] + 60;
            ++looked;
        }
    ASSERT_GT(looked, 0);
    EXPECT_GT(blue, looked / 4) << "the bubble is drawn where its row is";
}
