// The crashes service's store of crash reports awaiting processing: moving the reporter's pending
// report into "crashes" at launch (guarded by an analyser marker against crash loops), listing
// and deleting stored reports.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_report.h"
#include "crashreporter/crash_reporter.h"

class ZIVOCrashFiles {
public:
    // The marker inside "crashes" that exists only while a pending report is loaded and parsed.
    static std::string analyzerInProgressFilePathComponent();

    // Moves the reporter's pending report into "crashes" and returns its error report when it
    // parsed. The pending report is purged when it was stored (or was empty); it is set aside
    // beside itself, with one line on standard error, when the marker showed that an earlier
    // attempt died or when it cannot be read or parsed; it stays pending when storing it failed,
    // so the next launch tries again.
    static std::shared_ptr<ZIVOErrorReport> handleLatestCrashReport(ZVCrashReporter& reporter);
    // Regular, non-empty files of "crashes" that are not markers or side files, in listing order.
    static std::vector<std::filesystem::path> persistedCrashReports();
    static bool createAnalyzerFile();
    static void removeAnalyzerFile();
    static void deleteCrashReportWithFileURL(const std::filesystem::path& url);
    static void deleteAllFromCrashesDirectory();
    // Stores bytes under the "%.0f" seconds-since-2001 name of now; a name already taken gets a
    // "-N" suffix instead of being kept or overwritten. Nothing when the write fails.
    static std::optional<std::filesystem::path> storeCrashReport(const std::vector<uint8_t>& bytes, double now1970);
};
