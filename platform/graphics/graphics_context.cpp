#include "platform/graphics/graphics_context.h"
#include "platform/graphics/clip_pixels.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/foundation/thread_annotations.h"
#include "platform/graphics/cairo_support.h"
#include "platform/graphics/resampled_pieces.h"
#include "platform/graphics/screen_scale.h"

namespace graphics {
namespace {

cairo_operator_t toCairo(BlendMode mode) {
    switch (mode) {
        case BlendMode::normal:
            return CAIRO_OPERATOR_OVER;
        case BlendMode::multiply:
            return CAIRO_OPERATOR_MULTIPLY;
        case BlendMode::screen:
            return CAIRO_OPERATOR_SCREEN;
        case BlendMode::overlay:
            return CAIRO_OPERATOR_OVERLAY;
        case BlendMode::darken:
            return CAIRO_OPERATOR_DARKEN;
        case BlendMode::lighten:
            return CAIRO_OPERATOR_LIGHTEN;
        case BlendMode::colorDodge:
            return CAIRO_OPERATOR_COLOR_DODGE;
        case BlendMode::colorBurn:
            return CAIRO_OPERATOR_COLOR_BURN;
        case BlendMode::softLight:
            return CAIRO_OPERATOR_SOFT_LIGHT;
        case BlendMode::hardLight:
            return CAIRO_OPERATOR_HARD_LIGHT;
        case BlendMode::difference:
            return CAIRO_OPERATOR_DIFFERENCE;
        case BlendMode::exclusion:
            return CAIRO_OPERATOR_EXCLUSION;
        case BlendMode::hue:
            return CAIRO_OPERATOR_HSL_HUE;
        case BlendMode::saturation:
            return CAIRO_OPERATOR_HSL_SATURATION;
        case BlendMode::color:
            return CAIRO_OPERATOR_HSL_COLOR;
        case BlendMode::luminosity:
            return CAIRO_OPERATOR_HSL_LUMINOSITY;
        case BlendMode::clear:
            return CAIRO_OPERATOR_CLEAR;
        case BlendMode::copy:
            return CAIRO_OPERATOR_SOURCE;
        case BlendMode::sourceIn:
            return CAIRO_OPERATOR_IN;
        case BlendMode::sourceOut:
            return CAIRO_OPERATOR_OUT;
        case BlendMode::sourceAtop:
            return CAIRO_OPERATOR_ATOP;
        case BlendMode::destinationOver:
            return CAIRO_OPERATOR_DEST_OVER;
        case BlendMode::destinationIn:
            return CAIRO_OPERATOR_DEST_IN;
        case BlendMode::destinationOut:
            return CAIRO_OPERATOR_DEST_OUT;
        case BlendMode::destinationAtop:
            return CAIRO_OPERATOR_DEST_ATOP;
        case BlendMode::xorMode:
            return CAIRO_OPERATOR_XOR;
        case BlendMode::plusLighter:
            return CAIRO_OPERATOR_ADD;
    }
    return CAIRO_OPERATOR_OVER;
}

// The pixel box holding every non-zero value of an A8 surface; empty when there is none.
struct PixelBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // [x0, x1) x [y0, y1)
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};

PixelBox inkedBox(const unsigned char* data, int w, int h, int stride) {
    PixelBox box{w, h, 0, 0};
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = data + size_t(y) * stride;
        int first = 0;
        while (first < w && row[first] == 0) ++first;
        if (first == w) continue;
        int last = w - 1;
        while (row[last] == 0) --last;
        box.x0 = std::min(box.x0, first);
        box.x1 = std::max(box.x1, last + 1);
        box.y0 = std::min(box.y0, y);
        box.y1 = y + 1;
    }
    if (box.x1 <= box.x0) return {};
    return box;
}

// Shadows drawn again unchanged (a window redrawn 60 times a second shows the same popover frame)
// take their blurred coverage from here: the last few coverages blurred, each kept with the
// coverage it came from, which must match byte for byte.
class BlurCache {
public:
    struct Entry {
        int width = 0, height = 0;
        double sigma = 0;
        std::vector<unsigned char> coverage;  // rows of width bytes, before the blur
        std::vector<unsigned char> blurred;
        PixelBox box;
    };
    static BlurCache& shared() {
        static BlurCache* cache = new BlurCache;
        return *cache;
    }
    // Copies the blurred coverage into the rows on a hit. (Compared row by row as they are: a
    // coverage that differs mostly differs early, and hashing every byte first cost more than
    // the comparison.)
    bool find(const unsigned char* rows, int w, int h, int stride, double sigma, PixelBox& box) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->width != w || it->height != h || it->sigma != sigma) continue;
            bool same = true;
            for (int y = 0; y < h && same; ++y)
                same = std::memcmp(rows + size_t(y) * stride, it->coverage.data() + size_t(y) * w, w) == 0;
            if (!same) continue;
            for (int y = 0; y < h; ++y)
                std::memcpy(const_cast<unsigned char*>(rows) + size_t(y) * stride, it->blurred.data() + size_t(y) * w,
                            w);
            box = it->box;
            // The one used last stays longest.
            std::rotate(entries_.begin(), it, it + 1);
            return true;
        }
        return false;
    }
    void add(Entry entry) {
        std::lock_guard lock(mutex_);
        entries_.insert(entries_.begin(), std::move(entry));
        if (entries_.size() > kEntries) entries_.pop_back();
    }

private:
    static constexpr size_t kEntries = 4;
    foundation::Mutex mutex_;
    std::vector<Entry> entries_ HX_GUARDED_BY(mutex_);
};

std::vector<unsigned char> packed(const unsigned char* rows, int w, int h, int stride) {
    std::vector<unsigned char> out(size_t(w) * h);
    for (int y = 0; y < h; ++y) std::memcpy(out.data() + size_t(y) * w, rows + size_t(y) * stride, w);
    return out;
}

PixelBox blurAlphaUncached(cairo_surface_t* a8, double sigma);

// The blur of a shadow's coverage, from the cache when the same coverage was blurred lately.
PixelBox blurAlpha(cairo_surface_t* a8, double sigma) {
    cairo_surface_flush(a8);
    const int w = cairo_image_surface_get_width(a8), h = cairo_image_surface_get_height(a8);
    const int stride = cairo_image_surface_get_stride(a8);
    unsigned char* data = cairo_image_surface_get_data(a8);
    PixelBox box;
    if (BlurCache::shared().find(data, w, h, stride, sigma, box)) {
        cairo_surface_mark_dirty(a8);
        return box;
    }
    BlurCache::Entry entry{w, h, sigma, packed(data, w, h, stride), {}, {}};
    box = blurAlphaUncached(a8, sigma);
    entry.blurred = packed(data, w, h, stride);
    entry.box = box;
    BlurCache::shared().add(std::move(entry));
    return box;
}

// Three box blurs in each direction approximate a gaussian of the given deviation (in pixels).
// Only the inked part of the surface and as far as the blur can spread from it is worked on
// (everything else is zero before and after); the box of what may be non-zero afterwards is
// returned.
PixelBox blurAlphaUncached(cairo_surface_t* a8, double sigma) {
    const int w = cairo_image_surface_get_width(a8), h = cairo_image_surface_get_height(a8);
    const int stride = cairo_image_surface_get_stride(a8);
    unsigned char* data = cairo_image_surface_get_data(a8);
    PixelBox box = inkedBox(data, w, h, stride);
    if (sigma < 0.5 || box.empty()) return box;
    // Box sizes for three passes with the given deviation.
    const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    const int upper = lower + 2;
    const int m =
        static_cast<int>(std::lround((12 * sigma * sigma - 3 * lower * lower - 12 * lower - 9) / (-4.0 * lower - 4)));
    int spread = 0;
    for (int pass = 0; pass < 3; ++pass) spread += std::max(0, ((pass < m ? lower : upper) - 1) / 2);
    box = {std::max(0, box.x0 - spread), std::max(0, box.y0 - spread), std::min(w, box.x1 + spread),
           std::min(h, box.y1 + spread)};
    const int bw = box.x1 - box.x0, bh = box.y1 - box.y0;
    unsigned char* origin = data + size_t(box.y0) * stride + box.x0;
    // Rounded averages over a box: the division by its size as a multiplication, exact for every
    // sum a box of up to 511 bytes can hold (checked over all of them when this was written).
    struct Average {
        uint64_t size, half, inverse;
        explicit Average(int n)
            : size(static_cast<uint64_t>(n)), half(static_cast<uint64_t>(n / 2)), inverse((1ull << 40) / size + 1) {}
        unsigned char operator()(uint64_t sum) const {
            return static_cast<unsigned char>(size < 512 ? ((sum + half) * inverse) >> 40 : (sum + half) / size);
        }
    };
    std::vector<uint32_t> line(bw);
    std::vector<unsigned char> copy(size_t(bw) * bh);
    std::vector<uint32_t> sums(bw);
    for (int pass = 0; pass < 3; ++pass) {
        const int r = ((pass < m ? lower : upper) - 1) / 2;
        if (r <= 0) continue;
        const Average average(2 * r + 1);
        // Along each row: a running sum over the box, what lies outside the region counting 0.
        for (int y = 0; y < bh; ++y) {
            unsigned char* row = origin + size_t(y) * stride;
            for (int x = 0; x < bw; ++x) line[x] = row[x];
            uint64_t sum = 0;
            for (int i = 0; i <= r && i < bw; ++i) sum += line[i];
            for (int i = 0; i < bw; ++i) {
                row[i] = average(sum);
                if (i + r + 1 < bw) sum += line[i + r + 1];
                if (i - r >= 0) sum -= line[i - r];
            }
        }
        // Down each column, a row at a time so that memory is read in order: a running sum per
        // column over a copy of the rows as they were.
        for (int y = 0; y < bh; ++y) std::copy_n(origin + size_t(y) * stride, bw, copy.data() + size_t(y) * bw);
        std::fill(sums.begin(), sums.end(), 0u);
        for (int i = 0; i <= r && i < bh; ++i) {
            const unsigned char* src = copy.data() + size_t(i) * bw;
            for (int x = 0; x < bw; ++x) sums[x] += src[x];
        }
        for (int y = 0; y < bh; ++y) {
            unsigned char* row = origin + size_t(y) * stride;
            for (int x = 0; x < bw; ++x) row[x] = average(sums[x]);
            if (y + r + 1 < bh) {
                const unsigned char* add = copy.data() + size_t(y + r + 1) * bw;
                for (int x = 0; x < bw; ++x) sums[x] += add[x];
            }
            if (y - r >= 0) {
                const unsigned char* drop = copy.data() + size_t(y - r) * bw;
                for (int x = 0; x < bw; ++x) sums[x] -= drop[x];
            }
        }
    }
    cairo_surface_mark_dirty(a8);
    return box;
}

// The affine map from an image's stored pixels to its upright pixels, for each orientation; the
// upright size swaps width and height for the four sideways ones.
AffineTransform uprightTransform(ImageOrientation o, double pw, double ph) {
    switch (o) {
        case ImageOrientation::up:
            return {};
        case ImageOrientation::down:
            return {-1, 0, 0, -1, pw, ph};
        case ImageOrientation::left:  // stored pixels turned a quarter anticlockwise
            return {0, -1, 1, 0, 0, pw};
        case ImageOrientation::right:  // a quarter clockwise
            return {0, 1, -1, 0, ph, 0};
        case ImageOrientation::upMirrored:
            return {-1, 0, 0, 1, pw, 0};
        case ImageOrientation::downMirrored:
            return {1, 0, 0, -1, 0, ph};
        case ImageOrientation::leftMirrored:
            return {0, 1, 1, 0, 0, 0};
        case ImageOrientation::rightMirrored:
            return {0, -1, -1, 0, ph, pw};
    }
    return {};
}

bool sideways(ImageOrientation o) {
    return o == ImageOrientation::left || o == ImageOrientation::right || o == ImageOrientation::leftMirrored ||
           o == ImageOrientation::rightMirrored;
}

thread_local std::vector<GraphicsContext*> contextStack;
thread_local std::vector<std::unique_ptr<GraphicsContext>> ownedImageContexts;

}  // namespace

foundation::Result<std::unique_ptr<GraphicsContext>> GraphicsContext::bitmap(int pixelWidth, int pixelHeight) {
    auto b = Bitmap::make(pixelWidth, pixelHeight);
    if (!b.ok()) return b.error();
    return std::unique_ptr<GraphicsContext>(
        new GraphicsContext(*b, Size{static_cast<double>(pixelWidth), static_cast<double>(pixelHeight)}, 1));
}

foundation::Result<std::unique_ptr<GraphicsContext>> GraphicsContext::image(Size size, bool opaque, double scale) {
    if (!(scale > 0) || !std::isfinite(scale)) scale = mainScreenScale();
    if (!(size.width > 0) || !(size.height > 0) || !std::isfinite(size.width) || !std::isfinite(size.height)) {
        return imageError(kImageCorruptError, "an image context needs a positive size");
    }
    const double pw = std::ceil(size.width * scale - 1e-9), ph = std::ceil(size.height * scale - 1e-9);
    if (pw > 1 << 20 || ph > 1 << 20) return imageError(kImageTooLargeError, "image context too large");
    auto b = Bitmap::make(static_cast<int64_t>(pw), static_cast<int64_t>(ph));
    if (!b.ok()) return b.error();
    if (opaque) std::fill((*b)->data(), (*b)->data() + size_t((*b)->width()) * (*b)->height(), 0xFF000000u);
    std::unique_ptr<GraphicsContext> context(new GraphicsContext(*b, size, scale));
    cairo_scale(context->cr_, scale, scale);
    return context;
}

GraphicsContext::GraphicsContext(std::shared_ptr<Bitmap> bitmap, Size size, double scale)
    : bitmap_(std::move(bitmap)), size_(size), scale_(scale) {
    surface_ = surfaceOver(*bitmap_);
    cr_ = cairo_create(surface_);
    cairo_set_line_width(cr_, 1);
    // Antialiased edges as on screen.
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_GRAY);
}

GraphicsContext::~GraphicsContext() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

void GraphicsContext::save() {
    cairo_save(cr_);
    saved_.push_back(state_);
}

void GraphicsContext::restore() {
    if (saved_.empty()) return;  // unbalanced: nothing to restore
    cairo_restore(cr_);
    state_ = saved_.back();
    saved_.pop_back();
}

void GraphicsContext::translate(double tx, double ty) { cairo_translate(cr_, tx, ty); }
void GraphicsContext::scaleBy(double sx, double sy) {
    if (sx != 0 && sy != 0 && std::isfinite(sx) && std::isfinite(sy)) cairo_scale(cr_, sx, sy);
}
void GraphicsContext::rotate(double radians) { cairo_rotate(cr_, radians); }
void GraphicsContext::concat(const AffineTransform& t) {
    if (!t.invertible()) return;
    const cairo_matrix_t m = graphics::toCairo(t);
    cairo_transform(cr_, &m);
}

AffineTransform GraphicsContext::ctm() const {
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    return {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
}

void GraphicsContext::setFillColor(const Color& color) { state_.fill = color; }
void GraphicsContext::setStrokeColor(const Color& color) { state_.stroke = color; }
void GraphicsContext::setLineWidth(double width) {
    if (width >= 0 && std::isfinite(width)) cairo_set_line_width(cr_, width);
}
void GraphicsContext::setLineCap(LineCap cap) {
    cairo_set_line_cap(cr_, cap == LineCap::round    ? CAIRO_LINE_CAP_ROUND
                            : cap == LineCap::square ? CAIRO_LINE_CAP_SQUARE
                                                     : CAIRO_LINE_CAP_BUTT);
}
void GraphicsContext::setLineJoin(LineJoin join) {
    cairo_set_line_join(cr_, join == LineJoin::round   ? CAIRO_LINE_JOIN_ROUND
                             : join == LineJoin::bevel ? CAIRO_LINE_JOIN_BEVEL
                                                       : CAIRO_LINE_JOIN_MITER);
}
void GraphicsContext::setMiterLimit(double limit) { cairo_set_miter_limit(cr_, limit); }
void GraphicsContext::setLineDash(double phase, const std::vector<double>& lengths) {
    // All-zero or negative lengths would put cairo into an error state: draw solid instead.
    bool usable = !lengths.empty();
    double total = 0;
    for (double l : lengths) {
        if (l < 0 || !std::isfinite(l)) usable = false;
        total += l;
    }
    if (!usable || total <= 0) {
        cairo_set_dash(cr_, nullptr, 0, 0);
        return;
    }
    cairo_set_dash(cr_, lengths.data(), static_cast<int>(lengths.size()), phase);
}
void GraphicsContext::setAlpha(double alpha) { state_.alpha = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1; }
void GraphicsContext::setBlendMode(BlendMode mode) { state_.blend = mode; }
void GraphicsContext::setShadow(Size offset, double blur, std::optional<Color> color) {
    state_.shadow = true;
    state_.shadowOffset = offset;
    state_.shadowBlur = std::max(0.0, blur);
    state_.shadowColor = color.value_or(Color::white(0, 1.0 / 3.0));
}
void GraphicsContext::clearShadow() { state_.shadow = false; }

void GraphicsContext::beginPath() {
    path_ = Path();
    cairo_new_path(cr_);
}
void GraphicsContext::addPath(const Path& path) { path_.addPath(path); }
void GraphicsContext::moveTo(Point p) { path_.moveTo(p); }
void GraphicsContext::lineTo(Point p) { path_.lineTo(p); }
void GraphicsContext::curveTo(Point c1, Point c2, Point end) { path_.curveTo(c1, c2, end); }
void GraphicsContext::addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise) {
    path_.addArc(center, radius, startAngle, endAngle, clockwise);
}
void GraphicsContext::addRect(const Rect& r) { path_.addRect(r); }
void GraphicsContext::addEllipse(const Rect& in) { path_.addEllipse(in); }
void GraphicsContext::closePath() { path_.close(); }

void GraphicsContext::setKnownBackdrop(const Color& color, const Rect& rect) {
    state_.backdrop.reset();
    const Color c = color.resolved(style_);
    if (c.isPattern()) return;
    const RGBA v = c.rgbaFor(style_);
    if (v.alpha < 1) return;
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    if (m.xy != 0 || m.yx != 0 || m.xx <= 0 || m.yy <= 0) return;
    // The whole pixels the rectangle covers entirely.
    const Rect r = rect.standardized();
    constexpr double kSlack = 1e-6;
    const double x0 = std::ceil(m.xx * r.minX() + m.x0 - kSlack), x1 = std::floor(m.xx * r.maxX() + m.x0 + kSlack);
    const double y0 = std::ceil(m.yy * r.minY() + m.y0 - kSlack), y1 = std::floor(m.yy * r.maxY() + m.y0 + kSlack);
    if (!(x0 < x1 && y0 < y1) || std::abs(x0) > 1e9 || std::abs(x1) > 1e9 || std::abs(y0) > 1e9 || std::abs(y1) > 1e9)
        return;
    state_.backdrop = State::Backdrop{v,
                                      static_cast<int>(x0),
                                      static_cast<int>(y0),
                                      static_cast<int>(x1),
                                      static_cast<int>(y1),
                                      cairo_get_group_target(cr_)};
}

void GraphicsContext::setSource(const Color& color) {
    const Color c = color.resolved(style_);
    if (c.isPattern()) {
        auto bitmap = c.patternImage()->bitmap();
        if (bitmap) {
            cairo_surface_t* s = surfaceOver(*bitmap);
            cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
            cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
            cairo_matrix_t m;
            const double k = c.patternImage()->scale();
            cairo_matrix_init_scale(&m, k, k);
            cairo_pattern_set_matrix(p, &m);
            cairo_set_source(cr_, p);
            cairo_pattern_destroy(p);
            // The source pattern holds the surface; the pixels are kept alive by the colour.
            cairo_surface_destroy(s);
            return;
        }
    }
    const RGBA v = c.rgbaFor(style_);
    cairo_set_source_rgba(cr_, v.red, v.green, v.blue, v.alpha);
}

namespace {

// Pictures of layers and shadows' coverage in memory the thread keeps. A picture as big as a line
// of text is a large block for the allocator, which hands such a block back cleared by returning
// its pages to the system and faulting them in anew: several times the cost of drawing the line,
// on every frame that draws it. Each thread keeps one block of each kind, up to kKeptPixelBytes,
// and clears the part it uses; a kind already in use or a bigger picture takes memory of its own.
constexpr size_t kKeptPixelBytes = 4 << 20;

class KeptPixels {
public:
    enum Kind { layer, coverage };
    KeptPixels(Kind kind, cairo_format_t format, int width, int height) {
        const int stride = cairo_format_stride_for_width(format, width);
        const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
        Slot& slot = slots()[kind];
        unsigned char* data = nullptr;
        if (!slot.inUse && bytes <= kKeptPixelBytes) {
            slot.inUse = true;
            slot_ = &slot;
            if (slot.bytes.size() < bytes) slot.bytes.resize(bytes);
            data = slot.bytes.data();
            std::memset(data, 0, bytes);
        } else {
            own_.assign(bytes, 0);
            data = own_.data();
        }
        surface_ = cairo_image_surface_create_for_data(data, format, width, height, stride);
    }
    ~KeptPixels() {
        // Finished, so that no reference left anywhere reads the memory once it serves another.
        cairo_surface_finish(surface_);
        cairo_surface_destroy(surface_);
        if (slot_) slot_->inUse = false;
    }
    KeptPixels(const KeptPixels&) = delete;
    KeptPixels& operator=(const KeptPixels&) = delete;
    cairo_surface_t* surface() const { return surface_; }
    // The bytes the calling thread keeps.
    static size_t keptBytes() { return slots()[layer].bytes.capacity() + slots()[coverage].bytes.capacity(); }

private:
    struct Slot {
        std::vector<unsigned char> bytes;
        bool inUse = false;
    };
    static Slot* slots() {
        thread_local Slot kept[2];
        return kept;
    }
    Slot* slot_ = nullptr;
    std::vector<unsigned char> own_;
    cairo_surface_t* surface_ = nullptr;
};

}  // namespace

size_t keptLayerBytes() { return KeptPixels::keptBytes(); }

namespace {
// Clears the context's whole surface (already clear) so that cairo knows it is: drawing on what it
// knows to be clear takes the same steps, and gives the same pixels, as on a surface it made.
void clearAll(cairo_t* cr) {
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
}
}  // namespace

// Draws with the state's alpha, blend mode and shadow. `draw` paints with its source at the given
// alpha in user space.
template <typename Draw>
void GraphicsContext::paintWithEffects(Draw draw) {
    const cairo_operator_t op = toCairo(state_.blend);
    if (!state_.shadow) {
        cairo_set_operator(cr_, op);
        draw(state_.alpha);
        cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
        return;
    }
    cairo_push_group(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    draw(1.0);
    cairo_pattern_t* picture = cairo_pop_group(cr_);
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    cairo_pattern_set_matrix(picture, &identity);
    paintWithShadow(picture);
    cairo_pattern_destroy(picture);
}

void GraphicsContext::paintWithShadow(cairo_pattern_t* picture) {
    const cairo_operator_t op = toCairo(state_.blend);
    // The shadow: the picture's coverage, blurred, offset and filled with the shadow colour. The
    // offset and blur are in points of the context, whatever the current transform. The picture
    // lies within the clip; its coverage is kept for the clip's box (in pixels), grown by as far
    // as the blur and the offset can carry it, within the canvas.
    const double dx = state_.shadowOffset.width * scale_, dy = state_.shadowOffset.height * scale_;
    double cx0 = 0, cy0 = 0, cx1 = 0, cy1 = 0;
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    cairo_clip_extents(cr_, &cx0, &cy0, &cx1, &cy1);
    cairo_restore(cr_);
    const double reach = 4 * state_.shadowBlur * scale_ + std::abs(dx) + std::abs(dy) + 2;
    const int ox = std::clamp(static_cast<int>(std::floor(cx0 - reach)), 0, bitmap_->width());
    const int oy = std::clamp(static_cast<int>(std::floor(cy0 - reach)), 0, bitmap_->height());
    const int ow = std::clamp(static_cast<int>(std::ceil(cx1 + reach)), ox, bitmap_->width()) - ox;
    const int oh = std::clamp(static_cast<int>(std::ceil(cy1 + reach)), oy, bitmap_->height()) - oy;
    // The coverage lies in memory the thread keeps (see keptPixels).
    KeptPixels kept(KeptPixels::coverage, CAIRO_FORMAT_A8, std::max(ow, 1), std::max(oh, 1));
    cairo_surface_t* mask = kept.surface();
    cairo_t* m = cairo_create(mask);
    clearAll(m);
    cairo_translate(m, -ox, -oy);
    cairo_set_source(m, picture);
    cairo_paint(m);
    cairo_destroy(m);
    PixelBox shadow = blurAlpha(mask, state_.shadowBlur * scale_ / 2);
    shadow = {shadow.x0 + ox, shadow.y0 + oy, shadow.x1 + ox, shadow.y1 + oy};
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    cairo_set_operator(cr_, op);
    const RGBA sc = state_.shadowColor.rgbaFor(style_);
    cairo_set_source_rgba(cr_, sc.red, sc.green, sc.blue, sc.alpha * state_.alpha);
    if (op != CAIRO_OPERATOR_OVER) {
        // Operators that reach outside the mask see all of it (nothing lies outside its box).
        cairo_mask_surface(cr_, mask, ox + dx, oy + dy);
    } else if (!shadow.empty()) {
        // Outside the blurred box the mask is empty: the shadow need not be composed there.
        cairo_save(cr_);
        cairo_rectangle(cr_, shadow.x0 + dx, shadow.y0 + dy, shadow.x1 - shadow.x0, shadow.y1 - shadow.y0);
        cairo_clip(cr_);
        cairo_mask_surface(cr_, mask, ox + dx, oy + dy);
        cairo_restore(cr_);
    }
    cairo_set_source(cr_, picture);
    cairo_paint_with_alpha(cr_, state_.alpha);
    cairo_restore(cr_);
}

void GraphicsContext::drawInLayer(const std::function<void()>& draw) {
    // Where the clip is not whole pixels the layer is the library's own group.
    if (!clipIsWholePixels(*this)) {
        beginTransparencyLayer();
        draw();
        endTransparencyLayer();
        return;
    }
    double cx0 = 0, cy0 = 0, cx1 = 0, cy1 = 0;
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    cairo_clip_extents(cr_, &cx0, &cy0, &cx1, &cy1);
    cairo_rectangle_list_t* clip = cairo_copy_clip_rectangle_list(cr_);
    cairo_restore(cr_);
    const int x0 = static_cast<int>(std::lround(cx0)), y0 = static_cast<int>(std::lround(cy0));
    const int w = static_cast<int>(std::lround(cx1)) - x0, h = static_cast<int>(std::lround(cy1)) - y0;
    if (w <= 0 || h <= 0) {
        // Nothing of it, nor of its shadow, would show.
        cairo_rectangle_list_destroy(clip);
        return;
    }
    // The layer as the library's group makes it: the clip's box of pixels, clear, drawn through
    // the same clip with the same transform.
    KeptPixels kept(KeptPixels::layer, CAIRO_FORMAT_ARGB32, w, h);
    cairo_surface_t* surface = kept.surface();
    cairo_surface_set_device_offset(surface, -x0, -y0);
    cairo_t* layer = cairo_create(surface);
    clearAll(layer);
    // A clip of one rectangle is the layer's own bounds; several are its clip.
    if (clip->num_rectangles > 1) {
        for (int i = 0; i < clip->num_rectangles; ++i) {
            const cairo_rectangle_t& r = clip->rectangles[i];
            cairo_rectangle(layer, r.x, r.y, r.width, r.height);
        }
        cairo_clip(layer);
    }
    cairo_rectangle_list_destroy(clip);
    cairo_matrix_t ctm;
    cairo_get_matrix(cr_, &ctm);
    cairo_set_matrix(layer, &ctm);
    cairo_set_line_width(layer, cairo_get_line_width(cr_));
    cairo_set_antialias(layer, cairo_get_antialias(cr_));
    const State before = state_;
    state_.alpha = 1;
    state_.blend = BlendMode::normal;
    state_.shadow = false;
    cairo_t* canvas = std::exchange(cr_, layer);
    draw();
    cr_ = canvas;
    state_ = before;
    cairo_destroy(layer);
    cairo_surface_flush(surface);
    // Painted as the group would be: in device space, within the clip.
    cairo_pattern_t* picture = cairo_pattern_create_for_surface(surface);
    if (state_.shadow) {
        paintWithShadow(picture);
    } else {
        cairo_pattern_set_matrix(picture, &ctm);
        cairo_set_operator(cr_, toCairo(state_.blend));
        cairo_set_source(cr_, picture);
        cairo_paint_with_alpha(cr_, state_.alpha);
        cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    }
    cairo_pattern_destroy(picture);
}

void GraphicsContext::fillPath(FillRule rule) {
    // Clear paint laid over what is there changes nothing (views of a clear colour fill their
    // background on every frame).
    const bool changesNothing = state_.blend == BlendMode::normal && !state_.shadow &&
                                !state_.fill.resolved(style_).isPattern() && state_.fill.resolved(style_).alpha() <= 0;
    if (!path_.isEmpty() && !changesNothing) {
        paintWithEffects([&](double alpha) {
            cairo_new_path(cr_);
            appendPath(cr_, path_);
            cairo_set_fill_rule(cr_, rule == FillRule::evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
            if (alpha >= 1) {
                setSource(state_.fill);
                cairo_fill(cr_);
            } else {
                cairo_save(cr_);
                cairo_clip(cr_);
                setSource(state_.fill);
                cairo_paint_with_alpha(cr_, alpha);
                cairo_restore(cr_);
            }
        });
    }
    beginPath();
}

void GraphicsContext::strokePath() {
    if (!path_.isEmpty()) {
        paintWithEffects([&](double alpha) {
            cairo_new_path(cr_);
            appendPath(cr_, path_);
            if (alpha >= 1) {
                setSource(state_.stroke);
                cairo_stroke(cr_);
            } else {
                cairo_push_group(cr_);
                cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);  // the blend mode applies when the group is drawn
                setSource(state_.stroke);
                cairo_stroke(cr_);
                cairo_pop_group_to_source(cr_);
                cairo_paint_with_alpha(cr_, alpha);
            }
        });
    }
    beginPath();
}

void GraphicsContext::drawPath(PathDrawingMode mode) {
    const Path path = path_;
    const FillRule rule = mode == PathDrawingMode::evenOddFill || mode == PathDrawingMode::evenOddFillStroke
                              ? FillRule::evenOdd
                              : FillRule::winding;
    if (mode != PathDrawingMode::stroke) fillPath(rule);
    if (mode == PathDrawingMode::stroke || mode == PathDrawingMode::fillStroke ||
        mode == PathDrawingMode::evenOddFillStroke) {
        path_ = path;
        strokePath();
    }
    beginPath();
}

void GraphicsContext::clip(FillRule rule) {
    cairo_new_path(cr_);
    appendPath(cr_, path_);
    cairo_set_fill_rule(cr_, rule == FillRule::evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr_);
    beginPath();
}

void GraphicsContext::clipToRect(const Rect& r) {
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.minX(), r.minY(), r.width(), r.height());
    cairo_clip(cr_);
    cairo_new_path(cr_);
}

Rect GraphicsContext::clipBoundingBox() const {
    double x0, y0, x1, y1;
    cairo_clip_extents(cr_, &x0, &y0, &x1, &y1);
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

bool clipIsWholePixels(const GraphicsContext& c) {
    // Cairo lists the clip as rectangles only when it is a region of whole pixels.
    cairo_rectangle_list_t* list = cairo_copy_clip_rectangle_list(c.cairo());
    const bool whole = list->status == CAIRO_STATUS_SUCCESS;
    cairo_rectangle_list_destroy(list);
    return whole;
}

void copyPixels(GraphicsContext& c, const Bitmap& pixels, int x, int y) {
    cairo_t* cr = c.cairo();
    cairo_surface_t* s = surfaceOver(pixels);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, s, x, y);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, x, y, pixels.width(), pixels.height());
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

// The shape drawn by `draw` on its own, the current path left as it was.
template <typename Draw>
void GraphicsContext::withPath(const Path& shape, Draw draw) {
    const Path kept = path_;
    path_ = shape;
    draw();
    path_ = kept;
}

void GraphicsContext::fillRect(const Rect& r) {
    withPath(Path::rect(r), [this] { fillPath(); });
}

void GraphicsContext::strokeRect(const Rect& r) {
    withPath(Path::rect(r), [this] { strokePath(); });
}

void GraphicsContext::fillEllipse(const Rect& in) {
    withPath(Path::ellipse(in), [this] { fillPath(); });
}

void GraphicsContext::clearRect(const Rect& r) {
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.minX(), r.minY(), r.width(), r.height());
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void GraphicsContext::drawLinearGradient(const Gradient& g, Point start, Point end, bool before, bool after) {
    if (g.colors.empty()) return;
    cairo_pattern_t* p = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
    std::vector<std::pair<double, RGBA>> stops;
    for (size_t i = 0; i < g.colors.size(); ++i) {
        const double at = i < g.locations.size() ? g.locations[i]
                          : g.colors.size() > 1  ? static_cast<double>(i) / (g.colors.size() - 1)
                                                 : 0;
        stops.emplace_back(std::clamp(std::isfinite(at) ? at : 0.0, 0.0, 1.0), g.colors[i].rgbaFor(style_));
    }
    // Between the ends and the outer stops the outer colours hold (cairo would leave it clear).
    if (stops.front().first > 0) stops.insert(stops.begin(), {0.0, stops.front().second});
    if (stops.back().first < 1) stops.push_back({1.0, stops.back().second});
    for (const auto& [at, c] : stops) cairo_pattern_add_color_stop_rgba(p, at, c.red, c.green, c.blue, c.alpha);
    // Cairo extends both ends or neither; one-sided extension is clipped to the gradient's side.
    cairo_pattern_set_extend(p, before || after ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
    paintWithEffects([&](double alpha) {
        cairo_save(cr_);
        if (before != after) {
            // Keep the half-plane on the extended side of the other end.
            // Unit direction, and a reach well inside cairo's fixed-point range.
            const double length = std::hypot(end.x - start.x, end.y - start.y);
            const double dx = length > 0 ? (end.x - start.x) / length : 0,
                         dy = length > 0 ? (end.y - start.y) / length : 1;
            const Point from = before ? end : start;
            const double sign = before ? 1 : -1;
            const double far = 1e5;
            cairo_move_to(cr_, from.x - dy * far, from.y + dx * far);
            cairo_line_to(cr_, from.x + dy * far, from.y - dx * far);
            cairo_line_to(cr_, from.x + dy * far - sign * dx * far, from.y - dx * far - sign * dy * far);
            cairo_line_to(cr_, from.x - dy * far - sign * dx * far, from.y + dx * far - sign * dy * far);
            cairo_close_path(cr_);
            cairo_clip(cr_);
        }
        cairo_set_source(cr_, p);
        cairo_paint_with_alpha(cr_, alpha);
        cairo_restore(cr_);
    });
    cairo_pattern_destroy(p);
}

void GraphicsContext::beginTransparencyLayer() {
    layers_.emplace_back(state_, false);
    cairo_push_group(cr_);
    state_.alpha = 1;
    state_.blend = BlendMode::normal;
    state_.shadow = false;
}

void GraphicsContext::beginTransparencyLayer(const Rect& extent) {
    // The group's surface is as big as the clip: a narrower clip makes it (and painting it) cheap.
    cairo_save(cr_);
    clipToPixelsOf(cr_, extent);
    layers_.emplace_back(state_, true);
    cairo_push_group(cr_);
    state_.alpha = 1;
    state_.blend = BlendMode::normal;
    state_.shadow = false;
}

void GraphicsContext::endTransparencyLayer() {
    if (layers_.empty()) return;
    cairo_pattern_t* layer = cairo_pop_group(cr_);
    const bool narrowed = layers_.back().second;
    state_ = layers_.back().first;
    layers_.pop_back();
    // The picture is painted (and casts its shadow) within the clip in force before it began.
    if (narrowed) cairo_restore(cr_);
    paintWithEffects([&](double alpha) {
        cairo_set_source(cr_, layer);
        cairo_paint_with_alpha(cr_, alpha);
    });
    cairo_pattern_destroy(layer);
}

void GraphicsContext::drawImage(const Image& image, const Rect& rect) {
    paintWithEffects([&](double alpha) {
        if (alpha >= 1) {
            drawImageCore(image, rect);
        } else if (piecesMeetOnPixels(image, rect)) {
            // Pieces that share no pixel show no seams when each is faded alone.
            drawImageCore(image, rect, alpha);
        } else {
            // Faded as one picture (a stretched image's pieces would show their seams), no bigger
            // than the pixels the image covers.
            cairo_save(cr_);
            clipToPixelsOf(cr_, rect.standardized());
            cairo_push_group(cr_);
            cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);  // the blend mode applies when the group is drawn
            drawImageCore(image, rect);
            cairo_pattern_t* picture = cairo_pop_group(cr_);
            cairo_restore(cr_);
            cairo_set_source(cr_, picture);
            cairo_paint_with_alpha(cr_, alpha);
            cairo_pattern_destroy(picture);
        }
    });
}

void GraphicsContext::drawImage(const Image& image, const Rect& rect, BlendMode mode, double alpha) {
    save();
    setBlendMode(mode);
    setAlpha(alpha * state_.alpha);
    drawImage(image, rect);
    restore();
}

void GraphicsContext::drawImage(const Image& image, Point at) { drawImage(image, Rect{at, image.size()}); }

void GraphicsContext::drawBitmap(const Bitmap& bitmap, const Rect& rect) {
    paintWithEffects([&](double alpha) {
        cairo_surface_t* s = surfaceOver(bitmap);
        cairo_save(cr_);
        cairo_translate(cr_, rect.minX(), rect.minY());
        cairo_scale(cr_, rect.width() / bitmap.width(), rect.height() / bitmap.height());
        cairo_set_source_surface(cr_, s, 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
        cairo_rectangle(cr_, 0, 0, bitmap.width(), bitmap.height());
        cairo_clip(cr_);
        cairo_paint_with_alpha(cr_, alpha);
        cairo_restore(cr_);
        cairo_surface_destroy(s);
    });
}

namespace {

// Where the caps of a stretched image cut it: x and y of the pieces' edges, in the image's pixels
// and in the rectangle it is drawn in. False when the image is drawn whole (not resizable, or at
// its own size).
bool nineCuts(const Image& image, const Bitmap& bitmap, const Rect& rect, double srcX[4], double srcY[4],
              double dstX[4], double dstY[4]) {
    // The caps belong to the picture as it is shown (a mirrored bubble keeps its left and right
    // caps): the pieces are cut from its pixels turned upright.
    const Size natural = image.size();
    const bool nine = image.isResizable() && (std::abs(rect.width() - natural.width) > 1e-9 ||
                                              std::abs(rect.height() - natural.height) > 1e-9);
    if (!nine) return false;
    // Caps in points of the image; pieces in its pixels.
    const EdgeInsets c = image.capInsets();
    const double k = image.scale();
    const bool turned = sideways(image.orientation());
    const double pw = turned ? bitmap.height() : bitmap.width(), ph = turned ? bitmap.width() : bitmap.height();
    const Rect d = rect.standardized();
    const double sx[4] = {0, c.left * k, pw - c.right * k, pw};
    const double sy[4] = {0, c.top * k, ph - c.bottom * k, ph};
    // Drawn smaller than its caps, a picture shrinks them in proportion, so that its two ends meet
    // instead of overlapping (a one-line bubble lower than its rounded caps).
    const double fx = c.left + c.right > d.width() ? d.width() / (c.left + c.right) : 1;
    const double fy = c.top + c.bottom > d.height() ? d.height() / (c.top + c.bottom) : 1;
    const double dx[4] = {d.minX(), d.minX() + c.left * fx, d.maxX() - c.right * fx, d.maxX()};
    const double dy[4] = {d.minY(), d.minY() + c.top * fy, d.maxY() - c.bottom * fy, d.maxY()};
    std::copy(sx, sx + 4, srcX);
    std::copy(sy, sy + 4, srcY);
    std::copy(dx, dx + 4, dstX);
    std::copy(dy, dy + 4, dstY);
    return true;
}

// The one premultiplied pixel every pixel of a small piece holds, if they all hold the same.
std::optional<uint32_t> uniformPixel(const Bitmap& bitmap, const Rect& piece) {
    const int x0 = static_cast<int>(piece.minX()), y0 = static_cast<int>(piece.minY());
    const int x1 = static_cast<int>(piece.maxX()), y1 = static_cast<int>(piece.maxY());
    // Only whole pixels, and only a few of them: the middle of a stretchable image is small.
    if (x0 != piece.minX() || y0 != piece.minY() || x1 != piece.maxX() || y1 != piece.maxY()) return std::nullopt;
    if (x1 <= x0 || y1 <= y0 || int64_t{x1 - x0} * (y1 - y0) > 256) return std::nullopt;
    if (x0 < 0 || y0 < 0 || x1 > bitmap.width() || y1 > bitmap.height()) return std::nullopt;
    const uint32_t first = bitmap.row(y0)[x0];
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (bitmap.row(y)[x] != first) return std::nullopt;
    return first;
}

// A piece of a picture and the whole pixels of the canvas it covers.
struct PlacedPiece {
    PixelPiece piece;
    int x, y, width, height;
    double scaleX, scaleY;  // canvas pixels to a point
};

// The key of a stretched picture drawn whole (but for its tint and alpha) where each of its
// pieces lands on whole pixels of a canvas that only scales and moves it, none over another, and
// is cut from whole pixels of its source; none elsewhere.
std::optional<WholePictureKey> wholePictureKey(const cairo_matrix_t& m, const Image& image, const double srcX[4],
                                               const double srcY[4], const double dstX[4], const double dstY[4]) {
    if (m.xy != 0 || m.yx != 0 || m.xx <= 0 || m.yy <= 0) return std::nullopt;
    WholePictureKey key;
    int x[4], y[4];
    for (int i = 0; i < 4; ++i) {
        const double dx = m.xx * dstX[i] + m.x0, dy = m.yy * dstY[i] + m.y0;
        if (!onWholePixel(dx) || !onWholePixel(dy) || !onWholePixel(srcX[i]) || !onWholePixel(srcY[i]))
            return std::nullopt;
        x[i] = static_cast<int>(std::lround(dx)), y[i] = static_cast<int>(std::lround(dy));
        if (i > 0 && (x[i] < x[i - 1] || y[i] < y[i - 1])) return std::nullopt;
        key.sourceX[i] = static_cast<int>(std::lround(srcX[i]));
        key.sourceY[i] = static_cast<int>(std::lround(srcY[i]));
    }
    for (int i = 0; i < 4; ++i) key.cutX[i] = x[i] - x[0], key.cutY[i] = y[i] - y[0];
    key.width = x[3] - x[0], key.height = y[3] - y[0];
    key.scaleX = m.xx, key.scaleY = m.yy, key.imageScale = image.scale();
    key.tiled = image.resizingMode() == ResizingMode::tile;
    return key;
}

}  // namespace

bool GraphicsContext::copyOverBackdrop(const Bitmap& source, const ResampledPiece& picture, const WholePictureKey& key,
                                       const State::Backdrop& under, int x0, int y0) {
    // The picture composed over the colour as it would be over the canvas there: the colour filled
    // as a view's background is, the picture painted over it.
    WholePictureKey opaqueKey = key;
    opaqueKey.overBackdrop = true;
    const RGBA& v = under.color;
    opaqueKey.backdrop[0] = v.red, opaqueKey.backdrop[1] = v.green, opaqueKey.backdrop[2] = v.blue,
    opaqueKey.backdrop[3] = v.alpha;
    const auto opaque = wholePicture(source, opaqueKey, [&](cairo_t* canvas) {
        cairo_set_source_rgba(canvas, v.red, v.green, v.blue, v.alpha);
        cairo_paint(canvas);
        cairo_set_source_surface(canvas, picture.surface, 0, 0);
        cairo_paint(canvas);
    });
    if (!opaque) return false;
    // Its plain middle, and the plain colour of its caps between their ends, are filled with that
    // one value (opaque, so a fill gives it exactly); the rest is copied.
    const int left = key.cutX[1], right = key.cutX[2];
    const int top = opaque->plainTop, bottom = opaque->plainBottom;
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr_, opaque->surface, x0, y0);
    // Rows the picture leaves clear hold the colour already.
    for (const ResampledPiece::Rows& run : picture.rows) {
        if (run.uniform && run.value == 0) continue;
        if (run.bottom <= top || run.top >= bottom) {
            cairo_rectangle(cr_, x0, y0 + run.top, key.width, run.bottom - run.top);
            continue;
        }
        if (run.top < top) cairo_rectangle(cr_, x0, y0 + run.top, key.width, top - run.top);
        if (run.bottom > bottom) cairo_rectangle(cr_, x0, y0 + bottom, key.width, run.bottom - bottom);
        const int from = std::max(run.top, top), to = std::min(run.bottom, bottom);
        cairo_rectangle(cr_, x0, y0 + from, left, to - from);
        cairo_rectangle(cr_, x0 + right, y0 + from, key.width - right, to - from);
    }
    cairo_fill(cr_);
    if (top < bottom) {
        const uint32_t pixel = opaque->plainValue;
        cairo_set_source_rgba(cr_, ((pixel >> 16) & 0xff) / 255.0, ((pixel >> 8) & 0xff) / 255.0,
                              (pixel & 0xff) / 255.0, 1);
        cairo_rectangle(cr_, x0 + left, y0 + top, right - left, bottom - top);
        cairo_fill(cr_);
    }
    cairo_restore(cr_);
    noteOpaqueCopy();
    return true;
}

bool GraphicsContext::piecesMeetOnPixels(const Image& image, const Rect& rect) const {
    auto bitmap = image.bitmap();
    if (!bitmap || rect.isEmpty()) return false;
    if (image.tintColor() && image.tintColor()->resolved(style_).isPattern()) return false;
    double srcX[4], srcY[4], dstX[4], dstY[4];
    if (!nineCuts(image, *bitmap, rect, srcX, srcY, dstX, dstY)) return false;
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    // Turned or sheared, the pieces' edges cross pixels.
    if (std::abs(m.xy) > 1e-12 || std::abs(m.yx) > 1e-12) return false;
    for (int i = 0; i < 4; ++i) {
        if (!onWholePixel(m.xx * dstX[i] + m.x0) || !onWholePixel(m.yy * dstY[i] + m.y0)) return false;
        // Drawn smaller than its caps, the pieces overlap.
        if (i > 0 && (dstX[i] < dstX[i - 1] || dstY[i] < dstY[i - 1])) return false;
    }
    return true;
}

void GraphicsContext::drawImageCore(const Image& image, const Rect& rect, double alpha) {
    auto bitmap = image.bitmap();
    if (!bitmap || rect.isEmpty()) return;
    cairo_surface_t* s = surfaceOver(*bitmap);
    double pw = bitmap->width(), ph = bitmap->height();
    std::shared_ptr<const Bitmap> shown = bitmap;  // the pixels the pieces are cut from
    // A tint is drawn faded by the alpha asked for.
    auto setTint = [&](double coverage) {
        const RGBA v = image.tintColor()->resolved(style_).rgbaFor(style_);
        cairo_set_source_rgba(cr_, v.red, v.green, v.blue, v.alpha * alpha * coverage);
    };
    // The picture's pixels, or its shape in the tint colour.
    auto paintPattern = [&](cairo_pattern_t* p) {
        if (image.tintColor() && !image.tintColor()->resolved(style_).isPattern()) {
            setTint(1);
            cairo_mask(cr_, p);
        } else if (image.tintColor()) {
            setSource(*image.tintColor());
            cairo_mask(cr_, p);
        } else {
            cairo_set_source(cr_, p);
            cairo_paint_with_alpha(cr_, alpha);
        }
    };
    const bool patternTint = image.tintColor() && image.tintColor()->resolved(style_).isPattern();
    // Where a piece lands in whole pixels of the canvas, if it does (drawn upright, unflipped).
    auto placedOnPixels = [&](const Rect& src, const Rect& dst, const Bitmap& from) -> std::optional<PlacedPiece> {
        cairo_matrix_t m;
        cairo_get_matrix(cr_, &m);
        if (m.xy != 0 || m.yx != 0 || m.xx <= 0 || m.yy <= 0) return std::nullopt;
        const double x0 = m.xx * dst.minX() + m.x0, x1 = m.xx * dst.maxX() + m.x0;
        const double y0 = m.yy * dst.minY() + m.y0, y1 = m.yy * dst.maxY() + m.y0;
        for (double v : {x0, x1, y0, y1, src.minX(), src.minY(), src.maxX(), src.maxY()})
            if (!onWholePixel(v)) return std::nullopt;
        PlacedPiece placed{{static_cast<int>(std::lround(src.minX())), static_cast<int>(std::lround(src.minY())),
                            static_cast<int>(std::lround(src.width())), static_cast<int>(std::lround(src.height()))},
                           static_cast<int>(std::lround(x0)),
                           static_cast<int>(std::lround(y0)),
                           static_cast<int>(std::lround(x1 - x0)),
                           static_cast<int>(std::lround(y1 - y0)),
                           m.xx,
                           m.yy};
        const PixelPiece& p = placed.piece;
        if (placed.width < 1 || placed.height < 1 || p.width < 1 || p.height < 1 || p.x < 0 || p.y < 0 ||
            p.x + p.width > from.width() || p.y + p.height > from.height())
            return std::nullopt;
        return placed;
    };
    // Paints the clip in one colour: a pixel of the picture (premultiplied), or as much of the tint
    // as a coverage.
    auto paintOneColour = [&](uint32_t pixel) {
        const auto straight = Bitmap::unpremultiplied(pixel);
        if (image.tintColor()) {
            setTint(straight[3] / 255.0);
        } else {
            cairo_set_source_rgba(cr_, straight[0] / 255.0, straight[1] / 255.0, straight[2] / 255.0,
                                  straight[3] / 255.0 * alpha);
        }
        cairo_paint(cr_);
    };
    // A piece resampled where it lands (x, y in pixels of the canvas), within the clip.
    auto paintResampled = [&](const ResampledPiece& piece, int x, int y) {
        if (image.tintColor()) {
            setTint(1);
            cairo_mask_surface(cr_, piece.surface, x, y);
        } else {
            cairo_set_source_surface(cr_, piece.surface, x, y);
            cairo_paint_with_alpha(cr_, alpha);
        }
    };
    auto paintPiece = [&](const Rect& src, const Rect& dst, bool tile) {
        if (src.width() <= 0 || src.height() <= 0 || dst.width() <= 0 || dst.height() <= 0) return;
        cairo_save(cr_);
        cairo_rectangle(cr_, dst.minX(), dst.minY(), dst.width(), dst.height());
        cairo_clip(cr_);
        // A piece of one colour, stretched or tiled, is that colour all over.
        if (const auto pixel = uniformPixel(*shown, src); pixel && !patternTint) {
            paintOneColour(*pixel);
            cairo_restore(cr_);
            return;
        }
        // A piece that lands on whole pixels is resampled where the result is the same wherever
        // it lies, and kept: bubbles as wide or as high as one drawn before reuse it.
        if (const auto placed = placedOnPixels(src, dst, *shown); placed && !patternTint) {
            // Tiles repeat from the piece's top left corner at the image's scale.
            const PieceFill fill{tile, image.scale() / placed->scaleX, image.scale() / placed->scaleY};
            const auto resampled = resampledPiece(s, *shown, placed->piece, placed->width, placed->height,
                                                  image.tintColor().has_value(), fill);
            cairo_identity_matrix(cr_);
            if (cairo_get_operator(cr_) != CAIRO_OPERATOR_OVER) {
                paintResampled(*resampled, placed->x, placed->y);
            } else {
                // Over what is there, rows of one value are that colour (a bubble's top and
                // bottom edges are solid but for a row or two) and see-through rows are nothing.
                for (const ResampledPiece::Rows& run : resampled->rows) {
                    if (run.uniform && (run.value == 0)) continue;
                    cairo_save(cr_);
                    cairo_rectangle(cr_, placed->x, placed->y + run.top, placed->width, run.bottom - run.top);
                    cairo_clip(cr_);
                    if (run.uniform)
                        paintOneColour(run.value);
                    else
                        paintResampled(*resampled, placed->x, placed->y);
                    cairo_restore(cr_);
                }
            }
            cairo_restore(cr_);
            return;
        }
        cairo_surface_t* piece =
            cairo_surface_create_for_rectangle(s, src.minX(), src.minY(), src.width(), src.height());
        cairo_pattern_t* p = cairo_pattern_create_for_surface(piece);
        cairo_matrix_t m;
        // Pattern space is the piece's pixels; user space is points.
        const double sx = tile ? image.scale() : src.width() / dst.width();
        const double sy = tile ? image.scale() : src.height() / dst.height();
        cairo_matrix_init_scale(&m, sx, sy);
        cairo_matrix_translate(&m, -dst.minX(), -dst.minY());
        cairo_pattern_set_matrix(p, &m);
        cairo_pattern_set_extend(p, tile ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
        paintPattern(p);
        cairo_pattern_destroy(p);
        cairo_surface_destroy(piece);
        cairo_restore(cr_);
    };
    double srcX[4], srcY[4], dstX[4], dstY[4];
    if (nineCuts(image, *bitmap, rect, srcX, srcY, dstX, dstY)) {
        if (image.orientation() != ImageOrientation::up) {
            // The caps belong to the picture as it is shown: its pieces are cut from its pixels
            // turned upright (made once per picture and orientation).
            shown = image.uprightBitmap();
            cairo_surface_destroy(s);
            s = surfaceOver(*shown);
            pw = shown->width(), ph = shown->height();
        }
        const bool tile = image.resizingMode() == ResizingMode::tile;
        auto paintPieces = [&] {
            for (int row = 0; row < 3; ++row) {
                for (int col = 0; col < 3; ++col) {
                    paintPiece(Rect{srcX[col], srcY[row], srcX[col + 1] - srcX[col], srcY[row + 1] - srcY[row]},
                               Rect{dstX[col], dstY[row], dstX[col + 1] - dstX[col], dstY[row + 1] - dstY[row]},
                               tile && (row == 1 || col == 1));
                }
            }
        };
        // Where every piece lands on whole pixels, painted over what is there within a clip of
        // whole pixels, the picture is drawn whole once at this size and kept: each of its pixels
        // comes from one piece alone, so composing the kept picture gives what painting the
        // pieces there gives, in one step instead of a step for every piece and run of rows.
        cairo_matrix_t m;
        cairo_get_matrix(cr_, &m);
        std::optional<WholePictureKey> key;
        if (drawsWholePictures() && !patternTint && cairo_get_operator(cr_) == CAIRO_OPERATOR_OVER &&
            clipIsWholePixels(*this))
            key = wholePictureKey(m, image, srcX, srcY, dstX, dstY);
        if (key) {
            const int x0 = static_cast<int>(std::lround(m.xx * dstX[0] + m.x0));
            const int y0 = static_cast<int>(std::lround(m.yy * dstY[0] + m.y0));
            if (image.tintColor()) {
                const RGBA v = image.tintColor()->resolved(style_).rgbaFor(style_);
                key->tinted = true;
                key->tint[0] = v.red, key->tint[1] = v.green, key->tint[2] = v.blue, key->tint[3] = v.alpha;
            }
            key->alpha = alpha;
            const auto picture = wholePicture(*shown, *key, [&](cairo_t* clear) {
                // The pieces painted as on the canvas, the picture's corner at the origin.
                cairo_matrix_t there = m;
                there.x0 -= x0;
                there.y0 -= y0;
                cairo_set_matrix(clear, &there);
                cairo_t* canvas = std::exchange(cr_, clear);
                paintPieces();
                cr_ = canvas;
            });
            if (picture) {
                // Over a plain colour known to lie under all of it, a copy composed over that colour.
                if (const auto& under = state_.backdrop;
                    under && !state_.shadow && under->target == cairo_get_group_target(cr_) && x0 >= under->x0 &&
                    y0 >= under->y0 && x0 + key->width <= under->x1 && y0 + key->height <= under->y1 &&
                    copyOverBackdrop(*shown, *picture, *key, *under, x0, y0)) {
                    cairo_surface_destroy(s);
                    return;
                }
                // A middle of one colour is painted as that colour, as its piece is (a fill is
                // several times cheaper than composing its pixels), the picture around it.
                const auto middle =
                    patternTint ? std::nullopt
                                : uniformPixel(*shown, Rect{srcX[1], srcY[1], srcX[2] - srcX[1], srcY[2] - srcY[1]});
                const int* cx = key->cutX;
                const int* cy = key->cutY;
                cairo_save(cr_);
                cairo_identity_matrix(cr_);
                // Composed at full alpha, a pixel gives its own value whatever lies under it: an
                // opaque picture is copied (the clip is whole pixels).
                if (picture->opaque) cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
                cairo_set_source_surface(cr_, picture->surface, x0, y0);
                if (middle) {
                    cairo_rectangle(cr_, x0, y0, key->width, cy[1]);
                    cairo_rectangle(cr_, x0, y0 + cy[2], key->width, key->height - cy[2]);
                    cairo_rectangle(cr_, x0, y0 + cy[1], cx[1], cy[2] - cy[1]);
                    cairo_rectangle(cr_, x0 + cx[2], y0 + cy[1], key->width - cx[2], cy[2] - cy[1]);
                    cairo_fill(cr_);
                    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
                    cairo_rectangle(cr_, x0 + cx[1], y0 + cy[1], cx[2] - cx[1], cy[2] - cy[1]);
                    cairo_clip(cr_);
                    paintOneColour(*middle);
                    cairo_restore(cr_);
                    cairo_surface_destroy(s);
                    return;
                }
                // Its clear rows are left out.
                for (size_t i = 0; i < picture->rows.size();) {
                    if (picture->rows[i].uniform && picture->rows[i].value == 0) {
                        ++i;
                        continue;
                    }
                    const int top = picture->rows[i].top;
                    while (i < picture->rows.size() && !(picture->rows[i].uniform && picture->rows[i].value == 0)) ++i;
                    cairo_rectangle(cr_, x0, y0 + top, key->width, picture->rows[i - 1].bottom - top);
                }
                cairo_fill(cr_);
                cairo_restore(cr_);
                cairo_surface_destroy(s);
                return;
            }
        }
        paintPieces();
        cairo_surface_destroy(s);
        return;
    }
    const Rect d = rect.standardized();
    // Upright and scaled onto whole pixels, a picture small enough to keep is resampled where the
    // result is the same wherever it lies, and kept: a contact's picture or an icon drawn at this
    // size again (the next frame of a scroll) is composed from what was kept, through whatever clip
    // is in force. (At its own size it is copied as it is.)
    if (image.orientation() == ImageOrientation::up && !patternTint) {
        if (const auto placed = placedOnPixels(Rect{0, 0, pw, ph}, d, *bitmap);
            placed && (placed->width != bitmap->width() || placed->height != bitmap->height()) &&
            keepsResampledPiece(placed->piece, placed->width, placed->height, image.tintColor().has_value())) {
            const auto resampled =
                resampledPiece(s, *bitmap, placed->piece, placed->width, placed->height, image.tintColor().has_value());
            cairo_save(cr_);
            cairo_identity_matrix(cr_);
            cairo_rectangle(cr_, placed->x, placed->y, placed->width, placed->height);
            cairo_clip(cr_);
            paintResampled(*resampled, placed->x, placed->y);
            cairo_restore(cr_);
            cairo_surface_destroy(s);
            return;
        }
    }
    const bool turned = sideways(image.orientation());
    const double uw = turned ? ph : pw, uh = turned ? pw : ph;
    cairo_save(cr_);
    cairo_rectangle(cr_, d.minX(), d.minY(), d.width(), d.height());
    cairo_clip(cr_);
    cairo_translate(cr_, d.minX(), d.minY());
    cairo_scale(cr_, d.width() / uw, d.height() / uh);
    const cairo_matrix_t o = graphics::toCairo(uprightTransform(image.orientation(), pw, ph));
    cairo_transform(cr_, &o);
    cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
    cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
    paintPattern(p);
    cairo_pattern_destroy(p);
    cairo_restore(cr_);
    cairo_surface_destroy(s);
}

const Bitmap& GraphicsContext::pixels() const {
    cairo_surface_flush(surface_);
    return *bitmap_;
}

std::shared_ptr<Bitmap> GraphicsContext::copyBitmap() const { return pixels().copy(); }

ImagePtr GraphicsContext::makeImage() const { return Image::fromBitmap(copyBitmap(), scale_); }

std::shared_ptr<Bitmap> GraphicsContext::finishBitmap(std::unique_ptr<GraphicsContext> context) {
    if (!context) return nullptr;
    cairo_surface_flush(context->surface_);
    std::shared_ptr<Bitmap> bitmap = context->bitmap_;
    context.reset();  // the drawing state goes; the pixels stay with the bitmap
    return bitmap;
}

ImagePtr GraphicsContext::finishImage(std::unique_ptr<GraphicsContext> context) {
    if (!context) return nullptr;
    const double scale = context->scale_;
    return Image::fromBitmap(finishBitmap(std::move(context)), scale);
}

void fillRectWithGradient(GraphicsContext& c, const Rect& r, const Gradient& g, Point unitStart, Point unitEnd) {
    if (r.isEmpty()) return;
    const auto at = [&](Point u) { return Point{r.minX() + u.x * r.width(), r.minY() + u.y * r.height()}; };
    c.save();
    c.clipToRect(r);
    c.drawLinearGradient(g, at(unitStart), at(unitEnd), true, true);
    c.restore();
}

GraphicsContext* currentContext() { return contextStack.empty() ? nullptr : contextStack.back(); }
void pushContext(GraphicsContext* context) { contextStack.push_back(context); }
void popContext() {
    if (!contextStack.empty()) contextStack.pop_back();
}

void beginImageContext(Size size, bool opaque, double scale) {
    auto context = GraphicsContext::image(size, opaque, scale);
    // A size that cannot be drawn leaves no current context, as the platform does; drawing calls
    // on a null context are the caller's to avoid.
    if (!context.ok()) {
        ownedImageContexts.push_back(nullptr);
        pushContext(nullptr);
        return;
    }
    pushContext(context->get());
    ownedImageContexts.push_back(std::move(*context));
}

ImagePtr imageFromCurrentImageContext() {
    GraphicsContext* c = currentContext();
    return c ? c->makeImage() : nullptr;
}

void endImageContext() {
    if (ownedImageContexts.empty()) return;
    popContext();
    ownedImageContexts.pop_back();
}

}  // namespace graphics
