// Kept out of the batched builds: the window system's headers define short macros (Status, Bool,
// None) that the rest of the code uses as names.
#include "platform/window/display_connection.h"

#include <SDL2/SDL_syswm.h>

#include <cstring>

namespace windowing {

std::optional<int> displayConnectionDescriptor(const SdlLibrary& sdl, SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || sdl.GetWindowWMInfo(window, &info) != SDL_TRUE) return std::nullopt;
    if (info.subsystem == SDL_SYSWM_X11 && info.info.x11.display) return ConnectionNumber(info.info.x11.display);
#else
    (void)sdl;
    (void)window;
#endif
    return std::nullopt;
}

bool driverTakesOutsideInput(const SdlLibrary& sdl) {
    const char* driver = sdl.GetCurrentVideoDriver();
    if (!driver) return false;
    return std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0;
}

}  // namespace windowing
