// The track reader on the emulator's videos (checked against ffprobe where it is installed) and on
// hostile files: sizes that lie, too many boxes or tracks, headers cut short.
#include "platform/services/media_track_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/foundation/files.h"
#include "tests/support/test_support.h"

using namespace services;

namespace {

std::filesystem::path media(const std::string& name) { return hxtest::sourceDir() / "emulator/media" / name; }

// Builds boxes: a 32-bit size, the type, the body.
foundation::Data box(const std::string& type, const foundation::Data& body) {
    const uint32_t size = static_cast<uint32_t>(8 + body.size());
    foundation::Data out{static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                         static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

foundation::Data cat(std::initializer_list<foundation::Data> parts) {
    foundation::Data out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

void put32(foundation::Data& d, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) d.push_back(static_cast<uint8_t>(v >> shift));
}

// A version-0 track header with the matrix (a b c d tx ty in 16.16) and a size in pixels.
foundation::Data tkhd(uint32_t id, std::array<int32_t, 6> m, uint32_t width, uint32_t height) {
    foundation::Data body(4 + 20 + 16, 0);
    body[4 + 8 + 3] = static_cast<uint8_t>(id);
    const int32_t matrix[9] = {m[0], m[1], 0, m[2], m[3], 0, m[4], m[5], 0x40000000};
    for (int32_t v : matrix) put32(body, static_cast<uint32_t>(v));
    put32(body, width << 16);
    put32(body, height << 16);
    return box("tkhd", body);
}

foundation::Data hdlr(const std::string& type) {
    foundation::Data body(8, 0);
    body.insert(body.end(), type.begin(), type.end());
    body.resize(body.size() + 13, 0);
    return box("hdlr", body);
}

constexpr int32_t kOne = 0x10000;

foundation::Data track(uint32_t id, const std::string& handler, std::array<int32_t, 6> m, uint32_t w, uint32_t h) {
    return box("trak",
               cat({tkhd(id, m, w, h), box("mdia", cat({box("mdhd", foundation::Data(24, 0)), hdlr(handler)}))}));
}

const foundation::Data kFileType = box("ftyp", {'i', 's', 'o', 'm', 0, 0, 2, 0});

}  // namespace

TEST(MediaTracks, TheEmulatorsVideosHaveTheirSizesAndTurns) {
    struct Case {
        const char* file;
        MediaSize natural;
        MediaSize upright;
        size_t tracks;
    };
    const Case cases[] = {
        {"video.mp4", {96, 64}, {64, 96}, 2},
        {"video.mov", {96, 64}, {96, 64}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        auto tracks = readMediaTracksOfFile(media(c.file));
        ASSERT_TRUE(tracks.ok()) << tracks.error().description();
        EXPECT_EQ(tracks.value().size(), c.tracks);
        const auto* video = firstVideoTrack(tracks.value());
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->naturalSize, c.natural);
        EXPECT_EQ(applyTransform(video->naturalSize, video->preferredTransform), c.upright);
    }
}

TEST(MediaTracks, TheUprightSizeIsWhatFfprobeShows) {
    if (!hxtest::haveProgram("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    for (const char* file : {"video.mp4", "video.mov"}) {
        SCOPED_TRACE(file);
        std::string out;
        ASSERT_EQ(hxtest::runCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                     "stream=width,height:stream_side_data=rotation -of default=nw=1 '" +
                                         media(file).string() + "'",
                                     &out),
                  0);
        auto field = [&](const std::string& name) {
            const auto at = out.find(name + "=");
            return at == std::string::npos ? 0.0 : std::strtod(out.c_str() + at + name.size() + 1, nullptr);
        };
        const double width = field("width"), height = field("height");
        const bool quarter = std::fmod(std::fabs(field("rotation")), 180.0) == 90.0;
        auto tracks = readMediaTracksOfFile(media(file));
        ASSERT_TRUE(tracks.ok());
        const auto* video = firstVideoTrack(tracks.value());
        ASSERT_NE(video, nullptr);
        const auto upright = applyTransform(video->naturalSize, video->preferredTransform);
        EXPECT_EQ(upright, (quarter ? MediaSize{height, width} : MediaSize{width, height})) << out;
    }
}

TEST(MediaTracks, TransformsTurnAndScaleSizes) {
    struct Case {
        const char* what;
        std::array<int32_t, 6> matrix;
        MediaSize upright;
        const char* handler;
    };
    const Case cases[] = {
        {"identity", {kOne, 0, 0, kOne, 0, 0}, {320, 240}, "vide"},
        {"quarter turn clockwise", {0, kOne, -kOne, 0, 240 * kOne, 0}, {240, 320}, "vide"},
        {"quarter turn anticlockwise", {0, -kOne, kOne, 0, 0, 320 * kOne}, {240, 320}, "vide"},
        {"half turn", {-kOne, 0, 0, -kOne, 320 * kOne, 240 * kOne}, {320, 240}, "vide"},
        {"doubled", {2 * kOne, 0, 0, 2 * kOne, 0, 0}, {640, 480}, "vide"},
        {"a sound track's header", {kOne, 0, 0, kOne, 0, 0}, {320, 240}, "soun"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto file =
            cat({kFileType,
                 box("moov", cat({box("mvhd", foundation::Data(100, 0)), track(7, c.handler, c.matrix, 320, 240)}))});
        auto tracks = readMediaTracks(file);
        ASSERT_TRUE(tracks.ok()) << tracks.error().description();
        ASSERT_EQ(tracks.value().size(), 1u);
        EXPECT_EQ(tracks.value()[0].trackID, 7u);
        EXPECT_EQ(tracks.value()[0].mediaType, c.handler);
        EXPECT_EQ(applyTransform(tracks.value()[0].naturalSize, tracks.value()[0].preferredTransform), c.upright);
        EXPECT_EQ(firstVideoTrack(tracks.value()) != nullptr, std::string(c.handler) == "vide");
    }
}

TEST(MediaTracks, HostileFilesFailWithTheBoxAndOffset) {
    const auto goodTrack = track(1, "vide", {kOne, 0, 0, kOne, 0, 0}, 10, 10);
    // A box claiming more than its parent holds, and one smaller than its own header.
    auto tooBig = box("moov", goodTrack);
    tooBig[3] = static_cast<uint8_t>(tooBig[3] + 1);
    auto tooSmall = cat({foundation::Data{0, 0, 0, 4, 'f', 'r', 'e', 'e'}, box("moov", goodTrack)});
    // A 64-bit size near the top of the range.
    auto huge = cat({foundation::Data{0, 0, 0, 1, 'm', 'd', 'a', 't', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0},
                     box("moov", goodTrack)});
    foundation::Data manyBoxes;
    for (size_t i = 0; i <= kMediaTrackMaximumBoxes; ++i) {
        auto b = box("free", {});
        manyBoxes.insert(manyBoxes.end(), b.begin(), b.end());
    }
    foundation::Data manyTracks;
    for (size_t i = 0; i <= kMediaTrackMaximumTracks; ++i) {
        auto b = track(static_cast<uint32_t>(i), "vide", {kOne, 0, 0, kOne, 0, 0}, 1, 1);
        manyTracks.insert(manyTracks.end(), b.begin(), b.end());
    }
    auto cutHeader = tkhd(1, {kOne, 0, 0, kOne, 0, 0}, 10, 10);
    cutHeader.resize(cutHeader.size() - 6);
    cutHeader[3] = static_cast<uint8_t>(cutHeader.size());
    auto badVersion = tkhd(1, {kOne, 0, 0, kOne, 0, 0}, 10, 10);
    badVersion[8] = 7;

    struct Case {
        const char* what;
        foundation::Data bytes;
        int64_t code;
        const char* field;  // a prefix of the field named
    };
    const Case cases[] = {
        {"a box larger than the file", cat({kFileType, tooBig}), kMediaTrackMalformed, "box size of 'moov'"},
        {"a box smaller than its header", tooSmall, kMediaTrackMalformed, "box size of 'free'"},
        {"a 64-bit size past the end", huge, kMediaTrackMalformed, "box size of 'mdat'"},
        {"a header cut short", foundation::Data{0, 0, 0}, kMediaTrackMalformed, "box size"},
        {"too many boxes", manyBoxes, kMediaTrackMalformed, "box count"},
        {"too many tracks", box("moov", manyTracks), kMediaTrackMalformed, "track count"},
        {"a track header cut short", box("moov", box("trak", cutHeader)), kMediaTrackMalformed, "tkhd"},
        {"a track header of an unknown version", box("moov", box("trak", badVersion)), kMediaTrackMalformed,
         "tkhd version"},
        {"a track without a header", box("moov", box("trak", box("mdia", hdlr("vide")))), kMediaTrackMalformed, "tkhd"},
        {"no movie at all", cat({kFileType, box("mdat", foundation::Data(50, 1))}), kMediaTrackNoMovie, ""},
        {"nothing", {}, kMediaTrackNoMovie, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto tracks = readMediaTracks(c.bytes);
        ASSERT_FALSE(tracks.ok());
        EXPECT_EQ(tracks.error().domain, kMediaTrackErrorDomain);
        EXPECT_EQ(tracks.error().code, c.code);
        if (c.code == kMediaTrackMalformed) {
            EXPECT_TRUE(tracks.error().userInfo.get("field").stringValue().starts_with(c.field))
                << tracks.error().description();
            EXPECT_TRUE(tracks.error().userInfo.get("offset").isInt());
        }
    }
}

TEST(MediaTracks, ABoxRunningToTheEndAndAMovieWithoutTracksRead) {
    // Size 0: the movie box takes the rest of the file.
    auto open = box("moov", track(3, "vide", {kOne, 0, 0, kOne, 0, 0}, 8, 6));
    open[0] = open[1] = open[2] = open[3] = 0;
    auto tracks = readMediaTracks(cat({kFileType, open}));
    ASSERT_TRUE(tracks.ok()) << tracks.error().description();
    ASSERT_EQ(tracks.value().size(), 1u);
    EXPECT_EQ(tracks.value()[0].naturalSize, (MediaSize{8, 6}));
    auto empty = readMediaTracks(cat({kFileType, box("moov", box("mvhd", foundation::Data(100, 0)))}));
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value().empty());
    EXPECT_EQ(firstVideoTrack(empty.value()), nullptr);
}

TEST(MediaTracks, AMoviesLengthIsItsHeadersDurationOverItsTimeScale) {
    // A movie header: version, flags, two dates, the time scale and the duration (32 or 64 bits).
    auto mvhd = [](uint8_t version, uint32_t scale, uint64_t duration) {
        foundation::Data body{version, 0, 0, 0};
        body.resize(body.size() + (version == 1 ? 16 : 8), 0);
        put32(body, scale);
        if (version == 1) put32(body, static_cast<uint32_t>(duration >> 32));
        put32(body, static_cast<uint32_t>(duration));
        body.resize(body.size() + 80, 0);
        return box("mvhd", body);
    };
    auto movie = [](const foundation::Data& header) {
        return cat({kFileType, box("moov", cat({header, track(1, "vide", {kOne, 0, 0, kOne, 0, 0}, 8, 6)}))});
    };
    struct Case {
        const char* what;
        foundation::Data bytes;
        double seconds;
    };
    auto file = [](const char* name) {
        auto bytes = foundation::files::readData(media(name));
        return bytes ? bytes.value() : foundation::Data{};
    };
    const Case cases[] = {
        {"the emulator's MPEG-4 video", file("video.mp4"), 3.0},
        {"the emulator's QuickTime movie", file("video.mov"), 3.0},
        {"version 0", movie(mvhd(0, 600, 1500)), 2.5},
        {"version 1, 64-bit duration", movie(mvhd(1, 90000, 5'400'000'000ull)), 60000.0},
        {"a length the writer did not know", movie(mvhd(0, 1000, 0xFFFFFFFFu)), 0},
        {"no time scale", movie(mvhd(0, 0, 1500)), 0},
        {"no movie header", movie({}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto read = readMediaMovie(c.bytes);
        ASSERT_TRUE(read.ok()) << read.error().description();
        EXPECT_DOUBLE_EQ(read.value().duration, c.seconds);
        EXPECT_FALSE(read.value().tracks.empty());
    }
    // A header cut short or of an unknown version is a malformed file, as a track header is.
    foundation::Data cut{0, 0, 0, 0, 0, 0, 0, 0};
    auto shortHeader = readMediaMovie(movie(box("mvhd", cut)));
    ASSERT_FALSE(shortHeader.ok());
    EXPECT_TRUE(shortHeader.error().userInfo.get("field").stringValue().starts_with("mvhd"));
    auto unknown = readMediaMovie(movie(mvhd(2, 600, 1500)));
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error().userInfo.get("field").stringValue(), "mvhd version");
}
