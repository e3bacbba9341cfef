// What the conversation asks of the contacts database beyond fetching: which texts are phone
// numbers, a person's initials, whether a card is a person or an organisation (vCards written by
// an independent writer too), and saving a new contact with its change notification.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include <unistd.h>

#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/services/contacts.h"
#include "tests/support/contacts.h"
#include "tests/support/test_support.h"
#include "tests/support/vobject_cards.h"

using services::AuthorizationStatus;
using services::Contact;
using services::ContactStore;
using services::ContactType;

namespace {

TEST(PhoneNumberParse, DigitsWithDialSignsAndSeparatorsParseNamesAndLettersDoNot) {
    struct Case {
        const char* text;
        const char* parsed;  // nullptr: does not parse
    };
    const Case cases[] = {
        {"+44 20 7946 0958", "+44 20 7946 0958"},
        {"  (555) 010-0000\n", "(555) 010-0000"},
        {"555.0100", "555.0100"},
        {"*#21#", "*#21#"},
        {"+1 555 0100,,123#", "+1 555 0100,,123#"},
        {"0049/30\u00A012345", "0049/30\u00A012345"},
        {"\u0661\u0662\u0663", "\u0661\u0662\u0663"},  // Arabic-Indic digits
        {"Bank", nullptr},
        {"1-800-FLOWERS", nullptr},
        {"12+34", nullptr},  // "+" only in front
        {"+", nullptr},
        {"()- ", nullptr},
        {"", nullptr},
        {"Group Message", nullptr},
    };
    for (const Case& c : cases) {
        const auto parsed = services::phoneNumberWithStringValue(c.text);
        if (c.parsed)
            EXPECT_EQ(parsed, std::optional<std::string>(c.parsed)) << c.text;
        else
            EXPECT_FALSE(parsed) << c.text << " parsed as " << parsed.value_or("");
    }
}

TEST(Initials, FirstCharactersOfGivenAndFamilyNameUpperCased) {
    struct Case {
        const char* given;
        const char* family;
        const char* initials;
    };
    const Case cases[] = {
        {"Ada", "Lovelace", "AL"},
        {"grace", "hopper", "GH"},
        {"  Ken ", "", "K"},
        {"", "Knuth", "K"},
        {"", "", ""},
        {"\u00E9mile", "\u00FCber", "\u00C9\u00DC"},
        {"e\u0301mile", "Zola", "E\u0301Z"},  // a combining accent stays with its letter
        {"\u0639\u0644\u064A", "\u062D\u0633\u0646", "\u0639\u062D"},
    };
    for (const Case& c : cases) EXPECT_EQ(services::abbreviatedName(c.given, c.family), c.initials) << c.given;
}

TEST(VCardKinds, OrganisationsAreMarkedByKindAndNamedByTheirCompany) {
    struct Case {
        const char* card;
        ContactType type;
        const char* fullName;
    };
    const Case cases[] = {
        {"BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:org\r\nFN:Acme Ltd\r\nORG:Acme Ltd\r\nEND:VCARD\r\n",
         ContactType::Organization, "Acme Ltd"},
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nKIND:Organization\r\nFN:Acme\r\nEND:VCARD\r\n", ContactType::Organization,
         "Acme"},
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nX-KIND:org\r\nN:;;;;\r\nFN:Bakery\r\nORG:Bakery;Front\r\nEND:VCARD\r\n",
         ContactType::Organization, "Bakery"},
        {"BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:individual\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nORG:Acme\r\nEND:VCARD\r\n",
         ContactType::Person, "Ann Lee"},
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Just Fn\r\nORG:Acme\r\nEND:VCARD\r\n", ContactType::Person, "Just Fn"},
    };
    for (const Case& c : cases) {
        auto cards = services::readVCards(c.card);
        ASSERT_TRUE(cards.ok()) << c.card;
        ASSERT_EQ(cards->size(), 1u);
        const Contact& contact = cards->front();
        EXPECT_EQ(contact.contactType, c.type) << c.card;
        EXPECT_EQ(services::ContactFormatter::fullName(contact), c.fullName) << c.card;
        // Written and read again, in both versions, the kind and the name stay.
        for (int version : {3, 4}) {
            auto back = services::readVCards(services::writeVCards(*cards, version));
            ASSERT_TRUE(back.ok());
            EXPECT_EQ(back->front().contactType, c.type) << version << " " << c.card;
            EXPECT_EQ(services::ContactFormatter::fullName(back->front()), c.fullName) << version;
        }
    }
}

// Cards as an independent vCard writer makes them: a person with a photo, an organisation, and a
// file of three contacts.
TEST(VCardKinds, CardsOfAnIndependentWriterReadAsItWroteThem) {
    if (!hxtest::haveVobject()) GTEST_SKIP() << "python3-vobject is not installed (./hx deps)";
    const auto dir = std::filesystem::temp_directory_path() / ("vobject-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    foundation::Data photo;
    for (int i = 0; i < 768; ++i) photo.push_back(static_cast<uint8_t>(i % 256));
    const std::string failure = hxtest::writeVobjectCards(dir, photo, "JPEG");
    ASSERT_EQ(failure, "");
    auto read = [&](const char* name) {
        auto text = foundation::files::readString(dir / name);
        EXPECT_TRUE(text.ok()) << name;
        auto cards = services::readVCards(text.ok() ? *text : std::string());
        EXPECT_TRUE(cards.ok()) << name << ": " << (cards.ok() ? "" : cards.error().description());
        return cards.ok() ? *cards : std::vector<Contact>{};
    };
    const auto person = read("person.vcf");
    ASSERT_EQ(person.size(), 1u);
    EXPECT_EQ(person[0].contactType, ContactType::Person);
    EXPECT_EQ(services::ContactFormatter::fullName(person[0]), "Ada Lovelace");
    EXPECT_EQ(services::abbreviatedName(person[0].givenName, person[0].familyName), "AL");
    ASSERT_TRUE(person[0].imageDataAvailable());
    EXPECT_EQ(person[0].imageData->size(), 768u);
    EXPECT_EQ((*person[0].imageData)[255], 255);
    ASSERT_EQ(person[0].phoneNumbers.size(), 1u);
    EXPECT_EQ(person[0].phoneNumbers[0].label, services::kLabelPhoneNumberMobile);

    const auto org = read("org.vcf");
    ASSERT_EQ(org.size(), 1u);
    EXPECT_EQ(org[0].contactType, ContactType::Organization);
    EXPECT_EQ(services::ContactFormatter::fullName(org[0]), "Acme & Sons");
    EXPECT_EQ(org[0].givenName, "");

    const auto three = read("three.vcf");
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(services::ContactFormatter::fullName(three[2]), "Cy O'Neil");
    std::filesystem::remove_all(dir);
}

struct SaveRequests : ::testing::Test {
    void TearDown() override { ContactStore::setAuthorizationStatus(AuthorizationStatus::NotDetermined); }
};

TEST_F(SaveRequests, ASaveAddsNewRecordsToTheDefaultContainerAndTellsObservers) {
    ContactStore::setAuthorizationStatus(AuthorizationStatus::Authorized);
    ContactStore store;
    store.addContact(hxtest::person("Ann", "Lee", {{"mobile", "+1 555 0100", "keep"}}, "ann"));
    int notified = 0;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
        &store, services::kContactStoreDidChangeNotification, [&](const foundation::Notification&) { ++notified; });

    services::SaveRequest request;
    // A copy of a stored contact (as a card hands it back) becomes a record of its own.
    request.addContact(hxtest::person("Ann", "Lee", {{"mobile", "+1 555 0100", "keep"}}, "ann"));
    Contact org;
    org.contactType = ContactType::Organization;
    org.organizationName = "Acme";
    request.addContact(org, ContactStore::defaultContainerIdentifier());
    ASSERT_TRUE(store.executeSaveRequest(request).ok());
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(store.count(), 3u);
    std::set<std::string> ids;
    std::vector<Contact> all;
    ASSERT_TRUE(store
                    .enumerateContacts({services::kContactTypeKey, services::kContactOrganizationNameKey,
                                        services::kContactPhoneNumbersKey},
                                       [&](const Contact& c, bool*) { all.push_back(c); })
                    .ok());
    for (const Contact& c : all) ids.insert(c.identifier);
    EXPECT_EQ(ids.size(), 3u) << "a saved copy took the identifier of the contact it was made from";
    EXPECT_NE(all[1].phoneNumbers.at(0).identifier, "keep");
    EXPECT_EQ(all[2].contactType, ContactType::Organization);
    // An empty request changes nothing and tells nobody.
    ASSERT_TRUE(store.executeSaveRequest({}).ok());
    EXPECT_EQ(notified, 1);
    foundation::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(SaveRequests, WithoutAccessOrToAnotherContainerNothingIsSaved) {
    struct Case {
        AuthorizationStatus status;
        std::optional<std::string> container;
        int64_t code;
    };
    const Case cases[] = {
        {AuthorizationStatus::Denied, std::nullopt, services::kContactsErrorAuthorizationDenied},
        {AuthorizationStatus::NotDetermined, std::nullopt, services::kContactsErrorAuthorizationDenied},
        {AuthorizationStatus::Restricted, std::nullopt, services::kContactsErrorAuthorizationDenied},
        {AuthorizationStatus::Authorized, std::string("elsewhere"), services::kContactsErrorRecordDoesNotExist},
    };
    for (const Case& c : cases) {
        ContactStore::setAuthorizationStatus(c.status);
        ContactStore store;
        int notified = 0;
        auto token = foundation::NotificationCenter::defaultCenter().addObserver(
            &store, services::kContactStoreDidChangeNotification, [&](const foundation::Notification&) { ++notified; });
        services::SaveRequest request;
        request.addContact(hxtest::person("Bo", "Kim", {}));
        request.addContact(hxtest::person("Cy", "Li", {}), c.container);
        const auto status = store.executeSaveRequest(request);
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().domain, services::kContactsErrorDomain);
        EXPECT_EQ(status.error().code, c.code);
        EXPECT_EQ(store.count(), 0u) << "part of a failed request was saved";
        EXPECT_EQ(notified, 0);
        foundation::NotificationCenter::defaultCenter().removeObserver(token);
    }
}

}  // namespace
