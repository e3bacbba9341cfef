// Controls, the UTF-16 editing model, text fields, keyboard notifications and the harness's
// outline, driven through the harness's touch and typing paths.
#include <gtest/gtest.h>

#include "platform/foundation/notification_center.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "tests/support/goldens.h"

using namespace toolkit;
using toolkit::testing::Harness;

TEST(ToolkitControl, CoveredOrDisabledButtonsDoNotReact) {
    Harness h(ScreenProfile::iPhoneSE());
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto button = std::make_shared<Button>(ButtonType::System);
    button->setTitle("Call", kStateNormal);
    button->setFrame(Rect(20, 100, 100, 44));
    root->view()->addSubview(button);
    std::vector<std::string> events;
    button->addAction([&](Control&, const Event*) { events.push_back("down"); }, kTouchDown);
    button->addAction([&](Control&, const Event*) { events.push_back("up"); }, kTouchUpInside);
    EXPECT_TRUE(h.tap(*button));
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up"}));
    button->setEnabled(false);
    events.clear();
    EXPECT_FALSE(h.tap(*button));
    EXPECT_TRUE(events.empty());
    button->setEnabled(true);
    auto cover = std::make_shared<View>(Rect(0, 90, 320, 100));
    root->view()->addSubview(cover);
    EXPECT_FALSE(h.tap(*button));
    EXPECT_TRUE(events.empty());
    // Dragging off and releasing far away is a touch-up outside.
    cover->removeFromSuperview();
    int id = h.window().touchDown({50, 120});
    h.window().touchMove(id, {300, 400});
    h.window().touchUp(id);
    EXPECT_EQ(events, (std::vector<std::string>{"down"}));
}

TEST(ToolkitControl, TargetsActionsAndAppDefinedEventBits) {
    Harness h;
    auto target = std::make_shared<ViewController>();
    auto control = std::make_shared<Control>();
    std::vector<std::string> calls;
    target->setActionHandler("selectedComponent:", [&](Responder* s) {
        calls.push_back(s == control.get() ? "component from control" : "component");
    });
    target->setActionHandler("refresh:", [&](Responder*) { calls.push_back("refresh"); });
    const unsigned bit24 = 1u << 24, bit25 = 1u << 25;
    EXPECT_EQ(bit24, 16777216u);
    control->addTarget(target, "selectedComponent:", kTouchUpInside | bit24);
    control->addTarget(target, "refresh:", bit25);
    control->sendActionsForControlEvents(bit24);
    control->sendActionsForControlEvents(bit25);
    control->sendActionsForControlEvents(kValueChanged);
    EXPECT_EQ(calls, (std::vector<std::string>{"component from control", "refresh"}));
    control->removeTarget(target.get(), "refresh:", bit25);
    EXPECT_TRUE(control->actionsForTarget(target.get(), bit25).empty());
    EXPECT_EQ(control->actionsForTarget(target.get(), kTouchUpInside),
              (std::vector<std::string>{"selectedComponent:"}));
    // An action that removes itself while running does not disturb the others.
    calls.clear();
    int id = 0;
    id = control->addAction([&](Control& c, const Event*) { calls.push_back("once"), c.removeAction(id); }, bit25);
    control->addAction([&](Control&, const Event*) { calls.push_back("always"); }, bit25);
    control->sendActionsForControlEvents(bit25);
    control->sendActionsForControlEvents(bit25);
    EXPECT_EQ(calls, (std::vector<std::string>{"once", "always", "always"}));
}

TEST(ToolkitControl, ButtonStateTablesFallBackAsThePlatformDoes) {
    Button b;
    b.setTitle("Normal", kStateNormal);
    b.setTitle("Selected", kStateSelected);
    EXPECT_EQ(b.currentTitle(), "Normal");
    b.setHighlighted(true);
    EXPECT_EQ(b.currentTitle(), "Normal");
    b.setSelected(true);
    EXPECT_EQ(b.currentTitle(), "Selected") << "selected+highlighted falls back to selected";
    b.setTitle("Both", kStateSelected | kStateHighlighted);
    EXPECT_EQ(b.currentTitle(), "Both");
    b.setHighlighted(false);
    b.setSelected(false);
    b.setEnabled(false);
    EXPECT_EQ(b.currentTitle(), "Normal");
    EXPECT_EQ(b.titleLabel()->text(), "Normal");
}

TEST(ToolkitControl, SwitchAndSliderReportValueChanges) {
    Harness h;
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto sw = std::make_shared<Switch>();
    sw->setFrame(Rect(10, 100, 51, 31));
    auto slider = std::make_shared<Slider>();
    slider->setFrame(Rect(10, 200, 200, 30));
    root->view()->addSubview(sw);
    root->view()->addSubview(slider);
    int switches = 0, slides = 0;
    sw->addAction([&](Control&, const Event*) { ++switches; }, kValueChanged);
    slider->addAction([&](Control&, const Event*) { ++slides; }, kValueChanged);
    h.tap(*sw);
    EXPECT_TRUE(sw->isOn());
    EXPECT_EQ(switches, 1);
    sw->setOn(false);
    EXPECT_EQ(switches, 1) << "setting in code sends nothing";
    h.drag({10, 215}, {160, 215}, 3);
    EXPECT_NEAR(slider->value(), 0.75, 1e-9);
    EXPECT_EQ(slides, 3);
    slider->setValue(4);
    EXPECT_EQ(slider->value(), 1);
}

TEST(ToolkitText, EditingModelCountsUtf16AndKeepsSurrogatePairsWhole) {
    TextEditingModel m;
    m.setText("a\xF0\x9F\x98\x80"
              "b");  // a, U+1F600 (two units), b
    EXPECT_EQ(m.length(), 4u);
    EXPECT_EQ(m.clamp({2, 1}), (Range{1, 2})) << "a range inside the pair takes the whole pair";
    EXPECT_EQ(m.clamp({3, 10}), (Range{3, 1}));
    EXPECT_EQ(m.clamp({foundation::kNotFound, 0}), (Range{4, 0}));
    m.setSelectedRange({3, 0});
    EXPECT_EQ(m.deletionRange(), (Range{1, 2})) << "backspace removes the whole emoji";
    m.replace(m.deletionRange(), "");
    EXPECT_EQ(m.text(), "ab");
    EXPECT_EQ(m.selectedRange(), (Range{1, 0}));
    m.replace({1, 0}, "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(m.text(), "a\xC3\xA9\xC3\xA9"
                        "b");
    EXPECT_EQ(m.selectedRange(), (Range{3, 0}));
}

TEST(ToolkitText, TypingGoesThroughTheDelegateWithUtf16Ranges) {
    Harness h(ScreenProfile::iPhoneX());
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto field = std::make_shared<TextField>(Rect(20, 100, 200, 30));
    field->setPlaceholder("Name");
    root->view()->addSubview(field);
    struct Limit : TextFieldDelegate {
        std::vector<std::pair<Range, std::string>> asked;
        bool shouldChangeCharactersInRange(TextField& f, Range r, const std::string& s) override {
            asked.push_back({r, s});
            return foundation::utf16Length(f.text()) - r.length + foundation::utf16Length(s) <= 3;
        }
        int returns = 0;
        bool textFieldShouldReturn(TextField&) override { return ++returns, true; }
    };
    auto d = std::make_shared<Limit>();
    field->delegate = d;
    std::vector<std::string> kb;
    auto& nc = foundation::NotificationCenter::defaultCenter();
    int obs = 0;
    nc.addObserver(&obs, "", [&](const foundation::Notification& n) {
        if (n.name.rfind("UIKeyboard", 0) == 0)
            kb.push_back(n.name + " " + n.userInfo.get(kKeyboardFrameEndUserInfoKey).stringValue());
    });
    auto off = std::make_shared<TextField>();
    EXPECT_FALSE(off->becomeFirstResponder()) << "outside a window a field refuses the focus";
    EXPECT_FALSE(h.typeText("x"));
    h.tap(*field);
    ASSERT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(h.typeText("a\xF0\x9F\x98\x80"
                           "cd"));
    EXPECT_EQ(field->text(), "a\xF0\x9F\x98\x80");
    ASSERT_EQ(d->asked.size(), 4u);
    EXPECT_EQ(d->asked[1].first, (Range{1, 0}));
    EXPECT_EQ(d->asked[2].first, (Range{3, 0}));
    h.pressBackspace();
    EXPECT_EQ(d->asked.back().first, (Range{1, 2}));
    EXPECT_EQ(field->text(), "a");
    h.pressReturn();
    EXPECT_EQ(d->returns, 1);
    field->resignFirstResponder();
    nc.removeObserver(&obs);
    EXPECT_EQ(kb, (std::vector<std::string>{
                      "UIKeyboardWillChangeFrameNotification {{0, 521}, {375, 291}}",
                      "UIKeyboardWillShowNotification {{0, 521}, {375, 291}}",
                      "UIKeyboardDidChangeFrameNotification {{0, 521}, {375, 291}}",
                      "UIKeyboardDidShowNotification {{0, 521}, {375, 291}}",
                      "UIKeyboardWillChangeFrameNotification {{0, 812}, {375, 291}}",
                      "UIKeyboardWillHideNotification {{0, 812}, {375, 291}}",
                      "UIKeyboardDidChangeFrameNotification {{0, 812}, {375, 291}}",
                      "UIKeyboardDidHideNotification {{0, 812}, {375, 291}}",
                  }));
    EXPECT_EQ(rectFromString("{{0, 521}, {375, 291}}"), Rect(0, 521, 375, 291));
    EXPECT_EQ(rectFromString("{{0, 521}, {375}}"), std::nullopt);
}

// A field's capitalisation applies to what is typed, letter by letter as the keyboard gives it:
// each word's first letter, each sentence's, or every letter; text set by code stays as it is.
TEST(ToolkitText, TypedLettersTakeTheFieldsCapitalisation) {
    struct Case {
        AutocapitalizationType type;
        std::string preset, typed, shown;
    } cases[] = {
        {AutocapitalizationType::None, "", "home office", "home office"},
        {AutocapitalizationType::Words, "", "home office 2nd floor", "Home Office 2nd Floor"},
        {AutocapitalizationType::Words, "ann", " lee", "ann Lee"},
        {AutocapitalizationType::Words, "", "\u00e9cole  \u00fcber", "\u00c9cole  \u00dcber"},
        {AutocapitalizationType::Sentences, "", "hi there. how are you? fine!  ok", "Hi there. How are you? Fine!  Ok"},
        {AutocapitalizationType::Sentences, "", "e.g.x", "E.g.x"},
        {AutocapitalizationType::AllCharacters, "", "e621e1f8-c36c", "E621E1F8-C36C"},
    };
    Harness h(ScreenProfile::iPhoneX());
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        auto field = std::make_shared<TextField>(Rect(20, 100, 300, 30));
        root->view()->addSubview(field);
        field->autocapitalizationType = c.type;
        field->setText(c.preset);
        EXPECT_EQ(field->text(), c.preset) << "set by code: as it is";
        ASSERT_TRUE(h.tap(*field));
        ASSERT_TRUE(h.typeText(c.typed));
        EXPECT_EQ(field->text(), c.shown);
        field->resignFirstResponder();
        field->removeFromSuperview();
    }
}

TEST(ToolkitText, FixedMetricsWrapAndTruncate) {
    FixedMetrics m;  // 17 pt: 8.5 per unit, 20.4 per line
    Font f = Font::system(17);
    EXPECT_EQ(m.measure("abcd", f, 0, 1, LineBreakMode::truncateTail), (Size{34, 20.4}));
    EXPECT_EQ(m.lines("one two three", f, 60, 0, LineBreakMode::wordWrap),
              (std::vector<std::string>{"one two", "three"}));
    EXPECT_EQ(m.lines("abcdefghij", f, 51, 1, LineBreakMode::truncateTail), (std::vector<std::string>{"abcde\u2026"}));
    EXPECT_EQ(m.lines("abcdefghij", f, 51, 1, LineBreakMode::truncateHead), (std::vector<std::string>{"\u2026fghij"}));
    EXPECT_EQ(m.lines("abcdefghij", f, 51, 1, LineBreakMode::truncateMiddle),
              (std::vector<std::string>{"abc\u2026ij"}));
    EXPECT_EQ(m.lines("one two three four", f, 60, 2, LineBreakMode::truncateTail),
              (std::vector<std::string>{"one two", "three\u2026"}));
    auto label = std::make_shared<Label>();
    label->setText("Hello");
    label->sizeToFit();
    EXPECT_EQ(label->frame().size, (Size{43, 21}));
}

TEST(ToolkitHarness, OutlineOfANavigationScreen) {
    Harness h(ScreenProfile::iPhone4(), 15);
    auto list = std::make_shared<ViewController>();
    list->setTitle("Messages");
    auto nav = std::make_shared<NavigationController>(list);
    int composed = 0;
    list->navigationItem().setRightBarButtonItem(
        BarButtonItem::withSystemItem(SystemItem::Compose, [&](BarButtonItem&) { ++composed; }));
    list->navigationItem().rightBarButtonItem()->accessibilityLabel = "Compose";
    h.setRoot(nav);
    auto label = std::make_shared<Label>(Rect(16, 80, 200, 21));
    label->setText("No messages");
    label->setTag(42);
    list->view()->addSubview(label);
    auto button = std::make_shared<Button>(ButtonType::System);
    button->setTitle("Refresh", kStateNormal);
    button->setFrame(Rect(16, 120, 100, 44));
    button->setEnabled(false);
    list->view()->addSubview(button);
    hxtest::expectOutline(h, "navigation_screen");
    EXPECT_EQ(h.find("No messages"), label.get());
    EXPECT_EQ(h.findByTag(42), label.get());
    EXPECT_EQ(h.findAll("Button").size(), 1u);
    EXPECT_TRUE(h.tapBarButton("Compose"));
    EXPECT_EQ(composed, 1);
    list->navigationItem().rightBarButtonItem()->enabled = false;
    list->navigationItem().setRightBarButtonItem(list->navigationItem().rightBarButtonItem());
    EXPECT_FALSE(h.tapBarButton("Compose"));
    EXPECT_EQ(composed, 1);
}
