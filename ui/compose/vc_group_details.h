// The members of a group conversation, each with picture, name and number. A member who is one of
// the device's contacts opens as that contact's card; a number the contacts do not know opens as a
// card for a new contact with the number and name filled in. In either card a tap on a phone number
// offers "Call" and "Text" through the app rather than the phone's own dialer.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/graphics/image.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/table_view_controller.h"

namespace toolkit {
class AlertController;
}

class VC_GroupDetails : public toolkit::TableViewController, public system_screens::ContactViewControllerDelegate {
public:
    struct Roles {
        std::weak_ptr<HXConversationRole> conversation;
        std::weak_ptr<HXComposeRole> compose;
        std::weak_ptr<HXMediaRole> media;
        std::weak_ptr<HXConversationActionsRole> conversations;
        std::weak_ptr<HXStoreRole> store;
        std::weak_ptr<HXAlertsRole> alerts;
    };
    static constexpr const char* kCellIdentifier = "contactDetailCell";

    explicit VC_GroupDetails(Roles roles);
    ~VC_GroupDetails() override;
    std::string className() const override { return "VC_GroupDetails"; }

    // The members' addresses joined by "|" (phone numbers or e-mail addresses).
    void setNumberString(std::string numbers) { numberString_ = std::move(numbers); }
    const std::string& numberString() const { return numberString_; }
    // A member: the number as the app formats it (an e-mail address trimmed), the contact's name
    // and identifier ("" when no contact has the number) and the round picture shown.
    struct Member {
        std::string number, name, identifier;
        graphics::ImagePtr image;
    };
    // One entry per member in the order of numberString, made on first use and dropped when the
    // contacts change.
    const std::vector<Member>& contactList();
    void refreshContactList();
    void resetContacts();
    void dismiss();
    // The action sheet a tapped number in a card shows (kept for as long as it is up).
    const std::shared_ptr<toolkit::AlertController>& numberActions() const { return numberActions_; }

    void viewDidLoad() override;
    long numberOfRows(toolkit::TableView& table, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void accessoryButtonTapped(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

    bool contactViewControllerShouldPerformDefaultActionForContactProperty(
        system_screens::ContactViewController& card, const system_screens::ContactProperty& property) override;
    void contactViewControllerDidCompleteWithContact(system_screens::ContactViewController& card,
                                                     const std::optional<services::Contact>& contact) override;

private:
    void call(const std::string& number);
    void text(const std::string& number);

    Roles roles_;
    std::string numberString_;
    std::optional<std::vector<Member>> contactList_;
    std::shared_ptr<toolkit::AlertController> numberActions_;
};
