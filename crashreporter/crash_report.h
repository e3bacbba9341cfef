// Decodes the bytes of a crash report file (the 8-byte header, then one zvcrash.CrashReport) into
// immutable model objects: all or nothing.
// Text fields are always well-formed UTF-8: optional text stored malformed reads as absent,
// required text with each malformed byte as U+FFFD.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

struct ZVCrashReportProcessorInfo {
    uint32_t typeEncoding = 0;  // 0 unknown, 1 Mach
    uint64_t type = 0;
    uint64_t subtype = 0;
};

struct ZVCrashReportSystemInfo {
    uint32_t operatingSystem = 0;  // 0 Mac OS X, 1 iPhone OS, 2 iPhone simulator, 3 unknown (also any other), 4 tvOS
    std::string operatingSystemVersion;
    std::optional<std::string> operatingSystemBuild;
    uint32_t architecture = 0;  // the report's enumeration; a value it does not name reads as 6 (unknown)
    std::optional<foundation::Date> timestamp;
    std::shared_ptr<const ZVCrashReportProcessorInfo> processorInfo;
};

struct ZVCrashReportApplicationInfo {
    std::string applicationIdentifier;
    std::string applicationVersion;
    std::optional<std::string> applicationMarketingVersion;
};

struct ZVCrashReportMachineInfo {
    std::optional<std::string> modelName;
    std::shared_ptr<const ZVCrashReportProcessorInfo> processorInfo;
    uint64_t processorCount = 0;
    uint64_t logicalProcessorCount = 0;
};

struct ZVCrashReportProcessInfo {
    std::optional<std::string> processName;
    uint64_t processID = 0;
    std::optional<std::string> processPath;
    std::optional<foundation::Date> processStartTime;
    std::optional<std::string> parentProcessName;
    uint64_t parentProcessID = 0;
    bool native = false;
};

struct ZVCrashReportSignalInfo {
    std::string name;
    std::string code;
    uint64_t address = 0;
};

struct ZVCrashReportMachExceptionInfo {
    uint64_t type = 0;
    std::vector<uint64_t> codes;
};

struct ZVCrashReportSymbolInfo {
    std::string symbolName;
    uint64_t startAddress = 0;
    uint64_t endAddress = 0;
};

struct ZVCrashReportStackFrameInfo {
    uint64_t instructionPointer = 0;
    std::shared_ptr<const ZVCrashReportSymbolInfo> symbolInfo;
};

struct ZVCrashReportRegisterInfo {
    std::string registerName;
    uint64_t registerValue = 0;
};

struct ZVCrashReportThreadInfo {
    int64_t threadNumber = 0;
    std::vector<ZVCrashReportStackFrameInfo> stackFrames;
    bool crashed = false;
    std::vector<ZVCrashReportRegisterInfo> registers;
};

struct ZVCrashReportBinaryImageInfo {
    std::shared_ptr<const ZVCrashReportProcessorInfo> codeType;
    uint64_t imageBaseAddress = 0;
    uint64_t imageSize = 0;
    std::string imageName;
    bool hasImageUUID = false;
    std::optional<std::string> imageUUID;  // lowercase hexadecimal, no separators
};

struct ZVCrashReportExceptionInfo {
    std::string exceptionName;
    std::string exceptionReason;
    std::optional<std::vector<ZVCrashReportStackFrameInfo>> stackFrames;
};

class ZVCrashReport {
public:
    // Errors are code 2 of "ZVCrashReporterErrorDomain".
    static foundation::Result<std::shared_ptr<const ZVCrashReport>> initWithData(const std::vector<uint8_t>& data);
    static foundation::Result<std::shared_ptr<const ZVCrashReport>> initWithData(const uint8_t* data, size_t length);

    const ZVCrashReportSystemInfo& systemInfo() const { return systemInfo_; }
    const std::shared_ptr<const ZVCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
    const ZVCrashReportApplicationInfo& applicationInfo() const { return applicationInfo_; }
    const std::shared_ptr<const ZVCrashReportProcessInfo>& processInfo() const { return processInfo_; }
    const ZVCrashReportSignalInfo& signalInfo() const { return signalInfo_; }
    const std::shared_ptr<const ZVCrashReportMachExceptionInfo>& machExceptionInfo() const {
        return machExceptionInfo_;
    }
    const std::vector<ZVCrashReportThreadInfo>& threads() const { return threads_; }
    const std::vector<ZVCrashReportBinaryImageInfo>& images() const { return images_; }
    const std::shared_ptr<const ZVCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
    const std::optional<std::vector<uint8_t>>& customData() const { return customData_; }
    // The report's 16-byte UUID, when it has one.
    const std::optional<std::vector<uint8_t>>& uuidRef() const { return uuid_; }

    bool hasMachineInfo() const { return machineInfo_ != nullptr; }
    bool hasProcessInfo() const { return processInfo_ != nullptr; }
    bool hasExceptionInfo() const { return exceptionInfo_ != nullptr; }

    // The first image, in report order, with base <= address < base + size.
    const ZVCrashReportBinaryImageInfo* imageForAddress(uint64_t address) const;

private:
    ZVCrashReport() = default;

    ZVCrashReportSystemInfo systemInfo_;
    std::shared_ptr<const ZVCrashReportMachineInfo> machineInfo_;
    ZVCrashReportApplicationInfo applicationInfo_;
    std::shared_ptr<const ZVCrashReportProcessInfo> processInfo_;
    ZVCrashReportSignalInfo signalInfo_;
    std::shared_ptr<const ZVCrashReportMachExceptionInfo> machExceptionInfo_;
    std::vector<ZVCrashReportThreadInfo> threads_;
    std::vector<ZVCrashReportBinaryImageInfo> images_;
    std::shared_ptr<const ZVCrashReportExceptionInfo> exceptionInfo_;
    std::optional<std::vector<uint8_t>> customData_;
    std::optional<std::vector<uint8_t>> uuid_;
};
