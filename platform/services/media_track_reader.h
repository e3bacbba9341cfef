// Reads the tracks of an ISO base-media file (a QuickTime movie or an MPEG-4 file): for each
// track its kind (the handler: "vide", "soun", ...), the natural size from its track header and
// the preferred transform (the header's matrix), so that a video's upright size can be worked
// out, and the movie's length from its movie header. Only the boxes on the way to the track
// headers are read (file, movie, track, media: the nesting never goes deeper than that path). The input is outside
// data: box sizes are checked against what encloses them, the boxes and tracks read are counted against limits, and a
// malformed file fails with an error naming the box and offset, never a read past the bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/error.h"

namespace services {

inline constexpr const char* kMediaTrackErrorDomain = "HXMediaTrackErrorDomain";
enum MediaTrackErrorCode : int64_t { kMediaTrackMalformed = 1, kMediaTrackNoMovie = 2, kMediaTrackUnreadable = 3 };

// The 2-D affine part of a track's matrix, x' = a x + c y + tx, y' = b x + d y + ty.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

struct MediaSize {
    double width = 0;
    double height = 0;
    friend bool operator==(const MediaSize&, const MediaSize&) = default;
};

// A size through a transform: the extent of the transformed rectangle (a quarter turn swaps the
// sides; the translation does not change a size). Both sides are positive or zero.
MediaSize applyTransform(MediaSize size, const AffineTransform& transform);

struct MediaTrack {
    uint32_t trackID = 0;
    std::string mediaType;  // the handler type: "vide", "soun", "text", ... ("" when it has none)
    MediaSize naturalSize;
    AffineTransform preferredTransform;
};

// Limits on what a file may ask of the reader.
inline constexpr size_t kMediaTrackMaximumBoxes = 4096;
inline constexpr size_t kMediaTrackMaximumTracks = 64;

foundation::Result<std::vector<MediaTrack>> readMediaTracks(std::span<const uint8_t> bytes);

// The movie as a whole: its tracks and its length in seconds (the movie header's duration over
// its time scale; 0 when the movie has no header or no time scale).
struct MediaMovie {
    std::vector<MediaTrack> tracks;
    double duration = 0;
};
foundation::Result<MediaMovie> readMediaMovie(std::span<const uint8_t> bytes);
foundation::Result<std::vector<MediaTrack>> readMediaTracksOfFile(const std::filesystem::path& path);

// The first video track, if the file has one.
const MediaTrack* firstVideoTrack(const std::vector<MediaTrack>& tracks);

}  // namespace services
