// The player under a voicemail or a recorded call, an object its conversation screen owns: the
// footer's play and speaker buttons, position slider and times with the download's spinner, the
// audio player of the conversation's file (its media id is the conversation id), fetched when the
// user presses play or, with prefetching on, as soon as it is made; play and stop with the 0.1 s
// position timer, scrubbing, the speaker setting with the audio route, and the proximity sensor.
//
// One position timer serves every screen's player. It is stopped wherever playback stops (stop,
// the end, leaving the screen) and before another takes its place, and it holds its player
// weakly, so no timer outlives the sound it follows. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/roles/screen_roles.h"
#include "platform/graphics/color.h"
#include "platform/services/audio_player.h"

namespace toolkit {
class ActivityIndicatorView;
class Button;
class Label;
class Slider;
class View;
}  // namespace toolkit

class HXVoicemailPlayer final : public services::AudioPlayerDelegate,
                                public std::enable_shared_from_this<HXVoicemailPlayer> {
public:
    static constexpr long kPlayButtonTag = 100;
    static constexpr long kSpeakerButtonTag = 200;
    static constexpr double kSpeakerButtonWidth = 45;

    // The footer's views the player drives.
    struct Views {
        std::shared_ptr<toolkit::Button> playButton;
        std::shared_ptr<toolkit::Slider> playPosition;
        std::shared_ptr<toolkit::Label> startTime, endTime;
        std::shared_ptr<toolkit::Button> speakerButton;
    };
    struct Source {
        std::string mediaID;
        // The remaining time shown before the file is read (the message's length), "" for none.
        std::function<std::string()> lengthText;
        std::weak_ptr<HXMediaRole> media;
        std::weak_ptr<HXAlertsRole> alerts;
    };
    // The footer under a voicemail or a recorded call, width wide on a background of colour: the
    // play button, the position slider between the two times, the speaker button and the
    // download's progress, disabled until a player is made over them. A phone with a microphone
    // then plays through the ear piece or a headset, as a call does.
    struct Footer {
        std::shared_ptr<toolkit::View> playMessageView;
        Views views;
    };
    static Footer makeFooter(double width, const std::optional<graphics::Color>& background);
    // Wired to its views (the spinner takes the play button's place while the audio downloads);
    // the file is opened, or asked for when prefetching.
    static std::shared_ptr<HXVoicemailPlayer> make(Views views, Source source);
    ~HXVoicemailPlayer() override;

    // Opens the file, or fetches it when prefetching (the slider stays disabled without a player).
    void preparePlayer();
    void playPressed();
    void speakerPressed();
    void downloadComplete();
    void downloadFailed();
    void updatePlayPosition();
    static std::string formatTime(int seconds);
    void startScrubbing();
    void changePlayPosition();
    void stopScrubbing();
    void audioPlayerDidFinishPlaying(services::AudioPlayer& player, bool successfully) override;
    // Leaving the screen: the sound and the position timer stop, no download is waited for.
    void stop();
    // Coming back to the screen: a download waited for when it went is waited for again, or,
    // when its file came meanwhile, the player is made ready (the sound waits for play).
    void resume();

    bool isPlaying() const { return isPlaying_; }
    bool isScrubbing() const { return isScrubbing_; }
    const std::shared_ptr<services::AudioPlayer>& player() const { return player_; }
    static bool timerRunning();
    const Views& views() const { return views_; }
    toolkit::ActivityIndicatorView* downloadProgress() const { return downloadProgress_.get(); }

private:
    HXVoicemailPlayer(Views views, Source source);
    void wire();
    void setPlayButtonImage();
    void setSpeakerButtonImage();
    // What follows the file's arrival: the sound starts (the user pressed play) or the player is
    // only made ready (prefetching); None while no file is waited for.
    enum class Step { None, DownloadComplete, PreparePlayer };
    // The spinner in the play button's place until the file named by the media id is written;
    // then the step.
    void showDownloadSpinner(Step then);
    void startTimer();

    Views views_;
    Source source_;
    std::shared_ptr<toolkit::ActivityIndicatorView> downloadProgress_;
    std::shared_ptr<services::AudioPlayer> player_;
    bool isPlaying_ = false;
    bool isScrubbing_ = false;
    int scrubAction_ = 0;
    bool askedForRecordedCall_ = false;
    Step awaitedStep_ = Step::None;
};
