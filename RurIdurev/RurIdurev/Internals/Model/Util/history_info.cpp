#include "RurIdurev/RurIdurev/Internals/Model/Util/history_info.h"

void ZIVOHistoryInfo::encode(foundation::Coder& coder) const {
    if (timestamp_) coder.encodeDate("timestampKey", *timestamp_);
}

void ZIVOHistoryInfo::decodeFields(foundation::Decoder& decoder) { timestamp_ = decoder.decodeDate("timestampKey"); }

std::shared_ptr<ZIVOHistoryInfo> ZIVOHistoryInfo::decode(foundation::Decoder& decoder) {
    auto info = std::make_shared<ZIVOHistoryInfo>();
    info->decodeFields(decoder);
    return info;
}

void ZIVODeviceHistoryInfo::encode(foundation::Coder& coder) const {
    ZIVOHistoryInfo::encode(coder);
    if (device_) coder.encodeObject("deviceKey", std::shared_ptr<const foundation::Archivable>(device_));
}

std::shared_ptr<ZIVODeviceHistoryInfo> ZIVODeviceHistoryInfo::decode(foundation::Decoder& decoder) {
    auto info = std::make_shared<ZIVODeviceHistoryInfo>();
    info->decodeFields(decoder);
    info->device_ = decoder.decodeObject<ZIVODevice>("deviceKey");
    return info;
}

void ZIVOSessionHistoryInfo::encode(foundation::Coder& coder) const {
    ZIVOHistoryInfo::encode(coder);
    if (sessionId_) coder.encodeString("sessionIdKey", *sessionId_);
}

std::shared_ptr<ZIVOSessionHistoryInfo> ZIVOSessionHistoryInfo::decode(foundation::Decoder& decoder) {
    auto info = std::make_shared<ZIVOSessionHistoryInfo>();
    info->decodeFields(decoder);
    info->sessionId_ = decoder.decodeString("sessionIdKey");
    return info;
}

void ZIVOUserIdHistoryInfo::encode(foundation::Coder& coder) const {
    ZIVOHistoryInfo::encode(coder);
    if (userId_) coder.encodeString("userIdKey", *userId_);
}

std::shared_ptr<ZIVOUserIdHistoryInfo> ZIVOUserIdHistoryInfo::decode(foundation::Decoder& decoder) {
    auto info = std::make_shared<ZIVOUserIdHistoryInfo>();
    info->decodeFields(decoder);
    info->userId_ = decoder.decodeString("userIdKey");
    return info;
}
