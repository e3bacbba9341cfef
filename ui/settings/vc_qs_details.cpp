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
#include "ui/settings/settings_support.h"
#include "ui/settings/vc_location_details.h"
#include "ui/widgets/toggle_cell.h"

using namespace hxsettings;

namespace {

// The rows of the settings screen's tags that this editor shows: tag, row, title (switch rows).
struct Row {
    int tag;
    int row;
    const char* title;
    bool isSwitch;
};
constexpr Row kRows[] = {
    {100, 0, "Do not Disturb", true},
    {101, 1, "Call Screening", true},
    {104, 2, "Transcribe Voicemails", true},
    {102, 3, "Incoming Caller ID", false},
    {115, 4, "VM Greeting", false},
    {122, 5, "Call Options", true},
    {103, 0, "", false},
    {110, 0, "Forward Voicemails", true},
    {111, 1, "Forward SMS", true},
    {112, 2, "Missed Calls", true},
    {106, 0, "Automatic Refresh", true},
    {107, 1, "Message Sounds", true},
    {116, 2, "Prefetch VM Audio", true},
    {125, 0, "", false},
};
const Row* rowOfTag(int tag) {
    for (const auto& r : kRows)
        if (r.tag == tag) return &r;
    return nullptr;
}

int64_t flipped(int64_t triState) { return triState == 2 ? 1 : 2; }

}  // namespace

VC_QSDetails::VC_QSDetails(Roles roles, std::string settingName)
    : toolkit::TableViewController(toolkit::TableViewStyle::Grouped),
      roles_(std::move(roles)),
      settingName_(std::move(settingName)) {
    hidesBottomBarWhenPushed = true;
}

VC_QSDetails::~VC_QSDetails() = default;

bool VC_QSDetails::hasPhones() const { return quickSetting_ && !quickSetting_->phones().empty(); }

int VC_QSDetails::sectionForTag(int tag) const {
    const int L = location_ ? 1 : 0, P = hasPhones() ? 1 : 0;
    switch (tag) {
        case 125:
            return L ? 0 : -1;
        case 100:
        case 101:
        case 102:
        case 104:
        case 115:
        case 122:
            return L;
        case 103:
            return P ? 1 + L : -1;
        case 114:
            return P ? 2 + L : -1;
        case 110:
        case 111:
        case 112:
            return 1 + L + 2 * P;
        case 106:
        case 107:
        case 116:
            return 2 + L + 2 * P;
        default:
            return -1;
    }
}

std::optional<toolkit::IndexPath> VC_QSDetails::indexPathForTag(int tag) const {
    if (tag < 99 || tag > 132) return std::nullopt;
    const auto* row = rowOfTag(tag);
    const int section = sectionForTag(tag);
    if (!row || section < 0) return toolkit::IndexPath{-1, -1};
    return toolkit::IndexPath{section, row->row};
}

int VC_QSDetails::tagAt(toolkit::IndexPath ip) const {
    if (sectionForTag(114) == ip.section) return 114;
    for (const auto& r : kRows)
        if (sectionForTag(r.tag) == ip.section && r.row == ip.row) return r.tag;
    return -1;
}

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
    auto account = role ? role->account() : nullptr;
    if (!account || !quickSetting_) return;
    const int64_t id = quickSetting_->forwardingPhoneID();
    if (id < 0 || account->phones().contains(id)) return;
    const auto methods = account->callMethods();
    quickSetting_->setForwardingPhoneID(methods.empty() || !methods.front() ? 0 : methods.front()->phoneId());
}

void VC_QSDetails::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    location_ = regionMonitoringAvailable();
    auto role = roles_.quickSettings.lock();
    auto account = role ? role->account() : nullptr;
    quickSetting_ = account ? storedQuickSetting(*account, settingName_) : nullptr;
    if (!quickSetting_) quickSetting_ = std::make_shared<HX_QuickSetting>();
    setTitle(settingName_);
    entryHash_ = quickSetting_->hash();
    replaceGoneCallbackPhone();
    tableView()->reloadData();
}

void VC_QSDetails::viewDidDisappear(bool animated) {
    toolkit::TableViewController::viewDidDisappear(animated);
    auto role = roles_.quickSettings.lock();
    auto account = role ? role->account() : nullptr;
    if (!account || !quickSetting_ || quickSetting_->hash() == entryHash_) return;
    if (!account->quickSettings().contains(settingName_)) return;  // deleted meanwhile: nothing to save
    if (!storeQuickSetting(*account, settingName_, *quickSetting_)) return;
    entryHash_ = quickSetting_->hash();
    foundation::NotificationCenter::defaultCenter().post("kQuickSettingUpdatedNotification",
                                                         std::make_shared<std::string>(settingName_));
}

long VC_QSDetails::numberOfSections(toolkit::TableView&) { return 3 + (location_ ? 1 : 0) + (hasPhones() ? 2 : 0); }

long VC_QSDetails::numberOfRows(toolkit::TableView&, long section) {
    if (section == sectionForTag(125)) return 1;
    if (section == sectionForTag(100)) return 6;
    if (section == sectionForTag(103)) return 1;
    if (section == sectionForTag(114)) return static_cast<long>(quickSetting_ ? quickSetting_->phones().size() : 0);
    return 3;
}

std::optional<std::string> VC_QSDetails::titleForHeader(toolkit::TableView&, long section) {
    if (section == sectionForTag(125)) return text("Location Awareness");
    if (section == sectionForTag(100)) return text("Account Settings");
    if (section == sectionForTag(103)) return text("Start Calls From");
    if (section == sectionForTag(114)) return text("Call Forwarding");
    if (section == sectionForTag(110)) return text("Email Notifications");
    return text("HX Connect Settings");
}

toolkit::TableViewCellPtr VC_QSDetails::cellForRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    auto role = roles_.quickSettings.lock();
    auto account = role ? role->account() : nullptr;
    const int tag = tagAt(ip);
    const auto* row = rowOfTag(tag);
    auto& q = *quickSetting_;
    if (row && row->isSwitch) {
        // A new cell each time: its switch carries this row's action alone.
        auto cell = std::make_shared<ToggleCell>(toolkit::TableViewCellStyle::Default, "ToggleCell");
        cell->setUserInteractionEnabled(true);
        cell->textLabel().setEnabled(true);
        cell->textLabel().setText(text(row->title));
        if (auto* detail = cell->detailTextLabel()) detail->setHidden(true);
        cell->setTag(tag);
        cell->onOff->setTag(tag);
        cell->onOff->setHidden(false);
        cell->onOff->setEnabled(true);
        auto weak = weakSelf<VC_QSDetails>();
        cell->onOff->addAction(
            [weak, tag](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->toggleOnOff(tag);
            },
            toolkit::kValueChanged);
        cell->setAccessoryView(cell->onOff);
        bool on = false;
        switch (tag) {
            case 100:
                on = q.dndEnabled();
                break;
            case 101:
                on = !q.directConnect();
                break;
            case 104:
                on = q.VMtranscription();
                break;
            case 122:
                on = q.callOptions();
                break;
            case 110:
                on = q.emailNotificationVM();
                break;
            case 111:
                on = q.emailNotificationSMS();
                break;
            case 112:
                on = q.emailNotificationMissedCalls();
                break;
            case 106:
                on = q.autoRefresh() == 2;
                break;
            case 107:
                on = q.messageSounds() == 2;
                break;
            case 116:
                on = q.prefetchVM() == 2;
                break;
            default:
                break;
        }
        cell->onOff->setOn(on);
        return cell;
    }
    auto cell = table.dequeueReusableCell("ValueCell");
    if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Value1, "ValueCell");
    cell->setUserInteractionEnabled(true);
    cell->textLabel().setEnabled(true);
    cell->setAccessoryView(nullptr);
    cell->setAccessoryType(toolkit::CellAccessoryType::None);
    cell->detailTextLabel()->setHidden(false);
    cell->detailTextLabel()->setEnabled(true);
    cell->detailTextLabel()->setText("");
    cell->accessibility().hint.clear();
    switch (tag) {
        case 102:
            cell->textLabel().setText(text("Incoming Caller ID"));
            cell->detailTextLabel()->setText(text(q.useHXasCID() ? "My HX number" : "Caller's number"));
            cell->setAccessoryType(toolkit::CellAccessoryType::DisclosureIndicator);
            break;
        case 115: {
            cell->textLabel().setText(text("VM Greeting"));
            std::string greeting;
            if (account)
                if (auto* g = account->vmGreetings().find(q.currentVmGreetingId())) greeting = g->stringValue();
            cell->detailTextLabel()->setText(greeting);
            const bool choice = account && account->vmGreetings().size() > 1;
            cell->setAccessoryType(choice ? toolkit::CellAccessoryType::DisclosureIndicator
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
            cell->textLabel().setText(name);
            const bool changes = role && role->canChangeCallback();
            cell->setAccessoryType(changes ? toolkit::CellAccessoryType::DisclosureIndicator
                                           : toolkit::CellAccessoryType::None);
            cell->setUserInteractionEnabled(changes);
            break;
        }
        case 114: {
            const auto phones = sortedPresetPhones();
            if (ip.row >= static_cast<long>(phones.size())) break;
            const auto& phone = phones[static_cast<size_t>(ip.row)];
            cell->textLabel().setText(phone->name());
            cell->detailTextLabel()->setText(phone->formattedNumber());
            if (phone->forwarded()) {
                cell->setAccessoryType(toolkit::CellAccessoryType::Checkmark);
            } else {
                cell->setAccessoryView(std::make_shared<toolkit::View>(toolkit::Rect{0, 0, 10, 20}));
            }
            cell->accessibility().hint =
                text(phone->forwarded() ? "enabled, double-tap to disable" : "disabled, double-tap to enable");
            break;
        }
        case 125:
            cell->textLabel().setText(locationLabelForSetting(q, account && account->defaultQS() == settingName_));
            cell->setAccessoryType(toolkit::CellAccessoryType::DisclosureIndicator);
            break;
        default:
            break;
    }
    return cell;
}

std::optional<toolkit::IndexPath> VC_QSDetails::willSelectRow(toolkit::TableView&, toolkit::IndexPath ip) {
    const int tag = tagAt(ip);
    if (tag == 115) {
        auto role = roles_.quickSettings.lock();
        auto account = role ? role->account() : nullptr;
        if (!account || account->vmGreetings().size() <= 1) return std::nullopt;
    }
    if (tag == 103) {
        auto role = roles_.quickSettings.lock();
        if (!role || !role->canChangeCallback()) return std::nullopt;
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
    if (auto role = roles_.quickSettings.lock()) role->presentAlert(sheet, this);
}

toolkit::Rect VC_QSDetails::sourceRectForRowAtIndexPath(toolkit::IndexPath ip) {
    const auto row = tableView()->rectForRow(ip);
    return {row.size.width - 45.0, row.origin.y, 45.0, row.size.height};
}

void VC_QSDetails::didSelectRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    auto role = roles_.quickSettings.lock();
    auto account = role ? role->account() : nullptr;
    auto weak = weakSelf<VC_QSDetails>();
    const int tag = tagAt(ip);
    using toolkit::AlertAction;
    using toolkit::AlertActionStyle;
    if (tag == 102 && quickSetting_) {
        auto sheet = toolkit::AlertController::make(text("Number to show as Caller ID for incoming calls"),
                                                    std::nullopt, toolkit::AlertControllerStyle::ActionSheet);
        for (const bool hx : {false, true}) {
            const bool current = quickSetting_->useHXasCID() == hx;
            (void)sheet->addAction(AlertAction::make(
                text(hx ? "My HX number" : "Caller's number"),
                current ? AlertActionStyle::Destructive : AlertActionStyle::Default,
                current ? AlertAction::Handler{} : [weak, hx](AlertAction&) {
                    auto self = weak.lock();
                    if (!self) return;
                    self->quickSetting_->setUseHXasCID(hx);
                    self->reloadTag(102);
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
        auto details = std::make_shared<VC_LocationDetails>(
            VC_LocationDetails::Roles{.quickSettings = roles_.quickSettings}, settingName_);
        if (auto* navigation = navigationController()) navigation->pushViewController(details, true);
    }
    table.deselectRow(ip, true);
}

void VC_QSDetails::toggleOnOff(int tag) {
    if (!quickSetting_) return;
    auto& q = *quickSetting_;
    switch (tag) {
        case 100:
            q.setDndEnabled(!q.dndEnabled());
            break;
        case 101:
            q.setDirectConnect(!q.directConnect());
            break;
        case 104:
            q.setVMtranscription(!q.VMtranscription());
            break;
        case 122:
            q.setCallOptions(!q.callOptions());
            break;
        case 110:
            q.setEmailNotificationVM(!q.emailNotificationVM());
            break;
        case 111:
            q.setEmailNotificationSMS(!q.emailNotificationSMS());
            break;
        case 112:
            q.setEmailNotificationMissedCalls(!q.emailNotificationMissedCalls());
            break;
        case 106:
            q.setAutoRefresh(flipped(q.autoRefresh()));
            break;
        case 107:
            q.setMessageSounds(flipped(q.messageSounds()));
            break;
        case 116:
            q.setPrefetchVM(flipped(q.prefetchVM()));
            break;
        default:
            return;
    }
    if (tag >= 110 && tag <= 112) tableView()->reloadSections({sectionForTag(110)}, toolkit::RowAnimation::Automatic);
}
