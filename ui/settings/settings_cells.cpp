#include "ui/settings/settings_cells.h"

#include <atomic>

#include "platform/toolkit/controls.h"
#include "ui/widgets/toggle_cell.h"

namespace {

constexpr const char* kValueCell = "ValueCell";
constexpr const char* kToggleCell = "ToggleCell";

std::atomic<size_t> cellsMade{0};

}  // namespace

toolkit::TableViewCellPtr HXSettingsCell(toolkit::TableView* table, HXSettingsRowKind kind,
                                         const std::function<void(toolkit::Switch&)>& toggled) {
    toolkit::TableViewCellPtr cell;
    if (kind == HXSettingsRowKind::Switch) {
        cell = table ? table->dequeueReusableCell(kToggleCell) : nullptr;
        if (!cell) {
            ++cellsMade;
            auto toggle = std::make_shared<ToggleCell>(toolkit::TableViewCellStyle::Default, kToggleCell);
            if (toggled)
                toggle->onOff->addAction(
                    [toggled](toolkit::Control& sender, const toolkit::Event*) {
                        toggled(static_cast<toolkit::Switch&>(sender));
                    },
                    toolkit::kValueChanged);
            cell = toggle;
        }
        auto& toggle = static_cast<ToggleCell&>(*cell);
        toggle.onOff->setHidden(false);
        toggle.onOff->setEnabled(true);
        toggle.setAccessoryView(toggle.onOff);
        if (auto* detail = toggle.detailTextLabel()) detail->setHidden(true);
    } else {
        cell = table ? table->dequeueReusableCell(kValueCell) : nullptr;
        if (!cell) {
            ++cellsMade;
            cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Value1, kValueCell);
        }
        cell->setAccessoryView(nullptr);
        cell->setAccessoryType(toolkit::CellAccessoryType::None);
        if (auto* detail = cell->detailTextLabel()) {
            detail->setHidden(false);
            detail->setEnabled(true);
            detail->setText("");
        }
        cell->accessibility().hint.clear();
    }
    cell->setUserInteractionEnabled(true);
    cell->textLabel().setEnabled(true);
    return cell;
}

size_t HXSettingsCellsMade() { return cellsMade.load(); }

std::string HXSettingsCellContent(toolkit::TableViewCell& cell) {
    std::string out = cell.textLabel().text();
    out += cell.textLabel().isEnabled() ? "\n+" : "\n-";
    if (auto* detail = cell.detailTextLabel())
        out += "\n" + detail->text() + (detail->isHidden() ? " hidden" : "") + (detail->isEnabled() ? "" : " off");
    out += "\naccessory " + std::to_string(static_cast<int>(cell.accessoryType()));
    auto* toggle = dynamic_cast<ToggleCell*>(&cell);
    const auto accessory = cell.accessoryView();
    if (accessory && toggle && accessory == toggle->onOff)
        out += " switch";
    else if (accessory)
        out += " view";
    if (toggle)
        out += std::string("\nswitch") + (toggle->onOff->isOn() ? " on" : " off") +
               (toggle->onOff->isHidden() ? " hidden" : "") + (toggle->onOff->isEnabled() ? "" : " disabled") + " #" +
               std::to_string(toggle->onOff->tag());
    if (auto* indicator = cell.contentView().viewWithTag(kHXSettingsIndicatorTag); indicator && !indicator->isHidden())
        out += "\nbusy";
    out += cell.isUserInteractionEnabled() ? "\ntouch" : "\nno touch";
    out += "\n" + cell.accessibility().hint;
    return out;
}
