// Keys on alerts through the harness: Return chooses the preferred action and Escape the cancel
// action, along the responder chain from whatever has the focus inside the alert; the alert
// takes the focus while shown and gives it back when it goes; typed into, it sits above the keyboard.
#include <gtest/gtest.h>

#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

// A screen with a focused text field and its own Escape command (which an alert over it must
// not receive).
class Screen : public ViewController {
public:
    Log log;
    std::shared_ptr<TextField> field = std::make_shared<TextField>(Rect(10, 100, 200, 30));
    void viewDidLoad() override {
        view()->addSubview(field);
        setActionHandler("cancel:", [this](Responder*) { log.push_back("screen cancel"); });
    }
    std::vector<KeyCommand> keyCommands() const override {
        return {{kInputEscape, kModifierNone, "cancel:", "Cancel"}};
    }
};

struct Spec {
    const char* name;
    AlertControllerStyle style;
    bool cancel;     // has a cancel action
    bool preferred;  // "Settings" is the preferred action
    bool disabled;   // "Settings" is disabled
    bool textField;  // the alert has a text field (which takes the focus)
};

std::shared_ptr<AlertController> makeAlert(const Spec& s, Log& log) {
    auto alert = AlertController::make("Unable to access the Camera", "To enable access, go to Settings.", s.style);
    auto record = [&log](AlertAction& a) { log.push_back(a.title()); };
    auto settings = AlertAction::make("Settings", AlertActionStyle::Default, record);
    if (s.cancel) {
        EXPECT_TRUE(alert->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, record)).ok());
    }
    EXPECT_TRUE(alert->addAction(settings).ok());
    if (s.preferred) {
        EXPECT_TRUE(alert->setPreferredAction(settings).ok());
    }
    if (s.disabled) settings->setEnabled(false);
    if (s.textField) {
        EXPECT_TRUE(alert->addTextField().ok());
    }
    return alert;
}

}  // namespace

TEST(ToolkitAlertKeys, ReturnAndEscapeChooseThePreferredAndCancelActions) {
    struct Case {
        Spec spec;
        const char* key;
        bool handled;
        Log log;  // the handlers that ran, the screen's included
        bool alertGone;
    };
    const auto alert = AlertControllerStyle::Alert;
    const auto sheet = AlertControllerStyle::ActionSheet;
    const std::vector<Case> cases = {
        {{"Return, preferred", alert, true, true, false, false}, "\r", true, {"Settings"}, true},
        {{"Escape, cancel", alert, true, true, false, false}, kInputEscape, true, {"Cancel"}, true},
        {{"Return, nothing preferred", alert, true, false, false, false}, "\r", false, {}, false},
        {{"Return, preferred but disabled", alert, true, true, true, false}, "\r", false, {}, false},
        {{"Escape, no cancel action", alert, false, true, false, false}, kInputEscape, false, {}, false},
        {{"Escape on a sheet", sheet, true, false, false, false}, kInputEscape, true, {"Cancel"}, true},
        {{"Return from the alert's field", alert, true, true, false, true}, "\r", true, {"Settings"}, true},
        {{"Escape from the alert's field", alert, true, true, false, true}, kInputEscape, true, {"Cancel"}, true},
        {{"Return with Command", alert, true, true, false, false}, "\r", false, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec.name);
        Harness h(ScreenProfile::iPhone8(), 15);
        auto screen = std::make_shared<Screen>();
        h.setRoot(screen);
        ASSERT_TRUE(screen->field->becomeFirstResponder());
        auto a = makeAlert(c.spec, screen->log);
        screen->present(a, false);
        h.settle();
        if (c.spec.textField)
            EXPECT_TRUE(a->textFields()[0]->isFirstResponder());
        else
            EXPECT_TRUE(a->isFirstResponder()) << "the alert takes the keys";
        unsigned modifiers =
            std::string(c.spec.name).find("Command") != std::string::npos ? unsigned{kModifierCommand} : 0u;
        EXPECT_EQ(h.pressKey(c.key, modifiers), c.handled);
        EXPECT_EQ(screen->log, c.log);
        EXPECT_EQ(screen->presentedViewController() == nullptr, c.alertGone);
        if (c.alertGone) {
            EXPECT_TRUE(screen->field->isFirstResponder()) << "the focus comes back";
        }
    }
}

TEST(ToolkitAlertKeys, AKeyActsOnceWhileTheAlertGoesAway) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto screen = std::make_shared<Screen>();
    h.setRoot(screen);
    auto a = makeAlert({"", AlertControllerStyle::Alert, true, true, false, false}, screen->log);
    screen->present(a, false);
    h.settle();
    // Both keys before the dismissal has finished: only the first counts.
    Animations::setTimed(true);
    EXPECT_TRUE(dispatchKeyCommand("\r", kModifierNone, a.get()));
    EXPECT_TRUE(a->isBeingDismissed());
    EXPECT_FALSE(dispatchKeyCommand(kInputEscape, kModifierNone, a.get())) << "the alert is going: no cancel";
    h.advance(1);
    Animations::setTimed(false);
    h.settle();
    EXPECT_EQ(screen->log, (Log{"Settings"}));
    // With the alert gone, Escape reaches the screen's own command.
    EXPECT_TRUE(h.pressKey(kInputEscape));
    EXPECT_EQ(screen->log, (Log{"Settings", "screen cancel"}));
}

// An alert whose field brings up the keyboard moves into the room above it, so its buttons stay
// in reach: a short one centred there, one too tall for it with its buttons just above the keys;
// when the keyboard goes, the alert is centred on the screen again.
TEST(ToolkitAlertKeys, AnAlertTypedIntoSitsAboveTheKeyboard) {
    for (int fields : {1, 4}) {
        SCOPED_TRACE(fields);
        Harness h(ScreenProfile::iPhone8(), 15);
        auto screen = std::make_shared<Screen>();
        h.setRoot(screen);
        Log log;
        auto a = makeAlert({"", AlertControllerStyle::Alert, true, true, true, false}, log);
        a->setMessage("Without a 'Minor' ID, all iBeacons with the specified UUID and 'Major' ID match. Without a "
                      "'Major' ID, all iBeacons with the given UUID match.");
        for (int i = 0; i < fields; ++i) ASSERT_TRUE(a->addTextField().ok());
        screen->present(a, false);
        h.settle();
        ASSERT_TRUE(Keyboard::shared().isVisible());
        const Rect keys = Keyboard::shared().frame();
        View& panel = *a->actionButtons().front()->superview();
        const Rect shown = panel.convertRectTo(panel.bounds(), nullptr);
        for (const auto& b : a->actionButtons()) {
            const Rect button = b->convertRectTo(b->bounds(), nullptr);
            EXPECT_LE(button.maxY(), keys.minY()) << b->currentTitle().value_or("") << " is under the keyboard";
        }
        const double top = h.window().safeAreaInsets().top;
        if (shown.height() <= keys.minY() - top) {
            EXPECT_NEAR(shown.midY(), (top + keys.minY()) / 2, 0.5) << "centred in the room above the keys";
        } else {
            EXPECT_EQ(shown.maxY(), keys.minY());
        }
        a->textFields()[0]->resignFirstResponder();
        h.settle();
        ASSERT_FALSE(Keyboard::shared().isVisible());
        const Rect alone = panel.convertRectTo(panel.bounds(), nullptr);
        EXPECT_NEAR(alone.midY(), h.window().bounds().midY(), 0.5);
    }
}
