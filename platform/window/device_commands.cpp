#include "platform/window/device_commands.h"

#include "platform/foundation/application.h"

namespace windowing {

void shake(toolkit::Window& window) { toolkit::deliverShake(window); }

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
    toolkit::deliverMemoryWarning(window);
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
