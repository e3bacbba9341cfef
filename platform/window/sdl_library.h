// The SDL library, opened when a window is first wanted rather than when the program starts: a
// run without a window (headless, tests) then never maps SDL and the audio, display-server and
// codec libraries it brings along. The types and constants still come from SDL's headers.
#pragma once

#include <SDL2/SDL.h>

#include "platform/foundation/error.h"

// SDL_syswm.h declares this together with the window systems' own headers, which only
// display_connection.cpp includes.
struct SDL_SysWMinfo;
extern "C" DECLSPEC SDL_bool SDLCALL SDL_GetWindowWMInfo(SDL_Window* window, SDL_SysWMinfo* info);

namespace windowing {

// Every SDL call the window front end and the audio output make.
#define HX_SDL_FUNCTIONS(X)                                                                                            \
    X(ClearQueuedAudio)                                                                                                \
    X(CloseAudioDevice)                                                                                                \
    X(GetCurrentAudioDriver)                                                                                           \
    X(GetQueuedAudioSize)                                                                                              \
    X(OpenAudioDevice)                                                                                                 \
    X(PauseAudioDevice)                                                                                                \
    X(QueueAudio)                                                                                                      \
    X(CreateRenderer)                                                                                                  \
    X(CreateTexture)                                                                                                   \
    X(CreateWindow)                                                                                                    \
    X(DestroyRenderer)                                                                                                 \
    X(DestroyTexture)                                                                                                  \
    X(DestroyWindow)                                                                                                   \
    X(free)                                                                                                            \
    X(GetDisplayUsableBounds)                                                                                          \
    X(GetCurrentVideoDriver)                                                                                           \
    X(GetError)                                                                                                        \
    X(GetKeyFromName)                                                                                                  \
    X(GetRendererOutputSize)                                                                                           \
    X(GetScancodeFromKey)                                                                                              \
    X(GetWindowDisplayIndex)                                                                                           \
    X(GetWindowFromID)                                                                                                 \
    X(GetWindowID)                                                                                                     \
    X(GetWindowSize)                                                                                                   \
    X(GetWindowWMInfo)                                                                                                 \
    X(HasEvents)                                                                                                       \
    X(InitSubSystem)                                                                                                   \
    X(PollEvent)                                                                                                       \
    X(PushEvent)                                                                                                       \
    X(Quit)                                                                                                            \
    X(RenderClear)                                                                                                     \
    X(RenderCopy)                                                                                                      \
    X(RenderPresent)                                                                                                   \
    X(RenderReadPixels)                                                                                                \
    X(SetHint)                                                                                                         \
    X(SetRenderDrawColor)                                                                                              \
    X(SetTextureBlendMode)                                                                                             \
    X(SetWindowSize)                                                                                                   \
    X(UpdateTexture)

struct SdlLibrary {
#define HX_SDL_MEMBER(name) decltype(&::SDL_##name) name = nullptr;
    HX_SDL_FUNCTIONS(HX_SDL_MEMBER)
#undef HX_SDL_MEMBER
};

// The library, opened once (and kept for the life of the process); a display error naming what
// is missing when the machine has no SDL library or one without these calls. Thread-safe.
foundation::Result<const SdlLibrary*> sdlLibrary();

}  // namespace windowing
