#include "platform/foundation/flat_map.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

using foundation::FlatMap;

namespace {

// Sends every key to one of a few homes, so that runs are long and wrap around the table's end:
// what deletion must keep findable.
struct CrowdingHash {
    size_t operator()(int key) const { return static_cast<size_t>(key % 3); }
};

// Random insertions, lookups and deletions checked against the standard map after every step.
template <typename Map>
void checkAgainstStandardMap(Map& map, int keys, int steps, unsigned seed) {
    std::unordered_map<int, int> expected;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pick(0, keys - 1), action(0, 9);
    for (int step = 0; step < steps; ++step) {
        const int key = pick(random);
        switch (action(random)) {
            case 0:
            case 1:
            case 2:
            case 3: {
                auto [value, added] = map.emplace(key, step);
                auto [it, expectedAdded] = expected.try_emplace(key, step);
                ASSERT_EQ(added, expectedAdded) << "step " << step;
                ASSERT_EQ(*value, it->second) << "step " << step;
                break;
            }
            case 4:
            case 5:
            case 6:
                ASSERT_EQ(map.erase(key), expected.erase(key) == 1) << "step " << step;
                break;
            case 7:
                map[key] += 1;
                expected[key] += 1;
                break;
            default: {
                const int* found = map.find(key);
                auto it = expected.find(key);
                ASSERT_EQ(found != nullptr, it != expected.end()) << "step " << step;
                if (found) {
                    ASSERT_EQ(*found, it->second) << "step " << step;
                }
            }
        }
        ASSERT_EQ(map.size(), expected.size()) << "step " << step;
    }
    // Every key, present or not, answers as the standard map does; iteration visits each entry once.
    for (int key = 0; key < keys; ++key) {
        const int* found = map.find(key);
        auto it = expected.find(key);
        ASSERT_EQ(found != nullptr, it != expected.end()) << "key " << key;
        if (found) {
            EXPECT_EQ(*found, it->second) << "key " << key;
        }
    }
    std::unordered_map<int, int> visited;
    map.forEach([&](int key, int value) { EXPECT_TRUE(visited.emplace(key, value).second) << "key " << key; });
    EXPECT_EQ(visited, expected);
}

}  // namespace

TEST(FlatMap, AnswersAsTheStandardMapThroughRandomInsertionsAndDeletions) {
    struct Case {
        const char* name;
        int keys;
        int steps;
    };
    const Case cases[] = {
        {"few keys, much churn", 20, 20000},
        {"a table that grows and shrinks", 5000, 60000},
        {"keys spread thinly", 1000000, 30000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlatMap<int, int> map;
        checkAgainstStandardMap(map, c.keys, c.steps, 7);
    }
    {
        SCOPED_TRACE("every key in three long runs");
        FlatMap<int, int, CrowdingHash> map;
        checkAgainstStandardMap(map, 300, 20000, 11);
    }
}

TEST(FlatMap, KeysThatAreViewsAndPointersFindTheirEntries) {
    // Views compare by their characters, not their addresses.
    std::vector<std::string> owned;
    for (int i = 0; i < 2000; ++i) owned.push_back("conversation-" + std::to_string(i));
    FlatMap<std::string_view, uint32_t> views;
    for (uint32_t i = 0; i < owned.size(); ++i) EXPECT_TRUE(views.emplace(owned[i], i).second);
    const std::string copy = "conversation-1234";
    ASSERT_NE(views.find(copy), nullptr);
    EXPECT_EQ(*views.find(copy), 1234u);
    EXPECT_FALSE(views.emplace(copy, 0).second) << "an equal view is the same key";
    EXPECT_FALSE(views.contains("conversation-2000"));
    // Pointers to neighbouring objects (whose low bits never differ) spread over the table.
    std::vector<int64_t> objects(4000);
    FlatMap<const int64_t*, size_t> pointers;
    pointers.reserve(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) pointers.emplace(&objects[i], i);
    for (size_t i = 0; i < objects.size(); ++i) ASSERT_EQ(*pointers.find(&objects[i]), i);
    EXPECT_EQ(pointers.find(objects.data() + objects.size()), nullptr);
    // Emptied, a map takes new entries as a fresh one does.
    pointers.clear();
    EXPECT_TRUE(pointers.empty());
    EXPECT_EQ(pointers.find(&objects[0]), nullptr);
    EXPECT_TRUE(pointers.emplace(&objects[0], 7).second);
    EXPECT_EQ(*pointers.find(&objects[0]), 7u);
}
