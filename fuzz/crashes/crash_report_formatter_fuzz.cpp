// Stored crash reports, whatever a crash or a bad disk left in them, turned into the crash log
// that is sent and the summary the application is shown. Every log made from a report that reads
// must serialise to JSON and give a summary.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/error_log_formatter.h"
#include "crashreporter/crash_report.h"
#include "fuzz/scratch_dir.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/user_defaults.h"

namespace {

// The formatter reads the SDK's files (wrapper exceptions, device history) below the app home:
// a scratch home of this process's own.
void prepareScratchHome() {
    const std::filesystem::path dir = fuzzsupport::scratchDirectory();
    foundation::setHomeDirectory(dir / "home");
    std::filesystem::create_directories(dir / "resources");
    foundation::Bundle::main().setResourcesDirectory(dir / "resources");
    zivo_platform::setStandardUserDefaults(std::make_shared<foundation::UserDefaults>(dir / "preferences.plist"));
    ZIVOLogger::setLogHandler(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (prepareScratchHome(), true);
    (void)ready;
    auto report = ZVCrashReport::initWithData(data, size);
    if (!report.ok()) return 0;
    const ZVCrashReport& r = *report.value();
    auto log = ZIVOErrorLogFormatter::errorLogFromCrashReport(r);
    if (!log) std::abort();
    (void)log->isValid();
    if (!foundation::toJSON(foundation::Value(log->serializeToDictionary())).ok()) std::abort();
    if (!log->serializeLogWithPrettyPrinting(true)) std::abort();
    if (!ZIVOErrorLogFormatter::errorReportFromLog(*log)) std::abort();
    if (!ZIVOErrorLogFormatter::errorReportFromCrashReport(&r)) std::abort();
    return 0;
}
