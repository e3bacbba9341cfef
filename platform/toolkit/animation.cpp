#include "platform/toolkit/animation.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/view.h"

namespace toolkit {

namespace {
bool gTimed = false;
int gDisabled = 0;
int gRunning = 0;
std::vector<AnimationRecord>& records() {
    static std::vector<AnimationRecord> r;
    return r;
}
}  // namespace

void Animations::setTimed(bool timed) { gTimed = timed; }
bool Animations::timed() { return gTimed; }
void Animations::setEnabled(bool enabled) { gDisabled = enabled ? 0 : 1; }
bool Animations::enabled() { return gDisabled == 0; }
const std::vector<AnimationRecord>& Animations::log() { return records(); }
void Animations::clearLog() { records().clear(); }
int Animations::running() { return gRunning; }

void scheduleCompletion(double seconds, std::function<void()> completion) {
    ++gRunning;
    auto done = [completion = std::move(completion)] {
        --gRunning;
        if (completion) completion();
    };
    if (gTimed && seconds > 0)
        dispatch::Timer::scheduled(
            seconds, false, [done](dispatch::Timer&) { done(); }, dispatch::RunLoopMode::Common);
    else
        dispatch::RunLoop::main().performAtNextTurn(done);
}

namespace {
void beginCapture();
void endCapture(const AnimationRecord& rec);

void run(const AnimationRecord& rec, const std::function<void()>& animations, Completion completion) {
    TK_MAIN_THREAD("animate");
    const bool shown = gTimed && !gDisabled && rec.duration > 0;
    if (shown) beginCapture();
    if (animations) animations();
    if (shown) endCapture(rec);
    if (gDisabled) {
        if (completion) completion(true);
        return;
    }
    records().push_back(rec);
    scheduleCompletion(rec.delay + rec.duration, [completion = std::move(completion)] {
        if (completion) completion(true);
    });
}
}  // namespace

void animate(double duration, double delay, unsigned options, const std::function<void()>& animations,
             Completion completion) {
    run({duration, delay, options, false, 0, 0}, animations, std::move(completion));
}

void animateSpring(double duration, double delay, double damping, double velocity, unsigned options,
                   const std::function<void()>& animations, Completion completion) {
    run({duration, delay, options, true, damping, velocity}, animations, std::move(completion));
}

void performWithoutAnimation(const std::function<void()>& block) {
    ++gDisabled;
    block();
    --gDisabled;
}

// ---- Curves

namespace {

// A cubic Bezier timing curve through (0,0), (x1,y1), (x2,y2), (1,1): y at the x given.
double bezier(double x1, double y1, double x2, double y2, double x) {
    auto at = [](double p1, double p2, double t) {
        const double u = 1 - t;
        return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
    };
    double lo = 0, hi = 1, t = x;
    // Bisection: the x of these curves grows with t.
    for (int i = 0; i < 40; ++i) {
        t = (lo + hi) / 2;
        if (at(x1, x2, t) < x) {
            lo = t;
        } else {
            hi = t;
        }
    }
    return at(y1, y2, t);
}

}  // namespace

double animationCurve(unsigned options, double t) {
    t = std::clamp(t, 0.0, 1.0);
    if (t <= 0 || t >= 1) return t;
    switch (options & (3u << 16)) {
        case kAnimationCurveEaseIn:
            return bezier(0.42, 0, 1, 1, t);
        case kAnimationCurveEaseOut:
            return bezier(0, 0, 0.58, 1, t);
        case kAnimationCurveLinear:
            return t;
        default:
            return bezier(0.42, 0, 0.58, 1, t);
    }
}

double springCurve(double damping, double velocity, double t) {
    t = std::clamp(t, 0.0, 1.0);
    if (t >= 1) return 1;
    // A unit mass on a spring whose motion has faded to a thousandth by the end of the duration
    // (t = 1): x(t) = 1 - e^(-z w t) (cos(wd t) + ((z w - v) / wd) sin(wd t)).
    const double z = std::clamp(damping, 0.05, 1.0);
    const double w = std::log(1000.0) / z;
    const double v = velocity * 1.0;
    if (z >= 1) return 1 - std::exp(-w * t) * (1 + (w - v) * t);
    const double wd = w * std::sqrt(1 - z * z);
    return 1 - std::exp(-z * w * t) * (std::cos(wd * t) + (z * w - v) / wd * std::sin(wd * t));
}

// ---- Presentation animations

namespace {

constexpr int kValues[] = {2, 4, 1, 6, 1};

struct Running {
    std::weak_ptr<View> view;
    AnimatedProperty property;
    // Offsets from the model value at the start and at the end. One that ends away from the model
    // holds there until it is removed (a view that slides out and is then taken away).
    std::array<double, 6> from{};
    std::array<double, 6> to{};
    bool holds = false;
    double start = 0;
    double duration = 0;
    unsigned options = 0;
    bool spring = false;
    double damping = 1;
    double velocity = 0;
};

struct Presentation {
    std::unordered_multimap<const View*, Running> running;
    std::unique_ptr<dispatch::DisplayLink> link;
    uint64_t frames = 0;
};

Presentation& presentation() {
    static Presentation* p = new Presentation;
    return *p;
}

double now() { return dispatch::clock().now(); }

// How far along its curve: 0 before the start, 1 at the end.
double progressOf(const Running& r, double at) {
    if (at < r.start) return 0;
    if (r.duration <= 0 || at >= r.start + r.duration) return 1;
    const double t = (at - r.start) / r.duration;
    return r.spring ? springCurve(r.damping, r.velocity, t) : animationCurve(r.options, t);
}

bool finished(const Running& r, double at) { return !r.holds && (r.duration <= 0 || at >= r.start + r.duration); }
bool moving(const Running& r, double at) { return r.duration > 0 && at < r.start + r.duration; }

void prune() {
    Presentation& p = presentation();
    const double at = now();
    for (auto it = p.running.begin(); it != p.running.end();) {
        if (finished(it->second, at) || it->second.view.expired()) {
            it = p.running.erase(it);
        } else {
            ++it;
        }
    }
}

void step() {
    Presentation& p = presentation();
    prune();
    ++p.frames;
    if (!presentationAnimating() && p.link) p.link->setPaused(true);
}

void ensureLink() {
    Presentation& p = presentation();
    if (!p.link) {
        p.link = std::make_unique<dispatch::DisplayLink>([](dispatch::Seconds) { step(); }, 60,
                                                         dispatch::RunLoopMode::Common);
    }
    p.link->setPaused(false);
}

void add(View& view, AnimatedProperty property, const std::array<double, 6>& from, const std::array<double, 6>& to,
         double delay, double duration, unsigned options, bool spring, double damping, double velocity) {
    std::weak_ptr<View> weak = std::static_pointer_cast<View>(view.weak_from_this().lock());
    if (weak.expired()) return;  // a view nobody holds is on no screen
    bool moves = false, holds = false;
    for (int i = 0; i < kValues[static_cast<int>(property)]; ++i) {
        moves = moves || from[i] != to[i];
        holds = holds || to[i] != 0;
    }
    if (!moves) return;
    Running r{weak, property, from, to, holds, now() + delay, duration, options, spring, damping, velocity};
    presentation().running.emplace(&view, r);
    ensureLink();
}

std::array<double, 6> valuesOf(const View& v, AnimatedProperty property) {
    switch (property) {
        case AnimatedProperty::Center:
            return {v.center().x, v.center().y};
        case AnimatedProperty::Bounds: {
            const Rect b = v.bounds();
            return {b.minX(), b.minY(), b.width(), b.height()};
        }
        case AnimatedProperty::Alpha:
            return {v.alpha()};
        case AnimatedProperty::Transform: {
            const AffineTransform t = v.transform();
            return {t.a, t.b, t.c, t.d, t.tx, t.ty};
        }
        case AnimatedProperty::Progress:
            return {};
    }
    return {};
}

// The model values plus every running difference for the property.
std::array<double, 6> presented(const View& view, AnimatedProperty property, std::array<double, 6> values) {
    Presentation& p = presentation();
    if (p.running.empty()) return values;
    const double at = now();
    auto [first, last] = p.running.equal_range(&view);
    for (auto it = first; it != last; ++it) {
        const Running& r = it->second;
        if (r.property != property || finished(r, at)) continue;
        const double k = progressOf(r, at);
        for (int i = 0; i < kValues[static_cast<int>(property)]; ++i)
            values[i] += r.from[i] + (r.to[i] - r.from[i]) * k;
    }
    return values;
}

// What a block changes: each view's values before its first change.
struct Captured {
    std::weak_ptr<View> view;
    std::array<std::array<double, 6>, 4> before;
};
struct Capture {
    std::vector<Captured> views;
    std::unordered_set<const View*> seen;
};
std::vector<Capture>& captures() {
    static std::vector<Capture> c;
    return c;
}

void beginCapture() {
    captures().emplace_back();
    ++detail::gCaptureDepth;
}

void endCapture(const AnimationRecord& rec) {
    --detail::gCaptureDepth;
    std::vector<Captured> changed = std::move(captures().back().views);
    captures().pop_back();
    for (const Captured& c : changed) {
        auto view = c.view.lock();
        if (!view) continue;
        for (int prop = 0; prop < 4; ++prop) {
            const auto property = static_cast<AnimatedProperty>(prop);
            const auto after = valuesOf(*view, property);
            std::array<double, 6> from{};
            for (int i = 0; i < kValues[prop]; ++i) from[i] = c.before[prop][i] - after[i];
            add(*view, property, from, {}, rec.delay, rec.duration, rec.options, rec.spring, rec.damping, rec.velocity);
        }
    }
}

}  // namespace

namespace detail {
int gCaptureDepth = 0;

void captureBeforeChange(View& view) {
    if (captures().empty()) return;
    Capture& capture = captures().back();
    if (!capture.seen.insert(&view).second) return;
    std::weak_ptr<View> weak = std::static_pointer_cast<View>(view.weak_from_this().lock());
    if (weak.expired()) return;
    Captured c{weak, {}};
    for (int prop = 0; prop < 4; ++prop) c.before[prop] = valuesOf(view, static_cast<AnimatedProperty>(prop));
    capture.views.push_back(std::move(c));
}
}  // namespace detail

void addPresentationAnimation(View& view, const PresentationAnimation& a) {
    TK_MAIN_THREAD("addPresentationAnimation");
    if (!gTimed || gDisabled || a.duration <= 0) return;
    // It says where the screen goes from here: earlier ones of the property give way.
    auto [first, last] = presentation().running.equal_range(&view);
    for (auto it = first; it != last;) {
        if (it->second.property == a.property) {
            it = presentation().running.erase(it);
        } else {
            ++it;
        }
    }
    add(view, a.property, a.from, a.to, a.delay, a.duration, a.options, a.spring, a.damping, a.velocity);
}

void slideFrom(View& view, double dx, double dy, double duration) {
    PresentationAnimation a;
    a.property = AnimatedProperty::Center;
    a.from = {dx, dy};
    a.duration = duration;
    addPresentationAnimation(view, a);
}

void slideTo(View& view, double dx, double dy, double duration) {
    PresentationAnimation a;
    a.property = AnimatedProperty::Center;
    a.to = {dx, dy};
    a.duration = duration;
    addPresentationAnimation(view, a);
}

void fadeFrom(View& view, double alpha, double duration) {
    PresentationAnimation a;
    a.property = AnimatedProperty::Alpha;
    a.from = {alpha - view.alpha()};
    a.duration = duration;
    addPresentationAnimation(view, a);
}

void removePresentationAnimations(const View& view) { presentation().running.erase(&view); }

bool presentationAnimating() {
    Presentation& p = presentation();
    if (p.running.empty()) return false;
    const double at = now();
    for (const auto& [key, r] : p.running) {
        if (moving(r, at) && !r.view.expired()) return true;
    }
    return false;
}

bool hasPresentationAnimation(const View& view) {
    Presentation& p = presentation();
    if (p.running.empty()) return false;
    const double at = now();
    auto [first, last] = p.running.equal_range(&view);
    for (auto it = first; it != last; ++it) {
        if (!finished(it->second, at)) return true;
    }
    return false;
}

Point presentedCenter(const View& view) {
    const auto v = presented(view, AnimatedProperty::Center, {view.center().x, view.center().y});
    return {v[0], v[1]};
}

Rect presentedBounds(const View& view) {
    const Rect b = view.bounds();
    const auto v = presented(view, AnimatedProperty::Bounds, {b.minX(), b.minY(), b.width(), b.height()});
    return {v[0], v[1], std::max(0.0, v[2]), std::max(0.0, v[3])};
}

double presentedAlpha(const View& view) {
    return std::clamp(presented(view, AnimatedProperty::Alpha, {view.alpha()})[0], 0.0, 1.0);
}

AffineTransform presentedTransform(const View& view) {
    const AffineTransform t = view.transform();
    const auto v = presented(view, AnimatedProperty::Transform, {t.a, t.b, t.c, t.d, t.tx, t.ty});
    return {v[0], v[1], v[2], v[3], v[4], v[5]};
}

double presentedValue(const View& view, AnimatedProperty property, double model) {
    return presented(view, property, {model})[0];
}

uint64_t animationFrames() { return presentation().frames; }

// ---- The passcode shake

namespace {

void shakeStep(std::vector<std::shared_ptr<View>> views, double offset, std::function<void()> completion) {
    animate(
        0.08, 0, kAnimationNone,
        [&] {
            for (const auto& v : views) v->setTransform(AffineTransform::translation(offset, 0));
        },
        [views, offset, completion = std::move(completion)](bool) mutable {
            if (std::abs(offset) >= 1) {
                shakeStep(std::move(views), -offset / 2, std::move(completion));
                return;
            }
            for (const auto& v : views) v->setTransform(AffineTransform::identity());
            if (completion) completion();
        });
}

}  // namespace

void shakeHorizontally(const std::vector<std::shared_ptr<View>>& views, std::function<void()> completion) {
    TK_MAIN_THREAD("shakeHorizontally");
    std::vector<std::shared_ptr<View>> live;
    for (const auto& v : views) {
        if (v) live.push_back(v);
    }
    shakeStep(std::move(live), -35, std::move(completion));
}

int spinnerPhase() {
    if (!gTimed) return 0;
    const double turns = now();
    const double eighths = std::floor(turns * 8);
    return static_cast<int>(std::fmod(eighths, 8.0) + 8) % 8;
}

}  // namespace toolkit
