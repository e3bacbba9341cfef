// Which kinds of new items post local notifications: the bits of the stored preference
// "notificationTypes" (1 SMS, 2 voicemail, 4 missed calls), one switch each. The choice is
// stored when the screen goes away.
#pragma once

#include "platform/toolkit/table_view_controller.h"

namespace toolkit {
class Switch;
}

class VC_NotificationTypes : public toolkit::TableViewController {
public:
    explicit VC_NotificationTypes(toolkit::TableViewStyle style);
    std::string className() const override { return "VC_NotificationTypes"; }

    // The working copy of the mask while the screen is shown.
    long long notificationTypes() const { return notificationTypes_; }
    void toggleOnOff(toolkit::Switch& sender);

    void viewDidLoad() override;
    void viewWillDisappear(bool animated) override;
    long numberOfRows(toolkit::TableView&, long) override { return 3; }
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::string> titleForHeader(toolkit::TableView&, long) override;

private:
    long long notificationTypes_ = 0;
};
