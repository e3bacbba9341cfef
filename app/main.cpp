// The app as a program: the application object in its device's form, with its window. With a
// display it runs in a desktop window until the window is closed (F6 writes a screenshot into
// the out folder and prints its path). Headless (no display, or --headless), it runs in the test
// harness on its clock (started at the real time): it launches, waits for the service's first
// reachability report, signs in by playing a script into the sign-in panel (unless an account is
// signed in already) and waits for the account's first data, visits each view, writes a PNG
// snapshot and an outline of each into a folder it prints, saves as at termination and exits.
//   hx_connect [--headless] [--device phone|phone-x|tablet] [--system-version N]
//              [--biometry none|fingerprint|face] [--offline] [--service ORIGIN] [--ingestion ORIGIN]
//              [--user NAME] [--out DIR] [--seconds S] [--input FILE] [--locations FILE]
//              [--placemarks FILE] [--open-url URL] [--shortcut TYPE] [--activity TYPE[?KEY=VALUE&...]]
//              [--background-fetch] [--notifications] [--search QUERY] [--crash KIND] [--help]
// --help prints every option, the window's keys and the entry points' types (kHelp below).
// What opens the app from outside comes as on the device, once the app has launched: --open-url
// an address of its scheme, --shortcut a home-screen shortcut's type, --activity an activity to
// continue with its information (percent-encoded query values). --background-fetch runs one
// background fetch headless after the sign-in (the app in the background meanwhile) and prints
// its result; --notifications prints every notification delivered, at the end. The search index
// is kept in the app home (Library/SearchIndex/index.db, an SQLite file) from run to run, as the
// system keeps it, in step with every change;
// --search continues the app with the first hit of QUERY, as a tapped search result does. Headless,
// where these land is written as entry.png and entry.txt into the out folder after the sign-in.
// ORIGIN points every host role at one service (the local emulator); without it the app's
// built-in hosts stay and nothing signs in. NAME is the account typed into the sign-in page (the
// emulator's demo account by default); in the window the user signs in. The device picks the
// screen and the application object's form. --ingestion points the telemetry SDK's logs (and
// crash reports) at a local ingestion endpoint; without it they go to the telemetry service.
// Without --locations the device walks a default route around the places of a default placemark
// table (app/run_device.h), which stands in for --placemarks too; its home gets demo contacts and
// pictures when it has none, and location access is asked with a prompt the user answers.
// FILE is input played into the window (platform/toolkit/testing/input_script.h), for tests;
// headless, it is played through the harness after the sign-in and before the views are visited.
// The app is idle to it once it has heard the service's first reachability report, no request is
// under way and a signed-in account has its number, and each wait lasts at most S s. A headless
// run ends with status 1, naming the step, when no reachability report comes, the sign-in does not
// complete or the service never answers a request; an empty ORIGIN is refused (status 2). A home
// whose passcode lock shows at launch plays the --input script while the lock shows (so that it
// types the PIN); without a script the headless run ends at once with status 1, saying so.
// SIGINT and SIGTERM end the run at once through the app's termination (its state saved), in the
// window and headless, with status 128 + the signal.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/run_device.h"
#include "app/views.h"
#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/clock/clock.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/sanitizer_suppressions.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/services/device.h"
#include "platform/services/geocoder.h"
#include "platform/services/local_authentication.h"
#include "platform/services/location_route.h"
#include "platform/services/search_index.h"
#include "platform/services/url_opener.h"
#include "platform/services/user_notifications.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/outline.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/testing/input_script.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/window.h"
#include "platform/window/front_end.h"
#include "platform/window/sdl_audio_output.h"
#include "service/request_machinery.h"
#include "ui/shell/ui_screens.h"
#include "ui/signin/login_panel.h"

// Races and leaks inside prebuilt libraries are not ours to mend (one list for the app, the
// emulator and the test processes).
HX_SANITIZER_SUPPRESSIONS();

namespace {

struct Options {
    bool headless = false;
    std::string device = "phone";
    int systemVersion = 15;
    services::BiometryType biometry = services::BiometryType::None;
    bool offline = false;
    std::optional<hxrun::CrashKind> crash;
    std::string service;
    std::string ingestion;
    std::filesystem::path out;
    double seconds = 5;
    std::string user = "user@example.test";
    std::filesystem::path input;
    // A CSV route of fixes the device's location replays from the launch on, and the places its
    // geocoding knows (platform/services/location_route.h, geocoder.h).
    std::filesystem::path locations;
    std::filesystem::path placemarks;
    // ---- entry points
    std::string openURL;
    std::string shortcut;
    // Its type and information, read from TYPE[?KEY=VALUE&...].
    std::optional<std::pair<std::string, foundation::Dictionary>> activity;
    bool backgroundFetch = false;
    bool listNotifications = false;
    std::string search;
    bool entryGiven() const { return !openURL.empty() || !shortcut.empty() || activity || !search.empty(); }
};

int usage() {
    std::fprintf(stderr,
                 "usage: hx_connect [--headless] [--device phone|phone-x|tablet] [--system-version N] "
                 "[--biometry none|fingerprint|face] [--offline] [--service ORIGIN] [--ingestion ORIGIN] "
                 "[--user NAME] [--out DIR] [--seconds S] [--input FILE] [--locations FILE] [--placemarks FILE] "
                 "[--open-url URL] [--shortcut TYPE] [--activity TYPE[?KEY=VALUE&...]] [--background-fetch] "
                 "[--notifications] [--search QUERY] [--crash null-write|exception|abort] [--help]\n");
    return 2;
}

// What the platform's home screen and other apps hand the app (answered in app/shell_entry_points.cpp).
const std::vector<std::string> kShortcutTypes = {"com.hxconnect.shortcut_call", "com.hxconnect.shortcut_sms"};
const std::vector<std::string> kActivityTypes = {"com.hxconnect.activity_call", "com.hxconnect.activity_sms",
                                                 "com.hxconnect.activity_reply", services::kSearchableItemActionType};
constexpr int kOldestSystem = 12, kNewestSystem = 18;

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

// The run's options, its window's keys and what the entry points take.
void printHelp() {
    std::string keys;
    for (const auto& key : windowing::deviceKeys())
        keys +=
            "  F" + std::to_string(key.key - SDLK_F1 + 1) + (key.key < SDLK_F10 ? "   " : "  ") + key.meaning + "\n";
    std::printf("usage: hx_connect [options]    (./hx run [options] builds it and starts it against a local emulated\n"
                "                               service, with the accounts user@example.test and work@example.test)\n"
                "In a desktop window when a display is present; headless otherwise or with --headless: it signs in,\n"
                "plays --input, visits each view, writes a PNG snapshot and an outline of each into --out, prints\n"
                "that folder and exits.\n"
                "\n"
                "The device\n"
                "  --device phone|phone-x|tablet    the screen and the app's form (default phone)\n"
                "  --system-version N               the device's system version, %d to %d (default 15)\n"
                "  --biometry none|fingerprint|face the biometric sensor (default none); its prompt's buttons\n"
                "                                   Succeed, Fail and Cancel answer each evaluation\n"
                "  --offline                        start with the device's network off (F11 turns it on)\n"
                "  --locations FILE                 a CSV route of fixes the device replays (default: a walk\n"
                "                                   around the demo places)\n"
                "  --placemarks FILE                the places geocoding knows (JSON)\n"
                "The service\n"
                "  --service ORIGIN                 every host role at one origin (the local emulator)\n"
                "  --ingestion ORIGIN               where the telemetry logs and crash reports go\n"
                "  --user NAME                      the account a headless run signs in with\n"
                "The run\n"
                "  --headless                       run in the test harness on its own clock\n"
                "  --out DIR                        snapshots, outlines and screenshots (default a temporary folder)\n"
                "  --seconds S                      how long each wait lasts at most (default 5)\n"
                "  --input FILE                     input played into the window (headless: after the sign-in, or\n"
                "                                   while a passcode lock shows); one step a line: click X Y,\n"
                "                                   click-on LABEL, press X Y, release X Y, scroll DX DY,\n"
                "                                   drag X1 Y1 X2 Y2 [MOVES], swipe X1 Y1 X2 Y2 FINGERS,\n"
                "                                   press-key [ctrl+|cmd+|alt+|shift+]NAME, type TEXT,\n"
                "                                   text-arrives [new], wait-frames N, wait-for LABEL,\n"
                "                                   wait-gone LABEL, wait-idle, close\n"
                "  --notifications                  print every notification delivered, at the end\n"
                "  --background-fetch               headless: one background fetch after the sign-in\n"
                "  --crash null-write|exception|abort  crash once launched (a write through a null pointer, a C++\n"
                "                                   exception nothing catches, abort()); the next launch asks\n"
                "                                   whether to send the report\n"
                "  --help                           this text; nothing is started\n"
                "What opens the app from outside (once it has launched)\n"
                "  --open-url URL                   an address of its scheme: hxconnect://call?number=N,\n"
                "                                   sms?number=N&message=T, reply?conversationID=ID&messageText=T,\n"
                "                                   vm, history, settings, quicksetting?NAME\n"
                "  --shortcut TYPE                  a home-screen shortcut: %s\n"
                "  --activity TYPE[?KEY=VALUE&...]  an activity to continue (values percent-encoded): %s\n"
                "                                   keys number, messageText, conversationID, account\n"
                "  --search QUERY                   continue with the first hit of the on-device search\n"
                "\n"
                "Window keys (whatever modifiers are held)\n"
                "%s"
                "Ctrl-C (SIGINT) or SIGTERM ends the run at once, its state saved.\n",
                kOldestSystem, kNewestSystem, joined(kShortcutTypes).c_str(), joined(kActivityTypes).c_str(),
                keys.c_str());
}

bool displayPresent() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* v = std::getenv(name); v && *v) return true;
    return false;
}

// The telemetry SDK starts at launch step 1 with its crash service; a run or test against local
// endpoints has it send there (the only case in which the app sets the SDK's log URL).
void configureTelemetry(HX_ConnectAppDelegate& app, const Options& options) {
    app.startTelemetryAtLaunch(options.ingestion.empty() ? std::nullopt : std::optional(options.ingestion));
}

// The screen a device name stands for and the application object's form on it: the phone (the
// default) and the phone with a notch run the tab bar, the tablet the split view.
std::optional<toolkit::ScreenProfile> profileFor(const std::string& device) {
    if (device == "phone") return toolkit::ScreenProfile::iPhone8();
    if (device == "phone-x") return toolkit::ScreenProfile::iPhoneX();
    if (device == "tablet") return toolkit::ScreenProfile::iPad();
    return std::nullopt;
}
std::shared_ptr<HX_ConnectAppDelegate> makeApplication(const std::string& device) {
    if (device == "tablet") return std::make_shared<HX_ConnectAppDelegate_iPad>();
    return std::make_shared<HX_ConnectAppDelegate_iPhone>();
}

bool signedIn(HX_ConnectAppDelegate& app) {
    const auto account = app.account();
    return account && account->authV2();
}

foundation::Result<std::vector<toolkit::testing::InputStep>> readInputScript(const std::filesystem::path& path) {
    auto text = foundation::files::readData(path);
    if (!text.ok()) return text.error();
    return toolkit::testing::parseInputScript(std::string(text->begin(), text->end()));
}

// ---- entry points from outside the app

// The search index the system keeps for the app between launches.
std::filesystem::path searchIndexFile() { return foundation::homeDirectory() / "Library" / "SearchIndex" / "index.db"; }

// An activity given as TYPE?KEY=VALUE&...: its type and information.
std::optional<std::pair<std::string, foundation::Dictionary>> parseActivity(const std::string& text) {
    const auto mark = text.find('?');
    std::pair<std::string, foundation::Dictionary> activity{text.substr(0, mark), {}};
    if (activity.first.empty()) return std::nullopt;
    if (mark == std::string::npos) return activity;
    for (const auto& pair : foundation::split(text.substr(mark + 1), "&")) {
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        if (eq == 0 || eq == std::string::npos) return std::nullopt;
        auto value = foundation::percentDecode(pair.substr(eq + 1));
        if (!value) return std::nullopt;
        activity.second.set(pair.substr(0, eq), *value);
    }
    return activity;
}

void continueWithSearch(HX_ConnectAppDelegate& app, const std::string& query);

// What the window shows in front: the root's presented controllers, the selected tab, the top of a
// navigation stack.
toolkit::ViewController* frontScreen(toolkit::Window& window) {
    toolkit::ViewController* top = window.rootViewController().get();
    while (top && top->presentedViewController()) top = top->presentedViewController();
    for (bool deeper = true; top && deeper;) {
        deeper = false;
        if (auto* tabs = dynamic_cast<toolkit::TabBarController*>(top); tabs && tabs->selectedViewController()) {
            top = tabs->selectedViewController();
            deeper = true;
        }
        if (auto* nav = dynamic_cast<toolkit::NavigationController*>(top); nav && nav->topViewController()) {
            top = nav->topViewController();
            deeper = false;
        }
    }
    return top;
}

// An address of the app's scheme, and what it opened: the app answers NO for a "reply" address by
// design though the conversation opens, so the screen in front tells.
void openURL(HX_ConnectAppDelegate& app, const std::string& url) {
    toolkit::Window* window = app.window();
    toolkit::ViewController* before = window ? frontScreen(*window) : nullptr;
    const bool answered = app.applicationOpenURL(url);
    toolkit::flushLayout();
    toolkit::ViewController* after = window ? frontScreen(*window) : nullptr;
    if (after && after != before) {
        const std::string title = after->title().empty() ? after->navigationItem().title : after->title();
        std::fprintf(stderr, "hx_connect: %s opened %s\n", url.c_str(),
                     title.empty() ? "a screen without a title" : ("\"" + title + "\"").c_str());
    } else if (answered) {
        std::fprintf(stderr, "hx_connect: %s was taken by the app\n", url.c_str());
    } else {
        std::fprintf(stderr, "hx_connect: the app did not open %s\n", url.c_str());
    }
}

// What the platform hands the application from outside: in the window as soon as it has launched,
// headless once it has signed in.
void deliverEntryPoints(HX_ConnectAppDelegate& app, const Options& options) {
    if (!options.search.empty()) continueWithSearch(app, options.search);
    if (!options.openURL.empty()) openURL(app, options.openURL);
    if (!options.shortcut.empty() && !app.performActionForShortcutItem(options.shortcut))
        std::fprintf(stderr, "hx_connect: the app has no shortcut %s\n", options.shortcut.c_str());
    if (const auto& activity = options.activity;
        activity && !app.continueUserActivity(activity->first, activity->second))
        std::fprintf(stderr, "hx_connect: the app did not continue %s\n", activity->first.c_str());
}

// The first hit of a search of the index, continued as the platform continues a tapped result.
void continueWithSearch(HX_ConnectAppDelegate& app, const std::string& query) {
    const auto hits = services::SearchableIndex::defaultSearchableIndex()->search(query, 1);
    if (hits.empty()) {
        std::fprintf(stderr, "hx_connect: nothing found for \"%s\"\n", query.c_str());
        return;
    }
    (void)app.continueUserActivity(
        services::kSearchableItemActionType,
        foundation::Dictionary{{services::kSearchableItemActivityIdentifier, hits.front().uniqueIdentifier}});
}

const char* fetchResultName(int result) {
    switch (result) {
        case HXApplicationModel::BackgroundFetchNewData:
            return "new data";
        case HXApplicationModel::BackgroundFetchNoData:
            return "no data";
        default:
            return "failed";
    }
}

// One background fetch as the system runs it: the app in the background until it answers.
bool fetchInBackground(HX_ConnectAppDelegate& app, toolkit::testing::Harness& harness, double seconds) {
    auto& application = foundation::Application::shared();
    application.setApplicationState(foundation::ApplicationState::Background);
    app.applicationDidEnterBackground();
    auto result = std::make_shared<std::optional<int>>();
    services::BackgroundFetch::shared().fetchBegan(harness.clock().now());
    app.applicationPerformFetchWithCompletionHandler([result](int r) {
        *result = r;
        services::BackgroundFetch::shared().fetchEnded();
    });
    // The fetch goes over real sockets on a session of its own, under time-outs of the clock.
    const auto answered = hxrun::waitInRealTime(
        harness.clock(), [&] { return result->has_value(); }, seconds, "answer to the background fetch");
    // What the fetch announced is delivered once its trigger's time has come.
    harness.clock().advance(1.0);
    harness.settle();
    (void)services::UserNotificationCenter::currentNotificationCenter()->deliverDueRequests(harness.clock().now());
    app.applicationWillEnterForeground();
    application.setApplicationState(foundation::ApplicationState::Active);
    harness.settle();
    if (!answered) {
        std::fprintf(stderr, "hx_connect: %s\n", answered.error().localizedDescription().c_str());
        return false;
    }
    std::printf("background fetch: %s\n", fetchResultName(**result));
    return true;
}

void printNotifications() {
    for (const auto& n : services::UserNotificationCenter::currentNotificationCenter()->deliveredNotifications()) {
        const auto& c = n.request.content;
        std::printf("notification: %s | %s | %s | %s\n", n.request.identifier.c_str(), c.title.c_str(), c.body.c_str(),
                    c.categoryIdentifier.empty() ? "-" : c.categoryIdentifier.c_str());
    }
    std::fflush(stdout);
}

// ---- ending on a stop signal

// SIGINT and SIGTERM are blocked in every thread (each inherits the mask of the main thread, which
// blocks them first) and taken by one thread of their own, which hands them to the main thread:
// the run then ends through the app's own termination, whatever the loop was waiting for.
std::atomic<int> gStopSignal{0};
// What ends the run on the main thread: the window closes; headless, the run exits (main()).
std::function<void(int signal)> gEndRun;

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void watchStopSignals() {
    std::thread([] {
        const sigset_t set = stopSignals();
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0) continue;
            int none = 0;
            if (!gStopSignal.compare_exchange_strong(none, signal)) continue;  // ending already
            dispatch::Queue::main()->async([signal] {
                if (gEndRun) gEndRun(signal);
            });
        }
    }).detach();
}

// What ends the run from now on; a signal that came before it was set ends the run at once.
void setEndRun(std::function<void(int signal)> end) {
    gEndRun = std::move(end);
    if (gStopSignal.load() && gEndRun)
        dispatch::Queue::main()->async([] {
            if (gEndRun) gEndRun(gStopSignal.load());
        });
}

// ---- headless

// The sign-in panel the window shows (presented from its root, or from what that presents).
VC_LoginPanel* shownLoginPanel(toolkit::Window& window) {
    const auto& root = window.rootViewController();
    for (auto* c = root ? root->presentedViewController() : nullptr; c; c = c->presentedViewController()) {
        auto* nav = dynamic_cast<toolkit::NavigationController*>(c);
        if (nav && !nav->viewControllers().empty())
            if (auto* panel = dynamic_cast<VC_LoginPanel*>(nav->viewControllers().front().get())) return panel;
    }
    return nullptr;
}

// Signs in as a user would: the account name typed into the page's field and the page's button
// tapped, played through the harness; then waits until the panel has gone and the account's first
// data has arrived (the settings and the lists).
bool signInThroughPanel(HX_ConnectAppDelegate& app, toolkit::testing::Harness& harness, const std::string& user,
                        double seconds) {
    auto play = [&](const std::string& steps) {
        auto script = toolkit::testing::parseInputScript(steps);
        if (!script.ok()) return false;
        if (auto played = toolkit::testing::playInputScript(harness, *script, nullptr, seconds); !played) {
            std::fprintf(stderr, "hx_connect: signing in: %s\n", played.error().localizedDescription().c_str());
            return false;
        }
        return true;
    };
    if (!play("wait-for Email\n")) return false;
    // Asked again for a kept account, the page shows its name already: the user only goes on.
    auto* field = dynamic_cast<toolkit::TextField*>(toolkit::testing::findVisible(harness.window(), "Email"));
    const bool filled = field && field->text() == user;
    if (!play(filled ? "click-on Next\n" : "click-on Email\ntype " + user + "\nclick-on Next\n")) return false;
    auto& clock = harness.clock();
    // A kept account keeps its session token until the new sign-in replaces it: the sign-in is
    // complete once the panel has closed over an account that has one.
    if (!clock.runUntil([&] { return signedIn(app) && !shownLoginPanel(harness.window()); }, seconds)) {
        std::fprintf(stderr, "hx_connect: the sign-in of %s did not complete within %.1f s\n", user.c_str(), seconds);
        return false;
    }
    if (!clock.runUntil([&] { return hxrun::applicationIdle(app); }, seconds))
        std::fprintf(stderr, "hx_connect: the account's data did not arrive within %.1f s\n", seconds);
    harness.settle();
    return true;
}

// Virtual seconds after which a view that just appeared has sent what it loads on appearing.
constexpr double kAppearingViewsLoadWithin = 1.0;

// Each view in turn, its picture and outline written into the out folder.
int visitViews(HX_ConnectAppDelegate& app, toolkit::testing::Harness& harness, const Options& options) {
    static const char* names[] = {"call", "sms", "voicemail", "history", "settings"};
    for (int index = 0; index < kHXViewCount; ++index) {
        // On the tablet the dial pad is a popover from the master list, closed for the next view.
        app.dismissPopoverAnimated(false);
        if (index == 0)
            app.showDialPad();
        else
            app.selectViewForIndex(index);
        // What the view asks of the service when it appears arrives before its picture is taken;
        // a list asks for its first page half a second after it appears, so that time passes first.
        harness.settle();
        harness.clock().advance(kAppearingViewsLoadWithin);
        harness.clock().runUntil([&] { return hxrun::applicationIdle(app); }, options.seconds);
        harness.settle();
        const auto stem = options.out / (std::to_string(index) + "-" + names[index]);
        if (auto status = toolkit::snapshotPNG(harness.window(), stem.string() + ".png"); !status) {
            std::fprintf(stderr, "hx_connect: %s\n", status.error().localizedDescription().c_str());
            return 1;
        }
        std::ofstream(stem.string() + ".txt", std::ios::binary) << toolkit::outline(harness.window());
    }
    return 0;
}

int runHeadless(HX_ConnectAppDelegate& app, toolkit::testing::Harness& harness, const Options& options) {
    std::vector<toolkit::testing::InputStep> input;
    if (!options.input.empty()) {
        auto script = readInputScript(options.input);
        if (!script.ok()) {
            std::fprintf(stderr, "hx_connect: %s: %s\n", options.input.c_str(),
                         script.error().localizedDescription().c_str());
            return 2;
        }
        input = std::move(*script);
    }
    // The run's device keys past F4, as a script's press-key or text-arrives plays them.
    toolkit::testing::setDeviceKeyHandler([&](const std::string& key) -> foundation::Result<bool> {
        const std::string name = foundation::lowercase(key);
        if (name == "f9" || name == "f10") {
            auto arrived = std::make_shared<std::optional<bool>>();
            hxrun::askServiceForText(options.service, name == "f10",
                                     [arrived](bool delivered, const std::string& line) {
                                         std::fprintf(stderr, "hx_connect: %s\n", line.c_str());
                                         *arrived = delivered;
                                     });
            // The route's reply comes over a socket, under the request's time-out on the clock.
            if (auto waited = hxrun::waitInRealTime(
                    harness.clock(), [&] { return arrived->has_value(); }, options.seconds,
                    "answer from the service's route for arriving texts");
                !waited)
                return waited.error();
            if (!**arrived)
                return foundation::Error::withDescription("hx_connect", 1, "no text arrived at the service");
            return true;
        }
        if (name == "f11") {
            hxrun::setConnectionOn(!hxrun::connectionOn());
            std::fprintf(stderr, "hx_connect: the network is %s\n", hxrun::connectionOn() ? "on" : "off");
            return true;
        }
        if (name == "f12") {
            hxrun::showCrashPrompt(harness.window());
            return true;
        }
        return false;
    });
    struct ForgetKeys {
        ~ForgetKeys() { toolkit::testing::setDeviceKeyHandler(nullptr); }
    } forgetKeys;
    // A home with the passcode on shows its lock at launch and holds the first reachability report
    // back until it is unlocked, and a device started offline reports no reachable service: the
    // script plays now, while the lock shows (it types the PIN) or the network is off.
    bool inputPlayed = false;
    harness.settle();
    if (app.lockShown || options.offline) {
        if (input.empty()) {
            std::fprintf(stderr, app.lockShown
                                     ? "hx_connect: the home is locked with a passcode: give an --input script "
                                       "that types its PIN (it plays while the lock shows)\n"
                                     : "hx_connect: the network is off (--offline): give an --input script "
                                       "that turns it on (press-key F11)\n");
            return 1;
        }
        auto played = toolkit::testing::playInputScript(
            harness, input,
            [&app] {
                return app.lockShown || !HXWebClientOf(app).firstReachabilityHandled ? app.isIdle()
                                                                                     : hxrun::applicationIdle(app);
            },
            options.seconds);
        if (!played) {
            std::fprintf(stderr, "hx_connect: %s: %s\n", options.input.c_str(),
                         played.error().localizedDescription().c_str());
            return 1;
        }
        inputPlayed = true;
        if (app.lockShown) {
            std::fprintf(stderr, "hx_connect: %s: the passcode lock still shows after the script\n",
                         options.input.c_str());
            return 1;
        }
    }
    if (!harness.clock().runUntil([&] { return HXWebClientOf(app).firstReachabilityHandled; }, options.seconds)) {
        std::fprintf(stderr, "hx_connect: waiting for the service's reachability: no report within %.1f s\n",
                     options.seconds);
        return 1;
    }
    harness.settle();
    if (!options.service.empty()) {
        // A kept account whose session the service no longer knows is asked to sign in again:
        // its panel comes up once the service has refused the session.
        // Its first loads go out a second apart: the service may refuse the first or a later one.
        for (int round = 0; round < 2 && signedIn(app) && !shownLoginPanel(harness.window()); ++round) {
            harness.clock().runUntil([&] { return shownLoginPanel(harness.window()) || hxrun::applicationIdle(app); },
                                     options.seconds);
            harness.settle();
            if (!shownLoginPanel(harness.window())) harness.clock().advance(kAppearingViewsLoadWithin);
        }
        if ((!signedIn(app) || shownLoginPanel(harness.window())) &&
            !signInThroughPanel(app, harness, options.user, options.seconds))
            return 1;
        // A kept account shows its stored rows whether or not the service is there: a run whose
        // service never answered a request has shown nothing of it and fails.
        if (HXWebClientOf(app).responsesReceived == 0) {
            const auto& failure = HXWebClientOf(app).lastFailure;
            std::fprintf(stderr, "hx_connect: loading the account's data: the service at %s never answered%s%s\n",
                         options.service.c_str(), failure.empty() ? "" : ": ", failure.c_str());
            return 1;
        }
    }
    if (!input.empty() && !inputPlayed) {
        auto played = toolkit::testing::playInputScript(
            harness, input, [&app] { return hxrun::applicationIdle(app); }, options.seconds);
        if (!played) {
            std::fprintf(stderr, "hx_connect: %s: %s\n", options.input.c_str(),
                         played.error().localizedDescription().c_str());
            return 1;
        }
    }
    if (options.backgroundFetch && !fetchInBackground(app, harness, options.seconds)) return 1;
    if (options.entryGiven()) {
        deliverEntryPoints(app, options);
        // What the entry opened has loaded and its delayed steps (a focus, a scroll) have run.
        harness.settle();
        harness.clock().advance(kAppearingViewsLoadWithin);
        harness.clock().runUntil([&] { return hxrun::applicationIdle(app); }, options.seconds);
        harness.settle();
        const auto stem = options.out / "entry";
        if (auto status = toolkit::snapshotPNG(harness.window(), stem.string() + ".png"); !status) {
            std::fprintf(stderr, "hx_connect: %s\n", status.error().localizedDescription().c_str());
            return 1;
        }
        std::ofstream(stem.string() + ".txt", std::ios::binary) << toolkit::outline(harness.window());
    }
    if (options.crash) hxrun::crash(*options.crash);
    if (int rc = visitViews(app, harness, options)) return rc;
    foundation::Application::shared().terminate();
    (void)services::UserNotificationCenter::currentNotificationCenter()->deliverDueRequests(harness.clock().now());
    if (options.listNotifications) printNotifications();
    std::printf("%s\n", options.out.c_str());
    return 0;
}

// The desktop window until it is closed, then the save of termination.
int runInWindow(HX_ConnectAppDelegate& app, toolkit::Window& window, const Options& options) {
    windowing::FrontEndOptions frontEndOptions;
    frontEndOptions.title = foundation::Bundle::main().objectForInfoDictionaryKey("CFBundleDisplayName").stringValue();
    frontEndOptions.screenshotDirectory = options.out;
    frontEndOptions.timedAnimations = true;
    // The notice of a number called writes it as the app's screens do.
    services::URLOpener::setNumberFormat(
        [](const std::string& number) { return PhoneExtensions::formattedPhoneNumberFromString(number); });
    frontEndOptions.hooks = {
        [&app] { app.applicationDidReceiveMemoryWarning(); },
        [&app] { app.applicationDidEnterBackground(); },
        [&app] { app.applicationWillEnterForeground(); },
        [&app](std::function<void(int)> completion) { app.applicationPerformFetchWithCompletionHandler(completion); },
        [&app](const std::string& url) { (void)app.applicationOpenURL(url); },
        [&app](const std::string& type, const foundation::Dictionary& info) {
            (void)app.continueUserActivity(type, info);
        },
        [service = options.service](bool fromNewNumber) {
            hxrun::askServiceForText(service, fromNewNumber, [](bool, const std::string& line) {
                std::fprintf(stderr, "hx_connect: %s\n", line.c_str());
            });
        },
        [] {
            hxrun::setConnectionOn(!hxrun::connectionOn());
            std::fprintf(stderr, "hx_connect: the network is %s\n", hxrun::connectionOn() ? "on" : "off");
        },
        [&window] { hxrun::showCrashPrompt(window); }};
    frontEndOptions.screenshotSaved = [](const std::filesystem::path& path) {
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
    };
    if (!options.input.empty()) {
        auto text = foundation::files::readData(options.input);
        if (!text.ok()) {
            std::fprintf(stderr, "hx_connect: cannot read %s\n", options.input.c_str());
            return 1;
        }
        auto script = windowing::parseInputScript(std::string(text->begin(), text->end()));
        if (!script.ok()) {
            std::fprintf(stderr, "hx_connect: %s: %s\n", options.input.c_str(),
                         script.error().localizedDescription().c_str());
            return 2;
        }
        frontEndOptions.script = std::move(*script);
        frontEndOptions.idle = [&app] { return hxrun::applicationIdle(app); };
        frontEndOptions.waitTimeout = options.seconds;
    }
    auto frontEnd = windowing::FrontEnd::open(window, std::move(frontEndOptions));
    if (!frontEnd.ok()) {
        std::fprintf(stderr, "hx_connect: %s\n", frontEnd.error().localizedDescription().c_str());
        return 1;
    }
    // A stop signal closes the window as its close button does.
    windowing::FrontEnd* shown = frontEnd->get();
    setEndRun([shown](int) { shown->close(); });
    // Sound goes to the desktop's audio output while the window is open; without one it plays to nothing.
    std::shared_ptr<windowing::SdlAudioOutput> audio;
    if (auto opened = windowing::SdlAudioOutput::open(); opened.ok()) {
        audio = *opened;
        services::AudioOutput::setShared(audio);
    } else {
        std::fprintf(stderr, "hx_connect: sound plays to nothing: %s\n", opened.error().localizedDescription().c_str());
    }
    std::string keys;
    for (const auto& key : windowing::deviceKeys())
        keys += std::string(keys.empty() ? "" : ", ") + "F" + std::to_string(key.key - SDLK_F1 + 1) + " " +
                key.meaning +
                (key.command == windowing::DeviceCommand::TakeScreenshot ? " into " + options.out.string() : "");
    std::fprintf(stderr, "hx_connect: %s\n", keys.c_str());
    if (options.crash) dispatch::Queue::main()->async([kind = *options.crash] { hxrun::crash(kind); });
    std::fprintf(stderr, "hx_connect: %s\n", windowing::kPointerHelp);
    const auto status = (*frontEnd)->run();
    gEndRun = nullptr;
    if (const int signal = gStopSignal.load())
        std::fprintf(stderr, "hx_connect: ended by %s\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    services::AudioOutput::setShared(nullptr);
    foundation::Application::shared().terminate();
    if (options.listNotifications) printNotifications();
    if (!status) {
        std::fprintf(stderr, "hx_connect: %s\n", status.error().localizedDescription().c_str());
        return 1;
    }
    if (const int signal = gStopSignal.load()) return 128 + signal;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts: every thread inherits the mask, and only the watcher takes them.
    const sigset_t stop = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            printHelp();
            return 0;
        } else if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--offline") {
            options.offline = true;
        } else if (arg == "--system-version" || arg == "--biometry" || arg == "--crash") {
            const char* v = value();
            if (!v) return usage();
            const std::string text = v;
            if (arg == "--system-version") {
                char* end = nullptr;
                const long n = std::strtol(v, &end, 10);
                if (end == v || *end || n < kOldestSystem || n > kNewestSystem) {
                    std::fprintf(stderr, "hx_connect: --system-version %s: give a whole number from %d to %d\n", v,
                                 kOldestSystem, kNewestSystem);
                    return 2;
                }
                options.systemVersion = static_cast<int>(n);
            } else if (arg == "--biometry") {
                const auto type = hxrun::biometryNamed(text);
                if (!type) {
                    std::fprintf(stderr, "hx_connect: --biometry %s: give none, fingerprint or face\n", v);
                    return 2;
                }
                options.biometry = *type;
            } else {
                options.crash = hxrun::crashKindNamed(text);
                if (!options.crash) {
                    std::fprintf(stderr, "hx_connect: --crash %s: give null-write, exception or abort\n", v);
                    return 2;
                }
            }
        } else if (arg == "--background-fetch") {
            options.backgroundFetch = true;
        } else if (arg == "--notifications") {
            options.listNotifications = true;
        } else if (arg == "--open-url" || arg == "--shortcut" || arg == "--activity" || arg == "--search") {
            const char* v = value();
            if (!v || !*v) return usage();
            if (arg == "--search") options.search = v;
            if (arg == "--open-url") options.openURL = v;
            if (arg == "--shortcut") {
                options.shortcut = v;
                if (std::find(kShortcutTypes.begin(), kShortcutTypes.end(), options.shortcut) == kShortcutTypes.end()) {
                    std::fprintf(stderr, "hx_connect: --shortcut %s: the app has the shortcuts %s\n", v,
                                 joined(kShortcutTypes).c_str());
                    return 2;
                }
            }
            if (arg == "--activity") {
                options.activity = parseActivity(v);
                if (!options.activity) {
                    std::fprintf(stderr, "hx_connect: --activity %s: give TYPE?KEY=VALUE&... with encoded values\n", v);
                    return 2;
                }
                if (std::find(kActivityTypes.begin(), kActivityTypes.end(), options.activity->first) ==
                    kActivityTypes.end()) {
                    std::fprintf(stderr, "hx_connect: --activity %s: the app continues the activities %s\n",
                                 options.activity->first.c_str(), joined(kActivityTypes).c_str());
                    return 2;
                }
            }
        } else if (arg == "--service" || arg == "--ingestion" || arg == "--out" || arg == "--seconds" ||
                   arg == "--device" || arg == "--user" || arg == "--input" || arg == "--locations" ||
                   arg == "--placemarks") {
            const char* v = value();
            if (!v) return usage();
            if (arg == "--user") options.user = v;
            if (arg == "--device") options.device = v;
            // An origin given empty is the caller's fault (one read before it was written): the run
            // would quietly fall back to the built-in hosts, never sign in and still succeed.
            if ((arg == "--service" || arg == "--ingestion") && !*v) {
                std::fprintf(stderr,
                             "hx_connect: %s needs an origin such as http://127.0.0.1:PORT; the one given is empty\n",
                             arg.c_str());
                return 2;
            }
            if (arg == "--service") options.service = v;
            if (arg == "--ingestion") options.ingestion = v;
            if (arg == "--out") options.out = v;
            if (arg == "--seconds") options.seconds = std::atof(v);
            if (arg == "--input") options.input = v;
            if (arg == "--locations") options.locations = v;
            if (arg == "--placemarks") options.placemarks = v;
        } else {
            return usage();
        }
    }
    const auto profile = profileFor(options.device);
    if (!profile) return usage();
    if (options.user.find('\n') != std::string::npos) return usage();
    if (!options.headless && !displayPresent()) options.headless = true;
    if (options.out.empty()) options.out = foundation::temporaryDirectory() / "run";
    std::error_code ec;
    std::filesystem::create_directories(options.out, ec);
    if (ec) {
        std::fprintf(stderr, "hx_connect: cannot create %s: %s\n", options.out.c_str(), ec.message().c_str());
        return 1;
    }

    dispatch::RunLoop::main();
    watchStopSignals();
    // Text is sized by the faces it is drawn with, so what is laid out fits what is drawn.
    toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared());
    // Headless, the harness owns the window and the clock; in a desktop window time is real.
    std::unique_ptr<toolkit::testing::Harness> harness;
    std::unique_ptr<toolkit::Window> desktopWindow;
    if (options.headless) {
        harness = std::make_unique<toolkit::testing::Harness>(*profile, options.systemVersion, clocks::wallNow());
        // The service answers in real time: while a request is out, the run's waits (wait-idle,
        // wait-frames, the loads it waits for) move the clock no faster than real time, so a slow
        // program or a loaded machine does not step a request past its time-out.
        harness->clock().setPacedByRealIO(true);
    } else {
        toolkit::Device::current().setScreen(*profile);
        toolkit::Device::current().setSystemVersion(options.systemVersion);
        desktopWindow = std::make_unique<toolkit::Window>(*profile);
    }
    toolkit::Window& window = harness ? harness->window() : *desktopWindow;
    // The device's places and route, read before the launch: a file that does not read stops the
    // run, naming it.
    std::vector<services::RoutePoint> route;
    if (!options.locations.empty()) {
        auto text = foundation::files::readData(options.locations);
        auto parsed = text.ok() ? services::parseLocationRoute(
                                      std::string_view(reinterpret_cast<const char*>(text->data()), text->size()))
                                : foundation::Result<std::vector<services::RoutePoint>>(text.error());
        if (!parsed.ok()) {
            std::fprintf(stderr, "hx_connect: %s: %s\n", options.locations.c_str(),
                         parsed.error().localizedDescription().c_str());
            return 2;
        }
        route = std::move(parsed.value());
    }
    if (!options.placemarks.empty()) {
        if (auto loaded = services::Geocoder::loadPlacemarksFromFile(options.placemarks); !loaded.ok()) {
            std::fprintf(stderr, "hx_connect: %s: %s\n", options.placemarks.c_str(),
                         loaded.error().localizedDescription().c_str());
            return 2;
        }
    } else {
        const auto table = hxrun::demoPlacemarks();
        (void)services::Geocoder::loadPlacemarks(foundation::Data(table.begin(), table.end()));
    }
    if (options.locations.empty()) route = hxrun::demoRoute();
    // What the device holds for the app: contacts, pictures, a camera, access granted.
    if (auto furnished = hxrun::furnishHome(); !furnished)
        std::fprintf(stderr, "hx_connect: the device's contacts and pictures: %s\n",
                     furnished.error().localizedDescription().c_str());
    hxrun::installLocationPrompt(window);
    hxrun::installBiometrics(options.biometry, window);
    // The device's network, which F11 and --offline turn off.
    hxrun::installConnection();
    if (options.offline) hxrun::setConnectionOn(false);
    if (auto kept = services::SearchableIndex::defaultSearchableIndex()->keepInFile(searchIndexFile());
        !kept.note.empty())
        std::fprintf(stderr, "hx_connect: the search index starts empty, its messages are indexed again: %s\n",
                     kept.note.c_str());
    auto app = makeApplication(options.device);
    HXApplicationModel::setSharedDelegate(app);
    foundation::Application::shared().setDelegate(app);
    if (!options.service.empty()) HXWebClientOf(*app).endpoints = HXEndpoints::allAt(options.service);
    app->setWindow(&window);
    app->setScreens(std::make_shared<HXUIScreens>());
    configureTelemetry(*app, options);
    app->applicationDidFinishLaunchingWithOptions();
    if (!harness) deliverEntryPoints(*app, options);
    services::replayLocationRoute(route);

    // The first data load starts at the first reachability report of the service host: its monitor
    // reports the host's status once as it starts (behind a passcode lock, when the unlock starts
    // it), and again each time the app comes back to the foreground.
    if (harness)
        // Headless, the run ends where it stands: the app's termination, the kept index, the status.
        setEndRun([](int signal) {
            foundation::Application::shared().terminate();
            (void)services::SearchableIndex::defaultSearchableIndex()->writeKeptFile();
            std::fprintf(stderr, "hx_connect: ended by %s\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
            std::fflush(nullptr);
            std::_Exit(128 + signal);
        });
    const int rc = harness ? runHeadless(*app, *harness, options) : runInWindow(*app, window, options);
    gEndRun = nullptr;
    if (auto written = services::SearchableIndex::defaultSearchableIndex()->writeKeptFile(); !written)
        std::fprintf(stderr, "hx_connect: the search index was not kept: %s\n",
                     written.error().localizedDescription().c_str());
    HXApplicationModel::setSharedDelegate(nullptr);
    return rc;
}
