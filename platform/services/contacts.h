// The device's contacts database, standing in for the platform's: an in-memory store that tests
// fill and that the running app loads from a vCard file in its home, with authorisation,
// keyed enumeration and the full-name formatter. vCard 3.0 and 4.0 are read and written here
// (received contact cards use the same reader).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/services/postal_address.h"

namespace services {

inline constexpr const char* kContactsErrorDomain = "CNErrorDomain";
inline constexpr int64_t kContactsErrorAuthorizationDenied = 100;
inline constexpr int64_t kContactsErrorRecordDoesNotExist = 200;
inline constexpr int64_t kContactsErrorVCardMalformed = 700;
// The store's file did not take a save.
inline constexpr int64_t kContactsErrorWriteFailed = 500;

// Phone-number labels; any other text is a custom label and shown as it is.
inline constexpr const char* kLabelPhoneNumberMobile = "mobile";
inline constexpr const char* kLabelPhoneNumberiPhone = "iPhone";
inline constexpr const char* kLabelPhoneNumberMain = "main";
inline constexpr const char* kLabelPhoneNumberHomeFax = "homeFax";
inline constexpr const char* kLabelPhoneNumberWorkFax = "workFax";
inline constexpr const char* kLabelPhoneNumberPager = "pager";
inline constexpr const char* kLabelHome = "home";
inline constexpr const char* kLabelWork = "work";
inline constexpr const char* kLabelOther = "other";

// Keys a fetch asks for; what is not asked for stays empty in the fetched contact.
inline constexpr const char* kContactIdentifierKey = "identifier";
inline constexpr const char* kContactPhoneNumbersKey = "phoneNumbers";
inline constexpr const char* kContactNicknameKey = "nickname";
inline constexpr const char* kContactOrganizationNameKey = "organizationName";
inline constexpr const char* kContactThumbnailImageDataKey = "thumbnailImageData";
inline constexpr const char* kContactImageDataKey = "imageData";
inline constexpr const char* kContactImageDataAvailableKey = "imageDataAvailable";
inline constexpr const char* kContactGivenNameKey = "givenName";
inline constexpr const char* kContactFamilyNameKey = "familyName";
inline constexpr const char* kContactMiddleNameKey = "middleName";
inline constexpr const char* kContactNamePrefixKey = "namePrefix";
inline constexpr const char* kContactNameSuffixKey = "nameSuffix";
inline constexpr const char* kContactTypeKey = "contactType";

// Posted (object: the store) after a save request changed the contacts.
inline constexpr const char* kContactStoreDidChangeNotification = "CNContactStoreDidChangeNotification";

// A person or an organisation (the values are the platform's: a card shows a company symbol for 1).
// A vCard marks an organisation with "KIND:org" (or "organization"); every other card is a person.
enum class ContactType { Person = 0, Organization = 1 };

inline constexpr const char* kContactPostalAddressesKey = "postalAddresses";

struct LabeledPhoneNumber {
    std::string label;
    std::string stringValue;
    // Given by the store that holds the value and kept for as long as the value lives there; it
    // never holds ",". Values read from a card have none until a store takes them in.
    std::string identifier;
    friend bool operator==(const LabeledPhoneNumber&, const LabeledPhoneNumber&) = default;
};

struct LabeledPostalAddress {
    std::string label;
    PostalAddress value;
    friend bool operator==(const LabeledPostalAddress&, const LabeledPostalAddress&) = default;
};

struct Contact {
    std::string identifier;
    ContactType contactType = ContactType::Person;
    std::string namePrefix, givenName, middleName, familyName, nameSuffix;
    std::string nickname;
    std::string organizationName;
    std::vector<LabeledPhoneNumber> phoneNumbers;
    // From the cards' ADR lines.
    std::vector<LabeledPostalAddress> postalAddresses;
    std::optional<foundation::Data> imageData;
    std::optional<foundation::Data> thumbnailImageData;
    bool imageDataAvailable() const { return imageData.has_value() || thumbnailImageData.has_value(); }
    friend bool operator==(const Contact&, const Contact&) = default;
};

// The label's text for display (custom labels come back unchanged).
std::string localizedStringForLabel(std::string_view label);

// A phone number as the contacts database takes it: the text trimmed of white space when it holds
// at least one digit and nothing but digits (of any script), a "+" in front, the dial signs "*",
// "#", "," and ";", and the separators " ", U+00A0, "-", ".", "(", ")" and "/". Anything else (a
// name such as "Bank", letters of a vanity number, an empty text) does not parse.
std::optional<std::string> phoneNumberWithStringValue(std::string_view text);

// The abbreviated form of a person's name: the first character (with its combining marks) of the
// given and of the family name, in that order, upper-cased; "" when both are empty.
std::string abbreviatedName(std::string_view givenName, std::string_view familyName);

// Changes to run against a store: contacts to add, each to a container (the default one when none
// is named).
class SaveRequest {
public:
    struct Addition {
        Contact contact;
        std::optional<std::string> containerIdentifier;
    };
    void addContact(Contact contact, std::optional<std::string> toContainerWithIdentifier = std::nullopt) {
        additions_.push_back({std::move(contact), std::move(toContainerWithIdentifier)});
    }
    const std::vector<Addition>& additions() const { return additions_; }

private:
    std::vector<Addition> additions_;
};

enum class AuthorizationStatus { NotDetermined, Restricted, Denied, Authorized };
enum class ContactSortOrder { GivenName, FamilyName };

class ContactFormatter {
public:
    // The full name in the sort order's style (an organisation's name for an organisation), or
    // nullopt when the contact has no name to show.
    static std::optional<std::string> fullName(const Contact& contact);
    // The name keys the full name needs.
    static std::vector<std::string> descriptorForRequiredKeys();
};

class ContactStore {
public:
    ContactStore() = default;
    // The app's store, loaded on first use from contactsFilePath() when that file exists.
    static std::shared_ptr<ContactStore> shared();
    // <library>/Contacts/contacts.vcf in the app home.
    static std::filesystem::path contactsFilePath();

    // Process-wide, as on the device: tests and the emulator set what the user decided and the
    // answer a first request will get.
    static AuthorizationStatus authorizationStatus();
    static void setAuthorizationStatus(AuthorizationStatus status);
    static void setAnswerToAccessRequest(bool grant);
    static ContactSortOrder defaultSortOrder();
    static void setDefaultSortOrder(ContactSortOrder order);

    // Asks for access (the first time, the prepared answer decides); the completion runs later
    // on a global queue, never on the caller's stack.
    void requestAccess(std::function<void(bool granted, std::optional<foundation::Error> error)> completion);

    // Calls block for every contact with the keys asked for filled in, until it sets *stop.
    // Fails without access.
    foundation::Status enumerateContacts(const std::vector<std::string>& keys,
                                         const std::function<void(const Contact&, bool* stop)>& block) const;
    // The contact with this identifier, with the keys asked for filled in; fails without access
    // or when no contact has it.
    foundation::Result<Contact> unifiedContactWithIdentifier(std::string_view identifier,
                                                             const std::vector<std::string>& keys) const;
    // The contacts whose name matches: every word of name starts a word of the contact's names
    // (given, middle, family, nickname, organisation), ignoring case and diacritics. A name
    // without words matches nobody. Fails without access.
    foundation::Result<std::vector<Contact>> unifiedContactsMatchingName(std::string_view name,
                                                                         const std::vector<std::string>& keys) const;
    // Every contact with the keys asked for, whatever the app's access: for the system's own
    // screens (the picker), which the app only sees the answers of.
    std::vector<Contact> systemContacts(const std::vector<std::string>& keys) const;
    static bool contactMatchesName(const Contact& contact, std::string_view name);

    // The identifier of the one container this store has.
    static constexpr const char* kDefaultContainerIdentifier = "default";
    static std::string defaultContainerIdentifier() { return kDefaultContainerIdentifier; }
    // Runs the request as one change: without access, or when it names a container other than
    // the default one, nothing is saved and the error says why. Saved contacts get identifiers of
    // their own (as addContact gives them); the change notification follows on success.
    foundation::Status executeSaveRequest(const SaveRequest& request);

    // Takes the contact in. Its identifier and those of its phone values are kept when given and
    // free of ","; otherwise the store makes them: a new one for the contact, and for each phone
    // value one derived from the contact and the value's place, so that loading the same file
    // again gives the same identifiers.
    void addContact(Contact contact);
    // Replaces the stored contact with the same identifier (phone values keep theirs when
    // given); false when there is none.
    bool updateContact(Contact contact);
    void removeAllContacts();
    size_t count() const;
    // Replaces the contents with the cards of a vCard file; on error the store is unchanged.
    foundation::Status loadVCardFile(const std::filesystem::path& path);

    // Keeps the store in a vCard file, as the device keeps its database: the file's cards are
    // loaded now (a missing file leaves the contents as they are) and every save request from
    // then on is written back to it before it counts as saved. A file that cannot be read is
    // moved aside (files::setAside), never overwritten, and the error names both places; the
    // store then starts empty and is kept in a new file. An empty path keeps it in memory only.
    foundation::Status keepInFile(const std::filesystem::path& path);
    // The file the store is kept in, empty when it lives in memory only.
    std::filesystem::path keptFile() const;

private:
    mutable std::mutex mutex_;
    std::vector<Contact> contacts_;
    std::filesystem::path keptFile_;
};

// Reads every card of a vCard 3.0 or 4.0 text. Cards without a UID get a new identifier.
foundation::Result<std::vector<Contact>> readVCards(std::string_view text);
// Writes cards in version 3 or 4, lines folded at 75 octets, CRLF line ends.
std::string writeVCards(const std::vector<Contact>& contacts, int version = 3);

}  // namespace services
