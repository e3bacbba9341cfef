// What the tests of the conversation screen's actions share: the conversation role noting the
// contacts' questions and the app URLs opened, the calls and texts, the list's action codes and
// what they did, the options popover, and the screen opened with all of them between it and the
// application object.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "tests/support/pixels.h"
#include "tests/ui/conversation/conversation_support.h"

namespace hxtest {

struct ContactActionsSpy : ConversationSpy {
    std::map<std::string, std::string> recordIDs;  // formatted number -> contact id
    std::atomic<int> resets{0};
    bool restricted = false;
    std::vector<std::string> urls;
    std::vector<std::tuple<std::string, std::string, std::string>> added;
    std::mutex mutex;
    std::vector<std::string> lookups;          // from a background queue
    std::map<std::string, std::string> files;  // media id -> local file, else the app's

    std::string localURLForMedia(const std::string& id, const std::string& mime) override {
        auto found = files.find(id);
        if (found != files.end()) return found->second;
        return m() ? m()->localURLForMedia(id, mime) : std::string();
    }

    std::string recordIDForNumber(const std::string& number) override {
        auto found = recordIDs.find(number);
        return found == recordIDs.end() ? std::string() : found->second;
    }
    void resetContacts() override { ++resets; }
    void lookupPhone(const std::string& number) override {
        std::lock_guard lock(mutex);
        lookups.push_back(number);
    }
    bool isABAccessRestricted() override { return restricted; }
    bool openAppURL(const std::string& url) override {
        urls.push_back(url);
        return true;
    }
    void addContact(const std::string& name, const std::string& number, const std::string& type) override {
        added.emplace_back(name, number, type);
        if (auto role = r()) role->addContact(name, number, type);
    }
    // The lookup runs on a background queue: waited for, a bounded number of turns.
    bool waitForLookup(const std::string& number, toolkit::testing::Harness& harness) {
        for (int turn = 0; turn < 5000; ++turn) {
            {
                std::lock_guard lock(mutex);
                if (std::find(lookups.begin(), lookups.end(), number) != lookups.end()) return true;
            }
            harness.settle();
            std::this_thread::yield();
        }
        return false;
    }
};

struct CallsAndTextsSpy : HXConversationActionsRole {
    std::weak_ptr<HXConversationActionsRole> real;
    std::vector<std::string> placed, texted;
    void placeCallTo(const std::string& number) override { placed.push_back(number); }
    void newMessageToNumber(const std::string& numbers, const std::string&, const std::string&) override {
        texted.push_back(numbers);
    }
};

// The codes the test gives; titles and images the application object's; what a code does noted.
struct ListActionsSpy : HXConversationOperationsRole {
    std::weak_ptr<HXConversationOperationsRole> real;
    std::vector<int> codes;
    std::vector<std::string> log;
    std::shared_ptr<HXConversationOperationsRole> r() const { return real.lock(); }
    std::vector<int> messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>&) override {
        return codes;
    }
    std::optional<std::string> titleForConversationAction(int code) override {
        return r() ? r()->titleForConversationAction(code) : std::nullopt;
    }
    std::optional<std::string> imageForConversationAction(int code) override {
        return r() ? r()->imageForConversationAction(code) : std::nullopt;
    }
    void deleteConversationWithID(const std::string& id) override { log.push_back("delete " + id); }
    void changeArchiveStateForConversationWithID(const std::string& id) override { log.push_back("archive " + id); }
    void changeReadStatusForConversationWithID(const std::string& id) override { log.push_back("read " + id); }
    std::optional<std::string> markConversation(const std::string& id, bool) override {
        log.push_back("mark " + id);
        return std::nullopt;
    }
    void blockContact(bool block, const std::string& id) override {
        log.push_back((block ? "block " : "unblock ") + id);
    }
    void createEmailForConversationWithID(const std::string& id) override { log.push_back("email " + id); }
    void changeSpamStatusForConversationWithID(const std::string& id) override { log.push_back("spam " + id); }
};

struct OptionsSpy : HXConversationOptionsRole {
    std::weak_ptr<HXConversationOptionsRole> real;
    std::vector<std::string> shown;
    void showOptionsForConversation(const std::string& id, graphics::Point, toolkit::View&) override {
        shown.push_back(id);
    }
};

template <typename App>
struct ActionsFixtureOf : ConversationFixtureOf<App> {
    std::shared_ptr<ContactActionsSpy> actions = std::make_shared<ContactActionsSpy>();
    std::shared_ptr<CallsAndTextsSpy> calls = std::make_shared<CallsAndTextsSpy>();
    std::shared_ptr<ListActionsSpy> list = std::make_shared<ListActionsSpy>();
    std::shared_ptr<OptionsSpy> options = std::make_shared<OptionsSpy>();

    explicit ActionsFixtureOf(DeviceForm form = DeviceForm::phone) : ConversationFixtureOf<App>(form) {
        this->spy = actions;
    }
    void SetUp() override {
        ConversationFixtureOf<App>::SetUp();
        services::ContactStore::shared()->removeAllContacts();
    }
    void TearDown() override {
        services::ContactStore::shared()->removeAllContacts();
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::NotDetermined);
        ConversationFixtureOf<App>::TearDown();
    }
    VC_Conversation& s() const { return *this->screen; }
    // Pushed as a list pushes it (peeking: as its preview), every role the test notes in between.
    VC_Conversation& openWithSpies(const std::string& id, int type = 1, const std::string& title = "Ann",
                                   bool peeking = false) {
        auto roles = this->app->screenRoles();
        roles.conversation = spyOn(roles.conversation, *this->spy);
        roles.alerts = alertsSpyOn(roles.alerts, *this->spy);
        roles.media = mediaSpyOn(roles.media, *this->spy);
        roles.sending = standIn<HXSendingRole>(roles.sending, *this->spy);
        roles.pages = standIn<HXConversationPagesRole>(roles.pages, *this->spy);
        roles.conversations = spyOn(roles.conversations, *calls);
        roles.conversationOperations = spyOn(roles.conversationOperations, *list);
        roles.options = spyOn(roles.options, *options);
        auto made = this->app->screens().makeConversationScreen(
            roles, {.conversationID = id, .title = title, .conversationType = type, .peeking = peeking});
        this->screen = std::dynamic_pointer_cast<VC_Conversation>(made);
        EXPECT_TRUE(this->screen);
        auto root = std::make_shared<toolkit::ViewController>();
        this->nav = std::make_shared<toolkit::NavigationController>(root);
        this->harness.setRoot(this->nav);
        this->nav->pushViewController(this->screen, false);
        this->harness.settle();
        return *this->screen;
    }
};
using ActionsFixture = ActionsFixtureOf<HX_ConnectAppDelegate_iPhone>;

}  // namespace hxtest
