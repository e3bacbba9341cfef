#include <gtest/gtest.h>

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/apple_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/handled_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_attachment_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_report.h"
#include "platform/foundation/json.h"
#include "platform/foundation/uuid.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurevCrashes/crashes_test_support.h"

using crashestest::canonicalJSON;
using crashestest::golden;
using crashestest::validDevice;

namespace {

std::string jsonOf(const ZIVOAbstractLog& log) {
    auto text = log.serializeLogWithPrettyPrinting(false);
    return text ? *text : std::string("<none>");
}

std::shared_ptr<ZIVOStackFrame> frame(const std::string& address, const std::string& code) {
    auto f = std::make_shared<ZIVOStackFrame>();
    f->setAddress(address);
    f->setCode(code);
    return f;
}

std::shared_ptr<ZIVOAppleErrorLog> fullCrashLog() {
    auto log = std::make_shared<ZIVOAppleErrorLog>();
    log->setTimestamp(foundation::Date{1700000000.5});
    log->setSid(std::string("6B1A1A7E-52B1-4E2B-9C5C-8E7C0D7A6F11"));
    log->setUserId(std::string("alice"));
    log->setDevice(validDevice());
    log->setErrorId(std::string("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"));
    log->setProcessId(4321);
    log->setProcessName(std::string("HXConnect"));
    log->setParentProcessId(1);
    log->setParentProcessName(std::string("launchd"));
    log->setErrorThreadId(0);
    log->setFatal(true);
    log->setAppLaunchTimestamp(foundation::Date{1699999990.25});
    log->setPrimaryArchitectureId(0x1000007);
    log->setArchitectureVariantId(3);
    log->setApplicationPath(std::string("/opt/hx/HXConnect.app/HXConnect"));
    log->setOsExceptionType(std::string("SIGSEGV"));
    log->setOsExceptionCode(std::string("SEGV_MAPERR"));
    log->setOsExceptionAddress(std::string("0x0"));
    log->setExceptionType(std::string("std::runtime_error"));
    log->setExceptionReason(std::string("boom"));

    auto exception = std::make_shared<ZIVOExceptionModel>();
    exception->setType(std::string("std::runtime_error"));
    exception->setMessage(std::string("boom"));
    exception->setFrames(ZIVOExceptionModel::Frames{frame("0x0000000000401000", "")});
    exception->frames()->at(0)->setCode(std::nullopt);

    auto crashed = std::make_shared<ZIVOThread>();
    crashed->setThreadId(0);
    crashed->setFrames(
        ZIVOThread::Frames{frame("0x0000000000401010", "0x400000 + 4112"), frame("0x00007f0000001234", "abort + 20")});
    crashed->setException(exception);
    auto idle = std::make_shared<ZIVOThread>();
    idle->setThreadId(1);
    idle->setName(std::string("com.dorazadav.ruridurev.loggerQueue"));
    idle->setFrames(ZIVOThread::Frames{frame("0x00007f0000002000", "0x7f0000000000 + 8192")});
    log->setThreads(ZIVOAppleErrorLog::Threads{crashed, idle});

    auto binary = std::make_shared<ZIVOBinary>();
    binary->setBinaryId(std::string("00112233445566778899aabbccddeeff"));
    binary->setStartAddress(std::string("0x0000000000400000"));
    binary->setEndAddress(std::string("0x0000000000401fff"));
    binary->setName(std::string("HXConnect"));
    binary->setPath(std::string("/opt/hx/HXConnect.app/HXConnect"));
    binary->setPrimaryArchitectureId(0x1000007);
    binary->setArchitectureVariantId(3);
    log->setBinaries(ZIVOAppleErrorLog::Binaries{binary});
    log->setRegisters(foundation::Dictionary{{"rip", "0x0000000000401010"}, {"rsp", "0x00007ffc00000000"}});
    return log;
}

}  // namespace

TEST(AppleErrorLog, FullLogMatchesItsGoldenFileAsPythonReadsIt) {
    EXPECT_EQ(canonicalJSON(jsonOf(*fullCrashLog())), canonicalJSON(golden("apple_error.json")));
}

TEST(AppleErrorLog, AbsentKeysAreLeftOutButFatalAndEmptyArraysStay) {
    ZIVOAppleErrorLog log;
    log.setThreads(ZIVOAppleErrorLog::Threads{std::make_shared<ZIVOThread>()});
    log.setBinaries(ZIVOAppleErrorLog::Binaries{});
    EXPECT_EQ(canonicalJSON(jsonOf(log)),
              R"({"binaries":[],"fatal":false,"threads":[{"frames":[]}],"type":"appleError"})");
}

TEST(AppleErrorLog, ValidityNamesTheFirstMissingFieldInOrder) {
    LogCapture capture;
    auto log = fullCrashLog();
    EXPECT_TRUE(log->isValid());
    log->setOsExceptionAddress(std::nullopt);
    EXPECT_FALSE(log->isValid());
    log->setApplicationPath(std::nullopt);
    EXPECT_FALSE(log->isValid());
    log->setPrimaryArchitectureId(std::nullopt);
    EXPECT_FALSE(log->isValid());
    log->setProcessName(std::nullopt);
    EXPECT_FALSE(log->isValid());
    log->setErrorId(std::nullopt);
    EXPECT_FALSE(log->isValid());
    EXPECT_EQ(capture.messages(ZIVOLogLevelVerbose),
              (std::vector<std::string>{"ZIVOAppleErrorLog: \"osExceptionAddress\" is not valid.",
                                        "ZIVOAppleErrorLog: \"applicationPath\" is not valid.",
                                        "ZIVOAppleErrorLog: \"primaryArchitectureId\" is not valid.",
                                        "ZIVOAppleErrorLog: \"processName\" is not valid.",
                                        "ZIVOAppleErrorLog: \"errorId\" is not valid."}));
    // Threads, binaries and the exception are not looked into.
    auto other = fullCrashLog();
    other->threads()->at(0)->setFrames(ZIVOThread::Frames{});
    EXPECT_TRUE(other->isValid());
}

TEST(AppleErrorLog, ValueClassesValidateTheirOwnFields) {
    LogCapture capture;
    ZIVOThread thread;
    EXPECT_FALSE(thread.isValid());
    thread.setThreadId(3);
    EXPECT_FALSE(thread.isValid());
    ZIVOBinary binary;
    binary.setBinaryId(std::string("x"));
    binary.setStartAddress(std::string("0x1"));
    EXPECT_FALSE(binary.isValid());
    ZIVOExceptionModel exception;
    exception.setType(std::string("t"));
    exception.setFrames(ZIVOExceptionModel::Frames{});
    EXPECT_FALSE(exception.isValid());
    EXPECT_EQ(capture.messages(ZIVOLogLevelVerbose),
              (std::vector<std::string>{
                  "ZIVOThread: \"threadId\" is not valid.", "ZIVOThread: \"frames\" is not valid.",
                  "ZIVOBinary: \"endAddress\" is not valid.", "ZIVOExceptionModel: \"frames\" is not valid."}));
}

TEST(AppleErrorLog, EqualityFollowsEveryFieldAndTheClass) {
    auto a = fullCrashLog(), b = fullCrashLog();
    EXPECT_TRUE(a->isEqual(*b));
    b->threads()->at(1)->mutableFrames()->at(0)->setCode(std::string("changed"));
    EXPECT_FALSE(a->isEqual(*b));
    auto c = fullCrashLog();
    c->setRegisters(foundation::Dictionary{{"rip", "0x0"}});
    EXPECT_FALSE(a->isEqual(*c));
    ZIVOAppleErrorLog x, y;
    EXPECT_TRUE(x.isEqual(y));
    y.setErrorId(std::string("id"));
    EXPECT_FALSE(x.isEqual(y));
    EXPECT_FALSE(ZIVOThread().isEqual(ZIVOBinary()));
    EXPECT_FALSE(ZIVOBinary().isEqual(ZIVOThread()));
}

TEST(ExceptionModel, SymbolLinesSplitIntoFramesAsTheLineRuleSays) {
    auto frames = ZIVOExceptionModel::loadStackTrace({
        "3   HXConnect                           0x0000000100e3c2a4 -[HXCallController dial:number:] + 120",
        "4   libsystem.dylib                     0x00000001a0b2c3d4 abort_impl + 36",
        "5   HXConnect                           0x0000000100e3c2a4 main + 120",
    });
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0]->fileName(), "HXConnect");
    EXPECT_EQ(frames[0]->address(), "0x0000000100e3c2a4");
    EXPECT_EQ(frames[0]->frameClassName(), "HXCallController");
    EXPECT_EQ(frames[0]->methodName(), "dial:number:");
    EXPECT_FALSE(frames[0]->code().has_value());
    // A dotted module name shifts every piece by one.
    EXPECT_EQ(frames[1]->fileName(), "libsystem");
    EXPECT_EQ(frames[1]->address(), "dylib");
    EXPECT_EQ(frames[1]->frameClassName(), "0x00000001a0b2c3d4");
    EXPECT_EQ(frames[1]->methodName(), "abort_impl");
    EXPECT_TRUE(ZIVOExceptionModel::loadStackTrace({}).empty());
}

TEST(ExceptionModel, FromAnErrorTakesDomainPrintedUserInfoAndTheCurrentStack) {
    auto withInfo = ZIVOExceptionModel::initWithError(
        foundation::Error("HXDomain", 7, foundation::Dictionary{{"NSLocalizedDescription", "Bad thing"}}));
    EXPECT_EQ(withInfo->type(), "HXDomain");
    EXPECT_EQ(withInfo->message(), "{\n    NSLocalizedDescription = \"Bad thing\";\n}");
    ASSERT_TRUE(withInfo->stackTrace().has_value());
    EXPECT_EQ(withInfo->stackTrace()->substr(0, 2), "(\n");
    auto empty = ZIVOExceptionModel::initWithError(foundation::Error("HXDomain", 7));
    EXPECT_FALSE(empty->message().has_value());
    EXPECT_FALSE(empty->serializeToDictionary().contains("message"));
    auto parts =
        ZIVOExceptionModel::initWithType(std::string("T"), std::string("M"), std::vector<std::string>{"a b", "c"});
    EXPECT_EQ(parts->stackTrace(), "(\n    \"a b\",\n    c\n)");
    ASSERT_TRUE(parts->frames().has_value());
    EXPECT_TRUE(parts->frames()->empty());
}

TEST(ErrorAttachmentLog, TextAttachmentGoldenAndItsRules) {
    auto attachment = ZIVOErrorAttachmentLog::attachmentWithText("abc", std::string("AppInfo.txt"));
    EXPECT_EQ(attachment->contentType(), "text/plain");
    ASSERT_TRUE(attachment->attachmentId().has_value());
    EXPECT_EQ(attachment->attachmentId()->size(), 36u);
    EXPECT_EQ(*attachment->attachmentId(), foundation::UUID::parse(*attachment->attachmentId())->string());
    auto again = ZIVOErrorAttachmentLog::attachmentWithText("abc", std::string("AppInfo.txt"));
    EXPECT_FALSE(attachment->isEqual(*again));

    LogCapture capture;
    attachment->setTimestamp(foundation::Date{1700000001});
    attachment->setDevice(validDevice());
    EXPECT_FALSE(attachment->isValid());
    EXPECT_EQ(capture.messages(ZIVOLogLevelVerbose).back(), "ZIVOErrorAttachmentLog: \"errorId\" is not valid.");
    attachment->setErrorId(std::string("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"));
    EXPECT_TRUE(attachment->isValid());
    attachment->setAttachmentId(std::string("11111111-2222-3333-4444-555555555555"));
    EXPECT_EQ(canonicalJSON(jsonOf(*attachment)), canonicalJSON(golden("error_attachment.json")));

    auto empty = ZIVOErrorAttachmentLog::attachmentWithText("", std::nullopt);
    empty->setTimestamp(foundation::Date{1});
    empty->setDevice(validDevice());
    empty->setErrorId(std::string("e"));
    EXPECT_TRUE(empty->isValid());
    EXPECT_EQ(empty->serializeToDictionary().get("data").asString(), "");
}

TEST(HandledErrorLog, GoldenJSONAndPresenceOnlyValidity) {
    LogCapture capture;
    ZIVOHandledErrorLog log;
    log.setTimestamp(foundation::Date{1700000002.125});
    log.setSid(std::string("6B1A1A7E-52B1-4E2B-9C5C-8E7C0D7A6F11"));
    log.setDevice(validDevice());
    log.setProperties(foundation::Dictionary{{"screen", "dialer"}});
    log.setErrorId(std::string("5F0E0D0C-0B0A-4908-8706-050403020100"));
    EXPECT_FALSE(log.isValid());
    EXPECT_EQ(capture.messages(ZIVOLogLevelVerbose).back(), "ZIVOHandledErrorLog: \"exception\" is not valid.");
    auto exception = ZIVOExceptionModel::initWithType(
        std::string("HXDomain"), std::string("lost"),
        std::vector<std::string>{"0   HXConnect 0x0000000100e3c2a4 -[HXStore save:] + 12"});
    log.setException(exception);
    EXPECT_TRUE(log.isValid());
    exception->setFrames(ZIVOExceptionModel::Frames{});
    EXPECT_TRUE(log.isValid());
    exception->setFrames(
        ZIVOExceptionModel::loadStackTrace({"0   HXConnect 0x0000000100e3c2a4 -[HXStore save:] + 12"}));
    EXPECT_EQ(canonicalJSON(jsonOf(log)), canonicalJSON(golden("handled_error.json")));
}

TEST(ErrorReport, AppKillProcessIdAndPrintedForm) {
    auto make = [](std::optional<std::string> signal, uint64_t pid) {
        return ZIVOErrorReport(std::string("id"), std::string(""), std::move(signal), std::nullopt, std::nullopt,
                               std::nullopt, std::nullopt, std::string("X86-64"), std::string("x86_64"), std::nullopt,
                               std::nullopt, std::nullopt, nullptr, pid);
    };
    EXPECT_TRUE(make(std::string("sigkill"), 0).isAppKill());
    EXPECT_FALSE(make(std::nullopt, 0).isAppKill());
    EXPECT_FALSE(make(std::string("SIGSEGV"), 0).isAppKill());
    EXPECT_FALSE(make(std::nullopt, 0).serializeToDictionary().contains("appProcessIdentifier"));
    auto printed = make(std::nullopt, 77).serializeToDictionary();
    EXPECT_EQ(printed.get("appProcessIdentifier").asString(), "77");
    EXPECT_EQ(printed.get("codeType").asString(), "X86-64");
    EXPECT_EQ(printed.get("archName").asString(), "x86_64");
}
