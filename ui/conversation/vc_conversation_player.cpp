// The player under a voicemail or a recorded call: the conversation's audio file (its media id is
// the conversation id), fetched when the user presses play or, with prefetching on, as soon as the
// footer is built; play and stop with the 0.1 s position timer, scrubbing with the slider, the
// elapsed and remaining times, the speaker setting and the proximity sensor.
//
// One position timer serves every conversation screen. It is stopped wherever playback stops (stop,
// the end, leaving the screen) and before another takes its place, so no timer outlives the sound
// it follows.
#include <cmath>

#include "model/conversation.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/named_images.h"
#include "platform/graphics/text_layout.h"
#include "platform/services/audio_session.h"
#include "platform/services/device.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/traits.h"
#include "ui/conversation/vc_conversation.h"

namespace {

constexpr const char* kConnectionFailed = "kNetworkConnectionFailedNotification";
constexpr double kPositionInterval = 0.1;

dispatch::TimerPtr& playbackTimer() {
    static dispatch::TimerPtr timer;
    return timer;
}

// The screen whose playback the timer follows.
const void* gTimerOwner = nullptr;

void stopPlaybackTimer() {
    auto& timer = playbackTimer();
    if (timer && timer->isValid()) timer->invalidate();
    timer.reset();
    gTimerOwner = nullptr;
}

// The timer of a new playback, in place of any before it.
void startPlaybackTimer(const std::weak_ptr<VC_Conversation>& screen, const void* owner) {
    stopPlaybackTimer();
    gTimerOwner = owner;
    playbackTimer() = dispatch::Timer::scheduled(kPositionInterval, true, [screen](dispatch::Timer& timer) {
        if (auto self = screen.lock())
            self->updatePlayPosition();
        else
            timer.invalidate();
    });
}

void deactivateSession() {
    (void)services::AudioSession::shared().setActive(false,
                                                     services::kAudioSessionSetActiveOptionNotifyOthersOnDeactivation);
}

bool prefetching() { return foundation::UserDefaults::standardUserDefaults()->boolForKey("VMprefetch"); }

// The time labels' look: pressed into the page.
graphics::AttributedString letterpressed(const std::string& text, const toolkit::Label& label) {
    graphics::TextAttributes attributes;
    attributes.font = label.font();
    attributes.color = label.textColor();
    attributes.letterpress = true;
    return {text, attributes};
}

}  // namespace

// The player tells the screen about its end through this; the screen may be gone by then.
class VCConversationPlayerDelegate final : public services::AudioPlayerDelegate {
public:
    explicit VCConversationPlayerDelegate(std::weak_ptr<VC_Conversation> screen) : screen_(std::move(screen)) {}
    void audioPlayerDidFinishPlaying(services::AudioPlayer& player, bool successfully) override {
        auto screen = screen_.lock();
        if (screen && screen->player().get() == &player) screen->audioPlayerDidFinishPlaying(successfully);
    }

private:
    std::weak_ptr<VC_Conversation> screen_;
};

bool VC_Conversation::playbackTimerRunning() {
    const auto& timer = playbackTimer();
    return timer && timer->isValid();
}

void VC_Conversation::attachPlayerFooter(std::shared_ptr<toolkit::Label> startTime,
                                         std::shared_ptr<toolkit::Label> endTime,
                                         std::shared_ptr<toolkit::Button> speakerButton) {
    startTime_ = std::move(startTime);
    endTime_ = std::move(endTime);
    speakerButton_ = std::move(speakerButton);
    auto weak = weakSelf<VC_Conversation>();
    auto clicked = [weak](toolkit::Control& sender, const toolkit::Event*) {
        if (auto self = weak.lock()) self->buttonClicked(sender.tag());
    };
    if (playButton_) {
        playButton_->setTag(kPlayButtonTag);
        playButton_->addAction(clicked, toolkit::kTouchUpInside);
        // The spinner takes the play button's place while the audio downloads.
        downloadProgress_ = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::Medium);
        downloadProgress_->setFrame(playButton_->frame());
        downloadProgress_->setHidesWhenStopped(true);
        if (auto* parent = playButton_->superview()) parent->addSubview(downloadProgress_);
    }
    if (speakerButton_) {
        speakerButton_->setTag(kSpeakerButtonTag);
        speakerButton_->addAction(clicked, toolkit::kTouchUpInside);
    }
    if (playPosition_) {
        playPosition_->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->startScrubbing();
            },
            toolkit::kTouchDown);
        playPosition_->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->stopScrubbing();
            },
            toolkit::kTouchUpInside | toolkit::kTouchUpOutside | toolkit::kTouchCancel);
    }
    setSpeakerButtonImage();
}

void VC_Conversation::setPlayButtonImage() {
    if (!playButton_) return;
    playButton_->setImage(graphics::systemImageNamed(isPlaying_ ? "pause.circle" : "play.circle", 30),
                          toolkit::kStateNormal);
    playButton_->accessibility().label = foundation::localizedString(isPlaying_ ? "Stop" : "Play");
}

void VC_Conversation::setSpeakerButtonImage() {
    if (!speakerButton_) return;
    auto& session = services::AudioSession::shared();
    const toolkit::Rect frame = speakerButton_->frame();
    // On a tablet, or a phone without a microphone, the sound has one way out: no button, no room.
    if (toolkit::Device::current().screen().idiom == toolkit::Idiom::Pad || !session.isInputAvailable()) {
        speakerButton_->setAlpha(0);
        speakerButton_->setEnabled(false);
        speakerButton_->setFrame({frame.minX(), frame.minY(), 0, frame.height()});
        return;
    }
    auto playback = roles_.playback.lock();
    const bool speaker = playback && playback->useSpeaker();
    speakerButton_->setAlpha(1);
    speakerButton_->setEnabled(true);
    speakerButton_->setFrame({frame.minX(), frame.minY(), kSpeakerButtonWidth, frame.height()});
    speakerButton_->setImage(graphics::systemImageNamed(speaker ? "speaker.3" : "speaker", 30), toolkit::kStateNormal);
    speakerButton_->accessibility().label = foundation::localizedString("Speaker setting");
    speakerButton_->accessibility().hint = foundation::localizedString(
        speaker ? "Changes sound output to iPhone ear piece" : "Changes sound output to speaker");
    (void)session.overrideOutputAudioPort(speaker ? services::AudioSessionPortOverride::Speaker
                                                  : services::AudioSessionPortOverride::None);
}

void VC_Conversation::showDownloadSpinner(const std::string& thenSelector) {
    if (playButton_) playButton_->setHidden(true);
    if (downloadProgress_) downloadProgress_->startAnimating();
    if (!conversation_) return;
    awaitedStep_ = thenSelector;
    auto weak = weakSelf<VC_Conversation>();
    auto& center = foundation::NotificationCenter::defaultCenter();
    const std::string id = conversation_->conversationID();
    // One observation of the id at a time, whichever step comes next.
    center.removeObserver(this, id);
    center.addObserver(this, id, [weak, thenSelector](const foundation::Notification&) {
        auto self = weak.lock();
        if (!self) return;
        if (thenSelector == "downloadComplete")
            self->downloadComplete();
        else
            self->preparePlayer();
    });
    if (thenSelector != "downloadComplete") return;
    // A download the user waits for ends with the connection too.
    center.removeObserver(this, kConnectionFailed);
    center.addObserver(this, kConnectionFailed, [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->downloadFailed();
    });
}

void VC_Conversation::resumeAwaitedDownload() {
    if (awaitedStep_.empty() || !conversation_) return;
    auto role = this->role();
    const std::string path = role ? role->localURLForMedia(conversation_->conversationID(), "audio/") : std::string();
    if (path.empty() || !foundation::files::exists(path)) {
        // Still on its way: waited for again, as before the screen went.
        showDownloadSpinner(awaitedStep_);
        return;
    }
    // It came while another screen showed: the player is ready, and the sound waits for play on
    // a screen the user only comes back to.
    foundation::NotificationCenter::defaultCenter().removeObserver(this, kConnectionFailed);
    preparePlayer();
    services::ProximitySensor::shared().setProximityMonitoringEnabled(false);
}

void VC_Conversation::preparePlayer() {
    if (!conversation_) return;
    auto& center = foundation::NotificationCenter::defaultCenter();
    const std::string id = conversation_->conversationID();
    center.removeObserver(this, id);
    awaitedStep_.clear();
    if (downloadProgress_) downloadProgress_->stopAnimating();
    if (playButton_) playButton_->setHidden(false);

    if (startTime_) startTime_->setAttributedText(letterpressed("0:00", *startTime_));
    if (endTime_) {
        std::string length;
        for (const auto& message : conversation_->object()->objects("Messages")) {
            const auto value = message->value("length");
            length = value.isString() ? value.asString() : std::string();
        }
        if (!length.empty())
            endTime_->setAttributedText(letterpressed("-" + length, *endTime_));
        else {
            endTime_->setAttributedText(std::nullopt);
            endTime_->setText("");
        }
    }

    auto role = this->role();
    auto playback = roles_.playback.lock();
    const std::string path = role ? role->localURLForMedia(id, "audio/") : std::string();
    const bool fetch = prefetching() && playback && playback->connectionAvailable();
    if (!path.empty() && foundation::files::exists(path)) {
        auto opened = services::AudioPlayer::withContentsOfFile(path);
        if (opened.ok() && opened.value()->format()) {
            if (playPosition_) playPosition_->setEnabled(true);
            player_ = opened.value();
            if (!playerDelegate_)
                playerDelegate_ = std::make_shared<VCConversationPlayerDelegate>(weakSelf<VC_Conversation>());
            player_->setDelegate(playerDelegate_);
            updatePlayPosition();
            return;
        }
        // Not audio (an error page, say): it goes, and with prefetching it comes again as a
        // recorded call, once: a recorded call that is no audio either is not asked for again
        // and again.
        (void)foundation::files::remove(path);
        if (playPosition_) playPosition_->setEnabled(false);
        if (fetch && !askedForRecordedCall_) {
            askedForRecordedCall_ = true;
            showDownloadSpinner("preparePlayer");
            playback->downloadRecordedCallForID(id);
        }
        return;
    }
    if (playPosition_) playPosition_->setEnabled(false);
    if (fetch) {
        showDownloadSpinner("preparePlayer");
        playback->downloadVMforID(id);
    }
}

void VC_Conversation::buttonClicked(long tag) {
    if (tag == kAddContactTag) {
        addContactToSource("");
        return;
    }
    if (tag == kSpeakerButtonTag) {
        auto playback = roles_.playback.lock();
        if (!playback) return;
        const bool on = !playback->useSpeaker();
        playback->setUseSpeaker(on);
        foundation::UserDefaults::standardUserDefaults()->setBool(on, "useSpeaker");
        setSpeakerButtonImage();
        return;
    }
    if (tag != kPlayButtonTag || !conversation_) return;
    services::ProximitySensor::shared().setProximityMonitoringEnabled(!isPlaying_);
    if (isPlaying_) {
        stopPlaybackTimer();
        isPlaying_ = false;
        setPlayButtonImage();
        if (player_) player_->stop();
        deactivateSession();
        return;
    }
    if (player_) {
        isPlaying_ = true;
        setPlayButtonImage();
        player_->play();
        startPlaybackTimer(weakSelf<VC_Conversation>(), this);
        return;
    }
    showDownloadSpinner("downloadComplete");
    if (auto playback = roles_.playback.lock()) playback->downloadVMforID(conversation_->conversationID());
}

void VC_Conversation::downloadComplete() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this, kConnectionFailed);
    player_.reset();
    preparePlayer();
    // A file that is not audio leaves no player: the screen stays stopped (or waits for the
    // recorded call that preparePlayer asked for).
    if (!player_) {
        isPlaying_ = false;
        setPlayButtonImage();
        services::ProximitySensor::shared().setProximityMonitoringEnabled(false);
        return;
    }
    isPlaying_ = true;
    setPlayButtonImage();
    player_->play();
    startPlaybackTimer(weakSelf<VC_Conversation>(), this);
}

void VC_Conversation::downloadFailed() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, kConnectionFailed);
    if (conversation_) center.removeObserver(this, conversation_->conversationID());
    awaitedStep_.clear();
    if (downloadProgress_) downloadProgress_->stopAnimating();
    setPlayButtonImage();
    if (playButton_) playButton_->setHidden(false);
}

std::string VC_Conversation::formatTime(int seconds) {
    return foundation::format("%01d:%02d", seconds / 60, seconds % 60);
}

void VC_Conversation::updatePlayPosition() {
    if (!player_) return;
    const double duration = player_->duration();
    // The clock's steps add up to a hair under a whole second at times; that second has passed.
    constexpr double kTick = 1e-6;
    const double current = player_->currentTime() + kTick;
    if (startTime_) startTime_->setAttributedText(letterpressed(formatTime(static_cast<int>(current)), *startTime_));
    if (endTime_)
        endTime_->setAttributedText(letterpressed("-" + formatTime(static_cast<int>(duration - current)), *endTime_));
    if (duration > 0 && playPosition_)
        playPosition_->setValue(static_cast<float>(player_->currentTime()) / static_cast<float>(duration));
}

void VC_Conversation::startScrubbing() {
    if (isScrubbing_ || !playPosition_) return;
    isScrubbing_ = true;
    scrubAction_ = playPosition_->addAction(
        [weak = weakSelf<VC_Conversation>()](toolkit::Control&, const toolkit::Event*) {
            if (auto self = weak.lock()) self->changePlayPosition();
        },
        toolkit::kValueChanged);
    if (player_ && (isPlaying_ || player_->isPlaying())) player_->stop();
}

void VC_Conversation::changePlayPosition() {
    if (!player_ || !playPosition_) return;
    player_->setCurrentTime(playPosition_->value() * player_->duration());
    updatePlayPosition();
}

void VC_Conversation::stopScrubbing() {
    if (!isScrubbing_) return;
    isScrubbing_ = false;
    if (playPosition_ && scrubAction_) playPosition_->removeAction(scrubAction_);
    scrubAction_ = 0;
    if (isPlaying_ && player_ && !player_->isPlaying()) player_->play();
}

void VC_Conversation::audioPlayerDidFinishPlaying(bool successfully) {
    if (!successfully || !player_) return;
    player_->setCurrentTime(0);
    isPlaying_ = false;
    updatePlayPosition();
    setPlayButtonImage();
    services::ProximitySensor::shared().setProximityMonitoringEnabled(false);
    stopPlaybackTimer();
    deactivateSession();
}

void VC_Conversation::stopPlayback() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, kConnectionFailed);
    if (!playMessageView_) return;
    if (player_) player_->stop();
    if (isPlaying_) {
        isPlaying_ = false;
        setPlayButtonImage();
        services::ProximitySensor::shared().setProximityMonitoringEnabled(false);
        deactivateSession();
    }
    if (gTimerOwner == this) stopPlaybackTimer();
}
