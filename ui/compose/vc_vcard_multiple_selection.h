// The contacts of a received contact card that holds more than one: a row per contact opens its
// card (read only), and, with access to the device's contacts, "Add All N Contacts" stores them
// all at once. A store that refuses them says why before the screen closes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/services/contacts.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/table_view_controller.h"

class VC_VCardMultipleSelection : public toolkit::TableViewController {
public:
    struct Roles {
        std::weak_ptr<HXRoutingRole> routing;
    };
    static constexpr const char* kCellIdentifier = "plainCell";

    VC_VCardMultipleSelection(Roles roles, toolkit::TableViewStyle style);
    std::string className() const override { return "VC_VCardMultipleSelection"; }

    void setVCardDetails(foundation::Data data) { vCardDetails_ = std::move(data); }
    const foundation::Data& vCardDetails() const { return vCardDetails_; }
    // Becomes the delegate of every card opened from a row.
    void setContactDelegate(std::weak_ptr<system_screens::ContactViewControllerDelegate> delegate) {
        contactDelegate_ = std::move(delegate);
    }
    // The contacts of the card, read once on first use (none when it does not parse).
    const std::vector<services::Contact>& contactList();
    void dismiss();

    void viewDidLoad() override;
    long numberOfSections(toolkit::TableView& table) override;
    long numberOfRows(toolkit::TableView& table, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

private:
    // Whether the device's contacts were open to the app when the screen loaded.
    bool authorised() const { return authorised_; }
    void addAll(toolkit::TableView& table, toolkit::IndexPath indexPath);

    Roles roles_;
    foundation::Data vCardDetails_;
    std::weak_ptr<system_screens::ContactViewControllerDelegate> contactDelegate_;
    std::optional<std::vector<services::Contact>> contactList_;
    bool authorised_ = false;
};
