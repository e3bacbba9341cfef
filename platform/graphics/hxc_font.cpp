#include "platform/graphics/hxc_font.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <mutex>
#include <optional>

namespace graphics {
namespace {

struct FontType {
    TextStyle style;
    SymbolicTraits traits;
    double factor;
    std::optional<double> maximum;
};

constexpr FontType kTypes[] = {
    {TextStyle::footnote, {}, 1, std::nullopt},
    {TextStyle::footnote, {.italic = true}, 1, std::nullopt},
    {TextStyle::subheadline, {.bold = true}, 14.0 / 15.0, std::nullopt},
    {TextStyle::footnote, {}, 1, std::nullopt},
    {TextStyle::body, {}, 15.0 / 17.0, std::nullopt},
    {TextStyle::body, {}, 15.0 / 17.0, 34.0},
    {TextStyle::caption1, {}, 1, std::nullopt},
    {TextStyle::footnote, {.italic = true}, 1, std::nullopt},
};

struct State {
    std::mutex mutex;
    std::map<uint32_t, HXCFont::FontPtr> cache;
    ContentSizeCategory category = ContentSizeCategory::large;
    bool iPad = false;
};

State& state() {
    static State s;
    return s;
}

// Halves go to the even neighbour.
double roundHalfEven(double v) {
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(v);
    std::fesetround(mode);
    return r;
}

}  // namespace

HXCFont::FontPtr HXCFont::HXCFontForType(uint32_t type) {
    if (type >= std::size(kTypes)) return nullptr;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (auto it = s.cache.find(type); it != s.cache.end()) return it->second;
    const FontType& t = kTypes[type];
    Font font = Font::preferred(t.style, s.category).withTraits(t.traits);
    double size = font.pointSize();
    if (t.factor != 1) {
        size = size * t.factor;
        if (t.maximum) size = std::min(size, *t.maximum);
    }
    size = roundHalfEven(size * (s.iPad ? 1.15 : 1.0));
    auto made = std::make_shared<const Font>(font.withSize(size));
    s.cache[type] = made;
    return made;
}

namespace {
// Reads or changes the shared state under its lock.
template <typename F>
auto locked(F f) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return f(s);
}
}  // namespace

void HXCFont::setContentSizeCategory(ContentSizeCategory category) {
    locked([&](State& s) { s.category = category; });
}

ContentSizeCategory HXCFont::contentSizeCategory() {
    return locked([](State& s) { return s.category; });
}

void HXCFont::setIPad(bool iPad) {
    locked([&](State& s) { s.iPad = iPad; });
}

bool HXCFont::iPad() {
    return locked([](State& s) { return s.iPad; });
}

void HXCFont::clearFontCache() {
    locked([](State& s) { s.cache.clear(); });
}

std::map<uint32_t, HXCFont::FontPtr> HXCFont::fontCache() {
    return locked([](State& s) { return s.cache; });
}

}  // namespace graphics
