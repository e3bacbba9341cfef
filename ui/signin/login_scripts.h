// The scripts the sign-in panel evaluates in the provider's pages. Values that come from outside
// the app (a user name) enter a script only as escaped string literals, so that a quote in a
// name stays text instead of ending the literal and running what follows.
#pragma once

#include <string>
#include <string_view>

#include "platform/web/script_engine.h"

namespace signin {

// The fields of the page's first form as an object of strings (nothing when there is no form).
inline constexpr const char* kFormReaderScript =
    "var object={};(new FormData(document.getElementsByTagName('form')[0])).forEach(function(value, "
    "key){object[key]=value;});object;";
// Hides the provider's "Create account" offers: the app signs in to existing accounts only.
inline constexpr const char* kHideCreateAccountScript =
    "document.querySelectorAll('span').forEach(function(element){if(element.innerHTML=='Create "
    "account'){element.style.display='none';}});";
inline constexpr const char* kPageHeightScript = "document.body.scrollHeight-document.body.style.marginBottom";

inline constexpr const char* kSignUpLinkId = "link-signup";
inline constexpr const char* kEmailField = "Email";
inline constexpr const char* kIdentifierField = "identifier";

// The element ids given here are the app's own constants, never outside text.
inline std::string elementByIdScript(std::string_view id) {
    return "document.getElementById('" + std::string(id) + "')";
}
inline std::string hideScript(std::string_view element) { return std::string(element) + ".style.display='none'"; }
inline std::string fillScript(std::string_view element, std::string_view value) {
    return std::string(element) + ".value=" + web::javaScriptStringLiteral(value);
}

}  // namespace signin
