#include "service/calls.h"

#include "model/account.h"
#include "model/phone.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/url_session.h"
#include "platform/services/url_opener.h"
#include "service/application_web_client.h"
#include "service/check_response.h"
#include "service/proto/hxcpb.h"
#include "service/protobuf_request.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

void present(HXApplicationWebClient& app, const HXAlert& alert) { app.presentAlert(alert); }

HX_PhonePtr phoneWithID(const HX_Account& account, int64_t id) {
    auto it = account.phones().find(id);
    return it == account.phones().end() ? nullptr : it->second;
}

const std::string kClickToCall = std::string(kHXApiPath) + "communication/startclicktocall?alt=protojson";

}  // namespace

std::string HXKeepDialable(std::string_view number) {
    static const foundation::CharacterSet dialable = foundation::CharacterSet::fromCharacters("1234567890+");
    return PhoneExtensions::extractCharactersFromStringUsingCharset(number, dialable);
}

std::shared_ptr<HXCalls> HXCalls::of(const std::shared_ptr<HXApplicationWebClient>& app) {
    return HXOperationsOf(app, &HXWebClient::calls);
}

std::string HXCalls::reducedNumber(std::string_view number) {
    std::string digits = HXKeepDialable(number);
    if (digits.starts_with("+")) return digits;
    if (digits.size() == 11 && digits[0] == '1') return "+" + digits;
    if (digits.starts_with("011")) return "+" + digits.substr(3);
    return "+1" + digits;
}

bool HXCalls::isInternational(std::string_view n) {
    return (n.starts_with("+") && !n.starts_with("+1")) || (n.starts_with("011") && !n.starts_with("011 1"));
}

std::optional<std::string> HXCalls::accessNumberFromReply(std::string_view bytes) {
    auto reply = hxcpb::parse<HXCPB_DirectCallResponse>(bytes);
    if (!reply || !reply->has_response() || !reply->response().has_accessnumber() ||
        !reply->response().accessnumber().has_numberstring())
        return std::nullopt;
    return reply->response().accessnumber().numberstring();
}

bool HXCalls::directCallPending() const {
    auto a = app();
    return a && a->directCallPending();
}

void HXCalls::setDirectCallPending(bool v) {
    if (auto a = app()) a->setDirectCallPending(v);
}

bool HXCalls::callPlaced() const {
    auto a = app();
    return a && a->callPlaced();
}

bool HXCalls::callHandOver() const {
    auto a = app();
    return a && a->callHandOver();
}

void HXCalls::setCallFlags(bool placed, bool handOver) {
    if (auto a = app()) {
        a->setCallPlaced(placed);
        a->setCallHandOver(handOver);
    }
}

void HXCalls::clearCallFlags() {
    setCallFlags(false, false);
    setDirectCallPending(false);
}

std::string HXCalls::forwardingNumberControllerTitle() const {
    std::string title = localized("Select phone to ring back when starting a call");
    auto a = app();
    auto accounts = foundation::UserDefaults::standardUserDefaults()->objectForKey("accountInfo");
    if (a && a->account() && accounts.isDictionary() && accounts.asDictionary().size() >= 2)
        title += foundation::format("\n(%@: %@)", localized("Account"), a->account()->username());
    return title;
}

bool HXCalls::isNewForwardingPhoneID(int64_t phoneID) {
    auto a = app();
    if (!a || !a->account() || a->account()->forwardingPhoneID() == phoneID) return false;
    a->account()->setForwardingPhoneID(phoneID);
    (void)foundation::UserDefaults::standardUserDefaults()->setObject(foundation::Value(phoneID), "forwardingID");
    return true;
}

bool HXCalls::canChangeCallback() const {
    auto a = app();
    return a && a->account() && (a->account()->phones().size() >= 2 || a->isPhone());
}

bool HXCalls::canPlaceCalls() const {
    auto a = app();
    return a && a->isPhone();
}

bool HXCalls::callRequestInFlight() const {
    auto a = app();
    return a && (a->requestInFlight(kClickToCall) || a->requestInFlight("DIRECT_CALL"));
}

void HXCalls::presentCallbackChooser(const std::string& number) {
    auto a = app();
    if (!a) return;
    HXAlert alert{localized("Select Callback Number"),
                  localized("Please select which number to call back to initiate the call."),
                  {}};
    std::weak_ptr<HXCalls> weak = weak_from_this();
    for (const auto& phone : a->account()->realPhones()) {
        const int64_t id = phone->phoneId();
        alert.actions.push_back({phone->formattedNumber(), HXAlertAction::Style::Default, [weak, id, number] {
                                     auto self = weak.lock();
                                     auto app = self ? self->app() : nullptr;
                                     if (!app || !app->account()) return;
                                     app->account()->setForwardingPhoneID(id);
                                     post("kSettingsUpdateNotification");
                                     self->placeCallTo(number);
                                 }});
    }
    present(*a, std::move(alert));
}

void HXCalls::placeCallTo(const std::string& number) {
    auto a = app();
    if (!a) return;
    auto account = a->account();
    if (!account || !account->authV2() || number.empty()) {
        post("kCallButtonUpdateNotification");
        return;
    }
    if (account->realPhones().empty()) {
        std::weak_ptr<HXCalls> weak = weak_from_this();
        HXAlert alert{localized("Incomplete Account Setup"),
                      localized("You need to have at least one verified phone number connected to your HX Voice "
                                "account in order to place outgoing calls."),
                      {}};
        alert.actions.push_back({localized("Cancel"), HXAlertAction::Style::Cancel, [weak] {
                                     post("kCallButtonUpdateNotification");
                                     auto self = weak.lock();
                                     if (!self) return;
                                     self->pendingCallNumber_.reset();
                                     auto app = self->app();
                                     if (app && app->iPad()) app->setFirstResponder();
                                 }});
        present(*a, std::move(alert));
        post("kCallButtonUpdateNotification");
        return;
    }
    auto forwarding = phoneWithID(*account, account->forwardingPhoneID());
    if (forwarding && forwarding->formattedNumber() == "VOIP") {
        auto real = account->realPhones();
        if (real.size() != 1) {
            presentCallbackChooser(number);
            return;
        }
        account->setForwardingPhoneID(real.front()->phoneId());
        post("kSettingsUpdateNotification");
    }
    const std::string target = reducedNumber(number);
    (void)foundation::UserDefaults::standardUserDefaults()->setObject(foundation::Value(target), "lastDialedNumber");
    pendingCallNumber_ = target;
    if (a->isPhone() && account->forwardingPhoneID() == -2) {
        startiPhoneCallWithWarning(true);
        return;
    }
    if (account->forwardingPhoneID() == -1) {
        startDirectCall();
        return;
    }
    placeCallback(target);
}

void HXCalls::placeCallback(const std::string& target) {
    auto a = app();
    auto account = a->account();
    auto& web = HXWebClientOf(*a);
    auto ringBack = phoneWithID(*account, account->forwardingPhoneID());
    if (!ringBack) {
        // No linked phone to ring back (a choice this device cannot serve): ask for one.
        presentCallbackChooser(target);
        return;
    }
    std::optional<std::string> authorization = a->retrieveOAuth();
    if (!authorization) return;
    net::URLSessionConfiguration configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.httpAdditionalHeaders.set("Referer", web.endpoints.webClient);
    configuration.httpAdditionalHeaders.set("Origin", web.endpoints.webClient);
    configuration.httpAdditionalHeaders.set("User-Agent", kUserAgent);
    configuration.httpAdditionalHeaders.set("Accept-Encoding", "gzip, deflate");
    configuration.httpAdditionalHeaders.set("Authorization", *authorization);
    foundation::Dictionary description;
    description.set("url", kClickToCall);
    description.set("contentType", "application/json+protobuf");
    description.set("body",
                    foundation::format("[[\"phnnmbr\",\"%@\"],[\"phnnmbr\",\"%@\"]]", a->JSONStringFromString(target),
                                       a->JSONStringFromString(ringBack->number())));
    auto request = a->apiRequestWithDict(description);
    // The table names the request only once there is one: an entry without a request would
    // show the call as starting for ever.
    if (!request) return;
    web.requests.put(kClickToCall, HXRequestEntry{std::make_shared<foundation::Data>(), nullptr});
    post("kCallButtonUpdateNotification");
    auto session = net::URLSession::sessionWithConfiguration(std::move(configuration));
    std::weak_ptr<HXCalls> weak = weak_from_this();
    auto task = session->dataTaskWithRequest(
        std::move(*request), [weak, session](const foundation::Data& data, const std::optional<net::HTTPURLResponse>&,
                                             const std::optional<foundation::Error>& error) {
            std::string text(data.begin(), data.end());
            const bool failed = error.has_value();
            session->finishTasksAndInvalidate();
            // The call's state belongs to the main thread.
            dispatch::Queue::main()->async([weak, text, failed] {
                auto self = weak.lock();
                auto app = self ? self->app() : nullptr;
                if (!app) return;
                auto& w = HXWebClientOf(*app);
                self->pendingCallNumber_.reset();
                w.requests.erase(kClickToCall);
                if (failed) {
                    post("kCallButtonUpdateNotification");
                    return;
                }
                if (text.empty()) {
                    // An answer without a body placed no call: said as for any answer that is not
                    // the service's acceptance.
                    app->presentAlert({PhoneExtensions::localizedString("Error"),
                                       HXRefusalMessage(text),
                                       {{PhoneExtensions::localizedString("OK"), HXAlertAction::Style::Default, {}}}});
                } else if (HXCheckResponse(*app, text)) {
                    app->setCallPlaced(true);
                }
                post("kCallButtonUpdateNotification");
            });
        });
    task->resume();
}

void HXCalls::startDirectCall() {
    auto a = app();
    if (!a || !pendingCallNumber_) return;
    auto account = a->account();
    auto& web = HXWebClientOf(*a);
    auto own = account ? phoneWithID(*account, account->thisPhoneID()) : nullptr;
    if (!account || account->thisPhoneID() == -1 || !own) {
        determineThisPhoneIDWithTag(2);
        return;
    }
    std::optional<std::string> authorization = a->retrieveOAuth();
    if (!authorization) {
        present(*a, {localized("Direct Call Failed"),
                     localized("Unable to complete a direct call at this time. Please try again or place the call "
                               "using callback."),
                     {{localized("Dismiss"), HXAlertAction::Style::Default, {}}}});
        post("kCallButtonUpdateNotification");
        return;
    }
    HXCPB_DirectCallRequest message;
    message.mutable_source()->set_numberstring(own->number());
    message.mutable_target()->mutable_number()->set_numberstring(HXKeepDialable(*pendingCallNumber_));
    auto request = HXProtobufRequest(web.endpoints.protobufApi + "/voice/v1/proxynumbers/reserve", message);
    request.setValue(*authorization, "Authorization");
    a->startAsyncLoadWithRequest(std::move(request), "DIRECT_CALL");
    post("kCallButtonUpdateNotification");
}

bool HXCalls::directCallReply(const HXRoutedReply& reply) {
    auto a = app();
    if (!a) return true;
    auto& web = HXWebClientOf(*a);
    auto removeEntry = [&] { web.requests.erase("DIRECT_CALL"); };
    std::string_view bytes =
        reply.data ? std::string_view(reinterpret_cast<const char*>(reply.data->data()), reply.data->size())
                   : std::string_view();
    auto parsed = hxcpb::parse<HXCPB_DirectCallResponse>(bytes);
    auto failed = [&](const char* title, const char* message) {
        pendingCallNumber_.reset();
        setCallFlags(false, false);
        setDirectCallPending(false);
        present(*a,
                {localized(title), localized(message), {{localized("Dismiss"), HXAlertAction::Style::Default, {}}}});
    };
    if (auto access = accessNumberFromReply(bytes)) {
        pendingCallNumber_.reset();
        setDirectCallPending(false);
        setCallFlags(true, true);
        services::URLOpener::shared()->openURL(foundation::format("tel:%@", *access));
    } else if (!parsed && reply.text.find("INVALID_ARGUMENT") != std::string::npos) {
        failed("Error", "Invalid Number");
    } else if (!parsed && reply.text == "Invalid Credentials") {
        // The token was refused: fetch a new one; its reply starts the reservation again.
        setDirectCallPending(true);
        removeEntry();
        if (auto account = a->account()) account->setOAuthDict(std::nullopt);
        a->retrieveOAuth();
        return false;
    } else {
        if (auto account = a->account()) account->setThisPhoneID(-1);
        failed("Direct Call Failed",
               "Failed to initiate the call. Please make sure that this iPhone's number has been added as a "
               "forwarding number to your HX Voice account or try placing the call using callback.");
    }
    removeEntry();
    post("kCallButtonUpdateNotification");
    return true;
}

void HXCalls::directCallFailed() {
    pendingCallNumber_.reset();
    setDirectCallPending(false);
    post("kCallButtonUpdateNotification");
}

void HXCalls::determineThisPhoneIDWithTag(int) {
    auto a = app();
    if (!a || !a->account() || a->account()->phones().empty()) return;
    HXAlert alert{localized("Select Phone Number"),
                  localized("Please select this iPhone's phone number to start the call"),
                  {{localized("Cancel"), HXAlertAction::Style::Cancel, {}}}};
    std::weak_ptr<HXCalls> weak = weak_from_this();
    for (const auto& phone : a->account()->sortedPhones()) {
        const int64_t id = phone->phoneId();
        alert.actions.push_back({phone->formattedNumber(), HXAlertAction::Style::Default, [weak, id] {
                                     auto self = weak.lock();
                                     auto app = self ? self->app() : nullptr;
                                     if (!app || !app->account()) return;
                                     app->account()->setThisPhoneID(id);
                                     self->startDirectCall();
                                 }});
    }
    present(*a, std::move(alert));
}

void HXCalls::startiPhoneCallWithWarning(bool warn) {
    auto a = app();
    if (!a || !pendingCallNumber_) return;
    if (warn && isInternational(*pendingCallNumber_)) {
        std::weak_ptr<HXCalls> weak = weak_from_this();
        present(*a,
                {localized("International Call"),
                 localized("You are placing an international call using your iPhone's dialer instead of your HX Voice "
                           "number. This is likely to incur international charges with your carrier."),
                 {{localized("Cancel"), HXAlertAction::Style::Cancel, [] { post("kCallButtonUpdateNotification"); }},
                  {localized("Call"), HXAlertAction::Style::Destructive, [weak] {
                       if (auto self = weak.lock()) self->startiPhoneCallWithWarning(false);
                   }}}});
        return;
    }
    std::string encoded = foundation::percentEncode(*pendingCallNumber_, foundation::CharacterSet::urlHostAllowed());
    pendingCallNumber_ = encoded;
    setCallFlags(true, true);
    services::URLOpener::shared()->openURL("tel:" + encoded);
    pendingCallNumber_.reset();
}

void HXApplicationWebClient::placeCallTo(const std::string& number) {
    if (auto self = weakWebClient().lock()) HXCalls::of(self)->placeCallTo(number);
}

void HXApplicationWebClient::startDirectCall() {
    if (auto self = weakWebClient().lock()) HXCalls::of(self)->startDirectCall();
}
