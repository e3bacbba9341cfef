#include "platform/toolkit/renderer_cells.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/graphics/text_layout.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/table_view.h"

namespace toolkit {
namespace {

using graphics::GraphicsContext;

// The cell's layout keeps this much room at its right edge for a checkmark or a chevron.
constexpr double kCellMargin = 16, kAccessoryWidth = 22;
constexpr double kDisclosureWidth = 7, kDisclosureHeight = 12;
constexpr double kGlyphDiameter = 22;
constexpr double kSpinnerBox = 20, kSpinnerTitleGap = 6;
constexpr double kCardRadius = 10;

void strokeJoined(GraphicsContext& c, const Color& colour, double width, std::initializer_list<Point> points) {
    c.setStrokeColor(colour);
    c.setLineWidth(width);
    c.setLineCap(graphics::LineCap::round);
    c.setLineJoin(graphics::LineJoin::round);
    bool first = true;
    for (const Point& p : points) {
        if (first)
            c.moveTo(p);
        else
            c.lineTo(p);
        first = false;
    }
    c.strokePath();
}

void drawCheckmark(GraphicsContext& c, const Rect& area, const Color& tint) {
    const double w = 14, h = 11;
    const double x = area.maxX() - w - (area.width() - w) / 2, y = area.midY() - h / 2;
    strokeJoined(c, tint, 2.5, {{x, y + h * 0.55}, {x + w * 0.36, y + h}, {x + w, y}});
}

}  // namespace

void drawChevron(GraphicsContext& c, double right, double midY, const Color& colour) {
    const double left = right - kDisclosureWidth, half = kDisclosureHeight / 2;
    strokeJoined(c, colour, 2, {{left, midY - half}, {right, midY}, {left, midY + half}});
}

Rect cellAccessoryFrame(const TableViewCell& cell) {
    if (cell.isEditing() ? cell.showsReorderControl() : cell.accessoryView() != nullptr) return {};
    const Rect b = cell.bounds();
    switch (cell.shownAccessoryType()) {
        case CellAccessoryType::Checkmark:
        case CellAccessoryType::DisclosureIndicator:
            return Rect(b.maxX() - kCellMargin - kAccessoryWidth, b.minY(), kAccessoryWidth, b.height());
        case CellAccessoryType::DetailDisclosureButton:
            // The chevron follows the detail button, which the cell lays out as a subview.
            if (cell.isEditing()) return {};
            return Rect(b.maxX() - kCellMargin - kDisclosureWidth - 2, b.minY(), kDisclosureWidth + 2, b.height());
        default:
            return {};
    }
}

void drawCellAccessory(const TableViewCell& cell, GraphicsContext& c) {
    const Rect area = cellAccessoryFrame(cell);
    if (area.width() <= 0) return;
    if (cell.shownAccessoryType() == CellAccessoryType::Checkmark) {
        drawCheckmark(c, area, cell.tintColor());
    } else {
        drawChevron(c, area.maxX() - 1, area.midY());
    }
}

Color cellSelectionColor() {
    return Color::dynamic(Color::rgb(209 / 255.0, 209 / 255.0, 214 / 255.0),
                          Color::rgb(58 / 255.0, 58 / 255.0, 60 / 255.0));
}

namespace {
// A row of a grouped table lies on a card; an inset-grouped section's card has round corners at
// its first and last rows. The path of this cell's part of it, when it has one.
std::optional<graphics::Path> cellCardPath(const TableViewCell& cell) {
    const auto* table = dynamic_cast<const TableView*>(cell.superview());
    if (!table || table->style() == TableViewStyle::Plain) return std::nullopt;
    const Rect b = cell.bounds();
    const auto& ip = cell.indexPath();
    if (table->style() != TableViewStyle::InsetGrouped || !ip) return graphics::Path::rect(b);
    const bool first = ip->row == 0, last = ip->row == table->numberOfRows(ip->section) - 1;
    if (!first && !last) return graphics::Path::rect(b);
    unsigned corners = 0;
    if (first) corners |= graphics::kCornerTopLeft | graphics::kCornerTopRight;
    if (last) corners |= graphics::kCornerBottomLeft | graphics::kCornerBottomRight;
    return graphics::Path::roundedRect(b, corners, {kCardRadius, kCardRadius});
}
}  // namespace

Color cellCardColor() { return Color::secondarySystemGroupedBackground(); }

void drawCellBackground(const TableViewCell& cell, GraphicsContext& c) {
    // A colour or view the screen gave the cell is its background instead.
    if (cell.backgroundColor() || cell.backgroundView()) return;
    if (auto card = cellCardPath(cell)) {
        c.setFillColor(cellCardColor());
        c.addPath(*card);
        c.fillPath();
    }
}

bool cellLookDrawsNothing(const TableViewCell& cell) {
    return cell.backgroundColor() && (!cell.showsSelection() || cell.selectedBackgroundView()) &&
           cellAccessoryFrame(cell).width() <= 0;
}

void drawCellSelection(const TableViewCell& cell, GraphicsContext& c) {
    if (!cell.showsSelection() || cell.selectedBackgroundView()) return;
    c.setFillColor(cellSelectionColor());
    if (auto card = cellCardPath(cell)) {
        c.addPath(*card);
        c.fillPath();
        return;
    }
    c.fillRect(cell.bounds());
}

void drawCellSeparator(const TableViewCell& cell, GraphicsContext& c) {
    const auto* table = dynamic_cast<const TableView*>(cell.superview());
    const auto& ip = cell.indexPath();
    if (!table || !ip || !table->showsSeparatorBelow(*ip)) return;
    const Rect b = cell.bounds();
    const EdgeInsets inset = cell.separatorInset();
    // One device pixel, at the bottom of the row.
    const double line = 1 / std::max(1.0, c.scale());
    c.setFillColor(table->separatorColor().value_or(Color::separator()));
    c.fillRect(Rect(b.minX() + inset.left, b.maxY() - line, std::max(0.0, b.width() - inset.left - inset.right), line));
}

void drawButtonGlyph(const Button& button, GraphicsContext& c) {
    const ButtonType type = button.buttonType();
    const bool info =
        type == ButtonType::DetailDisclosure || type == ButtonType::InfoLight || type == ButtonType::InfoDark;
    if (!info && type != ButtonType::ContactAdd) return;
    const Rect b = button.bounds();
    const double d = std::min({kGlyphDiameter, b.width(), b.height()}) - 1.5;
    if (d <= 0) return;
    Color tint = button.tintColor();
    if (!button.isEnabled()) tint = Color::systemGray3();
    if (button.isHighlighted()) tint = tint.withAlphaComponent(tint.alpha() * 0.3);
    const Point centre{b.midX(), b.midY()};
    c.setStrokeColor(tint);
    c.setLineWidth(1.5);
    c.addPath(graphics::Path::ellipse({centre.x - d / 2, centre.y - d / 2, d, d}));
    c.strokePath();
    const double u = d / 22;
    if (info) {
        c.setFillColor(tint);
        c.fillEllipse({centre.x - 1.4 * u, centre.y - 6.2 * u, 2.8 * u, 2.8 * u});
        strokeJoined(c, tint, 2 * u, {{centre.x, centre.y - 1 * u}, {centre.x, centre.y + 5.5 * u}});
    } else {
        strokeJoined(c, tint, 2 * u, {{centre.x - 5 * u, centre.y}, {centre.x + 5 * u, centre.y}});
        strokeJoined(c, tint, 2 * u, {{centre.x, centre.y - 5 * u}, {centre.x, centre.y + 5 * u}});
    }
}

void drawRefreshControl(const RefreshControl& control, GraphicsContext& c) {
    // Idle, it shows only while a pull holds the content below its resting place, its spokes
    // coming in as the pull nears the distance that starts a refresh.
    const Rect b = control.bounds();
    int spokes = 8;
    double shown = b.height();  // the strip above the content that the pull uncovers
    if (!control.isRefreshing()) {
        const auto* scroll = dynamic_cast<const ScrollView*>(control.superview());
        if (!scroll) return;
        const double pulled = scroll->minimumContentOffset().y - scroll->contentOffset().y;
        if (pulled <= 0) return;
        spokes = static_cast<int>(std::ceil(8 * std::min(1.0, pulled / RefreshControl::kHeight)));
        shown = std::min(shown, pulled);
    }
    std::optional<graphics::TextLayout> title;
    if (!control.attributedTitle.empty()) {
        graphics::TextAttributes a;
        a.font = Font::system(12);
        // The secondary label's grey, darkened in light so the title reads at 4.5:1 on white.
        a.color = Color::dynamic(Color::rgb(0.40, 0.40, 0.42), Color::secondaryLabel());
        graphics::TextLayoutOptions o;
        o.width = std::max(0.0, b.width() - 32);
        o.maximumLines = 1;
        o.lineBreakMode = LineBreakMode::truncateTail;
        o.alignment = TextAlignment::center;
        title.emplace(graphics::AttributedString(control.attributedTitle, a), o);
    }
    const double titleHeight = title ? kSpinnerTitleGap + title->size().height : 0;
    // Centred in the uncovered strip; a strip too short for both shows the title first, right
    // above the content, the spinner coming in over it.
    const double stack = kSpinnerBox + titleHeight;
    const double top = b.maxY() - std::max(shown, stack) + std::max(0.0, shown - stack) / 2;
    // The spinner is the activity indicator's own drawing, so the two always look alike.
    ActivityIndicatorView spinner(ActivityIndicatorStyle::Medium);
    spinner.setFrame(Rect(0, 0, kSpinnerBox, kSpinnerBox));
    c.save();
    c.translate(b.midX() - kSpinnerBox / 2, top);
    drawSpinner(spinner, c, spokes);
    c.restore();
    if (title) title->draw(c, {b.minX() + 16, top + kSpinnerBox + kSpinnerTitleGap});
}

}  // namespace toolkit
