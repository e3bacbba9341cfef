// An image view that plays an animated GIF image: a display link on the main run loop adds the
// display time to an accumulator and moves the playhead on by each frame's delay, pulling frames
// from the image's lazy cache (keeping the last one shown while the next is decoded), counting
// loops down to the GIF's loop count. It plays only while in a window, in a superview, visible and
// not fully transparent. Without an animated image it is a plain image view.
#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/run_loop.h"
#include "platform/graphics/animated_image.h"
#include "platform/toolkit/controls.h"

class HXCAnimatedImageView : public toolkit::ImageView {
public:
    HXCAnimatedImageView();
    explicit HXCAnimatedImageView(const toolkit::Rect& frame);
    explicit HXCAnimatedImageView(toolkit::ImagePtr image, toolkit::ImagePtr highlightedImage = nullptr);
    ~HXCAnimatedImageView() override;
    std::string className() const override { return "HXCAnimatedImageView"; }

    // The default mode with fewer than 2 active processors, else the common modes.
    static dispatch::RunLoopMode defaultRunLoopMode();
    dispatch::RunLoopMode runLoopMode() const { return runLoopMode_; }
    // Only the default or the common modes; anything else stores the class's default. A display
    // link that exists stays in the mode it was added with.
    void setRunLoopMode(dispatch::RunLoopMode mode);

    const std::shared_ptr<graphics::HXCAnimatedImage>& animatedImage() const { return animatedImage_; }
    void setAnimatedImage(std::shared_ptr<graphics::HXCAnimatedImage> image);
    // The current frame while an animated image is set, else the plain image.
    toolkit::ImagePtr displayedImage() const;
    // A plain image clears the animated image first.
    void setImage(toolkit::ImagePtr image);
    // Ignored while an animated image is set: the frames have no highlighted form.
    void setHighlighted(bool highlighted) override;

    std::function<void(size_t loopCountRemaining)> loopCompletionBlock;
    const toolkit::ImagePtr& currentFrame() const { return currentFrame_; }
    size_t currentFrameIndex() const { return currentFrameIndex_; }
    size_t loopCountdown() const { return loopCountdown_; }
    bool shouldAnimate() const { return shouldAnimate_; }

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const;
    // The display link's preferred rate: one callback per greatest common divisor of the delays,
    // at most the display's 60 per second.
    int preferredFramesPerSecond() const;
    // The greatest common divisor of the frame delays, to a hundredth of a second.
    static double frameDelayGreatestCommonDivisor(const graphics::HXCAnimatedImage& image);

    toolkit::Size intrinsicContentSize() const override;
    void didMoveToSuperview() override;
    void didMoveToWindow() override;
    void setAlpha(double alpha) override;
    void setHidden(bool hidden) override;
    void draw(graphics::GraphicsContext& context, const toolkit::Rect& rect) override;

    // One display refresh at `timestamp` (the display link's callback).
    void displayDidRefresh(dispatch::Seconds timestamp);

private:
    void commonInit();
    void updateShouldAnimate();
    void startOrStop();

    bool shouldAnimate_ = false;
    bool needsDisplayWhenImageBecomesAvailable_ = false;
    dispatch::RunLoopMode runLoopMode_ = dispatch::RunLoopMode::Common;
    std::shared_ptr<graphics::HXCAnimatedImage> animatedImage_;
    toolkit::ImagePtr currentFrame_;
    size_t currentFrameIndex_ = 0;
    size_t loopCountdown_ = 0;
    double accumulator_ = 0;
    std::unique_ptr<dispatch::DisplayLink> displayLink_;
    std::shared_ptr<graphics::HXCWeakProxy<HXCAnimatedImageView>> proxy_;
    std::optional<dispatch::Seconds> lastTimestamp_;
};
