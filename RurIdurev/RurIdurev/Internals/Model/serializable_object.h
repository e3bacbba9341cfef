// What every model object of the SDK answers: its class name (as logs and archives name it), its
// JSON object, and equality in the platform's sense (same class or a subclass, then the fields).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/value.h"

// Archived with keys equal to the JSON keys; decoding goes through a per-class factory
// (`static std::shared_ptr<T> decode(foundation::Decoder&)`) that reads the base's keys first.
class ZIVOSerializableObject : public foundation::Archivable {
public:
    // The class name as the system names it ("ZIVODevice", "ZIVOAppleErrorLog", ...).
    std::string className() const override = 0;
    // The JSON object; a key is written only when its value is present.
    virtual foundation::Dictionary serializeToDictionary() const = 0;
    virtual bool isEqual(const ZIVOSerializableObject& other) const = 0;
};

// Two optional values are equal when both are absent or both hold equal values.
template <typename T>
bool zivoOptionalEquals(const std::optional<T>& a, const std::optional<T>& b) {
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

// Two shared model objects are equal when both are absent or the first's equality accepts the second.
template <typename T>
bool zivoObjectEquals(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (!a || !b) return !a && !b;
    return a->isEqual(*b);
}

// Declares an optional text property `name()` / `setName(...)` with its storage.
#define ZIVO_TEXT_PROPERTY(name, Name)                                                                                 \
public:                                                                                                                \
    const std::optional<std::string>& name() const { return name##_; }                                                 \
    void set##Name(std::optional<std::string> value) { name##_ = std::move(value); }                                   \
                                                                                                                       \
private:                                                                                                               \
    std::optional<std::string> name##_;

// Writes an optional text or number under key when present (an absent value leaves the key out).
inline void zivoEncodeIfPresent(foundation::Coder& coder, const char* key, const std::optional<std::string>& value) {
    if (value) coder.encodeString(key, *value);
}
inline void zivoEncodeIfPresent(foundation::Coder& coder, const char* key, const std::optional<int64_t>& value) {
    if (value) coder.encodeInt64(key, *value);
}

// Writes an optional text or number under key when present.
template <typename T>
void zivoSetIfPresent(foundation::Dictionary& dict, const char* key, const std::optional<T>& value) {
    if (value) dict.set(key, *value);
}

// Reads what zivoEncodeIfPresent wrote: absent stays absent.
inline void zivoDecodeIfPresent(foundation::Decoder& decoder, const char* key, std::optional<std::string>& value) {
    value = decoder.decodeString(key);
}
inline void zivoDecodeIfPresent(foundation::Decoder& decoder, const char* key, std::optional<int64_t>& value) {
    value = decoder.containsValue(key) ? std::optional<int64_t>(decoder.decodeInt64(key)) : std::nullopt;
}
