// The message lists' rows against plain table cells: 1,000 conversations shown through a pool of
// twelve reused cells, each configured, laid out at 375 points and drawn at 2x, text measured and
// drawn with the bundled fonts. The plain cells show the same name and message from a vector, so
// the difference is what the row derives (name, count, status, direction, picture) and draws.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

#include "bench/bench_scratch.h"
#include "model/cache.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/graphics/graphics_context.h"
#include "platform/store/context.h"
#include "platform/store/coordinator.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/window.h"
#include "ui/messages/message_list_table_view_cell.h"

namespace {

constexpr int kRows = 1000;
constexpr int kPool = 12;

const hxbench::ScratchFolder scratchFolder("hx-cells-bench");

struct Rows {
    std::filesystem::path home;
    store::ContextPtr context;
    std::vector<store::ManagedObjectPtr> conversations;
    std::vector<std::pair<std::string, std::string>> plain;
    Rows() {
        home = scratchFolder.path() / "home";
        std::filesystem::create_directories(home);
        foundation::setHomeDirectory(home);
        auto coordinator = store::Coordinator::create(HXMessageStore::managedObjectModel());
        (void)coordinator->addPersistentStore((home / "rows.sqlite").string(), HXMessageStore::storeOptions(0));
        context = store::Context::create(store::ConcurrencyType::MainQueue);
        context->setPersistentStoreCoordinator(coordinator);
        const int types[] = {10, 11, 2, 0, 1, 7};
        for (int i = 0; i < kRows; ++i) {
            auto c = context->insertNewObject("HX_Conversation").value();
            const std::string n = std::to_string(i);
            (void)c->setValue("conversationID", "c" + n);
            (void)c->setValue("type", types[i % 6]);
            (void)c->setValue("isRead", i % 3 != 0);
            (void)c->setValue("isStarred", i % 7 == 0);
            (void)c->setValue("phoneNumber", "+1555" + n);
            (void)c->setValue("formattedNumber", "(555) 01-" + n);
            (void)c->setValue("ABName", "Contact " + n + "\xC2\xA0(mobile)");
            (void)c->setValue("numberOfMessages", i % 20);
            (void)c->setValue("lastMessageText", "See you tomorrow at the station, bring the tickets please " + n);
            conversations.push_back(c);
            plain.emplace_back("Contact " + n, "See you tomorrow at the station, bring the tickets please " + n);
        }
        MessageListTableViewCell::setContactImageCache(HXCCache::create("BenchPictures", home));
    }
    ~Rows() {
        MessageListTableViewCell::setContactImageCache(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
};

template <typename Cell, typename Show>
void showAll(benchmark::State& state, std::vector<std::shared_ptr<Cell>>& pool, Show show) {
    auto context = graphics::GraphicsContext::image({375, 90}, true, 2).value();
    for (auto _ : state) {
        for (int i = 0; i < kRows; ++i) {
            auto& cell = pool[static_cast<size_t>(i % kPool)];
            show(*cell, i);
            cell->setFrame(toolkit::Rect(0, 0, 375, cell->fittingHeight(375)));
            cell->layoutIfNeeded();
            for (int pass = 0; pass < 2; ++pass) toolkit::renderView(*cell, *context);
        }
        benchmark::DoNotOptimize(context->pixels().data());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_MessageListCells(benchmark::State& state) {
    dispatch::ScopedVirtualClock clock;
    toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared());
    {
        Rows rows;
        toolkit::Window window(toolkit::ScreenProfile::iPhone8());
        std::vector<std::shared_ptr<MessageListTableViewCell>> pool;
        for (int i = 0; i < kPool; ++i) {
            pool.push_back(i % 2 ? makeHistoryTableCell() : makeMessageTableCell());
            window.addSubview(pool.back());
        }
        showAll(state, pool, [&](MessageListTableViewCell& cell, int i) {
            cell.configure(rows.conversations[static_cast<size_t>(i)], {0, i}, "Wednesday", {});
            if (i % kPool == kPool - 1) clock->runUntilIdle();  // the picture lookups answer
        });
    }
    toolkit::setTextMeasurer(nullptr);
}
BENCHMARK(BM_MessageListCells)->Unit(benchmark::kMillisecond);

void BM_PlainCells(benchmark::State& state) {
    toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared());
    {
        Rows rows;
        toolkit::Window window(toolkit::ScreenProfile::iPhone8());
        std::vector<std::shared_ptr<toolkit::TableViewCell>> pool;
        for (int i = 0; i < kPool; ++i) {
            pool.push_back(std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Subtitle, "Plain"));
            window.addSubview(pool.back());
        }
        showAll(state, pool, [&](toolkit::TableViewCell& cell, int i) {
            const auto& [name, message] = rows.plain[static_cast<size_t>(i)];
            cell.textLabel().setText(name);
            cell.detailTextLabel()->setText(message);
        });
    }
    toolkit::setTextMeasurer(nullptr);
}
BENCHMARK(BM_PlainCells)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
