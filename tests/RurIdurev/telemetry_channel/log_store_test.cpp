// The log store against an independent reader (the sqlite3 command-line tool).
#include <sqlite3.h>

#include <fstream>

#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/foundation/files.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/RurIdurev/telemetry_channel/start_service_logs.h"
#include "tests/support/log_capture.h"

namespace {

using hxtest::makeLog;

std::vector<std::string> sids(const std::vector<std::shared_ptr<ZIVOAbstractLog>>& logs) {
    std::vector<std::string> out;
    for (const auto& log : logs) out.push_back(log->sid().value_or("?"));
    return out;
}

class LogStoreTest : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
    }
    std::string dbPath() { return (ZIVOUtility::rurIdurevDirectoryURL() / "Logs.sqlite").string(); }
    std::string sql(const std::string& statement) {
        std::string out;
        hxtest::runCommand("sqlite3 '" + dbPath() + "' \"" + statement + "\"", &out);
        return out;
    }
    struct Loaded {
        std::vector<std::string> sids;
        std::optional<std::string> batchId;
        bool more = false;
    };
    Loaded load(ZIVOLogDBStorage& store, const std::string& group, uint64_t limit,
                std::optional<std::vector<std::string>> excluded = std::nullopt) {
        Loaded out;
        out.more = store.loadLogsWithGroupId(group, limit, excluded, [&](const auto& logs, const auto& batchId) {
            out.sids = sids(logs);
            out.batchId = batchId;
        });
        return out;
    }
};

TEST_F(LogStoreTest, NewFileHasTheSchemaVersionVacuumAndIndex) {
    ZIVOLogDBStorage store;
    ASSERT_TRUE(store.saveLog(makeLog("a"), "RurIdurev", 1));
    EXPECT_EQ(
        sql(".schema logs"),
        "CREATE TABLE IF NOT EXISTS \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT NULL, "
        "\"log\" TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" INTEGER);\n"
        "CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\");\n");
    EXPECT_EQ(sql("PRAGMA user_version"), "5\n");
    EXPECT_EQ(sql("PRAGMA auto_vacuum"), "1\n");
    EXPECT_EQ(sql("SELECT groupId, priority, instr(log, char(10)) FROM logs"), "RurIdurev|1|0\n");
    EXPECT_EQ(store.countLogs(), 1u);
}

TEST_F(LogStoreTest, LoadsByPriorityThenAgeAndTellsWhetherMoreWait) {
    ZIVOLogDBStorage store;
    store.saveLog(makeLog("n1"), "RurIdurev", 1);
    store.saveLog(makeLog("c1"), "RurIdurev", 0x102);  // only the low 8 bits are the priority
    store.saveLog(makeLog("n2"), "RurIdurev", 1);
    EXPECT_EQ(sql("SELECT priority FROM logs ORDER BY id"), "1\n2\n1\n");
    auto first = load(store, "RurIdurev", 2);
    EXPECT_EQ(first.sids, (std::vector<std::string>{"c1", "n1"}));
    EXPECT_TRUE(first.more);
    ASSERT_TRUE(first.batchId);
    EXPECT_EQ(first.batchId->size(), 36u);
    // The pending batch is not handed out again.
    auto second = load(store, "RurIdurev", 2);
    EXPECT_EQ(second.sids, (std::vector<std::string>{"n2"}));
    EXPECT_FALSE(second.more);
    auto third = load(store, "RurIdurev", 2);
    EXPECT_TRUE(third.sids.empty());
    EXPECT_FALSE(third.batchId);

    store.deleteLogsWithBatchId(*first.batchId, "RurIdurev");
    EXPECT_EQ(sql("SELECT count(*) FROM logs"), "1\n");
    store.deleteLogsWithBatchId("unknown", "RurIdurev");
    EXPECT_EQ(store.countLogs(), 1u);
}

TEST_F(LogStoreTest, UndeletedBatchesComeBackAfterARestart) {
    {
        ZIVOLogDBStorage store;
        store.saveLog(makeLog("a"), "Crashes", 2);
        EXPECT_EQ(load(store, "Crashes", 1).sids.size(), 1u);
    }
    ZIVOLogDBStorage again;
    EXPECT_EQ(load(again, "Crashes", 1).sids, (std::vector<std::string>{"a"}));
}

// A group id that is a prefix of another never reaches the other group's pending batches.
TEST_F(LogStoreTest, GroupIdsAreMatchedExactly) {
    ZIVOLogDBStorage store;
    store.saveLog(makeLog("buffer"), "CrashesBuffer", 2);
    store.saveLog(makeLog("crash"), "Crashes", 2);
    auto pending = load(store, "CrashesBuffer", 50);
    ASSERT_EQ(pending.sids, (std::vector<std::string>{"buffer"}));
    EXPECT_EQ(sids(store.deleteLogsWithGroupId("Crashes")), (std::vector<std::string>{"crash"}));
    // The buffer's batch is still in flight: loading again must not send it twice.
    EXPECT_TRUE(load(store, "CrashesBuffer", 50).sids.empty());
    EXPECT_EQ(sql("SELECT groupId FROM logs"), "CrashesBuffer\n");
}

// Values are bound: a quote in a group id neither breaks nor widens the deletion.
TEST_F(LogStoreTest, GroupIdsWithQuotesAreBound) {
    ZIVOLogDBStorage store;
    store.saveLog(makeLog("x"), "it's", 1);
    store.saveLog(makeLog("y"), "other", 1);
    EXPECT_EQ(sids(store.deleteLogsWithGroupId("it's")), (std::vector<std::string>{"x"}));
    store.deleteLogsWithGroupId("' OR '1'='1");
    EXPECT_EQ(sql("SELECT groupId FROM logs"), "other\n");
}

TEST_F(LogStoreTest, RowIdsBeyond32BitsAreDeletedAndExcludedCorrectly) {
    ZIVOLogDBStorage store;
    store.saveLog(makeLog("low"), "RurIdurev", 1);
    sql("UPDATE sqlite_sequence SET seq = 5000000000 WHERE name = 'logs'");
    store.saveLog(makeLog("high"), "RurIdurev", 1);
    EXPECT_EQ(sql("SELECT id FROM logs ORDER BY id"), "1\n5000000001\n");
    auto first = load(store, "RurIdurev", 1);
    ASSERT_EQ(first.sids, (std::vector<std::string>{"low"}));
    auto second = load(store, "RurIdurev", 1);
    ASSERT_EQ(second.sids, (std::vector<std::string>{"high"}));
    store.deleteLogsWithBatchId(*second.batchId, "RurIdurev");
    EXPECT_EQ(sql("SELECT id FROM logs"), "1\n");
}

TEST_F(LogStoreTest, ExclusionByTargetKeyLeavesOutNullKeys) {
    ZIVOLogDBStorage store;
    store.saveLog(makeLog("plain"), "RurIdurev", 1);
    EXPECT_TRUE(load(store, "RurIdurev", 5, std::vector<std::string>{"k"}).sids.empty());
    EXPECT_EQ(load(store, "RurIdurev", 5, std::vector<std::string>{}).sids.size(), 1u);
}

TEST_F(LogStoreTest, TargetTokensAreStoredEncryptedAndComeBack) {
    ZIVOLogDBStorage store;
    auto log = std::make_shared<ZIVOCommonSchemaLog>();
    log->setSid("cs");
    log->setVer("3.0");
    log->setName("event");
    log->addTransmissionTargetToken("abc-secret");
    ASSERT_TRUE(store.saveLog(log, "RurIdurev", 1));
    EXPECT_EQ(sql("SELECT targetKey FROM logs"), "abc\n");
    EXPECT_EQ(sql("SELECT instr(targetToken, 'secret') FROM logs"), "0\n");
    std::vector<std::shared_ptr<ZIVOAbstractLog>> logs;
    store.loadLogsWithGroupId("RurIdurev", 5, std::vector<std::string>{"other"},
                              [&](const auto& loaded, const auto&) { logs = loaded; });
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0]->transmissionTargetTokens(), (std::set<std::string>{"abc-secret"}));
}

TEST_F(LogStoreTest, DamagedRowIsDeletedAndTheRestIsReturned) {
    ZIVOLogDBStorage store;
    store.saveLog(makeLog("a"), "RurIdurev", 1);
    store.saveLog(makeLog("b"), "RurIdurev", 1);
    sql("UPDATE logs SET log = 'bm90IGFuIGFyY2hpdmU=' WHERE id = 1");
    LogCapture capture;
    EXPECT_EQ(load(store, "RurIdurev", 5).sids, (std::vector<std::string>{"b"}));
    EXPECT_TRUE(capture.contains("Deserialization failed for log with Id 1"));
    EXPECT_EQ(sql("SELECT id FROM logs"), "2\n");
}

TEST_F(LogStoreTest, EvictionByPriorityWhenFull) {
    ZIVOLogDBStorage store;
    bool changed = false;
    store.setMaxStorageSize(32768, [&](bool ok) { changed = ok; });
    ASSERT_TRUE(changed);
    auto big = [](const std::string& name) {
        auto log = makeLog(name);
        log->setDistributionGroupId(std::string(500, 'x'));
        return log;
    };
    // Fill with criticals first, then normals, until the store refuses.
    int criticals = 0;
    for (; criticals < 2; ++criticals) ASSERT_TRUE(store.saveLog(big("c" + std::to_string(criticals)), "G", 2));
    int normals = 0;
    while (normals < 50 && store.countLogs() == static_cast<uint64_t>(criticals + normals)) {
        store.saveLog(big("n" + std::to_string(normals)), "G", 1);
        ++normals;
    }
    ASSERT_LT(normals, 50) << "the store never filled";
    // A normal save never evicts a critical log.
    EXPECT_EQ(sql("SELECT count(*) FROM logs WHERE priority = 2"), "2\n");
    // The oldest normal logs went first: the newest one is present, the first normal one is not.
    EXPECT_EQ(sql("SELECT count(*) FROM logs WHERE id = 3"), "0\n");
    EXPECT_EQ(sql("SELECT count(*) FROM logs WHERE id = " + std::to_string(2 + normals)), "1\n");

    // With only criticals left in the way, a normal log is discarded with the message.
    sql("DELETE FROM logs WHERE priority = 1");
    // Fill with criticals until one has to evict another: the store is full of criticals.
    for (int i = 0; i < 50; ++i) {
        uint64_t before = store.countLogs();
        ASSERT_TRUE(store.saveLog(big("cc" + std::to_string(i)), "G", 2));
        if (store.countLogs() == before) break;
    }
    uint64_t full = store.countLogs();
    LogCapture capture;
    auto late = big("late");
    late->setDistributionGroupId(std::string(1500, 'x'));
    EXPECT_FALSE(store.saveLog(late, "G", 1));
    EXPECT_EQ(store.countLogs(), full);
    EXPECT_TRUE(
        capture.contains("Storage is full and no logs with equal or lower priority exist; discarding the log."));
    EXPECT_EQ(sql("PRAGMA integrity_check"), "ok\n");
}

TEST_F(LogStoreTest, TooLargeLogIsRefused) {
    ZIVOLogDBStorage store;
    store.setMaxStorageSize(24576, nullptr);
    auto log = makeLog("huge");
    log->setDistributionGroupId(std::string(30000, 'x'));
    LogCapture capture;
    EXPECT_FALSE(store.saveLog(log, "G", 2));
    bool found = false;
    for (const auto& m : capture.messages(ZIVOLogLevelError)) found |= m.rfind("Log is too large (", 0) == 0;
    EXPECT_TRUE(found);
}

TEST_F(LogStoreTest, OlderVersionIsDroppedAndNewerKept) {
    std::filesystem::create_directories(ZIVOUtility::rurIdurevDirectoryURL());
    sql("CREATE TABLE logs (id INTEGER PRIMARY KEY, groupId TEXT, log TEXT); INSERT INTO logs VALUES (1,'g','x'); "
        "PRAGMA user_version = 4;");
    {
        hxtest::LogCapture lines;
        ZIVOLogDBStorage store;
        EXPECT_EQ(store.countLogs(), 0u);
        EXPECT_TRUE(lines.lines().empty()) << "an older layout is migrated, not kept aside as damage";
    }
    EXPECT_FALSE(std::filesystem::exists(dbPath() + ".unreadable"));
    EXPECT_EQ(sql("PRAGMA user_version"), "5\n");
    EXPECT_NE(sql(".schema logs").find("ix_logs_priority"), std::string::npos);
    sql("PRAGMA user_version = 6");
    {
        ZIVOLogDBStorage store;
        store.saveLog(makeLog("a"), "g", 1);
    }
    {
        ZIVOLogDBStorage store;
        EXPECT_EQ(store.countLogs(), 1u);
    }
    EXPECT_EQ(sql("PRAGMA user_version"), "5\n");
}

// A damaged log store used to be deleted with the logs it held. It goes aside with its bytes and
// a line on standard error, a fresh store takes its place, and a second damaged file does not
// replace the first one kept.
TEST_F(LogStoreTest, ADamagedFileIsSetAsideWithALineAndAFreshStoreMade) {
    std::string half;
    {
        ZIVOLogDBStorage store;
        for (int i = 0; i < 40; ++i) ASSERT_TRUE(store.saveLog(makeLog("k" + std::to_string(i)), "g", 1));
        auto whole = foundation::files::readString(dbPath()).value();
        ASSERT_GT(whole.size(), 8u * 4096);
        half = whole.substr(0, whole.size() / 2);
    }
    const struct {
        const char* kind;
        std::string bytes;
    } cases[] = {{"not a database", std::string(8192, '\x5a')}, {"half a store", half}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        std::filesystem::remove(dbPath());
        ASSERT_TRUE(foundation::files::writeAtomically(dbPath(), c.bytes).ok());
        hxtest::LogCapture lines;
        ZIVOLogDBStorage store;
        EXPECT_EQ(store.countLogs(), 0u);
        EXPECT_TRUE(store.saveLog(makeLog("a"), "g", 1));
        EXPECT_EQ(sql("PRAGMA integrity_check"), "ok\n");
        const std::string aside = dbPath() + (&c == &cases[0] ? ".unreadable" : ".unreadable-2");
        EXPECT_EQ(foundation::files::readString(aside).value(), c.bytes);
        if (&c != &cases[0]) {
            EXPECT_EQ(foundation::files::readString(dbPath() + ".unreadable").value(), cases[0].bytes);
        }
        ASSERT_EQ(lines.lines().size(), 1u);
        EXPECT_NE(lines.lines()[0].find("the telemetry log store " + dbPath() + " could not be read"),
                  std::string::npos)
            << lines.lines()[0];
        EXPECT_NE(lines.lines()[0].find("it was moved to " + aside), std::string::npos) << lines.lines()[0];
    }
}

TEST(DBStorageTest, UriEscapesReservedCharacters) {
    EXPECT_EQ(ZIVODBStorage::fileURIForPath("/a b/c?d#e%f/Logs.sqlite"), "file:/a%20b/c%3Fd%23e%25f/Logs.sqlite");
}

TEST_F(LogStoreTest, SizeLimitRoundsUpAndRefusesShrinkingBelowUse) {
    ZIVOLogDBStorage store;
    EXPECT_EQ(store.pageSize(), 4096);
    LogCapture capture;
    bool answer = false;
    store.setMaxStorageSize(30000, [&](bool ok) { answer = ok; });
    EXPECT_TRUE(answer);
    EXPECT_EQ(store.maxSizeInBytes(), 32768);
    EXPECT_TRUE(capture.contains("Changed maximum database size to 32768 bytes (next multiple of 4KiB)."));
    EXPECT_EQ(sql("PRAGMA max_page_count"), "1073741823\n");  // the limit belongs to each connection
    store.setMaxStorageSize(10, [&](bool ok) { answer = ok; });
    EXPECT_FALSE(answer);
    EXPECT_EQ(store.maxSizeInBytes(), 32768);
}

}  // namespace
