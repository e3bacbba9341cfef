// The player under a voicemail or a recorded call, as the user meets it against the loopback
// service: play before the file is there (spinner, download, playing), the labels and the slider
// on the clock, scrubbing, the speaker setting, the end, a download that fails or is no audio, and
// leaving the screen, after which no position timer runs on.
#include <cmath>

#include "emulator/playback_media.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/named_images.h"
#include "platform/services/audio_session.h"
#include "platform/services/device.h"
#include "platform/toolkit/controls.h"
#include "tests/ui/conversation/playback_support.h"

namespace {

using hxtest::kRecordingThread;
using hxtest::kVoicemailThread;
using hxtest::playerViews;

struct Player : hxtest::PlaybackFixture<> {
    // The play button pressed as the user presses it.
    void pressPlay() { ASSERT_TRUE(harness.tap(*playerViews(*screen).playButton)); }
    // Until the screen plays (the download is in and the sound started).
    bool untilPlaying() {
        return harness.clock().runUntil(
            [&] { return screen->voicemailPlayer()->isPlaying() && screen->voicemailPlayer()->player(); }, 30);
    }
    bool proximity() const { return services::ProximitySensor::shared().isProximityMonitoringEnabled(); }
};

}  // namespace

TEST_F(Player, PlayBeforeTheFileIsThereDownloadsItAndPlaysAndTheLabelsFollowTheClock) {
    storeConversation(kVoicemailThread, 2);
    auto& s = open(kVoicemailThread, 2);
    EXPECT_EQ(text(playerViews(s).startTime.get()), "0:00");
    EXPECT_EQ(text(playerViews(s).endTime.get()), "-1:05") << "the message's length before the file is there";
    ASSERT_TRUE(playerViews(s).playPosition.get());
    EXPECT_FALSE(playerViews(s).playPosition->isEnabled()) << "nothing to scrub without a player";
    EXPECT_FALSE(foundation::files::exists(audioPath(kVoicemailThread)));

    service->inject(emulator::Fault::Slow, "/a/v/");
    pressPlay();
    EXPECT_TRUE(playerViews(s).playButton->isHidden());
    ASSERT_TRUE(s.voicemailPlayer()->downloadProgress());
    EXPECT_TRUE(s.voicemailPlayer()->downloadProgress()->isAnimating());
    EXPECT_TRUE(proximity());
    EXPECT_FALSE(s.voicemailPlayer()->isPlaying());
    ASSERT_TRUE(releaseWhenSeen("/a/v/"));
    ASSERT_TRUE(untilPlaying());
    EXPECT_FALSE(playerViews(s).playButton->isHidden());
    EXPECT_FALSE(s.voicemailPlayer()->downloadProgress()->isAnimating());
    EXPECT_TRUE(playerViews(s).playPosition->isEnabled());
    EXPECT_TRUE(HXVoicemailPlayer::timerRunning());
    EXPECT_NEAR(s.voicemailPlayer()->player()->duration(), 65.16, 0.05);

    const double start = s.voicemailPlayer()->player()->currentTime();
    harness.advance(10);
    const double now = s.voicemailPlayer()->player()->currentTime();
    EXPECT_NEAR(now - start, 10, 0.11);
    EXPECT_EQ(text(playerViews(s).startTime.get()), HXVoicemailPlayer::formatTime(static_cast<int>(now)));
    EXPECT_EQ(text(playerViews(s).startTime.get()), "0:10");
    EXPECT_EQ(text(playerViews(s).endTime.get()), "-0:55");
    EXPECT_NEAR(playerViews(s).playPosition->value(), 10.0 / 65.16, 0.01);

    const int deactivations = services::AudioSession::shared().deactivations();
    pressPlay();
    EXPECT_FALSE(s.voicemailPlayer()->isPlaying());
    EXPECT_FALSE(s.voicemailPlayer()->player()->isPlaying());
    EXPECT_FALSE(HXVoicemailPlayer::timerRunning()) << "stopping stops the position timer";
    EXPECT_FALSE(proximity());
    EXPECT_EQ(services::AudioSession::shared().deactivations(), deactivations + 1);
    EXPECT_EQ(services::AudioSession::shared().lastDeactivationOptions(),
              services::kAudioSessionSetActiveOptionNotifyOthersOnDeactivation);
    const std::string shown = text(playerViews(s).startTime.get());
    harness.advance(5);
    EXPECT_EQ(text(playerViews(s).startTime.get()), shown) << "no tick after a stop";
}

TEST_F(Player, ARecordedCallIsAskedForByItsConversationAndAFileThereIsReadyAtOnce) {
    // The service keeps the audio by item; the app asks by the conversation. Both kinds answer.
    for (const auto& [thread, type] : {std::pair{kVoicemailThread, 2}, std::pair{kRecordingThread, 4}}) {
        SCOPED_TRACE(thread);
        storeConversation(thread, type);
        auto& s = open(thread, 2);
        pressPlay();
        ASSERT_TRUE(untilPlaying());
        pressPlay();
        // Opened again, the file is there: ready, not playing, the slider enabled.
        auto& again = open(thread, 2);
        EXPECT_TRUE(again.voicemailPlayer()->player());
        EXPECT_FALSE(again.voicemailPlayer()->isPlaying());
        EXPECT_TRUE(playerViews(again).playPosition->isEnabled());
        EXPECT_EQ(text(playerViews(again).endTime.get()), "-1:05");
        (void)s;
    }
}

TEST_F(Player, ScrubbingWhilePlayingPausesAndResumesWhereTheSliderWasLeft) {
    storeConversation(kVoicemailThread, 2);
    auto& s = open(kVoicemailThread, 2);
    pressPlay();
    ASSERT_TRUE(untilPlaying());
    harness.advance(3);
    auto* slider = playerViews(s).playPosition.get();
    const toolkit::Rect track = slider->convertRectTo(slider->bounds(), nullptr);
    const toolkit::Point from{track.minX() + 2, track.midY()};
    const toolkit::Point to{track.minX() + track.width() * 0.75, track.midY()};
    harness.drag(from, to, 6);
    EXPECT_FALSE(s.voicemailPlayer()->isScrubbing());
    EXPECT_TRUE(s.voicemailPlayer()->isPlaying());
    ASSERT_TRUE(s.voicemailPlayer()->player()->isPlaying()) << "resumes at the release";
    EXPECT_NEAR(s.voicemailPlayer()->player()->currentTime(),
                slider->value() * s.voicemailPlayer()->player()->duration(), 0.2);
    EXPECT_GT(slider->value(), 0.6);
    const double released = s.voicemailPlayer()->player()->currentTime();
    harness.advance(2);
    EXPECT_NEAR(s.voicemailPlayer()->player()->currentTime(), released + 2, 0.11);

    // Stopped, a drag only moves the position.
    pressPlay();
    harness.drag(to, from, 6);
    EXPECT_FALSE(s.voicemailPlayer()->player()->isPlaying());
    EXPECT_FALSE(s.voicemailPlayer()->isPlaying());
    EXPECT_LT(s.voicemailPlayer()->player()->currentTime(), 5);
}

TEST_F(Player, ASuccessfulEndGoesBackToTheStartAndReleasesTimerSensorAndSession) {
    storeConversation(kVoicemailThread, 2);
    auto& s = open(kVoicemailThread, 2);
    pressPlay();
    ASSERT_TRUE(untilPlaying());
    const int deactivations = services::AudioSession::shared().deactivations();
    harness.advance(70);
    EXPECT_FALSE(s.voicemailPlayer()->isPlaying());
    EXPECT_EQ(s.voicemailPlayer()->player()->currentTime(), 0);
    EXPECT_EQ(text(playerViews(s).startTime.get()), "0:00");
    EXPECT_EQ(text(playerViews(s).endTime.get()), "-1:05");
    EXPECT_FALSE(HXVoicemailPlayer::timerRunning());
    EXPECT_FALSE(proximity());
    EXPECT_EQ(services::AudioSession::shared().deactivations(), deactivations + 1);
    EXPECT_EQ(playerViews(s).playButton->imageForState(toolkit::kStateNormal)->name(), "play.circle");
}

// A sound whose stream breaks halfway ends there unsuccessfully: that end changes nothing (the
// screen still plays as far as it knows, the timer runs, the position is kept) until stop.
TEST_F(Player, AnEndWhereTheStreamBrokeIsNotTakenForTheEnd) {
    storeConversation(kVoicemailThread, 2);
    const auto whole = emulator::voicemailAudio();
    const std::filesystem::path path = audioPath(kVoicemailThread);
    ASSERT_TRUE(foundation::files::createDirectory(path.parent_path()).ok());
    ASSERT_TRUE(foundation::files::writeAtomically(path, whole.substr(0, whole.size() / 2 + 7)).ok());
    auto& s = open(kVoicemailThread, 2);
    ASSERT_TRUE(s.voicemailPlayer()->player()) << "the half that is there is audio";
    const int deactivations = services::AudioSession::shared().deactivations();
    pressPlay();
    ASSERT_TRUE(s.voicemailPlayer()->isPlaying());
    harness.advance(s.voicemailPlayer()->player()->duration() + 5);
    EXPECT_FALSE(s.voicemailPlayer()->player()->isPlaying()) << "the sound did not end where the stream broke";
    EXPECT_TRUE(s.voicemailPlayer()->isPlaying());
    EXPECT_GT(s.voicemailPlayer()->player()->currentTime(), 0) << "taken back to the start like a whole sound";
    EXPECT_TRUE(HXVoicemailPlayer::timerRunning());
    EXPECT_TRUE(proximity());
    EXPECT_EQ(services::AudioSession::shared().deactivations(), deactivations);
    EXPECT_EQ(playerViews(s).playButton->imageForState(toolkit::kStateNormal)->name(), "pause.circle");
    pressPlay();
    EXPECT_FALSE(s.voicemailPlayer()->isPlaying());
    EXPECT_FALSE(HXVoicemailPlayer::timerRunning());
}

TEST_F(Player, LeavingTheScreenStopsTheSoundAndThePositionTimer) {
    storeConversation(kVoicemailThread, 2);
    auto& s = open(kVoicemailThread, 2);
    pressPlay();
    ASSERT_TRUE(untilPlaying());
    auto player = s.voicemailPlayer()->player();
    nav->popViewController(false);
    harness.settle();
    EXPECT_FALSE(HXVoicemailPlayer::timerRunning());
    EXPECT_FALSE(player->isPlaying());
    const double at = player->currentTime();
    const std::string shown = text(playerViews(s).startTime.get());
    harness.advance(5);
    EXPECT_EQ(text(playerViews(s).startTime.get()), shown) << "no tick after leaving";
    EXPECT_EQ(player->currentTime(), at);
    EXPECT_FALSE(proximity());
}

TEST_F(Player, ADownloadThatIsNoAudioLeavesNoPlayerAndNothingPlaying) {
    service->withAccount([](emulator::Account& a) {
        emulator::makeVoicemailNonAudio(a, kVoicemailThread);
        return 0;
    });
    storeConversation(kVoicemailThread, 2);
    auto& s = open(kVoicemailThread, 2);
    pressPlay();
    ASSERT_TRUE(settleRequests());
    harness.settle();
    EXPECT_FALSE(s.voicemailPlayer()->player());
    EXPECT_FALSE(s.voicemailPlayer()->isPlaying()) << "no player: nothing claims to play";
    EXPECT_FALSE(HXVoicemailPlayer::timerRunning());
    EXPECT_FALSE(playerViews(s).playButton->isHidden());
    EXPECT_FALSE(s.voicemailPlayer()->downloadProgress()->isAnimating());
    EXPECT_FALSE(playerViews(s).playPosition->isEnabled());
    EXPECT_FALSE(foundation::files::exists(audioPath(kVoicemailThread))) << "a file that is no audio goes";
}

TEST_F(Player, WithPrefetchingAFileThatIsNoAudioIsAskedForOnceMoreAsARecordedCall) {
    service->withAccount([](emulator::Account& a) {
        emulator::makeVoicemailNonAudio(a, kVoicemailThread);
        return 0;
    });
    storeConversation(kVoicemailThread, 2);
    ASSERT_TRUE(settleRequests());
    service->clearRequests();
    foundation::UserDefaults::standardUserDefaults()->setBool(true, "VMprefetch");
    auto& s = open(kVoicemailThread, 2);
    ASSERT_TRUE(settleRequests());
    harness.advance(5);
    ASSERT_TRUE(settleRequests());
    int voicemail = 0, recorded = 0;
    for (const auto& r : service->requests()) {
        voicemail += r.path.rfind("/a/v/", 0) == 0;
        recorded += r.path.rfind("/a/cr/cra:", 0) == 0;
    }
    EXPECT_GE(voicemail, 1);
    EXPECT_EQ(recorded, 1) << "the recorded call is asked for once, not for ever";
    EXPECT_FALSE(s.voicemailPlayer()->player());
    EXPECT_FALSE(s.voicemailPlayer()->downloadProgress()->isAnimating());
}

TEST_F(Player, AFailedDownloadRestoresPlayAndTheNextPressAsksAgain) {
    storeConversation(kVoicemailThread, 2);
    auto& s = open(kVoicemailThread, 2);
    // The connection goes while the download is on its way: the app says so, and its dismissal
    // tells the screen.
    service->inject(emulator::Fault::Slow, "/a/v/");
    pressPlay();
    EXPECT_TRUE(s.voicemailPlayer()->downloadProgress()->isAnimating());
    foundation::NotificationCenter::defaultCenter().post("kNetworkConnectionFailedNotification");
    EXPECT_FALSE(playerViews(s).playButton->isHidden());
    EXPECT_FALSE(s.voicemailPlayer()->downloadProgress()->isAnimating());
    EXPECT_FALSE(s.voicemailPlayer()->player());
    ASSERT_TRUE(releaseWhenSeen("/a/v/"));
    ASSERT_TRUE(settleRequests());
    harness.settle();
    EXPECT_FALSE(s.voicemailPlayer()->isPlaying())
        << "a download that comes after the failure does not start the sound";

    harness.advance(1);  // not a double tap
    pressPlay();
    EXPECT_TRUE(s.voicemailPlayer()->player() || s.voicemailPlayer()->downloadProgress()->isAnimating());
    ASSERT_TRUE(untilPlaying());
}

TEST_F(Player, WithPrefetchingTheFileComesWhenTheScreenOpensAndWaitsForPlay) {
    storeConversation(kVoicemailThread, 2);
    ASSERT_TRUE(settleRequests());
    service->clearRequests();
    foundation::UserDefaults::standardUserDefaults()->setBool(true, "VMprefetch");
    auto& s = open(kVoicemailThread, 2);
    ASSERT_TRUE(releaseWhenSeen("/a/v/")) << "asked for as the screen opened";
    ASSERT_TRUE(harness.clock().runUntil([&] { return s.voicemailPlayer()->player() != nullptr; }, 30));
    EXPECT_FALSE(s.voicemailPlayer()->isPlaying());
    EXPECT_TRUE(playerViews(s).playPosition->isEnabled());
    EXPECT_FALSE(s.voicemailPlayer()->downloadProgress()->isAnimating());
    EXPECT_FALSE(HXVoicemailPlayer::timerRunning());
}

TEST_F(Player, TheSpeakerSettingOutlivesTheScreen) {
    storeConversation(kVoicemailThread, 2);
    auto& s = open(kVoicemailThread, 2);
    ASSERT_TRUE(playerViews(s).speakerButton.get());
    EXPECT_EQ(playerViews(s).speakerButton->imageForState(toolkit::kStateNormal)->name(), "speaker");
    ASSERT_TRUE(harness.tap(*playerViews(s).speakerButton));
    EXPECT_TRUE(foundation::UserDefaults::standardUserDefaults()->boolForKey("useSpeaker"));
    auto& again = open(kVoicemailThread, 2);
    EXPECT_EQ(playerViews(again).speakerButton->imageForState(toolkit::kStateNormal)->name(), "speaker.3");
    ASSERT_TRUE(harness.tap(*playerViews(again).speakerButton));
    EXPECT_FALSE(foundation::UserDefaults::standardUserDefaults()->boolForKey("useSpeaker"));
}

TEST(PlayerTime, SecondsReadAsMinutesAndTwoDigitSeconds) {
    const std::pair<int, const char*> cases[] = {{0, "0:00"},  {9, "0:09"},    {59, "0:59"},    {60, "1:00"},
                                                 {65, "1:05"}, {600, "10:00"}, {3599, "59:59"}, {3600, "60:00"}};
    for (const auto& [seconds, shown] : cases) EXPECT_EQ(HXVoicemailPlayer::formatTime(seconds), shown) << seconds;
}

// Play pressed, then another screen pushed over this one (the contact card, say) while the file
// is on its way: coming back after it arrived shows the player ready, not a spinner for ever; a
// file still on its way is waited for again and then plays.
TEST_F(Player, AFileThatArrivedWhileAnotherScreenShowedIsReadyOnComingBack) {
    storeConversation(kVoicemailThread, 2);
    for (const bool arrivesWhileAway : {true, false}) {
        SCOPED_TRACE(arrivesWhileAway ? "arrives while away" : "arrives after coming back");
        (void)foundation::files::remove(audioPath(kVoicemailThread));
        auto& s = open(kVoicemailThread, 2);
        harness.advance(1);
        service->inject(emulator::Fault::Slow, "/a/v/");
        pressPlay();
        ASSERT_TRUE(s.voicemailPlayer()->downloadProgress()->isAnimating());
        nav->pushViewController(std::make_shared<toolkit::ViewController>(), false);
        harness.settle();
        if (arrivesWhileAway) {
            ASSERT_TRUE(releaseWhenSeen("/a/v/"));
            ASSERT_TRUE(
                harness.clock().runUntil([&] { return foundation::files::exists(audioPath(kVoicemailThread)); }, 30));
        }
        nav->popViewController(false);
        harness.settle();
        if (arrivesWhileAway) {
            EXPECT_FALSE(s.voicemailPlayer()->downloadProgress()->isAnimating())
                << "the spinner turns for a file that is there";
            EXPECT_FALSE(playerViews(s).playButton->isHidden());
            ASSERT_TRUE(s.voicemailPlayer()->player());
            EXPECT_TRUE(playerViews(s).playPosition->isEnabled());
            EXPECT_FALSE(s.voicemailPlayer()->isPlaying())
                << "the sound does not start on a screen the user comes back to";
            EXPECT_FALSE(proximity());
            harness.advance(1);
            pressPlay();
            EXPECT_TRUE(s.voicemailPlayer()->isPlaying());
        } else {
            EXPECT_TRUE(s.voicemailPlayer()->downloadProgress()->isAnimating());
            ASSERT_TRUE(releaseWhenSeen("/a/v/"));
            ASSERT_TRUE(untilPlaying()) << "the download waited for before leaving plays when it comes";
        }
    }
}

// The speaker button under a voicemail: with an input the session records and plays with
// Bluetooth, the button's hint says where the sound goes and the route follows it; without one
// the button takes no room and the session is left as it was.
TEST_F(Player, TheSpeakerButtonFollowsTheDevicesInputAndRoutesTheSound) {
    storeConversation(kVoicemailThread, 2);
    auto& session = services::AudioSession::shared();
    session.reset();
    auto& s = open(kVoicemailThread, 2);
    EXPECT_EQ(session.category(), services::kAudioSessionCategoryPlayAndRecord);
    EXPECT_EQ(session.categoryOptions(), services::kAudioSessionCategoryOptionAllowBluetooth);
    auto& button = *playerViews(s).speakerButton;
    EXPECT_EQ(button.alpha(), 1);
    EXPECT_TRUE(button.isEnabled());
    EXPECT_EQ(button.frame().width(), 45);
    EXPECT_EQ(button.accessibility().label, "Speaker setting");
    EXPECT_EQ(button.accessibility().hint, "Changes sound output to speaker");
    EXPECT_EQ(session.outputOverride(), services::AudioSessionPortOverride::None);
    ASSERT_TRUE(harness.tap(button));
    EXPECT_EQ(session.outputOverride(), services::AudioSessionPortOverride::Speaker);
    EXPECT_EQ(button.accessibility().hint, "Changes sound output to iPhone ear piece");
    EXPECT_EQ(button.imageForState(toolkit::kStateNormal)->name(), "speaker.3");
    harness.advance(1);
    ASSERT_TRUE(harness.tap(button));
    EXPECT_EQ(session.outputOverride(), services::AudioSessionPortOverride::None);
    EXPECT_EQ(button.accessibility().hint, "Changes sound output to speaker");
    // While playing the button shows pause; the disabled slider shows no thumb.
    EXPECT_EQ(playerViews(s).playButton->imageForState(toolkit::kStateNormal)->name(), "play.circle");
    EXPECT_FALSE(playerViews(s).playPosition->isEnabled());
    auto emptyThumb = playerViews(s).playPosition->thumbImageForState(toolkit::kStateDisabled);
    ASSERT_TRUE(emptyThumb && emptyThumb->bitmap());
    for (int y = 0; y < emptyThumb->bitmap()->height(); ++y)
        for (int x = 0; x < emptyThumb->bitmap()->width(); ++x)
            EXPECT_EQ(emptyThumb->bitmap()->rgbaAt(x, y)[3], 0) << "a thumb shows";
    ASSERT_TRUE(harness.tap(*playerViews(s).playButton));
    ASSERT_TRUE(untilPlaying());
    EXPECT_EQ(playerViews(s).playButton->imageForState(toolkit::kStateNormal)->name(), "pause.circle");
    EXPECT_EQ(playerViews(s).playButton->accessibility().label, "Stop");

    // A device without a microphone.
    session.reset();
    session.setInputAvailable(false);
    auto& bare = open(kVoicemailThread, 2);
    EXPECT_EQ(session.category(), services::kAudioSessionCategorySoloAmbient);
    auto& hidden = *playerViews(bare).speakerButton;
    EXPECT_EQ(hidden.alpha(), 0);
    EXPECT_FALSE(hidden.isEnabled());
    EXPECT_EQ(hidden.frame().width(), 0);
    session.setInputAvailable(true);
}
