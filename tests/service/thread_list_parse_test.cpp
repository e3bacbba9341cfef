// The thread-list parse on crafted replies: item types, groups, unknown numbers, transcripts and
// lengths, conversation pages that replace what they cover, malformed replies, and the list
// summary of a conversation.
#include <gtest/gtest.h>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "platform/store/context.h"
#include "service/conversation_store.h"
#include "service/request_machinery.h"
#include "service/vc_messages.h"

namespace {

using foundation::Value;

struct Parse : ::testing::Test {
    dispatch::ScopedVirtualClock clock{1'760'000'100.0};
    std::shared_ptr<HX_ConnectAppDelegate> app = std::make_shared<HX_ConnectAppDelegate>();
    std::atomic<int> saved{0};

    void SetUp() override {
        dispatch::RunLoop::main();
        auto account = std::make_shared<HX_Account>();
        account->setUsername("parse-" + std::to_string(::getpid()) + "@example.test");
        account->setAuthV2(std::string("AuthV2"));
        app->setAccount(account);
        app->setMessageParsingQueue(dispatch::Queue::serial("parse"));
        ASSERT_TRUE(app->resetPersistentStore().ok());
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "kOlderConversationMessagesLoadedNotification", [this](const foundation::Notification&) { ++saved; });
    }
    void TearDown() override {
        clock->runUntilIdle();
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
    }
    std::shared_ptr<VC_Messages> list(int viewType) {
        const std::string w = "https://voice.test/voice/";
        auto settings = VC_Messages::viewSettingsForType(viewType, w);
        auto l = std::make_shared<VC_Messages>(app, settings);
        l->setShownScreen(true);
        return l;
    }
    // Parses text as the list does and waits for its save; false when nothing was saved.
    bool parse(const std::shared_ptr<VC_Messages>& l, const std::string& text, int flags = 0) {
        const int before = saved;
        auto data = std::make_shared<foundation::Data>(text.begin(), text.end());
        l->parseMessagesFromData_v2(data, flags, {});
        clock->runUntil([&] { return saved > before; }, 5);
        clock->runUntilIdle();
        return saved > before;
    }
    store::ManagedObjectPtr conversation(const std::string& id) {
        store::ManagedObjectPtr found;
        auto context = app->managedObjectContext();
        context->performAndWait([&] { found = HXConversationStore::conversationWithID(context, id); });
        return found;
    }
    size_t conversations() {
        size_t n = 0;
        auto context = app->managedObjectContext();
        context->performAndWait(
            [&] { n = context->count(store::FetchRequest(HXMessageStore::kConversationEntity)).value(); });
        return n;
    }
    std::vector<std::string> messageIDs(const std::string& id) {
        std::vector<std::string> ids;
        auto context = app->managedObjectContext();
        context->performAndWait([&] {
            auto c = HXConversationStore::conversationWithID(context, id);
            if (!c) return;
            for (const auto& m : HXConversationStore::sortedMessages(c)) ids.push_back(m->value("id").stringValue());
        });
        return ids;
    }
    std::string text(const std::string& id) {
        std::string t;
        auto context = app->managedObjectContext();
        context->performAndWait([&] {
            auto c = HXConversationStore::conversationWithID(context, id);
            if (!c) return;
            auto m = HXConversationStore::sortedMessages(c);
            if (!m.empty())
                t = m.back()->value("message").stringValue() + "|" + m.back()->value("length").stringValue();
        });
        return t;
    }
};

}  // namespace

TEST_F(Parse, ItemTypesDecideTheConversationTypeTextAndLength) {
    auto history = list(3);
    ASSERT_TRUE(parse(history, R"({"thread":[
      {"id":"rec","read":true,"contact":[{"phoneNumber":"+15550101"}],"item":[
        {"id":"r1","type":"inbound","startTime":"1700000000000","duration":"75",
         "attachment":[{"callRecording":{"attachmentId":"a1"}}]}]},
      {"id":"vm","read":false,"contact":[{"phoneNumber":"+15550102"}],"item":[
        {"id":"v1","type":"voicemail","startTime":1700000001000,"duration":"9",
         "transcript":{"wordTokens":[{"word":"call"},{"word":"me"},{"nothing":1}]}}]},
      {"id":"vm2","contact":[{"phoneNumber":"+15550103"}],"item":[{"id":"v2","type":"voicemail","startTime":"1700000002000"}]},
      {"id":"missed","contact":[{"phoneNumber":"+15550104"}],"item":[{"id":"c1","type":"missed","startTime":"1700000003000"}]},
      {"id":"long","contact":[{"phoneNumber":"+15550105"}],"item":[{"id":"c2","type":"callReturn","startTime":"1700000004000","duration":"150"}]},
      {"id":"one","contact":[{"phoneNumber":"+15550106"}],"item":[{"id":"c3","type":"inbound","startTime":"1700000005000","duration":"1"}]},
      {"id":"cfg","contact":[{"phoneNumber":"+15550107"}],"item":[{"id":"s1","type":"settings","startTime":"1700000006000"}]},
      {"id":"odd","contact":[{"phoneNumber":"+15550108"}],"item":[{"id":"s2","type":"nonsense","startTime":"1700000007000"}]}
    ]})"));
    struct Case {
        const char* id;
        int64_t type;
        const char* text;
    } cases[] = {
        {"rec", 4, "Recorded call|1:15"}, {"vm", 2, "call me|0:09"}, {"vm2", 2, "Transcript not available|0:00"},
        {"missed", 0, "|0 seconds"},      {"long", 7, "|3 minutes"}, {"one", 1, "|1 second"},
    };
    for (const auto& c : cases) {
        auto conv = conversation(c.id);
        ASSERT_TRUE(conv) << c.id;
        EXPECT_EQ(conv->value("type").int64Value(), c.type) << c.id;
        EXPECT_EQ(text(c.id), c.text) << c.id;
    }
    // Items of no type or an unknown type are not stored.
    EXPECT_FALSE(conversation("cfg"));
    EXPECT_FALSE(conversation("odd"));
    EXPECT_TRUE(conversation("vm")->value("isRead") == Value(false));
    EXPECT_EQ(conversation("vm")->value("lastdate"), Value(foundation::Date{1700000001}));
}

TEST_F(Parse, GroupsUnknownNumbersAndASingleThreadObject) {
    auto sms = list(1);
    ASSERT_TRUE(parse(sms, R"({"thread":[
      {"id":"g","headingContactsPhoneNumberKey":["+15550111","+15550112"],"contact":[{"phoneNumber":"+15550111","name":"A"}],
       "item":[{"id":"g1","type":"smsIn","startTime":"1700000000000","mmsMessage":{"text":"\nhi all\n","senderPhoneNumber":"+15550112"}}]},
      {"id":"u","contact":[{"phoneNumber":"Unknown caller","name":"x"}],
       "item":[{"id":"u1","type":"smsIn","startTime":"1700000001000","messageText":"who?"}]}
    ]})"));
    auto group = conversation("g");
    ASSERT_TRUE(group);
    EXPECT_EQ(group->value("phoneNumber"), Value("+15550111|+15550112"));
    EXPECT_EQ(group->value("sender"), Value("Group Message"));
    EXPECT_EQ(text("g"), "hi all|0 seconds");
    EXPECT_EQ(group->value("lastMessageText").stringValue().find("hi all") != std::string::npos, true);
    auto unknown = conversation("u");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->value("phoneNumber"), Value("Unknown"));
    EXPECT_EQ(unknown->value("ABName"), Value(""));

    ASSERT_TRUE(parse(sms, R"({"thread":{"id":"single","contact":[{"phoneNumber":"+15550113"}],
      "item":[{"id":"s1","type":"smsOut","startTime":"1700000002000","messageText":"one"}]}})"));
    ASSERT_TRUE(conversation("single"));
    EXPECT_EQ(conversation("single")->value("type").int64Value(), 11);
}

TEST_F(Parse, TheNewestConversationPageReplacesWhatItCovers) {
    auto sms = list(1);
    ASSERT_TRUE(parse(sms, R"({"thread":[{"id":"t","contact":[{"phoneNumber":"+15550121"}],"item":[
      {"id":"a","type":"smsIn","startTime":"1700000001000","messageText":"a"},
      {"id":"b","type":"smsIn","startTime":"1700000002000","messageText":"b"},
      {"id":"c","type":"smsIn","startTime":"1700000003000","messageText":"c"}]}]})"));
    EXPECT_EQ(messageIDs("t"), (std::vector<std::string>{"a", "b", "c"}));
    // An older page with a token keeps what lies outside its span.
    ASSERT_TRUE(parse(sms,
                      R"({"thread":[{"id":"t","paginationToken":"1","contact":[{"phoneNumber":"+15550121"}],"item":[
      {"id":"b","type":"smsIn","startTime":"1700000002000","messageText":"b"}]}]})",
                      VC_Messages::ConversationReload));
    EXPECT_EQ(messageIDs("t"), (std::vector<std::string>{"a", "b", "c"}));
    // The newest page without a token covers everything: "b" was deleted on the service.
    ASSERT_TRUE(parse(sms, R"({"thread":[{"id":"t","contact":[{"phoneNumber":"+15550121"}],"item":[
      {"id":"c","type":"smsIn","startTime":"1700000003000","messageText":"c"},
      {"id":"a","type":"smsIn","startTime":"1700000001000","messageText":"a"}]}]})",
                      VC_Messages::ConversationReload | VC_Messages::NewestPage));
    EXPECT_EQ(messageIDs("t"), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(conversation("t")->value("numberOfMessages").int64Value(), 2);
}

TEST_F(Parse, MalformedRepliesEndTheLoadingAndStoreNothing) {
    struct Recording : VC_Messages {
        using VC_Messages::VC_Messages;
        std::atomic<int> aborts{0};
        void abortLoading() override { ++aborts; }
    };
    auto l = std::make_shared<Recording>(app, VC_Messages::smsViewSettings("https://voice.test/voice/"));
    l->setShownScreen(true);
    int expectedAborts = 0;
    for (const char* bad : {"", "{}", "[]", "null", "not json", "{\"thread\":", "\"text\""}) {
        auto data = std::make_shared<foundation::Data>(bad, bad + strlen(bad));
        l->parseMessagesFromData_v2(data, 0, {});
        ++expectedAborts;
        clock->runUntilIdle();
        EXPECT_EQ(l->aborts, expectedAborts) << bad;
    }
    // Shapes that parse but hold nothing usable: saved, nothing stored, no crash.
    for (const char* odd : {R"({"thread":[1,"x",null,{"id":5},{"id":"z","item":"nope"}]})",
                            R"({"thread":[{"id":"q","item":[{"id":1,"type":["smsIn"],"startTime":{}}]}]})",
                            R"({"thread":[{"id":"q","contact":"x","item":[{"type":"smsIn","mmsMessage":[]}]}]})"}) {
        parse(l, odd);
    }
    EXPECT_EQ(conversations(), 0u);
    // A 401 error renews the session.
    auto data = std::make_shared<foundation::Data>();
    std::string unauthorized = R"({"error":{"code":401}})";
    data->assign(unauthorized.begin(), unauthorized.end());
    l->parseMessagesFromData_v2(data, 0, {});
    clock->runUntilIdle();
    EXPECT_EQ(app->shell().count("displayLogin"), 1u);
    // Signed out, nothing is parsed; without bytes the fetch completion hears "failed".
    app->account()->setAuthV2(std::nullopt);
    l->parseMessagesFromData(std::make_shared<foundation::Data>(unauthorized.begin(), unauthorized.end()), 0, {});
    int result = -1;
    l->parseMessagesFromData(nullptr, 0, [&](int r) { result = r; });
    clock->runUntilIdle();
    EXPECT_EQ(app->shell().count("displayLogin"), 1u);
    EXPECT_EQ(result, 2);
}

TEST_F(Parse, TheListsResultsFollowTheStoreTheListTypeAndTheSearch) {
    struct Recording : VC_Messages {
        using VC_Messages::VC_Messages;
        std::atomic<int> changes{0}, reloads{0};
        void controllerDidChangeContent() override { ++changes; }
        void reloadTable() override { ++reloads; }
    };
    auto l = std::make_shared<Recording>(app, VC_Messages::smsViewSettings("https://voice.test/voice/"));
    l->setShownScreen(true);
    auto frc = l->fetchedResultsController();
    ASSERT_TRUE(frc);
    EXPECT_EQ(l->fetchedResultsController(), frc) << "made once";
    EXPECT_EQ(frc->cacheName(), std::optional<std::string>("SMS"));
    clock->runUntilIdle();
    EXPECT_EQ(l->reloads, 1) << "the first filter runs on the main queue";
    EXPECT_TRUE(frc->fetchedObjects().empty());
    auto ids = [&] {
        std::vector<std::string> out;
        for (const auto& c : frc->fetchedObjects()) out.push_back(c->value("conversationID").stringValue());
        return out;
    };
    ASSERT_TRUE(parse(l, R"({"thread":[
      {"id":"old","read":true,"contact":[{"phoneNumber":"+15550001","name":"Olga"}],
       "item":[{"id":"o1","type":"smsIn","startTime":"1700000001000","messageText":"x"}]},
      {"id":"new","read":false,"view":["allSpamThreads"],"contact":[{"phoneNumber":"+15550002","name":"Nina"}],
       "item":[{"id":"n1","type":"smsIn","startTime":"1700000009000","messageText":"y"}]},
      {"id":"arch","read":true,"view":["allArchivedThreads"],"contact":[{"phoneNumber":"+15550003","name":"Ada"}],
       "item":[{"id":"a1","type":"smsOut","startTime":"1700000005000","messageText":"z"}]},
      {"id":"vm","contact":[{"phoneNumber":"+15550004","name":"Vic"}],
       "item":[{"id":"v1","type":"voicemail","startTime":"1700000007000"}]}]})"));
    // The save reached the main context: the controller fetched again and told the list.
    EXPECT_GE(l->changes, 1);
    EXPECT_EQ(ids(), (std::vector<std::string>{"arch", "old"})) << "newest first, no spam, no voicemail";

    struct Case {
        int listType;
        std::string search;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {VC_Messages::Spam, "", {"new"}},      {VC_Messages::Archive, "", {"arch"}},
        {VC_Messages::Normal, "olg", {"old"}}, {VC_Messages::Normal, "ADA", {"arch"}},
        {VC_Messages::Normal, "nobody", {}},   {VC_Messages::Normal, "", {"arch", "old"}},
    };
    for (const auto& c : cases) {
        l->setSelectedListType(c.listType);
        l->setSearchText(c.search);
        const int before = l->reloads;
        l->filterTable();
        EXPECT_EQ(l->reloads, before + 1);
        EXPECT_EQ(ids(), c.shown) << c.listType << " " << c.search;
    }

    // A logout drops the controller; the next use makes a new one.
    foundation::NotificationCenter::defaultCenter().post("kLogoutNotification");
    auto again = l->fetchedResultsController();
    EXPECT_NE(again, frc);
    clock->runUntilIdle();
    EXPECT_EQ(again->fetchedObjects().size(), 2u);
}

TEST(ConversationSummary, AttachmentKindsAndTypeMasks) {
    auto att = [](std::vector<const char*> types) {
        foundation::Array a;
        for (auto t : types) a.push_back(Value(foundation::Dictionary{{"id", Value("x")}, {"mimeType", Value(t)}}));
        return a;
    };
    struct Case {
        std::vector<const char*> types;
        const char* summary;
    } cases[] = {
        {{"image/png"}, "Attachment: 1 image"},
        {{"video/mp4"}, "Attachment: 1 video"},
        {{"audio/amr"}, "Attachment: 1 audio file"},
        {{"text/x-vcard"}, "Attachment: 1 contact card"},
        {{"application/pdf"}, "Attachment: 1 application/pdf"},
        {{"image/png", "image/png", "image/png"}, "Attachment: 3 images"},
        {{"image/png", "video/mp4"}, "Attachment: 2 mixed attachments"},
        {{"text/x-vcard", "text/x-vcard"}, "Attachment: 2 contact cards"},
    };
    for (const auto& c : cases) EXPECT_EQ(HXConversationStore::attachmentSummary(att(c.types)), c.summary);
    EXPECT_EQ(HXConversationStore::typesForMask(3072), (foundation::Array{Value(int64_t{10}), Value(int64_t{11})}));
    EXPECT_EQ(HXConversationStore::typeCodeForMask(HXConversationStore::maskForItemType("sip")), 17);
    EXPECT_EQ(HXConversationStore::maskForItemType("webCall"),
              HXConversationStore::maskForItemType("shadowNumberCall"));
    EXPECT_TRUE(HXConversationStore::isHistoryType(7));
    EXPECT_FALSE(HXConversationStore::isHistoryType(10));
    EXPECT_FALSE(HXConversationStore::isHistoryType(70));
}
