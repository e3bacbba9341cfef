#include "platform/window/input_script.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/toolkit/responder.h"
#include "platform/toolkit/testing/input_script.h"
#include "platform/window/errors.h"
#include "platform/window/sdl_library.h"

namespace windowing {

namespace {

Uint16 sdlModifiers(unsigned modifiers) {
    Uint16 out = KMOD_NONE;
    if (modifiers & toolkit::kModifierControl) out |= KMOD_LCTRL;
    if (modifiers & toolkit::kModifierCommand) out |= KMOD_LGUI;
    if (modifiers & toolkit::kModifierAlternate) out |= KMOD_LALT;
    if (modifiers & toolkit::kModifierShift) out |= KMOD_LSHIFT;
    return out;
}

// A left mouse button going down or up at a point of the window, in pixels.
SDL_Event mouseButton(Uint32 type, toolkit::Point p, double pointsToPixels, Uint32 windowID) {
    SDL_Event e{};
    e.button.type = type;
    e.button.windowID = windowID;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = static_cast<Sint32>(std::lround(p.x * pointsToPixels));
    e.button.y = static_cast<Sint32>(std::lround(p.y * pointsToPixels));
    return e;
}

}  // namespace

foundation::Result<std::vector<InputStep>> parseInputScript(const std::string& text) {
    auto parsed = toolkit::testing::parseInputScript(text);
    if (!parsed.ok()) return windowError(kWindowScriptError, parsed.error().localizedDescription());
    std::vector<InputStep> steps;
    const SdlLibrary* sdl = nullptr;  // loaded for the first key name
    for (const toolkit::testing::InputStep& s : *parsed) {
        InputStep step{.kind = static_cast<InputStep::Kind>(s.kind),
                       .point = s.point,
                       .modifiers = sdlModifiers(s.modifiers),
                       .text = s.text,
                       .frames = s.frames,
                       .line = s.line,
                       .to = s.to,
                       .steps = s.steps,
                       .fingers = s.fingers};
        if (s.kind == toolkit::testing::InputStep::Key) {
            if (!sdl) {
                auto library = sdlLibrary();
                if (!library) return windowError(kWindowScriptError, library.error().localizedDescription());
                sdl = *library;
            }
            step.key = sdl->GetKeyFromName(s.key.c_str());
            if (step.key == SDLK_UNKNOWN)
                return windowError(
                    kWindowScriptError,
                    "line " + std::to_string(s.line) +
                        ": \"press-key\" takes one key name, optionally after ctrl+, cmd+, alt+ or shift+");
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

std::vector<SDL_Event> eventsForStep(const InputStep& step, double pointsToPixels, Uint32 windowID,
                                     toolkit::Point& lastPoint) {
    if (step.kind == InputStep::Drag || step.kind == InputStep::Swipe) {
        // The window's size matters to fingers only; a swipe pushed at once is measured by the
        // window it is played into (see eventFramesForStep).
        std::vector<SDL_Event> events;
        const double points = pointsToPixels > 0 ? 1 / pointsToPixels : 1;
        int w = 0, h = 0;
        if (auto sdl = sdlLibrary())
            if (SDL_Window* window = (*sdl)->GetWindowFromID(windowID)) (*sdl)->GetWindowSize(window, &w, &h);
        for (auto& frame : eventFramesForStep(step, pointsToPixels, windowID, lastPoint, {w * points, h * points}))
            events.insert(events.end(), frame.begin(), frame.end());
        return events;
    }
    std::vector<SDL_Event> events;
    auto pixel = [&](double v) { return static_cast<Sint32>(std::lround(v * pointsToPixels)); };
    auto button = [&](Uint32 type, toolkit::Point p) {
        events.push_back(mouseButton(type, p, pointsToPixels, windowID));
    };
    auto key = [&](Uint32 type) {
        SDL_Event e{};
        e.key.type = type;
        e.key.windowID = windowID;
        e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.sym = step.key;
        // The physical key, where the library is loaded (it is whenever there is a window to play into).
        if (auto sdl = sdlLibrary()) e.key.keysym.scancode = (*sdl)->GetScancodeFromKey(step.key);
        e.key.keysym.mod = step.modifiers;
        events.push_back(e);
    };
    switch (step.kind) {
        case InputStep::Click:
        case InputStep::ClickOn:
            button(SDL_MOUSEBUTTONDOWN, step.point);
            button(SDL_MOUSEBUTTONUP, step.point);
            lastPoint = step.point;
            break;
        case InputStep::Press:
            button(SDL_MOUSEBUTTONDOWN, step.point);
            lastPoint = step.point;
            break;
        case InputStep::Release: {
            SDL_Event move{};
            move.motion.type = SDL_MOUSEMOTION;
            move.motion.windowID = windowID;
            move.motion.state = SDL_BUTTON_LMASK;
            move.motion.x = pixel(step.point.x);
            move.motion.y = pixel(step.point.y);
            move.motion.xrel = move.motion.x - pixel(lastPoint.x);
            move.motion.yrel = move.motion.y - pixel(lastPoint.y);
            events.push_back(move);
            button(SDL_MOUSEBUTTONUP, step.point);
            lastPoint = step.point;
            break;
        }
        case InputStep::Wheel: {
            SDL_Event e{};
            e.wheel.type = SDL_MOUSEWHEEL;
            e.wheel.windowID = windowID;
            e.wheel.x = static_cast<Sint32>(step.point.x);
            e.wheel.y = static_cast<Sint32>(step.point.y);
            e.wheel.preciseX = static_cast<float>(step.point.x);
            e.wheel.preciseY = static_cast<float>(step.point.y);
            e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
            e.wheel.mouseX = pixel(lastPoint.x);
            e.wheel.mouseY = pixel(lastPoint.y);
            events.push_back(e);
            break;
        }
        case InputStep::Key:
            key(SDL_KEYDOWN);
            key(SDL_KEYUP);
            break;
        case InputStep::Text: {
            // A text event holds at most 31 bytes; chunks end on whole characters.
            const std::string& t = step.text;
            size_t at = 0;
            while (at < t.size()) {
                size_t end = std::min(t.size(), at + SDL_TEXTINPUTEVENT_TEXT_SIZE - 1);
                while (end < t.size() && end > at && (static_cast<unsigned char>(t[end]) & 0xC0) == 0x80) --end;
                if (end == at) end = std::min(t.size(), at + SDL_TEXTINPUTEVENT_TEXT_SIZE - 1);
                SDL_Event e{};
                e.text.type = SDL_TEXTINPUT;
                e.text.windowID = windowID;
                std::memcpy(e.text.text, t.data() + at, end - at);
                events.push_back(e);
                at = end;
            }
            break;
        }
        case InputStep::Close: {
            SDL_Event e{};
            e.type = SDL_QUIT;
            events.push_back(e);
            break;
        }
        case InputStep::Frames:
        case InputStep::WaitFor:
        case InputStep::WaitGone:
        case InputStep::WaitIdle:
        case InputStep::Drag:
        case InputStep::Swipe:
            break;
    }
    return events;
}

std::vector<std::vector<SDL_Event>> eventFramesForStep(const InputStep& step, double pointsToPixels, Uint32 windowID,
                                                       toolkit::Point& lastPoint, toolkit::Size windowSize) {
    if (step.kind != InputStep::Drag && step.kind != InputStep::Swipe)
        return {eventsForStep(step, pointsToPixels, windowID, lastPoint)};
    std::vector<std::vector<SDL_Event>> frames;
    auto pixel = [&](double v) { return static_cast<Sint32>(std::lround(v * pointsToPixels)); };
    const int steps = std::max(1, step.steps);
    if (step.kind == InputStep::Drag) {
        auto button = [&](Uint32 type, toolkit::Point p) { return mouseButton(type, p, pointsToPixels, windowID); };
        frames.push_back({button(SDL_MOUSEBUTTONDOWN, step.point)});
        toolkit::Point previous = step.point;
        for (int i = 1; i <= steps; ++i) {
            const toolkit::Point p = toolkit::testing::pointAlong(step.point, step.to, i, steps);
            SDL_Event move{};
            move.motion.type = SDL_MOUSEMOTION;
            move.motion.windowID = windowID;
            move.motion.state = SDL_BUTTON_LMASK;
            move.motion.x = pixel(p.x);
            move.motion.y = pixel(p.y);
            move.motion.xrel = move.motion.x - pixel(previous.x);
            move.motion.yrel = move.motion.y - pixel(previous.y);
            frames.push_back({move});
            previous = p;
        }
        frames.push_back({button(SDL_MOUSEBUTTONUP, step.to)});
        lastPoint = step.to;
        return frames;
    }
    // The touch screen's fingers, placed as fractions of the window.
    const double w = windowSize.width > 0 ? windowSize.width : 1, h = windowSize.height > 0 ? windowSize.height : 1;
    auto fingers = [&](Uint32 type, toolkit::Point centre, toolkit::Point previous) {
        std::vector<SDL_Event> events;
        const auto at = toolkit::testing::fingerPoints(centre, step.fingers, step.point, step.to);
        const auto before = toolkit::testing::fingerPoints(previous, step.fingers, step.point, step.to);
        for (size_t f = 0; f < at.size(); ++f) {
            SDL_Event e{};
            e.tfinger.type = type;
            e.tfinger.touchId = kScriptTouchDevice;
            e.tfinger.fingerId = static_cast<SDL_FingerID>(f);
            e.tfinger.x = static_cast<float>(at[f].x / w);
            e.tfinger.y = static_cast<float>(at[f].y / h);
            e.tfinger.dx = static_cast<float>((at[f].x - before[f].x) / w);
            e.tfinger.dy = static_cast<float>((at[f].y - before[f].y) / h);
            e.tfinger.pressure = type == SDL_FINGERUP ? 0 : 1;
            e.tfinger.windowID = windowID;
            events.push_back(e);
        }
        return events;
    };
    frames.push_back(fingers(SDL_FINGERDOWN, step.point, step.point));
    toolkit::Point previous = step.point;
    for (int i = 1; i <= steps; ++i) {
        const toolkit::Point p = toolkit::testing::pointAlong(step.point, step.to, i, steps);
        frames.push_back(fingers(SDL_FINGERMOTION, p, previous));
        previous = p;
    }
    frames.push_back(fingers(SDL_FINGERUP, step.to, step.to));
    lastPoint = step.to;
    return frames;
}

}  // namespace windowing
