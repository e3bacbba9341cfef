// An animated GIF held for display: its frames read through a frame source, a poster frame, every
// frame's delay and the loop count. Only some frames are held decoded, in a cache whose size
// follows the GIF's size in memory (all frames for small GIFs, a window ahead of the playhead for
// larger ones); missing frames are decoded on a serial background queue and delivered on the main
// queue. A memory warning shrinks the cache to one frame at once and lets it grow back after 2 and
// 5 seconds (not after the fourth warning). Frame requests and setters belong to the main thread;
// the cache is also guarded, since memory warnings arrive on the posting thread.
#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"
#include "platform/graphics/image.h"
#include "platform/graphics/image_source.h"
#include "platform/graphics/weak_proxy.h"

namespace graphics {

class HXCAnimatedImage : public std::enable_shared_from_this<HXCAnimatedImage> {
public:
    using LogBlock = std::function<void(const std::string& message, int level)>;
    using IndexSet = std::set<size_t>;

    static std::shared_ptr<HXCAnimatedImage> animatedImageWithGIFData(const foundation::Data& data);
    static std::shared_ptr<HXCAnimatedImage> animatedImageWithGIFData(const foundation::Data& data, double scale);
    // The designated form; an optimal frame cache size of 0 chooses one from the GIF's size. None
    // for data that is empty, not an image, not a GIF, or without frames.
    static std::shared_ptr<HXCAnimatedImage> initWithAnimatedGIFData(const foundation::Data& data, double scale,
                                                                     size_t optimalFrameCacheSize,
                                                                     bool predrawingEnabled);
    static std::shared_ptr<HXCAnimatedImage> initWithAnimatedGIFData(const foundation::Data& data) {
        return initWithAnimatedGIFData(data, 1.0, 0, true);
    }
    // Without data there is nothing to show: logs and gives none.
    static std::shared_ptr<HXCAnimatedImage> init();
    ~HXCAnimatedImage();

    // The frame at index if it is decoded (none otherwise, or past the end); asks for the frames
    // around it to be decoded. Main thread.
    ImagePtr imageLazilyCachedAtIndex(size_t index);

    // The size of an image (`ImagePtr`) or an animated image (`std::shared_ptr<HXCAnimatedImage>`);
    // zero for nothing, and for anything else (which is logged).
    static Size sizeForImage(const std::any& image);
    static ImagePtr predrawnImageFromImage(const ImagePtr& image);
    static void setLogBlock(LogBlock block, int logLevel);

    void setFrameCacheSizeMax(size_t value);
    size_t frameCacheSizeMax() const;
    size_t frameCacheSizeMaxInternal() const;
    size_t frameCacheSizeCurrent() const;
    size_t frameCacheSizeOptimal() const { return frameCacheSizeOptimal_; }

    bool predrawingEnabled() const { return predrawingEnabled_; }
    const ImagePtr& posterImage() const { return posterImage_; }
    size_t loopCount() const { return loopCount_; }
    const std::map<size_t, double>& delayTimesForIndexes() const { return delayTimesForIndexes_; }
    size_t frameCount() const { return frameCount_; }
    const foundation::Data& data() const { return data_; }
    double scale() const { return scale_; }
    Size size() const { return size_; }
    size_t posterImageFrameIndex() const { return posterImageFrameIndex_; }
    size_t requestedFrameIndex() const;
    IndexSet cachedFrameIndexes() const;
    IndexSet requestedFrameIndexes() const;
    IndexSet allFramesIndexSet() const;
    size_t memoryWarningCount() const;
    std::string description() const;

    // What a memory warning does to this image (the class calls it for every live image).
    void didReceiveMemoryWarning();

    // Construction goes through the factories; public for make_shared only.
    struct Token {};
    explicit HXCAnimatedImage(Token) {}

private:
    IndexSet frameIndexesToCache() const HX_REQUIRES(mutex_);
    void addFrameIndexesToCache(const IndexSet& indexes) HX_REQUIRES(mutex_);
    void purgeFrameCacheIfNeeded();
    void setFrameCacheSizeMaxInternal(size_t value);
    size_t currentLocked() const HX_REQUIRES(mutex_);
    ImagePtr imageAtIndex(size_t index) const;
    void growFrameCacheSizeAfterMemoryWarning(size_t size);
    void resetFrameCacheSizeMaxInternal();
    static void log(int level, const std::function<std::string()>& message);

    bool predrawingEnabled_ = true;
    ImagePtr posterImage_;
    size_t loopCount_ = 0;
    std::map<size_t, double> delayTimesForIndexes_;
    size_t frameCount_ = 0;
    foundation::Data data_;
    double scale_ = 1;
    size_t frameCacheSizeOptimal_ = 0;
    size_t posterImageFrameIndex_ = 0;
    Size size_;
    std::shared_ptr<ImageSource> imageSource_;
    std::shared_ptr<HXCWeakProxy<HXCAnimatedImage>> weakProxy_;

    mutable foundation::RecursiveMutex mutex_;
    size_t frameCacheSizeMax_ HX_GUARDED_BY(mutex_) = 0;
    size_t frameCacheSizeMaxInternal_ HX_GUARDED_BY(mutex_) = 0;
    size_t requestedFrameIndex_ HX_GUARDED_BY(mutex_) = 0;
    std::map<size_t, ImagePtr> cachedFramesForIndexes_ HX_GUARDED_BY(mutex_);
    IndexSet cachedFrameIndexes_ HX_GUARDED_BY(mutex_);
    IndexSet requestedFrameIndexes_ HX_GUARDED_BY(mutex_);
    size_t memoryWarningCount_ HX_GUARDED_BY(mutex_) = 0;
    std::shared_ptr<dispatch::Queue> serialQueue_ HX_GUARDED_BY(mutex_);
};

}  // namespace graphics
