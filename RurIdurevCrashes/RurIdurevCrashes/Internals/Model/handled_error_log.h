// An error the application caught and chose to report ("handledError").
#pragma once

#include "RurIdurev/RurIdurev/Internals/Model/log_with_properties.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/exception_model.h"

class ZIVOHandledErrorLog : public ZIVOLogWithProperties {
public:
    ZIVOHandledErrorLog() { setType(std::string("handledError")); }

    std::string className() const override { return "ZIVOHandledErrorLog"; }
    foundation::Dictionary serializeToDictionary() const override;
    // The base's validity, then errorId and exception present (the exception's own validity is
    // not consulted).
    bool isValid() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOHandledErrorLog> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(errorId, ErrorId)

public:
    const std::shared_ptr<ZIVOExceptionModel>& exception() const { return exception_; }
    void setException(std::shared_ptr<ZIVOExceptionModel> value) { exception_ = std::move(value); }

private:
    std::shared_ptr<ZIVOExceptionModel> exception_;
};
