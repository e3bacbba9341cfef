// The dial pad's role: what the dial pad and the favourites ask of the application object.
#include "app/connect_app_delegate.h"
#include "model/contacts.h"
#include "platform/services/contacts.h"
#include "service/calls.h"
#include "service/request_machinery.h"

namespace {

std::shared_ptr<HXCalls> callsOf(const std::weak_ptr<HXApplicationWebClient>& weak) {
    auto self = weak.lock();
    return self ? HXCalls::of(self) : nullptr;
}

}  // namespace

std::function<std::string(const std::string&)> HX_ConnectAppDelegate::contactNameLookup() {
    const hxcontacts::ContactList list = allContacts();
    const bool familyFirst = services::ContactStore::defaultSortOrder() == services::ContactSortOrder::FamilyName;
    return [list, familyFirst](const std::string& number) -> std::string {
        if (number.empty()) return {};
        return hxcontacts::displayName(hxcontacts::matchingPhone(list, number), familyFirst);
    };
}

bool HX_ConnectAppDelegate::callRequestInFlight() {
    return requestInFlight(std::string(kHXApiPath) + "communication/startclicktocall?alt=protojson") ||
           requestInFlight("DIRECT_CALL");
}

bool HX_ConnectAppDelegate::canChangeCallback() {
    auto calls = callsOf(weakWebClient());
    return calls && calls->canChangeCallback();
}

std::string HX_ConnectAppDelegate::forwardingNumberControllerTitle() {
    auto calls = callsOf(weakWebClient());
    return calls ? calls->forwardingNumberControllerTitle() : std::string();
}

bool HX_ConnectAppDelegate::isNewForwardingPhoneID(int64_t phoneID) {
    auto calls = callsOf(weakWebClient());
    return calls && calls->isNewForwardingPhoneID(phoneID);
}
