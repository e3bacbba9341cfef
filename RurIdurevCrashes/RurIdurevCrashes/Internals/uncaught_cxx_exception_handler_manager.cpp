#include "RurIdurevCrashes/RurIdurevCrashes/Internals/uncaught_cxx_exception_handler_manager.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

// A spin lock: the terminate path must not depend on a mutex that a dying thread may hold.
std::atomic_flag lockFlag = ATOMIC_FLAG_INIT;
void lock();
void unlock();
struct SpinGuard {
    SpinGuard() { lock(); }
    ~SpinGuard() { unlock(); }
};

std::vector<ZIVOCrashesUncaughtCXXExceptionHandler>& handlers() {
    static auto* list = new std::vector<ZIVOCrashesUncaughtCXXExceptionHandler>;
    return *list;
}
std::atomic<bool> installed{false};
std::terminate_handler previousTerminateHandler = nullptr;

pthread_once_t keyOnce = PTHREAD_ONCE_INIT;
pthread_key_t recordKey;
void makeKey() { pthread_key_create(&recordKey, free); }

// The thrown object behind an exception handle: both C++ runtimes here keep exactly that pointer.
const void* thrownObjectOf(const std::exception_ptr& handle) {
    static_assert(sizeof(std::exception_ptr) == sizeof(void*), "exception_ptr holds one pointer");
    const void* object = nullptr;
    std::memcpy(&object, static_cast<const void*>(&handle), sizeof object);
    return object;
}

void lock() {
    while (lockFlag.test_and_set(std::memory_order_acquire)) {}
}
void unlock() { lockFlag.clear(std::memory_order_release); }

void terminateHook() {
    std::exception_ptr current = std::current_exception();
    lock();
    const std::terminate_handler previous = previousTerminateHandler;
    if (current) {
        CXXExceptionInfo info{};
        info.exception = &current;
        const std::type_info* type = abi::__cxa_current_exception_type();
        const char* name = type ? type->name() : nullptr;
        if (name && *name == '*') ++name;  // the mark of a non-unique name on some runtimes
        info.exceptionTypeName = name;
        uint64_t fallback[zivo_cxx_capture::kMaxThrowFrames] = {};
        pthread_once(&keyOnce, makeKey);
        auto* record = static_cast<zivo_cxx_capture::ThrowRecord*>(pthread_getspecific(recordKey));
        // A record left by an earlier throw, caught long ago, does not describe this exception:
        // the stack at terminate is then the better account.
        if (record && record->count > 0 && record->thrownObject == thrownObjectOf(current)) {
            info.exceptionFrames = record->frames + 1;
            info.exceptionFramesCount = record->count - 1;
        } else {
            int count = backtrace(reinterpret_cast<void**>(fallback), zivo_cxx_capture::kMaxThrowFrames);
            info.exceptionFrames = fallback + 1;
            info.exceptionFramesCount = count > 0 ? static_cast<uint32_t>(count - 1) : 0;
        }
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            info.exceptionMessage = e.what();
        } catch (const std::exception* e) {
            info.exceptionMessage = e ? e->what() : nullptr;
        } catch (const std::string& s) {
            info.exceptionMessage = s.c_str();
        } catch (const std::string* s) {
            info.exceptionMessage = s ? s->c_str() : nullptr;
        } catch (const char* s) {
            info.exceptionMessage = s;
        } catch (...) {
            info.exceptionMessage = nullptr;
        }
        // This platform has no object-runtime exceptions, so every kind reaches the handlers.
        for (auto handler : handlers()) handler(&info);
    }
    unlock();
    if (previous) {
        previous();
        return;
    }
    abort();
}

}  // namespace

bool zivo_cxx_capture::hookInstalled() { return installed.load(std::memory_order_relaxed); }

zivo_cxx_capture::ThrowRecord* zivo_cxx_capture::threadRecord(bool create) {
    pthread_once(&keyOnce, makeKey);
    auto* record = static_cast<ThrowRecord*>(pthread_getspecific(recordKey));
    if (!record && create) {
        record = static_cast<ThrowRecord*>(calloc(1, sizeof(ThrowRecord)));
        if (record && pthread_setspecific(recordKey, record) != 0) {
            free(record);
            record = nullptr;
        }
    }
    return record;
}

void ZIVOCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(
    ZIVOCrashesUncaughtCXXExceptionHandler handler) {
    pthread_once(&keyOnce, makeKey);
    zivo_cxx_capture::linkThrowHook();
    SpinGuard guard;
    if (!installed.load()) {
        previousTerminateHandler = std::set_terminate(terminateHook);
        installed.store(true);
    }
    handlers().push_back(handler);
}

void ZIVOCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(
    ZIVOCrashesUncaughtCXXExceptionHandler handler) {
    SpinGuard guard;
    auto& list = handlers();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == handler) {
            list.erase(it);
            break;
        }
    }
    if (installed.load() && list.empty()) {
        std::terminate_handler replaced = std::set_terminate(previousTerminateHandler);
        if (replaced == terminateHook) {
            installed.store(false);
            previousTerminateHandler = nullptr;
        } else {
            // Another component stacked its own handler on top of the hook: leave it in place.
            std::set_terminate(replaced);
        }
    }
}

uint64_t ZIVOCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() {
    SpinGuard guard;
    return handlers().size();
}

ZIVOCrashesCXXExceptionWrapperException::ZIVOCrashesCXXExceptionWrapperException(const CXXExceptionInfo* record)
    : info(record) {
    const char* typeName = record && record->exceptionTypeName ? record->exceptionTypeName : "";
    int status = 0;
    char* demangled = abi::__cxa_demangle(typeName, nullptr, nullptr, &status);
    name = demangled && status == 0 ? std::string(demangled) : std::string(typeName);
    free(demangled);
    reason = record && record->exceptionMessage ? record->exceptionMessage : "";
    if (record && record->exceptionFrames)
        callStackReturnAddresses.assign(record->exceptionFrames,
                                        record->exceptionFrames + record->exceptionFramesCount);
}
