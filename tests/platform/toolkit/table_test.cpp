// Tables and scrolling through the harness: visible cells and reuse, selection with the
// delegate's questions and its drop on reload, batch updates as a table of cases, editing,
// moves, swipe actions (configurations, legacy row actions, the default delete), context menus,
// and the scroll view's offsets, bouncing, zoom, status-bar taps and pull to refresh.
#include <gtest/gtest.h>

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/goldens.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

// A list over a model of sections of titles; its cells come from one registered factory.
class ListController : public TableViewController {
public:
    explicit ListController(std::vector<std::vector<std::string>> model, TableViewStyle style = TableViewStyle::Plain)
        : TableViewController(style), model(std::move(model)) {}
    std::vector<std::vector<std::string>> model;
    std::vector<std::string> headers;
    Log log;
    int made = 0;
    int cellRequests = 0;
    bool editable = false;
    bool movable = false;

    void viewDidLoad() override {
        tableView()->registerCell("row", [this] {
            ++made;
            return std::make_shared<TableViewCell>(TableViewCellStyle::Subtitle);
        });
    }
    long numberOfSections(TableView&) override { return static_cast<long>(model.size()); }
    long numberOfRows(TableView&, long s) override { return static_cast<long>(model[static_cast<size_t>(s)].size()); }
    TableViewCellPtr cellForRow(TableView& t, IndexPath ip) override {
        ++cellRequests;
        auto cell = t.dequeueReusableCell("row", ip);
        cell->textLabel().setText(model[static_cast<size_t>(ip.section)][static_cast<size_t>(ip.row)]);
        return cell;
    }
    std::optional<std::string> titleForHeader(TableView&, long s) override {
        if (static_cast<size_t>(s) < headers.size()) return headers[static_cast<size_t>(s)];
        return std::nullopt;
    }
    bool canEditRow(TableView&, IndexPath) override { return editable; }
    bool canMoveRow(TableView&, IndexPath ip) override { return movable && ip.row != 0; }
    void moveRow(TableView&, IndexPath from, IndexPath to) override {
        auto& src = model[static_cast<size_t>(from.section)];
        std::string v = src[static_cast<size_t>(from.row)];
        src.erase(src.begin() + from.row);
        auto& dst = model[static_cast<size_t>(to.section)];
        dst.insert(dst.begin() + to.row, v);
        log.push_back("move " + describe(from) + "->" + describe(to));
    }
    void commitEditingStyle(TableView& t, CellEditingStyle style, IndexPath ip) override {
        log.push_back(std::string("commit ") + (style == CellEditingStyle::Delete ? "delete " : "insert ") +
                      describe(ip));
        if (style != CellEditingStyle::Delete) return;
        auto& sec = model[static_cast<size_t>(ip.section)];
        sec.erase(sec.begin() + ip.row);
        t.deleteRows({ip});
    }
    std::optional<IndexPath> willSelectRow(TableView&, IndexPath ip) override {
        log.push_back("willSelect " + describe(ip));
        if (ip.row == 6) return std::nullopt;
        if (ip.row == 4) return IndexPath{ip.section, 5};
        return ip;
    }
    void didSelectRow(TableView&, IndexPath ip) override { log.push_back("didSelect " + describe(ip)); }
    std::optional<IndexPath> willDeselectRow(TableView&, IndexPath ip) override {
        log.push_back("willDeselect " + describe(ip));
        return ip;
    }
    void didDeselectRow(TableView&, IndexPath ip) override { log.push_back("didDeselect " + describe(ip)); }
    void didHighlightRow(TableView&, IndexPath ip) override { log.push_back("highlight " + describe(ip)); }
    void didUnhighlightRow(TableView&, IndexPath ip) override { log.push_back("unhighlight " + describe(ip)); }
    IndexPath targetIndexPathForMove(TableView&, IndexPath, IndexPath proposed) override {
        // Row 0 is pinned: nothing moves above it.
        return proposed.row == 0 ? IndexPath{proposed.section, 1} : proposed;
    }
    void willBeginEditingRow(TableView&, IndexPath ip) override { log.push_back("beginEditing " + describe(ip)); }
    void didEndEditingRow(TableView&, std::optional<IndexPath> ip) override {
        log.push_back("endEditing " + (ip ? describe(*ip) : std::string("-")));
    }
    Log take() {
        Log out = log;
        log.clear();
        return out;
    }
};

std::vector<std::string> numbered(int n, const std::string& prefix = "Row ") {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(prefix + std::to_string(i));
    return out;
}

std::vector<std::string> visibleTexts(TableView& t) {
    std::vector<std::string> out;
    for (auto& c : t.visibleCells()) out.push_back(describe(*c->indexPath()) + "=" + c->textLabel().text());
    return out;
}

}  // namespace

TEST(ToolkitTable, OnlyVisibleRowsHaveCellsAndScrolledOffCellsAreReused) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<ListController>(std::vector<std::vector<std::string>>{numbered(100)});
    h.setRoot(list);
    TableView& t = *list->tableView();
    // The status bar's 20 points are inset; the content starts below it.
    EXPECT_EQ(t.contentOffset(), Point(0, -20));
    EXPECT_EQ(t.contentSize(), Size(375, 4400));
    // y from -20 to 647: rows 0 to 14.
    EXPECT_EQ(t.indexPathsForVisibleRows().size(), 15u);
    EXPECT_EQ(list->made, 15);
    EXPECT_EQ(t.cellForRow({0, 15}), nullptr) << "rows below the screen have no cell";
    EXPECT_EQ(t.rectForRow({0, 15}), Rect(0, 660, 375, 44)) << "but they have their place";

    h.scroll(t, {0, 440});
    EXPECT_EQ(t.contentOffset(), Point(0, 420));
    // 420 to 1087: rows 9 to 24; rows 0 to 8 went to the queue and came back for 15 to 23.
    auto rows = t.indexPathsForVisibleRows();
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows.front(), (IndexPath{0, 9}));
    EXPECT_EQ(rows.back(), (IndexPath{0, 24}));
    EXPECT_EQ(list->made, 16) << "nine reused cells and one new";
    EXPECT_EQ(t.queuedCellCount("row"), 0u);
    EXPECT_EQ(t.cellForRow({0, 3}), nullptr);
    EXPECT_EQ(t.cellForRow({0, 24})->textLabel().text(), "Row 24");
    for (auto& c : t.visibleCells()) EXPECT_EQ(c->frame(), t.rectForRow(*c->indexPath()));
    EXPECT_EQ(t.indexPathForRowAtPoint({10, 1099}), (IndexPath{0, 24}));
    EXPECT_EQ(t.indexPathForRowAtPoint({10, 1100}), (IndexPath{0, 25}));
    EXPECT_FALSE(t.indexPathForRowAtPoint({10, 4400}));
    EXPECT_FALSE(t.indexPathForRowAtPoint({-1, 100}));

    // Scrolling to a row puts it where asked, within the content's range.
    t.scrollToRow({0, 50}, ScrollPosition::Top, false);
    EXPECT_EQ(t.contentOffset().y, 50 * 44 - 20);
    t.scrollToRow({0, 99}, ScrollPosition::Top, false);
    EXPECT_EQ(t.contentOffset().y, 4400 - 667) << "the last rows cannot reach the top";
    t.scrollToRow({0, 50}, ScrollPosition::Middle, false);
    EXPECT_EQ(t.contentOffset().y, 50 * 44 + 22 - 20 - (667 - 20) / 2.0);
    h.settle();
    EXPECT_NE(t.cellForRow({0, 50}), nullptr);
}

TEST(ToolkitTable, SelectionAsksTheDelegateAndIsDroppedByReloads) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<ListController>(std::vector<std::vector<std::string>>{numbered(10)});
    h.setRoot(list);
    TableView& t = *list->tableView();
    EXPECT_TRUE(h.selectRow(t, {0, 2}));
    EXPECT_EQ(list->take(), (Log{"highlight s0r2", "unhighlight s0r2", "willSelect s0r2", "didSelect s0r2"}));
    EXPECT_TRUE(t.cellForRow({0, 2})->isSelected());
    EXPECT_TRUE(h.selectRow(t, {0, 3}));
    EXPECT_EQ(list->take(), (Log{"highlight s0r3", "unhighlight s0r3", "willSelect s0r3", "willDeselect s0r2",
                                 "didDeselect s0r2", "didSelect s0r3"}));
    EXPECT_FALSE(t.cellForRow({0, 2})->isSelected());
    // The delegate redirects row 4 to row 5 and refuses row 6.
    h.selectRow(t, {0, 4});
    EXPECT_EQ(t.indexPathForSelectedRow(), (IndexPath{0, 5}));
    h.selectRow(t, {0, 6});
    EXPECT_EQ(t.indexPathForSelectedRow(), (IndexPath{0, 5}));
    list->take();
    // In code: no delegate calls.
    t.selectRow(IndexPath{0, 1}, false);
    t.deselectRow({0, 1}, false);
    t.selectRow(IndexPath{0, 1}, false);
    EXPECT_EQ(list->take(), Log{});
    EXPECT_EQ(t.indexPathsForSelectedRows(), (std::vector<IndexPath>{{0, 1}}));

    t.reloadRows({{0, 2}});
    EXPECT_EQ(t.indexPathForSelectedRow(), (IndexPath{0, 1})) << "reloading another row keeps the selection";
    t.reloadRows({{0, 1}});
    EXPECT_FALSE(t.indexPathForSelectedRow()) << "a reloaded row loses its selection";
    t.selectRow(IndexPath{0, 7}, false);
    list->model[0][7] = "Seven";
    t.reloadData();
    h.settle();
    EXPECT_FALSE(t.indexPathForSelectedRow()) << "reloadData drops the selection";
    EXPECT_EQ(t.cellForRow({0, 7})->textLabel().text(), "Seven");
    for (auto& c : t.visibleCells()) EXPECT_FALSE(c->isSelected());

    // Multiple selection toggles; no selection ignores taps; a covered row takes no tap.
    t.allowsMultipleSelection = true;
    h.selectRow(t, {0, 1});
    h.selectRow(t, {0, 2});
    h.selectRow(t, {0, 1});
    EXPECT_EQ(t.indexPathsForSelectedRows(), (std::vector<IndexPath>{{0, 2}}));
    t.allowsSelection = false;
    list->take();
    h.selectRow(t, {0, 3});
    EXPECT_EQ(list->take(), Log{});
    t.allowsSelection = true;
    auto cover = std::make_shared<View>(Rect(0, 0, 375, 667));
    h.window().addSubview(cover);
    EXPECT_FALSE(h.selectRow(t, {0, 8}));
    EXPECT_EQ(list->take(), Log{});
}

TEST(ToolkitTable, BatchUpdatesCarrySelectionAndCellsWithTheirRows) {
    struct Case {
        std::string name;
        std::vector<std::vector<std::string>> model;
        IndexPath selected;
        std::function<void(ListController&, TableView&)> update;
        bool ok;
        std::optional<IndexPath> selectedAfter;
        int newCellRequests;
    };
    auto erase = [](std::vector<std::string>& v, long i) { v.erase(v.begin() + i); };
    std::vector<Case> cases = {
        {"delete two, then insert one above",
         {numbered(10)},
         {0, 5},
         [&](ListController& l, TableView& t) {
             erase(l.model[0], 2), erase(l.model[0], 1);
             t.deleteRows({{0, 1}, {0, 2}});
             l.model[0].insert(l.model[0].begin(), "New");
             t.insertRows({{0, 0}});
         },
         true,
         IndexPath{0, 4},
         1},
        {"the same as one batch",
         {numbered(10)},
         {0, 5},
         [&](ListController& l, TableView& t) {
             erase(l.model[0], 2), erase(l.model[0], 1);
             l.model[0].insert(l.model[0].begin(), "New");
             EXPECT_TRUE(t.performBatchUpdates([&] {
                              t.insertRows({{0, 0}});
                              t.deleteRows({{0, 1}, {0, 2}});
                          }).ok());
         },
         true,
         IndexPath{0, 4},
         1},
        {"the selected row deleted",
         {numbered(10)},
         {0, 5},
         [&](ListController& l, TableView& t) {
             erase(l.model[0], 5);
             t.deleteRows({{0, 5}});
         },
         true,
         std::nullopt,
         0},
        {"a section inserted before",
         {numbered(3), numbered(3, "B")},
         {1, 2},
         [&](ListController& l, TableView& t) {
             l.model.insert(l.model.begin(), std::vector<std::string>{"Fresh"});
             t.insertSections({0});
         },
         true,
         IndexPath{2, 2},
         1},
        {"the section before deleted",
         {numbered(3), numbered(3, "B")},
         {1, 2},
         [&](ListController& l, TableView& t) {
             l.model.erase(l.model.begin());
             t.deleteSections({0});
         },
         true,
         IndexPath{0, 2},
         0},
        {"a move past the selection",
         {numbered(10)},
         {0, 5},
         [&](ListController& l, TableView& t) {
             std::string v = l.model[0][1];
             erase(l.model[0], 1);
             l.model[0].insert(l.model[0].begin() + 7, v);
             t.moveRow({0, 1}, {0, 7});
         },
         true,
         IndexPath{0, 4},
         0},
        {"counts that do not add up",
         {numbered(10)},
         {0, 5},
         [&](ListController& l, TableView& t) {
             erase(l.model[0], 0), erase(l.model[0], 0);
             EXPECT_FALSE(t.performBatchUpdates([&] { t.deleteRows({{0, 0}}); }).ok());
         },
         false,
         std::nullopt,
         8},
        {"a row out of range",
         {numbered(10)},
         {0, 5},
         [&](ListController& l, TableView& t) {
             l.model[0].push_back("Extra");
             EXPECT_FALSE(t.performBatchUpdates([&] { t.insertRows({{0, 12}}); }).ok());
         },
         false,
         std::nullopt,
         11},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(ScreenProfile::iPhone8(), 15);
        auto list = std::make_shared<ListController>(c.model);
        h.setRoot(list);
        TableView& t = *list->tableView();
        t.selectRow(c.selected, false);
        std::map<std::string, TableViewCell*> before;
        for (auto& cell : t.visibleCells()) before[cell->textLabel().text()] = cell.get();
        int requests = list->cellRequests;
        c.update(*list, t);
        h.settle();
        EXPECT_EQ(t.indexPathForSelectedRow(), c.selectedAfter);
        EXPECT_EQ(list->cellRequests - requests, c.newCellRequests);
        // Every row shows its model entry at its place, and surviving rows keep their cells.
        for (long s = 0; s < t.numberOfSections(); ++s) {
            ASSERT_EQ(t.numberOfRows(s), static_cast<long>(list->model[static_cast<size_t>(s)].size()));
            for (long r = 0; r < t.numberOfRows(s); ++r) {
                auto cell = t.cellForRow({s, r});
                ASSERT_NE(cell, nullptr);
                const std::string& text = list->model[static_cast<size_t>(s)][static_cast<size_t>(r)];
                EXPECT_EQ(cell->textLabel().text(), text);
                EXPECT_EQ(cell->frame(), t.rectForRow({s, r}));
                EXPECT_EQ(cell->isSelected(), (c.selectedAfter == IndexPath{s, r}));
                if (c.ok && before.count(text)) {
                    EXPECT_EQ(cell.get(), before[text]) << text;
                }
            }
        }
    }
}

TEST(ToolkitTable, EditingDeletesThroughTheConfirmationAndMovesRespectTheTarget) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<ListController>(std::vector<std::vector<std::string>>{numbered(5)});
    list->editable = true;
    list->movable = true;
    h.setRoot(list);
    TableView& t = *list->tableView();
    list->setEditing(true, false);
    h.settle();
    EXPECT_EQ(t.cellForRow({0, 0})->outlineState(), "editing-delete");
    EXPECT_EQ(t.cellForRow({0, 1})->outlineState(), "editing-delete, reorder");
    EXPECT_FALSE(h.selectRow(t, {0, 1}) && t.indexPathForSelectedRow()) << "no selection while editing";

    // Moving row 3 to the top lands below the pinned row 0.
    EXPECT_TRUE(t.userMoveRow({0, 3}, {0, 0}));
    EXPECT_EQ(list->model[0], (std::vector<std::string>{"Row 0", "Row 3", "Row 1", "Row 2", "Row 4"}));
    EXPECT_FALSE(t.userMoveRow({0, 0}, {0, 3})) << "row 0 cannot move";
    h.settle();
    EXPECT_EQ(visibleTexts(t),
              (std::vector<std::string>{"s0r0=Row 0", "s0r1=Row 3", "s0r2=Row 1", "s0r3=Row 2", "s0r4=Row 4"}));
    list->take();
    // The minus shows the confirmation; its Delete commits.
    auto minus = t.cellForRow({0, 2})->subviews();
    View* control = nullptr;
    for (auto& v : minus)
        if (v->accessibilityLabel() == "Delete") control = v.get();
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(h.tap(*control));
    EXPECT_EQ(t.swipedRow(), (IndexPath{0, 2}));
    EXPECT_TRUE(h.tapSwipeAction("Delete"));
    EXPECT_EQ(list->take(), (Log{"beginEditing s0r2", "commit delete s0r2", "endEditing s0r2"}));
    EXPECT_EQ(list->model[0], (std::vector<std::string>{"Row 0", "Row 3", "Row 2", "Row 4"}));
    EXPECT_EQ(t.numberOfRows(0), 4);
    list->setEditing(false, false);
    h.settle();
    EXPECT_EQ(t.cellForRow({0, 1})->outlineState(), "");
}

namespace {
class SwipeList : public ListController {
public:
    using ListController::ListController;
    int mode = 0;  // 0 configurations, 1 legacy row actions, 2 nothing (the default delete)
    std::optional<SwipeActionsConfigurationPtr> trailingSwipeActions(TableView&, IndexPath ip) override {
        if (mode != 0) return std::nullopt;
        auto del = ContextualAction::make(ContextualActionStyle::Destructive, "Delete",
                                          [this, ip](ContextualAction&, View&, ContextualAction::Completion done) {
                                              log.push_back("handler Delete " + describe(ip));
                                              done(false);
                                          });
        auto archive =
            ContextualAction::make(ContextualActionStyle::Normal, "Archive",
                                   [this, ip](ContextualAction&, View& source, ContextualAction::Completion done) {
                                       log.push_back("handler Archive " + describe(ip) + " from " + source.className());
                                       done(true);
                                   });
        auto cfg = SwipeActionsConfiguration::make({del, archive});
        cfg->performsFirstActionWithFullSwipe = false;
        return cfg;
    }
    std::optional<SwipeActionsConfigurationPtr> leadingSwipeActions(TableView&, IndexPath ip) override {
        if (mode != 0) return std::nullopt;
        if (ip.row == 0) return SwipeActionsConfiguration::make({});
        return SwipeActionsConfiguration::make({ContextualAction::make(
            ContextualActionStyle::Normal, "Star", [this](ContextualAction&, View&, ContextualAction::Completion done) {
                log.push_back("handler Star");
                done(true);
            })});
    }
    std::optional<std::vector<TableViewRowActionPtr>> editActionsForRow(TableView& t, IndexPath) override {
        if (mode != 1) return std::nullopt;
        return std::vector<TableViewRowActionPtr>{
            TableViewRowAction::make(
                RowActionStyle::Normal, "More",
                [this](TableViewRowAction&, IndexPath ip) { log.push_back("More " + describe(ip)); }),
            TableViewRowAction::make(RowActionStyle::Destructive, "Remove",
                                     [this, &t](TableViewRowAction&, IndexPath ip) {
                                         log.push_back("Remove " + describe(ip));
                                         t.setEditing(false);
                                     })};
    }
};
}  // namespace

TEST(ToolkitTable, SwipesRevealConfiguredLegacyOrDefaultActions) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<SwipeList>(std::vector<std::vector<std::string>>{numbered(5)});
    list->editable = true;
    h.setRoot(list);
    TableView& t = *list->tableView();

    EXPECT_EQ(h.swipeRow(t, {0, 1}, SwipeEdge::Trailing), (std::vector<std::string>{"Delete", "Archive"}));
    EXPECT_EQ(t.contentOffset().y, -20) << "a sideways swipe does not scroll";
    hxtest::expectOutline(h, "table_swiped_row");
    EXPECT_TRUE(h.tapSwipeAction("Archive"));
    // The row lights up under the finger until the swipe takes the touch over.
    EXPECT_EQ(list->take(), (Log{"highlight s0r1", "unhighlight s0r1", "beginEditing s0r1",
                                 "handler Archive s0r1 from SwipeActionsView", "endEditing s0r1"}));
    EXPECT_FALSE(t.swipedRow());
    // A handler that reports nothing done still puts the row back.
    h.swipeRow(t, {0, 2}, SwipeEdge::Trailing);
    h.tapSwipeAction("Delete");
    EXPECT_EQ(list->take(), (Log{"highlight s0r2", "unhighlight s0r2", "beginEditing s0r2", "handler Delete s0r2",
                                 "endEditing s0r2"}));
    // The row's text slides aside by the actions' width, whichever edge they come from, and back
    // when they go.
    auto textX = [&](long row) {
        auto& label = t.cellForRow(IndexPath{0, row})->textLabel();
        return label.convertPointTo(Point{0, 0}, nullptr).x;
    };
    const double restingX = textX(2);
    h.swipeRow(t, {0, 2}, SwipeEdge::Trailing);
    ASSERT_EQ(h.findAll("SwipeActionsView").size(), 1u);
    const double actionsWidth = h.findAll("SwipeActionsView").front()->bounds().width();
    // Two actions of 74 points at least, a title that needs more given 15 on either side.
    EXPECT_GT(actionsWidth, 148);
    EXPECT_EQ(textX(2), restingX - actionsWidth) << "by the actions' width";
    EXPECT_EQ(textX(1), restingX) << "the other rows stay";
    h.tapSwipeAction("Delete");
    EXPECT_EQ(textX(2), restingX);
    EXPECT_EQ(h.swipeRow(t, {0, 2}, SwipeEdge::Leading), (std::vector<std::string>{"Star"}));
    EXPECT_EQ(textX(2), restingX + 74);
    // A tap on the row while actions show only hides them.
    h.selectRow(t, {0, 2});
    EXPECT_FALSE(t.indexPathForSelectedRow());
    EXPECT_EQ(textX(2), restingX);
    EXPECT_TRUE(h.swipeRow(t, {0, 0}, SwipeEdge::Leading).empty()) << "an empty configuration shows nothing";
    list->take();

    list->mode = 1;
    EXPECT_EQ(h.swipeRow(t, {0, 3}, SwipeEdge::Trailing), (std::vector<std::string>{"More", "Remove"}));
    h.tapSwipeAction("More");
    EXPECT_EQ(t.swipedRow(), (IndexPath{0, 3})) << "legacy actions leave the row swiped";
    h.tapSwipeAction("Remove");
    EXPECT_FALSE(t.swipedRow());
    EXPECT_EQ(list->take(), (Log{"highlight s0r3", "unhighlight s0r3", "beginEditing s0r3", "More s0r3", "Remove s0r3",
                                 "endEditing s0r3"}));
    EXPECT_TRUE(h.swipeRow(t, {0, 3}, SwipeEdge::Leading).empty()) << "legacy actions are trailing only";

    list->mode = 2;
    EXPECT_EQ(h.swipeRow(t, {0, 4}, SwipeEdge::Trailing), (std::vector<std::string>{"Delete"}));
    h.tapSwipeAction("Delete");
    EXPECT_EQ(list->model[0].size(), 4u);
    list->editable = false;
    EXPECT_TRUE(h.swipeRow(t, {0, 1}, SwipeEdge::Trailing).empty()) << "rows that cannot be edited do not swipe";
}

namespace {
// Actions with an image (a red square, 30 points) and a title.
class ImageSwipeList : public ListController {
public:
    using ListController::ListController;
    std::optional<SwipeActionsConfigurationPtr> trailingSwipeActions(TableView&, IndexPath) override {
        auto context = graphics::GraphicsContext::image({30, 30}, false, 2);
        if (!context.ok()) return std::nullopt;
        (*context)->setFillColor(Color::systemRed());
        (*context)->fillRect(Rect(0, 0, 30, 30));
        auto action =
            ContextualAction::make(ContextualActionStyle::Normal, "Archive",
                                   [](ContextualAction&, View&, ContextualAction::Completion done) { done(true); });
        action->image = (*context)->makeImage();
        auto plain =
            ContextualAction::make(ContextualActionStyle::Normal, "Mark",
                                   [](ContextualAction&, View&, ContextualAction::Completion done) { done(true); });
        return SwipeActionsConfiguration::make({action, plain});
    }
};
}  // namespace

TEST(ToolkitTable, ActionTitlesAreWhiteAndAnActionWithAnImageShowsItsTitleOnlyUnderItInATallRow) {
    struct Case {
        double rowHeight;
        bool titleDrawn;
    } cases[] = {{44, false}, {90, false}, {91, true}, {180, true}};
    for (const auto& c : cases) {
        Harness h(ScreenProfile::iPhone8(), 15);
        auto list = std::make_shared<ImageSwipeList>(std::vector<std::vector<std::string>>{numbered(3)});
        h.setRoot(list);
        TableView& t = *list->tableView();
        t.setRowHeight(c.rowHeight);
        h.settle();
        // Named by their titles either way, and tapped by them.
        ASSERT_EQ(h.swipeRow(t, {0, 0}, SwipeEdge::Trailing), (std::vector<std::string>{"Archive", "Mark"}))
            << c.rowHeight;
        auto panels = h.findAll("SwipeActionsView");
        ASSERT_EQ(panels.size(), 1u);
        auto& imaged = dynamic_cast<Button&>(*panels[0]->subviews().at(0));
        auto& plain = dynamic_cast<Button&>(*panels[0]->subviews().at(1));
        EXPECT_EQ(plain.titleLabel()->text(), "Mark");
        EXPECT_EQ(plain.titleColorForState(kStateNormal), Color::whiteColor());
        EXPECT_EQ(imaged.accessibilityLabel(), "Archive");
        // The image is shown, centred across the button, whether or not the title is drawn.
        const Rect image = imaged.currentImage() ? imaged.imageView()->frame() : imaged.subviews().back()->frame();
        EXPECT_EQ(image.size, (Size{30, 30})) << c.rowHeight;
        EXPECT_DOUBLE_EQ(image.midX(), imaged.bounds().midX()) << c.rowHeight;
        if (!c.titleDrawn) {
            EXPECT_EQ(imaged.titleLabel()->text(), "") << c.rowHeight;
            EXPECT_DOUBLE_EQ(image.midY(), imaged.bounds().midY()) << c.rowHeight;
        } else {
            EXPECT_EQ(imaged.titleLabel()->text(), "Archive") << c.rowHeight;
            EXPECT_EQ(imaged.titleColorForState(kStateNormal), Color::whiteColor());
            // Image and title are stacked, the pair centred in the row.
            const Rect title = imaged.titleLabel()->frame();
            EXPECT_GE(title.minY(), image.maxY() - 0.01) << c.rowHeight;
            EXPECT_NEAR((image.minY() + title.maxY()) / 2, imaged.bounds().midY(), 0.5) << c.rowHeight;
        }
        EXPECT_TRUE(h.tapSwipeAction("Archive")) << c.rowHeight;
        EXPECT_FALSE(t.swipedRow()) << c.rowHeight;
    }
}

namespace {
class MenuList : public ListController {
public:
    using ListController::ListController;
    std::shared_ptr<ViewController> preview = std::make_shared<ViewController>();
    ContextMenuConfigurationPtr contextMenuConfiguration(TableView&, IndexPath ip, Point) override {
        if (ip.row == 0) return nullptr;
        log.push_back("menu " + describe(ip));
        return ContextMenuConfiguration::make(
            describe(ip), [this] { return preview; },
            [this, ip](const std::vector<MenuElementPtr>&) {
                auto copy = MenuAction::make("Copy", nullptr, [this](MenuAction&) { log.push_back("Copy"); });
                auto call = MenuAction::make("Call", nullptr, [this](MenuAction&) { log.push_back("Call"); });
                auto text = MenuAction::make("Message", nullptr, {}, kMenuElementDisabled);
                auto hidden = MenuAction::make("Secret", nullptr, {}, kMenuElementHidden);
                auto block = MenuAction::make(
                    "Block", nullptr, [this, ip](MenuAction&) { log.push_back("Block " + describe(ip)); },
                    kMenuElementDestructive);
                return Menu::make(
                    "", {copy, Menu::make("", {call, text, hidden}, kMenuDisplayInline), Menu::make("More", {block})});
            });
    }
    void willPerformPreviewAction(TableView&, ContextMenuConfiguration& c, ContextMenuCommitAnimator& a) override {
        log.push_back("commit " + c.identifier);
        a.preferredCommitStyle = PreviewCommitStyle::Pop;
        auto vc = a.previewViewController();
        a.addCompletion([this, vc] {
            log.push_back("completion");
            navigationController()->pushViewController(vc, false);
        });
    }
    void contextMenuWillEnd(TableView&, ContextMenuConfiguration& c) override { log.push_back("end " + c.identifier); }
};
}  // namespace

TEST(ToolkitTable, ContextMenusOfferTheirActionsAndCommitThePreview) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<MenuList>(std::vector<std::vector<std::string>>{numbered(5)});
    auto nav = std::make_shared<NavigationController>(list);
    h.setRoot(nav);
    TableView& t = *list->tableView();
    EXPECT_EQ(h.openContextMenu(t, {0, 0}), nullptr);
    EXPECT_EQ(t.indexPathForSelectedRow(), (IndexPath{0, 0})) << "without a menu a long touch is a tap";
    list->take();
    auto session = h.openContextMenu(t, {0, 2});
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(t.indexPathForSelectedRow(), (IndexPath{0, 0})) << "the menu's long press does not select";
    EXPECT_EQ(session->preview, list->preview);
    EXPECT_EQ(session->menu->displayTitles(),
              (std::vector<std::string>{"Copy", "-", "Call", "Message", "-", "More >"}));
    EXPECT_FALSE(t.performContextMenuAction("Message")) << "disabled";
    EXPECT_FALSE(t.performContextMenuAction("Secret")) << "hidden";
    EXPECT_TRUE(t.performContextMenuAction("Block"));
    EXPECT_EQ(t.contextMenuSession(), nullptr);
    Log log = list->take();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(Log(log.end() - 2, log.end()), (Log{"end s0r2", "Block s0r2"})) << "the menu goes before the action";

    h.openContextMenu(t, {0, 3});
    list->take();
    t.commitContextMenuPreview();
    EXPECT_EQ(list->take(), (Log{"commit s0r3", "end s0r3"}));
    h.settle();
    EXPECT_EQ(list->take(), (Log{"completion"}));
    EXPECT_EQ(nav->topViewController(), list->preview.get());
}

TEST(ToolkitTable, StylesPlaceHeadersRowsAndFooters) {
    struct Case {
        TableViewStyle style;
        double rowX, rowWidth;
        Rect header0, row0, footer0, header1;
    };
    // Section 0 has a title, section 1 none; both have two rows.
    Case cases[] = {
        {TableViewStyle::Plain, 0, 375, Rect(0, 0, 375, 28), Rect(0, 28, 375, 44), Rect(0, 116, 375, 0),
         Rect(0, 116, 375, 0)},
        {TableViewStyle::Grouped, 0, 375, Rect(0, 0, 375, 38), Rect(0, 38, 375, 44), Rect(0, 126, 375, 18),
         Rect(0, 144, 375, 18)},
        {TableViewStyle::InsetGrouped, 16, 343, Rect(0, 0, 375, 38), Rect(16, 38, 343, 44), Rect(0, 126, 375, 18),
         Rect(0, 144, 375, 18)},
    };
    for (auto& c : cases) {
        Harness h(ScreenProfile::iPhone8(), 15);
        auto list =
            std::make_shared<ListController>(std::vector<std::vector<std::string>>{numbered(2), numbered(2)}, c.style);
        list->headers = {"Favorites"};
        h.setRoot(list);
        TableView& t = *list->tableView();
        SCOPED_TRACE(static_cast<int>(c.style));
        EXPECT_EQ(t.rectForHeader(0), c.header0);
        EXPECT_EQ(t.rectForRow({0, 0}), c.row0);
        EXPECT_EQ(t.rectForFooter(0), c.footer0);
        EXPECT_EQ(t.rectForHeader(1), c.header1);
        EXPECT_EQ(t.rectForRow({9, 0}), Rect{}) << "no such section";
        ASSERT_NE(t.headerView(0), nullptr);
        EXPECT_EQ(t.headerView(0)->outlineText(), "Favorites");
        EXPECT_EQ(t.cellForRow({1, 1})->frame().origin.x, c.rowX);
    }
    // The inset-grouped screen as the outline shows it.
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<ListController>(
        std::vector<std::vector<std::string>>{{"Ring back", "Direct"}, {"Sign out"}}, TableViewStyle::InsetGrouped);
    list->headers = {"Calls"};
    h.setRoot(list);
    TableView& t = *list->tableView();
    t.cellForRow({0, 0})->setAccessoryType(CellAccessoryType::Checkmark);
    t.cellForRow({0, 1})->setAccessoryType(CellAccessoryType::DisclosureIndicator);
    t.cellForRow({0, 1})->detailTextLabel()->setText("Over the network");
    t.cellForRow({0, 0})->setNeedsLayout();
    t.cellForRow({0, 1})->setNeedsLayout();
    t.selectRow(IndexPath{1, 0}, false);
    hxtest::expectOutline(h, "table_inset_grouped");
}

TEST(ToolkitTable, ControllerClearsTheSelectionWhenItAppearsAgain) {
    for (bool clears : {true, false}) {
        Harness h(ScreenProfile::iPhone8(), 15);
        auto list = std::make_shared<ListController>(std::vector<std::vector<std::string>>{numbered(5)});
        list->clearsSelectionOnViewWillAppear = clears;
        auto nav = std::make_shared<NavigationController>(list);
        h.setRoot(nav);
        TableView& t = *list->tableView();
        EXPECT_EQ(t.contentOffset().y, -64) << "below the status and navigation bars";
        h.selectRow(t, {0, 1});
        nav->pushViewController(std::make_shared<ViewController>(), false);
        h.settle();
        nav->popViewController(false);
        h.settle();
        EXPECT_EQ(t.indexPathForSelectedRow().has_value(), !clears);
    }
}

namespace {
struct ScrollLog : ScrollViewDelegate {
    Log log;
    std::shared_ptr<View> zoomed;
    bool allowTop = true;
    void scrollViewDidScroll(ScrollView&) override {
        if (log.empty() || log.back() != "scroll") log.push_back("scroll");
    }
    void scrollViewWillBeginDragging(ScrollView&) override { log.push_back("willBeginDragging"); }
    void scrollViewWillEndDragging(ScrollView&, Point, Point* target) override {
        log.push_back("willEndDragging " + describe(*target));
    }
    void scrollViewDidEndDragging(ScrollView&, bool decelerate) override {
        log.push_back(std::string("didEndDragging ") + (decelerate ? "decelerate" : "stop"));
    }
    void scrollViewWillBeginDecelerating(ScrollView&) override { log.push_back("willBeginDecelerating"); }
    void scrollViewDidEndDecelerating(ScrollView&) override { log.push_back("didEndDecelerating"); }
    void scrollViewDidEndScrollingAnimation(ScrollView&) override { log.push_back("didEndScrollingAnimation"); }
    View* viewForZooming(ScrollView&) override { return zoomed.get(); }
    void scrollViewDidZoom(ScrollView& s) override { log.push_back("zoom " + std::to_string(s.zoomScale())); }
    bool scrollViewShouldScrollToTop(ScrollView&) override { return allowTop; }
    void scrollViewDidScrollToTop(ScrollView&) override { log.push_back("didScrollToTop"); }
    Log take() {
        Log out = log;
        log.clear();
        return out;
    }
};
}  // namespace

TEST(ToolkitScroll, DragsBounceAndSettleOnTheVirtualClock) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto sv = std::make_shared<ScrollView>(Rect(0, 100, 375, 400));
    sv->contentInsetAdjustmentBehavior = ContentInsetAdjustment::Never;
    sv->setContentSize({375, 1000});
    auto d = std::make_shared<ScrollLog>();
    sv->delegate = d;
    root->view()->addSubview(sv);
    h.settle();
    EXPECT_EQ(sv->maximumContentOffset(), Point(0, 600));

    Animations::setTimed(true);
    h.scroll(*sv, {0, 200});
    EXPECT_EQ(sv->contentOffset(), Point(0, 200));
    EXPECT_EQ(d->take(), (Log{"willBeginDragging", "scroll", "willEndDragging (0, 200)", "didEndDragging stop"}));
    // Past the top: half the distance while dragging, then back to the edge over 0.3 s.
    h.scroll(*sv, {0, -400});
    EXPECT_EQ(sv->contentOffset(), Point(0, 0));
    EXPECT_TRUE(sv->isDecelerating());
    EXPECT_EQ(d->take(), (Log{"willBeginDragging", "scroll", "willEndDragging (0, 0)", "didEndDragging decelerate",
                              "willBeginDecelerating", "scroll"}));
    h.advance(0.29);
    EXPECT_TRUE(sv->isDecelerating());
    h.advance(0.02);
    EXPECT_FALSE(sv->isDecelerating());
    EXPECT_EQ(d->take(), (Log{"didEndDecelerating"}));
    Animations::setTimed(false);

    // Without bouncing the edge holds; sideways drags do not move a vertical scroller.
    sv->bounces = false;
    h.scroll(*sv, {0, -100});
    EXPECT_EQ(sv->contentOffset(), Point(0, 0));
    h.scroll(*sv, {100, 0});
    EXPECT_EQ(sv->contentOffset(), Point(0, 0));
    d->take();
    // In code nothing is clamped; visible-rectangle scrolls are.
    sv->setContentOffset({0, -500});
    EXPECT_EQ(sv->contentOffset(), Point(0, -500));
    sv->scrollRectToVisible(Rect(0, 900, 10, 50), false);
    EXPECT_EQ(sv->contentOffset(), Point(0, 550));
    sv->scrollRectToVisible(Rect(0, 990, 10, 50), false);
    EXPECT_EQ(sv->contentOffset(), Point(0, 600));
    sv->setContentOffset({0, 100}, true);
    h.settle();
    EXPECT_EQ(d->take(), (Log{"scroll", "didEndScrollingAnimation"}));
    EXPECT_FALSE(sv->isScrollEnabled() == false);
    sv->setScrollEnabled(false);
    h.scroll(*sv, {0, 100});
    EXPECT_EQ(sv->contentOffset(), Point(0, 100));

    // Zoom stays within its limits and resizes the content.
    d->zoomed = std::make_shared<View>(Rect(0, 0, 375, 1000));
    sv->addSubview(d->zoomed);
    sv->minimumZoomScale = 0.5;
    sv->maximumZoomScale = 3;
    sv->setZoomScale(5);
    EXPECT_EQ(sv->zoomScale(), 3);
    EXPECT_EQ(sv->contentSize(), Size(1125, 3000));
    EXPECT_EQ(d->zoomed->frame(), Rect(0, 0, 1125, 3000));
    sv->setZoomScale(0.1);
    EXPECT_EQ(sv->zoomScale(), 0.5);
    EXPECT_EQ(d->take(), (Log{"zoom 3.000000", "zoom 0.500000"}));
}

TEST(ToolkitScroll, StatusBarTapsAndPullToRefresh) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<ListController>(std::vector<std::vector<std::string>>{numbered(40)});
    h.setRoot(list);
    TableView& t = *list->tableView();
    auto d = std::make_shared<ScrollLog>();
    t.delegate = d;
    t.setContentOffset({0, 500});
    EXPECT_TRUE(h.tapStatusBar());
    EXPECT_EQ(t.contentOffset().y, -20);
    EXPECT_EQ(d->take(), (Log{"scroll", "didScrollToTop"}));
    d->allowTop = false;
    t.setContentOffset({0, 500});
    EXPECT_FALSE(h.tapStatusBar());
    d->allowTop = true;
    // Two candidates: neither scrolls.
    auto other = std::make_shared<ScrollView>(Rect(0, 0, 10, 10));
    t.addSubview(other);
    EXPECT_FALSE(h.tapStatusBar());
    other->scrollsToTop = false;
    EXPECT_TRUE(h.tapStatusBar());

    auto refresh = std::make_shared<RefreshControl>();
    refresh->attributedTitle = "Checking for messages";
    int pulls = 0;
    refresh->addAction([&](Control& c, const Event*) { pulls += &c == refresh.get(); }, kValueChanged);
    list->setRefreshControl(refresh);
    h.pullToRefresh(t);
    EXPECT_EQ(pulls, 1);
    EXPECT_TRUE(refresh->isRefreshing());
    EXPECT_EQ(t.contentInset().top, 60);
    EXPECT_EQ(t.contentOffset().y, -80) << "the content rests below the spinning control";
    h.pullToRefresh(t);
    EXPECT_EQ(pulls, 1) << "no second start while refreshing";
    refresh->endRefreshing();
    h.settle();
    EXPECT_EQ(t.contentInset().top, 0);
    EXPECT_EQ(t.contentOffset().y, -20);
    refresh->beginRefreshing();
    EXPECT_EQ(pulls, 1) << "starting in code sends nothing";
    refresh->endRefreshing();
    h.scroll(t, {0, -50});
    EXPECT_EQ(pulls, 1) << "a short pull does not refresh";
}
