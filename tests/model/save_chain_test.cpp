// The save chain with its new-message notifications and the search index, through the
// application object, on the virtual clock.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sqlite3.h>

#include <atomic>
#include <map>

#include "app/connect_app_delegate.h"
#include "app/hxc_passcode_lock.h"
#include "model/account.h"
#include "model/cache.h"
#include "model/conversation.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/services/search_index.h"
#include "platform/services/user_notifications.h"
#include "platform/store/context.h"
#include "platform/store/coordinator.h"
#include "tests/support/full_disk.h"
#include "tests/support/log_capture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/test_support.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;
using store::ContextPtr;
using store::ManagedObjectPtr;

class FakeDelegate : public hxtest::RecordedApp<> {
public:
    // Empty: the user name of the current account, as the application object reads it.
    std::string username = "me.user@example.com";
    std::string currentUsername() const override {
        return username.empty() ? RecordedApp::currentUsername() : username;
    }
    // Each time the save chain asks the passcode lock to cover the app.
    size_t lockChecks() const { return lockChecks_; }
    void showPasscodeLockIfNeeded() override {
        ++lockChecks_;
        RecordedApp::showPasscodeLockIfNeeded();
    }
    // Messages are indexed unless a passcode is required and the lock's Spotlight switch is off.
    static void setSpotlight(bool on) {
        auto& lock = HXCPasscodeLock::sharedLock();
        lock.setPasscodeRequired(true);
        lock.setUseSpotlight(on);
    }

private:
    std::atomic<size_t> lockChecks_{0};
};

struct Item {
    int64_t number;
    bool from = false;
    std::string text = "hello";
    Dictionary extra = {};
};

class SaveChain : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setHomeDirectory(home.path());
        security::Keychain::setDefaultPath(home.path() / "keychain.json");
        foundation::UserDefaults::resetStandardUserDefaults();
        HXCPasscodeLock::sharedLock().forgetKeptValues();
        FakeDelegate::setSpotlight(false);
        defaults()->registerDefaults({{"notificationTypes", 7}});
        delegate = std::make_shared<FakeDelegate>();
        delegate->setStoreBusyTimeout(0);
        HX_ConnectAppDelegate::setSharedDelegate(delegate);
        center()->removeAllPendingNotificationRequests();
        services::SearchableIndex::defaultSearchableIndex()->deleteAllSearchableItems();
        services::SearchableIndex::setIndexingAvailable(true);
        ASSERT_TRUE(delegate->managedObjectContext());
    }
    void TearDown() override {
        clock->runUntilIdle();
        HX_ConnectAppDelegate::setSharedDelegate(nullptr);
        dispatch::setClock(nullptr);
    }
    static std::shared_ptr<foundation::UserDefaults> defaults() {
        return foundation::UserDefaults::standardUserDefaults();
    }
    static std::shared_ptr<services::UserNotificationCenter> center() {
        return services::UserNotificationCenter::currentNotificationCenter();
    }

    // One conversation with its items, inserted into ctx.
    static void add(const ContextPtr& ctx, const std::string& id, int type, const std::vector<Item>& items,
                    Dictionary conversation = {}) {
        auto c = ctx->insertNewObject("HX_Conversation").value();
        (void)c->setValue("conversationID", id);
        (void)c->setValue("type", type);
        (void)c->setValue("isRead", false);
        (void)c->setValue("phoneNumber", "+12025550123");
        (void)c->setValue("lastdate", foundation::Date{1000});
        for (const auto& [k, v] : conversation) (void)c->setValue(k.string(), v);
        for (const auto& item : items) {
            auto m = ctx->insertNewObject("HX_Message").value();
            (void)m->setValue("number", item.number);
            (void)m->setValue("from", item.from);
            (void)m->setValue("message", item.text);
            for (const auto& [k, v] : item.extra) (void)m->setValue(k.string(), v);
            (void)m->setObject("Conversation", c);
        }
    }

    // Runs fill in a new child and saves it through the chain as a background fetch; returns the
    // fetch results the handler got once the chain has settled.
    std::vector<int> backgroundFetch(const std::function<void(const ContextPtr&)>& fill, int* completions = nullptr) {
        auto child = delegate->newChildContext();
        EXPECT_TRUE(child);
        auto results = std::make_shared<std::vector<int>>();
        auto done = std::make_shared<std::atomic<int>>(0);
        child->perform([=, this] {
            fill(child);
            delegate->saveMOC2Parent(
                child, [done] { ++*done; }, [results](int r) { results->push_back(r); });
        });
        EXPECT_TRUE(clock->runUntil([&] { return done->load() == 1 && !results->empty(); }, 10));
        clock->runUntilIdle();
        if (completions) *completions = done->load();
        return *results;
    }

    std::vector<std::string> notificationIds() {
        std::vector<std::string> out;
        for (const auto& r : center()->pendingNotificationRequests()) out.push_back(r.identifier);
        return out;
    }
    const services::NotificationRequest* request(const std::string& id) {
        static std::vector<services::NotificationRequest> all;
        all = center()->pendingNotificationRequests();
        for (const auto& r : all)
            if (r.identifier == id) return &r;
        return nullptr;
    }

    hxtest::TempDir home;
    dispatch::ScopedVirtualClock clock;
    std::shared_ptr<FakeDelegate> delegate;
};

TEST_F(SaveChain, RepliesSilenceOlderIncomingItemsOnly) {
    int completions = 0;
    auto results = backgroundFetch(
        [](const ContextPtr& ctx) {
            add(ctx, "answered", 10, {{100}, {200}, {300, true}});
            add(ctx, "newer", 10, {{100}, {200, true}, {300}});
        },
        &completions);
    EXPECT_EQ(results, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchNewData});
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(notificationIds(), std::vector<std::string>{"newer_300"});
    EXPECT_EQ(delegate->lockChecks(), 1u);
    EXPECT_EQ(delegate->mocAccessCount(), 0u);
    // Everything answered: no data, and nothing posted.
    center()->removeAllPendingNotificationRequests();
    results = backgroundFetch([](const ContextPtr& ctx) { add(ctx, "only-reply", 10, {{50}, {60, true}}); });
    EXPECT_EQ(results, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchNoData});
    EXPECT_TRUE(notificationIds().empty());
}

TEST_F(SaveChain, NotificationTypesSelectKindsAndShapeTheContent) {
    auto fill = [](const ContextPtr& ctx) {
        add(ctx, "sms", 10, {{1}}, {{"ABName", "Ann Lee\u00A0(mobile)"}});
        add(ctx, "vm", 2, {{2, false, "call me"}}, {{"sender", "Bob"}});
        add(ctx, "missed", 0, {{3, false, ""}}, {{"sender", "+12025550123"}});
        add(ctx, "recorded", 4, {{4}}, {{"sender", "Rec"}});
        add(ctx, "anon", 11, {{5}}, {{"phoneNumber", "Unknown"}, {"sender", "Unknown"}});
        add(ctx, "group", 10, {{6, false, "hi", {{"senderName", "Cy"}}}, {7, false, "yo", {{"senderName", ""}}}},
            {{"sender", "Group Message"}});
    };
    defaults()->setInteger(0, "notificationTypes");
    EXPECT_EQ(backgroundFetch(fill), std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchNewData});
    EXPECT_TRUE(notificationIds().empty());

    defaults()->setInteger(1, "notificationTypes");
    backgroundFetch(fill);
    auto ids = notificationIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"anon_5", "group_6", "group_7", "recorded_4", "sms_1"}));
    const auto* sms = request("sms_1");
    ASSERT_TRUE(sms);
    EXPECT_EQ(sms->content.title, "\u2709\uFE0F \u2068Ann Lee\u2069");
    EXPECT_EQ(sms->content.body, "hello");
    EXPECT_EQ(sms->content.categoryIdentifier, "com.hxconnect.composeReply");
    EXPECT_EQ(sms->content.sound, "NewMessage.caf");
    EXPECT_EQ(sms->content.threadIdentifier, "sms");
    EXPECT_EQ(sms->content.summaryArgument, "\u2068Ann Lee\u2069");
    EXPECT_EQ(sms->content.userInfo.get("id"), Value("sms"));
    EXPECT_EQ(sms->content.userInfo.get("phoneNumber"), Value("+12025550123"));
    EXPECT_EQ(sms->trigger.timeInterval, 1.0);
    EXPECT_FALSE(sms->trigger.repeats);
    EXPECT_EQ(request("anon_5")->content.categoryIdentifier, "com.hxconnect.markRead");
    EXPECT_EQ(request("anon_5")->content.title, "\u2709\uFE0F \u2068Unknown\u2069");
    EXPECT_EQ(request("recorded_4")->content.title, " \u2068Rec\u2069");
    EXPECT_EQ(request("recorded_4")->content.categoryIdentifier, "com.hxconnect.markRead");
    EXPECT_EQ(request("group_6")->content.title, "\u2709\uFE0F \u2068Cy to Group\u2069");
    EXPECT_EQ(request("group_7")->content.title, "\u2709\uFE0F \u2068Group Message\u2069");

    center()->removeAllPendingNotificationRequests();
    defaults()->setInteger(4, "notificationTypes");
    backgroundFetch(fill);
    // Kinds outside the table need no bit.
    ids = notificationIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"missed_3", "recorded_4"}));
    const auto* missed = request("missed_3");
    EXPECT_EQ(missed->content.body, "Missed call");
    EXPECT_EQ(missed->content.categoryIdentifier, "");
    // The sender is the raw number, so it is shown formatted.
    EXPECT_NE(missed->content.title, "\U0001F6AB \u2068+12025550123\u2069");
    EXPECT_EQ(missed->content.title.rfind("\U0001F6AB ", 0), 0u);

    center()->removeAllPendingNotificationRequests();
    defaults()->setInteger(2, "notificationTypes");
    backgroundFetch(fill);
    ids = notificationIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"recorded_4", "vm_2"}));
    EXPECT_EQ(request("vm_2")->content.title, "\U0001F4DE \u2068Bob\u2069");
}

// A name the service gives is isolated in the title, so its U+202E reverses nothing beyond it (a
// closing U+2069 it carries cannot end the isolate early); a body over 4,000 characters (one more,
// or 100,000 more) is cut to 4,000 with "…", never inside a character (a surrogate pair, a letter
// and its accent).
TEST_F(SaveChain, ANotificationIsolatesTheNameAndBoundsTheBody) {
    const std::string a3998(3998, 'a');
    const std::string tail(100'000, 'z');
    defaults()->setInteger(1, "notificationTypes");
    backgroundFetch([&](const ContextPtr& ctx) {
        add(ctx, "rlo", 10, {{1, false, a3998 + "bc" + tail}}, {{"sender", "\u202EnnA\u2069 evil"}});
        add(ctx, "pair", 10, {{2, false, a3998 + "\U0001F600" + tail}}, {{"sender", "Bo"}});
        add(ctx, "mark", 10, {{3, false, a3998 + "e\u0301" + tail}}, {{"sender", "Cy"}});
        add(ctx, "short", 10, {{4, false, a3998 + "bc"}}, {{"sender", "Di"}});
        add(ctx, "over", 10, {{5, false, a3998 + "bcd"}}, {{"sender", "Ed"}});
    });
    const auto* rlo = request("rlo_1");
    ASSERT_TRUE(rlo);
    EXPECT_EQ(rlo->content.title, "\u2709\uFE0F \u2068\u202EnnA evil\u2069");
    EXPECT_EQ(rlo->content.body, a3998 + "b\u2026");
    EXPECT_EQ(foundation::utf16Length(rlo->content.body), 4000u);
    ASSERT_TRUE(request("pair_2") && request("mark_3") && request("short_4"));
    EXPECT_EQ(request("pair_2")->content.body, a3998 + "\u2026");
    EXPECT_EQ(request("mark_3")->content.body, a3998 + "\u2026");
    EXPECT_EQ(request("short_4")->content.body, a3998 + "bc") << "4,000 characters stay whole";
    ASSERT_TRUE(request("over_5"));
    EXPECT_EQ(request("over_5")->content.body, a3998 + "b\u2026") << "4,001 characters are cut";
}

TEST_F(SaveChain, APictureShowsWithAnEmptyBodyOnlyWhenCached) {
    const std::string id = "../../escape";
    foundation::Data png{0x89, 'P', 'N', 'G'};
    HXCCache::sharedCache()->setObject(HXCCachedObject::withData(png), id);
    auto attachment = [](const std::string& aid) {
        return Value(Array{Value(Dictionary{{"id", aid}, {"mimeType", "image/png"}})});
    };
    backgroundFetch([&](const ContextPtr& ctx) {
        add(ctx, "pic", 10, {{1, false, "[IMAGE]", {{"attachments", attachment(id)}}}});
        add(ctx, "nopic", 10, {{2, false, "[IMAGE]", {{"attachments", attachment("not-cached")}}}});
    });
    const auto* pic = request("pic_1");
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->content.body, "");
    ASSERT_EQ(pic->content.attachments.size(), 1u);
    EXPECT_EQ(pic->content.attachments[0].identifier, id);
    EXPECT_EQ(pic->content.attachments[0].data, png);
    EXPECT_FALSE(pic->content.attachments[0].typeHint.empty());
    // The id stayed one file name inside the temporary folder, and the file is gone again.
    EXPECT_EQ(pic->content.attachments[0].url.parent_path(), foundation::temporaryDirectory());
    EXPECT_FALSE(std::filesystem::exists(pic->content.attachments[0].url));
    EXPECT_EQ(request("nopic_2")->content.body, "[IMAGE]");
    EXPECT_TRUE(request("nopic_2")->content.attachments.empty());
}

TEST_F(SaveChain, AttachmentsWithIdsUpToAndPastTheFileNameLimitAllArrive) {
    // 237 bytes and less fit beside the writer's temporary affixes as they are; longer ones,
    // right up to and past the file-name limit, must not be dropped.
    const size_t lengths[] = {3, 237, 238, 240, 254, 255, 256, 400};
    foundation::Data png{0x89, 'P', 'N', 'G'};
    std::vector<std::string> ids;
    for (size_t n : lengths) {
        ids.push_back(std::to_string(n) + "-" + std::string(n - std::to_string(n).size() - 1, 'a'));
        ASSERT_EQ(ids.back().size(), n);
        HXCCache::sharedCache()->setObject(HXCCachedObject::withData(png), ids.back());
    }
    backgroundFetch([&](const ContextPtr& ctx) {
        for (size_t i = 0; i < ids.size(); ++i)
            add(ctx, "long" + std::to_string(i), 10,
                {{1,
                  false,
                  "[IMAGE]",
                  {{"attachments", Value(Array{Value(Dictionary{{"id", ids[i]}, {"mimeType", "image/png"}})})}}}});
    });
    for (size_t i = 0; i < ids.size(); ++i) {
        const auto* shown = request("long" + std::to_string(i) + "_1");
        ASSERT_TRUE(shown) << lengths[i];
        ASSERT_EQ(shown->content.attachments.size(), 1u) << "an id of " << lengths[i] << " bytes was dropped";
        EXPECT_EQ(shown->content.attachments[0].identifier, ids[i]);
        EXPECT_EQ(shown->content.attachments[0].data, png);
        EXPECT_LE(shown->content.attachments[0].url.filename().string().size() + foundation::kAtomicWriteAffixBytes,
                  foundation::kMaxFileNameBytes);
    }
}

TEST_F(SaveChain, ARootSaveWaitsForChildrenAndTheHandlerTravelsToIt) {
    auto path = HX_ConnectAppDelegate::storePathForAccount(delegate->username);
    auto onDisk = [&] {
        auto coordinator = store::Coordinator::create(HXMessageStore::managedObjectModel());
        EXPECT_TRUE(coordinator->addPersistentStore(path, HXMessageStore::storeOptions(0)).ok());
        auto ctx = store::Context::create(store::ConcurrencyType::MainQueue);
        ctx->setPersistentStoreCoordinator(coordinator);
        return ctx->count(store::FetchRequest("HX_Message")).value();
    };
    auto busy = delegate->newChildContext();  // another piece of work still running
    std::vector<int> results;
    std::atomic<int> done{0};
    auto child = delegate->newChildContext();
    child->perform([&] {
        add(child, "c", 10, {{1}});
        delegate->saveMOC2Parent(
            child, [&] { ++done; }, [&](int r) { results.push_back(r); });
    });
    ASSERT_TRUE(clock->runUntil([&] { return done.load() == 1; }, 10));
    clock->runUntilIdle();
    EXPECT_EQ(onDisk(), 0u);
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(notificationIds().empty());
    EXPECT_EQ(delegate->mocAccessCount(), 1u);
    // The other work ends without changes: the held-back save runs, writes and announces.
    busy->perform([&] { delegate->saveMOC2Parent(busy); });
    ASSERT_TRUE(clock->runUntil([&] { return !results.empty(); }, 10));
    clock->runUntilIdle();
    EXPECT_EQ(results, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchNewData});
    EXPECT_EQ(onDisk(), 1u);
    EXPECT_EQ(notificationIds(), std::vector<std::string>{"c_1"});
    EXPECT_EQ(done.load(), 1);

    // The same when the other work gives its use back without saving.
    auto idle = delegate->newChildContext();
    results.clear();
    backgroundFetch([](const ContextPtr&) {});  // nothing saved: answered at once
    child = delegate->newChildContext();
    child->perform([&] {
        add(child, "d", 10, {{2}});
        delegate->saveMOC2Parent(child, {}, [&](int r) { results.push_back(r); });
    });
    clock->runUntilIdle();
    EXPECT_TRUE(results.empty());
    delegate->decreaseMocAccessCount();
    (void)idle;
    ASSERT_TRUE(clock->runUntil([&] { return !results.empty(); }, 10));
    clock->runUntilIdle();
    EXPECT_EQ(results, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchNewData});
    EXPECT_EQ(onDisk(), 2u);
}

TEST_F(SaveChain, NothingSavedAnswersNoDataAtOnceAndOnlyOnce) {
    int completions = 0;
    auto results = backgroundFetch([](const ContextPtr&) {}, &completions);
    EXPECT_EQ(results, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchNoData});
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(delegate->mocAccessCount(), 0u);
    // On the main context directly, without a background fetch, the completion still runs.
    bool ran = false;
    delegate->saveMOC2Parent(delegate->managedObjectContext(), [&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(SaveChain, AFailedSaveAnswersFailedOnceAndKeepsTheChanges) {
    // Another connection holds the file, so the main context's write fails.
    sqlite3* other = nullptr;
    auto path = HX_ConnectAppDelegate::storePathForAccount(delegate->username);
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
    int completions = 0;
    auto results = backgroundFetch([](const ContextPtr& ctx) { add(ctx, "f", 10, {{1}}); }, &completions);
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(results, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchFailed});
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(delegate->lockChecks(), 1u);
    EXPECT_TRUE(notificationIds().empty());
    // The items were not lost: the next save writes and announces them.
    results.clear();
    std::vector<int> later;
    delegate->saveMOC2Parent(delegate->managedObjectContext(), {}, [&](int r) { later.push_back(r); });
    clock->runUntilIdle();
    EXPECT_EQ(later, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchNewData});
    EXPECT_EQ(notificationIds(), std::vector<std::string>{"f_1"});
}

TEST_F(SaveChain, RootSavesThatFindTheDiskFullAreLoggedOnceAndLoseNothing) {
    hxtest::LogCapture log;
    auto storeLines = [&] {
        size_t n = 0;
        for (const auto& line : log.lines()) n += line.find("message store") != std::string::npos;
        return n;
    };
    {
        hxtest::FullDisk full;
        for (int i = 0; i < 3; ++i) {
            auto results = backgroundFetch([i](const ContextPtr& ctx) {
                add(ctx, "full" + std::to_string(i), 10, {{static_cast<int64_t>(i + 1)}});
            });
            EXPECT_EQ(results, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchFailed}) << i;
        }
    }
    EXPECT_EQ(storeLines(), 1u);
    // The store is a copy of the service's data: its failed save is logged, not put to the user.
    EXPECT_TRUE(delegate->shell().alerts().empty());
    std::vector<int> later;
    delegate->saveMOC2Parent(delegate->managedObjectContext(), {}, [&](int r) { later.push_back(r); });
    clock->runUntilIdle();
    EXPECT_EQ(later, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchNewData});
    EXPECT_EQ(notificationIds().size(), 3u);
    // Once a save got through, the next failure is news again.
    {
        hxtest::FullDisk full;
        backgroundFetch([](const ContextPtr& ctx) { add(ctx, "again", 10, {{9}}); });
    }
    EXPECT_EQ(storeLines(), 2u);
}

TEST_F(SaveChain, SpotlightOnIndexesAndOffWithdraws) {
    auto index = services::SearchableIndex::defaultSearchableIndex();
    backgroundFetch([](const ContextPtr& ctx) {
        add(ctx, "t1", 10, {{10, true, "sent text"}, {11, false, "got text"}}, {{"ABName", "Ann\u00A0(home)"}});
        add(ctx, "v1", 2, {{20, false, "voice words"}});
        add(ctx, "m1", 0, {{30, false, ""}});
    });
    EXPECT_TRUE(index->items().empty());  // Spotlight was off

    auto unindexed = [&] {
        auto main = delegate->managedObjectContext();
        auto req = delegate->managedObjectModel()->fetchRequestFromTemplate("msg_unindexed", {}).value();
        return main->count(req).value();
    };
    EXPECT_EQ(unindexed(), 4u);
    delegate->setSpotlight(true);
    delegate->indexMessages();
    ASSERT_TRUE(clock->runUntil([&] { return index->items().size() == 3; }, 10));
    clock->runUntilIdle();
    EXPECT_EQ(unindexed(), 0u);
    std::map<std::string, services::SearchableItem> byId;
    for (const auto& i : index->items()) byId[i.uniqueIdentifier] = i;
    const std::string user = "me.user%40example.com";
    ASSERT_TRUE(byId.count("t1.10." + user)) << byId.begin()->first;
    const auto& sent = byId["t1.10." + user];
    EXPECT_EQ(sent.domainIdentifier, "meuserexamplecom.t1");
    EXPECT_EQ(sent.attributeSet.title, "SMS to Ann");
    EXPECT_EQ(sent.attributeSet.contentType, services::kContentTypeMessage);
    EXPECT_EQ(sent.attributeSet.accountIdentifier, "me.user@example.com");
    EXPECT_EQ(byId["t1.11." + user].attributeSet.title, "SMS from Ann");
    const auto& vm = byId["v1.20." + user];
    EXPECT_EQ(vm.attributeSet.contentType, services::kContentTypeAudio);
    EXPECT_EQ(vm.attributeSet.contentDescription, "voice words");
    EXPECT_EQ(vm.attributeSet.title.rfind("VM from ", 0), 0u);

    // New items of a save go to the index at once while Spotlight is on.
    backgroundFetch([](const ContextPtr& ctx) { add(ctx, "t2", 11, {{40}}); });
    EXPECT_EQ(index->items().size(), 4u);

    delegate->setSpotlight(false);
    delegate->indexMessages();
    ASSERT_TRUE(clock->runUntil([&] { return unindexed() == 5; }, 10));
    EXPECT_TRUE(index->items().empty());
    clock->runUntilIdle();
    EXPECT_EQ(delegate->mocAccessCount(), 0u);
}

// A save that feeds the index lets its messages go as one that does not: a list's saves of a
// hundred thousand messages kept an object of every message in the main context after its save
// (the save held each one's name through the write), some 200 bytes a message for good.
TEST_F(SaveChain, ASaveThatFeedsTheIndexKeepsNoObjectOfItsMessages) {
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
    GTEST_SKIP() << "the sanitizer's allocator keeps no such count";
#endif
    (void)services::SearchableIndex::defaultSearchableIndex()->items();  // its file opened
    constexpr int kMessages = 20000;
    auto saveMessages = [&](const std::string& conversation, bool spotlight) {
        FakeDelegate::setSpotlight(spotlight);
        auto child = delegate->newChildContext();
        child->performAndWait([&] {
            std::vector<Item> items;
            for (int i = 0; i < kMessages; ++i)
                items.push_back({int64_t{i}, i % 2 == 0, "message number " + std::to_string(i)});
            add(child, conversation, 10, items, {{"isRead", true}});
            delegate->saveMOC2Parent(child);
        });
        clock->runUntilIdle();
        EXPECT_FALSE(delegate->managedObjectContext()->hasChanges());
    };
    saveMessages("warm", false);
    int64_t start = hxtest::heapBytesInUse();
    saveMessages("off", false);
    const int64_t off = hxtest::heapBytesInUse() - start;
    start = hxtest::heapBytesInUse();
    saveMessages("on", true);
    const int64_t on = hxtest::heapBytesInUse() - start;
    EXPECT_EQ(services::SearchableIndex::defaultSearchableIndex()->search("number 19999", 5).size(), 1u);
    // The index's page cache (1 MiB) is the most the feed may add.
    EXPECT_LT(on - off, 3 << 19) << (on - off) / kMessages << " bytes a message";
}

// A completed sign-in replaces the current account on the main thread while the index pass, on a
// background queue, reads it to find the account's store: the hand-over must be safe (the thread
// sanitizer's build of this test catches an unlocked one).
TEST_F(SaveChain, ASignInWhileTheIndexIsFedHandsTheAccountOverSafely) {
    auto index = services::SearchableIndex::defaultSearchableIndex();
    auto signedIn = [] {
        auto account = std::make_shared<HX_Account>();
        account->setUsername("me.user@example.com");
        return account;
    };
    delegate->setAccount(signedIn());
    delegate->username.clear();
    backgroundFetch([](const ContextPtr& ctx) { add(ctx, "t1", 10, {{1}, {2, true}, {3}}); });
    FakeDelegate::setSpotlight(true);
    delegate->indexMessages();
    // Signs in again and again while the pass runs on its queue.
    for (int round = 0; round < 500 && index->items().size() < 3; ++round) {
        delegate->setAccount(signedIn());
        clock->runUntil([&] { return index->items().size() == 3; }, 0.01);
    }
    ASSERT_TRUE(clock->runUntil([&] { return index->items().size() == 3; }, 10));
    clock->runUntilIdle();
    EXPECT_EQ(delegate->mocAccessCount(), 0u);
}

TEST_F(SaveChain, TheIndexedMarkIsWrittenWithTheItemsItFedAndAFailedSaveTakesItBack) {
    auto index = services::SearchableIndex::defaultSearchableIndex();
    const auto path = HX_ConnectAppDelegate::storePathForAccount(delegate->username);
    auto query = [&](const std::string& sql) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        std::string out;
        sqlite3_exec(
            db, sql.c_str(),
            [](void* to, int, char** values, char**) {
                *static_cast<std::string*>(to) += values[0] ? values[0] : "null";
                return 0;
            },
            &out, nullptr);
        sqlite3_close(db);
        return out;
    };
    auto marks = [&] {
        return query(
            "SELECT group_concat(number || '=' || isIndexedForSearch) FROM (SELECT * FROM HX_Message ORDER BY number)");
    };

    // A save that fails with Spotlight on feeds nothing, and its mark goes with it: the save that
    // writes the rows later does so with Spotlight off.
    FakeDelegate::setSpotlight(true);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
    auto results = backgroundFetch([](const ContextPtr& ctx) { add(ctx, "t1", 10, {{1}, {2, true}}); });
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(results, std::vector<int>{HX_ConnectAppDelegate::BackgroundFetchFailed});
    EXPECT_TRUE(index->items().empty());
    FakeDelegate::setSpotlight(false);
    delegate->saveMOC2Parent(delegate->managedObjectContext());
    clock->runUntilIdle();
    EXPECT_EQ(marks(), "1=0,2=0");
    EXPECT_TRUE(index->items().empty());

    // With Spotlight on, the items are fed once the rows are written, and the rows are written
    // marked: nothing is left over for a later save.
    FakeDelegate::setSpotlight(true);
    backgroundFetch([](const ContextPtr& ctx) { add(ctx, "t2", 11, {{3}}); });
    EXPECT_EQ(marks(), "1=0,2=0,3=1");
    EXPECT_FALSE(delegate->managedObjectContext()->hasChanges());
    const auto items = index->items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].uniqueIdentifier, "t2.3.me.user%40example.com");
    // Without a contact name the item names the formatted number, which the conversation keeps.
    const std::string formatted = HX_Conversation::formattedNumberFor("+12025550123");
    ASSERT_FALSE(formatted.empty());
    EXPECT_EQ(items[0].attributeSet.title, "SMS from " + formatted);
    EXPECT_EQ(query("SELECT formattedNumber FROM HX_Conversation WHERE conversationID = 't2'"), formatted);

    // A large save goes to the index in several batches, every item whole.
    std::vector<Item> many;
    for (int64_t n = 100; n < 5100; ++n) many.push_back({n, n % 3 == 0, "text " + std::to_string(n)});
    backgroundFetch([&](const ContextPtr& ctx) { add(ctx, "t3", 10, many, {{"ABName", "Ann"}}); });
    std::map<std::string, services::SearchableItem> byID;
    for (auto& item : index->items()) byID.emplace(item.uniqueIdentifier, std::move(item));
    ASSERT_EQ(byID.size(), 1u + many.size());
    for (const Item& m : many) {
        auto it = byID.find("t3." + std::to_string(m.number) + ".me.user%40example.com");
        ASSERT_NE(it, byID.end()) << m.number;
        EXPECT_EQ(it->second.domainIdentifier, "meuserexamplecom.t3") << m.number;
        EXPECT_EQ(it->second.attributeSet.title, m.from ? "SMS to Ann" : "SMS from Ann") << m.number;
        EXPECT_EQ(it->second.attributeSet.contentDescription, m.text) << m.number;
    }
}

TEST(SearchIndexStandIn, DeletingADomainTakesItsSubDomainsOnly) {
    services::SearchableIndex index;
    index.indexSearchableItems({{"1", "user", {}}, {"2", "user.c1", {}}, {"3", "user2.c1", {}}, {"4", "other", {}}});
    index.indexSearchableItems({{"1", "user.c9", {}}});  // same id: replaced
    index.deleteSearchableItemsWithDomainIdentifiers({"user"});
    auto items = index.items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].uniqueIdentifier, "3");
    EXPECT_EQ(items[1].uniqueIdentifier, "4");
}

}  // namespace
