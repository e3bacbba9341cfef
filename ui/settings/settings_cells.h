// The cells of the settings rows, shared by the settings screen and the preset editor: a row's
// cell in the state every row starts from, and what a cell shows, so a screen can tell which rows
// an update leaves as they are.
#pragma once

#include <functional>
#include <string>

#include "platform/toolkit/table_view.h"
#include "ui/settings/settings_rows.h"

namespace toolkit {
class Switch;
}

// The tag of a busy row's activity indicator in its cell's content view.
inline constexpr long kHXSettingsIndicatorTag = 99;

// A cell for a row of kind, taken from table's queue when it has one (table may be none: a cell
// that is never shown). A switch row gets a "ToggleCell" whose switch, shown and enabled, is the
// accessory view, its detail hidden; when the cell is made, its switch calls toggled on every
// change. Other rows get a "ValueCell" (value style) without accessory, its detail shown,
// enabled and empty, and no hint. Every cell takes touches with an enabled title.
toolkit::TableViewCellPtr HXSettingsCell(toolkit::TableView* table, HXSettingsRowKind kind,
                                         const std::function<void(toolkit::Switch&)>& toggled);

// How many cells HXSettingsCell has made in this process rather than taken from a table's queue:
// a screen that reuses its cells makes no more than it shows at once.
size_t HXSettingsCellsMade();

// What a cell shows (texts, accessory, switch, busy indicator, interaction, hint) as one text:
// two cells showing the same give the same text.
std::string HXSettingsCellContent(toolkit::TableViewCell& cell);
