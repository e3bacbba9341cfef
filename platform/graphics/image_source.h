// The frames of image data: for GIF every frame with its delay, disposal and transparency, and the
// loop count; for the still formats one frame. Frames are composed on the full canvas as a viewer
// shows them (disposal to background clears to transparent, disposal to previous restores the
// area as it was before the frame), on demand and in order from the last one composed. A GIF's
// frames are read from its bytes each time they are composed: the source keeps the bytes, one
// canvas and what the next disposal restores, never a decoded frame per frame (whoever shows the
// frames keeps the ones it wants within its own budget). Safe to use from several threads (one
// composition at a time).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"
#include "platform/graphics/bitmap.h"

namespace graphics {

// More frames than this is taken as hostile data.
inline constexpr size_t kMaxImageFrames = 10000;

class ImageSource {
public:
    enum class Disposal { unspecified = 0, none = 1, background = 2, previous = 3 };

    struct FrameInfo {
        int left = 0, top = 0, width = 0, height = 0;
        bool interlaced = false;
        Disposal disposal = Disposal::unspecified;
        std::optional<int> transparentIndex;
        // The frame's own delay in seconds as written (hundredths), when it has a control block.
        std::optional<double> delayTime;
        // False when the frame's data ended early or was corrupt; it then draws nothing.
        bool complete = false;
    };

    // Reads the structure and every frame's indices (GIF) or the header (other formats); the
    // pixels are composed later. Data without a readable header is an error.
    static foundation::Result<std::shared_ptr<ImageSource>> create(foundation::Data bytes);

    // "com.compuserve.gif", "public.png", ...
    const std::string& type() const { return type_; }
    int canvasWidth() const { return width_; }
    int canvasHeight() const { return height_; }
    size_t count() const { return frames_.size(); }
    // The loop count of the GIF's application extension; none when it has none.
    std::optional<int> loopCount() const { return loopCount_; }
    const FrameInfo& frameInfo(size_t index) const { return frames_[index].info; }

    // The frame composed on the canvas; an error for an index past the end, for a frame whose data
    // is incomplete and for still data that fails to decode.
    foundation::Result<std::shared_ptr<Bitmap>> frameAt(size_t index) const;

    // Structure only: stops after the first frame (for still-image decoding of a GIF).
    static foundation::Result<std::shared_ptr<ImageSource>> createFirstFrameOnly(const uint8_t* bytes, size_t length);

    // The memory the source holds: the bytes it reads frames from, its frame records, the canvas
    // and the area kept for the next disposal.
    size_t retainedBytes() const;

private:
    struct Frame {
        FrameInfo info;
        // Where the frame's image descriptor starts in the bytes (after its separator).
        size_t descriptorOffset = 0;
        // A frame of no area: a pause that draws nothing.
        bool empty = false;
    };
    static foundation::Result<std::shared_ptr<ImageSource>> parse(const uint8_t* bytes, size_t length,
                                                                  size_t maxFrames);
    void drawFrame(const Frame& frame, Bitmap& canvas) const;

    std::string type_;
    int width_ = 0, height_ = 0;
    std::optional<int> loopCount_;
    std::vector<Frame> frames_;
    foundation::Data still_;  // the bytes of a still image
    foundation::Data gif_;    // a GIF's bytes up to the end of its last frame read

    // The composition cursor: the canvas after frame `composed_` was drawn, and what its disposal
    // restores.
    mutable foundation::Mutex mutex_;
    mutable std::shared_ptr<Bitmap> canvas_ HX_GUARDED_BY(mutex_);
    mutable std::vector<uint32_t> saved_ HX_GUARDED_BY(mutex_);
    mutable long composed_ HX_GUARDED_BY(mutex_) = -1;
};

}  // namespace graphics
