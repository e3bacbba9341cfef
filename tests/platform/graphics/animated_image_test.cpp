#include "platform/graphics/animated_image.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "platform/graphics/codecs.h"
#include "tests/platform/graphics/gif_writer.h"

using namespace graphics;
using hxtest::GifFrameSpec;
using hxtest::GifSpec;

namespace {

// Frames of one colour each (index = frame number), with the delays (in hundredths) given;
// a negative delay writes no control block for that frame.
foundation::Data gif(int w, int h, const std::vector<int>& delays, std::optional<int> loop = std::nullopt) {
    GifSpec spec{w, h, {}, 0, loop, {}};
    for (int i = 0; i < 16; ++i)
        spec.palette.push_back({static_cast<uint8_t>(i * 16), 0, static_cast<uint8_t>(255 - i * 16)});
    for (size_t f = 0; f < delays.size(); ++f) {
        GifFrameSpec frame;
        frame.width = w, frame.height = h;
        frame.control = delays[f] >= 0;
        frame.delayHundredths = std::max(0, delays[f]);
        frame.indices.assign(size_t(w) * h, static_cast<uint8_t>(f % 16));
        spec.frames.push_back(std::move(frame));
    }
    return hxtest::writeGif(spec);
}

// What the process's heap holds now, small blocks and mapped ones alike.
size_t heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

struct LogCapture {
    std::vector<std::pair<std::string, int>> lines;
    explicit LogCapture(int level = 5) {
        HXCAnimatedImage::setLogBlock([this](const std::string& m, int l) { lines.emplace_back(m, l); }, level);
    }
    ~LogCapture() { HXCAnimatedImage::setLogBlock(nullptr, 0); }
    bool saw(const std::string& prefix, int level) const {
        for (const auto& [m, l] : lines) {
            if (m.rfind(prefix, 0) == 0 && l == level) return true;
        }
        return false;
    }
};

}  // namespace

TEST(HXCAnimatedImage, DelaysFollowTheFallbackAndMinimumRules) {
    LogCapture log;
    // No control block on the first frame, none on the third, 0.01 s, exactly 0.02 s, 0 s, 0.15 s.
    auto image = HXCAnimatedImage::animatedImageWithGIFData(gif(4, 3, {-1, 7, -1, 1, 2, 0, 15}, 3), 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frameCount(), 7u);
    EXPECT_EQ(image->loopCount(), 3u);
    const std::map<size_t, double> expected = {{0, 0.1},  {1, 0.07}, {2, 0.07}, {3, 0.1},
                                               {4, 0.02}, {5, 0.1},  {6, 0.15}};
    ASSERT_EQ(image->delayTimesForIndexes().size(), expected.size());
    for (const auto& [i, d] : expected) EXPECT_NEAR(image->delayTimesForIndexes().at(i), d, 1e-9) << i;
    EXPECT_TRUE(log.saw("Falling back to default delay time for first frame", 3));
    EXPECT_TRUE(log.saw("Falling back to preceding delay time for frame 2", 3));
    EXPECT_TRUE(log.saw(
        "Rounding frame 3's `delayTime` from 0.010000 up to default 0.100000 (minimum supported: 0.020000).", 3));
    EXPECT_FALSE(log.saw("Rounding frame 4's", 3)) << "0.02 s stays";
    // The poster is the first frame, at the given scale.
    ASSERT_TRUE(image->posterImage());
    EXPECT_EQ(image->size(), (Size{2, 1.5}));
    EXPECT_EQ(image->posterImageFrameIndex(), 0u);
    EXPECT_EQ(image->cachedFrameIndexes(), (HXCAnimatedImage::IndexSet{0}));
    EXPECT_EQ(HXCAnimatedImage::sizeForImage(std::any(image)), (Size{2, 1.5}));
    EXPECT_EQ(HXCAnimatedImage::sizeForImage(std::any(image->posterImage())), (Size{2, 1.5}));
    EXPECT_EQ(HXCAnimatedImage::sizeForImage(std::any()), (Size{}));
    EXPECT_EQ(HXCAnimatedImage::sizeForImage(std::any(42)), (Size{}));
    EXPECT_TRUE(log.saw("`image` isn't of expected types `UIImage` or `HXCAnimatedImage`: ", 1));
    EXPECT_NE(image->description().find(" size={2, 1.5} frameCount=7"), std::string::npos);
}

TEST(HXCAnimatedImage, BadInputGivesNoObject) {
    LogCapture log(1);
    EXPECT_FALSE(HXCAnimatedImage::init());
    EXPECT_TRUE(log.saw("Use `-initWithAnimatedGIFData:` and supply the animated GIF data", 1));
    EXPECT_FALSE(HXCAnimatedImage::animatedImageWithGIFData({}));
    EXPECT_TRUE(log.saw("No animated GIF data supplied.", 1));
    EXPECT_FALSE(HXCAnimatedImage::animatedImageWithGIFData({'j', 'u', 'n', 'k'}));
    EXPECT_TRUE(log.saw("Failed to `CGImageSourceCreateWithData` for animated GIF data", 1));
    const foundation::Data png = encodePNG(*Bitmap::make(2, 2).value()).value();
    EXPECT_FALSE(HXCAnimatedImage::animatedImageWithGIFData(png));
    EXPECT_TRUE(log.saw("Supplied data is of type public.png and doesn't seem to be GIF data", 1));
    // A GIF with a screen and no frames.
    EXPECT_FALSE(HXCAnimatedImage::animatedImageWithGIFData(gif(3, 3, {})));
    // One frame is an image all the same; its loop count is 0 without an application block.
    auto single = HXCAnimatedImage::animatedImageWithGIFData(gif(3, 3, {5}));
    ASSERT_TRUE(single);
    EXPECT_EQ(single->frameCount(), 1u);
    EXPECT_EQ(single->loopCount(), 0u);
    // A GIF cut inside its second frame keeps the first and counts the broken one without a delay.
    foundation::Data cut = gif(8, 8, {5, 5});
    cut.resize(cut.size() - 12);
    auto broken = HXCAnimatedImage::animatedImageWithGIFData(cut);
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->frameCount(), 2u);
    EXPECT_EQ(broken->delayTimesForIndexes().size(), 1u);
}

TEST(HXCAnimatedImage, CacheSizeFollowsTheDecodedSize) {
    struct Case {
        int w, h, frames;
        size_t optimal, expected;
    } cases[] = {
        {10, 10, 4, 0, 4},       // tiny: every frame
        {1000, 700, 4, 0, 5},    // 10.7 MB: a window of 5 (capped at 4 frames: 4)
        {1000, 700, 8, 0, 5},    // 21 MB: 5
        {2000, 1000, 10, 0, 1},  // 76 MB: one
        {10, 10, 4, 9, 4},       // an optimal size past the frame count is capped
        {10, 10, 4, 2, 2},
    };
    for (const Case& c : cases) {
        auto image = HXCAnimatedImage::initWithAnimatedGIFData(gif(c.w, c.h, std::vector<int>(c.frames, 10)), 1,
                                                               c.optimal, false);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->frameCacheSizeOptimal(), std::min<size_t>(c.expected, c.frames)) << c.w << "x" << c.h;
    }
}

TEST(HXCAnimatedImage, FramesAreDecodedInTheBackgroundInPlayingOrder) {
    dispatch::ScopedVirtualClock clock;
    // Six frames with a cache of three: a window from the playhead, wrapping, plus the poster.
    auto image = HXCAnimatedImage::initWithAnimatedGIFData(gif(6, 6, std::vector<int>(6, 10)), 1, 3, true);
    ASSERT_TRUE(image);
    LogCapture log(2);
    EXPECT_FALSE(image->imageLazilyCachedAtIndex(4)) << "not decoded yet";
    EXPECT_EQ(image->requestedFrameIndex(), 4u);
    EXPECT_EQ(image->requestedFrameIndexes(), (HXCAnimatedImage::IndexSet{4, 5}));
    clock->runUntilIdle();
    EXPECT_TRUE(image->requestedFrameIndexes().empty());
    ImagePtr four = image->imageLazilyCachedAtIndex(4);
    ASSERT_TRUE(four);
    EXPECT_EQ(four->bitmap()->rgbaAt(2, 2), (std::array<uint8_t, 4>{64, 0, 191, 255})) << "frame 4's colour";
    EXPECT_EQ(image->cachedFrameIndexes(), (HXCAnimatedImage::IndexSet{0, 4, 5}));
    // Moving on purges what is outside the window (the poster always stays).
    image->imageLazilyCachedAtIndex(1);
    clock->runUntilIdle();
    image->imageLazilyCachedAtIndex(1);
    EXPECT_EQ(image->cachedFrameIndexes(), (HXCAnimatedImage::IndexSet{0, 1, 2, 3}));
    EXPECT_FALSE(image->imageLazilyCachedAtIndex(6));
    EXPECT_TRUE(log.saw("Skipping requested frame 6 beyond bounds (total frame count: 6)", 2));
    EXPECT_EQ(image->requestedFrameIndex(), 1u) << "an index past the end changes nothing";
    // Frames delivered after the image is gone are dropped.
    std::weak_ptr<HXCAnimatedImage> weak = image;
    image->imageLazilyCachedAtIndex(4);
    image.reset();
    clock->runUntilIdle();
    EXPECT_TRUE(weak.expired());
}

TEST(HXCAnimatedImage, MemoryWarningsShrinkTheCacheAndItGrowsBack) {
    dispatch::ScopedVirtualClock clock;
    auto image = HXCAnimatedImage::initWithAnimatedGIFData(gif(6, 6, std::vector<int>(6, 10)), 1, 0, false);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->frameCacheSizeCurrent(), 6u);
    image->imageLazilyCachedAtIndex(0);
    clock->runUntilIdle();
    image->imageLazilyCachedAtIndex(2);
    EXPECT_EQ(image->cachedFrameIndexes().size(), 6u);
    image->imageLazilyCachedAtIndex(0);  // the playhead on the poster
    auto warn = [] {
        foundation::NotificationCenter::defaultCenter().post(
            foundation::kApplicationDidReceiveMemoryWarningNotification);
    };
    warn();
    EXPECT_EQ(image->memoryWarningCount(), 1u);
    EXPECT_EQ(image->frameCacheSizeMaxInternal(), 1u);
    EXPECT_EQ(image->frameCacheSizeCurrent(), 1u);
    EXPECT_EQ(image->cachedFrameIndexes().size(), 1u) << "one frame stays";
    clock->advance(1.9);
    EXPECT_EQ(image->frameCacheSizeMaxInternal(), 1u);
    clock->advance(0.2);
    EXPECT_EQ(image->frameCacheSizeMaxInternal(), 2u) << "2 s later the bound is 2";
    clock->advance(2.8);  // the growth ran at 2.0 s
    EXPECT_EQ(image->frameCacheSizeMaxInternal(), 2u);
    clock->advance(0.2);
    EXPECT_EQ(image->frameCacheSizeMaxInternal(), 0u) << "3 s after that it is lifted";
    // A warning while growing cancels the pending steps and starts again.
    warn();
    clock->advance(1);
    warn();
    clock->advance(1.5);
    EXPECT_EQ(image->frameCacheSizeMaxInternal(), 1u);
    clock->advance(0.6);
    EXPECT_EQ(image->frameCacheSizeMaxInternal(), 2u);
    // The fourth warning leaves it at one for good.
    warn();
    EXPECT_EQ(image->memoryWarningCount(), 4u);
    clock->advance(60);
    EXPECT_EQ(image->frameCacheSizeMaxInternal(), 1u);
    // A user bound below the current size purges at once.
    image->setFrameCacheSizeMax(3);
    EXPECT_EQ(image->frameCacheSizeMax(), 3u);
}

TEST(HXCAnimatedImage, PendingCallsDieWithTheImage) {
    dispatch::ScopedVirtualClock clock;
    auto image = HXCAnimatedImage::animatedImageWithGIFData(gif(2, 2, {10, 10}));
    ASSERT_TRUE(image);
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
    std::weak_ptr<HXCAnimatedImage> weak = image;
    image.reset();
    EXPECT_TRUE(weak.expired()) << "the delayed call holds only the proxy";
    clock->advance(10);
}

TEST(HXCWeakProxy, ForwardsWhileTheTargetLives) {
    auto target = std::make_shared<int>(5);
    auto proxy = HXCWeakProxy<int>::weakProxyForObject(target);
    EXPECT_EQ(proxy->forward([](int& v) { return v * 2; }), 10);
    target.reset();
    EXPECT_EQ(proxy->forward([](int& v) { return v * 2; }), 0) << "swallowed with a zero answer";
    EXPECT_FALSE(proxy->target());
}

TEST(HXCAnimatedImage, HoldsNoDecodedFramesOutsideItsCache) {
    // 20 frames of 2000 x 1000: 153 MB decoded, so a cache of one frame. Whatever decodes them
    // may keep the bytes, one canvas to compose on and the frames the cache holds, nothing per
    // frame (read into palette indices alone they would be 40 MB).
    dispatch::ScopedVirtualClock clock;
    constexpr size_t kFrameBytes = size_t(2000) * 1000 * 4;
    const foundation::Data data = gif(2000, 1000, std::vector<int>(20, 10), 0);
    const size_t before = heapInUse();
    auto image = HXCAnimatedImage::initWithAnimatedGIFData(data, 1, 0, false);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->frameCacheSizeOptimal(), 1u);
    const size_t budget = 2 * data.size() + 2 * kFrameBytes + (2u << 20);
    EXPECT_LT(heapInUse() - before, budget) << "the poster and one canvas, no frame store";
    // Played through, the cache keeps the poster and the frame at the playhead; composing the
    // others leaves nothing behind.
    for (size_t i = 0; i < image->frameCount(); ++i) {
        image->imageLazilyCachedAtIndex(i);
        clock->runUntilIdle();
        auto shown = image->imageLazilyCachedAtIndex(i);
        ASSERT_TRUE(shown) << i;
        EXPECT_EQ(shown->bitmap()->rgbaAt(1999, 999)[0], (i % 16) * 16) << i;
    }
    EXPECT_LE(image->cachedFrameIndexes().size(), 2u);
    EXPECT_LT(heapInUse() - before, budget + kFrameBytes);
}
