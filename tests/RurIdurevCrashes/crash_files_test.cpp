#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crash_files.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "crashreporter/crash_report.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/RurIdurevCrashes/crashes_service_fixture.h"
#include "tests/crashreporter/report_test_support.h"
#include "tests/support/log_capture.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> validReportBytes() { return crashestest::reportBytes("0123456789abcdef"); }

class CrashFilesTest : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        ZIVOCrashesUtil::resetDirectory();
        auto config = ZVCrashReporterConfig::initWithSignalHandlerType(ZVCrashSignalHandlerTypeBSD, 0, true,
                                                                       (dir / "reporter").string());
        reporter = ZVCrashReporter::initWithApplicationIdentifier("com.hxconnect", "34", std::nullopt, config);
        ASSERT_TRUE(reporter);
    }
    void TearDown() override {
        ZIVOCrashesUtil::resetDirectory();
        TelemetryTest::TearDown();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
    }
    void writePending(const std::vector<uint8_t>& bytes) {
        fs::create_directories(fs::path(reporter->crashReportPath()).parent_path());
        crashtest::writeFile(reporter->crashReportPath(), bytes);
        ASSERT_TRUE(reporter->hasPendingCrashReport());
    }
    fs::path crashes() { return ZIVOUtility::rurIdurevDirectoryURL() / "crashes"; }
    std::vector<fs::path> stored() {
        std::vector<fs::path> out;
        std::error_code ec;
        for (fs::directory_iterator it(crashes(), ec), end; !ec && it != end; it.increment(ec))
            out.push_back(it->path());
        return out;
    }
    std::shared_ptr<ZVCrashReporter> reporter;
};

}  // namespace

TEST_F(CrashFilesTest, PendingReportIsStoredByteForByteThenPurged) {
    auto bytes = validReportBytes();
    auto decoded = ZVCrashReport::initWithData(bytes);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    writePending(bytes);
    auto report = ZIVOCrashFiles::handleLatestCrashReport(*reporter);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->incidentIdentifier(), "30313233-3435-3637-3839-616263646566");
    EXPECT_FALSE(reporter->hasPendingCrashReport());
    auto files = stored();
    ASSERT_EQ(files.size(), 1u) << "the marker is gone, one report is there";
    EXPECT_EQ(crashtest::readFile(files[0]), bytes);
    EXPECT_EQ(ZIVOCrashFiles::persistedCrashReports(), files);
}

// A pending report that the last launch died reading is not read again, and not deleted either:
// it goes aside with a line.
TEST_F(CrashFilesTest, MarkerLeftByADeadLaunchSetsTheReportAsideWithoutStoring) {
    LogCapture capture;
    hxtest::LogCapture lines;
    writePending(validReportBytes());
    ASSERT_TRUE(ZIVOCrashFiles::createAnalyzerFile());
    EXPECT_FALSE(ZIVOCrashFiles::handleLatestCrashReport(*reporter));
    EXPECT_FALSE(reporter->hasPendingCrashReport());
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(crashtest::readFile(reporter->crashReportPath() + ".unreadable"), validReportBytes());
    EXPECT_EQ(lines.lines().size(), 1u);
    EXPECT_TRUE(capture.contains("Error on loading the crash report, it will be purged."));
}

// A damaged pending report (random bytes, half of a real one, a bad version byte) used to be
// deleted at launch without a word. It is set aside beside itself with its bytes and one line on
// standard error; nothing is stored or offered, the reporter goes on, and a second damaged report
// does not replace the first one kept. An empty one holds nothing and is purged as before.
TEST_F(CrashFilesTest, ADamagedPendingReportIsSetAsideWithALine) {
    const auto valid = validReportBytes();
    std::vector<uint8_t> random(4096);
    uint32_t seed = 7;
    for (auto& b : random) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    const struct {
        const char* kind;
        std::vector<uint8_t> bytes;
        const char* aside;
    } cases[] = {
        {"random bytes", random, ".unreadable"},
        {"half a report", std::vector<uint8_t>(valid.begin(), valid.begin() + valid.size() / 2), ".unreadable-2"},
        {"a bad version", {'z', 'v', 'c', 'r', 'a', 's', 'h', 1, 0xff, 0xff}, ".unreadable-3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        LogCapture capture;
        hxtest::LogCapture lines;
        writePending(c.bytes);
        EXPECT_FALSE(ZIVOCrashFiles::handleLatestCrashReport(*reporter));
        EXPECT_FALSE(reporter->hasPendingCrashReport());
        EXPECT_TRUE(stored().empty());
        EXPECT_EQ(crashtest::readFile(reporter->crashReportPath() + c.aside), c.bytes);
        const auto said = lines.lines();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_NE(said[0].find("the crash report " + reporter->crashReportPath() + " could not be read"),
                  std::string::npos)
            << said[0];
        EXPECT_NE(said[0].find("moved to " + reporter->crashReportPath() + c.aside), std::string::npos) << said[0];
        auto warnings = capture.messages(ZIVOLogLevelWarning);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0].rfind("Couldn't parse crash report: ", 0), 0u);
    }
    EXPECT_EQ(crashtest::readFile(reporter->crashReportPath() + ".unreadable"), random);
    // Nothing in it: purged, nothing kept, nothing said.
    hxtest::LogCapture lines;
    writePending({});
    EXPECT_FALSE(ZIVOCrashFiles::handleLatestCrashReport(*reporter));
    EXPECT_FALSE(reporter->hasPendingCrashReport());
    EXPECT_FALSE(fs::exists(reporter->crashReportPath() + ".unreadable-4"));
    EXPECT_TRUE(lines.lines().empty());
    // A good report after them is stored as ever.
    writePending(valid);
    EXPECT_TRUE(ZIVOCrashFiles::handleLatestCrashReport(*reporter));
    EXPECT_EQ(stored().size(), 1u);
}

// A report that parsed but could not be stored stays pending for the next launch.
TEST_F(CrashFilesTest, ReportThatCannotBeStoredStaysPending) {
    fs::create_directories(ZIVOUtility::rurIdurevDirectoryURL());
    std::ofstream(crashes()) << "not a directory";
    writePending(validReportBytes());
    auto report = ZIVOCrashFiles::handleLatestCrashReport(*reporter);
    EXPECT_TRUE(reporter->hasPendingCrashReport());
    fs::remove(crashes());
    ZIVOCrashesUtil::resetDirectory();
    EXPECT_TRUE(ZIVOCrashFiles::handleLatestCrashReport(*reporter));
    EXPECT_FALSE(reporter->hasPendingCrashReport());
    EXPECT_EQ(stored().size(), 1u);
}

TEST_F(CrashFilesTest, TwoReportsInOneSecondKeepTheirOwnFiles) {
    const double now = 1700000000.4;
    auto first = ZIVOCrashFiles::storeCrashReport({1, 2, 3}, now);
    auto second = ZIVOCrashFiles::storeCrashReport({4, 5}, now);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->filename(), "721692800");
    EXPECT_NE(*first, *second);
    EXPECT_EQ(crashtest::readFile(*first), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(crashtest::readFile(*second), (std::vector<uint8_t>{4, 5}));
    EXPECT_EQ(ZIVOCrashFiles::persistedCrashReports().size(), 2u);
}

TEST_F(CrashFilesTest, ListingSkipsSideFilesEmptyFilesAndDirectories) {
    const fs::path dir = crashes();
    fs::create_directories(dir / "sub");
    for (const char* name : {"a.plist", "b.DS_Store", "c.desc", "d.data", "e.meta", "ZVCrashes.analyzer"})
        std::ofstream(dir / name) << "x";
    std::ofstream(dir / "empty");
    std::ofstream(dir / "12345") << "report";
    auto files = ZIVOCrashFiles::persistedCrashReports();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename(), "12345");
    ZIVOCrashFiles::deleteAllFromCrashesDirectory();
    LogCapture capture;
    EXPECT_TRUE(ZIVOCrashFiles::persistedCrashReports().empty());
    EXPECT_TRUE(capture.contains("No persisted crashes found."));
}
