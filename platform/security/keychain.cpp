#include "platform/security/keychain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/log.h"
#include "platform/security/digest.h"

namespace security {

namespace {

constexpr const char* kFormatKey = "format";
constexpr const char* kFormatName = "hx-keychain-1";

// One lock for every store in the process: two Keychain objects over the same file must not
// interleave their read-modify-write cycles.
std::mutex& fileMutex() {
    static std::mutex m;
    return m;
}

std::mutex& defaultMutex() {
    static std::mutex m;
    return m;
}

std::filesystem::path& defaultPathSlot() {
    static std::filesystem::path path;
    return path;
}

std::shared_ptr<Keychain>& defaultInstance() {
    static std::shared_ptr<Keychain> instance;
    return instance;
}

constexpr struct {
    Accessibility value;
    const char* name;
} kAccessibilityNames[] = {
    {Accessibility::WhenUnlocked, "kSecAttrAccessibleWhenUnlocked"},
    {Accessibility::AfterFirstUnlock, "kSecAttrAccessibleAfterFirstUnlock"},
    {Accessibility::Always, "kSecAttrAccessibleAlways"},
    {Accessibility::WhenPasscodeSetThisDeviceOnly, "kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly"},
    {Accessibility::WhenUnlockedThisDeviceOnly, "kSecAttrAccessibleWhenUnlockedThisDeviceOnly"},
    {Accessibility::AfterFirstUnlockThisDeviceOnly, "kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly"},
    {Accessibility::AlwaysThisDeviceOnly, "kSecAttrAccessibleAlwaysThisDeviceOnly"},
};

}  // namespace

const char* accessibilityName(Accessibility accessibility) {
    for (const auto& entry : kAccessibilityNames)
        if (entry.value == accessibility) return entry.name;
    return kAccessibilityNames[0].name;
}

std::optional<Accessibility> accessibilityFromName(std::string_view name) {
    for (const auto& entry : kAccessibilityNames)
        if (name == entry.name) return entry.value;
    return std::nullopt;
}

std::string KeychainItem::description() const {
    std::string text = "<generic password service=\"" + service + "\" account=\"" + account + "\"";
    if (label) text += " label=\"" + *label + "\"";
    text += " accessibility=";
    text += accessibilityName(accessibility);
    text += " data=<" + std::to_string(data.size()) + " bytes>>";
    return text;
}

Keychain::Keychain(std::filesystem::path file) : path_(std::move(file)) {}

std::filesystem::path Keychain::defaultPath() {
    std::lock_guard lock(defaultMutex());
    if (!defaultPathSlot().empty()) return defaultPathSlot();
    return foundation::libraryDirectory() / "Keychains" / "keychain.json";
}

void Keychain::setDefaultPath(std::filesystem::path file) {
    std::lock_guard lock(defaultMutex());
    defaultPathSlot() = std::move(file);
    defaultInstance().reset();
}

std::shared_ptr<Keychain> Keychain::defaultKeychain() {
    auto path = defaultPath();
    std::lock_guard lock(defaultMutex());
    auto& instance = defaultInstance();
    if (!instance || instance->path() != path) instance = std::make_shared<Keychain>(path);
    return instance;
}

void Keychain::setInteractionNotAllowed(bool locked) { locked_ = locked; }

bool Keychain::matches(const KeychainItem& item, const KeychainQuery& query) {
    if (query.service && *query.service != item.service) return false;
    if (query.account && *query.account != item.account) return false;
    return true;
}

KeychainMatch Keychain::matchFor(const KeychainItem& item, const KeychainQuery& query) {
    KeychainMatch match;
    if (query.returnAttributes) {
        match.service = item.service;
        match.account = item.account;
        match.label = item.label;
        match.accessibility = item.accessibility;
    }
    if (query.returnData) match.data = item.data;
    return match;
}

OSStatus Keychain::load(std::vector<KeychainItem>* items) const {
    items->clear();
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) return ec ? errSecIO : errSecSuccess;
    // An entry in the store's place that cannot be read (a directory, a pipe, no permission) is as
    // unusable as damaged bytes: it is answered the same way, never thrown from a stream.
    auto bytes = foundation::files::readData(path_);
    if (!bytes.ok()) return errSecDecode;
    if (bytes->empty()) return errSecSuccess;
    auto json = foundation::parseJSON(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!json) return errSecDecode;
    const foundation::Dictionary* root = json->ifDictionary();
    const foundation::Value* format = root ? root->find(kFormatKey) : nullptr;
    const foundation::Value* list = root ? root->find("items") : nullptr;
    if (!format || !format->ifString() || *format->ifString() != kFormatName || !list || !list->ifArray())
        return errSecDecode;
    for (const auto& entry : *list->ifArray()) {
        const foundation::Dictionary* fields = entry.ifDictionary();
        if (!fields) return errSecDecode;
        auto stringField = [&](const char* key) -> const std::string* {
            const foundation::Value* v = fields->find(key);
            return v ? v->ifString() : nullptr;
        };
        const std::string* service = stringField("service");
        const std::string* account = stringField("account");
        const std::string* data = stringField("data");
        const std::string* access = stringField("accessibility");
        if (!service || !account || !data || !access) return errSecDecode;
        KeychainItem item;
        item.service = *service;
        item.account = *account;
        if (const std::string* label = stringField("label")) item.label = *label;
        auto bytes = dataFromHex(*data);
        auto accessibility = accessibilityFromName(*access);
        if (!bytes || !accessibility) return errSecDecode;
        item.data = std::move(*bytes);
        item.accessibility = *accessibility;
        items->push_back(std::move(item));
    }
    return errSecSuccess;
}

OSStatus Keychain::loadRepairing(std::vector<KeychainItem>* items) const {
    OSStatus status = load(items);
    if (status != errSecDecode) return status;
    // A store nothing can read would fail every add for good, so that each launch signs in
    // again and keeps nothing: its bytes go aside for inspection and the store starts empty.
    auto aside = foundation::files::setAside(path_);
    if (!aside.ok()) return errSecDecode;
    foundation::logFault("the keychain " + path_.string() + " could not be read; it was moved to " +
                         aside.value().string() + " and the keychain starts empty");
    items->clear();
    return errSecSuccess;
}

OSStatus Keychain::save(const std::vector<KeychainItem>& items) const {
    foundation::Array list;
    list.reserve(items.size());
    for (const auto& item : items) {
        foundation::Dictionary entry{{"service", item.service},
                                     {"account", item.account},
                                     {"data", hexString(item.data)},
                                     {"accessibility", std::string(accessibilityName(item.accessibility))}};
        if (item.label) entry.set("label", *item.label);
        list.push_back(std::move(entry));
    }
    auto json = foundation::toJSON(foundation::Dictionary{{kFormatKey, kFormatName}, {"items", std::move(list)}},
                                   {.pretty = true, .sortedKeys = true});
    if (!json) return errSecParam;
    const std::string text = *json + "\n";

    // A full disk fails every write alike: it is logged once, not at every add.
    auto failed = [&](const std::string& why) {
        foundation::logFaultOnce("keychain-write", "cannot write the keychain " + path_.string() + ": " + why);
        return errSecIO;
    };
    if (path_.has_parent_path())
        if (auto created = foundation::files::createDirectory(path_.parent_path()); !created.ok())
            return failed(created.error().localizedDescription());
    // Written beside the store and renamed over it, so a crash leaves the old or the new file,
    // never a torn one; the temporary is 0600 from its creation, before any secret reaches it,
    // and one left by a killed writer is swept by the next write.
    auto written =
        foundation::files::writeAtomically(path_, text.data(), text.size(), foundation::WriteMode::Overwrite, 0600);
    if (!written.ok()) return failed(written.error().localizedDescription());
    foundation::faultCleared("keychain-write");
    return errSecSuccess;
}

OSStatus Keychain::add(const KeychainItem& item) {
    if (locked_) return errSecInteractionNotAllowed;
    std::lock_guard lock(fileMutex());
    std::vector<KeychainItem> items;
    if (OSStatus status = loadRepairing(&items); status != errSecSuccess) return status;
    for (const auto& existing : items)
        if (existing.service == item.service && existing.account == item.account) return errSecDuplicateItem;
    items.push_back(item);
    return save(items);
}

OSStatus Keychain::copyMatching(const KeychainQuery& query, KeychainMatch* result) {
    if (locked_) return errSecInteractionNotAllowed;
    std::lock_guard lock(fileMutex());
    std::vector<KeychainItem> items;
    if (OSStatus status = loadRepairing(&items); status != errSecSuccess) return status;
    for (const auto& item : items) {
        if (!matches(item, query)) continue;
        if (result) *result = matchFor(item, query);
        return errSecSuccess;
    }
    return errSecItemNotFound;
}

OSStatus Keychain::copyAllMatching(const KeychainQuery& query, std::vector<KeychainMatch>* results) {
    if (locked_) return errSecInteractionNotAllowed;
    std::lock_guard lock(fileMutex());
    std::vector<KeychainItem> items;
    if (OSStatus status = loadRepairing(&items); status != errSecSuccess) return status;
    std::vector<KeychainMatch> found;
    for (const auto& item : items)
        if (matches(item, query)) found.push_back(matchFor(item, query));
    if (found.empty()) return errSecItemNotFound;
    if (results) *results = std::move(found);
    return errSecSuccess;
}

OSStatus Keychain::update(const KeychainQuery& query, const KeychainChanges& changes) {
    if (locked_) return errSecInteractionNotAllowed;
    std::lock_guard lock(fileMutex());
    std::vector<KeychainItem> items;
    if (OSStatus status = loadRepairing(&items); status != errSecSuccess) return status;
    bool any = false;
    for (auto& item : items) {
        if (!matches(item, query)) continue;
        any = true;
        if (changes.label) item.label = changes.label;
        if (changes.data) item.data = *changes.data;
        if (changes.accessibility) item.accessibility = *changes.accessibility;
    }
    if (!any) return errSecItemNotFound;
    return save(items);
}

OSStatus Keychain::remove(const KeychainQuery& query) {
    if (locked_) return errSecInteractionNotAllowed;
    std::lock_guard lock(fileMutex());
    std::vector<KeychainItem> items;
    if (OSStatus status = loadRepairing(&items); status != errSecSuccess) return status;
    const auto before = items.size();
    std::erase_if(items, [&](const KeychainItem& item) { return matches(item, query); });
    if (items.size() == before) return errSecItemNotFound;
    return save(items);
}

OSStatus Keychain::removeAll(const std::string& service) {
    KeychainQuery query;
    query.service = service;
    return remove(query);
}

}  // namespace security
