// Contacts from the conversation screen, read back by independent tools: a service contact typed
// into the screen's prompt reaches the emulated service as JSON python3 reads; the URLs a card's
// "Call" opens are read by python3's query parser; and contact cards written by python3-vobject
// are drawn in their bubbles as the attachment rules say.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/connect_app_delegate_iphone.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/hxc_font.h"
#include "platform/services/contacts.h"
#include "platform/store/context.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/text_metrics.h"
#include "service/request_machinery.h"
#include "tests/support/alert_caret.h"
#include "tests/support/contacts.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/vobject_cards.h"
#include "tests/ui/conversation/conversation_actions_support.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/shell/ui_screens.h"

namespace {

using hxtest::StoredMessage;

bool havePython(const char* module) {
    return hxtest::haveProgram("/usr/bin/python3") &&
           hxtest::runCommand(std::string("/usr/bin/python3 -c 'import ") + module + "'") == 0;
}

// Runs a python3 script with arguments; its standard output.
std::string python(const std::filesystem::path& dir, const std::string& script, const std::string& arguments) {
    EXPECT_TRUE(foundation::files::writeAtomically(dir / "check.py", std::string_view(script)).ok());
    std::string output;
    EXPECT_EQ(
        hxtest::runCommand("/usr/bin/python3 " + (dir / "check.py").string() + " " + arguments + " 2>&1", &output), 0)
        << output;
    return output;
}

struct ContactsAgainstTheService : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {
    ContactsAgainstTheService()
        : ScreenFixture({.screens = std::make_shared<HXUIScreens>(), .emulator = true, .signedIn = true}) {}
    std::shared_ptr<VC_Conversation> screen;
    std::shared_ptr<toolkit::NavigationController> nav;

    void TearDown() override {
        screen.reset();
        nav.reset();
        ScreenFixture::TearDown();
    }
    void start() {
        ASSERT_TRUE(launch());
        ASSERT_TRUE(harness.clock().runUntil(
            [&] {
                return app->account() && app->account()->oAuthDict() && !app->settingsLoading() &&
                       HXWebClientOf(*app).requests.empty() && !service->requests().empty();
            },
            30));
        // A number the service names by the number itself: without contacts access the add
        // button asks for a service contact.
        auto context = app->managedObjectContext();
        auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("conversationID", "named-by-number");
        (void)c->setValue("type", int64_t{10});
        (void)c->setValue("phoneNumber", "+15550188");
        (void)c->setValue("sender", "+15550188");
        (void)c->setValue("isRead", true);
        auto m = context->insertNewObject(HXMessageStore::kMessageEntity).value();
        (void)m->setValue("id", "m1");
        (void)m->setValue("message", "hi");
        (void)m->setObject("Conversation", c);
        ASSERT_TRUE(context->save().ok());
        screen = std::dynamic_pointer_cast<VC_Conversation>(app->screens().makeConversationScreen(
            app->screenRoles(), {.conversationID = "named-by-number", .title = "+15550188", .conversationType = 1}));
        ASSERT_TRUE(screen);
        nav = std::make_shared<toolkit::NavigationController>(std::make_shared<toolkit::ViewController>());
        harness.setRoot(nav);
        nav->pushViewController(screen, false);
        harness.settle();
    }
    std::vector<emulator::RecordedRequest> peopleRequests() const {
        std::vector<emulator::RecordedRequest> out;
        for (auto& r : service->requests())
            if (r.path.rfind("/v2/people", 0) == 0) out.push_back(r);
        return out;
    }
};

struct ContactsOnTheScreen : hxtest::ActionsFixture {};

}  // namespace

TEST_F(ContactsAgainstTheService, AServiceContactsTypedNameReachesTheServiceAsValidJSON) {
    if (!havePython("json")) GTEST_SKIP() << "no python3";
    ASSERT_NO_FATAL_FAILURE(start());
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Denied);
    struct Case {
        std::string name, type, sent;
    };
    const std::vector<Case> cases = {
        {"Ann \"The Hammer\" O'Neil", "Work", "work"},
        {"Back\\slash \\\"", "Home", "home"},
        {"{\"x\": [1]} </script> & \\u0041", "Mobile", "mobile"},
        {"\u00C5sa \u00D6berg \u0645\u0631\u064A\u0645", "Mobile", "mobile"},
    };
    hxtest::TempDir dir;
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        screen->contactHeader()->addContactToSource("");
        harness.settle();
        auto* prompt = harness.visibleAlert();
        ASSERT_NE(prompt, nullptr);
        ASSERT_EQ(prompt->title(), "Add Contact") << prompt->message().value_or("") << " at " << i;
        if (i == 0) hxtest::expectAlertCaretSwipes(harness);  // swipes move the name's caret
        ASSERT_TRUE(harness.fillAlertField(0, c.name));
        ASSERT_TRUE(harness.tapAlertAction("OK"));
        ASSERT_TRUE(harness.tapAlertAction(c.type));
        ASSERT_TRUE(harness.clock().runUntil([&] { return peopleRequests().size() == i + 1; }, 30)) << c.name;
        const auto body = peopleRequests().back().body;
        ASSERT_TRUE(foundation::files::writeAtomically(dir.path() / "body.json", std::string_view(body)).ok());
        ASSERT_TRUE(foundation::files::writeAtomically(dir.path() / "name.txt", std::string_view(c.name)).ok());
        const std::string out = python(dir.path(), R"PY(
import json, sys
body = json.load(open(sys.argv[1], encoding='utf-8'))
name = open(sys.argv[2], encoding='utf-8', newline='').read()
print(body['name']['display_name'] == name, body['phone']['value'], body['phone']['type'])
)PY",
                                       (dir.path() / "body.json").string() + " " + (dir.path() / "name.txt").string());
        EXPECT_EQ(out, "True +15550188 " + c.sent + "\n") << c.name << "\n" << body;
    }
    auto added = service->withAccount([](emulator::Account& a) { return a.addedContacts; });
    ASSERT_EQ(added.size(), cases.size());
    EXPECT_EQ(added[0].name, cases[0].name);
}

TEST_F(ContactsOnTheScreen, ACardsCallURLIsReadBackWholeByAQueryParser) {
    if (!havePython("urllib.parse")) GTEST_SKIP() << "no python3";
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    const std::vector<std::string> numbers = {"+44 20 7946 0958", "*#21#", "555 0199#22", "(555) 010-0188,,9"};
    std::vector<services::LabeledPhoneNumber> phones;
    for (size_t i = 0; i < numbers.size(); ++i) phones.push_back({"mobile", numbers[i], "p" + std::to_string(i)});
    services::ContactStore::shared()->addContact(hxtest::person("Ann", "Lee", phones, "ann-1"));
    auto c = storeConversation("t1", 10, "Ann Lee");
    (void)c->setValue("ABName", "Ann Lee");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = openWithSpies("t1", 1, "Ann Lee");
    actions->recordIDs[c->value("formattedNumber").stringValue()] = "ann-1";
    actions->recordIDs["+15550188"] = "ann-1";
    // The account's phones: "Direct Call" (the device's own way) and a named one.
    auto account = app->account();
    ASSERT_TRUE(account);
    auto phone = [](int64_t id, const std::string& name) {
        auto p = std::make_shared<HX_Phone>();
        p->setPhoneId(id);
        p->setName(name);
        p->setNumber("+15550100");
        return p;
    };
    account->phones()[7] = phone(7, "Direct Call");
    account->phones()[8] = phone(8, "Work & Home #2");
    foundation::UserDefaults::standardUserDefaults()->setBool(false, "useNativeDialerActions");
    struct Case {
        bool skip;
        int64_t method;
        std::string expectedMethod;
    };
    const std::vector<Case> cases = {{false, 0, ""}, {true, 7, "DirectCall"}, {true, 8, "Work & Home #2"}};
    std::string expected;
    for (const auto& k : cases) {
        foundation::UserDefaults::standardUserDefaults()->setBool(k.skip, "skipDialpad");
        account->setForwardingPhoneID(k.method);
        for (size_t row = 0; row < numbers.size(); ++row) {
            s.contactHeader()->openContact(nullptr);
            harness.settle();
            ASSERT_TRUE(s.contactHeader()->contactCard());
            s.contactHeader()->contactCard()->tapProperty(row);
            harness.settle();
            auto* sheet = harness.visibleAlert();
            ASSERT_NE(sheet, nullptr);
            std::string call;
            for (const auto& a : sheet->actions())
                if (a->title().rfind("Call ", 0) == 0) call = a->title();
            ASSERT_TRUE(harness.tapAlertAction(call));
            std::string reduced;
            for (char ch : numbers[row])
                if (std::string_view("0123456789*#+").find(ch) != std::string_view::npos) reduced += ch;
            expected += reduced + "|" + k.expectedMethod + "\n";
        }
    }
    foundation::UserDefaults::standardUserDefaults()->setBool(false, "skipDialpad");
    ASSERT_EQ(actions->urls.size(), cases.size() * numbers.size());
    hxtest::TempDir dir;
    std::string lines;
    for (const auto& url : actions->urls) lines += url + "\n";
    ASSERT_TRUE(foundation::files::writeAtomically(dir.path() / "urls.txt", std::string_view(lines)).ok());
    // Without a call method the query is the number alone: read as a key without a value.
    const std::string out = python(dir.path(), R"PY(
import sys, urllib.parse
for line in open(sys.argv[1]).read().splitlines():
    u = urllib.parse.urlsplit(line)
    assert u.scheme == 'hxconnect' and u.netloc == 'call' and u.fragment == '', line
    q = urllib.parse.parse_qs(u.query, keep_blank_values=True)
    if 'number' in q:
        print(q['number'][0] + '|' + q['callmethod'][0])
    else:
        print(urllib.parse.unquote(u.query) + '|')
)PY",
                                   (dir.path() / "urls.txt").string());
    EXPECT_EQ(out, expected) << lines;
}

// Bubbles of contact cards: the card's file as an independent writer makes it, the bubble's text,
// avatar and size as the attachment rules give them.
TEST_F(ContactsOnTheScreen, ContactCardsOfAnIndependentWriterDrawAsTheirBubblesSay) {
    if (!hxtest::haveVobject()) GTEST_SKIP() << "python3-vobject is not installed (./hx deps)";
    hxtest::TempDir dir;
    ASSERT_EQ(hxtest::writeVobjectCards(dir.path(), hxtest::pngOf(64, 64, 0x00C000FFu), "PNG"), "");

    struct Case {
        std::string file, title;
        std::string avatarText;  // the initials shown, "" none
        bool picture, symbol;    // a round picture, the card or company symbol
    };
    const std::vector<Case> cases = {
        {"person", "Ada Lovelace", "", true, false},
        {"plain", "\u00E9mile zola", "\u00C9Z", false, false},
        {"org", "Acme & Sons", "", false, true},
        {"three", "3 Contacts", "", false, true},
    };
    foundation::Array attachments;
    for (const auto& k : cases) {
        actions->files[k.file] = (dir.path() / (k.file + ".vcf")).string();
        attachments.push_back(foundation::Dictionary{{"id", k.file}, {"mimeType", "text/x-vcard"}});
    }
    auto c = storeConversation("cards", 10, "Ann");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "", .attachments = attachments}});
    auto& s = openWithSpies("cards", 1, "Ann");
    const double W = s.tableView().bounds().width();
    auto font = graphics::HXCFont::HXCFontForType(4);
    ASSERT_TRUE(font);
    for (size_t row = 0; row < cases.size(); ++row) {
        const auto& k = cases[row];
        s.tableView().scrollToRow({0, static_cast<long>(row)}, toolkit::ScrollPosition::Middle, false);
        harness.settle();
        auto cell =
            std::dynamic_pointer_cast<ConversationTableViewCell>(s.tableView().cellForRow({0, static_cast<long>(row)}));
        ASSERT_TRUE(cell) << k.file;
        auto* card = cell->contentView().viewWithTag(2);
        ASSERT_NE(card, nullptr) << k.file << ": drawn as a card";
        std::vector<toolkit::Label*> labels;
        std::vector<toolkit::ImageView*> images;
        for (const auto& sub : card->subviews()) {
            if (auto* l = dynamic_cast<toolkit::Label*>(sub.get())) labels.push_back(l);
            if (auto* i = dynamic_cast<toolkit::ImageView*>(sub.get())) images.push_back(i);
        }
        ASSERT_EQ(labels.size(), 2u) << k.file << ": avatar and title";
        toolkit::Label* avatar = labels[0];
        toolkit::Label* title = labels[1];
        EXPECT_EQ(title->text(), k.title + "\nTap to view") << k.file;
        EXPECT_EQ(avatar->frame().width(), 40);
        EXPECT_EQ(avatar->frame().minX(), 12);
        EXPECT_EQ(avatar->text(), k.avatarText) << k.file;
        EXPECT_EQ(images.size(), k.picture || k.symbol ? 1u : 0u) << k.file;
        if (!images.empty()) {
            EXPECT_EQ(images[0]->frame(), avatar->frame()) << k.file;
        }
        EXPECT_EQ(cell->messageView().textColor(), graphics::Color::clear()) << "the missing-card text is hidden";
        // The bubble: the title's text measured in the row's room, 60 + 12 wider and 23 taller
        // (56 at least).
        const auto measured = toolkit::textMeasurer().measure(
            k.title + "\nTap to view", *font, std::max(1.0, W - 110 - 60), 0, graphics::LineBreakMode::wordWrap);
        const toolkit::Size size = s.messageSizeForRow({0, static_cast<long>(row)});
        EXPECT_EQ(size.width, std::ceil(measured.width + 72)) << k.file;
        EXPECT_EQ(size.height, std::ceil(std::max(measured.height + 23, 56.0))) << k.file;
        EXPECT_EQ(card->frame().width(), size.width);
    }
}
