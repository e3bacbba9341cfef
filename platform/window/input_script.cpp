#include "platform/window/input_script.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/foundation/strings.h"
#include "platform/window/errors.h"

namespace windowing {

namespace {

// Points far outside any screen are a mistake in the script, not a place to click.
constexpr double kMaxCoordinate = 100000;
constexpr int kMaxFrames = 600;

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool parseNumber(const std::string& word, double& out) {
    const char* end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(word.data(), end, out);
    return ec == std::errc() && ptr == end && std::isfinite(out) && std::fabs(out) <= kMaxCoordinate;
}

bool parseKey(const std::string& spec, SDL_Keycode& key, Uint16& modifiers) {
    std::string name = spec;
    modifiers = KMOD_NONE;
    // "ctrl+shift+a"; a lone "+" is the plus key.
    for (size_t plus; name.size() > 1 && (plus = name.find('+')) != std::string::npos && plus > 0;) {
        const std::string mod = foundation::lowercase(name.substr(0, plus));
        if (mod == "ctrl")
            modifiers |= KMOD_LCTRL;
        else if (mod == "alt")
            modifiers |= KMOD_LALT;
        else if (mod == "shift")
            modifiers |= KMOD_LSHIFT;
        else
            return false;
        name = name.substr(plus + 1);
    }
    key = SDL_GetKeyFromName(name.c_str());
    return key != SDLK_UNKNOWN;
}

}  // namespace

foundation::Result<std::vector<InputStep>> parseInputScript(const std::string& text) {
    std::vector<InputStep> steps;
    int number = 0;
    for (std::string line : foundation::split(text, "\n")) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto fail = [&](const std::string& why) {
            return windowError(kWindowScriptError, "line " + std::to_string(number) + ": " + why);
        };
        const auto w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        InputStep step;
        step.line = number;
        const std::string& verb = w[0];
        if (verb == "click" || verb == "press" || verb == "release" || verb == "wheel") {
            step.kind = verb == "click"   ? InputStep::Click
                        : verb == "press" ? InputStep::Press
                        : verb == "wheel" ? InputStep::Wheel
                                          : InputStep::Release;
            if (w.size() != 3 || !parseNumber(w[1], step.point.x) || !parseNumber(w[2], step.point.y))
                return fail("\"" + verb + "\" takes two numbers");
        } else if (verb == "key") {
            step.kind = InputStep::Key;
            if (w.size() != 2 || !parseKey(w[1], step.key, step.modifiers))
                return fail("\"key\" takes one key name, optionally after ctrl+, alt+ or shift+");
        } else if (verb == "text" || verb == "click-on" || verb == "wait-for" || verb == "wait-gone") {
            step.kind = verb == "text"       ? InputStep::Text
                        : verb == "click-on" ? InputStep::ClickOn
                        : verb == "wait-for" ? InputStep::WaitFor
                                             : InputStep::WaitGone;
            // Everything after the one separating space, spaces included.
            const size_t at = line.find(verb) + verb.size();
            step.text = at < line.size() ? line.substr(at + 1) : std::string();
            if (step.text.empty())
                return fail("\"" + verb + "\" needs " + (verb == "text" ? "something to type" : "a label"));
        } else if (verb == "frames") {
            step.kind = InputStep::Frames;
            double n = 0;
            if (w.size() != 2 || !parseNumber(w[1], n) || n != std::floor(n) || n < 1 || n > kMaxFrames)
                return fail("\"frames\" takes a whole number from 1 to " + std::to_string(kMaxFrames));
            step.frames = static_cast<int>(n);
        } else if (verb == "close" || verb == "wait-idle") {
            if (w.size() != 1) return fail("\"" + verb + "\" takes nothing");
            step.kind = verb == "close" ? InputStep::Close : InputStep::WaitIdle;
        } else {
            return fail("unknown step \"" + verb + "\"");
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

std::vector<SDL_Event> eventsForStep(const InputStep& step, double pointsToPixels, Uint32 windowID,
                                     toolkit::Point& lastPoint) {
    std::vector<SDL_Event> events;
    auto pixel = [&](double v) { return static_cast<Sint32>(std::lround(v * pointsToPixels)); };
    auto button = [&](Uint32 type, toolkit::Point p) {
        SDL_Event e{};
        e.button.type = type;
        e.button.windowID = windowID;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.button.clicks = 1;
        e.button.x = pixel(p.x);
        e.button.y = pixel(p.y);
        events.push_back(e);
    };
    auto key = [&](Uint32 type) {
        SDL_Event e{};
        e.key.type = type;
        e.key.windowID = windowID;
        e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.sym = step.key;
        e.key.keysym.scancode = SDL_GetScancodeFromKey(step.key);
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
            break;
    }
    return events;
}

}  // namespace windowing
