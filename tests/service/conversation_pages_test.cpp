// A conversation's pages against the loopback service: every caller of the loader hears exactly
// once, also when its request was replaced under the tag every newest page shares, never started
// (offline) or was cancelled; a page that cannot be read, or that names another conversation, still
// answers the conversation asked for; and an older page never stands for the newest one (which
// would withdraw the newer messages).
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/store/context.h"
#include "service/conversation_pages.h"
#include "service/message_list_model.h"
#include "tests/service/web_fixture.h"

namespace {

constexpr const char* kGet = "/voice/v1/voiceclient/api2thread/get";
const std::string kA = "t.+15550133", kB = "t.+15550144";

// A page of one text conversation, its items a second apart from newestMs down.
std::string pageJSON(const std::string& id, const std::vector<std::string>& itemIDs, int64_t newestMs,
                     const std::string& token = {}) {
    std::string out = "{\"thread\":{\"id\":\"" + id + "\",\"read\":true,\"view\":[\"textThreads\"],";
    if (!token.empty()) out += "\"paginationToken\":\"" + token + "\",";
    out += "\"contact\":[{\"phoneNumber\":\"" + id.substr(2) + "\"}],\"item\":[";
    for (size_t i = 0; i < itemIDs.size(); ++i) {
        if (i) out += ",";
        out += "{\"id\":\"" + itemIDs[i] + "\",\"type\":\"smsIn\",\"startTime\":\"" +
               std::to_string(newestMs - int64_t(i) * 1000) + "\",\"messageText\":\"" + itemIDs[i] + "\"}";
    }
    return out + "]}}";
}

struct ConversationPages : hxtest::WebFixture {
    std::shared_ptr<HXConversationPages> pages;
    // What each caller heard, by the name the test gave it.
    std::map<std::string, std::vector<HXPageAnswer>> heard;

    void SetUp() override {
        startService();
        app->setMessageParsingQueue(dispatch::Queue::serial("com.hxconnect.messageparser.queue"));
        ASSERT_TRUE(app->resetPersistentStore().ok());
        pages = HXConversationPagesOf(*app);
    }
    HXPageCompletion caller(const std::string& name) {
        heard[name];
        return [this, name](const HXPageAnswer& answer) { heard[name].push_back(answer); };
    }
    bool allAnswered() {
        for (const auto& [name, answers] : heard)
            if (answers.empty()) return false;
        return true;
    }
    // Every caller answered, nothing in flight, and no caller answered twice.
    void expectEachAnsweredOnce(const char* step) {
        EXPECT_TRUE(runUntil([&] { return allAnswered() && inFlight() == 0; })) << step;
        clock->runUntilIdle();
        for (const auto& [name, answers] : heard) EXPECT_EQ(answers.size(), 1u) << step << ": " << name;
    }
    std::set<std::string> storedMessages(const std::string& conversation) {
        std::set<std::string> out;
        auto context = app->managedObjectContext();
        context->performAndWait([&] {
            auto rows = context->fetch(store::FetchRequest(HXMessageStore::kConversationEntity));
            ASSERT_TRUE(rows.ok());
            for (const auto& c : rows.value())
                if (c->value("conversationID").stringValue() == conversation)
                    for (const auto& m : c->objects("Messages")) out.insert(m->value("id").stringValue());
        });
        return out;
    }
    int64_t nowMs() { return static_cast<int64_t>(dispatch::wallNow()) * 1000; }
};

// Two conversations' newest pages out at once (they share one tag, so the second replaces the
// first), the same older page asked twice, a page asked for offline and one cancelled: every
// caller is answered once, the replaced and unstarted ones as not parsed.
TEST_F(ConversationPages, EveryCallerIsAnsweredOnceWhateverBecomesOfItsRequest) {
    service->inject(emulator::Fault::Slow, kGet, 2);
    pages->loadNewest(kA, caller("A"));
    pages->loadNewest(kA, caller("A again"));  // joins the page on its way
    ASSERT_TRUE(runUntil([&] { return service->requestCount() >= 1; }));
    pages->loadNewest(kB, caller("B"));
    // A's page was replaced under the shared tag: its callers hear now, before any reply.
    ASSERT_TRUE(runUntil([&] { return heard["A"].size() == 1 && heard["A again"].size() == 1; }, 1));
    EXPECT_FALSE(heard["A"][0].parsed);
    EXPECT_EQ(heard["A"][0].conversationID, kA);
    EXPECT_TRUE(heard["B"].empty());
    ASSERT_TRUE(runUntil([&] { return service->requestCount() >= 2; }));
    service->releaseHeld();
    expectEachAnsweredOnce("two conversations");
    EXPECT_TRUE(heard["B"][0].parsed);
    EXPECT_EQ(heard["B"][0].conversationID, kB);

    // The same older page asked for twice: the first request is replaced, its caller hears so.
    heard.clear();
    service->inject(emulator::Fault::Slow, kGet, 2);
    pages->loadOlder(kA, "older-1", caller("older first"));
    pages->loadOlder(kA, "older-1", caller("older second"));
    ASSERT_TRUE(runUntil([&] { return service->requestCount() >= 4; }));
    service->releaseHeld();
    expectEachAnsweredOnce("one older page twice");
    EXPECT_FALSE(heard["older first"][0].parsed);

    // Offline after the first reachable report: nothing starts, and every caller hears so.
    heard.clear();
    const size_t requests = service->requestCount();
    HXWebClientOf(*app).firstReachabilityHandled = true;
    app->setConnectionAvailable(false);
    pages->loadOlder(kA, "older-2", caller("older offline"));
    pages->loadNewest(kA, caller("newest offline"));
    expectEachAnsweredOnce("offline");
    EXPECT_FALSE(heard["older offline"][0].parsed);
    EXPECT_FALSE(heard["newest offline"][0].parsed);
    EXPECT_EQ(service->requestCount(), requests);

    // Cancelled (the app went to the background, or signed out): the caller hears so.
    heard.clear();
    app->setConnectionAvailable(true);
    service->inject(emulator::Fault::Slow, kGet);
    pages->loadNewest(kB, caller("cancelled"));
    ASSERT_TRUE(runUntil([&] { return service->requestCount() > requests; }));
    app->cancelRequests([](const std::string&) { return true; });
    expectEachAnsweredOnce("cancelled");
    service->releaseHeld();
    EXPECT_FALSE(heard["cancelled"][0].parsed);
}

// A newest page whose reply cannot be read names no conversation: its callers are those of the
// conversation asked for.
TEST_F(ConversationPages, AnUnreadableNewestPageAnswersTheConversationAskedFor) {
    for (const char* body : {"<html>Service Unavailable</html>", "{\"thread\":"}) {
        SCOPED_TRACE(body);
        heard.clear();
        service->script(kGet, {.body = body});
        pages->loadNewest(kA, caller("A"));
        expectEachAnsweredOnce("unreadable");
        ASSERT_EQ(heard["A"].size(), 1u);
        EXPECT_EQ(heard["A"][0].conversationID, kA);
        EXPECT_FALSE(heard["A"][0].parsed);
    }
}

// A newest page that calls itself another conversation (the service answered for another thread)
// still answers the callers of the one asked for, once; the other's callers hear of their own.
TEST_F(ConversationPages, ANewestPageNamingAnotherConversationAnswersTheOneAskedFor) {
    service->script(kGet, {.body = pageJSON(kB, {"b1"}, nowMs() - 60'000)});
    pages->loadNewest(kA, caller("A"));
    expectEachAnsweredOnce("another conversation's page");
    ASSERT_EQ(heard["A"].size(), 1u);
    EXPECT_EQ(heard["A"][0].conversationID, kB) << "the answer says what the page holds";
}

// An older page covers only its own span: the newer messages stay. Taken for the newest page it
// would cover everything up to now and withdraw them. (The messages are dated before the test
// clock's now, as the service's are.)
TEST_F(ConversationPages, AnOlderPageNeverWithdrawsTheNewerMessages) {
    const int64_t now = nowMs();
    service->script(kGet, {.body = pageJSON(kA, {"n1", "n2"}, now - 60'000, "older-page")});
    pages->loadNewest(kA, caller("newest"));
    expectEachAnsweredOnce("newest");
    ASSERT_TRUE(heard["newest"][0].parsed);
    EXPECT_TRUE(heard["newest"][0].more);
    EXPECT_EQ(storedMessages(kA), (std::set<std::string>{"n1", "n2"}));

    // The last page (no token): the older messages join the newer ones.
    service->script(kGet, {.body = pageJSON(kA, {"o1", "o2"}, now - 86'400'000)});
    pages->loadOlder(kA, "older-page", caller("older"));
    expectEachAnsweredOnce("older");
    ASSERT_TRUE(heard["older"][0].parsed);
    EXPECT_EQ(heard["older"][0].older, 2u);
    EXPECT_EQ(heard["older"][0].newer, 0u);
    EXPECT_FALSE(heard["older"][0].more);
    EXPECT_EQ(storedMessages(kA), (std::set<std::string>{"n1", "n2", "o1", "o2"}));
    auto older = requestsTo(kGet).back();
    EXPECT_NE(older.body.find("\"older-page\""), std::string::npos) << older.body;
}

}  // namespace
