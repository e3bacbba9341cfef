// Hands calls the platform makes on the application's delegate to the SDK's services as well.
// There is no method replacement in C++: the application routes its delegate calls through the
// forwarder's entry point, and the forwarder decides, per selector a service asked for, whether
// the call goes to the application's own implementation, then to every registered service
// delegate in turn, each seeing the answer so far ("returned value").
//
// The forwarder's own diagnostics wait in a trace buffer until the application sets a log level.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

// A service delegate. An operation answers nothing when the delegate does not implement it.
class ZIVOCustomDelegate {
public:
    virtual ~ZIVOCustomDelegate() = default;
};

class ZIVOCustomApplicationDelegate : public ZIVOCustomDelegate {
public:
    // `application:openURL:sourceApplication:annotation:returnedValue:`
    virtual std::optional<bool> application(const std::string& openURL,
                                            const std::optional<std::string>& sourceApplication,
                                            const foundation::Value& annotation, bool returnedValue) {
        (void)openURL, (void)sourceApplication, (void)annotation, (void)returnedValue;
        return std::nullopt;
    }
    // `application:openURL:options:returnedValue:`
    virtual std::optional<bool> application(const std::string& openURL, const foundation::Dictionary& options,
                                            bool returnedValue) {
        (void)openURL, (void)options, (void)returnedValue;
        return std::nullopt;
    }
};

// One call the platform makes on the application delegate: the selector and its arguments.
struct ZIVODelegateCall {
    std::string selector;
    std::vector<foundation::Value> arguments;
};

// What the application delegate implements: selector name to its implementation.
struct ZIVODelegateImplementations {
    std::string className;
    std::map<std::string, std::function<bool(const ZIVODelegateCall&)>> methods;
};

class ZIVODelegateForwarder {
public:
    virtual ~ZIVODelegateForwarder() = default;

    bool enabled() const;
    void setEnabled(bool enabled);
    // Reads a boolean from the main bundle's Info dictionary (absent: enabled).
    void setEnabledFromPlistForKey(const std::string& key);

    void addDelegate(const std::shared_ptr<ZIVOCustomDelegate>& delegate);
    void removeDelegate(const std::shared_ptr<ZIVOCustomDelegate>& delegate);
    // A service asks for a selector of the application delegate to be forwarded.
    void addDelegateSelectorToSwizzle(const std::string& selector);

    // The application's delegate is set: selectors asked for so far are taken over (once).
    void setDelegate(std::shared_ptr<ZIVODelegateImplementations> delegate);

    // The one entry point for a platform call on the application delegate. A selector that was
    // taken over calls the application's own implementation (its answer, or NO without one) and
    // then the service delegates; any other goes to the application's implementation alone.
    // Nothing when neither the application nor the forwarder handles the selector.
    std::optional<bool> forward(const ZIVODelegateCall& call);

    // The trace buffer: blocks wait here until the first log level is set, then run in order.
    static void addTraceBlock(std::function<void()> block);
    static void flushTraceBuffer();
    static void resetTraceBufferForTesting();

    // Selector name to the name of the older selector it replaces.
    virtual std::map<std::string, std::string> deprecatedSelectors() const { return {}; }

protected:
    ZIVODelegateForwarder() = default;
    // The chain over the service delegates for one selector; returnedValue is the answer so far.
    virtual std::optional<bool> callDelegate(ZIVOCustomDelegate& delegate, const ZIVODelegateCall& call,
                                             bool returnedValue) = 0;

private:
    void swizzleOriginalDelegate(const ZIVODelegateImplementations& delegate);
    // Answers whether the selector now goes through the forwarder.
    bool swizzleOriginalSelector(const std::string& selector, const ZIVODelegateImplementations& delegate);
    bool forwardInvocation(const ZIVODelegateCall& call, bool returnedValue);

    mutable std::recursive_mutex mutex_;
    bool enabled_ = true;
    bool setDelegateHooked_ = false;
    bool delegateSwizzled_ = false;
    std::vector<std::weak_ptr<ZIVOCustomDelegate>> delegates_;
    std::shared_ptr<ZIVODelegateImplementations> applicationDelegate_;
    std::map<std::string, std::function<bool(const ZIVODelegateCall&)>> originalImplementations_;
    std::set<std::string> swizzledSelectors_;
    std::set<std::string> selectorsToSwizzle_;
    std::mutex forwardMutex_;
};
