#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/dispatch/dispatch.h"

// ---- Data

std::optional<foundation::Dictionary> ZIVOCSData::properties() const {
    std::lock_guard lock(mutex_);
    return properties_;
}
void ZIVOCSData::setProperties(std::optional<foundation::Dictionary> value) {
    std::lock_guard lock(mutex_);
    properties_ = std::move(value);
}
foundation::Dictionary ZIVOCSData::serializeToDictionary() const {
    return jsonForm().value_or(foundation::Dictionary{});
}
std::optional<foundation::Dictionary> ZIVOCSData::jsonForm() const {
    auto props = properties();
    if (!props) return std::nullopt;
    foundation::Dictionary out;
    for (const char* first : {"baseType", "baseData"})
        if (const auto* v = props->find(first)) out.set(first, *v);
    for (const auto& entry : *props)
        if (!out.contains(entry.first)) out.set(entry.first, entry.second);
    return out;
}
bool ZIVOCSData::isEqual(const ZIVOSerializableObject& other) const {
    const auto* o = dynamic_cast<const ZIVOCSData*>(&other);
    return o && properties() == o->properties();
}
void ZIVOCSData::encode(foundation::Coder& coder) const {
    if (auto p = properties()) coder.encodeValue("properties", foundation::Value(*p));
}
std::shared_ptr<ZIVOCSData> ZIVOCSData::decode(foundation::Decoder& decoder) {
    auto out = std::make_shared<ZIVOCSData>();
    auto value = decoder.decodeValue("properties");
    if (const auto* dict = value.ifDictionary()) out->setProperties(*dict);
    return out;
}

// ---- Log

foundation::Dictionary ZIVOCommonSchemaLog::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetIfPresent(dict, "ver", ver_);
    zivoSetIfPresent(dict, "name", name_);
    if (timestamp()) dict.set("time", ZIVOUtility::dateToISO8601(*timestamp()));
    zivoSetIfPresent(dict, "iKey", iKey_);
    if (flags_ != 0) dict.set("flags", flags_);
    if (ext) dict.set("ext", ext->serializeToDictionary());
    if (data) {
        if (auto form = data->jsonForm()) dict.set("data", std::move(*form));
    }
    return dict;
}

bool ZIVOCommonSchemaLog::isValid() const {
    const char* missing = !timestamp() ? "timestamp" : !ver_ ? "ver" : !name_ ? "name" : nullptr;
    if (!missing) return true;
    logInvalidField(missing);
    return false;
}

bool ZIVOCommonSchemaLog::isEqual(const ZIVOSerializableObject& other) const {
    const auto* o = dynamic_cast<const ZIVOCommonSchemaLog*>(&other);
    if (!o || !ZIVOAbstractLog::isEqual(other)) return false;
    auto same = [](const auto& a, const auto& b) { return (!a && !b) || (a && b && a->isEqual(*b)); };
    return ver_ == o->ver_ && name_ == o->name_ && popSample_ == o->popSample_ && iKey_ == o->iKey_ &&
           flags_ == o->flags_ && cV_ == o->cV_ && same(ext, o->ext) && same(data, o->data);
}

void ZIVOCommonSchemaLog::encode(foundation::Coder& coder) const {
    ZIVOAbstractLog::encode(coder);
    zivoEncodeIfPresent(coder, "ver", ver_);
    zivoEncodeIfPresent(coder, "name", name_);
    coder.encodeDouble("popSample", popSample_);
    zivoEncodeIfPresent(coder, "iKey", iKey_);
    coder.encodeInt64("flags", flags_);
    zivoEncodeIfPresent(coder, "cV", cV_);
    if (ext) coder.encodeObject("ext", std::shared_ptr<const foundation::Archivable>(ext));
    if (data) coder.encodeObject("data", std::shared_ptr<const foundation::Archivable>(data));
}

std::shared_ptr<ZIVOCommonSchemaLog> ZIVOCommonSchemaLog::decode(foundation::Decoder& decoder) {
    auto log = std::make_shared<ZIVOCommonSchemaLog>();
    log->decodeFields(decoder);
    log->ver_ = decoder.decodeString("ver");
    log->name_ = decoder.decodeString("name");
    log->popSample_ = decoder.decodeDouble("popSample");
    log->iKey_ = decoder.decodeString("iKey");
    log->flags_ = decoder.decodeInt64("flags");
    log->cV_ = decoder.decodeString("cV");
    log->ext = decoder.decodeObject<ZIVOCSExtensions>("ext");
    log->data = decoder.decodeObject<ZIVOCSData>("data");
    return log;
}

void ZIVOCommonSchemaLog::registerArchiveClasses() {
    static dispatch::OnceFlag once;
    once.call([] {
        auto& registry = foundation::ArchiveClassRegistry::shared();
        registry.registerClass<ZIVOCommonSchemaLog>("ZIVOCommonSchemaLog");
        registry.registerClass<ZIVOCSExtensions>("ZIVOCSExtensions");
        registry.registerClass<ZIVOCSData>("ZIVOCSData");
        registry.registerClass<ZIVOMetadataExtension>("ZIVOMetadataExtension");
        registry.registerClass<ZIVOProtocolExtension>("ZIVOProtocolExtension");
        registry.registerClass<ZIVOUserExtension>("ZIVOUserExtension");
        registry.registerClass<ZIVODeviceExtension>("ZIVODeviceExtension");
        registry.registerClass<ZIVOOSExtension>("ZIVOOSExtension");
        registry.registerClass<ZIVOAppExtension>("ZIVOAppExtension");
        registry.registerClass<ZIVONetExtension>("ZIVONetExtension");
        registry.registerClass<ZIVOSDKExtension>("ZIVOSDKExtension");
        registry.registerClass<ZIVOLocExtension>("ZIVOLocExtension");
    });
}
