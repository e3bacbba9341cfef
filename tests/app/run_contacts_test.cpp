// The run device's contacts as a user of `./hx run` meets them: one of them is the number of a
// thread of the run's service, a contact added from a conversation is still there at the next
// run (the device keeps its contacts in the home), and a quick setting's place is picked from a
// contact's address through the system's picker.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/connect_app_delegate_iphone.h"
#include "app/run_device.h"
#include "emulator/playback_media.h"
#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/foundation/files.h"
#include "platform/foundation/url.h"
#include "platform/services/contacts.h"
#include "platform/services/geocoder.h"
#include "platform/services/photos.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/table_view.h"
#include "service/request_machinery.h"
#include "tests/support/run_home.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/settings/quick_setting_location.h"
#include "ui/settings/vc_location_details.h"
#include "ui/settings/vc_qs_details.h"
#include "ui/shell/ui_screens.h"

namespace {

class RunContacts : public hxtest::RunHomeFixture {
protected:
    void SetUp() override {
        RunHomeFixture::SetUp();
        // The service as ./hx run starts it (its generator options) with the playback media.
        ASSERT_TRUE(furnishRunHome(
            {.seed = 1, .voicemailThreads = 12, .callThreads = 30, .spamThreads = 3, .archivedThreads = 3}));
        service->withAccount([this](emulator::Account& a) {
            for (const auto& t : a.threads)
                if (t.numbers.size() == 1 && t.contactName.empty() && t.id.find(".vm") == std::string::npos &&
                    t.id.find(".call") == std::string::npos && t.id != emulator::kVideoThreadID &&
                    t.numbers.front() != hxrun::kDemoThreadNumber && !t.spam && !t.archived && unnamed.empty())
                    unnamed = t.id, unnamedNumber = t.numbers.front();
            return 0;
        });
        ASSERT_FALSE(unnamed.empty());
        ASSERT_TRUE(launchAndLoad());
        app->selectViewForIndex(1);
        harness.settle();
        harness.advance(1);
        ASSERT_TRUE(settleRequests());
    }
    void TearDown() override {
        // The process's store goes back to memory: the next test's home is another.
        (void)services::ContactStore::shared()->keepInFile({});
        services::ContactStore::shared()->removeAllContacts();
        RunHomeFixture::TearDown();
    }
    // The SMS list's row whose name starts so, tapped.
    VC_Conversation* open(const std::string& row) {
        app->selectViewForIndex(1);
        harness.settle();
        auto* nav = app->viewControllerForIndex(1)->navigationController();
        toolkit::View* cell = nullptr;
        // The rows take the names a moment after the contacts are read.
        for (int i = 0; i < 50 && !cell; ++i) {
            (void)harness.outline();
            for (auto* view : harness.findAll("Label"))
                if (view->outlineText().rfind(row, 0) == 0)
                    for (toolkit::View* up = view; up && !cell; up = up->superview())
                        if (dynamic_cast<toolkit::TableViewCell*>(up)) cell = up;
            if (!cell) harness.advance(0.1);
        }
        if (!cell || !harness.tap(*cell)) {
            ADD_FAILURE() << "no row shows " << row << "\n" << harness.outline();
            return nullptr;
        }
        harness.advance(0.5);
        EXPECT_TRUE(settleRequests());
        harness.advance(0.5);
        harness.settle();
        return nav ? dynamic_cast<VC_Conversation*>(nav->topViewController()) : nullptr;
    }
    std::vector<services::Contact> kept() {
        services::ContactStore next;
        EXPECT_TRUE(next.keepInFile(services::ContactStore::contactsFilePath()).ok());
        std::vector<services::Contact> all;
        (void)next.enumerateContacts(
            {services::kContactGivenNameKey, services::kContactFamilyNameKey, services::kContactPhoneNumbersKey},
            [&](const services::Contact& c, bool*) { all.push_back(c); });
        return all;
    }

    std::string unnamed, unnamedNumber;
};

}  // namespace

TEST_F(RunContacts, ADemoContactNamesARunThreadAndAContactAddedFromAConversationIsThereAtTheNextRun) {
    // The app reads the device's contacts when it comes back to the foreground (F5 twice in the
    // window), a moment later.
    app->applicationDidEnterBackground();
    harness.advance(1);
    app->applicationWillEnterForeground();
    for (int i = 0; i < 300 && app->contactNameForNumber("(555) 107-1271").empty(); ++i) {
        harness.advance(0.1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(app->contactNameForNumber("(555) 107-1271"), "Rosa Delgado\u00A0(mobile)");
    // The next return reloads the threads, which now take the names of the device's contacts.
    app->applicationDidEnterBackground();
    harness.advance(1);
    app->applicationWillEnterForeground();
    ASSERT_TRUE(settleRequests());
    // One thread's number is Rosa's: her name heads it, and her picture opens her card.
    auto* rosas = open("Rosa Delgado");
    ASSERT_TRUE(rosas) << harness.outline();
    EXPECT_EQ(rosas->title(), "Rosa Delgado") << harness.outline();
    ASSERT_TRUE(harness.tapBack());
    harness.settle();

    // A number nobody names: added to the device as a new contact through the card.
    auto* conversation = open(unnamedNumber);
    ASSERT_TRUE(conversation) << harness.outline();
    ASSERT_TRUE(conversation->contactHeader()->addContactButton() &&
                !conversation->contactHeader()->addContactButton()->isHidden())
        << harness.outline();
    ASSERT_TRUE(harness.tap(*conversation->contactHeader()->addContactButton()));
    harness.settle();
    ASSERT_TRUE(harness.visibleAlert()) << harness.outline();
    ASSERT_TRUE(harness.tapAlertAction("iPhone Contacts")) << harness.outline();
    harness.advance(0.5);
    ASSERT_TRUE(harness.tapRowShowing(system_screens::ContactViewController::kCreateNewContactTitle))
        << harness.outline();
    harness.settle();
    ASSERT_TRUE(harness.typeText("Zoe"));
    ASSERT_TRUE(harness.tapBarButton("Done")) << harness.outline();
    harness.advance(0.5);
    harness.settle();
    EXPECT_EQ(conversation->title(), "Zoe") << harness.outline();

    // The device kept it in its file: the next run's device reads it back with its number, and
    // the run's set-up leaves the kept contacts alone.
    auto hasZoe = [&](const std::vector<services::Contact>& all) {
        for (const auto& c : all)
            if (c.givenName == "Zoe" && !c.phoneNumbers.empty() &&
                foundation::keepingOnly(c.phoneNumbers.front().stringValue,
                                        foundation::CharacterSet::decimalDigits()) ==
                    foundation::keepingOnly(unnamedNumber, foundation::CharacterSet::decimalDigits()))
                return true;
        return false;
    };
    EXPECT_TRUE(hasZoe(kept()));
    ASSERT_TRUE(hxrun::furnishHome().ok());
    EXPECT_TRUE(hasZoe(kept()));
    EXPECT_EQ(kept().size(), hxrun::demoContacts().size() + 1);
}

TEST_F(RunContacts, AnUnreadableContactsFileIsNamedAndKeptAndTheRunGoesOn) {
    const auto file = services::ContactStore::contactsFilePath();
    ASSERT_TRUE(foundation::files::writeAtomically(file, std::string("BEGIN:VCARD\r\nVERSION:9\r\n")).ok());
    services::PhotoLibrary::reset();
    auto furnished = hxrun::furnishHome();
    ASSERT_FALSE(furnished.ok());
    EXPECT_NE(furnished.error().localizedDescription().find(file.string()), std::string::npos)
        << furnished.error().localizedDescription();
    auto aside = foundation::files::readString(file.string() + ".unreadable");
    ASSERT_TRUE(aside.ok());
    EXPECT_EQ(*aside, "BEGIN:VCARD\r\nVERSION:9\r\n");
    EXPECT_FALSE(services::PhotoLibrary::assetURLs().empty()) << "the pictures are there all the same";
    // The next run starts with the demo contacts again; the damaged file stays where it was put.
    ASSERT_TRUE(hxrun::furnishHome().ok());
    EXPECT_EQ(kept().size(), hxrun::demoContacts().size());
    EXPECT_TRUE(foundation::files::exists(file.string() + ".unreadable"));
}

TEST_F(RunContacts, AQuickSettingsPlaceIsPickedFromAContactsAddressThroughThePicker) {
    ASSERT_TRUE(settingsWithAWorkPlace());
    auto account = app->account();
    auto* nav = app->viewControllerForIndex(4)->navigationController();
    ASSERT_TRUE(harness.tapRowShowing("Quick Settings")) << harness.outline();
    harness.settle();
    ASSERT_TRUE(harness.tapBarButton("Edit")) << harness.outline();
    harness.settle();
    ASSERT_TRUE(harness.tapRowShowing("Work")) << harness.outline();
    harness.settle();
    auto* editor = dynamic_cast<VC_QSDetails*>(nav->topViewController());
    ASSERT_TRUE(editor) << harness.outline();
    ASSERT_TRUE(harness.selectRow(*editor->tableView(), *editor->indexPathForTag(125)));
    harness.settle();
    auto* details = dynamic_cast<VC_LocationDetails*>(nav->topViewController());
    ASSERT_TRUE(details) << harness.outline();

    ASSERT_TRUE(harness.tapRowShowing("Select from Contacts\u2026")) << harness.outline();
    harness.advance(0.5);
    auto* picker = dynamic_cast<system_screens::ContactPickerViewController*>(harness.topPresented());
    ASSERT_TRUE(picker) << harness.outline();
    // Those with an address can be picked, the others are dimmed.
    std::vector<std::string> enabled;
    for (const auto& c : picker->contacts())
        if (picker->isContactEnabled(c)) enabled.push_back(services::ContactFormatter::fullName(c).value_or("?"));
    EXPECT_EQ(enabled, (std::vector<std::string>{"Harbor Cafe", "Maya Lindqvist", "Tunde Okafor"}));
    ASSERT_TRUE(harness.pickContact("Maya Lindqvist")) << harness.outline();
    harness.settle();
    EXPECT_EQ(dynamic_cast<system_screens::ContactPickerViewController*>(harness.topPresented()), nullptr)
        << "one address: the contact is picked whole";
    EXPECT_EQ(storedQuickSetting(*account, "Work")->regionTitle(), "Maya Lindqvist (home)");
    EXPECT_EQ(storedQuickSetting(*account, "Work")->regionSubtitle(),
              "8 Juniper Lane\nBayview WA 98104\nUnited States");
    harness.advance(services::Geocoder::kAnswerDelay + 0.1);
    harness.settle();
    auto region = std::dynamic_pointer_cast<services::CircularRegion>(storedQuickSetting(*account, "Work")->region());
    ASSERT_TRUE(region) << "the address was found and its place set";
    EXPECT_NEAR(region->center().latitude, 47.6010, 0.001);
}
