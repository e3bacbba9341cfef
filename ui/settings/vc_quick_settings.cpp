#include "ui/settings/vc_quick_settings.h"

#include <algorithm>

#include "app/quick_setting_regions.h"
#include "model/account.h"
#include "model/phone_extensions.h"
#include "model/quick_setting.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/location_manager.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/text_input.h"
#include "ui/settings/quick_setting_location.h"
#include "ui/settings/settings_support.h"
#include "ui/widgets/table_row_changes.h"

using namespace hxsettings;

namespace {}  // namespace

VC_QuickSettings::VC_QuickSettings(Roles roles, Makers makers, toolkit::TableViewStyle style)
    : toolkit::TableViewController(style), roles_(std::move(roles)), makers_(std::move(makers)) {
    setTitle(text("Quick Settings"));
    hidesBottomBarWhenPushed = true;
}

VC_QuickSettings::~VC_QuickSettings() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

void VC_QuickSettings::computeCurrentHash() {
    auto role = roles_.quickSettings.lock();
    auto current = role ? role->currentSettings() : nullptr;
    currentHash_ = current ? current->hash() : 0;
}

void VC_QuickSettings::remember(const std::string& name, const HX_QuickSetting& setting) {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    remember(name, setting, account ? account->defaultQS() : std::nullopt);
}

void VC_QuickSettings::remember(const std::string& name, const HX_QuickSetting& setting,
                                const std::optional<std::string>& defaultQS) {
    hashDict_[name] = setting.hash();
    if (monitoring_) locationDict_[name] = locationLabelForSetting(setting, defaultQS == name);
}

void VC_QuickSettings::viewDidLoad() {
    toolkit::TableViewController::viewDidLoad();
    monitoring_ = regionMonitoringAvailable();
    computeCurrentHash();
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    if (account) {
        const auto defaultQS = account->defaultQS();
        // The stored presets come in the order of their names (replacing a stored archive keeps
        // the walk's place).
        for (auto& [name, archive] : account->quickSettings()) {
            auto read = HX_QuickSetting::unarchived(archive);
            if (!read.ok() || !read.value()) continue;
            auto& setting = *read.value();
            // The preset's phones follow the account's linked phones.
            if (setting.quickSettingUpdated(*account))
                if (auto updated = setting.archived(); updated.ok()) archive = std::move(updated.value());
            remember(name, setting, defaultQS);
            sortedSettings_.push_back(name);
        }
    }
    editButton_ = toolkit::BarButtonItem::withSystemItem(
        toolkit::SystemItem::Edit, [this](toolkit::BarButtonItem&) { setEditingMode(!isEditing(), true); });
    navigationItem().setRightBarButtonItem(editButton_);
    enableEditButton();
    auto table = tableView();
    table->bounces = false;
    table->allowsSelectionDuringEditing = true;
}

void VC_QuickSettings::enableEditButton() {
    if (!editButton_) return;
    editButton_->enabled = !sortedSettings_.empty();
    navigationItem().setRightBarButtonItem(editButton_);
}

void VC_QuickSettings::setEditingMode(bool editing, bool animated) {
    setEditing(editing, animated);
    if (editButton_) {
        editButton_->systemItem = editing ? toolkit::SystemItem::Done : toolkit::SystemItem::Edit;
        editButton_->style = editing ? toolkit::BarButtonStyle::Done : toolkit::BarButtonStyle::Plain;
    }
    enableEditButton();
    if (!sortedSettings_.empty())
        tableView()->reloadSections({presetSection()}, toolkit::RowAnimation::Automatic);
    else
        tableView()->reloadData();
    shown_ = shownNow();
}

void VC_QuickSettings::observeWhileVisible() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    auto weak = weakSelf<VC_QuickSettings>();
    center.addObserver(this, "kSettingsUpdateNotification", [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->reloadTable();
    });
    center.addObserver(this, "kLocationAuthorizationStatusChangedNotification",
                       [weak](const foundation::Notification&) {
                           if (auto self = weak.lock()) self->locationAuthorizationUpdated();
                       });
}

void VC_QuickSettings::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    if (!sortedSettings_.empty()) {
        computeCurrentHash();
        tableView()->reloadData();
        shown_ = shownNow();
    } else {
        setEditingMode(true, false);
    }
    observeWhileVisible();
}

void VC_QuickSettings::viewWillDisappear(bool animated) {
    toolkit::TableViewController::viewWillDisappear(animated);
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    // A screen pushed on top (the editor, the location) announces the presets it saves.
    auto weak = weakSelf<VC_QuickSettings>();
    center.addObserver(this, "kQuickSettingUpdatedNotification", [weak](const foundation::Notification& n) {
        auto self = weak.lock();
        auto name = std::static_pointer_cast<std::string>(n.object);
        if (self && name) self->updateHashDict(*name);
    });
}

void VC_QuickSettings::reloadTable() {
    computeCurrentHash();
    showChanges();
}

std::string VC_QuickSettings::locationLabel(const std::string& name) const {
    const auto location = locationDict_.find(name);
    return monitoring_ && location != locationDict_.end() ? location->second : "";
}

bool VC_QuickSettings::checked(const std::string& name) const {
    const auto hash = hashDict_.find(name);
    return hash != hashDict_.end() && hash->second == currentHash_;
}

std::vector<std::vector<HXShownRow>> VC_QuickSettings::shownNow() const {
    std::vector<std::vector<HXShownRow>> sections;
    if (monitoring_) sections.push_back({{"awareness", awarenessOn() ? "On" : "Off"}});
    auto& presets = sections.emplace_back();
    for (const auto& name : sortedSettings_)
        presets.push_back({name, locationLabel(name) + (checked(name) ? "\n✓" : "\n")});
    // A preset's name is never empty.
    if (isEditing()) presets.push_back({"", "create"});
    return sections;
}

void VC_QuickSettings::showChanges() {
    auto now = shownNow();
    if (isViewLoaded() && shown_ && shown_->size() == now.size())
        for (size_t s = 0; s < now.size(); ++s)
            (void)hxShowRowChanges(*tableView(), static_cast<long>(s), HXShownChanges((*shown_)[s], now[s]), false);
    // Not drawn yet: the table reads the rows as they are when it first shows them.
    shown_ = std::move(now);
}

void VC_QuickSettings::updateHashDict(const std::string& name) {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    auto setting = account ? storedQuickSetting(*account, name) : nullptr;
    if (setting) remember(name, *setting);
    reloadTable();
}

void VC_QuickSettings::locationAuthorizationUpdated() {
    if (monitoring_) tableView()->reloadSections({0}, toolkit::RowAnimation::Automatic);
}

long VC_QuickSettings::numberOfSections(toolkit::TableView&) { return monitoring_ ? 2 : 1; }

long VC_QuickSettings::numberOfRows(toolkit::TableView&, long section) {
    if (monitoring_ && section == 0) return 1;
    return static_cast<long>(sortedSettings_.size()) + (isEditing() ? 1 : 0);
}

toolkit::TableViewCellPtr VC_QuickSettings::cellForRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    if (monitoring_ && ip.section == 0) {
        auto cell = table.dequeueReusableCell("DetailCell");
        if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Value1, "DetailCell");
        cell->textLabel().setText(text("Location Awareness"));
        cell->detailTextLabel()->setText(PhoneExtensions::localizedString(awarenessOn() ? "On" : "Off"));
        cell->setAccessoryType(toolkit::CellAccessoryType::DisclosureIndicator);
        return cell;
    }
    auto cell = table.dequeueReusableCell("SubtitleCell");
    if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Subtitle, "SubtitleCell");
    if (ip.row >= static_cast<long>(sortedSettings_.size())) {
        cell->textLabel().setText(text("Create Setting…"));
        cell->detailTextLabel()->setText(text("New Quick Setting from current Settings"));
        cell->setAccessoryType(toolkit::CellAccessoryType::None);
        return cell;
    }
    const auto& name = sortedSettings_[static_cast<size_t>(ip.row)];
    cell->textLabel().setText(name);
    cell->detailTextLabel()->setText(locationLabel(name));
    cell->setAccessoryType(checked(name) ? toolkit::CellAccessoryType::Checkmark : toolkit::CellAccessoryType::None);
    return cell;
}

std::optional<std::string> VC_QuickSettings::titleForFooter(toolkit::TableView&, long section) {
    if (section != presetSection() || isEditing()) return std::nullopt;
    return text(
        "A \"✓\" next to an entry denotes that the currently selected account settings match the settings defined "
        "for the respective Quick Setting");
}

void VC_QuickSettings::didSelectRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    auto* navigation = navigationController();
    if (monitoring_ && ip.section == 0) {
        auto screen = makers_.locations ? makers_.locations() : nullptr;
        if (navigation && screen) navigation->pushViewController(screen, true);
        return;
    }
    const bool createRow = ip.row >= static_cast<long>(sortedSettings_.size());
    if (isEditing()) {
        if (createRow) {
            commitEditingStyle(table, toolkit::CellEditingStyle::Insert, ip);
            table.deselectRow(ip, true);
            return;
        }
        auto editor = makers_.editor ? makers_.editor(sortedSettings_[static_cast<size_t>(ip.row)]) : nullptr;
        if (navigation && editor) navigation->pushViewController(editor, true);
        return;
    }
    if (createRow) return;
    if (auto role = roles_.quickSettings.lock())
        role->selectQuickSettingWithName(sortedSettings_[static_cast<size_t>(ip.row)]);
    if (navigation) navigation->popViewController(true);
}

bool VC_QuickSettings::canEditRow(toolkit::TableView&, toolkit::IndexPath ip) {
    return !(monitoring_ && ip.section == 0);
}

toolkit::CellEditingStyle VC_QuickSettings::editingStyleForRow(toolkit::TableView&, toolkit::IndexPath ip) {
    if (monitoring_ && ip.section == 0) return toolkit::CellEditingStyle::None;
    if (ip.row >= static_cast<long>(sortedSettings_.size())) return toolkit::CellEditingStyle::Insert;
    return toolkit::CellEditingStyle::Delete;
}

void VC_QuickSettings::commitEditingStyle(toolkit::TableView&, toolkit::CellEditingStyle style, toolkit::IndexPath) {
    if (style == toolkit::CellEditingStyle::Insert) presentCreateAlert();
    enableEditButton();
}

std::optional<std::vector<toolkit::TableViewRowActionPtr>> VC_QuickSettings::editActionsForRow(toolkit::TableView&,
                                                                                               toolkit::IndexPath ip) {
    if ((monitoring_ && ip.section == 0) || ip.row >= static_cast<long>(sortedSettings_.size()))
        return std::vector<toolkit::TableViewRowActionPtr>{};
    const std::string name = sortedSettings_[static_cast<size_t>(ip.row)];
    auto weak = weakSelf<VC_QuickSettings>();
    std::vector<toolkit::TableViewRowActionPtr> actions{
        toolkit::TableViewRowAction::make(toolkit::RowActionStyle::Destructive, text("Delete"),
                                          [weak, name](toolkit::TableViewRowAction&, toolkit::IndexPath) {
                                              if (auto self = weak.lock()) self->deleteQuickSetting(name);
                                          })};
    if (!isEditing()) {
        auto rename = toolkit::TableViewRowAction::make(toolkit::RowActionStyle::Normal, text("Rename"),
                                                        [weak, name](toolkit::TableViewRowAction&, toolkit::IndexPath) {
                                                            if (auto self = weak.lock()) self->presentRenameAlert(name);
                                                        });
        rename->backgroundColor = toolkit::Color::systemBlue();
        actions.push_back(rename);
    }
    return actions;
}

void VC_QuickSettings::willBeginEditingRow(toolkit::TableView&, toolkit::IndexPath) {
    if (editButton_) editButton_->enabled = false;
    navigationItem().setRightBarButtonItem(editButton_);
}

void VC_QuickSettings::didEndEditingRow(toolkit::TableView&, std::optional<toolkit::IndexPath>) { enableEditButton(); }

void VC_QuickSettings::presentCreateAlert() {
    auto alerts = roles_.alerts.lock();
    if (!alerts) return;
    auto weak = weakSelf<VC_QuickSettings>();
    presentTextFieldAlert(*alerts, *this, text("Save Current Settings"),
                          text("Create a new Quick Setting based on the currently selected account settings"),
                          text("Quick Setting Title"), [weak](const std::string& name) {
                              if (auto self = weak.lock()) self->createQuickSetting(name);
                          });
}

void VC_QuickSettings::createQuickSetting(const std::string& name) {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    auto snapshot = role ? role->currentSettings() : nullptr;
    if (name.empty() || !account || !snapshot) return;
    // Overwriting a preset keeps its location.
    if (auto existing = storedQuickSetting(*account, name)) {
        snapshot->setRegion(existing->region());
        snapshot->setRegionTitle(existing->regionTitle());
        snapshot->setRegionSubtitle(existing->regionSubtitle());
    }
    if (!storeQuickSetting(*account, name, *snapshot)) return;
    if (std::find(sortedSettings_.begin(), sortedSettings_.end(), name) == sortedSettings_.end()) {
        sortedSettings_.push_back(name);
        std::sort(sortedSettings_.begin(), sortedSettings_.end());
    }
    remember(name, *snapshot);
    showChanges();
    enableEditButton();
}

void VC_QuickSettings::deleteQuickSetting(const std::string& name) {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    if (!account) return;
    account->quickSettings().erase(name);
    hashDict_.erase(name);
    locationDict_.erase(name);
    auto manager = role->locationManager();
    if (manager) {
        for (const auto& region : manager->monitoredRegions())
            if (region->identifier() == name) manager->stopMonitoringForRegion(*region);
    }
    if (account->defaultQS() == name) {
        account->setDefaultQS(std::nullopt);
        if (manager) renewExitNotifications(*manager, false, awarenessOn());
    }
    // A default needs another location to leave.
    dropDefaultWithoutOtherLocation(*account, manager.get(), awarenessOn());
    const auto at = std::find(sortedSettings_.begin(), sortedSettings_.end(), name);
    if (at == sortedSettings_.end()) return;
    const long row = at - sortedSettings_.begin();
    sortedSettings_.erase(at);
    tableView()->deleteRows({toolkit::IndexPath{presetSection(), row}}, toolkit::RowAnimation::Automatic);
    if (shown_ && static_cast<size_t>(presetSection()) < shown_->size()) {
        auto& rows = (*shown_)[static_cast<size_t>(presetSection())];
        if (static_cast<size_t>(row) < rows.size()) rows.erase(rows.begin() + row);
    }
    // The labels of the others may have lost their ", Default".
    for (const auto& other : sortedSettings_)
        if (auto setting = storedQuickSetting(*account, other)) remember(other, *setting);
    enableEditButton();
}

void VC_QuickSettings::presentRenameAlert(const std::string& name) {
    auto alerts = roles_.alerts.lock();
    if (!alerts) return;
    auto weak = weakSelf<VC_QuickSettings>();
    presentTextFieldAlert(*alerts, *this, foundation::format(text("Rename '%@'"), name),
                          text("Enter a new name for this Quick Setting"), name,
                          [weak, name](const std::string& newName) {
                              if (auto self = weak.lock()) self->renameQuickSetting(name, newName);
                          });
}

void VC_QuickSettings::renameQuickSetting(const std::string& oldName, const std::string& newName) {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    auto account = role && alerts ? alerts->account() : nullptr;
    if (!account || newName.empty() ||
        std::find(sortedSettings_.begin(), sortedSettings_.end(), newName) != sortedSettings_.end())
        return;
    auto setting = storedQuickSetting(*account, oldName);
    if (!setting) return;
    // The location and the default follow the name: the region handlers find a preset by the
    // identifier of its region, and the default by its name.
    auto manager = role->locationManager();
    if (setting->region()) {
        const auto oldRegion = setting->region();
        bool monitored = false;
        if (manager) {
            for (const auto& region : manager->monitoredRegions()) {
                if (region->identifier() != oldName) continue;
                monitored = true;
                manager->stopMonitoringForRegion(*region);
            }
        }
        auto renamed = oldRegion->copyWithIdentifier(newName);
        setting->setRegion(renamed);
        if (manager && monitored) {
            renamed->setNotifyOnExit(account->defaultQS().has_value());
            manager->startMonitoringForRegion(*renamed);
        }
    }
    if (account->defaultQS() == oldName) account->setDefaultQS(newName);
    if (!storeQuickSetting(*account, newName, *setting)) return;
    account->quickSettings().erase(oldName);
    std::erase(sortedSettings_, oldName);
    sortedSettings_.push_back(newName);
    std::sort(sortedSettings_.begin(), sortedSettings_.end());
    hashDict_.erase(oldName);
    locationDict_.erase(oldName);
    remember(newName, *setting);
    showChanges();
    enableEditButton();
}
