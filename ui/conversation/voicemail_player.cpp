#include "ui/conversation/voicemail_player.h"

#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/named_images.h"
#include "platform/graphics/text_layout.h"
#include "platform/services/audio_session.h"
#include "platform/services/device.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/traits.h"
#include "ui/conversation/conversation_screens_shared.h"

namespace {

constexpr const char* kConnectionFailed = "kNetworkConnectionFailedNotification";
constexpr double kPositionInterval = 0.1;

void stopPlaybackTimer() {
    auto& shared = hxConversationScreensShared();
    if (shared.playbackTimer && shared.playbackTimer->isValid()) shared.playbackTimer->invalidate();
    shared.playbackTimer.reset();
    shared.playbackTimerOwner = nullptr;
}

void deactivateSession() {
    (void)services::AudioSession::shared().setActive(false,
                                                     services::kAudioSessionSetActiveOptionNotifyOthersOnDeactivation);
}

// The time labels' look: pressed into the page.
graphics::AttributedString letterpressed(const std::string& text, const toolkit::Label& label) {
    graphics::TextAttributes attributes;
    attributes.font = label.font();
    attributes.color = label.textColor();
    attributes.letterpress = true;
    return {text, attributes};
}

// The disabled slider's thumb: nothing shows where there is nothing to scrub.
graphics::ImagePtr emptyImage() {
    static const graphics::ImagePtr empty = [] {
        auto pixels = graphics::Bitmap::make(1, 1);
        return pixels.ok() ? graphics::Image::fromBitmap(pixels.value()) : nullptr;
    }();
    return empty;
}

// The player's buttons: symbols at 30 points from system 13, the app's own drawings, tinted as
// the button is, before it.
graphics::ImagePtr playerImage(const char* symbol, const char* drawing) {
    if (toolkit::Device::current().systemVersionAtLeast(13)) return graphics::systemImageNamed(symbol, 30);
    auto image = graphics::imageNamed(drawing);
    return image ? image->withRenderingMode(graphics::RenderingMode::alwaysTemplate) : nullptr;
}

}  // namespace

HXVoicemailPlayer::Footer HXVoicemailPlayer::makeFooter(double width,
                                                        const std::optional<graphics::Color>& background) {
    Footer f;
    auto& v = f.views;
    f.playMessageView = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, width, 60});
    f.playMessageView->setAutoresizingMask(toolkit::kFlexibleWidth);
    v.playButton = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    v.playButton->setFrame({12, 10, 40, 40});
    v.startTime = std::make_shared<toolkit::Label>(toolkit::Rect{56, 20, 44, 20});
    v.endTime = std::make_shared<toolkit::Label>(toolkit::Rect{width - 100, 20, 44, 20});
    v.endTime->setAutoresizingMask(toolkit::kFlexibleLeftMargin);
    for (auto* label : {v.startTime.get(), v.endTime.get()}) {
        label->setFont(graphics::Font::monospacedDigitSystem(12));
        label->setTextAlignment(toolkit::TextAlignment::center);
        label->setText("0:00");
        label->setBackgroundColor(background);
    }
    v.playPosition = std::make_shared<toolkit::Slider>();
    v.playPosition->setFrame({100, 15, width - 200, 30});
    v.playPosition->setAutoresizingMask(toolkit::kFlexibleWidth);
    v.speakerButton = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    v.speakerButton->setFrame({width - 52, 10, 45, 40});
    v.speakerButton->setAutoresizingMask(toolkit::kFlexibleLeftMargin);
    auto progress = std::make_shared<toolkit::ProgressView>();
    progress->setFrame({100, 50, width - 200, 2});
    progress->setAutoresizingMask(toolkit::kFlexibleWidth);
    for (const auto& view : std::vector<std::shared_ptr<toolkit::View>>{v.playButton, v.startTime, v.playPosition,
                                                                        v.endTime, v.speakerButton, progress})
        f.playMessageView->addSubview(view);
    v.playPosition->minimumTrackTintColor = graphics::Color::systemBlue();
    v.playPosition->setThumbImage(graphics::imageNamed("Knob"), toolkit::kStateNormal);
    v.playPosition->setThumbImage(emptyImage(), toolkit::kStateDisabled);
    // Until the player is ready there is nothing to scrub.
    v.playPosition->setEnabled(false);
    v.playButton->setTintColor(graphics::Color::systemBlue());
    v.speakerButton->setTintColor(graphics::Color::systemBlue());
    auto& session = services::AudioSession::shared();
    if (!toolkit::Device::current().isPad() && session.isInputAvailable())
        (void)session.setCategory(services::kAudioSessionCategoryPlayAndRecord,
                                  services::kAudioSessionCategoryOptionAllowBluetooth);
    return f;
}

HXVoicemailPlayer::HXVoicemailPlayer(Views views, Source source)
    : views_(std::move(views)), source_(std::move(source)) {}

HXVoicemailPlayer::~HXVoicemailPlayer() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    if (hxConversationScreensShared().playbackTimerOwner == this) stopPlaybackTimer();
}

std::shared_ptr<HXVoicemailPlayer> HXVoicemailPlayer::make(Views views, Source source) {
    std::shared_ptr<HXVoicemailPlayer> player(new HXVoicemailPlayer(std::move(views), std::move(source)));
    player->wire();
    player->preparePlayer();
    return player;
}

bool HXVoicemailPlayer::timerRunning() {
    const auto& timer = hxConversationScreensShared().playbackTimer;
    return timer && timer->isValid();
}

void HXVoicemailPlayer::wire() {
    auto weak = weak_from_this();
    if (views_.playButton) {
        views_.playButton->setTag(kPlayButtonTag);
        views_.playButton->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->playPressed();
            },
            toolkit::kTouchUpInside);
        // The spinner takes the play button's place while the audio downloads.
        downloadProgress_ = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::Medium);
        downloadProgress_->setFrame(views_.playButton->frame());
        downloadProgress_->setHidesWhenStopped(true);
        if (auto* parent = views_.playButton->superview()) parent->addSubview(downloadProgress_);
    }
    if (views_.speakerButton) {
        views_.speakerButton->setTag(kSpeakerButtonTag);
        views_.speakerButton->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->speakerPressed();
            },
            toolkit::kTouchUpInside);
    }
    if (views_.playPosition) {
        views_.playPosition->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->startScrubbing();
            },
            toolkit::kTouchDown);
        views_.playPosition->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->stopScrubbing();
            },
            toolkit::kTouchUpInside | toolkit::kTouchUpOutside | toolkit::kTouchCancel);
    }
    setPlayButtonImage();
    setSpeakerButtonImage();
}

void HXVoicemailPlayer::startTimer() {
    stopPlaybackTimer();
    auto& shared = hxConversationScreensShared();
    shared.playbackTimerOwner = this;
    shared.playbackTimer =
        dispatch::Timer::scheduled(kPositionInterval, true, [weak = weak_from_this()](dispatch::Timer& timer) {
            if (auto self = weak.lock())
                self->updatePlayPosition();
            else
                timer.invalidate();
        });
}

void HXVoicemailPlayer::setPlayButtonImage() {
    if (!views_.playButton) return;
    views_.playButton->setImage(
        playerImage(isPlaying_ ? "pause.circle" : "play.circle", isPlaying_ ? "VM_stop" : "VM_play"),
        toolkit::kStateNormal);
    views_.playButton->accessibility().label = foundation::localizedString(isPlaying_ ? "Stop" : "Play");
}

void HXVoicemailPlayer::setSpeakerButtonImage() {
    auto& button = views_.speakerButton;
    if (!button) return;
    auto& session = services::AudioSession::shared();
    const toolkit::Rect frame = button->frame();
    // On a tablet, or a phone without a microphone, the sound has one way out: no button, no room.
    if (toolkit::Device::current().isPad() || !session.isInputAvailable()) {
        button->setAlpha(0);
        button->setEnabled(false);
        button->setFrame({frame.minX(), frame.minY(), 0, frame.height()});
        return;
    }
    auto playback = source_.media.lock();
    const bool speaker = playback && playback->useSpeaker();
    button->setAlpha(1);
    button->setEnabled(true);
    button->setFrame({frame.minX(), frame.minY(), kSpeakerButtonWidth, frame.height()});
    button->setImage(playerImage(speaker ? "speaker.3" : "speaker", speaker ? "Speaker" : "Speaker_off"),
                     toolkit::kStateNormal);
    button->accessibility().label = foundation::localizedString("Speaker setting");
    button->accessibility().hint = foundation::localizedString(speaker ? "Changes sound output to iPhone ear piece"
                                                                       : "Changes sound output to speaker");
    (void)session.overrideOutputAudioPort(speaker ? services::AudioSessionPortOverride::Speaker
                                                  : services::AudioSessionPortOverride::None);
}

void HXVoicemailPlayer::showDownloadSpinner(Step then) {
    if (views_.playButton) views_.playButton->setHidden(true);
    if (downloadProgress_) downloadProgress_->startAnimating();
    awaitedStep_ = then;
    auto weak = weak_from_this();
    auto& center = foundation::NotificationCenter::defaultCenter();
    // One observation of the id at a time, whichever step comes next.
    center.removeObserver(this, source_.mediaID);
    center.addObserver(this, source_.mediaID, [weak, then](const foundation::Notification&) {
        auto self = weak.lock();
        if (!self) return;
        if (then == Step::DownloadComplete)
            self->downloadComplete();
        else
            self->preparePlayer();
    });
    if (then != Step::DownloadComplete) return;
    // A download the user waits for ends with the connection too.
    center.removeObserver(this, kConnectionFailed);
    center.addObserver(this, kConnectionFailed, [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->downloadFailed();
    });
}

void HXVoicemailPlayer::resume() {
    if (awaitedStep_ == Step::None) return;
    auto role = source_.media.lock();
    const std::string path = role ? role->localURLForMedia(source_.mediaID, "audio/") : std::string();
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

void HXVoicemailPlayer::preparePlayer() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    const std::string& id = source_.mediaID;
    center.removeObserver(this, id);
    awaitedStep_ = Step::None;
    if (downloadProgress_) downloadProgress_->stopAnimating();
    if (views_.playButton) views_.playButton->setHidden(false);

    if (views_.startTime) views_.startTime->setAttributedText(letterpressed("0:00", *views_.startTime));
    if (views_.endTime) {
        const std::string length = source_.lengthText ? source_.lengthText() : std::string();
        if (!length.empty())
            views_.endTime->setAttributedText(letterpressed("-" + length, *views_.endTime));
        else {
            views_.endTime->setAttributedText(std::nullopt);
            views_.endTime->setText("");
        }
    }

    auto playback = source_.media.lock();
    auto alerts = source_.alerts.lock();
    const std::string path = playback ? playback->localURLForMedia(id, "audio/") : std::string();
    const bool fetch =
        playback && alerts && alerts->preference(HXPreference::PrefetchVoicemail) && alerts->connectionAvailable();
    if (!path.empty() && foundation::files::exists(path)) {
        auto opened = services::AudioPlayer::withContentsOfFile(path);
        if (opened.ok() && opened.value()->format()) {
            if (views_.playPosition) views_.playPosition->setEnabled(true);
            player_ = opened.value();
            player_->setDelegate(weak_from_this());
            updatePlayPosition();
            return;
        }
        // Not audio (an error page, say): it goes, and with prefetching it comes again as a
        // recorded call, once: a recorded call that is no audio either is not asked for again
        // and again.
        (void)foundation::files::remove(path);
        if (views_.playPosition) views_.playPosition->setEnabled(false);
        if (fetch && !askedForRecordedCall_) {
            askedForRecordedCall_ = true;
            showDownloadSpinner(Step::PreparePlayer);
            playback->downloadRecordedCallForID(id);
        }
        return;
    }
    if (views_.playPosition) views_.playPosition->setEnabled(false);
    if (fetch) {
        showDownloadSpinner(Step::PreparePlayer);
        playback->downloadVMforID(id);
    }
}

void HXVoicemailPlayer::speakerPressed() {
    auto playback = source_.media.lock();
    if (!playback) return;
    const bool on = !playback->useSpeaker();
    playback->setUseSpeaker(on);
    setSpeakerButtonImage();
}

void HXVoicemailPlayer::playPressed() {
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
        startTimer();
        return;
    }
    showDownloadSpinner(Step::DownloadComplete);
    if (auto playback = source_.media.lock()) playback->downloadVMforID(source_.mediaID);
}

void HXVoicemailPlayer::downloadComplete() {
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
    startTimer();
}

void HXVoicemailPlayer::downloadFailed() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, kConnectionFailed);
    center.removeObserver(this, source_.mediaID);
    awaitedStep_ = Step::None;
    if (downloadProgress_) downloadProgress_->stopAnimating();
    setPlayButtonImage();
    if (views_.playButton) views_.playButton->setHidden(false);
}

std::string HXVoicemailPlayer::formatTime(int seconds) {
    return foundation::format("%01d:%02d", seconds / 60, seconds % 60);
}

void HXVoicemailPlayer::updatePlayPosition() {
    if (!player_) return;
    const double duration = player_->duration();
    // The clock's steps add up to a hair under a whole second at times; that second has passed.
    constexpr double kTick = 1e-6;
    const double current = player_->currentTime() + kTick;
    if (views_.startTime)
        views_.startTime->setAttributedText(letterpressed(formatTime(static_cast<int>(current)), *views_.startTime));
    if (views_.endTime)
        views_.endTime->setAttributedText(
            letterpressed("-" + formatTime(static_cast<int>(duration - current)), *views_.endTime));
    if (duration > 0 && views_.playPosition)
        views_.playPosition->setValue(static_cast<float>(player_->currentTime()) / static_cast<float>(duration));
}

void HXVoicemailPlayer::startScrubbing() {
    if (isScrubbing_ || !views_.playPosition) return;
    isScrubbing_ = true;
    scrubAction_ = views_.playPosition->addAction(
        [weak = weak_from_this()](toolkit::Control&, const toolkit::Event*) {
            if (auto self = weak.lock()) self->changePlayPosition();
        },
        toolkit::kValueChanged);
    if (player_ && (isPlaying_ || player_->isPlaying())) player_->stop();
}

void HXVoicemailPlayer::changePlayPosition() {
    if (!player_ || !views_.playPosition) return;
    player_->setCurrentTime(views_.playPosition->value() * player_->duration());
    updatePlayPosition();
}

void HXVoicemailPlayer::stopScrubbing() {
    if (!isScrubbing_) return;
    isScrubbing_ = false;
    if (views_.playPosition && scrubAction_) views_.playPosition->removeAction(scrubAction_);
    scrubAction_ = 0;
    if (isPlaying_ && player_ && !player_->isPlaying()) player_->play();
}

void HXVoicemailPlayer::audioPlayerDidFinishPlaying(services::AudioPlayer& player, bool successfully) {
    // An end where the stream broke is no end of the message.
    if (!successfully || player_.get() != &player) return;
    player_->setCurrentTime(0);
    isPlaying_ = false;
    updatePlayPosition();
    setPlayButtonImage();
    services::ProximitySensor::shared().setProximityMonitoringEnabled(false);
    stopPlaybackTimer();
    deactivateSession();
}

void HXVoicemailPlayer::stop() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, kConnectionFailed);
    center.removeObserver(this, source_.mediaID);
    if (player_) player_->stop();
    if (isPlaying_) {
        isPlaying_ = false;
        setPlayButtonImage();
        services::ProximitySensor::shared().setProximityMonitoringEnabled(false);
        deactivateSession();
    }
    if (hxConversationScreensShared().playbackTimerOwner == this) stopPlaybackTimer();
}
