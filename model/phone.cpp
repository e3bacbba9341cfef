#include "model/phone.h"

#include <mutex>

#include "model/archive_read.h"

void HX_Phone::encode(foundation::Coder& coder) const {
    coder.encodeString("name", name_);
    coder.encodeString("number", number_);
    coder.encodeString("formattedNumber", formattedNumber_);
    coder.encodeInt64("phoneId", phoneId_);
    coder.encodeBool("forwarded", forwarded_);
    coder.encodeBool("verified", verified_);
    coder.encodeBool("isVOIP", isVOIP_);
    coder.encodeInt64("clientType", clientType_);
}

std::shared_ptr<HX_Phone> HX_Phone::decode(foundation::Decoder& d) {
    using namespace hx_archive;
    auto phone = std::make_shared<HX_Phone>();
    phone->name_ = readString(d, "name").value_or("");
    phone->number_ = readString(d, "number").value_or("");
    phone->formattedNumber_ = readString(d, "formattedNumber").value_or("");
    phone->phoneId_ = readInt32(d, "phoneId", 0);
    phone->forwarded_ = readBool(d, "forwarded", false);
    // Phones archived before verification existed were all verified.
    phone->verified_ = readBool(d, "verified", true);
    phone->isVOIP_ = readBool(d, "isVOIP", false);
    phone->clientType_ = readInt32(d, "clientType", 0);
    if (d.failed()) return nullptr;
    return phone;
}

void HX_Phone::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] { foundation::ArchiveClassRegistry::shared().registerClass<HX_Phone>(kClassName); });
}
