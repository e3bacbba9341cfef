// A thread-safe in-memory store of objects under string keys, each with a cost and the date of
// its last access, held under an optional cost or age limit. Reads run side by side on the
// cache's concurrent queue, every change runs there as a barrier. Every operation has an
// asynchronous form with a completion and a synchronous form that waits for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "model/cached_object.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/value.h"

class HXCMemoryCache : public std::enable_shared_from_this<HXCMemoryCache> {
public:
    using Object = HXCCacheObject;
    // (cache, key, object or null)
    using ObjectBlock = std::function<void(HXCMemoryCache& cache, const std::string& key, const Object& object)>;
    using CacheBlock = std::function<void(HXCMemoryCache& cache)>;

    // A new cache (`init`): no limits, empties itself on memory warnings and in the background.
    static std::shared_ptr<HXCMemoryCache> create();
    static std::shared_ptr<HXCMemoryCache> sharedCache();
    ~HXCMemoryCache();

    // ---- asynchronous; completions are queued on the cache's queue
    void objectForKey(const std::string& key, ObjectBlock block);
    void setObject(Object object, const std::string& key, ObjectBlock block);
    void setObject(Object object, const std::string& key, uint64_t withCost, ObjectBlock block);
    void removeObjectForKey(const std::string& key, ObjectBlock block);
    // The distant past empties the cache.
    void trimToDate(std::optional<foundation::Date> date, CacheBlock block);
    void trimToCost(uint64_t cost, CacheBlock block);
    void trimToCostByDate(uint64_t cost, CacheBlock block);
    void removeAllObjects(CacheBlock block);
    // Least recently used first.
    void enumerateObjectsWithBlock(ObjectBlock block, CacheBlock completionBlock);

    // ---- synchronous: wait for the work; never call them from the cache's own queue
    Object objectForKey(const std::string& key);
    void setObject(Object object, const std::string& key);
    void setObject(Object object, const std::string& key, uint64_t withCost);
    void removeObjectForKey(const std::string& key);
    void trimToDate(std::optional<foundation::Date> date);
    void trimToCost(uint64_t cost);
    void trimToCostByDate(uint64_t cost);
    void removeAllObjects();
    void enumerateObjectsWithBlock(ObjectBlock block);

    // ---- properties
    bool removeAllObjectsOnMemoryWarning() const { return removeAllObjectsOnMemoryWarning_.load(); }
    void setRemoveAllObjectsOnMemoryWarning(bool v) { removeAllObjectsOnMemoryWarning_.store(v); }
    bool removeAllObjectsOnEnteringBackground() const { return removeAllObjectsOnEnteringBackground_.load(); }
    void setRemoveAllObjectsOnEnteringBackground(bool v) { removeAllObjectsOnEnteringBackground_.store(v); }
    double ageLimit() const;
    void setAgeLimit(double seconds);
    uint64_t costLimit() const;
    void setCostLimit(uint64_t cost);
    uint64_t totalCost() const;

    ObjectBlock willAddObjectBlock() const;
    void setWillAddObjectBlock(ObjectBlock block);
    ObjectBlock willRemoveObjectBlock() const;
    void setWillRemoveObjectBlock(ObjectBlock block);
    CacheBlock willRemoveAllObjectsBlock() const;
    void setWillRemoveAllObjectsBlock(CacheBlock block);
    ObjectBlock didAddObjectBlock() const;
    void setDidAddObjectBlock(ObjectBlock block);
    ObjectBlock didRemoveObjectBlock() const;
    void setDidRemoveObjectBlock(ObjectBlock block);
    CacheBlock didRemoveAllObjectsBlock() const;
    void setDidRemoveAllObjectsBlock(CacheBlock block);
    CacheBlock didReceiveMemoryWarningBlock() const;
    void setDidReceiveMemoryWarningBlock(CacheBlock block);
    CacheBlock didEnterBackgroundBlock() const;
    void setDidEnterBackgroundBlock(CacheBlock block);

    const dispatch::QueuePtr& queue() const { return queue_; }

    // The application's notifications, as the notification centre delivers them.
    void handleMemoryWarning();
    void handleApplicationBackgrounding();

    struct Passkey {
    private:
        Passkey() = default;
        friend class HXCMemoryCache;
    };
    explicit HXCMemoryCache(Passkey);

private:
    // One entry per key, found with one lookup: the object, its cost and the seconds since 1970
    // of its last access. The map's shape changes only in barriers; a read refreshes its entry's
    // date in place, so lookups never wait for one another.
    struct Entry {
        Object object;
        uint64_t cost = 0;
        std::atomic<double> date{0};
    };
    // Keys are short (phone numbers, addresses): hashed eight bytes at a time, a fraction of the
    // standard string hash's cost on every lookup.
    struct KeyHash {
        size_t operator()(const std::string& key) const noexcept;
    };
    // Keys up to 16 bytes compared in two words each, without a call.
    struct KeyEqual {
        bool operator()(const std::string& a, const std::string& b) const noexcept;
    };

    // Run inside a barrier on the queue.
    void addObject(const std::string& key, Object object, uint64_t cost, foundation::Date now);
    void removeObjectAndExecuteBlocksForKey(const std::string& key);
    // Run inside a read.
    static void touch(Entry& entry, foundation::Date date);
    void trimMemoryToDate(foundation::Date date);
    void trimToCostLimit(uint64_t limit);
    void trimToCostLimitByDate(uint64_t limit);
    void removeAllNow();
    void trimToAgeLimitRecursively();

    template <typename T>
    T readOnQueue(const T& field) const;
    void waitFor(const std::function<void(dispatch::Block done)>& start);

    std::atomic<bool> removeAllObjectsOnMemoryWarning_{true};
    std::atomic<bool> removeAllObjectsOnEnteringBackground_{true};
    double ageLimit_ = 0;
    uint64_t costLimit_ = 0;
    uint64_t totalCost_ = 0;
    ObjectBlock willAddObjectBlock_, willRemoveObjectBlock_, didAddObjectBlock_, didRemoveObjectBlock_;
    CacheBlock willRemoveAllObjectsBlock_, didRemoveAllObjectsBlock_, didReceiveMemoryWarningBlock_,
        didEnterBackgroundBlock_;
    dispatch::QueuePtr queue_;
    std::unordered_map<std::string, Entry, KeyHash, KeyEqual> entries_;
};
