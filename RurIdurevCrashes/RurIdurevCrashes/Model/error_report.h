// The read-only summary of one error that the application is shown (never sent, never archived).
#pragma once

#include "RurIdurev/RurIdurev/Model/device.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/binary.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/thread.h"

class ZIVOErrorReport {
public:
    using Threads = std::vector<std::shared_ptr<ZIVOThread>>;
    using Binaries = std::vector<std::shared_ptr<ZIVOBinary>>;

    // Note the argument order: codeType before archName.
    ZIVOErrorReport(std::optional<std::string> errorId, std::optional<std::string> reporterKey,
                    std::optional<std::string> signal, std::optional<std::string> exceptionName,
                    std::optional<std::string> exceptionReason, std::optional<foundation::Date> appStartTime,
                    std::optional<foundation::Date> appErrorTime, std::optional<std::string> codeType,
                    std::optional<std::string> archName, std::optional<std::string> applicationPath,
                    std::optional<Threads> threads, std::optional<Binaries> binaries,
                    std::shared_ptr<ZIVODevice> device, uint64_t appProcessIdentifier);

    const std::optional<std::string>& incidentIdentifier() const { return incidentIdentifier_; }
    const std::optional<std::string>& reporterKey() const { return reporterKey_; }
    const std::optional<std::string>& signal() const { return signal_; }
    void setSignal(std::optional<std::string> value) { signal_ = std::move(value); }
    const std::optional<std::string>& exceptionName() const { return exceptionName_; }
    const std::optional<std::string>& exceptionReason() const { return exceptionReason_; }
    const std::optional<foundation::Date>& appStartTime() const { return appStartTime_; }
    const std::optional<foundation::Date>& appErrorTime() const { return appErrorTime_; }
    const std::optional<std::string>& archName() const { return archName_; }
    const std::optional<std::string>& codeType() const { return codeType_; }
    const std::optional<std::string>& applicationPath() const { return applicationPath_; }
    const std::optional<Threads>& threads() const { return threads_; }
    const std::optional<Binaries>& binaries() const { return binaries_; }
    const std::shared_ptr<ZIVODevice>& device() const { return device_; }
    uint64_t appProcessIdentifier() const { return appProcessIdentifier_; }

    // True exactly when the upper-cased signal is "SIGKILL".
    bool isAppKill() const;
    // For printing only: dates, model objects and the device stay as they are; the process
    // identifier is decimal text and left out when 0.
    foundation::Dictionary serializeToDictionary() const;
    std::string description() const;

private:
    std::optional<std::string> incidentIdentifier_;
    std::optional<std::string> reporterKey_;
    std::optional<std::string> signal_;
    std::optional<std::string> exceptionName_;
    std::optional<std::string> exceptionReason_;
    std::optional<foundation::Date> appStartTime_;
    std::optional<foundation::Date> appErrorTime_;
    std::optional<std::string> archName_;
    std::optional<std::string> codeType_;
    std::optional<std::string> applicationPath_;
    std::optional<Threads> threads_;
    std::optional<Binaries> binaries_;
    std::shared_ptr<ZIVODevice> device_;
    uint64_t appProcessIdentifier_ = 0;
};
