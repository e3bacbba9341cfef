// What the conversation's attachment rows ask of the loopback service, read from the service's
// own request log while the user scrolls through the message and the table is reloaded three
// times: one request per picture thumbnail (s=3) and video preview whatever came back (a picture,
// a page that is no picture, a missing item), each with the web client's "Referer"; then two full-size
// pictures (s=1, with the session cookie the service handed out) answered in reverse order, each
// stored under "<id>_ORIGINAL" as the service's bytes and announced under its own id.
#include <map>
#include <mutex>

#include "model/cache.h"
#include "platform/foundation/notification_center.h"
#include "tests/ui/conversation/playback_support.h"

namespace {

using hxtest::kTextThread;

struct MediaCase {
    const char* id;
    const char* mimeType;
    emulator::Media served;  // nothing served when the mime type is empty
    const char* path;        // of the request the row makes
    const char* query;       // its query
};

const MediaCase kCases[] = {
    {"mp1", "image/jpeg", {.mimeType = "image/jpeg", .width = 320, .height = 240}, "/a/i/mp1", "s=3"},
    {"mp2", "image/jpeg", {.mimeType = "image/jpeg", .width = 200, .height = 300}, "/a/i/mp2", "s=3"},
    {"mhtml", "image/png", {"image/png", "<html><body>Moved</body></html>", {}}, "/a/i/mhtml", "s=3"},
    {"mgone", "image/gif", {}, "/a/i/mgone", "s=3"},
    {"vhtml", "video/mp4", {"video/mp4", "no video", "<html>no preview</html>"}, "/a/vi/vhtml", "m=thumbnail"},
    {"vgone", "video/mp4", {}, "/a/vi/vgone", "m=thumbnail"},
};

struct ConversationMedia : hxtest::PlaybackFixture<HX_ConnectAppDelegate_iPhone> {
    ConversationMedia() : PlaybackFixture(hxtest::DeviceForm::phone, false, 15, true) {}
    // Posted from the download's own queue.
    std::mutex announcedMutex;
    std::vector<foundation::Dictionary> announced;
    std::vector<foundation::Dictionary> announcedNow() {
        std::lock_guard lock(announcedMutex);
        return announced;
    }

    void SetUp() override {
        PlaybackFixture::SetUp();
        service->withAccount([](emulator::Account& a) {
            for (const auto& c : kCases)
                if (!c.served.mimeType.empty()) a.media[c.id] = c.served;
            return 0;
        });
        auto hear = [this](const foundation::Notification& n) {
            std::lock_guard lock(announcedMutex);
            announced.push_back(n.userInfo);
        };
        foundation::NotificationCenter::defaultCenter().addObserver(this, "kImageDownloadCompleteNotification", hear);
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        PlaybackFixture::TearDown();
    }
    // Every row brought into view, its requests answered.
    void scrollThrough() {
        auto& table = screen->tableView();
        for (int row = 0; row < table.numberOfRows(0); ++row) {
            table.scrollToRow({0, row}, toolkit::ScrollPosition::Middle, false);
            harness.settle();
            ASSERT_TRUE(settleRequests()) << "still asking after " << service->requestCount() << " requests";
            harness.settle();
        }
    }
    std::shared_ptr<HXCCache> cache() { return app->screenRoles().media.lock()->mediaCache(); }
};

std::string bytesOf(const foundation::Data& d) { return std::string(d.begin(), d.end()); }

}  // namespace

TEST_F(ConversationMedia, EachAttachmentIsAskedForOnceOverReloadsAndFullSizePicturesKeepTheirIds) {
    foundation::Array attachments;
    for (const auto& c : kCases)
        attachments.push_back(foundation::Value(foundation::Dictionary{{"id", c.id}, {"mimeType", c.mimeType}}));
    storeConversation(kTextThread, 1, "", attachments, "Look at these");
    service->clearRequests();
    open(kTextThread, 1);
    ASSERT_NO_FATAL_FAILURE(scrollThrough());
    for (int reload = 0; reload < 3; ++reload) {
        screen->tableView().reloadData();
        ASSERT_NO_FATAL_FAILURE(scrollThrough());
    }

    const std::string webClient = HXWebClientOf(*app).endpoints.webClient;
    std::map<std::string, std::vector<emulator::RecordedRequest>> asked;
    for (const auto& r : service->requests()) asked[r.path].push_back(r);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.id);
        const auto& requests = asked[c.path];
        ASSERT_EQ(requests.size(), 1u) << "asked for again by a reload";
        EXPECT_EQ(requests[0].target, std::string(c.path) + (*c.query ? "?" : "") + c.query);
        EXPECT_EQ(requests[0].header("Referer").value_or("<none>"), webClient);
    }
    // A thumbnail kept is the service's picture; what was no picture is not kept.
    std::string thumbnail;
    service->withAccount([&](emulator::Account& a) { return thumbnail = a.media["mp1"].thumbnail, 0; });
    auto kept = cache()->objectForKey("mp1");
    ASSERT_TRUE(kept && kept->value.isData());
    EXPECT_EQ(bytesOf(kept->value.asData()), thumbnail);
    EXPECT_EQ(cache()->objectForKey("mhtml"), nullptr);
    EXPECT_EQ(cache()->objectForKey("vhtml"), nullptr);

    // Full size: the first asked for is answered last.
    service->clearRequests();
    service->inject(emulator::Fault::Slow, "/a/i/mp1");
    auto media = app->screenRoles().media.lock();
    media->downloadFullSizeImageForAttachment("mp1", "image/jpeg");
    media->downloadFullSizeImageForAttachment("mp2", "image/jpeg");
    ASSERT_TRUE(harness.clock().runUntil([&] { return announcedNow().size() == 1; }, 30));
    ASSERT_TRUE(releaseWhenSeen("/a/i/mp1"));
    ASSERT_TRUE(harness.clock().runUntil([&] { return announcedNow().size() == 2; }, 30));
    const auto heard = announcedNow();
    const std::string cookie = "SID=" + service->sessionValue();
    for (const auto& r : service->requests()) {
        SCOPED_TRACE(r.target);
        EXPECT_TRUE(r.target == "/a/i/mp1?s=1" || r.target == "/a/i/mp2?s=1");
        EXPECT_EQ(r.header("Cookie").value_or("<none>"), cookie);
        EXPECT_EQ(r.header("Referer").value_or("<none>"), webClient);
    }
    const char* order[] = {"mp2", "mp1"};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(order[i]);
        std::string served;
        service->withAccount([&](emulator::Account& a) { return served = a.media[order[i]].bytes, 0; });
        ASSERT_FALSE(served.empty());
        EXPECT_EQ(heard[i].get("id").stringValue(), order[i]);
        EXPECT_EQ(bytesOf(heard[i].get("image").asData()), served);
        auto original = cache()->objectForKey(std::string(order[i]) + "_ORIGINAL");
        ASSERT_TRUE(original && original->value.isData());
        EXPECT_EQ(bytesOf(original->value.asData()), served);
    }
}
