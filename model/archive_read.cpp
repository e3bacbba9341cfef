#include "model/archive_read.h"

namespace hx_archive {

namespace {
// Plain values only: an object of an archivable class where a plain value belongs is taken as
// absent.
foundation::Value plain(foundation::Decoder& d, std::string_view key) {
    if (!d.containsValue(key)) return {};
    auto any = d.decodeAny(key);
    if (any.object) return {};
    return std::move(any.value);
}
}  // namespace

bool readBool(foundation::Decoder& d, std::string_view key, bool fallback) {
    foundation::Value v = plain(d, key);
    if (v.isBool() || v.isNumber()) return v.boolValue(fallback);
    return fallback;
}

int64_t readInt32(foundation::Decoder& d, std::string_view key, int64_t fallback) {
    foundation::Value v = plain(d, key);
    if (v.isBool() || v.isNumber()) return static_cast<int64_t>(v.int32Value(static_cast<int32_t>(fallback)));
    return fallback;
}

std::optional<std::string> readString(foundation::Decoder& d, std::string_view key) {
    foundation::Value v = plain(d, key);
    if (const std::string* s = v.ifString()) return *s;
    return std::nullopt;
}

std::optional<foundation::Dictionary> readDictionary(foundation::Decoder& d, std::string_view key) {
    foundation::Value v = plain(d, key);
    if (const foundation::Dictionary* dict = v.ifDictionary()) return *dict;
    return std::nullopt;
}

}  // namespace hx_archive
