#include "ui/widgets/hxc_animated_image_view.h"

#include <cmath>
#include <limits>
#include <numeric>
#include <thread>

#include "platform/graphics/graphics_context.h"

namespace {
constexpr double kDisplayRate = 60;
}

HXCAnimatedImageView::HXCAnimatedImageView() { commonInit(); }

HXCAnimatedImageView::HXCAnimatedImageView(const toolkit::Rect& frame) {
    setFrame(frame);
    commonInit();
}

HXCAnimatedImageView::HXCAnimatedImageView(toolkit::ImagePtr image, toolkit::ImagePtr highlightedImage)
    : ImageView(std::move(image)) {
    setHighlightedImage(std::move(highlightedImage));
    commonInit();
}

HXCAnimatedImageView::~HXCAnimatedImageView() {
    if (displayLink_) displayLink_->invalidate();
}

void HXCAnimatedImageView::commonInit() {
    runLoopMode_ = defaultRunLoopMode();
    // Inverted colours would invert the pictures too.
    accessibility().ignoresInvertColors = true;
}

dispatch::RunLoopMode HXCAnimatedImageView::defaultRunLoopMode() {
    // The processor count is read from the system once: every view asks when it is made, and a
    // table makes one per row it shows.
    static const dispatch::RunLoopMode mode =
        std::thread::hardware_concurrency() < 2 ? dispatch::RunLoopMode::Default : dispatch::RunLoopMode::Common;
    return mode;
}

void HXCAnimatedImageView::setRunLoopMode(dispatch::RunLoopMode mode) {
    runLoopMode_ =
        mode == dispatch::RunLoopMode::Default || mode == dispatch::RunLoopMode::Common ? mode : defaultRunLoopMode();
}

void HXCAnimatedImageView::setAnimatedImage(std::shared_ptr<graphics::HXCAnimatedImage> image) {
    if (animatedImage_ && image == animatedImage_) return;
    if (image) {
        ImageView::setImage(nullptr);
        ImageView::setHighlighted(false);
        invalidateIntrinsicContentSize();
    } else {
        stopAnimating();
    }
    animatedImage_ = std::move(image);
    currentFrame_ = animatedImage_ ? animatedImage_->posterImage() : nullptr;
    currentFrameIndex_ = 0;
    loopCountdown_ = animatedImage_ && animatedImage_->loopCount() > 0 ? animatedImage_->loopCount()
                                                                       : std::numeric_limits<size_t>::max();
    accumulator_ = 0;
    updateShouldAnimate();
    if (shouldAnimate_) startAnimating();
    setNeedsDisplay();
}

toolkit::ImagePtr HXCAnimatedImageView::displayedImage() const { return animatedImage_ ? currentFrame_ : image(); }

void HXCAnimatedImageView::setImage(toolkit::ImagePtr image) {
    if (image) setAnimatedImage(nullptr);
    ImageView::setImage(std::move(image));
}

void HXCAnimatedImageView::setHighlighted(bool highlighted) {
    if (animatedImage_) return;
    ImageView::setHighlighted(highlighted);
}

double HXCAnimatedImageView::frameDelayGreatestCommonDivisor(const graphics::HXCAnimatedImage& image) {
    // To a hundredth of a second: P = 2.0 / 0.02.
    const double precision = 2.0 / 0.02;
    long divisor = 0;
    bool first = true;
    for (const auto& [index, delay] : image.delayTimesForIndexes()) {
        const long scaled = std::lround(static_cast<float>(delay) * precision);
        divisor = first ? scaled : std::gcd(divisor, scaled);
        first = false;
    }
    return static_cast<double>(divisor) / precision;
}

int HXCAnimatedImageView::preferredFramesPerSecond() const {
    if (!animatedImage_) return static_cast<int>(kDisplayRate);
    const double g = frameDelayGreatestCommonDivisor(*animatedImage_);
    if (!(g > 0)) return static_cast<int>(kDisplayRate);
    return static_cast<int>(std::clamp(std::ceil(1 / g - 1e-9), 1.0, kDisplayRate));
}

void HXCAnimatedImageView::startAnimating() {
    if (!animatedImage_) return;
    // Its loops have all been played: it stays on its last frame, shown again or not (a reused
    // cell would otherwise wake the display link for ever with nothing to show).
    if (loopCountdown_ == 0) {
        stopAnimating();
        return;
    }
    if (!displayLink_) {
        proxy_ = graphics::HXCWeakProxy<HXCAnimatedImageView>::weakProxyForObject(
            std::static_pointer_cast<HXCAnimatedImageView>(self()));
        auto proxy = proxy_;
        displayLink_ = std::make_unique<dispatch::DisplayLink>(
            [proxy](dispatch::Seconds t) { proxy->forward([t](HXCAnimatedImageView& v) { v.displayDidRefresh(t); }); },
            preferredFramesPerSecond(), runLoopMode_);
    }
    displayLink_->setPreferredFramesPerSecond(preferredFramesPerSecond());
    lastTimestamp_.reset();
    displayLink_->setPaused(false);
}

void HXCAnimatedImageView::stopAnimating() {
    if (displayLink_) displayLink_->setPaused(true);
}

bool HXCAnimatedImageView::isAnimating() const { return displayLink_ && !displayLink_->isPaused(); }

toolkit::Size HXCAnimatedImageView::intrinsicContentSize() const {
    if (animatedImage_) return currentFrame_ ? currentFrame_->size() : toolkit::Size{};
    return ImageView::intrinsicContentSize();
}

void HXCAnimatedImageView::updateShouldAnimate() {
    shouldAnimate_ = animatedImage_ && window() && superview() && !isHidden() && alpha() > 0;
}

void HXCAnimatedImageView::startOrStop() {
    updateShouldAnimate();
    if (shouldAnimate_) {
        startAnimating();
    } else {
        stopAnimating();
    }
}

void HXCAnimatedImageView::didMoveToSuperview() {
    ImageView::didMoveToSuperview();
    startOrStop();
}

void HXCAnimatedImageView::didMoveToWindow() {
    ImageView::didMoveToWindow();
    startOrStop();
}

void HXCAnimatedImageView::setAlpha(double alpha) {
    ImageView::setAlpha(alpha);
    startOrStop();
}

void HXCAnimatedImageView::setHidden(bool hidden) {
    ImageView::setHidden(hidden);
    startOrStop();
}

void HXCAnimatedImageView::draw(graphics::GraphicsContext& context, const toolkit::Rect& rect) {
    // The plain image is the image view's own drawing; the frames are drawn here.
    if (!animatedImage_ || !currentFrame_) return;
    const toolkit::Size s = currentFrame_->size();
    toolkit::Rect target = rect;
    if (contentMode() == toolkit::ContentMode::ScaleAspectFit && s.width > 0 && s.height > 0) {
        const double k = std::min(rect.width() / s.width, rect.height() / s.height);
        target = {rect.midX() - s.width * k / 2, rect.midY() - s.height * k / 2, s.width * k, s.height * k};
    }
    context.drawImage(*currentFrame_, target);
}

void HXCAnimatedImageView::displayDidRefresh(dispatch::Seconds timestamp) {
    // The display time since the last callback, at least one refresh of the display.
    const double elapsed =
        lastTimestamp_ ? std::max(timestamp - *lastTimestamp_, 0.0) : 1.0 / std::max(1, preferredFramesPerSecond());
    lastTimestamp_ = timestamp;
    if (!shouldAnimate_ || !animatedImage_) return;
    if (loopCountdown_ == 0) {
        stopAnimating();
        return;
    }
    const auto& delays = animatedImage_->delayTimesForIndexes();
    auto delay = delays.find(currentFrameIndex_);
    if (delay == delays.end()) {
        // A frame without a delay (it failed to decode, or the loops have finished): step past it.
        ++currentFrameIndex_;
        if (currentFrameIndex_ >= animatedImage_->frameCount() && loopCountdown_ > 0) {
            --loopCountdown_;
            if (loopCompletionBlock) loopCompletionBlock(loopCountdown_);
            if (loopCountdown_ == 0) {
                stopAnimating();
                return;
            }
            currentFrameIndex_ = 0;
        }
        return;
    }
    const double d = delay->second;
    toolkit::ImagePtr frame = animatedImage_->imageLazilyCachedAtIndex(currentFrameIndex_);
    if (!frame) return;  // waiting for the frame: no time is spent
    currentFrame_ = frame;
    if (needsDisplayWhenImageBecomesAvailable_) {
        setNeedsDisplay();
        needsDisplayWhenImageBecomesAvailable_ = false;
    }
    accumulator_ += elapsed;
    while (accumulator_ >= d) {
        accumulator_ -= d;
        ++currentFrameIndex_;
        if (currentFrameIndex_ >= animatedImage_->frameCount()) {
            --loopCountdown_;
            if (loopCompletionBlock) loopCompletionBlock(loopCountdown_);
            if (loopCountdown_ == 0) {
                stopAnimating();
                break;  // the playhead stays past the last frame
            }
            currentFrameIndex_ = 0;
        }
        needsDisplayWhenImageBecomesAvailable_ = true;
    }
}
