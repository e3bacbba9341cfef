#include "RurIdurev/RurIdurev/Internals/DelegateForwarder/delegate_forwarder.h"

#include <algorithm>

#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/logger.h"

namespace {

struct TraceBuffer {
    std::recursive_mutex mutex;
    std::optional<std::vector<std::function<void()>>> blocks{std::in_place};
    bool started = false;
};

TraceBuffer& traceBuffer() {
    static auto* buffer = new TraceBuffer;
    return *buffer;
}

}  // namespace

bool ZIVODelegateForwarder::enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

void ZIVODelegateForwarder::setEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
    if (!enabled) delegates_.clear();
}

void ZIVODelegateForwarder::setEnabledFromPlistForKey(const std::string& key) {
    const foundation::Value value = zivo_platform::infoValue(key);
    const bool enabled = value.isNull() ? true : value.boolValue();
    setEnabled(enabled);
    addTraceBlock([key, enabled] {
        if (enabled)
            ZIVOLogDebug(kZIVOLogTag,
                         "Delegate forwarder for info.plist key '" + key + "' enabled. It may use swizzling.");
        else
            ZIVOLogDebug(kZIVOLogTag,
                         "Delegate forwarder for info.plist key '" + key + "' disabled. It won't use swizzling.");
    });
}

void ZIVODelegateForwarder::addDelegate(const std::shared_ptr<ZIVOCustomDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    if (!enabled_ || !delegate) return;
    std::erase_if(delegates_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : delegates_)
        if (weak.lock() == delegate) return;
    delegates_.push_back(delegate);
}

void ZIVODelegateForwarder::removeDelegate(const std::shared_ptr<ZIVOCustomDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    if (!enabled_) return;
    std::erase_if(delegates_, [&](const auto& weak) {
        auto strong = weak.lock();
        return !strong || strong == delegate;
    });
}

void ZIVODelegateForwarder::addDelegateSelectorToSwizzle(const std::string& selector) {
    std::lock_guard lock(mutex_);
    if (!enabled_) return;
    // The first request hooks the setting of the application's delegate.
    setDelegateHooked_ = true;
    selectorsToSwizzle_.insert(selector);
}

void ZIVODelegateForwarder::setDelegate(std::shared_ptr<ZIVODelegateImplementations> delegate) {
    std::lock_guard lock(mutex_);
    applicationDelegate_ = std::move(delegate);
    if (setDelegateHooked_ && !delegateSwizzled_ && applicationDelegate_) {
        delegateSwizzled_ = true;
        swizzleOriginalDelegate(*applicationDelegate_);
    }
}

void ZIVODelegateForwarder::swizzleOriginalDelegate(const ZIVODelegateImplementations& delegate) {
    for (const auto& selector : selectorsToSwizzle_) {
        if (swizzleOriginalSelector(selector, delegate)) swizzledSelectors_.insert(selector);
    }
    selectorsToSwizzle_.clear();
}

bool ZIVODelegateForwarder::swizzleOriginalSelector(const std::string& selector,
                                                    const ZIVODelegateImplementations& delegate) {
    const std::string className = delegate.className;
    bool taken = false;
    std::optional<std::string> warning;
    if (auto it = delegate.methods.find(selector); it != delegate.methods.end()) {
        originalImplementations_[selector] = it->second;
        taken = true;
    } else {
        const auto deprecated = deprecatedSelectors();
        const auto older = deprecated.find(selector);
        const bool isOlderForm = std::any_of(deprecated.begin(), deprecated.end(),
                                             [&](const auto& entry) { return entry.second == selector; });
        if (older != deprecated.end() && delegate.methods.contains(older->second)) {
            warning = "No implementation found for this selector, though an implementation of its deprecated API '" +
                      older->second + "' exists.";
        } else if (isOlderForm) {
            return false;
        } else {
            // The forwarder answers the selector itself; there is no original to call.
            taken = true;
        }
    }
    if (taken) {
        addTraceBlock([selector, className] {
            ZIVOLogDebug(kZIVOLogTag, "Selector '" + selector + "' of class '" + className + "' is swizzled.");
        });
        return true;
    }
    const std::string cannot = "Cannot swizzle selector '" + selector + "' of class '" + className + "'.";
    if (warning) {
        addTraceBlock([cannot, text = *warning] { ZIVOLogWarning(kZIVOLogTag, cannot + " " + text); });
    } else {
        addTraceBlock([cannot] {
            ZIVOLogError(kZIVOLogTag,
                         cannot + " " +
                             "You need to explicitly call the Rur Idurev API from your app delegate implementation.");
        });
    }
    return false;
}

std::optional<bool> ZIVODelegateForwarder::forward(const ZIVODelegateCall& call) {
    std::function<bool(const ZIVODelegateCall&)> original;
    bool forwarded = false;
    {
        std::lock_guard lock(mutex_);
        if (swizzledSelectors_.contains(call.selector)) {
            forwarded = true;
            if (auto it = originalImplementations_.find(call.selector); it != originalImplementations_.end())
                original = it->second;
        } else if (applicationDelegate_) {
            if (auto it = applicationDelegate_->methods.find(call.selector); it != applicationDelegate_->methods.end())
                original = it->second;
        }
    }
    if (!forwarded) {
        if (!original) return std::nullopt;
        return original(call);
    }
    const bool returnedValue = original ? original(call) : false;
    return forwardInvocation(call, returnedValue);
}

bool ZIVODelegateForwarder::forwardInvocation(const ZIVODelegateCall& call, bool returnedValue) {
    std::vector<std::shared_ptr<ZIVOCustomDelegate>> delegates;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : delegates_)
            if (auto strong = weak.lock()) delegates.push_back(std::move(strong));
    }
    std::lock_guard lock(forwardMutex_);
    bool value = returnedValue;
    for (const auto& delegate : delegates) {
        if (auto answer = callDelegate(*delegate, call, value)) value = *answer;
    }
    return value;
}

void ZIVODelegateForwarder::addTraceBlock(std::function<void()> block) {
    auto& buffer = traceBuffer();
    {
        std::lock_guard lock(buffer.mutex);
        if (buffer.blocks) {
            if (!buffer.started) {
                buffer.started = true;
                buffer.blocks->push_back([] { ZIVOLogVerbose(kZIVOLogTag, std::string("Start buffering traces.")); });
            }
            buffer.blocks->push_back(std::move(block));
            return;
        }
    }
    block();
}

void ZIVODelegateForwarder::flushTraceBuffer() {
    auto& buffer = traceBuffer();
    std::lock_guard lock(buffer.mutex);
    if (!buffer.blocks) return;
    for (const auto& block : *buffer.blocks) block();
    buffer.blocks.reset();
    ZIVOLogVerbose(kZIVOLogTag, std::string("Stop buffering traces, flushed."));
}

void ZIVODelegateForwarder::resetTraceBufferForTesting() {
    auto& buffer = traceBuffer();
    std::lock_guard lock(buffer.mutex);
    buffer.blocks.emplace();
    buffer.started = false;
}
