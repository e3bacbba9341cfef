// What a user does with the mouse, the keys and scripts in the desktop window (SDL's offscreen
// driver), played as the window system's events: the edit menu drawn as a bar and chosen from
// (a number copied from a conversation and pasted into the dial pad, keys, pages, a touch
// outside, a bubble's number held), several fingers (a two- and three-finger caret move by a
// script's swipe and by an Alt drag), a favourite reordered by a script's drag, and click-on
// finding a tab, a menu's item and a search field by its placeholder, and refusing one under the
// navigation bar or the keyboard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/bitmap_compare.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/input_script.h"
#include "platform/toolkit/text_input.h"
#include "platform/window/front_end.h"
#include "platform/window/input_script.h"
#include "tests/platform/window/window_play.h"
#include "tests/support/pixels.h"
#include "tests/ui/conversation/playback_support.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/dialer/vc_call.h"
#include "ui/dialer/vc_favorites.h"
#include "ui/messages/vc_messages.h"
#include "ui/widgets/hxc_input_toolbar.h"

namespace {

using hxtest::kTextThread;
using toolkit::MenuController;
using toolkit::Point;
using toolkit::Rect;

Point centre(const Rect& r) { return {r.midX(), r.midY()}; }
std::string at(Point p) { return std::to_string(p.x) + " " + std::to_string(p.y); }
Point middleOf(const toolkit::View& view) { return view.convertPointTo(centre(view.bounds()), nullptr); }

// The last view of a kind in the tree (the front-most), that the test accepts.
template <typename T>
T* lastOfKind(toolkit::View& root, const std::function<bool(T&)>& accept = {}) {
    T* found = nullptr;
    std::function<void(toolkit::View&)> visit = [&](toolkit::View& v) {
        if (auto* t = dynamic_cast<T*>(&v); t && (!accept || accept(*t))) found = t;
        for (const auto& sub : v.subviews()) visit(*sub);
    };
    visit(root);
    return found;
}

std::vector<std::string> shownTitles() {
    std::vector<std::string> titles;
    for (const auto& item : MenuController::shared().visibleItems()) titles.push_back(item.title);
    return titles;
}

struct UserPaths : hxtest::PlaybackFixture<HX_ConnectAppDelegate_iPhone> {
    UserPaths() : PlaybackFixture(hxtest::DeviceForm::phone, true, 15, true) {}
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        PlaybackFixture::SetUp();
        toolkit::Pasteboard::general().setString("");
    }
    void TearDown() override {
        frontEnd.reset();
        PlaybackFixture::TearDown();
    }
    void openWindow() {
        auto opened = windowing::FrontEnd::open(harness.window(), {});
        ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
        frontEnd = std::move(*opened);
    }
    // A script's lines as the window's events, handled at once.
    void play(const std::string& lines) {
        hxtest::playInWindow(*frontEnd, lines, last);
        harness.settle();
    }
    // A script played by the window frame by frame, as `./hx run --input` plays it (a frame is
    // 1/60 s of the clock); its failure, if any.
    std::string runScript(const std::string& lines) {
        frontEnd.reset();
        auto steps = windowing::parseInputScript(lines);
        if (!steps.ok()) return steps.error().localizedDescription();
        windowing::FrontEndOptions options;
        options.script = *steps;
        options.waitTimeout = 30;
        auto opened = windowing::FrontEnd::open(harness.window(), std::move(options));
        if (!opened.ok()) return opened.error().localizedDescription();
        auto& window = **opened;
        for (int frame = 0; frame < 20000 && !window.scriptFinished() && !window.isClosed(); ++frame) {
            window.frame();
            harness.clock().runUntilIdle();
            harness.advance(1.0 / 60);
        }
        harness.settle();
        if (window.failure()) return window.failure()->localizedDescription();
        return window.scriptFinished() ? "" : "the script did not end: " + harness.outline();
    }
    VC_Call& dialPad() { return dynamic_cast<VC_Call&>(*app->viewControllerForIndex(0)); }
    // Until a list's first page is in (20 s of the clock at most).
    bool firstRowsIn(toolkit::TableView& table) {
        for (int turn = 0; turn < 200 && (table.numberOfSections() == 0 || table.numberOfRows(0) == 0); ++turn) {
            if (!settleRequests()) return false;
            harness.advance(0.1);
        }
        return table.numberOfSections() > 0 && table.numberOfRows(0) > 0;
    }
    // The SMS tab by its title (its button also shows the unread count), then its first
    // conversation by a click on its row; none when it did not open.
    VC_Conversation* openFirstConversation() {
        if (!runScript("click-on SMS\nwait-idle\n").empty()) return nullptr;
        auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
        if (!list || !list->isViewLoaded() || !list->view()->window()) return nullptr;
        auto& table = *list->tableView();
        if (!firstRowsIn(table)) return nullptr;
        if (!runScript("click " + at(table.convertPointTo(centre(table.rectForRow({0, 0})), nullptr)) +
                       "\nwait-frames 40\nwait-idle\n")
                 .empty())
            return nullptr;
        auto* conversation = dynamic_cast<VC_Conversation*>(list->navigationController()->topViewController());
        if (!conversation || !settleRequests()) return nullptr;
        harness.settle();
        return conversation;
    }
    // A long press at a point in the open window.
    void hold(Point p) {
        play("press " + at(p));
        harness.advance(0.8);
        play("release " + at(p));
    }
    // What the window shows is what the renderer draws, bar and all.
    void expectWindowShowsTheRenderer() {
        ASSERT_TRUE(frontEnd->drawFrame().ok());
        auto shown = frontEnd->readRenderTarget();
        ASSERT_TRUE(shown.ok());
        auto drawn = toolkit::snapshot(harness.window());
        ASSERT_TRUE(drawn);
        EXPECT_EQ(graphics::compareBitmaps(**shown, *drawn).differingPixels, 0);
    }

    std::unique_ptr<windowing::FrontEnd> frontEnd;
    Point last;
};

// A view whose edit menu is any number of custom items, each recorded when chosen.
class ItemsView : public toolkit::View {
public:
    explicit ItemsView(std::vector<std::string> actions) : actions_(std::move(actions)) {
        for (const auto& action : actions_)
            setActionHandler(action, [this, action](toolkit::Responder*) { chosen.push_back(action); });
    }
    bool canBecomeFirstResponder() const override { return true; }
    bool canPerformAction(const std::string& action, toolkit::Responder*) const override {
        return std::find(actions_.begin(), actions_.end(), action) != actions_.end();
    }
    std::vector<std::string> chosen;

private:
    std::vector<std::string> actions_;
};

}  // namespace

TEST_F(UserPaths, TheNumberCopiedFromTheDrawnEditMenuIsPastedIntoTheDialPad) {
    auto* conversation = openFirstConversation();
    ASSERT_NE(conversation, nullptr) << harness.outline();
    const std::string number = conversation->conversation()->phoneNumber();
    ASSERT_FALSE(number.empty());

    // Holding the name shows the bar over it with "Copy Number"; a click on it copies.
    auto* name = conversation->contactHeader()->contactName();
    ASSERT_NE(name, nullptr);
    openWindow();
    hold(middleOf(*name));
    ASSERT_TRUE(MenuController::shared().isMenuVisible());
    EXPECT_EQ(shownTitles(), std::vector<std::string>{"Copy Number"});
    const Rect bar = MenuController::shared().barFrame();
    const Rect label = name->convertRectTo(name->bounds(), nullptr);
    EXPECT_LE(bar.maxY(), label.minY()) << "above the name, where there is room";
    expectWindowShowsTheRenderer();
    ASSERT_EQ(runScript("click-on Copy Number\n"), "");
    EXPECT_FALSE(MenuController::shared().isMenuVisible());
    EXPECT_EQ(toolkit::Pasteboard::general().string().value_or(""), number);

    // Back to the list, then the dial pad: holding its number offers "Paste", which shows the
    // copied number.
    ASSERT_TRUE(harness.tapBack());
    harness.advance(0.5);
    ASSERT_EQ(runScript("click-on Call\nwait-idle\n"), "");
    VC_Call& pad = dialPad();
    ASSERT_TRUE(pad.view()->window()) << harness.outline();
    openWindow();
    hold(middleOf(*pad.phoneNumberArea));
    ASSERT_TRUE(MenuController::shared().isMenuVisible());
    EXPECT_EQ(shownTitles(), std::vector<std::string>{"Paste"}) << "nothing to copy or clear yet";
    ASSERT_EQ(runScript("wait-for Paste\nclick-on Paste\n"), "");
    EXPECT_EQ(pad.phoneNumber->text(), PhoneExtensions::formattedPhoneNumberFromString(number));
    EXPECT_FALSE(MenuController::shared().isMenuVisible());
}

// The reply field edits by keys and by its edit menu as a platform's field does: typed text is
// selected, cut (the field empty, the send key off, the pasteboard holding it) and pasted back
// (the send key on again); a number copied from the header pastes into it; a picture on the
// pasteboard still goes to the conversation's own paste and leaves the text; and the dial pad,
// with nothing focused, takes Ctrl-V.
TEST_F(UserPaths, TheReplyFieldSelectsCutsAndPastesByKeysAndByItsMenu) {
    auto* conversation = openFirstConversation();
    ASSERT_NE(conversation, nullptr) << harness.outline();
    auto* toolbar = conversation->inputToolbar();
    ASSERT_NE(toolbar, nullptr);
    auto& field = *toolbar->textView()->internalTextView();
    auto& pasteboard = toolkit::Pasteboard::general();
    const std::string placeholder = toolbar->textView()->placeholder();
    ASSERT_EQ(runScript("click-on " + placeholder + "\ntype hello world\n"), "");
    ASSERT_EQ(field.text(), "hello world") << harness.outline();
    EXPECT_TRUE(toolbar->inputButton()->isEnabled());

    // By keys: all of it selected, cut and pasted back, and Super works as Ctrl does.
    ASSERT_EQ(runScript("press-key ctrl+a\npress-key ctrl+x\n"), "");
    EXPECT_EQ(field.text(), "");
    EXPECT_EQ(pasteboard.string().value_or(""), "hello world");
    EXPECT_FALSE(toolbar->inputButton()->isEnabled()) << "the toolbar was told of the cut";
    ASSERT_EQ(runScript("press-key ctrl+v\n"), "");
    EXPECT_EQ(field.text(), "hello world");
    EXPECT_TRUE(toolbar->inputButton()->isEnabled()) << "the toolbar was told of the paste";
    ASSERT_EQ(runScript("press-key cmd+v\n"), "");
    EXPECT_EQ(field.text(), "hello worldhello world") << "pasted at the caret";
    ASSERT_EQ(runScript("press-key cmd+a\npress-key cmd+c\npress-key ctrl+v\n"), "");
    EXPECT_EQ(field.text(), "hello worldhello world") << "the selection replaced by itself";
    EXPECT_EQ(pasteboard.string().value_or(""), "hello worldhello world");
    field.setSelectedRange({0, field.text().size()});
    field.insertText("hello world");

    // By the menu: a hold over the text with no selection offers to select or paste; "Select
    // All" brings the menu back with what a selection can do.
    openWindow();
    const Point inField = middleOf(field);
    hold(inField);
    ASSERT_TRUE(MenuController::shared().isMenuVisible());
    EXPECT_EQ(shownTitles(), (std::vector<std::string>{"Paste", "Select", "Select All"}));
    expectWindowShowsTheRenderer();
    ASSERT_EQ(runScript("click-on Select All\n"), "");
    EXPECT_EQ(field.selectedRange().length, 11u);
    ASSERT_TRUE(MenuController::shared().isMenuVisible());
    EXPECT_EQ(shownTitles(), (std::vector<std::string>{"Cut", "Copy", "Paste"}));
    pasteboard.setString("");
    ASSERT_EQ(runScript("click-on Cut\n"), "");
    EXPECT_EQ(field.text(), "");
    EXPECT_EQ(pasteboard.string().value_or(""), "hello world");
    EXPECT_FALSE(toolbar->inputButton()->isEnabled());
    openWindow();
    hold(inField);
    EXPECT_EQ(shownTitles(), std::vector<std::string>{"Paste"}) << "nothing to select in an empty field";
    ASSERT_EQ(runScript("click-on Paste\n"), "");
    EXPECT_EQ(field.text(), "hello world");
    EXPECT_TRUE(toolbar->inputButton()->isEnabled());
    // "Select" takes the word the hold put the caret after (right of the text: its end).
    openWindow();
    hold(inField);
    ASSERT_EQ(runScript("click-on Select\n"), "");
    EXPECT_EQ(field.selectedRange(), (foundation::Range{6, 5}));
    EXPECT_EQ(shownTitles(), (std::vector<std::string>{"Cut", "Copy", "Paste", "Select All"}));
    MenuController::shared().hideMenu(false);

    // The number copied from the header replaces the text.
    auto* name = conversation->contactHeader()->contactName();
    ASSERT_NE(name, nullptr);
    openWindow();
    hold(middleOf(*name));
    ASSERT_EQ(runScript("click-on Copy Number\n"), "");
    const std::string number = conversation->conversation()->phoneNumber();
    ASSERT_EQ(pasteboard.string().value_or(""), number);
    // The screen took the focus for its item and the keyboard went: the field is lower now.
    ASSERT_FALSE(field.isFirstResponder());
    ASSERT_EQ(runScript("click " + at(middleOf(field)) + "\npress-key ctrl+a\npress-key ctrl+v\n"), "");
    EXPECT_EQ(field.text(), number);

    // A picture goes to the conversation's pictures; the text stays.
    pasteboard.setData(hxtest::pngOf(2, 2, 0x000000ffu), toolkit::kTypePNG);
    ASSERT_TRUE(field.isFirstResponder());
    ASSERT_EQ(runScript("press-key ctrl+v\n"), "");
    EXPECT_EQ(conversation->images().size(), 1u);
    EXPECT_EQ(field.text(), number);

    // With nothing focused, the dial pad takes the pasted number.
    pasteboard.setString(number);
    ASSERT_TRUE(harness.tapBack());
    harness.advance(0.5);
    ASSERT_EQ(runScript("click-on Call\nwait-idle\n"), "");
    ASSERT_EQ(toolkit::firstResponder(), nullptr);
    ASSERT_EQ(runScript("press-key ctrl+v\n"), "");
    EXPECT_EQ(dialPad().phoneNumber->text(), PhoneExtensions::formattedPhoneNumberFromString(number));
}

TEST_F(UserPaths, TheBarIsChosenFromByKeysPagesOnAndBackAndHidesOnEscapeOrATouchOutside) {
    // Ten items with long titles: more than a phone's width.
    std::vector<std::string> actions;
    std::vector<toolkit::MenuItem> items;
    for (int i = 0; i < 10; ++i) {
        actions.push_back("item" + std::to_string(i) + ":");
        items.push_back({"Item number " + std::to_string(i), actions.back()});
    }
    auto view = std::make_shared<ItemsView>(actions);
    auto root = std::make_shared<toolkit::ViewController>();
    harness.setRoot(root);
    view->setFrame(Rect(20, 300, 200, 40));
    root->view()->addSubview(view);
    bool tapped = false;
    auto button = std::make_shared<toolkit::Button>();
    button->setFrame(Rect(20, 500, 200, 44));
    button->addAction([&](toolkit::Control&, const toolkit::Event*) { tapped = true; }, toolkit::kTouchUpInside);
    root->view()->addSubview(button);
    harness.settle();
    openWindow();
    auto show = [&](Rect target) {
        ASSERT_TRUE(view->becomeFirstResponder());
        MenuController::shared().menuItems = items;
        MenuController::shared().setTargetRect(target, view.get());
        MenuController::shared().showMenu();
        ASSERT_TRUE(MenuController::shared().isMenuVisible());
    };
    show(Rect(0, 0, 200, 40));
    auto& menu = MenuController::shared();
    const double width = harness.window().bounds().width();
    ASSERT_GT(menu.pageCount(), 1u);
    EXPECT_LE(menu.barFrame().maxX(), width - MenuController::kScreenMargin);
    EXPECT_GE(menu.barFrame().minX(), MenuController::kScreenMargin);
    EXPECT_EQ(menu.entries().back().title, MenuController::kNextPageTitle);
    EXPECT_EQ(menu.entries().front().title, "Item number 0");
    EXPECT_EQ(menu.barFrame().maxY() + MenuController::kTargetGap, 300) << "above the target";
    expectWindowShowsTheRenderer();

    // The mouse pages on and back; every item is reached once on the way.
    std::vector<std::string> seen;
    for (size_t page = 0; page < menu.pageCount(); ++page) {
        for (const auto& e : menu.entries())
            if (e.kind == MenuController::Entry::item) seen.push_back(e.title);
        if (page + 1 < menu.pageCount()) {
            ASSERT_EQ(runScript(std::string("click-on ") + MenuController::kNextPageTitle + "\n"), "");
            EXPECT_EQ(menu.entries().front().title, MenuController::kPreviousPageTitle);
        }
    }
    EXPECT_EQ(seen.size(), items.size());
    EXPECT_EQ(seen.back(), "Item number 9");
    EXPECT_NE(menu.entries().back().title, MenuController::kNextPageTitle) << "the last page";
    openWindow();
    play(std::string("click ") + at(centre(menu.entries().front().frame)));
    EXPECT_EQ(menu.page(), menu.pageCount() - 2);
    EXPECT_TRUE(view->chosen.empty());

    // Keys: Left from nothing highlights the last entry, Right wraps to the first; Return chooses.
    menu.hideMenu();
    show(Rect(0, 0, 200, 40));
    play("press-key Right\npress-key Right\npress-key Return");
    EXPECT_EQ(view->chosen, std::vector<std::string>{"item1:"});
    EXPECT_FALSE(menu.isMenuVisible());
    show(Rect(0, 0, 200, 40));
    play("press-key Left\npress-key Return");
    EXPECT_TRUE(menu.isMenuVisible()) << "the last entry of the first page turns it";
    EXPECT_EQ(menu.page(), 1u);
    play("press-key Escape");
    EXPECT_FALSE(menu.isMenuVisible());

    // A touch elsewhere hides the bar and goes on to what it touched; a target at the top puts
    // the bar under it.
    show(Rect(0, -290, 200, 40));
    EXPECT_EQ(menu.barFrame().minY(), 50 + MenuController::kTargetGap) << "below the target at the top";
    play("click " + at(middleOf(*button)));
    EXPECT_FALSE(menu.isMenuVisible());
    EXPECT_TRUE(tapped);
    EXPECT_EQ(view->chosen, std::vector<std::string>{"item1:"});
}

TEST_F(UserPaths, CommandKeysCopyPasteAndCutInTheFirstResponder) {
    ASSERT_EQ(runScript("click-on Call\nwait-idle\n"), "");
    VC_Call& pad = dialPad();
    ASSERT_TRUE(pad.becomeFirstResponder());
    toolkit::Pasteboard::general().setString("+1 (202) 555-0147");
    openWindow();
    // Command-V pastes; the desktop's Ctrl-V is taken for it where nothing else takes Ctrl-V.
    play("press-key cmd+v");
    EXPECT_EQ(pad.phoneNumber->text(), PhoneExtensions::formattedPhoneNumberFromString("+12025550147"));
    pad.clearNumber();
    play("press-key ctrl+v");
    EXPECT_FALSE(pad.phoneNumber->text().empty());
    toolkit::Pasteboard::general().setString("");
    play("press-key cmd+c");
    EXPECT_EQ(toolkit::Pasteboard::general().string().value_or(""), pad.phoneNumber->text());
    // The pad has no cut: Command-X leaves the number.
    play("press-key cmd+x");
    EXPECT_FALSE(pad.phoneNumber->text().empty());
}

TEST_F(UserPaths, HoldingABubblesNumberSelectsItAndItsMenuOffersCopyAndTheNumberItems) {
    storeConversation(kTextThread, 1, "", std::nullopt, "Call me on 202 555 0147 after six");
    auto& screen = open(kTextThread, 1);
    ASSERT_TRUE(settleRequests());
    harness.settle();
    auto* cell = lastOfKind<ConversationTableViewCell>(harness.window(), [](ConversationTableViewCell& c) {
        return !c.isImage() && c.candidateText().find("555") != std::string::npos;
    });
    ASSERT_NE(cell, nullptr) << harness.outline();
    auto* text = lastOfKind<toolkit::TextView>(*cell);
    ASSERT_NE(text, nullptr);
    // The finger on "555" in the middle of the number.
    const std::string message = text->text();
    const size_t at555 = foundation::utf16Length(message.substr(0, message.find("555")));
    const Rect caret = text->caretRectForPosition({at555 + 1});
    const Point finger = text->convertPointTo(centre(caret), nullptr);
    openWindow();
    play("press " + at(finger));
    harness.advance(0.6);
    play("release " + at(finger));
    ASSERT_TRUE(MenuController::shared().isMenuVisible()) << harness.outline();
    EXPECT_EQ(cell->candidateText(), "202 555 0147");
    const std::string formatted = PhoneExtensions::formattedPhoneNumberFromString("202 555 0147");
    const auto titles = shownTitles();
    EXPECT_NE(std::find(titles.begin(), titles.end(), "Copy"), titles.end());
    EXPECT_NE(std::find(titles.begin(), titles.end(), "\U0001F4DE " + formatted), titles.end());
    EXPECT_NE(std::find(titles.begin(), titles.end(), "\u2709\uFE0F " + formatted), titles.end());
    ASSERT_EQ(runScript("click-on Copy\n"), "");
    EXPECT_EQ(toolkit::Pasteboard::general().string().value_or(""), "202 555 0147");

    // A word where there is no number.
    const size_t atSix = foundation::utf16Length(message.substr(0, message.find("six")));
    const Point onSix = text->convertPointTo(centre(text->caretRectForPosition({atSix + 1})), nullptr);
    openWindow();
    play("press " + at(onSix));
    harness.advance(0.6);
    play("release " + at(onSix));
    EXPECT_EQ(cell->candidateText(), "six");
    (void)screen;
}

TEST(BubbleSelection, TheNumberUnderTheFingerElseTheWord) {
    const std::string text = "Ring +44 20 7946 0000 or 555-0101, bye";
    struct Case {
        std::string under;
        std::string selected;
    } cases[] = {{"44", "+44 20 7946 0000"}, {"0000", "+44 20 7946 0000"}, {"or", "or"}, {"bye", "bye"},
                 {"Ring", "Ring"},           {"555", "555-0101"}};
    for (const auto& c : cases) {
        const size_t at = text.find(c.under) + 1;
        const auto [from, to] = hxSelectionAround(text, at);
        EXPECT_EQ(text.substr(from, to - from), c.selected) << c.under;
    }
    // After the last word, the word before; on a space between words, the word before it.
    auto [from, to] = hxSelectionAround(text, text.size());
    EXPECT_EQ(text.substr(from, to - from), "bye");
    std::tie(from, to) = hxSelectionAround("a  b", 2);
    EXPECT_EQ(from, to) << "between two spaces nothing is selected";
}

TEST_F(UserPaths, TwoAndThreeFingersMoveTheReplyCaretByAScriptsSwipeAndAnAltDrag) {
    storeConversation(kTextThread, 1, "", std::nullopt, "Hello");
    auto& screen = open(kTextThread, 1);
    ASSERT_TRUE(settleRequests());
    auto* toolbar = screen.inputToolbar();
    ASSERT_NE(toolbar, nullptr);
    auto& field = *toolbar->textView();
    ASSERT_EQ(runScript("click " + at(middleOf(field)) + "\ntype one two three\n"), "");
    ASSERT_EQ(field.text(), "one two three");
    ASSERT_EQ(field.selectedRange().location, 13u);
    const Point from = middleOf(*toolbar);
    const Point left{from.x - 120, from.y}, right{from.x + 120, from.y};
    // Two fingers left: back one word, to the start of "three"; again, to "two".
    ASSERT_EQ(runScript("swipe " + at(from) + " " + at(left) + " 2\n"), "");
    EXPECT_EQ(field.selectedRange().location, 8u);
    ASSERT_EQ(runScript("swipe " + at(from) + " " + at(left) + " 2\n"), "");
    EXPECT_EQ(field.selectedRange().location, 4u);
    // One finger right: one letter on.
    ASSERT_EQ(runScript("swipe " + at(from) + " " + at(right) + " 1\n"), "");
    EXPECT_EQ(field.selectedRange().location, 5u);
    // Three fingers left: the beginning; right: the end.
    ASSERT_EQ(runScript("swipe " + at(from) + " " + at(left) + " 3\n"), "");
    EXPECT_EQ(field.selectedRange().location, 0u);
    ASSERT_EQ(runScript("swipe " + at(from) + " " + at(right) + " 3\n"), "");
    EXPECT_EQ(field.selectedRange().location, 13u);

    // The mouse with Alt held is two fingers, with Alt and Shift three.
    openWindow();
    auto modifiers = [&](Uint32 type, SDL_Keycode key, Uint16 mod) {
        SDL_Event e{};
        e.key.type = type;
        e.key.windowID = frontEnd->windowID();
        e.key.keysym.sym = key;
        e.key.keysym.mod = mod;
        frontEnd->handleEvent(e);
    };
    modifiers(SDL_KEYDOWN, SDLK_LALT, KMOD_LALT);
    play("press " + at(from) + "\nrelease " + at(left));
    modifiers(SDL_KEYUP, SDLK_LALT, KMOD_NONE);
    EXPECT_EQ(field.selectedRange().location, 8u) << "back a word";
    modifiers(SDL_KEYDOWN, SDLK_LALT, KMOD_LALT);
    modifiers(SDL_KEYDOWN, SDLK_LSHIFT, KMOD_LALT | KMOD_LSHIFT);
    play("press " + at(from) + "\nrelease " + at(left));
    modifiers(SDL_KEYUP, SDLK_LSHIFT, KMOD_LALT);
    modifiers(SDL_KEYUP, SDLK_LALT, KMOD_NONE);
    EXPECT_EQ(field.selectedRange().location, 0u) << "to the beginning";
    // Without modifiers the drag is one finger: a letter on.
    play("press " + at(from) + "\nrelease " + at(right));
    EXPECT_EQ(field.selectedRange().location, 1u);
}

TEST_F(UserPaths, AFavoriteIsReorderedByAScriptsDragOnItsGrip) {
    foundation::Array lines;
    for (const char* line : {"X1,X2,Ann Lee,+1 555 0100,1.000000", "X3,X4,Bo Kim,+1 555 0200,1.000000",
                             "X5,X6,Cy Twin,+1 555 0300,1.000000"})
        lines.push_back(foundation::Value(line));
    foundation::Dictionary all;
    all.set(app->account()->username(), foundation::Value(lines));
    (void)foundation::UserDefaults::standardUserDefaults()->setObject(foundation::Value(all), "favorites");
    ASSERT_EQ(runScript("click-on Call\nwait-idle\n"), "");
    dialPad().openFavorites();
    harness.advance(0.5);
    auto* nav = dynamic_cast<toolkit::NavigationController*>(harness.topPresented());
    ASSERT_NE(nav, nullptr);
    auto* list = dynamic_cast<VC_Favorites*>(nav->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->theFavorites().size(), 3u);
    ASSERT_EQ(runScript("click-on Edit\nwait-frames 30\n"), "");
    ASSERT_TRUE(list->isEditing());
    auto& table = *list->tableView();
    auto grip = [&](long row) {
        const Rect r = table.rectForRow({0, row});
        return table.convertPointTo({r.maxX() - 19, r.midY()}, nullptr);
    };
    // Ann's grip down past Cy: Ann goes last, and the stored order follows.
    ASSERT_EQ(runScript("drag " + at(grip(0)) + " " + at(grip(2)) + " 12\nwait-frames 10\n"), "");
    std::vector<std::string> names;
    for (const auto& f : list->theFavorites()) names.push_back(f.name());
    EXPECT_EQ(names, (std::vector<std::string>{"Bo Kim", "Cy Twin", "Ann Lee"}));
    const auto stored = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("favorites");
    ASSERT_TRUE(stored);
    const auto* kept = stored->get(app->account()->username()).ifArray();
    ASSERT_TRUE(kept && kept->size() == 3);
    EXPECT_EQ((*kept)[2].stringValue().substr(0, 5), "X1,X2");
    // A drag elsewhere on a row moves nothing.
    ASSERT_EQ(runScript("drag " + at(table.convertPointTo(centre(table.rectForRow({0, 0})), nullptr)) + " " +
                        at(grip(2)) + "\nwait-frames 10\n"),
              "");
    EXPECT_EQ(list->theFavorites().front().name(), "Bo Kim");
    // Headless, the same step moves through the harness alike.
    auto steps = toolkit::testing::parseInputScript("drag " + at(grip(0)) + " " + at(grip(1)) + "\n");
    ASSERT_TRUE(steps.ok());
    ASSERT_TRUE(toolkit::testing::playInputScript(harness, *steps, {}, 5).ok());
    names.clear();
    for (const auto& f : list->theFavorites()) names.push_back(f.name());
    EXPECT_EQ(names, (std::vector<std::string>{"Cy Twin", "Bo Kim", "Ann Lee"}));
}

TEST_F(UserPaths, ClickOnFindsATabByItsTitleAndTheListsSearchFieldByItsPlaceholder) {
    ASSERT_EQ(runScript("click-on Voicemail\nwait-idle\n"), "");
    EXPECT_TRUE(app->viewControllerForIndex(2)->view()->window());
    // The SMS tab's button also shows its unread count; selected, its mark.
    ASSERT_EQ(runScript("click-on SMS\nwait-idle\n"), "");
    auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
    ASSERT_TRUE(list && list->view()->window()) << harness.outline();
    auto& table = *list->tableView();
    ASSERT_TRUE(firstRowsIn(table));
    ASSERT_EQ(runScript("click-on SMS\n"), "") << "found while selected";
    const std::string placeholder = list->searchBar()->placeholder();
    ASSERT_FALSE(placeholder.empty());
    // The field waits above the list's first row, under the bar: the wheel brings it down.
    const Point below = table.convertPointTo({table.bounds().midX(), table.bounds().maxY() - 80}, nullptr);
    ASSERT_EQ(runScript("press " + at(below) + "\nrelease " + at(below) + "\nscroll 0 3\nwait-frames 5\nclick-on " +
                        placeholder + "\ntype Ann\n"),
              "");
    EXPECT_EQ(list->searchBar()->text(), "Ann") << placeholder << harness.outline();
}

TEST_F(UserPaths, ClickOnTapsNoLabelUnderTheBarOrTheKeyboardAndNamesWhatCoversIt) {
    ASSERT_EQ(runScript("click-on History\nwait-idle\n"), "");
    auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(3));
    ASSERT_TRUE(list && list->view()->window()) << harness.outline();
    auto& table = *list->tableView();
    ASSERT_TRUE(firstRowsIn(table)) << harness.outline();
    // The list keeps its search field scrolled up under the navigation bar: the bar's filter menu
    // lies over it, and a click there would open that menu. Nothing is clicked.
    const std::string before = harness.outline();
    EXPECT_EQ(runScript("click-on Search History\n"), "line 1: \"Search History\" is covered by NavigationBar");
    EXPECT_EQ(harness.outline(), before);
    // Brought down by the wheel, it is tapped: the keyboard comes up over the tab bar.
    const Point below = table.convertPointTo({table.bounds().midX(), table.bounds().maxY() - 80}, nullptr);
    ASSERT_EQ(runScript("press " + at(below) + "\nrelease " + at(below) +
                        "\nscroll 0 3\nwait-frames 5\nclick-on Search History\nwait-frames 30\n"),
              "");
    auto* keyboard = lastOfKind<toolkit::KeyboardView>(harness.window());
    ASSERT_TRUE(keyboard && !keyboard->isHidden()) << harness.outline();
    // The SMS tab's button lies under the keyboard: the click does not reach through it.
    EXPECT_EQ(runScript("click-on SMS\n"), "line 1: \"SMS\" is covered by Keyboard");
    EXPECT_EQ(app->currentViewIndex(), 3);
}

TEST_F(UserPaths, AScriptEndingInAWaitForFramesEnds) {
    // The window stops drawing every frame once its script is over.
    EXPECT_EQ(runScript("wait-frames 3\n"), "");
}

TEST(UserPathScripts, DragAndSwipeStepsAreReadAndWrongOnesNamed) {
    auto steps = toolkit::testing::parseInputScript("drag 1 2 3 4\ndrag 1 2 3 4 30\nswipe 5 6 7 8 3\n");
    ASSERT_TRUE(steps.ok()) << steps.error().localizedDescription();
    ASSERT_EQ(steps->size(), 3u);
    EXPECT_EQ((*steps)[0].kind, toolkit::testing::InputStep::Drag);
    EXPECT_EQ((*steps)[0].steps, toolkit::testing::kDragSteps);
    EXPECT_EQ((*steps)[1].steps, 30);
    EXPECT_EQ((*steps)[1].to.y, 4);
    EXPECT_EQ((*steps)[2].kind, toolkit::testing::InputStep::Swipe);
    EXPECT_EQ((*steps)[2].fingers, 3);
    for (const char* bad : {"drag 1 2 3", "drag 1 2 3 4 0", "drag 1 2 3 4 2.5", "drag 1 2 3 4 601", "swipe 1 2 3 4",
                            "swipe 1 2 3 4 6", "swipe 1 2 3 4 0", "drag a 2 3 4", "swipe 1 2 3 4 2 9"}) {
        auto parsed = toolkit::testing::parseInputScript(std::string("# x\n") + bad);
        ASSERT_FALSE(parsed.ok()) << bad;
        EXPECT_EQ(parsed.error().localizedDescription().substr(0, 8), "line 2: ") << bad;
    }
    // Played into a window, a swipe's fingers go down together, move a frame at a time and lift.
    auto window = windowing::parseInputScript("swipe 10 100 110 100 2\n");
    ASSERT_TRUE(window.ok());
    Point last;
    const auto frames = windowing::eventFramesForStep((*window)[0], 2, 7, last, {200, 400});
    ASSERT_EQ(frames.size(), 2u + toolkit::testing::kSwipeSteps);
    EXPECT_EQ(frames.front().size(), 2u);
    EXPECT_EQ(frames.front()[0].type, SDL_FINGERDOWN);
    EXPECT_FLOAT_EQ(frames.front()[0].tfinger.x, 0.05f);
    EXPECT_FLOAT_EQ(frames.front()[0].tfinger.y + frames.front()[1].tfinger.y, 0.5f);
    EXPECT_EQ(frames.back()[1].type, SDL_FINGERUP);
    EXPECT_FLOAT_EQ(frames.back()[1].tfinger.x, 0.55f);
    EXPECT_EQ(last.x, 110);
}
