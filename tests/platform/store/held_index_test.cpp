#include "platform/store/held_index.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

using store::HeldIndex;
using store::ObjectIdentity;

namespace {

// Identities numbered as a case asks: the index reads nothing else of them.
std::vector<std::unique_ptr<ObjectIdentity>> identities(const std::vector<uint64_t>& numbers) {
    std::vector<std::unique_ptr<ObjectIdentity>> made;
    for (uint64_t n : numbers) made.push_back(std::make_unique<ObjectIdentity>(nullptr, n == 0 ? 7 : 0, n, nullptr));
    return made;
}

}  // namespace

// Random holds, lookups and releases over identities numbered in different ways, checked against
// the standard map after every step: the index must find exactly what was held at the place given,
// whether an identity sits in the run or in the map beside it.
TEST(HeldIndex, AnswersAsTheStandardMapForEveryKindOfNumbering) {
    struct Case {
        const char* name;
        std::vector<uint64_t> numbers;
        int steps;
    };
    std::vector<Case> cases;
    std::vector<uint64_t> import, gaps, descending, twins, stored, far;
    for (uint64_t n = 1; n <= 3000; ++n) import.push_back(n);
    for (uint64_t n = 0; n < 500; ++n) gaps.push_back(1000 + n * 7);
    for (uint64_t n = 600; n > 0; --n) descending.push_back(n);
    // Two coordinators number their identities alike: equal numbers, different identities.
    for (uint64_t n = 1; n <= 300; ++n) twins.insert(twins.end(), {n, n});
    // Read from the store: no temporary number at all, among numbered ones.
    for (uint64_t n = 0; n < 400; ++n) stored.push_back(n % 3 == 0 ? 0 : 50 + n);
    // Numbers far apart, each beyond what a run may span from the last.
    for (uint64_t n = 0; n < 200; ++n) far.push_back(5 + n * 1'000'003);
    cases.push_back({"an import's numbers in order", import, 30000});
    cases.push_back({"numbers with gaps", gaps, 8000});
    cases.push_back({"numbers made in reverse", descending, 8000});
    cases.push_back({"two identities per number", twins, 8000});
    cases.push_back({"identities without a number", stored, 8000});
    cases.push_back({"numbers far apart", far, 4000});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto ids = identities(c.numbers);
        HeldIndex index;
        std::unordered_map<const ObjectIdentity*, size_t> expected;
        std::mt19937 random(17);
        std::uniform_int_distribution<size_t> pick(0, ids.size() - 1);
        std::uniform_int_distribution<int> action(0, 9);
        size_t nextPlace = 0;
        // First the way an import goes: every identity held in the order it was made.
        for (const auto& id : ids) {
            const bool added = expected.try_emplace(id.get(), nextPlace).second;
            ASSERT_EQ(index.emplace(id.get(), nextPlace), added);
            ++nextPlace;
        }
        for (int step = 0; step < c.steps; ++step) {
            const ObjectIdentity* id = ids[pick(random)].get();
            const int a = action(random);
            if (a < 4) {
                const bool added = expected.try_emplace(id, nextPlace).second;
                ASSERT_EQ(index.emplace(id, nextPlace), added) << "step " << step;
                ++nextPlace;
            } else if (a < 8) {
                ASSERT_EQ(index.erase(id), expected.erase(id) == 1) << "step " << step;
            } else if (a == 8 && step % 500 == 0) {
                index.clear();
                expected.clear();
            } else {
                const auto found = index.find(id);
                const auto it = expected.find(id);
                ASSERT_EQ(found.has_value(), it != expected.end()) << "step " << step;
                if (found) {
                    ASSERT_EQ(*found, it->second) << "step " << step;
                }
            }
            ASSERT_EQ(index.size(), expected.size()) << "step " << step;
        }
        for (const auto& id : ids) {
            const auto found = index.find(id.get());
            const auto it = expected.find(id.get());
            ASSERT_EQ(found.has_value(), it != expected.end());
            if (found) {
                EXPECT_EQ(*found, it->second);
            }
        }
        // Once everything is released the index is empty and starts a new run where it is told.
        for (const auto& id : ids) index.erase(id.get());
        EXPECT_TRUE(index.empty());
        EXPECT_FALSE(index.find(ids.front().get()));
        EXPECT_TRUE(index.emplace(ids.back().get(), 3));
        EXPECT_EQ(index.find(ids.back().get()), std::optional<size_t>(3));
    }
}

// Nothing is held for a null identity, and an identity is never found through another one that
// shares its number.
TEST(HeldIndex, AnIdentityIsFoundOnlyByItself) {
    HeldIndex index;
    EXPECT_FALSE(index.emplace(nullptr, 1));
    EXPECT_FALSE(index.contains(nullptr));
    ObjectIdentity mine(nullptr, 0, 42, nullptr), theirs(nullptr, 0, 42, nullptr), stored(nullptr, 9, 0, nullptr);
    ASSERT_TRUE(index.emplace(&mine, 5));
    EXPECT_FALSE(index.find(&theirs));
    EXPECT_FALSE(index.find(&stored));
    ASSERT_TRUE(index.emplace(&theirs, 6));
    EXPECT_EQ(index.find(&mine), std::optional<size_t>(5));
    EXPECT_EQ(index.find(&theirs), std::optional<size_t>(6));
    EXPECT_FALSE(index.emplace(&mine, 7)) << "held already";
    EXPECT_TRUE(index.erase(&mine));
    EXPECT_FALSE(index.erase(&mine));
    EXPECT_EQ(index.find(&theirs), std::optional<size_t>(6));
    EXPECT_EQ(index.size(), 1u);
}
