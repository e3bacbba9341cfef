// The app as a program: the application object in its device's form, with its window. With a
// display it runs in a desktop window until the window is closed (F6 writes a screenshot into
// the out folder and prints its path). Headless (no display, or --headless), it launches, waits
// for the service's first reachability report, signs in through the sign-in panel and waits for
// the account's first data, visits each view, writes a PNG snapshot and an outline of each into a
// folder it prints, saves as at termination and exits.
//   hx_connect [--headless] [--device phone|phone-x|tablet] [--service ORIGIN] [--ingestion ORIGIN]
//              [--user NAME] [--out DIR] [--seconds S] [--input FILE]
// ORIGIN points every host role at one service (the local emulator); without it the app's
// built-in hosts stay and nothing signs in. NAME is the account typed into the sign-in page (the
// emulator's demo account by default); in the window the user signs in. The device picks the
// screen and the application object's form. --ingestion points the telemetry SDK's logs (and
// crash reports) at a local ingestion endpoint; without it they go to the telemetry service.
// FILE is input played into the window (platform/window/input_script.h), for tests; the app is
// idle to it once it has heard the service's first reachability report, no request is under way
// and a signed-in account has its number, and each wait lasts at most S s.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/views.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/window.h"
#include "platform/window/front_end.h"
#include "service/reachability.h"
#include "service/request_machinery.h"
#include "ui/shell/ui_screens.h"
#include "ui/signin/login_panel.h"

#if defined(HX_SANITIZER_ADDRESS)
// Libraries that keep process-wide state until the process ends, by their design: the message bus
// the desktop window's video start opens (only a program may shut that library down, and SDL
// leaves it up), and the font matching behind text drawing (as the test programs say too).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libpangoft2-1.0.so\nleak:libpango-1.0.so\n";
}
#endif

namespace {

struct Options {
    bool headless = false;
    std::string device = "phone";
    std::string service;
    std::string ingestion;
    std::filesystem::path out;
    double seconds = 5;
    std::string user = "user@example.test";
    std::filesystem::path input;
};

int usage() {
    std::fprintf(
        stderr,
        "usage: hx_connect [--headless] [--device phone|phone-x|tablet] [--service ORIGIN] [--ingestion ORIGIN] "
        "[--user NAME] [--out DIR] [--seconds S] [--input FILE]\n");
    return 2;
}

bool displayPresent() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* v = std::getenv(name); v && *v) return true;
    return false;
}

// Runs the main loop until done() or the time is up (real time: the app talks to a real service).
template <typename F>
bool runLoopUntil(F done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        dispatch::RunLoop::main().runOnce(0.02);
    }
    return true;
}

// The telemetry SDK starts at launch step 1 with its crash service; a run or test against local
// endpoints has it send there (the only case in which the app sets the SDK's log URL).
void configureTelemetry(HX_ConnectAppDelegate& app, const Options& options) {
    app.startTelemetryAtLaunch(options.ingestion.empty() ? std::nullopt : std::optional(options.ingestion));
}

// The screen a device name stands for and the application object's form on it: the phone (the
// default) and the phone with a notch run the tab bar, the tablet the split view.
struct DeviceForm {
    toolkit::ScreenProfile profile;
    std::shared_ptr<HX_ConnectAppDelegate> app;
};
std::optional<DeviceForm> makeDeviceForm(const std::string& device) {
    if (device == "phone")
        return DeviceForm{toolkit::ScreenProfile::iPhone8(), std::make_shared<HX_ConnectAppDelegate_iPhone>()};
    if (device == "phone-x")
        return DeviceForm{toolkit::ScreenProfile::iPhoneX(), std::make_shared<HX_ConnectAppDelegate_iPhone>()};
    if (device == "tablet")
        return DeviceForm{toolkit::ScreenProfile::iPad(), std::make_shared<HX_ConnectAppDelegate_iPad>()};
    return std::nullopt;
}

// ---- signing in headless

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

bool pageLoaded(VC_LoginPanel* panel) {
    return panel && panel->webView() && panel->webView()->document() && !panel->webView()->isLoading();
}

// A finger on the view's centre, through the window's hit-testing as a device delivers it.
void tapView(toolkit::Window& window, toolkit::View& view) {
    toolkit::flushLayout();
    const int touch = window.touchDown(view.convertPointTo({view.bounds().midX(), view.bounds().midY()}, nullptr));
    runLoopUntil([] { return false; }, 0.05);
    window.touchUp(touch);
    runLoopUntil([] { return false; }, 0.05);
}

toolkit::View* findInPage(toolkit::View& page, const std::function<bool(toolkit::View&)>& match) {
    if (match(page)) return &page;
    for (auto& sub : page.subviews())
        if (auto* found = findInPage(*sub, match)) return found;
    return nullptr;
}

// Signs in as a user would: the account name typed into the page's field, the page's button
// tapped; then waits until the account's first data has arrived (the settings and the lists).
bool signInThroughPanel(HX_ConnectAppDelegate& app, toolkit::Window& window, const std::string& user, double seconds) {
    if (!runLoopUntil([&] { return pageLoaded(shownLoginPanel(window)); }, seconds)) {
        std::fprintf(stderr, "hx_connect: the sign-in page did not load within %.1f s\n", seconds);
        return false;
    }
    runLoopUntil([] { return false; }, 0.1);  // the page's own scripts after loading
    auto* page = shownLoginPanel(window)->webView();
    auto* field = findInPage(*page, [](toolkit::View& v) {
        return dynamic_cast<toolkit::TextField*>(&v) && v.accessibility().identifier == "Email";
    });
    auto* next = findInPage(
        *page, [](toolkit::View& v) { return dynamic_cast<toolkit::Button*>(&v) && v.outlineText() == "Next"; });
    if (!field || !next) {
        std::fprintf(stderr, "hx_connect: the sign-in page has no account field or button\n");
        return false;
    }
    tapView(window, *field);
    auto* input = dynamic_cast<toolkit::TextInput*>(toolkit::firstResponder());
    if (!input) return false;
    while (input->hasText()) input->deleteBackward();
    input->insertText(user);
    tapView(window, *next);
    if (!runLoopUntil([&] { return app.account() && app.account()->authV2(); }, seconds)) {
        std::fprintf(stderr, "hx_connect: the sign-in of %s did not complete within %.1f s\n", user.c_str(), seconds);
        return false;
    }
    if (!runLoopUntil([&] { return !shownLoginPanel(window); }, seconds))
        std::fprintf(stderr, "hx_connect: the sign-in panel stayed up after the sign-in\n");
    if (!runLoopUntil([&] { return app.account()->HXnumber().has_value() && app.isIdle(); }, seconds))
        std::fprintf(stderr, "hx_connect: the account's data did not arrive within %.1f s\n", seconds);
    return true;
}

// The desktop window until it is closed, then the save of termination.
int runInWindow(HX_ConnectAppDelegate& app, toolkit::Window& window, const Options& options) {
    windowing::FrontEndOptions frontEndOptions;
    frontEndOptions.title = foundation::Bundle::main().objectForInfoDictionaryKey("CFBundleDisplayName").stringValue();
    frontEndOptions.screenshotDirectory = options.out;
    frontEndOptions.hooks = {[&app] { app.applicationDidReceiveMemoryWarning(); },
                             [&app] { app.applicationDidEnterBackground(); },
                             [&app] { app.applicationWillEnterForeground(); }};
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
        frontEndOptions.idle = [&app] {
            // A signed-in account is settled once its own number has arrived.
            const auto account = app.account();
            if (account && account->authV2() && !account->HXnumber()) return false;
            return app.webClient().firstReachabilityHandled && app.isIdle();
        };
        frontEndOptions.waitTimeout = options.seconds;
    }
    auto frontEnd = windowing::FrontEnd::open(window, std::move(frontEndOptions));
    if (!frontEnd.ok()) {
        std::fprintf(stderr, "hx_connect: %s\n", frontEnd.error().localizedDescription().c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "hx_connect: F1 shake, F2 rotate, F3 light/dark, F4 memory warning, F5 background/foreground, "
                 "F6 screenshot into %s\n",
                 options.out.c_str());
    const auto status = (*frontEnd)->run();
    app.applicationWillTerminate();
    if (!status) {
        std::fprintf(stderr, "hx_connect: %s\n", status.error().localizedDescription().c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--service" || arg == "--ingestion" || arg == "--out" || arg == "--seconds" ||
                   arg == "--device" || arg == "--user" || arg == "--input") {
            const char* v = value();
            if (!v) return usage();
            if (arg == "--user") options.user = v;
            if (arg == "--device") options.device = v;
            if (arg == "--service") options.service = v;
            if (arg == "--ingestion") options.ingestion = v;
            if (arg == "--out") options.out = v;
            if (arg == "--seconds") options.seconds = std::atof(v);
            if (arg == "--input") options.input = v;
        } else {
            return usage();
        }
    }
    auto form = makeDeviceForm(options.device);
    if (!form) return usage();
    if (!options.headless && !displayPresent()) options.headless = true;
    if (options.out.empty()) options.out = foundation::temporaryDirectory() / "run";
    std::error_code ec;
    std::filesystem::create_directories(options.out, ec);
    if (ec) {
        std::fprintf(stderr, "hx_connect: cannot create %s: %s\n", options.out.c_str(), ec.message().c_str());
        return 1;
    }

    dispatch::RunLoop::main();
    // Text is sized by the faces it is drawn with, so what is laid out fits what is drawn.
    toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared());
    toolkit::Device::current().setScreen(form->profile);
    toolkit::Window window(form->profile);
    auto app = form->app;
    HXApplicationModel::setSharedDelegate(app);
    foundation::Application::shared().setDelegate(app);
    if (!options.service.empty()) app->webClient().endpoints = HXEndpoints::allAt(options.service);
    app->setWindow(&window);
    app->setScreens(std::make_shared<HXUIScreens>());
    configureTelemetry(*app, options);
    app->applicationDidFinishLaunchingWithOptions();

    // The first data load starts at the first reachability report of the service host; the
    // platform reports the host's status once when monitoring starts.
    {
        if (auto reach = Reachability::reachabilityWithHostName(app->serviceHost()))
            dispatch::Queue::main()->async(
                [app, reach] { app->reachabilityChanged(reach->currentReachabilityStatus()); });
    }
    if (!options.headless) {
        const int rc = runInWindow(*app, window, options);
        HXApplicationModel::setSharedDelegate(nullptr);
        return rc;
    }
    if (!runLoopUntil([&] { return app->webClient().firstReachabilityHandled; }, options.seconds))
        std::fprintf(stderr, "hx_connect: no reachability report of the service within %.1f s\n", options.seconds);
    if (!options.service.empty() && !signInThroughPanel(*app, window, options.user, options.seconds)) return 1;

    static const char* names[] = {"call", "sms", "voicemail", "history", "settings"};
    for (int index = 0; index < kHXViewCount; ++index) {
        // On the tablet the dial pad is a popover from the master list, closed for the next view.
        app->dismissPopoverAnimated(false);
        if (index == 0)
            app->showDialPad();
        else
            app->selectViewForIndex(index);
        runLoopUntil([] { return false; }, 0.1);
        toolkit::flushLayout();
        const auto stem = options.out / (std::to_string(index) + "-" + names[index]);
        if (auto status = toolkit::snapshotPNG(window, stem.string() + ".png"); !status) {
            std::fprintf(stderr, "hx_connect: %s\n", status.error().localizedDescription().c_str());
            return 1;
        }
        std::ofstream(stem.string() + ".txt", std::ios::binary) << toolkit::testing::outline(window);
    }
    app->applicationWillTerminate();
    std::printf("%s\n", options.out.c_str());
    HXApplicationModel::setSharedDelegate(nullptr);
    return 0;
}
