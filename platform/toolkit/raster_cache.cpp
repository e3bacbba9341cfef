#include "platform/toolkit/raster_cache.h"

#include <cmath>
#include <typeinfo>
#include <unordered_map>

#include "platform/graphics/clip_pixels.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/text_input.h"

namespace toolkit {
namespace {

// The views that asked, by address; an entry whose view died (or whose address a new view took)
// is found out by its weak pointer.
std::unordered_map<const View*, raster::Entry>& entries() {
    static std::unordered_map<const View*, raster::Entry> map;
    return map;
}

uint64_t gCopies = 0;

// Drops the entries of views that died (and their pixels).
void sweep() {
    std::erase_if(entries(), [](const auto& item) { return item.second.view.expired(); });
}

// What of a view's kind its key looks at, found once for each class of view (the key is made for
// every kept row in every frame: a handful of casts for each of their views would add up).
enum KindBits : unsigned {
    kImageView = 1,
    kSpinner = 2,
    kTextView = 4,
    kTextField = 8,
    kCell = 16,
};

unsigned kindOf(const View& view) {
    struct Known {
        const std::type_info* type;
        unsigned bits;
    };
    // By the address of the class's type information (two addresses for one class would only
    // be found twice).
    thread_local std::vector<Known> known;
    const std::type_info* type = &typeid(view);
    for (const Known& k : known)
        if (k.type == type) return k.bits;
    const unsigned bits = (dynamic_cast<const ImageView*>(&view) ? kImageView : 0u) |
                          (dynamic_cast<const ActivityIndicatorView*>(&view) ? kSpinner : 0u) |
                          (dynamic_cast<const TextView*>(&view) ? kTextView : 0u) |
                          (dynamic_cast<const TextField*>(&view) ? kTextField : 0u) |
                          (dynamic_cast<const TableViewCell*>(&view) ? kCell : 0u);
    known.push_back({type, bits});
    return bits;
}

void addRect(std::vector<double>& out, const Rect& r) {
    out.insert(out.end(), {r.minX(), r.minY(), r.width(), r.height()});
}

// offset: where the view's bounds coordinates lie in the root's (none under a transform).
bool addView(const View& view, bool root, std::optional<Point> offset, double scale, raster::Key& key) {
    const Layer& layer = view.layer();
    if (hasPresentationAnimation(view) || layer.mask || !layer.gradientSublayers.empty() ||
        !layer.shapeSublayers.empty())
        return false;
    if (!root && offset) {
        if (view.transform().isIdentity()) {
            const Rect f = view.frame();
            *offset = {offset->x + f.minX() - view.bounds().minX(), offset->y + f.minY() - view.bounds().minY()};
        } else {
            offset.reset();
        }
    }
    // A stretched picture is sampled where its pieces fall within pixels; drawn again a whole
    // number of pixels away, those samples are rounded apart (the pixels differ by a shade), so
    // only pictures stretched over whole pixels are kept.
    const unsigned kind = kindOf(view);
    if (auto* image = kind & kImageView ? static_cast<const ImageView*>(&view) : nullptr;
        image && image->image() && image->image()->isResizable()) {
        const Rect b = view.bounds();
        if (!offset || view.contentMode() != ContentMode::ScaleToFill) return false;
        for (double v : {offset->x + b.minX(), offset->x + b.maxX(), offset->y + b.minY(), offset->y + b.maxY()})
            if (!graphics::onWholePixel(v * scale)) return false;
        // Lower or narrower than its caps, its caps are shrunk (sampled) too.
        const EdgeInsets caps = image->image()->capInsets();
        if (b.width() < caps.left + caps.right || b.height() < caps.top + caps.bottom) return false;
    }
    if ((kind & kSpinner) && static_cast<const ActivityIndicatorView&>(view).isAnimating()) return false;
    if ((kind & kTextView) && static_cast<const TextView&>(view).isEditing()) return false;
    if ((kind & kTextField) && static_cast<const TextField&>(view).isEditing()) return false;
    auto& n = key.numbers;
    n.push_back(static_cast<double>(reinterpret_cast<uintptr_t>(&view)));
    n.push_back(static_cast<double>(view.displayGeneration()));
    n.push_back(view.isHidden() ? 1 : 0);
    n.push_back(view.alpha());
    addRect(n, view.bounds());
    // The root's place is where its pixels are copied to; a subview's is part of the picture.
    if (!root) n.insert(n.end(), {view.center().x, view.center().y});
    const AffineTransform t = view.transform();
    n.insert(n.end(), {t.a, t.b, t.c, t.d, t.tx, t.ty, layer.anchorPoint.x, layer.anchorPoint.y});
    n.insert(n.end(), {layer.cornerRadius, layer.borderWidth, layer.shadowOpacity, layer.shadowRadius,
                       layer.shadowOffset.width, layer.shadowOffset.height, view.clipsToBounds() ? 1.0 : 0.0,
                       static_cast<double>(view.subviews().size())});
    key.colours.insert(key.colours.end(),
                       {view.backgroundColor(), layer.borderColor, layer.shadowColor, view.tintColor()});
    if (layer.shadowPath) n.push_back(static_cast<double>(reinterpret_cast<uintptr_t>(&*layer.shadowPath)));
    // A row's separator is the table's to show and colour.
    if (auto* cell = kind & kCell ? static_cast<const TableViewCell*>(&view) : nullptr) {
        const auto* table = dynamic_cast<const TableView*>(cell->superview());
        const auto& path = cell->indexPath();
        n.push_back(table && path && table->showsSeparatorBelow(*path) ? 1 : 0);
        key.colours.push_back(table ? table->separatorColor() : std::nullopt);
        const EdgeInsets inset = cell->separatorInset();
        n.insert(n.end(), {inset.left, inset.right});
    }
    if (view.isHidden()) return true;
    if (const auto& mask = view.maskView(); mask && !addView(*mask, false, offset, scale, key)) return false;
    for (const ViewPtr& sub : view.subviews())
        if (sub && !addView(*sub, false, offset, scale, key)) return false;
    return true;
}

}  // namespace

void setShouldRasterize(const ViewPtr& view, bool on) {
    if (!view) return;
    auto& map = entries();
    if (!on) {
        map.erase(view.get());
        return;
    }
    // Rows are asked for again and again as a table reuses them: now and then the dead go.
    static unsigned calls = 0;
    if (++calls % 64 == 0) sweep();
    raster::Entry& entry = map[view.get()];
    if (entry.view.lock() != view) entry = raster::Entry{view, std::nullopt, nullptr};
}

bool shouldRasterize(const View& view) { return raster::entryOf(view) != nullptr; }

uint64_t rasterCopies() { return gCopies; }

namespace raster {

std::optional<Key> keyOf(const View& view, graphics::UserInterfaceStyle style, double scale) {
    Key key;
    key.numbers.reserve(256);
    key.colours.reserve(48);
    key.numbers.insert(key.numbers.end(), {static_cast<double>(style), scale});
    if (!addView(view, true, Point{0, 0}, scale, key)) return std::nullopt;
    return key;
}

Entry* entryOf(const View& view) {
    auto& map = entries();
    if (map.empty()) return nullptr;
    auto it = map.find(&view);
    if (it == map.end()) return nullptr;
    if (it->second.view.expired() || it->second.view.lock().get() != &view) {
        // A view that died left its entry to a new one at the same address, which did not ask.
        map.erase(it);
        return nullptr;
    }
    return &it->second;
}

void noteCopy() { ++gCopies; }

void dropDead() { sweep(); }

}  // namespace raster
}  // namespace toolkit
