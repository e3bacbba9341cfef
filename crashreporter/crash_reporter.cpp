#include "crashreporter/crash_reporter.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <ucontext.h>
#include <unistd.h>

#include "crashreporter/async_file.h"
#include "crashreporter/host_info.h"
#include "crashreporter/image_list.h"
#include "crashreporter/log_writer.h"
#include "crashreporter/mach_exception_server.h"
#include "crashreporter/signal_handler.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/file_writer.h"
#include "platform/foundation/files.h"
#include "platform/kernel/loaded_images.h"
#include "platform/kernel/thread_state.h"

namespace {

constexpr int kFatalSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};
constexpr int kThreadStopTimeoutMs = 250;

// Everything the crash-time path touches, prepared at enabling.
struct CrashContext {
    zvcrash_log_writer_t writer;
    char* path = nullptr;
    zvcrash_async_thread_list threads;
    zvcrash_mach_exception_port_state_set previousMachPorts;
};

CrashContext gCrashContext;
std::atomic<void*> gCallbackContext{nullptr};
std::atomic<void (*)(siginfo_t*, ucontext_t*, void*)> gPostCrashCallback{nullptr};
std::atomic<uint8_t> gUncaughtLatch{0};
std::mutex gEnableLock;
bool gEnabledOnce = false;  // guarded by gEnableLock
// The server and the ports it displaced live as long as the process; set once while enabling.
std::shared_ptr<ZVCrashMachExceptionServer> gMachServer;
std::shared_ptr<ZVCrashMachExceptionPortSet> gPreviousMachPorts;
std::mutex gLiveReportLock;  // the thread-stop slots serve one write at a time

foundation::Error exceptionError(const std::string& reason) {
    return foundation::Error::withDescription(ZVCrashReporterException, 0, reason);
}

// The user's caches folder is the app home's, so a run under another home (HXCONNECT_HOME) never
// offers this one's crash, nor loses its own to another.
std::string cachesDirectory() { return foundation::cachesDirectory().string(); }

zvcrash_async_image_list gImageList;

// The images' FDE indexes are built off the launching thread: one pass at a time, and a pass
// after every batch of added images.
std::atomic<bool> gIndexRequested{false};
// The indexing thread's niceness: the lowest priority a thread may give itself.
constexpr int kIndexerNice = 19;
std::atomic<bool> gIndexing{false};

void indexImages() {
    // The indexes serve a crash report's walk (which manages without them until they are made):
    // the launch's own work comes first when both want the same core.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kIndexerNice);
    dispatch::installThreadAltStack();
    for (;;) {
        while (gIndexRequested.exchange(false)) zvcrash_async_image_list_build_indexes(&gImageList);
        gIndexing.store(false);
        // A request made after the last pass, whose caller saw this pass still running, is served here.
        bool idle = false;
        if (!gIndexRequested.load() || !gIndexing.compare_exchange_strong(idle, true)) return;
    }
}

std::mutex gIndexerLock;
// The last indexing thread (guarded by gIndexerLock); never destroyed, so exit's destructors do
// not meet a thread that was not joined. The next request, a waiter or exit joins it.
std::thread& gIndexer = *new std::thread;

void joinIndexer() {
    std::lock_guard guard(gIndexerLock);
    if (gIndexer.joinable()) gIndexer.join();
}

// A fork waits for the pass under way, so the child starts with the parent's indexes whole and
// with no thread of the parent's it does not have. The lock is held across the fork so the
// child's copy is not left locked; a request that came too late for the pass is owed in the child.
void joinIndexerForFork() {
    gIndexerLock.lock();
    if (gIndexer.joinable()) gIndexer.join();
}
void releaseIndexerInParent() { gIndexerLock.unlock(); }
void releaseIndexerInChild() {
    if (gIndexing.exchange(false)) gIndexRequested.store(true);
    gIndexerLock.unlock();
}

void requestIndexing() {
    gIndexRequested.store(true);
    bool idle = false;
    if (!gIndexing.compare_exchange_strong(idle, true)) return;
    // A thread of its own rather than the pool's: a process that forks (the crash tests' children)
    // keeps a usable pool only if nothing started its workers before the fork.
    std::lock_guard guard(gIndexerLock);
    if (gIndexer.joinable()) gIndexer.join();  // its pass is over: it let gIndexing go
    gIndexer = std::thread(&indexImages);
}

void imageAdded(uint64_t header, const char* path) {
    zvcrash_async_image_list_append(&gImageList, header, path);
    requestIndexing();
}

void imageRemoved(uint64_t header, const char*) { zvcrash_async_image_list_remove(&gImageList, header); }

zvcrash_error_t writeReport(const char* path, zvcrash_log_writer_t* writer, kernel::thread_t crashed,
                            const zvcrash_log_signal_info* signal, const zvcrash_async_thread_state* state,
                            zvcrash_async_thread_list* threads) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return ZVCRASH_EINTERNAL;
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, fd, ZVCRASH_REPORT_LIMIT);
    zvcrash_error_t err =
        zvcrash_log_writer_write(writer, crashed, ZVCrashReporter::sharedImageList(), &file, signal, state, threads);
    if (!zvcrash_async_file_close(&file)) return ZVCRASH_EINTERNAL;
    return err;
}

bool bsdCrashCallback(int signo, siginfo_t* info, ucontext_t* uap, void* context, zvcrash_signal_handler_callback*) {
    auto* ctx = static_cast<CrashContext*>(context);
    // A fault inside the reporter from here on ends the process by the default action.
    for (int s : kFatalSignals) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(s, &dfl, nullptr);
    }
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_mcontext_init(&state, uap);
    zvcrash_log_bsd_signal_info bsd{signo, info ? info->si_code : 0, zvcrash_async_signal_address(info)};
    zvcrash_log_signal_info signal{&bsd, nullptr};
    zvcrash_async_thread_list_suspend(&ctx->threads, kThreadStopTimeoutMs);
    zvcrash_error_t err = writeReport(ctx->path, &ctx->writer, kernel::thread_self(), &signal, &state, &ctx->threads);
    auto callback = gPostCrashCallback.load();
    // The other threads stay stopped while the callback reads state they might be changing.
    if (err == ZVCRASH_ESUCCESS && callback) callback(info, uap, gCallbackContext.load());
    zvcrash_async_thread_list_resume(&ctx->threads);
    return false;
}

struct MachWrite {
    CrashContext* context;
    kernel::thread_t crashed;
    const zvcrash_log_signal_info* signal;
    zvcrash_error_t result;
};

// The server thread's own registers, captured in this frame, which stays alive during the write.
__attribute__((noinline)) void captureServerAndWrite(MachWrite* job) {
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_capture(&state);
    job->result = writeReport(job->context->path, &job->context->writer, job->crashed, job->signal, &state,
                              &job->context->threads);
    asm volatile("" ::: "memory");
}

kernel::kern_return_t machCrashCallback(kernel::mach_port_t task, kernel::mach_port_t thread,
                                        kernel::exception_type_t exception,
                                        const kernel::mach_exception_data_type_t* codes, uint32_t codeCount,
                                        void* context) {
    auto* ctx = static_cast<CrashContext*>(context);
    // A handler that was there before us gets the first say.
    if (zvcrash_exception_port_forward(&ctx->previousMachPorts, task, thread, exception, codes, codeCount) ==
        kernel::KERN_SUCCESS)
        return kernel::KERN_SUCCESS;
    zvcrash_mapped_signal mapped{};
    if (!zvcrash_exception_to_signal(exception, codes, codeCount, kernel::kHostCpuType, &mapped))
        return kernel::KERN_FAILURE;
    zvcrash_log_bsd_signal_info bsd{mapped.signo, mapped.code, mapped.address};
    zvcrash_log_mach_signal_info mach{exception, reinterpret_cast<const uint64_t*>(codes), codeCount};
    zvcrash_log_signal_info signal{&bsd, &mach};
    zvcrash_async_thread_list_suspend(&ctx->threads, kThreadStopTimeoutMs);
    MachWrite job{ctx, static_cast<kernel::thread_t>(thread), &signal, ZVCRASH_ESUCCESS};
    captureServerAndWrite(&job);
    auto callback = gPostCrashCallback.load();
    if (job.result == ZVCRASH_ESUCCESS && callback) {
        siginfo_t info;
        std::memset(&info, 0, sizeof info);
        info.si_signo = mapped.signo;
        info.si_code = mapped.code;
        info.si_addr = reinterpret_cast<void*>(static_cast<uintptr_t>(mapped.address));
        ucontext_t uap;
        std::memset(&uap, 0, sizeof uap);
        callback(&info, &uap, gCallbackContext.load());
    }
    zvcrash_async_thread_list_resume(&ctx->threads);
    return kernel::KERN_FAILURE;
}

foundation::Result<std::shared_ptr<ZVCrashMachExceptionServer>>
enableMachExceptionServer(std::shared_ptr<ZVCrashMachExceptionPortSet>* previousPortSet,
                          ZVCrashMachExceptionServerCallback callback, void* context) {
    kernel::exception_mask_t mask = kernel::EXC_MASK_BAD_ACCESS | kernel::EXC_MASK_BAD_INSTRUCTION |
                                    kernel::EXC_MASK_ARITHMETIC | kernel::EXC_MASK_SOFTWARE |
                                    kernel::EXC_MASK_BREAKPOINT;
    if (auto host = ZVCrashHostInfo::currentHostInfo(); host && host->darwinVersion().major >= 13)
        mask |= kernel::EXC_MASK_GUARD;
    foundation::Error error;
    auto server = ZVCrashMachExceptionServer::initWithCallBack(callback, context);
    if (!server.ok()) {
        zvcrash_populate_error(&error, ZVCrashReporterErrorOperatingSystem,
                               "Failed to instantiate the Mach exception server.", &server.error());
        return error;
    }
    foundation::Error underlying;
    auto port = server.value()->exceptionPortWithMask(mask, &underlying);
    if (!port) {
        zvcrash_populate_error(&error, ZVCrashReporterErrorOperatingSystem,
                               "Failed to instantiate the Mach exception port.", &underlying);
        return error;
    }
    if (!port->registerForTask(kernel::mach_task_self(), previousPortSet, &underlying)) {
        zvcrash_populate_error(&error, ZVCrashReporterErrorOperatingSystem,
                               "Failed to set the target task's mach exception ports.", &underlying);
        return error;
    }
    return server;
}

void uncaughtExceptionHandler(const kernel::PlatformException& exception) {
    if (gUncaughtLatch.exchange(1) != 0) return;
    zvcrash_log_writer_set_exception(&gCrashContext.writer, exception.name, &exception.reason,
                                     &exception.callStackReturnAddresses);
    std::abort();
}

struct LiveWrite {
    zvcrash_log_writer_t* writer;
    zvcrash_async_file_t* file;
    kernel::thread_t thread;
    const zvcrash_log_signal_info* signal;
    zvcrash_async_thread_list* threads;
    zvcrash_error_t result;
};

// Captures the calling thread's registers in this frame, which stays alive while the writer walks
// from it.
__attribute__((noinline)) void captureAndWrite(LiveWrite* job) {
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_capture(&state);
    job->result = zvcrash_log_writer_write(job->writer, job->thread, ZVCrashReporter::sharedImageList(), job->file,
                                           job->signal, &state, job->threads);
    asm volatile("" ::: "memory");  // keep this frame, and the captured one, until the write is done
}

}  // namespace

// --- Configuration -----------------------------------------------------------------------------

std::shared_ptr<ZVCrashReporterConfig> ZVCrashReporterConfig::defaultConfiguration() {
    return initWithSignalHandlerType(ZVCrashSignalHandlerTypeBSD, 0, true, std::nullopt);
}

std::shared_ptr<ZVCrashReporterConfig> ZVCrashReporterConfig::initWithBasePath(std::optional<std::string> basePath) {
    return initWithSignalHandlerType(ZVCrashSignalHandlerTypeBSD, 0, true, std::move(basePath));
}

std::shared_ptr<ZVCrashReporterConfig>
ZVCrashReporterConfig::initWithSignalHandlerType(uint32_t signalHandlerType, uint32_t symbolicationStrategy,
                                                 bool shouldRegisterUncaughtExceptionHandler,
                                                 std::optional<std::string> basePath) {
    auto config = std::shared_ptr<ZVCrashReporterConfig>(new ZVCrashReporterConfig());
    config->signalHandlerType_ = signalHandlerType;
    config->symbolicationStrategy_ = symbolicationStrategy;
    config->shouldRegisterUncaughtExceptionHandler_ = shouldRegisterUncaughtExceptionHandler;
    config->basePath_ = std::move(basePath);
    return config;
}

// --- Reporter ----------------------------------------------------------------------------------

zvcrash_async_image_list* ZVCrashReporter::sharedImageList() {
    static std::once_flag once;
    std::call_once(once, [] {
        zvcrash_async_image_list_init(&gImageList, kernel::task_self());
        zvcrash_async_image_list_defer_indexing(&gImageList);
        std::atexit(&joinIndexer);
        ::pthread_atfork(&joinIndexerForFork, &releaseIndexerInParent, &releaseIndexerInChild);
        kernel::dyld_register_func_for_add_image(&imageAdded);
        kernel::dyld_register_func_for_remove_image(&imageRemoved);
    });
    return &gImageList;
}

foundation::Result<std::shared_ptr<ZVCrashReporter>>
ZVCrashReporter::initWithConfiguration(std::shared_ptr<ZVCrashReporterConfig> configuration) {
    auto& bundle = foundation::Bundle::main();
    auto text = [&](std::string_view key) -> std::optional<std::string> {
        foundation::Value value = bundle.objectForInfoDictionaryKey(key);
        if (!value.isString()) return std::nullopt;
        return value.asString();
    };
    return initWithBundle(ZVCrashReporterBundleInfo{bundle.bundleIdentifier(), text("CFBundleVersion"),
                                                    text("CFBundleShortVersionString")},
                          std::move(configuration));
}

foundation::Result<std::shared_ptr<ZVCrashReporter>>
ZVCrashReporter::initWithBundle(const ZVCrashReporterBundleInfo& bundle,
                                std::shared_ptr<ZVCrashReporterConfig> configuration) {
    std::string identifier;
    if (bundle.identifier) {
        identifier = *bundle.identifier;
    } else {
        const char* name = program_invocation_short_name;
        if (!name || !*name) return exceptionError("Can not determine process identifier or process name");
        zvcrash_log("[ZVCrashReporter] Warning -- bundle identifier, using process name %s", name);
        identifier = name;
    }
    std::string version;
    if (bundle.version) {
        version = *bundle.version;
    } else {
        zvcrash_log("[ZVCrashReporter] Warning -- bundle version unavailable");
    }
    return initWithApplicationIdentifier(identifier, version, bundle.shortVersionString, std::move(configuration));
}

std::shared_ptr<ZVCrashReporter>
ZVCrashReporter::initWithApplicationIdentifier(const std::string& applicationIdentifier, const std::string& appVersion,
                                               std::optional<std::string> appMarketingVersion,
                                               std::shared_ptr<ZVCrashReporterConfig> configuration) {
    sharedImageList();
    auto reporter = std::shared_ptr<ZVCrashReporter>(new ZVCrashReporter());
    reporter->config_ = configuration ? std::move(configuration) : ZVCrashReporterConfig::defaultConfiguration();
    reporter->applicationIdentifier_ = applicationIdentifier;
    reporter->applicationVersion_ = appVersion;
    reporter->applicationMarketingVersion_ = std::move(appMarketingVersion);
    std::string name = applicationIdentifier;
    for (char& c : name)
        if (c == '/') c = '_';
    const std::string base = reporter->config_->basePath() ? *reporter->config_->basePath() : cachesDirectory();
    reporter->crashReportDirectory_ = (std::filesystem::path(base) / "com.zivo.crashreporter.data" / name).string();
    return reporter;
}

std::string ZVCrashReporter::crashReportPath() const {
    return (std::filesystem::path(crashReportDirectory_) / "live_report.zvcrash").string();
}

std::string ZVCrashReporter::queuedCrashReportDirectory() const {
    return (std::filesystem::path(crashReportDirectory_) / "queued_reports").string();
}

foundation::Status ZVCrashReporter::setCrashCallbacks(const ZVCrashReporterCallbacks* callbacks) {
    if (enabled_) return exceptionError("The crash reporter has already been enabled");
    // Version 0 is the only layout there is; any other is refused rather than misread.
    if (callbacks && callbacks->version != 0) return exceptionError("Unsupported crash callbacks version");
    gCallbackContext.store(callbacks ? callbacks->context : nullptr);
    gPostCrashCallback.store(callbacks ? callbacks->handleSignal : nullptr);
    return {};
}

void ZVCrashReporter::setCustomData(std::optional<std::vector<uint8_t>> data) {
    customData_ = std::move(data);
    zvcrash_log_writer_set_custom_data(&gCrashContext.writer, customData_ ? &*customData_ : nullptr);
}

bool ZVCrashReporter::enableCrashReporter() { return enableCrashReporterAndReturnError(nullptr); }

bool ZVCrashReporter::enableCrashReporterAndReturnError(foundation::Error* error) {
    {
        std::lock_guard guard(gEnableLock);
        if (gEnabledOnce) {
            zvcrash_populate_error(error, ZVCrashReporterErrorResourceBusy,
                                   "A ZVCrashReporter instance has already been enabled");
            return false;
        }
        gEnabledOnce = true;
    }
    for (const std::string& dir : {crashReportDirectory_, queuedCrashReportDirectory()}) {
        std::error_code ec;
        if (!std::filesystem::exists(dir, ec)) {
            std::filesystem::create_directories(dir, ec);
            if (!ec) std::filesystem::permissions(dir, std::filesystem::perms(0755), ec);
            if (ec) {
                if (error) *error = foundation::Error::withDescription("NSPOSIXErrorDomain", ec.value(), ec.message());
                return false;
            }
        }
    }
    gCrashContext.path = ::strdup(crashReportPath().c_str());
    const std::string* marketing = applicationMarketingVersion_ ? &*applicationMarketingVersion_ : nullptr;
    zvcrash_log_writer_init(&gCrashContext.writer, applicationIdentifier_, applicationVersion_, marketing,
                            config_->symbolicationStrategy() & 3, false);
    if (customData_) zvcrash_log_writer_set_custom_data(&gCrashContext.writer, &*customData_);
    kernel::thread_stop_install();

    auto* handler = ZVCrashSignalHandler::sharedHandler();
    // The handler's alternate stack serves the registering thread; the pool's workers get their own,
    // so a stack overflow in a block is reported too.
    dispatch::setWorkerAltStackSize(handler->sigstk().ss_size);
    switch (config_->signalHandlerType()) {
        case ZVCrashSignalHandlerTypeMach: {
            if (!handler->registerHandlerForSignal(SIGABRT, &bsdCrashCallback, &gCrashContext, error)) return false;
            auto server = enableMachExceptionServer(&gPreviousMachPorts, &machCrashCallback, &gCrashContext);
            if (!server.ok()) {
                if (error) *error = server.error();
                return false;
            }
            gMachServer = server.value();
            gCrashContext.previousMachPorts = gPreviousMachPorts ? gPreviousMachPorts->asyncSafeRepresentation()
                                                                 : zvcrash_mach_exception_port_state_set{};
            break;
        }
        case ZVCrashSignalHandlerTypeBSD:
            for (int signo : kFatalSignals) {
                if (!handler->registerHandlerForSignal(signo, &bsdCrashCallback, &gCrashContext, error)) return false;
            }
            break;
        default:
            break;
    }
    if (config_->shouldRegisterUncaughtExceptionHandler())
        kernel::setUncaughtExceptionHandler(&uncaughtExceptionHandler);
    enabled_ = true;
    return true;
}

bool ZVCrashReporter::hasPendingCrashReport() const {
    std::error_code ec;
    return std::filesystem::exists(crashReportPath(), ec);
}

foundation::Result<std::vector<uint8_t>> ZVCrashReporter::loadPendingCrashReportDataAndReturnError() const {
    std::ifstream in(crashReportPath(), std::ios::binary);
    if (!in)
        return foundation::Error::withDescription("NSPOSIXErrorDomain", errno ? errno : ENOENT,
                                                  "The file couldn't be opened.");
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return foundation::Error::withDescription("NSPOSIXErrorDomain", EIO, "The file couldn't be read.");
    return bytes;
}

foundation::Status ZVCrashReporter::purgePendingCrashReportAndReturnError() const {
    std::error_code ec;
    if (!std::filesystem::remove(crashReportPath(), ec)) {
        return foundation::Error::withDescription("NSPOSIXErrorDomain", ec ? ec.value() : ENOENT,
                                                  ec ? ec.message() : "No such file or directory");
    }
    return {};
}

foundation::Result<std::string> ZVCrashReporter::setAsidePendingCrashReport() const {
    auto aside = foundation::files::setAsideKeepingEarlier(crashReportPath());
    if (!aside.ok()) return aside.error();
    return aside.value().string();
}

void ZVCrashReporter::waitForImageIndexes() { joinIndexer(); }

foundation::Result<std::vector<uint8_t>> ZVCrashReporter::generateLiveReport() {
    return generateLiveReportWithThread(kernel::thread_self(), nullptr);
}

foundation::Result<std::vector<uint8_t>>
ZVCrashReporter::generateLiveReportWithException(const kernel::PlatformException* exception) {
    return generateLiveReportWithThread(kernel::thread_self(), exception);
}

foundation::Result<std::vector<uint8_t>>
ZVCrashReporter::generateLiveReportWithThread(kernel::thread_t thread, const kernel::PlatformException* exception) {
    sharedImageList();
    waitForImageIndexes();
    std::lock_guard guard(gLiveReportLock);
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/live_crash_report.XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd < 0) {
        foundation::Error error;
        zvcrash_populate_posix_error(&error, errno, "Failed to create temporary path");
        return error;
    }
    kernel::thread_stop_install();
    zvcrash_log_writer_t writer;
    const std::string* marketing = applicationMarketingVersion_ ? &*applicationMarketingVersion_ : nullptr;
    zvcrash_log_writer_init(&writer, applicationIdentifier_, applicationVersion_, marketing,
                            config_->symbolicationStrategy() & 3, true);
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, fd, ZVCRASH_REPORT_LIMIT);
    if (customData_) zvcrash_log_writer_set_custom_data(&writer, &*customData_);
    if (exception)
        zvcrash_log_writer_set_exception(&writer, exception->name, &exception->reason,
                                         &exception->callStackReturnAddresses);

    zvcrash_log_bsd_signal_info bsd{SIGTRAP, TRAP_TRACE,
                                    static_cast<uint64_t>(reinterpret_cast<uintptr_t>(__builtin_return_address(0)))};
    zvcrash_log_signal_info signal{&bsd, nullptr};
    auto threads = std::make_unique<zvcrash_async_thread_list>();
    zvcrash_async_thread_list_suspend(threads.get(), kThreadStopTimeoutMs);
    zvcrash_error_t err;
    if (thread == kernel::thread_self()) {
        LiveWrite job{&writer, &file, thread, &signal, threads.get(), ZVCRASH_ESUCCESS};
        captureAndWrite(&job);
        err = job.result;
    } else {
        err = zvcrash_log_writer_write(&writer, thread, sharedImageList(), &file, &signal, nullptr, threads.get());
    }
    zvcrash_async_thread_list_resume(threads.get());
    zvcrash_log_writer_close(&writer);
    const bool closed = zvcrash_async_file_close(&file);

    foundation::Result<std::vector<uint8_t>> result = std::vector<uint8_t>{};
    if (err != ZVCRASH_ESUCCESS || !closed) {
        zvcrash_log("[ZVCrashReporter] Write failed with error %s",
                    zvcrash_async_strerror(err != ZVCRASH_ESUCCESS ? err : ZVCRASH_OUTPUT_ERR));
        foundation::Error error;
        zvcrash_populate_error(&error, ZVCrashReporterErrorUnknown, "Failed to write the crash report to disk");
        result = error;
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            foundation::Error error;
            zvcrash_populate_error(&error, ZVCrashReporterErrorUnknown, "Unable to open live crash report for reading");
            result = error;
        } else {
            result = std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
    }
    zvcrash_log_writer_free(&writer);
    if (::unlink(path.c_str()) != 0) {
        zvcrash_log("[ZVCrashReporter] Failure occured deleting live crash report: %s", std::strerror(errno));
    }
    return result;
}
