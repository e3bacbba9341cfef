// The device's contacts kept in a vCard file: saves go to the file before they count, the next
// store reads them back, and a file that cannot be read is never written over.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/files.h"
#include "platform/services/contacts.h"
#include "tests/support/contacts.h"
#include "tests/support/test_support.h"

using services::AuthorizationStatus;
using services::Contact;
using services::ContactStore;

namespace {

class ContactsFile : public ::testing::Test {
protected:
    void SetUp() override { ContactStore::setAuthorizationStatus(AuthorizationStatus::Authorized); }
    void TearDown() override { ContactStore::setAuthorizationStatus(AuthorizationStatus::NotDetermined); }

    static std::vector<std::string> names(const ContactStore& store) {
        std::vector<std::string> out;
        (void)store.enumerateContacts(
            services::ContactFormatter::descriptorForRequiredKeys(),
            [&](const Contact& c, bool*) { out.push_back(services::ContactFormatter::fullName(c).value_or("?")); });
        return out;
    }
    static foundation::Status save(ContactStore& store, Contact contact) {
        services::SaveRequest request;
        request.addContact(std::move(contact));
        return store.executeSaveRequest(request);
    }
    static void write(const std::filesystem::path& path, const std::string& bytes) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    hxtest::TempDir home;
    std::filesystem::path file = home / "Contacts/contacts.vcf";
};

}  // namespace

TEST_F(ContactsFile, ASavedContactIsInTheFileAndTheNextStoreReadsItBack) {
    write(file, services::writeVCards({hxtest::person("Ann", "Lee", {{"mobile", "+1 555 0100", ""}}, "ann")}));
    {
        ContactStore store;
        ASSERT_TRUE(store.keepInFile(file).ok());
        EXPECT_EQ(names(store), (std::vector<std::string>{"Ann Lee"}));
        ASSERT_TRUE(save(store, hxtest::person("Bo", "Kim", {{"mobile", "+1 555 0177", ""}}, "")).ok());
    }
    ContactStore next;
    ASSERT_TRUE(next.keepInFile(file).ok());
    EXPECT_EQ(names(next), (std::vector<std::string>{"Ann Lee", "Bo Kim"}));
    // The number came back with the contact, and the first contact kept its identifier.
    bool found = false;
    (void)next.enumerateContacts({services::kContactPhoneNumbersKey}, [&](const Contact& c, bool*) {
        if (!c.phoneNumbers.empty() && c.phoneNumbers.front().stringValue == "+1 555 0177") found = true;
    });
    EXPECT_TRUE(found);
    EXPECT_TRUE(next.unifiedContactWithIdentifier("ann", {}).ok());

    // A store in memory only writes nothing.
    ContactStore memory;
    ASSERT_TRUE(save(memory, hxtest::person("Cy", "Ode", {}, "")).ok());
    ContactStore again;
    ASSERT_TRUE(again.keepInFile(file).ok());
    EXPECT_EQ(names(again).size(), 2u);
}

TEST_F(ContactsFile, AnUnreadableFileIsSetAsideWithAClearErrorAndNeverWrittenOver) {
    const std::string damaged = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann\r\n";  // no end
    write(file, damaged);
    ContactStore store;
    store.addContact(hxtest::person("Old", "Entry", {}, "old"));
    auto kept = store.keepInFile(file);
    ASSERT_FALSE(kept.ok());
    const std::string message = kept.error().localizedDescription();
    EXPECT_NE(message.find(file.string()), std::string::npos) << message;
    EXPECT_NE(message.find(".unreadable"), std::string::npos) << message;
    EXPECT_TRUE(names(store).empty()) << "the store starts empty, not with what it held before";
    // The user's bytes are where the error says, untouched by the saves that follow.
    ASSERT_TRUE(save(store, hxtest::person("Bo", "Kim", {}, "")).ok());
    auto aside = foundation::files::readString(file.string() + ".unreadable");
    ASSERT_TRUE(aside.ok());
    EXPECT_EQ(*aside, damaged);
    ContactStore next;
    ASSERT_TRUE(next.keepInFile(file).ok());
    EXPECT_EQ(names(next), (std::vector<std::string>{"Bo Kim"}));
}

TEST_F(ContactsFile, ASaveTheFileCannotTakeIsRefusedAndLeavesTheStoreAsItWas) {
    write(file, services::writeVCards({hxtest::person("Ann", "Lee", {}, "ann")}));
    ContactStore store;
    ASSERT_TRUE(store.keepInFile(file).ok());
    // The folder the file lives in becomes a plain file: nothing can be written there.
    std::filesystem::remove_all(file.parent_path());
    write(home / "Contacts", "");
    auto saved = save(store, hxtest::person("Bo", "Kim", {}, ""));
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error().code, services::kContactsErrorWriteFailed);
    EXPECT_NE(saved.error().localizedDescription().find(file.string()), std::string::npos);
    EXPECT_EQ(names(store), (std::vector<std::string>{"Ann Lee"}));
}
