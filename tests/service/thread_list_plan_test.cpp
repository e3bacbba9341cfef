// The plan of a thread-list reply, decided without a store: the party and name of each
// conversation, the messages made or updated, a conversation page's withdrawals, the sweep of
// stale conversations and the markers of the decisions after the parse.
#include <gtest/gtest.h>

#include <climits>

#include "platform/foundation/json.h"
#include "service/thread_list_plan.h"

namespace {

constexpr int kSpam = 1, kReload = 4, kNewest = 8;
constexpr int64_t kSMSIn = 1024, kSMSOut = 2048, kVoicemail = 4, kMissed = 1;

HXThreadItem item(std::string id, int64_t mask, int64_t startMs, std::string text = "") {
    HXThreadItem i;
    i.id = std::move(id);
    i.mask = mask;
    i.type = mask == kSMSOut ? "smsOut" : "smsIn";
    i.startTime = startMs;
    i.messageText = std::move(text);
    return i;
}

HXThread thread(std::string id, std::string number, std::vector<HXThreadItem> items) {
    HXThread t;
    t.id = std::move(id);
    t.contactPhoneNumber = std::move(number);
    t.items = std::move(items);
    return t;
}

HXThreadListPlanInput smsList() {
    HXThreadListPlanInput in;
    in.viewType = 1;
    in.typeMask = 3072;
    in.shown = true;
    in.now = 2'000'000'000;
    return in;
}

}  // namespace

TEST(ThreadListPlan, PartiesAndNamesOfConversations) {
    struct Case {
        const char* name;
        std::vector<std::string> heading;
        std::string number, contactName;
        bool stored, storedNameIsNull;
        std::string phone, sender;
        bool clears;
        HXPlannedConversation::NameLookup lookup;
    };
    using L = HXPlannedConversation::NameLookup;
    const Case cases[] = {
        {"new number", {}, "+15550001", "Ann", false, true, "+15550001", "Ann", false, L::Contact},
        {"stored with a name", {}, "+15550001", "Ann", true, false, "+15550001", "Ann", false, L::None},
        {"stored without a name", {}, "+15550001", "Ann", true, true, "+15550001", "Ann", false, L::Contact},
        {"group", {"+1", "+2", "+3"}, "+9", "Ann", false, true, "+1|+2|+3", "Group Message", true, L::Group},
        {"unknown caller", {}, "Unknown-7", "", false, true, "Unknown", "", true, L::None},
        {"no number", {}, "", "Someone", false, true, "", "Someone", false, L::None},
        {"a contact named like a group",
         {},
         "+15550002",
         "Group Message",
         false,
         true,
         "+15550002",
         "Group Message",
         false,
         L::Group},
    };
    for (const auto& c : cases) {
        HXThreadListReply reply;
        reply.threads.push_back(thread("t", c.number, {item("m", kSMSIn, 1'000'000)}));
        reply.threads[0].contactName = c.contactName;
        reply.threads[0].headingNumbers = c.heading;
        HXStoredConversations stored;
        if (c.stored) stored["t"] = {c.storedNameIsNull, {{"m", 0}}};
        const auto plan = HXPlanThreadList(reply, smsList(), stored);
        ASSERT_EQ(plan.conversations.size(), 1u) << c.name;
        const auto& p = plan.conversations[0];
        EXPECT_EQ(p.insert, !c.stored) << c.name;
        EXPECT_EQ(p.phoneNumber, c.phone) << c.name;
        EXPECT_EQ(p.sender, c.sender) << c.name;
        EXPECT_EQ(p.clearABName, c.clears) << c.name;
        EXPECT_EQ(p.nameLookup, c.lookup) << c.name;
        EXPECT_EQ(plan.newConversation, !c.stored) << c.name;
        EXPECT_EQ(p.messages.at(0).insert, !c.stored) << c.name;
    }
}

TEST(ThreadListPlan, MessagesOfTheListTheirTextsAndLengths) {
    HXThreadListReply reply;
    auto mms = item("g2", kSMSIn, 3'000'000);
    mms.hasMMS = true;
    mms.mmsText = "\r\npicture\n";
    auto vm = item("v1", kVoicemail, 4'000'000);
    vm.duration = 75;
    auto call = item("c1", kMissed, 5'000'000);
    reply.threads.push_back(thread("sms", "+1", {item("s1", kSMSOut, 2'000'000, "\nhi\n"), call}));
    reply.threads.push_back(thread("group", "+1", {mms}));
    reply.threads[1].headingNumbers = {"+1", "+2"};
    reply.threads.push_back(thread("vm", "+3", {vm}));
    HXThreadListPlanInput in = smsList();
    const auto sms = HXPlanThreadList(reply, in, {});
    // The SMS list leaves the call and the voicemail out: no conversation without a listed item.
    ASSERT_EQ(sms.conversations.size(), 2u);
    ASSERT_EQ(sms.conversations[0].messages.size(), 1u);
    EXPECT_EQ(sms.conversations[0].messages[0].text, "hi");  // trimmed
    EXPECT_EQ(sms.conversations[0].messages[0].length, "0 seconds");
    EXPECT_EQ(sms.conversations[1].messages[0].text, "picture");
    EXPECT_TRUE(sms.conversations[1].messages[0].groupSender);
    EXPECT_TRUE(sms.newMessage);
    EXPECT_FALSE(sms.newVoicemail);
    EXPECT_EQ(sms.earliest, 2000);
    EXPECT_EQ(sms.latest, 3000);

    // The history list takes every message kind and the calls of its mask.
    in.viewType = 3;
    in.typeMask = 245143;
    const auto history = HXPlanThreadList(reply, in, {});
    ASSERT_EQ(history.conversations.size(), 3u);
    EXPECT_EQ(history.conversations[0].messages.size(), 2u);
    EXPECT_EQ(history.conversations[2].messages[0].text, "Transcript not available");
    EXPECT_EQ(history.conversations[2].messages[0].length, "1:15");
    // A text without line breaks around it is the item's own: the write takes it from the item.
    reply.threads[0].items[0].messageText = "hi";
    EXPECT_EQ(HXPlanThreadList(reply, in, {}).conversations[0].messages[0].text, std::nullopt);
}

TEST(ThreadListPlan, AConversationPageWithdrawsTheStoredMessagesOfItsSpanThatItNoLongerLists) {
    struct Case {
        const char* name;
        int flags;
        bool token;
        std::vector<std::string> withdrawn;
    };
    // Stored: a (before the page), b (inside, listed), c (inside, not listed), d (after the
    // page's newest item), e (after, far newer), f (a second after now: "now" is where the
    // newest page ends, not beyond).
    const HXStoredConversations stored{
        {"t",
         {false,
          {{"a", 1000}, {"b", 2000}, {"c", 2500}, {"d", 3500}, {"e", 1'999'999'000'000}, {"f", 2'000'000'001'000}}}}};
    const Case cases[] = {
        {"older page", kReload, true, {"c"}},
        {"newest page reaches now", kReload | kNewest, true, {"c", "d", "e"}},
        {"first page of the conversation reaches its start", kReload, false, {"a", "c"}},
        {"a list parse withdraws nothing", 0, false, {}},
    };
    for (const auto& c : cases) {
        HXThreadListReply reply;
        reply.threads.push_back(thread("t", "+1", {item("b", kSMSIn, 2000), item("x", kSMSIn, 3000)}));
        if (c.token) reply.threads[0].paginationToken = "p";
        auto in = smsList();
        in.flags = c.flags;
        const auto plan = HXPlanThreadList(reply, in, stored);
        ASSERT_EQ(plan.conversations.size(), 1u) << c.name;
        EXPECT_EQ(plan.conversations[0].withdrawn, c.withdrawn) << c.name;
        EXPECT_FALSE(plan.conversations[0].messages[0].insert) << c.name;
        EXPECT_TRUE(plan.conversations[0].messages[1].insert) << c.name;
    }
}

TEST(ThreadListPlan, TheStaleSweepCoversTheSpanOfTheReply) {
    struct Case {
        const char* name;
        int64_t viewType;
        int flags;
        uint64_t reloadPage, spamPage;
        bool inBackground;
        HXThreadListReply::More more;
        bool saysLastPage;
        bool sweeps;
        int64_t first, last;
    };
    using M = HXThreadListReply::More;
    const Case cases[] = {
        {"first page up to now", 1, 0, 1, 1, false, M::Entries, false, true, 100, 2'000'000'000},
        {"a later page up to its bound", 1, 0, 5000, 1, false, M::Entries, false, true, 100, 5000},
        {"a bound below the page's newest", 1, 0, 150, 1, false, M::Entries, false, true, 100, 200},
        {"the last page covers everything older", 1, 0, 5000, 1, false, M::Absent, true, true, INT64_MIN / 2, 5000},
        {"no next page without saying so keeps to its span", 1, 0, 5000, 1, false, M::Absent, false, true, 100, 5000},
        {"an empty next-page list keeps to its span", 1, 0, 5000, 1, false, M::Empty, false, true, 100, 5000},
        {"the spam list goes by its own marker", 1, kSpam, 5000, 1, false, M::Entries, false, true, 100, 2'000'000'000},
        {"not in the background", 1, 0, 1, 1, true, M::Entries, true, false, 0, 0},
        {"not for the history", 3, 0, 1, 1, false, M::Absent, true, false, 0, 0},
        {"not for a conversation page", 1, kReload, 1, 1, false, M::Entries, false, false, 0, 0},
    };
    for (const auto& c : cases) {
        HXThreadListReply reply;
        reply.more = c.more;
        reply.saysLastPage = c.saysLastPage;
        reply.threads.push_back(thread("t1", "+1", {item("a", kSMSIn, 200'000)}));
        reply.threads.push_back(thread("t2", "+2", {item("b", kSMSIn, 100'000)}));
        auto in = smsList();
        in.viewType = c.viewType;
        in.typeMask = c.viewType == 3 ? 245143 : 3072;
        in.flags = c.flags;
        in.reloadPage = c.reloadPage;
        in.spamPage = c.spamPage;
        in.inBackground = c.inBackground;
        const auto plan = HXPlanThreadList(reply, in, {});
        ASSERT_EQ(plan.stale.has_value(), c.sweeps) << c.name;
        if (!c.sweeps) continue;
        EXPECT_EQ(plan.stale->first, c.first) << c.name;
        EXPECT_EQ(plan.stale->last, c.last) << c.name;
        EXPECT_EQ(plan.stale->listedIDs.size(), 2u) << c.name;
        EXPECT_EQ(plan.stale->spam, (c.flags & kSpam) != 0) << c.name;
    }
}

TEST(ThreadListPlan, RefreshMarkersReadStateAndMedia) {
    HXThreadListReply reply;
    auto withPicture = item("m2", kSMSIn, 9'000);
    withPicture.attachments = foundation::Value(
        foundation::Array{foundation::Value(foundation::Dictionary{{"id", foundation::Value("p1")},
                                                                   {"mimeType", foundation::Value("image/jpeg")}}),
                          foundation::Value(foundation::Dictionary{{"id", foundation::Value("a1")},
                                                                   {"mimeType", foundation::Value("audio/mp3")}}),
                          foundation::Value(foundation::Dictionary{{"mimeType", foundation::Value("image/png")}})});
    reply.threads.push_back(thread("open", "+1", {item("m1", kSMSIn, 8'000), withPicture}));
    reply.threads.push_back(thread("other", "+2", {item("m3", kSMSIn, 7'000)}));
    reply.threads[1].read = true;
    auto in = smsList();
    in.openConversationID = "open";
    const HXStoredConversations stored{{"other", {false, {{"m3", 0}}}}};
    auto plan = HXPlanThreadList(reply, in, stored);
    EXPECT_TRUE(plan.conversations[0].markRead);
    EXPECT_FALSE(plan.conversations[1].markRead);
    // A stored conversation of the list in the reply asks for a refresh; so does a list not shown.
    EXPECT_TRUE(plan.refreshNeeded);
    EXPECT_EQ(plan.pictureFetches, std::vector<std::string>{"p1"});
    ASSERT_EQ(plan.mediaFetches.size(), 1u);
    EXPECT_EQ(plan.mediaFetches[0].first, "a1");
    // A background fetch fetches pictures first and leaves the rest for later.
    in.forBackgroundFetch = true;
    plan = HXPlanThreadList(reply, in, stored);
    EXPECT_TRUE(plan.pictureFetches.empty());
    EXPECT_TRUE(plan.mediaFetches.empty());
    ASSERT_EQ(plan.pictures.size(), 1u);
    EXPECT_EQ((*plan.pictures[0])["id"].stringValue(), "p1");
    // Not shown: nothing is read as shown.
    in.shown = false;
    plan = HXPlanThreadList(reply, in, {});
    EXPECT_FALSE(plan.conversations[0].markRead);
    EXPECT_TRUE(plan.refreshNeeded);
    // Shown, a first page of new conversations of a list that holds some needs no refresh.
    in.shown = true;
    reply.threads.pop_back();
    plan = HXPlanThreadList(reply, in, {});
    EXPECT_FALSE(plan.refreshNeeded);
    in.listIsEmpty = true;
    EXPECT_TRUE(HXPlanThreadList(reply, in, {}).refreshNeeded);
}

// What a reply says about its end and about the read state of its threads, read from its bytes.
TEST(ThreadListReply, TheLastPageAndTheReadStateAreReadAsTheReplySaysThem) {
    struct Case {
        const char* json;
        HXThreadListReply::More more;
        bool saysLastPage;
    };
    using M = HXThreadListReply::More;
    const Case cases[] = {
        {R"({"thread":[{"id":"a"}]})", M::Absent, false},
        {R"({"thread":[{"id":"a"}],"response":{}})", M::Absent, true},
        {R"({"thread":[{"id":"a"}],"response":{"conversation":null}})", M::Absent, true},
        {R"({"thread":[{"id":"a"}],"response":{"conversation":[]}})", M::Empty, false},
        {R"({"thread":[{"id":"a"}],"response":{"conversation":[{"id":"b"}]}})", M::Entries, false},
        {R"({"thread":[{"id":"a"}],"response":"end"})", M::Absent, false},
    };
    for (const auto& c : cases) {
        auto reply = HXReadThreadList(std::string_view(c.json));
        ASSERT_TRUE(reply.ok()) << c.json;
        EXPECT_EQ(reply->more, c.more) << c.json;
        EXPECT_EQ(reply->saysLastPage, c.saysLastPage) << c.json;
    }
    // One rule for "read", whoever reads the thread: missing, null and false are unread.
    const std::pair<const char*, bool> reads[] = {
        {R"({"id":"t"})", false},
        {R"({"id":"t","read":null})", false},
        {R"({"id":"t","read":false})", false},
        {R"({"id":"t","read":true})", true},
        {R"({"id":"t","read":1})", true},
        {R"({"id":"t","read":0})", false},
    };
    for (const auto& [json, read] : reads) {
        const std::string bytes = "{\"thread\":[" + std::string(json) + "]}";
        auto reply = HXReadThreadList(std::string_view(bytes));
        ASSERT_TRUE(reply.ok() && reply->threads.size() == 1) << json;
        EXPECT_EQ(reply->threads[0].read, read) << json;
        auto parsed = foundation::parseJSON(json);
        EXPECT_EQ(HXThreadIsRead(parsed->asDictionary().get("read")), read) << json;
    }
}

// A reply read from its bytes (the reader owns the parsed tree and moves its strings and lists
// into the records) reads as the same reply parsed first and read from the shared tree, which
// that read leaves as it was.
TEST(ThreadListReply, ReadingOwnedBytesGivesWhatReadingASharedTreeGives) {
    auto render = [](const HXThreadListReply& r) {
        std::string out = std::to_string(r.errorCode) + " more=" + std::to_string(static_cast<int>(r.more)) +
                          " last=" + std::to_string(r.saysLastPage) + "\n";
        for (const auto& t : r.threads) {
            out += "thread " + t.id + " " + t.paginationToken.value_or("-") + " " + std::to_string(t.inSpam) +
                   std::to_string(t.inArchive) + std::to_string(t.read) + " " + t.contactPhoneNumber + "/" +
                   t.contactName + "/" + std::to_string(t.contactBlocked) + " " + t.displayableCost.value_or("-");
            for (const auto& n : t.headingNumbers) out += " h:" + n;
            out += "\n";
            for (const auto& i : t.items) {
                out += "  " + i.id + " " + i.type + " " + std::to_string(i.mask) + " " + std::to_string(i.startTime) +
                       " " + i.messageText.value_or("-") + " mms=" + std::to_string(i.hasMMS) + "/" + i.mmsText + "/" +
                       i.mmsSenderPhoneNumber + "/" + i.attachments.description() + " " + std::to_string(i.duration);
                for (const auto& w : i.transcriptWords) out += " w:" + w;
                out += "\n";
            }
        }
        return out;
    };
    const std::string long1(40, 'x'), long2(300, 'y');
    const std::string json = R"({"error":{"code":"7"},"response":{"conversation":[{"id":"z"}]},"thread":[
        {"id":"t-)" + long1 + R"(","paginationToken":"1700000000000","view":["allSpamThreads","allArchivedThreads"],
         "read":true,"contact":[{"phoneNumber":"+15550001","name":"First"},
                                {"phoneNumber":"+15550002","name":")" +
                             long1 + R"(","blocked":true}],
         "headingContactsPhoneNumberKey":["+15550001",15550002,true],"displayableCost":"$0.01",
         "item":[{"id":"m1-)" +
                             long1 + R"(","type":"smsIn","startTime":"1700000000001","messageText":")" + long2 + R"("},
                 {"id":"m2","type":"smsOut","startTime":1700000000002,"mmsMessage":{"text":")" +
                             long1 +
                             R"(","senderPhoneNumber":"+15550009",
                  "attachment":[{"id":"a1","mimeType":"image/png","imageMetaData":[{"sizeSpec":"s128","width":128}]}]}},
                 {"id":"m3","type":"voicemail","startTime":"1","duration":"31",
                  "transcript":{"wordTokens":[{"word":"hello"},{"word":")" +
                             long1 + R"("},{"nope":1},{"word":7}]}},
                 {"id":"m4","type":"inbound","startTime":"2","attachment":[{"callRecording":{"attachmentId":"r1"}}]},
                 {"type":"smsIn","messageText":"no id"},
                 {"id":"m5","type":"inbound","startTime":"3","transcript":{"wordTokens":{"word":"single"}}}]},
        {"id":"t2","view":"allSpamThreads","contact":{"phoneNumber":"+15550003","name":"Single"},
         "headingContactsPhoneNumberKey":"+15550003","item":{"id":"m6","type":"missed","startTime":"4"}},
        {"view":["textThreads"],"item":[{"id":"m7","type":"smsIn"}]},
        "not a thread",
        {"id":"t3","item":[{"id":"m8","type":"smsIn","startTime":"5","messageText":"same"}],
         "contact":[],"paginationToken":7}]})";
    auto parsed = foundation::parseJSON(json);
    ASSERT_TRUE(parsed.ok()) << parsed.error().description();
    const foundation::Value shared = parsed.value();
    const std::string fromTree = render(HXReadThreadList(shared));
    EXPECT_EQ(shared, parsed.value());
    auto fromBytes = HXReadThreadList(std::string_view(json));
    ASSERT_TRUE(fromBytes.ok());
    EXPECT_EQ(render(*fromBytes), fromTree);
    // The reading itself: the kept threads and items, and what the moved strings and lists hold.
    ASSERT_EQ(fromBytes->threads.size(), 3u);
    const auto& t = fromBytes->threads[0];
    EXPECT_EQ(t.contactName, long1);
    EXPECT_EQ(t.headingNumbers, (std::vector<std::string>{"+15550001", "15550002", "1"}));
    ASSERT_EQ(t.items.size(), 5u);
    EXPECT_EQ(t.items[0].messageText, long2);
    EXPECT_EQ(t.items[1].mmsText, long1);
    EXPECT_EQ(t.items[1].attachments.at(0)["id"].asString(), "a1");
    EXPECT_EQ(t.items[2].transcriptWords, (std::vector<std::string>{"hello", long1}));
    EXPECT_EQ(t.items[3].mask, 16);
    EXPECT_EQ(t.items[4].transcriptWords, (std::vector<std::string>{"single"}));
    EXPECT_EQ(fromBytes->threads[1].items.at(0).id, "m6");
    EXPECT_EQ(fromBytes->errorCode, 7);
    // The threads are read as they are parsed: a repeated member still reads as its last value,
    // whether a list or a single thread.
    const char* repeated[] = {
        R"({"thread":[{"id":"a"}],"thread":[{"id":"b"},{"id":"c"}]})",
        R"({"thread":[{"id":"a"}],"thread":[]})",
        R"({"thread":[{"id":"a"}],"thread":{"id":"s"}})",
        R"({"thread":{"id":"s"},"thread":[{"id":"b"}]})",
        R"({"response":{},"thread":{"id":"s","item":{"id":"i","type":"smsIn"}}})",
    };
    for (const char* document : repeated) {
        auto tree = foundation::parseJSON(document);
        auto bytes = HXReadThreadList(std::string_view(document));
        ASSERT_TRUE(tree.ok() && bytes.ok()) << document;
        EXPECT_EQ(render(*bytes), render(HXReadThreadList(tree.value()))) << document;
    }
}

// Each list sweeps only conversations of its own kind: the SMS list its texts, the voicemail list
// its voicemails and recordings.
TEST(ThreadListPlan, TheStaleSweepKeepsToTheListsKind) {
    struct Case {
        int64_t viewType, typeMask, itemMask, sweptMask;
    } cases[] = {{1, 3072, kSMSIn, 3072}, {2, 20, kVoicemail, 20}};
    for (const auto& c : cases) {
        HXThreadListReply reply;
        reply.threads.push_back(thread("t1", "+1", {item("a", c.itemMask, 200'000)}));
        auto in = smsList();
        in.viewType = c.viewType;
        in.typeMask = c.typeMask;
        const auto plan = HXPlanThreadList(reply, in, {});
        ASSERT_TRUE(plan.stale.has_value()) << c.viewType;
        EXPECT_EQ(plan.stale->typeMask, c.sweptMask) << c.viewType;
    }
}

// A message is new only the first time its id is met, counting the conversation's stored messages
// and what the reply listed before, however many a conversation holds (a few are looked through,
// many go to a table, and a set can grow from one to the other mid-thread).
TEST(ThreadListPlan, AMessageIsNewOnlyTheFirstTimeItsIdIsMetHoweverManyTheConversationHolds) {
    for (size_t storedCount : {0, 3, 16, 17, 40}) {
        for (size_t listed : {5, 16, 17, 60}) {
            HXStoredConversations stored;
            if (storedCount) {
                auto& c = stored["t"];
                for (size_t i = 0; i < storedCount; ++i) c.messages.emplace_back("m" + std::to_string(i), 1000 + i);
            }
            HXThreadListReply reply;
            std::vector<HXThreadItem> items;
            // Every id twice: the second time it is a repeat.
            for (int round = 0; round < 2; ++round)
                for (size_t i = 0; i < listed; ++i)
                    items.push_back(item("m" + std::to_string(i), kSMSIn, 10'000 + static_cast<int64_t>(i)));
            reply.threads.push_back(thread("t", "+1", std::move(items)));
            const auto plan = HXPlanThreadList(reply, smsList(), stored);
            ASSERT_EQ(plan.conversations.size(), 1u);
            const auto& messages = plan.conversations[0].messages;
            ASSERT_EQ(messages.size(), 2 * listed);
            for (size_t j = 0; j < messages.size(); ++j)
                EXPECT_EQ(messages[j].insert, j < listed && j >= storedCount)
                    << storedCount << " stored, " << listed << " listed, message " << j;
        }
    }
}

// A conversation page of a conversation with many stored messages withdraws those of its span it no
// longer lists; the same thread named again in the reply then lists a withdrawn one as new.
TEST(ThreadListPlan, AWithdrawnMessageOfALargeConversationIsNewWhenListedAgain) {
    HXStoredConversations stored;
    for (int i = 0; i < 40; ++i) stored["t"].messages.emplace_back("m" + std::to_string(i), 1000 * (i + 1));
    HXThreadListReply reply;
    std::vector<HXThreadItem> page;
    for (int i = 10; i <= 20; i += 2) page.push_back(item("m" + std::to_string(i), kSMSIn, 1000 * (i + 1)));
    reply.threads.push_back(thread("t", "+1", std::move(page)));
    reply.threads[0].paginationToken = "p";
    reply.threads.push_back(thread("t", "+1", {item("m11", kSMSIn, 12'000), item("m12", kSMSIn, 13'000)}));
    reply.threads[1].paginationToken = "p";
    auto in = smsList();
    in.flags = kReload;
    const auto plan = HXPlanThreadList(reply, in, stored);
    ASSERT_EQ(plan.conversations.size(), 2u);
    EXPECT_EQ(plan.conversations[0].withdrawn, (std::vector<std::string>{"m11", "m13", "m15", "m17", "m19"}));
    for (const auto& m : plan.conversations[0].messages) EXPECT_FALSE(m.insert) << m.item->id;
    ASSERT_EQ(plan.conversations[1].messages.size(), 2u);
    EXPECT_TRUE(plan.conversations[1].messages[0].insert) << "m11 was withdrawn";
    EXPECT_FALSE(plan.conversations[1].messages[1].insert) << "m12 is stored and listed";
}
