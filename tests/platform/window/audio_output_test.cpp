// Sound through SDL's audio output, on SDL's dummy driver (a device that takes the sound and plays
// it to nothing): what a voicemail's player and a key tone queue, from where, at which rate and in
// which order, and that pauses, seeks and the end take it back. The key tones' files are read by
// our own reader and, as an independent one, by libsndfile's converter.
#include "platform/window/sdl_audio_output.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/files.h"
#include "platform/services/audio_player.h"
#include "platform/toolkit/feedback.h"
#include "tests/support/test_support.h"

namespace {

struct SdlAudio : ::testing::Test {
    dispatch::ScopedVirtualClock clock;
    std::shared_ptr<windowing::SdlAudioOutput> output;
    void SetUp() override {
        dispatch::RunLoop::main();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        auto opened = windowing::SdlAudioOutput::open();
        ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
        output = *opened;
        services::AudioOutput::setShared(output);
    }
    void TearDown() override {
        clock->runUntilIdle();
        services::AudioOutput::setShared(nullptr);
    }
    windowing::SdlAudioOutput::Queued last() {
        auto all = output->queued();
        return all.empty() ? windowing::SdlAudioOutput::Queued{} : all.back();
    }
};

TEST_F(SdlAudio, AVoicemailQueuesItsDecodedSamplesFromWhereItPlaysUntilAPauseSeekOrTheEnd) {
    auto bytes = foundation::files::readData(hxtest::sourceDir() / "emulator/media/voicemail.mp3");
    ASSERT_TRUE(bytes.ok());
    auto player = services::AudioPlayer::withData(*bytes);
    const auto& sound = player->sound();
    ASSERT_TRUE(sound.samples);
    EXPECT_EQ(sound.rate, 8000);
    EXPECT_EQ(sound.channels, 1);
    EXPECT_NEAR(static_cast<double>(sound.frames()) / 8000, player->duration(), 1e-9);
    const auto& all = *sound.samples;
    // The samples queued from a frame on: all of them to the end, in the decoded order.
    auto expectQueuedFrom = [&](size_t frame, const char* step) {
        const auto q = last();
        EXPECT_FALSE(q.stop) << step;
        EXPECT_EQ(q.source, player.get()) << step;
        EXPECT_EQ(q.rate, 8000) << step;
        EXPECT_EQ(q.fromFrame, frame) << step;
        EXPECT_TRUE(std::equal(q.samples.begin(), q.samples.end(), all.begin() + static_cast<long>(frame), all.end()))
            << step;
        EXPECT_EQ(q.samples.size(), all.size() - frame) << step;
        const auto waiting = output->bytesWaiting(player.get());
        EXPECT_GT(waiting, 0u) << step;
        EXPECT_LE(waiting, q.samples.size() * 2) << step;
    };

    ASSERT_TRUE(player->play());
    expectQueuedFrom(0, "play");
    clock->advance(10);
    player->setCurrentTime(30.5);
    expectQueuedFrom(244000, "seek while playing");
    clock->advance(4);
    player->pause();
    EXPECT_TRUE(last().stop);
    EXPECT_EQ(output->bytesWaiting(player.get()), 0u);
    player->setCurrentTime(40);  // a seek while paused queues nothing
    EXPECT_TRUE(last().stop);
    ASSERT_TRUE(player->play());
    expectQueuedFrom(320000, "play after the pause");
    const auto before = output->queued().size();
    clock->advance(player->duration());
    clock->runUntilIdle();
    EXPECT_FALSE(player->isPlaying());
    ASSERT_EQ(output->queued().size(), before + 1);
    EXPECT_TRUE(last().stop) << "the end";
    ASSERT_TRUE(player->play());
    expectQueuedFrom(0, "play again from the start");
    player.reset();
    EXPECT_TRUE(last().stop) << "a player that goes is silent";
}

TEST_F(SdlAudio, AKeyToneQueuesTheSamplesOfItsFileAsAnIndependentReaderReadsThem) {
    hxtest::TempDir dir;
    auto& sounds = toolkit::SystemSounds::shared();
    sounds.reset();
    for (const char* key : {"1", "5", "#"}) {
        const auto file = std::filesystem::path(HX_BINARY_DIR) / "resources" / (std::string("dtmf-") + key + ".caf");
        const auto wave = dir / (std::string("tone-") + key + ".wav");
        ASSERT_EQ(hxtest::runCommand("sndfile-convert -pcm16 '" + file.string() + "' '" + wave.string() + "'"), 0);
        const auto ours = services::readPCMSoundFile(file);
        const auto theirs = services::readPCMSoundFile(wave);
        ASSERT_TRUE(ours && theirs) << key;
        EXPECT_EQ(ours->rate, 16000) << key;
        EXPECT_EQ(ours->frames(), 2400u) << key << ": 150 ms";
        EXPECT_EQ(*ours->samples, *theirs->samples) << key;

        const auto id = sounds.create(file);
        ASSERT_NE(id, 0u);
        sounds.play(id);
        const auto q = last();
        EXPECT_FALSE(q.stop);
        EXPECT_EQ(q.rate, 16000);
        EXPECT_EQ(q.fromFrame, 0u);
        EXPECT_EQ(q.samples, *ours->samples) << key;
        sounds.dispose(id);
        EXPECT_TRUE(last().stop) << key;
    }
    // Interface sounds are silent while the device's setting is off: nothing is queued.
    const auto id = sounds.create(std::filesystem::path(HX_BINARY_DIR) / "resources/dtmf-0.caf");
    sounds.setUISound(id, true);
    sounds.interfaceSoundsOn = false;
    const auto before = output->queued().size();
    sounds.play(id);
    EXPECT_EQ(output->queued().size(), before);
    sounds.reset();
}

}  // namespace
