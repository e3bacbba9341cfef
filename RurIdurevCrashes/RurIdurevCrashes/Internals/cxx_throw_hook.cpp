// The program's own definition of the runtime's throw entry point: records the throw site, then
// hands the throw on to the real runtime. This file must not contain a throw expression (the
// compiler's implicit declaration of the entry point would clash with this one).
#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>

#include <cstdlib>
#include <cstring>

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/uncaught_cxx_exception_handler_manager.h"

namespace {

using CxaThrow = void (*)(void*, void*, void (*)(void*));

pthread_once_t lookupOnce = PTHREAD_ONCE_INIT;
CxaThrow realCxaThrow = nullptr;
const void* objcExceptionVtable = nullptr;

void lookUp() {
    realCxaThrow = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
    objcExceptionVtable = dlsym(RTLD_DEFAULT, "objc_ehtype_vtable");
}

}  // namespace

void zivo_cxx_capture::linkThrowHook() { pthread_once(&lookupOnce, lookUp); }

extern "C" [[noreturn]] void __cxa_throw(void* thrownException, void* typeInfo, void (*destructor)(void*)) {
    pthread_once(&lookupOnce, lookUp);
    bool objectRuntime = false;
    if (typeInfo && objcExceptionVtable) {
        const void* vtable = *static_cast<const void* const*>(typeInfo);
        objectRuntime = vtable == static_cast<const char*>(objcExceptionVtable) + 2 * sizeof(void*);
    }
    if (!objectRuntime && zivo_cxx_capture::hookInstalled()) {
        if (auto* record = zivo_cxx_capture::threadRecord(true)) {
            int count = backtrace(reinterpret_cast<void**>(record->frames), zivo_cxx_capture::kMaxThrowFrames);
            static_assert(sizeof(void*) == sizeof(uint64_t), "frames are stored as pointers");
            record->count = count > 0 ? static_cast<uint32_t>(count) : 0;
            record->thrownObject = thrownException;
        }
    }
    if (!realCxaThrow) abort();
    realCxaThrow(thrownException, typeInfo, destructor);
    abort();
}
