// The app as a program: the application object in its phone form, with its window. Headless, it
// launches, waits for the service's first reachability report, visits each view, writes a PNG
// snapshot and an outline of each into a folder it prints, saves as at termination and exits.
//   hx_connect --headless [--device phone|phone-x|tablet] [--service ORIGIN] [--ingestion ORIGIN]
//              [--out DIR] [--seconds S]
// ORIGIN points every host role at one service (the local emulator); without it the app's
// built-in hosts stay. The device picks the screen and the application object's form.
// --ingestion points the telemetry SDK's logs (and crash reports) at a local ingestion endpoint;
// without it they go to the telemetry service.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/views.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/files.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/window.h"
#include "service/reachability.h"
#include "service/request_machinery.h"
#include "ui/shell/ui_screens.h"

namespace {

struct Options {
    bool headless = false;
    std::string device = "phone";
    std::string service;
    std::string ingestion;
    std::filesystem::path out;
    double seconds = 5;
};

int usage() {
    std::fprintf(stderr, "usage: hx_connect --headless [--device phone|phone-x|tablet] [--service ORIGIN] "
                         "[--ingestion ORIGIN] [--out DIR] [--seconds S]\n");
    return 2;
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

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--service" || arg == "--ingestion" || arg == "--out" || arg == "--seconds" ||
                   arg == "--device") {
            const char* v = value();
            if (!v) return usage();
            if (arg == "--device") options.device = v;
            if (arg == "--service") options.service = v;
            if (arg == "--ingestion") options.ingestion = v;
            if (arg == "--out") options.out = v;
            if (arg == "--seconds") options.seconds = std::atof(v);
        } else {
            return usage();
        }
    }
    auto form = makeDeviceForm(options.device);
    if (!form) return usage();
    if (!options.headless) {
        std::fprintf(stderr, "hx_connect: only the headless run is available; pass --headless\n");
        return 2;
    }
    if (options.out.empty()) options.out = foundation::temporaryDirectory() / "run";
    std::error_code ec;
    std::filesystem::create_directories(options.out, ec);
    if (ec) {
        std::fprintf(stderr, "hx_connect: cannot create %s: %s\n", options.out.c_str(), ec.message().c_str());
        return 1;
    }

    dispatch::RunLoop::main();
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
    if (!runLoopUntil([&] { return app->webClient().firstReachabilityHandled; }, options.seconds))
        std::fprintf(stderr, "hx_connect: no reachability report of the service within %.1f s\n", options.seconds);

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
