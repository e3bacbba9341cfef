#include "platform/services/search_index.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

using services::SearchableIndex;
using services::SearchableItem;

namespace {

SearchableItem item(const std::string& id, const std::string& domain, const std::string& title = "") {
    SearchableItem i;
    i.uniqueIdentifier = id;
    i.domainIdentifier = domain;
    i.attributeSet.title = title;
    return i;
}

// "id:title" per item, in the index's order.
std::vector<std::string> contents(const SearchableIndex& index) {
    std::vector<std::string> out;
    for (const auto& i : index.items()) out.push_back(i.uniqueIdentifier + ":" + i.attributeSet.title);
    return out;
}

}  // namespace

// Items are found by their unique id: a replacement after deletions moved the others must land on
// the item of that id, not on whatever now sits where it was.
TEST(SearchableIndex, ReplacementsFindTheirItemAfterDeletionsMovedTheRest) {
    SearchableIndex index;
    index.indexSearchableItems(
        {item("a", "user.c1", "1"), item("b", "user.c2", "1"), item("c", "user2.c1", "1"), item("d", "other", "1")});
    index.deleteSearchableItemsWithIdentifiers({"a"});
    index.indexSearchableItems({item("c", "user2.c1", "2"), item("e", "user.c3", "1")});
    EXPECT_EQ(contents(index), (std::vector<std::string>{"b:1", "c:2", "d:1", "e:1"}));

    index.deleteSearchableItemsWithDomainIdentifiers({"user"});  // b and e, not user2's c
    index.indexSearchableItems({item("d", "other", "2"), item("b", "user.c2", "3")});
    EXPECT_EQ(contents(index), (std::vector<std::string>{"c:2", "d:2", "b:3"}));

    // The same id twice in one call: the later one holds.
    index.indexSearchableItems({item("f", "x", "1"), item("f", "x", "2")});
    EXPECT_EQ(contents(index), (std::vector<std::string>{"c:2", "d:2", "b:3", "f:2"}));

    index.deleteAllSearchableItems();
    index.indexSearchableItems({item("c", "user2.c1", "4")});
    EXPECT_EQ(contents(index), (std::vector<std::string>{"c:4"}));
}

// A list's save indexes one item per message: a hundred thousand distinct items, then all of them
// again, must stay linear (a lookup by scanning took minutes here).
TEST(SearchableIndex, IndexingManyItemsTwiceKeepsOneOfEach) {
    SearchableIndex index;
    std::vector<SearchableItem> batch;
    for (int i = 0; i < 100000; ++i) batch.push_back(item("m" + std::to_string(i), "user.c" + std::to_string(i % 97)));
    index.indexSearchableItems(batch);
    index.indexSearchableItems(batch);
    const auto items = index.items();
    ASSERT_EQ(items.size(), 100000u);
    EXPECT_EQ(items.front().uniqueIdentifier, "m0");
    EXPECT_EQ(items.back().uniqueIdentifier, "m99999");
}

// Random feeds and deletions against a plain list of items kept in the order first indexed: the
// index shares repeated strings among items and reclaims what deleted and replaced items leave,
// and neither may show in what it answers.
TEST(SearchableIndex, AnswersAsAPlainListOfItemsThroughRandomFeedsAndDeletions) {
    std::mt19937 random(7);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    // Ids of several shapes, which the index files by the conversation they name: the app's
    // ("<conversation>.<number>.<user>", the conversation's id with dots of its own), a number
    // first or alone, and none at all.
    auto makeId = [&](int conversation) {
        std::string c = std::to_string(conversation), n = std::to_string(pick(16));
        switch (pick(6)) {
            case 0:
                return "t.+" + c + "." + n + ".u%40x.test";
            case 1:
                return "t.+" + c + ".vm." + n + ".u%40x.test";
            case 2:
                return "." + n + ".c" + c;
            case 3:
                return n;
            case 4:
                return std::string();
            default:
                return "c" + c + "." + n;
        }
    };
    auto makeItem = [&] {
        const int conversation = pick(12);
        SearchableItem i;
        i.uniqueIdentifier = makeId(conversation);
        i.domainIdentifier = pick(8) == 0 ? "user" : "user.c" + std::to_string(conversation);
        i.attributeSet.contentType = pick(4) == 0 ? services::kContentTypeAudio : services::kContentTypeMessage;
        i.attributeSet.accountIdentifier = pick(6) == 0 ? "" : "someone@example.test";
        i.attributeSet.title = (pick(2) ? "SMS from " : "SMS to ") + std::to_string(conversation);
        i.attributeSet.contentDescription =
            pick(5) == 0 ? "" : std::string(static_cast<size_t>(pick(90)), 'a' + pick(26));
        i.attributeSet.supportsPhoneCall = pick(2) == 0;
        return i;
    };
    auto render = [](const std::vector<SearchableItem>& items) {
        std::vector<std::string> out;
        for (const auto& i : items)
            out.push_back(i.uniqueIdentifier + "|" + i.domainIdentifier + "|" + i.attributeSet.contentType + "|" +
                          i.attributeSet.accountIdentifier + "|" + i.attributeSet.title + "|" +
                          i.attributeSet.contentDescription + "|" + (i.attributeSet.supportsPhoneCall ? "1" : "0"));
        return out;
    };
    SearchableIndex index;
    std::vector<SearchableItem> expected;
    for (int step = 0; step < 3000; ++step) {
        const int what = pick(20);
        if (what < 12) {
            std::vector<SearchableItem> batch;
            for (int n = pick(30); n > 0; --n) batch.push_back(makeItem());
            for (const auto& i : batch) {
                auto same = std::find_if(expected.begin(), expected.end(), [&](const SearchableItem& e) {
                    return e.uniqueIdentifier == i.uniqueIdentifier;
                });
                if (same == expected.end())
                    expected.push_back(i);
                else
                    *same = i;
            }
            index.indexSearchableItems(batch);
        } else if (what < 16) {
            std::vector<std::string> ids;
            for (int n = pick(25); n > 0; --n) ids.push_back(makeId(pick(12)));
            std::erase_if(expected, [&](const SearchableItem& e) {
                return std::find(ids.begin(), ids.end(), e.uniqueIdentifier) != ids.end();
            });
            index.deleteSearchableItemsWithIdentifiers(ids);
        } else if (what < 19) {
            const std::string domain = pick(6) == 0 ? "user" : "user.c" + std::to_string(pick(12));
            std::erase_if(expected, [&](const SearchableItem& e) {
                return e.domainIdentifier == domain || e.domainIdentifier.rfind(domain + ".", 0) == 0;
            });
            index.deleteSearchableItemsWithDomainIdentifiers({domain});
        } else if (pick(10) == 0) {
            expected.clear();
            index.deleteAllSearchableItems();
        }
        ASSERT_EQ(render(index.items()), render(expected)) << "after step " << step;
    }
}

TEST(SearchableIndex, KeptInAFileItComesBackWholeAndItsSearchFindsEveryWordInAnyCase) {
    hxtest::TempDir dir;
    const auto file = dir / "Library/SearchIndex/index.json";
    SearchableIndex index;
    auto a = item("c1.3.ann%40x.test", "annxtest.c1", "SMS from Zoë");
    a.attributeSet.contentDescription = "Bring the MARMALADE jar, \"please\"";
    a.attributeSet.contentType = services::kContentTypeMessage;
    a.attributeSet.accountIdentifier = "ann@x.test";
    a.attributeSet.supportsPhoneCall = true;
    auto b = item("c2.0.ann%40x.test", "annxtest.c2", "Voicemail from Bob");
    b.attributeSet.contentDescription = "the jar is empty";
    index.indexSearchableItems({a, b});
    ASSERT_TRUE(index.writeToFile(file).ok());

    SearchableIndex restarted;
    restarted.indexSearchableItems({item("stale", "d")});
    ASSERT_TRUE(restarted.readFromFile(file).ok());
    const auto back = restarted.items();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].uniqueIdentifier, a.uniqueIdentifier);
    EXPECT_EQ(back[0].domainIdentifier, a.domainIdentifier);
    EXPECT_EQ(back[0].attributeSet.title, "SMS from Zoë");
    EXPECT_EQ(back[0].attributeSet.contentDescription, a.attributeSet.contentDescription);
    EXPECT_EQ(back[0].attributeSet.contentType, services::kContentTypeMessage);
    EXPECT_EQ(back[0].attributeSet.accountIdentifier, "ann@x.test");
    EXPECT_TRUE(back[0].attributeSet.supportsPhoneCall);

    const struct {
        const char* query;
        std::vector<std::string> ids;
    } searches[] = {
        {"jar", {a.uniqueIdentifier, b.uniqueIdentifier}},
        {"marmalade JAR", {a.uniqueIdentifier}},
        {"zoë", {a.uniqueIdentifier}},
        {"jar bob", {b.uniqueIdentifier}},
        {"jam", {}},
        {"   ", {}},
    };
    for (const auto& s : searches) {
        std::vector<std::string> ids;
        for (const auto& hit : restarted.search(s.query, 10)) ids.push_back(hit.uniqueIdentifier);
        EXPECT_EQ(ids, s.ids) << s.query;
    }
    EXPECT_EQ(restarted.search("jar", 1).size(), 1u);

    // A file that does not read is an error naming it, and the index stays as it was; no file is
    // an empty index.
    std::ofstream(dir / "bad.json") << "[{\"title\": \"no id\"}]";
    auto bad = restarted.readFromFile(dir / "bad.json");
    ASSERT_FALSE(bad.ok());
    EXPECT_NE(bad.error().localizedDescription().find("bad.json"), std::string::npos);
    EXPECT_EQ(restarted.items().size(), 2u);
    ASSERT_TRUE(restarted.readFromFile(dir / "none.json").ok());
    EXPECT_TRUE(restarted.items().empty());
}

// The index kept in its file follows every change without a clean exit: a second index reading
// the files a kill left (the file and its log, copied while the first still had them open) has
// every change the first one was handed. A file that is not an index is set aside (nothing set
// aside before is replaced) and the index starts empty under a new generation, which tells
// whoever marked items handed over to hand them again.
TEST(SearchableIndex, AKeptIndexFollowsEveryChangeAndStartsAfreshFromADamagedFile) {
    hxtest::TempDir dir;
    const auto folder = dir / "SearchIndex", file = folder / "index.db";
    const auto killed = dir / "killed";
    std::string firstGeneration;
    {
        SearchableIndex index;
        const auto kept = index.keepInFile(file);
        EXPECT_TRUE(kept.startedEmpty);
        EXPECT_EQ(kept.note, "") << "a first launch has nothing to set aside";
        firstGeneration = index.generation();
        EXPECT_FALSE(firstGeneration.empty());
        index.indexSearchableItems({item("a", "u.c1", "apple"), item("b", "u.c2", "banana")});
        index.indexSearchableItems({item("c", "v.c1", "cherry"), item("a", "u.c1", "apricot")});
        index.deleteSearchableItemsWithIdentifiers({"b"});
        index.deleteSearchableItemsWithDomainIdentifiers({"v"});
        index.indexSearchableItems({item("d", "u.c3", "date")});
        // Killed here: no writeKeptFile, no close; what is on the disk is what the next launch has.
        std::filesystem::copy(folder, killed);
    }
    for (const auto& home : {killed / "index.db", file}) {
        SearchableIndex next;
        const auto kept = next.keepInFile(home);
        EXPECT_FALSE(kept.startedEmpty) << kept.note;
        EXPECT_EQ(next.generation(), firstGeneration);
        EXPECT_EQ(contents(next), (std::vector<std::string>{"a:apricot", "d:date"})) << home;
        ASSERT_EQ(next.search("date", 5).size(), 1u);
    }
    {
        SearchableIndex next;
        next.keepInFile(file);
        next.deleteAllSearchableItems();
        next.indexSearchableItems({item("f", "u.c1", "fig")});
        EXPECT_TRUE(next.writeKeptFile().ok());
        EXPECT_FALSE(std::filesystem::exists(folder / "index.db-wal") &&
                     std::filesystem::file_size(folder / "index.db-wal") > 0)
            << "written whole, the file alone holds the index";
    }
    {
        SearchableIndex again;
        again.keepInFile(file);
        EXPECT_EQ(contents(again), std::vector<std::string>{"f:fig"});
    }

    // A file that is not an index: bytes of something else, then another program's database.
    std::filesystem::remove(folder / "index.db-wal");
    std::ofstream(file, std::ios::trunc) << "[{\"title\": \"no id\"}]";
    std::string generation = firstGeneration;
    for (const char* aside : {"index.db.set-aside", "index.db.set-aside-1"}) {
        SearchableIndex damaged;
        const auto kept = damaged.keepInFile(file);
        EXPECT_TRUE(kept.startedEmpty);
        EXPECT_NE(kept.note.find("is not an index"), std::string::npos) << kept.note;
        EXPECT_NE(kept.note.find(aside), std::string::npos) << kept.note;
        EXPECT_TRUE(damaged.items().empty());
        EXPECT_NE(damaged.generation(), generation);
        generation = damaged.generation();
        EXPECT_TRUE(std::filesystem::exists(folder / aside));
        damaged.indexSearchableItems({item("g", "u.c1", "grape")});
        EXPECT_EQ(damaged.search("grape", 5).size(), 1u);
        std::filesystem::remove(folder / "index.db-wal");
        std::filesystem::remove(folder / "index.db-shm");
        std::filesystem::remove(file);
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(other, "CREATE TABLE item(seq INTEGER, id TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(other);
    }
    std::string first;
    std::ifstream(folder / "index.db.set-aside") >> first;
    EXPECT_EQ(first, "[{\"title\":") << "the first file set aside is kept as it was";
}

// An index kept before as JSON (the file written whole, a journal of the changes since, the last
// line cut by a kill, and its generation) is converted once: its items, order and generation come
// back from the new file, the JSON files are gone, and a later launch reads the new file only. A
// JSON file that does not read, or is above the bound, is set aside and the index starts empty.
TEST(SearchableIndex, AnIndexKeptAsJSONIsConvertedOnceAndADamagedOrOversizedOneSetAside) {
    hxtest::TempDir dir;
    const auto folder = dir / "SearchIndex", file = folder / "index.db", json = folder / "index.json";
    {
        SearchableIndex before;
        before.indexSearchableItems(
            {item("a", "u.c1", "apple"), item("b", "u.c2", "banana"), item("c", "v.c1", "cherry")});
        ASSERT_TRUE(before.writeToFile(json).ok());
    }
    std::ofstream(folder / "index.json.journal")
        << "{\"index\":[{\"id\":\"a\",\"domain\":\"u.c1\",\"title\":\"apricot\"},{\"id\":\"d\",\"domain\":\"u.c3\","
           "\"title\":\"date\"}]}\n{\"delete\":[\"b\"]}\n{\"deleteDomains\":[\"v\"]}\n{\"index\":[{\"id\":\"e\",\"tit";
    std::ofstream(folder / "index.json.generation") << "generation-of-the-json";
    {
        SearchableIndex converted;
        const auto kept = converted.keepInFile(file);
        EXPECT_FALSE(kept.startedEmpty) << kept.note;
        EXPECT_EQ(kept.note, "");
        EXPECT_EQ(converted.generation(), "generation-of-the-json");
        EXPECT_EQ(contents(converted), (std::vector<std::string>{"a:apricot", "d:date"}));
        for (const char* gone : {"index.json", "index.json.journal", "index.json.generation", "index.db.converting"})
            EXPECT_FALSE(std::filesystem::exists(folder / gone)) << gone;
        converted.indexSearchableItems({item("f", "u.c1", "fig")});
    }
    // A JSON file beside the new one (a conversion killed before it removed it) is not read again.
    std::ofstream(json) << "[{\"id\":\"stale\",\"title\":\"stale\"}]";
    {
        SearchableIndex again;
        EXPECT_EQ(again.keepInFile(file).note, "");
        EXPECT_EQ(contents(again), (std::vector<std::string>{"a:apricot", "d:date", "f:fig"}));
        EXPECT_FALSE(std::filesystem::exists(json));
    }

    // A JSON file that does not read, and one above the bound (not read at all).
    std::filesystem::remove(file);
    std::filesystem::remove(folder / "index.db-wal");
    std::ofstream(json) << "[{\"title\": \"no id\"}]";
    {
        SearchableIndex damaged;
        const auto kept = damaged.keepInFile(file);
        EXPECT_TRUE(kept.startedEmpty);
        EXPECT_NE(kept.note.find("an item without an id"), std::string::npos) << kept.note;
        EXPECT_TRUE(damaged.items().empty());
        EXPECT_NE(damaged.generation(), "generation-of-the-json");
        EXPECT_TRUE(std::filesystem::exists(folder / "index.json.set-aside"));
        EXPECT_FALSE(std::filesystem::exists(folder / "index.db.converting"));
    }
    std::filesystem::remove(file);
    std::filesystem::remove(folder / "index.db-wal");
    {
        std::ofstream big(json);
        big << "[";
        for (int i = 0; i < 2000; ++i)
            big << (i ? "," : "") << "{\"id\":\"x" << i << "\",\"title\":\"" << std::string(500, 'x') << "\"}";
        big << "]";
    }
    SearchableIndex oversized;
    const auto kept = oversized.keepInFile(file, 512 * 1024);
    EXPECT_TRUE(kept.startedEmpty);
    EXPECT_NE(kept.note.find("above the bound of 524288"), std::string::npos) << kept.note;
    EXPECT_TRUE(oversized.items().empty());
    EXPECT_GT(std::filesystem::file_size(folder / "index.json.set-aside-1"), 512u * 1024);
}

// The index keeps its items in its file, not on the heap: fifty thousand items (a 5,000-thread
// list's save) and all of them again take about what its page cache holds, however many there are.
// The same items held in memory took some 200 bytes each.
TEST(SearchableIndex, ItsHeapDoesNotGrowWithItsItems) {
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
    GTEST_SKIP() << "the sanitizer's allocator keeps no such count";
#endif
    auto batch = [](int first, int n) {
        std::vector<SearchableItem> items;
        for (int i = first; i < first + n; ++i) {
            auto it = item("c" + std::to_string(i / 10) + "." + std::to_string(1700000000000 + i) + ".user%40x.test",
                           "userxtest.c" + std::to_string(i / 10), "SMS from Kim " + std::to_string(i / 10));
            it.attributeSet.contentDescription = "A message of some sixty characters, number " + std::to_string(i);
            it.attributeSet.contentType = services::kContentTypeMessage;
            it.attributeSet.accountIdentifier = "user@x.test";
            items.push_back(std::move(it));
        }
        return items;
    };
    SearchableIndex index;
    index.indexSearchableItems(batch(0, 256));
    const int64_t start = hxtest::heapBytesInUse();
    int64_t highest = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (int first = 0; first < 50000; first += 256) {
            index.indexSearchableItems(batch(first, 256));
            highest = std::max(highest, hxtest::heapBytesInUse() - start);
        }
    EXPECT_LT(highest, 4 << 20) << highest / 50000 << " bytes an item";
    EXPECT_EQ(index.search("number 49999", 5).size(), 1u);
    EXPECT_EQ(index.search("kim 4", 3).size(), 3u);
}

// A query is plain words, whatever they hold: quotes, operators of a query language, wildcards
// and SQL find the items that hold them as text and nothing else, and never fail. Domains are
// compared as text too.
TEST(SearchableIndex, AQueryAndADomainAreTextNeverALanguage) {
    SearchableIndex index;
    auto a = item("a", "u.c1", "SMS from O'Brien");
    a.attributeSet.contentDescription = "say \"hi\" AND bye 100% sure";
    auto b = item("b", "u_c.x", "SMS to Ann");
    b.attributeSet.contentDescription = "hi* NEAR(x y) -- ; DROP TABLE item";
    index.indexSearchableItems({a, b, item("c", "u%c.y", "plain words")});
    const struct {
        const char* query;
        std::vector<std::string> ids;
    } searches[] = {
        {"o'brien", {"a"}},    {"\"hi\"", {"a"}}, {"\"", {"a"}},     {"hi", {"a", "b"}},
        {"hi*", {"b"}},        {"100%", {"a"}},   {"%", {"a"}},      {"_", {}},
        {"AND", {"a"}},        {"a OR b", {}},    {"NEAR(x", {"b"}}, {"' OR 1=1 --", {}},
        {"drop table", {"b"}}, {"*", {"b"}},
    };
    for (const auto& s : searches) {
        std::vector<std::string> ids;
        for (const auto& hit : index.search(s.query, 10)) ids.push_back(hit.uniqueIdentifier);
        EXPECT_EQ(ids, s.ids) << s.query;
    }
    // "u_c" is b's domain's parent; "u%" and "u_" name no domain, as patterns they would match all.
    index.deleteSearchableItemsWithDomainIdentifiers({"u%", "u_", "u_c", "u'); DELETE FROM item; --"});
    EXPECT_EQ(contents(index), (std::vector<std::string>{"a:SMS from O'Brien", "c:plain words"}));
    index.deleteSearchableItemsWithIdentifiers({"' OR 1=1 --", "%"});
    EXPECT_EQ(index.items().size(), 2u);
}

// Changes from several threads and searches beside them: each change is whole when a search or a
// reader sees it.
TEST(SearchableIndex, ChangesFromSeveralThreadsAreEachWhole) {
    SearchableIndex index;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&index, t] {
            for (int round = 0; round < 50; ++round) {
                std::vector<SearchableItem> items;
                for (int i = 0; i < 10; ++i)
                    items.push_back(item("t" + std::to_string(t) + "." + std::to_string(i), "d" + std::to_string(t),
                                         "round " + std::to_string(round)));
                index.indexSearchableItems(std::move(items));
                if (round % 7 == 3) index.deleteSearchableItemsWithDomainIdentifiers({"d" + std::to_string(t)});
            }
        });
    std::atomic<bool> partial{false};
    std::thread reader([&] {
        for (int n = 0; n < 100; ++n) {
            std::map<std::string, std::set<std::string>> rounds;  // domain -> the rounds its items show
            for (const auto& i : index.items()) rounds[i.domainIdentifier].insert(i.attributeSet.title);
            for (const auto& [domain, seen] : rounds) partial = partial || seen.size() != 1;
            (void)index.search("round", 3);
        }
    });
    for (auto& t : threads) t.join();
    reader.join();
    EXPECT_FALSE(partial) << "a reader saw half of a change";
    EXPECT_EQ(index.items().size(), 40u);
}

// ---- how the index lies in its file

namespace index_layout {

// Runs sql on the file at path (its own connection); the rows come back as "a|b" lines.
std::vector<std::string> query(const std::filesystem::path& path, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        std::string row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            row += (c ? "|" : "") + std::string(text ? text : "NULL");
        }
        rows.push_back(row);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

void exec(const std::filesystem::path& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

// An id as the app makes it: "<conversation>.<number>.<user>", the conversation "t.+1555..." with
// numbers scattered as a list brings them (not in the order of their ids).
std::string appId(int conversation, int message) {
    char number[32];
    std::snprintf(number, sizeof number, "+1555%07d", 1000000 + static_cast<int>((conversation * 7919LL) % 9000000));
    return std::string("t.") + number + "." + std::to_string(1760000000000LL - conversation * 100000LL - message) +
           ".someone%40example.test";
}

// Feeds conversations [first, first + count) of 10 messages each, in calls of 250 items as a save
// feeds them.
void feedConversations(SearchableIndex& index, int first, int count) {
    std::vector<SearchableItem> batch;
    for (int c = first; c < first + count; ++c)
        for (int m = 0; m < 10; ++m) {
            auto i = item(appId(c, m), "someoneexampletest.t." + std::to_string(c), "SMS from " + std::to_string(c));
            i.attributeSet.contentDescription = "A message of some forty characters, " + std::to_string(m);
            batch.push_back(std::move(i));
            if (batch.size() == 250) index.indexSearchableItems(std::exchange(batch, {}));
        }
    if (!batch.empty()) index.indexSearchableItems(std::move(batch));
}

}  // namespace index_layout

// The pages a new conversation's items write stay about the same whether the index holds 5,000
// items or 200,000 (more than its page cache holds): found by the id alone, every new
// conversation's entry landed on a page of its own in a tree the size of the index, which was
// read back and written out again, about five times the pages at the larger size.
TEST(SearchableIndex, ANewConversationWritesAboutAsManyPagesWhateverTheIndexHolds) {
    double perConversation[2] = {0, 0};
    const int sizes[2] = {500, 20000};
    for (int s = 0; s < 2; ++s) {
        SearchableIndex index;
        index_layout::feedConversations(index, 0, sizes[s]);
        const int64_t before = index.pagesWritten();
        index_layout::feedConversations(index, sizes[s], 1000);
        perConversation[s] = static_cast<double>(index.pagesWritten() - before) / 1000.0;
        ASSERT_EQ(index.items().size(), static_cast<size_t>(sizes[s] + 1000) * 10);
    }
    RecordProperty("pagesPerConversation",
                   std::to_string(perConversation[0]) + " " + std::to_string(perConversation[1]));
    EXPECT_GT(perConversation[0], 0.1) << "the pages are counted";
    EXPECT_LT(perConversation[1], perConversation[0] * 1.5)
        << perConversation[0] << " pages a conversation at " << sizes[0] << " conversations, " << perConversation[1]
        << " at " << sizes[1];
}

// A file kept before the items were found through their conversations (one table, its items found
// by their id alone) is converted in place as it opens: every item, its place in the order and the
// gaps deletions left, and the generation stay; replacements and deletions then find the items it
// held, a new item goes after them, and the next launch opens the converted file as it is.
TEST(SearchableIndex, AFileOfTheLayoutBeforeIsConvertedInPlaceWithItsItemsOrderAndGeneration) {
    hxtest::TempDir dir;
    const auto file = dir / "SearchIndex" / "index.db";
    std::filesystem::create_directories(file.parent_path());
    index_layout::exec(
        file,
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
        "CREATE TABLE item(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, domain TEXT NOT NULL,"
        " contentType TEXT NOT NULL, account TEXT NOT NULL, title TEXT NOT NULL, description TEXT NOT NULL,"
        " phoneCall INTEGER NOT NULL);"
        "CREATE INDEX item_domain ON item(domain);"
        "INSERT INTO meta VALUES('generation', 'the-generation-before');"
        "INSERT INTO item VALUES(3, 't.+15550001.1700.u%40x.test', 'ux.t.+15550001', 'public.message', 'u@x.test',"
        " 'SMS from Ann', 'first', 1);"
        "INSERT INTO item VALUES(7, 't.+15550002.1500.u%40x.test', 'ux.t.+15550002', 'public.audio', '',"
        " 'VM from Bob', 'second', 0);"
        "INSERT INTO item VALUES(8, 't.+15550001.1600.u%40x.test', 'ux.t.+15550001', 'public.message', 'u@x.test',"
        " 'SMS to Ann', 'third', 0);"
        "INSERT INTO item VALUES(20, 'plain', 'other', '', '', 'Plain', 'fourth', 0);"
        "INSERT INTO item VALUES(21, '', 'other', '', '', 'Empty', 'fifth', 0);");
    const std::vector<std::string> before = {"t.+15550001.1700.u%40x.test:SMS from Ann",
                                             "t.+15550002.1500.u%40x.test:VM from Bob",
                                             "t.+15550001.1600.u%40x.test:SMS to Ann", "plain:Plain", ":Empty"};
    {
        SearchableIndex index;
        const auto kept = index.keepInFile(file);
        EXPECT_FALSE(kept.startedEmpty) << kept.note;
        EXPECT_EQ(kept.note, "");
        EXPECT_EQ(index.generation(), "the-generation-before");
        EXPECT_EQ(contents(index), before);
        const auto items = index.items();
        ASSERT_EQ(items.size(), 5u);
        EXPECT_EQ(items[0].domainIdentifier, "ux.t.+15550001");
        EXPECT_EQ(items[0].attributeSet.contentType, "public.message");
        EXPECT_EQ(items[0].attributeSet.accountIdentifier, "u@x.test");
        EXPECT_EQ(items[0].attributeSet.contentDescription, "first");
        EXPECT_TRUE(items[0].attributeSet.supportsPhoneCall);
        EXPECT_EQ(items[1].attributeSet.contentType, "public.audio");
        EXPECT_FALSE(items[1].attributeSet.supportsPhoneCall);
        ASSERT_EQ(index.search("ann", 5).size(), 2u);
    }
    EXPECT_EQ(index_layout::query(file, "SELECT seq FROM item ORDER BY seq"),
              (std::vector<std::string>{"3", "7", "8", "20", "21"}));
    EXPECT_EQ(index_layout::query(file, "SELECT name FROM sqlite_master WHERE name LIKE 'item%' ORDER BY name"),
              (std::vector<std::string>{"item", "item_by_id"}))
        << "the table before and its indexes are gone";
    EXPECT_EQ(index_layout::query(file, "PRAGMA user_version"), std::vector<std::string>{"1"});
    {
        SearchableIndex index;
        const auto kept = index.keepInFile(file);
        EXPECT_FALSE(kept.startedEmpty) << kept.note;
        EXPECT_EQ(index.generation(), "the-generation-before");
        EXPECT_EQ(contents(index), before);
        // The items it held are found by their ids: replaced in place, deleted, and one more after.
        index.indexSearchableItems({item("t.+15550001.1600.u%40x.test", "ux.t.+15550001", "SMS to Ann, again"),
                                    item("", "other", "Empty, again"),
                                    item("t.+15550001.1800.u%40x.test", "ux", "New")});
        index.deleteSearchableItemsWithIdentifiers({"t.+15550002.1500.u%40x.test", "plain"});
        EXPECT_EQ(contents(index), (std::vector<std::string>{"t.+15550001.1700.u%40x.test:SMS from Ann",
                                                             "t.+15550001.1600.u%40x.test:SMS to Ann, again",
                                                             ":Empty, again", "t.+15550001.1800.u%40x.test:New"}));
        index.deleteSearchableItemsWithDomainIdentifiers({"ux"});
        EXPECT_EQ(contents(index), std::vector<std::string>{":Empty, again"});
    }
    EXPECT_EQ(index_layout::query(file, "SELECT seq FROM item"), std::vector<std::string>{"21"});
}

// Ids of any shape are items of their own: without a dot, with a dot first or last, empty, a
// number first, dots together, or beginnings shared with other conversations'. Each is replaced,
// deleted and searched as itself; the items of one conversation ("<conversation>.<number>.<user>")
// lie together, one conversation apart from another, and a conversation whose last item went is
// forgotten.
TEST(SearchableIndex, IdsOfAnyShapeAreFoundAsGiven) {
    hxtest::TempDir dir;
    const auto file = dir / "index.db";
    const std::vector<std::string> ids = {
        "plain", ".5.u",     ".x",       "x.",          "",          "5.u",  "a..5",  "5",
        ".",     "t.+1.5.u", "t.+1.6.u", "t.+1.vm.5.u", "t.+12.5.u", "t.+1", "t.+1.",
    };
    SearchableIndex index;
    index.keepInFile(file);
    std::vector<SearchableItem> first;
    std::vector<std::string> expected;
    first.reserve(ids.size());
    expected.reserve(ids.size());
    for (const auto& id : ids) first.push_back(item(id, "d." + id, "one " + id));
    index.indexSearchableItems(first);
    for (const auto& id : ids) expected.push_back(id + ":one " + id);
    EXPECT_EQ(contents(index), expected);

    // Each replaced, in its place, whatever its neighbours; then every other one deleted.
    for (size_t n = 0; n < ids.size(); ++n) {
        index.indexSearchableItems({item(ids[n], "d." + ids[n], "two " + ids[n])});
        expected[n] = ids[n] + ":two " + ids[n];
        ASSERT_EQ(contents(index), expected) << "replacing \"" << ids[n] << "\"";
    }
    EXPECT_EQ(
        index_layout::query(file, "SELECT count(DISTINCT conversation) FROM item WHERE id IN ('t.+1.5.u', 't.+1.6.u')"),
        std::vector<std::string>{"1"})
        << "one conversation's messages lie together";
    EXPECT_EQ(index_layout::query(
                  file, "SELECT count(DISTINCT conversation) FROM item WHERE id IN ('t.+1.5.u', 't.+1.vm.5.u',"
                        " 't.+12.5.u', 't.+1.', 'plain')"),
              std::vector<std::string>{"5"});
    std::vector<std::string> doomed;
    std::vector<std::string> kept;
    for (size_t n = 0; n < ids.size(); ++n) (n % 2 ? kept : doomed).push_back(ids[n]);
    index.deleteSearchableItemsWithIdentifiers(doomed);
    expected.clear();
    for (const auto& id : kept) expected.push_back(id + ":two " + id);
    EXPECT_EQ(contents(index), expected);
    for (const auto& id : kept) {
        const auto hits = index.search("two " + id, 20);
        EXPECT_TRUE(std::any_of(hits.begin(), hits.end(), [&](const auto& hit) { return hit.uniqueIdentifier == id; }))
            << "\"" << id << "\"";
    }
    EXPECT_EQ(index_layout::query(file, "SELECT count(*) FROM conversation"),
              index_layout::query(file, "SELECT count(DISTINCT conversation) FROM item"))
        << "the conversations of deleted items are forgotten";
    index.deleteSearchableItemsWithDomainIdentifiers({"d"});
    EXPECT_TRUE(index.items().empty());
    EXPECT_EQ(index_layout::query(file, "SELECT count(*) FROM conversation"), std::vector<std::string>{"0"});
}
