// The thread-list parse on crafted replies: item types, groups, unknown numbers, transcripts and
// lengths, conversation pages that replace what they cover, malformed replies, and the list
// summary of a conversation.
#include <gtest/gtest.h>

#include <fstream>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/store/context.h"
#include "service/conversation_store.h"
#include "service/message_list_model.h"
#include "service/request_machinery.h"
#include "tests/service/recording_list_view.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/test_support.h"

namespace {

using foundation::Value;

struct Parse : ::testing::Test {
    dispatch::ScopedVirtualClock clock{1'760'000'100.0};
    std::shared_ptr<hxtest::RecordedApp<>> app = std::make_shared<hxtest::RecordedApp<>>();
    std::atomic<int> saved{0};
    // The views of the lists made here: shown, kept for the test's length.
    std::vector<std::shared_ptr<hxtest::RecordingListView>> views;

    void SetUp() override {
        dispatch::RunLoop::main();
        // The history list with texts and voicemail in it.
        foundation::UserDefaults::standardUserDefaults()->setBool(true, "showFullHistory");
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
    std::shared_ptr<HXMessageListModel> list(int viewType) {
        const std::string w = "https://voice.test/voice/";
        auto settings = HXMessageListModel::viewSettingsForType(viewType, w);
        views.push_back(std::make_shared<hxtest::RecordingListView>());
        return std::make_shared<HXMessageListModel>(app, settings, views.back());
    }
    // Parses text as the list does and waits for its save; false when nothing was saved.
    bool parse(const std::shared_ptr<HXMessageListModel>& l, const std::string& text, int flags = 0) {
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
                      HXMessageListModel::ConversationReload));
    EXPECT_EQ(messageIDs("t"), (std::vector<std::string>{"a", "b", "c"}));
    // The newest page without a token covers everything: "b" was deleted on the service.
    ASSERT_TRUE(parse(sms, R"({"thread":[{"id":"t","contact":[{"phoneNumber":"+15550121"}],"item":[
      {"id":"c","type":"smsIn","startTime":"1700000003000","messageText":"c"},
      {"id":"a","type":"smsIn","startTime":"1700000001000","messageText":"a"}]}]})",
                      HXMessageListModel::ConversationReload | HXMessageListModel::NewestPage));
    EXPECT_EQ(messageIDs("t"), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(conversation("t")->value("numberOfMessages").int64Value(), 2);
}

TEST_F(Parse, MalformedRepliesEndTheLoadingAndStoreNothing) {
    struct Recording : HXMessageListModel {
        using HXMessageListModel::HXMessageListModel;
        std::atomic<int> aborts{0};
        void abortLoading() override { ++aborts; }
    };
    auto view = std::make_shared<hxtest::RecordingListView>();
    auto l = std::make_shared<Recording>(app, HXMessageListModel::smsViewSettings("https://voice.test/voice/"), view);
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
    // A parse that ended without a save gave its child context back: none counts as at work, so
    // the main context's saves are not held back for it.
    EXPECT_EQ(app->mocAccessCount(), 0u);
}

TEST_F(Parse, TheListsResultsFollowTheStoreTheListTypeAndTheSearch) {
    HXMessageListModel::setListFilterIndex(0);  // All, as the list chooses on coming on screen
    auto view = std::make_shared<hxtest::RecordingListView>();
    auto l = std::make_shared<HXMessageListModel>(app, HXMessageListModel::smsViewSettings("https://voice.test/voice/"),
                                                  view);
    auto frc = l->fetchedResultsController();
    ASSERT_TRUE(frc);
    EXPECT_EQ(l->fetchedResultsController(), frc) << "made once";
    EXPECT_EQ(frc->cacheName(), std::optional<std::string>("SMS"));
    clock->runUntilIdle();
    EXPECT_EQ(view->tableReloads, 1) << "the first filter runs on the main queue";
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
    EXPECT_GE(view->contentChanges, 1);
    EXPECT_EQ(ids(), (std::vector<std::string>{"arch", "old"})) << "newest first, no spam, no voicemail";

    struct Case {
        long row;  // of the dropdown: 0 All, 4 Archive, 5 Spam
        std::string search;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {5, "", {"new"}},     {4, "", {"arch"}}, {0, "olg", {"old"}},
        {0, "ADA", {"arch"}}, {0, "nobody", {}}, {0, "", {"arch", "old"}},
    };
    for (const auto& c : cases) {
        HXMessageListModel::setListFilterIndex(c.row);
        l->setSearchText(c.search);
        const int before = view->tableReloads;
        l->filterTable();
        EXPECT_EQ(view->tableReloads, before + 1);
        EXPECT_EQ(ids(), c.shown) << c.row << " " << c.search;
    }

    // A logout drops the controller; the next use makes a new one.
    foundation::NotificationCenter::defaultCenter().post("kLogoutNotification");
    auto again = l->fetchedResultsController();
    EXPECT_NE(again, frc);
    clock->runUntilIdle();
    EXPECT_EQ(again->fetchedObjects().size(), 2u);
    HXMessageListModel::setListFilterIndex(-1);
}

namespace {

// Every stored row as python3 reads the same replies in the order they were parsed: the list's
// type filter, the conversation's party and names, texts and lengths, the summary of its newest
// message, updates of stored rows by a later reply and the removal of conversations a complete
// list no longer holds. Numbers are formatted by the app's formatter, handed over in a table.
const char* const kRowsOracle = R"PY(
import json, sys
formats, parses, actual = (json.load(open(p)) for p in sys.argv[1:4])
MASKS = {"missed": 1, "inbound": 2, "voicemail": 4, "recording": 16, "callReturn": 128, "click2call": 256,
         "smsIn": 1024, "smsOut": 2048, "chatCall": 4096, "managedCall": 8192, "mobileDialerCallThrough": 32768,
         "partnerOutboundCallCarrier": 65536, "shadowNumberCall": 32768, "sip": 131072, "webCall": 32768}
LIST_MASKS = {1: 3072, 2: 20, 3: 245143}
NBSP = "\u00a0"

def listed(v): return v if isinstance(v, list) else [v] if isinstance(v, dict) else []
def text(v): return v if isinstance(v, str) else ""
def number(v):
    try: return int(v) if isinstance(v, (str, int)) and not isinstance(v, bool) else 0
    except ValueError: return 0
def formatted(n): return formats.get(n, n)
def code(mask): return (mask & -mask).bit_length() - 1 if mask else 0
def mask_of(item):
    kind = text(item.get("type"))
    first = (listed(item.get("attachment")) or [{}])[0]
    if kind == "inbound" and text(first.get("callRecording", {}).get("attachmentId")): return 16
    return MASKS.get(kind, 0)
def length(mask, seconds):
    if mask & 20: return "%d:%02d" % (seconds // 60, seconds % 60)
    if seconds < 60: return "%d second%s" % (seconds, "" if seconds == 1 else "s")
    minutes = int(seconds / 60 + 0.5)
    return "%d minute%s" % (minutes, "" if minutes == 1 else "s")
def group_name(numbers):
    names = [formatted(n) for n in numbers]
    if len(names) == 2: return "%s & %s" % tuple(names)
    if len(names) == 3: return "%s, %s, %s" % tuple(names)
    return "%s & %d others" % (names[0], len(names) - 1)

conversations, messages = {}, {}
for view_type, reply in parses:
    seen = set()
    for thread in listed(reply.get("thread")):
        tid = text(thread.get("id")) if isinstance(thread, dict) else ""
        if not tid: continue
        conversation = None
        for item in listed(thread.get("item")):
            if not text(item.get("id")): continue
            mask = mask_of(item)
            if not mask & LIST_MASKS[view_type] and not (mask & 3092 and view_type == 3): continue
            start = number(item.get("startTime"))
            if conversation is None:
                conversation = conversations.setdefault(tid, {"conversationID": tid, "ABName": None,
                                                              "formattedNumber": None, "lastMessageText": None,
                                                              "numberOfMessages": 0, "lastMessageLength": None})
                views = [v for v in listed(thread.get("view")) if isinstance(v, str)]
                contact = (listed(thread.get("contact")) or [{}])[-1]
                heading = thread.get("headingContactsPhoneNumberKey") or []
                conversation.update({"paginationToken": thread.get("paginationToken"),
                                     "isSpam": "allSpamThreads" in views, "isArchived": "allArchivedThreads" in views,
                                     "isRead": thread.get("read") is True, "lastdate": int(start / 1000),
                                     "isTrash": False})
                if len(heading) > 1:
                    conversation.update({"phoneNumber": "|".join(heading), "sender": "Group Message", "ABName": ""})
                else:
                    conversation.update({"phoneNumber": text(contact.get("phoneNumber")),
                                         "sender": text(contact.get("name"))})
                if conversation["phoneNumber"].startswith("Unknown"):
                    conversation.update({"phoneNumber": "Unknown", "ABName": ""})
                if conversation["ABName"] is None and conversation["phoneNumber"] not in ("", "Unknown") \
                        and conversation["sender"] != "Group Message":
                    conversation.update({"formattedNumber": formatted(conversation["phoneNumber"]), "ABName": ""})
                if conversation["sender"] == "Group Message":
                    conversation["ABName"] = group_name(heading)
            conversation["type"] = code(mask)
            seen.add(tid)
            message = messages.setdefault((tid, item["id"]), {"id": item["id"], "senderNumber": None,
                                                              "senderName": None})
            mms = item.get("mmsMessage")
            if mask & 20:
                words = [w["word"] for w in listed(item.get("transcript", {}).get("wordTokens")) if isinstance(w.get("word"), str)]
                message["message"] = " ".join(words) or ("Transcript not available" if mask & 4 else "Recorded call")
            elif isinstance(mms, dict):
                message["message"] = text(mms.get("text")).strip("\r\n")
                if conversation["sender"] == "Group Message":
                    message["senderNumber"] = formatted(text(mms.get("senderPhoneNumber")))
                    message["senderName"] = ""
            else:
                message["message"] = text(item.get("messageText")).strip("\r\n")
            attachments = mms.get("attachment") if isinstance(mms, dict) else None
            message.update({"length": length(mask, number(item.get("duration"))),
                            "from": item.get("type") == "smsOut", "date": "", "number": start,
                            "attachments": attachments if isinstance(attachments, list) else None})
            conversation.update({"cost": thread.get("displayableCost"), "isSenderBlocked": contact.get("blocked") is True})
        if conversation is None: continue
        own = sorted((m for (t, _), m in messages.items() if t == tid), key=lambda m: m["number"])
        newest = own[-1]
        prefix = ""
        if conversation["sender"] == "Group Message":
            prefix = "Me:" + NBSP if newest["from"] else (newest["senderName"] or newest["senderNumber"] or "") + ":" + NBSP
        conversation["lastdate"] = newest["number"] // 1000
        if newest["message"]: conversation["lastMessageText"] = prefix + newest["message"]
        elif newest["attachments"]:
            conversation["lastMessageText"] = prefix + "Attachment: 1 " + newest["attachments"][0]["mimeType"]
        if (1 << conversation["type"]) & 0x3b193: conversation["lastMessageLength"] = newest["length"]
        elif conversation["type"] in (2, 10, 11): conversation["numberOfMessages"] = len(own)
    # A complete first page of the text or voicemail list holds every conversation it does not
    # mark as spam or archived.
    if view_type in (1, 2) and seen:
        for tid in [t for t, c in conversations.items()
                    if t not in seen and c["type"] in ((10, 11) if view_type == 1 else (2, 4))
                    and not c["isSpam"] and not c["isArchived"]]:
            del conversations[tid]
        messages = {k: m for k, m in messages.items() if k[0] in conversations}

expected = {"conversations": conversations, "messages": {"%s/%s" % k: m for k, m in messages.items()}}
for kind in ("conversations", "messages"):
    for key in sorted(set(expected[kind]) | set(actual[kind])):
        want, got = expected[kind].get(key), actual[kind].get(key)
        if want is None or got is None:
            print("%s %s: expected %s, stored %s" % (kind, key, want is not None, got is not None))
            continue
        for attribute in sorted(want):
            if want[attribute] != got.get(attribute):
                print("%s %s %s: expected %r, stored %r" % (kind, key, attribute, want[attribute], got.get(attribute)))
)PY";

}  // namespace

TEST_F(Parse, StoredRowsAreWhatAnIndependentReadingOfTheRepliesGives) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 not installed";
    // Text, history and text again: the second text reply edits and adds messages, changes the
    // group and no longer lists "u" and "n" (removed) nor the spam and archived ones (kept).
    const std::pair<int, const char*> replies[] = {
        {1, R"({"thread":[
          {"id":"a","paginationToken":"p1","displayableCost":"$0.10","read":true,"view":["textThreads"],
           "contact":[{"phoneNumber":"+15550100","name":"Old"},{"phoneNumber":"+15550101","name":"Ann","blocked":true}],
           "item":[{"id":"a1","type":"smsIn","startTime":"1700000001000","messageText":"\r\nhello\n"},
                   {"id":"a2","type":"voicemail","startTime":"1700000001500","duration":"20"},
                   {"id":"a3","type":"smsOut","startTime":"1700000002000",
                    "mmsMessage":{"text":"file\n","attachment":[{"id":"f1","mimeType":"application/pdf"}]}},
                   {"id":"a1","type":"smsIn","startTime":"1700000003000","messageText":"hello again"},
                   {"type":"smsIn","startTime":"1700000004000","messageText":"no id"}]},
          {"id":"g","read":false,"headingContactsPhoneNumberKey":["+15550111","+15550112","+15550113"],
           "contact":[{"phoneNumber":"+15550111","name":"Gina"}],
           "item":[{"id":"g1","type":"smsIn","startTime":"1700000005000",
                    "mmsMessage":{"text":"hi all","senderPhoneNumber":"+15550112"}},
                   {"id":"g2","type":"smsIn","startTime":"1700000006000",
                    "mmsMessage":{"text":"","senderPhoneNumber":"+15550113",
                                  "attachment":[{"id":"f2","mimeType":"application/pdf"}]}}]},
          {"id":"u","contact":{"phoneNumber":"Unknown-caller","name":"Who"},
           "item":{"id":"u1","type":"smsIn","startTime":1700000007000,"messageText":"single objects"}},
          {"id":"n","item":[{"id":"n1","type":"smsOut","startTime":"1700000008000"}]},
          {"id":"s","view":["allSpamThreads"],"contact":[{"phoneNumber":"+15550120","name":"Spam"}],
           "item":[{"id":"s1","type":"smsIn","startTime":"1700000009000","messageText":"win"}]},
          {"id":"r","view":["allArchivedThreads","textThreads"],"contact":[{"phoneNumber":"+15550121"}],
           "item":[{"id":"r1","type":"smsIn","startTime":"1700000010000","messageText":"\r\nold news"}]},
          {"id":"c","contact":[{"phoneNumber":"+15550122"}],"item":[{"id":"c1","type":"missed","startTime":"1700000011000"}]}
        ]})"},
        {3, R"({"thread":[
          {"id":"h1","contact":[{"phoneNumber":"+15550130","name":"Rec"}],
           "item":[{"id":"h1a","type":"inbound","startTime":"1700000020000","duration":"75",
                    "attachment":[{"callRecording":{"attachmentId":"x"}}]}]},
          {"id":"h2","contact":[{"phoneNumber":"+15550131"}],
           "item":[{"id":"h2a","type":"voicemail","startTime":"1700000021000","duration":"125",
                    "transcript":{"wordTokens":[{"word":"call"},{"word":"me"},{"other":1}]}},
                   {"id":"h2b","type":"voicemail","startTime":"1700000022000"}]},
          {"id":"h3","contact":[{"phoneNumber":"+15550132"}],
           "item":[{"id":"h3a","type":"inbound","startTime":"1700000023000","duration":"1"},
                   {"id":"h3b","type":"callReturn","startTime":"1700000024000","duration":"59"},
                   {"id":"h3c","type":"webCall","startTime":"1700000025000","duration":"89"},
                   {"id":"h3d","type":"sip","startTime":"1700000026000","duration":"90"},
                   {"id":"h3e","type":"click2call","startTime":"1700000027000","duration":"3599"},
                   {"id":"h3f","type":"settings","startTime":"1700000028000"},
                   {"id":"h3g","type":"missed","startTime":"1700000029000"}]},
          {"id":"h4","contact":[{"phoneNumber":"+15550133"}],
           "item":[{"id":"h4a","type":"recording","startTime":"1700000030000","duration":"5"}]}
        ]})"},
        {1, R"({"thread":[
          {"id":"a","read":false,"contact":[{"phoneNumber":"+15550101","name":"Ann"}],
           "item":[{"id":"a3","type":"smsOut","startTime":"1700000002000","messageText":"edited"},
                   {"id":"a4","type":"smsIn","startTime":"1700000040000","messageText":"newest\r\n"}]},
          {"id":"g","headingContactsPhoneNumberKey":["+15550111","+15550112"],
           "item":[{"id":"g3","type":"smsOut","startTime":"1700000041000","mmsMessage":{"text":"bye"}}]}
        ]})"},
    };
    // The app formats numbers as the application's delegate, as it does when it runs.
    HX_ConnectAppDelegate::setSharedDelegate(app);
    struct Uninstall {
        ~Uninstall() { HX_ConnectAppDelegate::setSharedDelegate(nullptr); }
    } uninstall;
    foundation::Array parses;
    foundation::Dictionary formats;
    for (const auto& [viewType, text] : replies) {
        ASSERT_TRUE(parse(list(viewType), text)) << text;
        auto reply = foundation::parseJSON(text);
        ASSERT_TRUE(reply.ok());
        parses.push_back(Value(foundation::Array{Value(viewType), reply.value()}));
    }
    for (const char* number : {"+15550101", "+15550111", "+15550112", "+15550113", "+15550120", "+15550121",
                               "+15550130", "+15550131", "+15550132", "+15550133"})
        formats.set(number, PhoneExtensions::formattedPhoneNumberFromString(number));

    // What the store holds: every attribute of every conversation and of its messages.
    auto json = [](const Value& v) { return v.isDate() ? Value(v.ifDate()->secondsSince1970) : v; };
    foundation::Dictionary conversations, messages;
    auto context = app->managedObjectContext();
    context->performAndWait([&] {
        auto rows = context->fetch(store::FetchRequest(HXMessageStore::kConversationEntity));
        ASSERT_TRUE(rows.ok());
        for (const auto& c : rows.value()) {
            foundation::Dictionary row;
            for (const auto& attribute : c->entity().attributes())
                row.set(attribute.name, json(c->value(attribute.name)));
            const std::string id = c->value("conversationID").stringValue();
            conversations.set(id, Value(std::move(row)));
            for (const auto& m : c->objects("Messages")) {
                foundation::Dictionary message;
                for (const auto& attribute : m->entity().attributes())
                    message.set(attribute.name, json(m->value(attribute.name)));
                messages.set(id + "/" + m->value("id").stringValue(), Value(std::move(message)));
            }
        }
    });
    hxtest::TempDir dir;
    auto write = [&](const std::string& name, const Value& v) {
        std::ofstream(dir / name) << foundation::toJSON(v).value();
        return "'" + (dir / name).string() + "'";
    };
    std::ofstream(dir / "oracle.py") << kRowsOracle;
    std::string differences;
    ASSERT_EQ(hxtest::runCommand("python3 '" + (dir / "oracle.py").string() + "' " + write("formats.json", formats) +
                                     " " + write("parses.json", parses) + " " +
                                     write("stored.json", foundation::Dictionary{{"conversations", conversations},
                                                                                 {"messages", messages}}),
                                 &differences),
              0);
    EXPECT_EQ(differences, "");
    EXPECT_EQ(conversations.size(), 8u) << "a, g, s, r and the four of the history";
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
