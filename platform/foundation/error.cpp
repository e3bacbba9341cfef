#include "platform/foundation/error.h"

namespace foundation {

Error Error::withDescription(std::string domain, int64_t code, std::string description) {
    Dictionary info;
    info.set(kLocalizedDescriptionKey, Value(std::move(description)));
    return Error(std::move(domain), code, std::move(info));
}

std::string Error::localizedDescription() const {
    if (const Value* v = userInfo.find(kLocalizedDescriptionKey); v && v->isString()) return v->asString();
    return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

std::string Error::description() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " UserInfo=" + Value(userInfo).description();
}

}  // namespace foundation
