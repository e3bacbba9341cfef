#include "RurIdurev/RurIdurev/Internals/DelegateForwarder/app_delegate_forwarder.h"

namespace {

std::mutex& forwarderMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::shared_ptr<ZIVOAppDelegateForwarder>& forwarderSlot() {
    static auto* instance = new std::shared_ptr<ZIVOAppDelegateForwarder>;
    return *instance;
}

}  // namespace

std::shared_ptr<ZIVOAppDelegateForwarder> ZIVOAppDelegateForwarder::sharedInstance() {
    std::lock_guard lock(forwarderMutex());
    auto& slot = forwarderSlot();
    if (!slot) {
        slot.reset(new ZIVOAppDelegateForwarder());
        // After construction, so that the switch reading sees the finished object.
        slot->setEnabledFromPlistForKey(kZIVOAppDelegateForwarderEnabledKey);
    }
    return slot;
}

void ZIVOAppDelegateForwarder::resetSharedInstance() {
    std::lock_guard lock(forwarderMutex());
    forwarderSlot().reset();
}

std::map<std::string, std::string> ZIVOAppDelegateForwarder::deprecatedSelectors() const {
    return {{kZIVOOpenURLOptionsSelector, kZIVOOpenURLSourceApplicationSelector}};
}

ZIVODelegateCall ZIVOAppDelegateForwarder::openURLCall(const std::string& url, const foundation::Dictionary& options) {
    return {kZIVOOpenURLOptionsSelector, {foundation::Value(url), foundation::Value(options)}};
}

ZIVODelegateCall ZIVOAppDelegateForwarder::openURLCall(const std::string& url,
                                                       const std::optional<std::string>& sourceApplication,
                                                       const foundation::Value& annotation) {
    return {kZIVOOpenURLSourceApplicationSelector,
            {foundation::Value(url), sourceApplication ? foundation::Value(*sourceApplication) : foundation::Value(),
             annotation}};
}

std::optional<bool> ZIVOAppDelegateForwarder::callDelegate(ZIVOCustomDelegate& delegate, const ZIVODelegateCall& call,
                                                           bool returnedValue) {
    auto* app = dynamic_cast<ZIVOCustomApplicationDelegate*>(&delegate);
    if (!app) return std::nullopt;
    const std::string& url =
        call.arguments.size() > 0 ? call.arguments[0].asString() : foundation::Value::null().asString();
    if (call.selector == kZIVOOpenURLOptionsSelector) {
        const auto& options =
            call.arguments.size() > 1 ? call.arguments[1].asDictionary() : foundation::Value::null().asDictionary();
        return app->application(url, options, returnedValue);
    }
    if (call.selector == kZIVOOpenURLSourceApplicationSelector) {
        std::optional<std::string> source;
        if (call.arguments.size() > 1 && call.arguments[1].isString()) source = call.arguments[1].asString();
        const foundation::Value& annotation = call.arguments.size() > 2 ? call.arguments[2] : foundation::Value::null();
        return app->application(url, source, annotation, returnedValue);
    }
    return std::nullopt;
}
