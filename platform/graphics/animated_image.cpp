#include "platform/graphics/animated_image.h"

#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "platform/graphics/graphics_context.h"

namespace graphics {
namespace {

constexpr const char* kGrowSelector = "growFrameCacheSizeAfterMemoryWarning:";
constexpr const char* kResetSelector = "resetFrameCacheSizeMaxInternal";
constexpr double kDefaultDelay = 0.1;
constexpr double kMinimumDelay = 0.02;

std::string format(const char* pattern, ...) {
    char buf[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buf, sizeof buf, pattern, args);
    va_end(args);
    return buf;
}

std::string describeData(const foundation::Data& d) { return format("<%zu bytes>", d.size()); }

std::string describeFrame(const ImageSource::FrameInfo& f) {
    return format("{%d, %d, %d, %d, disposal %d}", f.left, f.top, f.width, f.height, static_cast<int>(f.disposal));
}

struct LogSettings {
    std::mutex mutex;
    HXCAnimatedImage::LogBlock block;
    int level = 0;
};
LogSettings& logSettings() {
    static LogSettings s;
    return s;
}

// Every live image, weakly, for the memory warning.
struct Registry {
    std::mutex mutex;
    std::vector<std::weak_ptr<HXCAnimatedImage>> images;
};
Registry& registry() {
    static Registry r;
    return r;
}

void observeMemoryWarnings() {
    static std::once_flag once;
    std::call_once(once, [] {
        static int owner;
        foundation::NotificationCenter::defaultCenter().addObserver(
            &owner, foundation::kApplicationDidReceiveMemoryWarningNotification, [](const foundation::Notification&) {
                std::vector<std::shared_ptr<HXCAnimatedImage>> live;
                {
                    Registry& r = registry();
                    std::lock_guard<std::mutex> lock(r.mutex);
                    for (auto it = r.images.begin(); it != r.images.end();) {
                        if (auto image = it->lock()) {
                            live.push_back(std::move(image));
                            ++it;
                        } else {
                            it = r.images.erase(it);
                        }
                    }
                }
                for (const auto& image : live) image->didReceiveMemoryWarning();
            });
    });
}

}  // namespace

void HXCAnimatedImage::log(int level, const std::function<std::string()>& message) {
    LogBlock block;
    {
        LogSettings& s = logSettings();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.block || level > s.level) return;
        block = s.block;
    }
    block(message(), level);
}

void HXCAnimatedImage::setLogBlock(LogBlock block, int logLevel) {
    LogSettings& s = logSettings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.block = std::move(block);
    s.level = logLevel;
}

std::shared_ptr<HXCAnimatedImage> HXCAnimatedImage::init() {
    log(1, [] {
        return std::string("Use `-initWithAnimatedGIFData:` and supply the animated GIF data as an argument to "
                           "initialize an object of type `HXCAnimatedImage`.");
    });
    return nullptr;
}

std::shared_ptr<HXCAnimatedImage> HXCAnimatedImage::animatedImageWithGIFData(const foundation::Data& data) {
    return initWithAnimatedGIFData(data, 1.0, 0, true);
}

std::shared_ptr<HXCAnimatedImage> HXCAnimatedImage::animatedImageWithGIFData(const foundation::Data& data,
                                                                             double scale) {
    return initWithAnimatedGIFData(data, scale, 0, true);
}

std::shared_ptr<HXCAnimatedImage> HXCAnimatedImage::initWithAnimatedGIFData(const foundation::Data& data, double scale,
                                                                            size_t optimal, bool predrawing) {
    if (data.empty()) {
        log(1, [] { return std::string("No animated GIF data supplied."); });
        return nullptr;
    }
    auto image = std::make_shared<HXCAnimatedImage>(Token{});
    image->data_ = data;
    image->scale_ = scale > 0 && std::isfinite(scale) ? scale : 1;
    image->predrawingEnabled_ = predrawing;
    auto source = ImageSource::create(data);
    if (!source.ok()) {
        log(1, [&] {
            return format("Failed to `CGImageSourceCreateWithData` for animated GIF data %s",
                          describeData(data).c_str());
        });
        return nullptr;
    }
    image->imageSource_ = *source;
    const ImageSource& s = **source;
    if (s.type() != "com.compuserve.gif") {
        log(1, [&] {
            return format("Supplied data is of type %s and doesn't seem to be GIF data %s", s.type().c_str(),
                          describeData(data).c_str());
        });
        return nullptr;
    }
    image->loopCount_ = static_cast<size_t>(s.loopCount().value_or(0));
    const size_t n = s.count();
    size_t skipped = 0;
    for (size_t i = 0; i < n; ++i) {
        const ImageSource::FrameInfo& info = s.frameInfo(i);
        if (!info.complete) {
            log(3, [&] {
                return format("Dropping frame %zu because failed to `CGImageSourceCreateImageAtIndex` with image "
                              "source %s",
                              i, describeData(data).c_str());
            });
            ++skipped;
            continue;
        }
        if (!image->posterImage_) {
            ImagePtr poster = image->imageAtIndex(i);
            if (!poster) {
                log(3, [&] {
                    return format("Dropping frame %zu because valid `CGImageRef` %s did result in `nil`-`UIImage`.", i,
                                  describeFrame(info).c_str());
                });
                ++skipped;
                continue;
            }
            image->posterImage_ = poster;
            image->size_ = poster->size();
            image->posterImageFrameIndex_ = i;
            std::lock_guard lock(image->mutex_);
            image->cachedFramesForIndexes_[i] = poster;
            image->cachedFrameIndexes_.insert(i);
        }
        double delay;
        if (info.delayTime) {
            delay = *info.delayTime;
        } else if (i == 0) {
            log(3, [&] {
                return format("Falling back to default delay time for first frame %s because none found in GIF "
                              "properties %s",
                              describeFrame(info).c_str(), describeData(data).c_str());
            });
            delay = kDefaultDelay;
        } else {
            log(3, [&] {
                return format("Falling back to preceding delay time for frame %zu %s because none found in GIF "
                              "properties %s",
                              i, describeFrame(info).c_str(), describeData(data).c_str());
            });
            auto previous = image->delayTimesForIndexes_.find(i - 1);
            delay = previous != image->delayTimesForIndexes_.end() ? previous->second : 0;
        }
        // Compared in single precision, as the delays were read.
        if (static_cast<float>(delay) < static_cast<float>(kMinimumDelay) - FLT_EPSILON) {
            log(3, [&] {
                return format("Rounding frame %zu's `delayTime` from %f up to default %f (minimum supported: %f).", i,
                              delay, kDefaultDelay, kMinimumDelay);
            });
            delay = kDefaultDelay;
        }
        image->delayTimesForIndexes_[i] = delay;
    }
    image->frameCount_ = n;
    if (n == 0) {
        log(3, [&] {
            return format("Failed to create any valid frames for GIF with properties %s", describeData(data).c_str());
        });
        return nullptr;
    }
    if (n == 1) {
        log(3, [&] {
            return format("Created valid GIF but with only a single frame. Image properties: %s",
                          describeData(data).c_str());
        });
    }
    if (optimal == 0) {
        // Megabytes of decoded frames: the poster's row bytes times its height in points, per frame.
        double megabytes = 0;
        if (image->posterImage_) {
            const double rowBytes = static_cast<double>(image->posterImage_->pixelWidth()) * 4;
            megabytes = rowBytes * image->posterImage_->size().height * static_cast<double>(n - skipped) / 1048576;
        }
        image->frameCacheSizeOptimal_ = megabytes <= 10 ? n : megabytes <= 75 ? 5 : 1;
    } else {
        image->frameCacheSizeOptimal_ = optimal;
    }
    image->frameCacheSizeOptimal_ = std::min(image->frameCacheSizeOptimal_, n);
    image->weakProxy_ = HXCWeakProxy<HXCAnimatedImage>::weakProxyForObject(image);
    observeMemoryWarnings();
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.images.push_back(image);
    }
    return image;
}

HXCAnimatedImage::~HXCAnimatedImage() {
    if (weakProxy_) dispatch::RunLoop::main().cancelPerforms(weakProxy_.get());
}

ImagePtr HXCAnimatedImage::imageAtIndex(size_t index) const {
    auto bitmap = imageSource_->frameAt(index);
    if (!bitmap.ok()) return nullptr;
    ImagePtr frame = Image::fromBitmap(*bitmap, scale_, ImageOrientation::up);
    return predrawingEnabled_ && posterImage_ ? predrawnImageFromImage(frame) : frame;
}

ImagePtr HXCAnimatedImage::imageLazilyCachedAtIndex(size_t index) {
    std::lock_guard lock(mutex_);
    if (index >= frameCount_) {
        log(2, [&] {
            return format("Skipping requested frame %zu beyond bounds (total frame count: %zu) for animated image: %s",
                          index, frameCount_, description().c_str());
        });
        return nullptr;
    }
    requestedFrameIndex_ = index;
    if (cachedFrameIndexes_.size() < frameCount_) {
        IndexSet wanted;
        for (size_t i : frameIndexesToCache()) {
            if (!cachedFrameIndexes_.count(i) && !requestedFrameIndexes_.count(i) && i != posterImageFrameIndex_) {
                wanted.insert(i);
            }
        }
        if (!wanted.empty()) addFrameIndexesToCache(wanted);
    }
    auto it = cachedFramesForIndexes_.find(index);
    ImagePtr image = it == cachedFramesForIndexes_.end() ? nullptr : it->second;
    purgeFrameCacheIfNeeded();
    return image;
}

HXCAnimatedImage::IndexSet HXCAnimatedImage::frameIndexesToCache() const {
    IndexSet out;
    const size_t current = currentLocked();
    if (current == frameCount_) {
        for (size_t i = 0; i < frameCount_; ++i) out.insert(i);
        return out;
    }
    const size_t first = std::min(current, frameCount_ - requestedFrameIndex_);
    for (size_t i = 0; i < first; ++i) out.insert(requestedFrameIndex_ + i);
    for (size_t i = 0; i < current - first; ++i) out.insert(i);
    if (out.size() != current) {
        log(2, [] { return std::string("Number of frames to cache doesn't equal expected cache size."); });
    }
    out.insert(posterImageFrameIndex_);
    return out;
}

void HXCAnimatedImage::addFrameIndexesToCache(const IndexSet& indexes) {
    requestedFrameIndexes_.insert(indexes.begin(), indexes.end());
    if (!serialQueue_) serialQueue_ = dispatch::Queue::serial("com.hxconnect.framecachingqueue");
    // Playing order from the playhead: the frames from it to the end, then from the start.
    std::vector<size_t> order;
    for (size_t i : indexes) {
        if (i >= requestedFrameIndex_) order.push_back(i);
    }
    for (size_t i : indexes) {
        if (i < requestedFrameIndex_) order.push_back(i);
    }
    std::weak_ptr<HXCAnimatedImage> weak = weak_from_this();
    serialQueue_->async([weak, order] {
        for (size_t i : order) {
            ImagePtr frame;
            {
                auto self = weak.lock();
                if (!self) return;
                frame = self->imageAtIndex(i);
            }
            if (!frame) continue;
            dispatch::Queue::main()->async([weak, i, frame] {
                auto self = weak.lock();
                if (!self) return;  // the image went away: the frame is dropped
                std::lock_guard lock(self->mutex_);
                self->cachedFramesForIndexes_[i] = frame;
                self->cachedFrameIndexes_.insert(i);
                self->requestedFrameIndexes_.erase(i);
            });
        }
    });
}

void HXCAnimatedImage::purgeFrameCacheIfNeeded() {
    std::lock_guard lock(mutex_);
    if (cachedFrameIndexes_.size() <= currentLocked()) return;
    const IndexSet keep = frameIndexesToCache();
    for (auto it = cachedFrameIndexes_.begin(); it != cachedFrameIndexes_.end();) {
        if (!keep.count(*it)) {
            cachedFramesForIndexes_.erase(*it);
            it = cachedFrameIndexes_.erase(it);
        } else {
            ++it;
        }
    }
}

size_t HXCAnimatedImage::currentLocked() const {
    size_t current = frameCacheSizeOptimal_;
    if (frameCacheSizeMax_ > 0) current = std::min(current, frameCacheSizeMax_);
    if (frameCacheSizeMaxInternal_ > 0) current = std::min(current, frameCacheSizeMaxInternal_);
    return current;
}

size_t HXCAnimatedImage::frameCacheSizeCurrent() const {
    std::lock_guard lock(mutex_);
    return currentLocked();
}

size_t HXCAnimatedImage::frameCacheSizeMax() const {
    std::lock_guard lock(mutex_);
    return frameCacheSizeMax_;
}

size_t HXCAnimatedImage::frameCacheSizeMaxInternal() const {
    std::lock_guard lock(mutex_);
    return frameCacheSizeMaxInternal_;
}

void HXCAnimatedImage::setFrameCacheSizeMax(size_t value) {
    std::lock_guard lock(mutex_);
    if (value == frameCacheSizeMax_) return;
    const bool shrinks = value < currentLocked();
    frameCacheSizeMax_ = value;
    if (shrinks) purgeFrameCacheIfNeeded();
}

void HXCAnimatedImage::setFrameCacheSizeMaxInternal(size_t value) {
    std::lock_guard lock(mutex_);
    if (value == frameCacheSizeMaxInternal_) return;
    const bool shrinks = value < currentLocked();
    frameCacheSizeMaxInternal_ = value;
    if (shrinks) purgeFrameCacheIfNeeded();
}

void HXCAnimatedImage::didReceiveMemoryWarning() {
    size_t count;
    {
        std::lock_guard lock(mutex_);
        count = ++memoryWarningCount_;
    }
    dispatch::RunLoop& loop = dispatch::RunLoop::main();
    loop.cancelPerform(weakProxy_.get(), kGrowSelector, foundation::Value(int64_t(2)));
    loop.cancelPerform(weakProxy_.get(), kResetSelector, foundation::Value());
    log(4, [&] {
        return format("Attempt setting frame cache size max to %lu (previous was %lu) after memory warning #%lu for "
                      "animated image: %s",
                      1ul, static_cast<unsigned long>(frameCacheSizeMaxInternal()), static_cast<unsigned long>(count),
                      description().c_str());
    });
    setFrameCacheSizeMaxInternal(1);
    if (count - 1 <= 2) {
        auto proxy = weakProxy_;
        loop.perform(proxy, kGrowSelector, foundation::Value(int64_t(2)), 2.0, [proxy](const foundation::Value& v) {
            proxy->forward(
                [&](HXCAnimatedImage& image) { image.growFrameCacheSizeAfterMemoryWarning(v.int64Value()); });
        });
    }
}

void HXCAnimatedImage::growFrameCacheSizeAfterMemoryWarning(size_t size) {
    setFrameCacheSizeMaxInternal(size);
    log(4, [&] {
        return format("Grew frame cache size max to %lu after memory warning for animated image: %s",
                      static_cast<unsigned long>(size), description().c_str());
    });
    auto proxy = weakProxy_;
    dispatch::RunLoop::main().perform(
        proxy, kResetSelector, foundation::Value(), 3.0, [proxy](const foundation::Value&) {
            proxy->forward([](HXCAnimatedImage& image) { image.resetFrameCacheSizeMaxInternal(); });
        });
}

void HXCAnimatedImage::resetFrameCacheSizeMaxInternal() {
    setFrameCacheSizeMaxInternal(0);
    log(4, [&] {
        return format("Reset frame cache size max (current frame cache size: %lu) for animated image: %s",
                      static_cast<unsigned long>(frameCacheSizeCurrent()), description().c_str());
    });
}

Size HXCAnimatedImage::sizeForImage(const std::any& image) {
    if (!image.has_value()) return {};
    if (auto* i = std::any_cast<ImagePtr>(&image)) return *i ? (*i)->size() : Size{};
    if (auto* a = std::any_cast<std::shared_ptr<HXCAnimatedImage>>(&image)) return *a ? (*a)->size() : Size{};
    if (std::any_cast<std::nullptr_t>(&image)) return {};
    log(1, [&] {
        return format("`image` isn't of expected types `UIImage` or `HXCAnimatedImage`: %s", image.type().name());
    });
    return {};
}

ImagePtr HXCAnimatedImage::predrawnImageFromImage(const ImagePtr& image) {
    if (!image) return image;
    const Size s = image->size();
    const int w = static_cast<int>(s.width * image->scale()), h = static_cast<int>(s.height * image->scale());
    auto context = GraphicsContext::bitmap(w, h);
    if (!context.ok()) {
        log(1, [&] {
            return format("Failed to `CGBitmapContextCreate` with color space %s and parameters (width: %d height: %d "
                          "bitsPerComponent: %d bytesPerRow: %d) for image %s",
                          "RGB", w, h, 8, 4 * w, "frame");
        });
        return image;
    }
    // Drawn stored pixels as they are; the result keeps the image's scale and orientation.
    auto bitmap = image->bitmap();
    if (!bitmap) return image;
    (*context)->drawBitmap(*bitmap, Rect{0, 0, static_cast<double>(w), static_cast<double>(h)});
    return Image::fromBitmap((*context)->copyBitmap(), image->scale(), image->orientation());
}

size_t HXCAnimatedImage::requestedFrameIndex() const {
    std::lock_guard lock(mutex_);
    return requestedFrameIndex_;
}

HXCAnimatedImage::IndexSet HXCAnimatedImage::cachedFrameIndexes() const {
    std::lock_guard lock(mutex_);
    return cachedFrameIndexes_;
}

HXCAnimatedImage::IndexSet HXCAnimatedImage::requestedFrameIndexes() const {
    std::lock_guard lock(mutex_);
    return requestedFrameIndexes_;
}

HXCAnimatedImage::IndexSet HXCAnimatedImage::allFramesIndexSet() const {
    IndexSet out;
    for (size_t i = 0; i < frameCount_; ++i) out.insert(i);
    return out;
}

size_t HXCAnimatedImage::memoryWarningCount() const {
    std::lock_guard lock(mutex_);
    return memoryWarningCount_;
}

std::string HXCAnimatedImage::description() const {
    return format("<HXCAnimatedImage: %p> size=%s frameCount=%zu", static_cast<const void*>(this),
                  toString(size_).c_str(), frameCount_);
}

}  // namespace graphics
