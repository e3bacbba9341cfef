// One frame of a thread or of an exception's stack, as the crash log sends it.
#pragma once

#include "RurIdurev/RurIdurev/Internals/Model/serializable_object.h"

class ZIVOStackFrame : public ZIVOSerializableObject {
public:
    std::string className() const override { return "ZIVOStackFrame"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOStackFrame> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(address, Address)
    ZIVO_TEXT_PROPERTY(code, Code)
    ZIVO_TEXT_PROPERTY(methodName, MethodName)
    ZIVO_TEXT_PROPERTY(fileName, FileName)

public:
    // The class part of a method frame (className() names this model class itself).
    const std::optional<std::string>& frameClassName() const { return frameClassName_; }
    void setClassName(std::optional<std::string> value) { frameClassName_ = std::move(value); }
    const std::optional<int64_t>& lineNumber() const { return lineNumber_; }
    void setLineNumber(std::optional<int64_t> value) { lineNumber_ = value; }

private:
    std::optional<std::string> frameClassName_;
    std::optional<int64_t> lineNumber_;
};
