// One linked phone or VoIP client of an account.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/keyed_archiver.h"

class HX_Phone : public foundation::Archivable {
public:
    static constexpr const char* kClassName = "HX_Phone";

    const std::string& name() const { return name_; }
    void setName(std::string v) { name_ = std::move(v); }
    // E.164, or the device id of a VoIP client.
    const std::string& number() const { return number_; }
    void setNumber(std::string v) { number_ = std::move(v); }
    const std::string& formattedNumber() const { return formattedNumber_; }
    void setFormattedNumber(std::string v) { formattedNumber_ = std::move(v); }
    int64_t phoneId() const { return phoneId_; }
    void setPhoneId(int64_t v) { phoneId_ = v; }
    bool forwarded() const { return forwarded_; }
    void setForwarded(bool v) { forwarded_ = v; }
    bool verified() const { return verified_; }
    void setVerified(bool v) { verified_ = v; }
    bool isVOIP() const { return isVOIP_; }
    void setIsVOIP(bool v) { isVOIP_ = v; }
    // 1 "hxAndroid", 2 "hxIos", 3 "hxWeb", 4 "sipAdapter", 0 other.
    int64_t clientType() const { return clientType_; }
    void setClientType(int64_t v) { clientType_ = v; }

    std::string className() const override { return kClassName; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<HX_Phone> decode(foundation::Decoder& decoder);
    static void registerClass();

private:
    std::string name_;
    std::string number_;
    std::string formattedNumber_;
    int64_t phoneId_ = 0;
    bool forwarded_ = false;
    bool verified_ = false;
    bool isVOIP_ = false;
    int64_t clientType_ = 0;
};

using HX_PhonePtr = std::shared_ptr<HX_Phone>;
