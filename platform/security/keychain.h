// The keychain stand-in: generic-password items addressed by (service, account), kept in one
// file under the app home (mode 0600, rewritten atomically), answering the platform's status
// codes. Secrets are never printed: descriptions of items leave their data out.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace security {

using OSStatus = int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;
// The store's file exists but cannot be read as a store (and could not be moved aside to
// "<file>.unreadable"); nothing is written over it.
inline constexpr OSStatus errSecDecode = -26275;

// When an item may be read (`kSecAttrAccessible...`). The stand-in stores it and answers it;
// a locked keychain is simulated for all classes alike.
enum class Accessibility {
    WhenUnlocked,
    AfterFirstUnlock,
    Always,
    WhenPasscodeSetThisDeviceOnly,
    WhenUnlockedThisDeviceOnly,
    AfterFirstUnlockThisDeviceOnly,
    AlwaysThisDeviceOnly,
};

const char* accessibilityName(Accessibility accessibility);
std::optional<Accessibility> accessibilityFromName(std::string_view name);

// A generic-password item. The label is kept but is not part of the item's identity.
struct KeychainItem {
    std::string service;
    std::string account;
    std::optional<std::string> label;
    foundation::Data data;
    Accessibility accessibility = Accessibility::WhenUnlocked;

    // "service/account" and the attributes, never the data.
    std::string description() const;
};

// What to look for. A missing service or account matches any; the label never narrows the
// match (callers pass it for symmetry with what they wrote).
struct KeychainQuery {
    std::optional<std::string> service;
    std::optional<std::string> account;
    std::optional<std::string> label;
    bool returnAttributes = false;
    bool returnData = false;

    static KeychainQuery item(std::string service, std::string account) {
        KeychainQuery q;
        q.service = std::move(service);
        q.account = std::move(account);
        return q;
    }
};

// The changes of an update; unset fields keep their stored value.
struct KeychainChanges {
    std::optional<std::string> label;
    std::optional<foundation::Data> data;
    std::optional<Accessibility> accessibility;
};

// What copy-matching found: with returnAttributes the attributes are filled, with returnData
// `data` is set; otherwise only the status tells that an item exists.
struct KeychainMatch {
    std::string service;
    std::string account;
    std::optional<std::string> label;
    std::optional<Accessibility> accessibility;
    std::optional<foundation::Data> data;
};

class Keychain {
public:
    explicit Keychain(std::filesystem::path file);

    // The process-wide store at the default path.
    static std::shared_ptr<Keychain> defaultKeychain();
    // Changes where defaultKeychain() keeps its file (the next call returns a store there). Until
    // then it is "Library/Keychains/keychain.json" in the app home.
    static void setDefaultPath(std::filesystem::path file);
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return path_; }

    // Adds an item; errSecDuplicateItem when (service, account) already exists.
    OSStatus add(const KeychainItem& item);
    // The first item matching the query (in the order of adding).
    OSStatus copyMatching(const KeychainQuery& query, KeychainMatch* result);
    // Every item matching the query.
    OSStatus copyAllMatching(const KeychainQuery& query, std::vector<KeychainMatch>* results);
    // Applies the changes to every matching item; errSecItemNotFound when none matches.
    OSStatus update(const KeychainQuery& query, const KeychainChanges& changes);
    // Removes every matching item (the return flags of the query are ignored).
    OSStatus remove(const KeychainQuery& query);
    // Removes every item of a service (errSecItemNotFound when it had none).
    OSStatus removeAll(const std::string& service);

    // Simulates a locked device: every call answers errSecInteractionNotAllowed and touches
    // nothing.
    void setInteractionNotAllowed(bool locked);

private:
    OSStatus load(std::vector<KeychainItem>* items) const;
    // load(), but a file that is not a store is moved aside (logged once) and reads as empty.
    OSStatus loadRepairing(std::vector<KeychainItem>* items) const;
    OSStatus save(const std::vector<KeychainItem>& items) const;
    static bool matches(const KeychainItem& item, const KeychainQuery& query);
    static KeychainMatch matchFor(const KeychainItem& item, const KeychainQuery& query);

    std::filesystem::path path_;
    std::atomic<bool> locked_{false};
};

}  // namespace security
