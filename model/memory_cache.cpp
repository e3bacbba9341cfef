#include "model/memory_cache.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/dispatch/queue_check.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/notification_center.h"

namespace {

// Changes are dated from the exact clock. Reads are dated from the clock for dating: a fraction of
// its cost, never before a date read earlier, so a read that follows a trim's date outlives the
// trim; reads a few milliseconds apart may share a date (ties go in key order).
foundation::Date wallDate() { return foundation::Date{dispatch::wallNow()}; }
foundation::Date readDate() { return foundation::Date{clocks::wallNowForDating()}; }

uint64_t load64(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint64_t load32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The high and low halves of the full product folded together.
uint64_t mix(uint64_t a, uint64_t b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

std::string memoryQueueName(const void* address) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "com.hxconnect.HXCMemoryCache.%p", address);
    return buffer;
}

// Keys in ascending order of a value of their entries; equal values in key order.
template <typename Map, typename Value>
std::vector<std::string> keysSortedBy(const Map& map, Value value) {
    using V = decltype(value(map.begin()->second));
    std::vector<std::pair<V, std::string>> entries;
    entries.reserve(map.size());
    for (const auto& [key, entry] : map) entries.emplace_back(value(entry), key);
    std::sort(entries.begin(), entries.end());
    std::vector<std::string> keys;
    keys.reserve(entries.size());
    for (auto& e : entries) keys.push_back(std::move(e.second));
    return keys;
}

template <typename Map>
std::vector<std::string> keysByDate(const Map& map) {
    return keysSortedBy(map, [](const auto& entry) { return entry.date.load(std::memory_order_relaxed); });
}

}  // namespace

size_t HXCMemoryCache::KeyHash::operator()(const std::string& key) const noexcept {
    constexpr uint64_t k0 = 0x9e3779b97f4a7c15ULL, k1 = 0xa0761d6478bd642fULL, k2 = 0xe7037ed1a0b428dbULL;
    const char* p = key.data();
    size_t n = key.size();
    uint64_t h = k0 ^ n;
    for (; n > 16; p += 16, n -= 16) h = mix(load64(p) ^ k1, load64(p + 8) ^ h);
    uint64_t a = 0, b = 0;
    if (n >= 8) {
        a = load64(p);
        b = load64(p + n - 8);
    } else if (n >= 4) {
        a = load32(p);
        b = load32(p + n - 4);
    } else if (n > 0) {
        a = uint64_t(uint8_t(p[0])) << 16 | uint64_t(uint8_t(p[n / 2])) << 8 | uint64_t(uint8_t(p[n - 1]));
    }
    return static_cast<size_t>(mix(mix(a ^ k1, b ^ h) ^ k2, k0));
}

bool HXCMemoryCache::KeyEqual::operator()(const std::string& a, const std::string& b) const noexcept {
    const size_t n = a.size();
    if (n != b.size()) return false;
    const char* p = a.data();
    const char* q = b.data();
    if (n >= 8 && n <= 16) return load64(p) == load64(q) && load64(p + n - 8) == load64(q + n - 8);
    if (n >= 4 && n < 8) return load32(p) == load32(q) && load32(p + n - 4) == load32(q + n - 4);
    return std::memcmp(p, q, n) == 0;
}

// ---- construction

HXCMemoryCache::HXCMemoryCache(Passkey) : queue_(dispatch::Queue::concurrent(memoryQueueName(this))) {
    entries_.max_load_factor(0.5f);
}

std::shared_ptr<HXCMemoryCache> HXCMemoryCache::create() {
    auto cache = std::make_shared<HXCMemoryCache>(Passkey{});
    std::weak_ptr<HXCMemoryCache> weak = cache;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(cache.get(), foundation::kApplicationDidReceiveMemoryWarningNotification,
                       [weak](const foundation::Notification&) {
                           if (auto self = weak.lock()) self->handleMemoryWarning();
                       });
    center.addObserver(cache.get(), foundation::kApplicationDidEnterBackgroundNotification,
                       [weak](const foundation::Notification&) {
                           if (auto self = weak.lock()) self->handleApplicationBackgrounding();
                       });
    return cache;
}

std::shared_ptr<HXCMemoryCache> HXCMemoryCache::sharedCache() {
    static const std::shared_ptr<HXCMemoryCache> shared = create();
    return shared;
}

HXCMemoryCache::~HXCMemoryCache() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

// ---- the procedures, inside a barrier

inline void HXCMemoryCache::touch(Entry& entry, foundation::Date date) {
    // Inside a read: the entry cannot go away meanwhile (removals are barriers), and the date
    // is the one value readers write, atomically.
    double seen = entry.date.load(std::memory_order_relaxed);
    while (seen < date.secondsSince1970 &&
           !entry.date.compare_exchange_weak(seen, date.secondsSince1970, std::memory_order_relaxed)) {}
}

void HXCMemoryCache::addObject(const std::string& key, Object object, uint64_t cost, foundation::Date date) {
    HX_ASSERT_ON_QUEUE(queue_);
    if (willAddObjectBlock_) willAddObjectBlock_(*this, key, object);
    auto [it, added] = entries_.try_emplace(key);
    Entry& entry = it->second;
    if (!added) totalCost_ -= entry.cost;
    entry.object = object;
    entry.date.store(date.secondsSince1970, std::memory_order_relaxed);
    entry.cost = cost;
    totalCost_ += cost;
    if (didAddObjectBlock_) didAddObjectBlock_(*this, key, object);
    if (costLimit_ != 0) trimToCostByDate(costLimit_, nullptr);
}

void HXCMemoryCache::removeObjectAndExecuteBlocksForKey(const std::string& key) {
    HX_ASSERT_ON_QUEUE(queue_);
    Object object;
    if (auto it = entries_.find(key); it != entries_.end()) object = it->second.object;
    if (willRemoveObjectBlock_) willRemoveObjectBlock_(*this, key, object);
    // Found again: the hook may have changed the map.
    if (auto it = entries_.find(key); it != entries_.end()) {
        totalCost_ -= it->second.cost;
        entries_.erase(it);
    }
    if (didRemoveObjectBlock_) didRemoveObjectBlock_(*this, key, nullptr);
}

void HXCMemoryCache::trimMemoryToDate(foundation::Date date) {
    HX_ASSERT_ON_QUEUE(queue_);
    for (const auto& key : keysByDate(entries_)) {
        auto it = entries_.find(key);
        if (it == entries_.end()) continue;  // a hook removed it meanwhile
        if (!(it->second.date.load(std::memory_order_relaxed) < date.secondsSince1970)) break;
        removeObjectAndExecuteBlocksForKey(key);
    }
}

void HXCMemoryCache::trimToCostLimit(uint64_t limit) {
    HX_ASSERT_ON_QUEUE(queue_);
    if (totalCost_ <= limit) return;
    auto keys = keysSortedBy(entries_, [](const Entry& entry) { return entry.cost; });
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        removeObjectAndExecuteBlocksForKey(*it);
        if (totalCost_ <= limit) break;
    }
}

void HXCMemoryCache::trimToCostLimitByDate(uint64_t limit) {
    HX_ASSERT_ON_QUEUE(queue_);
    if (totalCost_ <= limit) return;
    for (const auto& key : keysByDate(entries_)) {
        removeObjectAndExecuteBlocksForKey(key);
        if (totalCost_ <= limit) break;
    }
}

void HXCMemoryCache::removeAllNow() {
    HX_ASSERT_ON_QUEUE(queue_);
    if (willRemoveAllObjectsBlock_) willRemoveAllObjectsBlock_(*this);
    entries_.clear();
    totalCost_ = 0;
    if (didRemoveAllObjectsBlock_) didRemoveAllObjectsBlock_(*this);
}

void HXCMemoryCache::trimToAgeLimitRecursively() {
    HX_ASSERT_ON_QUEUE(queue_);
    if (ageLimit_ == 0) return;
    trimMemoryToDate(foundation::Date{wallDate().secondsSince1970 - ageLimit_});
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->after(ageLimit_, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->queue_->barrierAsync([weak] {
            if (auto again = weak.lock()) again->trimToAgeLimitRecursively();
        });
    });
}

// ---- asynchronous operations

void HXCMemoryCache::objectForKey(const std::string& key, ObjectBlock block) {
    if (!block) return;
    const foundation::Date calledAt = readDate();
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->async([weak, key, block = std::move(block), calledAt] {
        auto self = weak.lock();
        if (!self) return;
        Object object;
        if (auto it = self->entries_.find(key); it != self->entries_.end()) {
            object = it->second.object;
            // The access refreshes the entry's date without holding up other readers.
            touch(it->second, calledAt);
        }
        block(*self, key, object);
    });
}

void HXCMemoryCache::setObject(Object object, const std::string& key, ObjectBlock block) {
    setObject(std::move(object), key, 0, std::move(block));
}

void HXCMemoryCache::setObject(Object object, const std::string& key, uint64_t withCost, ObjectBlock block) {
    if (!object) return;
    const foundation::Date calledAt = wallDate();
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, key, object = std::move(object), withCost, block = std::move(block), calledAt] {
        auto self = weak.lock();
        if (!self) return;
        self->addObject(key, object, withCost, calledAt);
        if (block) {
            self->queue_->async([weak, key, object, block] {
                if (auto cache = weak.lock()) block(*cache, key, object);
            });
        }
    });
}

void HXCMemoryCache::removeObjectForKey(const std::string& key, ObjectBlock block) {
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, key, block = std::move(block)] {
        auto self = weak.lock();
        if (!self) return;
        self->removeObjectAndExecuteBlocksForKey(key);
        if (block) {
            self->queue_->async([weak, key, block] {
                if (auto cache = weak.lock()) block(*cache, key, nullptr);
            });
        }
    });
}

namespace {
void queueCompletion(const std::weak_ptr<HXCMemoryCache>& weak, const dispatch::QueuePtr& queue,
                     const HXCMemoryCache::CacheBlock& block) {
    if (!block) return;
    queue->async([weak, block] {
        if (auto cache = weak.lock()) block(*cache);
    });
}
}  // namespace

void HXCMemoryCache::trimToDate(std::optional<foundation::Date> date, CacheBlock block) {
    if (!date) return;
    if (*date == foundation::distantPast()) {
        removeAllObjects(std::move(block));
        return;
    }
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, date = *date, block = std::move(block)] {
        auto self = weak.lock();
        if (!self) return;
        self->trimMemoryToDate(date);
        queueCompletion(weak, self->queue_, block);
    });
}

void HXCMemoryCache::trimToCost(uint64_t cost, CacheBlock block) {
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, cost, block = std::move(block)] {
        auto self = weak.lock();
        if (!self) return;
        self->trimToCostLimit(cost);
        queueCompletion(weak, self->queue_, block);
    });
}

void HXCMemoryCache::trimToCostByDate(uint64_t cost, CacheBlock block) {
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, cost, block = std::move(block)] {
        auto self = weak.lock();
        if (!self) return;
        self->trimToCostLimitByDate(cost);
        queueCompletion(weak, self->queue_, block);
    });
}

void HXCMemoryCache::removeAllObjects(CacheBlock block) {
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, block = std::move(block)] {
        auto self = weak.lock();
        if (!self) return;
        self->removeAllNow();
        queueCompletion(weak, self->queue_, block);
    });
}

void HXCMemoryCache::enumerateObjectsWithBlock(ObjectBlock block, CacheBlock completionBlock) {
    if (!block) return;
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, block = std::move(block), completionBlock = std::move(completionBlock)] {
        auto self = weak.lock();
        if (!self) return;
        for (const auto& key : keysByDate(self->entries_)) {
            auto it = self->entries_.find(key);
            block(*self, key, it != self->entries_.end() ? it->second.object : nullptr);
        }
        queueCompletion(weak, self->queue_, completionBlock);
    });
}

// ---- synchronous operations
//
// Each does what its asynchronous twin does and returns once that is done. The queue runs a
// synchronous block on the caller's thread (with the same exclusion as the twin's step), so the
// caller waits without a hop to a pool thread and back.

void HXCMemoryCache::waitFor(const std::function<void(dispatch::Block done)>& start) {
    // Waiting on the cache's own queue could never end.
    HX_ASSERT_OFF_QUEUE(queue_);
    auto semaphore = std::make_shared<dispatch::Semaphore>(0);
    start([semaphore] { semaphore->signal(); });
    semaphore->wait();
}

HXCMemoryCache::Object HXCMemoryCache::objectForKey(const std::string& key) {
    HX_ASSERT_OFF_QUEUE(queue_);
    const foundation::Date calledAt = readDate();
    Object object;
    queue_->syncRead([&] {
        auto it = entries_.find(key);
        if (it == entries_.end()) return;
        object = it->second.object;
        touch(it->second, calledAt);
    });
    return object;
}

void HXCMemoryCache::setObject(Object object, const std::string& key) { setObject(std::move(object), key, 0); }

void HXCMemoryCache::setObject(Object object, const std::string& key, uint64_t withCost) {
    if (!object) return;
    HX_ASSERT_OFF_QUEUE(queue_);
    struct Write {
        const std::string& key;
        const Object& object;
        uint64_t cost;
        foundation::Date calledAt;
    } write{key, object, withCost, wallDate()};
    queue_->barrierSync([this, &write] { addObject(write.key, write.object, write.cost, write.calledAt); });
}

void HXCMemoryCache::removeObjectForKey(const std::string& key) {
    HX_ASSERT_OFF_QUEUE(queue_);
    queue_->barrierSync([&] { removeObjectAndExecuteBlocksForKey(key); });
}

void HXCMemoryCache::trimToDate(std::optional<foundation::Date> date) {
    if (!date) return;
    if (*date == foundation::distantPast()) {
        removeAllObjects();
        return;
    }
    HX_ASSERT_OFF_QUEUE(queue_);
    queue_->barrierSync([&] { trimMemoryToDate(*date); });
}

void HXCMemoryCache::trimToCost(uint64_t cost) {
    HX_ASSERT_OFF_QUEUE(queue_);
    queue_->barrierSync([&] { trimToCostLimit(cost); });
}

void HXCMemoryCache::trimToCostByDate(uint64_t cost) {
    HX_ASSERT_OFF_QUEUE(queue_);
    queue_->barrierSync([&] { trimToCostLimitByDate(cost); });
}

void HXCMemoryCache::removeAllObjects() {
    HX_ASSERT_OFF_QUEUE(queue_);
    queue_->barrierSync([&] { removeAllNow(); });
}

void HXCMemoryCache::enumerateObjectsWithBlock(ObjectBlock block) {
    if (!block) return;
    waitFor([&](dispatch::Block done) {
        enumerateObjectsWithBlock(std::move(block), [done](HXCMemoryCache&) { done(); });
    });
}

// ---- properties

template <typename T>
T HXCMemoryCache::readOnQueue(const T& field) const {
    T value{};
    queue_->sync([&] { value = field; });
    return value;
}

double HXCMemoryCache::ageLimit() const { return readOnQueue(ageLimit_); }
uint64_t HXCMemoryCache::costLimit() const { return readOnQueue(costLimit_); }
uint64_t HXCMemoryCache::totalCost() const { return readOnQueue(totalCost_); }

void HXCMemoryCache::setAgeLimit(double seconds) {
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, seconds] {
        auto self = weak.lock();
        if (!self) return;
        self->ageLimit_ = seconds;
        self->trimToAgeLimitRecursively();
    });
}

void HXCMemoryCache::setCostLimit(uint64_t cost) {
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->barrierAsync([weak, cost] {
        auto self = weak.lock();
        if (!self) return;
        self->costLimit_ = cost;
        if (cost != 0) self->trimToCostByDate(cost, nullptr);
    });
}

#define HXC_MEMORY_CACHE_HOOK(Type, getter, setter, field)                                                             \
    HXCMemoryCache::Type HXCMemoryCache::getter() const { return readOnQueue(field); }                                 \
    void HXCMemoryCache::setter(Type block) {                                                                          \
        std::weak_ptr<HXCMemoryCache> weak = weak_from_this();                                                         \
        queue_->barrierAsync([weak, block = std::move(block)] {                                                        \
            if (auto self = weak.lock()) self->field = block;                                                          \
        });                                                                                                            \
    }

HXC_MEMORY_CACHE_HOOK(ObjectBlock, willAddObjectBlock, setWillAddObjectBlock, willAddObjectBlock_)
HXC_MEMORY_CACHE_HOOK(ObjectBlock, willRemoveObjectBlock, setWillRemoveObjectBlock, willRemoveObjectBlock_)
HXC_MEMORY_CACHE_HOOK(CacheBlock, willRemoveAllObjectsBlock, setWillRemoveAllObjectsBlock, willRemoveAllObjectsBlock_)
HXC_MEMORY_CACHE_HOOK(ObjectBlock, didAddObjectBlock, setDidAddObjectBlock, didAddObjectBlock_)
HXC_MEMORY_CACHE_HOOK(ObjectBlock, didRemoveObjectBlock, setDidRemoveObjectBlock, didRemoveObjectBlock_)
HXC_MEMORY_CACHE_HOOK(CacheBlock, didRemoveAllObjectsBlock, setDidRemoveAllObjectsBlock, didRemoveAllObjectsBlock_)
HXC_MEMORY_CACHE_HOOK(CacheBlock, didReceiveMemoryWarningBlock, setDidReceiveMemoryWarningBlock,
                      didReceiveMemoryWarningBlock_)
HXC_MEMORY_CACHE_HOOK(CacheBlock, didEnterBackgroundBlock, setDidEnterBackgroundBlock, didEnterBackgroundBlock_)

#undef HXC_MEMORY_CACHE_HOOK

// ---- the application's notifications

void HXCMemoryCache::handleMemoryWarning() {
    if (removeAllObjectsOnMemoryWarning()) removeAllObjects(nullptr);
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->async([weak] {
        auto self = weak.lock();
        if (self && self->didReceiveMemoryWarningBlock_) self->didReceiveMemoryWarningBlock_(*self);
    });
}

void HXCMemoryCache::handleApplicationBackgrounding() {
    if (removeAllObjectsOnEnteringBackground()) removeAllObjects(nullptr);
    std::weak_ptr<HXCMemoryCache> weak = weak_from_this();
    queue_->async([weak] {
        auto self = weak.lock();
        if (self && self->didEnterBackgroundBlock_) self->didEnterBackgroundBlock_(*self);
    });
}
