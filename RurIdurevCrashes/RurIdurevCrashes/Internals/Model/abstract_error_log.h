// The fields every error log shares: which process and thread failed, when it started.
#pragma once

#include "RurIdurev/RurIdurev/Internals/Model/log_with_properties.h"

class ZIVOAbstractErrorLog : public ZIVOLogWithProperties {
public:
    std::string className() const override { return "ZIVOAbstractErrorLog"; }
    foundation::Dictionary serializeToDictionary() const override;
    // The base's validity, then errorId, processId and processName present.
    bool isValid() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOAbstractErrorLog> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(errorId, ErrorId)
    ZIVO_TEXT_PROPERTY(processName, ProcessName)
    ZIVO_TEXT_PROPERTY(parentProcessName, ParentProcessName)
    ZIVO_TEXT_PROPERTY(errorThreadName, ErrorThreadName)
    ZIVO_TEXT_PROPERTY(architecture, Architecture)

public:
    const std::optional<int64_t>& processId() const { return processId_; }
    void setProcessId(std::optional<int64_t> value) { processId_ = value; }
    const std::optional<int64_t>& parentProcessId() const { return parentProcessId_; }
    void setParentProcessId(std::optional<int64_t> value) { parentProcessId_ = value; }
    const std::optional<int64_t>& errorThreadId() const { return errorThreadId_; }
    void setErrorThreadId(std::optional<int64_t> value) { errorThreadId_ = value; }
    bool isFatal() const { return fatal_; }
    void setFatal(bool value) { fatal_ = value; }
    const std::optional<foundation::Date>& appLaunchTimestamp() const { return appLaunchTimestamp_; }
    void setAppLaunchTimestamp(std::optional<foundation::Date> value) { appLaunchTimestamp_ = value; }

protected:
    void decodeFields(foundation::Decoder& decoder);

private:
    std::optional<int64_t> processId_;
    std::optional<int64_t> parentProcessId_;
    std::optional<int64_t> errorThreadId_;
    bool fatal_ = false;
    std::optional<foundation::Date> appLaunchTimestamp_;
};
