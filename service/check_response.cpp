#include "service/check_response.h"

#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/json.h"
#include "service/application_web_client.h"

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

bool HXCheckResponse(HXApplicationWebClient& app, std::string_view text) {
    if (text.empty()) return false;
    std::string message = HXRefusalMessage(text);
    if (message.empty()) return true;
    HXAlert alert{PhoneExtensions::localizedString("Error"),
                  message,
                  {{PhoneExtensions::localizedString("OK"), HXAlertAction::Style::Default, {}}}};
    std::weak_ptr<HXApplicationWebClient> weak = app.weakWebClient();
    dispatch::Queue::main()->async([weak, alert] {
        if (auto a = weak.lock()) a->presentAlert(alert);
    });
    return false;
}
