#include "ui/settings/vc_accounts.h"

#include "app/hxc_passcode_lock.h"
#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/navigation_controller.h"
#include "ui/settings/settings_support.h"

using namespace hxsettings;

namespace {

using foundation::localizedString;

constexpr double kRowHeight = 44, kWidth = 320, kBaseHeight = 210;

std::string activeUser() { return defaults()->stringForKey("username").value_or(""); }

}  // namespace

VC_Accounts::VC_Accounts(Roles roles, Makers makers, toolkit::TableViewStyle style)
    : toolkit::TableViewController(style), roles_(std::move(roles)), makers_(std::move(makers)) {}

std::vector<VC_Accounts::Entry> VC_Accounts::storedAccounts() {
    std::vector<Entry> entries;
    auto infos = defaults()->dictionaryForKey("accountInfo");
    if (!infos) return entries;
    for (const auto& key : infos->keys()) {
        const auto& archive = infos->get(key);
        Entry entry{key.string(), {}};
        if (archive.isData()) {
            auto account = HX_Account::unarchived(archive.asData());
            if (account.ok() && account.value()) {
                entry.username = account.value()->username().empty() ? key.string() : account.value()->username();
                entry.number =
                    PhoneExtensions::formattedPhoneNumberFromString(account.value()->HXnumber().value_or(""));
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool VC_Accounts::popover() {
    auto routing = roles_.routing.lock();
    return routing && routing->iPad() && !routing->isSplitViewCollapsed();
}

void VC_Accounts::viewDidLoad() {
    toolkit::TableViewController::viewDidLoad();
    editItem_ = toolkit::BarButtonItem::withSystemItem(
        toolkit::SystemItem::Edit, [this](toolkit::BarButtonItem&) { setEditingMode(!isEditing(), true); });
    navigationItem().setRightBarButtonItem(editItem_);
    tableView()->allowsSelectionDuringEditing = true;
    tableView()->alwaysBounceVertical = false;
    cancelButton_ = toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Cancel,
                                                           [this](toolkit::BarButtonItem&) { dismiss(); });
    if (!popover()) {
        setTitle(localizedString("Accounts"));
        navigationItem().setLeftBarButtonItem(cancelButton_);
    } else {
        const toolkit::Size size{kWidth, kBaseHeight + kRowHeight * static_cast<double>(storedAccounts().size())};
        setPreferredContentSize(size);
        if (auto* nav = navigationController()) nav->setPreferredContentSize(size);
    }
}

void VC_Accounts::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    updateButtons();
}

void VC_Accounts::updateButtons() {
    const bool any = !storedAccounts().empty();
    if (editItem_) editItem_->enabled = any;
    // The list cannot be closed while no account exists.
    if (cancelButton_) cancelButton_->enabled = any;
}

void VC_Accounts::dismiss() {
    if (auto* nav = navigationController())
        nav->dismiss(true);
    else
        toolkit::ViewController::dismiss(true);
}

void VC_Accounts::close() {
    auto routing = roles_.routing.lock();
    if (routing && routing->iPad() && popover())
        routing->dismissPopoverAnimated(true);
    else
        dismiss();
}

long VC_Accounts::numberOfRows(toolkit::TableView&, long) {
    return static_cast<long>(storedAccounts().size()) + (isEditing() ? 1 : 0);
}

std::optional<std::string> VC_Accounts::titleForHeader(toolkit::TableView&, long) {
    return localizedString("Account List");
}

std::optional<std::string> VC_Accounts::titleForFooter(toolkit::TableView&, long) {
    return localizedString("Tap to select the active account. Use the 'Edit' button to add or remove accounts.\n\nTo "
                           "log out of an account and remove all locally cached data, select 'Edit' and delete the "
                           "account from the list.");
}

toolkit::TableViewCellPtr VC_Accounts::cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    const auto entries = storedAccounts();
    if (static_cast<size_t>(indexPath.row) >= entries.size()) {
        auto cell = table.dequeueReusableCell("PlainCell");
        if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, "PlainCell");
        cell->textLabel().setText(localizedString("Add Account\u2026"));
        cell->setAccessoryType(toolkit::CellAccessoryType::None);
        return cell;
    }
    auto cell = table.dequeueReusableCell("AccountCell");
    if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Subtitle, "AccountCell");
    const auto& entry = entries[static_cast<size_t>(indexPath.row)];
    cell->textLabel().setText(entry.username);
    if (auto* detail = cell->detailTextLabel()) detail->setText(entry.number);
    cell->setAccessoryType(entry.username == activeUser() ? toolkit::CellAccessoryType::Checkmark
                                                          : toolkit::CellAccessoryType::None);
    return cell;
}

bool VC_Accounts::canEditRow(toolkit::TableView& table, toolkit::IndexPath) { return table.isEditing(); }

toolkit::CellEditingStyle VC_Accounts::editingStyleForRow(toolkit::TableView&, toolkit::IndexPath indexPath) {
    return static_cast<size_t>(indexPath.row) >= storedAccounts().size() ? toolkit::CellEditingStyle::Insert
                                                                         : toolkit::CellEditingStyle::Delete;
}

void VC_Accounts::commitEditingStyle(toolkit::TableView&, toolkit::CellEditingStyle style,
                                     toolkit::IndexPath indexPath) {
    if (style == toolkit::CellEditingStyle::Insert)
        addAccount();
    else if (style == toolkit::CellEditingStyle::Delete)
        deleteAccount(indexPath);
}

void VC_Accounts::didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    table.deselectRow(indexPath, true);
    const auto entries = storedAccounts();
    if (static_cast<size_t>(indexPath.row) >= entries.size()) {
        if (isEditing()) addAccount();
        return;
    }
    if (isEditing()) return;
    const std::string chosen = entries[static_cast<size_t>(indexPath.row)].username;
    if (chosen != activeUser()) selectAccount(chosen);
    close();
}

void VC_Accounts::selectAccount(const std::string& username) {
    auto role = roles_.accounts.lock();
    if (!role) return;
    const std::string leaving = activeUser();
    auto queues = defaults()->dictionaryForKey("smsQueue");
    const auto* queue = queues ? queues->find(leaving) : nullptr;
    const bool queued = queue && ((queue->isDictionary() && !queue->asDictionary().empty()) ||
                                  (queue->isArray() && !queue->asArray().empty()));
    if (queued) {
        HXAlert alert{localizedString("Queued SMS Messages"),
                      foundation::format(localizedString("The account '%@' has SMS messages queued to be sent when an "
                                                         "internet connection is available.\n\nThese messages will "
                                                         "only be sent after switching back to that account."),
                                         leaving),
                      {}};
        alert.actions.push_back({localizedString("Dismiss"), HXAlertAction::Style::Cancel, {}});
        if (auto alerts = roles_.alerts.lock()) alerts->presentAlert(alert);
    }
    role->logout();
    role->selectAccountForUserName(username);
    role->loadInitialData();
}

void VC_Accounts::addAccount() {
    auto role = roles_.accounts.lock();
    if (!role) return;
    (void)defaults()->removeObjectForKey("username");
    auto panel = makers_.newAccountSignIn ? makers_.newAccountSignIn() : nullptr;
    if (!panel) return;
    auto nav = std::make_shared<toolkit::NavigationController>(panel);
    nav->modalPresentationStyle = toolkit::ModalPresentationStyle::CurrentContext;
    if (auto* own = navigationController())
        own->present(nav, true);
    else
        present(nav, true);
}

void VC_Accounts::deleteAccount(toolkit::IndexPath indexPath) {
    auto role = roles_.accounts.lock();
    const auto entries = storedAccounts();
    if (!role || static_cast<size_t>(indexPath.row) >= entries.size()) return;
    const std::string username = entries[static_cast<size_t>(indexPath.row)].username;
    auto alerts = roles_.alerts.lock();
    auto current = alerts ? alerts->account() : nullptr;
    if (current && current->username() == username) role->logout();
    role->deleteAccountForUsername(username);
    tableView()->deleteRows({indexPath});
    if (popover()) {
        auto size = preferredContentSize();
        size.height -= kRowHeight;
        setPreferredContentSize(size);
    }
    current = alerts ? alerts->account() : nullptr;
    if (!current || current->username().empty()) {
        const auto remaining = storedAccounts();
        if (!remaining.empty()) {
            role->selectAccountForUserName(remaining.front().username);
            tableView()->reloadRows({{0, 0}}, toolkit::RowAnimation::None);
        } else {
            if (auto passcode = roles_.passcode.lock()) passcode->passcodeLock().setPasscodeRequired(false);
            // The sign-in panel is presented from the window's root, which cannot present it while
            // it presents this list: a sheet list goes first and the panel follows. (A popover's
            // panel is presented over what the master list presents.)
            auto* nav = navigationController();
            if (!popover() && nav && nav->presentingViewController()) {
                std::weak_ptr<HXAccountListRole> weakRole = role;
                nav->dismiss(true, [weakRole] {
                    if (auto r = weakRole.lock()) r->displayLogin();
                });
            } else {
                role->displayLogin();
            }
        }
    }
    updateButtons();
}

void VC_Accounts::setEditingMode(bool editing, bool animated) {
    if (editing == isEditing()) return;
    auto table = tableView();
    const toolkit::IndexPath addRow{0, static_cast<long>(storedAccounts().size())};
    const auto animation = animated ? toolkit::RowAnimation::Automatic : toolkit::RowAnimation::None;
    (void)table->performBatchUpdates([&] {
        setEditing(editing, animated);
        if (editing)
            table->insertRows({addRow}, animation);
        else
            table->deleteRows({addRow}, animation);
    });
    if (editItem_) {
        editItem_->systemItem = editing ? toolkit::SystemItem::Done : toolkit::SystemItem::Edit;
        editItem_->style = editing ? toolkit::BarButtonStyle::Done : toolkit::BarButtonStyle::Plain;
        // Set again, so the bar lays the changed item out anew (its width and what it says).
        navigationItem().setRightBarButtonItem(editItem_);
    }
    if (popover()) {
        auto size = preferredContentSize();
        size.width = kWidth;
        size.height += editing ? kRowHeight : -kRowHeight;
        setPreferredContentSize(size);
        if (auto* nav = navigationController()) nav->setPreferredContentSize(size);
    }
}
