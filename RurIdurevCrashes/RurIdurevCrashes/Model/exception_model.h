// A language-level exception or error as the crash and handled-error logs carry it: its type,
// message, the printed symbol list and the frames parsed from that list.
#pragma once

#include <vector>

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/stack_frame.h"
#include "platform/foundation/error.h"
#include "platform/kernel/uncaught_exception.h"

class ZIVOExceptionModel : public ZIVOSerializableObject {
public:
    using Frames = std::vector<std::shared_ptr<ZIVOStackFrame>>;

    ZIVOExceptionModel() = default;
    // type = the error's domain, message = the printed user info (when it has entries), the
    // current thread's symbols as stack trace and frames.
    static std::shared_ptr<ZIVOExceptionModel> initWithError(const foundation::Error& error);
    // type = name, message = reason; the symbols of its return addresses when it has any, else
    // frames from the current thread and no stack trace.
    static std::shared_ptr<ZIVOExceptionModel> initWithException(const kernel::PlatformException& exception);
    // Without symbol lines the current thread's take their place.
    static std::shared_ptr<ZIVOExceptionModel> initWithType(std::optional<std::string> type,
                                                            std::optional<std::string> exceptionMessage,
                                                            std::optional<std::vector<std::string>> stackTrace);

    // One frame per line that splits (at any of " -[]+?.,") into at least 6 non-empty pieces:
    // fileName = piece 1, address = piece 2, className = piece 3, methodName = piece 4.
    static Frames loadStackTrace(const std::vector<std::string>& symbols);

    std::string className() const override { return "ZIVOExceptionModel"; }
    foundation::Dictionary serializeToDictionary() const override;
    // type present, then at least one frame.
    virtual bool isValid() const;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOExceptionModel> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(type, Type)
    ZIVO_TEXT_PROPERTY(message, Message)
    ZIVO_TEXT_PROPERTY(stackTrace, StackTrace)

public:
    const std::optional<Frames>& frames() const { return frames_; }
    void setFrames(std::optional<Frames> value) { frames_ = std::move(value); }

protected:
    void decodeFields(foundation::Decoder& decoder);
    void logInvalidField(const std::string& field) const;

private:
    std::optional<Frames> frames_;
};

// The platform's printed forms of a list of texts and of a dictionary, as log texts show them:
// "(\n    a,\n    \"b c\"\n)" and "{\n    key = value;\n}".
std::string zivoPrintedArray(const std::vector<std::string>& items);
std::string zivoPrintedDictionary(const foundation::Dictionary& dict);
// The current thread's call-stack symbol lines ("0   module   0x0000... symbol + offset").
std::vector<std::string> zivoCallStackSymbols(size_t skip = 0);
std::vector<std::string> zivoSymbolsForAddresses(const std::vector<uint64_t>& addresses);
