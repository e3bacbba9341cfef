// User preferences: typed values under string keys, kept in a binary property list file, over a
// registration domain of defaults that the app registers again at every launch.
//
// A stored value wins over a registered one; removing the stored value reveals the registered
// one again. Only stored values reach the file. Values must be property-list values (no null,
// no number dictionary keys, see property_list.h): setObject refuses anything else and keeps
// the old value. Dictionaries keep their insertion order in memory and in the file.
//
// Thread-safe: every operation may be called from any thread. synchronize() writes the stored
// values atomically (temporary file + rename) when they changed since the last write; the
// destructor does the same, so nothing set is lost at a clean exit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

class UserDefaults {
public:
    // Preferences stored at path (for the app: Library/Preferences/<bundle id>.plist in its
    // home). What the file holds is loaded now. A file that exists but cannot be read is moved
    // aside to path + ".unreadable" (kept, not overwritten) and the preferences start empty.
    explicit UserDefaults(std::filesystem::path path);
    ~UserDefaults();

    // The app's preferences: Library/Preferences/<bundle id>.plist in the app home (the main
    // bundle's name when its Info has no identifier). Made on first use.
    static std::shared_ptr<UserDefaults> standardUserDefaults();
    // Writes and drops the shared instance, so the next standardUserDefaults() opens the file
    // again (a new launch, or a test that moved the app home).
    static void resetStandardUserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Why the file could not be loaded, when it could not.
    std::optional<Error> loadError() const;

    // Adds to the registration domain (volatile: never written to the file).
    void registerDefaults(const Dictionary& defaults);

    // The stored value, else the registered one, else null.
    Value objectForKey(const std::string& key) const;
    // A string, or a number's text; nullopt for anything else.
    std::optional<std::string> stringForKey(const std::string& key) const;
    // Numbers, bools and numeric strings convert; anything else reads 0 / NO / 0.0.
    int64_t integerForKey(const std::string& key) const;
    bool boolForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    std::optional<Data> dataForKey(const std::string& key) const;
    std::optional<Array> arrayForKey(const std::string& key) const;
    std::optional<Dictionary> dictionaryForKey(const std::string& key) const;

    // Stores value under key; a null value removes the key. Fails, changing nothing, for values
    // a property list cannot hold.
    Status setObject(const Value& value, const std::string& forKey);
    void setInteger(int64_t value, const std::string& forKey);
    void setBool(bool value, const std::string& forKey);
    void setDouble(double value, const std::string& forKey);
    void removeObjectForKey(const std::string& key);

    // The registered values overlaid with the stored ones.
    Dictionary dictionaryRepresentation() const;

    // Writes the stored values to the file if they changed since the last write.
    Status synchronize();
    // Whether what is stored under key (or its absence) is what the file holds: no change to it
    // since the file was read or last written. Storing a value equal to the stored one is no change.
    bool isSaved(const std::string& key) const;

    // Called after a stored value changed (set or removed), outside any lock, with its key.
    using ChangeHandler = std::function<void(const std::string& key)>;
    uint64_t addChangeObserver(ChangeHandler handler);
    void removeChangeObserver(uint64_t id);

private:
    void changed(const std::string& key);

    const std::filesystem::path path_;
    mutable std::mutex mutex_;
    Dictionary registered_;
    Dictionary stored_;
    uint64_t generation_ = 0;                    // bumped by every change of stored_
    uint64_t writtenGeneration_ = 0;             // the generation the file holds
    std::map<std::string, uint64_t> changedAt_;  // the generation of each key's last change
    std::optional<Error> loadError_;
    std::mutex writeMutex_;  // one synchronize at a time, so an older snapshot never lands last
    std::mutex observersMutex_;
    uint64_t nextObserver_ = 1;
    std::map<uint64_t, std::shared_ptr<ChangeHandler>> observers_;
};

}  // namespace foundation
