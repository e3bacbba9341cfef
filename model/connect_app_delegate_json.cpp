// The application object's JSON string escaping (used where request bodies are written by hand).
#include "app/connect_app_delegate.h"
#include "platform/foundation/json.h"

std::string HX_ConnectAppDelegate::JSONStringFromString(std::string_view s) const {
    // The serialiser's own escaping of a one-element array, without its '["' and '"]'.
    auto json = foundation::toJSON(foundation::Value(foundation::Array{foundation::Value(s)}));
    if (!json.ok() || json->size() < 4) return {};
    return json->substr(2, json->size() - 4);
}
