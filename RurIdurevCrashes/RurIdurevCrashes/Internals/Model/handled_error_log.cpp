#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/handled_error_log.h"

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/model_util.h"

foundation::Dictionary ZIVOHandledErrorLog::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOLogWithProperties::serializeToDictionary();
    zivoSetIfPresent(dict, "id", errorId_);
    if (exception_) dict.set("exception", exception_->serializeToDictionary());
    return dict;
}

bool ZIVOHandledErrorLog::isValid() const {
    if (!ZIVOLogWithProperties::isValid()) return false;
    if (!errorId_) {
        zivoLogInvalidField(className(), "errorId");
        return false;
    }
    if (!exception_) {
        zivoLogInvalidField(className(), "exception");
        return false;
    }
    return true;
}

bool ZIVOHandledErrorLog::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOHandledErrorLog*>(&other);
    return log && ZIVOLogWithProperties::isEqual(other) && errorId_ == log->errorId_ &&
           zivoObjectEquals(exception_, log->exception_);
}

void ZIVOHandledErrorLog::encode(foundation::Coder& coder) const {
    ZIVOLogWithProperties::encode(coder);
    zivoEncodeIfPresent(coder, "id", errorId_);
    if (exception_) coder.encodeObject("exception", std::shared_ptr<const foundation::Archivable>(exception_));
}

std::shared_ptr<ZIVOHandledErrorLog> ZIVOHandledErrorLog::decode(foundation::Decoder& decoder) {
    auto log = std::make_shared<ZIVOHandledErrorLog>();
    log->decodeFields(decoder);
    log->errorId_ = decoder.decodeString("id");
    log->exception_ = decoder.decodeObject<ZIVOExceptionModel>("exception");
    return log;
}
