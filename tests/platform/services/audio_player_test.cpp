// The audio player as the voicemail screen meets it: which bytes report a format, durations that
// agree with an independent reader, playback that moves with the virtual clock and ends on the
// main queue (successfully, or where the stream broke), and state read from other threads while
// it plays; the audio session and the proximity sensor as the screen sets them.
#include "platform/services/audio_player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/files.h"
#include "platform/services/audio_session.h"
#include "platform/services/device.h"
#include "tests/support/test_support.h"

using namespace services;

namespace {

foundation::Data mediaFile(const std::string& name) {
    auto data = foundation::files::readData(hxtest::sourceDir() / "emulator/media" / name);
    EXPECT_TRUE(data.ok()) << name;
    return data.ok() ? data.value() : foundation::Data{};
}

foundation::Data bytesOf(std::string_view text) { return foundation::Data(text.begin(), text.end()); }

// Offset of the n-th frame header after the first frame (the frames of the test files are all
// 8 kbit/s, mono, 8 kHz, so every header is the same four bytes).
size_t frameOffset(const foundation::Data& mp3, int n) {
    size_t first = 0;
    while (first + 1 < mp3.size() && !(mp3[first] == 0xFF && (mp3[first + 1] & 0xE0) == 0xE0)) ++first;
    size_t at = first;
    for (int seen = 0; seen < n;) {
        ++at;
        if (at + 4 > mp3.size()) return mp3.size();
        if (std::equal(mp3.begin() + static_cast<long>(at), mp3.begin() + static_cast<long>(at) + 2,
                       mp3.begin() + static_cast<long>(first)))
            ++seen;
    }
    return at;
}

class Recorder : public AudioPlayerDelegate {
public:
    void audioPlayerDidFinishPlaying(AudioPlayer& player, bool successfully) override {
        ends.push_back({successfully, player.currentTime(), dispatch::isMainThread()});
    }
    struct End {
        bool successfully;
        double at;
        bool onMain;
    };
    std::vector<End> ends;
};

struct Playback : ::testing::Test {
    dispatch::ScopedVirtualClock clock;
    void SetUp() override { dispatch::RunLoop::main(); }
    void TearDown() override { clock->runUntilIdle(); }
};

}  // namespace

TEST(MP3Probe, ReportsAFormatOnlyForBytesThatDecodeAndABreakWhereTheStreamStops) {
    const auto voicemail = mediaFile("voicemail.mp3");
    ASSERT_GT(voicemail.size(), 10000u);
    const size_t tenth = frameOffset(voicemail, 10);
    auto cutInFrame = foundation::Data(voicemail.begin(), voicemail.begin() + static_cast<long>(tenth) + 7);
    auto junkInside = voicemail;
    std::fill(junkInside.begin() + static_cast<long>(tenth), junkInside.begin() + static_cast<long>(tenth) + 40, 0x41);
    auto tagged = voicemail;
    const auto tag = bytesOf("TAG" + std::string(125, ' '));
    tagged.insert(tagged.end(), tag.begin(), tag.end());
    auto cutAtFrame = foundation::Data(voicemail.begin(), voicemail.begin() + static_cast<long>(tenth));

    struct Case {
        const char* name;
        foundation::Data bytes;
        bool hasFormat;
        bool broken;
        double minSeconds, maxSeconds;
    };
    const Case cases[] = {
        {"the whole voicemail", voicemail, true, false, 65.0, 65.3},
        {"the whole recording", mediaFile("recording.mp3"), true, false, 65.0, 65.3},
        {"followed by an ID3v1 tag", tagged, true, false, 65.0, 65.3},
        {"cut inside the eleventh frame", cutInFrame, true, true, 0.5, 1.5},
        {"junk over the eleventh frame", junkInside, true, true, 0.5, 1.5},
        {"cut where a frame ends", cutAtFrame, true, false, 0.5, 1.5},
        {"the service's placeholder bytes", bytesOf(std::string("ID3\x03\x00voicemail-audio", 20)), false, false, 0, 0},
        {"a web page", bytesOf("<html><body>Not Found</body></html>"), false, false, 0, 0},
        {"a JPEG", bytesOf("\xFF\xD8\xFF\xE0jpeg-bytes"), false, false, 0, 0},
        {"nothing", {}, false, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto probe = probeMP3(c.bytes);
        EXPECT_EQ(probe.format.has_value(), c.hasFormat);
        if (probe.format) {
            EXPECT_EQ(*probe.format, (AudioFormat{8000, 1}));
        }
        EXPECT_EQ(probe.broken, c.broken);
        EXPECT_GE(probe.seconds, c.minSeconds);
        EXPECT_LE(probe.seconds, c.maxSeconds);
    }
}

TEST(MP3Probe, DurationAgreesWithFfprobe) {
    if (!hxtest::haveProgram("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    for (const char* name : {"voicemail.mp3", "recording.mp3"}) {
        SCOPED_TRACE(name);
        const auto path = hxtest::sourceDir() / "emulator/media" / name;
        std::string out;
        ASSERT_EQ(hxtest::runCommand(
                      "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path.string() + "'", &out),
                  0);
        const double theirs = std::strtod(out.c_str(), nullptr);
        const auto player = AudioPlayer::withContentsOfFile(path);
        ASSERT_TRUE(player.ok());
        // Within one frame of 576 samples at 8 kHz.
        EXPECT_NEAR(player.value()->duration(), theirs, 0.072) << out;
    }
}

TEST(AudioPlayerFile, AMissingFileIsAnErrorAndAFileThatIsNotAudioOpensWithoutAFormat) {
    hxtest::TempDir dir;
    auto missing = AudioPlayer::withContentsOfFile(dir / "absent.mp3");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain, kAudioPlayerErrorDomain);
    ASSERT_TRUE(foundation::files::writeAtomically(dir / "page.mp3", std::string_view("<html></html>")).ok());
    auto page = AudioPlayer::withContentsOfFile(dir / "page.mp3");
    ASSERT_TRUE(page.ok());
    EXPECT_FALSE(page.value()->format());
    EXPECT_FALSE(page.value()->prepareToPlay());
    EXPECT_FALSE(page.value()->play());
    EXPECT_FALSE(page.value()->isPlaying());
}

TEST_F(Playback, CurrentTimeMovesWithTheClockOnlyWhilePlaying) {
    auto player = AudioPlayer::withData(mediaFile("voicemail.mp3"));
    auto recorder = std::make_shared<Recorder>();
    player->setDelegate(recorder);
    const double duration = player->duration();

    // Each step acts, then the clock moves by `advance`; the expectations are after both.
    struct Step {
        const char* what;
        std::function<void()> act;
        double advance;
        double expectedTime;
        bool expectedPlaying;
    };
    const Step steps[] = {
        {"prepared", [] {}, 5, 0, false},
        {"play for ten seconds", [&] { EXPECT_TRUE(player->play()); }, 10, 10, true},
        {"a second play changes nothing", [&] { EXPECT_TRUE(player->play()); }, 0.5, 10.5, true},
        {"stopped, time passes", [&] { player->stop(); }, 20, 10.5, false},
        {"scrubbed while stopped", [&] { player->setCurrentTime(30); }, 3, 30, false},
        {"resumed from the scrub", [&] { player->play(); }, 2, 32, true},
        {"scrubbed while playing", [&] { player->setCurrentTime(50); }, 4, 54, true},
        {"scrubbed before the start", [&] { player->setCurrentTime(-8); }, 1, 1, true},
        {"paused", [&] { player->pause(); }, 1, 1, false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        clock->advance(s.advance);
        EXPECT_NEAR(player->currentTime(), s.expectedTime, 1e-6);
        EXPECT_EQ(player->isPlaying(), s.expectedPlaying);
    }
    EXPECT_TRUE(recorder->ends.empty());

    // To the end: the delegate hears it once, on the main thread, at the end of the sound.
    player->setCurrentTime(duration - 3);
    player->play();
    clock->advance(2.9);
    EXPECT_TRUE(recorder->ends.empty());
    clock->advance(0.2);
    ASSERT_EQ(recorder->ends.size(), 1u);
    EXPECT_TRUE(recorder->ends[0].successfully);
    EXPECT_TRUE(recorder->ends[0].onMain);
    EXPECT_NEAR(recorder->ends[0].at, duration, 1e-6);
    EXPECT_FALSE(player->isPlaying());
    clock->advance(100);
    EXPECT_EQ(recorder->ends.size(), 1u);
    // Played again from the end, it starts over.
    player->play();
    clock->advance(1);
    EXPECT_NEAR(player->currentTime(), 1, 1e-6);
}

TEST_F(Playback, AnEndScheduledBeforeAStopOrScrubDoesNotEndTheSound) {
    auto player = AudioPlayer::withData(mediaFile("recording.mp3"));
    auto recorder = std::make_shared<Recorder>();
    player->setDelegate(recorder);
    player->setCurrentTime(player->duration() - 1);
    player->play();
    player->setCurrentTime(10);  // the first end (1 s away) is stale now
    clock->advance(5);
    EXPECT_TRUE(recorder->ends.empty());
    EXPECT_TRUE(player->isPlaying());
    player->stop();
    player->play();
    clock->advance(player->duration());
    ASSERT_EQ(recorder->ends.size(), 1u);
    EXPECT_TRUE(recorder->ends[0].successfully);
}

TEST_F(Playback, ABrokenStreamEndsWhereItBreaksAndUnsuccessfully) {
    const auto voicemail = mediaFile("voicemail.mp3");
    const size_t cut = frameOffset(voicemail, 200) + 30;
    auto player =
        AudioPlayer::withData(foundation::Data(voicemail.begin(), voicemail.begin() + static_cast<long>(cut)));
    auto recorder = std::make_shared<Recorder>();
    player->setDelegate(recorder);
    ASSERT_TRUE(player->format());
    EXPECT_NEAR(player->duration(), 200 * 576 / 8000.0, 0.2);
    ASSERT_TRUE(player->play());
    clock->advance(player->duration() + 0.01);
    ASSERT_EQ(recorder->ends.size(), 1u);
    EXPECT_FALSE(recorder->ends[0].successfully);
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(Playback, OtherThreadsReadThePlayerWhileTheMainThreadPlaysItToTheEnd) {
    auto player = AudioPlayer::withData(mediaFile("voicemail.mp3"));
    auto recorder = std::make_shared<Recorder>();
    player->setDelegate(recorder);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            const double t = player->currentTime();
            EXPECT_GE(t, 0);
            EXPECT_LE(t, player->duration());
            (void)player->isPlaying();
            ++reads;
        }
    });
    // Every hundred steps the main thread lets the reader catch up, so the two overlap.
    auto overlap = [&] {
        const int seen = reads;
        while (reads < seen + 2) std::this_thread::yield();
    };
    overlap();
    ASSERT_TRUE(player->play());
    for (int i = 0; i < 700 && recorder->ends.empty(); ++i) {
        if (i % 100 == 0) overlap();
        clock->advance(0.1);
        if (i == 300) player->setCurrentTime(40);
    }
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    ASSERT_EQ(recorder->ends.size(), 1u);
    EXPECT_TRUE(recorder->ends[0].successfully);
}

TEST(AudioSessionStandIn, RecordsWhatTheAppAsksAndRefusesWhatTheDeviceCannotDo) {
    auto& session = AudioSession::shared();
    struct Case {
        const char* what;
        bool input;
        std::string category;
        AudioSessionPortOverride port;
        bool categoryAccepted;
        bool overrideAccepted;
    };
    const Case cases[] = {
        {"play and record with an input, to the speaker", true, kAudioSessionCategoryPlayAndRecord,
         AudioSessionPortOverride::Speaker, true, true},
        {"play and record without an input", false, kAudioSessionCategoryPlayAndRecord, AudioSessionPortOverride::None,
         false, true},
        {"playback cannot go to the speaker by override", true, kAudioSessionCategoryPlayback,
         AudioSessionPortOverride::Speaker, true, false},
        {"back to the default route", true, kAudioSessionCategoryPlayAndRecord, AudioSessionPortOverride::None, true,
         true},
        {"an unknown category", true, "AVAudioSessionCategoryKaraoke", AudioSessionPortOverride::None, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        session.reset();
        session.setInputAvailable(c.input);
        EXPECT_EQ(session.isInputAvailable(), c.input);
        const auto set = session.setCategory(c.category, kAudioSessionCategoryOptionAllowBluetooth);
        EXPECT_EQ(set.ok(), c.categoryAccepted);
        EXPECT_EQ(session.category(), c.categoryAccepted ? c.category : kAudioSessionCategorySoloAmbient);
        EXPECT_EQ(session.categoryOptions(), c.categoryAccepted ? kAudioSessionCategoryOptionAllowBluetooth : 0);
        const auto routed = session.overrideOutputAudioPort(c.port);
        EXPECT_EQ(routed.ok(), c.overrideAccepted);
        EXPECT_EQ(session.outputOverride(), c.overrideAccepted ? c.port : AudioSessionPortOverride::None);
    }
    // Activation and deactivation are counted, with the options of the last deactivation.
    session.reset();
    ASSERT_TRUE(session.setActive(true).ok());
    EXPECT_TRUE(session.isActive());
    ASSERT_TRUE(session.setActive(false, kAudioSessionSetActiveOptionNotifyOthersOnDeactivation).ok());
    EXPECT_FALSE(session.isActive());
    EXPECT_EQ(session.activations(), 1);
    EXPECT_EQ(session.deactivations(), 1);
    EXPECT_EQ(session.lastDeactivationOptions(), kAudioSessionSetActiveOptionNotifyOthersOnDeactivation);
    // Leaving play-and-record drops the loudspeaker with it.
    ASSERT_TRUE(session.setCategory(kAudioSessionCategoryPlayAndRecord).ok());
    ASSERT_TRUE(session.overrideOutputAudioPort(AudioSessionPortOverride::Speaker).ok());
    ASSERT_TRUE(session.setCategory(kAudioSessionCategoryPlayback).ok());
    EXPECT_EQ(session.outputOverride(), AudioSessionPortOverride::None);
    resetDeviceServices();
    EXPECT_EQ(session.activations(), 0);
    EXPECT_EQ(session.category(), kAudioSessionCategorySoloAmbient);
}

TEST(ProximitySensorStandIn, MonitoringFollowsTheAppOnlyWhereTheDeviceHasTheSensor) {
    auto& sensor = ProximitySensor::shared();
    struct Case {
        bool available;
        bool asked;
        bool enabled;
    };
    for (const Case& c : {Case{true, true, true}, Case{true, false, false}, Case{false, true, false}}) {
        SCOPED_TRACE(std::string(c.available ? "with" : "without") + " a sensor, asked " + (c.asked ? "on" : "off"));
        resetDeviceServices();
        sensor.setSensorAvailable(c.available);
        sensor.setProximityMonitoringEnabled(c.asked);
        EXPECT_EQ(sensor.isProximityMonitoringEnabled(), c.enabled);
    }
    resetDeviceServices();
    sensor.setProximityMonitoringEnabled(true);
    sensor.setSensorAvailable(false);
    EXPECT_FALSE(sensor.isProximityMonitoringEnabled()) << "taking the sensor away ends monitoring";
    resetDeviceServices();
    EXPECT_TRUE(sensor.isSensorAvailable());
    EXPECT_FALSE(sensor.isProximityMonitoringEnabled());
}
