#include <gtest/gtest.h>

#include <fstream>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/crashes_archiver_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/wrapper_exception_manager.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/wrapper_exception_model.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace fs = std::filesystem;

namespace {

class WrapperExceptions : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        ZIVOCrashesUtil::resetDirectory();
        ZIVOWrapperExceptionManager::resetForTesting();
        ZIVOCrashesArchiverUtil::addAllowedCrashesModuleClasses();
        ZIVOCrashesArchiverUtil::addMigrationClasses();
    }
    void TearDown() override {
        ZIVOWrapperExceptionManager::resetForTesting();
        ZIVOCrashesUtil::resetDirectory();
        TelemetryTest::TearDown();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
    }
    fs::path store() { return ZIVOUtility::rurIdurevDirectoryURL() / "crasheswrapperexceptions"; }
    static std::shared_ptr<ZIVOErrorReport> report(const std::string& id, uint64_t pid) {
        return std::make_shared<ZIVOErrorReport>(id, std::string(""), std::nullopt, std::nullopt, std::nullopt,
                                                 std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                                 std::nullopt, std::nullopt, nullptr, pid);
    }
    static std::shared_ptr<ZIVOWrapperException> savedBy(int64_t pid) {
        auto model = std::make_shared<ZIVOWrapperExceptionModel>();
        model->setType(std::string("System.NullReferenceException"));
        model->setWrapperSdkName(std::string("ruridurev.xamarin"));
        auto exception = std::make_shared<ZIVOWrapperException>();
        exception->modelException = model;
        exception->processId = pid;
        exception->exceptionData = foundation::Data{1, 2, 3};
        return exception;
    }
};

}  // namespace

// With nothing saved, no report is matched, not even one without process information (pid 0).
TEST_F(WrapperExceptions, EmptyStoreCorrelatesNothing) {
    LogCapture capture;
    ZIVOWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({report("A", 0), report("B", 12)});
    EXPECT_TRUE(
        capture.contains("Exception data report doesn't exist on disk. File name: last_saved_wrapper_exception"));
    EXPECT_FALSE(fs::exists(store() / "A"));
    capture.clear();
    EXPECT_FALSE(ZIVOWrapperExceptionManager::loadWrapperExceptionWithUUIDString("A"));
    EXPECT_TRUE(capture.contains("Exception data report doesn't exist on disk. File name: A"));
    EXPECT_FALSE(capture.contains("Could not read exception data stored on disk with file name A"));
}

TEST_F(WrapperExceptions, SavedExceptionIsTiedToTheFirstReportOfItsProcess) {
    ZIVOWrapperExceptionManager::saveWrapperException(savedBy(4321));
    ASSERT_TRUE(fs::exists(store() / "last_saved_wrapper_exception"));
    ZIVOWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
        {report("A", 1), report("B", 4321), report("C", 4321)});
    EXPECT_FALSE(fs::exists(store() / "last_saved_wrapper_exception"));
    EXPECT_TRUE(fs::exists(store() / "B"));
    EXPECT_FALSE(fs::exists(store() / "C"));
    auto found = ZIVOWrapperExceptionManager::loadWrapperExceptionWithUUIDString("B");
    ASSERT_TRUE(found);
    // Deleting the file leaves the cached entry, which still answers.
    ZIVOWrapperExceptionManager::deleteWrapperExceptionWithUUIDString("B");
    EXPECT_FALSE(fs::exists(store() / "B"));
    EXPECT_EQ(ZIVOWrapperExceptionManager::loadWrapperExceptionWithUUIDString("B"), found);

    // Read back from disk (a later launch): the model survives with its subclass fields.
    ZIVOWrapperExceptionManager::saveWrapperException(savedBy(7), "D");
    auto fromDisk = ZIVOWrapperExceptionManager::loadWrapperExceptionWithBaseFilename("D");
    ASSERT_TRUE(fromDisk);
    EXPECT_TRUE(fromDisk->modelException->isEqual(*savedBy(7)->modelException));
    EXPECT_EQ(fromDisk->processId, 7);
    EXPECT_EQ(fromDisk->exceptionData, (foundation::Data{1, 2, 3}));
}

TEST_F(WrapperExceptions, UnreadableFileIsReportedAndDeletedAndDeleteAllIsHarmless) {
    LogCapture capture;
    fs::create_directories(store());
    std::ofstream(store() / "E") << "garbage";
    EXPECT_FALSE(ZIVOWrapperExceptionManager::loadWrapperExceptionWithBaseFilename("E"));
    EXPECT_TRUE(capture.contains("Could not read exception data stored on disk with file name E"));
    EXPECT_FALSE(fs::exists(store() / "E"));
    ZIVOWrapperExceptionManager::deleteAllWrapperExceptions();
    EXPECT_FALSE(fs::exists(store()));
    ZIVOWrapperExceptionManager::deleteAllWrapperExceptions();
    capture.clear();
    ZIVOWrapperExceptionManager::saveWrapperExceptionAndCrashReport(savedBy(1));
    EXPECT_TRUE(capture.contains("Failed to save the crash report. CrashReporter wasn't initialized."));
}
