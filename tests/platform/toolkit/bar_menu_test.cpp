// Menus on bar button items through the harness: a tap shows the menu of an item without an
// action, a long press shows it for any item with one, and choosing an action closes the menu
// before the action runs.
#include <gtest/gtest.h>

#include "platform/toolkit/bars.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using toolkit::testing::OutlineOptions;
using Log = std::vector<std::string>;

namespace {

using MenuActionPtr = std::shared_ptr<MenuAction>;

struct MenuScreen {
    Harness h{ScreenProfile::iPhone8(), 15};
    std::shared_ptr<ViewController> top = std::make_shared<ViewController>();
    Log log;
    MenuScreen() { h.setRoot(std::make_shared<NavigationController>(top)); }
    MenuActionPtr action(const std::string& title, unsigned attributes = kMenuElementNone) {
        return MenuAction::make(
            title, nullptr,
            [this, title](MenuAction&) {
                log.push_back(title + (PresentedMenu::shared().isVisible() ? " (menu showing)" : ""));
            },
            attributes);
    }
    // The conversation's actions: an untitled inline group, then Delete alone in a submenu.
    MenuPtr actions() {
        auto group = Menu::make("", {action("Call"), action("Send SMS"), action("Block", kMenuElementDisabled)},
                                kMenuDisplayInline);
        auto del =
            Menu::make("Delete", {action("Delete", kMenuElementDestructive)}, kMenuDisplayInline | kMenuDestructive);
        return Menu::make("", {group, del});
    }
};

}  // namespace

TEST(ToolkitBarMenu, TapOrHoldShowsTheMenuAsTheItemIsSetUp) {
    struct Case {
        const char* name;
        bool hasAction, hasMenu, enabled, hold;
        bool menuShown;
        Log log;  // after the gesture
    };
    const std::vector<Case> cases = {
        {"menu only, tap", false, true, true, false, true, {}},
        {"menu only, hold", false, true, true, true, true, {}},
        {"action and menu, tap", true, true, true, false, false, {"action"}},
        {"action and menu, hold", true, true, true, true, true, {}},
        {"action only, hold", true, false, true, true, false, {"action"}},
        {"disabled, tap", false, true, false, false, false, {}},
        {"disabled, hold", true, true, false, true, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MenuScreen s;
        auto item = BarButtonItem::withImage(makeImage("ellipsis", {24, 24}), BarButtonStyle::Done);
        item->accessibilityLabel = "Conversation actions";
        if (c.hasAction) item->action = [&s](BarButtonItem&) { s.log.push_back("action"); };
        if (c.hasMenu) item->menu = s.actions();
        item->enabled = c.enabled;
        s.top->navigationItem().setRightBarButtonItem(item);
        s.h.settle();
        if (c.hold)
            s.h.longPressBarButton("Conversation actions");
        else
            s.h.tapBarButton("Conversation actions");
        EXPECT_EQ(PresentedMenu::shared().isVisible(), c.menuShown);
        EXPECT_EQ(s.log, c.log);
        if (c.menuShown) {
            EXPECT_EQ(s.h.presentedMenuTitles(),
                      (std::vector<std::string>{"Call", "Send SMS", "Block", "-", "Delete"}));
            EXPECT_EQ(PresentedMenu::shared().anchor(), item->view()) << "the menu points at the item's button";
        }
    }
}

TEST(ToolkitBarMenu, ChoosingAnActionClosesTheMenuFirst) {
    MenuScreen s;
    auto item = BarButtonItem::withImage(makeImage("ellipsis", {24, 24}));
    item->accessibilityLabel = "Conversation actions";
    item->menu = s.actions();
    s.top->navigationItem().setRightBarButtonItem(item);
    s.h.settle();

    ASSERT_TRUE(s.h.tapBarButton("Conversation actions"));
    EXPECT_NE(s.h.outline(OutlineOptions{false})
                  .find("Menu from \"ellipsis\": \"Call\" \"Send SMS\" \"Block\" \"-\" "
                        "\"Delete\"\n"),
              std::string::npos)
        << s.h.outline(OutlineOptions{false});
    EXPECT_FALSE(s.h.chooseMenuAction("Block")) << "a disabled action does nothing";
    EXPECT_FALSE(s.h.chooseMenuAction("Archive")) << "no such action";
    EXPECT_TRUE(PresentedMenu::shared().isVisible()) << "a refused choice leaves the menu up";
    EXPECT_TRUE(s.h.chooseMenuAction("Delete")) << "actions inside submenus are found";
    EXPECT_EQ(s.log, (Log{"Delete"})) << "the menu was gone when the action ran";
    EXPECT_FALSE(PresentedMenu::shared().isVisible());
    EXPECT_EQ(s.h.outline().find("Menu"), std::string::npos);
    EXPECT_FALSE(s.h.chooseMenuAction("Call")) << "nothing to choose from once the menu has gone";

    // The screen rebuilds the menu while its button shows; the button offers the new one.
    item->menu = Menu::make("", {s.action("Unarchive")});
    ASSERT_TRUE(s.h.longPressBarButton("Conversation actions"));
    EXPECT_EQ(s.h.presentedMenuTitles(), (std::vector<std::string>{"Unarchive"}));
    EXPECT_TRUE(s.h.chooseMenuAction("Unarchive"));
    EXPECT_EQ(s.log, (Log{"Delete", "Unarchive"}));

    // Taking the menu away turns a hold back into a plain tap.
    int taps = 0;
    item->menu = nullptr;
    item->action = [&](BarButtonItem&) { ++taps; };
    EXPECT_FALSE(s.h.longPressBarButton("Conversation actions"));
    EXPECT_EQ(taps, 1) << "a long hold without a menu still taps";
}

TEST(ToolkitBarMenu, ToolbarItemsShowTheirMenusToo) {
    MenuScreen s;
    auto toolbar = std::make_shared<Toolbar>();
    toolbar->setFrame(Rect(0, 560, 375, 44));
    auto share = BarButtonItem::withSystemItem(SystemItem::Action);
    share->accessibilityLabel = "Share";
    share->menu = Menu::make("", {s.action("Copy"), s.action("Save Image")});
    auto trash = BarButtonItem::withSystemItem(SystemItem::Trash, [&s](BarButtonItem&) { s.log.push_back("trash"); });
    trash->accessibilityLabel = "Delete";
    trash->menu = Menu::make("", {s.action("Delete All")});
    toolbar->setItems({share, BarButtonItem::withSystemItem(SystemItem::FlexibleSpace), trash});
    s.top->view()->addSubview(toolbar);
    s.h.settle();

    ASSERT_TRUE(s.h.tapBarButton("Share"));
    EXPECT_EQ(s.h.presentedMenuTitles(), (std::vector<std::string>{"Copy", "Save Image"}));
    EXPECT_EQ(PresentedMenu::shared().anchor(), share->view());
    EXPECT_TRUE(s.h.chooseMenuAction("Save Image"));
    ASSERT_TRUE(s.h.tapBarButton("Delete"));
    EXPECT_FALSE(PresentedMenu::shared().isVisible()) << "an item with an action runs it on a tap";
    ASSERT_TRUE(s.h.longPressBarButton("Delete"));
    EXPECT_TRUE(s.h.chooseMenuAction("Delete All"));
    EXPECT_EQ(s.log, (Log{"Save Image", "trash", "Delete All"}));
    EXPECT_FALSE(s.h.longPressBarButton("Nowhere"));
}
