// The system player screen: what a player makes of the URLs and files a conversation hands it,
// its time on the clock, and the one-at-a-time presentation record.
#include "platform/system_screens/player_view_controller.h"

#include <gtest/gtest.h>

#include "platform/foundation/files.h"
#include "platform/foundation/url.h"
#include "platform/graphics/image.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/goldens.h"
#include "tests/support/test_support.h"

using system_screens::Player;
using system_screens::PlayerViewController;

namespace {

std::string mediaURL(const std::string& name) {
    return foundation::URL::fileURL((hxtest::sourceDir() / "emulator/media" / name).string()).string();
}

}  // namespace

TEST(PlayerURLs, APlayerIsReadyOnlyForAFileURLOfAMovieOrOfAudio) {
    hxtest::TempDir dir;
    ASSERT_TRUE(foundation::files::writeAtomically(dir / "page.mp4", std::string_view("<html></html>")).ok());
    const auto spaced = dir / "with space.mp3";
    ASSERT_TRUE(foundation::files::copy(hxtest::sourceDir() / "emulator/media/voicemail.mp3", spaced).ok());
    struct Case {
        const char* what;
        std::string url;
        std::optional<int64_t> error;
        services::MediaSize size;
    };
    const Case cases[] = {
        {"a turned MPEG-4 video", mediaURL("video.mp4"), std::nullopt, {64, 96}},
        {"a QuickTime movie", mediaURL("video.mov"), std::nullopt, {96, 64}},
        {"a voicemail", mediaURL("voicemail.mp3"), std::nullopt, {0, 0}},
        {"a path with a space made a file URL",
         foundation::URL::fileURL(spaced.string()).string(),
         std::nullopt,
         {0, 0}},
        {"a path with a space pasted after file://",
         "file://" + spaced.string(),
         system_screens::kPlayerNotAFileURL,
         {0, 0}},
        {"a web page saved as a video",
         foundation::URL::fileURL((dir / "page.mp4").string()).string(),
         system_screens::kPlayerNotMedia,
         {0, 0}},
        {"a file that is not there",
         foundation::URL::fileURL((dir / "gone.mp4").string()).string(),
         system_screens::kPlayerUnreadable,
         {0, 0}},
        {"a web address", "https://example.test/video.mp4", system_screens::kPlayerNotAFileURL, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto player = Player::withURL(c.url);
        EXPECT_EQ(player->url(), c.url);
        EXPECT_EQ(player->status() == Player::Status::Failed, c.error.has_value());
        if (c.error) {
            ASSERT_TRUE(player->error());
            EXPECT_EQ(player->error()->code, *c.error);
        }
        EXPECT_EQ(player->presentationSize(), c.size);
        EXPECT_EQ(player->hasVideo(), c.size.width > 0);
        player->play();
        EXPECT_EQ(player->rate(), c.error ? 0.0 : 1.0) << "a failed player does not play";
    }
}

TEST(PlayerScreens, OneAtATimeEachAppearanceRecordedAndPlayingOnTheClock) {
    toolkit::testing::Harness h;
    auto root = std::make_shared<toolkit::ViewController>();
    h.setRoot(root);
    PlayerViewController::resetPresentations();

    auto first = std::make_shared<PlayerViewController>();
    first->player = Player::withURL(mediaURL("video.mp4"));
    first->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
    root->present(first, true, [first] { first->player->play(); });
    h.advance(1);
    EXPECT_EQ(PlayerViewController::onScreen(), first.get());
    EXPECT_NE(h.find("Done"), nullptr);
    const double started = first->player->currentTime();
    h.advance(2);
    EXPECT_NEAR(first->player->currentTime() - started, 2, 1e-6);

    // A second player asked of the same presenter is refused: still one on screen, one record.
    auto second = std::make_shared<PlayerViewController>();
    second->player = Player::withURL(mediaURL("video.mov"));
    root->present(second, true);
    h.advance(1);
    ASSERT_EQ(PlayerViewController::presentations().size(), 1u);
    EXPECT_EQ(PlayerViewController::presentations()[0].url, mediaURL("video.mp4"));
    EXPECT_TRUE(PlayerViewController::presentations()[0].showsPlaybackControls);
    EXPECT_EQ(PlayerViewController::presentations()[0].style, toolkit::ModalPresentationStyle::OverFullScreen);

    // One shown from the first takes over: the first's player pauses.
    second->showsPlaybackControls = false;
    first->present(second, false);
    h.advance(1);
    second->player->play();
    EXPECT_EQ(PlayerViewController::onScreen(), second.get());
    EXPECT_EQ(first->player->rate(), 0.0);
    ASSERT_EQ(PlayerViewController::presentations().size(), 2u);
    EXPECT_FALSE(PlayerViewController::presentations()[1].showsPlaybackControls);
    // The second shows no controls (the first's stay under it).
    for (auto* v : h.findAll("Button")) {
        if (v->isDescendantOf(second->view().get())) {
            EXPECT_TRUE(v->isHidden()) << v->outlineText();
        }
    }

    // Done on the first (after the second went): the screen closes and its player stops.
    second->dismiss(false);
    h.advance(1);
    EXPECT_EQ(second->player->rate(), 0.0);
    first->player->play();
    ASSERT_TRUE(h.tap(*h.find("Done")));
    h.advance(1);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(first->player->rate(), 0.0);
    EXPECT_EQ(PlayerViewController::onScreen(), nullptr);
}

TEST(PlayerScreens, ThePlayButtonFollowsThePlayersStateWhoeverChangesIt) {
    toolkit::testing::Harness h;
    auto root = std::make_shared<toolkit::ViewController>();
    h.setRoot(root);
    PlayerViewController::resetPresentations();
    auto first = std::make_shared<PlayerViewController>();
    first->player = Player::withURL(mediaURL("video.mp4"));
    // As the conversation does: the player starts once the screen is up.
    root->present(first, true, [first] { first->player->play(); });
    h.advance(1);
    auto title = [](const PlayerViewController& screen) {
        return screen.playPauseButton()->currentTitle().value_or("");
    };
    ASSERT_GT(first->player->rate(), 0);
    EXPECT_EQ(title(*first), "Pause");
    ASSERT_TRUE(h.tap(*first->playPauseButton()));
    EXPECT_EQ(first->player->rate(), 0);
    EXPECT_EQ(title(*first), "Play");
    ASSERT_TRUE(h.tap(*first->playPauseButton()));
    EXPECT_EQ(title(*first), "Pause");
    // Another player screen takes over and pauses this one: its button says so.
    auto second = std::make_shared<PlayerViewController>();
    second->player = Player::withURL(mediaURL("video.mov"));
    first->present(second, false);
    h.advance(1);
    EXPECT_EQ(first->player->rate(), 0);
    EXPECT_EQ(title(*first), "Play");
    EXPECT_EQ(title(*second), "Play");
    second->player->play();
    EXPECT_EQ(title(*second), "Pause");
}

// The screen shows the film's still, the time played and the length with a progress between them;
// they follow the clock while it plays and stand while it is paused; at the end the player stops,
// the button offers Play again, and Play starts from the beginning.
TEST(PlayerScreens, TimeAndProgressFollowTheClockAndTheEndOffersPlayAgain) {
    hxtest::UsingFonts fonts;
    toolkit::testing::Harness h;
    auto root = std::make_shared<toolkit::ViewController>();
    h.setRoot(root);
    PlayerViewController::resetPresentations();
    auto screen = std::make_shared<PlayerViewController>();
    screen->player = Player::withURL(mediaURL("video.mov"));
    ASSERT_DOUBLE_EQ(screen->player->duration(), 3.0);
    auto poster = graphics::Image::fromEncoded(
        foundation::files::readData(hxtest::sourceDir() / "emulator/media/video_preview.jpg").value());
    ASSERT_TRUE(poster.ok());
    screen->posterImage = poster.value();
    screen->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
    root->present(screen, false);
    h.settle();
    EXPECT_EQ(screen->pictureView()->image(), poster.value()) << "the still stands for the picture";
    auto shown = [&] {
        return screen->elapsedLabel()->text() + " " + screen->durationLabel()->text() + " " +
               screen->playPauseButton()->currentTitle().value_or("");
    };
    EXPECT_EQ(shown(), "0:00 0:03 Play");
    screen->player->play();
    h.advance(1.1);
    EXPECT_EQ(shown(), "0:01 0:03 Pause");
    EXPECT_NEAR(screen->progressView()->progress(), 1.0 / 3, 0.1);
    ASSERT_TRUE(h.tap(*screen->playPauseButton()));
    h.advance(5);
    EXPECT_EQ(shown(), "0:01 0:03 Play") << "paused, the time stands";
    ASSERT_TRUE(h.tap(*screen->playPauseButton()));
    h.advance(2.5);
    EXPECT_EQ(screen->player->rate(), 0.0) << "the film ended";
    EXPECT_EQ(shown(), "0:03 0:03 Play");
    EXPECT_DOUBLE_EQ(screen->progressView()->progress(), 1.0);
    h.advance(10);
    EXPECT_DOUBLE_EQ(screen->player->currentTime(), 3.0);
    ASSERT_TRUE(h.tap(*screen->playPauseButton()));
    h.advance(1.2);
    EXPECT_EQ(shown(), "0:01 0:03 Pause") << "Play at the end starts again";
    h.settle();
    hxtest::expectSnapshot(*screen->view(), "player_playing");
}

// The still fits the screen in its own proportions and stands in its middle, whatever the film's
// upright size says (a turned film's still is as the film was recorded), in portrait, landscape
// and on a tablet, and again after a turn.
TEST(PlayerScreens, ThePosterFitsTheScreenInItsOwnProportionsCentred) {
    struct Case {
        const char* what;
        toolkit::ScreenProfile profile;
        bool turn;
        const char* film;
        int width, height;  // the still's pixels
    };
    const Case cases[] = {
        {"a film's still on a phone", toolkit::ScreenProfile::iPhone8(), false, "video.mov", 96, 64},
        {"a turned film's landscape still", toolkit::ScreenProfile::iPhone8(), false, "video.mp4", 96, 64},
        {"a tall still", toolkit::ScreenProfile::iPhone8(), false, "video.mov", 30, 200},
        {"a very wide still", toolkit::ScreenProfile::iPhoneX(), false, "video.mov", 300, 40},
        {"a still after a turn to landscape", toolkit::ScreenProfile::iPhoneX(), true, "video.mov", 96, 64},
        {"a still on a tablet", toolkit::ScreenProfile::iPad(), false, "video.mp4", 96, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        toolkit::testing::Harness h(c.profile);
        auto root = std::make_shared<toolkit::ViewController>();
        h.setRoot(root);
        auto screen = std::make_shared<PlayerViewController>();
        screen->player = Player::withURL(mediaURL(c.film));
        auto pixels = graphics::Bitmap::make(c.width, c.height);
        ASSERT_TRUE(pixels.ok());
        screen->posterImage = graphics::Image::fromBitmap(*pixels);
        screen->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
        root->present(screen, false);
        h.settle();
        if (c.turn) {
            h.rotate(toolkit::Orientation::LandscapeLeft);
            h.settle();
        }
        const toolkit::Rect shown = screen->view()->bounds();
        const toolkit::Rect picture = screen->pictureView()->frame();
        ASSERT_GT(picture.width(), 0);
        EXPECT_NEAR(picture.width() / picture.height(), double(c.width) / c.height, 1e-9) << "not the still's shape";
        EXPECT_GE(picture.minX(), shown.minX() - 1e-9);
        EXPECT_LE(picture.maxX(), shown.maxX() + 1e-9) << "wider than the screen";
        EXPECT_GE(picture.minY(), shown.minY() - 1e-9);
        EXPECT_LE(picture.maxY(), shown.maxY() + 1e-9) << "taller than the screen";
        // As large as fits: it meets two opposite sides.
        EXPECT_TRUE(std::abs(picture.width() - shown.width()) < 1e-9 ||
                    std::abs(picture.height() - shown.height()) < 1e-9);
        EXPECT_NEAR(picture.midX(), shown.midX(), 1e-9);
        EXPECT_NEAR(picture.midY(), shown.midY(), 1e-9);
        // What a person sees: the picture's box in the window is the screen's middle too.
        const toolkit::Rect inWindow = screen->pictureView()->convertRectTo(screen->pictureView()->bounds(), nullptr);
        const toolkit::Rect window = h.window().bounds();
        EXPECT_LE(inWindow.maxX(), window.maxX() + 1e-9);
        EXPECT_GE(inWindow.minX(), window.minX() - 1e-9);
    }
}
