// The system's contact screens the app presents: the contact picker (a list of the device's
// contacts from which the user picks a whole contact or one of its phone numbers) and the contact
// card (one contact's phone numbers; a tap on one is offered to the delegate before the system's
// own action, a call, runs). Both read a services::ContactStore; main thread.
//
// A card for an unknown contact (one the database does not hold: a number from a message, a
// received vCard) shows the same rows and, when editing is allowed, "Create New Contact": that
// opens the card's editor (first name, last name, company) with "Cancel" and "Done". Done hands
// the edited contact to the delegate, Cancel hands it nothing; the card saves nothing itself
// (saving, and closing the card, are the delegate's business).
//
// Picker rules, as the system applies them:
// - every contact of the store is listed, sorted by full name; one for which the enabling
//   predicate is false is shown dimmed and takes no taps;
// - a tap on an enabled contact picks the contact as a whole when the selection predicate is
//   true for it (without one: when the delegate takes contacts); otherwise the picker shows the
//   contact's card, where a tap on a phone number picks that property;
// - picking or Cancel closes the picker first, then the delegate hears of it.
// Predicates are the store's ("phoneNumbers.@count > 0"); a contact answers the key paths of its
// names, "identifier", "phoneNumbers" (the numbers' strings), "phoneNumbers.@count" and
// "postalAddresses.@count". The list fetches the keys its rules and displayed keys read, as well
// as the names and numbers it shows. A picker whose displayed keys name the postal addresses
// shows them on its cards in place of the phone numbers.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/services/contacts.h"
#include "platform/store/predicate.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/text_input.h"

namespace system_screens {

// One labelled value of a contact: a phone number, or a postal address where the picker shows
// addresses.
struct ContactProperty {
    services::Contact contact;
    std::string key;         // services::kContactPhoneNumbersKey or kContactPostalAddressesKey
    std::string identifier;  // the labelled value's identifier
    services::LabeledPhoneNumber value;
    services::LabeledPostalAddress address;
};

// The contact as a source of key paths for the picker's predicates.
class ContactKeyValueSource : public store::KeyValueSource {
public:
    explicit ContactKeyValueSource(const services::Contact& contact) : contact_(contact) {}
    void resolve(const std::vector<std::string>& keyPath, std::vector<foundation::Value>& out,
                 bool& many) const override;

private:
    const services::Contact& contact_;
};

class ContactPickerViewController;
class ContactViewController;

class ContactPickerDelegate {
public:
    virtual ~ContactPickerDelegate() = default;
    virtual void contactPickerDidCancel(ContactPickerViewController&) {}
    // Which of the two picks the delegate takes; one that takes neither only browses.
    virtual bool takesContacts() const { return true; }
    virtual bool takesContactProperties() const { return true; }
    virtual void contactPickerDidSelectContact(ContactPickerViewController&, const services::Contact&) {}
    virtual void contactPickerDidSelectContactProperty(ContactPickerViewController&, const ContactProperty&) {}
};

class ContactPickerViewController : public toolkit::NavigationController {
public:
    explicit ContactPickerViewController(
        std::shared_ptr<services::ContactStore> store = services::ContactStore::shared());
    std::string className() const override { return "CNContactPickerViewController"; }

    std::weak_ptr<ContactPickerDelegate> delegate;
    // The keys the cards show (only phone numbers are shown in any case).
    std::vector<std::string> displayedPropertyKeys;
    // Parsed from the store's predicate format; a format that does not parse is an error and
    // leaves the rule unset.
    foundation::Status setPredicateForEnablingContact(std::string_view format);
    foundation::Status setPredicateForSelectionOfContact(std::string_view format);
    const std::optional<store::Predicate>& predicateForEnablingContact() const { return enabling_; }
    const std::optional<store::Predicate>& predicateForSelectionOfContact() const { return selection_; }

    // The listed contacts (read from the store when the list first loads), in order.
    const std::vector<services::Contact>& contacts();
    bool isContactEnabled(const services::Contact& contact) const;
    // Whether a tap on the contact picks it whole (else its card opens).
    bool selectsContactWhole(const services::Contact& contact) const;
    // What a tap on row index of the list does.
    void selectContactAt(size_t index);
    // A tap on a phone number of the card the picker shows.
    void selectProperty(const ContactProperty& property);
    void cancel();

    void viewDidLoad() override;

private:
    class List;
    void finish(std::function<void(ContactPickerDelegate&)> tell);
    std::shared_ptr<services::ContactStore> store_;
    std::optional<store::Predicate> enabling_;
    std::optional<store::Predicate> selection_;
    std::optional<std::vector<services::Contact>> contacts_;
    bool finished_ = false;
};

class ContactViewControllerDelegate {
public:
    virtual ~ContactViewControllerDelegate() = default;
    // A tap on a property: true lets the system's own action run (a call for a phone number).
    virtual bool contactViewControllerShouldPerformDefaultActionForContactProperty(ContactViewController&,
                                                                                   const ContactProperty&) {
        return true;
    }
    // The card's editor finished: with the contact it made (Done), or with nothing (Cancel).
    virtual void contactViewControllerDidCompleteWithContact(ContactViewController&,
                                                             const std::optional<services::Contact>& contact) {
        (void)contact;
    }
};

// The card of one contact: its full name over one row per phone number (label, number).
class ContactViewController : public toolkit::TableViewController {
public:
    static std::shared_ptr<ContactViewController> forContact(services::Contact contact);
    static std::shared_ptr<ContactViewController> forUnknownContact(services::Contact contact);
    std::string className() const override { return "CNContactViewController"; }

    std::weak_ptr<ContactViewControllerDelegate> delegate;
    std::shared_ptr<services::ContactStore> contactStore;
    std::vector<std::string> displayedPropertyKeys;
    bool allowsEditing = true;
    bool allowsActions = true;
    bool shouldShowLinkedContacts = false;

    const services::Contact& contact() const { return contact_; }
    bool isUnknownContact() const { return unknown_; }
    // What a tap on the row of phone value index does.
    void tapProperty(size_t index);
    // Shows the labelled value with this identifier highlighted (one at a time; a key other than
    // the phone numbers', or an identifier the card does not show, highlights nothing).
    void highlightPropertyWithKey(const std::string& key, const std::string& identifier);
    const std::optional<std::string>& highlightedPropertyIdentifier() const { return highlighted_; }
    bool isHighlightedRow(size_t index) const;

    static constexpr const char* kCreateNewContactTitle = "Create New Contact";
    // Whether the card offers "Create New Contact" (an unknown contact, editing allowed).
    bool offersNewContact() const { return unknown_ && allowsEditing; }
    // Opens the editor with the contact's names; Done and Cancel finish it.
    void createNewContact();
    bool isEditingContact() const { return editor_ != nullptr; }
    // The editor's fields, in order: first name, last name, company (none while not editing).
    std::vector<std::shared_ptr<toolkit::TextField>> editorFields() const;
    void finishEditing(bool done);
    // Postal addresses in place of phone numbers (the displayed keys name them).
    bool showsAddresses() const;

    void viewDidLoad() override;
    long numberOfRows(toolkit::TableView&, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

private:
    friend class ContactPickerViewController;
    explicit ContactViewController(services::Contact contact) : contact_(std::move(contact)) {}
    services::Contact contact_;
    // Set when the card shows inside a picker: taps pick the property instead.
    std::weak_ptr<ContactPickerViewController> picker_;
    bool unknown_ = false;
    std::optional<std::string> highlighted_;
    std::shared_ptr<toolkit::View> editor_;
    std::vector<toolkit::BarButtonItemPtr> savedLeft_, savedRight_;
};

}  // namespace system_screens
