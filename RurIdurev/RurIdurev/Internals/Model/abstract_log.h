// The base of every telemetry log: the fields each log carries, its validity, equality and JSON.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>

#include "RurIdurev/RurIdurev/Internals/Model/log_conversion.h"
#include "RurIdurev/RurIdurev/Internals/Model/serializable_object.h"
#include "RurIdurev/RurIdurev/Model/device.h"

class ZIVOAbstractLog : public ZIVOSerializableObject, public ZIVOLogConversion {
public:
    ZIVOAbstractLog() = default;
    ZIVOAbstractLog(const ZIVOAbstractLog&) = delete;
    ZIVOAbstractLog& operator=(const ZIVOAbstractLog&) = delete;

    std::string className() const override { return "ZIVOAbstractLog"; }
    foundation::Dictionary serializeToDictionary() const override;
    // The log's JSON text (UTF-8, slashes unescaped), or nothing when it cannot be written.
    std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;
    // type, timestamp and a valid device must be present; the first failing field is named in a
    // Verbose line.
    virtual bool isValid() const;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOAbstractLog> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(type, Type)

public:
    const std::optional<foundation::Date>& timestamp() const { return timestamp_; }
    void setTimestamp(std::optional<foundation::Date> value) { timestamp_ = value; }

    ZIVO_TEXT_PROPERTY(sid, Sid)
    ZIVO_TEXT_PROPERTY(distributionGroupId, DistributionGroupId)
    ZIVO_TEXT_PROPERTY(userId, UserId)
    ZIVO_TEXT_PROPERTY(dataResidencyRegion, DataResidencyRegion)

public:
    const std::shared_ptr<ZIVODevice>& device() const { return device_; }
    void setDevice(std::shared_ptr<ZIVODevice> value) { device_ = std::move(value); }
    // An opaque marker a producer may attach; a null value is absent. Takes part in equality only.
    const foundation::Value& tag() const { return tag_; }
    void setTag(foundation::Value value) { tag_ = std::move(value); }

    // The target tokens the log is also sent to (common schema), read and added under the log's lock.
    std::optional<std::set<std::string>> transmissionTargetTokens() const;
    void addTransmissionTargetToken(const std::string& token);
    void setTransmissionTargetTokens(std::optional<std::set<std::string>> tokens);

    // One common-schema log per target token, in the set's order (empty without a token).
    std::vector<std::shared_ptr<ZIVOCommonSchemaLog>> toCommonSchemaLogsWithFlags(uint32_t flags) const override;
    // The common-schema form for one token: version, time, key, flags and the extensions filled
    // from the log's device and user id. A class with more to say (a name, data) extends it.
    virtual std::shared_ptr<ZIVOCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                 uint32_t flags) const;

    // Conversion steps of the common-schema form.
    static std::optional<std::string> combineOsVersion(const std::optional<std::string>& version,
                                                       const std::optional<std::string>& build);
    static std::optional<std::string> combineSDKLibVer(const std::optional<std::string>& name,
                                                       const std::optional<std::string>& version);
    static std::string convertTimeZoneOffsetToISO8601(int64_t minutes);

protected:
    void decodeFields(foundation::Decoder& decoder);
    // Writes the Verbose line "<class>: "<field>" is not valid.".
    void logInvalidField(const std::string& field) const;

private:
    std::optional<foundation::Date> timestamp_;
    std::shared_ptr<ZIVODevice> device_;
    foundation::Value tag_;
    mutable std::mutex tokensMutex_;
    std::optional<std::set<std::string>> transmissionTargetTokens_;
};
