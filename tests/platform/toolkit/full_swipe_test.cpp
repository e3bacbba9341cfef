// Full swipes through the harness: dragging a row all the way across performs its first swipe
// action only where the configuration allows it; legacy row actions never go all the way.
#include <gtest/gtest.h>

#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

enum class Source { Configuration, Legacy, DefaultDelete };

class SwipeRows : public TableViewController {
public:
    Source source = Source::Configuration;
    bool allowFull = true;
    bool completeAtOnce = true;
    std::vector<std::string> rows{"A", "B", "C", "D"};
    Log log;
    ContextualAction::Completion pending;

    long numberOfRows(TableView&, long) override { return static_cast<long>(rows.size()); }
    TableViewCellPtr cellForRow(TableView& t, IndexPath ip) override {
        auto cell = t.dequeueReusableCell("row");
        if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
        cell->textLabel().setText(rows[static_cast<size_t>(ip.row)]);
        return cell;
    }
    bool canEditRow(TableView&, IndexPath) override { return true; }
    void commitEditingStyle(TableView& t, CellEditingStyle, IndexPath ip) override {
        log.push_back("commit delete " + rows[static_cast<size_t>(ip.row)]);
        rows.erase(rows.begin() + ip.row);
        t.deleteRows({ip});
    }
    ContextualActionPtr action(const std::string& title) {
        return ContextualAction::make(ContextualActionStyle::Normal, title,
                                      [this, title](ContextualAction&, View&, ContextualAction::Completion done) {
                                          log.push_back(title);
                                          if (completeAtOnce)
                                              done(true);
                                          else
                                              pending = std::move(done);
                                      });
    }
    std::optional<SwipeActionsConfigurationPtr> configuration(std::vector<std::string> titles) {
        if (source != Source::Configuration) return std::nullopt;
        std::vector<ContextualActionPtr> actions;
        for (auto& t : titles) actions.push_back(action(t));
        auto cfg = SwipeActionsConfiguration::make(actions);
        cfg->performsFirstActionWithFullSwipe = allowFull;
        return cfg;
    }
    std::optional<SwipeActionsConfigurationPtr> trailingSwipeActions(TableView&, IndexPath) override {
        return configuration({"Delete", "Archive", "Call"});
    }
    std::optional<SwipeActionsConfigurationPtr> leadingSwipeActions(TableView&, IndexPath) override {
        return configuration({"Mark as Read"});
    }
    std::optional<std::vector<TableViewRowActionPtr>> editActionsForRow(TableView&, IndexPath) override {
        if (source != Source::Legacy) return std::nullopt;
        return std::vector<TableViewRowActionPtr>{
            TableViewRowAction::make(RowActionStyle::Destructive, "Remove",
                                     [this](TableViewRowAction&, IndexPath) { log.push_back("Remove"); })};
    }
    void willBeginEditingRow(TableView&, IndexPath) override { log.push_back("begin"); }
    void didEndEditingRow(TableView&, std::optional<IndexPath>) override { log.push_back("end"); }
};

}  // namespace

TEST(ToolkitFullSwipe, PerformsTheFirstActionOnlyWhereTheConfigurationAllowsIt) {
    struct Case {
        const char* name;
        Source source;
        bool allowFull;
        SwipeEdge edge;
        bool full;
        Log log;
        std::vector<std::string> showing;  // actions still shown after the swipe
    };
    const std::vector<Case> cases = {
        {"full trailing, allowed",
         Source::Configuration,
         true,
         SwipeEdge::Trailing,
         true,
         {"begin", "Delete", "end"},
         {}},
        {"full leading, allowed",
         Source::Configuration,
         true,
         SwipeEdge::Leading,
         true,
         {"begin", "Mark as Read", "end"},
         {}},
        {"full trailing, refused",
         Source::Configuration,
         false,
         SwipeEdge::Trailing,
         true,
         {"begin"},
         {"Delete", "Archive", "Call"}},
        {"full leading, refused", Source::Configuration, false, SwipeEdge::Leading, true, {"begin"}, {"Mark as Read"}},
        {"partial, allowed",
         Source::Configuration,
         true,
         SwipeEdge::Trailing,
         false,
         {"begin"},
         {"Delete", "Archive", "Call"}},
        {"legacy row actions", Source::Legacy, true, SwipeEdge::Trailing, true, {"begin"}, {"Remove"}},
        {"the table's own delete",
         Source::DefaultDelete,
         true,
         SwipeEdge::Trailing,
         true,
         {"begin", "commit delete B", "end"},
         {}},
        {"the table's own delete, partial",
         Source::DefaultDelete,
         true,
         SwipeEdge::Trailing,
         false,
         {"begin"},
         {"Delete"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(ScreenProfile::iPhone8(), 15);
        auto list = std::make_shared<SwipeRows>();
        list->source = c.source;
        list->allowFull = c.allowFull;
        h.setRoot(list);
        TableView& t = *list->tableView();
        EXPECT_EQ(h.swipeRow(t, {0, 1}, c.edge, c.full), c.showing);
        EXPECT_EQ(list->log, c.log);
        EXPECT_EQ(t.swipedRow().has_value(), !c.showing.empty());
        EXPECT_EQ(t.contentOffset().y, -20) << "a sideways swipe does not scroll";
    }
}

TEST(ToolkitFullSwipe, TheRowStaysOpenUntilTheHandlerCompletes) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<SwipeRows>();
    list->completeAtOnce = false;
    h.setRoot(list);
    TableView& t = *list->tableView();
    h.swipeRow(t, {0, 2}, SwipeEdge::Trailing, true);
    EXPECT_EQ(list->log, (Log{"begin", "Delete"}));
    EXPECT_EQ(t.swipedRow(), (IndexPath{0, 2})) << "the handler has not answered yet";
    ASSERT_TRUE(list->pending);
    list->pending(false);
    EXPECT_FALSE(t.swipedRow()) << "an answer, even 'not done', puts the row back";
    EXPECT_EQ(list->log.back(), "end");

    // Called in code, the full swipe answers what it performed.
    list->completeAtOnce = true;
    list->log.clear();
    EXPECT_EQ(t.fullSwipe({0, 0}, SwipeEdge::Leading), "Mark as Read");
    list->allowFull = false;
    EXPECT_EQ(t.fullSwipe({0, 0}, SwipeEdge::Leading), std::nullopt);
    EXPECT_EQ(list->log, (Log{"begin", "Mark as Read", "end", "begin"}));
}

// The swipe acts on the row under the finger where it began, even when the table moves under the
// finger before it lifts (settling after a scroll, or reloaded): not on the row that has come to
// lie under the finger's starting point by then, some 200 points away.
TEST(ToolkitFullSwipe, ActsOnTheRowUnderTheFingerWhereTheSwipeBegan) {
    struct Rows : SwipeRows {
        std::optional<SwipeActionsConfigurationPtr> trailingSwipeActions(TableView& t, IndexPath ip) override {
            log.push_back("row " + rows[static_cast<size_t>(ip.row)]);
            return SwipeRows::trailingSwipeActions(t, ip);
        }
    };
    Harness h(ScreenProfile::iPhoneSE());
    auto rows = std::make_shared<Rows>();
    rows->rows.clear();
    for (int i = 0; i < 40; ++i) rows->rows.push_back("R" + std::to_string(i));
    h.setRoot(rows);
    h.settle();
    auto& table = *rows->tableView();
    table.setContentOffset({0, 200}, false);
    h.settle();
    const Rect r = table.rectForRow(IndexPath{0, 10});
    const Point start = table.convertPointTo({r.maxX() - 20, r.midY()}, nullptr);
    auto& window = h.window();
    const int id = window.touchDown(start);
    h.advance(0.01);
    for (int step = 1; step <= 3; ++step) {
        window.touchMove(id, {start.x - 30.0 * step, start.y});
        h.advance(0.01);
    }
    // The table moves under the finger (about five rows) before the finger goes on and lifts.
    table.setContentOffset({0, 200 + 5 * r.height()}, false);
    for (int step = 4; step <= 10; ++step) {
        window.touchMove(id, {start.x - 30.0 * step, start.y});
        h.advance(0.01);
    }
    window.touchUp(id);
    h.settle();
    ASSERT_FALSE(rows->log.empty());
    EXPECT_EQ(rows->log.front(), "row R10") << ::testing::PrintToString(rows->log);
}
