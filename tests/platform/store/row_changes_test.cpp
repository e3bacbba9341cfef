// The row-level changes a fetched-results controller tells its delegate: the diff of two fetches
// as a table shows it, and one notice per change (a merge's save does not tell its rows twice).
#include <gtest/gtest.h>

#include <map>

#include "platform/dispatch/dispatch.h"
#include "platform/store/context.h"
#include "platform/store/fetched_results_controller.h"
#include "tests/platform/store/store_test_support.h"

namespace {

using foundation::Value;
using store::FetchedResultsController;
using store::ManagedObjectPtr;
using store::RowChanges;

std::string text(const std::vector<size_t>& v) {
    std::string out;
    for (size_t i : v) out += (out.empty() ? "" : ",") + std::to_string(i);
    return out;
}

std::string text(const RowChanges& c) {
    return "-" + text(c.removed) + " +" + text(c.inserted) + " ~" + text(c.updated);
}

TEST(RowChanges, TheDiffOfTwoFetchesKeepsTheLongestRunInOrder) {
    auto model = storetest::messageModel();
    dispatch::ScopedVirtualClock clock;
    auto context = store::Context::create(store::ConcurrencyType::MainQueue);
    context->setPersistentStoreCoordinator(store::Coordinator::create(model));
    // Rows named by letters; "*" after a letter marks its object changed.
    std::map<char, ManagedObjectPtr> objects;
    for (char c = 'a'; c <= 'j'; ++c) objects[c] = context->insertNewObject("HX_Conversation").value();
    auto rows = [&](std::string_view names) {
        std::vector<ManagedObjectPtr> out;
        for (char c : names)
            if (c != '*') out.push_back(objects[c]);
        return out;
    };
    auto changed = [&](std::string_view names) {
        std::unordered_set<const store::ManagedObject*> out;
        for (size_t i = 0; i + 1 < names.size(); ++i)
            if (names[i + 1] == '*') out.insert(objects[names[i]].get());
        return out;
    };
    const struct {
        const char* before;
        const char* after;  // with the changed objects marked
        const char* expected;
    } cases[] = {
        {"abc", "abc", "- + ~"},
        {"abc", "ab*c*", "- + ~1,2"},
        {"abc", "dabc", "- +0 ~"},                        // a new conversation on top
        {"abc", "abcde", "- +3,4 ~"},                     // messages appended at the end
        {"cde", "abcde", "- +0,1 ~"},                     // an older page above the rows shown
        {"abcd", "acd", "-1 + ~"},                        // one gone
        {"abcd", "d*abc", "-3 +0 ~"},                     // the newest message moves a row to the top
        {"abcd", "c*ab*d", "-2 +0 ~2"},                   // moved (and changed), another changed in place
        {"abcdef", "fedcba", "-1,2,3,4,5 +0,1,2,3,4 ~"},  // reversed: one row stays
        {"", "ab", "- +0,1 ~"},
        {"ab", "", "-0,1 + ~"},
        {"abc", "xyz", "-0,1,2 +0,1,2 ~"},
    };
    objects['x'] = objects['h'], objects['y'] = objects['i'], objects['z'] = objects['j'];
    for (const auto& c : cases) {
        const RowChanges diff = FetchedResultsController::rowChanges(rows(c.before), rows(c.after), changed(c.after));
        EXPECT_EQ(text(diff), c.expected) << c.before << " -> " << c.after;
        // Applied to the rows before, the changes give the rows after.
        auto shown = rows(c.before);
        for (auto it = diff.removed.rbegin(); it != diff.removed.rend(); ++it)
            shown.erase(shown.begin() + static_cast<long>(*it));
        const auto after = rows(c.after);
        for (size_t i : diff.inserted) shown.insert(shown.begin() + static_cast<long>(i), after[i]);
        EXPECT_EQ(shown, after) << c.before << " -> " << c.after;
    }
}

class Recorder : public store::FetchedResultsControllerDelegate {
public:
    std::vector<std::string> heard;
    void controllerDidChangeRows(FetchedResultsController&, const RowChanges& changes) override {
        heard.push_back(text(changes));
    }
};

TEST(RowChanges, AMergedChangeIsToldOnceNotAgainAtTheSaveThatFollows) {
    dispatch::ScopedVirtualClock clock;
    hxtest::TempDir dir;
    auto coordinator = storetest::openStore((dir / "rows.sqlite").string());
    auto main = store::Context::create(store::ConcurrencyType::MainQueue);
    main->setPersistentStoreCoordinator(coordinator);
    for (int i = 0; i < 4; ++i) {
        auto c = main->insertNewObject("HX_Conversation").value();
        ASSERT_TRUE(c->setValue("conversationID", "c" + std::to_string(i)).ok());
        ASSERT_TRUE(c->setValue("lastdate", foundation::Date{100.0 + i}).ok());
    }
    ASSERT_TRUE(main->save().ok());
    store::FetchRequest request("HX_Conversation");
    request.sortDescriptors = {{"lastdate", false}};
    auto frc = FetchedResultsController::create(request, main);
    auto recorder = std::make_shared<Recorder>();
    frc->setDelegate(recorder);
    ASSERT_TRUE(frc->performFetch().ok());  // c3 c2 c1 c0

    // A child changes two rows' texts and brings the oldest to the top.
    auto child = store::Context::create(store::ConcurrencyType::PrivateQueue);
    child->setParentContext(main);
    child->performAndWait([&] {
        auto fetched = child->fetch(store::FetchRequest("HX_Conversation"));
        ASSERT_TRUE(fetched.ok());
        for (const auto& c : fetched.value()) {
            const std::string id = c->value("conversationID").stringValue();
            if (id == "c2" || id == "c1") {
                ASSERT_TRUE(c->setValue("lastMessageText", "new").ok());
            }
            if (id == "c0") {
                ASSERT_TRUE(c->setValue("lastdate", foundation::Date{500}).ok());
            }
        }
        ASSERT_TRUE(child->save().ok());
    });
    ASSERT_TRUE(clock->runUntil([&] { return recorder->heard.size() == 1; }, 10));
    EXPECT_EQ(recorder->heard[0], "-3 +0 ~2,3");
    // The save that writes the merge to the store tells nothing new.
    ASSERT_TRUE(main->save().ok());
    clock->runUntilIdle();
    ASSERT_EQ(recorder->heard.size(), 2u);
    EXPECT_EQ(recorder->heard[1], "- + ~");
    // A change made in the main context itself is told at its save.
    ASSERT_TRUE(frc->fetchedObjects()[1]->setValue("isStarred", true).ok());
    ASSERT_TRUE(main->save().ok());
    ASSERT_EQ(recorder->heard.size(), 3u);
    EXPECT_EQ(recorder->heard[2], "- + ~1");
}

}  // namespace
