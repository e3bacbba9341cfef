#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/futex.h>
#include <mutex>
#include <optional>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "crashreporter/crash_report.h"
#include "crashreporter/crash_reporter.h"
#include "crashreporter/host_info.h"
#include "crashreporter/mach_exception_server.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/internal.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/property_list.h"
#include "platform/kernel/sysctl.h"
#include "platform/kernel/uncaught_exception.h"
#include "tests/crashreporter/crash_fixtures.h"
#include "tests/crashreporter/report_test_support.h"
#include "tests/support/fault_signals.h"
#include "tests/support/test_support.h"

namespace {

using crashtest::readFile;
using crashtest::runInChild;

std::string symbolOf(uint64_t pc) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(pc), &info) == 0 || !info.dli_sname) return {};
    return info.dli_sname;
}

std::string fileOf(uint64_t pc) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(pc), &info) == 0 || !info.dli_fname) return {};
    return info.dli_fname;
}

std::string command(const std::string& cmd) {
    std::string out;
    hxtest::runCommand(cmd, &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Expected "major.minor[.patch]" from `uname -r`, worked out apart from the writer.
std::string expectedOsVersion() {
    return command("uname -r | sed -E 's/^([0-9]+)\\.([0-9]+)(\\.([0-9]+))?.*/\\1 \\2 \\4/' | "
                   "awk '{ if ($3 != \"\" && $3 > 0) print $1\".\"$2\".\"$3; else print $1\".\"$2 }'");
}

std::shared_ptr<ZVCrashReporter> makeReporter(const std::filesystem::path& base,
                                              uint32_t type = ZVCrashSignalHandlerTypeBSD) {
    auto config = ZVCrashReporterConfig::initWithSignalHandlerType(type, 0, true, base.string());
    return ZVCrashReporter::initWithApplicationIdentifier("com.example/crash", "7", std::string("1.2"), config);
}

// The marker written by the post-crash callback: it records whether another thread's counter moved
// while the callback ran (it must not: the threads stay stopped).
const char* gMarkerPath = nullptr;
std::atomic<uint64_t> gCounter{0};

void postCrash(siginfo_t* info, ucontext_t*, void*) {
    const uint64_t first = gCounter.load();
    for (int i = 0; i < 20000000; ++i) asm volatile("");
    const uint64_t second = gCounter.load();
    int fd = ::open(gMarkerPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char text[3] = {first == second ? 's' : 'm', static_cast<char>('0' + (info ? info->si_signo % 10 : 0)), '\n'};
    ::write(fd, text, sizeof text);
    ::close(fd);
}

struct CrashResult {
    int status = 0;
    std::shared_ptr<const ZVCrashReport> report;
    std::vector<uint8_t> bytes;
    std::string marker;      // the callback's first mark: "s" when nothing else moved, "" without a call
    std::string markerText;  // all it wrote: the mark, then the signal number's last digit
    pid_t child = 0;
};

// How crashChild sets its child up before the crash.
struct ChildSetup {
    uint32_t type = ZVCrashSignalHandlerTypeBSD;
    bool postCrashCallback = true;  // postCrash, writing the marker
    bool withCounterThread = false;
    // The child may write no file beyond this many bytes (RLIMIT_FSIZE), so the report's writes
    // fail part-way; 0 for no limit.
    rlim_t fileSizeLimit = 0;
};

// Runs `crash` in a child with a reporter enabled in a fresh directory: how the child ended and the
// report it left, decoded (without a size limit a report that does not decode is a failure). The
// alarm ends a child that hangs, a lost reply for one, instead of the test.
CrashResult crashChild(const std::function<void()>& crash, ChildSetup setup = {}) {
    hxtest::TempDir dir;
    const std::string marker = (dir / "marker").string();
    auto reporter = makeReporter(dir.path(), setup.type);
    const rlim_t fileSizeLimit = setup.fileSizeLimit;
    pid_t pid = fork();
    if (pid == 0) {
        hxtest::restoreDefaultFaultActions();
        alarm(20);
        gMarkerPath = marker.c_str();
        ZVCrashReporterCallbacks callbacks{0, nullptr, &postCrash};
        if (setup.postCrashCallback && !reporter->setCrashCallbacks(&callbacks).ok()) _exit(10);
        if (!reporter->enableCrashReporter()) _exit(11);
        if (fileSizeLimit) {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(13);
        }
        if (setup.withCounterThread) {
            std::thread([] {
                for (;;) gCounter.fetch_add(1);
            }).detach();
            while (gCounter.load() < 1000) {}
        }
        crash();
        _exit(12);
    }
    CrashResult result;
    result.child = pid;
    waitpid(pid, &result.status, 0);
    result.bytes = readFile(reporter->crashReportPath());
    const auto markerBytes = readFile(marker);
    result.markerText.assign(markerBytes.begin(), markerBytes.end());
    result.marker = result.markerText.substr(0, 1);
    auto decoded = ZVCrashReport::initWithData(result.bytes);
    if (decoded.ok())
        result.report = decoded.value();
    else if (!fileSizeLimit)
        ADD_FAILURE() << decoded.error().description();
    return result;
}

const ZVCrashReportThreadInfo* crashedThread(const ZVCrashReport& report) {
    const ZVCrashReportThreadInfo* found = nullptr;
    int count = 0;
    for (const auto& t : report.threads()) {
        if (t.crashed) {
            found = &t;
            ++count;
        }
    }
    EXPECT_EQ(count, 1);
    return found;
}

// How many of a thread's frames are in the fixture's recursion.
int recursionFrames(const ZVCrashReportThreadInfo& thread) {
    int n = 0;
    for (const auto& f : thread.stackFrames) n += symbolOf(f.instructionPointer) == "hx_fixture_recurse";
    return n;
}

// The symbol at the top of the one crashed thread's stack; a failure, and a placeholder, without it.
std::string crashedTopSymbol(const ZVCrashReport& report) {
    const auto* crashed = crashedThread(report);
    EXPECT_NE(crashed, nullptr);
    if (!crashed) return "(no crashed thread)";
    EXPECT_FALSE(crashed->stackFrames.empty());
    return crashed->stackFrames.empty() ? "(no frames)" : symbolOf(crashed->stackFrames[0].instructionPointer);
}

void expectProcessAndSystem(const CrashResult& r) {
    ASSERT_TRUE(r.report);
    const auto& report = *r.report;
    ASSERT_TRUE(report.hasProcessInfo());
    EXPECT_EQ(report.processInfo()->processID, static_cast<uint64_t>(r.child));
    EXPECT_EQ(report.processInfo()->parentProcessID, static_cast<uint64_t>(getpid()));
    EXPECT_EQ(report.processInfo()->processName, std::string(program_invocation_short_name).substr(0, 15));
    EXPECT_EQ(report.processInfo()->processPath, kernel::executable_path());
    EXPECT_EQ(report.processInfo()->parentProcessName, std::string(program_invocation_short_name).substr(0, 15));
    EXPECT_TRUE(report.processInfo()->native);
    EXPECT_EQ(report.systemInfo().operatingSystem, 1u);  // written as IPHONE_OS whatever the host
    EXPECT_EQ(report.systemInfo().operatingSystemVersion, expectedOsVersion());
    EXPECT_EQ(report.systemInfo().operatingSystemBuild, command("uname -v"));
    ASSERT_TRUE(report.hasMachineInfo());
    EXPECT_EQ(report.machineInfo()->modelName, command("uname -m"));
    if (command("uname -m") == "x86_64") {
        EXPECT_EQ(report.machineInfo()->processorInfo->type, 0x01000007u);
        EXPECT_EQ(report.machineInfo()->processorInfo->subtype, 3u);
    }
    EXPECT_EQ(report.machineInfo()->logicalProcessorCount, static_cast<uint64_t>(sysconf(_SC_NPROCESSORS_ONLN)));
    EXPECT_EQ(report.applicationInfo().applicationIdentifier, "com.example/crash");
    EXPECT_EQ(report.applicationInfo().applicationVersion, "7");
    EXPECT_EQ(report.applicationInfo().applicationMarketingVersion, "1.2");
    ASSERT_TRUE(report.uuidRef().has_value());
    // The executable is listed under its real path, with its build id as UUID.
    bool sawExecutable = false;
    for (const auto& image : report.images()) {
        if (image.imageName != kernel::executable_path()) continue;
        sawExecutable = true;
        const std::string buildId =
            command("readelf -n " + kernel::executable_path() + " | awk '/Build ID/ {print $3}'");
        if (!buildId.empty()) {
            EXPECT_EQ(image.imageUUID, buildId.substr(0, 32));
        }
        ASSERT_TRUE(image.codeType);
        EXPECT_EQ(image.codeType->typeEncoding, 1u);
    }
    EXPECT_TRUE(sawExecutable);
}

TEST(CrashReporterCrash, NullWriteWithFramePointersGivesTheCallersInOrder) {
    auto r = crashChild(&hx_fixture_null_write_outer, {.withCounterThread = true});
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGSEGV);
    ASSERT_TRUE(r.report);
    EXPECT_EQ(r.report->signalInfo().name, "SIGSEGV");
    EXPECT_EQ(r.report->signalInfo().code, "SEGV_MAPERR");
    EXPECT_EQ(r.report->signalInfo().address, 0u);
    const auto* crashed = crashedThread(*r.report);
    ASSERT_NE(crashed, nullptr);
    ASSERT_GE(crashed->stackFrames.size(), 4u);
    EXPECT_EQ(symbolOf(crashed->stackFrames[0].instructionPointer), "hx_fixture_null_write_inner");
    EXPECT_EQ(symbolOf(crashed->stackFrames[1].instructionPointer), "hx_fixture_null_write_middle");
    EXPECT_EQ(symbolOf(crashed->stackFrames[2].instructionPointer), "hx_fixture_null_write_outer");
    // Registers of the crashed thread, under this host's names.
    ASSERT_FALSE(crashed->registers.empty());
#if defined(__x86_64__)
    ASSERT_EQ(crashed->registers.size(), 17u);
    EXPECT_EQ(crashed->registers[0].registerName, "rip");
    EXPECT_EQ(crashed->registers[0].registerValue, crashed->stackFrames[0].instructionPointer);
    EXPECT_EQ(crashed->registers[1].registerName, "rbp");
    EXPECT_EQ(crashed->registers[16].registerName, "r15");
#endif
    // The counting thread is in the report, stopped, with at least its own frame.
    EXPECT_GE(r.report->threads().size(), 2u);
    for (const auto& t : r.report->threads()) {
        if (!t.crashed) {
            EXPECT_TRUE(t.registers.empty());
        }
    }
    // The post-crash callback ran, and nothing else moved while it did.
    EXPECT_EQ(r.marker, "s");
    expectProcessAndSystem(r);
}

TEST(CrashReporterCrash, AReportCutShortByTheFileSizeLimitIsAFailureNotASuccess) {
    auto r = crashChild(&hx_fixture_abort, {.fileSizeLimit = 1024});
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGABRT);
    EXPECT_LE(r.bytes.size(), 1024u);
    EXPECT_FALSE(r.bytes.empty());
    // The write failed with "Internal error": the post-crash callback is not called for it...
    EXPECT_EQ(r.marker, "");
    // ...and the next launch's decode refuses the truncated file.
    EXPECT_FALSE(r.report);
    EXPECT_FALSE(ZVCrashReport::initWithData(r.bytes).ok());
}

TEST(CrashReporterCrash, AbortIsReportedWithItsLinuxCode) {
    auto r = crashChild(&hx_fixture_abort);
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGABRT);
    ASSERT_TRUE(r.report);
    EXPECT_EQ(r.report->signalInfo().name, "SIGABRT");
    EXPECT_EQ(r.report->signalInfo().code, "#-6");  // SI_TKILL: raised by the process itself
    EXPECT_EQ(r.report->signalInfo().address, 0u) << "si_addr holds the sender's pid for a sent signal";
    const auto* crashed = crashedThread(*r.report);
    ASSERT_NE(crashed, nullptr);
    ASSERT_FALSE(crashed->stackFrames.empty());
    EXPECT_NE(fileOf(crashed->stackFrames[0].instructionPointer).find("libc.so"), std::string::npos);
    EXPECT_EQ(r.marker, "s");
    expectProcessAndSystem(r);
}

TEST(CrashReporterCrash, TrapInstructionIsReportedAtItsAddress) {
    auto r = crashChild(&hx_fixture_trap);
    ASSERT_TRUE(WIFSIGNALED(r.status));
    ASSERT_TRUE(r.report);
#if defined(__x86_64__)
    EXPECT_EQ(WTERMSIG(r.status), SIGILL);
    EXPECT_EQ(r.report->signalInfo().name, "SIGILL");
    EXPECT_EQ(r.report->signalInfo().code, "ILL_ILLOPN");
#else
    EXPECT_EQ(r.report->signalInfo().name, "SIGTRAP");
#endif
    EXPECT_EQ(symbolOf(r.report->signalInfo().address), "hx_fixture_trap");
    const auto* crashed = crashedThread(*r.report);
    ASSERT_NE(crashed, nullptr);
    ASSERT_FALSE(crashed->stackFrames.empty());
    EXPECT_EQ(crashed->stackFrames[0].instructionPointer, r.report->signalInfo().address);
    expectProcessAndSystem(r);
}

TEST(CrashReporterCrash, AStackOverflowOnAPoolWorkerIsReported) {
    auto r = crashChild(
        [] {
            dispatch::Queue::global()->async([] { hx_fixture_overflow(0); });
            for (;;) pause();
        },
        {.postCrashCallback = false});
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGSEGV);
    ASSERT_TRUE(r.report);
    EXPECT_EQ(r.report->signalInfo().name, "SIGSEGV");
    EXPECT_EQ(crashedTopSymbol(*r.report), "hx_fixture_overflow");
    ASSERT_NE(crashedThread(*r.report), nullptr);
    EXPECT_EQ(crashedThread(*r.report)->stackFrames.size(), 512u);  // the walk stops at its cap
}

// The timer thread is started by the process, not the pool, and its posts run on it: an overflow
// there needs the same alternate stack as a worker's. (The sanitizers bring signal stacks of
// their own.)
TEST(CrashReporterCrash, AStackOverflowOnTheTimerThreadIsReported) {
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
    GTEST_SKIP() << "the sanitizer's own signal stack serves this thread";
#endif
    hxtest::TempDir dir;
    auto reporter = makeReporter(dir.path());
    int status = runInChild([&] {
        // The timer thread starts with the first delayed item, before the reporter sets the size.
        dispatch::detail::Scheduler::shared().add(clocks::clock().now() + 3600, [] {});
        if (!reporter->enableCrashReporter()) _exit(11);
        dispatch::detail::Scheduler::shared().add(clocks::clock().now() + 0.01, [] { hx_fixture_overflow(0); });
        for (;;) pause();
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    auto decoded = ZVCrashReport::initWithData(readFile(reporter->crashReportPath()));
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    EXPECT_EQ(crashedTopSymbol(*decoded.value()), "hx_fixture_overflow");
}

TEST(CrashReporterCrash, MachTypeReportsTheExceptionFromTheServerThread) {
    auto r = crashChild(&hx_fixture_null_write_outer, {.type = ZVCrashSignalHandlerTypeMach});
    // The failure reply ends the process by the signal the fault would have raised.
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGSEGV);
    ASSERT_TRUE(r.report);
    const auto& report = *r.report;
    ASSERT_TRUE(report.machExceptionInfo());
    EXPECT_EQ(report.machExceptionInfo()->type, 1u);                              // EXC_BAD_ACCESS
    EXPECT_EQ(report.machExceptionInfo()->codes, (std::vector<uint64_t>{1, 0}));  // KERN_INVALID_ADDRESS at 0
    EXPECT_EQ(report.signalInfo().name, "SIGSEGV");
    EXPECT_EQ(report.signalInfo().code, "SEGV_MAPERR");
    EXPECT_EQ(report.signalInfo().address, 0u);
    // The crashed thread is shown at its fault, not inside the stand-in's handler; the server
    // thread that wrote the report is in it too.
    const auto* crashed = crashedThread(report);
    ASSERT_NE(crashed, nullptr);
    ASSERT_GE(crashed->stackFrames.size(), 3u);
    EXPECT_EQ(symbolOf(crashed->stackFrames[0].instructionPointer), "hx_fixture_null_write_inner");
    EXPECT_EQ(symbolOf(crashed->stackFrames[1].instructionPointer), "hx_fixture_null_write_middle");
    EXPECT_EQ(symbolOf(crashed->stackFrames[2].instructionPointer), "hx_fixture_null_write_outer");
    EXPECT_GE(report.threads().size(), 2u);
    // The post-crash callback got the mapped signal.
    ASSERT_GE(r.markerText.size(), 2u);
    EXPECT_EQ(r.markerText[1], '0' + SIGSEGV % 10);
}

char* gReadOnlyPage = nullptr;

TEST(CrashReporterCrash, MachTypeLeavesAFaultToThePreviousPortThatHandlesIt) {
    hxtest::TempDir dir;
    auto reporter = makeReporter(dir.path(), ZVCrashSignalHandlerTypeMach);
    int status = runInChild([&] {
        alarm(20);
        gReadOnlyPage = static_cast<char*>(::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        // A handler that was there first, taking the old 32-bit form: it makes the page writable.
        kernel::mach_port_t port = kernel::MACH_PORT_NULL;
        if (kernel::mach_port_allocate(kernel::mach_task_self(), kernel::MACH_PORT_RIGHT_RECEIVE, &port) != 0)
            _exit(20);
        kernel::mach_port_insert_right(kernel::mach_task_self(), port, port, kernel::MACH_MSG_TYPE_MAKE_SEND);
        foundation::Error error;
        auto previous = ZVCrashMachExceptionPort::initWithServerPort(port, kernel::EXC_MASK_BAD_ACCESS,
                                                                     kernel::EXCEPTION_DEFAULT, 0);
        if (!previous->registerForTask(kernel::mach_task_self(), nullptr, &error)) _exit(21);
        std::thread([port] {
            alignas(8) uint8_t buffer[256];
            auto* header = reinterpret_cast<kernel::mach_msg_header_t*>(buffer);
            if (kernel::mach_msg(header, kernel::MACH_RCV_MSG, 0, sizeof buffer, port, 0, 0) != 0) _exit(22);
            uint32_t count = 0, code0 = 0;
            std::memcpy(&count, buffer + 64, 4);
            std::memcpy(&code0, buffer + 68, 4);
            const bool ok = header->msgh_id == 2401 && count == 2 && code0 == 2 &&  // KERN_PROTECTION_FAILURE
                            ::mprotect(gReadOnlyPage, 4096, PROT_READ | PROT_WRITE) == 0;
            uint8_t reply[36];
            zvcrash_exception_reply_build(*header, ok ? 0 : 5, reply);
            kernel::mach_msg(reinterpret_cast<kernel::mach_msg_header_t*>(reply), kernel::MACH_SEND_MSG, 36, 0, 0, 0,
                             0);
        }).detach();
        if (!reporter->enableCrashReporter()) _exit(11);
        *reinterpret_cast<volatile char*>(gReadOnlyPage) = 5;
        _exit(gReadOnlyPage[0] == 5 ? 0 : 23);
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(reporter->hasPendingCrashReport());
}

TEST(CrashReporterCrash, MachTypeManyThreadsFaultingAtOnceGiveOneReport) {
    auto r = crashChild(
        [] {
            std::atomic<bool> go{false};
            std::vector<std::thread> threads;
            for (int i = 0; i < 12; ++i)
                threads.emplace_back([&go] {
                    while (!go.load()) {}
                    hx_fixture_null_write_outer();
                });
            go.store(true);
            for (auto& t : threads) t.join();
        },
        {.type = ZVCrashSignalHandlerTypeMach, .postCrashCallback = false});
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGSEGV);
    ASSERT_TRUE(r.report);
    ASSERT_TRUE(r.report->machExceptionInfo());
    EXPECT_EQ(crashedTopSymbol(*r.report), "hx_fixture_null_write_inner");
}

TEST(CrashReporterCrash, MachTypeTrapDiesByItsOwnSignal) {
    auto r = crashChild(&hx_fixture_trap, {.type = ZVCrashSignalHandlerTypeMach, .postCrashCallback = false});
    ASSERT_TRUE(WIFSIGNALED(r.status));
    ASSERT_TRUE(r.report);
    ASSERT_TRUE(r.report->machExceptionInfo());
#if defined(__x86_64__)
    EXPECT_EQ(WTERMSIG(r.status), SIGILL);
    EXPECT_EQ(r.report->machExceptionInfo()->type, 2u);  // EXC_BAD_INSTRUCTION
    EXPECT_EQ(r.report->signalInfo().name, "SIGILL");
#else
    EXPECT_EQ(WTERMSIG(r.status), SIGTRAP);
    EXPECT_EQ(r.report->machExceptionInfo()->type, 6u);  // EXC_BREAKPOINT
#endif
    EXPECT_EQ(symbolOf(r.report->machExceptionInfo()->codes.at(1)), "hx_fixture_trap");
}

TEST(CrashReporterCrash, MachTypeAbortStillGoesThroughTheSignalHandler) {
    auto r = crashChild(&hx_fixture_abort, {.type = ZVCrashSignalHandlerTypeMach, .postCrashCallback = false});
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGABRT);
    ASSERT_TRUE(r.report);
    EXPECT_EQ(r.report->signalInfo().name, "SIGABRT");
    EXPECT_FALSE(r.report->machExceptionInfo());
}

TEST(CrashReporterCrash, AnUncaughtExceptionIsRecordedOnceAndAborts) {
    auto r = crashChild(
        [] {
            auto handler = kernel::getUncaughtExceptionHandler();
            if (!handler) _exit(13);
            // Two threads race; one exception is recorded whole, the other handler returns.
            std::atomic<bool> go{false};
            auto thrower = [&](const char* name, const char* reason, uint64_t frame) {
                while (!go.load()) {}
                handler(kernel::PlatformException{name, reason, {0x1111, frame}});
            };
            std::thread a(thrower, "FirstException", "first reason", 0x2222);
            std::thread b(thrower, "SecondException", "second reason", 0x3333);
            go.store(true);
            a.join();
            b.join();
            for (;;) pause();
        },
        {.postCrashCallback = false});
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGABRT);
    ASSERT_TRUE(r.report);
    ASSERT_TRUE(r.report->hasExceptionInfo());
    const auto& e = *r.report->exceptionInfo();
    ASSERT_TRUE(e.stackFrames.has_value());
    ASSERT_EQ(e.stackFrames->size(), 2u);
    if (e.exceptionName == "FirstException") {
        EXPECT_EQ(e.exceptionReason, "first reason");
        EXPECT_EQ((*e.stackFrames)[1].instructionPointer, 0x2222u);
    } else {
        EXPECT_EQ(e.exceptionName, "SecondException");
        EXPECT_EQ(e.exceptionReason, "second reason");
        EXPECT_EQ((*e.stackFrames)[1].instructionPointer, 0x3333u);
    }
    EXPECT_EQ(r.report->signalInfo().name, "SIGABRT");
}

TEST(CrashReporterEnable, ASecondEnablingFailsEvenAfterAFailedFirst) {
    hxtest::TempDir dir;
    int status = runInChild([&] {
        auto blocked = dir / "file";
        std::ofstream(blocked) << "x";
        auto first = makeReporter(blocked);  // a base path under a regular file can't be created
        foundation::Error error;
        if (first->enableCrashReporterAndReturnError(&error)) _exit(20);
        if (error.domain == ZVCrashReporterErrorDomain) _exit(21);
        auto second = makeReporter(dir.path());
        if (second->enableCrashReporterAndReturnError(&error)) _exit(22);
        if (error.domain != ZVCrashReporterErrorDomain || error.code != 3) _exit(23);
        if (error.localizedDescription() != "A ZVCrashReporter instance has already been enabled") _exit(24);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    status = runInChild([&] {
        auto reporter = makeReporter(dir.path());
        if (!reporter->enableCrashReporter()) _exit(30);
        foundation::Error error;
        if (reporter->enableCrashReporterAndReturnError(&error) || error.code != 3) _exit(31);
        ZVCrashReporterCallbacks callbacks{0, nullptr, &postCrash};
        auto refused = reporter->setCrashCallbacks(&callbacks);
        if (refused.ok() || refused.error().domain != ZVCrashReporterException ||
            refused.error().localizedDescription() != "The crash reporter has already been enabled")
            _exit(32);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Enabling made the report directory and its queue, 0755.
    auto reporter = makeReporter(dir.path());
    EXPECT_EQ(std::filesystem::status(reporter->queuedCrashReportDirectory()).permissions(),
              std::filesystem::perms(0755));
}

TEST(CrashReporterFiles, WithoutABasePathTheReportLivesInTheAppHomesCaches) {
    hxtest::TempDir home;
    foundation::setHomeDirectory(home.path());
    auto config = ZVCrashReporterConfig::initWithSignalHandlerType(ZVCrashSignalHandlerTypeBSD, 0, true, std::nullopt);
    auto reporter =
        ZVCrashReporter::initWithApplicationIdentifier("com.example/crash", "7", std::string("1.2"), config);
    EXPECT_EQ(reporter->crashReportDirectory(),
              (home / "Library/Caches/com.zivo.crashreporter.data/com.example_crash").string());
    foundation::setHomeDirectory({});
}

TEST(CrashReporterFiles, DirectoryNamesAndPendingReport) {
    hxtest::TempDir dir;
    auto reporter = makeReporter(dir.path());
    EXPECT_EQ(reporter->crashReportDirectory(), (dir / "com.zivo.crashreporter.data" / "com.example_crash").string());
    EXPECT_EQ(reporter->crashReportPath(), reporter->crashReportDirectory() + "/live_report.zvcrash");
    EXPECT_EQ(reporter->queuedCrashReportDirectory(), reporter->crashReportDirectory() + "/queued_reports");
    EXPECT_FALSE(reporter->hasPendingCrashReport());
    EXPECT_FALSE(reporter->loadPendingCrashReportDataAndReturnError().ok());
    EXPECT_FALSE(reporter->purgePendingCrashReport());
    std::filesystem::create_directories(reporter->crashReportDirectory());
    crashtest::writeFile(reporter->crashReportPath(), {'z', 'v'});
    EXPECT_TRUE(reporter->hasPendingCrashReport());
    auto data = reporter->loadPendingCrashReportDataAndReturnError();
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(data.value(), std::vector<uint8_t>({'z', 'v'}));
    EXPECT_TRUE(reporter->purgePendingCrashReport());
    EXPECT_FALSE(reporter->hasPendingCrashReport());

    auto defaults = ZVCrashReporterConfig::defaultConfiguration();
    EXPECT_EQ(defaults->signalHandlerType(), 0u);
    EXPECT_EQ(defaults->symbolicationStrategy(), 0u);
    EXPECT_TRUE(defaults->shouldRegisterUncaughtExceptionHandler());
    EXPECT_FALSE(defaults->basePath().has_value());
    auto fromBundle = ZVCrashReporter::initWithBundle(ZVCrashReporterBundleInfo{}, defaults);
    ASSERT_TRUE(fromBundle.ok());
    EXPECT_EQ(fromBundle.value()->applicationIdentifier(), program_invocation_short_name);
    EXPECT_EQ(fromBundle.value()->applicationVersion(), "");

    // Without a bundle given, the reporter names the application after the main bundle.
    hxtest::TempDir resources;
    ASSERT_TRUE(
        foundation::writePropertyListFile(foundation::Dictionary{{"CFBundleIdentifier", "com.hxconnect.reporter"},
                                                                 {"CFBundleShortVersionString", "4.5"},
                                                                 {"CFBundleVersion", "67"}},
                                          resources.path() / "Info.plist")
            .ok());
    foundation::Bundle::main().setResourcesDirectory(resources.path());
    auto fromMain = ZVCrashReporter::initWithConfiguration(defaults);
    foundation::Bundle::main().setResourcesDirectory({});
    ASSERT_TRUE(fromMain.ok());
    EXPECT_EQ(fromMain.value()->applicationIdentifier(), "com.hxconnect.reporter");
    EXPECT_EQ(fromMain.value()->applicationVersion(), "67");
    EXPECT_EQ(fromMain.value()->applicationMarketingVersion(), std::optional<std::string>("4.5"));
}

TEST(CrashReporterLiveReport, CallingThreadReportIsATraceTrapAndLeavesNoFile) {
    hxtest::TempDir dir;
    setenv("TMPDIR", dir.path().c_str(), 1);
    auto reporter = makeReporter(dir.path());
    reporter->setCustomData(std::vector<uint8_t>{9, 8, 7});
    struct Job {
        ZVCrashReporter* reporter;
        std::optional<foundation::Result<std::vector<uint8_t>>> bytes;
    } job{reporter.get(), std::nullopt};
    hx_fixture_recurse(
        5,
        [](void* ctx) {
            auto* j = static_cast<Job*>(ctx);
            j->bytes = j->reporter->generateLiveReport();
        },
        &job);
    unsetenv("TMPDIR");
    auto& bytes = *job.bytes;
    ASSERT_TRUE(bytes.ok()) << bytes.error().description();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // the temporary file is gone

    const std::string text = crashtest::protocDecode(bytes.value());
    EXPECT_NE(text.find("user_requested: true"), std::string::npos) << text;
    EXPECT_NE(text.find("name: \"SIGTRAP\""), std::string::npos) << text;
    EXPECT_NE(text.find("code: \"TRAP_TRACE\""), std::string::npos) << text;
    EXPECT_NE(text.find("custom_data: \"\\t\\010\\007\""), std::string::npos) << text;
    auto decoded = ZVCrashReport::initWithData(bytes.value());
    ASSERT_TRUE(decoded.ok());
    const auto* crashed = crashedThread(*decoded.value());
    ASSERT_NE(crashed, nullptr);
    // The walk goes out through the reporter's own frames to the caller's.
    EXPECT_EQ(recursionFrames(*crashed), 5);
}

// 20 threads parked 50 frames deep; the live report must hold every one of them with its frames.
struct Parking {
    std::mutex lock;
    std::condition_variable cv;
    bool release = false;
    int parked = 0;
    std::vector<kernel::thread_t> ids;
};

// Waits on a futex through the bare system call: the C library's wrapper leaves the frame pointer
// alone, so the walk from the stopped thread goes on through the fixture's frames. (A condition
// variable would stop inside library code built without frame pointers.)
std::atomic<int> gRelease{0};

void park(void* context) {
    auto* p = static_cast<Parking*>(context);
    {
        std::lock_guard guard(p->lock);
        p->ids.push_back(kernel::thread_self());
        ++p->parked;
    }
    p->cv.notify_all();
    while (gRelease.load() == 0)
        syscall(SYS_futex, reinterpret_cast<int*>(&gRelease), FUTEX_WAIT, 0, nullptr, nullptr, 0);
}

// True once every thread sits in the futex system call (202 on x86-64, 98 on arm64), past the
// library code of the notification that told the test it was about to park.
bool allInFutexWait(const std::vector<kernel::thread_t>& ids) {
#if defined(__x86_64__)
    const std::string futexCall = "202";
#else
    const std::string futexCall = "98";
#endif
    for (auto id : ids) {
        std::ifstream in("/proc/self/task/" + std::to_string(id) + "/syscall");
        std::string number;
        in >> number;
        if (number != futexCall) return false;
    }
    return true;
}

void waitUntilParked(Parking& parking, int count) {
    std::unique_lock guard(parking.lock);
    parking.cv.wait(guard, [&] { return parking.parked == count; });
    for (int i = 0; i < 1000000 && !allInFutexWait(parking.ids); ++i) std::this_thread::yield();
}

void releaseParked() {
    gRelease.store(1);
    syscall(SYS_futex, reinterpret_cast<int*>(&gRelease), FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
}

TEST(CrashReporterLiveReport, TwentyThreadsFiftyFramesDeep) {
#if defined(HX_SANITIZER_THREAD)
    // The thread sanitizer holds an asynchronous signal back until its thread next calls into the
    // C library through the sanitizer; a thread parked in a raw futex call never does, so the stop
    // signal never reaches it and it cannot be stopped or read.
    GTEST_SKIP() << "the thread sanitizer holds the stop signal back from a thread parked in a raw futex call";
#endif
    hxtest::TempDir dir;
    auto reporter = makeReporter(dir.path());
    Parking parking;
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) threads.emplace_back([&] { hx_fixture_recurse(50, &park, &parking); });
    waitUntilParked(parking, 20);
    const auto start = std::chrono::steady_clock::now();
    auto bytes = reporter->generateLiveReport();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    releaseParked();
    for (auto& t : threads) t.join();
    gRelease.store(0);
    ASSERT_TRUE(bytes.ok());
    std::printf("live report: %zu threads parked, %.2f ms, %zu bytes\n", threads.size(), ms, bytes.value().size());

    auto decoded = ZVCrashReport::initWithData(bytes.value());
    ASSERT_TRUE(decoded.ok());
    int deep = 0;
    for (const auto& t : decoded.value()->threads()) {
        if (recursionFrames(t) >= 50) ++deep;
    }
    EXPECT_EQ(deep, 20);
    EXPECT_GE(decoded.value()->threads().size(), 21u);
    for (size_t i = 0; i < decoded.value()->threads().size(); ++i)
        EXPECT_EQ(decoded.value()->threads()[i].threadNumber, static_cast<int64_t>(i));
}

TEST(CrashReporterLiveReport, AnotherThreadIsReportedAsTheCrashedOne) {
#if defined(HX_SANITIZER_THREAD)
    // The thread sanitizer holds an asynchronous signal back until its thread next calls into the
    // C library through the sanitizer; a thread parked in a raw futex call never does, so the stop
    // signal never reaches it and it cannot be stopped or read.
    GTEST_SKIP() << "the thread sanitizer holds the stop signal back from a thread parked in a raw futex call";
#endif
    hxtest::TempDir dir;
    auto reporter = makeReporter(dir.path());
    Parking parking;
    std::thread worker([&] { hx_fixture_recurse(5, &park, &parking); });
    waitUntilParked(parking, 1);
    auto bytes = reporter->generateLiveReportWithThread(parking.ids[0]);
    releaseParked();
    worker.join();
    gRelease.store(0);
    ASSERT_TRUE(bytes.ok());
    auto decoded = ZVCrashReport::initWithData(bytes.value());
    ASSERT_TRUE(decoded.ok());
    const auto* crashed = crashedThread(*decoded.value());
    ASSERT_NE(crashed, nullptr);
    EXPECT_EQ(recursionFrames(*crashed), 5);
    EXPECT_FALSE(crashed->registers.empty());
    // No state was given for the calling thread, so it is left out: only the worker is there.
    EXPECT_EQ(decoded.value()->threads().size(), 1u);
}

}  // namespace
