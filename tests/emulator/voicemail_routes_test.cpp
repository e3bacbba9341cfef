// Every account answers the app's own voicemail routes: "v/" and "cr/cra:" with a conversation's
// (thread's) id give the audio the account keeps under the thread's newest voicemail or recording
// item, with no key added to the account; an id that names neither thread nor item stays a 404.
#include <gtest/gtest.h>

#include "emulator/emulator.h"
#include "platform/net/curl_transport.h"
#include "tests/platform/net/poll_loop.h"
#include "tests/platform/net/recording_delegate.h"

namespace {

struct VoicemailRoutes : ::testing::Test {
    emulator::Emulator service{[] {
        emulator::GeneratorOptions options;
        options.smsThreads = 1;
        options.voicemailThreads = 10;
        return emulator::generateAccount(options);
    }()};
    hxtest::PollLoop loop;
    std::shared_ptr<net::CurlTransport> transport = net::CurlTransport::create(loop);
    void SetUp() override { ASSERT_TRUE(service.start().ok()); }
    std::shared_ptr<hxtest::RecordingDelegate> get(const std::string& path) {
        net::URLRequest r(service.origin() + path);
        r.setValue("SID=" + service.sessionValue(), "Cookie");
        auto d = std::make_shared<hxtest::RecordingDelegate>();
        auto c = net::URLConnection::create(std::move(r), d, true, transport);
        EXPECT_TRUE(loop.runUntil([&] { return d->done; }, 10));
        return d;
    }
    static std::string escaped(const std::string& id) {
        std::string out;
        for (char c : id) out += c == '+' ? "%2B" : std::string(1, c);
        return out;
    }
};

}  // namespace

TEST_F(VoicemailRoutes, AConversationsIdGivesItsNewestItemsAudioOnBothRoutes) {
    struct Expected {
        std::string path, body;
    };
    std::vector<Expected> expected;
    size_t keys = 0;
    service.withAccount([&](emulator::Account& a) {
        keys = a.media.size();
        for (const auto& t : a.threads) {
            const emulator::Message* newest = nullptr;
            for (const auto& m : t.items)
                if (m.type == "voicemail" || m.type == "recording") newest = &m;
            if (!newest) continue;
            const std::string audio = a.media.at(newest->id).bytes;
            expected.push_back({"/a/v/" + escaped(t.id), audio});
            // The recording route prefers the recording attachment, kept by the item id here.
            const auto attachment =
                newest->attachments.empty() ? a.media.end() : a.media.find(newest->attachments.front().id);
            expected.push_back(
                {"/a/cr/cra:" + escaped(t.id), attachment == a.media.end() ? audio : attachment->second.bytes});
        }
        return 0;
    });
    ASSERT_GE(expected.size(), 20u);
    for (const auto& e : expected) {
        SCOPED_TRACE(e.path);
        auto d = get(e.path);
        ASSERT_EQ(d->responses.at(0).statusCode, 200);
        EXPECT_EQ(d->body, e.body);
    }
    service.withAccount([&](emulator::Account& a) {
        EXPECT_EQ(a.media.size(), keys) << "nothing is added to what the state keeps";
        return 0;
    });
    EXPECT_EQ(get("/a/v/t.nothing")->responses.at(0).statusCode, 404);
    EXPECT_EQ(get("/a/i/" + escaped(expected.front().path.substr(5)))->responses.at(0).statusCode, 404)
        << "only the voicemail routes read a conversation's id";
}
