// The call URL of a contact card's "Call".
#include "ui/widgets/call_url.h"

#include <string_view>

#include "model/account.h"
#include "model/phone.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/url.h"

std::string hxCallURLForNumber(const std::string& number, bool skipDialpad, const std::string& methodName) {
    std::string reduced;
    for (char c : number)
        if (std::string_view("1234567890*#+").find(c) != std::string_view::npos) reduced += c;
    if (skipDialpad)
        return foundation::format("hxconnect://call?number=%@&callmethod=%@", foundation::queryItemEncoded(reduced),
                                  foundation::queryItemEncoded(methodName));
    return foundation::format("hxconnect://call?%@", foundation::queryItemEncoded(reduced));
}

std::string hxCallMethodParameter(const HX_Account* account) {
    if (!account) return {};
    std::string name;
    for (const auto& method : account->callMethods())
        if (method && method->phoneId() == account->forwardingPhoneID()) {
            name = method->name();
            break;
        }
    if (name == foundation::localizedString("Direct Call")) return "DirectCall";
    if (name == foundation::localizedString("iPhone Dialer")) return "iPhoneDialer";
    return name;
}
