#include "platform/graphics/image_source.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "platform/graphics/codecs.h"
#include "platform/graphics/image.h"

namespace graphics {
namespace {

constexpr int kExtensionGraphicsControl = 0xF9;
constexpr int kExtensionApplication = 0xFF;

foundation::Error corrupt(const std::string& why) { return imageError(kImageCorruptError, why); }

struct Reader {
    const uint8_t* bytes;
    size_t length;
    size_t offset = 0;
};

int readInput(GifFileType* gif, GifByteType* out, int count) {
    auto* r = static_cast<Reader*>(gif->UserData);
    const size_t n = std::min<size_t>(static_cast<size_t>(std::max(count, 0)), r->length - r->offset);
    std::memcpy(out, r->bytes + r->offset, n);
    r->offset += n;
    return static_cast<int>(n);
}

struct GifCloser {
    GifFileType* gif = nullptr;
    ~GifCloser() {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
};

std::vector<uint32_t> paletteOf(const ColorMapObject* map) {
    std::vector<uint32_t> palette(256);
    if (!map) {
        // Without any colour table an index is a grey level.
        for (int i = 0; i < 256; ++i) palette[i] = Bitmap::premultiplied(i, i, i, 255);
        return palette;
    }
    for (int i = 0; i < 256; ++i) {
        if (i < map->ColorCount) {
            const GifColorType& c = map->Colors[i];
            palette[i] = Bitmap::premultiplied(c.Red, c.Green, c.Blue, 255);
        } else {
            palette[i] = Bitmap::premultiplied(0, 0, 0, 255);
        }
    }
    return palette;
}

// Where the n-th row delivered lands in an interlaced frame of h rows (four passes).
int interlacedRow(int n, int h) {
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rows = start[pass] >= h ? 0 : (h - start[pass] + step[pass] - 1) / step[pass];
        if (n < rows) return start[pass] + n * step[pass];
        n -= rows;
    }
    return 0;
}

}  // namespace

foundation::Result<std::shared_ptr<ImageSource>> ImageSource::create(foundation::Data bytes) {
    auto header = readImageHeader(bytes.data(), bytes.size());
    if (!header.ok()) return header.error();
    if (header->format == "com.compuserve.gif") {
        auto source = parse(bytes.data(), bytes.size(), kMaxImageFrames);
        if (!source.ok()) return source.error();
        return source;
    }
    auto source = std::shared_ptr<ImageSource>(new ImageSource);
    source->type_ = header->format;
    if (header->pixelWidth > INT32_MAX || header->pixelHeight > INT32_MAX) return corrupt("size");
    source->width_ = static_cast<int>(header->pixelWidth);
    source->height_ = static_cast<int>(header->pixelHeight);
    Frame still;
    still.info.width = source->width_;
    still.info.height = source->height_;
    still.info.complete = true;
    source->frames_.push_back(std::move(still));
    source->still_ = std::move(bytes);
    return source;
}

foundation::Result<std::shared_ptr<ImageSource>> ImageSource::createFirstFrameOnly(const uint8_t* bytes,
                                                                                   size_t length) {
    return parse(bytes, length, 1);
}

foundation::Result<std::shared_ptr<ImageSource>> ImageSource::parse(const uint8_t* bytes, size_t length,
                                                                    size_t maxFrames) {
    Reader reader{bytes, length};
    int error = 0;
    GifCloser closer;
    closer.gif = DGifOpen(&reader, readInput, &error);
    if (!closer.gif) return corrupt(std::string("GIF: ") + (GifErrorString(error) ? GifErrorString(error) : "open"));
    GifFileType* gif = closer.gif;
    auto source = std::shared_ptr<ImageSource>(new ImageSource);
    source->type_ = "com.compuserve.gif";
    source->width_ = gif->SWidth;
    source->height_ = gif->SHeight;
    if (source->width_ <= 0 || source->height_ <= 0) return corrupt("GIF of zero size");
    if (int64_t(source->width_) * source->height_ > decodedPixelLimit()) {
        return imageError(kImageTooLargeError, "too many pixels (" + std::to_string(source->width_) + " x " +
                                                   std::to_string(source->height_) + ")");
    }
    int64_t indexBytes = 0;
    FrameInfo pending;  // the control block read before the next image
    bool sawControl = false;
    // Each frame's data blocks are stepped over once here to learn whether they are whole; its
    // pixels are read from the bytes when it is composed, so nothing per frame stays decoded.

    while (source->frames_.size() < maxFrames) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) break;
        if (record == TERMINATE_RECORD_TYPE) break;
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) break;
            bool application = false;
            bool failed = false;
            if (code == kExtensionGraphicsControl && block && block[0] >= 4) {
                pending.disposal = static_cast<Disposal>((block[1] >> 2) & 7);
                if (static_cast<int>(pending.disposal) > 3) pending.disposal = Disposal::unspecified;
                pending.delayTime = (block[2] | block[3] << 8) / 100.0;
                if (block[1] & 1) pending.transparentIndex = block[4];
                sawControl = true;
            } else if (code == kExtensionApplication && block && block[0] == 11) {
                application =
                    std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0;
            }
            while (block) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
                    failed = true;
                    break;
                }
                if (application && block && block[0] >= 3 && block[1] == 1) {
                    source->loopCount_ = block[2] | block[3] << 8;
                }
            }
            if (failed) break;
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) break;
        Frame frame;
        frame.descriptorOffset = reader.offset;
        if (DGifGetImageDesc(gif) == GIF_ERROR) break;
        frame.info = sawControl ? pending : FrameInfo{};
        pending = FrameInfo{};
        sawControl = false;
        const GifImageDesc& desc = gif->Image;
        frame.info.left = desc.Left;
        frame.info.top = desc.Top;
        frame.info.width = desc.Width;
        frame.info.height = desc.Height;
        frame.info.interlaced = desc.Interlace;
        const int64_t area = int64_t(desc.Width) * desc.Height;
        if (desc.Width <= 0 || desc.Height <= 0) {
            // Nothing to read; some encoders write empty frames as pauses.
            frame.info.complete = true;
            frame.empty = true;
            source->frames_.push_back(frame);
            continue;
        }
        // Reading every frame's pixels costs time in proportion to their number: hostile data
        // with huge frames is refused rather than read.
        if (indexBytes + area > decodedPixelLimit()) {
            return imageError(kImageTooLargeError, "GIF frames hold too many pixels");
        }
        indexBytes += area;
        // Stepped over block by block without decoding: a frame is whole when all its data
        // blocks are there (its pixels are decoded once, when it is composed).
        int codeSize = 0;
        GifByteType* block = nullptr;
        bool complete = DGifGetCode(gif, &codeSize, &block) != GIF_ERROR;
        while (complete && block) {
            if (DGifGetCodeNext(gif, &block) == GIF_ERROR) complete = false;
        }
        frame.info.complete = complete;
        source->frames_.push_back(frame);
        // After a broken frame the reader has lost its place in the data.
        if (!complete) break;
    }
    // The frames are read again from these bytes; what follows the last frame read is not needed.
    source->gif_.assign(bytes, bytes + std::min(length, reader.offset));
    if (gif->SWidth <= 0) return corrupt("GIF");
    return source;
}

void ImageSource::drawFrame(const Frame& frame, Bitmap& canvas) const {
    const FrameInfo& f = frame.info;
    if (!f.complete || frame.empty) return;
    // A decoder of its own over the kept bytes, placed at the frame's descriptor: the global
    // colour table comes from the header it reads first.
    Reader reader{gif_.data(), gif_.size()};
    int error = 0;
    GifCloser closer;
    closer.gif = DGifOpen(&reader, readInput, &error);
    if (!closer.gif) return;
    GifFileType* gif = closer.gif;
    reader.offset = frame.descriptorOffset;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return;
    const GifImageDesc& desc = gif->Image;
    if (desc.Width != f.width || desc.Height != f.height) return;
    const std::vector<uint32_t> palette = paletteOf(desc.ColorMap ? desc.ColorMap : gif->SColorMap);
    const int x0 = std::max(0, f.left);
    const int x1 = std::min(width_, f.left + f.width);
    const int transparent = f.transparentIndex ? *f.transparentIndex : -1;
    std::vector<GifPixelType> line(static_cast<size_t>(f.width));
    for (int n = 0; n < f.height; ++n) {
        if (DGifGetLine(gif, line.data(), f.width) == GIF_ERROR) return;
        const int y = f.top + (f.interlaced ? interlacedRow(n, f.height) : n);
        if (y < 0 || y >= height_ || x1 <= x0) continue;
        const uint8_t* in = line.data() + (x0 - f.left);
        uint32_t* out = canvas.row(y) + x0;
        if (transparent < 0) {
            for (int x = x0; x < x1; ++x) *out++ = palette[*in++];
        } else {
            for (int x = x0; x < x1; ++x, ++in, ++out) {
                if (*in != transparent) *out = palette[*in];
            }
        }
    }
}

size_t ImageSource::retainedBytes() const {
    size_t total = gif_.capacity() + still_.capacity() + frames_.capacity() * sizeof(Frame);
    std::lock_guard lock(mutex_);
    if (canvas_) total += size_t(canvas_->strideBytes()) * canvas_->height();
    total += saved_.capacity() * sizeof(uint32_t);
    return total;
}

foundation::Result<std::shared_ptr<Bitmap>> ImageSource::frameAt(size_t index) const {
    if (index >= frames_.size()) return corrupt("no frame " + std::to_string(index));
    if (!still_.empty()) return decodeImage(still_.data(), still_.size());
    if (!frames_[index].info.complete) return corrupt("GIF frame " + std::to_string(index) + " is incomplete");

    std::lock_guard lock(mutex_);
    if (!canvas_ || composed_ >= static_cast<long>(index)) {
        auto made = Bitmap::make(width_, height_);
        if (!made.ok()) return made.error();
        canvas_ = *made;
        composed_ = -1;
    }
    while (composed_ < static_cast<long>(index)) {
        if (composed_ >= 0) {
            const FrameInfo& last = frames_[composed_].info;
            const int x0 = std::max(0, last.left), y0 = std::max(0, last.top);
            const int x1 = std::min(width_, last.left + last.width), y1 = std::min(height_, last.top + last.height);
            if (x1 <= x0 || y1 <= y0) {
                // The frame lay wholly outside the canvas: nothing to dispose of.
            } else if (last.disposal == Disposal::background) {
                for (int y = y0; y < y1; ++y) std::fill(canvas_->row(y) + x0, canvas_->row(y) + x1, 0u);
            } else if (last.disposal == Disposal::previous && x1 > x0) {
                for (int y = y0; y < y1; ++y) {
                    std::copy_n(saved_.begin() + size_t(y - y0) * (x1 - x0), x1 - x0, canvas_->row(y) + x0);
                }
            }
        }
        const Frame& next = frames_[composed_ + 1];
        if (next.info.disposal == Disposal::previous) {
            const FrameInfo& f = next.info;
            const int x0 = std::max(0, f.left), y0 = std::max(0, f.top);
            const int x1 = std::min(width_, f.left + f.width), y1 = std::min(height_, f.top + f.height);
            saved_.clear();
            for (int y = y0; y < y1 && x1 > x0; ++y)
                saved_.insert(saved_.end(), canvas_->row(y) + x0, canvas_->row(y) + x1);
        }
        drawFrame(next, *canvas_);
        ++composed_;
    }
    return canvas_->copy();
}

foundation::Result<std::shared_ptr<Bitmap>> decodeGIF(const uint8_t* bytes, size_t length) {
    auto source = ImageSource::createFirstFrameOnly(bytes, length);
    if (!source.ok()) return source.error();
    if ((*source)->count() == 0) return corrupt("GIF without frames");
    return (*source)->frameAt(0);
}

foundation::Result<std::shared_ptr<Bitmap>> decodeImage(const uint8_t* bytes, size_t length) {
    auto header = readImageHeader(bytes, length);
    if (!header.ok()) return header.error();
    if (header->format == "public.png") return decodePNG(bytes, length);
    if (header->format == "public.jpeg") return decodeJPEG(bytes, length);
    if (header->format == "com.compuserve.gif") return decodeGIF(bytes, length);
    return corrupt("pixels of " + header->format + " are not decoded");
}

}  // namespace graphics
