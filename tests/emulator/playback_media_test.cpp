// The playback media through the real transport: the voicemail and recording routes the app
// downloads by (with ids escaped as the app escapes them), the video's content and preview, the
// non-audio voicemail, the accounts without the media left as they were, and every account's
// voicemail routes by conversation id.
#include "emulator/playback_media.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "emulator/account_json.h"
#include "platform/net/curl_transport.h"
#include "platform/services/audio_player.h"
#include "platform/services/media_track_reader.h"
#include "tests/platform/net/poll_loop.h"
#include "tests/platform/net/recording_delegate.h"

namespace {

emulator::Account withVoicemails() {
    emulator::GeneratorOptions options;
    options.smsThreads = 2;
    options.voicemailThreads = 12;
    return emulator::generateAccount(options);
}

// A generated account served over the real transport, and the app's way to ask it.
struct Served : ::testing::Test {
    emulator::Emulator service{withVoicemails()};
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
    // The app's escaping of an id in a media path: "+" and "," are escaped.
    static std::string escaped(const std::string& id) {
        std::string out;
        for (char c : id) out += c == '+' ? "%2B" : c == ',' ? "%2C" : std::string(1, c);
        return out;
    }
};

struct Media : Served {
    void SetUp() override {
        service.withAccount([](emulator::Account& a) {
            emulator::addPlaybackMedia(a);
            return 0;
        });
        Served::SetUp();
    }
};

// Without the playback media: the account's own (placeholder) audio.
using VoicemailRoutes = Served;

std::span<const uint8_t> bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace

TEST_F(Media, VoicemailsAndRecordingsDownloadAsSixtyFiveSecondsOfAudio) {
    struct Item {
        std::string path;
        std::string_view expected;
    };
    std::vector<Item> items;
    service.withAccount([&](emulator::Account& a) {
        for (const auto& t : a.threads)
            for (const auto& m : t.items) {
                if (m.type == "voicemail") {
                    items.push_back({"/a/v/" + escaped(t.id), emulator::voicemailAudio()});
                    items.push_back({"/a/v/" + m.id, emulator::voicemailAudio()});
                } else if (m.type == "recording") {
                    items.push_back({"/a/cr/cra:" + escaped(t.id), emulator::recordingAudio()});
                    items.push_back({"/a/au/" + m.attachments.at(0).id, emulator::recordingAudio()});
                }
            }
        return 0;
    });
    bool sawRecording = false;
    for (const auto& item : items) {
        SCOPED_TRACE(item.path);
        sawRecording = sawRecording || item.expected == emulator::recordingAudio();
        auto d = get(item.path);
        ASSERT_EQ(d->responses.at(0).statusCode, 200);
        EXPECT_EQ(d->responses.at(0).mimeType(), "audio/mpeg");
        ASSERT_EQ(d->body, item.expected);
        const auto probe = services::probeMP3(bytes(d->body));
        ASSERT_TRUE(probe.format);
        EXPECT_FALSE(probe.broken);
        // "-1:05" on the player: 65 whole seconds.
        EXPECT_EQ(static_cast<int>(probe.seconds), 65);
    }
    EXPECT_TRUE(sawRecording) << "the seed gives at least one recording";
    EXPECT_NE(emulator::voicemailAudio(), emulator::recordingAudio());
}

TEST_F(Media, VideosServeTheirContentAndTheirPreviewPicture) {
    struct Case {
        const char* id;
        const char* mime;
        services::MediaSize upright;
    };
    for (const Case& c : {Case{emulator::kVideoAttachmentID, "video/mp4", {64, 96}},
                          Case{emulator::kMovieAttachmentID, "video/quicktime", {96, 64}}}) {
        SCOPED_TRACE(c.id);
        auto content = get(std::string("/a/vi/") + c.id + "?m=content");
        ASSERT_EQ(content->responses.at(0).statusCode, 200);
        EXPECT_EQ(content->responses.at(0).mimeType(), c.mime);
        auto tracks = services::readMediaTracks(bytes(content->body));
        ASSERT_TRUE(tracks.ok());
        const auto* video = services::firstVideoTrack(tracks.value());
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(services::applyTransform(video->naturalSize, video->preferredTransform), c.upright);
        auto preview = get(std::string("/a/vi/") + c.id + "?m=thumbnail");
        ASSERT_EQ(preview->responses.at(0).statusCode, 200);
        EXPECT_EQ(preview->responses.at(0).mimeType(), "image/jpeg");
        EXPECT_EQ(preview->body, emulator::videoPreview());
    }
    // The thread that carries them is the newest.
    service.withAccount([](emulator::Account& a) {
        const auto* t = a.thread(emulator::kVideoThreadID);
        EXPECT_NE(t, nullptr);
        for (const auto& other : a.threads) {
            if (&other != t) {
                EXPECT_LT(other.lastTimeMs(), t->lastTimeMs());
            }
        }
        return 0;
    });
}

TEST_F(Media, ANonAudioVoicemailDownloadsAsAPage) {
    std::string threadID, messageID;
    service.withAccount([&](emulator::Account& a) {
        for (const auto& t : a.threads)
            if (t.isVoicemail() && threadID.empty()) {
                threadID = t.id;
                messageID = t.items.at(0).id;
            }
        emulator::makeVoicemailNonAudio(a, threadID);
        return 0;
    });
    ASSERT_FALSE(threadID.empty());
    for (const std::string& path : {"/a/v/" + escaped(threadID), "/a/v/" + messageID}) {
        SCOPED_TRACE(path);
        auto d = get(path);
        EXPECT_EQ(d->responses.at(0).statusCode, 200);
        EXPECT_EQ(d->responses.at(0).mimeType(), "text/html");
        EXPECT_FALSE(services::probeMP3(bytes(d->body)).format);
    }
}

TEST(PlaybackMediaAccounts, WithoutTheMediaAccountsKeepTheirPlaceholdersAndAStateKeepsThePreview) {
    // The generator's own bytes stay unless the media are added.
    auto plain = withVoicemails();
    for (const auto& [id, m] : plain.media) EXPECT_NE(m.bytes, emulator::voicemailAudio()) << id;
    EXPECT_EQ(plain.thread(emulator::kVideoThreadID), nullptr);
    // A written state reads back with the preview; one without previews writes none.
    auto account = withVoicemails();
    emulator::addPlaybackMedia(account);
    const auto document = emulator::accountToJSON(account);
    const auto back = emulator::accountFromJSON(document);
    EXPECT_EQ(back.media.at(emulator::kVideoAttachmentID).preview, emulator::videoPreview());
    EXPECT_EQ(back.media.at(emulator::kVideoAttachmentID).bytes, emulator::videoClip());
    EXPECT_FALSE(emulator::accountToJSON(plain)["media"].begin()->contains("preview"));
    auto damaged = document;
    damaged["media"][emulator::kVideoAttachmentID]["preview"] = "not base64!";
    EXPECT_THROW(emulator::accountFromJSON(damaged), nlohmann::json::exception);
}

// Every account answers the app's own voicemail routes: "v/" and "cr/cra:" with a conversation's
// (thread's) id give the audio the account keeps under the thread's newest voicemail or recording
// item, with no key added to the account; an id that names neither thread nor item stays a 404.
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
