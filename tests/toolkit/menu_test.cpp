// Menus as they are shown (inline groups, submenus, hidden and disabled actions), the order a
// committed preview's completions run in, and what the bar items show for their system items.
#include <gtest/gtest.h>

#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;

TEST(ToolkitMenu, DisplayTitlesFlattenInlineGroupsAndSkipHiddenActions) {
    auto action = [](const std::string& t, unsigned attributes = kMenuElementNone) -> MenuElementPtr {
        return MenuAction::make(t, nullptr, {}, attributes);
    };
    struct Case {
        MenuPtr menu;
        std::vector<std::string> titles;
    };
    Case cases[] = {
        {Menu::make("", {action("Copy"), action("Paste")}), {"Copy", "Paste"}},
        {Menu::make("", {Menu::make("", {action("Call"), action("Message")}, kMenuDisplayInline), action("Block")}),
         {"Call", "Message", "-", "Block"}},
        {Menu::make("", {action("A"), Menu::make("", {action("B")}, kMenuDisplayInline)}), {"A", "-", "B"}},
        {Menu::make("", {action("Secret", kMenuElementHidden), Menu::make("More", {action("X")})}), {"More >"}},
        {Menu::make("", {Menu::make("", {}, kMenuDisplayInline), action("Only")}), {"Only"}},
        {Menu::make("", {}), {}},
    };
    for (auto& c : cases) EXPECT_EQ(c.menu->displayTitles(), c.titles);

    int runs = 0;
    auto disabled = MenuAction::make(
        "Off", nullptr, [&](MenuAction&) { ++runs; }, kMenuElementDisabled);
    auto on = MenuAction::make("On", nullptr, [&](MenuAction&) { ++runs; });
    auto menu = Menu::make("", {Menu::make("Sub", {Menu::make("", {disabled, on}, kMenuDisplayInline)})});
    EXPECT_EQ(menu->findAction("On"), on) << "found through a submenu and an inline group";
    EXPECT_EQ(menu->findAction("Missing"), nullptr);
    EXPECT_FALSE(disabled->perform());
    EXPECT_TRUE(on->perform());
    EXPECT_EQ(runs, 1);
    auto noHandler = MenuAction::make("Nothing", nullptr, {});
    EXPECT_TRUE(noHandler->perform()) << "an action without a handler still counts as chosen";
}

TEST(ToolkitMenu, PreviewCompletionsRunOnceInTheOrderAdded) {
    auto preview = std::make_shared<ViewController>();
    ContextMenuCommitAnimator animator(preview);
    std::vector<int> order;
    animator.addCompletion([&] { order.push_back(1); });
    animator.addAnimations([&] { order.push_back(0); });
    animator.addCompletion([&] { order.push_back(2); });
    EXPECT_EQ(order, (std::vector<int>{0})) << "animations run at once";
    EXPECT_EQ(animator.previewViewController(), preview);
    animator.finish();
    animator.finish();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(ToolkitMenu, SystemItemsShowTheirTitlesAndDisabledItemsIgnoreTaps) {
    struct Case {
        SystemItem item;
        std::string title;
    };
    Case cases[] = {{SystemItem::Done, "Done"}, {SystemItem::Cancel, "Cancel"}, {SystemItem::Edit, "Edit"},
                    {SystemItem::Save, "Save"}, {SystemItem::Compose, ""},      {SystemItem::FlexibleSpace, ""},
                    {SystemItem::Action, ""}};
    for (auto& c : cases) {
        EXPECT_EQ(systemItemTitle(c.item), c.title);
        EXPECT_EQ(BarButtonItem::withSystemItem(c.item)->displayTitle(), c.title);
    }
    int taps = 0;
    auto item = BarButtonItem::withTitle("Send", BarButtonStyle::Done, [&](BarButtonItem&) { ++taps; });
    EXPECT_EQ(item->displayTitle(), "Send");
    EXPECT_TRUE(item->tap());
    item->enabled = false;
    EXPECT_FALSE(item->tap());
    EXPECT_EQ(taps, 1);
}

TEST(ToolkitPasteboard, EveryWriteMovesTheChangeCount) {
    toolkit::testing::Harness h(ScreenProfile::iPhone8(), 15);
    Pasteboard& pb = Pasteboard::general();
    long start = pb.changeCount();
    pb.setString("a");
    pb.setString("a");
    pb.setData({1, 2}, "public.data");
    pb.clear();
    EXPECT_EQ(pb.changeCount(), start + 4) << "even writing the same string again";
    EXPECT_TRUE(pb.types().empty());
    EXPECT_FALSE(pb.string());
    pb.setImage(nullptr);
    EXPECT_FALSE(pb.hasImages());
}
