#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/stack_frame.h"

foundation::Dictionary ZIVOStackFrame::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetIfPresent(dict, "address", address_);
    zivoSetIfPresent(dict, "code", code_);
    zivoSetIfPresent(dict, "className", frameClassName_);
    zivoSetIfPresent(dict, "methodName", methodName_);
    if (lineNumber_) dict.set("lineNumber", *lineNumber_);
    zivoSetIfPresent(dict, "fileName", fileName_);
    return dict;
}

bool ZIVOStackFrame::isEqual(const ZIVOSerializableObject& other) const {
    const auto* frame = dynamic_cast<const ZIVOStackFrame*>(&other);
    return frame && address_ == frame->address_ && code_ == frame->code_ && frameClassName_ == frame->frameClassName_ &&
           methodName_ == frame->methodName_ && lineNumber_ == frame->lineNumber_ && fileName_ == frame->fileName_;
}

void ZIVOStackFrame::encode(foundation::Coder& coder) const {
    zivoEncodeIfPresent(coder, "address", address_);
    zivoEncodeIfPresent(coder, "code", code_);
    zivoEncodeIfPresent(coder, "className", frameClassName_);
    zivoEncodeIfPresent(coder, "methodName", methodName_);
    if (lineNumber_) coder.encodeValue("lineNumber", foundation::Value(*lineNumber_));
    zivoEncodeIfPresent(coder, "fileName", fileName_);
}

std::shared_ptr<ZIVOStackFrame> ZIVOStackFrame::decode(foundation::Decoder& decoder) {
    auto frame = std::make_shared<ZIVOStackFrame>();
    frame->address_ = decoder.decodeString("address");
    frame->code_ = decoder.decodeString("code");
    frame->frameClassName_ = decoder.decodeString("className");
    frame->methodName_ = decoder.decodeString("methodName");
    foundation::Value line = decoder.decodeValue("lineNumber");
    if (line.isNumber()) frame->lineNumber_ = line.int64Value();
    frame->fileName_ = decoder.decodeString("fileName");
    return frame;
}
