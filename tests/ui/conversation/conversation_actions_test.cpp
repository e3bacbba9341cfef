// The conversation screen's actions as a user meets them: the device's card for an unknown
// number and the contact it saves, the card of a known one and its phone taps turned into the
// app's own call and text, copying the number, the call by a long press on the bar, the bar's
// actions by system version and the preview's, the double tap, dragging a picture out and the
// preview's transition.
#include <atomic>
#include <mutex>
#include <thread>

#include "app/connect_app_delegate_ipad.h"
#include "model/cache.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/image.h"
#include "platform/graphics/image_operations.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "tests/support/contacts.h"
#include "tests/ui/conversation/conversation_actions_support.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/shell/ui_screens.h"

namespace {

using hxtest::StoredMessage;
using services::Contact;
using services::ContactStore;

struct ConversationActions : hxtest::ActionsFixture {};

// The card's editor: Done with the names it shows.
void finishCardEditor(system_screens::ContactViewController& card) {
    card.createNewContact();
    card.finishEditing(true);
}

}  // namespace

TEST(ConversationActionRules, ADeviceContactTakesTheServicesNameAndTheCallsLabel) {
    struct Case {
        std::string sender, number;
        int64_t type;
        std::string lastText;
        std::optional<std::tuple<std::string, std::string, std::string>> made;  // given, family, label
    };
    const std::vector<Case> cases = {
        {"John Smith", "+15550188", 10, "hello", {{"John", "Smith", "mobile"}}},
        {"Mary Ann Lee", "+15550188", 10, "", {{"Mary", "Ann Lee", "mobile"}}},
        {"Cher", "+15550188", 10, "", {{"Cher", "", "mobile"}}},
        // Nobody named the number: the card starts without a name.
        {"+15550188", "+15550188", 10, "", {{"", "", "mobile"}}},
        // A missed call's last text names the label after its last " - ".
        {"John Smith", "+15550188", 0, "Missed call - work - iPhone ", {{"John", "Smith", "iPhone"}}},
        {"John Smith", "+15550188", 16, "Call - home", {{"John", "Smith", "home"}}},
        {"John Smith", "+15550188", 0, "Missed call -  ", {{"John", "Smith", "mobile"}}},
        // A text conversation's last text is no call's.
        {"John Smith", "+15550188", 10, "lunch - work", {{"John", "Smith", "mobile"}}},
        // Numbers the contacts take as they are written; names and codes are no phone numbers.
        {"Ann", " (555) 010-0188 ", 10, "", {{"Ann", "", "mobile"}}},
        {"Bank", "BANK", 10, "", std::nullopt},
        {"Someone", "", 10, "", std::nullopt},
        {"Someone", "Unknown", 10, "", std::nullopt},
    };
    for (const auto& c : cases) {
        auto made = HXContactHeader::newDeviceContact(c.sender, c.number, c.type, c.lastText);
        ASSERT_EQ(made.has_value(), c.made.has_value()) << c.sender << " " << c.number;
        if (!made) continue;
        EXPECT_EQ(made->givenName, std::get<0>(*c.made)) << c.sender;
        EXPECT_EQ(made->familyName, std::get<1>(*c.made)) << c.sender;
        ASSERT_EQ(made->phoneNumbers.size(), 1u);
        EXPECT_EQ(made->phoneNumbers[0].label, std::get<2>(*c.made)) << c.lastText;
        EXPECT_EQ(made->phoneNumbers[0].stringValue, services::phoneNumberWithStringValue(c.number).value_or("?"));
    }
}

TEST_F(ConversationActions, TheAddButtonAddsAServiceNamedNumberToTheDeviceThroughTheUnknownCard) {
    ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    auto c = storeConversation("t1", 0, "John Smith");
    (void)c->setValue("lastMessageText", "Missed call - work");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = openWithSpies("t1", 3, "John Smith");
    ASSERT_NE(s.contactHeader()->addContactButton(), nullptr);
    ASSERT_FALSE(s.contactHeader()->addContactButton()->isHidden());
    s.contactHeader()->addContactToSource("");
    harness.settle();
    auto card = s.contactHeader()->contactCard();
    ASSERT_TRUE(card);
    EXPECT_TRUE(card->isUnknownContact());
    EXPECT_FALSE(card->allowsActions);
    EXPECT_TRUE(card->allowsEditing);
    EXPECT_EQ(card->contact().givenName, "John");
    EXPECT_EQ(card->contact().familyName, "Smith");
    ASSERT_EQ(card->contact().phoneNumbers.size(), 1u);
    EXPECT_EQ(card->contact().phoneNumbers[0].label, "work");
    ASSERT_NE(nav->presentedViewController(), nullptr) << "the card comes in a navigation controller of its own";
    EXPECT_TRUE(harness.tapBarButton("Cancel"));
    EXPECT_EQ(nav->presentedViewController(), nullptr);
    EXPECT_EQ(ContactStore::shared()->count(), 0u);

    s.contactHeader()->addContactToSource("AB");
    harness.settle();
    card = s.contactHeader()->contactCard();
    ASSERT_TRUE(card);
    finishCardEditor(*card);
    harness.settle();
    EXPECT_EQ(nav->presentedViewController(), nullptr) << "the card goes once it completed";
    ASSERT_EQ(ContactStore::shared()->count(), 1u) << "saved once, by the screen";
    std::vector<Contact> saved;
    ASSERT_TRUE(ContactStore::shared()
                    ->enumerateContacts({services::kContactGivenNameKey, services::kContactFamilyNameKey,
                                         services::kContactPhoneNumbersKey},
                                        [&](const Contact& one, bool*) { saved.push_back(one); })
                    .ok());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].givenName, "John");
    ASSERT_EQ(saved[0].phoneNumbers.size(), 1u);
    EXPECT_EQ(saved[0].phoneNumbers[0].stringValue, "+15550188");
    EXPECT_EQ(s.title(), "John Smith");
    EXPECT_EQ(c->value("ABName").stringValue(), "John Smith");
    EXPECT_EQ(actions->resets.load(), 1);
    EXPECT_TRUE(actions->waitForLookup("+15550188", harness));
}

TEST_F(ConversationActions, ACardWhoseContactTheDeviceRefusesNamesNobody) {
    ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    auto c = storeConversation("t1", 10, "John Smith");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = openWithSpies("t1", 1, "+15550188");
    s.contactHeader()->addContactToSource("AB");
    harness.settle();
    auto card = s.contactHeader()->contactCard();
    ASSERT_TRUE(card);
    // The access goes while the card is open: the save fails.
    ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Denied);
    finishCardEditor(*card);
    harness.settle();
    EXPECT_EQ(nav->presentedViewController(), nullptr) << "the card goes all the same";
    EXPECT_EQ(ContactStore::shared()->count(), 0u);
    EXPECT_EQ(s.title(), "+15550188");
    EXPECT_EQ(c->value("ABName").stringValue(), "");
    EXPECT_EQ(actions->resets.load(), 0);
}

TEST_F(ConversationActions, TheDeviceIsOfferedOnlyWhereItCanTakeTheNumber) {
    struct Case {
        const char* name;
        services::AuthorizationStatus status;
        std::string sender, number;
        bool restricted;
        // What the add button leads to: a prompt's title, the card, or nothing.
        std::string shows;
        std::string abName = {};
        // The button in the call footer: with access, shown for a number without a device name
        // or one the service does not name; without access, only for one the service does not name.
        std::optional<bool> button = true;
    };
    using A = services::AuthorizationStatus;
    const std::vector<Case> cases = {
        {"nobody names it", A::Authorized, "+15550188", "+15550188", false, "Create new Contact"},
        {"the service names it", A::Authorized, "John Smith", "+15550188", false, "card"},
        {"no access", A::Denied, "+15550188", "+15550188", false, "Add Contact"},
        {"restricted", A::Authorized, "John Smith", "+15550188", true, ""},
        // Only a phone number is offered: no name (its letters are no keys here), code or address.
        {"no phone number", A::Authorized, "Bank", "BANK", false, "", {}, false},
        {"an address", A::Authorized, "Ann Lee", "ann@example.test", false, "", {}, false},
        {"no access, no phone number", A::Denied, "BANK", "BANK", false, "Add Contact", {}, false},
        {"the device names it", A::Authorized, "John Smith", "+15550188", false, "Add Contact", "John Smith", false},
        // Saved on the device while the service still names nobody: the button adds the number to
        // the service's contacts.
        {"the device names it, the service does not", A::Authorized, "+15550188", "+15550188", false, "Add Contact",
         "Zed Tester", true},
        {"no access, the service names it", A::Denied, "John Smith", "+15550188", false, "Add Contact", {}, false},
        {"no access, named on the device only", A::Denied, "+15550188", "+15550188", false, "Add Contact", "John Smith",
         true},
    };
    const auto access = ContactStore::authorizationStatus();
    for (const auto& c : cases) {
        ContactStore::setAuthorizationStatus(c.status);
        actions->restricted = c.restricted;
        auto conversation = storeConversation(std::string("t-") + c.name, 10, c.sender);
        (void)conversation->setValue("phoneNumber", c.number);
        if (!c.abName.empty()) (void)conversation->setValue("ABName", c.abName);
        storeMessages(conversation, {{.id = std::string("m-") + c.name, .number = 1, .text = "hi"}});
        auto& s = openWithSpies(std::string("t-") + c.name, 1, c.sender);
        ASSERT_TRUE(s.contactHeader()->addContactButton());
        if (c.button) {
            EXPECT_EQ(!s.contactHeader()->addContactButton()->isHidden(), *c.button) << c.name;
        }
        s.contactHeader()->addContactToSource("");
        harness.settle();
        std::string shown;
        if (auto* alert = harness.visibleAlert())
            shown = alert->title();
        else if (s.contactHeader()->contactCard())
            shown = "card";
        EXPECT_EQ(shown, c.shows) << c.name;
        if (auto* alert = harness.visibleAlert(); alert && c.shows == "Create new Contact") {
            ASSERT_TRUE(alert->preferredAction());
            EXPECT_EQ(alert->preferredAction()->title(), "iPhone Contacts") << "the device's choice is preferred";
        }
        if (nav->presentedViewController()) nav->dismiss(false);
        harness.settle();
    }
    ContactStore::setAuthorizationStatus(access);
}

// The add button is decided only while it shows: hidden once, it stays hidden whatever the
// conversation's names become; shown, it goes once the service and the device both name the number.
TEST_F(ConversationActions, TheAddButtonOnceHiddenStaysHidden) {
    ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    auto c = storeConversation("t1", 10, "John Smith");
    (void)c->setValue("ABName", "John Smith");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = openWithSpies("t1", 1, "John Smith");
    auto* add = s.contactHeader()->addContactButton();
    ASSERT_NE(add, nullptr);
    EXPECT_TRUE(add->isHidden()) << "both name the number";
    (void)c->setValue("ABName", "");
    (void)c->setValue("sender", "+15550188");
    harness.settle();
    s.contactHeader()->updateContactInfo();
    EXPECT_TRUE(add->isHidden()) << "hidden once, hidden for good";

    auto d = storeConversation("t2", 10, "+15550199");
    (void)d->setValue("phoneNumber", "+15550199");
    storeMessages(d, {{.id = "m2", .number = 1, .text = "hi"}});
    auto& t = openWithSpies("t2", 1, "");
    add = t.contactHeader()->addContactButton();
    EXPECT_FALSE(add->isHidden()) << "nobody names it";
    (void)d->setValue("ABName", "Zed Tester");
    t.contactHeader()->updateContactInfo();
    EXPECT_FALSE(add->isHidden()) << "the service still names nobody";
    (void)d->setValue("sender", "Zed Tester");
    t.contactHeader()->updateContactInfo();
    EXPECT_TRUE(add->isHidden()) << "both name it";
}

TEST_F(ConversationActions, ACardsPhoneTapsCallAndTextThroughTheApp) {
    ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    ContactStore::shared()->addContact(
        hxtest::person("Ann", "Lee", {{"mobile", "+15550188", "p1"}, {"work", "+1 555 0199#22", "p2"}}, "ann-1"));
    actions->recordIDs["+15550188"] = "ann-1";
    auto c = storeConversation("t1", 10, "Ann Lee");
    (void)c->setValue("ABName", "Ann Lee\u00A0(mobile)");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = openWithSpies("t1", 1, "Ann Lee");
    struct Case {
        size_t row;
        bool skipDialpad, native;
        std::string choice;
        std::string url;  // opened through the app; "" none
        std::string texted;
    };
    // The sheet names the number as the app formats it.
    const std::string first = PhoneExtensions::formattedPhoneNumberFromString("+15550188");
    const std::string second = PhoneExtensions::formattedPhoneNumberFromString("+1 555 0199#22");
    const std::vector<Case> cases = {
        {0, false, false, "Call " + first, "hxconnect://call?%2B15550188", ""},
        {1, false, false, "Call " + second, "hxconnect://call?%2B15550199%2322", ""},
        {1, true, false, "Call " + second, "hxconnect://call?number=%2B15550199%2322&callmethod=", ""},
        {0, false, false, "Text " + first, "", "+15550188"},
        {0, false, true, "", "", ""},
    };
    for (const auto& k : cases) {
        foundation::UserDefaults::standardUserDefaults()->setBool(k.skipDialpad, "skipDialpad");
        foundation::UserDefaults::standardUserDefaults()->setBool(k.native, "useNativeDialerActions");
        actions->urls.clear();
        calls->texted.clear();
        s.contactHeader()->openContact(nullptr);
        harness.settle();
        auto card = s.contactHeader()->contactCard();
        ASSERT_TRUE(card) << k.choice;
        ASSERT_EQ(nav->topViewController(), card.get()) << "pushed on the phone";
        EXPECT_EQ(card->highlightedPropertyIdentifier(), std::optional<std::string>("p1"))
            << "the conversation's number is highlighted";
        card->tapProperty(k.row);
        harness.settle();
        if (k.native) {
            EXPECT_EQ(harness.visibleAlert(), nullptr) << "the system's own action runs";
            nav->popToViewController(screen.get(), false);
            harness.settle();
            continue;
        }
        auto* sheet = harness.visibleAlert();
        ASSERT_NE(sheet, nullptr) << k.choice;
        std::vector<std::string> titles;
        for (const auto& a : sheet->actions()) titles.push_back(a->title());
        EXPECT_EQ(titles.size(), 3u);

        ASSERT_TRUE(harness.tapAlertAction(k.choice)) << k.choice;
        harness.settle();
        EXPECT_EQ(nav->topViewController(), screen.get()) << "the card goes on the phone";
        EXPECT_EQ(actions->urls, k.url.empty() ? std::vector<std::string>{} : std::vector<std::string>{k.url});
        EXPECT_EQ(calls->texted, k.texted.empty() ? std::vector<std::string>{} : std::vector<std::string>{k.texted});
    }
    foundation::UserDefaults::standardUserDefaults()->setBool(false, "skipDialpad");
}

TEST_F(ConversationActions, ThePictureOpensTheCardOnlyForAKnownNumber) {
    ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    ContactStore::shared()->addContact(hxtest::person("Ann", "Lee", {{"mobile", "+15550188", "p1"}}, "ann-1"));
    auto c = storeConversation("t1", 10, "Ann Lee");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = openWithSpies("t1", 1, "Ann Lee");
    ASSERT_NE(s.contactHeader()->contactImage(), nullptr);
    EXPECT_FALSE(s.contactHeader()->contactImage()->isUserInteractionEnabled()) << "no record yet";
    actions->recordIDs["+15550188"] = "ann-1";
    // The app tells of the contacts it read from the queue that read them, while the picture is
    // read on the main thread (as the accessibility outline reads it); it becomes a button there.
    hxtest::postFromAnotherThread("kContactsCacheUpdatedNotification", [&] {
        (void)s.contactHeader()->contactImage()->isUserInteractionEnabled();
        (void)std::string(s.contactHeader()->contactImage()->accessibility().label);
    });
    harness.settle();
    ASSERT_TRUE(s.contactHeader()->contactImage()->isUserInteractionEnabled());
    EXPECT_EQ(s.contactHeader()->contactImage()->accessibility().label, "Contact Image");
    s.scrollToBottomWithAnimation(false);
    harness.settle();
    ASSERT_TRUE(harness.tap(*s.contactHeader()->contactImage()));
    ASSERT_TRUE(s.contactHeader()->contactCard());
    EXPECT_EQ(s.contactHeader()->contactCard()->contact().identifier, "ann-1");
}

TEST_F(ConversationActions, TheNamesLongPressCopiesTheRawNumber) {
    struct Case {
        std::string title, sender;
        bool offered;
    };
    const std::vector<Case> cases = {{"Ann", "Ann", true}, {"", "+15550188", true}, {"Unknown", "Unknown", false}};
    for (const auto& k : cases) {
        const std::string id = "t-" + k.title;
        auto c = storeConversation(id, 10, k.sender);
        (void)c->setValue("phoneNumber", "+1 (555) 0188");
        storeMessages(c, {{.id = "m" + id, .number = 1, .text = "hi"}});
        auto& s = openWithSpies(id, 1, k.title);
        toolkit::Pasteboard::general().setString("before");
        s.scrollToBottomWithAnimation(false);
        harness.settle();
        auto* label = s.contactHeader()->contactName();
        ASSERT_NE(label, nullptr);
        const toolkit::Point centre = label->convertPointTo({label->bounds().midX(), label->bounds().midY()}, nullptr);
        harness.longPress(centre, 0.8);
        auto& menu = toolkit::MenuController::shared();
        if (!k.offered) {
            EXPECT_FALSE(menu.isMenuVisible()) << k.title;
            continue;
        }
        ASSERT_TRUE(menu.isMenuVisible()) << k.title;
        ASSERT_EQ(menu.visibleItems().size(), 1u);
        EXPECT_EQ(menu.visibleItems()[0].title, "Copy Number");
        EXPECT_TRUE(harness.tapMenuItem("Copy Number"));
        EXPECT_EQ(toolkit::Pasteboard::general().string(), std::optional<std::string>("+1 (555) 0188")) << k.title;
    }
}

// The word a hold selects for the edit menu stays selected only while the menu shows: a tap
// elsewhere and Escape, which both close the menu without choosing, take the selection with it.
TEST_F(ConversationActions, TheWordSelectedForTheEditMenuGoesWithTheMenu) {
    auto c = storeConversation("t1", 10, "Ann");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "Lunch tomorrow"}, {.id = "m2", .number = 2, .text = "ok"}});
    auto& s = openWithSpies("t1", 1, "Ann");
    auto& menu = toolkit::MenuController::shared();
    auto bubble = [&] { return dynamic_cast<ConversationTableViewCell*>(s.tableView().cellForRow({0, 0}).get()); };
    struct Case {
        const char* what;
        std::function<void()> close;
    };
    const Case cases[] = {
        {"a tap elsewhere",
         [&] {
             harness.tap(s.tableView().convertPointTo({5, s.tableView().contentOffset().y + 5}, nullptr));
         }},
        {"Escape", [&] { EXPECT_TRUE(menu.handleKey(toolkit::kInputEscape)); }},
    };
    for (const auto& k : cases) {
        s.tableView().scrollToRow({0, 0}, toolkit::ScrollPosition::Middle, false);
        harness.settle();
        ASSERT_NE(bubble(), nullptr) << k.what;
        auto& text = bubble()->messageView();
        harness.longPress(text.convertPointTo({text.bounds().midX() / 2, text.bounds().midY()}, nullptr), 0.8);
        ASSERT_TRUE(menu.isMenuVisible()) << k.what;
        ASSERT_GT(text.selectedRange().length, 0u) << k.what;
        k.close();
        harness.settle();
        EXPECT_FALSE(menu.isMenuVisible()) << k.what;
        ASSERT_NE(bubble(), nullptr) << k.what;
        EXPECT_EQ(bubble()->messageView().selectedRange().length, 0u) << k.what;
    }
}

TEST_F(ConversationActions, ALongPressAtTheBarsRightEndCallsWhileTheScreenShows) {
    auto c = storeConversation("t1", 10, "Ann");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    openWithSpies("t1", 1, "Ann");
    auto& bar = nav->navigationBar();
    const double w = bar.bounds().width();
    struct Case {
        double x, seconds;
        size_t calls;
    };
    const std::vector<Case> cases = {
        {w - 10, 0.8, 1}, {w - 49, 0.8, 1}, {w - 60, 0.8, 0}, {w / 2, 0.8, 0}, {w - 10, 0.4, 0}};
    for (const auto& k : cases) {
        calls->placed.clear();
        harness.longPress(bar.convertPointTo({k.x, bar.bounds().midY()}, nullptr), k.seconds);
        EXPECT_EQ(calls->placed.size(), k.calls) << k.x << " " << k.seconds;
        if (!calls->placed.empty()) {
            EXPECT_EQ(calls->placed[0], "+15550188");
        }
        if (nav->presentedViewController()) nav->dismiss(false);
        toolkit::PresentedMenu::shared().dismiss();
        harness.settle();
    }
    // The bar stays with the stack: the press leaves with the screen.
    nav->popViewController(false);
    harness.settle();
    calls->placed.clear();
    harness.longPress(bar.convertPointTo({w - 10, bar.bounds().midY()}, nullptr), 0.8);
    EXPECT_TRUE(calls->placed.empty());
    EXPECT_TRUE(bar.gestureRecognizers().empty());
}

// Over the "..." button, which lies within the bar's calling end, a hold calls and a tap opens
// the button's menu.
TEST_F(ConversationActions, AHoldOverTheActionsButtonCallsAndATapOpensItsMenu) {
    list->codes = {1, 3, 7, 0};
    auto c = storeConversation("t1", 10, "Ann");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    openWithSpies("t1", 1, "Ann");
    auto item = s().navigationItem().rightBarButtonItem();
    ASSERT_TRUE(item && item->menu);
    auto button = item->view();
    ASSERT_TRUE(button);
    const toolkit::Point centre = button->convertPointTo({button->bounds().midX(), button->bounds().midY()}, nullptr);
    auto& bar = nav->navigationBar();
    ASSERT_GE(bar.convertPointFrom(centre, nullptr).x, bar.bounds().width() - 50) << "the button is in the calling end";

    calls->placed.clear();
    harness.longPress(centre, 0.8);
    harness.settle();
    ASSERT_EQ(calls->placed.size(), 1u) << "the hold calls";
    EXPECT_EQ(calls->placed[0], "+15550188");
    EXPECT_FALSE(toolkit::PresentedMenu::shared().isVisible()) << "and opens no menu";

    calls->placed.clear();
    harness.tap(centre);
    harness.settle();
    EXPECT_TRUE(toolkit::PresentedMenu::shared().isVisible()) << "a tap opens the menu";
    EXPECT_TRUE(calls->placed.empty());
    toolkit::PresentedMenu::shared().dismiss();
    harness.settle();
}

// The "..." menu goes with its screen when the screen is left by program (an entry point or a
// key command replacing it), not drawn on over the next one.
TEST_F(ConversationActions, TheActionsMenuLeavesWithItsScreen) {
    list->codes = {1, 3, 7, 0};
    auto c = storeConversation("t1", 10, "Ann");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    openWithSpies("t1", 1, "Ann");
    auto item = s().navigationItem().rightBarButtonItem();
    ASSERT_TRUE(item && item->view());
    ASSERT_TRUE(harness.tap(*item->view()));
    harness.settle();
    ASSERT_TRUE(toolkit::PresentedMenu::shared().isVisible());
    nav->pushViewController(std::make_shared<toolkit::ViewController>(), false);
    harness.settle();
    EXPECT_FALSE(toolkit::PresentedMenu::shared().isVisible());
}

TEST_F(ConversationActions, ANumberlessConversationHasTheActionsButNoCallPress) {
    for (const char* number : {"Unknown", "Group Message"}) {
        auto c = storeConversation(number, 10, number);
        (void)c->setValue("phoneNumber", number);
        storeMessages(c, {{.id = std::string("m") + number, .number = 1, .text = "hi"}});
        openWithSpies(number, 1, number);
        EXPECT_TRUE(s().navigationItem().rightBarButtonItem()) << number;
        EXPECT_TRUE(nav->navigationBar().gestureRecognizers().empty()) << number;
    }
}

TEST_F(ConversationActions, TheBarsActionsFollowTheSystemVersion) {
    list->codes = {1, 3, 7, 8, 9, 10, 12, 0};
    struct Case {
        int version;
        bool menu;
        std::vector<std::string> titles;  // the menu's as shown
    };
    const std::vector<Case> cases = {
        {15,
         true,
         {"Call", "Archive", "Add Note", "Delete Note", "Forward as Email", "Block Contact", "Remove from Spam", "-",
          "Delete"}},
        {14,
         true,
         {"Call", "Archive", "Add Note", "Delete Note", "Forward as Email", "Block Contact", "Remove from Spam", "-",
          "Delete >"}},
        {13, false, {}},
        {12, false, {}},
    };
    for (const auto& k : cases) {
        toolkit::Device::current().setSystemVersion(k.version);
        const std::string id = "t" + std::to_string(k.version);
        auto c = storeConversation(id, 10, "Ann");
        storeMessages(c, {{.id = "m" + id, .number = 1, .text = "hi"}});
        auto& s = openWithSpies(id, 1, "Ann");
        auto more = s.navigationItem().rightBarButtonItem();
        ASSERT_TRUE(more) << k.version;
        EXPECT_EQ(more->accessibilityLabel, "Conversation actions");
        EXPECT_EQ(more->menu != nullptr, k.menu) << k.version;
        if (k.menu) {
            EXPECT_EQ(more->menu->displayTitles(), k.titles) << k.version;
            EXPECT_TRUE(harness.tapBarButton("Conversation actions"));
            EXPECT_TRUE(harness.chooseMenuAction("Forward as Email"));
            EXPECT_EQ(list->log, std::vector<std::string>{"email " + id});
            EXPECT_TRUE(harness.tapBarButton("Conversation actions"));
            EXPECT_TRUE(harness.chooseMenuAction("Delete Note"));
            ASSERT_FALSE(spy->notes.empty());
            EXPECT_EQ(spy->notes.back(), std::nullopt);
            EXPECT_TRUE(harness.tapBarButton("Conversation actions"));
            EXPECT_TRUE(harness.chooseMenuAction("Delete"));
            EXPECT_EQ(list->log.back(), "delete " + id);
        } else {
            EXPECT_EQ(more->image == nullptr, false);
            EXPECT_TRUE(harness.tapBarButton("Conversation actions"));
            EXPECT_EQ(options->shown, std::vector<std::string>{id}) << "the options popover";
            options->shown.clear();
        }
        list->log.clear();
        spy->notes.clear();
    }
    toolkit::Device::current().setSystemVersion(15);
}

TEST_F(ConversationActions, TheMenuIsMadeAgainWhenTheConversationsStateChanges) {
    list->codes = {1, 3, 0};
    auto c = storeConversation("t1", 10, "Ann");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = openWithSpies("t1", 1, "Ann");
    auto before = s.navigationItem().rightBarButtonItem()->menu;
    list->codes = {1, 4, 0};
    (void)c->setValue("isArchived", true);
    harness.settle();
    auto after = s.navigationItem().rightBarButtonItem()->menu;
    ASSERT_TRUE(after);
    EXPECT_NE(before, after);
    EXPECT_EQ(after->displayTitles(), (std::vector<std::string>{"Call", "Move to Inbox", "-", "Delete"}));
}

TEST_F(ConversationActions, APreviewOffersItsActionsAndMarksReadByState) {
    list->codes = {0, 1, 2, 3, 5, 9, 10, 12};
    struct Case {
        int type;
        bool read;
        std::vector<std::string> titles;
    };
    const std::vector<Case> cases = {
        {1, true, {"Delete", "Call", "Send SMS", "Archive", "Mark as unread", "Forward as Email", "Block Contact"}},
        {1, false, {"Delete", "Call", "Send SMS", "Archive", "Mark as read", "Forward as Email", "Block Contact"}},
        {3, false, {"Delete", "Call", "Send SMS", "Archive", "Forward as Email", "Block Contact"}},
    };
    for (const auto& k : cases) {
        const std::string id = "t" + std::to_string(k.type) + (k.read ? "r" : "u");
        auto c = storeConversation(id, 10, "Ann");
        (void)c->setValue("isRead", k.read);
        storeMessages(c, {{.id = "m" + id, .number = 1, .text = "hi"}});
        auto& s = openWithSpies(id, k.type, "Ann", true);
        EXPECT_FALSE(s.navigationItem().rightBarButtonItem()) << "a preview has no bar button";
        const auto items = s.previewActionItems();
        std::vector<std::string> titles;
        for (const auto& item : items) titles.push_back(item.title);
        EXPECT_EQ(titles, k.titles) << id;
        ASSERT_FALSE(items.empty());
        EXPECT_EQ(items[0].style, toolkit::PreviewActionStyle::Destructive);
        list->log.clear();
        items.back().handler(items.back(), s);
        EXPECT_EQ(list->log, std::vector<std::string>{"block " + id});
    }
    list->codes = {};
    auto c = storeConversation("none", 10, "Ann");
    storeMessages(c, {{.id = "mnone", .number = 1, .text = "hi"}});
    EXPECT_TRUE(openWithSpies("none", 1, "Ann", true).previewActionItems().empty());
}

TEST_F(ConversationActions, ADoubleTapOnTheBubblesOpensTheReply) {
    struct Case {
        std::string title;
        int taps;
        bool opened;
    };
    const std::vector<Case> cases = {{"Ann", 2, true}, {"Ann", 1, false}, {"Unknown", 2, false}};
    for (const auto& k : cases) {
        const std::string id = "t" + k.title + std::to_string(k.taps);
        auto c = storeConversation(id, 10, k.title);
        storeMessages(c, {{.id = "m" + id, .number = 1, .text = "hi"}});
        auto& s = openWithSpies(id, 1, k.title);
        EXPECT_EQ(s.doubleTapRecognizer() != nullptr, k.title != "Unknown");
        const toolkit::Rect row = s.tableView().rectForRow({0, 0});
        harness.tap(s.tableView().convertPointTo({row.midX(), row.midY()}, nullptr), k.taps);
        harness.advance(1);
        // The reply's focus is taken once: a later request to focus it finds nobody listening.
        s.setReplyText("");
        foundation::NotificationCenter::defaultCenter().post("kFocusSMSReplyFieldNotification", nullptr,
                                                             foundation::Dictionary{{"messageText", "later"}});
        EXPECT_EQ(s.replyText().empty(), k.opened) << k.title << " " << k.taps;
    }
}

TEST_F(ConversationActions, APictureIsDraggedOutOnceAsItsBestBytes) {
    const auto thumbnail = hxtest::pngOf(8, 6, 0x0000FFFFu);
    const auto original = hxtest::pngOf(40, 30, 0xFF0000FFu);
    auto c = storeConversation("t1", 10, "Ann");
    const foundation::Array pictures{foundation::Dictionary{{"id", "p1"}, {"mimeType", "image/png"}},
                                     foundation::Dictionary{{"id", "p2"}, {"mimeType", "image/png"}},
                                     foundation::Dictionary{{"id", "v1"}, {"mimeType", "audio/amr"}}};
    storeMessages(c, {{.id = "m1", .number = 1, .text = "look", .attachments = pictures}});
    auto cache = app->screenRoles().media.lock()->mediaCache();
    cache->setObject(HXCCachedObject::withData(thumbnail), "p1");
    cache->setObject(HXCCachedObject::withData(thumbnail), "p2");
    cache->setObject(HXCCachedObject::withData(original), "p2_ORIGINAL");
    auto& s = openWithSpies("t1", 1, "Ann");
    auto centre = [&](long row) {
        const toolkit::Rect r = s.tableView().rectForRow({0, row});
        return toolkit::Point{r.midX(), r.midY()};
    };
    struct Case {
        long row;
        double width;  // of the dragged picture; 0: nothing to drag
    };
    const std::vector<Case> cases = {{0, 0}, {1, 8}, {2, 40}, {3, 0}};
    for (const auto& k : cases) {
        auto items = s.attachmentRows()->dragItemsAt(centre(k.row), nullptr);
        ASSERT_EQ(items.size(), k.width > 0 ? 1u : 0u) << k.row;
        if (items.empty()) continue;
        ASSERT_TRUE(items[0]->previewProvider);
        EXPECT_EQ(items[0]->previewProvider()->frame().width(), k.width);
        EXPECT_TRUE(items[0]->itemProvider->canLoadImages());
        // The same picture joins a session once.
        toolkit::DragSession session;
        session.items = items;
        EXPECT_TRUE(s.attachmentRows()->dragItemsAt(centre(k.row), &session).empty()) << k.row;
        EXPECT_EQ(s.attachmentRows()->dragItemsAt(centre(k.row == 1 ? 2 : 1), &session).size(), 1u);
    }
    EXPECT_TRUE(s.attachmentRows()->dragItemsAt({-5, -5}, nullptr).empty());
    // The cells of pictures carry the drag.
    auto cell = s.tableView().cellForRow({0, 1});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->interactions().size(), 1u);
    EXPECT_TRUE(s.tableView().cellForRow({0, 0})->interactions().empty());
}

TEST_F(ConversationActions, OnlyThePicturePreviewIsZoomedFromTheTappedPoint) {
    auto c = storeConversation("t1", 10, "Ann");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = openWithSpies("t1", 1, "Ann");
    struct Made {
        bool presenting;
        toolkit::Point source;
    };
    std::vector<Made> made;
    HXAttachmentRows::setPreviewTransitionMaker([&](bool presenting, toolkit::Point source) {
        made.push_back({presenting, source});
        return std::shared_ptr<toolkit::AnimatedTransitioning>();
    });
    struct Preview : toolkit::ViewController {
        std::string className() const override { return "VC_ImagePreview"; }
    };
    HXAttachmentRows::rememberTapPoint({30, 40});
    auto* delegate = s.attachmentRows();
    auto preview = std::make_shared<toolkit::NavigationController>(std::make_shared<Preview>());
    auto other = std::make_shared<toolkit::NavigationController>(std::make_shared<toolkit::ViewController>());
    (void)delegate->animationControllerForPresented(*preview, s, s);
    (void)delegate->animationControllerForPresented(*other, s, s);
    (void)delegate->animationControllerForPresented(*std::make_shared<Preview>(), s, s);
    (void)delegate->animationControllerForDismissed(*preview);
    ASSERT_EQ(made.size(), 2u) << "a navigation controller of the preview only";
    EXPECT_TRUE(made[0].presenting);
    EXPECT_FALSE(made[1].presenting);
    const toolkit::Point expected =
        s.tableView().convertPointTo({30, 40}, harness.window().rootViewController()->view().get());
    EXPECT_EQ(made[0].source.x, expected.x);
    EXPECT_EQ(made[0].source.y, expected.y);
    HXAttachmentRows::setPreviewTransitionMaker({});
}

namespace {

// The tablet: cards come in popovers pointing at what opened them.
struct TabletCards : hxtest::ActionsFixtureOf<HX_ConnectAppDelegate_iPad> {
    TabletCards() : ActionsFixtureOf(hxtest::DeviceForm::tablet) {}
    // The popover's arrows and the view and rectangle it points at, of what the stack presents.
    std::tuple<unsigned, toolkit::View*, toolkit::Rect> popover() {
        auto* presented = nav->presentedViewController();
        auto* p = presented ? presented->popoverPresentationController() : nullptr;
        if (!p) return {0, nullptr, {}};
        return {p->permittedArrowDirections, p->sourceView.lock().get(), p->sourceRect};
    }
};

}  // namespace

TEST_F(TabletCards, ACardPointsAtWhatOpenedIt) {
    ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    auto c = storeConversation("t1", 10, "Ann Lee");
    (void)c->setValue("ABName", "Ann Lee");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    ContactStore::shared()->addContact(hxtest::person("Ann", "Lee", {{"mobile", "+15550188", "p1"}}, "ann-1"));
    actions->recordIDs[c->value("formattedNumber").stringValue()] = "ann-1";
    actions->recordIDs["+15550188"] = "ann-1";
    openWithSpies("t1", 1, "Ann Lee");
    auto* titleButton = screen->navigationItem().titleView.get();
    ASSERT_NE(titleButton, nullptr);
    EXPECT_EQ(titleButton->superview(), &nav->navigationBar()) << "the contact's title button shows in the bar";

    struct Case {
        const char* from;
        unsigned arrows;
    };
    const std::vector<Case> cases = {{"title", toolkit::kArrowUp},
                                     {"picture", toolkit::kArrowDown | toolkit::kArrowLeft},
                                     {"add", toolkit::kArrowDown | toolkit::kArrowRight}};
    for (const auto& k : cases) {
        const std::string from = k.from;
        if (from == "title") screen->contactHeader()->openContact(titleButton);
        if (from == "picture") screen->contactHeader()->openContact(screen->contactHeader()->contactImage());
        if (from == "add") screen->contactHeader()->addContactToSource("AB");
        harness.settle();
        ASSERT_TRUE(screen->contactHeader()->contactCard()) << k.from;
        EXPECT_NE(nav->topViewController(), screen->contactHeader()->contactCard().get())
            << "nothing is pushed on the tablet";
        const auto [arrows, view, rect] = popover();
        EXPECT_EQ(arrows, k.arrows) << k.from;
        ASSERT_NE(view, nullptr) << k.from;
        // Where the popover points, in the window: on what opened it.
        const toolkit::View* anchor = from == "title" ? titleButton
                                      : from == "picture"
                                          ? static_cast<toolkit::View*>(screen->contactHeader()->contactImage())
                                          : static_cast<toolkit::View*>(screen->contactHeader()->addContactButton());
        const toolkit::Rect inWindow = view->convertRectTo(rect, nullptr);
        const toolkit::Rect expected = anchor->convertRectTo(anchor->bounds(), nullptr);
        EXPECT_NEAR(inWindow.midX(), expected.midX(), 0.5) << k.from;
        EXPECT_NEAR(inWindow.midY(), expected.midY(), 0.5) << k.from;
        nav->dismiss(false);
        harness.settle();
    }
}
