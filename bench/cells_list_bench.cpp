// The SMS list screen as it scrolls: 1,000 text conversations in the account's store, shown by the
// list screen over its list model in a navigation controller, scrolled in 10-point steps, each
// step laid out and the window drawn at 2x with the bundled fonts (ms_per_step). Beside it the same
// scroll over a plain table whose subtitle cells show the same name and message from a vector.
// And the list's fetch (the SMS list's predicate and order over the store, every row's fields
// read as the rows read them) beside one prepared SQLite SELECT of the same rows and columns. Each
// pair prints its ratio and checks that both sides read the same rows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <unistd.h>

#include "app/connect_app_delegate.h"
#include "bench/bench_app_home.h"
#include "bench/bench_ratio.h"
#include "bench/bench_scratch.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/foundation/files.h"
#include "platform/graphics/graphics_context.h"
#include "platform/store/context.h"
#include "platform/store/fetched_results_controller.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "service/message_list_model.h"
#include "ui/messages/vc_messages.h"

namespace {

constexpr int kRows = 1000;
constexpr int kStepsPerIteration = 200;
constexpr double kStep = 10;
constexpr const char* kUser = "bench@example.test";

const hxbench::ScratchFolder scratchFolder("hx-cells-list-bench");

std::string nameOf(int i) { return "Contact " + std::to_string(i); }
std::string textOf(int i) { return "See you tomorrow at the station, bring the tickets please " + std::to_string(i); }

// The app home, an account and its store of 1,000 text conversations, newest first by index.
struct Store : hxbench::SignedInHome {
    Store() : SignedInHome(scratchFolder.path(), kUser) {
        auto context = app->managedObjectContext();
        context->performAndWait([&] {
            for (int i = 0; i < kRows; ++i) {
                auto c = context->insertNewObject("HX_Conversation").value();
                const std::string n = std::to_string(i);
                (void)c->setValue("conversationID", "c" + n);
                (void)c->setValue("type", i % 2 ? 10 : 11);
                (void)c->setValue("isRead", i % 3 != 0);
                (void)c->setValue("isStarred", i % 7 == 0);
                (void)c->setValue("phoneNumber", "+1555" + n);
                (void)c->setValue("formattedNumber", "(555) 01-" + n);
                (void)c->setValue("ABName", nameOf(i) + "\xC2\xA0(mobile)");
                (void)c->setValue("sender", nameOf(i));
                (void)c->setValue("numberOfMessages", 1 + i % 20);
                (void)c->setValue("lastMessageText", textOf(i));
                (void)c->setValue("lastdate", foundation::Date{1'700'000'000.0 - 600.0 * i});
            }
            (void)context->save();
        });
    }
    std::string path() const {
        return (foundation::documentsDirectory() / (std::string("MessageData-") + kUser + ".sqlite")).string();
    }
};

class PlainList : public toolkit::TableViewController {
public:
    long numberOfRows(toolkit::TableView&, long) override { return kRows; }
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override {
        auto cell = table.dequeueReusableCell("Plain");
        if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Subtitle, "Plain");
        const auto& [name, message] = rows_[static_cast<size_t>(indexPath.row)];
        cell->textLabel().setText(name);
        cell->detailTextLabel()->setText(message);
        return cell;
    }
    PlainList() {
        for (int i = 0; i < kRows; ++i) rows_.emplace_back(nameOf(i), textOf(i));
    }

private:
    std::vector<std::pair<std::string, std::string>> rows_;
};

// Scrolls the table down in 10-point steps, back to the top at its end; each step lays the window
// out and draws it at 2x.
void scroll(benchmark::State& state, toolkit::testing::Harness& harness, toolkit::TableView& table) {
    const auto size = harness.window().bounds().size;
    auto context = graphics::GraphicsContext::image({size.width, size.height}, true, 2).value();
    const double top = -table.adjustedContentInset().top;
    double y = top;
    long steps = 0;
    for (auto _ : state) {
        for (int i = 0; i < kStepsPerIteration; ++i) {
            const double bottom =
                table.contentSize().height - table.bounds().height() + table.adjustedContentInset().bottom;
            y = y + kStep > bottom ? top : y + kStep;
            table.setContentOffset({0, y}, false);
            harness.window().layoutIfNeeded();
            toolkit::renderView(harness.window(), *context);
        }
        steps += kStepsPerIteration;
        harness.clock().runUntilIdle();  // the rows' picture lookups answer
        benchmark::DoNotOptimize(context->pixels().data());
    }
    state.counters["per_step"] =
        benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(steps);
}

void BM_SMSListScroll(benchmark::State& state) {
    toolkit::testing::Harness harness;
    toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared());
    {
        Store store;
        auto model = std::make_shared<HXMessageListModel>(
            store.app, HXMessageListModel::smsViewSettings("https://voice.test/voice/"));
        auto screen = std::make_shared<VC_Messages>(model);
        harness.setRoot(std::make_shared<toolkit::NavigationController>(screen));
        harness.settle();
        if (screen->tableView()->numberOfRows(0) != kRows) state.SkipWithError("the list does not hold the rows");
        scroll(state, harness, *screen->tableView());
        harness.setRoot(nullptr);
        harness.settle();
    }
    toolkit::setTextMeasurer(nullptr);
}
BENCHMARK(BM_SMSListScroll)->Unit(benchmark::kMillisecond);

void BM_PlainListScroll(benchmark::State& state) {
    toolkit::testing::Harness harness;
    toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared());
    {
        auto list = std::make_shared<PlainList>();
        harness.setRoot(std::make_shared<toolkit::NavigationController>(list));
        harness.settle();
        scroll(state, harness, *list->tableView());
        harness.setRoot(nullptr);
        harness.settle();
    }
    toolkit::setTextMeasurer(nullptr);
}
BENCHMARK(BM_PlainListScroll)->Unit(benchmark::kMillisecond);

// The SMS list's fetch: its predicate and order, then each row's fields as the row reads them.
void BM_SMSListFetch(benchmark::State& state) {
    dispatch::ScopedVirtualClock clock;
    Store store;
    auto model = std::make_shared<HXMessageListModel>(store.app,
                                                      HXMessageListModel::smsViewSettings("https://voice.test/voice/"));
    size_t read = 0;
    // The first fetch prepares the list's statement and leaves the planner its statistics, as the
    // floor's preparation (and its statistics) come before its timing.
    model->filterTable(HXMessageListModel::FilterSender::Other);
    for (auto _ : state) {
        model->filterTable(HXMessageListModel::FilterSender::Other);
        auto controller = model->fetchedResultsController();
        for (const auto& c : controller->fetchedObjects()) {
            read += c->value("ABName").stringValue().size() + c->value("lastMessageText").stringValue().size();
            benchmark::DoNotOptimize(c->value("lastdate"));
        }
    }
    state.counters["rows"] = static_cast<double>(model->fetchedResultsController()->fetchedObjects().size());
    benchmark::DoNotOptimize(read);
}
BENCHMARK(BM_SMSListFetch)->Unit(benchmark::kMillisecond);

// The floor: one prepared SELECT of the same rows and columns from the store's file.
void BM_PreparedSelect(benchmark::State& state) {
    dispatch::ScopedVirtualClock clock;
    Store store;
    sqlite3* db = nullptr;
    // The statistics the store gathers once it has read a sorted list (the list's first fetch):
    // with them SQLite reads the rows in the date index's order on both sides, without a sort.
    if (sqlite3_open_v2(store.path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "ANALYZE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        state.SkipWithError("cannot gather the statistics");
        sqlite3_close(db);
        return;
    }
    sqlite3_close(db);
    db = nullptr;
    if (sqlite3_open_v2(store.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        state.SkipWithError("no store file");
        sqlite3_close(db);
        return;
    }
    std::string table;
    {
        sqlite3_stmt* names = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table' AND name LIKE '%Conversation%'", -1,
                           &names, nullptr);
        if (names && sqlite3_step(names) == SQLITE_ROW)
            table = reinterpret_cast<const char*>(sqlite3_column_text(names, 0));
        sqlite3_finalize(names);
    }
    sqlite3_stmt* select = nullptr;
    const std::string sql = "SELECT * FROM \"" + table + "\" WHERE type IN (10, 11) ORDER BY lastdate DESC";
    if (table.empty() || sqlite3_prepare_v2(db, sql.c_str(), -1, &select, nullptr) != SQLITE_OK) {
        state.SkipWithError(("cannot select: " + std::string(sqlite3_errmsg(db))).c_str());
        sqlite3_close(db);
        return;
    }
    // The plan a careful hand-writer checks: the date index in order, no temporary tree to sort in.
    {
        sqlite3_stmt* explain = nullptr;
        std::string plan;
        sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &explain, nullptr);
        while (explain && sqlite3_step(explain) == SQLITE_ROW)
            plan += reinterpret_cast<const char*>(sqlite3_column_text(explain, 3)) + std::string("; ");
        sqlite3_finalize(explain);
        if (plan.find("TEMP B-TREE") != std::string::npos) state.SkipWithError(("the select sorts: " + plan).c_str());
    }
    size_t rows = 0, read = 0;
    for (auto _ : state) {
        rows = 0;
        while (sqlite3_step(select) == SQLITE_ROW) {
            ++rows;
            for (int col = 0; col < sqlite3_column_count(select); ++col) {
                if (sqlite3_column_type(select, col) == SQLITE_TEXT)
                    read += static_cast<size_t>(sqlite3_column_bytes(select, col));
                else
                    benchmark::DoNotOptimize(sqlite3_column_double(select, col));
            }
        }
        sqlite3_reset(select);
    }
    state.counters["rows"] = static_cast<double>(rows);
    benchmark::DoNotOptimize(read);
    sqlite3_finalize(select);
    sqlite3_close(db);
}
BENCHMARK(BM_PreparedSelect)->Unit(benchmark::kMillisecond);

}  // namespace

HX_BENCH_MAIN_WITH_RATIOS({{"BM_SMSListScroll", "BM_PlainListScroll", 0, true, {}, {"per_step"}},
                           {"BM_SMSListFetch", "BM_PreparedSelect", 1.3, true, {"rows"}}});
