// Text views and fields beyond typing (delegate sequences, selection, secure entry, side views,
// refusals), pans and gesture delegates on the virtual clock, tab bar taps and the harness's
// outline comparison.
#include <gtest/gtest.h>

#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "tests/support/goldens.h"
#include "tests/support/pixels.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

std::string rangeText(Range r) { return "(" + std::to_string(r.location) + "," + std::to_string(r.length) + ")"; }

struct ViewLog : TextViewDelegate {
    Log log;
    bool allowBegin = true, allowEnd = true;
    size_t limit = 100;
    bool textViewShouldBeginEditing(TextView&) override {
        log.push_back("shouldBegin");
        return allowBegin;
    }
    void textViewDidBeginEditing(TextView&) override { log.push_back("didBegin"); }
    bool textViewShouldEndEditing(TextView&) override {
        log.push_back("shouldEnd");
        return allowEnd;
    }
    void textViewDidEndEditing(TextView&) override { log.push_back("didEnd"); }
    bool shouldChangeTextInRange(TextView& v, Range r, const std::string& s) override {
        log.push_back("change " + rangeText(r) + " '" + s + "'");
        return foundation::utf16Length(v.text()) - r.length + foundation::utf16Length(s) <= limit;
    }
    void textViewDidChange(TextView& v) override { log.push_back("didChange '" + v.text() + "'"); }
    void textViewDidChangeSelection(TextView& v) override {
        log.push_back("selection " + rangeText(v.selectedRange()));
    }
};

}  // namespace

TEST(ToolkitText, TextViewsReportEditingChangesAndSelection) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto view = std::make_shared<TextView>();
    view->setFrame(Rect(10, 100, 200, 100));
    view->setText("Hi");
    root->view()->addSubview(view);
    auto d = std::make_shared<ViewLog>();
    view->delegate = d;
    int notices = 0;
    int owner = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(&owner, kTextViewTextDidChangeNotification,
                                                                [&](const foundation::Notification&) { ++notices; });

    d->allowBegin = false;
    h.tap(*view);
    EXPECT_FALSE(view->isFirstResponder());
    d->allowBegin = true;
    h.tap(*view);
    ASSERT_TRUE(view->isFirstResponder());
    view->setSelectedRange({2, 0});
    d->log.clear();
    d->limit = 5;
    h.typeText("!\n😀");
    EXPECT_EQ(d->log, (Log{"change (2,0) '!'", "didChange 'Hi!'", "change (3,0) '\n'", "didChange 'Hi!\n'",
                           "change (4,0) '😀'"}))
        << "the emoji's two UTF-16 units would pass the limit of 5";
    EXPECT_EQ(view->text(), "Hi!\n");
    EXPECT_EQ(notices, 2);
    d->log.clear();
    view->selectAll();
    view->selectAll();
    view->setSelectedRange({1, 99});
    EXPECT_EQ(view->selectedRange(), (Range{1, 3})) << "clamped to the text";
    EXPECT_EQ(d->log, (Log{"selection (0,4)", "selection (1,3)"})) << "only real changes are reported";
    d->log.clear();
    h.pressBackspace();
    EXPECT_EQ(view->text(), "H");
    EXPECT_EQ(d->log.front(), "change (1,3) ''");
    // Four lines need more height than one; the container insets add to it.
    Size one = view->sizeThatFits({200, 0});
    view->setText("a\nb\nc\nd");
    Size four = view->sizeThatFits({200, 0});
    EXPECT_EQ(one.height, 12 * 1.2 + 16);
    EXPECT_EQ(four.height, 4 * 12 * 1.2 + 16);
    d->allowEnd = false;
    d->log.clear();
    EXPECT_FALSE(view->resignFirstResponder());
    EXPECT_TRUE(view->isFirstResponder());
    d->allowEnd = true;
    EXPECT_TRUE(view->resignFirstResponder());
    EXPECT_EQ(d->log, (Log{"shouldEnd", "shouldEnd", "didEnd"}));
    view->setEditable(false);
    EXPECT_FALSE(view->becomeFirstResponder());
    foundation::NotificationCenter::defaultCenter().removeObserver(&owner);
}

TEST(ToolkitText, FieldsShowSecureTextSideViewsAndRefuseWhenDisabled) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto field = std::make_shared<TextField>(Rect(10, 100, 300, 30));
    field->setPlaceholder("PIN");
    root->view()->addSubview(field);
    EXPECT_EQ(field->outlineText(), "[PIN]");
    EXPECT_EQ(field->accessibilityLabel(), "PIN");
    field->setSecureTextEntry(true);
    h.tap(*field);
    h.typeText("12é😀");
    EXPECT_EQ(field->text(), "12é😀");
    EXPECT_EQ(field->outlineText(), "\u2022\u2022\u2022\u2022") << "one dot per character";

    std::vector<std::string> events;
    field->addAction([&](Control&, const Event*) { events.push_back("changed"); }, kEditingChanged);
    field->addAction([&](Control&, const Event*) { events.push_back("end"); }, kEditingDidEnd);
    field->addAction([&](Control&, const Event*) { events.push_back("exit"); }, kEditingDidEndOnExit);
    h.pressBackspace(2);
    h.pressReturn();
    field->resignFirstResponder();
    EXPECT_EQ(events, (std::vector<std::string>{"changed", "changed", "exit", "end"}));
    EXPECT_EQ(field->text(), "12");

    field->clearsOnBeginEditing = true;
    h.tap(*field);
    EXPECT_EQ(field->text(), "") << "cleared as editing begins";
    field->resignFirstResponder();

    // Side views take room from the text rectangle only while shown; a border pads it.
    field->setLeftView(std::make_shared<View>(Rect(0, 0, 30, 30)));
    field->setRightView(std::make_shared<View>(Rect(0, 0, 20, 30)));
    EXPECT_EQ(field->textRectForBounds(field->bounds()), Rect(0, 0, 300, 30));
    field->setLeftViewMode(ViewMode::Always);
    field->setRightViewMode(ViewMode::WhileEditing);
    // The right view shows only while editing, so it takes no room now.
    EXPECT_EQ(field->textRectForBounds(field->bounds()), Rect(30, 0, 270, 30));
    field->setBorderStyle(TextBorderStyle::RoundedRect);
    EXPECT_EQ(field->textRectForBounds(field->bounds()), Rect(37, 0, 256, 30));

    field->setEnabled(false);
    EXPECT_FALSE(h.tap(*field));
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_FALSE(field->becomeFirstResponder());
}

// The edit commands a text input answers, by what its text, selection, editability and the
// pasteboard allow; a paste and a cut are changes the delegate is asked about as typing is (a
// limit refuses a paste that passes it); a hold on a field focuses it and shows its commands
// alone, whatever items another screen left on the shared menu.
TEST(ToolkitText, EditCommandsFollowTheTextAndGoThroughTheDelegate) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto view = std::make_shared<TextView>(Rect(10, 100, 200, 100));
    auto field = std::make_shared<TextField>(Rect(10, 300, 300, 30));
    root->view()->addSubview(view);
    root->view()->addSubview(field);
    auto& pasteboard = Pasteboard::general();
    const std::vector<std::string> actions{"cut:", "copy:", "paste:", "select:", "selectAll:"};
    auto can = [&](const Responder& r) {
        std::string out;
        for (const auto& a : actions) out += r.canPerformAction(a, nullptr) ? "1" : "0";
        return out;
    };
    struct Case {
        const char* what;
        std::string text;
        Range selection;
        bool editable, secure, strings;
        const char* view;   // cut copy paste select selectAll
        const char* field;  // the same for a field
    };
    const Case cases[] = {
        {"empty, nothing to paste", "", {0, 0}, true, false, false, "00000", "00000"},
        {"empty, text to paste", "", {0, 0}, true, false, true, "00100", "00100"},
        {"a caret in text", "hello world", {3, 0}, true, false, true, "00111", "00111"},
        {"a word selected", "hello world", {0, 5}, true, false, true, "11101", "11101"},
        {"all selected", "hello world", {0, 11}, true, false, false, "11000", "11000"},
        {"not editable (disabled)", "hello world", {0, 5}, false, false, true, "01001", "01001"},
        {"secure entry", "hello world", {0, 5}, true, true, true, "11101", "00101"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.strings)
            pasteboard.setString("pasted");
        else
            pasteboard.setData(hxtest::pngOf(2, 2, 0xff0000ffu), kTypePNG);
        view->setEditable(true);
        view->setText(c.text);
        view->setSelectedRange(c.selection);
        view->setEditable(c.editable);
        field->setEnabled(true);
        field->setText(c.text);
        field->setSelectedRange(c.selection);
        field->setSecureTextEntry(c.secure);
        field->setEnabled(c.editable);
        EXPECT_EQ(can(*view), c.view);
        EXPECT_EQ(can(*field), c.field);
    }
    field->setSecureTextEntry(false);
    field->setEnabled(true);

    // Through the delegate: a paste passing the limit is refused, one within it lands at the
    // selection; a cut is asked about too and tells the change.
    view->setEditable(true);
    view->setText("Hi");
    auto d = std::make_shared<ViewLog>();
    view->delegate = d;
    ASSERT_TRUE(view->becomeFirstResponder());
    view->setSelectedRange({0, 2});
    d->limit = 5;
    d->log.clear();
    pasteboard.setString("hello world");
    EXPECT_TRUE(sendAction("paste:", nullptr, nullptr));
    EXPECT_EQ(view->text(), "Hi") << "eleven characters pass the limit of 5";
    pasteboard.setString("Yo!");
    EXPECT_TRUE(sendAction("paste:", nullptr, nullptr));
    EXPECT_EQ(view->text(), "Yo!");
    EXPECT_EQ(view->selectedRange(), (Range{3, 0}));
    view->setSelectedRange({0, 2});
    EXPECT_TRUE(sendAction("cut:", nullptr, nullptr));
    EXPECT_EQ(view->text(), "!");
    EXPECT_EQ(pasteboard.string().value_or(""), "Yo");
    EXPECT_EQ(d->log, (Log{"change (0,2) 'hello world'", "change (0,2) 'Yo!'", "didChange 'Yo!'", "selection (0,2)",
                           "change (0,2) ''", "didChange '!'"}));

    // A hold on the field: focused, its own commands only.
    auto& menu = MenuController::shared();
    menu.menuItems = {{"Left Behind", "selectAll:"}};
    field->setText("abc def");
    h.longPress(field->convertPointTo({150, 15}, nullptr), 0.8);
    EXPECT_TRUE(field->isFirstResponder());
    ASSERT_TRUE(menu.isMenuVisible());
    std::vector<std::string> titles;
    for (const auto& item : menu.visibleItems()) titles.push_back(item.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Paste", "Select", "Select All"}));
    ASSERT_TRUE(menu.performItem("Select All"));
    EXPECT_EQ(field->selectedRange(), (Range{0, 7}));
    EXPECT_TRUE(menu.isMenuVisible()) << "shown again for the selection";
    menu.hideMenu(false);
    menu.reset();
    pasteboard.clear();
}

TEST(ToolkitGesture, PansReportTranslationAndDelegatesFilterTouches) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto pad = std::make_shared<View>(Rect(0, 100, 375, 400));
    auto button = std::make_shared<Button>();
    button->setFrame(Rect(0, 0, 100, 50));
    pad->addSubview(button);
    root->view()->addSubview(pad);
    std::vector<std::string> states;
    auto pan = std::make_shared<PanGestureRecognizer>([&](GestureRecognizer& g) {
        auto& p = static_cast<PanGestureRecognizer&>(g);
        states.push_back(std::string(gestureStateName(g.state())) + " " + describe(p.translationInView(pad.get())));
    });
    pan->maximumNumberOfTouches = 1;
    pad->addGestureRecognizer(pan);
    h.drag({200, 300}, {260, 220}, 4);
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(states.front().rfind(gestureStateName(GestureState::Began), 0), 0u) << states.front();
    EXPECT_EQ(states.back(), std::string(gestureStateName(GestureState::Ended)) + " (60, -80)");
    // Two fingers are more than the pan takes.
    states.clear();
    h.swipe({200, 300}, {200, 200}, 2);
    EXPECT_TRUE(states.empty());

    // A delegate that refuses touches on the button leaves the button its taps.
    struct SkipButtons : GestureRecognizerDelegate {
        bool shouldReceiveTouch(GestureRecognizer&, const Touch& t) override {
            auto v = t.view.lock();
            return !dynamic_cast<Button*>(v.get());
        }
    };
    int taps = 0, buttonTaps = 0;
    auto tap = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer& g) {
        if (g.state() == GestureState::Ended) ++taps;
    });
    auto skip = std::make_shared<SkipButtons>();
    tap->setDelegate(skip);
    pad->addGestureRecognizer(tap);
    button->addAction([&](Control&, const Event*) { ++buttonTaps; }, kTouchUpInside);
    h.tap(*button);
    h.tap(Point{300, 450});
    EXPECT_EQ(buttonTaps, 1);
    EXPECT_EQ(taps, 1);
    // A disabled recogniser sees nothing.
    tap->setEnabled(false);
    h.tap(Point{300, 450});
    EXPECT_EQ(taps, 1);
}

TEST(ToolkitHarness, TabBarTapsBadgesAndOutlineDifferences) {
    Harness h(ScreenProfile::iPhoneSE(), 15);
    auto calls = std::make_shared<ViewController>();
    calls->setTitle("Calls");
    auto messages = std::make_shared<ViewController>();
    messages->setTitle("Messages");
    messages->tabBarItem().badgeValue = "12";
    auto tabs = std::make_shared<TabBarController>();
    tabs->setViewControllers({calls, messages});
    h.setRoot(tabs);
    EXPECT_EQ(tabs->tabBar().frame(), Rect(0, 568 - 49, 320, 49));
    const auto goldenDir = hxtest::goldenFolder();
    hxtest::expectOutline(h, "tab_bar_screen");
    // A tap on the second tab selects it through the delegate path.
    ASSERT_TRUE(h.tap(*tabs->tabBar().buttons()[1]));
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_TRUE(messages->isVisible());
    EXPECT_FALSE(calls->isVisible());
    // The comparison names the first line that differs.
    std::string diff = h.compareOutline(goldenDir / "tab_bar_screen.txt");
    EXPECT_NE(diff.find("expected:"), std::string::npos);
    EXPECT_NE(diff.find("*Messages [12]"), std::string::npos) << diff;
    EXPECT_NE(h.compareOutline(goldenDir / "no_such_golden.txt").find("no golden file"), std::string::npos);
    EXPECT_EQ(h.find("*Messages [12]"), tabs->tabBar().buttons()[1].get());
    EXPECT_EQ(h.findAll("TabBarButton").size(), 2u);
    EXPECT_EQ(h.find("Nothing like this"), nullptr);
}
