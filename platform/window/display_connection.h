// The window system's connection, as the main run loop can watch it: while the window is idle the
// loop sleeps in its wait on this descriptor instead of polling SDL for input every frame.
#pragma once

#include <optional>

#include <SDL2/SDL.h>

#include "platform/window/sdl_library.h"

namespace windowing {

// The descriptor that turns readable when the window system has input for the window; nothing
// under a driver that has none to give (SDL's offscreen and dummy drivers) or one this build
// cannot read it from.
std::optional<int> displayConnectionDescriptor(const SdlLibrary& sdl, SDL_Window* window);

// Whether the window's driver gets input from outside the process at all: the offscreen and
// dummy drivers only see events the process pushes itself.
bool driverTakesOutsideInput(const SdlLibrary& sdl);

}  // namespace windowing
