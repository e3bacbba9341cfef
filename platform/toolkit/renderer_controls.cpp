#include "platform/toolkit/renderer_controls.h"

#include <algorithm>
#include <numbers>
#include <vector>

#include "platform/graphics/text_layout.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/text_input.h"

namespace toolkit {
namespace {

using graphics::GraphicsContext;

constexpr double kRoundedRectRadius = 5;
constexpr double kSearchFieldRadius = 10;
constexpr double kPopoverRadius = 13, kArrowHalfWidth = 14;
constexpr double kGlyphBox = 16, kGlyphLeft = 8, kGlyphGap = 6;

Color roundedRectFill() { return Color::dynamic(Color::white(1), Color::white(0.11)); }
Color fieldBorder() { return Color::dynamic(Color::white(0.8), Color::white(0.3)); }
Color searchFill() {
    return Color::dynamic(Color::rgb(118 / 255.0, 118 / 255.0, 128 / 255.0, 0.12),
                          Color::rgb(118 / 255.0, 118 / 255.0, 128 / 255.0, 0.24));
}

// One device pixel across, so the border stays sharp at every scale.
double controlHairline(const GraphicsContext& c) { return 1 / std::max(1.0, c.scale()); }

// One line of text in a rectangle: aligned across it, centred down it, cut with "…" at its width.
void drawLineIn(GraphicsContext& c, const std::string& text, const Font& font, const Color& colour,
                TextAlignment alignment, const Rect& r) {
    if (text.empty() || r.width() <= 0 || r.height() <= 0) return;
    graphics::TextAttributes a;
    a.font = font;
    a.color = colour;
    graphics::TextLayoutOptions o;
    o.width = r.width();
    o.maximumLines = 1;
    o.lineBreakMode = LineBreakMode::truncateTail;
    o.alignment = alignment;
    const graphics::TextLayout layout(graphics::AttributedString(text, a), o);
    c.save();
    c.clipToRect(r);
    layout.draw(c, {r.minX(), r.midY() - layout.size().height / 2});
    c.restore();
}

void drawBorder(const TextField& field, GraphicsContext& c) {
    const Rect b = field.bounds();
    switch (field.borderStyle()) {
        case TextBorderStyle::None:
            return;
        case TextBorderStyle::Line: {
            c.setStrokeColor(Color::label());
            c.setLineWidth(1);
            c.strokeRect(b.insetBy(0.5, 0.5));
            return;
        }
        case TextBorderStyle::Bezel: {
            // A sunken edge: darker along the top and left, where the light would not reach.
            c.setStrokeColor(Color::systemGray3());
            c.setLineWidth(1);
            c.strokeRect(b.insetBy(0.5, 0.5));
            c.setStrokeColor(Color::systemGray());
            c.moveTo({b.minX(), b.minY() + 0.5});
            c.lineTo({b.maxX(), b.minY() + 0.5});
            c.moveTo({b.minX() + 0.5, b.minY()});
            c.lineTo({b.minX() + 0.5, b.maxY()});
            c.strokePath();
            return;
        }
        case TextBorderStyle::RoundedRect: {
            const double w = controlHairline(c);
            const Rect r = b.insetBy(w / 2, w / 2);
            // The field's own background colour, when it has one, already filled the bounds.
            if (!field.backgroundColor()) {
                c.setFillColor(roundedRectFill());
                c.addPath(graphics::Path::roundedRect(r, kRoundedRectRadius));
                c.fillPath();
            }
            c.setStrokeColor(fieldBorder());
            c.setLineWidth(w);
            c.addPath(graphics::Path::roundedRect(r, kRoundedRectRadius));
            c.strokePath();
            return;
        }
    }
}

void drawMagnifier(GraphicsContext& c, const Rect& box, const Color& colour) {
    const double r = box.width() * 0.3;
    const Point centre{box.minX() + r + 1.5, box.minY() + r + 1.5};
    c.setStrokeColor(colour);
    c.setLineWidth(2);
    c.setLineCap(graphics::LineCap::round);
    c.addPath(graphics::Path::ellipse({centre.x - r, centre.y - r, 2 * r, 2 * r}));
    c.strokePath();
    const double d = r / std::numbers::sqrt2;
    c.moveTo({centre.x + d + 1, centre.y + d + 1});
    c.lineTo({box.maxX() - 1.5, box.maxY() - 1.5});
    c.strokePath();
}

void drawSearchField(const TextField& field, GraphicsContext& c) {
    const Rect b = field.bounds();
    // A field with a background of its own has it filled as its rounded capsule already.
    if (!field.backgroundColor()) {
        c.setFillColor(searchFill());
        c.addPath(graphics::Path::roundedRect(b, std::min(kSearchFieldRadius, b.height() / 2)));
        c.fillPath();
    }
    const Color grey = Color::systemGray();
    drawMagnifier(c, {b.minX() + kGlyphLeft, b.midY() - kGlyphBox / 2, kGlyphBox, kGlyphBox}, grey);
    const double left = kGlyphLeft + kGlyphBox + kGlyphGap;
    const Rect text{b.minX() + left, b.minY(), std::max(0.0, b.width() - left - kGlyphLeft), b.height()};
    if (field.text().empty()) {
        drawLineIn(c, field.placeholder(), field.font(), grey, TextAlignment::left, text);
    } else {
        drawLineIn(c, field.displayedText(), field.font(), field.textColor(), field.textAlignment(), text);
    }
}

// The caret of an editing field (or text view) in its tint colour.
void drawCaret(GraphicsContext& c, const Rect& caret, const Color& tint) {
    c.setFillColor(tint);
    c.fillRect(caret);
}

Color selectionColour(const Color& tint) { return tint.withAlphaComponent(0.25); }

}  // namespace

void drawTextField(const TextField& field, GraphicsContext& c) {
    if (dynamic_cast<const SearchBar*>(field.superview())) return drawSearchField(field, c);
    drawBorder(field, c);
    const Rect b = field.bounds();
    const Rect text = field.isEditing() ? field.editingRectForBounds(b) : field.textRectForBounds(b);
    if (field.text().empty()) {
        drawLineIn(c, field.placeholder(), field.font(), Color::placeholderText(), field.textAlignment(),
                   field.placeholderRectForBounds(b));
    } else {
        const Color colour = field.isEnabled() ? field.textColor() : Color::systemGray();
        if (field.isEditing() && field.selectedRange().length > 0) {
            const Range r = field.selectedRange();
            const Rect from = field.caretRectForPosition({r.location});
            const Rect to = field.caretRectForPosition({r.end()});
            c.setFillColor(selectionColour(field.tintColor()));
            c.fillRect({from.minX(), from.minY(), std::max(0.0, to.minX() - from.minX()), from.height()});
        }
        drawLineIn(c, field.displayedText(), field.font(), colour, field.textAlignment(), text);
    }
    if (field.isEditing() && field.selectedRange().length == 0) {
        drawCaret(c, field.caretRectForPosition({field.selectedRange().location}), field.tintColor());
    }
}

void drawTextView(const TextView& view, GraphicsContext& c) {
    const Rect b = view.bounds();
    // The text lies in content coordinates: the bounds origin is how far the view has scrolled.
    const Point origin = view.textOrigin();
    c.save();
    c.clipToRect(b);
    const Range selection = view.selectedRange();
    if (selection.length > 0 && (view.isEditing() || view.isSelectable())) {
        c.setFillColor(selectionColour(view.tintColor()));
        for (const Rect& r : view.selectionRectsForRange(selection)) c.fillRect(r);
    }
    if (!view.text().empty()) graphics::drawTextLines(c, view.textBox().lines, origin);
    if (view.isEditing() && selection.length == 0) {
        drawCaret(c, view.caretRectForPosition({selection.location}), view.tintColor());
    }
    c.restore();
}

graphics::Path popoverOutline(const Rect& frame) { return graphics::Path::roundedRect(frame, kPopoverRadius); }

void drawPopoverFrame(const Rect& frame, unsigned arrow, const Rect& anchor, const std::optional<Color>& background,
                      GraphicsContext& c, const std::optional<Color>& arrowOverlay) {
    const double h = PopoverPresentationController::kArrowHeight, w = kArrowHalfWidth;
    // The arrow's base stays clear of the rounded corners; it reaches a little into the body so
    // that no seam shows between the two.
    const double lo = kPopoverRadius + w, overlap = 1;
    const double x = std::clamp(anchor.midX(), frame.minX() + lo, std::max(frame.minX() + lo, frame.maxX() - lo));
    const double y = std::clamp(anchor.midY(), frame.minY() + lo, std::max(frame.minY() + lo, frame.maxY() - lo));
    std::vector<Point> tip;
    switch (arrow) {
        case kArrowUp:
            tip = {{x - w, frame.minY() + overlap}, {x, frame.minY() - h}, {x + w, frame.minY() + overlap}};
            break;
        case kArrowDown:
            tip = {{x - w, frame.maxY() - overlap}, {x, frame.maxY() + h}, {x + w, frame.maxY() - overlap}};
            break;
        case kArrowLeft:
            tip = {{frame.minX() + overlap, y - w}, {frame.minX() - h, y}, {frame.minX() + overlap, y + w}};
            break;
        case kArrowRight:
            tip = {{frame.maxX() - overlap, y - w}, {frame.maxX() + h, y}, {frame.maxX() - overlap, y + w}};
            break;
        default:
            break;
    }
    c.save();
    // Body and arrow cast one shadow together.
    c.setShadow({0, 2}, 12, Color::white(0, 0.18));
    c.beginTransparencyLayer();
    // In dark the shadow is lost on the black around it: a light edge outlines body and arrow
    // together. Both are stroked, then their inside is cleared, so only the outer half of the line
    // stays and none crosses the arrow's base or shows through a translucent background.
    // Body, then arrow, each painted the same way.
    auto bodyAndArrow = [&](bool stroke) {
        auto paint = [&] { stroke ? c.strokePath() : c.fillPath(); };
        c.addPath(popoverOutline(frame));
        paint();
        if (tip.empty()) return;
        c.addPath(graphics::Path::polygon(tip));
        paint();
    };
    if (c.userInterfaceStyle() == graphics::UserInterfaceStyle::dark) {
        // One point of the separator's lightness outside, whatever the background.
        c.setStrokeColor(Color::white(1, 0.3));
        c.setLineWidth(2);
        bodyAndArrow(true);
        c.save();
        c.setBlendMode(graphics::BlendMode::clear);
        c.setFillColor(Color::black());
        bodyAndArrow(false);
        c.restore();
    }
    c.setFillColor(background.value_or(Color::dynamic(Color::white(1), Color::white(0.17))));
    bodyAndArrow(false);
    if (!tip.empty()) {
        if (arrowOverlay) {
            c.setFillColor(*arrowOverlay);
            c.addPath(graphics::Path::polygon(tip));
            c.fillPath();
        }
    }
    c.endTransparencyLayer();
    c.restore();
}

}  // namespace toolkit
