// The object store beside raw SQLite, in the same run and on the same schema (the store creates
// the tables and indexes; the raw side uses them as they are):
//  - inserting 10,000 messages in 500 conversations in one save, versus prepared inserts in
//    one transaction;
//  - the SMS list's fetch (type filter, sorted by date, 500 conversations), versus the
//    equivalent SELECT reading every column.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench/bench_ratio.h"
#include "bench/bench_scratch.h"
#include "platform/store/context.h"

using foundation::Value;

namespace {

constexpr int kConversations = 500;
constexpr int kMessages = 10000;

store::ModelPtr model() {
    static store::ModelPtr m = [] {
        auto model = std::make_shared<store::Model>();
        using T = store::AttributeType;
        model->entity("HX_Conversation")
            .attribute("conversationID", T::String, {}, true)
            .attribute("isRead", T::Boolean, false)
            .attribute("isSpam", T::Boolean, false)
            .attribute("isStarred", T::Boolean, false)
            .attribute("isTrash", T::Boolean, false)
            .attribute("isArchived", T::Boolean, false)
            .attribute("lastdate", T::Date, {}, true)
            .attribute("lastMessageText", T::String)
            .attribute("phoneNumber", T::String, {}, true)
            .attribute("sender", T::String)
            .attribute("type", T::Integer32, 0, true)
            .attribute("numberOfMessages", T::Integer32, 0)
            .attribute("ABName", T::String)
            .toMany("Messages", "HX_Message", "Conversation", store::DeleteRule::Cascade)
            .index({"type", "lastdate"});
        model->entity("HX_Message")
            .attribute("id", T::String)
            .attribute("message", T::String)
            .attribute("number", T::Integer64, {}, true)
            .attribute("from", T::Boolean, false)
            .attribute("date", T::String)
            .toOne("Conversation", "HX_Conversation", "Messages");
        (void)model->finish();
        return model;
    }();
    return m;
}

store::StoreOptions options() {
    store::StoreOptions o;
    o.migratePersistentStoresAutomatically = o.inferMappingModelAutomatically = true;
    o.sqlitePragmas.set("journal_mode", "DELETE");
    return o;
}

const hxbench::ScratchFolder scratchFolder("hx-store-bench");

std::string scratch(const std::string& name) {
    auto path = (scratchFolder.path() / name).string();
    (void)store::Coordinator::destroyPersistentStore(path);
    return path;
}

// What a side stored, read back from its file: the two sides of a pair must store the same.
double countRows(const std::string& path, const char* table) {
    sqlite3* db = nullptr;
    double count = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        std::string sql = std::string("SELECT count(*) FROM ") + table;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            count = static_cast<double>(sqlite3_column_int64(stmt, 0));
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return count;
}

void countStored(benchmark::State& state, const std::string& path) {
    state.counters["stored_messages"] = countRows(path, "HX_Message");
    state.counters["stored_conversations"] = countRows(path, "HX_Conversation");
}

std::string text(int i) { return "Message text number " + std::to_string(i) + ", see you soon"; }

// ---- insert

void BM_StoreInsert10kMessages(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto path = scratch("store-insert.sqlite");
        auto coordinator = store::Coordinator::create(model());
        if (!coordinator->addPersistentStore(path, options()).ok()) state.SkipWithError("open failed");
        auto ctx = store::Context::create(store::ConcurrencyType::PrivateQueue, nullptr);
        ctx->setPersistentStoreCoordinator(coordinator);
        state.ResumeTiming();

        std::vector<store::ManagedObjectPtr> conversations;
        conversations.reserve(kConversations);
        for (int c = 0; c < kConversations; ++c) {
            auto conv = ctx->insertNewObject("HX_Conversation").value();
            conv->setValue("conversationID", "conv" + std::to_string(c)).ok();
            conv->setValue("type", c % 2 ? 10 : 11).ok();
            conv->setValue("lastdate", foundation::Date{1.7e9 + c}).ok();
            conv->setValue("phoneNumber", "+1555" + std::to_string(1000000 + c)).ok();
            conversations.push_back(std::move(conv));
        }
        for (int i = 0; i < kMessages; ++i) {
            auto m = ctx->insertNewObject("HX_Message").value();
            m->setValue("id", "m" + std::to_string(i)).ok();
            m->setValue("message", text(i)).ok();
            m->setValue("number", int64_t(1'700'000'000'000) + i).ok();
            m->setValue("from", i % 3 == 0).ok();
            m->setValue("date", "").ok();
            m->setObject("Conversation", conversations[i % kConversations]).ok();
        }
        if (!ctx->save().ok()) state.SkipWithError("save failed");

        state.PauseTiming();
        conversations.clear();
        ctx.reset();
        coordinator.reset();
        countStored(state, path);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}

void BM_RawSqliteInsert10kMessages(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto path = scratch("raw-insert.sqlite");
        {
            // The same schema, made by the store.
            auto coordinator = store::Coordinator::create(model());
            (void)coordinator->addPersistentStore(path, options());
        }
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        state.ResumeTiming();

        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        sqlite3_stmt* conv = nullptr;
        sqlite3_stmt* msg = nullptr;
        sqlite3_prepare_v2(
            db,
            "INSERT INTO HX_Conversation (conversationID, isRead, isSpam, isStarred, isTrash, isArchived, "
            "lastdate, lastMessageText, phoneNumber, sender, type, numberOfMessages, ABName) VALUES "
            "(?, 0, 0, 0, 0, 0, ?, NULL, ?, NULL, ?, 0, NULL)",
            -1, &conv, nullptr);
        sqlite3_prepare_v2(db,
                           "INSERT INTO HX_Message (id, message, number, \"from\", date, Conversation) VALUES "
                           "(?, ?, ?, ?, ?, ?)",
                           -1, &msg, nullptr);
        std::vector<int64_t> ids;
        ids.reserve(kConversations);
        for (int c = 0; c < kConversations; ++c) {
            std::string id = "conv" + std::to_string(c), phone = "+1555" + std::to_string(1000000 + c);
            sqlite3_bind_text(conv, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(conv, 2, 1.7e9 + c);
            sqlite3_bind_text(conv, 3, phone.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(conv, 4, c % 2 ? 10 : 11);
            sqlite3_step(conv);
            sqlite3_reset(conv);
            ids.push_back(sqlite3_last_insert_rowid(db));
        }
        for (int i = 0; i < kMessages; ++i) {
            std::string id = "m" + std::to_string(i), body = text(i);
            sqlite3_bind_text(msg, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(msg, 2, body.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(msg, 3, int64_t(1'700'000'000'000) + i);
            sqlite3_bind_int(msg, 4, i % 3 == 0);
            sqlite3_bind_text(msg, 5, "", 0, SQLITE_STATIC);
            sqlite3_bind_int64(msg, 6, ids[i % kConversations]);
            sqlite3_step(msg);
            sqlite3_reset(msg);
        }
        sqlite3_finalize(conv);
        sqlite3_finalize(msg);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);

        state.PauseTiming();
        sqlite3_close(db);
        countStored(state, path);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}

// ---- the SMS list fetch

const std::string& listStore() {
    static const std::string path = [] {
        auto path = scratch("list.sqlite");
        auto coordinator = store::Coordinator::create(model());
        (void)coordinator->addPersistentStore(path, options());
        auto ctx = store::Context::create(store::ConcurrencyType::PrivateQueue, nullptr);
        ctx->setPersistentStoreCoordinator(coordinator);
        // 500 text conversations among 250 of other kinds, 10 messages each.
        for (int c = 0; c < kConversations * 3 / 2; ++c) {
            auto conv = ctx->insertNewObject("HX_Conversation").value();
            conv->setValue("conversationID", "conv" + std::to_string(c)).ok();
            conv->setValue("type", c % 3 == 2 ? 2 : (c % 2 ? 10 : 11)).ok();
            conv->setValue("lastdate", foundation::Date{1.7e9 + (c * 7919) % 100000}).ok();
            conv->setValue("phoneNumber", "+1555" + std::to_string(1000000 + c)).ok();
            conv->setValue("sender", "Sender " + std::to_string(c)).ok();
            conv->setValue("lastMessageText", text(c)).ok();
            conv->setValue("ABName", "").ok();
            conv->setValue("isSpam", c % 50 == 0).ok();
            for (int i = 0; i < 10; ++i) {
                auto m = ctx->insertNewObject("HX_Message").value();
                m->setValue("message", text(i)).ok();
                m->setObject("Conversation", conv).ok();
            }
        }
        (void)ctx->save();
        return path;
    }();
    return path;
}

const char* kListPredicate = "isTrash == NO AND isSpam == NO AND type IN %@";

void BM_StoreSmsListFetch(benchmark::State& state) {
    auto coordinator = store::Coordinator::create(model());
    (void)coordinator->addPersistentStore(listStore(), options());
    store::FetchRequest request("HX_Conversation");
    request.predicate =
        store::Predicate::parse(kListPredicate, {Value(foundation::Array{Value(10), Value(11)})}).value();
    request.sortDescriptors = {{"lastdate", false}};
    request.fetchBatchSize = 20;
    size_t rows = 0;
    for (auto _ : state) {
        // A new context each time: every object is made afresh, as on a list's first load.
        auto ctx = store::Context::create(store::ConcurrencyType::PrivateQueue, nullptr);
        ctx->setPersistentStoreCoordinator(coordinator);
        auto objects = ctx->fetch(request);
        if (!objects) state.SkipWithError("fetch failed");
        rows = objects->size();
        benchmark::DoNotOptimize(objects->data());
    }
    state.counters["rows"] = static_cast<double>(rows);
}

struct ConversationRow {
    int64_t pk;
    std::string conversationID;
    bool isRead, isSpam, isStarred, isTrash, isArchived;
    double lastdate;
    std::string lastMessageText, phoneNumber, sender;
    int64_t type, numberOfMessages;
    std::string abName;
};

void BM_RawSqliteSmsListFetch(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open(listStore().c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT Z_PK, conversationID, isRead, isSpam, isStarred, isTrash, isArchived, lastdate, "
                       "lastMessageText, phoneNumber, sender, type, numberOfMessages, ABName FROM HX_Conversation "
                       "WHERE isTrash = 0 AND isSpam = 0 AND type IN (?, ?) ORDER BY lastdate DESC",
                       -1, &stmt, nullptr);
    auto str = [&](int col) {
        const unsigned char* t = sqlite3_column_text(stmt, col);
        return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(stmt, col)) : std::string();
    };
    size_t rows = 0;
    for (auto _ : state) {
        std::vector<ConversationRow> out;
        sqlite3_bind_int(stmt, 1, 10);
        sqlite3_bind_int(stmt, 2, 11);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            out.push_back({sqlite3_column_int64(stmt, 0), str(1), sqlite3_column_int(stmt, 2) != 0,
                           sqlite3_column_int(stmt, 3) != 0, sqlite3_column_int(stmt, 4) != 0,
                           sqlite3_column_int(stmt, 5) != 0, sqlite3_column_int(stmt, 6) != 0,
                           sqlite3_column_double(stmt, 7), str(8), str(9), str(10), sqlite3_column_int64(stmt, 11),
                           sqlite3_column_int64(stmt, 12), str(13)});
        }
        sqlite3_reset(stmt);
        rows = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

}  // namespace

// CPU time is the process's (every thread's), so work moved to another thread still counts.
BENCHMARK(BM_StoreInsert10kMessages)->Unit(benchmark::kMillisecond)->MinTime(2)->MeasureProcessCPUTime();
BENCHMARK(BM_RawSqliteInsert10kMessages)->Unit(benchmark::kMillisecond)->MinTime(2)->MeasureProcessCPUTime();
BENCHMARK(BM_StoreSmsListFetch)->Unit(benchmark::kMicrosecond)->MinTime(2)->MeasureProcessCPUTime();
BENCHMARK(BM_RawSqliteSmsListFetch)->Unit(benchmark::kMicrosecond)->MinTime(2)->MeasureProcessCPUTime();

HX_BENCH_MAIN_WITH_RATIOS({
    {"BM_StoreInsert10kMessages",
     "BM_RawSqliteInsert10kMessages",
     1.3,
     true,
     {"stored_messages", "stored_conversations"}},
    {"BM_StoreSmsListFetch", "BM_RawSqliteSmsListFetch", 1.3, true, {"rows"}},
})
