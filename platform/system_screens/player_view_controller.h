// The system's media player screen: a player for a file URL, shown full screen (or as a menu's
// preview without its controls). The player reads what the file is: a movie's tracks (the video
// track's natural size through its transform gives the picture's upright size) and length, or
// MPEG audio and its length; a file that is neither fails. Playing moves the player's time on the
// process clock up to the end, where it stops; Play at the end starts again from the beginning.
// Frames are not decoded: the screen shows the poster its presenter gives (the film's still, in
// the film's upright proportions) with the elapsed and total time and a progress bar that follow
// the player, and nothing is heard. The system keeps one player screen on
// screen at a time: one that appears pauses the player of any other, and every appearance is
// recorded (with the URL, whether controls were shown and the presentation style) for tests and
// the harness. Main thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/error.h"
#include "platform/graphics/image.h"
#include "platform/services/media_track_reader.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/view_controller.h"

namespace system_screens {

inline constexpr const char* kPlayerErrorDomain = "HXPlayerErrorDomain";
enum PlayerErrorCode : int64_t { kPlayerNotAFileURL = 1, kPlayerUnreadable = 2, kPlayerNotMedia = 3 };

class Player : public std::enable_shared_from_this<Player> {
public:
    enum class Status { ReadyToPlay, Failed };

    // Reads the file at once; a URL that is not a file URL, a file that cannot be read and one
    // that is neither a movie nor MPEG audio give a player that failed.
    static std::shared_ptr<Player> withURL(const std::string& url);

    const std::string& url() const { return url_; }
    Status status() const { return error_ ? Status::Failed : Status::ReadyToPlay; }
    const std::optional<foundation::Error>& error() const { return error_; }
    // The picture's upright size: the first video track's natural size through its transform;
    // zero for sound and for a failed player.
    services::MediaSize presentationSize() const { return presentationSize_; }
    bool hasVideo() const { return hasVideo_; }

    // The length in seconds (0 when the file tells none: then the time runs on without an end).
    double duration() const { return duration_; }

    // A failed player does not play. Play at the end starts from the beginning.
    void play();
    void pause();
    // 1 while playing, else 0.
    double rate() const { return playing_ ? 1.0 : 0.0; }
    // Seconds played so far (moving with the clock while playing, never past the end).
    double currentTime() const;
    // Told after every change of the rate (a play or a pause, whoever asked): the screen showing
    // the player keeps its button in step. One observer; a new one replaces it.
    void setRateObserver(std::function<void()> observer) { rateObserver_ = std::move(observer); }

private:
    std::function<void()> rateObserver_;
    Player() = default;
    std::string url_;
    std::optional<foundation::Error> error_;
    void reachedEnd();
    services::MediaSize presentationSize_;
    bool hasVideo_ = false;
    bool playing_ = false;
    double duration_ = 0;
    double position_ = 0;
    double startedAt_ = 0;
    // Stops the player at the end while it plays.
    std::shared_ptr<dispatch::Timer> endTimer_;
};

class PlayerViewController : public toolkit::ViewController {
public:
    std::string className() const override { return "AVPlayerViewController"; }

    std::shared_ptr<Player> player;
    bool showsPlaybackControls = true;
    // The film's still, shown in the picture's place (set before the screen shows).
    graphics::ImagePtr posterImage;

    // One appearance of a player screen.
    struct Presentation {
        std::string url;
        bool showsPlaybackControls = true;
        toolkit::ModalPresentationStyle style = toolkit::ModalPresentationStyle::Automatic;
    };
    // Every appearance since the last reset, oldest first.
    static const std::vector<Presentation>& presentations();
    static void resetPresentations();
    // The player screen on screen, if any.
    static PlayerViewController* onScreen();

    // The Done button: dismisses the screen (its player pauses as it goes).
    void done();

    void loadView() override;
    void viewDidLayoutSubviews() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    ~PlayerViewController() override;
    void viewWillAppear(bool animated) override;
    // The play/pause button, titled "Pause" while the player plays and "Play" otherwise.
    toolkit::Button* playPauseButton() const { return playPause_.get(); }
    // The time played ("0:01") and the length ("0:03", "--:--" when unknown) beside the progress.
    toolkit::Label* elapsedLabel() const { return elapsed_.get(); }
    toolkit::Label* durationLabel() const { return total_.get(); }
    toolkit::ProgressView* progressView() const { return progress_.get(); }
    toolkit::ImageView* pictureView() const { return picture_.get(); }

    // "m:ss" of whole seconds.
    static std::string timeText(double seconds);

private:
    void updatePlayPause();
    // The time, the progress and the button as the player stands now; ticks while it plays.
    void updateTime();
    std::shared_ptr<toolkit::ImageView> picture_;
    std::shared_ptr<toolkit::Button> done_;
    std::shared_ptr<toolkit::Button> playPause_;
    std::shared_ptr<toolkit::Label> elapsed_;
    std::shared_ptr<toolkit::Label> total_;
    std::shared_ptr<toolkit::ProgressView> progress_;
    std::shared_ptr<dispatch::Timer> ticker_;
};

}  // namespace system_screens
