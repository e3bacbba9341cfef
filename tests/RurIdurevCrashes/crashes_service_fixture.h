// The crashes service under test: a scratch app home per test, the virtual clock, a reporter
// object that names where the pending report lies, and a channel group that records what the
// service enqueues.
#pragma once

#include <gtest/gtest.h>

#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_protocols.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"
#include "platform/dispatch/dispatch.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/RurIdurevCrashes/crashes_test_support.h"
#include "tests/crashreporter/report_test_support.h"

namespace crashestest {

namespace fs = std::filesystem;

// A report of a SIGSEGV at address 0 whose report uuid is the 16 given characters.
inline std::vector<uint8_t> reportBytes(const std::string& uuid) {
    auto body = crashtest::protocEncode(
        "system_info { operating_system: IPHONE_OS os_version: \"12\" architecture: X86_64 timestamp: 1700000000 }\n"
        "application_info { identifier: \"com.hxconnect\" version: \"34\" }\n"
        "threads { thread_number: 0 crashed: true frames { pc: 4096 } }\n"
        "binary_images { base_address: 4096 size: 256 name: \"/bin/app\" }\n"
        "signal { name: \"SIGSEGV\" code: \"SEGV_MAPERR\" address: 0 }\n"
        "report_info { user_requested: false uuid: \"" +
        uuid + "\" }\n");
    return crashtest::withReportHeader(body);
}

class RecordingGroup : public ZIVOChannelGroupProtocol {
public:
    std::shared_ptr<ZIVOChannelUnitProtocol>
    addChannelUnitWithConfiguration(const ZIVOChannelUnitConfiguration& configuration) override {
        groupIds.push_back(configuration.groupId);
        return unit;
    }
    // Not owned: the service holds its group, so a strong reference here would keep both alive.
    void addDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate) override {
        delegates.push_back(delegate.get());
    }
    std::shared_ptr<RecordingUnit> unit = std::make_shared<RecordingUnit>();
    std::vector<std::string> groupIds;
    std::vector<ZIVOChannelDelegate*> delegates;
};

class CrashesServiceTest : public TelemetryTest {
protected:
    void SetUp() override {
        // Delayed processing waits for virtual time, so a test decides when it runs.
        dispatch::setClock(&clock);
        TelemetryTest::SetUp();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        ZIVOCrashesUtil::resetDirectory();
        ZIVOCrashes::resetSharedInstance();
        ZIVOLogger::setCurrentLogLevel(ZIVOLogLevelVerbose);
        basePath = (dir / "reporter").string();
        // A second reporter object for the same application and base path names the pending
        // report's file.
        auto config = ZVCrashReporterConfig::initWithSignalHandlerType(ZVCrashSignalHandlerTypeBSD, 0, true, basePath);
        auto made = ZVCrashReporter::initWithBundle({std::string("com.hxconnect.test"), {}, {}}, config);
        ASSERT_TRUE(made.ok());
        probe = made.value();
    }
    void TearDown() override {
        ZIVOCrashes::resetSharedInstance();
        ZIVOCrashesUtil::resetDirectory();
        TelemetryTest::TearDown();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        dispatch::setClock(nullptr);
    }
    std::shared_ptr<ZIVOCrashes> makeService() {
        auto crashes = ZIVOCrashes::sharedInstance();
        crashes->setMachExceptionHandlerEnabled(false);
        crashes->setCrashReporterBasePath(basePath);
        return crashes;
    }
    void writePending(const std::vector<uint8_t>& bytes) {
        fs::create_directories(fs::path(probe->crashReportPath()).parent_path());
        crashtest::writeFile(probe->crashReportPath(), bytes);
    }
    fs::path crashesDir() { return ZIVOUtility::rurIdurevDirectoryURL() / "crashes"; }
    void storeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        fs::create_directories(crashesDir());
        crashtest::writeFile(crashesDir() / name, bytes);
    }

    dispatch::VirtualClock clock;
    std::string basePath;
    std::shared_ptr<ZVCrashReporter> probe;
};

}  // namespace crashestest
