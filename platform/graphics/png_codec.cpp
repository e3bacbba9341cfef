#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "platform/graphics/codecs.h"

namespace graphics {
namespace {

struct ReadState {
    const uint8_t* bytes;
    size_t length;
    size_t offset = 0;
    std::string message;
};

void readBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
    if (state->length - state->offset < count) png_error(png, "truncated PNG");
    std::memcpy(out, state->bytes + state->offset, count);
    state->offset += count;
}

void onError(png_structp png, png_const_charp message) {
    auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
    if (state) state->message = message ? message : "";
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// libpng's objects, released on every path out of the decoder (including the longjmp one, which
// lands in the function that owns this).
struct ReadGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadGuard() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

}  // namespace

namespace {

// libpng's reader over the state, with its info; false when the library cannot make them.
bool makeReader(ReadGuard& guard, ReadState& state) {
    guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    if (guard.png) guard.info = png_create_info_struct(guard.png);
    return guard.png && guard.info;
}

// The stages that libpng may leave by longjmp hold no objects with destructors.
bool readHeader(ReadGuard& guard, ReadState& state, png_uint_32* w, png_uint_32* h, int* interlaced = nullptr) {
    if (setjmp(png_jmpbuf(guard.png))) return false;
    png_set_read_fn(guard.png, &state, readBytes);
    // Ancillary chunks are bounded too: a text chunk of gigabytes is refused, not buffered.
    png_set_chunk_malloc_max(guard.png, 8 << 20);
    png_set_chunk_cache_max(guard.png, 1000);
    png_read_info(guard.png, guard.info);
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(guard.png, guard.info, w, h, &depth, &colorType, &interlace, nullptr, nullptr);
    if (interlaced) *interlaced = interlace != PNG_INTERLACE_NONE;
    return true;
}

// Every kind of pixel as 8-bit red, green, blue and alpha; false when rows would not be
// `rowBytes` long.
bool setUpRGBA(ReadGuard& guard, ReadState& state, size_t rowBytes) {
    png_set_expand(guard.png);  // palette, low-bit grey and tRNS become 8-bit channels with alpha
    png_set_strip_16(guard.png);
    png_set_gray_to_rgb(guard.png);
    png_set_add_alpha(guard.png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(guard.png);
    png_read_update_info(guard.png, guard.info);
    if (png_get_rowbytes(guard.png, guard.info) != rowBytes) {
        state.message = "unexpected row layout";
        return false;
    }
    return true;
}

bool readRows(ReadGuard& guard, ReadState& state, png_bytep* rows, size_t rowBytes) {
    if (setjmp(png_jmpbuf(guard.png))) return false;
    if (!setUpRGBA(guard, state, rowBytes)) return false;
    png_read_image(guard.png, rows);
    png_read_end(guard.png, nullptr);
    return true;
}

// Rows read one at a time into `row`, each block of factor x factor pixels (fewer at the right
// and bottom edges) averaged, premultiplied, into one pixel of `out`; `sums` holds a row of
// `out`'s channels.
bool readRowsReduced(ReadGuard& guard, ReadState& state, png_uint_32 w, png_uint_32 h, png_uint_32 factor,
                     png_bytep row, uint64_t* sums, Bitmap* out) {
    if (setjmp(png_jmpbuf(guard.png))) return false;
    if (!setUpRGBA(guard, state, size_t(w) * 4)) return false;
    const png_uint_32 outWidth = static_cast<png_uint_32>(out->width());
    for (png_uint_32 y = 0; y < h; ++y) {
        png_read_row(guard.png, row, nullptr);
        for (png_uint_32 x = 0; x < w; ++x) {
            const uint32_t p = Bitmap::premultiplied(row[x * 4], row[x * 4 + 1], row[x * 4 + 2], row[x * 4 + 3]);
            uint64_t* sum = sums + size_t(x / factor) * 4;
            sum[0] += p >> 24, sum[1] += (p >> 16) & 0xFF, sum[2] += (p >> 8) & 0xFF, sum[3] += p & 0xFF;
        }
        if ((y + 1) % factor != 0 && y + 1 != h) continue;
        const uint64_t rows = y % factor + 1;
        uint32_t* target = out->row(static_cast<int>(y / factor));
        for (png_uint_32 ox = 0; ox < outWidth; ++ox) {
            const uint64_t n = rows * std::min<uint64_t>(factor, w - ox * factor);
            uint64_t* sum = sums + size_t(ox) * 4;
            auto mean = [&](int c) { return static_cast<uint32_t>((sum[c] + n / 2) / n); };
            target[ox] = mean(0) << 24 | mean(1) << 16 | mean(2) << 8 | mean(3);
            sum[0] = sum[1] = sum[2] = sum[3] = 0;
        }
    }
    png_read_end(guard.png, nullptr);
    return true;
}

}  // namespace

foundation::Result<std::shared_ptr<Bitmap>> decodePNG(const uint8_t* bytes, size_t length) {
    ReadState state{bytes, length};
    ReadGuard guard;
    if (!makeReader(guard, state)) return imageError(kImageCorruptError, "PNG reader unavailable");
    png_uint_32 w = 0, h = 0;
    if (!readHeader(guard, state, &w, &h)) return imageError(kImageCorruptError, "PNG: " + state.message);
    auto made = Bitmap::make(w, h);
    if (!made.ok()) return made.error();
    std::shared_ptr<Bitmap> bitmap = *made;
    // The RGBA bytes land in the bitmap's own rows and are premultiplied in place.
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = reinterpret_cast<png_bytep>(bitmap->row(static_cast<int>(y)));
    if (!readRows(guard, state, rows.data(), size_t(w) * 4))
        return imageError(kImageCorruptError, "PNG: " + state.message);
    for (png_uint_32 y = 0; y < h; ++y) {
        uint32_t* out = bitmap->row(static_cast<int>(y));
        for (png_uint_32 x = 0; x < w; ++x) {
            uint8_t in[4];
            std::memcpy(in, &out[x], 4);
            out[x] = Bitmap::premultiplied(in[0], in[1], in[2], in[3]);
        }
    }
    return bitmap;
}

foundation::Result<std::shared_ptr<Bitmap>> decodePNGReduced(const uint8_t* bytes, size_t length, int64_t minWidth,
                                                             int64_t minHeight) {
    ReadState state{bytes, length};
    ReadGuard guard;
    if (!makeReader(guard, state)) return imageError(kImageCorruptError, "PNG reader unavailable");
    png_uint_32 w = 0, h = 0;
    int interlaced = 0;
    if (!readHeader(guard, state, &w, &h, &interlaced)) return imageError(kImageCorruptError, "PNG: " + state.message);
    const int64_t factor = std::max<int64_t>(
        1, std::min(int64_t{w} / std::max<int64_t>(1, minWidth), int64_t{h} / std::max<int64_t>(1, minHeight)));
    if (factor == 1 || interlaced) {
        if (factor > 1 && int64_t{w} * h > kReducedWholePixelLimit) {
            return tooLargeToReduceError(w, h);
        }
        return decodePNG(bytes, length);
    }
    const auto f = static_cast<png_uint_32>(factor);
    auto made = Bitmap::make((w + f - 1) / f, (h + f - 1) / f);
    if (!made.ok()) return made.error();
    std::vector<png_byte> row(size_t(w) * 4);
    std::vector<uint64_t> sums(size_t((*made)->width()) * 4);
    if (!readRowsReduced(guard, state, w, h, f, row.data(), sums.data(), made->get()))
        return imageError(kImageCorruptError, "PNG: " + state.message);
    return *made;
}

namespace {
struct WriteState {
    foundation::Data out;
};
void writeBytes(png_structp png, png_bytep data, png_size_t count) {
    auto* state = static_cast<WriteState*>(png_get_io_ptr(png));
    state->out.insert(state->out.end(), data, data + count);
}
void flushNothing(png_structp) {}
struct WriteGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteGuard() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};
bool writeRows(WriteGuard& guard, WriteState& state, const Bitmap& bitmap, uint8_t* row, PNGCompression compression);
}  // namespace

foundation::Result<foundation::Data> encodePNG(const Bitmap& bitmap, PNGCompression compression) {
    WriteState state;
    ReadState errors{nullptr, 0};
    WriteGuard guard;
    guard.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, onError, onWarning);
    if (!guard.png) return imageError(kImageCorruptError, "PNG writer unavailable");
    guard.info = png_create_info_struct(guard.png);
    if (!guard.info) return imageError(kImageCorruptError, "PNG writer unavailable");
    std::vector<uint8_t> row(size_t(bitmap.width()) * 4);
    if (!writeRows(guard, state, bitmap, row.data(), compression))
        return imageError(kImageCorruptError, "PNG: " + errors.message);
    return std::move(state.out);
}

namespace {
bool writeRows(WriteGuard& guard, WriteState& state, const Bitmap& bitmap, uint8_t* row, PNGCompression compression) {
    if (setjmp(png_jmpbuf(guard.png))) return false;
    png_set_write_fn(guard.png, &state, writeBytes, flushNothing);
    if (compression == PNGCompression::Fast) {
        png_set_compression_level(guard.png, 1);
        png_set_filter(guard.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    }
    png_set_IHDR(guard.png, guard.info, bitmap.width(), bitmap.height(), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(guard.png, guard.info);
    for (int y = 0; y < bitmap.height(); ++y) {
        const uint32_t* in = bitmap.row(y);
        for (int x = 0; x < bitmap.width(); ++x) {
            const uint32_t p = in[x];
            uint8_t* out = &row[size_t(x) * 4];
            if (p >> 24 == 0xFF) {
                // Opaque (most of a screen): the colour needs no division.
                out[0] = static_cast<uint8_t>(p >> 16);
                out[1] = static_cast<uint8_t>(p >> 8);
                out[2] = static_cast<uint8_t>(p);
                out[3] = 0xFF;
            } else {
                const auto c = Bitmap::unpremultiplied(p);
                std::memcpy(out, c.data(), 4);
            }
        }
        png_write_row(guard.png, row);
    }
    png_write_end(guard.png, nullptr);
    return true;
}
}  // namespace

}  // namespace graphics
