#include "ui/settings/vc_notification_types.h"

#include <array>

#include "platform/foundation/bundle.h"
#include "platform/foundation/user_defaults.h"
#include "platform/toolkit/controls.h"
#include "ui/widgets/toggle_cell.h"

namespace {

constexpr std::array<const char*, 3> kTitles{"SMS", "Voicemail", "Missed Calls"};

}  // namespace

VC_NotificationTypes::VC_NotificationTypes(toolkit::TableViewStyle style) : toolkit::TableViewController(style) {
    setTitle(foundation::localizedString("Notification Types"));
}

void VC_NotificationTypes::viewDidLoad() {
    toolkit::TableViewController::viewDidLoad();
    notificationTypes_ = foundation::UserDefaults::standardUserDefaults()->integerForKey("notificationTypes");
}

void VC_NotificationTypes::viewWillDisappear(bool animated) {
    toolkit::TableViewController::viewWillDisappear(animated);
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    defaults->setInteger(notificationTypes_, "notificationTypes");
    (void)defaults->synchronize();
}

std::optional<std::string> VC_NotificationTypes::titleForHeader(toolkit::TableView&, long) {
    return foundation::localizedString("Enabled Notifications");
}

toolkit::TableViewCellPtr VC_NotificationTypes::cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    auto cell = std::dynamic_pointer_cast<ToggleCell>(table.dequeueReusableCell("ToggleCell"));
    if (!cell) {
        cell = std::make_shared<ToggleCell>(toolkit::TableViewCellStyle::Default, "ToggleCell");
        auto weak = weakSelf<VC_NotificationTypes>();
        cell->onOff->addAction(
            [weak](toolkit::Control& sender, const toolkit::Event*) {
                if (auto self = weak.lock()) self->toggleOnOff(static_cast<toolkit::Switch&>(sender));
            },
            toolkit::kValueChanged);
    }
    const auto row = static_cast<size_t>(indexPath.row);
    cell->onOff->setHidden(false);
    cell->onOff->setEnabled(true);
    cell->setAccessoryView(cell->onOff);
    if (auto* detail = cell->detailTextLabel()) detail->setHidden(true);
    cell->textLabel().setText(row < kTitles.size() ? foundation::localizedString(kTitles[row]) : std::string());
    cell->onOff->setOn((notificationTypes_ & (1LL << indexPath.row)) != 0);
    cell->onOff->setTag(indexPath.row);
    return cell;
}

void VC_NotificationTypes::toggleOnOff(toolkit::Switch& sender) {
    if (sender.tag() < 0 || sender.tag() > 2) return;
    const long long bit = 1LL << sender.tag();
    if (sender.isOn())
        notificationTypes_ |= bit;
    else
        notificationTypes_ &= ~bit;
}
