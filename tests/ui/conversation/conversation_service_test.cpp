// The conversation screen against the loopback service, signed in with the real screens, on the
// phone and the tablet: a thread opened by the "reply" URL, a reply typed and sent (what the
// service took, the progress, the new bubble, Send disabled again), pictures from the library (a
// large picture reaches the service as a JPEG an independent reader opens, within the limit; a
// GIF at the limit arrives byte for byte; one byte more is refused), the generated long thread
// (its date lines, one report while unread, a search result scrolled to) and the 350-message
// thread pulled page by page with the bubbles kept in place.
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
