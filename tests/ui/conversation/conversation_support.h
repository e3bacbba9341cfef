// What the conversation screen's tests share: a signed-in phone with an empty store, one
// conversation written into it as a list's parse leaves it, the screen pushed as the lists push
// it, and a conversation role that notes what the screen asked of it before passing it on.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "model/message_store.h"
#include "platform/toolkit/navigation_controller.h"
#include "tests/support/role_spies.h"
#include "tests/support/screen_fixture.h"
#include "tests/ui/messages/stored_threads.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/shell/ui_screens.h"

namespace hxtest {

// Notes the screen's requests; answers the rest from the application object's roles. It stands in
// for the alerts role too (alertsSpyOn): the model alerts are noted, contacts are never restricted;
// for the sending (standIn): the sends are noted and go no further; for the tablet's note
// draft (standIn): the draft is kept here; and for the media role (mediaSpyOn): the thumbnails and
// previews asked for are noted.
struct ConversationSpy : HXConversationRole,
                         HXMediaRole,
                         HXConversationPagesRole,
                         HXAlertsRole,
                         HXSendingRole,
                         HXNoteDraftRole {
    std::weak_ptr<HXConversationRole> real;
    std::weak_ptr<HXAlertsRole> realAlerts;
    std::weak_ptr<HXMediaRole> realMedia;
    std::vector<std::string> thumbnails;
    std::vector<std::pair<std::string, std::string>> deleted;
    std::vector<std::pair<std::string, std::string>> olderPages;
    std::vector<std::optional<std::string>> notes;
    std::vector<std::string> smsSent;
    HXSendCompletion lastCompletion;
    std::vector<HXAlert> alerts;
    std::optional<foundation::Dictionary> cache;

    std::shared_ptr<HXConversationRole> r() const { return real.lock(); }
    std::shared_ptr<HXMediaRole> m() const { return realMedia.lock(); }
    std::shared_ptr<HX_Account> account() const override {
        auto a = realAlerts.lock();
        return a ? a->account() : nullptr;
    }
    bool connectionAvailable() const override {
        auto a = realAlerts.lock();
        return a && a->connectionAvailable();
    }
    void presentAlert(const std::shared_ptr<toolkit::AlertController>& alert, toolkit::ViewController* from) override {
        if (auto a = realAlerts.lock()) a->presentAlert(alert, from);
    }
    // A preference set here is answered from here; the others as the role reads them.
    std::map<HXPreference, bool> preferences;
    bool preference(HXPreference preference) const override {
        const auto it = preferences.find(preference);
        return it != preferences.end() ? it->second : HXAlertsRole::preference(preference);
    }
    std::shared_ptr<store::ManagedObject> getConversationWithID(const std::string& id) override {
        return r() ? r()->getConversationWithID(id) : nullptr;
    }
    std::shared_ptr<HXStoreRows> messageRows(const std::string& id, std::weak_ptr<HXRowsObserver> o) override {
        return r() ? r()->messageRows(id, std::move(o)) : nullptr;
    }
    // The pages asked for wait here until the test answers them.
    std::vector<HXPageCompletion> pageAnswers;
    void loadOlder(const std::string& id, const std::string& token, HXPageCompletion done) override {
        olderPages.emplace_back(id, token);
        pageAnswers.push_back(std::move(done));
    }
    void loadNewest(const std::string& id, HXPageCompletion done) override {
        newestPages.push_back(id);
        pageAnswers.push_back(std::move(done));
    }
    std::vector<std::string> newestPages;
    bool deleteMessage(const std::string& c, const std::string& m) override {
        deleted.emplace_back(c, m);
        return true;
    }
    void setNote(const std::optional<std::string>& note, const std::string& id) override {
        notes.push_back(note);
        if (r()) r()->setNote(note, id);
    }
    void addContact(const std::string&, const std::string&, const std::string&) override {}
    std::shared_ptr<HXCCache> mediaCache() override { return m() ? m()->mediaCache() : nullptr; }
    bool requestThumbnail(const std::string& id) override {
        thumbnails.push_back(id);
        return true;
    }
    void whenMediaArrives(const std::string& id, std::function<void()> arrived) override {
        if (m()) m()->whenMediaArrives(id, std::move(arrived));
    }
    void downloadFullSizeImageForAttachment(const std::string&, const std::string&) override {}
    // The ids whose video preview was asked for.
    std::vector<std::string> previews;
    void downloadMediaIfNeeded(const std::string& id, const std::string&, bool forPreview) override {
        if (forPreview) previews.push_back(id);
    }
    std::string localURLForMedia(const std::string& id, const std::string& mime) override {
        return m() ? m()->localURLForMedia(id, mime) : std::string();
    }
    std::optional<foundation::Dictionary> imageInfoForSize(const std::string& size,
                                                           const foundation::Array& infos) override {
        return m() ? m()->imageInfoForSize(size, infos) : std::nullopt;
    }
    void downloadVMforID(const std::string& id) override {
        if (m()) m()->downloadVMforID(id);
    }
    void downloadRecordedCallForID(const std::string& id) override {
        if (m()) m()->downloadRecordedCallForID(id);
    }
    bool useSpeaker() const override { return m() && m()->useSpeaker(); }
    void setUseSpeaker(bool on) override {
        if (m()) m()->setUseSpeaker(on);
    }
    std::string recordIDForNumber(const std::string&) override { return {}; }
    void setContactName(const std::string& id, const std::string& name) override {
        if (r()) r()->setContactName(id, name);
    }
    void resetContacts() override {}
    void lookupPhone(const std::string&) override {}
    bool isABAccessRestricted() override { return false; }
    void sendSMS(const std::string& text, const std::optional<std::string>&, const std::optional<std::string>&,
                 HXSendCompletion c) override {
        smsSent.push_back(text);
        lastCompletion = std::move(c);
    }
    void sendMMS(const std::string& text, const std::vector<HXMMSImage>&, const std::optional<std::string>&,
                 const std::optional<std::string>&, HXSendCompletion c) override {
        smsSent.push_back("MMS:" + text);
        lastCompletion = std::move(c);
    }
    void presentAlert(const HXAlert& alert) override { alerts.push_back(alert); }
    bool openAppURL(const std::string&) override { return true; }
    std::optional<foundation::Dictionary> popoverCache() const override { return cache; }
    void setPopoverCache(const foundation::Dictionary& c) override { cache = c; }
};

// spy standing in for the alerts role real (none when real is gone).
inline std::weak_ptr<HXAlertsRole> alertsSpyOn(const std::weak_ptr<HXAlertsRole>& real, ConversationSpy& spy) {
    spy.realAlerts = real;
    return standIn<HXAlertsRole>(real, spy);
}

// spy standing in for the media role real (none when real is gone).
inline std::weak_ptr<HXMediaRole> mediaSpyOn(const std::weak_ptr<HXMediaRole>& real, ConversationSpy& spy) {
    spy.realMedia = real;
    return standIn<HXMediaRole>(real, spy);
}

// One message to store: its id, time (ms), text, direction and attachments (none: no attribute).
struct StoredMessage {
    std::string id;
    int64_t number = 0;
    std::string text;
    bool outgoing = false;
    std::optional<foundation::Array> attachments;
    std::string senderName, senderNumber;
};

// count received texts "<text> <i>" under ids "<prefix><i>", a day apart from first (ms).
inline std::vector<StoredMessage> dailyTexts(const std::string& prefix, int count, int64_t first,
                                             const std::string& text) {
    std::vector<StoredMessage> out;
    for (int i = 0; i < count; ++i)
        out.push_back({.id = prefix + std::to_string(i),
                       .number = first + int64_t{i} * 86'400'000,
                       .text = text + " " + std::to_string(i)});
    return out;
}

template <typename App>
struct ConversationFixtureOf : ScreenFixture<App> {
    // sharedDelegate: the application object answers as the process's (numbers are then formatted
    // with its phone formatter, as the contacts cache keeps them).
    explicit ConversationFixtureOf(DeviceForm form = DeviceForm::phone, bool sharedDelegate = false)
        : ScreenFixture<App>(
              {.form = form, .screens = std::make_shared<HXUIScreens>(), .sharedDelegate = sharedDelegate}) {}
    std::shared_ptr<ConversationSpy> spy = std::make_shared<ConversationSpy>();
    std::shared_ptr<VC_Conversation> screen;
    std::shared_ptr<toolkit::NavigationController> nav;

    void SetUp() override {
        ScreenFixture<App>::SetUp();
        ASSERT_TRUE(signInWithEmptyStore(*this->app, "conversation@example.test"));
    }
    void TearDown() override {
        screen.reset();
        nav.reset();
        ScreenFixture<App>::TearDown();
    }
    std::shared_ptr<store::ManagedObject> storeConversation(const std::string& id, int64_t type,
                                                            const std::string& sender = "+15550188") {
        auto context = this->app->managedObjectContext();
        auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("conversationID", id);
        (void)c->setValue("type", type);
        (void)c->setValue("phoneNumber", "+15550188");
        (void)c->setValue("sender", sender);
        (void)c->setValue("isRead", true);
        EXPECT_TRUE(context->save().ok());
        return c;
    }
    void storeMessages(const std::shared_ptr<store::ManagedObject>& c, const std::vector<StoredMessage>& messages) {
        auto context = this->app->managedObjectContext();
        for (const auto& s : messages) {
            auto m = context->insertNewObject(HXMessageStore::kMessageEntity).value();
            (void)m->setValue("id", s.id);
            (void)m->setValue("number", s.number);
            (void)m->setValue("message", s.text);
            (void)m->setValue("from", s.outgoing);
            if (s.attachments) (void)m->setValue("attachments", foundation::Value(*s.attachments));
            if (!s.senderNumber.empty()) (void)m->setValue("senderNumber", s.senderNumber);
            if (!s.senderName.empty()) (void)m->setValue("senderName", s.senderName);
            (void)m->setObject("Conversation", c);
        }
        EXPECT_TRUE(context->save().ok());
        this->harness.settle();
    }
    // Pushed as a list pushes it, with the spy between the screen and the application object.
    VC_Conversation& open(const std::string& id, int type = 1, const std::string& title = "Ann") {
        auto roles = this->app->screenRoles();
        roles.conversation = spyOn(roles.conversation, *spy);
        roles.alerts = alertsSpyOn(roles.alerts, *spy);
        roles.media = mediaSpyOn(roles.media, *spy);
        roles.sending = standIn<HXSendingRole>(roles.sending, *spy);
        roles.pages = standIn<HXConversationPagesRole>(roles.pages, *spy);
        auto made = this->app->screens().makeConversationScreen(
            roles, {.conversationID = id, .title = title, .conversationType = type});
        screen = std::dynamic_pointer_cast<VC_Conversation>(made);
        EXPECT_TRUE(screen);
        auto root = std::make_shared<toolkit::ViewController>();
        nav = std::make_shared<toolkit::NavigationController>(root);
        this->harness.setRoot(nav);
        nav->pushViewController(screen, false);
        this->harness.settle();
        return *screen;
    }
};
using ConversationFixture = ConversationFixtureOf<HX_ConnectAppDelegate_iPhone>;

}  // namespace hxtest
