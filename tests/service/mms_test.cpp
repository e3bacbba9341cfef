// Picture messages against the emulator: one upload per picture, the text on the first only, a
// GIF sent as its own bytes and a still picture as JPEG (decoded by protoc), and failures told.
#include <gtest/gtest.h>

#include "platform/foundation/application.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/image.h"
#include "service/sms_sending.h"
#include "tests/platform/graphics/gif_writer.h"
#include "tests/service/web_fixture.h"
#include "tests/support/voice_paths.h"

namespace {

struct MMS : hxtest::WebFixture {
    std::vector<std::shared_ptr<void>> sent;
    void SetUp() override {
        startService();
        foundation::NotificationCenter::defaultCenter().addObserver(
            &sent, "kSMSReplySentNotification",
            [this](const foundation::Notification& n) { sent.push_back(n.object); });
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(&sent);
        hxtest::WebFixture::TearDown();
    }
    static foundation::Data gif() {
        hxtest::GifSpec spec{4, 4, {{255, 0, 0}, {0, 0, 255}}, 0, 0, {}};
        for (int f = 0; f < 2; ++f) {
            hxtest::GifFrameSpec frame;
            frame.width = frame.height = 4;
            frame.indices.assign(16, static_cast<uint8_t>(f));
            spec.frames.push_back(frame);
        }
        return hxtest::writeGif(spec);
    }
    static HXMMSImage still(int w, int h) {
        auto bitmap = graphics::Bitmap::make(w, h).value();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) bitmap->row(y)[x] = 0xFF000000u | static_cast<uint32_t>((x * 7) ^ (y * 13));
        return {nullptr, graphics::Image::fromBitmap(bitmap)};
    }
    std::vector<emulator::SentMessage> received() {
        return service->withAccount([](emulator::Account& a) { return a.sent; });
    }
};

using hxtest::kSend;

}  // namespace

TEST_F(MMS, EachPictureIsItsOwnUploadAndOnlyTheFirstCarriesTheText) {
    const auto gifBytes = gif();
    auto animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(gifBytes);
    ASSERT_TRUE(animated);
    const size_t tasks = foundation::Application::shared().activeBackgroundTaskCount();
    app->sendMMS("look", {{animated, nullptr}, still(64, 48), still(8, 8)}, std::string("+1 555 010 3000"),
                 std::nullopt);
    ASSERT_TRUE(runUntil([&] { return sent.size() == 1; }));
    EXPECT_EQ(*std::static_pointer_cast<std::string>(sent[0]), "t.+15550103000");
    EXPECT_EQ(foundation::Application::shared().activeBackgroundTaskCount(), tasks);
    auto got = received();
    ASSERT_EQ(got.size(), 3u);
    std::vector<std::string> texts;
    for (const auto& m : got) texts.push_back(m.text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"", "", "look"}));
    for (const auto& m : got) {
        if (m.imageType == 4) {
            EXPECT_EQ(m.attachmentBytes, gifBytes.size());
        }
        EXPECT_TRUE(m.imageType == 4 || m.imageType == 1);
    }
    auto requests = requestsTo(kSend);
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.header("Authorization"), "Bearer " + token);
        EXPECT_EQ(r.header("Cookie"), "SID=" + service->sessionValue());
    }
    if (!hxtest::haveProgram("protoc")) GTEST_SKIP() << "no protoc";
    int jpegs = 0, gifs = 0;
    for (const auto& r : requests) {
        std::string decoded = hxtest::protocDecode("SendSMSRequest", r.body);
        EXPECT_NE(decoded.find("targetNumber: \"+15550103000\""), std::string::npos) << decoded;
        if (decoded.find("imageType: 4") != std::string::npos) {
            ++gifs;
            EXPECT_NE(decoded.find("data: \"GIF89a"), std::string::npos);
            EXPECT_NE(decoded.find("messageText: \"look\""), std::string::npos);
        } else if (decoded.find("imageType: 1") != std::string::npos) {
            ++jpegs;
            EXPECT_NE(decoded.find("data: \"\\377\\330\\377"), std::string::npos);  // a JPEG's SOI
        }
    }
    EXPECT_EQ(gifs, 1);
    EXPECT_EQ(jpegs, 2);
}

TEST_F(MMS, AFailedUploadIsToldAndNothingCountsAsSent) {
    service->inject(emulator::Fault::ServerErrorEmpty, kSend);
    app->sendMMS("x", {still(8, 8), still(8, 8)}, std::nullopt, std::string("t.+15550133"));
    ASSERT_TRUE(runUntil([&] { return alerts().size() == 1; }));
    EXPECT_EQ(alerts()[0].title, "Sending Message Failed");
    EXPECT_TRUE(sent.empty());
    // A dropped connection is told as well.
    service->inject(emulator::Fault::Drop, kSend);
    app->sendMMS("y", {still(8, 8)}, std::nullopt, std::string("t.+15550133"));
    ASSERT_TRUE(runUntil([&] { return alerts().size() == 2; }));
    EXPECT_TRUE(sent.empty());
    // Without a conversation or recipients nothing starts.
    const size_t before = service->requestCount();
    app->sendMMS("z", {still(8, 8)}, std::nullopt, std::nullopt);
    clock->runUntil([] { return false; }, 1);
    EXPECT_EQ(service->requestCount(), before);
}

TEST_F(MMS, TheSenderHearsHowItsOwnSendEnded) {
    using Kind = HXSendAnswer::Kind;
    struct Case {
        const char* what;
        std::function<void(emulator::Emulator&)> before;
        std::optional<std::string> recipients, conversation;
        Kind end;
        std::string conversationSent;
    };
    const Case cases[] = {
        {"sent to a number", {}, std::string("+15550103000"), std::nullopt, Kind::Sent, "t.+15550103000"},
        {"sent into a conversation", {}, std::nullopt, std::string("t.+15550133"), Kind::Sent, "t.+15550133"},
        {"an upload failed", [](emulator::Emulator& e) { e.inject(emulator::Fault::ServerErrorEmpty, kSend); },
         std::nullopt, std::string("t.+15550133"), Kind::Failed, ""},
        {"neither a number nor a conversation", {}, std::nullopt, std::nullopt, Kind::Failed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.before) c.before(*service);
        std::vector<HXSendAnswer> heard;
        app->sendMMS("x", {still(8, 8), still(8, 8)}, c.recipients, c.conversation,
                     [&heard](const HXSendAnswer& a) { heard.push_back(a); });
        ASSERT_TRUE(runUntil([&] { return !heard.empty() && heard.back().isEnd(); }));
        clock->runUntilIdle();
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard.back().kind, c.end);
        EXPECT_EQ(heard.back().conversationID, c.conversationSent);
        for (size_t i = 0; i + 1 < heard.size(); ++i) EXPECT_EQ(heard[i].kind, Kind::Progress) << "one end, last";
    }
}

TEST_F(MMS, WithoutAnAccessTokenTheSendEndsAtOnceAndItsProgressComesDown) {
    using Kind = HXSendAnswer::Kind;
    setTokenAvailable(false);
    const size_t uploads = requestsTo(kSend).size();
    std::vector<HXSendAnswer> heard;
    app->sendMMS("x", {still(8, 8)}, std::nullopt, std::string("t.+15550133"),
                 [&heard](const HXSendAnswer& a) { heard.push_back(a); });
    ASSERT_EQ(heard.size(), 1u) << "answered at once, before any turn of the queue";
    EXPECT_EQ(heard[0].kind, Kind::Failed);
    EXPECT_EQ(posted["kRemoveSMSReplySendingProgressNotification"], 1);
    EXPECT_EQ(posted["kSMSReplySendingProgressNotification"], 0);
    clock->runUntil([] { return false; }, 1);
    EXPECT_EQ(requestsTo(kSend).size(), uploads);
    EXPECT_GE(tokenRequests(), 1u) << "a token is asked for, so the next send can go out";
}
