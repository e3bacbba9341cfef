#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "platform/graphics/codecs.h"

namespace graphics {
namespace {

// A progressive file may hold any number of scans; each costs a pass over all coefficients.
constexpr int kMaxScans = 500;

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
};

void onError(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void onMessage(j_common_ptr, int) {}

void installErrors(j_common_ptr info, ErrorManager& errors) {
    info->err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.emit_message = onMessage;
}

struct ScanLimit {
    jpeg_progress_mgr base;
};

void checkScans(j_common_ptr info) {
    if (!info->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->input_scan_number > kMaxScans) {
        auto* errors = reinterpret_cast<ErrorManager*>(info->err);
        std::snprintf(errors->message, sizeof errors->message, "more than %d scans", kMaxScans);
        std::longjmp(errors->jump, 1);
    }
}

struct DecompressGuard {
    jpeg_decompress_struct info;
    bool made = false;
    ~DecompressGuard() {
        if (made) jpeg_destroy_decompress(&info);
    }
};

struct CompressGuard {
    jpeg_compress_struct info;
    bool made = false;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    ~CompressGuard() {
        if (made) jpeg_destroy_compress(&info);
        std::free(out);
    }
};

}  // namespace

namespace {

// The stages that the library may leave by longjmp hold no objects with destructors.
bool readHeader(DecompressGuard& guard, ErrorManager& errors, ScanLimit& scans, const uint8_t* bytes, size_t length) {
    installErrors(reinterpret_cast<j_common_ptr>(&guard.info), errors);
    if (setjmp(errors.jump)) return false;
    jpeg_create_decompress(&guard.info);
    guard.made = true;
    guard.info.mem->max_memory_to_use = 1024L * 1024 * 1024;
    scans.base.progress_monitor = checkScans;
    guard.info.progress = &scans.base;
    // Data that ends early still gives the rows read so far: the source pads with an end marker.
    jpeg_mem_src(&guard.info, bytes, static_cast<unsigned long>(length));
    jpeg_read_header(&guard.info, TRUE);
    return true;
}

// The output scaled by eighths: the fewest that still give minWidth x minHeight (all eight when
// the picture is no larger).
bool scaleOutput(DecompressGuard& guard, ErrorManager& errors, int64_t minWidth, int64_t minHeight) {
    if (setjmp(errors.jump)) return false;
    guard.info.scale_denom = 8;
    for (unsigned eighths = 1; eighths <= 8; ++eighths) {
        guard.info.scale_num = eighths;
        jpeg_calc_output_dimensions(&guard.info);
        if (int64_t{guard.info.output_width} >= minWidth && int64_t{guard.info.output_height} >= minHeight) break;
    }
    return true;
}

bool readRows(DecompressGuard& guard, ErrorManager& errors, Bitmap* bitmap, uint8_t* cmyk) {
    if (setjmp(errors.jump)) return false;
    // Opaque pixels in the bitmap's byte order (blue, green, red, alpha in memory).
    guard.info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&guard.info);
    const int w = static_cast<int>(guard.info.output_width);
    if (w != bitmap->width() || static_cast<int>(guard.info.output_height) != bitmap->height()) {
        std::snprintf(errors.message, sizeof errors.message, "unexpected output size");
        return false;
    }
    // Files with an Adobe marker store inverted ink values, as nearly all CMYK JPEGs do.
    const bool inverted = guard.info.saw_Adobe_marker;
    while (guard.info.output_scanline < guard.info.output_height) {
        const int y = static_cast<int>(guard.info.output_scanline);
        uint32_t* row = bitmap->row(y);
        JSAMPROW target = cmyk ? cmyk : reinterpret_cast<JSAMPROW>(row);
        if (jpeg_read_scanlines(&guard.info, &target, 1) != 1) break;
        if (!cmyk) continue;
        for (int x = 0; x < w; ++x) {
            int c = cmyk[x * 4], m = cmyk[x * 4 + 1], yl = cmyk[x * 4 + 2], k = cmyk[x * 4 + 3];
            if (!inverted) c = 255 - c, m = 255 - m, yl = 255 - yl, k = 255 - k;
            row[x] = Bitmap::premultiplied(static_cast<uint8_t>(c * k / 255), static_cast<uint8_t>(m * k / 255),
                                           static_cast<uint8_t>(yl * k / 255), 0xFF);
        }
    }
    jpeg_finish_decompress(&guard.info);
    return true;
}

bool writeRows(CompressGuard& guard, ErrorManager& errors, const Bitmap& bitmap, double quality, uint8_t* row) {
    installErrors(reinterpret_cast<j_common_ptr>(&guard.info), errors);
    if (setjmp(errors.jump)) return false;
    jpeg_create_compress(&guard.info);
    guard.made = true;
    jpeg_mem_dest(&guard.info, &guard.out, &guard.size);
    guard.info.image_width = static_cast<JDIMENSION>(bitmap.width());
    guard.info.image_height = static_cast<JDIMENSION>(bitmap.height());
    guard.info.input_components = 3;
    guard.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&guard.info);
    const double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 1.0;
    jpeg_set_quality(&guard.info, std::max(1, static_cast<int>(std::lround(q * 100))), TRUE);
    jpeg_start_compress(&guard.info, TRUE);
    for (int y = 0; y < bitmap.height(); ++y) {
        const uint32_t* in = bitmap.row(y);
        for (int x = 0; x < bitmap.width(); ++x) {
            // Premultiplied channels are the colour composed over black.
            row[size_t(x) * 3] = static_cast<uint8_t>(in[x] >> 16);
            row[size_t(x) * 3 + 1] = static_cast<uint8_t>(in[x] >> 8);
            row[size_t(x) * 3 + 2] = static_cast<uint8_t>(in[x]);
        }
        JSAMPROW r = row;
        jpeg_write_scanlines(&guard.info, &r, 1);
    }
    jpeg_finish_compress(&guard.info);
    return true;
}

}  // namespace

namespace {

// minWidth x minHeight zero: the picture's own size.
foundation::Result<std::shared_ptr<Bitmap>> decodeJPEGAtLeast(const uint8_t* bytes, size_t length, int64_t minWidth,
                                                              int64_t minHeight) {
    ErrorManager errors;
    ScanLimit scans;
    DecompressGuard guard;
    if (!readHeader(guard, errors, scans, bytes, length)) {
        return imageError(kImageCorruptError, std::string("JPEG: ") + errors.message);
    }
    JDIMENSION width = guard.info.image_width, height = guard.info.image_height;
    if (minWidth > 0 || minHeight > 0) {
        // A progressive file keeps every coefficient of the picture while it is read.
        if (guard.info.progressive_mode && int64_t{width} * height > kReducedWholePixelLimit) {
            return tooLargeToReduceError(width, height);
        }
        if (!scaleOutput(guard, errors, minWidth, minHeight)) {
            return imageError(kImageCorruptError, std::string("JPEG: ") + errors.message);
        }
        width = guard.info.output_width, height = guard.info.output_height;
    }
    auto made = Bitmap::make(width, height);
    if (!made.ok()) return made.error();
    std::shared_ptr<Bitmap> bitmap = *made;
    const bool inkColours = guard.info.jpeg_color_space == JCS_CMYK || guard.info.jpeg_color_space == JCS_YCCK;
    std::vector<uint8_t> cmyk(inkColours ? size_t(bitmap->width()) * 4 : 0);
    if (!readRows(guard, errors, bitmap.get(), inkColours ? cmyk.data() : nullptr)) {
        return imageError(kImageCorruptError, std::string("JPEG: ") + errors.message);
    }
    return bitmap;
}

}  // namespace

foundation::Result<std::shared_ptr<Bitmap>> decodeJPEG(const uint8_t* bytes, size_t length) {
    return decodeJPEGAtLeast(bytes, length, 0, 0);
}

foundation::Result<std::shared_ptr<Bitmap>> decodeJPEGReduced(const uint8_t* bytes, size_t length, int64_t minWidth,
                                                              int64_t minHeight) {
    return decodeJPEGAtLeast(bytes, length, std::max<int64_t>(1, minWidth), std::max<int64_t>(1, minHeight));
}

foundation::Result<foundation::Data> encodeJPEG(const Bitmap& bitmap, double quality) {
    ErrorManager errors;
    CompressGuard guard;
    std::vector<uint8_t> row(size_t(bitmap.width()) * 3);
    if (!writeRows(guard, errors, bitmap, quality, row.data())) {
        return imageError(kImageCorruptError, std::string("JPEG: ") + errors.message);
    }
    return foundation::Data(guard.out, guard.out + guard.size);
}

}  // namespace graphics
