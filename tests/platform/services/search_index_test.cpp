#include "platform/services/search_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
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
    auto makeItem = [&] {
        const int conversation = pick(12);
        SearchableItem i;
        i.uniqueIdentifier = pick(20) == 0 ? "" : "c" + std::to_string(conversation) + "." + std::to_string(pick(40));
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
            for (int n = pick(25); n > 0; --n)
                ids.push_back("c" + std::to_string(pick(12)) + "." + std::to_string(pick(40)));
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

// The index kept in a file follows every change without a clean exit: a second index reading the
// same file (the next launch after a kill) has every change the first one was handed, a change
// cut short by the kill left out. A file that does not read, or one above the bound, is set
// aside (never removed) and the index starts empty under a new generation, which tells whoever
// marked items handed over to hand them again.
TEST(SearchableIndex, AKeptIndexFollowsEveryChangeAndStartsAfreshFromADamagedOrOversizedFile) {
    hxtest::TempDir dir;
    const auto file = dir / "SearchIndex/index.json";
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
        // Killed: no writeKeptFile, and the last change torn half-way.
        std::ofstream(dir / "SearchIndex/index.json.journal", std::ios::app) << "{\"index\":[{\"id\":\"e\",\"tit";
    }
    {
        SearchableIndex next;
        const auto kept = next.keepInFile(file);
        EXPECT_FALSE(kept.startedEmpty) << kept.note;
        EXPECT_EQ(next.generation(), firstGeneration);
        EXPECT_EQ(contents(next), (std::vector<std::string>{"a:apricot", "d:date"}));
        ASSERT_EQ(next.search("date", 5).size(), 1u);
        next.deleteAllSearchableItems();
        next.indexSearchableItems({item("f", "u.c1", "fig")});
    }
    {
        SearchableIndex again;
        again.keepInFile(file);
        EXPECT_EQ(contents(again), std::vector<std::string>{"f:fig"});
    }

    // A file that does not read.
    std::ofstream(file) << "[{\"title\": \"no id\"}]";
    {
        SearchableIndex damaged;
        const auto kept = damaged.keepInFile(file);
        EXPECT_TRUE(kept.startedEmpty);
        EXPECT_NE(kept.note.find("does not read"), std::string::npos) << kept.note;
        EXPECT_TRUE(damaged.items().empty());
        EXPECT_NE(damaged.generation(), firstGeneration);
        EXPECT_TRUE(std::filesystem::exists(dir / "SearchIndex/index.json.set-aside"));
        damaged.indexSearchableItems({item("g", "u.c1", "grape")});
    }

    // A file above the bound is not read at all.
    {
        std::ofstream big(file);
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
    EXPECT_GT(std::filesystem::file_size(dir / "SearchIndex/index.json.set-aside"), 512u * 1024);
}
