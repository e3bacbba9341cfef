#include "platform/services/search_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
