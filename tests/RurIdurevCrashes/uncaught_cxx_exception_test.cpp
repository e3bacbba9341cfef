#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/uncaught_cxx_exception_handler_manager.h"

namespace {

int reportFd = -1;

void say(const std::string& text) {
    std::string line = text + "\n";
    (void)!write(reportFd, line.data(), line.size());
}

std::string symbolAt(uint64_t address) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(address), &info) && info.dli_sname) return info.dli_sname;
    return "?";
}

void recordingHandler(const CXXExceptionInfo* info) {
    ZIVOCrashesCXXExceptionWrapperException wrapper(info);
    say("type=" + std::string(info->exceptionTypeName ? info->exceptionTypeName : "(null)"));
    say("message=" + std::string(info->exceptionMessage ? info->exceptionMessage : "(null)"));
    say("name=" + wrapper.name + " reason=" + wrapper.reason);
    std::string frames = "frames=";
    for (uint32_t i = 0; i < info->exceptionFramesCount && i < 6; ++i)
        frames += symbolAt(info->exceptionFrames[i]) + ",";
    say(frames);
    say("count=" + std::to_string(info->exceptionFramesCount) +
        " wrapperframes=" + std::to_string(wrapper.callStackReturnAddresses.size()));
}

// No exception leaves this frame: an escaping one goes to terminate, as it would from main.
void runUncaught(void (*body)()) noexcept { body(); }

// The output of body run in a child, and the child's wait status.
std::string inChild(void (*body)(), int* status) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        reportFd = fds[1];
        runUncaught(body);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[512];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, status, 0);
    return out;
}

}  // namespace

// Each case registers its handlers in a child; a handler left registered in this process by an
// earlier test (the crashes service's) would be inherited and called first.
class UncaughtCXXException : public ::testing::Test {
protected:
    void SetUp() override {
        if (ZIVOCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() != 0)
            GTEST_SKIP() << "an earlier test in this process registered a handler: run it alone (as ctest does)";
    }
};

// Exported (the test executable is linked with its symbols visible) so dladdr can name them.
extern "C" __attribute__((noinline)) void zivoTestThrowRuntimeError() {
    throw std::runtime_error("the dial plan is empty");
}
extern "C" __attribute__((noinline)) void zivoTestEarlierThrow() { throw std::logic_error("caught long ago"); }

TEST_F(UncaughtCXXException, StdExceptionReachesEveryHandlerWithTypeTextAndThrowSite) {
    int status = 0;
    std::string out = inChild(
        [] {
            ZIVOCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(recordingHandler);
            ZIVOCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(recordingHandler);
            zivoTestThrowRuntimeError();
        },
        &status);
    ASSERT_TRUE(WIFSIGNALED(status)) << out;
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    const std::string once = "type=St13runtime_error\nmessage=the dial plan is empty\n"
                             "name=std::runtime_error reason=the dial plan is empty\n";
    ASSERT_NE(out.find(once), std::string::npos) << out;
    // Registered twice, so called twice.
    EXPECT_NE(out.find(once, out.find(once) + 1), std::string::npos) << out;
    // The innermost frame is the throwing function, not the hook.
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
    // The sanitizer's own interceptor of the throw entry point sits between the hook and the
    // throwing function.
    EXPECT_NE(out.find("frames=__cxa_throw,zivoTestThrowRuntimeError,"), std::string::npos) << out;
#else
    EXPECT_NE(out.find("frames=zivoTestThrowRuntimeError,"), std::string::npos) << out;
#endif
}

TEST_F(UncaughtCXXException, AnIntegerGivesNoMessageAndAnEmptyReason) {
    int status = 0;
    std::string out = inChild(
        [] {
            ZIVOCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(recordingHandler);
            throw 42;
        },
        &status);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_NE(out.find("type=i\nmessage=(null)\nname=int reason=\n"), std::string::npos) << out;
}

TEST_F(UncaughtCXXException, NoCurrentExceptionCallsNoHandlerAndAborts) {
    int status = 0;
    std::string out = inChild(
        [] {
            std::set_terminate(nullptr);
            ZIVOCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(recordingHandler);
            std::terminate();
        },
        &status);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
    EXPECT_EQ(out, "");
}

// An exception that never passed the throw hook must not be described by the frames of an older
// throw that was caught: the record is tied to the object it was made for.
TEST_F(UncaughtCXXException, AnOlderCaughtThrowNeverLendsItsFrames) {
    int status = 0;
    std::string out = inChild(
        [] {
            ZIVOCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(recordingHandler);
            std::exception_ptr keep;  // keeps the old object alive so its address is not reused
            try {
                zivoTestEarlierThrow();
            } catch (...) {
                keep = std::current_exception();
            }
            // Made without a throw expression, so the hook never sees it.
            std::exception_ptr fresh = std::make_exception_ptr(std::out_of_range("not through the hook"));
            std::rethrow_exception(fresh);
        },
        &status);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_NE(out.find("message=not through the hook"), std::string::npos) << out;
    EXPECT_EQ(out.find("zivoTestEarlierThrow"), std::string::npos) << out;
    EXPECT_NE(out.find("count="), std::string::npos);
}

TEST_F(UncaughtCXXException, RegistrationsCountAndAStackedTerminateHandlerIsKept) {
    int status = 0;
    std::string out = inChild(
        [] {
            using M = ZIVOCrashesUncaughtCXXExceptionHandlerManager;
            M::addCXXExceptionHandler(recordingHandler);
            M::addCXXExceptionHandler(recordingHandler);
            M::removeCXXExceptionHandler(recordingHandler);
            say("count=" + std::to_string(M::countCXXExceptionHandler()));
            std::terminate_handler ours = std::get_terminate();
            M::removeCXXExceptionHandler(recordingHandler);
            say("removed=" + std::to_string(std::get_terminate() != ours));
            M::addCXXExceptionHandler(recordingHandler);
            static std::terminate_handler other = [] { _exit(7); };
            std::set_terminate(other);
            M::removeCXXExceptionHandler(recordingHandler);
            say("count=" + std::to_string(M::countCXXExceptionHandler()));
            say("kept=" + std::to_string(std::get_terminate() == other));
        },
        &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(out, "count=1\nremoved=1\ncount=0\nkept=1\n");
}

// ---- Through the crash reporter: the report of the dead child names the exception and its throw site.

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/error_log_formatter.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/cxx_exception_callback.h"
#include "crashreporter/crash_reporter.h"
#include "platform/foundation/files.h"
#include "tests/support/test_support.h"

namespace {

std::string reporterBase;

std::shared_ptr<ZVCrashReporter> makeReporter() {
    auto config = ZVCrashReporterConfig::initWithSignalHandlerType(ZVCrashSignalHandlerTypeBSD, 0, true, reporterBase);
    return ZVCrashReporter::initWithApplicationIdentifier("com.hxconnect.test", "34", std::string("1.2"), config);
}

}  // namespace

TEST_F(UncaughtCXXException, ChildCrashReportCarriesTypeTextAndThrowSiteFrames) {
    hxtest::TempDir dir;
    reporterBase = (dir / "reporter").string();
    int status = 0;
    std::string out = inChild(
        [] {
            auto reporter = makeReporter();
            if (!reporter || !reporter->enableCrashReporter()) {
                say("could not enable");
                _exit(3);
            }
            ZIVOCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(
                zivoCrashesUncaughtCXXExceptionCallback);
            zivoTestThrowRuntimeError();
        },
        &status);
    ASSERT_TRUE(WIFSIGNALED(status)) << out;

    auto reporter = makeReporter();
    ASSERT_TRUE(reporter);
    ASSERT_TRUE(reporter->hasPendingCrashReport()) << out;
    auto bytes = reporter->loadPendingCrashReportDataAndReturnError();
    ASSERT_TRUE(bytes.ok());
    auto report = ZVCrashReport::initWithData(bytes.value());
    ASSERT_TRUE(report.ok()) << report.error().description();
    const auto& exception = report.value()->exceptionInfo();
    ASSERT_TRUE(exception);
    EXPECT_EQ(exception->exceptionName, "std::runtime_error");
    EXPECT_EQ(exception->exceptionReason, "the dial plan is empty");
    ASSERT_TRUE(exception->stackFrames && !exception->stackFrames->empty());
    // The child was forked from this process, so its code lies at the same addresses.
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
    // Behind the sanitizer's interceptor of the throw entry point.
    ASSERT_GE(exception->stackFrames->size(), 2u);
    EXPECT_EQ(symbolAt((*exception->stackFrames)[1].instructionPointer), "zivoTestThrowRuntimeError");
#else
    EXPECT_EQ(symbolAt((*exception->stackFrames)[0].instructionPointer), "zivoTestThrowRuntimeError");
#endif

    // The formatter's wrapper-exception lookup reads the SDK files directory: a scratch home.
    foundation::setHomeDirectory(dir / "home");
    ZIVOUtility::resetRurIdurevDirectoryForTesting();
    ZIVOCrashesUtil::resetDirectory();
    auto log = ZIVOErrorLogFormatter::errorLogFromCrashReport(*report.value());
    ZIVOCrashesUtil::resetDirectory();
    foundation::setHomeDirectory({});
    ZIVOUtility::resetRurIdurevDirectoryForTesting();
    EXPECT_EQ(log->exceptionType(), "std::runtime_error");
    EXPECT_EQ(log->exceptionReason(), "the dial plan is empty");
    EXPECT_EQ(log->osExceptionType(), "SIGABRT");
}
