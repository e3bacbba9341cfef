// The bodies of the service-setting changes, built from a greeting id, a phone's name and number
// of any bytes: each is JSON our reader takes back, of four elements ending in null and 1; the
// greeting id and the number come back as they were (malformed UTF-8 as U+FFFD, the way the
// JSON writer carries it), and the phone's name comes back through its %XX escapes byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/phone.h"
#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "service/settings_updates.h"

namespace {

using foundation::Value;

const Value& at(const Value& v, std::initializer_list<size_t> path) {
    const Value* cur = &v;
    for (size_t i : path) cur = &cur->at(i);
    return *cur;
}

// The body read back; the last two elements are always null and 1.
Value readBody(const std::string& body) {
    auto parsed = foundation::parseJSON(body);
    if (!parsed.ok() || !parsed.value().isArray() || parsed.value().size() != 4) std::abort();
    const Value& v = parsed.value();
    if (!at(v, {2}).isNull() || !at(v, {3}).isInt() || at(v, {3}).int64Value() != 1) std::abort();
    return v;
}

// A string element; anything else is a fault of the body.
const std::string& text(const Value& v) {
    if (!v.isString()) std::abort();
    return v.asString();
}

// Text as the JSON writer carries it: malformed UTF-8 replaced.
std::string carried(const std::string& text) {
    return foundation::isValidUtf8(text) ? text : foundation::fromUtf16(foundation::toUtf16(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The rest is the name, a NUL, and the number (the greeting id is the whole rest).
    const size_t cut = rest.find('\0');
    const std::string name = rest.substr(0, cut);
    const std::string number = cut == std::string::npos ? std::string() : rest.substr(cut + 1);

    const auto setting = static_cast<HXServiceSetting>(flags % 9);
    (void)readBody(HXServiceSettingBody(setting, flags & 0x10));

    const Value greeting = readBody(HXGreetingBody(rest));
    if (text(at(greeting, {0, 3, 10, 1, 0})) != carried(rest)) std::abort();

    const std::string escaped = HXEscapePhoneName(name);
    for (unsigned char c : escaped)
        if (c >= 0x80 || std::string_view(";:@&=/+?").find(static_cast<char>(c)) != std::string_view::npos)
            std::abort();
    const auto decoded = foundation::percentDecodeBytes(escaped);
    if (!decoded || std::string(decoded->begin(), decoded->end()) != name) std::abort();

    HX_Phone phone;
    phone.setName(name);
    phone.setNumber(number);
    const bool voip = flags & 0x20;
    phone.setIsVOIP(voip);
    phone.setClientType(flags >> 6);
    const Value forwarding = readBody(HXForwardingBody(phone, flags & 0x10));
    // Where the entry of the phone sits: among the phones, or among the VoIP clients.
    const Value& entry = voip ? at(forwarding, {0, 2, 4, 0}) : at(forwarding, {0, 2, 1, 0});
    const Value& carriedName = at(entry, {voip ? size_t{2} : size_t{1}});
    const Value& carriedNumber = voip ? at(entry, {0}) : at(entry, {0, 1});
    if (text(carriedName) != escaped) std::abort();
    if (text(carriedNumber) != carried(number)) std::abort();
    if (voip && (!at(entry, {1}).isInt() || at(entry, {1}).int64Value() != (flags >> 6))) std::abort();
    return 0;
}
