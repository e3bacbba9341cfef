#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/error_log_formatter.h"

#include <cstring>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_tag.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/wrapper_exception_manager.h"
#include "crashreporter/macho_image.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/uuid.h"
#include "platform/kernel/mach.h"

namespace {

// The report carries Mach CPU types widened to 64 bits.
constexpr uint64_t kCPUTypeARM = static_cast<uint64_t>(kernel::CPU_TYPE_ARM);
constexpr uint64_t kCPUTypeARM64 = static_cast<uint64_t>(kernel::CPU_TYPE_ARM64);
constexpr uint64_t kCPUTypeX86 = static_cast<uint64_t>(kernel::CPU_TYPE_X86);
constexpr uint64_t kCPUTypeX86_64 = static_cast<uint64_t>(kernel::CPU_TYPE_X86_64);
constexpr uint64_t kCPUTypePPC = static_cast<uint64_t>(kernel::CPU_TYPE_POWERPC);

std::string hexText(const char* format, unsigned long long value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

std::string ZIVOErrorLogFormatter::errorIdForCrashReport(const ZVCrashReport& report) {
    const auto& uuid = report.uuidRef();
    if (uuid && uuid->size() == 16) {
        foundation::UUID::Bytes bytes{};
        std::copy(uuid->begin(), uuid->end(), bytes.begin());
        return foundation::UUID(bytes).string();
    }
    return foundation::UUID::random().string();
}

std::optional<std::string> ZIVOErrorLogFormatter::uuidRefToString(const ZVCrashReport& report) {
    const auto& uuid = report.uuidRef();
    if (!uuid || uuid->size() != 16) return std::nullopt;
    foundation::UUID::Bytes bytes{};
    std::copy(uuid->begin(), uuid->end(), bytes.begin());
    return foundation::UUID(bytes).string();
}

const ZVCrashReportThreadInfo* ZIVOErrorLogFormatter::findCrashedThreadInReport(const ZVCrashReport& report) {
    for (const auto& thread : report.threads())
        if (thread.crashed) return &thread;
    return nullptr;
}

foundation::Date ZIVOErrorLogFormatter::getAppLaunchTimeFromReport(const ZVCrashReport& report) {
    if (report.processInfo() && report.processInfo()->processStartTime) return *report.processInfo()->processStartTime;
    return report.systemInfo().timestamp.value_or(foundation::Date{});
}

foundation::Date ZIVOErrorLogFormatter::getCrashTimeFromReport(const ZVCrashReport& report) {
    double seconds = report.systemInfo().timestamp.value_or(foundation::Date{}).secondsSince1970;
    // The whole-second test is made in 64 bits so that times past 2038 are judged the same way.
    if (std::isfinite(seconds) && std::fabs(seconds) < 9.2e18 &&
        seconds == static_cast<double>(static_cast<int64_t>(seconds))) {
        seconds += 0.999;
    }
    return foundation::Date{seconds};
}

bool ZIVOErrorLogFormatter::isCodeType64bit(uint64_t type) { return type == kCPUTypeARM64 || type == kCPUTypeX86_64; }

std::string ZIVOErrorLogFormatter::formatAddress(uint64_t address, bool is64bit) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "0x%0*llx", is64bit ? 16 : 8, static_cast<unsigned long long>(address));
    return buffer;
}

std::shared_ptr<ZIVOAppleErrorLog> ZIVOErrorLogFormatter::errorLogFromCrashReport(const ZVCrashReport& report) {
    auto log = std::make_shared<ZIVOAppleErrorLog>();
    log->setErrorId(errorIdForCrashReport(report));

    log->setProcessId(0);
    log->setProcessName(std::string("???"));
    log->setParentProcessName(std::string("???"));
    log->setApplicationPath(std::string("???"));
    if (const auto& process = report.processInfo()) {
        log->setProcessId(static_cast<int64_t>(process->processID));
        if (process->processName) log->setProcessName(*process->processName);
        if (process->processPath) log->setApplicationPath(*process->processPath);
        if (process->parentProcessName) log->setParentProcessName(*process->parentProcessName);
        log->setParentProcessId(static_cast<int64_t>(process->parentProcessID));
    }

    const ZVCrashReportThreadInfo* crashed = findCrashedThreadInReport(report);
    log->setErrorThreadId(crashed ? crashed->threadNumber : 0);
    log->setFatal(true);

    log->setAppLaunchTimestamp(getAppLaunchTimeFromReport(report));
    log->setTimestamp(getCrashTimeFromReport(report));

    uint64_t type = 0, subtype = 0;
    if (report.machineInfo() && report.machineInfo()->processorInfo) {
        type = report.machineInfo()->processorInfo->type;
        subtype = report.machineInfo()->processorInfo->subtype;
    }
    for (const auto& image : report.images()) {
        if (image.codeType && image.codeType->typeEncoding == 1) {
            type = image.codeType->type;
            subtype = image.codeType->subtype;
            break;
        }
    }
    log->setPrimaryArchitectureId(type);
    log->setArchitectureVariantId(subtype);
    const bool is64bit = isCodeType64bit(type);

    log->setOsExceptionType(report.signalInfo().name);
    log->setOsExceptionCode(report.signalInfo().code);
    log->setOsExceptionAddress(hexText("0x%llx", report.signalInfo().address));

    if (report.exceptionInfo()) {
        log->setExceptionReason(report.exceptionInfo()->exceptionReason);
        log->setExceptionType(report.exceptionInfo()->exceptionName);
    }

    log->setSelectorRegisterValue(selectorRegisterValueFromReport(report, crashed, type));
    log->setThreads(extractThreadsFromReport(report, crashed, is64bit));
    log->setRegisters(extractRegistersFromCrashedThread(crashed, is64bit));
    log->setBinaries(extractBinaryImagesFromReport(report, is64bit));
    log->setDevice(deviceForTimestamp(*log->timestamp(), report));
    if (auto uuid = uuidRefToString(report)) {
        if (auto wrapper = ZIVOWrapperExceptionManager::loadWrapperExceptionWithUUIDString(*uuid))
            log->setException(wrapper->modelException);
    }
    return log;
}

std::optional<std::string>
ZIVOErrorLogFormatter::selectorRegisterValueFromReport(const ZVCrashReport& report,
                                                       const ZVCrashReportThreadInfo* crashedThread, uint64_t codeType,
                                                       const std::vector<kernel::LoadedImage>* loadedImages) {
    std::vector<const char*> names;
    switch (codeType) {
        case kCPUTypeARM64:
            names = {"x1"};
            break;
        case kCPUTypeARM:
            names = {"r1", "r2"};
            break;
        case kCPUTypeX86_64:
            names = {"rsi", "rdx"};
            break;
        case kCPUTypeX86:
            names = {"ecx"};
            break;
        default:
            return std::nullopt;
    }
    if (!crashedThread) return std::nullopt;
    for (const char* name : names) {
        for (const auto& reg : crashedThread->registers) {
            if (reg.registerName != name) continue;
            if (loadedImages) return selectorForRegisterWithName(name, *crashedThread, report, *loadedImages);
            return selectorForRegisterWithName(name, *crashedThread, report, kernel::dyld_images());
        }
    }
    return std::nullopt;
}

std::optional<std::string>
ZIVOErrorLogFormatter::selectorForRegisterWithName(const std::string& name, const ZVCrashReportThreadInfo& thread,
                                                   const ZVCrashReport& report,
                                                   const std::vector<kernel::LoadedImage>& loadedImages) {
    uint64_t value = 0;
    bool found = false;
    for (const auto& reg : thread.registers) {
        if (reg.registerName == name) {
            value = reg.registerValue;
            found = true;
            break;
        }
    }
    if (!found || value == 0) return std::nullopt;
    const ZVCrashReportBinaryImageInfo* image = report.imageForAddress(value);
    if (!image) return std::nullopt;
    for (const auto& loaded : loadedImages) {
        if (loaded.path != image->imageName) continue;
        // Images of other formats (this host's own) are not Mach-O and are passed over.
        zvcrash_async_macho_image macho;
        if (zvcrash_async_macho_image_init(&macho, kernel::task_self(), loaded.path.c_str(), loaded.header) !=
            ZVCRASH_ESUCCESS)
            continue;
        uint8_t uuid[16];
        const bool hasUuid = zvcrash_async_macho_get_uuid(&macho, uuid);
        std::string uuidText;
        for (uint8_t byte : uuid) uuidText += hexText("%02llx", byte);
        if (!hasUuid || !image->imageUUID || uuidText != *image->imageUUID) {
            zvcrash_async_macho_image_free(&macho);
            continue;
        }
        std::optional<std::string> selector;
        zvcrash_async_mobject section;
        if (zvcrash_async_macho_map_section(&macho, "__TEXT", "__objc_methname", &section) == ZVCRASH_ESUCCESS) {
            const uint64_t candidate = loaded.header + (value - image->imageBaseAddress);
            const uint64_t start = zvcrash_async_mobject_base_address(&section);
            const uint64_t length = zvcrash_async_mobject_length(&section);
            if (candidate >= start && candidate - start < length) {
                const auto* text = static_cast<const char*>(
                    zvcrash_async_mobject_remap_address(&section, candidate, 0, length - (candidate - start)));
                // The name must end inside the section, and be text: it goes into the log's JSON.
                const size_t room = length - (candidate - start);
                const size_t n = text ? strnlen(text, room) : room;
                if (text && n < room) selector = foundation::stringFromUtf8(std::string_view(text, n));
            }
            zvcrash_async_mobject_free(&section);
        }
        zvcrash_async_macho_image_free(&macho);
        return selector;
    }
    return std::nullopt;
}

ZIVOAppleErrorLog::Threads ZIVOErrorLogFormatter::extractThreadsFromReport(const ZVCrashReport& report,
                                                                           const ZVCrashReportThreadInfo* crashedThread,
                                                                           bool is64bit) {
    std::shared_ptr<ZIVOExceptionModel> exception;
    const auto& info = report.exceptionInfo();
    if (info && info->stackFrames && !info->stackFrames->empty()) {
        exception = std::make_shared<ZIVOExceptionModel>();
        ZIVOExceptionModel::Frames frames;
        for (const auto& frame : *info->stackFrames) {
            auto model = std::make_shared<ZIVOStackFrame>();
            model->setAddress(formatAddress(frame.instructionPointer, is64bit));
            frames.push_back(std::move(model));
        }
        exception->setMessage(info->exceptionReason);
        exception->setFrames(std::move(frames));
        exception->setType(info->exceptionName);
    }
    ZIVOAppleErrorLog::Threads threads;
    for (const auto& thread : report.threads()) {
        auto model = std::make_shared<ZIVOThread>();
        model->setThreadId(thread.threadNumber);
        if (exception && crashedThread && thread.threadNumber == crashedThread->threadNumber)
            model->setException(exception);
        for (const auto& frame : thread.stackFrames) {
            auto f = std::make_shared<ZIVOStackFrame>();
            f->setAddress(formatAddress(frame.instructionPointer, is64bit));
            f->setCode(formatStackFrame(frame, report));
            model->mutableFrames()->push_back(std::move(f));
        }
        threads.push_back(std::move(model));
    }
    return threads;
}

std::string ZIVOErrorLogFormatter::formatStackFrame(const ZVCrashReportStackFrameInfo& frame,
                                                    const ZVCrashReport& report) {
    const uint64_t pc = frame.instructionPointer;
    const auto* image = report.imageForAddress(pc);
    uint64_t base = 0, offset = 0;
    std::optional<std::string> imageName;
    if (image) {
        base = image->imageBaseAddress;
        offset = pc - base;
        imageName = image->imageName;
    } else if (pc != 0) {
        ZIVOLogWarning(kZIVOCrashesLogTag, hexText("Cannot find image for 0x%llx", pc));
    }
    std::optional<std::string> processPath;
    if (report.processInfo()) processPath = report.processInfo()->processPath;
    const int imageType = imageTypeForImagePath(imageName, processPath);
    if (imageType == 2 && frame.symbolInfo) {
        std::string name = frame.symbolInfo->symbolName;
        if (name.size() >= 2 && name[0] == '_') {
            switch (report.systemInfo().operatingSystem) {
                case 0:
                case 1:
                case 2:
                case 4:
                    name.erase(0, 1);
                    break;
                case 3:
                    ZIVOLogWarning(kZIVOCrashesLogTag, "Symbol \"" + name + "\" prefix rules are unknown for this OS!");
                    break;
                default:
                    break;
            }
        }
        const long long delta = static_cast<long long>(pc - frame.symbolInfo->startAddress);
        return name + " + " + std::to_string(delta);
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "0x%llx + %lld", static_cast<unsigned long long>(base),
                  static_cast<long long>(offset));
    return buffer;
}

int ZIVOErrorLogFormatter::imageTypeForImagePath(const std::optional<std::string>& imagePath,
                                                 const std::optional<std::string>& processPath) {
    if (!imagePath || !processPath) return 2;
    std::string standardized = std::filesystem::path(*imagePath).lexically_normal().string();
    if (standardized.size() > 1 && standardized.back() == '/') standardized.pop_back();
    const std::string p = foundation::asciiLowercase(standardized);
    const std::string i = foundation::asciiLowercase(*imagePath);
    const std::string e = foundation::asciiLowercase(*processPath);
    // The process's own executable is the application's image wherever it lies: outside a bundle
    // (as every program here is) the bundle rule below would take it for a system image, and
    // leave it out of the image list when no address of the report falls in it.
    if (p == e || i == e) return 0;
    const bool swiftLibrary = p.find("frameworks/libswift") != std::string::npos && p.size() >= 6 &&
                              p.compare(p.size() - 6, 6, ".dylib") == 0;
    if (p.find(".app/") != std::string::npos && !swiftLibrary) {
        if (p == e || i.rfind(e, 0) == 0) return 0;
        return 1;
    }
    return 2;
}

foundation::Dictionary
ZIVOErrorLogFormatter::extractRegistersFromCrashedThread(const ZVCrashReportThreadInfo* crashedThread, bool is64bit) {
    foundation::Dictionary registers;
    if (!crashedThread) return registers;
    for (const auto& reg : crashedThread->registers)
        registers.set(reg.registerName, formatAddress(reg.registerValue, is64bit));
    return registers;
}

std::vector<uint64_t> ZIVOErrorLogFormatter::addressesFromReport(const ZVCrashReport& report) {
    std::vector<uint64_t> addresses;
    if (report.exceptionInfo() && report.exceptionInfo()->stackFrames)
        for (const auto& frame : *report.exceptionInfo()->stackFrames) addresses.push_back(frame.instructionPointer);
    for (const auto& thread : report.threads()) {
        for (const auto& frame : thread.stackFrames) addresses.push_back(frame.instructionPointer);
        for (const auto& reg : thread.registers) addresses.push_back(reg.registerValue);
    }
    return addresses;
}

ZIVOAppleErrorLog::Binaries ZIVOErrorLogFormatter::extractBinaryImagesFromReport(const ZVCrashReport& report,
                                                                                 bool is64bit) {
    const auto addresses = addressesFromReport(report);
    std::vector<const ZVCrashReportBinaryImageInfo*> images;
    for (const auto& image : report.images()) images.push_back(&image);
    std::stable_sort(images.begin(), images.end(),
                     [](auto* a, auto* b) { return a->imageBaseAddress < b->imageBaseAddress; });
    std::optional<std::string> processPath;
    if (report.processInfo()) processPath = report.processInfo()->processPath;

    ZIVOAppleErrorLog::Binaries binaries;
    for (const auto* image : images) {
        const uint64_t start = image->imageBaseAddress;
        const uint64_t size = image->imageSize == 0 ? 1 : image->imageSize;
        const uint64_t end = start + size - 1;
        const int type = imageTypeForImagePath(image->imageName, processPath);
        if (type == 2 &&
            std::none_of(addresses.begin(), addresses.end(), [&](uint64_t a) { return start <= a && a <= end; }))
            continue;
        auto binary = std::make_shared<ZIVOBinary>();
        binary->setBinaryId(image->imageUUID ? *image->imageUUID : std::string("???"));
        binary->setStartAddress(formatAddress(start, is64bit));
        binary->setEndAddress(formatAddress(end, is64bit));
        binary->setPath(image->imageName);
        std::string name =
            image->imageName.empty() ? std::string() : std::filesystem::path(image->imageName).filename().string();
        binary->setName(name.empty() ? std::string("???") : name);
        binary->setPrimaryArchitectureId(image->codeType ? image->codeType->type : 0);
        binary->setArchitectureVariantId(image->codeType ? image->codeType->subtype : 0);
        binaries.push_back(std::move(binary));
    }
    return binaries;
}

std::shared_ptr<ZIVODevice> ZIVOErrorLogFormatter::deviceForTimestamp(foundation::Date timestamp,
                                                                      const ZVCrashReport& report) {
    auto tracked = ZIVODeviceTracker::sharedInstance()->deviceForTimestamp(timestamp);
    auto device = std::make_shared<ZIVODevice>();
    if (tracked) {
        device->setSdkName(tracked->sdkName());
        device->setSdkVersion(tracked->sdkVersion());
        device->setOemName(tracked->oemName());
        device->setOsName(tracked->osName());
        device->setOsApiLevel(tracked->osApiLevel());
        device->setLocale(tracked->locale());
        device->setTimeZoneOffset(tracked->timeZoneOffset());
        device->setScreenSize(tracked->screenSize());
        device->setCarrierName(tracked->carrierName());
        device->setCarrierCountry(tracked->carrierCountry());
        device->setWrapperSdkName(tracked->wrapperSdkName());
        device->setWrapperSdkVersion(tracked->wrapperSdkVersion());
        device->setWrapperRuntimeVersion(tracked->wrapperRuntimeVersion());
        device->setLiveUpdatePackageHash(tracked->liveUpdatePackageHash());
        device->setLiveUpdateReleaseLabel(tracked->liveUpdateReleaseLabel());
        device->setLiveUpdateDeploymentKey(tracked->liveUpdateDeploymentKey());
        device->setOsVersion(tracked->osVersion());
        device->setOsBuild(tracked->osBuild());
        device->setModel(tracked->model());
        device->setAppBuild(tracked->appBuild());
        device->setAppVersion(tracked->appVersion());
        device->setAppNamespace(tracked->appNamespace());
    }
    const auto& system = report.systemInfo();
    device->setOsVersion(system.operatingSystemVersion);
    if (system.operatingSystemBuild) device->setOsBuild(*system.operatingSystemBuild);
    if (report.machineInfo() && report.machineInfo()->modelName) device->setModel(*report.machineInfo()->modelName);
    const auto& app = report.applicationInfo();
    device->setAppBuild(app.applicationVersion);
    if (app.applicationMarketingVersion) device->setAppVersion(*app.applicationMarketingVersion);
    device->setAppNamespace(app.applicationIdentifier);
    return device;
}

std::string ZIVOErrorLogFormatter::convertCodeTypeToString(uint64_t type) {
    switch (type) {
        case kCPUTypeARM:
            return "ARM";
        case kCPUTypeARM64:
            return "ARM-64";
        case kCPUTypeX86:
            return "X86";
        case kCPUTypeX86_64:
            return "X86-64";
        case kCPUTypePPC:
            return "PPC";
        default:
            return "Unknown (" + std::to_string(type) + ")";
    }
}

std::string ZIVOErrorLogFormatter::convertArchNameToString(uint64_t type, uint64_t subtype) {
    subtype &= 0xFFFFFF;
    switch (type) {
        case kCPUTypeARM:
            return subtype == 6 ? "armv6" : subtype == 9 ? "armv7" : subtype == 11 ? "armv7s" : "arm-unknown";
        case kCPUTypeARM64:
            return subtype == 0 ? "arm64" : subtype == 1 ? "armv8" : subtype == 2 ? "arm64e" : "arm64-unknown";
        case kCPUTypeX86:
            return "i386";
        case kCPUTypeX86_64:
            return "x86_64";
        case kCPUTypePPC:
            return "powerpc";
        default:
            return "???";
    }
}

std::shared_ptr<ZIVOErrorReport> ZIVOErrorLogFormatter::errorReportFromLog(const ZIVOAppleErrorLog& log) {
    std::string reporterKey = ZIVORurIdurev::installId();
    std::string codeType = log.primaryArchitectureId() ? convertCodeTypeToString(*log.primaryArchitectureId()) : "???";
    std::string archName = log.primaryArchitectureId() && log.architectureVariantId()
                               ? convertArchNameToString(*log.primaryArchitectureId(), *log.architectureVariantId())
                               : "???";
    return std::make_shared<ZIVOErrorReport>(log.errorId(), reporterKey, log.osExceptionType(), log.exceptionType(),
                                             log.exceptionReason(), log.appLaunchTimestamp(), log.timestamp(), codeType,
                                             archName, log.applicationPath(), log.threads(), log.binaries(),
                                             log.device(), static_cast<uint64_t>(log.processId().value_or(0)));
}

std::shared_ptr<ZIVOErrorReport> ZIVOErrorLogFormatter::errorReportFromCrashReport(const ZVCrashReport* report) {
    if (!report) return nullptr;
    return errorReportFromLog(*errorLogFromCrashReport(*report));
}
