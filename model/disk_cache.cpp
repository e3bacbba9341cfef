#include "model/disk_cache.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/dispatch/queue_check.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/url.h"
#include "platform/foundation/uuid.h"

namespace files = foundation::files;

namespace {

constexpr const char* kPrefix = "com.hxconnect.HXCDiskCache";

foundation::Date now() { return foundation::Date{dispatch::wallNow()}; }

std::atomic<foundation::Application*>& managerSlot() {
    static std::atomic<foundation::Application*> manager{nullptr};
    return manager;
}

template <typename Map>
std::vector<std::string> keysSortedByValue(const Map& map) {
    std::vector<std::pair<typename Map::mapped_type, std::string>> entries;
    entries.reserve(map.size());
    for (const auto& [key, value] : map) entries.emplace_back(value, key);
    std::sort(entries.begin(), entries.end());
    std::vector<std::string> keys;
    keys.reserve(entries.size());
    for (auto& e : entries) keys.push_back(std::move(e.second));
    return keys;
}

foundation::Result<foundation::Data> archive(const HXCCacheObject& object) {
    if (object->archivable) return foundation::archivedData(*object->archivable);
    return foundation::archivedData(object->value);
}

HXCCacheObject unarchive(const foundation::Data& bytes) {
    HXCCachedImage::registerClass();
    auto decoded = foundation::unarchivedAny(bytes);
    if (!decoded.ok()) return nullptr;
    auto object = std::make_shared<HXCCachedObject>();
    object->archivable = std::move(decoded->object);
    object->value = std::move(decoded->value);
    if (!object->archivable && object->value.isNull()) return nullptr;
    return object;
}

}  // namespace

// ---- class-wide state

const dispatch::QueuePtr& HXCDiskCache::sharedQueue() {
    static const dispatch::QueuePtr queue = dispatch::Queue::serial(kPrefix);
    return queue;
}

const dispatch::QueuePtr& HXCDiskCache::sharedTrashQueue() {
    static const dispatch::QueuePtr queue = dispatch::Queue::serial(
        std::string(kPrefix) + ".trash", dispatch::Queue::global(dispatch::Priority::Background));
    return queue;
}

std::filesystem::path HXCDiskCache::sharedTrashURL() {
    static std::mutex m;
    std::lock_guard lock(m);
    const std::filesystem::path trash = foundation::temporaryDirectory() / kPrefix;
    if (!files::exists(trash)) (void)files::createDirectory(trash);
    return trash;
}

bool HXCDiskCache::moveItemAtURLToTrash(const std::filesystem::path& url) {
    if (!files::exists(url)) return false;
    return files::move(url, sharedTrashURL() / foundation::globallyUniqueString()).ok();
}

void HXCDiskCache::emptyTrash() {
    const uint64_t task = beginBackgroundTask();
    sharedTrashQueue()->async([task] {
        auto entries = files::listDirectory(sharedTrashURL(), /*skipHidden=*/false);
        if (entries.ok()) {
            for (const auto& entry : *entries) (void)files::remove(entry.path);
        }
        endBackgroundTask(task);
    });
}

void HXCDiskCache::setBackgroundTaskManager(foundation::Application* manager) { managerSlot() = manager; }

uint64_t HXCDiskCache::beginBackgroundTask() {
    auto* manager = managerSlot().load();
    return manager ? manager->beginBackgroundTask(kPrefix) : foundation::kInvalidBackgroundTask;
}

void HXCDiskCache::endBackgroundTask(uint64_t identifier) {
    if (auto* manager = managerSlot().load()) manager->endBackgroundTask(identifier);
}

// ---- file names

std::string HXCDiskCache::encodedString(std::string_view key) {
    // "%" is escaped as well, so that decoding is the exact inverse: a key that looks like an
    // escape ("a%2Eb") never shares a file with the key it spells ("a.b").
    std::string out;
    out.reserve(key.size());
    for (char c : key) {
        switch (c) {
            case '%':
                out += "%25";
                break;
            case '.':
                out += "%2E";
                break;
            case ':':
                out += "%3A";
                break;
            case '/':
                out += "%2F";
                break;
            case '\0':
                out += "%00";  // the file system would end the name there, merging "a\0b" into "a"
                break;
            default:
                out.push_back(c);
                break;
        }
    }
    return out;
}

std::optional<std::string> HXCDiskCache::decodedString(std::string_view name) {
    if (name.empty()) return std::string();
    return foundation::percentDecode(name);
}

HXCDiskCache::FileURL HXCDiskCache::encodedFileURLForKey(const std::string& key) const {
    if (key.empty()) return std::nullopt;
    auto name = foundation::boundedFileName(encodedString(key), foundation::kAtomicWriteAffixBytes);
    if (!name) return std::nullopt;
    return cacheURL_ / *name;
}

std::optional<std::string> HXCDiskCache::keyForEncodedFileURL(const std::filesystem::path& url) {
    return decodedString(url.filename().string());
}

// ---- construction

HXCDiskCache::HXCDiskCache(Passkey, std::string name, std::filesystem::path rootPath)
    : name_(std::move(name)), cacheURL_(rootPath / (std::string(kPrefix) + "." + name_)), queue_(sharedQueue()) {}

std::shared_ptr<HXCDiskCache> HXCDiskCache::create(const std::optional<std::string>& name) {
    return create(name, foundation::cachesDirectory());
}

std::shared_ptr<HXCDiskCache> HXCDiskCache::create(const std::optional<std::string>& name,
                                                   const std::filesystem::path& rootPath) {
    if (!name) return nullptr;
    auto cache = std::make_shared<HXCDiskCache>(Passkey{}, *name, rootPath);
    cache->run(
        [](HXCDiskCache& self) {
            self.createCacheDirectory();
            self.initializeDiskProperties();
        },
        false);
    return cache;
}

std::shared_ptr<HXCDiskCache> HXCDiskCache::sharedCache() {
    static const std::shared_ptr<HXCDiskCache> shared = create(std::string("HXCDiskCacheShared"));
    return shared;
}

HXCDiskCache::~HXCDiskCache() = default;

std::string HXCDiskCache::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string(kPrefix) + "." + name_ + "." + address;
}

void HXCDiskCache::run(std::function<void(HXCDiskCache&)> step, bool backgroundTask) {
    const uint64_t task = backgroundTask ? beginBackgroundTask() : 0;
    std::weak_ptr<HXCDiskCache> weak = weak_from_this();
    queue_->async([weak, step = std::move(step), task, backgroundTask] {
        if (auto self = weak.lock()) step(*self);
        if (backgroundTask) endBackgroundTask(task);
    });
}

// ---- the procedures, on the disk queue

void HXCDiskCache::createCacheDirectory() {
    HX_ASSERT_ON_QUEUE(queue_);
    if (!files::exists(cacheURL_)) (void)files::createDirectory(cacheURL_);
}

void HXCDiskCache::initializeDiskProperties() {
    HX_ASSERT_ON_QUEUE(queue_);
    // The count below skips hidden files: a temporary that a killed writer left would take room
    // that no trim ever frees.
    files::removeStaleTemporaries(cacheURL_);
    auto entries = files::listDirectory(cacheURL_, /*skipHidden=*/true);
    if (!entries.ok()) return;
    uint64_t total = 0;
    for (const auto& entry : *entries) {
        auto key = keyForEncodedFileURL(entry.path);
        if (!key) continue;
        dates_[*key] = entry.attributes.modificationDate;
        sizes_[*key] = entry.attributes.allocatedSize;
        total += entry.attributes.allocatedSize;
    }
    if (total != 0) byteCount_.store(total);
}

bool HXCDiskCache::setFileModificationDate(foundation::Date date, const std::filesystem::path& url) {
    HX_ASSERT_ON_QUEUE(queue_);
    if (!files::setModificationDate(url, date).ok()) return false;
    if (auto key = keyForEncodedFileURL(url)) dates_[*key] = date;
    return true;
}

bool HXCDiskCache::removeFileAndExecuteBlocksForKey(const std::string& key) {
    HX_ASSERT_ON_QUEUE(queue_);
    auto url = encodedFileURLForKey(key);
    if (!url || !files::exists(*url)) return false;
    if (willRemoveObjectBlock_) willRemoveObjectBlock_(*this, key, nullptr, url);
    if (!moveItemAtURLToTrash(*url)) return false;
    emptyTrash();
    if (auto it = sizes_.find(key); it != sizes_.end()) {
        byteCount_.fetch_sub(std::min(it->second, byteCount_.load()));
        sizes_.erase(it);
    }
    dates_.erase(key);
    if (didRemoveObjectBlock_) didRemoveObjectBlock_(*this, key, nullptr, url);
    return true;
}

void HXCDiskCache::writeObject(const std::string& key, const Object& object, foundation::Date date,
                               const ObjectBlock& block) {
    HX_ASSERT_ON_QUEUE(queue_);
    FileURL url = encodedFileURLForKey(key);
    if (willAddObjectBlock_) willAddObjectBlock_(*this, key, object, url);
    bool written = false;
    if (url) {
        auto bytes = archive(object);
        // A temporary file renamed into place: a crash leaves the old object or the new one.
        written = bytes.ok() && files::writeAtomically(*url, *bytes).ok();
    }
    if (written) {
        if (setFileModificationDate(date, *url)) dates_[key] = date;
        if (auto attributes = files::attributes(*url); attributes.ok()) {
            if (auto it = sizes_.find(key); it != sizes_.end())
                byteCount_.fetch_sub(std::min(it->second, byteCount_.load()));
            sizes_[key] = attributes->allocatedSize;
            byteCount_.fetch_add(attributes->allocatedSize);
        }
        if (byteLimit_ != 0 && byteCount_.load() > byteLimit_) trimToSizeByDate(byteLimit_, nullptr);
    } else {
        url.reset();
    }
    if (didAddObjectBlock_) didAddObjectBlock_(*this, key, object, url);
    if (block) block(*this, key, object, url);
}

void HXCDiskCache::trimDiskToSize(uint64_t limit) {
    HX_ASSERT_ON_QUEUE(queue_);
    if (byteCount_.load() <= limit) return;
    auto keys = keysSortedByValue(sizes_);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        removeFileAndExecuteBlocksForKey(*it);
        if (byteCount_.load() <= limit) break;
    }
}

void HXCDiskCache::trimDiskToSizeByDate(uint64_t limit) {
    HX_ASSERT_ON_QUEUE(queue_);
    if (byteCount_.load() <= limit) return;
    for (const auto& key : keysSortedByValue(dates_)) {
        removeFileAndExecuteBlocksForKey(key);
        if (byteCount_.load() <= limit) break;
    }
}

void HXCDiskCache::trimDiskToDate(foundation::Date date) {
    HX_ASSERT_ON_QUEUE(queue_);
    for (const auto& key : keysSortedByValue(dates_)) {
        auto it = dates_.find(key);
        if (it == dates_.end()) continue;
        if (!(it->second < date)) break;
        removeFileAndExecuteBlocksForKey(key);
    }
}

void HXCDiskCache::removeAllNow() {
    HX_ASSERT_ON_QUEUE(queue_);
    if (willRemoveAllObjectsBlock_) willRemoveAllObjectsBlock_(*this);
    moveItemAtURLToTrash(cacheURL_);
    emptyTrash();
    createCacheDirectory();
    dates_.clear();
    sizes_.clear();
    byteCount_.store(0);
    if (didRemoveAllObjectsBlock_) didRemoveAllObjectsBlock_(*this);
}

void HXCDiskCache::trimToAgeLimitRecursively() {
    HX_ASSERT_ON_QUEUE(queue_);
    if (ageLimit_ == 0) return;
    trimDiskToDate(foundation::Date{now().secondsSince1970 - ageLimit_});
    std::weak_ptr<HXCDiskCache> weak = weak_from_this();
    queue_->after(ageLimit_, [weak] {
        if (auto self = weak.lock()) self->trimToAgeLimitRecursively();
    });
}

// ---- asynchronous operations

void HXCDiskCache::objectForKey(const std::string& key, ObjectBlock block) {
    if (!block) return;
    const foundation::Date calledAt = now();
    run(
        [key, block = std::move(block), calledAt](HXCDiskCache& self) {
            FileURL url = self.encodedFileURLForKey(key);
            Object object;
            if (url && files::exists(*url)) {
                auto bytes = files::readData(*url);
                object = bytes.ok() ? unarchive(*bytes) : nullptr;
                if (object) {
                    if (self.setFileModificationDate(calledAt, *url)) self.dates_[key] = calledAt;
                } else {
                    // An unreadable archive leaves through the remove path, so the maps and the
                    // byte count stay in step with the directory.
                    self.removeFileAndExecuteBlocksForKey(key);
                }
            }
            block(self, key, object, url);
        },
        false);
}

void HXCDiskCache::fileURLForKey(const std::string& key, ObjectBlock block) {
    if (!block) return;
    const foundation::Date calledAt = now();
    run(
        [key, block = std::move(block), calledAt](HXCDiskCache& self) {
            FileURL url = self.encodedFileURLForKey(key);
            if (url && files::exists(*url)) {
                if (self.setFileModificationDate(calledAt, *url)) self.dates_[key] = calledAt;
            } else {
                url.reset();
            }
            block(self, key, nullptr, url);
        },
        false);
}

void HXCDiskCache::setObject(Object object, const std::string& key, ObjectBlock block) {
    if (!object) return;
    const foundation::Date calledAt = now();
    run([key, object = std::move(object), block = std::move(block),
         calledAt](HXCDiskCache& self) { self.writeObject(key, object, calledAt, block); },
        true);
}

void HXCDiskCache::removeObjectForKey(const std::string& key, ObjectBlock block) {
    run(
        [key, block = std::move(block)](HXCDiskCache& self) {
            self.removeFileAndExecuteBlocksForKey(key);
            if (block) block(self, key, nullptr, self.encodedFileURLForKey(key));
        },
        true);
}

void HXCDiskCache::trimToSize(uint64_t byteCount, CacheBlock block) {
    if (byteCount == 0) {
        removeAllObjects(std::move(block));
        return;
    }
    run(
        [byteCount, block = std::move(block)](HXCDiskCache& self) {
            self.trimDiskToSize(byteCount);
            if (block) block(self);
        },
        true);
}

void HXCDiskCache::trimToSizeByDate(uint64_t byteCount, CacheBlock block) {
    if (byteCount == 0) {
        removeAllObjects(std::move(block));
        return;
    }
    run(
        [byteCount, block = std::move(block)](HXCDiskCache& self) {
            self.trimDiskToSizeByDate(byteCount);
            if (block) block(self);
        },
        true);
}

void HXCDiskCache::trimToDate(std::optional<foundation::Date> date, CacheBlock block) {
    if (!date) return;
    if (*date == foundation::distantPast()) {
        removeAllObjects(std::move(block));
        return;
    }
    run(
        [date = *date, block = std::move(block)](HXCDiskCache& self) {
            self.trimDiskToDate(date);
            if (block) block(self);
        },
        true);
}

void HXCDiskCache::removeAllObjects(CacheBlock block) {
    run(
        [block = std::move(block)](HXCDiskCache& self) {
            self.removeAllNow();
            if (block) block(self);
        },
        true);
}

void HXCDiskCache::enumerateObjectsWithBlock(ObjectBlock block, CacheBlock completionBlock) {
    if (!block) return;
    run(
        [block = std::move(block), completionBlock = std::move(completionBlock)](HXCDiskCache& self) {
            for (const auto& key : keysSortedByValue(self.dates_))
                block(self, key, nullptr, self.encodedFileURLForKey(key));
            if (completionBlock) completionBlock(self);
        },
        true);
}

// ---- synchronous operations

void HXCDiskCache::waitFor(const std::function<void(dispatch::Block done)>& start) const {
    // Every disk cache shares the queue: waiting on it from it could never end.
    HX_ASSERT_OFF_QUEUE(queue_);
    auto semaphore = std::make_shared<dispatch::Semaphore>(0);
    start([semaphore] { semaphore->signal(); });
    semaphore->wait();
}

HXCDiskCache::Object HXCDiskCache::objectForKey(const std::string& key) {
    auto result = std::make_shared<Object>();
    waitFor([&](dispatch::Block done) {
        objectForKey(key, [result, done](HXCDiskCache&, const std::string&, const Object& object, const FileURL&) {
            *result = object;
            done();
        });
    });
    return *result;
}

HXCDiskCache::FileURL HXCDiskCache::fileURLForKey(const std::string& key) {
    auto result = std::make_shared<FileURL>();
    waitFor([&](dispatch::Block done) {
        fileURLForKey(key, [result, done](HXCDiskCache&, const std::string&, const Object&, const FileURL& url) {
            *result = url;
            done();
        });
    });
    return *result;
}

void HXCDiskCache::setObject(Object object, const std::string& key) {
    if (!object) return;
    waitFor([&](dispatch::Block done) {
        setObject(std::move(object), key,
                  [done](HXCDiskCache&, const std::string&, const Object&, const FileURL&) { done(); });
    });
}

void HXCDiskCache::removeObjectForKey(const std::string& key) {
    waitFor([&](dispatch::Block done) {
        removeObjectForKey(key, [done](HXCDiskCache&, const std::string&, const Object&, const FileURL&) { done(); });
    });
}

void HXCDiskCache::trimToSize(uint64_t byteCount) {
    waitFor([&](dispatch::Block done) { trimToSize(byteCount, [done](HXCDiskCache&) { done(); }); });
}

void HXCDiskCache::trimToSizeByDate(uint64_t byteCount) {
    waitFor([&](dispatch::Block done) { trimToSizeByDate(byteCount, [done](HXCDiskCache&) { done(); }); });
}

void HXCDiskCache::trimToDate(std::optional<foundation::Date> date) {
    if (!date) return;
    waitFor([&](dispatch::Block done) { trimToDate(date, [done](HXCDiskCache&) { done(); }); });
}

void HXCDiskCache::removeAllObjects() {
    waitFor([&](dispatch::Block done) { removeAllObjects([done](HXCDiskCache&) { done(); }); });
}

void HXCDiskCache::enumerateObjectsWithBlock(ObjectBlock block) {
    if (!block) return;
    waitFor(
        [&](dispatch::Block done) { enumerateObjectsWithBlock(std::move(block), [done](HXCDiskCache&) { done(); }); });
}

// ---- properties

template <typename T>
T HXCDiskCache::readOnQueue(const T& field) const {
    T value{};
    queue_->sync([&] { value = field; });
    return value;
}

uint64_t HXCDiskCache::byteLimit() const { return readOnQueue(byteLimit_); }
double HXCDiskCache::ageLimit() const { return readOnQueue(ageLimit_); }
std::unordered_map<std::string, foundation::Date> HXCDiskCache::dates() const { return readOnQueue(dates_); }
std::unordered_map<std::string, uint64_t> HXCDiskCache::sizes() const { return readOnQueue(sizes_); }

void HXCDiskCache::setByteLimit(uint64_t bytes) {
    run(
        [bytes](HXCDiskCache& self) {
            self.byteLimit_ = bytes;
            if (bytes != 0) self.trimDiskToSizeByDate(bytes);
        },
        true);
}

void HXCDiskCache::setAgeLimit(double seconds) {
    run(
        [seconds](HXCDiskCache& self) {
            self.ageLimit_ = seconds;
            self.trimToAgeLimitRecursively();
        },
        true);
}

#define HXC_DISK_CACHE_HOOK(Type, getter, setter, field)                                                               \
    HXCDiskCache::Type HXCDiskCache::getter() const { return readOnQueue(field); }                                     \
    void HXCDiskCache::setter(Type block) {                                                                            \
        run([block = std::move(block)](HXCDiskCache& self) { self.field = block; }, false);                            \
    }

HXC_DISK_CACHE_HOOK(ObjectBlock, willAddObjectBlock, setWillAddObjectBlock, willAddObjectBlock_)
HXC_DISK_CACHE_HOOK(ObjectBlock, willRemoveObjectBlock, setWillRemoveObjectBlock, willRemoveObjectBlock_)
HXC_DISK_CACHE_HOOK(CacheBlock, willRemoveAllObjectsBlock, setWillRemoveAllObjectsBlock, willRemoveAllObjectsBlock_)
HXC_DISK_CACHE_HOOK(ObjectBlock, didAddObjectBlock, setDidAddObjectBlock, didAddObjectBlock_)
HXC_DISK_CACHE_HOOK(ObjectBlock, didRemoveObjectBlock, setDidRemoveObjectBlock, didRemoveObjectBlock_)
HXC_DISK_CACHE_HOOK(CacheBlock, didRemoveAllObjectsBlock, setDidRemoveAllObjectsBlock, didRemoveAllObjectsBlock_)

#undef HXC_DISK_CACHE_HOOK
