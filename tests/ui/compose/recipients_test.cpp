// Recipients of a new message from every source against the emulator: typed, found by the
// search, picked in the system's contact picker and handed back by the favourites list; what
// reaches the service is one target per number as it reads numbers.
#include "model/phone_extensions.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/contacts.h"
#include "platform/system_screens/contact_picker.h"
#include "tests/support/contacts.h"
#include "tests/ui/compose/compose_support.h"
#include "ui/dialer/vc_call.h"
#include "ui/dialer/vc_favorites.h"

namespace {

using Phone = HX_ConnectAppDelegate_iPhone;
using Tablet = HX_ConnectAppDelegate_iPad;

using hxtest::person;

template <typename Form>
struct RecipientsOf : hxtest::ComposeFixture<Form> {
    explicit RecipientsOf(hxtest::DeviceForm form = hxtest::DeviceForm::phone) : hxtest::ComposeFixture<Form>(form) {}
    void SetUp() override {
        hxtest::ComposeFixture<Form>::SetUp();
        auto& app = this->app;
        ASSERT_TRUE(this->launch());
        ASSERT_TRUE(this->runUntil([&] { return app->account() && app->account()->authV2(); }));
        ASSERT_TRUE(this->runUntil([&] { return app->account()->HXnumber().has_value() && app->isIdle(); }));
        this->harness.advance(1);
        app->account()->setHXnumber(std::string("+12025550123"));
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        auto contacts = services::ContactStore::shared();
        contacts->addContact(person("Zo\u00eb", "Quinn", {{"mobile", "+1 303 555 0177", "zoe-m"}}, "zoe"));
        contacts->addContact(person(
            "Ann", "Lee", {{"mobile", "+1 303 555 0100", "ann-m"}, {"home", "+1 303 555 0101", "ann-h"}}, "ann"));
        contacts->addContact(person("Cy", "Park", {{"", "+1 303 555 0199", "cy-1"}}, "cy"));
        contacts->addContact(person("Bo", "Kim", {{"work", "+44 20 7946 0000", "bo-1"}}, "bo"));
        foundation::Dictionary favorites;
        favorites.set(app->account()->username(),
                      foundation::Array{foundation::Value("bo,bo-1,Bo Kim,+44 20 7946 0000,1.000000")});
        (void)foundation::UserDefaults::standardUserDefaults()->setObject(foundation::Value(favorites), "favorites");
        app->resetContacts();
        (void)app->allContacts();
        ASSERT_TRUE(this->runUntil([&] { return !app->contactsMatchingName("Zo").empty(); }));
    }
    void TearDown() override {
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::NotDetermined);
        foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("OpenToFavorites");
        hxtest::ComposeFixture<Form>::TearDown();
    }
    void typeRecipient(const std::string& text) {
        ASSERT_TRUE(this->screen()->number().becomeFirstResponder());
        ASSERT_TRUE(this->harness.typeText(text + ","));
    }
    // The controller the compose screen's navigation controller presents, if any.
    toolkit::ViewController* overCompose() {
        auto* s = this->screen();
        auto* nav = s ? s->navigationController() : nullptr;
        return nav ? nav->presentedViewController() : nullptr;
    }
    VC_Favorites* favoritesList() {
        auto* nav = dynamic_cast<toolkit::NavigationController*>(overCompose());
        return nav && !nav->viewControllers().empty() ? dynamic_cast<VC_Favorites*>(nav->viewControllers()[0].get())
                                                      : nullptr;
    }
    std::vector<std::string> titles() {
        std::vector<std::string> out;
        for (const auto& t : this->screen()->number().tokens()) out.push_back(t->title());
        return out;
    }
};

struct Recipients : RecipientsOf<Phone> {};
struct TabletRecipients : RecipientsOf<Tablet> {
    TabletRecipients() : RecipientsOf(hxtest::DeviceForm::tablet) {}
};

}  // namespace

TEST_F(Recipients, EveryKindGoesOutOnceAsTheServiceReadsTheNumber) {
    auto* s = open();
    ASSERT_NE(s, nullptr);
    // Typed: completed with the own area code.
    typeRecipient("5551234");
    // Found by the search.
    ASSERT_TRUE(harness.typeText("Zo"));
    ASSERT_TRUE(runUntil([&] { return !s->searchResults().empty(); }));
    ASSERT_TRUE(harness.selectRow(s->searchResultsTable(), {0, 0}));
    harness.advance(0.2);
    // The same number typed in another form is the same recipient.
    typeRecipient("+1 (303) 555-0177");
    EXPECT_EQ(s->number().tokens().size(), 2u);
    EXPECT_EQ(s->number().text(), std::string(HXCTokenField::kEmptySentinel)) << "the typed duplicate is emptied";
    // Picked from the contacts: a contact of two numbers opens its card for one of them.
    s->openAddressBook();
    harness.settle();
    ASSERT_TRUE(harness.pickContact("Ann Lee", "+1 303 555 0101"));
    harness.settle();
    EXPECT_EQ(overCompose(), nullptr) << "the picker closed";
    EXPECT_TRUE(s->message().isFirstResponder()) << "the text has the focus after a pick";
    // Handed back by the favourites, while the dial pad is the current view.
    app->selectViewForIndex(0);
    harness.settle();
    s->openFavorites();
    harness.settle();
    ASSERT_NE(favoritesList(), nullptr);
    ASSERT_TRUE(harness.tapRowShowing("Bo Kim"));
    harness.advance(0.5);
    EXPECT_EQ(favoritesList(), nullptr) << "the list closed";
    EXPECT_TRUE(s->message().isFirstResponder());
    auto pad = std::dynamic_pointer_cast<VC_Call>(app->viewControllerForIndex(0));
    ASSERT_TRUE(pad);
    EXPECT_EQ(pad->phoneNumber->text(), "") << "the number went to the screen that opened the list";
    EXPECT_EQ(titles(), (std::vector<std::string>{PhoneExtensions::formattedPhoneNumberFromString("5551234"),
                                                  "Zo\u00eb Quinn (mobile)", "Ann Lee (home)", "Bo Kim (work)"}));
    // Numbers that came from a card or a favourite go as they are stored.
    EXPECT_EQ(tokenObjects()[2], "+1 303 555 0101");
    EXPECT_EQ(tokenObjects()[3], "+44 20 7946 0000");

    // Up to twenty; the 21st is refused from the picker too.
    for (int i = 5; i <= 20; ++i) typeRecipient("+1720555" + std::to_string(1000 + i));
    ASSERT_EQ(s->number().tokens().size(), 20u);
    s->openAddressBook();
    harness.settle();
    ASSERT_TRUE(harness.pickContact("Cy Park"));
    harness.settle();
    EXPECT_EQ(s->number().tokens().size(), 20u);

    ASSERT_TRUE(s->message().becomeFirstResponder());
    ASSERT_TRUE(harness.typeText("Hi all"));
    ASSERT_TRUE(s->sendButton()->tap());
    ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
    const auto got = received();
    ASSERT_EQ(got.size(), 1u);
    auto targets = got[0].targets;
    std::sort(targets.begin(), targets.end());
    std::vector<std::string> expected = {"+12025551234", "+13035550177", "+13035550101", "+442079460000"};
    for (int i = 5; i <= 20; ++i) expected.push_back("+1720555" + std::to_string(1000 + i));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(targets, expected);
}

TEST_F(Recipients, TheContactPickerShowsNumbersOnlyAndHandsBackWholeContactsOrOneNumber) {
    auto* s = open();
    s->contactsButtonPressed();
    harness.settle();
    auto* picker = dynamic_cast<system_screens::ContactPickerViewController*>(overCompose());
    ASSERT_NE(picker, nullptr) << "without \"OpenToFavorites\" the button opens the contacts";
    EXPECT_EQ(picker->displayedPropertyKeys, std::vector<std::string>{services::kContactPhoneNumbersKey});
    ASSERT_TRUE(picker->predicateForEnablingContact());
    ASSERT_TRUE(picker->predicateForSelectionOfContact());
    services::Contact none = person("No", "Phone", {}, "none");
    const auto& ann = picker->contacts();
    const auto annIt = std::find_if(ann.begin(), ann.end(), [](const auto& c) { return c.identifier == "ann"; });
    const auto cyIt = std::find_if(ann.begin(), ann.end(), [](const auto& c) { return c.identifier == "cy"; });
    ASSERT_NE(annIt, ann.end());
    ASSERT_NE(cyIt, ann.end());
    EXPECT_FALSE(picker->isContactEnabled(none));
    EXPECT_FALSE(picker->selectsContactWhole(*annIt)) << "two numbers: the card opens";
    EXPECT_TRUE(picker->selectsContactWhole(*cyIt));
    // Cancel adds nothing.
    picker->cancel();
    harness.settle();
    EXPECT_EQ(overCompose(), nullptr);
    EXPECT_TRUE(s->number().tokens().empty());
    // A contact of one number is taken whole; without a label its title is the name alone.
    s->openAddressBook();
    ASSERT_TRUE(harness.pickContact("Cy Park"));
    harness.settle();
    EXPECT_EQ(titles(), std::vector<std::string>{"Cy Park"});
    EXPECT_EQ(tokenObjects(), std::vector<std::string>{"+1 303 555 0199"});
    EXPECT_TRUE(s->number().isEnabled());
    // A label joins the name; the same number picked again stays one recipient.
    for (int i = 0; i < 2; ++i) {
        s->openAddressBook();
        ASSERT_TRUE(harness.pickContact("Zo\u00eb Quinn"));
        harness.settle();
    }
    EXPECT_EQ(titles(), (std::vector<std::string>{"Cy Park", "Zo\u00eb Quinn (mobile)"}));
    // With "OpenToFavorites" the button opens the favourites and the long press the contacts.
    foundation::UserDefaults::standardUserDefaults()->setBool(true, "OpenToFavorites");
    s->contactsButtonPressed();
    harness.settle();
    ASSERT_NE(favoritesList(), nullptr);
    favoritesList()->cancel();
    harness.settle();
    EXPECT_EQ(overCompose(), nullptr);
    s->HXCKeyDelayedAction();
    harness.settle();
    EXPECT_NE(dynamic_cast<system_screens::ContactPickerViewController*>(overCompose()), nullptr);
}

TEST_F(Recipients, AFavoriteAlreadyThereIsRefusedAndTheListCloses) {
    auto* s = open("+44 20 7946 0000", "x");
    ASSERT_EQ(s->number().tokens().size(), 1u);
    s->openFavorites();
    harness.settle();
    ASSERT_NE(favoritesList(), nullptr);
    ASSERT_TRUE(harness.tapRowShowing("Bo Kim"));
    harness.advance(0.5);
    EXPECT_EQ(favoritesList(), nullptr);
    EXPECT_EQ(s->number().tokens().size(), 1u);
    EXPECT_TRUE(s->message().isFirstResponder());
}

TEST_F(TabletRecipients, PickersCoverTheFormSheetAndHandBackAsOnThePhone) {
    auto* s = open();
    s->openAddressBook();
    harness.settle();
    ASSERT_NE(overCompose(), nullptr);
    EXPECT_EQ(overCompose()->modalPresentationStyle, toolkit::ModalPresentationStyle::CurrentContext);
    ASSERT_TRUE(harness.pickContact("Zo\u00eb Quinn"));
    harness.settle();
    s->openFavorites();
    harness.settle();
    ASSERT_NE(favoritesList(), nullptr);
    EXPECT_EQ(overCompose()->modalPresentationStyle, toolkit::ModalPresentationStyle::CurrentContext);
    ASSERT_TRUE(harness.tapRowShowing("Bo Kim"));
    harness.advance(0.5);
    EXPECT_EQ(titles(), (std::vector<std::string>{"Zo\u00eb Quinn (mobile)", "Bo Kim (work)"}));
    ASSERT_TRUE(s->message().becomeFirstResponder());
    ASSERT_TRUE(harness.typeText("Hello"));
    ASSERT_TRUE(s->sendButton()->tap());
    ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
    const auto got = received();
    ASSERT_EQ(got.size(), 1u);
    auto targets = got[0].targets;
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets, (std::vector<std::string>{"+13035550177", "+442079460000"}));
}

namespace {

// A screen library that makes no favourites list.
struct NoFavoritesScreens : HXUIScreens {
    std::shared_ptr<toolkit::ViewController> makeFavorites(const HXScreenRoles&, FavoritesHandBack) override {
        return nullptr;
    }
};

}  // namespace

TEST_F(Recipients, WithoutAFavoritesListTheShellIsToldAndNothingIsPresented) {
    app->setScreens(std::make_shared<NoFavoritesScreens>());
    auto* s = open();
    s->openFavorites();
    harness.settle();
    EXPECT_EQ(overCompose(), nullptr);
    EXPECT_EQ(app->shell().count("openFavorites"), 1u);
    // The contact picker is the system's own: it is there in any case.
    s->openAddressBook();
    harness.settle();
    EXPECT_NE(dynamic_cast<system_screens::ContactPickerViewController*>(overCompose()), nullptr);
    EXPECT_EQ(app->shell().count("openAddressBook"), 0u);
}
