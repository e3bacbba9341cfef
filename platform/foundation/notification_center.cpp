#include "platform/foundation/notification_center.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace foundation {

// One registration. Deliveries mark themselves in flight so that a removal can wait for calls
// running on other threads: once removeObserver returns, the handler runs no more (except for a
// call that the removing thread is itself inside, which could never finish if it waited).
struct Observer {
    NotificationCenter::ObserverId id = 0;
    const void* owner = nullptr;
    std::string name;
    const void* object = nullptr;
    NotificationCenter::Handler handler;

    std::mutex mutex;
    std::condition_variable idle;
    bool removed = false;
    std::vector<std::thread::id> inFlight;

    // Runs the handler unless the observer was removed.
    void deliver(const Notification& n) {
        {
            std::lock_guard lock(mutex);
            if (removed) return;
            inFlight.push_back(std::this_thread::get_id());
        }
        // Leaves the in-flight list even if the handler throws, so removal never waits forever.
        struct Done {
            Observer* o;
            ~Done() {
                {
                    std::lock_guard lock(o->mutex);
                    const auto it = std::find(o->inFlight.begin(), o->inFlight.end(), std::this_thread::get_id());
                    if (it != o->inFlight.end()) o->inFlight.erase(it);
                }
                o->idle.notify_all();
            }
        } done{this};
        handler(n);
    }

    void retire() {
        std::unique_lock lock(mutex);
        removed = true;
        const auto self = std::this_thread::get_id();
        idle.wait(lock, [&] {
            return std::all_of(inFlight.begin(), inFlight.end(), [&](std::thread::id t) { return t == self; });
        });
    }
};

struct NotificationCenter::Impl {
    std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers;  // registration order
    std::atomic<ObserverId> nextId{1};

    // Takes the matching observers out of the list; retiring happens outside the lock.
    template <typename Pred>
    void removeWhere(Pred pred) {
        std::vector<std::shared_ptr<Observer>> gone;
        {
            std::lock_guard lock(mutex);
            auto it =
                std::stable_partition(observers.begin(), observers.end(), [&](const auto& o) { return !pred(*o); });
            gone.assign(std::make_move_iterator(it), std::make_move_iterator(observers.end()));
            observers.erase(it, observers.end());
        }
        for (auto& o : gone) o->retire();
    }

    // The observers a post of name from object reaches, as registered when it starts.
    std::vector<std::shared_ptr<Observer>> targets(const std::string& name, const void* object) {
        std::vector<std::shared_ptr<Observer>> found;
        std::lock_guard lock(mutex);
        for (const auto& o : observers) {
            if (!o->name.empty() && o->name != name) continue;
            if (o->object && o->object != object) continue;
            found.push_back(o);
        }
        return found;
    }
};

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may still be removed from static destructors at exit.
    static NotificationCenter* center = new NotificationCenter();
    return *center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(const void* owner, const std::string& name,
                                                               Handler handler, const void* object) {
    auto o = std::make_shared<Observer>();
    o->id = impl_->nextId.fetch_add(1);
    o->owner = owner;
    o->name = name;
    o->object = object;
    o->handler = std::move(handler);
    const ObserverId id = o->id;
    std::lock_guard lock(impl_->mutex);
    impl_->observers.push_back(std::move(o));
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    impl_->removeWhere([&](const Observer& o) { return o.id == id; });
}

void NotificationCenter::removeObserver(const void* owner, const std::string& name) {
    impl_->removeWhere([&](const Observer& o) { return o.owner == owner && (name.empty() || o.name == name); });
}

void NotificationCenter::post(const Notification& notification) {
    for (const auto& o : impl_->targets(notification.name, notification.object.get()))
        if (o->handler) o->deliver(notification);
}

void NotificationCenter::post(const std::string& name, std::shared_ptr<void> object, Dictionary userInfo) {
    post(Notification{name, std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(const std::string& name, std::shared_ptr<void> object,
                              const std::function<Dictionary()>& makeUserInfo) {
    auto targets = impl_->targets(name, object.get());
    if (targets.empty()) return;
    const Notification notification{name, std::move(object), makeUserInfo()};
    for (const auto& o : targets)
        if (o->handler) o->deliver(notification);
}

}  // namespace foundation
