#include "platform/graphics/resampled_pieces.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <list>
#include <optional>
#include <unordered_map>
#include <vector>

namespace graphics {
namespace {

// What a thread keeps at most, in bytes of resampled pixels: the edges of a screenful of bubbles
// at every width a thread shows, many times over.
constexpr size_t kBudgetBytes = size_t{4} << 20;

// What a piece is resampled to, besides its pixels.
struct PieceShape {
    int pieceWidth = 0, pieceHeight = 0, width = 0, height = 0;
    bool coverageOnly = false;
    PieceFill fill;
    bool operator==(const PieceShape&) const = default;
};

// The pixels of a piece where they lie, row after row.
struct PieceView {
    const Bitmap& pixels;
    const PixelPiece& piece;
    const uint32_t* row(int y) const { return pixels.row(piece.y + y) + piece.x; }
};

// Where a piece was cut from: a bitmap, a place in it and what it was resampled to.
struct CutFrom {
    const Bitmap* bitmap;
    int x, y;
    PieceShape shape;
    bool operator==(const CutFrom&) const = default;
};

struct CutFromHash {
    size_t operator()(const CutFrom& c) const {
        uint64_t h = reinterpret_cast<uintptr_t>(c.bitmap) * 0x9e3779b97f4a7c15ull;
        for (int v : {c.x, c.y, c.shape.pieceWidth, c.shape.pieceHeight, c.shape.width, c.shape.height})
            h = (h ^ static_cast<uint32_t>(v)) * 0x100000001b3ull;
        return static_cast<size_t>(h ^ (c.shape.coverageOnly ? 1 : 0) ^ (c.shape.fill.tiled ? 2 : 0));
    }
};

struct Kept {
    uint64_t hash;
    PieceShape shape;
    std::vector<uint32_t> pixels;  // the piece's own, row after row
    std::shared_ptr<const ResampledPiece> resampled;
    size_t bytes;
    std::vector<CutFrom> cuts;  // the places it was last found at
    bool holds(const PieceShape& s, const PieceView& v) const {
        if (!(shape == s)) return false;
        const size_t w = static_cast<size_t>(s.pieceWidth);
        for (int y = 0; y < s.pieceHeight; ++y)
            if (std::memcmp(pixels.data() + w * static_cast<size_t>(y), v.row(y), w * sizeof(uint32_t)) != 0)
                return false;
        return true;
    }
};

// The bytes a kept piece holds but for its runs of rows: its pixels and what it was resampled to.
size_t pixelBytes(const PieceShape& s) {
    const int stride = cairo_format_stride_for_width(s.coverageOnly ? CAIRO_FORMAT_A8 : CAIRO_FORMAT_ARGB32, s.width);
    return static_cast<size_t>(stride) * static_cast<size_t>(s.height) +
           static_cast<size_t>(s.pieceWidth) * static_cast<size_t>(s.pieceHeight) * sizeof(uint32_t);
}

uint64_t mixed(uint64_t h, uint64_t v) {
    h = (h ^ v) * 0x9e3779b97f4a7c15ull;
    return h ^ (h >> 29);
}

uint64_t hashOf(const PieceShape& s, const PieceView& v) {
    uint64_t a = mixed(0x243f6a8885a308d3ull, uint64_t(uint32_t(s.width)) << 32 | uint32_t(s.height));
    a = mixed(a, uint64_t(uint32_t(s.pieceWidth)) << 32 | uint32_t(s.pieceHeight));
    a = mixed(a, (s.coverageOnly ? 1u : 0u) | (s.fill.tiled ? 2u : 0u));
    uint64_t b = 0x13198a2e03707344ull;
    // Two lanes of pixel pairs, so that the multiplications do not wait on each other.
    for (int y = 0; y < s.pieceHeight; ++y) {
        const uint32_t* row = v.row(y);
        int x = 0;
        for (; x + 4 <= s.pieceWidth; x += 4) {
            uint64_t p, q;
            std::memcpy(&p, row + x, 8);
            std::memcpy(&q, row + x + 2, 8);
            a = mixed(a, p);
            b = mixed(b, q);
        }
        for (; x < s.pieceWidth; ++x) a = mixed(a, row[x]);
    }
    return mixed(a, b);
}

class KeptPieces {
public:
    ~KeptPieces() { forget(); }

    // The piece last found where this one is cut from, if its pixels are still the same: a
    // comparison, cheaper than hashing them.
    std::shared_ptr<const ResampledPiece> findCut(const CutFrom& cut, const PieceView& view) {
        auto it = cuts_.find(cut);
        if (it == cuts_.end() || !it->second->holds(cut.shape, view)) return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return it->second->resampled;
    }

    std::shared_ptr<const ResampledPiece> find(uint64_t hash, const CutFrom& cut, const PieceView& view) {
        auto it = index_.find(hash);
        if (it == index_.end() || !it->second->holds(cut.shape, view)) return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        remember(cut, it->second);
        return it->second->resampled;
    }

    void keep(uint64_t hash, const PieceShape& shape, const PieceView& view,
              std::shared_ptr<const ResampledPiece> resampled) {
        const size_t w = static_cast<size_t>(shape.pieceWidth), h = static_cast<size_t>(shape.pieceHeight);
        const size_t bytes = pixelBytes(shape) + resampled->rows.size() * sizeof(ResampledPiece::Rows);
        if (bytes > kBudgetBytes / 8) return;
        // Another piece of the same hash (a collision) gives way to this one.
        if (auto it = index_.find(hash); it != index_.end()) drop(it->second);
        while (bytes_ + bytes > kBudgetBytes && !order_.empty()) drop(std::prev(order_.end()));
        std::vector<uint32_t> pixels;
        pixels.reserve(w * h);
        for (int y = 0; y < shape.pieceHeight; ++y) pixels.insert(pixels.end(), view.row(y), view.row(y) + w);
        order_.push_front(Kept{hash, shape, std::move(pixels), std::move(resampled), bytes, {}});
        index_.emplace(hash, order_.begin());
        bytes_ += bytes;
        remember(CutFrom{&view.pixels, view.piece.x, view.piece.y, shape}, order_.begin());
    }

    void forget() {
        while (!order_.empty()) drop(std::prev(order_.end()));
    }

    uint64_t made = 0;

private:
    void remember(const CutFrom& cut, std::list<Kept>::iterator kept) {
        auto [it, added] = cuts_.try_emplace(cut, kept);
        if (!added && it->second == kept) return;
        it->second = kept;
        kept->cuts.push_back(cut);
    }

    void drop(std::list<Kept>::iterator kept) {
        for (const CutFrom& cut : kept->cuts)
            if (auto it = cuts_.find(cut); it != cuts_.end() && it->second == kept) cuts_.erase(it);
        index_.erase(kept->hash);
        bytes_ -= kept->bytes;
        order_.erase(kept);
    }

    std::list<Kept> order_;  // most recently used first
    std::unordered_map<uint64_t, std::list<Kept>::iterator> index_;
    std::unordered_map<CutFrom, std::list<Kept>::iterator, CutFromHash> cuts_;
    size_t bytes_ = 0;
};

KeptPieces& keptPieces() {
    thread_local KeptPieces kept;
    return kept;
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

// The premultiplied pixel every pixel of row y holds (a coverage in its alpha alone), if they all
// hold the same.
std::optional<uint32_t> uniformRow(cairo_surface_t* surface, int y) {
    const unsigned char* row =
        cairo_image_surface_get_data(surface) + static_cast<ptrdiff_t>(cairo_image_surface_get_stride(surface)) * y;
    const int width = cairo_image_surface_get_width(surface);
    if (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_A8) {
        for (int x = 1; x < width; ++x)
            if (row[x] != row[0]) return std::nullopt;
        return uint32_t{row[0]} << 24;
    }
    const auto* pixels = reinterpret_cast<const uint32_t*>(row);
    for (int x = 1; x < width; ++x)
        if (pixels[x] != pixels[0]) return std::nullopt;
    return pixels[0];
}

}  // namespace

ResampledPiece::ResampledPiece(cairo_surface_t* made) : surface(made) {
    const int height = cairo_image_surface_get_height(surface);
    for (int y = 0; y < height; ++y) {
        const auto value = uniformRow(surface, y);
        if (!rows.empty() && rows.back().uniform == value.has_value() && (!value || rows.back().value == *value)) {
            rows.back().bottom = y + 1;
        } else {
            rows.push_back(Rows{y, y + 1, value.has_value(), value.value_or(0)});
        }
    }
}

ResampledPiece::~ResampledPiece() { cairo_surface_destroy(surface); }

std::shared_ptr<const ResampledPiece> resampledPiece(cairo_surface_t* source, const Bitmap& pixels,
                                                     const PixelPiece& piece, int width, int height, bool coverageOnly,
                                                     const PieceFill& fill) {
    auto& kept = keptPieces();
    const PieceShape shape{piece.width, piece.height, width, height, coverageOnly, fill};
    const PieceView view{pixels, piece};
    const CutFrom cut{&pixels, piece.x, piece.y, shape};
    if (auto found = kept.findCut(cut, view)) return found;
    const uint64_t hash = hashOf(shape, view);
    if (auto found = kept.find(hash, cut, view)) return found;
    auto made = std::make_shared<const ResampledPiece>(resample(source, piece, width, height, coverageOnly, fill));
    ++kept.made;
    kept.keep(hash, shape, view, made);
    return made;
}

bool keepsResampledPiece(const PixelPiece& piece, int width, int height, bool coverageOnly) {
    return pixelBytes(PieceShape{piece.width, piece.height, width, height, coverageOnly, {}}) < kBudgetBytes / 8;
}

uint64_t piecesResampled() { return keptPieces().made; }

void forgetResampledPieces() { keptPieces().forget(); }

namespace {

// What a thread keeps at most of whole pictures, in bytes of their pixels: a screenful of bubbles
// at every size a long thread shows, several times over.
constexpr size_t kWholeBudgetBytes = size_t{12} << 20;

uint64_t hashOf(uint64_t stamp, const WholePictureKey& k) {
    uint64_t h = mixed(0x452821e638d01377ull, stamp);
    h = mixed(h, uint64_t(uint32_t(k.width)) << 32 | uint32_t(k.height));
    for (int i = 0; i < 4; ++i) {
        h = mixed(h, uint64_t(uint32_t(k.cutX[i])) << 32 | uint32_t(k.cutY[i]));
        h = mixed(h, uint64_t(uint32_t(k.sourceX[i])) << 32 | uint32_t(k.sourceY[i]));
    }
    for (double v : {k.scaleX, k.scaleY, k.imageScale, k.tint[0], k.tint[1], k.tint[2], k.tint[3], k.alpha,
                     k.backdrop[0], k.backdrop[1], k.backdrop[2], k.backdrop[3]}) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        h = mixed(h, bits);
    }
    return mixed(h, (k.tiled ? 1u : 0u) | (k.tinted ? 2u : 0u) | (k.overBackdrop ? 4u : 0u));
}

class KeptWholePictures {
public:
    std::shared_ptr<const ResampledPiece> find(uint64_t hash, uint64_t stamp, const WholePictureKey& key) {
        auto it = index_.find(hash);
        if (it == index_.end() || it->second->stamp != stamp || !(it->second->key == key)) return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return it->second->picture;
    }

    void keep(uint64_t hash, uint64_t stamp, const WholePictureKey& key, std::shared_ptr<const ResampledPiece> picture,
              size_t bytes) {
        if (auto it = index_.find(hash); it != index_.end()) drop(it->second);
        while (bytes_ + bytes > kWholeBudgetBytes && !order_.empty()) drop(std::prev(order_.end()));
        order_.push_front(Entry{hash, stamp, key, std::move(picture), bytes});
        index_.emplace(hash, order_.begin());
        bytes_ += bytes;
    }

    void forget() {
        while (!order_.empty()) drop(std::prev(order_.end()));
    }

    uint64_t drawn = 0;

private:
    struct Entry {
        uint64_t hash, stamp;
        WholePictureKey key;
        std::shared_ptr<const ResampledPiece> picture;
        size_t bytes;
    };

    void drop(std::list<Entry>::iterator entry) {
        index_.erase(entry->hash);
        bytes_ -= entry->bytes;
        order_.erase(entry);
    }

    std::list<Entry> order_;  // most recently used first
    std::unordered_map<uint64_t, std::list<Entry>::iterator> index_;
    size_t bytes_ = 0;
};

KeptWholePictures& keptWholePictures() {
    thread_local KeptWholePictures kept;
    return kept;
}

// The rows around a picture's middle whose middle columns all hold the middle's value: over an
// opaque backdrop, a bubble's caps are mostly its plain colour between their rounded ends.
void findPlainMiddle(ResampledPiece& picture, const WholePictureKey& key) {
    const int left = key.cutX[1], right = key.cutX[2], top = key.cutY[1], bottom = key.cutY[2];
    if (left >= right || top >= bottom) return;
    const unsigned char* data = cairo_image_surface_get_data(picture.surface);
    const int stride = cairo_image_surface_get_stride(picture.surface);
    const auto row = [&](int y) { return reinterpret_cast<const uint32_t*>(data + ptrdiff_t{stride} * y) + left; };
    const uint32_t value = row(top)[0];
    const auto plain = [&](int y) {
        return std::all_of(row(y), row(y) + (right - left), [&](uint32_t p) { return p == value; });
    };
    for (int y = top; y < bottom; ++y)
        if (!plain(y)) return;
    int from = top, to = bottom;
    while (from > 0 && plain(from - 1)) --from;
    while (to < key.height && plain(to)) ++to;
    picture.plainTop = from, picture.plainBottom = to, picture.plainValue = value;
}

// Whether every pixel of the picture is at full alpha.
bool allOpaque(const ResampledPiece& picture) {
    cairo_surface_t* surface = picture.surface;
    if (cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) return false;
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface), width = cairo_image_surface_get_width(surface);
    for (int y = 0; y < cairo_image_surface_get_height(surface); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + ptrdiff_t{stride} * y);
        if (!std::all_of(row, row + width, [](uint32_t p) { return (p >> 24) == 0xff; })) return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<const ResampledPiece> wholePicture(const Bitmap& source, const WholePictureKey& key,
                                                   const std::function<void(cairo_t*)>& draw) {
    if (key.width < 1 || key.height < 1) return nullptr;
    const size_t bytes = static_cast<size_t>(cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, key.width)) *
                         static_cast<size_t>(key.height);
    if (bytes > kWholeBudgetBytes / 8) return nullptr;
    auto& kept = keptWholePictures();
    // The source's pixels as they are now.
    const uint64_t stamp = source.generation();
    const uint64_t hash = hashOf(stamp, key);
    if (auto found = kept.find(hash, stamp, key)) return found;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, key.width, key.height);
    cairo_t* cr = cairo_create(surface);
    draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    auto made = std::make_shared<ResampledPiece>(surface);
    if (key.overBackdrop) findPlainMiddle(*made, key);
    made->opaque = allOpaque(*made);
    ++kept.drawn;
    kept.keep(hash, stamp, key, made, bytes);
    return made;
}

uint64_t wholePicturesDrawn() { return keptWholePictures().drawn; }

namespace {
thread_local uint64_t opaqueCopies = 0;
}  // namespace

uint64_t opaqueCopiesDrawn() { return opaqueCopies; }

void noteOpaqueCopy() { ++opaqueCopies; }

namespace {
thread_local bool drawsWhole = true;
}  // namespace

void setDrawsWholePictures(bool on) { drawsWhole = on; }

bool drawsWholePictures() { return drawsWhole; }

void forgetWholePictures() { keptWholePictures().forget(); }

}  // namespace graphics
