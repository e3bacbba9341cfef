// Time-stamped history records: the base (a timestamp) and the device, session and user-id forms.
#pragma once

#include <memory>

#include "RurIdurev/RurIdurev/Internals/Model/serializable_object.h"
#include "RurIdurev/RurIdurev/Model/device.h"

class ZIVOHistoryInfo : public foundation::Archivable {
public:
    ZIVOHistoryInfo() = default;
    explicit ZIVOHistoryInfo(std::optional<foundation::Date> timestamp) : timestamp_(timestamp) {}

    std::string className() const override { return "ZIVOHistoryInfo"; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOHistoryInfo> decode(foundation::Decoder& decoder);

    const std::optional<foundation::Date>& timestamp() const { return timestamp_; }
    void setTimestamp(std::optional<foundation::Date> value) { timestamp_ = value; }

protected:
    void decodeFields(foundation::Decoder& decoder);

private:
    std::optional<foundation::Date> timestamp_;
};

class ZIVODeviceHistoryInfo : public ZIVOHistoryInfo {
public:
    ZIVODeviceHistoryInfo() = default;
    ZIVODeviceHistoryInfo(std::optional<foundation::Date> timestamp, std::shared_ptr<ZIVODevice> device)
        : ZIVOHistoryInfo(timestamp), device_(std::move(device)) {}

    std::string className() const override { return "ZIVODeviceHistoryInfo"; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVODeviceHistoryInfo> decode(foundation::Decoder& decoder);

    const std::shared_ptr<ZIVODevice>& device() const { return device_; }
    void setDevice(std::shared_ptr<ZIVODevice> value) { device_ = std::move(value); }

private:
    std::shared_ptr<ZIVODevice> device_;
};

class ZIVOSessionHistoryInfo : public ZIVOHistoryInfo {
public:
    ZIVOSessionHistoryInfo() = default;
    ZIVOSessionHistoryInfo(std::optional<foundation::Date> timestamp, std::optional<std::string> sessionId)
        : ZIVOHistoryInfo(timestamp), sessionId_(std::move(sessionId)) {}

    std::string className() const override { return "ZIVOSessionHistoryInfo"; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOSessionHistoryInfo> decode(foundation::Decoder& decoder);

    const std::optional<std::string>& sessionId() const { return sessionId_; }
    void setSessionId(std::optional<std::string> value) { sessionId_ = std::move(value); }

private:
    std::optional<std::string> sessionId_;
};

class ZIVOUserIdHistoryInfo : public ZIVOHistoryInfo {
public:
    ZIVOUserIdHistoryInfo() = default;
    ZIVOUserIdHistoryInfo(std::optional<foundation::Date> timestamp, std::optional<std::string> userId)
        : ZIVOHistoryInfo(timestamp), userId_(std::move(userId)) {}

    std::string className() const override { return "ZIVOUserIdHistoryInfo"; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOUserIdHistoryInfo> decode(foundation::Decoder& decoder);

    const std::optional<std::string>& userId() const { return userId_; }
    void setUserId(std::optional<std::string> value) { userId_ = std::move(value); }

private:
    std::optional<std::string> userId_;
};
