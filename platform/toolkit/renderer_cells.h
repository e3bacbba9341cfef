// The table cell's accessories and the small system buttons, for the renderer: the checkmark in
// the cell's tint, the grey chevron of a disclosure indicator (also after a detail button), the
// circled "i" of the detail and info buttons and the circled "+" of the contact-add button, in
// the button's tint; and the refresh control's spinner with its title under it while refreshing.
#pragma once

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/graphics_types.h"

namespace toolkit {

class Button;
class RefreshControl;
class TableViewCell;

// A chevron pointing right, its right tip at `right`, centred down the height at `midY`.
void drawChevron(graphics::GraphicsContext& c, double right, double midY, const Color& colour = Color::systemGray());

// Where a cell's checkmark or chevron goes: the strip its layout keeps free at the right edge.
// Empty when the cell shows no such accessory (none, its own accessory view, or editing).
Rect cellAccessoryFrame(const TableViewCell& cell);
void drawCellAccessory(const TableViewCell& cell, graphics::GraphicsContext& c);
// The card under a row of a grouped or inset-grouped table (round-cornered at an inset section's
// ends), unless the cell has a background colour or view of its own.
void drawCellBackground(const TableViewCell& cell, graphics::GraphicsContext& c);
Color cellCardColor();
// The selection grey of a selected or highlighted cell without a selected background view.
void drawCellSelection(const TableViewCell& cell, graphics::GraphicsContext& c);
Color cellSelectionColor();
// Whether the cell's own look (background card, selection, accessory) draws nothing: a cell with a
// background colour of its own, neither selected nor highlighted, without a checkmark or chevron.
bool cellLookDrawsNothing(const TableViewCell& cell);
// The hairline under a cell, where its table shows one.
void drawCellSeparator(const TableViewCell& cell, graphics::GraphicsContext& c);
// Draws nothing for the button types that have no glyph of their own.
void drawButtonGlyph(const Button& button, graphics::GraphicsContext& c);
// Spinner and title while refreshing, or while a pull uncovers the idle control; nothing otherwise.
void drawRefreshControl(const RefreshControl& control, graphics::GraphicsContext& c);

}  // namespace toolkit
