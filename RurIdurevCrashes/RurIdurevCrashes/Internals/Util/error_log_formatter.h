// Turns a decoded crash report into the crash log that is sent and the summary the application is
// shown; fixes every text form of the crash log. Class operations only, no state.
#pragma once

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/apple_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_report.h"
#include "crashreporter/crash_report.h"
#include "platform/kernel/loaded_images.h"

class ZIVOErrorLogFormatter {
public:
    static std::shared_ptr<ZIVOAppleErrorLog> errorLogFromCrashReport(const ZVCrashReport& report);
    static std::shared_ptr<ZIVOErrorReport> errorReportFromCrashReport(const ZVCrashReport* report);
    static std::shared_ptr<ZIVOErrorReport> errorReportFromLog(const ZIVOAppleErrorLog& log);

    static std::string errorIdForCrashReport(const ZVCrashReport& report);
    static const ZVCrashReportThreadInfo* findCrashedThreadInReport(const ZVCrashReport& report);
    static foundation::Date getAppLaunchTimeFromReport(const ZVCrashReport& report);
    // The system timestamp; a whole number of seconds is moved to the end of its second.
    static foundation::Date getCrashTimeFromReport(const ZVCrashReport& report);
    static bool isCodeType64bit(uint64_t type);
    static std::string formatAddress(uint64_t address, bool is64bit);
    // The selector name in the crashed thread's selector register, looked up in the method-name
    // section of the same image (path and UUID) loaded in this process; `loadedImages` defaults to
    // the loader's list.
    static std::optional<std::string>
    selectorRegisterValueFromReport(const ZVCrashReport& report, const ZVCrashReportThreadInfo* crashedThread,
                                    uint64_t codeType, const std::vector<kernel::LoadedImage>* loadedImages = nullptr);
    static std::optional<std::string> selectorForRegisterWithName(const std::string& name,
                                                                  const ZVCrashReportThreadInfo& thread,
                                                                  const ZVCrashReport& report,
                                                                  const std::vector<kernel::LoadedImage>& loadedImages);
    static ZIVOAppleErrorLog::Threads
    extractThreadsFromReport(const ZVCrashReport& report, const ZVCrashReportThreadInfo* crashedThread, bool is64bit);
    static std::string formatStackFrame(const ZVCrashReportStackFrameInfo& frame, const ZVCrashReport& report);
    // 0 the application's executable, 1 inside the application bundle, 2 anything else.
    static int imageTypeForImagePath(const std::optional<std::string>& imagePath,
                                     const std::optional<std::string>& processPath);
    static foundation::Dictionary extractRegistersFromCrashedThread(const ZVCrashReportThreadInfo* crashedThread,
                                                                    bool is64bit);
    static ZIVOAppleErrorLog::Binaries extractBinaryImagesFromReport(const ZVCrashReport& report, bool is64bit);
    static std::vector<uint64_t> addressesFromReport(const ZVCrashReport& report);
    static std::shared_ptr<ZIVODevice> deviceForTimestamp(foundation::Date timestamp, const ZVCrashReport& report);
    static std::optional<std::string> uuidRefToString(const ZVCrashReport& report);
    static std::string convertCodeTypeToString(uint64_t type);
    static std::string convertArchNameToString(uint64_t type, uint64_t subtype);
};
