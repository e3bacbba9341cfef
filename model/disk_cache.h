// Objects kept on disk, one keyed-archive file per key in a directory of the cache's own, with
// the date of last access (the file's modification date) and the allocated size of every file
// kept in memory, so the directory can be held under a byte or age limit. Removed files are
// moved into a shared trash that a background-priority queue empties. All disk caches share one
// serial queue; every operation has an asynchronous form and a synchronous one.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "model/cached_object.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/value.h"

class HXCDiskCache : public std::enable_shared_from_this<HXCDiskCache> {
public:
    using Object = HXCCacheObject;
    using FileURL = std::optional<std::filesystem::path>;
    // (cache, key, object or null, file URL or none)
    using ObjectBlock =
        std::function<void(HXCDiskCache& cache, const std::string& key, const Object& object, const FileURL& fileURL)>;
    using CacheBlock = std::function<void(HXCDiskCache& cache)>;

    // A cache in "<rootPath>/com.hxconnect.HXCDiskCache.<name>"; null without a name. Its maps
    // are rebuilt from the directory by a step queued now, so later operations see them.
    static std::shared_ptr<HXCDiskCache> create(const std::optional<std::string>& name);
    static std::shared_ptr<HXCDiskCache> create(const std::optional<std::string>& name,
                                                const std::filesystem::path& rootPath);
    static std::shared_ptr<HXCDiskCache> sharedCache();

    static const dispatch::QueuePtr& sharedQueue();
    static const dispatch::QueuePtr& sharedTrashQueue();
    static std::filesystem::path sharedTrashURL();
    // Moves what lies at url into the trash under a fresh unique name; false when nothing is there.
    static bool moveItemAtURLToTrash(const std::filesystem::path& url);
    static void emptyTrash();
    // Keeps work alive while the application is in the background: the platform's one task
    // registry, or none (the default), in which case work simply runs.
    static void setBackgroundTaskManager(foundation::Application* manager);

    // The escaped form of a key: "%", ".", ":", "/" and NUL percent-escaped, all else unchanged.
    // A key's file name is this form, bounded by foundation::boundedFileName so that it and the
    // writer's temporary fit the file-name limit (a long key's name then no longer decodes).
    static std::string encodedString(std::string_view key);
    // The key of a file name; none when an escape is malformed.
    static std::optional<std::string> decodedString(std::string_view name);

    ~HXCDiskCache();
    std::string description() const;

    // ---- asynchronous; completions are called at the end of the step on the disk queue
    void objectForKey(const std::string& key, ObjectBlock block);
    void fileURLForKey(const std::string& key, ObjectBlock block);
    void setObject(Object object, const std::string& key, ObjectBlock block);
    void removeObjectForKey(const std::string& key, ObjectBlock block);
    // 0 empties the cache.
    void trimToSize(uint64_t byteCount, CacheBlock block);
    void trimToSizeByDate(uint64_t byteCount, CacheBlock block);
    // The distant past empties the cache.
    void trimToDate(std::optional<foundation::Date> date, CacheBlock block);
    void removeAllObjects(CacheBlock block);
    // Least recently used first; objects are not read.
    void enumerateObjectsWithBlock(ObjectBlock block, CacheBlock completionBlock);

    // ---- synchronous: never call them from a step on the disk queue
    Object objectForKey(const std::string& key);
    FileURL fileURLForKey(const std::string& key);
    void setObject(Object object, const std::string& key);
    void removeObjectForKey(const std::string& key);
    void trimToSize(uint64_t byteCount);
    void trimToSizeByDate(uint64_t byteCount);
    void trimToDate(std::optional<foundation::Date> date);
    void removeAllObjects();
    void enumerateObjectsWithBlock(ObjectBlock block);

    // ---- properties
    const std::string& name() const { return name_; }
    const std::filesystem::path& cacheURL() const { return cacheURL_; }
    const dispatch::QueuePtr& queue() const { return queue_; }
    uint64_t byteCount() const { return byteCount_.load(); }
    uint64_t byteLimit() const;
    void setByteLimit(uint64_t bytes);
    double ageLimit() const;
    void setAgeLimit(double seconds);
    // Copies of the maps, read on the disk queue (for inspection and tests).
    std::unordered_map<std::string, foundation::Date> dates() const;
    std::unordered_map<std::string, uint64_t> sizes() const;

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

    struct Passkey {
    private:
        Passkey() = default;
        friend class HXCDiskCache;
    };
    HXCDiskCache(Passkey, std::string name, std::filesystem::path rootPath);

private:
    FileURL encodedFileURLForKey(const std::string& key) const;
    static std::optional<std::string> keyForEncodedFileURL(const std::filesystem::path& url);

    // Run on the disk queue.
    void createCacheDirectory();
    void initializeDiskProperties();
    bool setFileModificationDate(foundation::Date date, const std::filesystem::path& url);
    bool removeFileAndExecuteBlocksForKey(const std::string& key);
    void writeObject(const std::string& key, const Object& object, foundation::Date now, const ObjectBlock& block);
    void trimDiskToSize(uint64_t limit);
    void trimDiskToSizeByDate(uint64_t limit);
    void trimDiskToDate(foundation::Date date);
    void removeAllNow();
    void trimToAgeLimitRecursively();

    static uint64_t beginBackgroundTask();
    static void endBackgroundTask(uint64_t identifier);
    // Queues work on the disk queue with the cache held weakly, inside a background task.
    void run(std::function<void(HXCDiskCache&)> step, bool backgroundTask);
    void waitFor(const std::function<void(dispatch::Block done)>& start) const;
    template <typename T>
    T readOnQueue(const T& field) const;

    const std::string name_;
    const std::filesystem::path cacheURL_;
    dispatch::QueuePtr queue_;
    std::atomic<uint64_t> byteCount_{0};
    uint64_t byteLimit_ = 0;
    double ageLimit_ = 0;
    ObjectBlock willAddObjectBlock_, willRemoveObjectBlock_, didAddObjectBlock_, didRemoveObjectBlock_;
    CacheBlock willRemoveAllObjectsBlock_, didRemoveAllObjectsBlock_;
    std::unordered_map<std::string, foundation::Date> dates_;
    std::unordered_map<std::string, uint64_t> sizes_;
};
