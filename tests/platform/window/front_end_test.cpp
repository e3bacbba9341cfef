// The desktop window on SDL's offscreen driver (no display needed): what it shows against the
// renderer, and the mouse, wheel, keyboard and device keys reaching a small screen through the
// toolkit's real paths, on the harness's virtual clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "platform/clock/clock.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/graphics/bitmap_compare.h"
#include "platform/graphics/codecs.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "platform/window/errors.h"
#include "platform/window/front_end.h"
#include "tests/support/test_support.h"

namespace {

using toolkit::Point;
using toolkit::Rect;
using windowing::InputStep;

// The window's library, loaded by then: the tests push events and read sizes through it.
const windowing::SdlLibrary& sdl() { return *windowing::sdlLibrary().value(); }

struct Recorder : toolkit::TextFieldDelegate {
    int returns = 0;
    bool textFieldShouldReturn(toolkit::TextField&) override {
        ++returns;
        return true;
    }
};

// A screen with one of each kind of target: a button, a field, a scroll view taller than the
// screen, a long-press area and a red square; it counts shakes, warnings and a Ctrl+K command.
class Screen : public toolkit::ViewController {
public:
    int shakes = 0;
    int warnings = 0;
    int finds = 0;
    int calls = 0;
    int taps = 0;
    int longPresses = 0;
    std::vector<std::string>* log = nullptr;
    std::shared_ptr<toolkit::TextField> field;
    std::shared_ptr<toolkit::ScrollView> scroll;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

    Screen() {
        setActionHandler("find:", [this](toolkit::Responder*) { ++finds; });
        setActionHandler("call:", [this](toolkit::Responder*) { ++calls; });
    }
    std::vector<toolkit::KeyCommand> keyCommands() const override {
        return {{"k", toolkit::kModifierCommand, "find:", "Find"}, {"c", toolkit::kModifierControl, "call:", "Call"}};
    }
    void motionEnded() override { ++shakes; }
    void didReceiveMemoryWarning() override {
        ++warnings;
        if (log) log->push_back("controller");
    }
    void viewDidLoad() override {
        view()->setBackgroundColor(toolkit::Color::whiteColor());
        auto button = std::make_shared<toolkit::Button>();
        button->setFrame(Rect(0, 0, 100, 40));
        button->addAction([this](toolkit::Control&, const toolkit::Event*) { ++taps; }, toolkit::kTouchUpInside);
        view()->addSubview(button);
        field = std::make_shared<toolkit::TextField>(Rect(0, 50, 200, 30));
        field->delegate = recorder;
        view()->addSubview(field);
        scroll = std::make_shared<toolkit::ScrollView>(Rect(0, 100, 200, 100));
        scroll->contentInsetAdjustmentBehavior = toolkit::ContentInsetAdjustment::Never;
        scroll->setContentSize({200, 300});
        view()->addSubview(scroll);
        auto pressArea = std::make_shared<toolkit::View>(Rect(0, 220, 100, 60));
        pressArea->addGestureRecognizer(
            std::make_shared<toolkit::LongPressGestureRecognizer>([this](toolkit::GestureRecognizer& g) {
                if (g.state() == toolkit::GestureState::Began) ++longPresses;
            }));
        view()->addSubview(pressArea);
        auto red = std::make_shared<toolkit::View>(Rect(120, 0, 60, 40));
        red->setBackgroundColor(toolkit::Color::rgb(1, 0, 0));
        view()->addSubview(red);
    }
};

toolkit::ScreenProfile smallProfile() {
    // Small enough for the offscreen display (1024 x 768) at its full pixel size.
    auto p = toolkit::ScreenProfile::iPhone8();
    p.name = "small";
    p.size = {200, 300};
    p.safeArea = {};
    return p;
}

class WindowFrontEnd : public ::testing::Test {
protected:
    void SetUp() override { setenv("SDL_VIDEODRIVER", "offscreen", 1); }

    void open(const toolkit::ScreenProfile& profile, windowing::FrontEndOptions options = {}) {
        // One harness at a time: each installs its virtual clock and puts back the one before.
        frontEnd.reset();
        harness.reset();
        harness = std::make_unique<toolkit::testing::Harness>(profile);
        screen = std::make_shared<Screen>();
        harness->setRoot(screen);
        if (options.screenshotDirectory.empty()) options.screenshotDirectory = shots.path();
        auto opened = windowing::FrontEnd::open(harness->window(), std::move(options));
        ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
        frontEnd = std::move(*opened);
    }

    // Pushes a step's events through SDL's queue and lets the window handle them.
    void play(const std::string& line) {
        auto steps = windowing::parseInputScript(line);
        ASSERT_TRUE(steps.ok()) << line;
        for (const auto& step : *steps)
            for (SDL_Event event :
                 windowing::eventsForStep(step, frontEnd->pointsToPixels(), frontEnd->windowID(), last))
                ASSERT_EQ(sdl().PushEvent(&event), 1) << sdl().GetError();
        frontEnd->pumpEvents();
        harness->settle();
    }

    std::pair<int, int> windowSize() const {
        int w = 0, h = 0;
        sdl().GetWindowSize(frontEnd->sdlWindow(), &w, &h);
        return {w, h};
    }

    hxtest::TempDir shots;
    std::unique_ptr<toolkit::testing::Harness> harness;
    std::shared_ptr<Screen> screen;
    std::unique_ptr<windowing::FrontEnd> frontEnd;
    Point last;
};

TEST_F(WindowFrontEnd, ShowsWhatTheRendererDrawsAtTheProfilesPixels) {
    open(smallProfile());
    EXPECT_EQ(windowSize(), std::make_pair(400, 600));
    EXPECT_EQ(frontEnd->pointsToPixels(), 2);
    ASSERT_TRUE(frontEnd->drawFrame().ok());
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok()) << shown.error().localizedDescription();
    auto drawn = toolkit::snapshot(harness->window());
    ASSERT_TRUE(drawn);
    const auto c = graphics::compareBitmaps(**shown, *drawn);
    EXPECT_TRUE(c.sameSize);
    EXPECT_EQ(c.differingPixels, 0);
    // Channels in their places: the red square is red, the background white.
    const std::array<uint8_t, 4> red{255, 0, 0, 255}, white{255, 255, 255, 255};
    EXPECT_EQ((*shown)->rgbaAt(300, 40), red);
    EXPECT_EQ((*shown)->rgbaAt(390, 590), white);
}

TEST_F(WindowFrontEnd, TransparentPartsShowTheBlackScreenBehind) {
    open(smallProfile());
    screen->view()->setBackgroundColor(toolkit::Color::white(1, 0.5));
    harness->settle();
    ASSERT_TRUE(frontEnd->drawFrame().ok());
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok());
    const auto pixel = (*shown)->rgbaAt(390, 590);
    EXPECT_EQ(pixel[3], 255);
    EXPECT_NEAR(pixel[0], 128, 1);
    EXPECT_EQ(pixel[0], pixel[2]);
}

TEST_F(WindowFrontEnd, TheMouseIsOneFingerAndAHoldIsALongPress) {
    open(smallProfile());
    play("click 50 20");
    EXPECT_EQ(screen->taps, 1);
    // Pressed on the button and let go outside it: no tap.
    play("press 50 20\nrelease 150 280");
    EXPECT_EQ(screen->taps, 1);

    play("press 50 250");
    EXPECT_EQ(screen->longPresses, 0);
    harness->advance(0.6);
    EXPECT_EQ(screen->longPresses, 1);
    play("release 50 250");
    // A short press is no long press.
    play("press 50 250");
    harness->advance(0.2);
    play("release 50 250");
    EXPECT_EQ(screen->longPresses, 1);
}

TEST_F(WindowFrontEnd, TheKeyboardTypesIntoTheFocusedFieldAndEdits) {
    open(smallProfile());
    play("type ignored without a focus");
    play("click 100 65");
    ASSERT_EQ(toolkit::firstResponder(), screen->field.get());
    play("type h\xC3\xA9llo w");
    play("press-key BackSpace");
    play("press-key BackSpace");
    EXPECT_EQ(screen->field->text(), "h\xC3\xA9llo");
    // Letters typed as keys come as text; as keys alone they do nothing more.
    play("press-key a");
    EXPECT_EQ(screen->field->text(), "h\xC3\xA9llo");
    play("press-key Return");
    EXPECT_EQ(screen->recorder->returns, 1);
}

TEST_F(WindowFrontEnd, CommandKeysTravelTheResponderChain) {
    open(smallProfile());
    play("press-key ctrl+k");
    EXPECT_EQ(screen->finds, 1);
    play("press-key k");
    EXPECT_EQ(screen->finds, 1);
    // From a focused field the chain still reaches the controller.
    play("click 100 65");
    ASSERT_EQ(toolkit::firstResponder(), screen->field.get());
    play("press-key ctrl+k");
    EXPECT_EQ(screen->finds, 2);
    EXPECT_EQ(screen->field->text(), "");
    // Ctrl is the control key: Control-C is its own command; Super is the command key, and a Ctrl
    // chord that nothing takes (Ctrl-K above) is tried as the Command chord.
    play("press-key ctrl+c");
    EXPECT_EQ(screen->calls, 1);
    play("press-key cmd+k");
    EXPECT_EQ(screen->finds, 3);
    play("press-key cmd+c");
    EXPECT_EQ(screen->calls, 1) << "Command-C is not Control-C";
    EXPECT_EQ(screen->finds, 3);
}

TEST_F(WindowFrontEnd, TheWheelScrollsTheScrollViewUnderThePointerWithinItsContent) {
    open(smallProfile());
    auto& scroll = *screen->scroll;
    play("press 100 150\nrelease 100 150");
    play("scroll 0 -1");
    EXPECT_EQ(scroll.contentOffset().y, 40);
    play("scroll 0 -2");
    EXPECT_EQ(scroll.contentOffset().y, 120);
    play("scroll 0 -10");
    EXPECT_EQ(scroll.contentOffset().y, 200);  // 300 of content in 100 of height
    play("scroll 0 3");
    EXPECT_EQ(scroll.contentOffset().y, 80);
    play("scroll 0 10");
    EXPECT_EQ(scroll.contentOffset().y, 0);
    // Sideways there is nothing to scroll; away from the scroll view the wheel does nothing.
    play("scroll 2 0");
    EXPECT_EQ(scroll.contentOffset().x, 0);
    play("press 50 20\nrelease 250 20");
    play("scroll 0 -1");
    EXPECT_EQ(scroll.contentOffset().y, 0);
}

TEST_F(WindowFrontEnd, FunctionKeysShakeRotateAndSwitchTheAppearance) {
    open(smallProfile());
    play("press-key F1");
    EXPECT_EQ(screen->shakes, 1);

    play("press-key F2");
    EXPECT_TRUE(harness->window().profile().isLandscape());
    EXPECT_TRUE(toolkit::Device::current().screen().isLandscape());
    EXPECT_EQ(windowSize(), std::make_pair(600, 400));
    // The finger follows the new shape: the button is still at the top left.
    play("click 50 20");
    EXPECT_EQ(screen->taps, 1);
    play("press-key F2");
    EXPECT_FALSE(harness->window().profile().isLandscape());
    EXPECT_EQ(windowSize(), std::make_pair(400, 600));
    ASSERT_TRUE(frontEnd->drawFrame().ok());
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok());
    EXPECT_EQ((*shown)->width(), 400);

    play("press-key F3");
    EXPECT_EQ(screen->view()->traitCollection().style, toolkit::InterfaceStyle::dark);
    play("press-key F3");
    EXPECT_EQ(screen->view()->traitCollection().style, toolkit::InterfaceStyle::light);
}

TEST_F(WindowFrontEnd, MemoryWarningAndBackgroundReachTheApplicationThenTheNotifications) {
    std::vector<std::string> log;
    windowing::FrontEndOptions options;
    options.hooks = {[&] { log.push_back("app memory"); }, [&] { log.push_back("app background"); },
                     [&] { log.push_back("app foreground"); }};
    open(smallProfile(), std::move(options));
    screen->log = &log;
    auto& center = foundation::NotificationCenter::defaultCenter();
    int token = 0;
    for (const char* name : {foundation::kApplicationDidReceiveMemoryWarningNotification,
                             foundation::kApplicationDidEnterBackgroundNotification,
                             foundation::kApplicationWillEnterForegroundNotification})
        center.addObserver(&token, name, [&log, name](const foundation::Notification&) { log.push_back(name); });
    auto& application = foundation::Application::shared();
    application.setApplicationState(foundation::ApplicationState::Active);

    play("press-key F4");
    play("press-key F5");
    EXPECT_EQ(application.applicationState(), foundation::ApplicationState::Background);
    play("press-key F5");
    EXPECT_EQ(application.applicationState(), foundation::ApplicationState::Active);
    center.removeObserver(&token);
    const std::vector<std::string> expected{"app memory",
                                            "controller",
                                            foundation::kApplicationDidReceiveMemoryWarningNotification,
                                            foundation::kApplicationDidEnterBackgroundNotification,
                                            "app background",
                                            "app foreground",
                                            foundation::kApplicationWillEnterForegroundNotification};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(screen->warnings, 1);
}

TEST_F(WindowFrontEnd, ScreenshotsAreWhatTheWindowShowsAndNeverOverwrite) {
    std::vector<std::filesystem::path> saved;
    windowing::FrontEndOptions options;
    options.screenshotSaved = [&](const std::filesystem::path& p) { saved.push_back(p); };
    open(smallProfile(), std::move(options));
    std::ofstream(shots / "screenshot-1.png") << "an earlier one";
    play("press-key F6");
    EXPECT_TRUE(saved.empty());  // taken when the next frame is drawn
    ASSERT_TRUE(frontEnd->drawFrame().ok());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0], shots / "screenshot-2.png");
    EXPECT_EQ(frontEnd->screenshots(), saved);
    auto bytes = foundation::files::readData(saved[0]);
    ASSERT_TRUE(bytes.ok());
    auto png = graphics::decodePNG(bytes->data(), bytes->size());
    ASSERT_TRUE(png.ok());
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok());
    EXPECT_TRUE(**png == **shown);
    auto earlier = foundation::files::readData(shots / "screenshot-1.png");
    ASSERT_TRUE(earlier.ok());
    EXPECT_EQ(std::string(earlier->begin(), earlier->end()), "an earlier one");
    // One frame, one screenshot.
    ASSERT_TRUE(frontEnd->drawFrame().ok());
    EXPECT_EQ(saved.size(), 1u);
}

TEST_F(WindowFrontEnd, AScreenshotThatCannotBeWrittenIsAnError) {
    windowing::FrontEndOptions options;
    open(smallProfile());
    std::ofstream(shots / "taken") << "a file where the folder should be";
    frontEnd.reset();
    options.screenshotDirectory = shots / "taken";
    auto opened = windowing::FrontEnd::open(harness->window(), std::move(options));
    ASSERT_TRUE(opened.ok());
    frontEnd = std::move(*opened);
    play("press-key F6");
    auto status = frontEnd->drawFrame();
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, windowing::kWindowScreenshotError);
    EXPECT_TRUE(frontEnd->screenshots().empty());
}

TEST_F(WindowFrontEnd, AScriptPlaysOneStepAFrameOnceTheApplicationIsIdleForAWhile) {
    bool idle = false;
    windowing::FrontEndOptions options;
    auto script =
        windowing::parseInputScript("wait-idle\nclick 50 20\nwait-frames 2\nclick 50 20\npress-key F6\nclose\n");
    ASSERT_TRUE(script.ok());
    options.script = *script;
    options.idle = [&] { return idle; };
    options.waitTimeout = 5;
    open(smallProfile(), std::move(options));
    for (int i = 0; i < 4; ++i) {
        frontEnd->frame();
        harness->advance(0.5);
    }
    // Idle, busy again, then idle for six frames running.
    idle = true;
    for (int i = 0; i < 5; ++i) frontEnd->frame();
    idle = false;
    frontEnd->frame();
    idle = true;
    for (int i = 0; i < 6; ++i) frontEnd->frame();
    EXPECT_EQ(screen->taps, 0);
    frontEnd->frame();
    EXPECT_EQ(screen->taps, 1);
    frontEnd->frame();  // frames 2
    frontEnd->frame();
    frontEnd->frame();
    EXPECT_EQ(screen->taps, 1);
    frontEnd->frame();
    EXPECT_EQ(screen->taps, 2);
    EXPECT_TRUE(frontEnd->screenshots().empty());
    frontEnd->frame();
    EXPECT_EQ(frontEnd->screenshots().size(), 1u);
    EXPECT_FALSE(frontEnd->isClosed());
    frontEnd->frame();
    EXPECT_TRUE(frontEnd->isClosed());
    EXPECT_TRUE(frontEnd->scriptFinished());
    EXPECT_FALSE(frontEnd->failure());
}

TEST_F(WindowFrontEnd, ViewsAreClickedAndAwaitedByTheirLabels) {
    windowing::FrontEndOptions options;
    auto script = windowing::parseInputScript("wait-for Email\nclick-on Email\ntype a@b\nwait-gone Email\nclose\n");
    ASSERT_TRUE(script.ok());
    options.script = *script;
    open(smallProfile(), std::move(options));
    screen->field->setHidden(true);
    screen->field->accessibility().identifier = "Email";
    for (int i = 0; i < 3; ++i) frontEnd->frame();
    EXPECT_FALSE(toolkit::firstResponder());
    screen->field->setHidden(false);
    frontEnd->frame();  // it appeared
    frontEnd->frame();  // the click
    ASSERT_EQ(toolkit::firstResponder(), screen->field.get());
    frontEnd->frame();
    EXPECT_EQ(screen->field->text(), "a@b");
    for (int i = 0; i < 3; ++i) frontEnd->frame();
    EXPECT_FALSE(frontEnd->isClosed());
    screen->field->setHidden(true);
    frontEnd->frame();  // it went
    frontEnd->frame();  // close
    EXPECT_TRUE(frontEnd->isClosed());
    EXPECT_FALSE(frontEnd->failure());
}

TEST_F(WindowFrontEnd, AWaitThatRunsOutOrAMissingLabelStopsTheScriptNamingItsLine) {
    struct Case {
        std::string script;
        std::string message;
        int framesBeforeFailing;
    };
    const std::vector<Case> cases{
        {"# waits\nwait-for Nothing\nclick 50 20\n", "line 2: \"Nothing\" did not appear within 2.0 s", 3},
        {"wait-gone Email\nclick 50 20\n", "line 1: \"Email\" did not go within 2.0 s", 3},
        {"wait-idle\nclick 50 20\n", "line 1: the application was not idle within 2.0 s", 3},
        {"click-on Nothing\nclick 50 20\n", "line 1: no visible view \"Nothing\"", 0},
    };
    for (const auto& c : cases) {
        windowing::FrontEndOptions options;
        auto script = windowing::parseInputScript(c.script);
        ASSERT_TRUE(script.ok());
        options.script = *script;
        options.idle = [] { return false; };
        options.waitTimeout = 2;
        open(smallProfile(), std::move(options));
        screen->field->accessibility().identifier = "Email";
        // A wait starts at its first frame and gives up at the first frame past the time-out.
        for (int i = 0; i < c.framesBeforeFailing; ++i) {
            frontEnd->frame();
            harness->advance(0.9);
        }
        EXPECT_FALSE(frontEnd->isClosed()) << c.script;
        frontEnd->frame();
        ASSERT_TRUE(frontEnd->isClosed()) << c.script;
        ASSERT_TRUE(frontEnd->failure()) << c.script;
        EXPECT_EQ(frontEnd->failure()->code, windowing::kWindowScriptError);
        EXPECT_EQ(frontEnd->failure()->localizedDescription(), c.message);
        frontEnd->frame();
        EXPECT_EQ(screen->taps, 0) << "nothing after the failed step is played";
    }
}

TEST_F(WindowFrontEnd, AnIdleWindowDrawsNoFramesUntilSomethingAsksForOne) {
    windowing::FrontEndOptions options;
    options.timedAnimations = true;
    open(smallProfile(), std::move(options));
    harness->settle();
    // Frames drawn over a stretch of display frames a sixtieth of a second apart.
    auto drawnOver = [&](int frames) {
        const uint64_t before = frontEnd->framesDrawn();
        for (int i = 0; i < frames; ++i) {
            frontEnd->frame();
            harness->advance(1.0 / 60);
        }
        return frontEnd->framesDrawn() - before;
    };
    EXPECT_GE(drawnOver(2), 1u) << "the first frame is drawn";
    EXPECT_EQ(drawnOver(120), 0u) << "an idle window keeps drawing";
    auto spinner = std::make_shared<toolkit::ActivityIndicatorView>();
    screen->view()->addSubview(spinner);
    struct Case {
        std::string what;
        std::function<void()> change;
        uint64_t least, most;  // frames drawn over the next second
        std::function<void()> after;
    };
    const std::vector<Case> cases{
        {"a view's look", [&] { screen->view()->setBackgroundColor(toolkit::Color::rgb(0, 0, 1)); }, 1, 2, {}},
        // Work the loop runs draws only what it changed: a block that changes no view, nothing.
        {"a block run by the loop", [] { dispatch::RunLoop::main().performAtNextTurn([] {}); }, 0, 0, {}},
        {"a click", [&] { play("click 50 20"); }, 1, 2, {}},
        {"a turning spinner", [&] { spinner->startAnimating(); }, 60, 60, [&] { spinner->stopAnimating(); }},
    };
    for (const auto& c : cases) {
        c.change();
        const uint64_t drawn = drawnOver(60);
        EXPECT_GE(drawn, c.least) << c.what;
        EXPECT_LE(drawn, c.most) << c.what;
        if (c.after) c.after();
        drawnOver(2);
        EXPECT_EQ(drawnOver(120), 0u) << "drawing goes on after " << c.what;
    }
    EXPECT_EQ(screen->taps, 1);
    // What the skipped frames would have drawn is on the screen still.
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok());
    const std::array<uint8_t, 4> blue{0, 0, 255, 255};
    EXPECT_EQ((*shown)->rgbaAt(390, 590), blue);
}

TEST_F(WindowFrontEnd, TheDisplayLinkTicksOnlyWhileAFrameIsWantedOrSomethingMoves) {
    windowing::FrontEndOptions options;
    options.timedAnimations = true;
    open(smallProfile(), std::move(options));
    harness->settle();
    // The status bar's clock turns at each minute, which costs a tick: what follows lies inside one
    // minute until the last step.
    harness->advance(60 - std::fmod(clocks::wallNow(), 60) + 0.5);
    frontEnd->startTicking();
    // Display-link ticks over a stretch of the virtual clock, as the running app's loop fires them.
    auto ticksOver = [&](double seconds) {
        const uint64_t before = frontEnd->ticks();
        harness->advance(seconds);
        return frontEnd->ticks() - before;
    };
    auto& loop = dispatch::RunLoop::main();
    EXPECT_GE(ticksOver(1), 1u);
    EXPECT_GE(frontEnd->framesDrawn(), 1u) << "the first frame is drawn";
    EXPECT_EQ(ticksOver(10), 0u) << "an idle window wakes the loop for its display link";
    auto spinner = std::make_shared<toolkit::ActivityIndicatorView>();
    screen->view()->addSubview(spinner);
    // The app changes what is shown from work the loop runs: a block, a timer, a reply.
    loop.performAtNextTurn([&] { screen->view()->setBackgroundColor(toolkit::Color::rgb(0, 0, 1)); });
    uint64_t drawn = frontEnd->framesDrawn();
    EXPECT_LE(ticksOver(10), 2u) << "a change costs a frame, not a running link";
    EXPECT_EQ(frontEnd->framesDrawn(), drawn + 1);
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok());
    const std::array<uint8_t, 4> blue{0, 0, 255, 255};
    EXPECT_EQ((*shown)->rgbaAt(390, 590), blue) << "the change is on the screen";
    loop.performAtNextTurn([&] { spinner->startAnimating(); });
    const uint64_t spinning = ticksOver(10);
    EXPECT_GE(spinning, 599u) << "a turning spinner is drawn at the display's rate";
    EXPECT_LE(spinning, 601u);
    loop.performAtNextTurn([&] { spinner->stopAnimating(); });
    EXPECT_LE(ticksOver(1), 2u);
    EXPECT_EQ(ticksOver(10), 0u) << "the link stops with the spinner";
    // Events pushed by work the loop ran are handled at the next tick.
    drawn = frontEnd->framesDrawn();
    loop.performAtNextTurn([&] {
        Point at;
        for (SDL_Event event : windowing::eventsForStep(windowing::parseInputScript("click 50 20")->front(),
                                                        frontEnd->pointsToPixels(), frontEnd->windowID(), at))
            sdl().PushEvent(&event);
    });
    ticksOver(1);
    EXPECT_EQ(screen->taps, 1);
    EXPECT_GT(frontEnd->framesDrawn(), drawn);
    EXPECT_EQ(ticksOver(10), 0u);
    // The next minute comes: the sleeping link wakes for one frame, the clock's.
    drawn = frontEnd->framesDrawn();
    const uint64_t turn = ticksOver(10);
    EXPECT_GE(turn, 1u);
    EXPECT_LE(turn, 2u);
    EXPECT_EQ(frontEnd->framesDrawn(), drawn + 1) << "the status bar's clock shows the new minute";
    frontEnd->stopTicking();
}

TEST_F(WindowFrontEnd, AScreenLargerThanTheDisplayIsShownScaledDownAndStillHitsItsTargets) {
    // The offscreen display is 1024 x 768; the phone's 750 x 1334 pixels are fitted into it.
    open(toolkit::ScreenProfile::iPhone8());
    const auto [w, h] = windowSize();
    EXPECT_EQ(h, 768);
    EXPECT_EQ(w, 432);
    EXPECT_NEAR(frontEnd->pointsToPixels(), 432.0 / 375, 1e-9);
    play("click 50 20");
    EXPECT_EQ(screen->taps, 1);
    ASSERT_TRUE(frontEnd->drawFrame().ok());
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok());
    EXPECT_EQ((*shown)->width(), 432);
    EXPECT_EQ((*shown)->height(), 768);
    const std::array<uint8_t, 4> red{255, 0, 0, 255};
    EXPECT_EQ((*shown)->rgbaAt(static_cast<int>(150 * 432.0 / 375), 20), red);
}

}  // namespace
