#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/cs_extensions.h"

#include <type_traits>

// ---- Metadata

std::optional<foundation::Dictionary> ZIVOMetadataExtension::metadata() const {
    std::lock_guard lock(mutex_);
    return metadata_;
}
void ZIVOMetadataExtension::setMetadata(std::optional<foundation::Dictionary> value) {
    std::lock_guard lock(mutex_);
    metadata_ = std::move(value);
}
foundation::Dictionary ZIVOMetadataExtension::serializeToDictionary() const {
    return metadata().value_or(foundation::Dictionary{});
}
std::optional<foundation::Dictionary> ZIVOMetadataExtension::jsonForm() const { return metadata(); }
bool ZIVOMetadataExtension::isEqual(const ZIVOSerializableObject& other) const {
    const auto* o = dynamic_cast<const ZIVOMetadataExtension*>(&other);
    return o && metadata() == o->metadata();
}
void ZIVOMetadataExtension::encode(foundation::Coder& coder) const {
    if (auto m = metadata()) coder.encodeValue("metadata", foundation::Value(*m));
}
std::shared_ptr<ZIVOMetadataExtension> ZIVOMetadataExtension::decode(foundation::Decoder& decoder) {
    auto out = std::make_shared<ZIVOMetadataExtension>();
    auto value = decoder.decodeValue("metadata");
    if (const auto* dict = value.ifDictionary()) out->setMetadata(*dict);
    return out;
}

// ---- Protocol

foundation::Dictionary ZIVOProtocolExtension::serializeToDictionary() const {
    foundation::Dictionary dict;
    if (ticketKeys_) {
        foundation::Array keys;
        for (const auto& key : *ticketKeys_) keys.emplace_back(key);
        dict.set("ticketKeys", std::move(keys));
    }
    zivoSetIfPresent(dict, "devMake", devMake_);
    zivoSetIfPresent(dict, "devModel", devModel_);
    return dict;
}
bool ZIVOProtocolExtension::isEqual(const ZIVOSerializableObject& other) const {
    const auto* o = dynamic_cast<const ZIVOProtocolExtension*>(&other);
    return o && ticketKeys_ == o->ticketKeys_ && devMake_ == o->devMake_ && devModel_ == o->devModel_;
}
void ZIVOProtocolExtension::encode(foundation::Coder& coder) const {
    if (ticketKeys_) {
        foundation::Array keys;
        for (const auto& key : *ticketKeys_) keys.emplace_back(key);
        coder.encodeValue("ticketKeys", foundation::Value(std::move(keys)));
    }
    zivoEncodeIfPresent(coder, "devMake", devMake_);
    zivoEncodeIfPresent(coder, "devModel", devModel_);
}
std::shared_ptr<ZIVOProtocolExtension> ZIVOProtocolExtension::decode(foundation::Decoder& decoder) {
    auto out = std::make_shared<ZIVOProtocolExtension>();
    auto keys = decoder.decodeValue("ticketKeys");
    if (const auto* list = keys.ifArray()) {
        std::vector<std::string> texts;
        for (const auto& key : *list)
            if (key.isString()) texts.push_back(key.asString());
        out->ticketKeys_ = std::move(texts);
    }
    out->devMake_ = decoder.decodeString("devMake");
    out->devModel_ = decoder.decodeString("devModel");
    return out;
}

// ---- The text-only extensions: (JSON and archive key, field) pairs.

#define ZIVO_CS_TEXT_EXTENSION_DEFS(Class, FIELDS)                                                                     \
    foundation::Dictionary Class::serializeToDictionary() const {                                                      \
        foundation::Dictionary dict;                                                                                   \
        auto put = [&](const char* key, const std::optional<std::string>& v) { zivoSetIfPresent(dict, key, v); };      \
        FIELDS(put, this->)                                                                                            \
        return dict;                                                                                                   \
    }                                                                                                                  \
    bool Class::isEqual(const ZIVOSerializableObject& other) const {                                                   \
        const auto* o = dynamic_cast<const Class*>(&other);                                                            \
        return o && serializeToDictionary() == o->serializeToDictionary();                                             \
    }                                                                                                                  \
    void Class::encode(foundation::Coder& coder) const {                                                               \
        auto put = [&](const char* key, const std::optional<std::string>& v) { zivoEncodeIfPresent(coder, key, v); };  \
        FIELDS(put, this->)                                                                                            \
    }                                                                                                                  \
    std::shared_ptr<Class> Class::decode(foundation::Decoder& decoder) {                                               \
        auto out = std::make_shared<Class>();                                                                          \
        auto take = [&](const char* key, std::optional<std::string>& v) { zivoDecodeIfPresent(decoder, key, v); };     \
        FIELDS(take, out->)                                                                                            \
        return out;                                                                                                    \
    }

#define USER_FIELDS(f, self)                                                                                           \
    f("localId", self localId_);                                                                                       \
    f("locale", self locale_);
ZIVO_CS_TEXT_EXTENSION_DEFS(ZIVOUserExtension, USER_FIELDS)

#define DEVICE_FIELDS(f, self) f("localId", self localId_);
ZIVO_CS_TEXT_EXTENSION_DEFS(ZIVODeviceExtension, DEVICE_FIELDS)

#define OS_FIELDS(f, self)                                                                                             \
    f("ver", self ver_);                                                                                               \
    f("name", self name_);
ZIVO_CS_TEXT_EXTENSION_DEFS(ZIVOOSExtension, OS_FIELDS)

#define APP_FIELDS(f, self)                                                                                            \
    f("id", self appId_);                                                                                              \
    f("ver", self ver_);                                                                                               \
    f("name", self name_);                                                                                             \
    f("locale", self locale_);                                                                                         \
    f("userId", self userId_);
ZIVO_CS_TEXT_EXTENSION_DEFS(ZIVOAppExtension, APP_FIELDS)

#define NET_FIELDS(f, self) f("provider", self provider_);
ZIVO_CS_TEXT_EXTENSION_DEFS(ZIVONetExtension, NET_FIELDS)

#define LOC_FIELDS(f, self) f("tz", self tz_);
ZIVO_CS_TEXT_EXTENSION_DEFS(ZIVOLocExtension, LOC_FIELDS)

// ---- SDK: the sequence number is written only when not 0.

foundation::Dictionary ZIVOSDKExtension::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetIfPresent(dict, "libVer", libVer_);
    zivoSetIfPresent(dict, "epoch", epoch_);
    zivoSetIfPresent(dict, "installId", installId_);
    if (seq_ != 0) dict.set("seq", seq_);
    return dict;
}
bool ZIVOSDKExtension::isEqual(const ZIVOSerializableObject& other) const {
    const auto* o = dynamic_cast<const ZIVOSDKExtension*>(&other);
    return o && libVer_ == o->libVer_ && epoch_ == o->epoch_ && installId_ == o->installId_ && seq_ == o->seq_;
}
void ZIVOSDKExtension::encode(foundation::Coder& coder) const {
    zivoEncodeIfPresent(coder, "libVer", libVer_);
    zivoEncodeIfPresent(coder, "epoch", epoch_);
    coder.encodeInt64("seq", seq_);
    zivoEncodeIfPresent(coder, "installId", installId_);
}
std::shared_ptr<ZIVOSDKExtension> ZIVOSDKExtension::decode(foundation::Decoder& d) {
    auto out = std::make_shared<ZIVOSDKExtension>();
    out->libVer_ = d.decodeString("libVer");
    out->epoch_ = d.decodeString("epoch");
    out->seq_ = d.decodeInt64("seq");
    out->installId_ = d.decodeString("installId");
    return out;
}

// ---- The set of extensions

namespace {

// Calls visit(key, extension of each set...) for every extension, in the JSON order; the key is
// also the archive key.
template <typename Visit, typename... Set>
void forEachExtension(Visit&& visit, Set&... set) {
    visit("metadata", set.metadataExt...);
    visit("protocol", set.protocolExt...);
    visit("user", set.userExt...);
    visit("device", set.deviceExt...);
    visit("os", set.osExt...);
    visit("app", set.appExt...);
    visit("net", set.netExt...);
    visit("sdk", set.sdkExt...);
    visit("loc", set.locExt...);
}

}  // namespace

foundation::Dictionary ZIVOCSExtensions::serializeToDictionary() const {
    foundation::Dictionary dict;
    forEachExtension(
        [&](const char* key, const auto& ext) {
            if (!ext) return;
            if (auto form = ext->jsonForm()) dict.set(key, std::move(*form));
        },
        *this);
    return dict;
}

bool ZIVOCSExtensions::isValid() const {
    // Every extension answers YES, so the set is valid whatever it holds.
    return true;
}

bool ZIVOCSExtensions::isEqual(const ZIVOSerializableObject& other) const {
    const auto* o = dynamic_cast<const ZIVOCSExtensions*>(&other);
    if (!o) return false;
    bool equal = true;
    forEachExtension([&](const char*, const auto& a, const auto& b) { equal = equal && zivoObjectEquals(a, b); }, *this,
                     *o);
    return equal;
}

void ZIVOCSExtensions::encode(foundation::Coder& coder) const {
    forEachExtension(
        [&](const char* key, const auto& ext) {
            if (ext) coder.encodeObject(key, std::shared_ptr<const foundation::Archivable>(ext));
        },
        *this);
}

std::shared_ptr<ZIVOCSExtensions> ZIVOCSExtensions::decode(foundation::Decoder& d) {
    auto out = std::make_shared<ZIVOCSExtensions>();
    forEachExtension(
        [&](const char* key, auto& ext) {
            ext = d.decodeObject<typename std::remove_reference_t<decltype(ext)>::element_type>(key);
        },
        *out);
    return out;
}
