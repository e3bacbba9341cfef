#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/store/sql_plan.h"
#include "tests/platform/store/store_test_support.h"

namespace {

using foundation::Value;
using storetest::sqlite;

store::ContextPtr rootContext(const store::CoordinatorPtr& coordinator) {
    auto context = store::Context::create(store::ConcurrencyType::MainQueue, dispatch::Queue::main());
    context->setPersistentStoreCoordinator(coordinator);
    return context;
}

store::ContextPtr childOf(const store::ContextPtr& parent) {
    auto child = store::Context::create(store::ConcurrencyType::PrivateQueue, dispatch::Queue::serial("test.child"));
    child->setParentContext(parent);
    return child;
}

class StoreFile : public ::testing::Test {
protected:
    hxtest::TempDir dir;
    std::string path = (dir / "MessageData-user@example.com.sqlite").string();
    void SetUp() override {
        if (!hxtest::haveProgram("sqlite3")) GTEST_SKIP() << "sqlite3 CLI missing";
    }
};

TEST_F(StoreFile, SchemaHasOneTablePerEntityIndexesAndTheJournalMode) {
    auto coordinator = storetest::openStore(path);
    EXPECT_EQ(sqlite(path, "SELECT name FROM sqlite_master WHERE type='table' AND name LIKE 'HX_%' ORDER BY name"),
              "HX_Conversation\nHX_Message");
    EXPECT_EQ(sqlite(path, "SELECT group_concat(name) FROM pragma_table_info('HX_Message')"),
              "Z_PK,id,message,number,from,isIndexedForSearch,attachments,small,Conversation");
    std::string indexes =
        sqlite(path, "SELECT name FROM sqlite_master WHERE type='index' AND name NOT LIKE 'sqlite_%' ORDER BY name");
    for (const char* index : {"HX_Conversation_conversationID", "HX_Conversation_lastdate", "HX_Conversation_type",
                              "HX_Conversation_type_lastdate", "HX_Message_Conversation", "HX_Message_number"})
        EXPECT_NE(indexes.find(index), std::string::npos) << index << " in " << indexes;
    EXPECT_EQ(sqlite(path, "PRAGMA journal_mode"), "delete");
    // The list query the screens run is answered from an index, not a table scan.
    std::string plan = sqlite(path, "EXPLAIN QUERY PLAN SELECT * FROM HX_Conversation t0 WHERE t0.type IN (10, 11) "
                                    "ORDER BY t0.lastdate DESC");
    EXPECT_NE(plan.find("USING INDEX"), std::string::npos) << plan;
}

TEST_F(StoreFile, ChildSaveStaysInMemoryRootSaveReachesTheDisk) {
    auto coordinator = storetest::openStore(path);
    auto root = rootContext(coordinator);
    auto child = childOf(root);
    auto c = child->insertNewObject("HX_Conversation").value();
    ASSERT_TRUE(c->setValue("conversationID", "t1").ok());
    ASSERT_TRUE(c->setValue("lastdate", foundation::Date{1700000000.5}).ok());
    auto m = child->insertNewObject("HX_Message").value();
    ASSERT_TRUE(m->setValue("message", "it's \"quoted\"").ok());
    ASSERT_TRUE(m->setValue("number", int64_t(1700000000123)).ok());
    ASSERT_TRUE(m->setValue("attachments", foundation::Array{Value(foundation::Dictionary{
                                               {"id", "a1"},
                                               {"mimeType", "image/jpeg"},
                                               {"imageMetaData", foundation::Array{Value(foundation::Dictionary{
                                                                     {"sizeSpec", "s512"}, {"width", 512}})}}})})
                    .ok());
    ASSERT_TRUE(m->setObject("Conversation", c).ok());
    ASSERT_TRUE(child->save().ok());
    EXPECT_FALSE(child->hasChanges());
    EXPECT_TRUE(root->hasChanges());
    EXPECT_EQ(root->insertedObjects().size(), 2u);

    // Not on disk: neither a fresh coordinator nor the sqlite3 tool sees the rows.
    {
        auto fresh = storetest::openStore(path);
        EXPECT_EQ(rootContext(fresh)->count(store::FetchRequest("HX_Message")).value(), 0u);
    }
    EXPECT_EQ(sqlite(path, "SELECT count(*) FROM HX_Message"), "0");

    ASSERT_TRUE(root->save().ok());
    EXPECT_FALSE(root->hasChanges());
    EXPECT_FALSE(m->objectID()->isTemporary());
    EXPECT_EQ(sqlite(path, "SELECT m.message, m.number, c.conversationID, c.lastdate FROM HX_Message m JOIN "
                           "HX_Conversation c ON m.Conversation = c.Z_PK"),
              "it's \"quoted\"|1700000000123|t1|1700000000.5");
    // A fresh coordinator reads everything back, the transformable value included.
    auto fresh = storetest::openStore(path);
    auto freshContext = rootContext(fresh);
    auto messages = freshContext->fetch(store::FetchRequest("HX_Message"));
    ASSERT_TRUE(messages.ok());
    ASSERT_EQ(messages->size(), 1u);
    auto read = messages->at(0);
    EXPECT_EQ(read->value("attachments"), m->value("attachments"));
    EXPECT_EQ(read->value("attachments").at(0)["imageMetaData"].at(0)["width"].int64Value(), 512);
    EXPECT_EQ(read->valueForKeyPath("Conversation.conversationID"), Value("t1"));
    EXPECT_EQ(read->object("Conversation")->objects("Messages").size(), 1u);
    EXPECT_EQ(sqlite(path, "PRAGMA integrity_check"), "ok");
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

// The statement cache is bounded; a save that meets the bound half-way through its inserts must
// not lose the statements it already holds for its rows (each query of another size is a
// statement of its own, so a long session fills the cache with them).
TEST_F(StoreFile, ASaveThatMeetsTheStatementCachesBoundKeepsTheStatementsItHolds) {
    for (size_t queries = 240; queries <= 262; ++queries) {
        SCOPED_TRACE(queries);
        const std::string file = (dir / ("bound-" + std::to_string(queries) + ".sqlite")).string();
        auto root = rootContext(storetest::openStore(file));
        for (size_t limit = 1; limit <= queries; ++limit) {
            store::FetchRequest request("HX_Message");
            request.fetchLimit = limit;
            ASSERT_TRUE(root->fetch(request).ok());
        }
        for (int i = 0; i < 3; ++i) {
            auto c = root->insertNewObject("HX_Conversation").value();
            ASSERT_TRUE(c->setValue("conversationID", "t" + std::to_string(i)).ok());
            auto m = root->insertNewObject("HX_Message").value();
            ASSERT_TRUE(m->setValue("message", "text " + std::to_string(i)).ok());
            ASSERT_TRUE(m->setObject("Conversation", c).ok());
        }
        auto saved = root->save();
        ASSERT_TRUE(saved.ok()) << saved.error().description();
        EXPECT_EQ(sqlite(file, "SELECT count(*) FROM HX_Message WHERE Conversation IS NOT NULL"), "3");
        EXPECT_EQ(sqlite(file, "SELECT group_concat(conversationID) FROM HX_Conversation"), "t0,t1,t2");
    }
}

// A save's transaction runs through statements prepared once: one whose commit finds the file
// busy writes nothing and leaves no transaction open, so the saves after it (on the same prepared
// statements, also once the cache has been emptied at its bound) write everything, once.
TEST_F(StoreFile, ASaveRefusedAtItsCommitWritesNothingAndTheNextSavesWriteEverythingOnce) {
    auto coordinator = storetest::openStore(path);
    auto root = rootContext(coordinator);
    int next = 0;
    auto addThread = [&] {
        auto c = root->insertNewObject("HX_Conversation").value();
        ASSERT_TRUE(c->setValue("conversationID", "t" + std::to_string(next++)).ok());
        for (int i = 0; i < 2; ++i) {
            auto m = root->insertNewObject("HX_Message").value();
            ASSERT_TRUE(m->setValue("message", "text").ok());
            ASSERT_TRUE(m->setObject("Conversation", c).ok());
        }
    };
    addThread();
    ASSERT_TRUE(root->save().ok());

    // A reader elsewhere holds the file: the commit cannot take it.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN; SELECT count(*) FROM HX_Message;", nullptr, nullptr, nullptr), SQLITE_OK);
    addThread();
    auto refused = root->save();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, store::kStoreTimeoutError) << refused.error().description();
    EXPECT_TRUE(root->hasChanges());
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(sqlite(path, "SELECT count(*) FROM HX_Conversation"), "1");

    // The changes kept are written by the next save, then another thread by the one after, also
    // after the statement cache has met its bound.
    auto saved = root->save();
    ASSERT_TRUE(saved.ok()) << saved.error().description();
    for (size_t limit = 1; limit <= 300; ++limit) {
        store::FetchRequest request("HX_Conversation");
        request.fetchLimit = limit;
        ASSERT_TRUE(root->fetch(request).ok());
    }
    addThread();
    saved = root->save();
    ASSERT_TRUE(saved.ok()) << saved.error().description();
    EXPECT_EQ(sqlite(path, "SELECT group_concat(conversationID) FROM HX_Conversation"), "t0,t1,t2");
    EXPECT_EQ(sqlite(path, "SELECT count(*) FROM HX_Message m JOIN HX_Conversation c ON m.Conversation = c.Z_PK"), "6");
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

// A fetch reads its rows into a vector made for them: the size the same statement read last time,
// else its limit. Grown one row at a time, it would move every row read so far at each doubling
// and hand back up to twice the room the rows need.
TEST_F(StoreFile, AFetchReadsIntoAVectorOfItsRowsAndNoMore) {
    auto coordinator = storetest::openStore(path);
    auto root = rootContext(coordinator);
    for (int i = 0; i < 300; ++i) {
        auto m = root->insertNewObject("HX_Message").value();
        ASSERT_TRUE(m->setValue("number", int64_t(i)).ok());
    }
    ASSERT_TRUE(root->save().ok());
    const store::Entity& message = *coordinator->model().entityNamed("HX_Message");
    auto below = [](int64_t n) { return store::Predicate::parse("number < %@", {Value(n)}).value(); };
    // room: whether the vector must hold its rows exactly (a first unlimited fetch cannot know).
    const struct {
        const char* what;
        std::optional<store::Predicate> predicate;
        size_t limit, rows;
        bool room;
    } cases[] = {
        {"limited", std::nullopt, 10, 10, true},
        {"every row", std::nullopt, 0, 300, false},
        {"every row again", std::nullopt, 0, 300, true},
        {"many of a filter", below(1000), 0, 300, false},
        {"a few of the same filter", below(5), 0, 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<store::Predicate> bound;
        if (c.predicate) bound = store::bindPredicate(*c.predicate, message).value();
        auto rows = coordinator->fetchRows(message, store::planQuery(message, bound, {}), c.limit, 0);
        ASSERT_TRUE(rows.ok());
        EXPECT_EQ(rows->size(), c.rows);
        if (c.room) {
            EXPECT_EQ(rows->capacity(), c.rows);
        }
    }
}

// Rows whose sort keys are equal come in row order (the order in which they were first saved),
// whether the page is cut by SQL (a limit or an offset) or every matching row is read, and
// whatever order the index the query uses hands them over in (here: type first).
TEST_F(StoreFile, RowsOfEqualSortKeysComeInRowOrderWithAndWithoutALimit) {
    auto coordinator = storetest::openStore(path);
    auto root = rootContext(coordinator);
    struct Stored {
        int type;
        double date;
        const char* sender;
    };
    // Row numbers follow this order; later rows of type 10 would come first from the type index.
    const Stored stored[] = {{11, 300, "b"}, {11, 200, "a"}, {10, 300, "a"}, {11, 100, "b"},
                             {10, 200, "b"}, {10, 300, "b"}, {11, 300, "a"}, {10, 100, "a"},
                             {11, 200, "b"}, {10, 200, "a"}, {12, 300, "a"}, {10, 100, "b"}};
    for (size_t i = 0; i < std::size(stored); ++i) {
        auto c = root->insertNewObject("HX_Conversation").value();
        ASSERT_TRUE(c->setValue("conversationID", std::to_string(i)).ok());
        ASSERT_TRUE(c->setValue("type", stored[i].type).ok());
        ASSERT_TRUE(c->setValue("lastdate", foundation::Date{stored[i].date}).ok());
        ASSERT_TRUE(c->setValue("sender", stored[i].sender).ok());
    }
    ASSERT_TRUE(root->save().ok());
    const store::Entity& conversation = *coordinator->model().entityNamed("HX_Conversation");
    auto listed = store::bindPredicate(
        store::Predicate::parse("type IN %@", {Value(foundation::Array{Value(10), Value(11)})}).value(), conversation);
    ASSERT_TRUE(listed.ok());
    const struct {
        const char* what;
        std::vector<store::SortDescriptor> sort;
        size_t limit, offset;
        const char* ids;  // the oracle: the keys, then the row number
    } cases[] = {
        {"newest first", {{"lastdate", false}}, 0, 0, "0 2 5 6 1 4 8 9 3 7 11"},
        {"oldest first", {{"lastdate", true}}, 0, 0, "3 7 11 1 4 8 9 0 2 5 6"},
        {"by sender, then newest", {{"sender", true}, {"lastdate", false}}, 0, 0, "2 6 1 9 7 0 5 4 8 3 11"},
        {"by type", {{"type", true}}, 0, 0, "2 4 5 7 9 11 0 1 3 6 8"},
        {"newest first, a page", {{"lastdate", false}}, 5, 0, "0 2 5 6 1"},
        {"newest first, the next page", {{"lastdate", false}}, 5, 5, "4 8 9 3 7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto rows =
            coordinator->fetchRows(conversation, store::planQuery(conversation, *listed, c.sort), c.limit, c.offset);
        ASSERT_TRUE(rows.ok());
        std::string ids;
        for (const auto& row : *rows) ids += (ids.empty() ? "" : " ") + *row.values[0].ifString();
        EXPECT_EQ(ids, c.ids);
    }
}

// A list of most of a table, sorted: the first read sorts (no statistics yet) and leaves the
// planner its statistics, with which the same read walks the date index in order. The rows come
// in the same order either way, equal dates in row order, whether read whole or by page; a read
// while another connection writes gathers none and waits for nothing.
TEST_F(StoreFile, ALargeSortedReadLeavesStatisticsAndTheOrderStaysTheSame) {
    auto coordinator = storetest::openStore(path);
    auto root = rootContext(coordinator);
    struct Stored {
        int64_t pk;
        double date;
        int type;
    };
    std::vector<Stored> stored;
    const int types[] = {10, 11, 10, 2, 11, 10, 0};
    for (int i = 0; i < 700; ++i) {
        // Dates repeat (every 40th value) so that the index hands equal ones over newest row first.
        const Stored s{i + 1, 1'700'000'000.0 + static_cast<double>((i * 37) % 40), types[i % 7]};
        stored.push_back(s);
        auto c = root->insertNewObject("HX_Conversation").value();
        ASSERT_TRUE(c->setValue("conversationID", std::to_string(s.pk)).ok());
        ASSERT_TRUE(c->setValue("type", s.type).ok());
        ASSERT_TRUE(c->setValue("lastdate", foundation::Date{s.date}).ok());
    }
    ASSERT_TRUE(root->save().ok());
    // The oracle: the listed types, newest first, equal dates by row number.
    std::vector<Stored> listed;
    std::copy_if(stored.begin(), stored.end(), std::back_inserter(listed),
                 [](const Stored& s) { return s.type == 10 || s.type == 11; });
    std::stable_sort(listed.begin(), listed.end(), [](const Stored& a, const Stored& b) { return a.date > b.date; });
    std::string expected;
    for (const auto& s : listed) expected += std::to_string(s.pk) + " ";
    ASSERT_GT(listed.size(), 256u);

    const store::Entity& conversation = *coordinator->model().entityNamed("HX_Conversation");
    auto predicate = store::bindPredicate(
        store::Predicate::parse("type IN %@", {Value(foundation::Array{Value(10), Value(11)})}).value(), conversation);
    ASSERT_TRUE(predicate.ok());
    const auto plan = store::planQuery(conversation, *predicate, {{"lastdate", false}});
    auto read = [&](size_t limit, size_t offset) {
        auto rows = coordinator->fetchRows(conversation, plan, limit, offset);
        EXPECT_TRUE(rows.ok());
        std::string ids;
        if (rows.ok())
            for (const auto& row : *rows) ids += *row.values[0].ifString() + " ";
        return ids;
    };
    const std::string listSql =
        "EXPLAIN QUERY PLAN SELECT * FROM HX_Conversation t0 WHERE t0.type IN (10, 11) ORDER BY t0.lastdate DESC";
    auto statistics = [&] { return sqlite(path, "SELECT count(*) FROM sqlite_stat1 WHERE tbl = 'HX_Conversation'"); };

    // A small sorted read gathers nothing; nor does one while another connection holds the write lock.
    std::string firstTen;
    for (size_t i = 0; i < 10; ++i) firstTen += std::to_string(listed[i].pk) + " ";
    EXPECT_EQ(read(10, 0), firstTen);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(read(0, 0), expected);
    sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    EXPECT_NE(sqlite(path, "SELECT name FROM sqlite_master WHERE name = 'sqlite_stat1'"), "sqlite_stat1");
    EXPECT_NE(sqlite(path, listSql).find("TEMP B-TREE"), std::string::npos);

    // The next large sorted read leaves statistics, with which the list is read in index order.
    EXPECT_EQ(read(0, 0), expected);
    EXPECT_NE(statistics(), "0");
    const std::string after = sqlite(path, listSql);
    EXPECT_NE(after.find("USING INDEX HX_Conversation_lastdate"), std::string::npos) << after;
    EXPECT_EQ(after.find("TEMP B-TREE"), std::string::npos) << after;
    EXPECT_EQ(read(0, 0), expected);
    // A page cut by SQL still takes equal dates in row order.
    std::string pages;
    for (size_t offset = 0; offset < listed.size(); offset += 64) pages += read(64, offset);
    EXPECT_EQ(pages, expected);
}

TEST_F(StoreFile, AnIncompatibleModelGives134100AndAnAdditiveOneMigrates) {
    { auto coordinator = storetest::openStore(path); }
    // A changed attribute type is incompatible.
    auto changed = std::make_shared<store::Model>();
    changed->entity("HX_Conversation").attribute("conversationID", store::AttributeType::Integer64);
    changed->entity("HX_Message").attribute("id", store::AttributeType::String);
    ASSERT_TRUE(changed->finish().ok());
    auto coordinator = store::Coordinator::create(changed);
    auto added = coordinator->addPersistentStore(path, storetest::storeOptions());
    ASSERT_FALSE(added.ok());
    EXPECT_EQ(added.error().code, store::kIncompatibleVersionHashError);
    EXPECT_TRUE(coordinator->persistentStores().empty());

    // An added attribute without the migration options is incompatible too...
    store::StoreOptions plain;
    plain.busyTimeoutSeconds = 0;
    auto strict = store::Coordinator::create(storetest::messageModel(true));
    auto refused = strict->addPersistentStore(path, plain);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, store::kIncompatibleVersionHashError);

    // ...and with them the column is added and the old rows stay.
    {
        auto old = storetest::openStore(path);
        auto ctx = rootContext(old);
        ctx->insertNewObject("HX_Conversation").value()->setValue("conversationID", "kept").ok();
        ASSERT_TRUE(ctx->save().ok());
    }
    auto migrated = storetest::openStore(path, storetest::messageModel(true));
    auto ctx = rootContext(migrated);
    auto rows = ctx->fetch(store::FetchRequest("HX_Conversation")).value();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->value("conversationID"), Value("kept"));
    EXPECT_TRUE(rows[0]->value("paginationToken").isNull());
    EXPECT_EQ(sqlite(path, "SELECT count(*) FROM pragma_table_info('HX_Conversation') WHERE name='paginationToken'"),
              "1");
}

// Damage is told apart from an older model (134100, which callers may delete): a damaged file or
// one that is not a database gives the damaged code, another program's tables the unreadable one.
TEST_F(StoreFile, DamagedFilesGiveTheDamagedCodeNotTheIncompatibleOne) {
    auto codeOf = [&] {
        auto added =
            store::Coordinator::create(storetest::messageModel())->addPersistentStore(path, storetest::storeOptions());
        EXPECT_FALSE(added.ok());
        EXPECT_TRUE(std::filesystem::exists(path));  // reporting never deletes: the caller decides
        return added.ok() ? int64_t{0} : added.error().code;
    };
    // Not a database at all.
    std::ofstream(path) << std::string(4096, 'x');
    EXPECT_EQ(codeOf(), store::kDamagedStoreError);
    // A real store whose schema page is overwritten.
    ASSERT_TRUE(store::Coordinator::destroyPersistentStore(path).ok());
    { auto coordinator = storetest::openStore(path); }
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(100);
        std::string junk(3000, '\xA5');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    EXPECT_EQ(codeOf(), store::kDamagedStoreError);
    // A real store cut in half.
    ASSERT_TRUE(store::Coordinator::destroyPersistentStore(path).ok());
    {
        auto coordinator = storetest::openStore(path);
        auto ctx = rootContext(coordinator);
        for (int i = 0; i < 300; ++i)
            ASSERT_TRUE(ctx->insertNewObject("HX_Conversation").value()->setValue("note", std::string(300, 'n')).ok());
        ASSERT_TRUE(ctx->save().ok());
    }
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    EXPECT_EQ(codeOf(), store::kDamagedStoreError);
    // A file of another program's tables is not ours to use, nor to delete.
    ASSERT_TRUE(store::Coordinator::destroyPersistentStore(path).ok());
    sqlite(path, "CREATE TABLE notes (x TEXT)");
    EXPECT_EQ(codeOf(), store::kUnreadableStoreError);
}

// A table that lost a column its metadata lists (the file edited by hand) failed every save for
// good, "has no column named ...", while the open check read only the metadata. The column is
// added back and the rows stay.
TEST_F(StoreFile, AColumnDroppedByHandIsAddedBackAndTheRowsKept) {
    {
        auto coordinator = storetest::openStore(path);
        auto ctx = rootContext(coordinator);
        auto message = ctx->insertNewObject("HX_Message").value();
        ASSERT_TRUE(message->setValue("message", "kept").ok());
        ASSERT_TRUE(ctx->save().ok());
    }
    sqlite(path, "ALTER TABLE HX_Message DROP COLUMN id");
    ASSERT_EQ(sqlite(path, "SELECT count(*) FROM pragma_table_info('HX_Message') WHERE name='id'"), "0");
    auto coordinator = storetest::openStore(path);
    auto ctx = rootContext(coordinator);
    auto rows = ctx->fetch(store::FetchRequest("HX_Message")).value();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->value("message"), Value("kept"));
    auto added = ctx->insertNewObject("HX_Message").value();
    ASSERT_TRUE(added->setValue("id", "m2").ok());
    ASSERT_TRUE(ctx->save().ok()) << "a save writes every column";
    EXPECT_EQ(sqlite(path, "SELECT group_concat(coalesce(id, '-') || ':' || coalesce(message, '-'), ',') "
                           "FROM (SELECT * FROM HX_Message ORDER BY Z_PK)"),
              "-:kept,m2:-");
}

TEST_F(StoreFile, ABusyOrUnreadableFileIsNotReportedAsCorrupt) {
    { auto coordinator = storetest::openStore(path); }
    // Another connection holds the file exclusively.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(other, "BEGIN EXCLUSIVE; INSERT INTO Z_METADATA VALUES ('x','y','z');", nullptr, nullptr, nullptr),
        SQLITE_OK);
    auto coordinator = store::Coordinator::create(storetest::messageModel());
    auto added = coordinator->addPersistentStore(path, storetest::storeOptions());
    ASSERT_FALSE(added.ok());
    EXPECT_NE(added.error().code, store::kIncompatibleVersionHashError);
    EXPECT_EQ(added.error().code, store::kStoreTimeoutError);
    EXPECT_EQ(added.error().userInfo.get(store::kSQLiteErrorCodeKey).int64Value() & 0xff, SQLITE_BUSY);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    // Once free, the same coordinator opens it.
    EXPECT_TRUE(coordinator->addPersistentStore(path, storetest::storeOptions()).ok());

    // A folder that cannot be written: an open error, not 134100.
    if (::geteuid() != 0) {
        auto locked = dir / "locked";
        std::filesystem::create_directory(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        auto c = store::Coordinator::create(storetest::messageModel());
        auto result = c->addPersistentStore((locked / "s.sqlite").string(), storetest::storeOptions());
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().code, store::kStoreOpenError);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
}

TEST_F(StoreFile, RemoveAndDestroyLeaveNoCompanionsBehind) {
    auto coordinator = storetest::openStore(path);
    auto stores = coordinator->persistentStores();
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_EQ(coordinator->persistentStoreForPath(path), stores[0]);
    EXPECT_FALSE(coordinator->addPersistentStore(path, storetest::storeOptions()).ok());  // one store each
    std::ofstream(path + "-journal") << "stale";
    std::ofstream(path + "-wal") << "stale";
    ASSERT_TRUE(coordinator->removePersistentStore(stores[0]).ok());
    EXPECT_TRUE(coordinator->persistentStores().empty());
    EXPECT_FALSE(rootContext(coordinator)->fetch(store::FetchRequest("HX_Message")).ok());
    ASSERT_TRUE(store::Coordinator::destroyPersistentStore(path).ok());
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) EXPECT_FALSE(std::filesystem::exists(path + suffix));
    EXPECT_TRUE(coordinator->addPersistentStore(path, storetest::storeOptions()).ok());
    EXPECT_EQ(rootContext(coordinator)->count(store::FetchRequest("HX_Message")).value(), 0u);
}

TEST_F(StoreFile, PragmaOptionsCannotInjectSql) {
    auto options = storetest::storeOptions();
    options.sqlitePragmas.set("journal_mode", "DELETE; DROP TABLE Z_METADATA");
    auto result = store::Coordinator::create(storetest::messageModel())->addPersistentStore(path, options);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().code, store::kIncompatibleVersionHashError);
}

}  // namespace
