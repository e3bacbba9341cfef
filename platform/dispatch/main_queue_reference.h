// A strong reference that a block on another queue may hold to an object that must end on the
// main thread (the application object): when the holder lets go of it off the main thread, the
// reference goes to the main queue and is dropped there, so the object is never destroyed on a
// worker even when its other owners let go while the block runs.
#pragma once

#include <memory>
#include <utility>

#include "platform/dispatch/dispatch.h"

namespace dispatch {

template <class T>
class MainQueueReference {
public:
    MainQueueReference() = default;
    explicit MainQueueReference(std::shared_ptr<T> object) : object_(std::move(object)) {}
    MainQueueReference(const MainQueueReference&) = default;
    MainQueueReference(MainQueueReference&& other) noexcept = default;
    MainQueueReference& operator=(MainQueueReference other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~MainQueueReference() {
        if (object_ && !isMainThread())
            Queue::main()->async([object = std::move(object_)]() mutable { object.reset(); });
    }

    const std::shared_ptr<T>& get() const { return object_; }
    T* operator->() const { return object_.get(); }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return static_cast<bool>(object_); }

private:
    std::shared_ptr<T> object_;
};

}  // namespace dispatch
