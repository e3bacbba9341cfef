#include "platform/toolkit/renderer_bars.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "platform/graphics/named_images.h"
#include "platform/graphics/text_layout.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/bar_item_view.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/text_metrics.h"

namespace toolkit {
namespace {

using graphics::GraphicsContext;

// Item geometry, shared by sizing (preferredWidth) and drawing so that the two agree.
constexpr double kMinimumItemWidth = 44;
constexpr double kItemPadding = 8;
constexpr double kMaximumItemImageHeight = 28;
constexpr double kGlyphSize = 22;
constexpr double kChevronWidth = 12, kChevronHeight = 20, kChevronGap = 6;
constexpr double kTabImageBox = 30, kTabImageTop = 6, kTabTitleBottom = 3;
constexpr double kBadgeHeight = 18, kBadgePadding = 5, kBadgeTop = 2, kBadgeOffset = 6;

Font itemFont(const BarItemLook& look) {
    if (look.font) return *look.font;
    return Font::system(17, look.prominent ? FontWeight::semibold : FontWeight::regular);
}
Font titleFont() { return Font::system(17, FontWeight::semibold); }
Font tabTitleFont() { return Font::system(10, FontWeight::medium); }
Font badgeFont() { return Font::system(13); }

// The bars' own chrome: near white in light, near black in dark.
Color chromeColor() { return Color::dynamic(Color::white(0.97), Color::white(0.11)); }
Color hairlineColor() { return Color::dynamic(Color::white(0, 0.3), Color::white(1, 0.15)); }
Color unselectedTabColor() { return Color::dynamic(Color::white(0.56), Color::white(0.6)); }

// A translucent bar's material blurs what passes below it into its own colour: a large patch of
// colour tints it faintly, but text and edges below (a list's hidden search bar) must not show
// through, so what is below comes through by less than two percent (under five levels of a channel).
constexpr double kMaterialAlpha = 0.985;

Color barBackground(const std::optional<Color>& tint, bool black, bool translucent) {
    Color colour = tint ? *tint : black ? Color::white(0.11) : chromeColor();
    return translucent ? colour.withAlphaComponent(colour.alpha() * kMaterialAlpha) : colour;
}

// One device pixel across, so the hairline stays sharp at every scale.
double hairline(const GraphicsContext& c) { return 1 / std::max(1.0, c.scale()); }

void fill(GraphicsContext& c, const Rect& r, const Color& colour) {
    c.setFillColor(colour);
    c.fillRect(r);
}

Size fitted(Size s, double maxWidth, double maxHeight) {
    if (s.width <= 0 || s.height <= 0) return {0, 0};
    const double k = std::min({1.0, maxWidth / s.width, maxHeight / s.height});
    return {s.width * k, s.height * k};
}

// Text on one line, cut with "…" where it is wider than the room, its top left at the point.
graphics::TextLayout lineLayout(const std::string& text, const graphics::TextAttributes& a, double room) {
    graphics::TextLayoutOptions o;
    o.width = std::max(1.0, room);
    o.maximumLines = 1;
    o.lineBreakMode = LineBreakMode::truncateTail;
    o.alignment = TextAlignment::left;
    return graphics::TextLayout(graphics::AttributedString(text, a), o);
}

void drawLine(GraphicsContext& c, const std::string& text, const Font& font, const Color& colour, Point at,
              double room) {
    graphics::TextAttributes a;
    a.font = font;
    a.color = colour;
    lineLayout(text, a, room).draw(c, at);
}

// Text centred in a rectangle (both ways), cut to its width.
void drawCentred(GraphicsContext& c, const std::string& text, const Font& font, const Color& colour, const Rect& r) {
    const double w = std::min(graphics::sizeOfText(text, font).width, r.width());
    const double h = graphics::fontMetrics(font).lineHeight;
    drawLine(c, text, font, colour, {r.midX() - w / 2, r.midY() - h / 2}, w);
}

// Template images (and automatic ones, which bars treat as templates) take the colour.
void drawTinted(GraphicsContext& c, const ImagePtr& image, const Rect& r, const Color& colour) {
    if (!image) return;
    if (image->renderingMode() == RenderingMode::alwaysOriginal)
        c.drawImage(*image, r);
    else
        c.drawImage(*image->withTintColor(colour), r);
}

// Symbol images are read once per name and scale.
ImagePtr symbol(const std::string& name, double scale) {
    static std::mutex lock;
    static std::map<std::pair<std::string, double>, ImagePtr> cache;
    std::lock_guard<std::mutex> hold(lock);
    auto [it, inserted] = cache.try_emplace({name, scale});
    if (inserted) it->second = graphics::systemImageNamed(name, kGlyphSize, scale);
    return it->second;
}

const char* glyphSymbol(SystemItem item) {
    switch (item) {
        case SystemItem::Compose:
            return "square.and.pencil";
        case SystemItem::Action:
            return "square.and.arrow.up";
        case SystemItem::Trash:
            return "trash";
        case SystemItem::Refresh:
            return "arrow.counterclockwise";
        case SystemItem::Camera:
            return "camera";
        default:
            return nullptr;
    }
}

bool hasGlyph(SystemItem item) {
    switch (item) {
        case SystemItem::Add:
        case SystemItem::Stop:
        case SystemItem::Search:
        case SystemItem::Play:
        case SystemItem::Pause:
            return true;
        default:
            return glyphSymbol(item) != nullptr;
    }
}

// The system items' icons, kGlyphSize points square about the centre.
void drawGlyph(GraphicsContext& c, SystemItem item, Point centre, const Color& colour) {
    const double h = kGlyphSize / 2;
    if (const char* name = glyphSymbol(item)) {
        if (ImagePtr image = symbol(name, c.scale())) {
            const Size s = fitted(image->size(), kGlyphSize + 4, kGlyphSize);
            drawTinted(c, image, {centre.x - s.width / 2, centre.y - s.height / 2, s.width, s.height}, colour);
        }
        return;
    }
    c.setStrokeColor(colour);
    c.setFillColor(colour);
    c.setLineWidth(2);
    c.setLineCap(graphics::LineCap::round);
    c.setLineJoin(graphics::LineJoin::round);
    const double x = centre.x, y = centre.y;
    switch (item) {
        case SystemItem::Add:
            c.moveTo({x - h + 2, y});
            c.lineTo({x + h - 2, y});
            c.moveTo({x, y - h + 2});
            c.lineTo({x, y + h - 2});
            c.strokePath();
            break;
        case SystemItem::Stop:
            c.moveTo({x - h + 4, y - h + 4});
            c.lineTo({x + h - 4, y + h - 4});
            c.moveTo({x + h - 4, y - h + 4});
            c.lineTo({x - h + 4, y + h - 4});
            c.strokePath();
            break;
        case SystemItem::Search:
            c.addEllipse({x - h + 2, y - h + 2, 13, 13});
            c.moveTo({x + 2.6, y + 2.6});
            c.lineTo({x + h - 2, y + h - 2});
            c.strokePath();
            break;
        case SystemItem::Play:
            c.addPath(graphics::Path::polygon({{x - 6, y - 8}, {x + 8, y}, {x - 6, y + 8}}));
            c.fillPath();
            break;
        case SystemItem::Pause:
            c.fillRect({x - 6, y - 8, 4, 16});
            c.fillRect({x + 2, y - 8, 4, 16});
            break;
        default:
            break;
    }
}

// The image of a bar button, at most kMaximumItemImageHeight high.
Size imageSize(const ImagePtr& image) { return image ? fitted(image->size(), 1e9, kMaximumItemImageHeight) : Size{}; }

// Compact bars show the item's compact image where it has one.
ImagePtr itemImage(const BarItemLook& look, double barHeight) {
    return barHeight < NavigationBar::kHeight && look.compactImage ? look.compactImage : look.image;
}

ImagePtr tabImage(const BarItemLook& look) {
    return look.selected && look.selectedImage ? look.selectedImage : look.image;
}

void drawBadge(GraphicsContext& c, const std::string& text, double left, const Rect& item) {
    const Font font = badgeFont();
    const double textWidth = graphics::sizeOfText(text, font).width;
    const double w = std::max(kBadgeHeight, textWidth + 2 * kBadgePadding);
    // Kept inside the tab, so that it does not spill over the next one.
    const double x = std::max(item.minX(), std::min(left, item.maxX() - w));
    const Rect pill{x, item.minY() + kBadgeTop, std::min(w, item.width()), kBadgeHeight};
    c.setFillColor(Color::systemRed());
    c.addPath(graphics::Path::roundedRect(pill, kBadgeHeight / 2));
    c.fillPath();
    drawCentred(c, text, font, Color::whiteColor(), pill.insetBy(kBadgePadding / 2, 0));
}

void drawTab(const BarItemView& view, const BarItemLook& look, const Color& tint, GraphicsContext& c) {
    const Rect b = view.bounds();
    const double height = std::min(b.height(), TabBar::kHeight);
    const Color colour = look.selected ? tint : unselectedTabColor();
    const double titleHeight = look.title.empty() ? 0 : graphics::fontMetrics(tabTitleFont()).lineHeight;
    double badgeLeft = b.midX() + kBadgeOffset;
    if (ImagePtr image = tabImage(look)) {
        const Size s = fitted(image->size(), kTabImageBox, kTabImageBox);
        const double top = look.title.empty() ? b.minY() + (height - s.height) / 2 : b.minY() + kTabImageTop;
        drawTinted(c, image, {b.midX() - s.width / 2, top, s.width, s.height}, colour);
        badgeLeft = b.midX() + std::max(kBadgeOffset, s.width / 2 - kBadgeOffset);
    }
    if (!look.title.empty()) {
        const Rect line{b.minX() + 2, b.minY() + height - kTabTitleBottom - titleHeight, b.width() - 4, titleHeight};
        drawCentred(c, look.title, tabTitleFont(), colour, line);
    }
    if (look.badge && !look.badge->empty()) drawBadge(c, *look.badge, badgeLeft, b);
}

void drawBackButton(const BarItemView& view, const BarItemLook& look, const Color& colour, GraphicsContext& c) {
    const Rect b = view.bounds();
    const double x = b.minX() + kItemPadding, y = b.midY();
    c.setStrokeColor(colour);
    c.setLineWidth(2.6);
    c.setLineCap(graphics::LineCap::round);
    c.setLineJoin(graphics::LineJoin::round);
    c.moveTo({x + kChevronWidth - 1.5, y - kChevronHeight / 2 + 1});
    c.lineTo({x + 1.5, y});
    c.lineTo({x + kChevronWidth - 1.5, y + kChevronHeight / 2 - 1});
    c.strokePath();
    const double left = x + kChevronWidth + kChevronGap;
    if (look.title.empty() && look.image) {
        const Size s = fitted(imageSize(look.image), b.maxX() - kItemPadding - left, b.height());
        drawTinted(c, look.image, {left, y - s.height / 2, s.width, s.height}, colour);
        return;
    }
    if (look.title.empty()) return;
    const Font font = itemFont(look);
    const Point moved = b.height() < NavigationBar::kHeight ? look.compactTitleAdjustment : look.titleAdjustment;
    drawLine(c, look.title, font, colour,
             {left + moved.x, y - graphics::fontMetrics(font).lineHeight / 2 - look.baselineOffset + moved.y},
             b.maxX() - kItemPadding - left);
}

void drawButton(const BarItemView& view, const BarItemLook& look, const Color& colour, GraphicsContext& c) {
    const Rect b = view.bounds();
    if (!look.title.empty()) {
        drawCentred(c, look.title, itemFont(look), colour, b.insetBy(kItemPadding / 2, 0));
    } else if (ImagePtr image = itemImage(look, b.height())) {
        const Size s = fitted(imageSize(image), b.width() - kItemPadding, b.height());
        drawTinted(c, image, {b.midX() - s.width / 2, b.midY() - s.height / 2, s.width, s.height}, colour);
    } else if (hasGlyph(look.systemItem)) {
        drawGlyph(c, look.systemItem, {b.midX(), b.midY()}, colour);
    }
}

}  // namespace

double BarItemView::preferredWidth() const {
    if (auto item = item_.lock(); item && item->width > 0) return item->width;
    const TextMeasurer& m = textMeasurer();
    const BarItemLook look = this->look();
    double content = 0;
    switch (look.kind) {
        case BarItemLook::Kind::back: {
            const double shown =
                !look.title.empty() ? m.lineWidth(look.title, itemFont(look)) : imageSize(look.image).width;
            if (shown <= 0) return kMinimumItemWidth;
            content = kItemPadding + kChevronWidth + kChevronGap + shown + kItemPadding;
            break;
        }
        case BarItemLook::Kind::tab:
            content = m.lineWidth(look.title, tabTitleFont()) + kItemPadding;
            break;
        case BarItemLook::Kind::button:
            if (!look.title.empty())
                content = m.lineWidth(look.title, itemFont(look)) + 2 * kItemPadding;
            else if (look.image || look.compactImage)
                content = std::max(imageSize(look.image).width, imageSize(look.compactImage).width) + 2 * kItemPadding;
            break;
    }
    return std::max(kMinimumItemWidth, content);
}

void drawBarItem(const BarItemView& view, GraphicsContext& c) {
    const BarItemLook look = view.look();
    const Color tint = look.tintColor.value_or(view.tintColor());
    const bool faded = !view.isEnabled();
    if (faded) {
        c.setAlpha(kDisabledAlpha);
        c.beginTransparencyLayer();
    }
    switch (look.kind) {
        case BarItemLook::Kind::tab:
            drawTab(view, look, tint, c);
            break;
        case BarItemLook::Kind::back:
            drawBackButton(view, look, tint, c);
            break;
        case BarItemLook::Kind::button:
            drawButton(view, look, tint, c);
            break;
    }
    if (faded) c.endTransparencyLayer();
}

Color navigationBarBackground(const NavigationBar& bar) {
    return barBackground(bar.barTintColor(), bar.barStyle() == BarStyle::Black, bar.isTranslucent());
}

namespace {

// A title as the bar draws it: its width (cut to the room) and its line, laid out for the room.
struct TitleLook {
    double width = 0;
    double lineHeight = 0;
    std::vector<graphics::TextLine> lines;
};

// The bars' titles as they were last laid out, by title, room and colour: a bar draws an unchanged
// title on every frame. (The title font is one font, and the faces text is set in never change.)
struct TitleLooks {
    std::mutex lock;
    std::map<std::tuple<std::string, double, bool>, std::shared_ptr<const TitleLook>> looks;
};

TitleLooks& titleLooks() {
    static TitleLooks looks;
    return looks;
}

std::shared_ptr<const TitleLook> titleLook(const std::string& title, double room, bool white) {
    auto& cache = titleLooks();
    auto key = std::make_tuple(title, room, white);
    {
        std::lock_guard hold(cache.lock);
        if (auto it = cache.looks.find(key); it != cache.looks.end()) return it->second;
    }
    const Font font = titleFont();
    auto look = std::make_shared<TitleLook>();
    look->width = std::min(graphics::sizeOfText(title, font).width, room);
    look->lineHeight = graphics::fontMetrics(font).lineHeight;
    graphics::TextAttributes a;
    a.font = font;
    a.color = white ? Color::whiteColor() : Color::label();
    look->lines = lineLayout(title, a, look->width).lines();
    std::lock_guard hold(cache.lock);
    // Titles are few; a screen that keeps changing its title does not make the table grow for ever.
    if (cache.looks.size() >= 64) cache.looks.clear();
    cache.looks.insert_or_assign(std::move(key), look);
    return look;
}

}  // namespace

void forgetNavigationBarTitles() {
    auto& cache = titleLooks();
    std::lock_guard hold(cache.lock);
    cache.looks.clear();
}

void drawNavigationBar(const NavigationBar& bar, GraphicsContext& c) {
    const Rect b = bar.bounds();
    const bool black = bar.barStyle() == BarStyle::Black;
    // A bar below the status bar reaches up behind it.
    const double above = std::max(0.0, bar.frame().minY());
    fill(c, {b.minX(), b.minY() - above, b.width(), b.height() + above}, navigationBarBackground(bar));
    fill(c, {b.minX(), b.maxY(), b.width(), hairline(c)}, hairlineColor());
    const NavigationItem* top = bar.topItem();
    if (!top || top->titleView || top->title.empty()) return;
    const Rect area = bar.titleArea();
    if (area.width() < 1) return;
    const auto look = titleLook(top->title, area.width(), black);
    // Centred on the bar where the items leave room, else as near the centre as they allow.
    const double x = std::clamp(b.midX() - look->width / 2, area.minX(), area.maxX() - look->width);
    graphics::drawTextLines(c, look->lines, {x, b.midY() - look->lineHeight / 2});
}

void drawTabBar(const TabBar& bar, GraphicsContext& c) {
    const Rect b = bar.bounds();
    fill(c, b, barBackground(bar.barTintColor(), false, !bar.barTintColor()));
    fill(c, {b.minX(), b.minY() - hairline(c), b.width(), hairline(c)}, hairlineColor());
}

void Toolbar::draw(GraphicsContext& c, const Rect&) { drawToolbar(*this, c); }

void drawToolbar(const Toolbar& bar, GraphicsContext& c) {
    const Rect b = bar.bounds();
    fill(c, b, barBackground(bar.barTintColor(), false, bar.isTranslucent()));
    fill(c, {b.minX(), b.minY() - hairline(c), b.width(), hairline(c)}, hairlineColor());
}

}  // namespace toolkit
