// Ratios to read: BM_EnqueuePersist / BM_RawSqliteOpenInsertClose (goal: at most 2) and
// BM_EnqueuePersist / BM_RawSqliteAutocommit, all on the same file and the same row contents.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_group_default.h"
#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "bench/bench_scratch.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"

namespace {

constexpr int kLogs = 10000;

const hxbench::ScratchFolder scratchFolder("hx_telemetry_bench");

const std::filesystem::path& benchDir() {
    static const std::filesystem::path dir = [] {
        auto d = scratchFolder.path();
        std::filesystem::create_directories(d / "resources");
        foundation::setHomeDirectory(d / "home");
        zivo_platform::setStandardUserDefaults(std::make_shared<foundation::UserDefaults>(d / "preferences.plist"));
        (void)foundation::writePropertyListFile(foundation::Dictionary{{"CFBundleIdentifier", "com.hxconnect.bench"},
                                                                       {"CFBundleShortVersionString", "1.2"},
                                                                       {"CFBundleVersion", "34"}},
                                                d / "resources/Info.plist");
        foundation::Bundle::main().setResourcesDirectory(d / "resources");
        ZIVORurIdurevUserDefaults::resetSharedInstance();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        return d;
    }();
    return dir;
}

std::filesystem::path dbPath() { return ZIVOUtility::rurIdurevDirectoryURL() / "Logs.sqlite"; }

std::shared_ptr<ZIVOAbstractLog> smallLog(int i) {
    auto log = std::make_shared<ZIVOStartServiceLog>();
    log->setType("startService");
    log->setServices(std::vector<std::string>{"Crashes"});
    log->setSid("s" + std::to_string(i));
    return log;
}

// The row the store writes for a small log, so the peers insert the same bytes.
std::string encodedSmallLog() {
    auto log = smallLog(0);
    log->setTimestamp(foundation::Date{1700000000.0});
    log->setDevice(ZIVODeviceTracker::sharedInstance()->device());
    return foundation::base64Encode(*ZIVOUtility::archiveKeyedData(log));
}

void freshStore() {
    std::filesystem::remove(dbPath());
    ZIVOLogDBStorage store;  // creates the file with its schema
}

void BM_EnqueuePersist(benchmark::State& state) {
    benchDir();
    for (auto _ : state) {
        state.PauseTiming();
        freshStore();
        auto client = ZIVOHttpClient::create();
        auto group =
            ZIVOChannelGroupDefault::create(client, "7B0F4F4E-2C43-4F4A-9A7D-6B1E2F3A4C5D", "http://127.0.0.1:9");
        group->setAppSecret(std::string("0d6a6b4e-3f1c-4a52-9c1e-7a2b5c8d9e01"));
        auto unit = group->addChannelUnitWithConfiguration(
            ZIVOChannelUnitConfiguration::defaultConfiguration("RurIdurev"), nullptr);
        // Ten thousand logs with their device take more than the default 10 MiB.
        group->setMaxStorageSize(256 << 20, nullptr);
        auto lane = std::make_shared<int>(0);
        unit->pauseWithIdentifyingObject(lane);
        group->logsDispatchQueue()->sync([] {});
        std::vector<std::shared_ptr<ZIVOAbstractLog>> logs;
        for (int i = 0; i < kLogs; ++i) logs.push_back(smallLog(i));
        state.ResumeTiming();
        for (const auto& log : logs) unit->enqueueItem(log, 1);
        group->logsDispatchQueue()->sync([] {});
        state.PauseTiming();
        bool complete = group->storage()->countLogs() == kLogs;
        state.ResumeTiming();
        if (!complete) {
            state.SkipWithError("not every log was stored");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kLogs);
}

void insertRow(sqlite3_stmt* statement, const std::string& encoded) {
    sqlite3_bind_text(statement, 1, "RurIdurev", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 2, encoded.c_str(), static_cast<int>(encoded.size()), SQLITE_STATIC);
    sqlite3_bind_int64(statement, 3, 1);
    sqlite3_step(statement);
    sqlite3_reset(statement);
}

constexpr const char* kInsert = "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)";

void BM_RawSqliteAutocommit(benchmark::State& state) {
    benchDir();
    std::string encoded = encodedSmallLog();
    for (auto _ : state) {
        state.PauseTiming();
        freshStore();
        state.ResumeTiming();
        sqlite3* db = nullptr;
        sqlite3_open(dbPath().c_str(), &db);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, kInsert, -1, &statement, nullptr);
        for (int i = 0; i < kLogs; ++i) insertRow(statement, encoded);
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    state.SetItemsProcessed(state.iterations() * kLogs);
}

void BM_RawSqliteOpenInsertClose(benchmark::State& state) {
    benchDir();
    std::string encoded = encodedSmallLog();
    for (auto _ : state) {
        state.PauseTiming();
        freshStore();
        state.ResumeTiming();
        for (int i = 0; i < kLogs; ++i) {
            sqlite3* db = nullptr;
            sqlite3_open(dbPath().c_str(), &db);
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v2(db, kInsert, -1, &statement, nullptr);
            insertRow(statement, encoded);
            sqlite3_finalize(statement);
            sqlite3_close(db);
        }
    }
    state.SetItemsProcessed(state.iterations() * kLogs);
}

void BM_LoadBatchOf50(benchmark::State& state) {
    benchDir();
    freshStore();
    {
        ZIVOLogDBStorage store;
        for (int i = 0; i < 200; ++i) store.saveLog(smallLog(i), "RurIdurev", 1);
    }
    for (auto _ : state) {
        state.PauseTiming();
        ZIVOLogDBStorage store;  // a fresh book of pending batches: every row is eligible
        state.ResumeTiming();
        size_t loaded = 0;
        store.loadLogsWithGroupId("RurIdurev", 50, std::nullopt,
                                  [&](const auto& logs, const auto&) { loaded = logs.size(); });
        if (loaded != 50) state.SkipWithError("batch was not full");
    }
    state.SetItemsProcessed(state.iterations() * 50);
}

}  // namespace

BENCHMARK(BM_EnqueuePersist)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RawSqliteAutocommit)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RawSqliteOpenInsertClose)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LoadBatchOf50)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
