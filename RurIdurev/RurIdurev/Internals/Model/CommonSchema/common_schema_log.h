// A telemetry log in the form the common-schema collector takes: schema version, event name,
// time, instrumentation key, flags, extensions and data.
#pragma once

#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/cs_extensions.h"
#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"

class ZIVOCSData : public ZIVOSerializableObject {
public:
    std::string className() const override { return "ZIVOCSData"; }
    // "baseType" and "baseData" first, then the other properties in their own order.
    foundation::Dictionary serializeToDictionary() const override;
    std::optional<foundation::Dictionary> jsonForm() const;
    bool isValid() const { return true; }
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOCSData> decode(foundation::Decoder& decoder);
    std::optional<foundation::Dictionary> properties() const;
    void setProperties(std::optional<foundation::Dictionary> value);

private:
    mutable std::mutex mutex_;
    std::optional<foundation::Dictionary> properties_;
};

class ZIVOCommonSchemaLog : public ZIVOAbstractLog {
public:
    std::string className() const override { return "ZIVOCommonSchemaLog"; }
    // Built from scratch: none of the inherited keys appear.
    foundation::Dictionary serializeToDictionary() const override;
    // timestamp, ver and name must be present (the extensions play no part).
    bool isValid() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOCommonSchemaLog> decode(foundation::Decoder& decoder);
    // Makes the common-schema classes known to the archive registry (once per process).
    static void registerArchiveClasses();

    ZIVO_TEXT_PROPERTY(ver, Ver)
    ZIVO_TEXT_PROPERTY(name, Name)
    ZIVO_TEXT_PROPERTY(iKey, IKey)
    ZIVO_TEXT_PROPERTY(cV, CV)
public:
    double popSample() const { return popSample_; }
    void setPopSample(double value) { popSample_ = value; }
    int64_t flags() const { return flags_; }
    void setFlags(int64_t value) { flags_ = value; }
    std::shared_ptr<ZIVOCSExtensions> ext;
    std::shared_ptr<ZIVOCSData> data;

private:
    double popSample_ = 0;
    int64_t flags_ = 0;
};
