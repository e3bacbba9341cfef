#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/apple_error_log.h"

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/model_util.h"

foundation::Dictionary ZIVOAppleErrorLog::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOAbstractErrorLog::serializeToDictionary();
    zivoSetNumber(dict, "primaryArchitectureId", primaryArchitectureId_);
    zivoSetNumber(dict, "architectureVariantId", architectureVariantId_);
    zivoSetIfPresent(dict, "applicationPath", applicationPath_);
    zivoSetIfPresent(dict, "osExceptionType", osExceptionType_);
    zivoSetIfPresent(dict, "osExceptionCode", osExceptionCode_);
    zivoSetIfPresent(dict, "osExceptionAddress", osExceptionAddress_);
    zivoSetIfPresent(dict, "exceptionType", exceptionType_);
    zivoSetIfPresent(dict, "exceptionReason", exceptionReason_);
    zivoSetIfPresent(dict, "selectorRegisterValue", selectorRegisterValue_);
    if (threads_) dict.set("threads", zivoSerializeList(*threads_));
    if (binaries_) dict.set("binaries", zivoSerializeList(*binaries_));
    if (registers_) dict.set("registers", *registers_);
    if (exception_) dict.set("exception", exception_->serializeToDictionary());
    return dict;
}

bool ZIVOAppleErrorLog::isValid() const {
    if (!ZIVOAbstractErrorLog::isValid()) return false;
    if (!primaryArchitectureId_) {
        zivoLogInvalidField(className(), "primaryArchitectureId");
        return false;
    }
    const std::pair<const char*, const std::optional<std::string>*> required[] = {
        {"applicationPath", &applicationPath_},
        {"osExceptionType", &osExceptionType_},
        {"osExceptionCode", &osExceptionCode_},
        {"osExceptionAddress", &osExceptionAddress_}};
    for (const auto& [field, value] : required) {
        if (!*value) {
            zivoLogInvalidField(className(), field);
            return false;
        }
    }
    return true;
}

bool ZIVOAppleErrorLog::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOAppleErrorLog*>(&other);
    return log && ZIVOAbstractErrorLog::isEqual(other) && primaryArchitectureId_ == log->primaryArchitectureId_ &&
           architectureVariantId_ == log->architectureVariantId_ && applicationPath_ == log->applicationPath_ &&
           osExceptionType_ == log->osExceptionType_ && osExceptionCode_ == log->osExceptionCode_ &&
           osExceptionAddress_ == log->osExceptionAddress_ && exceptionType_ == log->exceptionType_ &&
           exceptionReason_ == log->exceptionReason_ && selectorRegisterValue_ == log->selectorRegisterValue_ &&
           zivoListsEqual(threads_, log->threads_) && zivoListsEqual(binaries_, log->binaries_) &&
           registers_ == log->registers_ && zivoObjectEquals(exception_, log->exception_);
}

void ZIVOAppleErrorLog::encode(foundation::Coder& coder) const {
    ZIVOAbstractErrorLog::encode(coder);
    zivoEncodeNumber(coder, "primaryArchitectureId", primaryArchitectureId_);
    zivoEncodeNumber(coder, "architectureVariantId", architectureVariantId_);
    zivoEncodeIfPresent(coder, "applicationPath", applicationPath_);
    zivoEncodeIfPresent(coder, "osExceptionType", osExceptionType_);
    zivoEncodeIfPresent(coder, "osExceptionCode", osExceptionCode_);
    zivoEncodeIfPresent(coder, "osExceptionAddress", osExceptionAddress_);
    zivoEncodeIfPresent(coder, "exceptionType", exceptionType_);
    zivoEncodeIfPresent(coder, "exceptionReason", exceptionReason_);
    zivoEncodeIfPresent(coder, "selectorRegisterValue", selectorRegisterValue_);
    if (threads_) coder.encodeArray("threads", *threads_);
    if (binaries_) coder.encodeArray("binaries", *binaries_);
    if (registers_) coder.encodeValue("registers", *registers_);
    if (exception_) coder.encodeObject("exception", std::shared_ptr<const foundation::Archivable>(exception_));
}

std::shared_ptr<ZIVOAppleErrorLog> ZIVOAppleErrorLog::decode(foundation::Decoder& decoder) {
    auto log = std::make_shared<ZIVOAppleErrorLog>();
    log->decodeFields(decoder);
    log->primaryArchitectureId_ = zivoDecodeNumber<uint64_t>(decoder, "primaryArchitectureId");
    log->architectureVariantId_ = zivoDecodeNumber<uint64_t>(decoder, "architectureVariantId");
    log->applicationPath_ = decoder.decodeString("applicationPath");
    log->osExceptionType_ = decoder.decodeString("osExceptionType");
    log->osExceptionCode_ = decoder.decodeString("osExceptionCode");
    log->osExceptionAddress_ = decoder.decodeString("osExceptionAddress");
    log->exceptionType_ = decoder.decodeString("exceptionType");
    log->exceptionReason_ = decoder.decodeString("exceptionReason");
    log->selectorRegisterValue_ = decoder.decodeString("selectorRegisterValue");
    log->threads_ = decoder.decodeArray<ZIVOThread>("threads");
    log->binaries_ = decoder.decodeArray<ZIVOBinary>("binaries");
    foundation::Value registers = decoder.decodeValue("registers");
    if (auto* dict = registers.ifDictionary()) log->registers_ = std::move(*dict);
    log->exception_ = decoder.decodeObject<ZIVOExceptionModel>("exception");
    return log;
}
