// What the conversation screen asks of the service, against the emulated service over loopback:
// one message's delete body, a picture's thumbnail (s=3, once while one is on its way) and its
// full size (s=1 with the account's cookies), stored under "<id>_ORIGINAL" and announced by id.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/connect_app_delegate.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "model/cache.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "service/conversation_requests.h"
#include "service/custom_cookie_jar.h"
#include "service/media_operations.h"
#include "service/request_machinery.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/signed_in_account.h"
#include "tests/support/test_support.h"

namespace {

std::string pngBytes() {
    auto bitmap = graphics::Bitmap::make(2, 2).value();
    auto png = graphics::encodePNG(*bitmap).value();
    return std::string(png.begin(), png.end());
}

struct ConversationRequests : ::testing::Test {
    dispatch::ScopedVirtualClock clock;
    emulator::Emulator service;
    std::shared_ptr<hxtest::RecordedApp<>> app = std::make_shared<hxtest::RecordedApp<>>();
    hxtest::TempDir dir;
    std::vector<foundation::Dictionary> downloaded;

    void SetUp() override {
        dispatch::RunLoop::main();
        ASSERT_TRUE(service.start().ok());
        auto& web = HXWebClientOf(*app);
        web.endpoints = HXEndpoints::allAt(service.origin());
        web.cachesDirectory = dir.path().string();
        web.objectCache = HXCCache::create("objects", dir.path() / "cache");
        app->setAccount(hxtest::signedInAccount("user@example.test", std::nullopt, "auth"));
        auto jar = std::make_shared<CustomCookieJar>();
        net::Cookie session{.name = "SID", .value = "s1", .domain = "127.0.0.1", .path = "/"};
        jar->set_cookies({session});
        app->setCookieJar(jar);
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "kImageDownloadCompleteNotification",
            [this](const foundation::Notification& n) { downloaded.push_back(n.userInfo); });
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        HXWebClientOf(*app).objectCache.reset();
    }
    bool runUntil(const std::function<bool()>& p) { return clock->runUntil(p, 20); }
};

}  // namespace

TEST_F(ConversationRequests, ADeleteBodyIsAJSONArrayOfTheIdWhateverItHolds) {
    for (const std::string id : {"abc", "a\"b", "back\\slash", "line\nbreak", "\u00e9t\u00e9", ""}) {
        const std::string body = HXMessageDeleteBody(id);
        auto parsed = foundation::parseJSON(body);
        ASSERT_TRUE(parsed.ok()) << body;
        ASSERT_TRUE(parsed.value().isArray()) << body;
        ASSERT_EQ(parsed.value().asArray().size(), 1u) << body;
        EXPECT_EQ(parsed.value().asArray()[0].stringValue(), id) << body;
    }
    EXPECT_EQ(HXMessageDeleteBody("abc"), "[\"abc\"]");
    EXPECT_EQ(HXMessageDeleteTag("t1", "abc"), "/voice/v1/voiceclient/threaditem/delete?alt=json_t1_abc");
}

TEST_F(ConversationRequests, WithoutAnAccessTokenNoDeleteGoesOut) {
    EXPECT_FALSE(HXDeleteMessage(*app, "t1", "abc"));
    clock->runUntil([] { return false; }, 2);
    // The token's renewal may go out; the delete does not.
    for (const auto& r : service.requests()) EXPECT_EQ(r.path.find("threaditem/delete"), std::string::npos);
    EXPECT_FALSE(app->requestInFlight(HXMessageDeleteTag("t1", "abc")));
}

TEST_F(ConversationRequests, AThumbnailIsAskedForOnceWhileItIsOnItsWay) {
    service.script("/a/i/p%201", {.body = pngBytes(), .hold = true});
    EXPECT_TRUE(HXMediaOperations::of(app)->requestThumbnail("p 1"));
    EXPECT_FALSE(HXMediaOperations::of(app)->requestThumbnail("p 1"));
    ASSERT_TRUE(runUntil([&] { return service.requestCount() == 1; }));
    const auto request = service.requests()[0];
    EXPECT_EQ(request.target, "/a/i/p%201?s=3");
    EXPECT_EQ(request.header("Referer").value_or(""), service.origin());
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return HXMediaOperations::of(app)->mediaCache()->objectForKey("p 1") != nullptr; }));
    EXPECT_EQ(service.requestCount(), 1u);
}

TEST_F(ConversationRequests, TheFullSizePictureCarriesTheCookiesAndIsAnnouncedByItsId) {
    // Two downloads answered in reverse order each name their own picture.
    const std::string first = pngBytes();
    auto other = graphics::Bitmap::make(3, 1).value();
    const auto otherPNG = graphics::encodePNG(*other).value();
    const std::string second(otherPNG.begin(), otherPNG.end());
    service.script("/a/i/one", {.body = first, .hold = true});
    service.script("/a/i/two", {.body = second});
    HXMediaOperations::of(app)->downloadFullSizeImageForAttachment("one", "image/png");
    HXMediaOperations::of(app)->downloadFullSizeImageForAttachment("two", "image/png");
    ASSERT_TRUE(runUntil([&] { return downloaded.size() == 1; }));
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return downloaded.size() == 2; }));
    EXPECT_EQ(downloaded[0].get("id").stringValue(), "two");
    EXPECT_EQ(downloaded[1].get("id").stringValue(), "one");
    const auto bytesOf = [](const foundation::Dictionary& d) {
        const auto& data = d.get("image").asData();
        return std::string(data.begin(), data.end());
    };
    EXPECT_EQ(bytesOf(downloaded[0]), second);
    EXPECT_EQ(bytesOf(downloaded[1]), first);
    auto stored = HXMediaOperations::of(app)->mediaCache()->objectForKey("one_ORIGINAL");
    ASSERT_TRUE(stored && stored->value.isData());
    EXPECT_EQ(std::string(stored->value.asData().begin(), stored->value.asData().end()), first);
    for (const auto& r : service.requests()) {
        EXPECT_TRUE(r.target.ends_with("?s=1")) << r.target;
        EXPECT_EQ(r.header("Cookie").value_or(""), "SID=s1") << r.target;
        EXPECT_EQ(r.header("Referer").value_or(""), service.origin()) << r.target;
    }
}

TEST_F(ConversationRequests, AFullSizeReplyThatIsNoPictureIsNeitherStoredNorAnnounced) {
    service.script("/a/i/bad", {.body = "<html>not a picture</html>"});
    service.script("/a/i/gone", {.status = 404, .body = "missing"});
    HXMediaOperations::of(app)->downloadFullSizeImageForAttachment("bad", "image/jpeg");
    HXMediaOperations::of(app)->downloadFullSizeImageForAttachment("gone", "image/gif");
    ASSERT_TRUE(runUntil([&] { return service.requestCount() == 2; }));
    clock->runUntil([] { return false; }, 2);
    EXPECT_TRUE(downloaded.empty());
    EXPECT_EQ(HXMediaOperations::of(app)->mediaCache()->objectForKey("bad_ORIGINAL"), nullptr);
    EXPECT_EQ(HXMediaOperations::of(app)->mediaCache()->objectForKey("gone_ORIGINAL"), nullptr);
}
