#include "platform/graphics/resampled_pieces.h"

#include <cstring>
#include <list>
#include <unordered_map>
#include <vector>

namespace graphics {
namespace {

// What a thread keeps at most, in bytes of resampled pixels: the edges of a screenful of bubbles
// at every width a thread shows, many times over.
constexpr size_t kBudgetBytes = size_t{4} << 20;

struct PieceKey {
    std::vector<uint32_t> pixels;  // the piece's own, row after row
    int pieceWidth = 0, pieceHeight = 0, width = 0, height = 0;
    bool coverageOnly = false;
    PieceFill fill;
    size_t hash = 0;
    bool operator==(const PieceKey& o) const {
        return hash == o.hash && pieceWidth == o.pieceWidth && pieceHeight == o.pieceHeight && width == o.width &&
               height == o.height && coverageOnly == o.coverageOnly && fill == o.fill && pixels == o.pixels;
    }
};

struct PieceKeyHash {
    size_t operator()(const PieceKey& k) const { return k.hash; }
};

struct Kept {
    PieceKey key;
    cairo_surface_t* surface;
    size_t bytes;
};

class KeptPieces {
public:
    ~KeptPieces() { forget(); }

    cairo_surface_t* find(const PieceKey& key) {
        auto it = index_.find(key);
        if (it == index_.end()) return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return cairo_surface_reference(it->second->surface);
    }

    void keep(PieceKey key, cairo_surface_t* surface, size_t bytes) {
        if (bytes > kBudgetBytes / 8) return;
        while (bytes_ + bytes > kBudgetBytes && !order_.empty()) dropOldest();
        order_.push_front(Kept{std::move(key), cairo_surface_reference(surface), bytes});
        index_.emplace(order_.front().key, order_.begin());
        bytes_ += bytes;
    }

    void forget() {
        while (!order_.empty()) dropOldest();
    }

    uint64_t resampled = 0;

private:
    void dropOldest() {
        Kept& last = order_.back();
        index_.erase(last.key);
        bytes_ -= last.bytes;
        cairo_surface_destroy(last.surface);
        order_.pop_back();
    }

    std::list<Kept> order_;  // most recently used first
    std::unordered_map<PieceKey, std::list<Kept>::iterator, PieceKeyHash> index_;
    size_t bytes_ = 0;
};

KeptPieces& keptPieces() {
    thread_local KeptPieces kept;
    return kept;
}

PieceKey keyOf(const Bitmap& pixels, const PixelPiece& piece, int width, int height, bool coverageOnly,
               const PieceFill& fill) {
    PieceKey key{{}, piece.width, piece.height, width, height, coverageOnly, fill, 0};
    key.pixels.reserve(static_cast<size_t>(piece.width) * piece.height);
    uint64_t h = 0xcbf29ce484222325ull ^ (uint64_t(width) << 32 | uint32_t(height)) ^ (coverageOnly ? 1 : 0) ^
                 (fill.tiled ? 2 : 0);
    for (int y = piece.y; y < piece.y + piece.height; ++y) {
        const uint32_t* row = pixels.row(y) + piece.x;
        key.pixels.insert(key.pixels.end(), row, row + piece.width);
        for (int x = 0; x < piece.width; ++x) h = (h ^ row[x]) * 0x100000001b3ull;
    }
    key.hash = static_cast<size_t>(h ^ (uint64_t(piece.width) << 16 | uint32_t(piece.height)));
    return key;
}

cairo_surface_t* resample(cairo_surface_t* source, const PixelPiece& piece, int width, int height, bool coverageOnly,
                          const PieceFill& fill) {
    cairo_surface_t* out =
        cairo_image_surface_create(coverageOnly ? CAIRO_FORMAT_A8 : CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(out);
    cairo_surface_t* cut = cairo_surface_create_for_rectangle(source, piece.x, piece.y, piece.width, piece.height);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(cut);
    cairo_matrix_t m;
    if (fill.tiled) {
        cairo_matrix_init_scale(&m, fill.tileScaleX, fill.tileScaleY);
    } else {
        cairo_matrix_init_scale(&m, static_cast<double>(piece.width) / width,
                                static_cast<double>(piece.height) / height);
    }
    cairo_pattern_set_matrix(pattern, &m);
    cairo_pattern_set_extend(pattern, fill.tiled ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source(cr, pattern);
    cairo_paint(cr);
    cairo_pattern_destroy(pattern);
    cairo_surface_destroy(cut);
    cairo_destroy(cr);
    cairo_surface_flush(out);
    return out;
}

}  // namespace

cairo_surface_t* resampledPiece(cairo_surface_t* source, const Bitmap& pixels, const PixelPiece& piece, int width,
                                int height, bool coverageOnly, const PieceFill& fill) {
    auto& kept = keptPieces();
    PieceKey key = keyOf(pixels, piece, width, height, coverageOnly, fill);
    if (cairo_surface_t* found = kept.find(key)) return found;
    cairo_surface_t* made = resample(source, piece, width, height, coverageOnly, fill);
    ++kept.resampled;
    const size_t bytes =
        static_cast<size_t>(cairo_image_surface_get_stride(made)) * height + key.pixels.size() * sizeof(uint32_t);
    kept.keep(std::move(key), made, bytes);
    return made;
}

uint64_t piecesResampled() { return keptPieces().resampled; }

void forgetResampledPieces() { keptPieces().forget(); }

}  // namespace graphics
