#include "ui/settings/vc_settings.h"

#include <algorithm>
#include <utility>

#include "app/hxc_passcode_lock.h"
#include "model/account.h"
#include "model/phone.h"
#include "model/phone_extensions.h"
#include "model/quick_setting.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "ui/settings/settings_cells.h"
#include "ui/settings/settings_support.h"
#include "ui/widgets/toggle_cell.h"

using namespace hxsettings;

namespace {

using foundation::localizedString;
using Kind = HXSettingsRowKind;
using Source = HXSettingsSource;

// The index of the section id in layout, or -1.
long sectionOf(const std::vector<HXSettingsSection>& layout, HXSettingsSectionID id) {
    for (size_t s = 0; s < layout.size(); ++s)
        if (layout[s].id == id) return static_cast<long>(s);
    return -1;
}

// The text a header or footer view shows ("" for none or one of another kind).
std::string shownTitle(const std::shared_ptr<toolkit::View>& view) {
    auto* titled = dynamic_cast<toolkit::TableViewHeaderFooterView*>(view.get());
    return titled ? titled->textLabel().text() : std::string();
}

}  // namespace

VC_Settings::VC_Settings(Roles roles, Makers makers)
    : toolkit::TableViewController(toolkit::TableViewStyle::Grouped),
      roles_(std::move(roles)),
      makers_(std::move(makers)) {
    setTitle(localizedString("Settings"));
}

VC_Settings::~VC_Settings() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

std::shared_ptr<HX_Account> VC_Settings::account() const {
    auto a = alerts();
    return a ? a->account() : nullptr;
}

// ---- layout

const std::vector<HXSettingsSection>& VC_Settings::layout() {
    if (!layout_) {
        HXSettingsShape shape;
        if (auto a = account()) {
            shape.hasNumber = a->HXnumber() && !a->HXnumber()->empty();
            shape.realPhones = a->realPhones().size();
            shape.phones = a->sortedPhones().size();
        }
        layout_ = HXSettingsLayout(shape);
    }
    return *layout_;
}

long VC_Settings::sectionForTag(int tag) { return HXSettingsSectionForTag(layout(), tag); }

toolkit::IndexPath VC_Settings::indexPathForTag(int tag) {
    return HXSettingsIndexPathForTag(layout(), tag).value_or(toolkit::IndexPath{-1, -1});
}

bool VC_Settings::inTable(const toolkit::IndexPath& path) { return HXSettingsTagAt(layout(), path).has_value(); }

int VC_Settings::tagAt(const toolkit::IndexPath& path) { return HXSettingsTagAt(layout(), path).value_or(99); }

long VC_Settings::numberOfSections(toolkit::TableView&) { return static_cast<long>(layout().size()); }

long VC_Settings::numberOfRows(toolkit::TableView&, long section) {
    const auto& sections = layout();
    if (section < 0 || static_cast<size_t>(section) >= sections.size()) return 0;
    return static_cast<long>(sections[static_cast<size_t>(section)].tags.size());
}

std::optional<std::string> VC_Settings::titleForHeader(toolkit::TableView&, long section) {
    const auto& sections = layout();
    if (section < 0 || static_cast<size_t>(section) >= sections.size()) return std::nullopt;
    const auto& s = sections[static_cast<size_t>(section)];
    if (s.id == HXSettingsSectionID::QuickSettings) {
        auto a = account();
        const std::string number =
            a && a->HXnumber() ? PhoneExtensions::formattedPhoneNumberFromString(*a->HXnumber()) : std::string();
        return foundation::format("%@\n%@: %@", a ? a->username() : std::string(), localizedString("HX Number"),
                                  number);
    }
    if (!s.header) return std::nullopt;
    return localizedString(s.header);
}

// The account's header has two lines (name, then number): its space grows to show both.
std::optional<double> VC_Settings::heightForHeader(toolkit::TableView& table, long section) {
    if (section != sectionForTag(117) || section < 0) return std::nullopt;
    const auto title = titleForHeader(table, section);
    return toolkit::TableViewHeaderFooterView::heightForTitle(title.value_or(""), table.bounds().width(), 38);
}

std::shared_ptr<toolkit::View> VC_Settings::viewForHeader(toolkit::TableView& table, long section) {
    if (section != sectionForTag(117) || section < 0) return nullptr;
    auto header = std::make_shared<toolkit::TableViewHeaderFooterView>();
    header->setWrapsText(true);
    header->textLabel().setText(titleForHeader(table, section).value_or(""));
    return header;
}

std::optional<std::string> VC_Settings::titleForFooter(toolkit::TableView&, long section) {
    const auto& sections = layout();
    if (section < 0 || static_cast<size_t>(section) >= sections.size()) return std::nullopt;
    if (sections[static_cast<size_t>(section)].id != HXSettingsSectionID::QuickSettings) return std::nullopt;
    auto r = role();
    if (!r || !r->canMonitorRegions()) return std::nullopt;
    return foundation::format("%@: %@", localizedString("Location Awareness"),
                              localizedString(defaults()->boolForKey("useQSLocation") ? "On" : "Off"));
}

// ---- row content

long VC_Settings::choiceIndex(int tag) {
    const auto* row = HXSettingsRowForTag(tag);
    return row ? HXSettingsChoiceIndex(*row, account().get()) : 0;
}

std::string VC_Settings::detailText(int tag, long) {
    if (const auto* choice = HXSettingsChoiceForTag(tag)) return HXSettingsChoiceText(*choice, choiceIndex(tag));
    auto a = account();
    switch (tag) {
        case 113:
            return a && a->balance() ? *a->balance() : std::string();
        case 115: {
            if (!a) return {};
            const auto* name = a->vmGreetings().find(a->currentVmGreetingId());
            return name && name->isString() ? name->stringValue() : std::string();
        }
        case 117: {
            auto it = quickSettingNames_.find(currentQuickSettingHash_);
            return it == quickSettingNames_.end() ? std::string() : it->second;
        }
        case 124: {
            auto passcode = roles_.passcode.lock();
            if (!passcode) return localizedString("Off");
            auto& lock = passcode->passcodeLock();
            if (!lock.passcodeRequired()) return localizedString("Off");
            return lock.useBiometricID() ? lock.biometricIDName() : localizedString("On");
        }
        case 132:
            return localizedString(HXNotificationTypesText(defaults()->integerForKey("notificationTypes")));
        default:
            return {};
    }
}

VC_Settings::RowValues VC_Settings::rowValues(toolkit::IndexPath indexPath) {
    RowValues values;
    const int tag = tagAt(indexPath);
    const auto* row = HXSettingsRowForTag(tag);
    if (!row) return values;
    if (row->title && *row->title) values.text = localizedString(row->title);
    auto a = account();
    auto r = role();
    auto choice = callChoice();
    if (row->kind == Kind::Switch) {
        values.on = HXSettingsSwitchValue(*row, a.get(), r.get());
        const auto id = layout()[static_cast<size_t>(indexPath.section)].id;
        auto alerts = this->alerts();
        const bool offline = !(alerts && alerts->connectionAvailable());
        const bool local = id == HXSettingsSectionID::StartCallsFrom || id == HXSettingsSectionID::App;
        values.enabled = tag == 106 || !offline || local;
        return values;
    }
    values.detail = detailText(tag, indexPath.row);
    if (HXSettingsChoiceForTag(tag)) values.accessory = toolkit::CellAccessoryType::DisclosureIndicator;
    switch (tag) {
        case 103: {
            // The callback phone, or the direct call or dialer named among the call methods (a
            // phone that is gone has been replaced by repairCallbackChoice before drawing).
            std::string name;
            if (a) {
                for (const auto& method : a->callMethods(choice && choice->canPlaceCalls()))
                    if (method && method->phoneId() == a->forwardingPhoneID()) name = method->name();
                auto it = a->phones().find(a->forwardingPhoneID());
                if (name.empty() && it != a->phones().end() && it->second) name = it->second->name();
            }
            values.text = name;
            values.touch = choice && choice->canChangeCallback();
            values.accessory =
                values.touch ? toolkit::CellAccessoryType::DisclosureIndicator : toolkit::CellAccessoryType::None;
            values.detail.clear();
            break;
        }
        case 114: {
            const auto phones = a ? a->sortedPhones() : std::vector<HX_PhonePtr>{};
            const auto at = static_cast<size_t>(indexPath.row);
            if (indexPath.row < 0 || at >= phones.size() || !phones[at]) break;
            const auto& phone = phones[at];
            values.text = phone->name();
            values.detail = phone->formattedNumber();
            values.accessory =
                phone->forwarded() ? toolkit::CellAccessoryType::Checkmark : toolkit::CellAccessoryType::None;
            values.hint = localizedString(phone->forwarded() ? "enabled, double-tap to disable"
                                                             : "disabled, double-tap to enable");
            break;
        }
        case 115:
            values.touch = a && a->vmGreetings().size() > 1;
            values.accessory =
                values.touch ? toolkit::CellAccessoryType::DisclosureIndicator : toolkit::CellAccessoryType::None;
            break;
        case 109:
        case 117:
        case 124:
        case 132:
            values.accessory = toolkit::CellAccessoryType::DisclosureIndicator;
            break;
        default:
            break;
    }
    return values;
}

toolkit::TableViewCellPtr VC_Settings::cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    const int tag = tagAt(indexPath);
    const auto* row = HXSettingsRowForTag(tag);
    auto weak = weakSelf<VC_Settings>();
    auto cell = HXSettingsCell(&table, row ? row->kind : Kind::Value, [weak](toolkit::Switch& sender) {
        if (auto self = weak.lock()) self->toggleOnOff(sender);
    });
    auto values = rowValues(indexPath);
    drawRow(*cell, tag, values);
    drawn_[rowKey(indexPath)] = std::move(values);
    if (updatingCells_.contains(indexPath)) updateCell(*cell);
    return cell;
}

void VC_Settings::drawRow(toolkit::TableViewCell& cell, int tag, const RowValues& values) {
    if (auto* indicator =
            dynamic_cast<toolkit::ActivityIndicatorView*>(cell.contentView().viewWithTag(kHXSettingsIndicatorTag))) {
        indicator->stopAnimating();
        indicator->setHidden(true);
    }
    const auto* row = HXSettingsRowForTag(tag);
    if (!row) return;
    cell.textLabel().setText(values.text);
    if (row->kind == Kind::Switch) {
        auto& toggle = static_cast<ToggleCell&>(cell);
        toggle.onOff->setOn(values.on);
        toggle.onOff->setTag(tag);
        toggle.setTag(tag);
        toggle.onOff->setEnabled(values.enabled);
        return;
    }
    if (auto* detail = cell.detailTextLabel()) detail->setText(values.detail);
    cell.setAccessoryType(values.accessory);
    cell.setUserInteractionEnabled(values.touch);
    cell.accessibility().hint = values.hint;
}

// ---- busy rows

void VC_Settings::updateCell(toolkit::TableViewCell& cell) {
    if (auto path = tableView()->indexPathForCell(cell)) updatingCells_.insert(*path);
    if (auto* detail = cell.detailTextLabel()) detail->setHidden(true);
    if (auto* toggle = dynamic_cast<ToggleCell*>(&cell)) toggle->onOff->setHidden(true);
    cell.setAccessoryView(nullptr);
    cell.setAccessoryType(toolkit::CellAccessoryType::None);
    cell.setUserInteractionEnabled(false);
    auto& content = cell.contentView();
    auto* indicator = dynamic_cast<toolkit::ActivityIndicatorView*>(content.viewWithTag(kHXSettingsIndicatorTag));
    if (!indicator) {
        auto made = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::Gray);
        made->setTag(kHXSettingsIndicatorTag);
        made->setAutoresizingMask(toolkit::kFlexibleLeftMargin);
        content.addSubview(made);
        indicator = made.get();
    }
    const auto bounds = content.bounds();
    const double width = indicator->sizeThatFits({}).width;
    indicator->setFrame({0, 0, width, width});
    indicator->setCenter({bounds.size.width - 10 - width, bounds.size.height / 2});
    indicator->setHidden(false);
    indicator->startAnimating();
}

void VC_Settings::markRowBusy(const toolkit::IndexPath& path) { updatingCells_.insert(path); }

void VC_Settings::updateCellForTag(int tag) {
    const auto path = indexPathForTag(tag);
    if (!isViewLoaded() || !inTable(path)) return;
    if (auto cell = tableView()->cellForRow(path))
        updateCell(*cell);
    else
        updatingCells_.insert(path);
}

void VC_Settings::reloadTableCellForTag(int tag) {
    const auto path = indexPathForTag(tag);
    updatingCells_.erase(path);
    auto a = account();
    if (!isViewLoaded() || !a || !a->HXnumber() || a->HXnumber()->empty() || !inTable(path)) return;
    tableView()->reloadRows({path});
}

void VC_Settings::reloadSection(long section) {
    if (!isViewLoaded() || section < 0 || static_cast<size_t>(section) >= layout().size()) return;
    tableView()->reloadSections({section});
}

// ---- changes

void VC_Settings::endChange(const toolkit::IndexPath& path, HXSettingsEnd end) {
    updatingCells_.erase(path);
    if (end == HXSettingsEnd::Applied) return;
    auto a = account();
    // A position the account does not have (any more) has no row to draw.
    if (!isViewLoaded() || !a || !a->HXnumber() || a->HXnumber()->empty() || !inTable(path)) return;
    tableView()->reloadRows({path});
}

HXSettingsCompletion VC_Settings::endOfChange(int tag, HXSettingsCompletion completion) {
    auto weak = weakSelf<VC_Settings>();
    return [weak, tag, completion = std::move(completion)](HXSettingsEnd end) {
        if (auto self = weak.lock()) self->endChange(self->indexPathForTag(tag), end);
        if (completion) completion(end);
    };
}

HXSettingsCompletion VC_Settings::endOfForwardingChange(long index, HXSettingsCompletion completion) {
    auto weak = weakSelf<VC_Settings>();
    return [weak, index, completion = std::move(completion)](HXSettingsEnd end) {
        if (auto self = weak.lock()) self->endChange({self->sectionForTag(114), index}, end);
        if (completion) completion(end);
    };
}

void VC_Settings::setServiceSetting(HXServiceSetting setting, bool value, HXSettingsCompletion completion) {
    const int tag = HXServiceSettingInfoFor(setting).rowTag;
    auto done = endOfChange(tag, std::move(completion));
    if (auto r = roles_.serviceSettings.lock())
        r->changeServiceSetting(setting, value, std::move(done));
    else
        done(HXSettingsEnd::NotSent);
}

void VC_Settings::setVMGreeting(const std::string& greetingId, HXSettingsCompletion completion) {
    updateCellForTag(115);
    auto done = endOfChange(115, std::move(completion));
    if (auto r = roles_.serviceSettings.lock())
        r->changeVMGreeting(greetingId, std::move(done));
    else
        done(HXSettingsEnd::NotSent);
}

void VC_Settings::enableForwardingForNumber(long index, bool status, HXSettingsCompletion completion) {
    auto done = endOfForwardingChange(index, std::move(completion));
    if (auto r = roles_.serviceSettings.lock())
        r->changeForwarding(index, status, std::move(done));
    else
        done(HXSettingsEnd::NotSent);
}

// A callback phone that is no longer linked gives way to the first call method (a phone that
// rings back, never a VoIP client), stored as the choice is.
void VC_Settings::repairCallbackChoice() {
    auto r = callChoice();
    auto a = account();
    if (!r || !a || a->forwardingPhoneID() < 0 || a->phones().contains(a->forwardingPhoneID())) return;
    const auto methods = a->callMethods(r->canPlaceCalls());
    if (!methods.empty() && methods.front()) r->isNewForwardingPhoneID(methods.front()->phoneId());
}

// ---- quick settings

void VC_Settings::updateQuickSetting() {
    auto owner = roles_.snapshot.lock();
    auto snapshot = owner ? owner->currentSettings() : nullptr;
    currentQuickSettingHash_ = snapshot ? snapshot->hash() : 0;
    reloadTableCellForTag(117);
}

void VC_Settings::updateQuickSettingNames() {
    quickSettingNames_.clear();
    if (auto a = account()) {
        for (const auto& [name, data] : a->quickSettings()) {
            auto preset = HX_QuickSetting::unarchived(data);
            if (!preset.ok() || !*preset) continue;
            const uint64_t hash = (*preset)->hash();
            if (quickSettingNames_.contains(hash))
                quickSettingNames_[hash] = localizedString("(multiple matches)");
            else
                quickSettingNames_[hash] = name;
        }
    }
    auto weak = weakSelf<VC_Settings>();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) self->updateQuickSetting();
    });
}

// ---- notifications

void VC_Settings::updateSettings(bool logout) {
    const auto drawn = std::exchange(layout_, std::nullopt);
    if (logout) {
        currentQuickSettingHash_ = 0;
        updatingCells_.clear();
        return;
    }
    auto owner = roles_.snapshot.lock();
    auto snapshot = owner ? owner->currentSettings() : nullptr;
    currentQuickSettingHash_ = snapshot ? snapshot->hash() : 0;
    if (auto overlay = roles_.overlay.lock(); overlay && overlay->loadingOverlayShown())
        overlay->removeLoadingOverlay();
    const auto busy = std::exchange(updatingCells_, {});
    repairCallbackChoice();
    if (!isViewLoaded()) return;
    // Not drawn from a layout since the table was last read whole: nothing to compare with.
    if (!drawn) return tableView()->reloadData();
    reshape(*drawn);
    redrawChanged(busy);
}

// The sections the account no longer has go and the new ones come; the call-forwarding section
// loses or gains its last rows. What stays keeps its cells.
void VC_Settings::reshape(const std::vector<HXSettingsSection>& drawn) {
    const auto& now = layout();
    auto& table = *tableView();
    table.beginUpdates();
    for (size_t s = 0; s < drawn.size(); ++s) {
        const long old = static_cast<long>(s), at = sectionOf(now, drawn[s].id);
        if (at < 0) {
            table.deleteSections({old});
            continue;
        }
        const long before = static_cast<long>(drawn[s].tags.size());
        const long after = static_cast<long>(now[static_cast<size_t>(at)].tags.size());
        for (long r = after; r < before; ++r) table.deleteRows({{old, r}});
        for (long r = before; r < after; ++r) table.insertRows({{at, r}});
    }
    for (size_t s = 0; s < now.size(); ++s)
        if (sectionOf(drawn, now[s].id) < 0) table.insertSections({static_cast<long>(s)});
    (void)table.endUpdates();
}

// Every shown row that was busy or was drawn from other values than the account now gives, and
// every shown header or footer whose title changed, is drawn again; the others stay.
void VC_Settings::redrawChanged(const std::set<toolkit::IndexPath>& busy) {
    auto& table = *tableView();
    std::vector<long> sections;
    for (long s = 0; s < static_cast<long>(layout().size()); ++s) {
        const bool header =
            table.headerView(s) && shownTitle(table.headerView(s)) != titleForHeader(table, s).value_or("");
        const bool footer =
            table.footerView(s) && shownTitle(table.footerView(s)) != titleForFooter(table, s).value_or("");
        if (header || footer) sections.push_back(s);
    }
    std::vector<toolkit::IndexPath> rows;
    for (const auto& path : table.indexPathsForVisibleRows()) {
        if (std::find(sections.begin(), sections.end(), path.section) != sections.end()) continue;
        auto drawn = drawn_.find(rowKey(path));
        if (!table.cellForRow(path) || busy.contains(path) || drawn == drawn_.end() || drawn->second != rowValues(path))
            rows.push_back(path);
    }
    if (!sections.empty()) table.reloadSections(sections);
    if (!rows.empty()) table.reloadRows(rows);
}

// ---- life cycle

void VC_Settings::viewDidLoad() {
    toolkit::TableViewController::viewDidLoad();
    auto r = roles_.routing.lock();
    const bool iPad = r && r->iPad();
    if (!iPad) {
        // The circled "i" of an information button fits its 32 points, where a title would not.
        auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::InfoLight);
        button->setFrame({0, 0, 32, toolkit::NavigationBar::kHeight});
        button->accessibility().label = localizedString("About 'HX Connect'");
        button->addAction(
            [weak = weakSelf<VC_Settings>()](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->infoButtonClicked();
            },
            toolkit::kTouchUpInside);
        auto info = toolkit::BarButtonItem::withCustomView(button);
        info->accessibilityLabel = button->accessibility().label;
        info->width = 32;
        navigationItem().setRightBarButtonItem(info);
        if (makers_.accountList)
            navigationItem().setLeftBarButtonItem(
                toolkit::BarButtonItem::withTitle(localizedString("Accounts"), toolkit::BarButtonStyle::Plain,
                                                  [this](toolkit::BarButtonItem&) { showAccounts(); }));
    }
    // The bar takes the grouped table's colour, and so does the phone's page behind the rows.
    if (auto* nav = navigationController())
        nav->navigationBar().setBarTintColor(toolkit::Color::groupTableViewBackground());
    if (!iPad) view()->setBackgroundColor(toolkit::Color::groupTableViewBackground());
    auto& table = *tableView();
    table.alwaysBounceVertical = false;
    table.setSeparatorStyle(toolkit::SeparatorStyle::SingleLine);
    table.setSeparatorColor(toolkit::Color::lightGray());
    table.setEstimatedRowHeight(44);
}

void VC_Settings::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    layout_.reset();
    repairCallbackChoice();
    tableView()->reloadData();
    auto weak = weakSelf<VC_Settings>();
    auto onMain = [weak](std::function<void(VC_Settings&)> work) {
        return [weak, work](const foundation::Notification&) {
            dispatch::Queue::main()->async([weak, work] {
                if (auto self = weak.lock()) work(*self);
            });
        };
    };
    // The switches a connection enables are drawn again.
    center.addObserver(this, "kNetworkReachabilityChangedNotification", onMain([](VC_Settings& self) {
                           if (self.isViewLoaded()) self.redrawChanged({});
                       }));
    center.addObserver(this, "kSettingsUpdateNotification",
                       onMain([](VC_Settings& self) { self.updateSettings(false); }));
    auto routing = roles_.routing.lock();
    if (routing && routing->iPad()) {
        center.addObserver(this, "kChangedCallbackNumberNotification", onMain([](VC_Settings& self) {
                               const long section = self.sectionForTag(103);
                               if (section >= 0) self.reloadSection(section);
                           }));
        center.addObserver(this, "kLogoutNotification", onMain([](VC_Settings& self) { self.updateSettings(true); }));
        center.addObserver(this, "kAccountSelectedNotification", onMain([](VC_Settings& self) {
                               self.updateSettings(false);
                               self.updateQuickSettingNames();
                               self.scrollToTop();
                           }));
    }
    if (auto r = role(); r && r->isIdle()) updatingCells_.clear();
    updateQuickSettingNames();
    if (!appeared_) {
        appeared_ = true;
        scrollToTop();
    }
}

void VC_Settings::viewWillDisappear(bool animated) {
    toolkit::TableViewController::viewWillDisappear(animated);
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    auto weak = weakSelf<VC_Settings>();
    center.addObserver(this, "kLogoutNotification", [weak](const foundation::Notification&) {
        dispatch::Queue::main()->async([weak] {
            if (auto self = weak.lock()) self->scrollToTop();
        });
    });
}

void VC_Settings::viewDidDisappear(bool animated) {
    toolkit::TableViewController::viewDidDisappear(animated);
    layout_.reset();
    drawn_.clear();
    quickSettingNames_.clear();
}

void VC_Settings::scrollToTop() {
    if (isViewLoaded()) tableView()->scrollRectToVisible({0, 0, 1, 1}, true);
}

toolkit::Rect VC_Settings::sourceRectForRowAtIndexPath(toolkit::IndexPath indexPath) {
    auto rect = tableView()->rectForRow(indexPath);
    rect.origin.x = rect.origin.x + rect.size.width - 45;
    rect.size.width = 45;
    return rect;
}

HXCPasscodeLock& VC_Settings::passcodeLockForPads() {
    if (auto passcode = roles_.passcode.lock()) return passcode->passcodeLock();
    return HXPasscodeSettingsPads::passcodeLockForPads();
}

// ---- actions

void VC_Settings::toggleOnOff(toolkit::Switch& sender) {
    const int tag = static_cast<int>(sender.tag());
    const auto* row = HXSettingsRowForTag(tag);
    if (!row || row->kind != Kind::Switch || tag < 100 || tag > 131) return;
    auto r = role();
    switch (row->source) {
        case Source::Service: {
            auto a = account();
            if (!a) return;
            updateCellForTag(tag);
            // The inverse of the value stored now, whatever the switch shows.
            setServiceSetting(row->setting, !((*a).*HXServiceSettingInfoFor(row->setting).current)());
            return;
        }
        case Source::Application:
            if (r) r->setPreference(row->preference, !r->preference(row->preference));
            break;
        case Source::Default:
            defaults()->setBool(!defaults()->boolForKey(row->key), row->key);
            break;
        case Source::Own:
            return;
    }
    // The switch shows its new state itself: that is what its row is now drawn from.
    if (auto drawn = drawn_.find(rowKey(indexPathForTag(tag))); drawn != drawn_.end()) drawn->second.on = sender.isOn();
    if (row->notification) foundation::NotificationCenter::defaultCenter().post(row->notification);
    if (row->changesQuickSetting) updateQuickSetting();
}

void VC_Settings::accessoryButtonTapped(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    didSelectRow(table, indexPath);
}

void VC_Settings::didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    const int tag = tagAt(indexPath);
    auto r = role();
    auto alerts = this->alerts();
    const bool online = alerts && alerts->connectionAvailable();
    switch (tag) {
        case 117:
            if (online && r && makers_.quickSettings) push(makers_.quickSettings());
            break;
        case 114:
            if (online) {
                if (auto cell = table.cellForRow(indexPath)) updateCell(*cell);
                auto a = account();
                const auto phones = a ? a->sortedPhones() : std::vector<HX_PhonePtr>{};
                const bool known = static_cast<size_t>(indexPath.row) < phones.size();
                enableForwardingForNumber(indexPath.row,
                                          known && !phones[static_cast<size_t>(indexPath.row)]->forwarded());
            }
            break;
        case 102:
            if (online) showChoice(tag, indexPath);
            break;
        case 103:
            showCallbackChoice(indexPath);
            break;
        case 115:
            if (online) showGreetingChoice(indexPath);
            break;
        case 119:
        case 120:
        case 126:
            showChoice(tag, indexPath);
            break;
        case 132:
            if (makers_.notifications) push(makers_.notifications());
            break;
        case 124:
            if (r && makers_.passcode) push(makers_.passcode());
            break;
        case 109:
            showClearCaches(indexPath);
            break;
        default:
            break;
    }
    table.deselectRow(indexPath, true);
}

// The quick-settings list and the passcode screen hide the bottom bar themselves; the notification
// types keep it.
void VC_Settings::push(const std::shared_ptr<toolkit::ViewController>& screen) {
    if (!screen) return;
    if (auto* nav = navigationController()) nav->pushViewController(screen, true);
}

void VC_Settings::presentSheet(const std::shared_ptr<toolkit::AlertController>& sheet, toolkit::IndexPath indexPath) {
    if (auto* popover = sheet->popoverPresentationController()) {
        popover->sourceView = view();
        popover->sourceRect = sourceRectForRowAtIndexPath(indexPath);
    }
    if (auto a = alerts()) a->presentAlert(sheet, this);
}

void VC_Settings::showChoice(int tag, toolkit::IndexPath indexPath) {
    const auto* choice = HXSettingsChoiceForTag(tag);
    if (!choice) return;
    auto sheet = toolkit::AlertController::make(localizedString(choice->sheetTitle), std::nullopt,
                                                toolkit::AlertControllerStyle::ActionSheet);
    const long current = choiceIndex(tag);
    auto weak = weakSelf<VC_Settings>();
    for (size_t i = 0; i < choice->options.size(); ++i) {
        const long option = static_cast<long>(i);
        (void)sheet->addAction(toolkit::AlertAction::make(localizedString(choice->options[i]),
                                                          option == current ? toolkit::AlertActionStyle::Destructive
                                                                            : toolkit::AlertActionStyle::Default,
                                                          [weak, tag, option](toolkit::AlertAction&) {
                                                              if (auto self = weak.lock())
                                                                  self->chooseOption(tag, option);
                                                          }));
    }
    presentSheet(sheet, indexPath);
}

void VC_Settings::chooseOption(int tag, long option) {
    const auto* row = HXSettingsRowForTag(tag);
    if (!row) return;
    const long current = choiceIndex(tag);
    if (row->source == Source::Service) {
        // The caller ID: choosing the current option only draws the row again.
        if (option == current) return reloadTableCellForTag(tag);
        updateCellForTag(tag);
        setServiceSetting(row->setting, option == 1);
        return;
    }
    if (option == current) return;
    if (tag == 126)
        defaults()->setInteger(option, row->key);
    else
        defaults()->setBool(option == 1, row->key);
    reloadTableCellForTag(tag);
    if (tag == 126)
        if (auto r = role()) r->updateUnreadCounts();
}

void VC_Settings::showCallbackChoice(toolkit::IndexPath indexPath) {
    auto r = callChoice();
    auto a = account();
    if (!r || !a) return;
    auto sheet = toolkit::AlertController::make(r->forwardingNumberControllerTitle(), std::nullopt,
                                                toolkit::AlertControllerStyle::ActionSheet);
    auto weak = weakSelf<VC_Settings>();
    for (const auto& method : a->callMethods(r->canPlaceCalls())) {
        if (!method) continue;
        const int64_t id = method->phoneId();
        (void)sheet->addAction(toolkit::AlertAction::make(
            method->name(),
            id == a->forwardingPhoneID() ? toolkit::AlertActionStyle::Destructive : toolkit::AlertActionStyle::Default,
            [weak, id](toolkit::AlertAction&) {
                auto self = weak.lock();
                auto choice = self ? self->callChoice() : nullptr;
                if (!choice) return;
                if (choice->isNewForwardingPhoneID(id)) self->updateQuickSetting();
                const long section = self->sectionForTag(103);
                if (section >= 0) self->reloadSection(section);
            }));
    }
    presentSheet(sheet, indexPath);
}

void VC_Settings::showGreetingChoice(toolkit::IndexPath indexPath) {
    auto a = account();
    if (!a) return;
    auto sheet = toolkit::AlertController::make(localizedString("Select your default Voicemail greeting"), std::nullopt,
                                                toolkit::AlertControllerStyle::ActionSheet);
    auto weak = weakSelf<VC_Settings>();
    for (const auto& key : a->vmGreetings().keys()) {
        const std::string id = key.string();
        const auto& name = a->vmGreetings().get(key);
        (void)sheet->addAction(toolkit::AlertAction::make(name.isString() ? name.stringValue() : id,
                                                          id == a->currentVmGreetingId()
                                                              ? toolkit::AlertActionStyle::Destructive
                                                              : toolkit::AlertActionStyle::Default,
                                                          [weak, id](toolkit::AlertAction&) {
                                                              auto self = weak.lock();
                                                              auto account = self ? self->account() : nullptr;
                                                              if (!account) return;
                                                              if (id == account->currentVmGreetingId())
                                                                  self->reloadTableCellForTag(115);
                                                              else
                                                                  self->setVMGreeting(id);
                                                          }));
    }
    presentSheet(sheet, indexPath);
}

void VC_Settings::showClearCaches(toolkit::IndexPath indexPath) {
    auto sheet = toolkit::AlertController::make(
        std::nullopt,
        localizedString("Are you sure you want to clear the local cache? Data will be synchronized with your account "
                        "on the next reload."),
        toolkit::AlertControllerStyle::ActionSheet);
    (void)sheet->addAction(toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    auto weak = weakSelf<VC_Settings>();
    using Clear = void (HXAccountSettingsRole::*)();
    struct Step {
        const char* title;
        std::vector<Clear> clears;
    };
    const Step steps[] = {
        {"Clear all caches",
         {&HXAccountSettingsRole::clearMessageCache, &HXAccountSettingsRole::clearAudioCache,
          &HXAccountSettingsRole::clearCookieCache}},
        {"Clear message cache", {&HXAccountSettingsRole::clearMessageCache}},
        {"Clear image cache", {}},
        {"Clear audio/video cache", {&HXAccountSettingsRole::clearAudioCache}},
        {"Clear cookie cache", {&HXAccountSettingsRole::clearCookieCache}},
    };
    for (const auto& step : steps) {
        const bool images = step.clears.empty();
        (void)sheet->addAction(toolkit::AlertAction::make(localizedString(step.title),
                                                          toolkit::AlertActionStyle::Destructive,
                                                          [weak, clears = step.clears, images](toolkit::AlertAction&) {
                                                              auto self = weak.lock();
                                                              auto role = self ? self->role() : nullptr;
                                                              if (!role) return;
                                                              if (images) role->clearImageCache();
                                                              for (auto clear : clears) ((*role).*clear)();
                                                          }));
    }
    presentSheet(sheet, indexPath);
}

void VC_Settings::infoButtonClicked() {
    auto help = makers_.help ? makers_.help() : nullptr;
    if (!help) return;
    auto nav = std::make_shared<toolkit::NavigationController>(help);
    nav->modalTransitionStyle = toolkit::ModalTransitionStyle::FlipHorizontal;
    if (auto* own = navigationController())
        own->present(nav, true);
    else
        present(nav, true);
}

void VC_Settings::showAccounts() {
    if (auto r = role()) r->updateAccountPrefs();
    auto list = makers_.accountList ? makers_.accountList() : nullptr;
    if (!list) return;
    auto nav = std::make_shared<toolkit::NavigationController>(list);
    nav->modalTransitionStyle = toolkit::ModalTransitionStyle::FlipHorizontal;
    if (auto* own = navigationController())
        own->present(nav, true);
    else
        present(nav, true);
}
