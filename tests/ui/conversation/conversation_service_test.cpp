// The conversation screen against the loopback service, signed in with the real screens, on the
// phone and the tablet: a thread opened by the "reply" URL, a reply typed and sent (what the
// service took, the progress, the new bubble, Send disabled again), pictures from the library (a
// large picture reaches the service as a JPEG an independent reader opens, within the limit; a
// GIF at the limit arrives byte for byte; one byte more is refused), the generated long thread
// (its date lines, one report while unread, a search result scrolled to) and the 350-message
// thread pulled page by page with the bubbles kept in place.
#include "service/message_list_model.h"
#include "tests/ui/conversation/service_support.h"

namespace {

using hxtest::DeviceForm;
using hxtest::ServiceConversation;
using hxtest::ServiceThreads;

struct PhoneConversation : ServiceConversation<HX_ConnectAppDelegate_iPhone> {
    PhoneConversation() : ServiceConversation(DeviceForm::phone) {}
    // A thread whose first message's id holds a quote and a backslash (unread: it is loaded at
    // the start).
    void prepareAccount(emulator::Account& a) override {
        emulator::Thread t;
        t.id = "tquote";
        t.read = false;
        t.numbers = {"+15550177"};
        t.items = {{"q\"1\\", 1'759'990'000'000, "first", "+15550177", "smsIn"},
                   {"q2", 1'759'990'060'000, "second", "+15550177", "smsIn"}};
        a.threads.push_back(t);
    }
};
struct TabletConversation : ServiceConversation<HX_ConnectAppDelegate_iPad> {
    TabletConversation() : ServiceConversation(DeviceForm::tablet) {}
};

// A voicemail thread and a recorded-call thread of 130 items each (the voicemail list brings their
// newest items in).
struct PhoneVoicemails : ServiceConversation<HX_ConnectAppDelegate_iPhone> {
    PhoneVoicemails() : ServiceConversation(DeviceForm::phone) {}
    void prepareAccount(emulator::Account& a) override {
        for (const char* kind : {"voicemail", "recording"}) {
            emulator::Thread t;
            t.id = std::string("t") + kind;
            t.numbers = {"+15550166"};
            for (int i = 0; i < 130; ++i) {
                const std::string item = std::string(kind) + std::to_string(i);
                t.items.push_back({item, 1'759'000'000'000 + int64_t{i} * 60'000, "words " + std::to_string(i),
                                   "+15550166", kind, 30});
                // A recorded call carries its recording.
                if (std::string(kind) == "recording")
                    t.items.back().attachments.push_back({"rec" + item, "audio/mpeg"});
            }
            a.threads.push_back(t);
        }
    }
    size_t stored(const std::string& id) {
        auto c = app->getConversationWithID(id);
        return c ? c->objects("Messages").size() : 0;
    }
};

struct PhoneThreads : ServiceThreads<HX_ConnectAppDelegate_iPhone> {
    PhoneThreads() : ServiceThreads(DeviceForm::phone) {}
};
struct TabletThreads : ServiceThreads<HX_ConnectAppDelegate_iPad> {
    TabletThreads() : ServiceThreads(DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PhoneThreads, TheLongThreadOpensByTheReplyURL) { longThreadOpens(); }
TEST_F(TabletThreads, TheLongThreadOpensByTheReplyURL) { longThreadOpens(); }
TEST_F(PhoneThreads, OlderPagesKeepTheBubblesInPlace) { olderPagesKeepTheBubbles(); }
TEST_F(PhoneConversation, AReplyReachesTheServiceAndComesBackAsABubble) { replyGoesOut(); }
TEST_F(PhoneConversation, PicturesReachTheServiceWithinTheLimit) { picturesGoOut(); }

// A swipe deletes one message: the body the service gets is read by an independent JSON reader
// as the id, quote and backslash included, and the message goes once the service confirms.
TEST_F(PhoneConversation, ASwipedMessageGoesWithABodyAnyJSONReaderReads) {
    ASSERT_TRUE(runUntil([&] { return app->getConversationWithID("tquote") != nullptr; }));
    auto* s = openByURL("conversationID=tquote&messageNum=0");
    ASSERT_NE(s, nullptr);
    auto& table = s->tableView();
    ASSERT_EQ(table.numberOfSections(), 2);
    ASSERT_EQ(s->messageAt(0)->messageID(), "q\"1\\");
    const auto offered = harness.swipeRow(table, {0, 0}, toolkit::SwipeEdge::Trailing, false);
    ASSERT_EQ(offered.size(), 1u);
    ASSERT_TRUE(harness.tapSwipeAction(offered[0]));
    std::string body;
    ASSERT_TRUE(runUntil([&] {
        for (const auto& r : service->requests())
            if (r.path.find("threaditem/delete") != std::string::npos) body = r.body;
        return !body.empty();
    }));
    const auto path = home.path() / "delete.json";
    std::ofstream(path, std::ios::binary) << body;
    std::string out;
    ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c \"import json, sys; v = json.load(open(sys.argv[1])); "
                                 "assert isinstance(v, list) and len(v) == 1; sys.stdout.write(v[0])\" '" +
                                     path.string() + "'",
                                 &out),
              0)
        << body;
    EXPECT_EQ(out, "q\"1\\");
    EXPECT_TRUE(runUntil([&] { return table.numberOfSections() == 1; })) << "gone once the service confirms";
    EXPECT_EQ(s->messageAt(0)->messageID(), "q2");
}
TEST_F(TabletConversation, AReplyReachesTheServiceAndComesBackAsABubble) { replyGoesOut(); }
TEST_F(TabletConversation, PicturesReachTheServiceWithinTheLimit) { picturesGoOut(); }

// An older page of a voicemail or a recorded call is parsed as its own kind: every item of the
// page is stored in the conversation, whose kind stays what it was.
TEST_F(PhoneVoicemails, AnOlderPageOfAVoicemailOrARecordedCallKeepsItsKind) {
    for (const char* kind : {"voicemail", "recording"}) {
        SCOPED_TRACE(kind);
        const std::string id = std::string("t") + kind;
        // Its newest page, as the voicemail list asks for it when it opens the conversation.
        auto list = std::dynamic_pointer_cast<HXMessageListModel>(app->messageListForViewIndex(2));
        ASSERT_TRUE(list);
        list->loadConversation(id);
        ASSERT_TRUE(runUntil([&] { return stored(id) > 0; }));
        auto* s = openByURL("conversationID=" + id + "&messageNum=0");
        ASSERT_NE(s, nullptr);
        ASSERT_TRUE(runUntil([&] { return app->isIdle(); }));
        const size_t first = stored(id);
        const int64_t type = app->getConversationWithID(id)->value("type").int64Value();
        ASSERT_LT(first, 130u);
        ASSERT_TRUE(s->refreshControl()) << "older items remain";
        s->getOlderMessages();
        ASSERT_TRUE(runUntil([&] { return stored(id) > first; }));
        ASSERT_TRUE(runUntil([&] { return app->isIdle(); }));
        EXPECT_EQ(stored(id), std::min<size_t>(130, first + 100));
        EXPECT_EQ(app->getConversationWithID(id)->value("type").int64Value(), type);
    }
}
