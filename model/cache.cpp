#include "model/cache.h"

#include <cassert>
#include <cstdio>

#include "platform/foundation/files.h"

namespace {
std::string queueName(const void* address) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "com.hxconnect.HXCCache.%p", address);
    return buffer;
}
}  // namespace

HXCCache::HXCCache(Passkey, std::string name, const std::filesystem::path& rootPath)
    : name_(std::move(name)),
      queue_(dispatch::Queue::concurrent(queueName(this))),
      diskCache_(HXCDiskCache::create(name_, rootPath)),
      memoryCache_(HXCMemoryCache::create()) {}

std::shared_ptr<HXCCache> HXCCache::create(const std::optional<std::string>& name) {
    return create(name, foundation::cachesDirectory());
}

std::shared_ptr<HXCCache> HXCCache::create(const std::optional<std::string>& name,
                                           const std::filesystem::path& rootPath) {
    if (!name) return nullptr;
    return std::make_shared<HXCCache>(Passkey{}, *name, rootPath);
}

std::shared_ptr<HXCCache> HXCCache::sharedCache() {
    static const std::shared_ptr<HXCCache> shared = create(std::string("HXCCacheShared"));
    return shared;
}

std::string HXCCache::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "com.hxconnect.HXCCache." + name_ + "." + address;
}

void HXCCache::objectForKey(const std::string& key, ObjectBlock block) {
    if (!block) return;
    std::weak_ptr<HXCCache> weak = weak_from_this();
    queue_->async([weak, key, block = std::move(block)] {
        auto self = weak.lock();
        if (!self) return;
        self->memoryCache_->objectForKey(
            key, [weak, block](HXCMemoryCache&, const std::string& key, const Object& object) {
                auto cache = weak.lock();
                if (!cache) return;
                if (object) {
                    // Only to refresh the file's date, so the disk level sees the access too.
                    cache->diskCache_->fileURLForKey(
                        key, [](HXCDiskCache&, const std::string&, const Object&, const HXCDiskCache::FileURL&) {});
                    cache->queue_->async([weak, block, key, object] {
                        if (auto c = weak.lock()) block(*c, key, object);
                    });
                    return;
                }
                cache->diskCache_->objectForKey(key, [weak, block](HXCDiskCache&, const std::string& key,
                                                                   const Object& found, const HXCDiskCache::FileURL&) {
                    auto c = weak.lock();
                    if (!c) return;
                    if (found) c->memoryCache_->setObject(found, key, nullptr);
                    c->queue_->async([weak, block, key, found] {
                        if (auto again = weak.lock()) block(*again, key, found);
                    });
                });
            });
    });
}

void HXCCache::onBothLevels(const std::function<void(dispatch::Block, dispatch::Block)>& start,
                            dispatch::Block whenDone) {
    auto group = std::make_shared<dispatch::Group>();
    group->enter();
    group->enter();
    start([group] { group->leave(); }, [group] { group->leave(); });
    group->notify(queue_, std::move(whenDone));
}

void HXCCache::setObject(Object object, const std::string& key, ObjectBlock block) {
    if (!object) return;
    if (!block) {
        memoryCache_->setObject(object, key, nullptr);
        diskCache_->setObject(object, key, nullptr);
        return;
    }
    std::weak_ptr<HXCCache> weak = weak_from_this();
    onBothLevels(
        [&](dispatch::Block memoryDone, dispatch::Block diskDone) {
            memoryCache_->setObject(object, key,
                                    [memoryDone](HXCMemoryCache&, const std::string&, const Object&) { memoryDone(); });
            diskCache_->setObject(object, key,
                                  [diskDone](HXCDiskCache&, const std::string&, const Object&,
                                             const HXCDiskCache::FileURL&) { diskDone(); });
        },
        [weak, block, key, object] {
            if (auto self = weak.lock()) block(*self, key, object);
        });
}

void HXCCache::removeObjectForKey(const std::string& key, ObjectBlock block) {
    if (!block) {
        memoryCache_->removeObjectForKey(key, nullptr);
        diskCache_->removeObjectForKey(key, nullptr);
        return;
    }
    std::weak_ptr<HXCCache> weak = weak_from_this();
    onBothLevels(
        [&](dispatch::Block memoryDone, dispatch::Block diskDone) {
            memoryCache_->removeObjectForKey(
                key, [memoryDone](HXCMemoryCache&, const std::string&, const Object&) { memoryDone(); });
            diskCache_->removeObjectForKey(key, [diskDone](HXCDiskCache&, const std::string&, const Object&,
                                                           const HXCDiskCache::FileURL&) { diskDone(); });
        },
        [weak, block, key] {
            if (auto self = weak.lock()) block(*self, key, nullptr);
        });
}

void HXCCache::trimToDate(std::optional<foundation::Date> date, CacheBlock block) {
    if (!date) return;
    if (!block) {
        memoryCache_->trimToDate(date, nullptr);
        diskCache_->trimToDate(date, nullptr);
        return;
    }
    std::weak_ptr<HXCCache> weak = weak_from_this();
    onBothLevels(
        [&](dispatch::Block memoryDone, dispatch::Block diskDone) {
            memoryCache_->trimToDate(date, [memoryDone](HXCMemoryCache&) { memoryDone(); });
            diskCache_->trimToDate(date, [diskDone](HXCDiskCache&) { diskDone(); });
        },
        [weak, block] {
            if (auto self = weak.lock()) block(*self);
        });
}

void HXCCache::removeAllObjects(CacheBlock block) {
    if (!block) {
        memoryCache_->removeAllObjects(nullptr);
        diskCache_->removeAllObjects(nullptr);
        return;
    }
    std::weak_ptr<HXCCache> weak = weak_from_this();
    onBothLevels(
        [&](dispatch::Block memoryDone, dispatch::Block diskDone) {
            memoryCache_->removeAllObjects([memoryDone](HXCMemoryCache&) { memoryDone(); });
            diskCache_->removeAllObjects([diskDone](HXCDiskCache&) { diskDone(); });
        },
        [weak, block] {
            if (auto self = weak.lock()) block(*self);
        });
}

void HXCCache::waitFor(const std::function<void(dispatch::Block done)>& start) const {
    assert(!queue_->isCurrent() && !diskCache_->queue()->isCurrent());
    auto semaphore = std::make_shared<dispatch::Semaphore>(0);
    start([semaphore] { semaphore->signal(); });
    semaphore->wait();
}

HXCCache::Object HXCCache::objectForKey(const std::string& key) {
    auto result = std::make_shared<Object>();
    waitFor([&](dispatch::Block done) {
        objectForKey(key, [result, done](HXCCache&, const std::string&, const Object& object) {
            *result = object;
            done();
        });
    });
    return *result;
}

void HXCCache::setObject(Object object, const std::string& key) {
    if (!object) return;
    waitFor([&](dispatch::Block done) {
        setObject(std::move(object), key, [done](HXCCache&, const std::string&, const Object&) { done(); });
    });
}

void HXCCache::removeObjectForKey(const std::string& key) {
    waitFor([&](dispatch::Block done) {
        removeObjectForKey(key, [done](HXCCache&, const std::string&, const Object&) { done(); });
    });
}

void HXCCache::trimToDate(std::optional<foundation::Date> date) {
    if (!date) return;
    waitFor([&](dispatch::Block done) { trimToDate(date, [done](HXCCache&) { done(); }); });
}

void HXCCache::removeAllObjects() {
    waitFor([&](dispatch::Block done) { removeAllObjects([done](HXCCache&) { done(); }); });
}

uint64_t HXCCache::diskByteCount() const {
    uint64_t count = 0;
    diskCache_->queue()->sync([&] { count = diskCache_->byteCount(); });
    return count;
}
