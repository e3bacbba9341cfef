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
TEST_F(TabletConversation, AReplyReachesTheServiceAndComesBackAsABubble) { replyGoesOut(); }
TEST_F(TabletConversation, PicturesReachTheServiceWithinTheLimit) { picturesGoOut(); }
