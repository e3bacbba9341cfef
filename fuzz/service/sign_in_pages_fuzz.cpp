// A page of the sign-in host read by the form reader (with and without a part of the wanted
// form's action) and by the session-token scan. A form that is read has its action, and every
// field it keeps has a value (empty ones are filled or left out).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/application_web_client.h"
#include "service/request_machinery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view page(reinterpret_cast<const char*>(data), size);
    const foundation::Dictionary fill{{"email", "user@example.test"}};
    for (const auto& partial : {std::optional<std::string>(), std::optional<std::string>("consent")}) {
        auto form = HXApplicationWebClient::parseFormFromData(page, partial, fill);
        if (!form) continue;
        if (!form->get(kHXFormSubmissionURLKey).isString()) std::abort();
        for (const auto& [key, value] : *form) {
            if (!value.isString()) std::abort();
            if (key.string() != kHXFormSubmissionURLKey && value.asString().empty()) std::abort();
        }
    }
    (void)HXParseAuthV2FromString(page);
    return 0;
}
