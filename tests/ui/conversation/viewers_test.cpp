// The viewers a conversation opens: the contact-card picker (its rows by contacts access, "Add All"
// stores every card, read back by another vCard reader; a refused save says why before the screen
// closes) and the group details (members in order, an unknown number titled by itself, an e-mail
// member inert, a card's "Call" with the conversation's URL rules and "Text" into a new message).
#include <algorithm>
#include <fstream>

#include "emulator/media_pictures.h"
#include "model/phone_extensions.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/presentation.h"
#include "tests/support/test_support.h"
#include "tests/ui/conversation/conversation_support.h"
#include "ui/compose/vc_group_details.h"
#include "ui/compose/vc_vcard_multiple_selection.h"
#include "ui/widgets/call_url.h"

namespace {

foundation::Data threeCards() {
    const std::string text = emulator::vCardNamed("three");
    return foundation::Data(text.begin(), text.end());
}

struct CardPicker : hxtest::ConversationFixture {
    std::shared_ptr<VC_VCardMultipleSelection> picker;
    VC_VCardMultipleSelection& show(const foundation::Data& vCard) {
        open("t1");
        picker = std::dynamic_pointer_cast<VC_VCardMultipleSelection>(
            app->screens().makeVCardPicker(app->screenRoles(), vCard, {}));
        EXPECT_TRUE(picker);
        nav->pushViewController(picker, false);
        harness.settle();
        return *picker;
    }
    void SetUp() override {
        hxtest::ConversationFixture::SetUp();
        auto c = storeConversation("t1", 10);
        storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    }
    std::vector<std::string> rows() {
        std::vector<std::string> shown;
        auto table = picker->tableView();
        for (long s = 0; s < table->numberOfSections(); ++s)
            for (long r = 0; r < table->numberOfRows(s); ++r)
                if (auto cell = table->cellForRow({s, r})) shown.push_back(cell->textLabel().text());
        return shown;
    }
};

}  // namespace

TEST_F(CardPicker, RowsFollowContactsAccessAndAddAllStoresEveryCardUnchanged) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Denied);
    auto& p = show(threeCards());
    EXPECT_EQ(p.title(), "Contact Card Details");
    EXPECT_EQ(rows(), (std::vector<std::string>{"Ann Lee", "Bo Kim", "Cy O'Neil"})) << "no row to add them";
    ASSERT_TRUE(harness.selectRow(*p.tableView(), {0, 1}));
    harness.settle();
    auto* card = dynamic_cast<system_screens::ContactViewController*>(nav->topViewController());
    ASSERT_NE(card, nullptr) << "a card still opens without access";
    EXPECT_EQ(card->contact().givenName, "Bo");
    EXPECT_FALSE(card->allowsEditing);
    nav->popViewController(false);
    harness.settle();

    nav->popViewController(false);
    harness.settle();
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    services::ContactStore::shared()->removeAllContacts();
    auto& withAccess = show(threeCards());
    EXPECT_EQ(rows(), (std::vector<std::string>{"Add All 3 Contacts", "Ann Lee", "Bo Kim", "Cy O'Neil"}));
    ASSERT_TRUE(harness.selectRow(*withAccess.tableView(), {0, 0}));
    harness.settle();
    EXPECT_NE(nav->topViewController(), picker.get()) << "the screen closes after the save";

    // Another vCard reader finds the three as they came.
    std::vector<services::Contact> stored;
    ASSERT_TRUE(services::ContactStore::shared()
                    ->enumerateContacts({services::kContactGivenNameKey, services::kContactFamilyNameKey,
                                         services::kContactPhoneNumbersKey},
                                        [&](const services::Contact& c, bool*) { stored.push_back(c); })
                    .ok());
    ASSERT_EQ(stored.size(), 3u);
    hxtest::TempDir dir;
    const auto file = dir.path() / "stored.vcf";
    std::ofstream(file) << services::writeVCards(stored, 3);
    std::string out;
    ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c \"import sys, vobject; "
                                 "[print(c.fn.value + '|' + c.tel.value) for c in "
                                 "vobject.readComponents(open(sys.argv[1]).read())]\" '" +
                                     file.string() + "'",
                                 &out),
              0);
    EXPECT_EQ(out, "Ann Lee|+1 555 0101\nBo Kim|+1 555 0102\nCy O'Neil|+1 555 0103\n");
}

TEST_F(CardPicker, ARefusedSaveIsReportedBeforeTheScreenCloses) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    services::ContactStore::shared()->removeAllContacts();
    auto& p = show(threeCards());
    // Access taken away in the settings while the screen shows.
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Denied);
    ASSERT_TRUE(harness.selectRow(*p.tableView(), {0, 0}));
    auto* alert = harness.visibleAlert();
    ASSERT_NE(alert, nullptr) << "a save that failed is not passed off as done";
    EXPECT_FALSE(alert->alertTitle().value_or("").empty());
    EXPECT_EQ(nav->topViewController(), picker.get()) << "still open while the alert shows";
    EXPECT_EQ(services::ContactStore::shared()->count(), 0u);
    ASSERT_TRUE(harness.tapAlertAction("OK"));
    harness.settle();
    EXPECT_NE(nav->topViewController(), picker.get());
}

TEST_F(CardPicker, TheCardsAreReadOnceAndACardThatDoesNotParseListsNone) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    auto& p = show(threeCards());
    EXPECT_EQ(p.contactList().size(), 3u);
    p.setVCardDetails({'x'});
    EXPECT_EQ(p.contactList().size(), 3u) << "read once";
    nav->popViewController(false);
    harness.settle();
    auto& broken = show({'n', 'o', 't', ' ', 'a', ' ', 'c', 'a', 'r', 'd'});
    EXPECT_TRUE(broken.contactList().empty());
    EXPECT_EQ(rows(), (std::vector<std::string>{"Add All 0 Contacts"}));
}

namespace {

// Notes the URLs and new messages the group details hand the app.
struct GroupSpy : hxtest::ConversationSpy {
    std::vector<std::string> urls;
    int resets = 0;
    void resetContacts() override {
        ++resets;
        if (r()) r()->resetContacts();
    }
    std::string recordIDForNumber(const std::string& number) override {
        return r() ? r()->recordIDForNumber(number) : std::string();
    }
    bool openAppURL(const std::string& url) override {
        urls.push_back(url);
        return true;
    }
};
struct MessagesSpy : HXConversationActionsRole {
    std::weak_ptr<HXConversationActionsRole> real;
    std::vector<std::string> texted;
    void placeCallTo(const std::string&) override {}
    void newMessageToNumber(const std::string& numbers, const std::string&, const std::string&) override {
        texted.push_back(numbers);
    }
};

struct GroupDetails : hxtest::ConversationFixture {
    GroupDetails() : hxtest::ConversationFixture(hxtest::DeviceForm::phone, true) {}
    GroupSpy groupSpy;
    MessagesSpy messages;
    std::shared_ptr<VC_GroupDetails> details;
    std::shared_ptr<toolkit::NavigationController> detailsNav;
    void SetUp() override {
        hxtest::ConversationFixture::SetUp();
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        services::ContactStore::shared()->removeAllContacts();
        services::Contact ann;
        ann.givenName = "Ann", ann.familyName = "Lee";
        ann.phoneNumbers.push_back({services::kLabelPhoneNumberMobile, "+1 202 555 0111", ""});
        services::ContactStore::shared()->addContact(ann);
        app->resetContacts();
        (void)app->allContacts();
        ASSERT_TRUE(harness.clock().runUntil(
            [&] { return !nameOf(PhoneExtensions::formattedPhoneNumberFromString("+12025550111")).empty(); }, 10));
        auto c = storeConversation("g1", 10, "Group Message");
        storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
        open("g1");
    }
    std::string nameOf(const std::string& number) {
        return app->screenRoles().compose.lock()->contactNameForNumber(number);
    }
    VC_GroupDetails& show(const std::string& numbers) {
        auto roles = app->screenRoles();
        roles.conversation = hxtest::spyOn(roles.conversation, groupSpy);
        roles.alerts = hxtest::alertsSpyOn(roles.alerts, groupSpy);
        roles.conversations = hxtest::spyOn(roles.conversations, messages);
        detailsNav =
            std::dynamic_pointer_cast<toolkit::NavigationController>(app->screens().makeGroupDetails(roles, numbers));
        EXPECT_TRUE(detailsNav);
        details = std::dynamic_pointer_cast<VC_GroupDetails>(detailsNav->viewControllers().front());
        screen->present(detailsNav, false);
        harness.settle();
        return *details;
    }
    struct Row {
        std::string title, detail;
        toolkit::CellAccessoryType accessory;
        friend bool operator==(const Row&, const Row&) = default;
    };
    std::vector<Row> rows() {
        std::vector<Row> shown;
        auto table = details->tableView();
        for (long r = 0; r < table->numberOfRows(0); ++r)
            if (auto cell = table->cellForRow({0, r}))
                shown.push_back({cell->textLabel().text(),
                                 cell->detailTextLabel() ? cell->detailTextLabel()->text() : std::string(),
                                 cell->accessoryType()});
        return shown;
    }
    // The number of the card's first phone tapped; the sheet it shows.
    toolkit::AlertController* tapNumberInCard() {
        auto* card = dynamic_cast<system_screens::ContactViewController*>(detailsNav->topViewController());
        if (!card) return nullptr;
        card->tapProperty(0);
        harness.settle();
        return dynamic_cast<toolkit::AlertController*>(harness.topPresented());
    }
};

}  // namespace

TEST_F(GroupDetails, MembersInTheOrderGivenAnUnknownNumberTitledByItselfAndAnAddressInert) {
    auto& d = show("+12025550199|+12025550111|bo@example.test");
    using toolkit::CellAccessoryType;
    const auto shown = rows();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(d.title(), "Group Details");
    EXPECT_EQ(shown[0].title, d.contactList()[0].number) << "no contact: the number is the title";
    EXPECT_EQ(shown[0].detail, "");
    EXPECT_EQ(shown[0].accessory, CellAccessoryType::DisclosureIndicator);
    EXPECT_EQ(shown[1].title, "Ann Lee\u00A0(mobile)") << "the contact's name as the app gives it, label and all";
    EXPECT_EQ(shown[1].detail, d.contactList()[1].number);
    EXPECT_EQ(shown[1].accessory, CellAccessoryType::DetailButton);
    EXPECT_EQ(shown[2].title, "bo@example.test");
    EXPECT_EQ(shown[2].accessory, CellAccessoryType::None);

    ASSERT_TRUE(harness.selectRow(*d.tableView(), {0, 2}));
    EXPECT_EQ(detailsNav->topViewController(), details.get()) << "an address opens nothing";

    // The unknown number opens a new contact's card with the number as its mobile.
    ASSERT_TRUE(harness.selectRow(*d.tableView(), {0, 0}));
    auto* card = dynamic_cast<system_screens::ContactViewController*>(detailsNav->topViewController());
    ASSERT_NE(card, nullptr);
    EXPECT_TRUE(card->isUnknownContact());
    ASSERT_EQ(card->contact().phoneNumbers.size(), 1u);
    EXPECT_EQ(card->contact().phoneNumbers[0].label, services::kLabelPhoneNumberMobile);
}

TEST_F(GroupDetails, ACardsCallOpensTheConversationsURLAndTextOpensANewMessage) {
    auto& d = show("+12025550111|+12025550199");
    ASSERT_TRUE(harness.selectRow(*d.tableView(), {0, 0}));
    auto* card = dynamic_cast<system_screens::ContactViewController*>(detailsNav->topViewController());
    ASSERT_NE(card, nullptr);
    EXPECT_FALSE(card->isUnknownContact());
    EXPECT_TRUE(card->highlightedPropertyIdentifier().has_value()) << "the member's own number stands out";
    auto* sheet = tapNumberInCard();
    ASSERT_NE(sheet, nullptr);
    std::vector<std::string> titles;
    for (const auto& a : sheet->actions()) titles.push_back(a->title());
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[0], "Cancel");
    EXPECT_EQ(titles[1].rfind("Call ", 0), 0u);
    EXPECT_EQ(titles[2].rfind("Text ", 0), 0u);
    ASSERT_TRUE(harness.tapAlertAction(titles[1]));
    harness.settle();
    ASSERT_EQ(groupSpy.urls.size(), 1u);
    EXPECT_EQ(groupSpy.urls[0], hxCallURLForNumber("+1 202 555 0111", false, ""));
    EXPECT_EQ(groupSpy.urls[0], "hxconnect://call?%2B12025550111") << "the + is kept when the URL is read";
    EXPECT_EQ(screen->presentedViewController(), nullptr) << "the details closed";

    auto& again = show("+12025550111");
    ASSERT_TRUE(harness.selectRow(*again.tableView(), {0, 0}));
    sheet = tapNumberInCard();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(harness.tapAlertAction(sheet->actions()[2]->title()));
    harness.settle();
    EXPECT_EQ(messages.texted, std::vector<std::string>{"+1 202 555 0111"});
}

TEST_F(GroupDetails, WithTheNativeDialerTheCardActsItself) {
    foundation::UserDefaults::standardUserDefaults()->setBool(true, "useNativeDialerActions");
    auto& d = show("+12025550111");
    ASSERT_TRUE(harness.selectRow(*d.tableView(), {0, 0}));
    EXPECT_EQ(tapNumberInCard(), nullptr);
    EXPECT_TRUE(groupSpy.urls.empty());
    foundation::UserDefaults::standardUserDefaults()->setBool(false, "useNativeDialerActions");
}

TEST_F(GroupDetails, AChangeInTheContactsRenamesTheMembers) {
    auto& d = show("+12025550199");
    EXPECT_EQ(rows()[0].detail, "");
    services::Contact cy;
    cy.givenName = "Cy", cy.familyName = "Ode";
    cy.phoneNumbers.push_back({services::kLabelPhoneNumberMobile, "+1 202 555 0199", ""});
    services::SaveRequest request;
    request.addContact(cy);
    ASSERT_TRUE(services::ContactStore::shared()->executeSaveRequest(request).ok());
    harness.settle();
    // The screen dropped the app's contacts cache; the app reads it again where it next needs it
    // and tells of the update from the queue that read it, while the list's rows are read on the
    // main thread; the members are renamed there.
    EXPECT_EQ(groupSpy.resets, 1);
    ASSERT_TRUE(harness.clock().runUntil([&] { return app->allContacts().size() == 2; }, 10));
    hxtest::postFromAnotherThread("kContactsCacheUpdatedNotification", [&] { (void)d.contactList().size(); });
    ASSERT_TRUE(harness.clock().runUntil([&] { return rows()[0].title.rfind("Cy Ode", 0) == 0; }, 5));
}

TEST_F(GroupDetails, TheGroupsTitleOpensItsMembersPointingAtTheTitle) {
    auto title = screen->navigationItem().titleView;
    ASSERT_TRUE(title);
    auto* button = dynamic_cast<toolkit::Button*>(title.get());
    ASSERT_NE(button, nullptr);
    button->sendActionsForControlEvents(toolkit::kTouchUpInside);
    harness.settle();
    auto* shown = dynamic_cast<toolkit::NavigationController*>(harness.topPresented());
    ASSERT_NE(shown, nullptr);
    auto* list = dynamic_cast<VC_GroupDetails*>(shown->topViewController());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->numberString(), "+15550188");
    EXPECT_EQ(shown->popoverPresentationController()->sourceView.lock(), title);
}
