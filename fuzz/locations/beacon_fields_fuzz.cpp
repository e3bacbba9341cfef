// The beacon alert's UUID, major and minor as typed: a region is made exactly when the numbers are
// empty or 0 to 65535, and its stored text names what is monitored.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/settings/vc_location_details.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // Fields separated by NUL bytes: uuid, major, minor.
    std::string fields[3];
    size_t at = 0;
    for (char c : input) {
        if (c == '\0' && at < 2) {
            ++at;
            continue;
        }
        fields[at] += c;
    }
    const bool valid = VC_LocationDetails::beaconFieldsValid(fields[0], fields[1], fields[2]);
    for (const auto& number : {fields[1], fields[2]}) {
        std::string t = number;
        while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(0, 1);
        while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
        if (!valid || t.empty()) continue;
        // Only plain decimal digits of at most 65535 get through (leading zeros do not count: the
        // number formatter reads "000007" as 7).
        if (t.find_first_not_of("0123456789") != std::string::npos) std::abort();
        const std::string digits = t.substr(std::min(t.find_first_not_of('0'), t.size() - 1));
        if (digits.size() > 5 || std::stoul(digits) > 65535) std::abort();
    }
    return 0;
}
