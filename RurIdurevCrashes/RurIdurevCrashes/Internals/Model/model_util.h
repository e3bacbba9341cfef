// Small helpers shared by the crash models: optional numbers and lists of model objects in
// dictionaries, archives and comparisons.
#pragma once

#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/serializable_object.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_tag.h"

template <typename T>
bool zivoListsEqual(const std::optional<std::vector<std::shared_ptr<T>>>& a,
                    const std::optional<std::vector<std::shared_ptr<T>>>& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (size_t i = 0; i < a->size(); ++i)
        if (!zivoObjectEquals((*a)[i], (*b)[i])) return false;
    return true;
}

template <typename T>
foundation::Array zivoSerializeList(const std::vector<std::shared_ptr<T>>& list) {
    foundation::Array out;
    for (const auto& item : list)
        if (item) out.emplace_back(item->serializeToDictionary());
    return out;
}

// Numbers are written as plain values; the archive reads them back as 64-bit integers.
template <typename N>
void zivoSetNumber(foundation::Dictionary& dict, const char* key, const std::optional<N>& value) {
    if (value) dict.set(key, foundation::Value(*value));
}
template <typename N>
void zivoEncodeNumber(foundation::Coder& coder, const char* key, const std::optional<N>& value) {
    if (value) coder.encodeValue(key, foundation::Value(*value));
}
template <typename N>
std::optional<N> zivoDecodeNumber(foundation::Decoder& decoder, const char* key) {
    foundation::Value value = decoder.decodeValue(key);
    if (!value.isNumber()) return std::nullopt;
    return static_cast<N>(value.int64Value());
}

inline void zivoLogInvalidField(const std::string& className, const std::string& field) {
    ZIVOLogVerbose(kZIVOCrashesLogTag, className + ": \"" + field + "\" is not valid.");
}
