// A table row whose accessory is a switch, for the settings screens.
#pragma once

#include <memory>

#include "platform/toolkit/controls.h"
#include "platform/toolkit/table_view.h"

class ToggleCell : public toolkit::TableViewCell {
public:
    explicit ToggleCell(toolkit::TableViewCellStyle style = toolkit::TableViewCellStyle::Default,
                        std::string reuseIdentifier = {});
    std::string className() const override { return "ToggleCell"; }
    std::shared_ptr<toolkit::Switch> onOff;
    // "%@, %@": the text label's accessibility label and "On" or "Off" (localised).
    std::string accessibilityLabel() const override;
};
