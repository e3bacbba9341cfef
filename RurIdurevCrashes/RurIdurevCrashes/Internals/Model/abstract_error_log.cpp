#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/abstract_error_log.h"

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/model_util.h"

foundation::Dictionary ZIVOAbstractErrorLog::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOLogWithProperties::serializeToDictionary();
    zivoSetIfPresent(dict, "id", errorId_);
    zivoSetNumber(dict, "processId", processId_);
    zivoSetIfPresent(dict, "processName", processName_);
    zivoSetNumber(dict, "parentProcessId", parentProcessId_);
    zivoSetIfPresent(dict, "parentProcessName", parentProcessName_);
    zivoSetNumber(dict, "errorThreadId", errorThreadId_);
    zivoSetIfPresent(dict, "errorThreadName", errorThreadName_);
    dict.set("fatal", fatal_);
    if (appLaunchTimestamp_) dict.set("appLaunchTimestamp", ZIVOUtility::dateToISO8601(*appLaunchTimestamp_));
    zivoSetIfPresent(dict, "architecture", architecture_);
    return dict;
}

bool ZIVOAbstractErrorLog::isValid() const {
    if (!ZIVOLogWithProperties::isValid()) return false;
    if (!errorId_) {
        zivoLogInvalidField(className(), "errorId");
        return false;
    }
    if (!processId_) {
        zivoLogInvalidField(className(), "processId");
        return false;
    }
    if (!processName_) {
        zivoLogInvalidField(className(), "processName");
        return false;
    }
    return true;
}

bool ZIVOAbstractErrorLog::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOAbstractErrorLog*>(&other);
    return log && ZIVOLogWithProperties::isEqual(other) && errorId_ == log->errorId_ && processId_ == log->processId_ &&
           processName_ == log->processName_ && parentProcessId_ == log->parentProcessId_ &&
           parentProcessName_ == log->parentProcessName_ && errorThreadId_ == log->errorThreadId_ &&
           errorThreadName_ == log->errorThreadName_ && fatal_ == log->fatal_ &&
           appLaunchTimestamp_ == log->appLaunchTimestamp_ && architecture_ == log->architecture_;
}

void ZIVOAbstractErrorLog::encode(foundation::Coder& coder) const {
    ZIVOLogWithProperties::encode(coder);
    zivoEncodeIfPresent(coder, "id", errorId_);
    zivoEncodeNumber(coder, "processId", processId_);
    zivoEncodeIfPresent(coder, "processName", processName_);
    zivoEncodeNumber(coder, "parentProcessId", parentProcessId_);
    zivoEncodeIfPresent(coder, "parentProcessName", parentProcessName_);
    zivoEncodeNumber(coder, "errorThreadId", errorThreadId_);
    zivoEncodeIfPresent(coder, "errorThreadName", errorThreadName_);
    coder.encodeBool("fatal", fatal_);
    if (appLaunchTimestamp_) coder.encodeDate("appLaunchTimestamp", *appLaunchTimestamp_);
    zivoEncodeIfPresent(coder, "architecture", architecture_);
}

void ZIVOAbstractErrorLog::decodeFields(foundation::Decoder& decoder) {
    ZIVOLogWithProperties::decodeFields(decoder);
    errorId_ = decoder.decodeString("id");
    processId_ = zivoDecodeNumber<int64_t>(decoder, "processId");
    processName_ = decoder.decodeString("processName");
    parentProcessId_ = zivoDecodeNumber<int64_t>(decoder, "parentProcessId");
    parentProcessName_ = decoder.decodeString("parentProcessName");
    errorThreadId_ = zivoDecodeNumber<int64_t>(decoder, "errorThreadId");
    errorThreadName_ = decoder.decodeString("errorThreadName");
    fatal_ = decoder.decodeBool("fatal", false);
    appLaunchTimestamp_ = decoder.decodeDate("appLaunchTimestamp");
    architecture_ = decoder.decodeString("architecture");
}

std::shared_ptr<ZIVOAbstractErrorLog> ZIVOAbstractErrorLog::decode(foundation::Decoder& decoder) {
    auto log = std::make_shared<ZIVOAbstractErrorLog>();
    log->decodeFields(decoder);
    return log;
}
