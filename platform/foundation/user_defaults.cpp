#include "platform/foundation/user_defaults.h"

#include <system_error>
#include <vector>

#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/log.h"
#include "platform/foundation/plist_backend.h"
#include "platform/foundation/property_list.h"

namespace foundation {

UserDefaults::UserDefaults(std::filesystem::path path) : path_(std::move(path)) {
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) return;
    auto loaded = readPropertyListFile(path_);
    if (loaded.ok() && loaded.value().isDictionary()) {
        stored_ = loaded.value().asDictionary();
        return;
    }
    loadError_ =
        loaded.ok() ? detail::plistReadError("the preferences file does not hold a dictionary") : loaded.error();
    // Keep the unreadable bytes (or whatever stands in the file's place) for inspection instead
    // of overwriting them at the next write.
    auto aside = files::setAside(path_);
    if (!aside.ok()) return;
    logFault("the preferences " + path_.string() + " could not be read (" + loadError_->localizedDescription() +
             "); they were moved to " + aside.value().string());
}

UserDefaults::~UserDefaults() { (void)synchronize(); }

namespace {

std::mutex standardMutex;
std::shared_ptr<UserDefaults> standardInstance;

}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
    std::lock_guard lock(standardMutex);
    if (!standardInstance) {
        const std::string id = Bundle::main().bundleIdentifier().value_or(Bundle::main().name());
        standardInstance = std::make_shared<UserDefaults>(preferencesDirectory() / (safePathComponent(id) + ".plist"));
    }
    return standardInstance;
}

void UserDefaults::resetStandardUserDefaults() {
    std::shared_ptr<UserDefaults> old;
    {
        std::lock_guard lock(standardMutex);
        old = std::move(standardInstance);
    }
    if (old) (void)old->synchronize();
}

std::optional<Error> UserDefaults::loadError() const {
    std::lock_guard lock(mutex_);
    return loadError_;
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults) registered_.set(key, value);
}

Value UserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    if (const Value* v = stored_.find(key)) return *v;
    if (const Value* v = registered_.find(key)) return *v;
    return Value();
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    Value v = objectForKey(key);
    if (v.isString() || v.isNumber() || v.isBool()) return v.stringValue();
    return std::nullopt;
}

int64_t UserDefaults::integerForKey(const std::string& key) const { return objectForKey(key).int64Value(0); }
bool UserDefaults::boolForKey(const std::string& key) const { return objectForKey(key).boolValue(false); }
double UserDefaults::doubleForKey(const std::string& key) const { return objectForKey(key).doubleValue(0); }

std::optional<Data> UserDefaults::dataForKey(const std::string& key) const {
    Value v = objectForKey(key);
    if (auto* d = v.ifData()) return *d;
    return std::nullopt;
}

std::optional<Array> UserDefaults::arrayForKey(const std::string& key) const {
    Value v = objectForKey(key);
    if (auto* a = v.ifArray()) return std::move(*a);
    return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
    Value v = objectForKey(key);
    if (auto* d = v.ifDictionary()) return std::move(*d);
    return std::nullopt;
}

Status UserDefaults::setObject(const Value& value, const std::string& forKey) {
    if (value.isNull()) {
        removeObjectForKey(forKey);
        return Status::success();
    }
    // Refuse now what the file could not hold later, so synchronize never fails on content.
    auto check = detail::plistFromValue(value);
    if (!check.ok()) return check.error();
    if (auto key = detail::plistString(forKey); !key.ok()) return key.error();
    {
        std::lock_guard lock(mutex_);
        const Value* current = stored_.find(forKey);
        // (The same type too: an integer stays an integer in the file, and a real number real.)
        if (!current || current->type() != value.type() || !(*current == value)) {
            stored_.set(forKey, value);
            changedAt_[forKey] = ++generation_;
        }
    }
    changed(forKey);
    return Status::success();
}

void UserDefaults::setInteger(int64_t value, const std::string& forKey) { (void)setObject(Value(value), forKey); }
void UserDefaults::setBool(bool value, const std::string& forKey) { (void)setObject(Value(value), forKey); }
void UserDefaults::setDouble(double value, const std::string& forKey) { (void)setObject(Value(value), forKey); }

void UserDefaults::removeObjectForKey(const std::string& key) {
    {
        std::lock_guard lock(mutex_);
        if (!stored_.remove(key)) return;
        changedAt_[key] = ++generation_;
    }
    changed(key);
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    Dictionary out = registered_;
    for (const auto& [key, value] : stored_) out.set(key, value);
    return out;
}

Status UserDefaults::synchronize() {
    std::lock_guard writing(writeMutex_);
    Dictionary snapshot;
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (generation_ == writtenGeneration_) return Status::success();
        snapshot = stored_;
        generation = generation_;
    }
    std::error_code ec;
    if (path_.has_parent_path()) std::filesystem::create_directories(path_.parent_path(), ec);
    // Private to the user: the preferences keep the account's session cookie.
    Status written = writePropertyListFile(Value(std::move(snapshot)), path_, 0600);
    if (!written.ok()) {
        // A full disk fails every write alike: logged once until a write succeeds again.
        logFaultOnce("preferences-write:" + path_.string(),
                     "cannot write the preferences " + path_.string() + ": " + written.error().localizedDescription());
        return written;
    }
    faultCleared("preferences-write:" + path_.string());
    std::lock_guard lock(mutex_);
    writtenGeneration_ = generation;
    return Status::success();
}

bool UserDefaults::isSaved(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = changedAt_.find(key);
    return it == changedAt_.end() || it->second <= writtenGeneration_;
}

uint64_t UserDefaults::addChangeObserver(ChangeHandler handler) {
    std::lock_guard lock(observersMutex_);
    const uint64_t id = nextObserver_++;
    observers_.emplace(id, std::make_shared<ChangeHandler>(std::move(handler)));
    return id;
}

void UserDefaults::removeChangeObserver(uint64_t id) {
    std::lock_guard lock(observersMutex_);
    observers_.erase(id);
}

void UserDefaults::changed(const std::string& key) {
    std::vector<std::shared_ptr<ChangeHandler>> handlers;
    {
        std::lock_guard lock(observersMutex_);
        for (const auto& [id, h] : observers_) handlers.push_back(h);
    }
    for (const auto& h : handlers) (*h)(key);
}

}  // namespace foundation
