// What opens the app at a given place: the notification categories and their actions.
#include "app/connect_app_delegate.h"
#include "app/dial_pad_screen.h"
#include "app/roles/message_list_host.h"
#include "app/shell_roles.h"
#include "model/account.h"
#include "model/conversation.h"
#include "model/phone.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "platform/services/user_notifications.h"
#include "service/conversation_operations.h"
#include "service/conversation_pages.h"
#include "service/conversation_title.h"
#include "service/request_machinery.h"

namespace {

// The notification centre's delegate on the application object's behalf.
class NotificationResponder : public services::UserNotificationCenterDelegate {
public:
    explicit NotificationResponder(std::weak_ptr<HX_ConnectAppDelegate> app) : app_(std::move(app)) {}
    void didReceiveNotificationResponse(const services::NotificationResponse& response,
                                        std::function<void()> completion) override {
        auto app = app_.lock();
        if (!app) {
            if (completion) completion();
            return;
        }
        app->didReceiveNotificationResponse(response.actionIdentifier, response.userInfo, response.userText,
                                            std::move(completion));
    }

private:
    std::weak_ptr<HX_ConnectAppDelegate> app_;
};

}  // namespace

void HX_ConnectAppDelegate::registerForUserNotifications() {
    record("registerForUserNotifications");
    auto center = services::UserNotificationCenter::currentNotificationCenter();
    // Asked by the app object's own sign-in, while its clients hold it.
    auto self = weakSelf().lock();
    if (!self) return;
    if (!notificationDelegate_) notificationDelegate_ = std::make_shared<NotificationResponder>(self);
    center->setDelegate(notificationDelegate_);
    using foundation::localizedString;
    // Titled as the conversation action it does.
    const services::NotificationAction markRead{
        "com.hxconnect.markRead", HXConversationOperations::of(self)->titleForConversationAction(5).value_or("")};
    services::NotificationAction reply{"com.hxconnect.composeReply", localizedString("Reply")};
    reply.textInput = true;
    reply.textInputButtonTitle = localizedString("Send");
    reply.textInputPlaceholder = localizedString("Text Message");
    auto category = [](std::string identifier, std::vector<services::NotificationAction> actions) {
        services::NotificationCategory made;
        made.identifier = std::move(identifier);
        made.actions = std::move(actions);
        made.hiddenPreviewsBodyPlaceholder = localizedString("HIDDEN_BODY_SUMMARY");
        made.categorySummaryFormat = localizedString("NOTIFICATION_SUMMARY");
        return made;
    };
    services::NotificationSettings::shared().setNotificationCategories({
        category("com.hxconnect.markRead", {markRead}),
        category("com.hxconnect.composeReply", {reply, markRead}),
    });
}

namespace {

constexpr const char* kScheme = "hxconnect://";

std::string decoded(const std::string& text) { return foundation::percentDecode(text).value_or(text); }

// A value of a URL the app writes for itself (an activity waiting behind the lock), encoded as
// often as the URL's reader decodes it: once as the query is split and once more itself, an sms
// URL's message once more again (its outside senders encode it once more than the other values).
// Encoded fewer times, an escape in the text ("100%41 off") would come back as what it stands for.
std::string pendingValue(const std::string& text, int decodes = 2) {
    std::string value = text;
    for (int i = 0; i < decodes; ++i) value = foundation::queryItemEncoded(value);
    return value;
}

std::string stringOf(const foundation::Dictionary& d, const char* key) { return d.get(key).stringValue(); }

bool isInteger(const std::string& text) {
    const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

}  // namespace

bool HX_ConnectAppDelegate::canActNow() const { return window_ != nullptr && !lockShown; }

void HX_ConnectAppDelegate::switchAccountIfNeeded(const std::string& username, bool evenIfCurrent) {
    if (username.empty()) return;
    const std::string current = account() ? account()->username() : std::string();
    if (!evenIfCurrent && username == current) return;
    auto infos = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("accountInfo");
    if (!infos || !infos->contains(username)) return;
    logout();
    selectAccountForUserName(username);
    loadInitialData();
}

bool HX_ConnectAppDelegate::applicationOpenURL(const std::string& text) {
    if (!webClient().firstReachabilityHandled) {
        pendingURL_ = text;
        return true;
    }
    auto url = foundation::URL::parseLenient(text);
    auto host = url ? url->host() : std::nullopt;
    if (!host || host->empty()) return false;
    if (!account() || account()->username().empty()) return false;

    std::map<std::string, std::string> values;
    for (const auto& item : url->queryItems()) values[item.name] = decoded(item.value.value_or(""));
    if (auto it = values.find("account"); it != values.end()) switchAccountIfNeeded(it->second, false);

    auto popOne = [this](int index) {
        selectViewForIndex(index);
        popView(index, false);
    };
    if (*host == "vm") return popOne(2), true;
    if (*host == "history") return popOne(3), true;
    if (*host == "settings") return selectViewForIndex(4), true;
    if (*host == "sms") return openSMSURL(text, url->query());
    if (*host == "call") return openCallURL(text, url->query(), values);
    if (*host == "reply") {
        if (!canActNow()) {
            pendingURL_ = text;
            return false;
        }
        const auto number = values.contains("messageNum") ? values["messageNum"] : std::string("-1");
        const long messageNumber = foundation::Value(number).int64Value(-1);
        focusReply_ = messageNumber < 0;
        openConversationWithID(values["conversationID"],
                               values.contains("messageText") ? std::optional(values["messageText"]) : std::nullopt,
                               messageNumber);
        return false;
    }
    if (*host == "quicksetting") {
        const std::string name = decoded(url->query().value_or(""));
        if (name.empty()) return false;
        roles_->quickSettings.selectQuickSettingWithName(name);
        return true;
    }
    return false;
}

bool HX_ConnectAppDelegate::openSMSURL(const std::string& text, const std::optional<std::string>& query) {
    selectViewForIndex(1);
    popView(1, true);
    if (!query) return true;
    std::string number, message, conversationID;
    std::map<std::string, std::string> raw;
    if (auto url = foundation::URL::parseLenient(text))
        for (const auto& item : url->queryItems()) raw[item.name] = item.value.value_or("");
    if (!raw.contains("number") && !raw.contains("message")) {
        number = *query;
    } else {
        number = decoded(raw["number"]);
        // The message is encoded once more than the other values.
        message = decoded(decoded(raw["message"]));
        conversationID = decoded(raw["conversationID"]);
    }
    if (number.find(',') != std::string::npos) {
        auto parts = foundation::split(number, ",");
        if (parts.size() > 20) parts.resize(20);
        number = foundation::join(parts, ",");
    }
    number = PhoneExtensions::phoneNumberFromLetters(number);
    if (!canActNow()) {
        if (!pendingURL_) pendingURL_ = text;
        return true;
    }
    newMessageToNumber(number, message, conversationID);
    pendingURL_.reset();
    return true;
}

bool HX_ConnectAppDelegate::openCallURL(const std::string& text, const std::optional<std::string>& query,
                                        const std::map<std::string, std::string>& values) {
    std::string number;
    std::optional<std::string> method;
    if (auto it = values.find("number"); it != values.end()) {
        number = it->second;
        if (auto m = values.find("callmethod"); m != values.end()) method = m->second;
    } else {
        number = decoded(query.value_or(""));
    }
    // The URL comes from outside the app: the method it names is shown on the dial pad as chosen,
    // and becomes the account's, with the call placed, only when the user presses Call.
    std::optional<int64_t> proposed;
    if (method && account()) {
        for (const auto& [id, phone] : account()->phones()) {
            if (phone &&
                (phone->name() == *method || phone->number() == *method || phone->formattedNumber() == *method)) {
                proposed = id;
                break;
            }
        }
        if (!proposed && isPhone()) {
            if (*method == "DirectCall")
                proposed = -1;
            else if (*method == "iPhoneDialer")
                proposed = -2;
        }
    }
    // A direct call needs a token: its request starts now, so it is ready by the time of the call.
    if (account() && proposed.value_or(account()->forwardingPhoneID()) == -1) (void)retrieveOAuth();
    if (number != "FAVORITES")
        number = PhoneExtensions::formattedPhoneNumberFromString(PhoneExtensions::phoneNumberFromLetters(number));
    if (!canActNow()) {
        if (!iPad() && !lockShown) selectViewForIndex(0);
        if (!pendingURL_) pendingURL_ = text;
        return true;
    }
    pendingURL_.reset();
    showDialPad();
    auto* pad = dynamic_cast<HXDialPadScreen*>(viewControllerForIndex(0).get());
    if (number == "FAVORITES") {
        if (pad) pad->openFavorites();
    } else if (!number.empty()) {
        if (pad) {
            pad->updateContactLabelForNumber(number);
            pad->showDialedNumber(number);
            if (proposed) pad->proposeCallMethod(*proposed);
            pad->setCallButtonState();
            pad->startUpdates();
        }
    }
    return true;
}

void HX_ConnectAppDelegate::reprocessURL() {
    if (!pendingURL_) return;
    auto url = std::move(*pendingURL_);
    pendingURL_.reset();
    applicationOpenURL(url);
}

void HX_ConnectAppDelegate::showDialPad() {
    if (iPad()) {
        dismissPopoverAnimated(false);
        showCallPopup();
    } else {
        selectViewForIndex(0);
    }
}

bool HX_ConnectAppDelegate::performActionForShortcutItem(const std::string& type) {
    if (type == "com.hxconnect.shortcut_call") {
        showDialPad();
        return true;
    }
    if (type == "com.hxconnect.shortcut_sms") {
        if (canActNow())
            newMessageToNumber("", "");
        else
            pendingURL_ = std::string(kScheme) + "sms?number=";
        return true;
    }
    return false;
}

bool HX_ConnectAppDelegate::continueUserActivity(const std::string& type, const foundation::Dictionary& info) {
    if (canActNow()) switchAccountIfNeeded(stringOf(info, "account"), false);
    const std::string account = stringOf(info, "account");
    if (type == "com.hxconnect.activity_call") {
        showDialPad();
        return true;
    }
    if (type == "com.hxconnect.activity_sms") {
        const auto number = stringOf(info, "number"), text = stringOf(info, "messageText"),
                   id = stringOf(info, "conversationID");
        if (canActNow())
            newMessageToNumber(number, text, id);
        else
            pendingURL_ = std::string(kScheme) + "sms?number=" + pendingValue(number) +
                          "&message=" + pendingValue(text, 3) + "&conversationID=" + pendingValue(id) +
                          "&account=" + pendingValue(account);
        return true;
    }
    if (type == "com.hxconnect.activity_reply") {
        const auto id = stringOf(info, "conversationID"), text = stringOf(info, "messageText");
        if (canActNow())
            openConversationWithID(id, text, -1);
        else
            pendingURL_ = std::string(kScheme) + "reply?conversationID=" + pendingValue(id) +
                          "&messageText=" + pendingValue(text) + "&account=" + pendingValue(account);
        return true;
    }
    if (type == services::kSearchableItemActionType) {
        const std::string identifier = stringOf(info, services::kSearchableItemActivityIdentifier);
        auto parts = foundation::split(identifier, ".");
        if (identifier.empty() || parts.size() < 3) return false;
        // The id, the message's number and the user, joined by ".": the number is the first part
        // after the id that is an integer, so an id with dots of its own ("t.+15550100") stays whole.
        size_t number = 1;
        while (number + 1 < parts.size() && !isInteger(parts[number])) ++number;
        if (number + 1 >= parts.size()) number = 1;
        const std::string id =
            foundation::join(std::vector<std::string>(parts.begin(), parts.begin() + static_cast<long>(number)), ".");
        const long messageNumber = foundation::Value(parts[number]).int64Value(-1);
        const std::string user = decoded(foundation::join(
            std::vector<std::string>(parts.begin() + static_cast<long>(number) + 1, parts.end()), "."));
        if (canActNow()) {
            switchAccountIfNeeded(user, true);
            // The index may hold the item of a message the store never got (a run ended between
            // handing it over and writing it): the hit opens what the store holds, and an item
            // naming no stored message is withdrawn, so it is found no more.
            const auto held = getConversationWithID(id);
            if (!held || !HX_Conversation(held).placeOfMessageNumbered(messageNumber))
                services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithIdentifiers({identifier});
            openConversationWithID(id, std::nullopt, messageNumber);
            // As when its list opens it, the conversation of the hit asks the service for its newest page.
            if (held && this->account() && this->account()->authV2()) {
                const int64_t type = HX_Conversation(held).type();
                if (type == 10 || type == 11 || type == 2) HXConversationPagesOf(*this)->loadNewest(id, {});
            }
        } else {
            pendingURL_ = std::string(kScheme) + "reply?conversationID=" + pendingValue(id) +
                          "&messageNum=" + std::to_string(messageNumber) + "&account=" + pendingValue(user);
        }
        return true;
    }
    return false;
}

void HX_ConnectAppDelegate::didReceiveNotificationResponse(const std::string& action,
                                                           const foundation::Dictionary& info,
                                                           const std::optional<std::string>& userText,
                                                           std::function<void()> completion) {
    const auto* id = info.find("id");
    // The request whose end answers the platform; without one it is answered at once.
    std::optional<std::string> waitFor;
    auto markRead = [this](const std::string& conversationID) -> std::optional<std::string> {
        auto self = weakWebClient().lock();
        return self ? HXConversationOperations::of(self)->markConversation(conversationID, true) : std::nullopt;
    };
    if (action == services::kNotificationDefaultActionIdentifier) {
        if (id)
            openConversationWithID(id->stringValue());
        else if (info.contains("quicksetting"))
            selectViewForIndex(4);
    } else if (action == "com.hxconnect.markRead" && id) {
        waitFor = markRead(id->stringValue());
    } else if (action == "com.hxconnect.composeReply" && id) {
        if (userText) {
            waitFor = markRead(id->stringValue());
            sendSMS(*userText, stringOf(info, "phoneNumber"), id->stringValue());
        }
    }
    if (!completion) return;
    if (waitFor)
        setCompletionHandler(std::move(completion), *waitFor);
    else
        completion();
}

void HX_ConnectAppDelegate::openConversationWithID(const std::string& conversationID,
                                                   const std::optional<std::string>& reply, long messageNumber) {
    auto object = getConversationWithID(conversationID);
    if (!object) return;
    const HX_Conversation conversation(object);
    const int64_t type = conversation.type();
    const int view = type == 10 || type == 11 ? 1 : type == 2 ? 2 : 3;
    if (currentViewIndex() != view) selectViewForIndex(view);
    auto root = viewControllerForIndex(view);
    auto* nav = root ? root->navigationController() : nullptr;
    if (nav && dynamic_cast<HXMessageListHost*>(root.get())) nav->popToRootViewController(false);
    HXConversationSetup setup{.conversationID = conversationID,
                              .title = HXConversationTitle(conversation.sender(), conversation.ABName()),
                              .conversationType = view};
    auto screen = screens().makeConversationScreen(screenRoles(), setup);
    if (!screen) screen = std::make_shared<HXConversationScreen>(setup);
    screen->hidesBottomBarWhenPushed = true;
    if (nav) nav->pushViewController(screen, false);
    if (focusReply_ && !lockShown) {
        dispatch::RunLoop::main().perform(performTarget(), "focusReply", foundation::Value(reply.value_or("")), 0.3,
                                          [this, hasText = reply.has_value()](const foundation::Value& text) {
                                              focusReply_ = false;
                                              foundation::Dictionary info;
                                              if (hasText) info.set("messageText", text.stringValue());
                                              foundation::NotificationCenter::defaultCenter().post(
                                                  "kFocusSMSReplyFieldNotification", nullptr, info);
                                          });
    } else if (messageNumber >= 0 && !lockShown) {
        // The message of a search result, one section per message in the order of their numbers:
        // the message of that number (a search result's number is its time), else the section of
        // that place (a "reply" address's messageNum). Its place is read when the screen scrolls,
        // with the pages that came in meanwhile.
        dispatch::Queue::main()->after(
            0.5, [app = weakSelf(), weak = std::weak_ptr<HXConversationScreen>(screen), conversationID, messageNumber] {
                auto self = app.lock();
                auto s = weak.lock();
                auto object = self && s ? self->getConversationWithID(conversationID) : nullptr;
                if (!object) return;
                const HX_Conversation shown(object);
                if (auto place = shown.placeOfMessageNumbered(messageNumber))
                    s->scrollToMessage(static_cast<long>(*place));
                else if (messageNumber < static_cast<long>(shown.storedMessageCount()))
                    s->scrollToMessage(messageNumber);
            });
    }
}
