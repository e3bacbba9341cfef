// The iPad master list's row: icon, title and unread badge, built by its interface builder under
// the reuse identifier "MasterTableCell".
#pragma once

#include <memory>

#include "platform/toolkit/table_view.h"
#include "ui/widgets/hxc_badge_view.h"

inline constexpr const char* kMasterTableCellIdentifier = "MasterTableCell";

class MasterTableViewCell : public toolkit::TableViewCell {
public:
    MasterTableViewCell();
    std::string className() const override { return "MasterTableViewCell"; }

    std::weak_ptr<toolkit::View> bgView;
    std::weak_ptr<HXCBadgeView> badgeView;
    std::weak_ptr<toolkit::ImageView> cellImage;
    std::weak_ptr<toolkit::Label> cellLabel;
    long badgeValue = 0;

    void prepareForReuse() override;
    void layoutSubviews() override;
};

// The interface file of the row: creates the views with their frames and fills the outlets.
std::shared_ptr<MasterTableViewCell> makeMasterTableCell();
