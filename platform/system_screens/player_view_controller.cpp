#include "platform/system_screens/player_view_controller.h"

#include <algorithm>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
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
    if (auto tracks = services::readMediaTracks(bytes.value())) {
        if (const auto* video = services::firstVideoTrack(tracks.value())) {
            player->hasVideo_ = true;
            player->presentationSize_ = services::applyTransform(video->naturalSize, video->preferredTransform);
        }
        return player;
    }
    if (!services::probeMP3(bytes.value()).format)
        player->error_ = playerError(kPlayerNotMedia, "The file is neither a movie nor audio.", url);
    return player;
}

void Player::play() {
    if (error_ || playing_) return;
    playing_ = true;
    startedAt_ = dispatch::clock().now();
    if (auto observer = rateObserver_) observer();
}

void Player::pause() {
    if (!playing_) return;
    position_ = currentTime();
    playing_ = false;
    if (auto observer = rateObserver_) observer();
}

double Player::currentTime() const {
    return playing_ ? position_ + std::max(0.0, dispatch::clock().now() - startedAt_) : position_;
}

const std::vector<PlayerViewController::Presentation>& PlayerViewController::presentations() {
    return record().presentations;
}

void PlayerViewController::resetPresentations() { record().presentations.clear(); }

PlayerViewController* PlayerViewController::onScreen() { return record().onScreen; }

PlayerViewController::~PlayerViewController() {
    if (record().onScreen == this) record().onScreen = nullptr;
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
    // The picture's place: a dark frame of the video's upright proportions.
    picture_ = std::make_shared<toolkit::View>();
    picture_->setBackgroundColor(graphics::Color::darkGray());
    root->addSubview(picture_);
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
    services::MediaSize size = player ? player->presentationSize() : services::MediaSize{};
    if (size.width <= 0 || size.height <= 0) size = {b.size.width, b.size.height / 3};
    const double scale = std::min(b.size.width / size.width, b.size.height / size.height);
    const double w = size.width * scale, h = size.height * scale;
    picture_->setFrame({b.origin.x + (b.size.width - w) / 2, b.origin.y + (b.size.height - h) / 2, w, h});
    done_->setHidden(!showsPlaybackControls);
    playPause_->setHidden(!showsPlaybackControls);
    playPause_->setTitle(player && player->rate() > 0 ? "Pause" : "Play", toolkit::kStateNormal);
    const auto doneSize = done_->sizeThatFits({});
    done_->setFrame({b.origin.x + 16, b.origin.y + insets.top, doneSize.width, 44});
    const auto playSize = playPause_->sizeThatFits({});
    playPause_->setFrame({b.origin.x + (b.size.width - playSize.width) / 2,
                          b.origin.y + b.size.height - insets.bottom - 44, playSize.width, 44});
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
