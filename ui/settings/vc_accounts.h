// The accounts stored on the device: which one is active, switching to another, adding one
// through the sign-in panel and deleting one with all its local data. The rows follow the stored
// "accountInfo" in its own order; the selection and the first remaining account use that order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/toolkit/table_view_controller.h"

class VC_Accounts : public toolkit::TableViewController {
public:
    struct Roles {
        std::weak_ptr<HXAccountListRole> accounts;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXPasscodeRole> passcode;
        std::weak_ptr<HXAlertsRole> alerts;
    };
    // The screens it opens, made by the screen library (ui/shell): the sign-in panel for an
    // account to add (it keeps no session it would renew); an empty maker opens nothing.
    struct Makers {
        std::function<std::shared_ptr<toolkit::ViewController>()> newAccountSignIn;
    };
    VC_Accounts(Roles roles, Makers makers, toolkit::TableViewStyle style);
    std::string className() const override { return "VC_Accounts"; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    // Entering and leaving editing: the add row comes and goes with it.
    void setEditingMode(bool editing, bool animated);
    const std::shared_ptr<toolkit::BarButtonItem>& editButton() const { return editItem_; }
    void dismiss();
    const std::shared_ptr<toolkit::BarButtonItem>& cancelButton() const { return cancelButton_; }

    long numberOfRows(toolkit::TableView&, long) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::string> titleForHeader(toolkit::TableView&, long) override;
    std::optional<std::string> titleForFooter(toolkit::TableView&, long) override;
    bool canEditRow(toolkit::TableView& table, toolkit::IndexPath) override;
    toolkit::CellEditingStyle editingStyleForRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    void commitEditingStyle(toolkit::TableView& table, toolkit::CellEditingStyle style,
                            toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

    // The stored accounts' user names and numbers, in row order.
    struct Entry {
        std::string username;
        std::string number;
    };
    static std::vector<Entry> storedAccounts();

private:
    void addAccount();
    void deleteAccount(toolkit::IndexPath indexPath);
    void selectAccount(const std::string& username);
    void updateButtons();
    void close();
    bool popover();

    Roles roles_;
    Makers makers_;
    std::shared_ptr<toolkit::BarButtonItem> cancelButton_;
    std::shared_ptr<toolkit::BarButtonItem> editItem_;
};
