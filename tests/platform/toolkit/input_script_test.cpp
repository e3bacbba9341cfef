// Input scripts played through the harness, as the program's headless run plays its sign-in: taps
// on views found by their text or identifier, typing and keys into the focused field, waits on
// the virtual clock, and errors that name the step's line.
#include <gtest/gtest.h>

#include <map>

#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/testing/input_script.h"
#include "platform/toolkit/text_input.h"

using namespace toolkit;
using toolkit::testing::Harness;
using toolkit::testing::InputStep;

namespace {

// A field for an account name, a "Next" button that answers after half a second with a label
// ("Welcome, NAME"), and a scroll view below them.
class Form : public ViewController {
public:
    std::shared_ptr<TextField> field = std::make_shared<TextField>(Rect(20, 100, 280, 30));
    std::shared_ptr<Button> next = std::make_shared<Button>(ButtonType::System);
    std::shared_ptr<Label> welcome = std::make_shared<Label>(Rect(20, 180, 280, 20));
    std::shared_ptr<ScrollView> scroll = std::make_shared<ScrollView>(Rect(0, 240, 320, 200));
    int taps = 0;

    void viewDidLoad() override {
        field->accessibility().identifier = "Email";
        next->setTitle("Next", 0);
        next->setFrame(Rect(20, 140, 100, 30));
        next->addAction(
            [this](Control&, const Event*) {
                ++taps;
                dispatch::Queue::main()->after(0.5, [this] {
                    welcome->setText("Welcome, " + field->text());
                    welcome->setHidden(false);
                });
            },
            kTouchUpInside);
        welcome->setHidden(true);
        scroll->setContentSize({320, 1000});
        for (auto& v : std::vector<ViewPtr>{field, next, welcome, scroll}) view()->addSubview(v);
    }
};

foundation::Status play(Harness& h, const std::string& text, std::function<bool()> idle = nullptr) {
    auto steps = toolkit::testing::parseInputScript(text);
    if (!steps.ok()) return steps.error();
    return toolkit::testing::playInputScript(h, *steps, std::move(idle), 5);
}

}  // namespace

TEST(InputScript, ASignInPlayedThroughTheHarnessTypesTapsAndWaits) {
    Harness h;
    auto form = std::make_shared<Form>();
    h.setRoot(form);
    const double start = h.clock().now();
    const auto played = play(h, "wait-for Email\n"
                                "click-on Email\n"
                                "type ann@example.tesx\n"
                                "press-key Backspace\n"
                                "type t\n"
                                "# the button, by its title\n"
                                "click-on Next\n"
                                "wait-for Welcome, ann@example.test\n"
                                "click 160 300\n"
                                "scroll 0 -2\n"
                                "wait-frames 6\n");
    ASSERT_TRUE(played.ok()) << played.error().localizedDescription();
    EXPECT_EQ(form->field->text(), "ann@example.test");
    EXPECT_EQ(form->taps, 1);
    EXPECT_FALSE(form->welcome->isHidden());
    // Two notches toward the user move the content 80 points on.
    EXPECT_EQ(form->scroll->contentOffset().y, 80);
    // The wait took the button's half second of virtual time, no more than the steps need.
    EXPECT_GE(h.clock().now() - start, 0.5);
    EXPECT_LT(h.clock().now() - start, 1.5);
}

TEST(InputScript, AStepThatCannotBePlayedOrAWaitThatRunsOutNamesItsLine) {
    const struct {
        const char* script;
        int64_t code;
        const char* message;
    } cases[] = {
        {"jump 1 2\n", toolkit::testing::kInputScriptUnreadable, "line 1: unknown step \"jump\""},
        {"wait-frames 1\nclick-on Nothing\n", toolkit::testing::kInputScriptNotPlayable,
         "line 2: no visible view \"Nothing\""},
        {"wait-for Never\n", toolkit::testing::kInputScriptWaitExpired, "line 1: \"Never\" did not appear"},
        {"wait-gone Next\n", toolkit::testing::kInputScriptWaitExpired, "line 1: \"Next\" did not go"},
        {"type typed without a field\n", toolkit::testing::kInputScriptNotPlayable,
         "line 1: no text input has the focus"},
        {"press-key F6\n", toolkit::testing::kInputScriptNotPlayable,
         "line 1: the key \"F6\" is played only in a window"},
        {"release 1 1\n", toolkit::testing::kInputScriptNotPlayable, "line 1: nothing is pressed"},
        {"wait-idle\n", toolkit::testing::kInputScriptWaitExpired, "line 1: the application was not idle"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        Harness h;
        h.setRoot(std::make_shared<Form>());
        const double start = h.clock().now();
        const auto played = play(h, c.script, [] { return false; });
        ASSERT_FALSE(played.ok());
        EXPECT_EQ(played.error().domain, toolkit::testing::kInputScriptErrorDomain);
        EXPECT_EQ(played.error().code, c.code);
        EXPECT_EQ(played.error().localizedDescription(), c.message);
        // A wait lasts the time given and no longer.
        EXPECT_LE(h.clock().now() - start, 5.1);
    }
}

TEST(InputScript, WaitIdleNeedsTheApplicationIdleForSeveralFramesRunning) {
    Harness h;
    h.setRoot(std::make_shared<Form>());
    // Busy for the first second of virtual time, idle after it.
    const double busyUntil = h.clock().now() + 1;
    int asked = 0;
    const auto played = play(h, "wait-idle\n", [&] {
        ++asked;
        return h.clock().now() >= busyUntil;
    });
    ASSERT_TRUE(played.ok()) << played.error().localizedDescription();
    EXPECT_GE(h.clock().now(), busyUntil + 5.0 / 60);
    EXPECT_GE(asked, 6);
}

namespace {

// A strip drawn over part of the screen (as a bar or the keyboard is), taking the touches there.
class Shade : public View {
public:
    using View::View;
    std::string className() const override { return "Shade"; }
    std::string outlineText() const override { return "Notice"; }
    void touchesEnded(const TouchSet&, const Event*) override { ++touched; }
    int touched = 0;
};

// Buttons a finger reaches and buttons it does not: one below a scroll view's visible part, one
// past the screen's edge, one under the shade (with a twin of the same title in the open), and
// a caption that takes no touches lying over a button.
class Covered : public ViewController {
public:
    std::map<std::string, std::shared_ptr<Button>> buttons;
    std::map<std::string, int> taps;
    std::shared_ptr<ScrollView> scroll = std::make_shared<ScrollView>(Rect(0, 300, 320, 200));
    std::shared_ptr<Shade> shade = std::make_shared<Shade>(Rect(0, 0, 320, 80));

    std::shared_ptr<Button> button(const std::string& key, const std::string& title, const Rect& frame, View& in) {
        auto b = std::make_shared<Button>(ButtonType::System);
        b->setTitle(title, 0);
        b->setFrame(frame);
        b->addAction([this, key](Control&, const Event*) { ++taps[key]; }, kTouchUpInside);
        in.addSubview(b);
        buttons[key] = b;
        return b;
    }
    void viewDidLoad() override {
        scroll->setContentSize({320, 1000});
        view()->addSubview(scroll);
        button("near", "Near", Rect(20, 20, 100, 30), *scroll);
        button("far", "Far", Rect(20, 600, 100, 30), *scroll);
        button("edge", "Edge", Rect(500, 200, 100, 30), *view());
        button("open twin", "Twice", Rect(20, 200, 100, 30), *view());
        button("covered twin", "Twice", Rect(20, 30, 100, 30), *view());
        button("under", "Under", Rect(150, 30, 100, 30), *view());
        button("go", "Go", Rect(150, 200, 120, 40), *view());
        auto caption = std::make_shared<Label>(Rect(160, 210, 100, 20));
        caption->setText("Caption");
        view()->addSubview(caption);
        view()->addSubview(shade);
    }
};

}  // namespace

TEST(InputScript, ClickOnTapsOnlyWhatAFingerReachesAndSaysWhatHidesTheRest) {
    const struct {
        const char* label;
        const char* failure;  // empty: the tap lands on tapped
        const char* tapped;
    } cases[] = {
        {"Near", "", "near"},
        {"Far", "line 1: \"Far\" is scrolled out of view", ""},
        {"Edge", "line 1: \"Edge\" is off the screen", ""},
        {"Under", "line 1: \"Under\" is covered by Shade \"Notice\"", ""},
        // The front-most of two is under the shade: the one in the open is tapped.
        {"Twice", "", "open twin"},
        // A caption lets touches through to the button under it, as it does a finger's.
        {"Caption", "", "go"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Harness h;
        auto screen = std::make_shared<Covered>();
        h.setRoot(screen);
        const auto played = play(h, std::string("click-on ") + c.label + "\n");
        if (*c.failure) {
            ASSERT_FALSE(played.ok());
            EXPECT_EQ(played.error().code, toolkit::testing::kInputScriptNotPlayable);
            EXPECT_EQ(played.error().localizedDescription(), c.failure);
        } else {
            ASSERT_TRUE(played.ok()) << played.error().localizedDescription();
        }
        // Nothing else was touched: no other button, not the shade.
        std::map<std::string, int> expected;
        if (*c.tapped) expected[c.tapped] = 1;
        EXPECT_EQ(screen->taps, expected);
        EXPECT_EQ(screen->shade->touched, 0);
    }
}
