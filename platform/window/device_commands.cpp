#include "platform/window/device_commands.h"

#include <vector>

#include "platform/foundation/application.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/view_controller.h"

namespace windowing {

using toolkit::ViewController;

void shake(toolkit::Window& window) {
    toolkit::Responder* responder = toolkit::firstResponder();
    if (!responder) responder = window.rootViewController().get();
    if (!responder) return;
    responder->motionBegan();
    responder->motionEnded();
}

void rotate(toolkit::Window& window) {
    const bool landscape = window.profile().isLandscape();
    window.setProfile(
        window.profile().rotatedTo(landscape ? toolkit::Orientation::Portrait : toolkit::Orientation::LandscapeLeft));
    toolkit::Device::current().setScreen(window.profile());
}

void toggleAppearance(toolkit::Window& window) {
    const bool dark = window.traitCollection().style == toolkit::InterfaceStyle::dark;
    window.setInterfaceStyle(dark ? toolkit::InterfaceStyle::light : toolkit::InterfaceStyle::dark);
}

void memoryWarning(toolkit::Window& window, const ApplicationHooks& hooks) {
    if (hooks.didReceiveMemoryWarning) hooks.didReceiveMemoryWarning();
    std::function<void(ViewController*)> tell = [&](ViewController* controller) {
        controller->didReceiveMemoryWarning();
        // A controller may drop children while it is told; walk a copy.
        for (auto& child : std::vector<toolkit::ViewControllerPtr>(controller->children())) tell(child.get());
        if (controller->presentedViewController()) tell(controller->presentedViewController());
    };
    if (auto root = window.rootViewController()) tell(root.get());
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
}

void toggleBackground(const ApplicationHooks& hooks) {
    auto& application = foundation::Application::shared();
    if (application.applicationState() == foundation::ApplicationState::Background) {
        if (hooks.willEnterForeground) hooks.willEnterForeground();
        application.setApplicationState(foundation::ApplicationState::Active);
    } else {
        application.setApplicationState(foundation::ApplicationState::Background);
        if (hooks.didEnterBackground) hooks.didEnterBackground();
    }
}

}  // namespace windowing
