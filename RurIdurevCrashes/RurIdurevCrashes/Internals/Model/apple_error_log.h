// The crash log ("appleError"): the failed process's architecture, signal, language-level
// exception, threads, binaries and registers.
#pragma once

#include <map>

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/abstract_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/binary.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/thread.h"

class ZIVOAppleErrorLog : public ZIVOAbstractErrorLog {
public:
    using Threads = std::vector<std::shared_ptr<ZIVOThread>>;
    using Binaries = std::vector<std::shared_ptr<ZIVOBinary>>;

    ZIVOAppleErrorLog() { setType(std::string("appleError")); }

    std::string className() const override { return "ZIVOAppleErrorLog"; }
    foundation::Dictionary serializeToDictionary() const override;
    // The error base's validity, then primaryArchitectureId, applicationPath and the three
    // osException fields present. Threads, binaries and the exception are not looked into.
    bool isValid() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOAppleErrorLog> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(applicationPath, ApplicationPath)
    ZIVO_TEXT_PROPERTY(osExceptionType, OsExceptionType)
    ZIVO_TEXT_PROPERTY(osExceptionCode, OsExceptionCode)
    ZIVO_TEXT_PROPERTY(osExceptionAddress, OsExceptionAddress)
    ZIVO_TEXT_PROPERTY(exceptionType, ExceptionType)
    ZIVO_TEXT_PROPERTY(exceptionReason, ExceptionReason)
    ZIVO_TEXT_PROPERTY(selectorRegisterValue, SelectorRegisterValue)

public:
    const std::optional<uint64_t>& primaryArchitectureId() const { return primaryArchitectureId_; }
    void setPrimaryArchitectureId(std::optional<uint64_t> value) { primaryArchitectureId_ = value; }
    const std::optional<uint64_t>& architectureVariantId() const { return architectureVariantId_; }
    void setArchitectureVariantId(std::optional<uint64_t> value) { architectureVariantId_ = value; }
    const std::optional<Threads>& threads() const { return threads_; }
    void setThreads(std::optional<Threads> value) { threads_ = std::move(value); }
    const std::optional<Binaries>& binaries() const { return binaries_; }
    void setBinaries(std::optional<Binaries> value) { binaries_ = std::move(value); }
    // Register name -> value text.
    const std::optional<foundation::Dictionary>& registers() const { return registers_; }
    void setRegisters(std::optional<foundation::Dictionary> value) { registers_ = std::move(value); }
    const std::shared_ptr<ZIVOExceptionModel>& exception() const { return exception_; }
    void setException(std::shared_ptr<ZIVOExceptionModel> value) { exception_ = std::move(value); }

private:
    std::optional<uint64_t> primaryArchitectureId_;
    std::optional<uint64_t> architectureVariantId_;
    std::optional<Threads> threads_;
    std::optional<Binaries> binaries_;
    std::optional<foundation::Dictionary> registers_;
    std::shared_ptr<ZIVOExceptionModel> exception_;
};
