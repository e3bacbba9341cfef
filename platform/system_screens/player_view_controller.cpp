#include "platform/system_screens/player_view_controller.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/url.h"
#include "platform/services/audio_player.h"
#include "platform/toolkit/window.h"

namespace system_screens {

namespace {

foundation::Error playerError(int64_t code, const std::string& description, const std::string& url) {
    foundation::Dictionary info;
    info.set(foundation::kLocalizedDescriptionKey, description);
    info.set("url", url);
    return foundation::Error(kPlayerErrorDomain, code, std::move(info));
}

struct Record {
    std::vector<PlayerViewController::Presentation> presentations;
    PlayerViewController* onScreen = nullptr;
};

Record& record() {
    static Record r;
    return r;
}

}  // namespace

std::shared_ptr<Player> Player::withURL(const std::string& url) {
    std::shared_ptr<Player> player(new Player());
    player->url_ = url;
    const auto parsed = foundation::URL::parse(url);
    if (!parsed || !parsed->isFileURL()) {
        player->error_ = playerError(kPlayerNotAFileURL, "The player only opens file URLs.", url);
        return player;
    }
    auto bytes = foundation::files::readData(parsed->path());
    if (!bytes) {
        player->error_ = playerError(kPlayerUnreadable, "The media file could not be read.", url);
        return player;
    }
    if (auto movie = services::readMediaMovie(bytes.value())) {
        if (const auto* video = services::firstVideoTrack(movie.value().tracks)) {
            player->hasVideo_ = true;
            player->presentationSize_ = services::applyTransform(video->naturalSize, video->preferredTransform);
        }
        player->duration_ = movie.value().duration;
        return player;
    }
    const auto probe = services::probeMP3(bytes.value());
    if (!probe.format)
        player->error_ = playerError(kPlayerNotMedia, "The file is neither a movie nor audio.", url);
    else
        player->duration_ = probe.seconds;
    return player;
}

void Player::play() {
    if (error_ || playing_) return;
    // At the end, Play starts the film again.
    if (duration_ > 0 && position_ >= duration_) position_ = 0;
    playing_ = true;
    startedAt_ = dispatch::clock().now();
    if (duration_ > 0) {
        std::weak_ptr<Player> weak = weak_from_this();
        endTimer_ = dispatch::Timer::scheduled(duration_ - position_, false, [weak](dispatch::Timer&) {
            if (auto self = weak.lock()) self->reachedEnd();
        });
    }
    if (auto observer = rateObserver_) observer();
}

void Player::pause() {
    if (!playing_) return;
    position_ = currentTime();
    playing_ = false;
    if (auto timer = std::exchange(endTimer_, nullptr)) timer->invalidate();
    if (auto observer = rateObserver_) observer();
}

void Player::reachedEnd() {
    if (!playing_) return;
    endTimer_.reset();
    position_ = duration_;
    playing_ = false;
    if (auto observer = rateObserver_) observer();
}

double Player::currentTime() const {
    const double t = playing_ ? position_ + std::max(0.0, dispatch::clock().now() - startedAt_) : position_;
    return duration_ > 0 ? std::min(t, duration_) : t;
}

std::string PlayerViewController::timeText(double seconds) {
    const auto whole = static_cast<long long>(std::floor(std::max(0.0, seconds)));
    return foundation::format("%lld:%02lld", whole / 60, whole % 60);
}

const std::vector<PlayerViewController::Presentation>& PlayerViewController::presentations() {
    return record().presentations;
}

void PlayerViewController::resetPresentations() { record().presentations.clear(); }

PlayerViewController* PlayerViewController::onScreen() { return record().onScreen; }

PlayerViewController::~PlayerViewController() {
    if (record().onScreen == this) record().onScreen = nullptr;
    if (ticker_) ticker_->invalidate();
}

void PlayerViewController::done() {
    if (player) player->pause();
    if (presentingViewController()) dismiss(true);
}

void PlayerViewController::loadView() {
    auto root = std::make_shared<toolkit::View>(toolkit::Device::current().screen().bounds());
    root->setBackgroundColor(graphics::Color::black());
    root->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    setView(root);
    // The picture's place, in the video's upright proportions: the poster, on dark grey without one.
    picture_ = std::make_shared<toolkit::ImageView>(posterImage);
    picture_->setBackgroundColor(graphics::Color::darkGray());
    picture_->setContentMode(toolkit::ContentMode::ScaleAspectFit);
    picture_->setClipsToBounds(true);
    root->addSubview(picture_);
    auto timeLabel = [&](toolkit::TextAlignment alignment) {
        auto label = std::make_shared<toolkit::Label>();
        label->setFont(graphics::Font::monospacedDigitSystem(13));
        label->setTextColor(graphics::Color::whiteColor());
        label->setTextAlignment(alignment);
        root->addSubview(label);
        return label;
    };
    elapsed_ = timeLabel(toolkit::TextAlignment::left);
    total_ = timeLabel(toolkit::TextAlignment::right);
    progress_ = std::make_shared<toolkit::ProgressView>();
    progress_->setTintColor(graphics::Color::whiteColor());
    progress_->trackTintColor = graphics::Color::white(1, 0.3);
    root->addSubview(progress_);
    done_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    done_->setTitle("Done", toolkit::kStateNormal);
    done_->setTitleColor(graphics::Color::whiteColor(), toolkit::kStateNormal);
    done_->addAction([this](toolkit::Control&, const toolkit::Event*) { done(); }, toolkit::kTouchUpInside);
    playPause_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    playPause_->setTitleColor(graphics::Color::whiteColor(), toolkit::kStateNormal);
    playPause_->addAction(
        [this](toolkit::Control&, const toolkit::Event*) {
            if (!player) return;
            if (player->rate() > 0)
                player->pause();
            else
                player->play();
            updatePlayPause();
        },
        toolkit::kTouchUpInside);
    root->addSubview(done_);
    root->addSubview(playPause_);
}

void PlayerViewController::viewDidLayoutSubviews() {
    const auto b = view()->bounds();
    const auto insets = view()->safeAreaInsets();
    // The poster in its own proportions; without one, the film's upright frame on dark grey.
    services::MediaSize size = player ? player->presentationSize() : services::MediaSize{};
    if (posterImage && posterImage->width() > 0 && posterImage->height() > 0)
        size = {posterImage->width(), posterImage->height()};
    if (size.width <= 0 || size.height <= 0) size = {b.size.width, b.size.height / 3};
    if (picture_->image() != posterImage) picture_->setImage(posterImage);
    const double scale = std::min(b.size.width / size.width, b.size.height / size.height);
    const double w = size.width * scale, h = size.height * scale;
    picture_->setFrame({b.origin.x + (b.size.width - w) / 2, b.origin.y + (b.size.height - h) / 2, w, h});
    done_->setHidden(!showsPlaybackControls);
    playPause_->setHidden(!showsPlaybackControls);
    for (toolkit::View* v : {static_cast<toolkit::View*>(elapsed_.get()), static_cast<toolkit::View*>(total_.get()),
                             static_cast<toolkit::View*>(progress_.get())})
        v->setHidden(!showsPlaybackControls);
    playPause_->setTitle(player && player->rate() > 0 ? "Pause" : "Play", toolkit::kStateNormal);
    const auto doneSize = done_->sizeThatFits({});
    done_->setFrame({b.origin.x + 16, b.origin.y + insets.top, doneSize.width, 44});
    const auto playSize = playPause_->sizeThatFits({});
    const double buttonTop = b.origin.y + b.size.height - insets.bottom - 44;
    playPause_->setFrame({b.origin.x + (b.size.width - playSize.width) / 2, buttonTop, playSize.width, 44});
    // The time row above the button: elapsed, the progress, the length.
    const double rowY = buttonTop - 24, left = b.origin.x + insets.left + 16;
    const double right = b.origin.x + b.size.width - insets.right - 16, labelWidth = 48;
    elapsed_->setFrame({left, rowY, labelWidth, 18});
    total_->setFrame({right - labelWidth, rowY, labelWidth, 18});
    progress_->setFrame({left + labelWidth + 8, rowY + 8, std::max(0.0, right - left - 2 * (labelWidth + 8)), 2});
    updateTime();
}

void PlayerViewController::updateTime() {
    if (!elapsed_) return;
    const double now = player ? player->currentTime() : 0;
    const double length = player ? player->duration() : 0;
    elapsed_->setText(timeText(now));
    total_->setText(length > 0 ? timeText(length) : std::string("--:--"));
    progress_->setProgress(length > 0 ? std::clamp(now / length, 0.0, 1.0) : 0.0);
    const bool playing = player && player->rate() > 0;
    if (playing && !(ticker_ && ticker_->isValid())) {
        std::weak_ptr<PlayerViewController> weak = weakSelf<PlayerViewController>();
        ticker_ = dispatch::Timer::scheduled(0.25, true, [weak](dispatch::Timer& timer) {
            if (auto screen = weak.lock())
                screen->updateTime();
            else
                timer.invalidate();
        });
    } else if (!playing && ticker_) {
        std::exchange(ticker_, nullptr)->invalidate();
    }
}

void PlayerViewController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    // The player may be started or stopped by anyone (the presenter once the screen is up,
    // another player screen, Done): the button follows.
    if (player) {
        std::weak_ptr<PlayerViewController> weak = weakSelf<PlayerViewController>();
        player->setRateObserver([weak] {
            if (auto screen = weak.lock()) screen->updatePlayPause();
        });
    }
    updatePlayPause();
}

void PlayerViewController::updatePlayPause() {
    if (!viewIfLoaded()) return;
    // The title and the button's width change together.
    viewDidLayoutSubviews();
}

void PlayerViewController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    auto& r = record();
    if (r.onScreen && r.onScreen != this && r.onScreen->player) r.onScreen->player->pause();
    r.onScreen = this;
    r.presentations.push_back(
        {player ? player->url() : std::string(), showsPlaybackControls, presentationStyleInUse()});
}

void PlayerViewController::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    if (player) player->pause();
    if (record().onScreen == this) record().onScreen = nullptr;
}

}  // namespace system_screens
