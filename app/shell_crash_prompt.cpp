// The app's side of the crash service: the prompt that asks whether to send the reports of a
// crash, and the attachment that describes the app's state.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_attachment_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"
#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/traits.h"

namespace {

constexpr const char* kTelemetrySecret = "5d1e7c40-2b9a-4f63-8e0d-93a6b1f2c7e4";

// The "AppInfo.txt" text of the application object, asked for from any thread. The crash service
// asks on its own queue while the main thread may replace the account or its numbers: the text is
// made on the main thread, where the object is locked, and this thread waits for it (bounded, in
// case the main thread is held up). Empty once the object has gone.
std::string appInfoTextOf(const std::weak_ptr<HX_ConnectAppDelegate>& weak) {
    if (dispatch::isMainThread()) {
        auto app = weak.lock();
        return app ? app->appInfoText() : std::string();
    }
    struct Copy {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<std::string> text;
    };
    auto copy = std::make_shared<Copy>();
    dispatch::Queue::main()->async([weak, copy] {
        auto app = weak.lock();
        std::string text = app ? app->appInfoText() : std::string();
        std::lock_guard lock(copy->mutex);
        copy->text = std::move(text);
        copy->done.notify_all();
    });
    std::unique_lock lock(copy->mutex);
    if (!copy->done.wait_for(lock, std::chrono::seconds(10), [&] { return copy->text.has_value(); }))
        return "The app's state could not be read: the main thread did not answer.\n";
    return *copy->text;
}

}  // namespace

class HXCrashesDelegate : public ZIVOCrashesDelegate {
public:
    explicit HXCrashesDelegate(std::weak_ptr<HX_ConnectAppDelegate> app) : app_(std::move(app)) {}
    bool respondsToAttachmentsWithCrashes() const override { return true; }
    std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>
    attachmentsWithCrashes(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&) override {
        if (app_.expired()) return {};
        return {ZIVOErrorAttachmentLog::attachmentWithText(appInfoTextOf(app_), std::string("AppInfo.txt"))};
    }

private:
    std::weak_ptr<HX_ConnectAppDelegate> app_;
};

void HX_ConnectAppDelegate::startTelemetryAtLaunch(std::optional<std::string> logUrl) {
    startsTelemetry_ = true;
    telemetryLogUrl_ = std::move(logUrl);
}

void HX_ConnectAppDelegate::startTelemetry() {
    record("startTelemetry");
    if (startsTelemetry_) {
        // Runs and tests send to a local ingestion endpoint; the SDK must know it before it
        // builds its channel group, or its first logs go to the telemetry service.
        if (telemetryLogUrl_) ZIVORurIdurev::setLogUrl(*telemetryLogUrl_);
        // The device descriptor is built on the SDK's own queue, where the toolkit's screen may not
        // be read: it gets the main screen's bounds and scale as they are at launch.
        const toolkit::ScreenProfile& screen = toolkit::Device::current().screen();
        const auto bounds = screen.bounds();
        ZIVODeviceTracker::setMainScreenProvider(
            [metrics = ZIVOScreenMetrics{bounds.size.width, bounds.size.height, screen.scale}] { return metrics; });
        ZIVORurIdurev::start(std::string(kTelemetrySecret), {ZIVOCrashes::sharedInstance()});
    }
    installCrashConfirmation();
}

void HX_ConnectAppDelegate::installCrashConfirmation() {
    crashesDelegate_ = std::make_shared<HXCrashesDelegate>(weakSelf());
    ZIVOCrashes::setDelegate(crashesDelegate_);
    ZIVOCrashes::setUserConfirmationHandler([weak = weakSelf()](const std::vector<std::shared_ptr<ZIVOErrorReport>>&) {
        auto self = weak.lock();
        if (!self) return false;
        // "CFBundleDisplayName", else the bundle's name: a bundle without the key never shows a
        // title that begins with an empty line.
        const std::string name = foundation::Bundle::main().displayName();
        auto choice = [](unsigned confirmation) {
            return [confirmation] { ZIVOCrashes::classNotifyWithUserConfirmation(confirmation); };
        };
        self->presentAlert(
            HXAlert{name + "\nQuit Unexpectedly",
                    "We're very sorry for the inconvenience and will do everything we can to prevent this crash in the "
                    "future.\n\nWould you like to send an anonymous report so we can fix the problem?",
                    {{"Don't Send", HXAlertAction::Style::Cancel, choice(ZIVOUserConfirmationDontSend)},
                     {"Send", HXAlertAction::Style::Default, choice(ZIVOUserConfirmationSend)},
                     {"Always Send", HXAlertAction::Style::Default, choice(ZIVOUserConfirmationAlways)}},
                    std::nullopt});
        // The app asks the user itself.
        return true;
    });
}

std::string HX_ConnectAppDelegate::appInfoText() {
    if (dispatch::isMainThread()) return appInfoTextOnMain();
    return appInfoTextOf(weakSelf());
}

std::string HX_ConnectAppDelegate::appInfoTextOnMain() {
    const auto infos = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("accountInfo");
    const auto current = account();
    std::string text;
    text += "CNContactStore authorizationStatus: " +
            std::to_string(static_cast<long>(services::ContactStore::authorizationStatus())) + "\n";
    text += "cachedContacts: " + std::to_string(cachedContacts().size()) + "\n";
    text += "allContacts: " + std::to_string(allContacts().size()) + "\n";
    text += std::to_string(infos ? infos->size() : 0) + " Account(s)\n";
    text += std::to_string(current ? current->phones().size() : 0) + " Linked Numbers\n";
    text += "AuthV2: " + std::to_string(current ? current->authV2().value_or("").size() : 0) + " chars\n";
    text += std::to_string(current ? current->quickSettings().size() : 0) + " Quick Settings\n";
    text += versionString();
    return text;
}
