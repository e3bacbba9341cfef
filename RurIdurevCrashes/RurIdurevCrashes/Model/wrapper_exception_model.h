// The exception model of a wrapper SDK: its own SDK name and nested causes.
#pragma once

#include "RurIdurevCrashes/RurIdurevCrashes/Model/exception_model.h"

class ZIVOWrapperExceptionModel : public ZIVOExceptionModel {
public:
    using Inner = std::vector<std::shared_ptr<ZIVOExceptionModel>>;

    std::string className() const override { return "ZIVOWrapperExceptionModel"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOWrapperExceptionModel> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(wrapperSdkName, WrapperSdkName)

public:
    const std::optional<Inner>& innerExceptions() const { return innerExceptions_; }
    void setInnerExceptions(std::optional<Inner> value) { innerExceptions_ = std::move(value); }

private:
    std::optional<Inner> innerExceptions_;
};
