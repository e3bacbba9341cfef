// Conversation operations against the emulator: each request's body and tag, the store following
// the reply (and undoing an early change on a refusal), the service's state changing with it,
// and the action codes a conversation offers.
#include <gtest/gtest.h>

#include "model/message_store.h"
#include "platform/mail/mail_compose_controller.h"
#include "platform/store/context.h"
#include "service/conversation_operations.h"
#include "service/conversation_store.h"
#include "tests/service/web_fixture.h"

namespace {

using foundation::Value;

struct Conversations : hxtest::WebFixture {
    std::vector<std::string> threads;  // the emulator's text thread ids, newest first
    std::string voicemail;             // its voicemail thread
    void SetUp() override {
        emulator::GeneratorOptions o;
        o.seed = 31;
        o.smsThreads = 4;
        o.voicemailThreads = 1;
        startService(emulator::generateAccount(o));
        ASSERT_TRUE(app->resetPersistentStore().ok());
        // The store holds what the service lists.
        service->withAccount([&](emulator::Account& a) {
            for (const auto& t : a.threads) store(t);
            return 0;
        });
        ASSERT_TRUE(app->managedObjectContext()->save().ok());
    }
    void store(const emulator::Thread& t) {
        auto context = app->managedObjectContext();
        auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("conversationID", t.id);
        (void)c->setValue("type", int64_t{t.isText() ? 10 : 2});
        (void)c->setValue("phoneNumber", t.numbers.front());
        (void)c->setValue("lastdate", foundation::Date{static_cast<double>(t.lastTimeMs() / 1000)});
        (void)c->setValue("isRead", t.read);
        for (const auto& item : t.items) {
            auto m = context->insertNewObject(HXMessageStore::kMessageEntity).value();
            (void)m->setValue("id", item.id);
            (void)m->setValue("number", item.startTimeMs);
            (void)m->setValue("message", item.text);
            (void)m->setObject("Conversation", c);
        }
        (t.isText() ? threads.push_back(t.id) : void(voicemail = t.id));
    }
    store::ManagedObjectPtr conversation(const std::string& id) { return app->getConversationWithID(id); }
    emulator::Thread thread(const std::string& id) {
        return service->withAccount([&](emulator::Account& a) {
            auto* t = a.thread(id);
            return t ? *t : emulator::Thread{};
        });
    }
    std::string lastBody(const std::string& path) {
        auto r = requestsTo(path);
        return r.empty() ? std::string() : r.back().body;
    }
    // Waits for the reply's save to reach the main context.
    bool settled() {
        return runUntil([&] { return inFlight() == 0 && app->mocAccessCount() == 0; }) && (clock->runUntilIdle(), true);
    }
};

const std::string kUpdate = "/voice/v1/voiceclient/thread/updateattributes";

}  // namespace

TEST_F(Conversations, ReadAndSpamStatesFollowTheReply) {
    const std::string id = threads[0];
    const bool wasRead = conversation(id)->value("isRead").boolValue();
    int handled = 0;
    const std::string mark = service->origin() + "/voice/inbox/mark/_SMS_" + (wasRead ? "0_" : "1_") + id;
    app->setCompletionHandler([&] { ++handled; }, mark);  // a completion waiting for the mark
    HXConversationOperations::of(app)->changeReadStatusForConversationWithID(id);
    EXPECT_TRUE(inTable(mark));
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastBody(kUpdate),
              "[[\"" + id + "\",null,null," + (wasRead ? "false" : "true") + ",[]],[null,null,null,true],1]");
    EXPECT_EQ(conversation(id)->value("isRead").boolValue(), !wasRead);
    EXPECT_EQ(thread(id).read, !wasRead);
    EXPECT_EQ(posted["kUnreadSMSCountChangedNotification"], 1);
    EXPECT_EQ(handled, 1);
    EXPECT_FALSE(app->completionHandler());

    // A voicemail conversation uses the "VM" form of the tag.
    const std::string vm = voicemail;
    (void)HXConversationOperations::of(app)->markConversation(vm, true);
    EXPECT_TRUE(inTable(service->origin() + "/voice/inbox/mark/_VM_1_" + vm));
    ASSERT_TRUE(settled());
    EXPECT_TRUE(conversation(vm)->value("isRead").boolValue());
    EXPECT_EQ(posted["kUnreadVMCountChangedNotification"], 1);

    HXConversationOperations::of(app)->changeSpamStatusForConversationWithID(id);
    EXPECT_TRUE(inTable("markSpamStatus_SMS_1_" + id));
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastBody(kUpdate), "[[\"" + id + "\",null,true,null,[]],[null,null,true],1]");
    EXPECT_TRUE(conversation(id)->value("isSpam").boolValue());
    EXPECT_TRUE(thread(id).spam);
    EXPECT_EQ(posted["kConversationPropertiesChangeNotification"], 1);

    HXConversationOperations::of(app)->blockContact(true, id);
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastBody(kUpdate), "[[\"" + id + "\",true,null,null,[]],[null,true],1]");
    EXPECT_TRUE(conversation(id)->value("isSenderBlocked").boolValue());
    EXPECT_TRUE(thread(id).blocked);
}

TEST_F(Conversations, ArchiveChangesAtOnceAndARefusalUndoesIt) {
    const std::string id = threads[1];
    HXConversationOperations::of(app)->changeArchiveStateForConversationWithID(id);
    EXPECT_TRUE(conversation(id)->value("isArchived").boolValue());
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastBody(kUpdate), "[[\"" + id + "\",null,false,null,[],true],[null,null,true,null,null,true],1]");
    EXPECT_TRUE(conversation(id)->value("isArchived").boolValue());
    EXPECT_TRUE(thread(id).archived);

    service->inject(emulator::Fault::InvalidArgument, kUpdate);
    HXConversationOperations::of(app)->changeArchiveStateForConversationWithID(id);
    EXPECT_FALSE(conversation(id)->value("isArchived").boolValue());
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastBody(kUpdate), "[[\"" + id + "\",null,null,null,[],false],[null,null,null,null,null,true],1]");
    EXPECT_TRUE(conversation(id)->value("isArchived").boolValue());
    ASSERT_TRUE(runUntil([&] { return alerts().size() == 1; }));
    EXPECT_EQ(alerts()[0].title, "Error");
    EXPECT_EQ(alerts()[0].message, "Request contains an invalid argument.");
    EXPECT_TRUE(thread(id).archived);

    // Without a token nothing is asked of the service, so nothing changes here either.
    setTokenAvailable(false);
    HXConversationOperations::of(app)->changeArchiveStateForConversationWithID(id);
    EXPECT_TRUE(conversation(id)->value("isArchived").boolValue());
    EXPECT_FALSE(inTable(service->origin() + "/voice/inbox/archiveMessages/_" + id));
}

TEST_F(Conversations, DeletingRemovesTheConversationOnlyWhenTheServiceDid) {
    const std::string id = threads[2];
    service->inject(emulator::Fault::InvalidArgument, "/voice/v1/voiceclient/thread/delete");
    HXConversationOperations::of(app)->deleteConversationWithID(id);
    EXPECT_TRUE(conversation(id)->value("isTrash").boolValue());
    ASSERT_TRUE(settled());
    ASSERT_TRUE(conversation(id));
    EXPECT_FALSE(conversation(id)->value("isTrash").boolValue());
    ASSERT_TRUE(runUntil([&] { return alerts().size() == 1; }));

    setTokenAvailable(false);
    HXConversationOperations::of(app)->deleteConversationWithID(id);
    EXPECT_FALSE(conversation(id)->value("isTrash").boolValue());
    setTokenAvailable(true);

    // An unread conversation goes: the badges are counted again from the store.
    (void)conversation(id)->setValue("isRead", false);
    ASSERT_TRUE(app->managedObjectContext()->save().ok());
    int64_t unread = 0;
    for (const auto& t : threads) unread += t != id && !conversation(t)->value("isRead").boolValue();
    app->shell().clear();
    HXConversationOperations::of(app)->deleteConversationWithID(id);
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastBody("/voice/v1/voiceclient/thread/delete"), "[\"" + id + "\"]");
    EXPECT_FALSE(conversation(id));
    EXPECT_TRUE(thread(id).id.empty());
    EXPECT_GE(posted["kMessageReloadingCompleteNotification"], 1);
    const bool vmUnread = !conversation(voicemail)->value("isRead").boolValue();
    std::vector<std::string> counts;
    for (const auto& call : app->shell().calls())
        if (call.rfind("setUnreadCount ", 0) == 0) counts.push_back(call);
    EXPECT_EQ(counts, (std::vector<std::string>{"setUnreadCount " + std::to_string(unread) + " 1",
                                                std::string("setUnreadCount ") + (vmUnread ? "1" : "0") + " 2"}));
}

TEST_F(Conversations, DeletingOneMessageAndTheLastOne) {
    const std::string id = threads[0];
    auto items = thread(id).items;
    ASSERT_GE(items.size(), 2u);
    auto deleteItem = [&](const std::string& item) {
        foundation::Dictionary d{{"url", Value("/voice/v1/voiceclient/threaditem/delete?alt=json")},
                                 {"contentType", Value("application/json+protobuf")},
                                 {"body", Value("[\"" + item + "\"]")}};
        app->startAsyncLoadWithRequest(*app->apiRequestWithDict(d),
                                       "/voice/v1/voiceclient/threaditem/delete?alt=json_" + id + "_" + item);
        return settled();
    };
    ASSERT_TRUE(deleteItem(items.back().id));
    auto c = conversation(id);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->objects("Messages").size(), items.size() - 1);
    // The summary follows the newest message left.
    EXPECT_EQ(c->value("lastMessageText").stringValue(), items[items.size() - 2].text);
    for (size_t i = 0; i + 1 < items.size(); ++i) ASSERT_TRUE(deleteItem(items[i].id));
    EXPECT_FALSE(conversation(id));
    // Every stored deletion recounted the badges.
    EXPECT_EQ(app->shell().count("setUnreadCount"), 2 * items.size());
}

TEST(NewMessage, RecipientsAreTheNumbersSplitAtCommas) {
    auto app = std::make_shared<hxtest::RecordedApp<>>();
    struct Case {
        std::string numbers, text, conversation, presented;
    };
    const Case cases[] = {
        {"", "", "", "presentNewMessage ||"},
        {"5551234", "hi there", "c7", "presentNewMessage 5551234|hi there|c7"},
        {"5551234,5556789", "", "", "presentNewMessage 5551234;5556789||"},
        // One part: the whole text is the one recipient.
        {"(555) 123-4567", "", "", "presentNewMessage (555) 123-4567||"},
        {"1,,2,", "a,b", "", "presentNewMessage 1;;2;|a,b|"},
    };
    for (const auto& c : cases) {
        app->shell().clear();
        if (c.conversation.empty())
            app->newMessageToNumber(c.numbers, c.text);
        else
            app->newMessageToNumber(c.numbers, c.text, c.conversation);
        EXPECT_EQ(app->shell().calls(), std::vector<std::string>{c.presented}) << c.numbers;
    }
}

TEST_F(Conversations, NotesStayLocalAndContactNamesAreStoredWhole) {
    const std::string id = threads[3];
    const std::string before = std::to_string(service->requestCount());
    app->setNote(std::string("call after 5"), id);
    ASSERT_TRUE(settled());
    EXPECT_EQ(conversation(id)->value("note"), Value("call after 5"));
    app->setNote(std::nullopt, id);
    ASSERT_TRUE(settled());
    EXPECT_EQ(conversation(id)->value("note"), Value(""));
    EXPECT_EQ(std::to_string(service->requestCount()), before);

    const std::string number = conversation(id)->value("phoneNumber").stringValue();
    const std::string name = "Mary_Ann \"Jr\"";
    app->addContact(name, number, "Mobile");
    ASSERT_TRUE(settled());
    auto added = service->withAccount([](emulator::Account& a) { return a.addedContacts; });
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].name, name);
    EXPECT_EQ(added[0].type, "mobile");
    EXPECT_EQ(conversation(id)->value("sender"), Value(name));
}

TEST_F(Conversations, ActionCodesFollowTheConversationAndWhereItIsSeen) {
    auto context = app->managedObjectContext();
    auto make = [&](int64_t type, std::function<void(store::ManagedObjectPtr&)> set = {}) {
        auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("type", type);
        (void)c->setValue("phoneNumber", "+15550199");
        (void)c->setValue("sender", "Someone");
        if (set) set(c);
        return c;
    };
    auto list = [&](bool showing) {
        app->shell().changeScript([showing](HXShellRecorder::Script& s) { s.messageListIsShowing = showing; });
    };
    using V = std::vector<int>;
    list(true);
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(make(10)), (V{1, 3, 5, 9, 10, 13, 0}));
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(make(2)), (V{1, 2, 3, 5, 9, 10, 13, 0}));
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(make(0)), (V{1, 2, 10, 13, 0}));
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(
                  make(10,
                       [](auto& c) {
                           (void)c->setValue("isRead", true);
                           (void)c->setValue("isArchived", true);
                           (void)c->setValue("isSenderBlocked", true);
                           (void)c->setValue("isSpam", true);
                       })),
              (V{1, 4, 6, 9, 11, 12, 0}));
    list(false);
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(
                  make(10, [](auto& c) { (void)c->setValue("note", "n"); })),
              (V{1, 3, 8, 9, 10, 13, 0}));
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(make(0)), (V{1, 2, 7, 10, 13, 0}));
    mail::MailComposeViewController::setCanSendMail(false);
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(make(10)), (V{1, 3, 7, 10, 13, 0}));
    // Groups and unknown numbers offer no call, SMS or block.
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(
                  make(10, [](auto& c) { (void)c->setValue("sender", "Group Message"); })),
              (V{3, 7, 13, 0}));
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(
                  make(2, [](auto& c) { (void)c->setValue("phoneNumber", "Unknown"); })),
              (V{3, 7, 13, 0}));
    // Signed out: no spam or delete, and block follows the spam flag.
    app->account()->setAuthV2(std::nullopt);
    EXPECT_EQ(HXConversationOperations::of(app)->messageOptionsForConversation(
                  make(10, [](auto& c) { (void)c->setValue("isSpam", true); })),
              (V{1, 3, 7, 11}));
    context->rollback();
    mail::MailComposeViewController::setCanSendMail(true);
    EXPECT_EQ(HXConversationOperations::of(app)->titleForConversationAction(9), "Forward as Email");
    EXPECT_EQ(HXConversationOperations::of(app)->imageForConversationAction(11), "hand.raised.slash");
    EXPECT_FALSE(HXConversationOperations::of(app)->titleForConversationAction(14));
    EXPECT_FALSE(HXConversationOperations::of(app)->imageForConversationAction(-1));
    EXPECT_TRUE(HXConversationOperations::of(app)->messageOptionsForConversationWithID("no such conversation").empty());
}
