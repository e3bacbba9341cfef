#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crash_files.h"

#include <cstdio>
#include <ctime>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/error_log_formatter.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_tag.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/log.h"

namespace fs = std::filesystem;

std::string ZIVOCrashFiles::analyzerInProgressFilePathComponent() {
    return ZIVOCrashesUtil::crashesDir() + "/ZVCrashes.analyzer";
}

bool ZIVOCrashFiles::createAnalyzerFile() {
    return ZIVOUtility::createFileAtPathComponent(analyzerInProgressFilePathComponent(), foundation::Data{}, false,
                                                  false)
        .has_value();
}

void ZIVOCrashFiles::removeAnalyzerFile() {
    ZIVOUtility::deleteItemForPathComponent(analyzerInProgressFilePathComponent());
}

std::optional<fs::path> ZIVOCrashFiles::storeCrashReport(const std::vector<uint8_t>& bytes, double now1970) {
    char name[64];
    std::snprintf(name, sizeof name, "%.0f", now1970 - foundation::kTimeIntervalBetween1970AndReferenceDate);
    const std::string dir = ZIVOCrashesUtil::crashesDir();
    // Two crashes within one second (a crash loop at launch) must not share a file.
    for (int suffix = 0; suffix < 1000; ++suffix) {
        std::string component = dir + "/" + name + (suffix ? "-" + std::to_string(suffix) : std::string());
        if (ZIVOUtility::fileExistsForPathComponent(component)) continue;
        return ZIVOUtility::createFileAtPathComponent(component, bytes, true, false);
    }
    return std::nullopt;
}

namespace {

// A pending report that cannot be read or parsed goes aside, kept for whoever wants to look at it
// (it may be all that is left of a crash), and that is said in one line. Only when it cannot be
// moved is it purged, and that is said too: it must not stop every later launch.
void setAsideUnreadableReport(ZVCrashReporter& reporter, const std::string& why) {
    auto aside = reporter.setAsidePendingCrashReport();
    if (aside.ok()) {
        foundation::logFault("the crash report " + reporter.crashReportPath() + " could not be read (" + why +
                             "); it was moved to " + aside.value());
        return;
    }
    reporter.purgePendingCrashReport();
    foundation::logFault("the crash report " + reporter.crashReportPath() + " could not be read (" + why +
                         ") nor moved aside (" + aside.error().localizedDescription() + "); it was deleted");
}

}  // namespace

std::shared_ptr<ZIVOErrorReport> ZIVOCrashFiles::handleLatestCrashReport(ZVCrashReporter& reporter) {
    std::shared_ptr<ZIVOErrorReport> errorReport;
    enum class Then { Purge, Keep, SetAside } then = Then::Purge;
    std::string why;
    if (ZIVOUtility::fileExistsForPathComponent(analyzerInProgressFilePathComponent())) {
        // The last launch died reading it: it is not read again, but kept.
        ZIVOLogError(kZIVOCrashesLogTag, "Error on loading the crash report, it will be purged.");
        then = Then::SetAside;
        why = "the last launch stopped while reading it";
    } else {
        if (!createAnalyzerFile()) ZIVOLogError(kZIVOCrashesLogTag, "Couldn't create crash analyzer file.");
        auto bytes = reporter.loadPendingCrashReportDataAndReturnError();
        if (!bytes.ok()) {
            std::string text = bytes.error().localizedDescription();
            ZIVOLogError(kZIVOCrashesLogTag, "Couldn't load crash report: " + text);
            then = Then::SetAside;
            why = text;
        } else {
            auto parsed = ZVCrashReport::initWithData(bytes.value());
            if (!parsed.ok()) {
                std::string text = parsed.error().localizedDescription();
                ZIVOLogWarning(kZIVOCrashesLogTag, "Couldn't parse crash report: " + text);
                // An empty file holds nothing to keep (a crash that died before writing).
                if (!bytes.value().empty()) {
                    then = Then::SetAside;
                    why = text;
                }
            } else {
                if (!storeCrashReport(bytes.value(), static_cast<double>(std::time(nullptr)))) {
                    // Kept pending: losing a crash because a disk write failed helps nobody.
                    then = Then::Keep;
                    ZIVOLogError(kZIVOCrashesLogTag, "Couldn't store the crash report; it stays pending.");
                }
                errorReport = ZIVOErrorLogFormatter::errorReportFromCrashReport(parsed.value().get());
            }
        }
    }
    removeAnalyzerFile();
    if (then == Then::Purge) reporter.purgePendingCrashReport();
    if (then == Then::SetAside) setAsideUnreadableReport(reporter, why);
    return errorReport;
}

std::vector<fs::path> ZIVOCrashFiles::persistedCrashReports() {
    std::vector<fs::path> files;
    auto entries = ZIVOUtility::contentsOfDirectory(ZIVOCrashesUtil::crashesDir());
    if (!entries) {
        ZIVOLogError(kZIVOCrashesLogTag, "No persisted crashes found.");
        return files;
    }
    static const char* const kExcluded[] = {".DS_Store", ".analyzer", ".plist", ".data", ".meta", ".desc"};
    for (const auto& entry : *entries) {
        std::error_code ec;
        if (!fs::is_regular_file(entry, ec)) continue;
        auto size = fs::file_size(entry, ec);
        if (ec || static_cast<int32_t>(size) < 1) continue;
        const std::string name = entry.filename().string();
        bool excluded = false;
        for (const char* suffix : kExcluded) {
            const std::string s(suffix);
            if (name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) excluded = true;
        }
        if (!excluded) files.push_back(entry);
    }
    return files;
}

void ZIVOCrashFiles::deleteCrashReportWithFileURL(const fs::path& url) { ZIVOUtility::deleteFileAtURL(url); }

void ZIVOCrashFiles::deleteAllFromCrashesDirectory() {
    ZIVOUtility::deleteItemForPathComponent(ZIVOCrashesUtil::crashesDir());
}
