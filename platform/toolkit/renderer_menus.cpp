// The menu panel's look: the platform's floating menu. A context menu dims the screen behind it
// and lifts its preview out in a rounded frame; the panel is the popover's rounded, shadowed body
// (outlined in dark), rows of titles with their images on the trailing side, hairlines between
// rows and a wider band between groups, destructive rows in red, disabled ones faded, the
// highlighted row in the selection grey and a submenu's chevron.
#include <algorithm>

#include "platform/toolkit/appearance.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/renderer_cells.h"
#include "platform/toolkit/renderer_controls.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"

namespace toolkit {

namespace {

using graphics::GraphicsContext;

constexpr double kMenuInset = 16, kMenuImageBox = 24, kMenuImageGap = 10;

Color backdropColour() { return Color::dynamic(Color::white(0, 0.2), Color::white(0, 0.45)); }
// The menu's material: a little greyer than the page in light, lifted above black in dark.
Color panelColour() { return Color::dynamic(Color::white(0.98, 0.98), Color::rgb(0.17, 0.17, 0.18, 0.98)); }
Color groupGapColour() { return Color::dynamic(Color::white(0, 0.08), Color::white(0, 0.45)); }

void drawTitle(GraphicsContext& c, const std::string& title, const Font& font, const Color& colour, double x,
               double width, double midY) {
    if (title.empty() || width <= 0) return;
    TextAttributes attributes;
    attributes.font = font;
    attributes.color = colour;
    TextLayoutOptions options;
    options.width = width;
    options.maximumLines = 1;
    options.lineBreakMode = LineBreakMode::truncateTail;
    const TextBox box = textMeasurer().layout(AttributedString(title, attributes), options);
    graphics::drawTextLines(c, box.lines, {x, midY - box.size.height / 2});
}

void drawPreview(MenuPanel& panel, GraphicsContext& c) {
    const Rect frame = panel.previewFrame();
    if (frame.isEmpty() || !panel.preview()) return;
    const ViewPtr view = panel.preview()->view();
    if (!view) return;
    // The preview's view is as big as the room it was given.
    if (!(view->bounds().size == frame.size)) view->setFrame(Rect(0, 0, frame.width(), frame.height()));
    view->layoutIfNeeded();
    drawPopoverFrame(frame, kArrowUnknown, {}, Color::systemBackground(), c);
    c.save();
    c.addPath(popoverOutline(frame));
    c.clip();
    c.translate(frame.minX(), frame.minY());
    renderView(*view, c);
    c.restore();
}

void drawRow(const MenuPanel::Row& row, bool highlighted, bool submenuOpen, GraphicsContext& c) {
    const Rect f = row.frame;
    if (row.kind == MenuPanel::Row::separatorRow) {
        c.setFillColor(groupGapColour());
        c.fillRect(f);
        return;
    }
    if (highlighted) {
        c.setFillColor(cellSelectionColor());
        c.fillRect(f);
    }
    Color colour = row.destructive ? Color::systemRed() : Color::label();
    if (row.disabled) colour = colour.withAlphaComponent(colour.alpha() * kDisabledAlpha);
    if (row.kind == MenuPanel::Row::headerRow) {
        // A titled menu's title in small grey type; an open submenu's title with the chevron that
        // closes it.
        if (!submenuOpen) {
            drawTitle(c, row.title, Font::system(13), Color::secondaryLabel(), f.minX() + kMenuInset,
                      f.width() - 2 * kMenuInset, f.midY());
            return;
        }
        drawTitle(c, row.title, Font::system(15, FontWeight::semibold), Color::label(), f.minX() + kMenuInset,
                  f.width() - 2 * kMenuInset - kMenuImageBox, f.midY());
        c.save();
        c.translate(f.maxX() - kMenuInset - kMenuImageBox / 2, f.midY());
        c.rotate(1.5707963267948966);
        drawChevron(c, 6, 0, Color::secondaryLabel());
        c.restore();
        return;
    }
    double trailing = f.maxX() - kMenuInset;
    if (row.kind == MenuPanel::Row::submenuRow) {
        drawChevron(c, trailing - 4, f.midY(), row.destructive ? colour : Color::secondaryLabel());
        trailing -= kMenuImageBox;
    }
    if (row.image) {
        Size s = row.image->size();
        const double fit =
            std::min({1.0, kMenuImageBox / std::max(s.width, 1e-9), kMenuImageBox / std::max(s.height, 1e-9)});
        s = {s.width * fit, s.height * fit};
        const Rect box(trailing - kMenuImageBox, f.midY() - kMenuImageBox / 2, kMenuImageBox, kMenuImageBox);
        drawImageIn(row.image, Rect(box.midX() - s.width / 2, box.midY() - s.height / 2, s.width, s.height), colour, c);
        trailing -= kMenuImageBox + kMenuImageGap;
    }
    drawTitle(c, row.title, Font::system(17), colour, f.minX() + kMenuInset, trailing - f.minX() - kMenuInset,
              f.midY());
}

}  // namespace

void drawMenuPanel(Window& window, GraphicsContext& c) {
    MenuPanel* panel = MenuPanel::shown(&window);
    if (!panel) return;
    const auto& rows = panel->rows();
    c.save();
    if (panel->style() == MenuPanel::Style::context) {
        c.setFillColor(backdropColour());
        c.fillRect(window.bounds());
        drawPreview(*panel, c);
    }
    const Rect frame = panel->panelFrame();
    if (!rows.empty() && !frame.isEmpty()) {
        drawPopoverFrame(frame, kArrowUnknown, {}, panelColour(), c);
        c.addPath(popoverOutline(frame));
        c.clip();
        const double hairline = 1 / std::max(1.0, c.scale());
        for (size_t i = 0; i < rows.size(); ++i) {
            drawRow(rows[i], panel->highlighted() == i, !panel->openSubmenus().empty(), c);
            // Neighbouring rows of one group are parted by a hairline.
            if (i > 0 && rows[i].kind != MenuPanel::Row::separatorRow &&
                rows[i - 1].kind != MenuPanel::Row::separatorRow) {
                c.setFillColor(Color::separator());
                c.fillRect(Rect(frame.minX(), rows[i].frame.minY(), frame.width(), hairline));
            }
        }
    }
    c.restore();
}

}  // namespace toolkit
