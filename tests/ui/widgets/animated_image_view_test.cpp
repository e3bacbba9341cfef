#include "ui/widgets/hxc_animated_image_view.h"

#include <gtest/gtest.h>

#include "platform/toolkit/window.h"
#include "tests/platform/graphics/gif_writer.h"

using graphics::HXCAnimatedImage;

namespace {

// One colour per frame; delays in hundredths.
std::shared_ptr<HXCAnimatedImage> animation(const std::vector<int>& delays, std::optional<int> loop) {
    hxtest::GifSpec spec{4, 4, {}, 0, loop, {}};
    for (int i = 0; i < 8; ++i) spec.palette.push_back({static_cast<uint8_t>(i * 30), 0, 0});
    for (size_t f = 0; f < delays.size(); ++f) {
        hxtest::GifFrameSpec frame;
        frame.width = frame.height = 4;
        frame.delayHundredths = delays[f];
        frame.indices.assign(16, static_cast<uint8_t>(f));
        spec.frames.push_back(std::move(frame));
    }
    return HXCAnimatedImage::animatedImageWithGIFData(hxtest::writeGif(spec));
}

uint8_t redOf(const toolkit::ImagePtr& frame) { return frame->bitmap()->rgbaAt(1, 1)[0]; }

struct Stage {
    dispatch::ScopedVirtualClock clock;
    toolkit::Window window{toolkit::ScreenProfile::iPhone8()};
    std::shared_ptr<HXCAnimatedImageView> view = std::make_shared<HXCAnimatedImageView>(toolkit::Rect(0, 0, 40, 40));
    Stage() { window.addSubview(view); }
};

}  // namespace

TEST(HXCAnimatedImageView, DelayDivisorToAHundredth) {
    EXPECT_NEAR(HXCAnimatedImageView::frameDelayGreatestCommonDivisor(*animation({10, 15}, 0)), 0.05, 1e-12);
    EXPECT_NEAR(HXCAnimatedImageView::frameDelayGreatestCommonDivisor(*animation({7, 10}, 0)), 0.01, 1e-12);
    Stage stage;
    stage.view->setAnimatedImage(animation({10, 15}, 0));
    EXPECT_EQ(stage.view->preferredFramesPerSecond(), 20);
    stage.view->setAnimatedImage(animation({7, 10}, 0));
    EXPECT_EQ(stage.view->preferredFramesPerSecond(), 60) << "never faster than the display";
}

TEST(HXCAnimatedImageView, PlaysTwiceThenStopsOnItsLastFrame) {
    Stage stage;
    std::vector<size_t> loops;
    stage.view->loopCompletionBlock = [&](size_t remaining) { loops.push_back(remaining); };
    auto image = animation({10, 10, 10}, 2);
    stage.view->setAnimatedImage(image);
    EXPECT_TRUE(stage.view->isAnimating());
    EXPECT_EQ(stage.view->intrinsicContentSize(), (toolkit::Size{4, 4}));
    EXPECT_EQ(stage.view->loopCountdown(), 2u);
    stage.clock->advance(0.25);
    EXPECT_EQ(stage.view->currentFrameIndex(), 2u);
    stage.clock->advance(1.0);
    EXPECT_EQ(loops, (std::vector<size_t>{1, 0}));
    EXPECT_FALSE(stage.view->isAnimating());
    EXPECT_EQ(stage.view->currentFrameIndex(), 3u) << "the playhead stays past the last frame";
    EXPECT_EQ(redOf(stage.view->displayedImage()), 60) << "the last frame stays shown";
    // Started again after its loops it stays where it is.
    stage.view->startAnimating();
    stage.clock->advance(1.0);
    EXPECT_EQ(loops.size(), 2u);
    EXPECT_EQ(redOf(stage.view->displayedImage()), 60);
}

TEST(HXCAnimatedImageView, LoopCountZeroPlaysForEver) {
    Stage stage;
    stage.view->setAnimatedImage(animation({10, 10}, 0));
    EXPECT_EQ(stage.view->loopCountdown(), std::numeric_limits<size_t>::max());
    stage.clock->advance(30);
    EXPECT_TRUE(stage.view->isAnimating());
    EXPECT_LT(stage.view->currentFrameIndex(), 2u);
}

TEST(HXCAnimatedImageView, PausesWhenNotVisibleAndResumesFromTheSameFrame) {
    Stage stage;
    stage.view->setAnimatedImage(animation({10, 10, 10, 10}, 0));
    stage.clock->advance(0.15);
    const size_t frame = stage.view->currentFrameIndex();
    EXPECT_EQ(frame, 1u);
    for (int how = 0; how < 3; ++how) {
        if (how == 0) stage.view->setHidden(true);
        if (how == 1) stage.view->setAlpha(0);
        if (how == 2) stage.view->removeFromSuperview();
        EXPECT_FALSE(stage.view->isAnimating()) << how;
        stage.clock->advance(1.0);
        EXPECT_EQ(stage.view->currentFrameIndex(), frame) << how;
        if (how == 0) stage.view->setHidden(false);
        if (how == 1) stage.view->setAlpha(1);
        if (how == 2) stage.window.addSubview(stage.view);
        EXPECT_TRUE(stage.view->isAnimating()) << how;
    }
    stage.clock->advance(0.1);
    EXPECT_EQ(stage.view->currentFrameIndex(), frame + 1);
}

TEST(HXCAnimatedImageView, SameImageChangesNothingAndNoneShowsThePlainImage) {
    Stage stage;
    auto image = animation({10, 10, 10}, 0);
    stage.view->setAnimatedImage(image);
    stage.clock->advance(0.15);
    const size_t frame = stage.view->currentFrameIndex();
    stage.view->setAnimatedImage(image);
    EXPECT_EQ(stage.view->currentFrameIndex(), frame);
    auto plain = graphics::Image::fromBitmap(graphics::Bitmap::make(2, 2).value());
    stage.view->setImage(plain);
    EXPECT_FALSE(stage.view->animatedImage());
    EXPECT_FALSE(stage.view->isAnimating());
    EXPECT_EQ(stage.view->displayedImage(), plain);
    // A new animated image restarts at frame 0 with a fresh count.
    stage.view->setAnimatedImage(animation({10, 10}, 3));
    EXPECT_EQ(stage.view->currentFrameIndex(), 0u);
    EXPECT_EQ(stage.view->loopCountdown(), 3u);
    EXPECT_FALSE(stage.view->image()) << "the plain image is cleared";
    // The view does not keep itself alive through its display link.
    std::weak_ptr<HXCAnimatedImageView> weak = stage.view;
    stage.view->removeFromSuperview();
    stage.view.reset();
    EXPECT_TRUE(weak.expired());
    stage.clock->advance(1);
}

TEST(HXCAnimatedImageView, WaitingForAFrameKeepsThePreviousOneAndLosesNoTime) {
    Stage stage;
    // A cache of one frame: every frame but the poster is decoded when asked for, and reaches the
    // view only when the main queue runs.
    hxtest::GifSpec spec{4, 4, {}, 0, 0, {}};
    for (int i = 0; i < 4; ++i) spec.palette.push_back({static_cast<uint8_t>(i * 30), 0, 0});
    for (int f = 0; f < 3; ++f) {
        hxtest::GifFrameSpec frame;
        frame.width = frame.height = 4;
        frame.delayHundredths = 10;
        frame.indices.assign(16, static_cast<uint8_t>(f));
        spec.frames.push_back(std::move(frame));
    }
    stage.view->setAnimatedImage(HXCAnimatedImage::initWithAnimatedGIFData(hxtest::writeGif(spec), 1, 1, false));
    stage.view->displayDidRefresh(100.0);  // one refresh (0.1 s at 10 per second): on to frame 1
    EXPECT_EQ(stage.view->currentFrameIndex(), 1u);
    stage.view->displayDidRefresh(105.0);  // frame 1 is not there yet
    stage.view->displayDidRefresh(105.05);
    EXPECT_EQ(stage.view->currentFrameIndex(), 1u);
    EXPECT_EQ(redOf(stage.view->displayedImage()), 0) << "the poster stays shown";
    stage.clock->runUntilIdle();  // the decoded frame arrives
    stage.view->displayDidRefresh(105.1);
    EXPECT_EQ(redOf(stage.view->displayedImage()), 30);
    EXPECT_EQ(stage.view->currentFrameIndex(), 1u) << "only 0.05 s counted, not the five seconds of waiting";
    stage.view->displayDidRefresh(105.15);
    EXPECT_EQ(stage.view->currentFrameIndex(), 2u);
}

TEST(HXCAnimatedImageView, HighlightingIsIgnoredWhileAnimated) {
    Stage stage;
    auto plain = graphics::Image::fromBitmap(graphics::Bitmap::make(2, 2).value());
    stage.view->setImage(plain);
    stage.view->setHighlighted(true);
    EXPECT_TRUE(stage.view->isHighlighted()) << "a plain image view highlights";
    // Setting an animated image clears the highlight, and it cannot be turned back on.
    stage.view->setAnimatedImage(animation({10, 10}, 0));
    EXPECT_FALSE(stage.view->isHighlighted());
    toolkit::View& asView = *stage.view;
    static_cast<toolkit::ImageView&>(asView).setHighlighted(true);
    EXPECT_FALSE(stage.view->isHighlighted()) << "through the base class too";
    // Without the animated image the view highlights again.
    stage.view->setAnimatedImage(nullptr);
    stage.view->setHighlighted(true);
    EXPECT_TRUE(stage.view->isHighlighted());
}

TEST(HXCAnimatedImageView, AFinishedViewShownAgainStaysStillAndAsleep) {
    // A table cell that played its GIF out and is shown again: taken off the screen and put back,
    // hidden and shown, faded out and in. Its display link must not wake for nothing.
    Stage stage;
    std::vector<size_t> loops;
    stage.view->loopCompletionBlock = [&](size_t remaining) { loops.push_back(remaining); };
    stage.view->setAnimatedImage(animation({10, 10, 10}, 1));
    stage.clock->advance(1.0);
    ASSERT_EQ(loops, (std::vector<size_t>{0}));
    ASSERT_FALSE(stage.view->isAnimating());
    for (int how = 0; how < 3; ++how) {
        if (how == 0) {
            stage.view->removeFromSuperview();
            stage.window.addSubview(stage.view);
        }
        if (how == 1) {
            stage.view->setHidden(true);
            stage.view->setHidden(false);
        }
        if (how == 2) {
            stage.view->setAlpha(0);
            stage.view->setAlpha(1);
        }
        EXPECT_TRUE(stage.view->shouldAnimate()) << how;
        EXPECT_FALSE(stage.view->isAnimating()) << how;
        stage.clock->advance(10.0);
        EXPECT_EQ(stage.view->currentFrameIndex(), 3u) << how << ": no callback stepped the playhead on";
        EXPECT_EQ(redOf(stage.view->displayedImage()), 60) << how << ": the last frame stays shown";
    }
    // A callback that arrives anyway (one already due) puts the link back to sleep.
    stage.view->displayDidRefresh(dispatch::clock().now());
    EXPECT_EQ(stage.view->currentFrameIndex(), 3u);
    EXPECT_EQ(loops.size(), 1u);
    // A new image plays again.
    stage.view->setAnimatedImage(animation({10, 10}, 1));
    EXPECT_TRUE(stage.view->isAnimating());
}
