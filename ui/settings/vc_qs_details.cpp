#include "ui/settings/vc_qs_details.h"

#include <algorithm>

#include "model/account.h"
#include "model/phone.h"
#include "model/phone_extensions.h"
#include "model/quick_setting.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "ui/settings/quick_setting_location.h"
#include "ui/settings/settings_cells.h"
#include "ui/settings/settings_support.h"
#include "ui/widgets/toggle_cell.h"

using namespace hxsettings;

VC_QSDetails::VC_QSDetails(Roles roles, Makers makers, std::string settingName)
    : toolkit::TableViewController(toolkit::TableViewStyle::Grouped),
      roles_(std::move(roles)),
      makers_(std::move(makers)),
      settingName_(std::move(settingName)) {
    hidesBottomBarWhenPushed = true;
}

VC_QSDetails::~VC_QSDetails() = default;

int VC_QSDetails::sectionForTag(int tag) const {
    return tag < 99 || tag > 132 ? -1 : static_cast<int>(HXSettingsSectionForTag(layout_, tag));
}

std::optional<toolkit::IndexPath> VC_QSDetails::indexPathForTag(int tag) const {
    return HXSettingsIndexPathForTag(layout_, tag);
}

int VC_QSDetails::tagAt(toolkit::IndexPath ip) const { return HXSettingsTagAt(layout_, ip).value_or(-1); }

std::vector<std::shared_ptr<HX_Phone>> VC_QSDetails::sortedPresetPhones() const {
    std::vector<std::shared_ptr<HX_Phone>> phones;
    if (!quickSetting_) return phones;
    for (const auto& [id, phone] : quickSetting_->phones())
        if (phone) phones.push_back(phone);
    std::stable_sort(phones.begin(), phones.end(), [](const auto& a, const auto& b) {
        return a->name() != b->name() ? a->name() < b->name() : a->number() < b->number();
    });
    return phones;
}

void VC_QSDetails::replaceGoneCallbackPhone() {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    if (!account || !quickSetting_) return;
    const int64_t id = quickSetting_->forwardingPhoneID();
    if (id < 0 || account->phones().contains(id)) return;
    const auto methods = account->callMethods();
    quickSetting_->setForwardingPhoneID(methods.empty() || !methods.front() ? 0 : methods.front()->phoneId());
}

void VC_QSDetails::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    quickSetting_ = account ? storedQuickSetting(*account, settingName_) : nullptr;
    if (!quickSetting_) quickSetting_ = std::make_shared<HX_QuickSetting>();
    setTitle(settingName_);
    layout_ = HXPresetLayout({.location = regionMonitoringAvailable(), .phones = quickSetting_->phones().size()});
    entryHash_ = quickSetting_->hash();
    replaceGoneCallbackPhone();
    tableView()->reloadData();
}

void VC_QSDetails::viewDidDisappear(bool animated) {
    toolkit::TableViewController::viewDidDisappear(animated);
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    if (!account || !quickSetting_ || quickSetting_->hash() == entryHash_) return;
    if (!account->quickSettings().contains(settingName_)) return;  // deleted meanwhile: nothing to save
    if (!storeQuickSetting(*account, settingName_, *quickSetting_)) return;
    entryHash_ = quickSetting_->hash();
    foundation::NotificationCenter::defaultCenter().post("kQuickSettingUpdatedNotification",
                                                         std::make_shared<std::string>(settingName_));
}

long VC_QSDetails::numberOfSections(toolkit::TableView&) { return static_cast<long>(layout_.size()); }

long VC_QSDetails::numberOfRows(toolkit::TableView&, long section) {
    if (section < 0 || static_cast<size_t>(section) >= layout_.size()) return 0;
    return static_cast<long>(layout_[static_cast<size_t>(section)].tags.size());
}

std::optional<std::string> VC_QSDetails::titleForHeader(toolkit::TableView&, long section) {
    if (section < 0 || static_cast<size_t>(section) >= layout_.size()) return std::nullopt;
    return text(layout_[static_cast<size_t>(section)].header);
}

toolkit::TableViewCellPtr VC_QSDetails::cellForRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    const int tag = tagAt(ip);
    const auto* row = HXSettingsRowForTag(tag);
    auto weak = weakSelf<VC_QSDetails>();
    auto cell = HXSettingsCell(&table, row ? row->kind : HXSettingsRowKind::Value, [weak](toolkit::Switch& sender) {
        if (auto self = weak.lock()) self->toggleOnOff(static_cast<int>(sender.tag()));
    });
    if (!row || !quickSetting_) return cell;
    if (row->title && *row->title) cell->textLabel().setText(text(row->title));
    if (row->kind == HXSettingsRowKind::Switch) {
        auto& toggle = static_cast<ToggleCell&>(*cell);
        toggle.onOff->setOn(HXSettingsSwitchValue(*row, *quickSetting_));
        toggle.onOff->setTag(tag);
        toggle.setTag(tag);
    } else {
        if (const auto* choice = HXSettingsChoiceForTag(tag)) {
            cell->detailTextLabel()->setText(
                HXSettingsChoiceText(*choice, HXSettingsChoiceIndex(*row, *quickSetting_)));
            cell->setAccessoryType(toolkit::CellAccessoryType::DisclosureIndicator);
        }
        fillOwnRow(*cell, tag, ip);
    }
    return cell;
}

void VC_QSDetails::fillOwnRow(toolkit::TableViewCell& cell, int tag, toolkit::IndexPath ip) {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    auto& q = *quickSetting_;
    switch (tag) {
        case 115: {
            std::string greeting;
            if (account)
                if (auto* g = account->vmGreetings().find(q.currentVmGreetingId())) greeting = g->stringValue();
            cell.detailTextLabel()->setText(greeting);
            const bool choice = account && account->vmGreetings().size() > 1;
            cell.setAccessoryType(choice ? toolkit::CellAccessoryType::DisclosureIndicator
                                         : toolkit::CellAccessoryType::None);
            break;
        }
        case 103: {
            std::string name;
            if (account) {
                const int64_t id = q.forwardingPhoneID();
                if (auto phone = account->phones().find(id); phone != account->phones().end() && phone->second) {
                    name = phone->second->name();
                } else {
                    for (const auto& method : account->callMethods())
                        if (method && method->phoneId() == id) {
                            name = method->name();
                            break;
                        }
                }
            }
            cell.textLabel().setText(name);
            auto choice = roles_.callChoice.lock();
            const bool changes = role && choice && choice->canChangeCallback();
            cell.setAccessoryType(changes ? toolkit::CellAccessoryType::DisclosureIndicator
                                          : toolkit::CellAccessoryType::None);
            cell.setUserInteractionEnabled(changes);
            break;
        }
        case 114: {
            const auto phones = sortedPresetPhones();
            if (ip.row >= static_cast<long>(phones.size())) break;
            const auto& phone = phones[static_cast<size_t>(ip.row)];
            cell.textLabel().setText(phone->name());
            cell.detailTextLabel()->setText(phone->formattedNumber());
            if (phone->forwarded()) {
                cell.setAccessoryType(toolkit::CellAccessoryType::Checkmark);
            } else {
                cell.setAccessoryView(std::make_shared<toolkit::View>(toolkit::Rect{0, 0, 10, 20}));
            }
            cell.accessibility().hint =
                text(phone->forwarded() ? "enabled, double-tap to disable" : "disabled, double-tap to enable");
            break;
        }
        case 125:
            cell.textLabel().setText(locationLabelForSetting(q, account && account->defaultQS() == settingName_));
            cell.setAccessoryType(toolkit::CellAccessoryType::DisclosureIndicator);
            break;
        default:
            break;
    }
}

std::optional<toolkit::IndexPath> VC_QSDetails::willSelectRow(toolkit::TableView&, toolkit::IndexPath ip) {
    const int tag = tagAt(ip);
    if (tag == 115) {
        auto role = roles_.quickSettings.lock();
        auto alerts = roles_.alerts.lock();
        auto account = role && alerts ? alerts->account() : nullptr;
        if (!account || account->vmGreetings().size() <= 1) return std::nullopt;
    }
    if (tag == 103) {
        auto role = roles_.quickSettings.lock();
        auto choice = roles_.callChoice.lock();
        if (!role || !choice || !choice->canChangeCallback()) return std::nullopt;
    }
    return ip;
}

void VC_QSDetails::reloadTag(int tag) {
    if (auto path = indexPathForTag(tag); path && path->section >= 0)
        tableView()->reloadRows({*path}, toolkit::RowAnimation::Automatic);
}

void VC_QSDetails::presentSheet(const std::shared_ptr<toolkit::AlertController>& sheet, toolkit::IndexPath ip) {
    if (auto* popover = sheet->popoverPresentationController()) {
        popover->backgroundColor = toolkit::Color::whiteColor();
        popover->sourceView = view();
        popover->sourceRect = sourceRectForRowAtIndexPath(ip);
    }
    if (auto alerts = roles_.alerts.lock()) alerts->presentAlert(sheet, this);
}

toolkit::Rect VC_QSDetails::sourceRectForRowAtIndexPath(toolkit::IndexPath ip) {
    const auto row = tableView()->rectForRow(ip);
    return {row.size.width - 45.0, row.origin.y, 45.0, row.size.height};
}

void VC_QSDetails::didSelectRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    auto weak = weakSelf<VC_QSDetails>();
    const int tag = tagAt(ip);
    using toolkit::AlertAction;
    using toolkit::AlertActionStyle;
    if (const auto* choice = HXSettingsChoiceForTag(tag); choice && quickSetting_) {
        // The caller ID, the one choice a preset keeps: the option shown is its flag.
        const auto& row = *HXSettingsRowForTag(tag);
        auto sheet = toolkit::AlertController::make(text(choice->sheetTitle), std::nullopt,
                                                    toolkit::AlertControllerStyle::ActionSheet);
        const long shown = HXSettingsChoiceIndex(row, *quickSetting_);
        for (long option = 0; option < static_cast<long>(choice->options.size()); ++option) {
            const bool current = option == shown;
            (void)sheet->addAction(AlertAction::make(
                HXSettingsChoiceText(*choice, option),
                current ? AlertActionStyle::Destructive : AlertActionStyle::Default,
                current ? AlertAction::Handler{} : [weak, tag](AlertAction&) {
                    auto self = weak.lock();
                    const auto* row = HXSettingsRowForTag(tag);
                    if (!self || !row || !HXFlipPresetValue(*row, *self->quickSetting_)) return;
                    self->reloadTag(tag);
                }));
        }
        presentSheet(sheet, ip);
    } else if (tag == 103 && account && quickSetting_) {
        auto sheet = toolkit::AlertController::make(text("Select phone to ring back when starting a call"),
                                                    std::nullopt, toolkit::AlertControllerStyle::ActionSheet);
        for (const auto& method : account->callMethods()) {
            if (!method) continue;
            const int64_t id = method->phoneId();
            const bool current = id == quickSetting_->forwardingPhoneID();
            (void)sheet->addAction(
                AlertAction::make(method->name(), current ? AlertActionStyle::Destructive : AlertActionStyle::Default,
                                  [weak, id](AlertAction&) {
                                      auto self = weak.lock();
                                      if (!self || self->quickSetting_->forwardingPhoneID() == id) return;
                                      self->quickSetting_->setForwardingPhoneID(id);
                                      self->reloadTag(103);
                                  }));
        }
        presentSheet(sheet, ip);
    } else if (tag == 115 && account && quickSetting_) {
        auto sheet = toolkit::AlertController::make(text("Select your default Voicemail greeting"), std::nullopt,
                                                    toolkit::AlertControllerStyle::ActionSheet);
        for (const auto& [key, greeting] : account->vmGreetings()) {
            const std::string id = key.string();
            const bool current = id == quickSetting_->currentVmGreetingId();
            (void)sheet->addAction(AlertAction::make(
                greeting.stringValue(), current ? AlertActionStyle::Destructive : AlertActionStyle::Default,
                current ? AlertAction::Handler{} : [weak, id](AlertAction&) {
                    auto self = weak.lock();
                    if (!self) return;
                    self->quickSetting_->setCurrentVmGreetingId(id);
                    self->reloadTag(115);
                }));
        }
        presentSheet(sheet, ip);
    } else if (tag == 114 && quickSetting_) {
        const auto phones = sortedPresetPhones();
        if (ip.row < static_cast<long>(phones.size())) {
            // The working copy's own phone: the account's entry is not touched.
            auto phone = std::make_shared<HX_Phone>(*phones[static_cast<size_t>(ip.row)]);
            phone->setForwarded(!phone->forwarded());
            auto map = quickSetting_->phones();
            map[phone->phoneId()] = phone;
            quickSetting_->setPhones(std::move(map));
            table.reloadRows({ip}, toolkit::RowAnimation::Automatic);
        }
    } else if (tag == 125) {
        auto* navigation = navigationController();
        if (navigation && makers_.location) navigation->pushViewController(makers_.location(settingName_), true);
    }
    table.deselectRow(ip, true);
}

void VC_QSDetails::toggleOnOff(int tag) {
    const auto* row = HXSettingsRowForTag(tag);
    if (!quickSetting_ || !row || row->kind != HXSettingsRowKind::Switch || !HXFlipPresetValue(*row, *quickSetting_))
        return;
    const int section = sectionForTag(tag);
    if (section >= 0 && layout_[static_cast<size_t>(section)].id == HXSettingsSectionID::Email)
        tableView()->reloadSections({section}, toolkit::RowAnimation::Automatic);
}
