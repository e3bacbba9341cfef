#include "platform/system_screens/contact_picker.h"

#include <gtest/gtest.h>

#include "platform/services/url_opener.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/contacts.h"

using services::Contact;
using system_screens::ContactPickerViewController;
using system_screens::ContactProperty;
using system_screens::ContactViewController;

namespace {

using hxtest::person;

// Hears the picker; which picks it takes is set per case.
struct Listener : system_screens::ContactPickerDelegate, system_screens::ContactViewControllerDelegate {
    bool contacts = true, properties = true;
    bool answer = true;
    std::vector<std::string> heard;
    std::optional<ContactProperty> property;
    bool takesContacts() const override { return contacts; }
    bool takesContactProperties() const override { return properties; }
    void contactPickerDidCancel(ContactPickerViewController&) override { heard.push_back("cancel"); }
    void contactPickerDidSelectContact(ContactPickerViewController& picker, const Contact& c) override {
        EXPECT_TRUE(picker.isBeingDismissed()) << "the picker closes before the delegate hears";
        heard.push_back("contact " + c.identifier);
    }
    void contactPickerDidSelectContactProperty(ContactPickerViewController&, const ContactProperty& p) override {
        heard.push_back("property " + p.contact.identifier + " " + p.identifier + " " + p.value.stringValue);
        property = p;
    }
    bool contactViewControllerShouldPerformDefaultActionForContactProperty(ContactViewController&,
                                                                           const ContactProperty& p) override {
        heard.push_back("card " + p.value.stringValue);
        return answer;
    }
};

class ContactPicker : public ::testing::Test {
protected:
    void SetUp() override {
        store->addContact(person("Ann", "Lee", {{"mobile", "+1 555 0100", "ann-m"}}, "ann"));
        store->addContact(
            person("Bo", "Kim", {{"mobile", "+1 555 0200", "bo-m"}, {"home", "+1 555 0201", "bo-h"}}, "bo"));
        store->addContact(person("Cy", "Nophone", {}, "cy"));
        // The picker lists contacts whatever the app may read.
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Denied);
        h.setRoot(root);
        services::URLOpener::setShared(nullptr);
    }
    void TearDown() override {
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::NotDetermined);
    }
    std::shared_ptr<ContactPickerViewController> present(bool withPredicates = true) {
        auto picker = std::make_shared<ContactPickerViewController>(store);
        picker->delegate = listener;
        picker->displayedPropertyKeys = {services::kContactPhoneNumbersKey};
        if (withPredicates) {
            EXPECT_TRUE(picker->setPredicateForEnablingContact("phoneNumbers.@count > 0").ok());
            EXPECT_TRUE(picker->setPredicateForSelectionOfContact("phoneNumbers.@count = 1").ok());
        }
        root->present(picker, false);
        h.settle();
        return picker;
    }

    toolkit::testing::Harness h;
    std::shared_ptr<services::ContactStore> store = std::make_shared<services::ContactStore>();
    std::shared_ptr<toolkit::ViewController> root = std::make_shared<toolkit::ViewController>();
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
};

}  // namespace

TEST_F(ContactPicker, EnableAndDirectPickRulesDecideBetweenContactCardAndNothing) {
    struct Case {
        const char* what;
        bool contacts, properties, predicates;
        std::string name;
        std::optional<std::string> number;
        std::vector<std::string> heard;
        bool stillShown;
    };
    for (const Case& c : {
             Case{"one number is picked at once", true, true, true, "Ann Lee", std::nullopt, {"contact ann"}, false},
             Case{"two numbers open the card",
                  true,
                  true,
                  true,
                  "Bo Kim",
                  "+1 555 0201",
                  {"property bo bo-h +1 555 0201"},
                  false},
             Case{"no number: dimmed, no pick", true, true, true, "Cy Nophone", std::nullopt, {}, true},
             Case{"no rules, takes contacts: whole", true, true, false, "Bo Kim", std::nullopt, {"contact bo"}, false},
             Case{"no rules, properties only: the card",
                  false,
                  true,
                  false,
                  "Ann Lee",
                  "+1 555 0100",
                  {"property ann ann-m +1 555 0100"},
                  false},
             Case{"a contact without numbers picked when enabled",
                  true,
                  true,
                  false,
                  "Cy Nophone",
                  std::nullopt,
                  {"contact cy"},
                  false},
         }) {
        SCOPED_TRACE(c.what);
        listener->contacts = c.contacts;
        listener->properties = c.properties;
        listener->heard.clear();
        auto picker = present(c.predicates);
        EXPECT_EQ(h.pickContact(c.name, c.number), c.heard.size() > 0 || c.stillShown);
        EXPECT_EQ(listener->heard, c.heard);
        EXPECT_EQ(h.topPresented() == picker.get(), c.stillShown);
        if (c.stillShown) root->dismiss(false);
        h.settle();
    }
}

TEST_F(ContactPicker, ThePickedPropertyCarriesTheValueItsIdentifierAndTheContact) {
    present();
    ASSERT_TRUE(h.pickContact("Bo Kim", "+1 555 0200"));
    ASSERT_TRUE(listener->property);
    EXPECT_EQ(listener->property->key, services::kContactPhoneNumbersKey);
    EXPECT_EQ(listener->property->value.label, "mobile");
    EXPECT_EQ(listener->property->identifier, "bo-m");
    EXPECT_EQ(services::ContactFormatter::fullName(listener->property->contact), "Bo Kim");
}

TEST_F(ContactPicker, CancelClosesAndTellsAndABadRuleIsAnError) {
    auto picker = present();
    EXPECT_FALSE(picker->setPredicateForEnablingContact("phoneNumbers.@count >").ok());
    ASSERT_TRUE(picker->predicateForEnablingContact()) << "a bad rule leaves the one before";
    ASSERT_TRUE(h.tapBarButton("Cancel"));
    h.settle();
    EXPECT_EQ(listener->heard, std::vector<std::string>{"cancel"});
    EXPECT_EQ(h.topPresented(), root.get());
    EXPECT_FALSE(h.pickContact("Ann Lee")) << "no picker on top";
}

TEST_F(ContactPicker, ACardAsksItsDelegateBeforeTheSystemCallsTheTappedNumber) {
    auto nav = std::make_shared<toolkit::NavigationController>(root);
    h.setRoot(nav);
    for (bool answer : {false, true}) {
        SCOPED_TRACE(answer);
        listener->answer = answer;
        listener->heard.clear();
        services::URLOpener::shared()->clear();
        auto card = ContactViewController::forContact(
            *store
                 ->systemContacts({services::kContactPhoneNumbersKey, services::kContactGivenNameKey,
                                   services::kContactFamilyNameKey})
                 .begin());
        card->delegate = listener;
        nav->pushViewController(card, false);
        h.settle();
        ASSERT_TRUE(h.tapRowShowing("+1 555 0100"));
        h.settle();
        EXPECT_EQ(listener->heard, std::vector<std::string>{"card +1 555 0100"});
        EXPECT_EQ(services::URLOpener::shared()->openedURLs(),
                  answer ? std::vector<std::string>{"tel:+15550100"} : std::vector<std::string>{});
        nav->popViewController(false);
        h.settle();
    }
}

namespace {

// Hears a card's editor finish.
struct Completion : system_screens::ContactViewControllerDelegate {
    std::vector<std::optional<Contact>> completed;
    void contactViewControllerDidCompleteWithContact(ContactViewController&,
                                                     const std::optional<Contact>& contact) override {
        completed.push_back(contact);
    }
};

}  // namespace

TEST_F(ContactPicker, AnUnknownContactsCardMakesANewContactThroughItsEditor) {
    auto nav = std::make_shared<toolkit::NavigationController>(root);
    h.setRoot(nav);
    auto completion = std::make_shared<Completion>();
    struct Case {
        const char* finish;  // the bar button that ends the editing
        const char* typed;   // typed at the end of the last name
        bool madeContact;
    };
    const Case cases[] = {{"Done", "son", true}, {"Cancel", "x", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.finish);
        completion->completed.clear();
        auto card =
            ContactViewController::forUnknownContact(person("Sam", "Quote\"s", {{"mobile", "+44 20 7946 0958", ""}}));
        card->delegate = completion;
        nav->pushViewController(card, false);
        h.settle();
        ASSERT_TRUE(card->isUnknownContact());
        EXPECT_NE(h.find("+44 20 7946 0958"), nullptr);
        ASSERT_TRUE(h.tapRowShowing(ContactViewController::kCreateNewContactTitle));
        h.settle();
        ASSERT_TRUE(card->isEditingContact());
        // The create row gives way to the editor; a tap on a number does nothing meanwhile.
        EXPECT_EQ(h.find(ContactViewController::kCreateNewContactTitle), nullptr);
        auto fields = card->editorFields();
        ASSERT_EQ(fields.size(), 3u);
        EXPECT_EQ(fields[0]->text(), "Sam");
        EXPECT_EQ(fields[1]->text(), "Quote\"s");
        ASSERT_TRUE(h.tap(*fields[1]));
        ASSERT_TRUE(h.typeText(c.typed));
        ASSERT_TRUE(h.tapBarButton(c.finish));
        h.settle();
        ASSERT_EQ(completion->completed.size(), 1u);
        EXPECT_FALSE(card->isEditingContact());
        const auto& made = completion->completed[0];
        ASSERT_EQ(made.has_value(), c.madeContact);
        if (made) {
            EXPECT_EQ(made->givenName, "Sam");
            EXPECT_EQ(made->familyName, "Quote\"sson");
            ASSERT_EQ(made->phoneNumbers.size(), 1u);
            EXPECT_EQ(made->phoneNumbers[0].stringValue, "+44 20 7946 0958");
            EXPECT_EQ(made->phoneNumbers[0].label, "mobile");
            EXPECT_EQ(made->contactType, services::ContactType::Person);
        }
        // The card saves nothing itself.
        EXPECT_EQ(store->count(), 3u);
        nav->popViewController(false);
        h.settle();
    }
    // Without editing the card offers nothing to create.
    auto readOnly = ContactViewController::forUnknownContact(person("Ro", "", {{"mobile", "+1 555 0300", ""}}));
    readOnly->allowsEditing = false;
    nav->pushViewController(readOnly, false);
    h.settle();
    EXPECT_EQ(h.find(ContactViewController::kCreateNewContactTitle), nullptr);
    readOnly->createNewContact();
    EXPECT_FALSE(readOnly->isEditingContact());
    // A known contact's card offers nothing to create either.
    EXPECT_FALSE(ContactViewController::forContact(person("K", "", {}))->offersNewContact());
}

TEST_F(ContactPicker, AHighlightedNumberStandsOutAndOnlyAShownNumberCanBeHighlighted) {
    auto nav = std::make_shared<toolkit::NavigationController>(root);
    h.setRoot(nav);
    auto card = ContactViewController::forContact(
        person("Bo", "Kim", {{"mobile", "+1 555 0200", "bo-m"}, {"home", "+1 555 0201", "bo-h"}}, "bo"));
    nav->pushViewController(card, false);
    h.settle();
    struct Case {
        const char* key;
        const char* identifier;
        int highlightedRow;  // -1: none
    };
    const Case cases[] = {
        {services::kContactPhoneNumbersKey, "bo-h", 1},    {services::kContactPhoneNumbersKey, "bo-m", 0},
        {services::kContactPhoneNumbersKey, "nobody", -1}, {services::kContactGivenNameKey, "bo-m", -1},
        {services::kContactPhoneNumbersKey, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.identifier);
        card->highlightPropertyWithKey(c.key, c.identifier);
        h.settle();
        for (long row = 0; row < 2; ++row) {
            const bool want = row == c.highlightedRow;
            EXPECT_EQ(card->isHighlightedRow(static_cast<size_t>(row)), want) << row;
            auto cell = card->tableView()->cellForRow({0, row});
            ASSERT_NE(cell, nullptr);
            // Shown differently from the other rows, and told to accessibility.
            EXPECT_EQ(cell->backgroundColor().has_value(), want) << row;
            EXPECT_EQ((cell->accessibilityTraits() & toolkit::kTraitSelected) != 0, want) << row;
        }
    }
}
