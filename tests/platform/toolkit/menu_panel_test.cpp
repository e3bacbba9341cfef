// The menu on screen: where the panel and a context menu's preview sit for sources all over the
// screen (always inside the safe area, beside the source, the preview's shape kept), and what the
// window's touches and the keyboard do while it shows (choose once, skip what cannot be chosen,
// open and close a submenu in place, dismiss, never reach the views behind).
#include <gtest/gtest.h>

#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

bool inside(const Rect& inner, const Rect& outer) {
    const double e = 1e-9;
    return inner.minX() >= outer.minX() - e && inner.maxX() <= outer.maxX() + e && inner.minY() >= outer.minY() - e &&
           inner.maxY() <= outer.maxY() + e;
}

Point centre(const Rect& r) { return {r.midX(), r.midY()}; }

// Actions noting their title when they run; a disabled one, a destructive one in a group of its
// own and a submenu of two.
struct PanelScreen {
    Harness h{ScreenProfile::iPhone8(), 15};
    std::shared_ptr<ViewController> top = std::make_shared<ViewController>();
    std::shared_ptr<Button> behind = std::make_shared<Button>(ButtonType::System);
    Log log;
    int behindTaps = 0;

    PanelScreen() {
        h.setRoot(std::make_shared<NavigationController>(top));
        behind->setFrame(Rect(0, 64, 375, 603));
        behind->addAction([this](Control&, const Event*) { ++behindTaps; }, kTouchUpInside);
        top->view()->addSubview(behind);
    }
    MenuElementPtr action(const std::string& title, unsigned attributes = kMenuElementNone) {
        return MenuAction::make(
            title, nullptr, [this, title](MenuAction&) { log.push_back(title); }, attributes);
    }
    MenuPtr menu() {
        return Menu::make("", {action("Call"), action("Block", kMenuElementDisabled), action("Archive"),
                               Menu::make("Share", {action("Mail"), action("Copy")}),
                               Menu::make("", {action("Delete", kMenuElementDestructive)}, kMenuDisplayInline)});
    }
    // Rows by title, as laid out now.
    std::optional<Rect> rowFrame(const std::string& title) {
        MenuPanel* panel = MenuPanel::shown(&h.window());
        if (!panel) return std::nullopt;
        for (const auto& r : panel->rows())
            if (r.title == title) return r.frame;
        return std::nullopt;
    }
    Log titles() {
        Log out;
        if (MenuPanel* panel = MenuPanel::shown(&h.window()))
            for (const auto& r : panel->rows()) out.push_back(r.kind == MenuPanel::Row::separatorRow ? "-" : r.title);
        return out;
    }
    void showFromButton() {
        auto item = BarButtonItem::withImage(makeImage("ellipsis", {24, 24}));
        item->accessibilityLabel = "Actions";
        item->menu = menu();
        top->navigationItem().setRightBarButtonItem(item);
        h.settle();
        ASSERT_TRUE(h.tapBarButton("Actions"));
    }
};

class PreviewList : public TableViewController {
public:
    PreviewList() : TableViewController(TableViewStyle::Plain) {}
    Size previewSize;
    bool withPreview = true;
    Log log;
    void viewDidLoad() override {
        tableView()->registerCell("row", [] { return std::make_shared<TableViewCell>(TableViewCellStyle::Default); });
    }
    long numberOfSections(TableView&) override { return 1; }
    long numberOfRows(TableView&, long) override { return 30; }
    TableViewCellPtr cellForRow(TableView& t, IndexPath ip) override {
        auto cell = t.dequeueReusableCell("row", ip);
        cell->textLabel().setText("Row " + std::to_string(ip.row));
        return cell;
    }
    ContextMenuConfigurationPtr contextMenuConfiguration(TableView&, IndexPath ip, Point) override {
        auto preview = std::make_shared<ViewController>();
        preview->setPreferredContentSize(previewSize);
        return ContextMenuConfiguration::make(
            "r" + std::to_string(ip.row),
            withPreview ? ContextMenuConfiguration::PreviewProvider([preview] { return preview; }) : nullptr,
            [this](const std::vector<MenuElementPtr>&) {
                return Menu::make("",
                                  {MenuAction::make("Copy", nullptr, [this](MenuAction&) { log.push_back("Copy"); }),
                                   MenuAction::make("Save", nullptr, [this](MenuAction&) { log.push_back("Save"); })});
            });
    }
    void willPerformPreviewAction(TableView&, ContextMenuConfiguration& c, ContextMenuCommitAnimator&) override {
        log.push_back("commit " + c.identifier);
    }
    void contextMenuWillEnd(TableView&, ContextMenuConfiguration& c) override { log.push_back("end " + c.identifier); }
};

}  // namespace

TEST(ToolkitMenuPanel, SitsBesideItsSourceInsideTheSafeAreaKeepingThePreviewsShape) {
    struct Case {
        const char* name;
        ScreenProfile profile;
        MenuPanel::Style style;
        Rect source;
        Size preview;  // asked for by the preview controller; none: no preview
        bool below;    // the rows under the source (or its preview), else above it
    };
    const Case cases[] = {
        {"button on the right of the bar",
         ScreenProfile::iPhone8(),
         MenuPanel::Style::button,
         {327, 20, 40, 44},
         {},
         true},
        {"button on the left of the bar",
         ScreenProfile::iPhone8(),
         MenuPanel::Style::button,
         {8, 20, 40, 44},
         {},
         true},
        {"button at the bottom", ScreenProfile::iPhone8(), MenuPanel::Style::button, {8, 623, 40, 44}, {}, false},
        {"row under the notch", ScreenProfile::iPhoneX(), MenuPanel::Style::button, {0, 0, 375, 44}, {}, true},
        {"row mid-screen, picture",
         ScreenProfile::iPhone8(),
         MenuPanel::Style::context,
         {0, 300, 375, 80},
         {320, 240},
         true},
        {"row at the bottom, picture",
         ScreenProfile::iPhone8(),
         MenuPanel::Style::context,
         {0, 600, 375, 60},
         {320, 240},
         true},
        {"picture taller than the screen",
         ScreenProfile::iPhone8(),
         MenuPanel::Style::context,
         {0, 100, 375, 60},
         {400, 2000},
         true},
        {"row on the tablet, no size named",
         ScreenProfile::iPad(),
         MenuPanel::Style::context,
         {300, 500, 400, 60},
         {-1, -1},
         true},
        {"row at the bottom, no preview",
         ScreenProfile::iPhone8(),
         MenuPanel::Style::context,
         {0, 600, 375, 60},
         {},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(c.profile, 15);
        h.setRoot(std::make_shared<ViewController>());
        std::shared_ptr<ViewController> preview;
        if (c.preview.width != 0) {
            preview = std::make_shared<ViewController>();
            preview->setPreferredContentSize({std::max(0.0, c.preview.width), std::max(0.0, c.preview.height)});
        }
        auto menu = Menu::make("", {MenuAction::make("One", nullptr, {}), MenuAction::make("Two", nullptr, {}),
                                    MenuAction::make("Three", nullptr, {})});
        MenuPanel::show(&h, h.window(), menu, c.source, c.style, preview, {});
        MenuPanel& panel = *MenuPanel::shown(&h.window());
        const Rect safe = h.window().safeAreaLayoutFrame();
        const Rect area(safe.minX() + 8, safe.minY() + 8, safe.width() - 16, safe.height() - 16);
        const Rect frame = panel.panelFrame();
        EXPECT_TRUE(inside(frame, area)) << describe(frame);
        EXPECT_DOUBLE_EQ(frame.height(), 3 * MenuPanel::kRowHeight) << "every row fits";
        const Rect lifted = panel.previewFrame();
        if (!preview) {
            EXPECT_TRUE(lifted.isEmpty());
            EXPECT_EQ(frame.minY() >= c.source.maxY(), c.below) << describe(frame);
            EXPECT_EQ(frame.maxY() <= c.source.minY(), !c.below) << describe(frame);
            // The panel leans to the source's side of the screen.
            const double edge = c.source.midX() >= h.window().bounds().midX() ? frame.maxX() - c.source.maxX()
                                                                              : frame.minX() - c.source.minX();
            EXPECT_NEAR(edge, 0, 8.01) << describe(frame);
        } else {
            ASSERT_FALSE(lifted.isEmpty());
            EXPECT_TRUE(inside(lifted, area)) << describe(lifted);
            EXPECT_NEAR(frame.minY() - lifted.maxY(), MenuPanel::kSourceGap, 1e-9)
                << "the rows right under the preview";
            if (c.preview.width > 0) {
                EXPECT_NEAR(lifted.width() / lifted.height(), c.preview.width / c.preview.height, 1e-9) << "shape kept";
            }
            if (c.preview.width > 0 && c.preview.width <= area.width() && c.source.maxY() < 500) {
                EXPECT_EQ(lifted.size, c.preview) << "a preview that fits keeps its size";
            }
            // Lifted out where its source was, unless the screen ends first.
            if (c.source.minY() + lifted.height() + 8 + frame.height() <= area.maxY()) {
                EXPECT_DOUBLE_EQ(lifted.minY(), std::max(area.minY(), c.source.minY()));
            } else {
                EXPECT_DOUBLE_EQ(frame.maxY(), area.maxY()) << "pushed up as far as it must";
            }
        }
        // Rows follow one another down the panel.
        double y = frame.minY();
        for (const auto& r : panel.rows()) {
            EXPECT_DOUBLE_EQ(r.frame.minY(), y);
            y = r.frame.maxY();
        }
        MenuPanel::close(&h);
    }
}

TEST(ToolkitMenuPanel, ATouchChoosesOnceAndNothingBehindTheMenuSeesIt) {
    PanelScreen s;
    s.showFromButton();
    EXPECT_EQ(s.titles(), (Log{"Call", "Block", "Archive", "Share", "-", "Delete"}));

    // A disabled row and the band between groups do nothing; the menu stays.
    s.h.tap(centre(*s.rowFrame("Block")));
    s.h.tap({s.rowFrame("Delete")->midX(), s.rowFrame("Delete")->minY() - 4});
    EXPECT_TRUE(PresentedMenu::shared().isVisible());
    EXPECT_EQ(s.log, Log{});

    // A submenu opens in place under its title, which closes it again.
    s.h.tap(centre(*s.rowFrame("Share")));
    EXPECT_EQ(s.titles(), (Log{"Share", "Mail", "Copy"}));
    s.h.tap(centre(*s.rowFrame("Share")));
    EXPECT_EQ(s.titles(), (Log{"Call", "Block", "Archive", "Share", "-", "Delete"}));

    // Pressed on one row, slid to another and lifted there: that one.
    const Rect call = *s.rowFrame("Call"), archive = *s.rowFrame("Archive");
    const int id = s.h.window().touchDown(centre(call));
    s.h.window().touchMove(id, centre(archive));
    EXPECT_EQ(MenuPanel::shown()->highlighted(), std::optional<size_t>(2)) << "the row under the finger lights up";
    s.h.window().touchUp(id);
    s.h.settle();
    EXPECT_EQ(s.log, Log{"Archive"});
    EXPECT_FALSE(PresentedMenu::shared().isVisible()) << "gone once chosen";
    EXPECT_EQ(MenuPanel::shown(), nullptr);
    s.h.tap(centre(archive));
    EXPECT_EQ(s.log, Log{"Archive"}) << "the handler ran once";
    EXPECT_EQ(s.behindTaps, 1) << "with the menu gone, touches reach the screen again";

    // A touch outside closes the menu and reaches nothing behind it.
    s.showFromButton();
    s.h.tap({100, 600});
    EXPECT_FALSE(PresentedMenu::shared().isVisible());
    EXPECT_EQ(s.behindTaps, 1);
    EXPECT_EQ(s.log, Log{"Archive"});
    // A submenu's action is chosen from inside it.
    s.showFromButton();
    s.h.tap(centre(*s.rowFrame("Share")));
    s.h.tap(centre(*s.rowFrame("Copy")));
    EXPECT_EQ(s.log, (Log{"Archive", "Copy"}));
}

TEST(ToolkitMenuPanel, ArrowsMoveOverWhatCanBeChosenReturnChoosesAndEscapeStepsBack) {
    PanelScreen s;
    s.showFromButton();
    // Down from nothing: the first row; past the disabled one; round the end to the top.
    const std::vector<std::pair<std::string, std::string>> steps = {
        {kInputDownArrow, "Call"},   {kInputDownArrow, "Archive"}, {kInputDownArrow, "Share"},
        {kInputDownArrow, "Delete"}, {kInputDownArrow, "Call"},    {kInputUpArrow, "Delete"},
        {kInputUpArrow, "Share"},
    };
    for (const auto& [key, expected] : steps) {
        ASSERT_TRUE(s.h.pressKey(key));
        MenuPanel* panel = MenuPanel::shown();
        ASSERT_TRUE(panel && panel->highlighted());
        EXPECT_EQ(panel->rows()[*panel->highlighted()].title, expected);
    }
    ASSERT_TRUE(s.h.pressKey("\r"));
    EXPECT_EQ(s.titles(), (Log{"Share", "Mail", "Copy"})) << "Return opens the submenu";
    ASSERT_TRUE(s.h.pressKey(kInputEscape));
    EXPECT_EQ(s.titles(), (Log{"Call", "Block", "Archive", "Share", "-", "Delete"})) << "Escape closes it";
    ASSERT_TRUE(s.h.pressKey(kInputUpArrow));
    ASSERT_TRUE(s.h.pressKey("\r"));
    EXPECT_EQ(s.log, Log{"Delete"});
    EXPECT_FALSE(PresentedMenu::shared().isVisible());

    s.showFromButton();
    ASSERT_TRUE(s.h.pressKey("\r")) << "Return with nothing lit is swallowed";
    EXPECT_TRUE(PresentedMenu::shared().isVisible());
    ASSERT_TRUE(s.h.pressKey(kInputEscape));
    EXPECT_FALSE(PresentedMenu::shared().isVisible());
    EXPECT_EQ(s.log, Log{"Delete"});
}

TEST(ToolkitMenuPanel, AHeldRowShowsItsMenuAndItsPreviewCommitsChoosesOrDismisses) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<PreviewList>();
    list->previewSize = {300, 200};
    h.setRoot(std::make_shared<NavigationController>(list));
    TableView& table = *list->tableView();
    auto pointOf = [&](long row) { return table.convertPointTo(centre(table.rectForRow({0, row})), nullptr); };

    // What each touch after the hold does, and what the list hears.
    struct Case {
        const char* name;
        std::function<Point(MenuPanel&)> where;
        Log heard;
    };
    const Case cases[] = {
        {"the preview", [](MenuPanel& p) { return centre(p.previewFrame()); }, {"commit r2", "end r2"}},
        {"an action", [](MenuPanel& p) { return centre(p.rows().at(1).frame); }, {"end r2", "Save"}},
        {"outside",
         [](MenuPanel& p) {
             return Point{p.panelFrame().midX(), p.panelFrame().maxY() + 20};
         },
         {"end r2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list->log.clear();
        h.longPress(pointOf(2), 0.6);
        MenuPanel* panel = MenuPanel::shown(&h.window());
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->style(), MenuPanel::Style::context);
        EXPECT_NE(h.outline().find("ContextMenu (0, " + std::to_string(64 + 2 * 44) +
                                   ", 375, 44) preview "
                                   "<ViewController>: \"Copy\" \"Save\"\n"),
                  std::string::npos)
            << h.outline();
        h.tap(c.where(*panel));
        EXPECT_EQ(list->log, c.heard);
        EXPECT_EQ(MenuPanel::shown(), nullptr);
        EXPECT_EQ(table.contextMenuSession(), nullptr);
        EXPECT_EQ(table.indexPathForSelectedRow(), std::nullopt) << "nothing behind the menu was touched";
    }
}
