#include "ui/widgets/toggle_cell.h"

#include "platform/foundation/bundle.h"

ToggleCell::ToggleCell(toolkit::TableViewCellStyle style, std::string reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
    setSelectionStyle(toolkit::CellSelectionStyle::None);
    setAccessoryType(toolkit::CellAccessoryType::None);
    onOff = std::make_shared<toolkit::Switch>();
    setAccessoryView(onOff);
}

std::string ToggleCell::accessibilityLabel() const {
    // The text label is made on first use, which a const reader may be.
    auto& self = const_cast<ToggleCell&>(*this);
    const std::string state = foundation::localizedString(onOff && onOff->isOn() ? "On" : "Off");
    return self.textLabel().accessibilityLabel() + ", " + state;
}
