// The pieces of stretched pictures resampled to the pixels they cover (not part of the library's
// interface). A piece that lands on whole pixels is resampled at the origin of a surface of its
// own and then painted at its place: the result does not depend on where the picture lies, so a
// piece met again at the same size (the edges of every bubble as wide as the last) is painted from
// what was kept instead of being resampled. Each thread keeps its own pieces, by their pixels.
#pragma once

#include <cstdint>
#include <functional>
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
    // Of a whole picture composed over a backdrop: the rows [plainTop, plainBottom) around its
    // middle in which the middle's columns all hold the middle's one value (none: equal).
    int plainTop = 0, plainBottom = 0;
    uint32_t plainValue = 0;
    // Of a whole picture: every pixel at full alpha (composed over anything, it gives its own).
    bool opaque = false;
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

// Whether such a piece is small enough to be kept (a larger one is resampled at every drawing).
bool keepsResampledPiece(const PixelPiece& piece, int width, int height, bool coverageOnly);

// How many pieces this thread has resampled (not taken from what it kept), and forgetting them.
uint64_t piecesResampled();
void forgetResampledPieces();

// A stretched picture whose pieces all land on whole pixels, drawn whole at the pixels it covers:
// what it is drawn from besides its source's pixels. Cuts are in pixels of the source and of the
// drawing (from its top left corner); the tint is the resolved colour (so light and dark differ).
struct WholePictureKey {
    int width = 0, height = 0;
    int cutX[4] = {}, cutY[4] = {};
    int sourceX[4] = {}, sourceY[4] = {};
    double scaleX = 1, scaleY = 1, imageScale = 1;  // pixels of the drawing to a point; of the source
    bool tiled = false;
    bool tinted = false;
    double tint[4] = {};
    double alpha = 1;
    // Composed over an opaque colour (RGBA as drawn), or over nothing.
    bool overBackdrop = false;
    double backdrop[4] = {};
    bool operator==(const WholePictureKey&) const = default;
};

// The picture drawn by `draw` (its pieces painted over a clear surface of key.width x key.height
// pixels, the drawing's top left corner at the surface's origin), kept by this thread for the next
// drawing with the same key of the source in the same generation (its pixels unchanged): the
// pixels it composes over a canvas are those its pieces painted there give, wherever it lies.
// None for a picture too large to keep.
std::shared_ptr<const ResampledPiece> wholePicture(const Bitmap& source, const WholePictureKey& key,
                                                   const std::function<void(cairo_t*)>& draw);

// How many times this thread has drawn a whole picture as its copy composed over a known
// backdrop (GraphicsContext::setKnownBackdrop), and counting one more.
uint64_t opaqueCopiesDrawn();
void noteOpaqueCopy();

// How many whole pictures this thread has drawn (not taken from what it kept), and forgetting them.
uint64_t wholePicturesDrawn();
void forgetWholePictures();
// Whether this thread draws stretched pictures whole where it can (the default) or always piece by
// piece (for comparing the two).
void setDrawsWholePictures(bool on);
bool drawsWholePictures();

}  // namespace graphics
