// Typed reads of keyed values that take the key's default on a value of the wrong kind instead
// of failing the whole archive: stored accounts and presets outlive the code that wrote them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/foundation/keyed_archiver.h"

namespace hx_archive {

bool readBool(foundation::Decoder& d, std::string_view key, bool fallback);
// Read through the number's 32-bit value, widened with sign (so -1 and -2 survive).
int64_t readInt32(foundation::Decoder& d, std::string_view key, int64_t fallback);
std::optional<std::string> readString(foundation::Decoder& d, std::string_view key);
// A plain dictionary, or nullopt when absent, nil or not a dictionary.
std::optional<foundation::Dictionary> readDictionary(foundation::Decoder& d, std::string_view key);
// A dictionary of objects of class T under integer keys; entries of another kind are skipped.
template <typename T>
std::optional<std::map<int64_t, std::shared_ptr<T>>> readObjectsById(foundation::Decoder& d, std::string_view key) {
    if (!d.containsValue(key)) return std::nullopt;
    auto list = d.decodeDictionaryOfObjects(key);
    if (!list) return std::nullopt;
    std::map<int64_t, std::shared_ptr<T>> out;
    for (auto& [k, o] : *list) {
        auto typed = std::dynamic_pointer_cast<T>(o);
        if (!typed || !k.isNumber()) continue;
        out[k.number()] = std::move(typed);
    }
    return out;
}

// The inverse: integer keys, nil objects left out.
template <typename T>
void encodeObjectsById(foundation::Coder& coder, std::string_view key,
                       const std::map<int64_t, std::shared_ptr<T>>& objects) {
    std::vector<std::pair<foundation::Key, std::shared_ptr<const foundation::Archivable>>> list;
    list.reserve(objects.size());
    for (const auto& [id, object] : objects) {
        if (!object) continue;
        // The key is made in place, not moved in: a moved-from integer Key leads GCC, with the
        // address sanitizer's instrumentation, to a false "may be used uninitialized" on the
        // string alternative that it never holds.
        list.emplace_back(std::piecewise_construct, std::forward_as_tuple(id), std::forward_as_tuple(object));
    }
    coder.encodeDictionaryOfObjects(key, list);
}

}  // namespace hx_archive
