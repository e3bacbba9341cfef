// The pieces of stretched pictures resampled to the pixels they cover (not part of the library's
// interface). A piece that lands on whole pixels is resampled at the origin of a surface of its
// own and then painted at its place: the result does not depend on where the picture lies, so a
// piece met again at the same size (the edges of every bubble as wide as the last) is painted from
// what was kept instead of being resampled. Each thread keeps its own pieces, by their pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/graphics/bitmap.h"

typedef struct _cairo_surface cairo_surface_t;

namespace graphics {

struct PixelPiece {
    int x = 0, y = 0, width = 0, height = 0;
};

// How a piece fills its pixels: stretched over them, or repeated from their top left corner at
// `tileScale` pieces' pixels to a pixel.
struct PieceFill {
    bool tiled = false;
    double tileScaleX = 1, tileScaleY = 1;
    bool operator==(const PieceFill&) const = default;
};

// A piece resampled to the pixels it covers, and its rows in runs: a run of rows that hold one
// value all over is painted as that colour (several times cheaper than compositing them).
struct ResampledPiece {
    struct Rows {
        int top, bottom;  // [top, bottom)
        bool uniform;
        uint32_t value;  // of every pixel of a uniform run, premultiplied (a coverage in the alpha alone)
    };
    cairo_surface_t* surface;  // A8 or ARGB32
    std::vector<Rows> rows;
    explicit ResampledPiece(cairo_surface_t* made);
    ~ResampledPiece();
    ResampledPiece(const ResampledPiece&) = delete;
    ResampledPiece& operator=(const ResampledPiece&) = delete;
};

// `piece` of `pixels` (whose surface is `source`) resampled to width x height pixels with the
// pattern filter cairo picks for that scale, stretched (edges padded) or tiled: its coverage alone
// (A8, for a tint) or its colours (ARGB32).
std::shared_ptr<const ResampledPiece> resampledPiece(cairo_surface_t* source, const Bitmap& pixels,
                                                     const PixelPiece& piece, int width, int height, bool coverageOnly,
                                                     const PieceFill& fill = {});

// How many pieces this thread has resampled (not taken from what it kept), and forgetting them.
uint64_t piecesResampled();
void forgetResampledPieces();

}  // namespace graphics
