// The two-level object cache: a memory cache in front of a disk cache under one name. Lookups
// try memory first and copy what disk finds into memory; changes go to both levels and the
// caller's completion runs on the cache's own queue once both are done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/cached_object.h"
#include "model/disk_cache.h"
#include "model/memory_cache.h"
#include "platform/dispatch/dispatch.h"

class HXCCache : public std::enable_shared_from_this<HXCCache> {
public:
    using Object = HXCCacheObject;
    // (cache, key, object or null)
    using ObjectBlock = std::function<void(HXCCache& cache, const std::string& key, const Object& object)>;
    using CacheBlock = std::function<void(HXCCache& cache)>;

    // The app's cache "HXCCacheShared" in the caches folder.
    static std::shared_ptr<HXCCache> sharedCache();
    // Null without a name. The root defaults to the caches folder.
    static std::shared_ptr<HXCCache> create(const std::optional<std::string>& name);
    static std::shared_ptr<HXCCache> create(const std::optional<std::string>& name,
                                            const std::filesystem::path& rootPath);

    std::string description() const;

    // ---- asynchronous; completions run on queue()
    void objectForKey(const std::string& key, ObjectBlock block);
    void setObject(Object object, const std::string& key, ObjectBlock block);
    void removeObjectForKey(const std::string& key, ObjectBlock block);
    void trimToDate(std::optional<foundation::Date> date, CacheBlock block);
    void removeAllObjects(CacheBlock block);

    // ---- synchronous: never from a completion or hook of the caches, nor on the disk queue
    Object objectForKey(const std::string& key);
    void setObject(Object object, const std::string& key);
    void removeObjectForKey(const std::string& key);
    void trimToDate(std::optional<foundation::Date> date);
    void removeAllObjects();

    // The disk level's byte count, read on the disk queue.
    uint64_t diskByteCount() const;

    const std::string& name() const { return name_; }
    const dispatch::QueuePtr& queue() const { return queue_; }
    const std::shared_ptr<HXCDiskCache>& diskCache() const { return diskCache_; }
    const std::shared_ptr<HXCMemoryCache>& memoryCache() const { return memoryCache_; }

    struct Passkey {
    private:
        Passkey() = default;
        friend class HXCCache;
    };
    HXCCache(Passkey, std::string name, const std::filesystem::path& rootPath);

private:
    void waitFor(const std::function<void(dispatch::Block done)>& start) const;
    // Runs start(memoryDone, diskDone) and then block once both are called, on queue().
    void onBothLevels(const std::function<void(dispatch::Block, dispatch::Block)>& start, dispatch::Block whenDone);

    const std::string name_;
    dispatch::QueuePtr queue_;
    std::shared_ptr<HXCDiskCache> diskCache_;
    std::shared_ptr<HXCMemoryCache> memoryCache_;
};
