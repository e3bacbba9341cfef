// A list of 100, 1,000, 10,000 and 50,000 threads (10 items each) parsed and stored as the message
// list does it, beside the floor of the same work done by hand in the same run: the foundation's
// JSON parser and plain SQLite prepared inserts of the same rows, on the same schema. The list
// comes in pages of the most threads one reply may have stored (the list reads ten times its page
// of a reply, no more), each page parsed and saved in turn on both sides (the floor: one
// transaction a page). Both sides report what they stored, checked equal, the wall and CPU time
// per message, the peak resident memory (VmHWM) and how far their first run rose above its start.
// The scale rows print, below the pairs, the heap at 50,000 threads over the floor's (goal 2x) and
// the CPU per message at 50,000 threads over the same at 1,000, for the store (goal 1.3x) and the
// floor.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "app/connect_app_delegate.h"
#include "bench/bench_heap.h"
#include "bench/bench_ratio.h"
#include "bench/bench_scratch.h"
#include "emulator/emulator.h"
#include "emulator/service_routes.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/services/search_index.h"
#include "platform/store/coordinator.h"
#include "service/message_list_model.h"
#include "service/thread_list_reply.h"

namespace {

using foundation::Value;

const hxbench::ScratchFolder scratchFolder("hx-websvc-bench");

// The reply for `threads` threads of 10 items. Attachments are left out: the parse would start a
// download for each (after the rows are saved, on the main thread), and what the benchmarks name
// is the parse and the store, beside a floor that downloads nothing.
const std::string& reply(int threads) {
    static std::map<int, std::string> replies;
    auto [it, added] = replies.try_emplace(threads);
    if (!added) return it->second;
    emulator::GeneratorOptions o;
    o.seed = 1000;
    o.smsThreads = threads;
    o.itemsPerThread = 10;
    emulator::Account account = emulator::generateAccount(o);
    for (auto& thread : account.threads)
        for (auto& item : thread.items) item.attachments.clear();
    emulator::Emulator service(std::move(account));
    // The service answers 1,000 threads at most per page: larger replies join its pages.
    nlohmann::json joined = {{"thread", nlohmann::json::array()}};
    int64_t bound = 0;
    while (static_cast<int>(joined["thread"].size()) < threads) {
        const int want = std::min(1000, threads - static_cast<int>(joined["thread"].size()));
        emulator::RecordedRequest request;
        request.method = "POST";
        request.target = "/voice/v1/voiceclient/api2thread/list?alt=json";
        request.path = "/voice/v1/voiceclient/api2thread/list";
        request.body = "[2," + std::to_string(want) + ",10," + std::to_string(bound) + ",null,[null,true,true]]";
        request.headers = {{"Authorization", "Bearer " + service.issueAccessToken()}};
        auto page = nlohmann::json::parse(emulator::routeServiceRequest(service, request).body);
        if (!page.contains("thread") || page["thread"].empty()) break;
        for (auto& thread : page["thread"]) {
            // The next page: strictly older than this thread's newest item, by a whole second.
            bound = std::stoll(thread["item"][0]["startTime"].get<std::string>()) - 1000;
            joined["thread"].push_back(std::move(thread));
        }
    }
    it->second = joined.dump();
    return it->second;
}

// The list of `threads` threads as the pages a list reply may bring whole: as many threads as the
// list's bound stores of one reply.
using Pages = std::vector<std::shared_ptr<const foundation::Data>>;
const Pages& pages(int threads) {
    static std::map<int, Pages> cache;
    auto [it, added] = cache.try_emplace(threads);
    if (!added) return it->second;
    const size_t perPage = HXThreadListBounds::forPage(kHXListPageThreads, kHXListPageItems).threads;
    auto all = nlohmann::json::parse(reply(threads))["thread"];
    for (size_t first = 0; first < all.size(); first += perPage) {
        nlohmann::json page = {{"thread", nlohmann::json::array()}};
        for (size_t i = first; i < std::min(all.size(), first + perPage); ++i) page["thread"].push_back(all[i]);
        const std::string bytes = page.dump();
        it->second.push_back(std::make_shared<const foundation::Data>(bytes.begin(), bytes.end()));
    }
    return it->second;
}

double wallMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Per-message costs, for the flatness of the scale rows, and a run's wall time beyond the CPU time
// of the whole process: what it spent off every processor (the disk's flushes, hand-offs between
// threads that wait on each other), on both sides alike.
void perMessage(benchmark::State& state, double wallTotalMs, double cpuTotalMs, size_t messages) {
    const double runs = static_cast<double>(state.iterations()), n = messages ? static_cast<double>(messages) : 1;
    state.counters["wall_us_per_message"] = wallTotalMs * 1e3 / runs / n;
    state.counters["cpu_us_per_message"] = cpuTotalMs * 1e3 / runs / n;
    state.counters["off_cpu_ms"] = (wallTotalMs - cpuTotalMs) / runs;
}

// The program's allocator's control call, when it has one (jemalloc's; the C library's has none).
using Mallctl = int (*)(const char*, void*, size_t*, void*, size_t);
Mallctl allocatorControl() {
    static const auto control = reinterpret_cast<Mallctl>(::dlsym(RTLD_DEFAULT, "mallctl"));
    return control;
}

// Bytes the program has allocated and not freed.
size_t allocatedBytes() {
    if (Mallctl mallctl = allocatorControl()) {
        uint64_t epoch = 1;
        size_t size = sizeof(epoch);
        mallctl("epoch", &epoch, &size, &epoch, size);  // the statistics are read afresh
        size_t allocated = 0;
        size = sizeof(allocated);
        if (mallctl("stats.allocated", &allocated, &size, nullptr, 0) == 0) return allocated;
    }
    return ::mallinfo2().uordblks;
}

// Resets the peak to the current resident size and returns that size, so a benchmark can report
// how far above its start it went.
double resetPeak() {
    // What earlier work freed goes back to the system first, so that it does not hide this
    // benchmark's own growth: the allocator purges its arenas (4096: every arena), and the C
    // library's heap is trimmed.
    if (Mallctl mallctl = allocatorControl()) mallctl("arena.4096.purge", nullptr, nullptr, nullptr, 0);
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    return hxbench::statusMiB("VmHWM:");
}

double peakMiB() { return hxbench::statusMiB("VmHWM:"); }

// How far the resident size rose above its start during a benchmark's first run, which starts
// from a purged allocator. Later runs reuse what earlier ones freed, which an allocator may still
// hold for a while, so only the first says what one run needs. The resident size moves by whole
// pages and by what the allocator keeps, so the first run's work (from `working` on) also has its
// heap counted at every allocation and free: the most it held above its start, in the same bytes
// on both sides of a pair.
class FirstRunPeak {
public:
    FirstRunPeak() : start_(resetPeak()) {}
    void working() {
        if (growth_ < 0 && !counting_) hxbench::openHeapWindow(), counting_ = true;
    }
    void ran() {
        if (growth_ >= 0) return;
        if (counting_) heapKiB_ = static_cast<double>(hxbench::closeHeapWindow()) / 1024.0;
        growth_ = peakMiB() - start_;
    }
    double growth() const { return growth_; }
    // Reported as both, with the resident growth (MiB) and the heap's peak growth (KiB).
    void report(benchmark::State& state) const {
        state.counters["peak_growth_MiB"] = growth_;
        state.counters["heap_peak_growth_KiB"] = heapKiB_;
    }

private:
    double start_;
    double growth_ = -1;
    bool counting_ = false;
    double heapKiB_ = 0;
};

// CPU time of the whole process (every thread), in milliseconds: the parse and the save run on
// threads of their own, so a loaded machine shows in the wall time but not here.
double processCPUms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void runListParseIntoStore(benchmark::State& state);

void BM_ListParseIntoStore(benchmark::State& state) { runListParseIntoStore(state); }

// The same on a device that offers no search index (the save then feeds none): what the index's
// share of the work is, beside the floor that keeps no index.
void BM_ListParseIntoStoreWithoutSearchIndex(benchmark::State& state) {
    services::SearchableIndex::setIndexingAvailable(false);
    runListParseIntoStore(state);
    services::SearchableIndex::setIndexingAvailable(true);
}

void runListParseIntoStore(benchmark::State& state) {
    const std::string& bytes = reply(static_cast<int>(state.range(0)));
    dispatch::ScopedVirtualClock clock(1'760'000'100.0);
    dispatch::RunLoop::main();
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    auto account = std::make_shared<HX_Account>();
    account->setUsername("bench@example.test");
    account->setAuthV2(std::string("AuthV2"));
    app->setAccount(account);
    app->setMessageParsingQueue(dispatch::Queue::serial("com.hxconnect.messageparser.queue"));
    auto list =
        std::make_shared<HXMessageListModel>(app, HXMessageListModel::smsViewSettings("https://voice.test/voice/"));
    std::atomic<int> saved{0};
    foundation::NotificationCenter::defaultCenter().addObserver(&saved, "kOlderConversationMessagesLoadedNotification",
                                                                [&](const foundation::Notification&) { ++saved; });
    const Pages& list_pages = pages(static_cast<int>(state.range(0)));
    size_t stored = 0, conversations = 0;
    double cpuMs = 0, wallTotal = 0;
    FirstRunPeak peak;
    for (auto _ : state) {
        state.PauseTiming();
        if (!app->resetPersistentStore().ok()) state.SkipWithError("no store");
        state.ResumeTiming();
        peak.working();
        const double cpu = processCPUms(), wall = wallMs();
        for (const auto& page : list_pages) {
            const int before = saved;
            list->parseMessagesFromData_v2(page, 0, {});
            if (!clock->runUntil([&] { return saved > before; }, 600)) state.SkipWithError("the parse never saved");
        }
        cpuMs += processCPUms() - cpu;
        wallTotal += wallMs() - wall;
        peak.ran();
    }
    state.counters["process_cpu_ms"] = cpuMs / static_cast<double>(state.iterations());
    state.counters["peak_MiB"] = peakMiB();
    peak.report(state);
    auto context = app->managedObjectContext();
    context->performAndWait([&] {
        stored = context->count(store::FetchRequest(HXMessageStore::kMessageEntity)).value();
        conversations = context->count(store::FetchRequest(HXMessageStore::kConversationEntity)).value();
    });
    state.counters["messages"] = static_cast<double>(stored);
    state.counters["conversations"] = static_cast<double>(conversations);
    state.counters["pages"] = static_cast<double>(list_pages.size());
    perMessage(state, wallTotal, cpuMs, stored);
    state.counters["reply_KiB"] = static_cast<double>(bytes.size()) / 1024.0;
    foundation::NotificationCenter::defaultCenter().removeObserver(&saved);
    clock->runUntilIdle();
}

void BM_JsonAndRawSqliteFloor(benchmark::State& state) {
    const Pages& list_pages = pages(static_cast<int>(state.range(0)));
    const std::string path = (scratchFolder.path() / "floor.sqlite").string();
    size_t messages = 0, conversations = 0;
    double cpuMs = 0, wallTotal = 0;
    FirstRunPeak peak;
    for (auto _ : state) {
        state.PauseTiming();
        (void)store::Coordinator::destroyPersistentStore(path);
        {
            auto coordinator = store::Coordinator::create(HXMessageStore::managedObjectModel());
            (void)coordinator->addPersistentStore(path, HXMessageStore::storeOptions());
        }
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        state.ResumeTiming();
        peak.working();
        const double cpu = processCPUms(), wall = wallMs();
        messages = conversations = 0;
        for (const auto& page : list_pages) {
            // The whole page is held, as a plain parse holds it.
            std::vector<Value> threads;
            foundation::JSONArraySink sink{[&] { threads.clear(); },
                                           [&](Value& thread) { threads.push_back(std::move(thread)); }};
            if (!foundation::parseJSON(std::string_view(reinterpret_cast<const char*>(page->data()), page->size()),
                                       "thread", sink)
                     .ok()) {
                state.SkipWithError("bad reply");
                break;
            }
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            sqlite3_stmt* conv = nullptr;
            sqlite3_stmt* msg = nullptr;
            sqlite3_prepare_v2(db,
                               "INSERT INTO HX_Conversation (conversationID, isRead, isSpam, isStarred, isTrash, "
                               "isArchived, lastdate, lastMessageText, phoneNumber, sender, type, numberOfMessages) "
                               "VALUES (?, ?, 0, 0, 0, 0, ?, ?, ?, ?, ?, ?)",
                               -1, &conv, nullptr);
            sqlite3_prepare_v2(db,
                               "INSERT INTO HX_Message (id, message, length, number, \"from\", date, "
                               "isIndexedForSearch, Conversation) VALUES (?, ?, ?, ?, ?, '', 0, ?)",
                               -1, &msg, nullptr);
            for (const Value& thread : threads) {
                const auto& items = thread["item"].asArray();
                const Value& contact = thread["contact"].asArray().back();
                sqlite3_bind_text(conv, 1, thread["id"].asString().c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(conv, 2, thread["read"].boolValue());
                sqlite3_bind_double(conv, 3, std::stod(items.front()["startTime"].asString()) / 1000);
                sqlite3_bind_text(conv, 4, items.front()["messageText"].stringValue().c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(conv, 5, contact["phoneNumber"].stringValue().c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(conv, 6, contact["name"].stringValue().c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(conv, 7, items.back()["type"].asString() == "smsOut" ? 11 : 10);
                sqlite3_bind_int(conv, 8, static_cast<int>(items.size()));
                sqlite3_step(conv);
                sqlite3_reset(conv);
                ++conversations;
                const int64_t owner = sqlite3_last_insert_rowid(db);
                for (const Value& item : items) {
                    sqlite3_bind_text(msg, 1, item["id"].asString().c_str(), -1, SQLITE_TRANSIENT);
                    sqlite3_bind_text(msg, 2, item["messageText"].stringValue().c_str(), -1, SQLITE_TRANSIENT);
                    sqlite3_bind_text(msg, 3, "0 seconds", -1, SQLITE_STATIC);
                    sqlite3_bind_int64(msg, 4, std::stoll(item["startTime"].asString()));
                    sqlite3_bind_int(msg, 5, item["type"].asString() == "smsOut");
                    sqlite3_bind_int64(msg, 6, owner);
                    sqlite3_step(msg);
                    sqlite3_reset(msg);
                    ++messages;
                }
            }
            sqlite3_finalize(conv);
            sqlite3_finalize(msg);
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        }
        cpuMs += processCPUms() - cpu;
        wallTotal += wallMs() - wall;
        state.PauseTiming();
        sqlite3_close(db);
        peak.ran();
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = peakMiB();
    peak.report(state);
    state.counters["messages"] = static_cast<double>(messages);
    state.counters["conversations"] = static_cast<double>(conversations);
    state.counters["pages"] = static_cast<double>(list_pages.size());
    state.counters["process_cpu_ms"] = cpuMs / static_cast<double>(state.iterations());
    perMessage(state, wallTotal, cpuMs, messages);
    (void)store::Coordinator::destroyPersistentStore(path);
}

// The main thread's share of a list parse: the reply's bytes read into typed records (parse, copy
// out, free the tree), without the store.
void BM_ReadThreadList(benchmark::State& state) {
    const std::string& bytes = reply(static_cast<int>(state.range(0)));
    size_t threads = 0;
    FirstRunPeak peak;
    for (auto _ : state) {
        auto read = HXReadThreadList(std::string_view(bytes));
        if (!read.ok()) {
            state.SkipWithError("bad reply");
            break;
        }
        threads = read.value().threads.size();
        benchmark::DoNotOptimize(read);
        peak.ran();
    }
    state.counters["threads"] = static_cast<double>(threads);
    state.counters["peak_growth_MiB"] = peak.growth();
}

// The search items a save of `threads` threads makes, shaped as the app makes them: one per text
// message, every item with the same content type and account, the conversation's domain, a title
// per conversation and direction, the message's text.
std::vector<services::SearchableItem> searchItems(int threads) {
    const std::string username = "bench@example.test";
    const std::string encodedUser = "bench%40example.test", domainUser = "benchexampletest";
    std::vector<services::SearchableItem> items;
    // Read from a shared tree (copied out), so that the items' strings lie in memory the same way
    // whatever the reader of owned bytes does.
    auto parsed = foundation::parseJSON(reply(threads));
    auto read = HXReadThreadList(parsed.value());
    for (const auto& thread : read.threads) {
        const std::string domain = domainUser + "." + thread.id;
        const std::string name = thread.contactName.empty() ? thread.contactPhoneNumber : thread.contactName;
        const std::string titles[2] = {"SMS from " + name, "SMS to " + name};
        for (const auto& item : thread.items) {
            services::SearchableItemAttributeSet set{services::kContentTypeMessage, username,
                                                     titles[item.type == "smsOut" ? 1 : 0],
                                                     item.messageText.value_or(""), false};
            items.push_back(
                {thread.id + "." + std::to_string(item.startTime) + "." + encodedUser, domain, std::move(set)});
        }
    }
    return items;
}

// A save's feed of the search index: every item of a 10,000-thread list (100,000 items) fed to a
// fresh index (second argument 0), or to one that already holds them all, as when a list is saved
// again (1); and the heap the index then holds.
void BM_SearchIndexFeed(benchmark::State& state) {
    const auto prepared = searchItems(static_cast<int>(state.range(0)));
    const bool again = state.range(1) != 0;
    double heldMiB = 0;
    const double start = resetPeak();
    for (auto _ : state) {
        state.PauseTiming();
        const size_t before = allocatedBytes();
        auto index = std::make_unique<services::SearchableIndex>();
        if (again) index->indexSearchableItems(prepared);
        auto items = prepared;
        state.ResumeTiming();
        index->indexSearchableItems(std::move(items));
        state.PauseTiming();
        heldMiB = static_cast<double>(allocatedBytes() - before) / (1024.0 * 1024.0);
        index.reset();
        state.ResumeTiming();
    }
    state.counters["held_MiB"] = heldMiB;
    state.counters["peak_growth_MiB"] = peakMiB() - start;
    services::SearchableIndex index;
    index.indexSearchableItems(prepared);
    state.counters["items"] = static_cast<double>(index.items().size());
}

}  // namespace

// The floor first: its peak is then not raised by the object store's run.
// 50,000 threads (half a million messages) runs a few times only: whether the cost per message
// stays flat as the store grows.
BENCHMARK(BM_JsonAndRawSqliteFloor)->Unit(benchmark::kMillisecond)->MinTime(2)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_JsonAndRawSqliteFloor)
    ->Name("BM_JsonAndRawSqliteFloor")
    ->Unit(benchmark::kMillisecond)
    ->Arg(50000)
    ->Iterations(2);
BENCHMARK(BM_ListParseIntoStore)->Unit(benchmark::kMillisecond)->MinTime(2)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_ListParseIntoStore)
    ->Name("BM_ListParseIntoStore")
    ->Unit(benchmark::kMillisecond)
    ->Arg(50000)
    ->Iterations(2);
BENCHMARK(BM_ListParseIntoStoreWithoutSearchIndex)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000);

BENCHMARK(BM_ReadThreadList)->Unit(benchmark::kMillisecond)->MinTime(2)->Arg(10000);
BENCHMARK(BM_SearchIndexFeed)->Unit(benchmark::kMillisecond)->MinTime(2)->Args({10000, 0})->Args({10000, 1});

int main(int argc, char** argv) {
    // The store file goes below a home of its own.
    const auto home = scratchFolder.path() / "home";
    std::filesystem::create_directories(home);
    ::setenv("HXCONNECT_HOME", home.c_str(), 1);
    // Both sides must have stored the same; the goal is on wall time (the store's parse and save
    // run on threads of their own, which the floor does not have).
    return hxbench::runWithRatios(
        argc, argv,
        {{"BM_ListParseIntoStore",
          "BM_JsonAndRawSqliteFloor",
          1.5,
          false,
          {"messages", "conversations"},
          {"process_cpu_ms", "off_cpu_ms", "peak_growth_MiB", "heap_peak_growth_KiB", "wall_us_per_message"}},
         {"BM_ListParseIntoStoreWithoutSearchIndex",
          "BM_JsonAndRawSqliteFloor",
          0,
          false,
          {"messages", "conversations"},
          {"process_cpu_ms", "peak_growth_MiB", "heap_peak_growth_KiB"}}},
        // The scale rows: the heap at 50,000 threads beside the floor's, and the cost per message
        // at 50,000 threads over the same at 1,000, of the store and of the floor.
        {{"BM_ListParseIntoStore/50000/iterations:2", "BM_JsonAndRawSqliteFloor/50000/iterations:2",
          "heap_peak_growth_KiB", 2.0},
         {"BM_ListParseIntoStore/50000/iterations:2", "BM_JsonAndRawSqliteFloor/50000/iterations:2", "peak_growth_MiB",
          0},
         {"BM_ListParseIntoStore/50000/iterations:2", "BM_ListParseIntoStore/1000/min_time:2.000", "cpu_us_per_message",
          1.3},
         {"BM_ListParseIntoStore/50000/iterations:2", "BM_ListParseIntoStore/1000/min_time:2.000",
          "wall_us_per_message", 0},
         {"BM_JsonAndRawSqliteFloor/50000/iterations:2", "BM_JsonAndRawSqliteFloor/1000/min_time:2.000",
          "cpu_us_per_message", 0},
         {"BM_JsonAndRawSqliteFloor/50000/iterations:2", "BM_JsonAndRawSqliteFloor/1000/min_time:2.000",
          "wall_us_per_message", 0}});
}
