#include "platform/window/sdl_library.h"

#include <dlfcn.h>

#include <string>

#include "platform/window/errors.h"

namespace windowing {
namespace {

// The library's name by its ABI version, as the package installs it for running programs.
constexpr const char* kSdlSoname = "libSDL2-2.0.so.0";

struct Loaded {
    SdlLibrary library;
    std::string failure;  // empty once every call was found
};

const Loaded& loaded() {
    static const Loaded* once = [] {
        auto* l = new Loaded();  // kept to the end: SDL may still be called from static destructors
        void* handle = ::dlopen(kSdlSoname, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            l->failure = std::string("cannot load ") + kSdlSoname + (why ? std::string(": ") + why : std::string());
            return l;
        }
#define HX_SDL_LOOKUP(name)                                                                                            \
    if (l->failure.empty()) {                                                                                          \
        l->library.name = reinterpret_cast<decltype(l->library.name)>(::dlsym(handle, "SDL_" #name));                  \
        if (!l->library.name) l->failure = std::string(kSdlSoname) + " has no SDL_" #name;                             \
    }
        HX_SDL_FUNCTIONS(HX_SDL_LOOKUP)
#undef HX_SDL_LOOKUP
        // The handle stays open: the functions above must stay valid for the process's life.
        return l;
    }();
    return *once;
}

}  // namespace

foundation::Result<const SdlLibrary*> sdlLibrary() {
    const Loaded& l = loaded();
    if (!l.failure.empty()) return windowError(kWindowDisplayError, l.failure);
    return &l.library;
}

}  // namespace windowing
