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
