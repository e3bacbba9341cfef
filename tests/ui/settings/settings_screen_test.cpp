// The settings screen: its layout for each shape of account, and the screen as view 4's root
// against the loopback service: switches and rows that change a service setting show a busy row
// until the change ends, and end at the service's value whatever happened to the request.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/hxc_passcode_lock.h"
#include "model/account.h"
#include "model/application_model.h"
#include "model/message_store.h"
#include "model/phone.h"
#include "model/phone_extensions.h"
#include "model/quick_setting.h"
#include "platform/foundation/application.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "platform/store/context.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "ui/help/vc_help.h"
#include "ui/settings/settings_cells.h"
#include "ui/settings/settings_rows.h"
#include "ui/settings/vc_notification_types.h"
#include "ui/settings/vc_settings.h"
#include "ui/shell/ui_screens.h"
#include "ui/widgets/toggle_cell.h"

namespace {

using ID = HXSettingsSectionID;

TEST(SettingsLayout, SectionsFollowTheAccountsPhones) {
    struct Case {
        HXSettingsShape shape;
        std::vector<ID> sections;
        long forwardingRows;
    };
    const Case cases[] = {
        {{true, 1, 2}, {ID::QuickSettings, ID::Service, ID::StartCallsFrom, ID::CallForwarding, ID::Email, ID::App}, 2},
        // Linked phones that are all VoIP clients: no phone to start calls from.
        {{true, 0, 2}, {ID::QuickSettings, ID::Service, ID::CallForwarding, ID::Email, ID::App}, 2},
        {{true, 0, 0}, {ID::QuickSettings, ID::Service, ID::Email, ID::App}, 0},
        {{false, 1, 2}, {}, 0},
    };
    for (const auto& c : cases) {
        const auto layout = HXSettingsLayout(c.shape);
        std::vector<ID> ids;
        for (const auto& s : layout) {
            ids.push_back(s.id);
            if (s.id == ID::CallForwarding) {
                EXPECT_EQ(static_cast<long>(s.tags.size()), c.forwardingRows);
            }
        }
        EXPECT_EQ(ids, c.sections) << c.shape.realPhones << "/" << c.shape.phones;
    }
}

TEST(SettingsLayout, TagsFindTheirRows) {
    const auto full = HXSettingsLayout({true, 1, 2});
    const auto voip = HXSettingsLayout({true, 0, 2});
    const auto none = HXSettingsLayout({false, 0, 0});
    struct Case {
        const std::vector<HXSettingsSection>& layout;
        int tag;
        long section;
        std::optional<toolkit::IndexPath> path;
    };
    const Case cases[] = {
        {full, 117, 0, toolkit::IndexPath{0, 0}},
        {full, 121, 1, toolkit::IndexPath{1, 7}},
        {full, 103, 2, toolkit::IndexPath{2, 0}},
        {full, 114, 3, toolkit::IndexPath{3, 0}},
        {full, 112, 4, toolkit::IndexPath{4, 2}},
        {full, 109, 5, toolkit::IndexPath{5, 15}},
        {voip, 103, -1, toolkit::IndexPath{-1, -1}},
        {voip, 110, 3, toolkit::IndexPath{3, 0}},
        {voip, 132, 4, toolkit::IndexPath{4, 13}},
        {full, 99, -1, toolkit::IndexPath{-1, -1}},
        {full, 125, -1, toolkit::IndexPath{-1, -1}},
        {full, 98, 0, std::nullopt},
        {full, 133, 0, std::nullopt},
        {none, 100, -1, toolkit::IndexPath{-1, -1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HXSettingsSectionForTag(c.layout, c.tag), c.section) << c.tag;
        EXPECT_EQ(HXSettingsIndexPathForTag(c.layout, c.tag), c.path) << c.tag;
    }
}

TEST(SettingsLayout, NotificationTypesAreNamedInOrder) {
    const std::pair<long long, const char*> cases[] = {
        {0, "None"}, {7, "All"}, {5, "SMS, Missed Calls"}, {2, "VM"}, {6, "VM, Missed Calls"},
        {8, "None"}, {15, "All"}};
    for (const auto& [mask, text] : cases) EXPECT_EQ(HXNotificationTypesText(mask), text) << mask;
}

template <typename Form>
class SettingsOnService : public hxtest::ScreenFixture<hxtest::RecordedApp<Form>> {
protected:
    using Base = hxtest::ScreenFixture<hxtest::RecordedApp<Form>>;
    explicit SettingsOnService(hxtest::DeviceForm form = hxtest::DeviceForm::phone)
        : Base({.form = form,
                .screens = std::make_shared<HXUIScreens>(),
                .emulator = true,
                .signedIn = true,
                .fonts = true,
                .sharedDelegate = true}) {}

    void SetUp() override {
        Base::SetUp();
        ASSERT_TRUE(this->launch());
        // Settled as the app counts it: the launch's replies are in and so is the load that the
        // first reachability report starts, which comes after them and would replace the phones.
        ASSERT_TRUE(runUntil([&] {
            auto a = this->app->account();
            return a && a->authV2() && a->HXnumber().has_value() && a->phones().size() >= 2 &&
                   HXWebClientOf(*this->app).firstReachabilityHandled && this->app->isIdle();
        }));
        this->app->selectViewForIndex(4);
        this->harness.advance(1);
        this->harness.settle();
        screen = std::dynamic_pointer_cast<VC_Settings>(this->app->viewControllerForIndex(4));
        ASSERT_TRUE(screen);
        ASSERT_NE(screen->view()->window(), nullptr) << "the settings are on screen";
        // The launch loads in steps a moment apart (the lists a second after the account, a list
        // load that met another once more half a second later): a test starts once two seconds
        // pass with no request sent, so no reply comes to replace what it sets.
        ASSERT_TRUE(this->settleQuietly(2)) << "the launch's loads end";
    }
    bool runUntil(const std::function<bool()>& done, double seconds = 20) {
        const bool ok = this->harness.clock().runUntil(done, seconds);
        this->harness.settle();
        return ok;
    }
    toolkit::TableViewCell* cellOf(int tag, long row = 0) {
        auto path = screen->indexPathForTag(tag);
        path.row += row;
        screen->tableView()->scrollToRow(path, toolkit::ScrollPosition::Middle, false);
        this->harness.settle();
        return screen->tableView()->cellForRow(path).get();
    }
    toolkit::Switch* switchOf(int tag) {
        auto* toggle = dynamic_cast<ToggleCell*>(cellOf(tag));
        return toggle ? toggle->onOff.get() : nullptr;
    }
    bool busy(int tag, long row = 0) {
        auto* cell = cellOf(tag, row);
        auto* indicator =
            cell ? dynamic_cast<toolkit::ActivityIndicatorView*>(cell->contentView().viewWithTag(99)) : nullptr;
        return indicator && indicator->isAnimating() && !indicator->isHidden();
    }
    size_t updates() {
        size_t n = 0;
        for (const auto& r : this->service->requests()) n += r.path == "/voice/v1/voiceclient/account/update";
        return n;
    }

    size_t requestsTo(const std::string& path) {
        size_t n = 0;
        for (const auto& r : this->service->requests()) n += r.path == path;
        return n;
    }
    // Another account stored beside the signed-in one.
    void storeOtherAccount(const std::string& user, const std::string& number) {
        auto defaults = foundation::UserDefaults::standardUserDefaults();
        auto infos = defaults->dictionaryForKey("accountInfo").value_or(foundation::Dictionary{});
        HX_Account other;
        other.setUsername(user);
        other.setHXnumber(number);
        infos.set(user, foundation::Value(other.archived().value()));
        (void)defaults->setObject(foundation::Value(infos), "accountInfo");
    }

public:
    void injectIntoUpdates(emulator::Fault fault) {
        this->service->inject(fault, "/voice/v1/voiceclient/account/update", 1);
    }
    std::shared_ptr<VC_Settings> screen;
};

class PhoneSettings : public SettingsOnService<HX_ConnectAppDelegate_iPhone> {};

class TabletSettings : public SettingsOnService<HX_ConnectAppDelegate_iPad> {
protected:
    TabletSettings() : SettingsOnService(hxtest::DeviceForm::tablet) {}
};

// Each sheet of the screen as it opens over it, closed again by its current choice (which changes
// nothing) or by "Cancel".
template <typename Fixture>
void expectSheets(Fixture& t, const std::string& form) {
    struct Case {
        int tag;
        const char* golden;
    };
    const Case cases[] = {
        {102, "sheet_caller_id"},  {103, "sheet_callback"}, {115, "sheet_greeting"},     {119, "sheet_contacts_key"},
        {120, "sheet_return_key"}, {126, "sheet_badge"},    {109, "sheet_clear_caches"},
    };
    auto& table = *t.screen->tableView();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.golden);
        const auto path = t.screen->indexPathForTag(c.tag);
        table.scrollToRow(path, toolkit::ScrollPosition::Middle, false);
        t.harness.settle();
        ASSERT_TRUE(t.harness.selectRow(table, path));
        t.harness.settle();
        auto* sheet = t.harness.visibleAlert();
        ASSERT_TRUE(sheet);
        t.expectOutline(std::string(c.golden) + "_" + form);
        std::string close = "Cancel";
        for (const auto& action : sheet->actions())
            if (c.tag != 109 && action->style() == toolkit::AlertActionStyle::Destructive) close = action->title();
        // A popover's sheet shows no "Cancel": a tap beside it closes it.
        if (form == "tablet" && close == "Cancel")
            t.harness.tap(toolkit::Point{5, 1015});
        else
            ASSERT_TRUE(t.harness.tapAlertAction(close));
        t.harness.advance(1);
        t.harness.settle();
        EXPECT_FALSE(t.harness.visibleAlert());
    }
}

TEST_F(PhoneSettings, EachSwitchSendsOneChangeAndEndsAtTheServicesValue) {
    // The launch's own requests end first: the outline is of the settled screen.
    ASSERT_TRUE(runUntil([] { return !foundation::Application::shared().isNetworkActivityIndicatorVisible(); }));
    expectOutline("settings_phone");
    struct Case {
        int tag;
        std::function<bool(const HX_Account&)> value;
    };
    const Case cases[] = {
        {100, [](const HX_Account& a) { return a.dndEnabled(); }},
        {101, [](const HX_Account& a) { return !a.directConnect(); }},
        {104, [](const HX_Account& a) { return a.VMtranscription(); }},
        {121, [](const HX_Account& a) { return a.globalSpamFiltering(); }},
        {122, [](const HX_Account& a) { return a.callOptions(); }},
        {110, [](const HX_Account& a) { return a.emailNotificationVM(); }},
        {111, [](const HX_Account& a) { return a.emailNotificationSMS(); }},
        {112, [](const HX_Account& a) { return a.emailNotificationMissedCalls(); }},
    };
    auto& table = *screen->tableView();
    for (const auto& c : cases) {
        const bool before = c.value(*app->account());
        const size_t sent = updates();
        const size_t whole = table.wholeReloads(), rows = table.rowReloads();
        service->script("/voice/v1/voiceclient/account/update",
                        emulator::ScriptedReply{.hold = true, .passThrough = true});
        auto* onOff = switchOf(c.tag);
        ASSERT_TRUE(onOff) << c.tag;
        ASSERT_EQ(onOff->isOn(), before) << c.tag;
        ASSERT_TRUE(harness.tap(*onOff)) << c.tag;
        ASSERT_TRUE(runUntil([&] { return updates() == sent + 1; })) << c.tag;
        EXPECT_TRUE(busy(c.tag)) << c.tag << ": busy while the service answers";
        service->releaseHeld();
        ASSERT_TRUE(runUntil([&] { return c.value(*app->account()) != before && !busy(c.tag); })) << c.tag;
        ASSERT_TRUE(switchOf(c.tag));
        EXPECT_EQ(switchOf(c.tag)->isOn(), !before) << c.tag << ": the switch shows the service's value";
        EXPECT_EQ(updates(), sent + 1) << c.tag;
        EXPECT_EQ(table.wholeReloads(), whole) << c.tag << ": the answer draws rows, not the table";
        EXPECT_LE(table.rowReloads() - rows, 2u) << c.tag << ": its own row, by its answer and by the update";
    }
}

TEST_F(PhoneSettings, ARowWhoseChangeFailsOrNeverStartsShowsTheAccountsValueAgain) {
    struct Case {
        const char* what;
        std::function<void(PhoneSettings&)> arrange;
        size_t sent;
    };
    // A reply without an account asks for a sign-in again, so the error status comes last.
    const Case cases[] = {
        {"no token", [](PhoneSettings& t) { t.app->account()->setOAuthDict(std::nullopt); }, 0},
        {"a dropped reply", [](PhoneSettings& t) { t.injectIntoUpdates(emulator::Fault::Drop); }, 1},
        {"an error status", [](PhoneSettings& t) { t.injectIntoUpdates(emulator::Fault::ServerErrorEmpty); }, 1},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(runUntil([&] { return app->isIdle(); })) << c.what;
        const size_t before = updates();
        c.arrange(*this);
        const bool dnd = app->account()->dndEnabled();
        ASSERT_TRUE(harness.tap(*switchOf(100))) << c.what;
        ASSERT_TRUE(runUntil([&] { return !busy(100) && app->isIdle(); }, 400)) << c.what;
        EXPECT_EQ(updates(), before + c.sent) << c.what;
        EXPECT_EQ(app->account()->dndEnabled(), dnd) << c.what;
        EXPECT_EQ(switchOf(100)->isOn(), dnd) << c.what << ": the switch flips back";
        EXPECT_TRUE(screen->updatingCells().empty()) << c.what;
    }
}

TEST_F(PhoneSettings, OfflineTheServiceSwitchesAreDisabledAndTheAppsStayUsable) {
    app->setConnectionAvailable(false);
    foundation::NotificationCenter::defaultCenter().post("kNetworkReachabilityChangedNotification");
    harness.advance(1);
    harness.settle();
    for (int tag : {100, 101, 104, 121, 122, 110, 111, 112}) EXPECT_FALSE(switchOf(tag)->isEnabled()) << tag;
    for (int tag : {106, 107, 105, 108, 131, 116, 118, 123, 127, 128}) EXPECT_TRUE(switchOf(tag)->isEnabled()) << tag;
    // A forwarding row ignores taps.
    const size_t before = updates();
    auto path = screen->indexPathForTag(114);
    ASSERT_TRUE(harness.selectRow(*screen->tableView(), path));
    harness.advance(1);
    EXPECT_EQ(updates(), before);
    EXPECT_FALSE(busy(114));
}

TEST_F(PhoneSettings, AForwardingRowTogglesItsPhoneAndAStalePositionSendsNothing) {
    auto phones = app->account()->sortedPhones();
    ASSERT_GE(phones.size(), 1u);
    const bool forwarded = phones[0]->forwarded();
    ASSERT_TRUE(harness.selectRow(*screen->tableView(), screen->indexPathForTag(114)));
    ASSERT_TRUE(runUntil([&] { return app->account()->sortedPhones()[0]->forwarded() != forwarded && !busy(114); }));
    EXPECT_EQ(updates(), 1u);
    // A position past the phones (the list changed under a quick setting): nothing goes out, and
    // no row is left busy.
    HXSettingsEnd end = HXSettingsEnd::Applied;
    screen->markRowBusy({screen->sectionForTag(114), 7});
    screen->enableForwardingForNumber(7, true, [&](HXSettingsEnd e) { end = e; });
    ASSERT_TRUE(runUntil([&] { return end != HXSettingsEnd::Applied; }));
    EXPECT_EQ(end, HXSettingsEnd::NotSent);
    EXPECT_EQ(updates(), 1u);
    EXPECT_TRUE(screen->updatingCells().empty());
}

// A settings update draws again only what changed, yet the screen then shows what reading the
// whole table again shows: a changed value, a changed header, phones linked and unlinked, and the
// sections that come and go with them.
TEST_F(PhoneSettings, AnUpdateShowsWhatReadingTheWholeTableShows) {
    auto& table = *screen->tableView();
    // The headers are read as the rows scroll by; the account's header as it stands at the top,
    // where the update finds it.
    auto shown = [&] {
        std::vector<std::string> texts;
        auto* top = dynamic_cast<toolkit::TableViewHeaderFooterView*>(table.headerView(0).get());
        texts.push_back(top ? top->textLabel().text() : "no header");
        for (long s = 0; s < table.numberOfSections(); ++s) {
            for (long r = 0; r < table.numberOfRows(s); ++r) {
                table.scrollToRow({s, r}, toolkit::ScrollPosition::Middle, false);
                harness.settle();
                if (r == 0)
                    if (auto* header = dynamic_cast<toolkit::TableViewHeaderFooterView*>(table.headerView(s).get()))
                        texts.push_back("header " + header->textLabel().text());
                auto cell = table.cellForRow({s, r});
                texts.push_back(cell ? HXSettingsCellContent(*cell) : "no cell");
            }
        }
        return texts;
    };
    auto a = app->account();
    const auto phones = a->phones();
    auto linked = [&](bool voip, size_t extra) {
        HX_Account::PhoneMap map;
        for (const auto& [id, phone] : phones) {
            auto copy = std::make_shared<HX_Phone>(*phone);
            if (voip) copy->setIsVOIP(true), copy->setClientType(2);
            map[id] = copy;
        }
        for (size_t i = 0; i < extra; ++i) {
            auto phone = std::make_shared<HX_Phone>();
            phone->setPhoneId(100 + static_cast<int64_t>(i));
            phone->setName("Cabin " + std::to_string(i));
            phone->setNumber("+1555020000" + std::to_string(i));
            map[phone->phoneId()] = phone;
        }
        return map;
    };
    struct Case {
        const char* what;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"a switch and the balance",
         [&] {
             a->setDndEnabled(!a->dndEnabled());
             a->setBalance("$9.99");
         }},
        {"the service number", [&] { a->setHXnumber("+15550001111"); }},
        {"a phone linked", [&] { a->setPhones(linked(false, 1)); }},
        {"every phone a VoIP client", [&] { a->setPhones(linked(true, 0)); }},
        {"no phones", [&] { a->setPhones({}); }},
        {"the phones back", [&] { a->setPhones(phones); }},
    };
    for (const auto& c : cases) {
        // Every reply in first: one arriving later would put the service's account back.
        ASSERT_TRUE(runUntil([&] { return app->isIdle(); })) << c.what;
        screen->scrollToTop();
        harness.settle();
        c.change();
        const size_t whole = table.wholeReloads();
        foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification");
        harness.advance(1);
        harness.settle();
        EXPECT_EQ(table.wholeReloads(), whole) << c.what;
        const auto updated = shown();
        table.reloadData();
        screen->scrollToTop();
        harness.settle();
        EXPECT_EQ(updated, shown()) << c.what;
    }
}

// A row is busy exactly while a change of its own is in flight: a greeting change marks its row,
// a row drawn anew keeps its spinner, and a screen coming back with nothing in flight drops the
// busy marks left behind.
TEST_F(PhoneSettings, ARowIsBusyExactlyWhileItsChangeIsInFlight) {
    std::string otherGreeting;
    for (const auto& key : app->account()->vmGreetings().keys())
        if (key.string() != app->account()->currentVmGreetingId()) otherGreeting = key.string();
    ASSERT_FALSE(otherGreeting.empty()) << "the service offers a second greeting";
    struct Case {
        const char* what;
        int tag;
        std::function<void()> act;
        bool busy;
    };
    const Case cases[] = {
        {"a greeting change", 115,
         [&] {
             service->script("/voice/v1/voiceclient/account/update", {.hold = true, .passThrough = true});
             const size_t sent = updates();
             screen->setVMGreeting(otherGreeting, {});
             ASSERT_TRUE(runUntil([&] { return updates() == sent + 1; }));
         },
         true},
        {"a switch's row drawn anew", 100,
         [&] {
             service->script("/voice/v1/voiceclient/account/update", {.hold = true, .passThrough = true});
             const size_t sent = updates();
             ASSERT_TRUE(harness.tap(*switchOf(100)));
             ASSERT_TRUE(runUntil([&] { return updates() == sent + 1; }));
             screen->tableView()->reloadData();
             harness.settle();
         },
         true},
        {"a row marked with nothing in flight, then the screen shown again", 101,
         [&] {
             screen->markRowBusy(screen->indexPathForTag(101));
             screen->tableView()->reloadData();
             harness.settle();
             ASSERT_TRUE(busy(101));
             app->selectViewForIndex(0);
             harness.settle();
             app->selectViewForIndex(4);
             harness.settle();
         },
         false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(runUntil([&] { return app->isIdle(); })) << c.what;
        c.act();
        EXPECT_EQ(busy(c.tag), c.busy) << c.what;
        service->releaseHeld();
        ASSERT_TRUE(runUntil([&] { return app->isIdle() && !busy(c.tag); })) << c.what;
    }
}

// The callback row names the phone that rings back: a linked one by its name even when it is no
// call method (a VoIP client), and one no longer linked gives way to the first real phone.
TEST_F(PhoneSettings, TheCallbackRowNamesALinkedPhoneAndAGoneOneGivesWayToTheFirstPhoneThatRingsBack) {
    auto a = app->account();
    // A VoIP client sorts after the real phones but may come first among the ids.
    auto voip = std::make_shared<HX_Phone>();
    voip->setPhoneId(0);
    voip->setName("Tablet");
    voip->setIsVOIP(true);
    voip->setClientType(2);
    a->phones()[0] = voip;
    const auto first = a->callMethods(app->isPhone()).front();
    ASSERT_FALSE(first->isVOIP());
    struct Case {
        const char* what;
        int64_t stored, shown;
        std::string name;
    };
    const Case cases[] = {
        {"a phone no longer linked", 42, first->phoneId(), first->name()},
        {"a linked VoIP client", 0, 0, "Tablet"},
    };
    for (const auto& c : cases) {
        a->setForwardingPhoneID(c.stored);
        foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification");
        harness.advance(1);
        harness.settle();
        EXPECT_EQ(a->forwardingPhoneID(), c.shown) << c.what;
        EXPECT_EQ(cellOf(103)->textLabel().text(), c.name) << c.what;
    }
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->integerForKey("forwardingID"), first->phoneId())
        << "a replaced phone is stored";
}

// The app's switches that a preset holds (refresh, message sounds, voicemail prefetch) name the
// preset the settings now match in the quick-settings row as soon as they are switched.
TEST_F(PhoneSettings, SwitchesAPresetHoldsNameTheMatchingPresetAtOnce) {
    struct Case {
        int tag;
        const char* preset;
        std::function<void(HX_QuickSetting&)> flip;
    };
    auto other = [](int64_t tri) { return tri == 2 ? 1 : 2; };
    const Case cases[] = {
        {106, "Refresh", [&](HX_QuickSetting& q) { q.setAutoRefresh(other(q.autoRefresh())); }},
        {107, "Sounds", [&](HX_QuickSetting& q) { q.setMessageSounds(other(q.messageSounds())); }},
        {116, "Prefetch", [&](HX_QuickSetting& q) { q.setPrefetchVM(other(q.prefetchVM())); }},
    };
    auto a = app->account();
    auto presetName = [&] {
        auto* detail = cellOf(117)->detailTextLabel();
        return detail ? detail->text() : std::string();
    };
    for (const auto& c : cases) {
        auto preset = a->quickSetting(*app, *foundation::UserDefaults::standardUserDefaults());
        c.flip(*preset);
        a->quickSettings()[c.preset] = preset->archived().value();
        // The screen reads the presets' names as it comes on screen. What the views load as they
        // appear lands before each look (the clock stands still meanwhile), however slow the
        // replies are.
        app->selectViewForIndex(0);
        ASSERT_TRUE(settleRequests());
        app->selectViewForIndex(4);
        ASSERT_TRUE(settleRequests());
        ASSERT_NE(presetName(), c.preset) << c.tag;
        ASSERT_TRUE(harness.tap(*switchOf(c.tag))) << c.tag;
        ASSERT_TRUE(settleRequests());
        EXPECT_EQ(presetName(), c.preset) << c.tag;
        ASSERT_TRUE(harness.tap(*switchOf(c.tag))) << c.tag;
        ASSERT_TRUE(settleRequests());
    }
}

TEST_F(PhoneSettings, ClearingTheAudioCacheWithoutAUserNameKeepsTheCachesFolder) {
    const std::string caches = app->cachesFolderForUser("x");
    const auto root = std::filesystem::path(caches).parent_path();
    struct Case {
        std::string user;
        bool ownFolderGone;
    };
    for (const auto& c : {Case{app->account()->username(), true}, Case{"", false}}) {
        std::filesystem::create_directories(root / "keep");
        foundation::files::writeAtomically(root / "keep" / "a.bin", std::string("x")).ok();
        const auto own = std::filesystem::path(app->cachesFolderForUser(app->account()->username()));
        std::filesystem::create_directories(own);
        foundation::files::writeAtomically(own / "v1.mp3", std::string("x")).ok();
        const std::string saved = app->account()->username();
        app->account()->setUsername(c.user);
        ASSERT_TRUE(harness.selectRow(*screen->tableView(), screen->indexPathForTag(109)));
        harness.settle();
        ASSERT_TRUE(harness.tapAlertAction("Clear audio/video cache")) << c.user;
        harness.settle();
        app->account()->setUsername(saved);
        EXPECT_TRUE(std::filesystem::exists(root / "keep" / "a.bin")) << "user '" << c.user << "'";
        EXPECT_EQ(!std::filesystem::exists(own / "v1.mp3"), c.ownFolderGone) << "user '" << c.user << "'";
    }
}

TEST_F(PhoneSettings, ThePasscodePadsAreAnsweredByTheSettingsScreen) {
    auto roles = app->screenRoles();
    auto passcode = roles.passcode.lock();
    ASSERT_TRUE(passcode);
    auto delegate = passcode->passcodePadDelegateScreen();
    EXPECT_EQ(delegate, screen);
    auto setupDelegate = std::dynamic_pointer_cast<HXCPadLockScreenSetupViewControllerDelegate>(delegate);
    ASSERT_TRUE(setupDelegate);
    auto& lock = passcode->passcodeLock();
    HXCPinSetup setup(nullptr, setupDelegate);
    screen->pinSet("4321", setup);
    EXPECT_TRUE(lock.passcodeRequired());
    screen->tableView()->reloadData();
    harness.settle();
    EXPECT_EQ(cellOf(124)->detailTextLabel()->text(), "On");
    HXCPinUnlock unlock(nullptr, std::dynamic_pointer_cast<HXCPadLockScreenViewControllerDelegate>(delegate));
    EXPECT_TRUE(screen->validatePin("4321", unlock));
    EXPECT_FALSE(screen->validatePin("1234", unlock));
    screen->unlockWasSuccessful(unlock);
    EXPECT_FALSE(lock.passcodeRequired());
    screen->tableView()->reloadData();
    harness.settle();
    EXPECT_EQ(cellOf(124)->detailTextLabel()->text(), "Off");
}

TEST_F(PhoneSettings, NotificationTypesChangeOnlyTheirBitsAndAreStoredOnLeaving) {
    // The launch's own requests end first: the outline is of the settled screen.
    ASSERT_TRUE(runUntil([] { return !foundation::Application::shared().isNetworkActivityIndicatorVisible(); }));
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    defaults->setInteger(8 | 7, "notificationTypes");
    ASSERT_TRUE(harness.selectRow(*screen->tableView(), screen->indexPathForTag(132)));
    harness.settle();
    auto* nav = screen->navigationController();
    ASSERT_TRUE(nav);
    auto* types = dynamic_cast<VC_NotificationTypes*>(nav->topViewController());
    ASSERT_TRUE(types);
    expectOutline("notification_types");
    for (long row : {0L, 2L}) {
        auto* toggle = dynamic_cast<ToggleCell*>(types->tableView()->cellForRow({0, row}).get());
        ASSERT_TRUE(toggle);
        ASSERT_TRUE(harness.tap(*toggle->onOff));
    }
    EXPECT_EQ(defaults->integerForKey("notificationTypes"), 15) << "stored only on leaving";
    nav->popViewController(false);
    harness.settle();
    EXPECT_EQ(defaults->integerForKey("notificationTypes"), 8 | 2);
    EXPECT_EQ(cellOf(132)->detailTextLabel()->text(), "VM");
}

TEST_F(PhoneSettings, TheAccountHeaderShowsBothItsLinesAndAboutIsAnInformationButton) {
    auto& table = *screen->tableView();
    screen->scrollToTop();
    harness.settle();
    auto* header = dynamic_cast<toolkit::TableViewHeaderFooterView*>(table.headerView(0).get());
    ASSERT_TRUE(header);
    auto& label = header->textLabel();
    EXPECT_EQ(label.text().substr(0, label.text().find('\n')), app->account()->username());
    const auto box = label.textBox(label.bounds().width());
    EXPECT_EQ(box.lines.size(), 2u) << "the user name, then \"HX Number: ...\"";
    EXPECT_FALSE(box.truncated);
    EXPECT_GE(label.frame().height(), box.size.height) << "no line clipped by the label";
    EXPECT_GE(label.frame().minY(), 0);
    EXPECT_LE(label.frame().maxY(), header->bounds().height()) << "no line clipped by the header";
    EXPECT_EQ(table.rectForRow(screen->indexPathForTag(117)).minY(), table.rectForHeader(0).maxY());

    // The information button: a drawn glyph in its 32 points, never a cut title.
    auto item = screen->navigationItem().rightBarButtonItem();
    ASSERT_TRUE(item);
    auto* info = dynamic_cast<toolkit::Button*>(item->customView.get());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->buttonType(), toolkit::ButtonType::InfoLight);
    EXPECT_EQ(info->frame().width(), 32);
    EXPECT_TRUE(info->titleLabel()->text().empty());
    EXPECT_EQ(info->accessibilityLabel(), "About 'HX Connect'");
    ASSERT_TRUE(harness.tap(*info));
    harness.settle();
    auto* presented = screen->navigationController()->presentedViewController();
    if (!presented) presented = app->tabBarController()->presentedViewController();
    auto* shown = dynamic_cast<toolkit::NavigationController*>(presented);
    ASSERT_TRUE(shown);
    EXPECT_TRUE(dynamic_cast<VC_Help*>(shown->topViewController()));
}

// "Clear all caches" with a second account's files beside the signed-in one's: the message steps,
// then the audio folder, then the cookies and a renewal of the token, all of the signed-in
// account only.
TEST_F(PhoneSettings, ClearingAllCachesGoesStepByStepAndLeavesTheOtherAccountsFiles) {
    ASSERT_TRUE(runUntil([&] { return app->isIdle(); }));
    const std::string own = app->account()->username();
    const std::string other = "bob@example.test";
    storeOtherAccount(other, "2025550177");
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    auto cookies = defaults->dictionaryForKey("cookies").value_or(foundation::Dictionary{});
    cookies.set(other, foundation::Value(foundation::Data{'c'}));
    (void)defaults->setObject(foundation::Value(cookies), "cookies");
    // Each account's audio, store and search entries.
    auto seed = [](const std::filesystem::path& file) {
        std::filesystem::create_directories(file.parent_path());
        ASSERT_TRUE(foundation::files::writeAtomically(file, std::string("seeded")).ok());
    };
    const std::filesystem::path ownAudio = std::filesystem::path(app->cachesFolderForUser(own)) / "v1.mp3";
    const std::filesystem::path otherAudio = std::filesystem::path(app->cachesFolderForUser(other)) / "v2.mp3";
    const std::filesystem::path otherStore = HXApplicationModel::storePathForAccount(other);
    seed(ownAudio);
    seed(otherAudio);
    seed(otherStore);
    auto domain = [](const std::string& user) {
        return PhoneExtensions::extractCharactersFromStringUsingCharset(user, foundation::CharacterSet::alphanumeric());
    };
    auto index = services::SearchableIndex::defaultSearchableIndex();
    index->indexSearchableItems({{"own-1", domain(own), {}}, {"other-1", domain(other), {}}});
    auto indexed = [&](const std::string& id) {
        for (const auto& item : index->items())
            if (item.uniqueIdentifier == id) return true;
        return false;
    };
    auto context = app->managedObjectContext();
    ASSERT_TRUE(context);
    auto conversations = [&] {
        size_t n = 0;
        context->performAndWait(
            [&] { n = context->count(store::FetchRequest(HXMessageStore::kConversationEntity)).valueOr(0); });
        return n;
    };
    ASSERT_GT(conversations(), 0u) << "the launch stored the account's messages";
    auto jar = app->cookieJar();
    ASSERT_TRUE(jar && !jar->_cookies().empty());
    // An expired token: the renewal has to ask the service.
    auto oauth = app->account()->oAuthDict().value_or(foundation::Dictionary{});
    oauth.set("expirationDate", foundation::Date{1});
    app->account()->setOAuthDict(oauth);

    // What each step found when the next one announced itself.
    struct Seen {
        std::string step;
        size_t conversations;
        bool ownIndexed, ownAudio, cookies;
        size_t tokenRequests;
    };
    std::vector<Seen> seen;
    const std::string token = "/o/oauth2/tokenrpc";
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const char* name : {"kLogoutNotification", "kClearedAudioCacheNotification"})
        center.addObserver(this, name, [&, name](const foundation::Notification&) {
            seen.push_back({name, conversations(), indexed("own-1"), std::filesystem::exists(ownAudio),
                            !jar->_cookies().empty(), requestsTo(token)});
        });
    const size_t tokensBefore = requestsTo(token);
    ASSERT_TRUE(harness.selectRow(*screen->tableView(), screen->indexPathForTag(109)));
    harness.settle();
    ASSERT_TRUE(harness.tapAlertAction("Clear all caches"));
    center.removeObserver(this);
    ASSERT_EQ(seen.size(), 2u);
    // The message cache first: the logout is heard before the store and the index are emptied.
    EXPECT_EQ(seen[0].step, "kLogoutNotification");
    EXPECT_GT(seen[0].conversations, 0u);
    EXPECT_TRUE(seen[0].ownIndexed);
    EXPECT_TRUE(seen[0].ownAudio);
    // Then the audio folder, with the messages gone and the cookies still there.
    EXPECT_EQ(seen[1].step, "kClearedAudioCacheNotification");
    EXPECT_EQ(seen[1].conversations, 0u);
    EXPECT_FALSE(seen[1].ownIndexed);
    EXPECT_FALSE(seen[1].ownAudio);
    EXPECT_TRUE(seen[1].cookies);
    EXPECT_EQ(seen[1].tokenRequests, tokensBefore);
    // Last the cookies, and the token is asked for again.
    EXPECT_TRUE(jar->_cookies().empty());
    ASSERT_TRUE(runUntil([&] { return requestsTo(token) > tokensBefore; }));
    EXPECT_EQ(app->account()->username(), own) << "the account stays signed in";
    // The other account keeps everything.
    EXPECT_TRUE(std::filesystem::exists(otherAudio));
    EXPECT_TRUE(std::filesystem::exists(otherStore));
    EXPECT_TRUE(indexed("other-1"));
    EXPECT_TRUE(defaults->dictionaryForKey("accountInfo").value_or(foundation::Dictionary{}).contains(other));
    EXPECT_TRUE(defaults->dictionaryForKey("cookies").value_or(foundation::Dictionary{}).contains(other));
}

// A URL naming another account signs the current one out before the switch: its settings are
// saved, its cookies emptied and its request in flight cancelled, so that nothing of it reaches
// the next account.
TEST_F(PhoneSettings, AnSmsURLForAnotherAccountLogsOutOfTheCurrentOneFirst) {
    ASSERT_TRUE(runUntil([&] { return app->isIdle(); }));
    const std::string first = app->account()->username();
    const std::string other = "bob@example.test";
    storeOtherAccount(other, "2025550177");
    auto jar = app->cookieJar();
    ASSERT_TRUE(jar && !jar->_cookies().empty());
    // A change not saved yet, and a settings change in flight.
    app->account()->setBalance(std::string("$12.34"));
    service->script("/voice/v1/voiceclient/account/update", emulator::ScriptedReply{.hold = true, .passThrough = true});
    ASSERT_TRUE(harness.tap(*switchOf(100)));
    ASSERT_TRUE(runUntil([&] { return updates() == 1; }));

    struct AtSwitch {
        bool cookiesEmptied = false;
        std::optional<std::string> savedBalance;
    };
    std::optional<AtSwitch> atSwitch;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, "kAccountSelectedNotification", [&](const foundation::Notification&) {
        AtSwitch at;
        at.cookiesEmptied = jar->_cookies().empty();
        auto infos = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("accountInfo");
        const auto* archive = infos ? infos->find(first) : nullptr;
        if (archive && archive->isData())
            if (auto saved = HX_Account::unarchived(archive->asData()); saved.ok() && saved.value())
                at.savedBalance = saved.value()->balance();
        atSwitch = at;
    });
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://sms?account=bob%40example.test"));
    center.removeObserver(this);
    ASSERT_TRUE(atSwitch) << "the account was switched";
    EXPECT_TRUE(atSwitch->cookiesEmptied) << "the first account's session ended before the switch";
    EXPECT_EQ(atSwitch->savedBalance, std::optional<std::string>("$12.34")) << "and its settings were saved";
    EXPECT_EQ(app->account()->username(), other);
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->stringForKey("username"), other);
    // The first account's reply, let go now, finds its request cancelled.
    service->releaseHeld();
    harness.advance(2);
    harness.settle();
    EXPECT_EQ(app->account()->username(), other);
    EXPECT_EQ(app->account()->HXnumber(), std::optional<std::string>("2025550177"));
    EXPECT_FALSE(app->account()->dndEnabled()) << "the first account's change stays with it";
}

TEST_F(PhoneSettings, TheScreenAndItsSheetsAsTheUserSeesThem) {
    ASSERT_TRUE(runUntil([] { return !foundation::Application::shared().isNetworkActivityIndicatorVisible(); }));
    screen->scrollToTop();
    harness.settle();
    expectSnapshot("settings_phone", {.scale = 1, .lightAndDark = true});
    expectSheets(*this, "phone");
}

TEST_F(TabletSettings, TheScreenAndItsSheetsAsTheUserSeesThem) {
    ASSERT_TRUE(runUntil([] { return !foundation::Application::shared().isNetworkActivityIndicatorVisible(); }));
    screen->scrollToTop();
    harness.settle();
    expectOutline("settings_tablet");
    expectSnapshot("settings_tablet", {.scale = 1, .lightAndDark = true});
    expectSheets(*this, "tablet");
}

}  // namespace

// An update whose only change is the quick-settings footer ("Location Awareness: On/Off") draws
// that section again; and the history switch posts the name the history lists follow.
TEST_F(PhoneSettings, AFooterOnlyUpdateIsDrawnAndTheHistorySwitchTellsTheHistoryLists) {
    ASSERT_TRUE(services::LocationServices::shared().isRegionMonitoringAvailable());
    auto& table = *screen->tableView();
    auto footer = [&] {
        (void)cellOf(117);
        auto* view =
            dynamic_cast<toolkit::TableViewHeaderFooterView*>(table.footerView(screen->sectionForTag(117)).get());
        return view ? view->textLabel().text() : std::string("no footer");
    };
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    for (bool on : {true, false}) {
        (void)defaults->setBool(on, "useQSLocation");
        const size_t whole = table.wholeReloads();
        foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification");
        harness.advance(1);
        harness.settle();
        EXPECT_EQ(table.wholeReloads(), whole);
        EXPECT_EQ(footer(), on ? "Location Awareness: On" : "Location Awareness: Off");
    }

    int posted = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(this, "kHistoryItemsSettingDidChangeNotification",
                                                                [&](const foundation::Notification&) { ++posted; });
    const bool before = defaults->boolForKey("showFullHistory");
    ASSERT_TRUE(harness.tap(*switchOf(127)));
    harness.settle();
    EXPECT_EQ(defaults->boolForKey("showFullHistory"), !before);
    EXPECT_EQ(posted, 1);
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
}

// One road per end of a change: a switch's row is drawn again once, by the settings update when
// the service's reply was applied and by the change's own end when no update follows (nothing to
// change, nothing sent, a failed request); and the update tells the rows that changed without
// making cells to compare with.
TEST_F(PhoneSettings, AChangeDrawsItsRowOnceHoweverItEndsAndTheUpdateMakesNoCells) {
    struct Case {
        const char* what;
        std::function<void()> change;
        bool flips;
    };
    auto tap = [&] { ASSERT_TRUE(harness.tap(*switchOf(100))); };
    const Case cases[] = {
        {"applied", tap, true},
        {"unchanged", [&] { screen->setServiceSetting(HXServiceSetting::DND, app->account()->dndEnabled(), {}); },
         false},
        {"failed",
         [&] {
             injectIntoUpdates(emulator::Fault::Drop);
             tap();
         },
         false},
        {"not sent",
         [&] {
             app->account()->setOAuthDict(std::nullopt);
             tap();
         },
         false},
    };
    auto& table = *screen->tableView();
    for (const auto& c : cases) {
        ASSERT_TRUE(runUntil([&] { return app->isIdle(); })) << c.what;
        (void)cellOf(100);
        const bool dnd = app->account()->dndEnabled();
        const size_t rows = table.rowReloads(), whole = table.wholeReloads(), made = HXSettingsCellsMade();
        c.change();
        ASSERT_TRUE(runUntil([&] { return app->isIdle() && screen->updatingCells().empty(); }, 400)) << c.what;
        harness.advance(1);
        harness.settle();
        EXPECT_EQ(app->account()->dndEnabled(), c.flips ? !dnd : dnd) << c.what;
        EXPECT_EQ(table.rowReloads() - rows, 1u) << c.what << ": its row, drawn once";
        EXPECT_EQ(table.wholeReloads(), whole) << c.what;
        EXPECT_EQ(HXSettingsCellsMade(), made) << c.what << ": the row's own cell is reused, none made to compare";
        EXPECT_EQ(switchOf(100)->isOn(), app->account()->dndEnabled()) << c.what;
    }
}
