// The search index when the app is killed while it stores messages: a child process saves batch
// after batch of messages through the save chain, with the index kept in its file as the run
// keeps it, and is killed (SIGKILL) right after a store commit or at a random moment. Each home is
// then opened again, as the next launch opens it: every message the store holds marked indexed is
// in the index (nothing marks it for indexing again), and every item of the index opens its
// conversation when tapped as a search result, or, when it names a message the store does not
// hold (handed over by a save the kill cut short), is withdrawn by that tap and opens nothing
// else.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <set>

#include "app/connect_app_delegate.h"
#include "app/screens.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "platform/toolkit/window.h"
#include "tests/model/search_index_kill.h"
#include "tests/support/test_support.h"

namespace {

// The conversation screens the shell asks for, by conversation id.
struct OpenedScreens : HXScreens {
    std::vector<std::string> opened;
    std::shared_ptr<HXConversationScreen> makeConversationScreen(const HXScreenRoles&,
                                                                 const HXConversationSetup& setup) override {
        opened.push_back(setup.conversationID);
        return nullptr;
    }
};

struct Trial {
    int commits = 0;            // store commits the killed run made
    size_t markedMessages = 0;  // messages the store holds marked indexed
    size_t missing = 0;         // of those, the ones the index lacks
    size_t strays = 0;          // items naming a message the store does not hold
};

// The next launch in home: the kept index read again, the store opened; checks both and taps
// every item that names no stored message, and some that do.
Trial restartAndCheck(const std::filesystem::path& home) {
    Trial t;
    std::ifstream commits(home / "commits");
    for (std::string line; std::getline(commits, line);) ++t.commits;

    foundation::setHomeDirectory(home);
    security::Keychain::setDefaultPath(home / "keychain.json");
    foundation::UserDefaults::resetStandardUserDefaults();
    auto index = services::SearchableIndex::defaultSearchableIndex();
    const auto kept = index->keepInFile(hxkill::indexFile(home));
    EXPECT_TRUE(kept.note.empty()) << kept.note;
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    auto account = std::make_shared<HX_Account>();
    account->setUsername(hxkill::kUser);
    app->setAccount(account);
    auto screens = std::make_shared<OpenedScreens>();
    app->setScreens(screens);
    toolkit::Window window;
    app->setWindow(&window);
    auto context = app->managedObjectContext();
    EXPECT_TRUE(context);
    if (!context) return t;

    std::set<std::string> items;
    for (const auto& item : index->items()) items.insert(item.uniqueIdentifier);
    // Every stored message by its item's identifier, and whether it is marked indexed.
    std::map<std::string, bool> stored;
    std::set<std::string> conversations;
    auto messages = context->fetch(store::FetchRequest(HXMessageStore::kMessageEntity));
    EXPECT_TRUE(messages.ok());
    for (const auto& m : messages.ok() ? messages.value() : std::vector<store::ManagedObjectPtr>{}) {
        auto conversation = m->object("Conversation");
        if (!conversation) continue;
        const std::string id = conversation->value("conversationID").stringValue();
        conversations.insert(id);
        const std::string item = id + "." + std::to_string(m->value("number").int64Value()) + ".kill%40example.test";
        const bool marked = m->value("isIndexedForSearch").boolValue();
        stored[item] = marked;
        if (!marked) continue;
        ++t.markedMessages;
        if (!items.count(item)) {
            if (++t.missing <= 3) ADD_FAILURE() << item << " is stored marked indexed, and the index lacks it";
        }
    }

    // Taps: every stray item, and every hundredth of the others.
    size_t n = 0;
    for (const auto& item : items) {
        const bool stray = !stored.count(item);
        t.strays += stray;
        if (!stray && n++ % 100 != 0) continue;
        const std::string conversation = item.substr(0, item.find('.'));
        screens->opened.clear();
        EXPECT_TRUE(app->continueUserActivity(services::kSearchableItemActionType,
                                              {{services::kSearchableItemActivityIdentifier, item}}));
        std::set<std::string> after;
        for (const auto& i : index->items()) after.insert(i.uniqueIdentifier);
        if (!stray) {
            EXPECT_EQ(screens->opened, std::vector<std::string>{conversation}) << item;
            EXPECT_TRUE(after.count(item)) << item << " was withdrawn though its message is stored";
        } else {
            // Its conversation opens when the store holds it, and the item is found no more.
            EXPECT_EQ(screens->opened, conversations.count(conversation) ? std::vector<std::string>{conversation}
                                                                         : std::vector<std::string>{})
                << item;
            EXPECT_FALSE(after.count(item)) << item << " names no stored message and is still found";
        }
    }
    app->setWindow(nullptr);
    app.reset();
    index->deleteAllSearchableItems();
    return t;
}

TEST(SearchIndexUnderKill, EveryMessageStoredMarkedIndexedIsFoundAndEveryHitOpensItsConversation) {
    const std::string child = HX_SEARCH_INDEX_CHILD;
    // Half the trials die right after a store commit, half at a random moment.
    constexpr int kTrials = 16;
    hxtest::TempDir dir;
    const auto home = foundation::homeDirectory();
    Trial total;
    int killedAfterACommit = 0, missingTrials = 0, strayTrials = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const auto trialHome = dir / ("home" + std::to_string(trial));
        std::filesystem::create_directories(trialHome);
        std::string out;
        // Through a shell of its own, whose word on the kill goes nowhere: the status is its exit.
        const int status = hxtest::runCommand("sh -c \"'" + child + "' '" + trialHome.string() + "' " +
                                                  std::to_string(trial) + "; exit \\$?\" 2>/dev/null",
                                              &out);
        ASSERT_EQ(status, 128 + SIGKILL) << "the child was to be killed: " << out;
        const Trial t = restartAndCheck(trialHome);
        // The child of an even trial dies at its 2nd to 15th commit (not by its timer).
        killedAfterACommit += trial % 2 == 0 && t.commits >= 2 && t.commits <= 15;
        missingTrials += t.missing > 0;
        strayTrials += t.strays > 0;
        total.commits += t.commits;
        total.markedMessages += t.markedMessages;
        total.missing += t.missing;
        total.strays += t.strays;
    }
    foundation::setHomeDirectory(home);
    RecordProperty("markedMessages", std::to_string(total.markedMessages));
    RecordProperty("missingTrials", std::to_string(missingTrials));
    RecordProperty("strayTrials", std::to_string(strayTrials));
    EXPECT_EQ(total.missing, 0u) << "in " << missingTrials << " of " << kTrials << " trials";
    // The trials did what they were for: the store held messages at the kill, and the kills came
    // right after commits.
    EXPECT_GT(total.markedMessages, 0u);
    EXPECT_EQ(killedAfterACommit, kTrials / 2);
    std::printf("search index kill trials: %d, stored marked indexed %zu, missing from the index %zu (in %d trials), "
                "stray items %zu (in %d trials)\n",
                kTrials, total.markedMessages, total.missing, missingTrials, total.strays, strayTrials);
}

}  // namespace
