#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/apple_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/handled_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/crashes_archiver_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_attachment_log.h"
#include "tests/RurIdurevCrashes/crashes_test_support.h"

namespace {

// A crash log as an older version named it in its archives.
class LegacyAppleErrorLog : public ZIVOAppleErrorLog {
public:
    std::string className() const override { return "ZVAppleErrorLog"; }
};

template <typename T>
std::shared_ptr<T> roundTrip(const std::shared_ptr<const foundation::Archivable>& object) {
    auto data = ZIVOUtility::archiveKeyedData(object);
    EXPECT_TRUE(data.has_value());
    return ZIVOUtility::unarchiveKeyedObject<T>(data);
}

std::shared_ptr<ZIVOAppleErrorLog> crashLog(std::shared_ptr<ZIVOAppleErrorLog> log) {
    log->setTimestamp(foundation::Date{1700000000.5});
    log->setDevice(crashestest::validDevice());
    log->setErrorId(std::string("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"));
    log->setProcessId(4321);
    log->setProcessName(std::string("HXConnect"));
    log->setFatal(true);
    log->setAppLaunchTimestamp(foundation::Date{1699999990});
    log->setPrimaryArchitectureId(0x1000007);
    log->setApplicationPath(std::string("/opt/hx/HXConnect"));
    log->setOsExceptionType(std::string("SIGABRT"));
    log->setOsExceptionCode(std::string("#0"));
    log->setOsExceptionAddress(std::string("0x0"));
    auto frame = std::make_shared<ZIVOStackFrame>();
    frame->setAddress(std::string("0x0000000000401000"));
    frame->setLineNumber(12);
    auto thread = std::make_shared<ZIVOThread>();
    thread->setThreadId(0);
    thread->setFrames(ZIVOThread::Frames{frame});
    auto exception = std::make_shared<ZIVOExceptionModel>();
    exception->setType(std::string("std::runtime_error"));
    exception->setFrames(ZIVOExceptionModel::Frames{frame});
    thread->setException(exception);
    log->setThreads(ZIVOAppleErrorLog::Threads{thread});
    auto binary = std::make_shared<ZIVOBinary>();
    binary->setBinaryId(std::string("???"));
    binary->setPrimaryArchitectureId(0);
    log->setBinaries(ZIVOAppleErrorLog::Binaries{binary});
    log->setRegisters(foundation::Dictionary{{"rip", "0x0000000000401000"}});
    return log;
}

}  // namespace

TEST(CrashesArchiving, EveryLogSurvivesASecureRoundTrip) {
    ZIVOCrashesArchiverUtil::addAllowedCrashesModuleClasses();
    ZIVOCrashesArchiverUtil::addMigrationClasses();
    auto log = crashLog(std::make_shared<ZIVOAppleErrorLog>());
    auto back = roundTrip<ZIVOAppleErrorLog>(log);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*log));
    EXPECT_TRUE(back->isFatal());
    EXPECT_EQ(back->threads()->at(0)->frames()->at(0)->lineNumber(), 12);

    auto attachment = ZIVOErrorAttachmentLog::attachmentWithBinary({0, 1, 2}, std::string("a.bin"),
                                                                   std::string("application/octet-stream"));
    attachment->setErrorId(std::string("e"));
    auto attachmentBack = roundTrip<ZIVOErrorAttachmentLog>(attachment);
    ASSERT_TRUE(attachmentBack);
    EXPECT_TRUE(attachmentBack->isEqual(*attachment));

    auto handled = std::make_shared<ZIVOHandledErrorLog>();
    handled->setErrorId(std::string("h"));
    handled->setException(std::make_shared<ZIVOExceptionModel>());
    auto handledBack = roundTrip<ZIVOHandledErrorLog>(handled);
    ASSERT_TRUE(handledBack);
    EXPECT_TRUE(handledBack->isEqual(*handled));
}

TEST(CrashesArchiving, ThreadWithoutFramesAndLegacyClassNames) {
    ZIVOCrashesArchiverUtil::addAllowedCrashesModuleClasses();
    ZIVOCrashesArchiverUtil::addMigrationClasses();
    auto thread = std::make_shared<ZIVOThread>();
    thread->setThreadId(2);
    thread->setFrames(std::nullopt);
    auto back = roundTrip<ZIVOThread>(thread);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->frames().has_value());

    auto legacy = crashLog(std::make_shared<LegacyAppleErrorLog>());
    auto decoded = roundTrip<ZIVOAppleErrorLog>(legacy);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->className(), "ZIVOAppleErrorLog");
    EXPECT_EQ(decoded->errorId(), "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    EXPECT_EQ(decoded->type(), "appleError");
}
