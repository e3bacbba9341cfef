// Named notifications delivered synchronously on the posting thread, and the application's own
// notification names that many parts observe.
//
// This header is the contract the rest of the system codes against; the implementation may
// add to it but keeps these declarations.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/value.h"

namespace foundation {

struct Notification {
    std::string name;
    std::shared_ptr<void> object;  // the sender, when it matters (compared by identity)
    Dictionary userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;
    using ObserverId = uint64_t;

    static NotificationCenter& defaultCenter();

    // Observes name (empty: every name), optionally only from object. owner groups observers so
    // that removeObserver(owner) drops them all. Registering twice delivers twice.
    ObserverId addObserver(const void* owner, const std::string& name, Handler handler, const void* object = nullptr);
    // Once a removal returns, the handler is not started again, and calls that other threads
    // were making have finished (so an owner may remove its observers in its destructor and then
    // die safely). A handler may remove itself or others; the removing thread's own running call
    // is not waited for. A handler must therefore not block on a thread that is removing it.
    void removeObserver(ObserverId id);
    // Removes owner's observers of name, or all of them when name is empty.
    void removeObserver(const void* owner, const std::string& name = {});

    // Delivers to every observer registered when the post starts, in registration order, except
    // those removed during the post.
    void post(const Notification& notification);
    void post(const std::string& name, std::shared_ptr<void> object = nullptr, Dictionary userInfo = {});
    // The same, for a userInfo that is costly to build: makeUserInfo runs only when the post
    // has someone to deliver to.
    void post(const std::string& name, std::shared_ptr<void> object, const std::function<Dictionary()>& makeUserInfo);

    NotificationCenter();
    ~NotificationCenter();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The application's notifications.
inline constexpr const char* kApplicationDidReceiveMemoryWarningNotification =
    "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";
inline constexpr const char* kApplicationSignificantTimeChangeNotification =
    "UIApplicationSignificantTimeChangeNotification";
inline constexpr const char* kCurrentLocaleDidChangeNotification = "NSCurrentLocaleDidChangeNotification";

}  // namespace foundation
