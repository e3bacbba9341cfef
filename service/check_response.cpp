#include "service/check_response.h"

#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/json.h"
#include "service/request_machinery.h"

std::string HXRefusalMessage(std::string_view text) {
    auto parsed = foundation::parseJSON(text);
    if (parsed.ok()) {
        const auto& v = parsed.value();
        if (v.isArray()) return {};
        if (v.isDictionary() && v["ok"].ifBool() && *v["ok"].ifBool()) return {};
        if (v["error"].isDictionary() && v["error"]["message"].isString())
            return PhoneExtensions::stringByUnescapingEntities(v["error"]["message"].asString());
        if (v["data"]["code"].ifInt() && *v["data"]["code"].ifInt() == 1)
            return PhoneExtensions::localizedString("Invalid Number");
    }
    return PhoneExtensions::localizedString("An unknown error occurred");
}

bool HXCheckResponse(HXWebClient& web, std::string_view text) {
    if (text.empty()) return false;
    std::string message = HXRefusalMessage(text);
    if (message.empty()) return true;
    auto present = web.hooks.presentAlert;
    if (present) {
        HXAlert alert{PhoneExtensions::localizedString("Error"),
                      message,
                      {{PhoneExtensions::localizedString("OK"), HXAlertAction::Style::Default, {}}}};
        dispatch::Queue::main()->async([present, alert] { present(alert); });
    }
    return false;
}
