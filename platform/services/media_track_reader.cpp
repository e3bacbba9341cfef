#include "platform/services/media_track_reader.h"

#include <cmath>
#include <optional>

#include "platform/foundation/byte_reader.h"
#include "platform/foundation/files.h"

namespace services {

namespace {

// Box types on the way to the track headers.
constexpr uint32_t fourCC(const char (&code)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(code[3]));
}
constexpr uint32_t kMovieBox = fourCC("moov");
constexpr uint32_t kMovieHeaderBox = fourCC("mvhd");
constexpr uint32_t kTrackBox = fourCC("trak");
constexpr uint32_t kTrackHeaderBox = fourCC("tkhd");
constexpr uint32_t kMediaBox = fourCC("mdia");
constexpr uint32_t kHandlerBox = fourCC("hdlr");
// A box whose 32-bit size is 1 carries a 64-bit size after its type; 0 runs to the end of what
// encloses it.
constexpr uint32_t kLargeSize = 1;
constexpr uint32_t kToEnd = 0;
constexpr size_t kHeaderBytes = 8;
constexpr size_t kLargeHeaderBytes = 16;

std::string typeText(uint32_t type) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((type >> (24 - 8 * i)) & 0xFF);
        text[static_cast<size_t>(i)] = c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

struct Box {
    uint32_t type = 0;
    size_t offset = 0;  // of the box header, from the start of the file
    std::span<const uint8_t> body;
};

class Walk {
public:
    explicit Walk(std::span<const uint8_t> file) : file_(file) {}

    std::optional<foundation::Error> error;
    std::vector<MediaTrack> tracks;
    double duration = 0;
    bool sawMovie = false;

    // The boxes directly inside `bytes` (which starts at file offset `base`).
    std::vector<Box> children(std::span<const uint8_t> bytes, size_t base) {
        std::vector<Box> out;
        foundation::ByteReader r(bytes);
        while (!error && !r.atEnd()) {
            const size_t start = r.position();
            if (++boxes_ > kMediaTrackMaximumBoxes) {
                fail("box count", base + start, "the file has too many boxes");
                break;
            }
            uint64_t size = r.u32be("box size");
            const uint32_t type = r.u32be("box type");
            size_t header = kHeaderBytes;
            if (r.ok() && size == kLargeSize) {
                size = r.u64be("box large size");
                header = kLargeHeaderBytes;
            } else if (r.ok() && size == kToEnd) {
                size = bytes.size() - start;
            }
            if (!r.ok()) {
                fail(r.fault().field, base + r.fault().offset, "a box header is cut short");
                break;
            }
            if (size < header || size > bytes.size() - start) {
                fail(("box size of '" + typeText(type) + "'").c_str(), base + start,
                     "a box is larger than what encloses it or smaller than its header");
                break;
            }
            out.push_back(Box{type, base + start, bytes.subspan(start + header, static_cast<size_t>(size) - header)});
            r.seek(start + static_cast<size_t>(size));
        }
        return out;
    }

    void file() {
        for (const Box& box : children(file_, 0)) {
            if (error) return;
            if (box.type != kMovieBox) continue;
            sawMovie = true;
            movie(box);
            return;
        }
    }

private:
    void movie(const Box& moov) {
        bool header = false;
        for (const Box& box : children(moov.body, bodyOffset(moov))) {
            if (error) return;
            if (box.type == kMovieHeaderBox && !header) {
                header = true;
                movieHeader(box);
                continue;
            }
            if (box.type != kTrackBox) continue;
            if (tracks.size() == kMediaTrackMaximumTracks) {
                fail("track count", box.offset, "the movie has too many tracks");
                return;
            }
            track(box);
        }
    }

    void movieHeader(const Box& box) {
        foundation::ByteReader r(box.body);
        const uint8_t version = r.u8("mvhd version");
        r.skip(3, "mvhd flags");
        r.skip(version == 1 ? 16 : 8, "mvhd dates");
        const uint32_t timeScale = r.u32be("mvhd time scale");
        const uint64_t length = version == 1 ? r.u64be("mvhd duration") : r.u32be("mvhd duration");
        if (!r.ok()) return fail(r.fault().field, bodyOffset(box) + r.fault().offset, "a movie header is cut short");
        if (version > 1) return fail("mvhd version", box.offset, "a movie header has an unknown version");
        // All ones: a length the writer did not know.
        const bool unknown = version == 1 ? length == UINT64_MAX : length == UINT32_MAX;
        if (timeScale > 0 && !unknown) duration = static_cast<double>(length) / timeScale;
    }

    void track(const Box& trak) {
        MediaTrack t;
        bool header = false;
        for (const Box& box : children(trak.body, bodyOffset(trak))) {
            if (error) return;
            if (box.type == kTrackHeaderBox && !header) {
                header = trackHeader(box, t);
            } else if (box.type == kMediaBox) {
                for (const Box& inner : children(box.body, bodyOffset(box))) {
                    if (error) return;
                    if (inner.type == kHandlerBox) handler(inner, t);
                }
            }
        }
        if (!error && !header) return fail("tkhd", trak.offset, "a track has no track header");
        if (!error) tracks.push_back(std::move(t));
    }

    bool trackHeader(const Box& box, MediaTrack& t) {
        foundation::ByteReader r(box.body);
        const uint8_t version = r.u8("tkhd version");
        r.skip(3, "tkhd flags");
        r.skip(version == 1 ? 16 : 8, "tkhd dates");
        t.trackID = r.u32be("tkhd track ID");
        r.skip(4, "tkhd reserved");
        r.skip(version == 1 ? 8 : 4, "tkhd duration");
        r.skip(8 + 2 + 2 + 2 + 2, "tkhd layer and volume");
        int32_t m[9];
        for (int32_t& v : m) v = static_cast<int32_t>(r.u32be("tkhd matrix"));
        const uint32_t width = r.u32be("tkhd width");
        const uint32_t height = r.u32be("tkhd height");
        if (!r.ok()) {
            fail(r.fault().field, bodyOffset(box) + r.fault().offset, "a track header is cut short");
            return false;
        }
        if (version > 1) {
            fail("tkhd version", box.offset, "a track header has an unknown version");
            return false;
        }
        // a b u / c d v / tx ty w: all 16.16 but the third column (2.30), which a 2-D size ignores.
        constexpr double kFixed = 65536.0;
        t.preferredTransform = {m[0] / kFixed, m[1] / kFixed, m[3] / kFixed,
                                m[4] / kFixed, m[6] / kFixed, m[7] / kFixed};
        t.naturalSize = {width / kFixed, height / kFixed};
        return true;
    }

    void handler(const Box& box, MediaTrack& t) {
        foundation::ByteReader r(box.body);
        r.skip(4, "hdlr version and flags");
        r.skip(4, "hdlr component type");
        const auto type = r.bytes(4, "hdlr handler type");
        if (!r.ok()) return fail(r.fault().field, bodyOffset(box) + r.fault().offset, "a handler box is cut short");
        t.mediaType.assign(type.begin(), type.end());
    }

    size_t bodyOffset(const Box& box) const { return static_cast<size_t>(box.body.data() - file_.data()); }

    void fail(const std::string& field, size_t offset, const std::string& what) {
        if (error) return;
        foundation::Dictionary info;
        info.set(foundation::kLocalizedDescriptionKey,
                 "The media file is malformed: " + what + " (" + field + " at offset " + std::to_string(offset) + ").");
        info.set("field", field);
        info.set("offset", static_cast<int64_t>(offset));
        error = foundation::Error(kMediaTrackErrorDomain, kMediaTrackMalformed, std::move(info));
    }

    std::span<const uint8_t> file_;
    size_t boxes_ = 0;
};

}  // namespace

MediaSize applyTransform(MediaSize size, const AffineTransform& t) {
    return {std::fabs(t.a * size.width) + std::fabs(t.c * size.height),
            std::fabs(t.b * size.width) + std::fabs(t.d * size.height)};
}

foundation::Result<MediaMovie> readMediaMovie(std::span<const uint8_t> bytes) {
    Walk walk(bytes);
    walk.file();
    if (walk.error) return *walk.error;
    if (!walk.sawMovie)
        return foundation::Error::withDescription(kMediaTrackErrorDomain, kMediaTrackNoMovie,
                                                  "The media file has no movie box.");
    return MediaMovie{std::move(walk.tracks), walk.duration};
}

foundation::Result<std::vector<MediaTrack>> readMediaTracks(std::span<const uint8_t> bytes) {
    auto movie = readMediaMovie(bytes);
    if (!movie) return movie.error();
    return std::move(movie.value().tracks);
}

foundation::Result<std::vector<MediaTrack>> readMediaTracksOfFile(const std::filesystem::path& path) {
    auto data = foundation::files::readData(path);
    if (!data)
        return foundation::Error::withDescription(kMediaTrackErrorDomain, kMediaTrackUnreadable,
                                                  "The media file could not be read: " + path.string());
    return readMediaTracks(data.value());
}

const MediaTrack* firstVideoTrack(const std::vector<MediaTrack>& tracks) {
    for (const auto& t : tracks)
        if (t.mediaType == "vide") return &t;
    return nullptr;
}

}  // namespace services
