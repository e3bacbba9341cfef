#include <png.h>

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

// The stages that libpng may leave by longjmp hold no objects with destructors.
bool readHeader(ReadGuard& guard, ReadState& state, png_uint_32* w, png_uint_32* h) {
    if (setjmp(png_jmpbuf(guard.png))) return false;
    png_set_read_fn(guard.png, &state, readBytes);
    // Ancillary chunks are bounded too: a text chunk of gigabytes is refused, not buffered.
    png_set_chunk_malloc_max(guard.png, 8 << 20);
    png_set_chunk_cache_max(guard.png, 1000);
    png_read_info(guard.png, guard.info);
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(guard.png, guard.info, w, h, &depth, &colorType, &interlace, nullptr, nullptr);
    return true;
}

bool readRows(ReadGuard& guard, ReadState& state, png_bytep* rows, size_t rowBytes) {
    if (setjmp(png_jmpbuf(guard.png))) return false;
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
    png_read_image(guard.png, rows);
    png_read_end(guard.png, nullptr);
    return true;
}

}  // namespace

foundation::Result<std::shared_ptr<Bitmap>> decodePNG(const uint8_t* bytes, size_t length) {
    ReadState state{bytes, length};
    ReadGuard guard;
    guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    if (!guard.png) return imageError(kImageCorruptError, "PNG reader unavailable");
    guard.info = png_create_info_struct(guard.png);
    if (!guard.info) return imageError(kImageCorruptError, "PNG reader unavailable");
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
