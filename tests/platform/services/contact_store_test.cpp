#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include <unistd.h>

#include "platform/foundation/files.h"
#include "platform/services/contacts.h"
#include "tests/support/contacts.h"

using services::AuthorizationStatus;
using services::Contact;
using services::ContactStore;
using services::LabeledPhoneNumber;

namespace {

using hxtest::person;

const std::vector<std::string> kAllKeys = {services::kContactGivenNameKey, services::kContactFamilyNameKey,
                                           services::kContactPhoneNumbersKey, services::kContactOrganizationNameKey};

class ContactStoreFetch : public ::testing::Test {
protected:
    void SetUp() override { ContactStore::setAuthorizationStatus(AuthorizationStatus::Authorized); }
    void TearDown() override { ContactStore::setAuthorizationStatus(AuthorizationStatus::NotDetermined); }

    std::vector<Contact> everyone(const ContactStore& store) {
        std::vector<Contact> out;
        EXPECT_TRUE(store.enumerateContacts(kAllKeys, [&](const Contact& c, bool*) { out.push_back(c); }).ok());
        return out;
    }
};

}  // namespace

TEST_F(ContactStoreFetch, PhoneValuesGetStableIdentifiersWithoutCommas) {
    ContactStore store;
    store.addContact(person("Ann", "Lee", {{"mobile", "+1 555 0100", ""}, {"home", "+1 555 0101", "given,id"}}, "a,b"));
    store.addContact(person("Bo", "Kim", {{"mobile", "1", "same"}, {"work", "2", "same"}}, "bo"));
    std::set<std::string> ids;
    for (const Contact& c : everyone(store)) {
        EXPECT_EQ(c.identifier.find(','), std::string::npos) << c.identifier;
        for (const auto& p : c.phoneNumbers) {
            EXPECT_FALSE(p.identifier.empty());
            EXPECT_EQ(p.identifier.find(','), std::string::npos) << p.identifier;
            EXPECT_TRUE(ids.insert(p.identifier).second) << "identifiers are unique: " << p.identifier;
        }
    }
    // The one given without a comma is kept.
    EXPECT_EQ(everyone(store)[1].phoneNumbers[0].identifier, "same");

    // Loading the same file twice gives the same identifiers; the card's own UID is kept.
    const auto dir = std::filesystem::temp_directory_path() / ("hx_contact_ids_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "contacts.vcf";
    ASSERT_TRUE(foundation::files::writeAtomically(file, std::string_view(services::writeVCards({person(
                                                             "Cy", "Ode", {{"mobile", "7"}, {"home", "8"}}, "UID-1")})))
                    .ok());
    ContactStore first, second;
    ASSERT_TRUE(first.loadVCardFile(file).ok());
    ASSERT_TRUE(second.loadVCardFile(file).ok());
    std::filesystem::remove_all(dir);
    const Contact a = everyone(first).at(0), b = everyone(second).at(0);
    EXPECT_EQ(a.identifier, "UID-1");
    EXPECT_EQ(a.phoneNumbers, b.phoneNumbers);
    EXPECT_NE(a.phoneNumbers[0].identifier, a.phoneNumbers[1].identifier);
}

TEST_F(ContactStoreFetch, ByIdentifierFillsOnlyTheKeysAskedForAndFailsWithItsReason) {
    ContactStore store;
    Contact c = person("Ann", "Lee", {{"mobile", "+1 555 0100", "p1"}}, "ann");
    c.organizationName = "Acme";
    c.thumbnailImageData = foundation::Data{1, 2, 3};
    store.addContact(c);

    auto nameOnly = store.unifiedContactWithIdentifier("ann", {services::kContactGivenNameKey});
    ASSERT_TRUE(nameOnly.ok());
    EXPECT_EQ(nameOnly->identifier, "ann");
    EXPECT_EQ(nameOnly->givenName, "Ann");
    EXPECT_TRUE(nameOnly->familyName.empty());
    EXPECT_TRUE(nameOnly->phoneNumbers.empty());
    EXPECT_FALSE(nameOnly->imageDataAvailable());

    auto full = store.unifiedContactWithIdentifier(
        "ann", {services::kContactPhoneNumbersKey, services::kContactThumbnailImageDataKey});
    ASSERT_TRUE(full.ok());
    ASSERT_EQ(full->phoneNumbers.size(), 1u);
    EXPECT_EQ(full->phoneNumbers[0].identifier, "p1");
    EXPECT_TRUE(full->thumbnailImageData);

    for (const char* missing : {"nobody", ""}) {
        auto none = store.unifiedContactWithIdentifier(missing, kAllKeys);
        ASSERT_FALSE(none.ok()) << missing;
        EXPECT_EQ(none.error().code, services::kContactsErrorRecordDoesNotExist);
    }
    ContactStore::setAuthorizationStatus(AuthorizationStatus::Denied);
    auto denied = store.unifiedContactWithIdentifier("ann", kAllKeys);
    ASSERT_FALSE(denied.ok());
    EXPECT_EQ(denied.error().code, services::kContactsErrorAuthorizationDenied);
    EXPECT_FALSE(store.unifiedContactsMatchingName("Ann", kAllKeys).ok());
}

TEST_F(ContactStoreFetch, ByNameMatchesWordPrefixesIgnoringCaseAndDiacritics) {
    ContactStore store;
    store.addContact(person("José", "Núñez", {}, "jose"));
    store.addContact(person("Joseph", "Nunn", {}, "joseph"));
    Contact org;
    org.organizationName = "Blue Harbour Pizza";
    org.identifier = "pizza";
    store.addContact(org);
    Contact odd = person("Ann, Jr.", "O|Neil", {}, "odd");
    store.addContact(odd);

    struct Case {
        const char* name;
        std::set<std::string> ids;
    };
    for (const Case& c : {
             Case{"José Núñez", {"jose"}},
             Case{"jose nunez", {"jose"}},
             Case{"Núñez José", {"jose"}},  // word order does not matter
             Case{"Jos", {"jose", "joseph"}},
             Case{"Jos Nunn", {"joseph"}},
             Case{"Jos Nu", {"jose", "joseph"}},
             Case{"harbour", {"pizza"}},
             Case{"Ann, Jr. O|Neil", {"odd"}},
             Case{"José Smith", {}},
             Case{"", {}},
             Case{"   ", {}},
         }) {
        auto found = store.unifiedContactsMatchingName(c.name, kAllKeys);
        ASSERT_TRUE(found.ok()) << c.name;
        std::set<std::string> ids;
        for (const Contact& f : *found) ids.insert(f.identifier);
        EXPECT_EQ(ids, c.ids) << c.name;
    }
}

TEST_F(ContactStoreFetch, TwoStoresWithTheSamePeopleStandForTwoDevices) {
    // The same people added on two devices get other identifiers; the name still finds them.
    ContactStore phone, tablet;
    for (ContactStore* store : {&phone, &tablet}) {
        store->addContact(person("Ann", "Lee", {{"mobile", "+1 555 0100"}, {"home", "+1 555 0101"}}));
        store->addContact(person("Bo", "Kim", {{"mobile", "+44 20 7946 0000"}}));
    }
    const auto onPhone = everyone(phone), onTablet = everyone(tablet);
    ASSERT_EQ(onPhone.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NE(onPhone[i].identifier, onTablet[i].identifier);
        for (size_t k = 0; k < onPhone[i].phoneNumbers.size(); ++k)
            EXPECT_NE(onPhone[i].phoneNumbers[k].identifier, onTablet[i].phoneNumbers[k].identifier);
        EXPECT_FALSE(tablet.unifiedContactWithIdentifier(onPhone[i].identifier, kAllKeys).ok());
    }
    auto ann = tablet.unifiedContactsMatchingName("Ann Lee", kAllKeys);
    ASSERT_TRUE(ann.ok());
    ASSERT_EQ(ann->size(), 1u);
    EXPECT_EQ(ann->front().identifier, onTablet[0].identifier);
}

TEST_F(ContactStoreFetch, AnUpdateKeepsTheValueIdentifiersItIsGiven) {
    ContactStore store;
    store.addContact(person("Ann", "Lee", {{"mobile", "+1 555 0100", "p1"}}, "ann"));
    EXPECT_TRUE(store.updateContact(person("Ann", "Lee-Kim", {{"work", "+1 555 0199", "p1"}}, "ann")));
    EXPECT_FALSE(store.updateContact(person("No", "One", {}, "missing")));
    auto c = store.unifiedContactWithIdentifier("ann", kAllKeys);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c->familyName, "Lee-Kim");
    EXPECT_EQ(c->phoneNumbers, (std::vector<LabeledPhoneNumber>{{"work", "+1 555 0199", "p1"}}));
    EXPECT_EQ(store.count(), 1u);
}
