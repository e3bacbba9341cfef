#include "platform/toolkit/testing/input_script.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "platform/foundation/strings.h"
#include "platform/toolkit/bar_item_view.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"

namespace toolkit::testing {

namespace {

// Points far outside any screen are a mistake in the script, not a place to click.
constexpr double kMaxCoordinate = 100000;
constexpr int kMaxFrames = 600;
constexpr double kFrame = 1.0 / 60;
// wait-idle: a tenth of a second of idle frames.
constexpr int kIdleFrames = 6;

foundation::Error scriptError(int64_t code, int line, const std::string& why) {
    return foundation::Error::withDescription(kInputScriptErrorDomain, code,
                                              "line " + std::to_string(line) + ": " + why);
}

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

// "ctrl+shift+a", "cmd+r"; a lone "+" is the plus key.
bool parseKey(const std::string& spec, std::string& key, unsigned& modifiers) {
    std::string name = spec;
    modifiers = kModifierNone;
    for (size_t plus; name.size() > 1 && (plus = name.find('+')) != std::string::npos && plus > 0;) {
        const std::string mod = foundation::lowercase(name.substr(0, plus));
        if (mod == "ctrl")
            modifiers |= kModifierControl;
        else if (mod == "cmd")
            modifiers |= kModifierCommand;
        else if (mod == "alt")
            modifiers |= kModifierAlternate;
        else if (mod == "shift")
            modifiers |= kModifierShift;
        else
            return false;
        name = name.substr(plus + 1);
    }
    key = name;
    return !key.empty();
}

}  // namespace

foundation::Result<std::vector<InputStep>> parseInputScript(const std::string& text) {
    std::vector<InputStep> steps;
    int number = 0;
    for (std::string line : foundation::split(text, "\n")) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto fail = [&](const std::string& why) { return scriptError(kInputScriptUnreadable, number, why); };
        const auto w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        InputStep step;
        step.line = number;
        const std::string& verb = w[0];
        if (verb == "click" || verb == "press" || verb == "release" || verb == "scroll") {
            step.kind = verb == "click"    ? InputStep::Click
                        : verb == "press"  ? InputStep::Press
                        : verb == "scroll" ? InputStep::Wheel
                                           : InputStep::Release;
            if (w.size() != 3 || !parseNumber(w[1], step.point.x) || !parseNumber(w[2], step.point.y))
                return fail("\"" + verb + "\" takes two numbers");
        } else if (verb == "press-key") {
            step.kind = InputStep::Key;
            if (w.size() != 2 || !parseKey(w[1], step.key, step.modifiers))
                return fail("\"press-key\" takes one key name, optionally after ctrl+, cmd+, alt+ or shift+");
        } else if (verb == "type" || verb == "click-on" || verb == "wait-for" || verb == "wait-gone") {
            step.kind = verb == "type"       ? InputStep::Text
                        : verb == "click-on" ? InputStep::ClickOn
                        : verb == "wait-for" ? InputStep::WaitFor
                                             : InputStep::WaitGone;
            // Everything after the one separating space, spaces included.
            const size_t at = line.find(verb) + verb.size();
            step.text = at < line.size() ? line.substr(at + 1) : std::string();
            if (step.text.empty())
                return fail("\"" + verb + "\" needs " + (verb == "type" ? "something to type" : "a label"));
        } else if (verb == "wait-frames") {
            step.kind = InputStep::Frames;
            double n = 0;
            if (w.size() != 2 || !parseNumber(w[1], n) || n != std::floor(n) || n < 1 || n > kMaxFrames)
                return fail("\"wait-frames\" takes a whole number from 1 to " + std::to_string(kMaxFrames));
            step.frames = static_cast<int>(n);
        } else if (verb == "text-arrives") {
            // The device key that asks the service for a text (see platform/window/keys.h).
            step.kind = InputStep::Key;
            if (w.size() > 2 || (w.size() == 2 && w[1] != "new"))
                return fail("\"text-arrives\" takes nothing, or \"new\" for a new number");
            step.key = w.size() == 2 ? "F10" : "F9";
        } else if (verb == "drag" || verb == "swipe") {
            // The way's ends, then how many moves (drag, optional) or fingers (swipe).
            step.kind = verb == "drag" ? InputStep::Drag : InputStep::Swipe;
            const bool drag = step.kind == InputStep::Drag;
            const std::string usage =
                drag ? "\"drag\" takes four numbers and optionally the moves, 1 to " + std::to_string(kMaxDragSteps)
                     : "\"swipe\" takes four numbers and the fingers, 1 to " + std::to_string(kMaxFingers);
            double count = drag ? kDragSteps : 0;
            const bool counted = w.size() == 6 && parseNumber(w[5], count);
            if ((w.size() != 5 && w.size() != 6) || (!drag && w.size() != 6) || !parseNumber(w[1], step.point.x) ||
                !parseNumber(w[2], step.point.y) || !parseNumber(w[3], step.to.x) || !parseNumber(w[4], step.to.y) ||
                (w.size() == 6 && !counted) || count != std::floor(count) || count < 1 ||
                count > (drag ? kMaxDragSteps : kMaxFingers))
                return fail(usage);
            if (drag) {
                step.steps = static_cast<int>(count);
            } else {
                step.steps = kSwipeSteps;
                step.fingers = static_cast<int>(count);
            }
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

namespace {

// The views showing label, front-most first: those whose text, accessibility label or identifier
// it is; when none, a tab's button of that title or an empty field with that placeholder.
std::vector<View*> viewsShowing(Window& window, const std::string& label) {
    flushLayout();
    std::vector<View*> found;
    std::function<void(View&)> visit = [&](View& view) {
        if (view.isHidden() || view.alpha() < 0.01) return;
        if (view.outlineText() == label || view.accessibilityLabel() == label ||
            view.accessibility().identifier == label)
            found.push_back(&view);
        // Later subviews are in front.
        for (const auto& sub : std::vector<ViewPtr>(view.subviews())) visit(*sub);
    };
    visit(window);
    if (found.empty()) {
        // A tab's button shows its title with its badge and selection; an empty field its placeholder.
        std::function<void(View&)> visitNamed = [&](View& view) {
            if (view.isHidden() || view.alpha() < 0.01) return;
            if (auto* item = dynamic_cast<BarItemView*>(&view)) {
                const BarItemLook look = item->look();
                if (look.kind == BarItemLook::Kind::tab && look.title == label) found.push_back(&view);
            }
            if (auto* field = dynamic_cast<TextField*>(&view);
                field && field->text().empty() && !label.empty() && field->placeholder() == label)
                found.push_back(&view);
            for (const auto& sub : std::vector<ViewPtr>(view.subviews())) visitNamed(*sub);
        };
        visitNamed(window);
    }
    std::reverse(found.begin(), found.end());
    return found;
}

// A view as the outline names it: its class, then its text (or accessibility label) if it has one.
std::string outlineName(const View& view) {
    std::string text = view.outlineText();
    if (text.empty()) text = view.accessibilityLabel();
    return text.empty() ? view.className() : view.className() + " \"" + text + "\"";
}

// Whether a is drawn in front of b, neither holding the other: where their lines of superviews
// part, the later subview is in front.
bool drawnInFront(const View& a, const View& b) {
    for (const View* top = &a; top->superview(); top = top->superview()) {
        const View* common = top->superview();
        if (!b.isDescendantOf(common)) continue;
        const View* other = &b;
        while (other->superview() != common) other = other->superview();
        const auto& subs = common->subviews();
        auto index = [&](const View* v) {
            return std::find_if(subs.begin(), subs.end(), [v](const ViewPtr& s) { return s.get() == v; });
        };
        return index(top) > index(other);
    }
    return false;
}

// What a user sees over view where a touch lands on hit: of hit and its superviews below the
// view they share with view, the outermost with a class of its own (a bar, the keyboard), else
// the outermost.
const View& coveringView(const View& hit, const View& view) {
    const View* outermost = &hit;
    const View* named = hit.className() != "View" ? &hit : nullptr;
    for (const View* v = hit.superview(); v && !view.isDescendantOf(v); v = v->superview()) {
        outermost = v;
        if (v->className() != "View") named = v;
    }
    return named ? *named : *outermost;
}

// Why a tap at middle (window coordinates) would not reach view; empty when it would.
std::string whyUntappable(Window& window, View& view, Point middle) {
    // Views that clip what they hold (scroll views) and the screen itself must hold the middle.
    for (View* v = view.superview(); v; v = v->superview()) {
        if (v != &window && !v->clipsToBounds()) continue;
        if (!v->convertRectTo(v->bounds(), nullptr).contains(middle))
            return v == &window ? "is off the screen" : "is scrolled out of view";
    }
    if (MenuPanel* panel = MenuPanel::shown(&window); panel && panel->panelFrame().contains(middle))
        return std::string("is covered by ") + (panel->style() == MenuPanel::Style::context ? "ContextMenu" : "Menu");
    if (auto& editMenu = MenuController::shared(); editMenu.window() == &window && editMenu.barFrame().contains(middle))
        return "is covered by EditMenu";
    View* hit = window.hitTest(middle, nullptr);
    // A label that takes no touches lets them through to what lies behind it, as it does a finger's.
    if (!hit || hit->isDescendantOf(&view) || view.isDescendantOf(hit) || !drawnInFront(*hit, view)) return {};
    return "is covered by " + outlineName(coveringView(*hit, view));
}

}  // namespace

View* findVisible(Window& window, const std::string& label) {
    const auto views = viewsShowing(window, label);
    return views.empty() ? nullptr : views.front();
}

bool isShown(Window& window, const std::string& label) {
    flushLayout();
    if (MenuPanel* panel = MenuPanel::shown(&window))
        for (const auto& row : panel->rows())
            if (row.title == label && panel->rowAt({row.frame.midX(), row.frame.midY()})) return true;
    auto& editMenu = MenuController::shared();
    if (editMenu.window() == &window && editMenu.pointOfEntry(label)) return true;
    return findVisible(window, label) != nullptr;
}

foundation::Result<Point> findClickPoint(Window& window, const std::string& label) {
    flushLayout();
    // Menus lie over every view.
    if (MenuPanel* panel = MenuPanel::shown(&window)) {
        const auto rows = panel->rows();
        for (const auto& row : rows) {
            const Point middle{row.frame.midX(), row.frame.midY()};
            if (row.title == label && panel->rowAt(middle)) return middle;
        }
    }
    auto& editMenu = MenuController::shared();
    if (editMenu.window() == &window)
        if (auto at = editMenu.pointOfEntry(label)) return *at;
    const auto views = viewsShowing(window, label);
    if (views.empty())
        return foundation::Error::withDescription(kInputScriptErrorDomain, kInputScriptNotPlayable,
                                                  "no visible view \"" + label + "\"");
    // The front-most one a finger reaches; else why the front-most one cannot be reached.
    std::string why;
    for (View* view : views) {
        const Point middle = view->convertPointTo({view->bounds().midX(), view->bounds().midY()}, nullptr);
        std::string untappable = whyUntappable(window, *view, middle);
        if (untappable.empty()) return middle;
        if (why.empty()) why = std::move(untappable);
    }
    return foundation::Error::withDescription(kInputScriptErrorDomain, kInputScriptNotPlayable,
                                              "\"" + label + "\" " + why);
}

std::vector<Point> fingerPoints(Point centre, int fingers, Point from, Point to) {
    const bool across = std::fabs(to.x - from.x) >= std::fabs(to.y - from.y);
    std::vector<Point> points;
    for (int i = 0; i < fingers; ++i) {
        const double offset = kFingerSpacing * (i - (fingers - 1) / 2.0);
        points.push_back(across ? Point{centre.x, centre.y + offset} : Point{centre.x + offset, centre.y});
    }
    return points;
}

Point pointAlong(Point from, Point to, int step, int steps) {
    if (steps <= 0 || step >= steps) return to;
    const double f = static_cast<double>(step) / steps;
    return {from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f};
}

bool turnWheel(Window& window, Point at, double dx, double dy) {
    if (dx == 0 && dy == 0) return false;
    flushLayout();
    for (View* v = window.hitTest(at, nullptr); v; v = v->superview()) {
        auto* scroll = dynamic_cast<ScrollView*>(v);
        if (!scroll || !scroll->isScrollEnabled()) continue;
        const Point min = scroll->minimumContentOffset(), max = scroll->maximumContentOffset();
        const Point from = scroll->contentOffset();
        Point to{from.x + dx * kPointsPerWheelNotch, from.y - dy * kPointsPerWheelNotch};
        to.x = std::clamp(to.x, std::min(min.x, from.x), std::max(max.x, from.x));
        to.y = std::clamp(to.y, std::min(min.y, from.y), std::max(max.y, from.y));
        if (to.x == from.x && to.y == from.y) continue;
        scroll->setContentOffset(to);
        return true;
    }
    return false;
}

namespace {

DeviceKeyHandler& deviceKeyHandler() {
    static DeviceKeyHandler handler;
    return handler;
}

// A key as the desktop window gives it to the app (see platform/window/keys.h).
foundation::Status playKey(Harness& harness, const InputStep& step) {
    const std::string key = foundation::lowercase(step.key);
    const bool chord = step.modifiers & (kModifierCommand | kModifierControl | kModifierAlternate);
    const bool typing = dynamic_cast<TextInput*>(firstResponder()) != nullptr;
    auto command = [&](const std::string& input) {
        // The edit menu's bar takes its keys first, as in the window.
        auto& editMenu = MenuController::shared();
        if (step.modifiers == kModifierNone && editMenu.window() == &harness.window() && editMenu.handleKey(input)) {
            harness.settle();
            return foundation::Status();
        }
        if (!harness.pressKey(input, step.modifiers)) {
            const unsigned chord = commandChordForControlChord(step.modifiers);
            if (!chord || !harness.pressKey(input, chord)) {
                // Command-C, -V, -X and -A edit in the first responder.
                MenuController::performEditKey(input, chord ? chord : step.modifiers);
                harness.settle();
            }
        }
        return foundation::Status();
    };
    if (key == "f1") {
        harness.shake();
    } else if (key == "f2") {
        const bool portrait =
            harness.window().profile().bounds().width() < harness.window().profile().bounds().height();
        harness.rotate(portrait ? Orientation::LandscapeLeft : Orientation::Portrait);
    } else if (key == "f3") {
        const bool dark = harness.window().windowTraits().style == InterfaceStyle::dark;
        harness.setInterfaceStyle(dark ? InterfaceStyle::light : InterfaceStyle::dark);
    } else if (key == "f4") {
        harness.sendMemoryWarning();
    } else if (key == "up") {
        return command(kInputUpArrow);
    } else if (key == "down") {
        return command(kInputDownArrow);
    } else if (key == "left") {
        return command(kInputLeftArrow);
    } else if (key == "right") {
        return command(kInputRightArrow);
    } else if (key == "escape") {
        return command(kInputEscape);
    } else if (key == "return") {
        if (typing && !chord) {
            harness.pressReturn();
        } else {
            return command("\r");
        }
    } else if (key == "backspace") {
        if (typing) harness.pressBackspace();
    } else if (key.size() == 1 && static_cast<unsigned char>(key[0]) >= 0x20 && key[0] != 0x7f) {
        if (typing && !chord) {
            harness.typeText(key);
        } else {
            return command(key);
        }
    } else {
        if (const auto& handler = deviceKeyHandler()) {
            auto handled = handler(step.key);
            if (!handled.ok())
                return scriptError(kInputScriptNotPlayable, step.line, handled.error().localizedDescription());
            if (*handled) {
                harness.settle();
                return {};
            }
        }
        return scriptError(kInputScriptNotPlayable, step.line,
                           "the key \"" + step.key + "\" is played only in a window");
    }
    harness.settle();
    return {};
}

}  // namespace

void setDeviceKeyHandler(DeviceKeyHandler handler) { deviceKeyHandler() = std::move(handler); }

foundation::Status playInputScript(Harness& harness, const std::vector<InputStep>& steps,
                                   const std::function<bool()>& idle, double waitSeconds) {
    Window& window = harness.window();
    Point last;
    int touch = -1;
    for (const InputStep& step : steps) {
        switch (step.kind) {
            case InputStep::Click:
                harness.tap(step.point);
                last = step.point;
                break;
            case InputStep::ClickOn: {
                harness.settle();
                auto at = findClickPoint(window, step.text);
                if (!at.ok()) return scriptError(kInputScriptNotPlayable, step.line, at.error().localizedDescription());
                last = *at;
                harness.tap(*at);
                break;
            }
            case InputStep::Press:
                if (touch >= 0) window.touchUp(touch);
                touch = window.touchDown(step.point);
                last = step.point;
                harness.settle();
                break;
            case InputStep::Release:
                if (touch < 0) return scriptError(kInputScriptNotPlayable, step.line, "nothing is pressed");
                window.touchMove(touch, step.point);
                window.touchUp(touch);
                touch = -1;
                last = step.point;
                harness.settle();
                break;
            case InputStep::Wheel:
                turnWheel(window, last, step.point.x, step.point.y);
                harness.settle();
                break;
            case InputStep::Key:
                if (auto played = playKey(harness, step); !played) return played;
                break;
            case InputStep::Text:
                if (!harness.typeText(step.text))
                    return scriptError(kInputScriptNotPlayable, step.line, "no text input has the focus");
                break;
            case InputStep::Frames:
                harness.advance(step.frames * kFrame);
                break;
            case InputStep::WaitFor:
            case InputStep::WaitGone: {
                const bool wanted = step.kind == InputStep::WaitFor;
                if (!harness.clock().runUntil([&] { return isShown(window, step.text) == wanted; }, waitSeconds))
                    return scriptError(kInputScriptWaitExpired, step.line,
                                       "\"" + step.text + (wanted ? "\" did not appear" : "\" did not go"));
                harness.settle();
                break;
            }
            case InputStep::WaitIdle: {
                // Idle for a few frames running; work that starts in between begins the count anew.
                const double end = harness.clock().now() + waitSeconds;
                const auto isIdle = [&] { return !idle || idle(); };
                for (int idleFrames = 0; idleFrames < kIdleFrames;) {
                    if (isIdle()) {
                        if (++idleFrames < kIdleFrames) harness.advance(kFrame);
                        continue;
                    }
                    idleFrames = 0;
                    if (harness.clock().now() >= end || !harness.clock().runUntil(isIdle, end - harness.clock().now()))
                        return scriptError(kInputScriptWaitExpired, step.line, "the application was not idle");
                }
                break;
            }
            case InputStep::Close:
                if (touch >= 0) window.touchUp(touch);
                harness.settle();
                return {};
            case InputStep::Drag:
            case InputStep::Swipe: {
                // One move a frame, the fingers down together and lifted together.
                if (touch >= 0) window.touchUp(touch);
                touch = -1;
                const auto ids = window.touchesDown(fingerPoints(step.point, step.fingers, step.point, step.to));
                for (int i = 1; i <= step.steps; ++i) {
                    harness.advance(kFrame);
                    const auto at =
                        fingerPoints(pointAlong(step.point, step.to, i, step.steps), step.fingers, step.point, step.to);
                    std::map<int, Point> moves;
                    for (size_t f = 0; f < ids.size(); ++f) moves[ids[f]] = at[f];
                    window.touchesMove(moves);
                }
                window.touchesUp(ids);
                last = step.to;
                harness.settle();
                break;
            }
        }
    }
    if (touch >= 0) window.touchUp(touch);
    harness.settle();
    return {};
}

}  // namespace toolkit::testing
