#include "platform/services/postal_address.h"

#include <algorithm>
#include <vector>

namespace services {

namespace {

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const auto& part : parts) {
        if (part.empty()) continue;
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

}  // namespace

std::string mailingAddressString(const PostalAddress& a) {
    std::string code = a.isoCountryCode;
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool cityFirst = code.empty() || code == "us" || code == "ca" || code == "au";
    std::vector<std::string> lines{a.street};
    if (cityFirst) {
        lines.push_back(joined({a.city, a.state, a.postalCode}, " "));
    } else {
        lines.push_back(joined({a.postalCode, a.city}, " "));
        lines.push_back(a.state);
    }
    lines.push_back(a.country);
    return joined(lines, "\n");
}

}  // namespace services
