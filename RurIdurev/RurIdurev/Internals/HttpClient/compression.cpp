#include "RurIdurev/RurIdurev/Internals/HttpClient/compression.h"

#include <zlib.h>

#include "RurIdurev/RurIdurev/logger.h"

std::optional<foundation::Data> ZIVOCompression::compressData(const foundation::Data& data) {
    if (data.empty()) return std::nullopt;
    z_stream stream{};
    // Window bits 31: a 15-bit window with the gzip header and trailer.
    int result = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    if (result != Z_OK) {
        std::string text = result == Z_VERSION_ERROR  ? "Version of zlib.h & libz library do not match!"
                           : result == Z_MEM_ERROR    ? "Not enough memory."
                           : result == Z_STREAM_ERROR ? "Invalid parameter passed in to function."
                                                      : "Unknown error!";
        ZIVOLogError(kZIVOLogTag, "Compression failed with error: " + text);
        return std::nullopt;
    }
    // Sized by zlib's own bound so that small or incompressible bodies never run out of room.
    foundation::Data out(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    do {
        result = deflate(&stream, Z_FINISH);
    } while (result == Z_OK);
    if (result != Z_STREAM_END) {
        std::string text = result == Z_STREAM_ERROR ? "Inconsistent stream state."
                           : result == Z_BUF_ERROR  ? "No progress is possible."
                                                    : "Unknown error!";
        ZIVOLogError(kZIVOLogTag, "Deflate failed with error: " + text);
        deflateEnd(&stream);
        return std::nullopt;
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}
