#include "model/keychain_utils.h"

#include "platform/security/keychain.h"

namespace {

void report(HXCKeychainUtils::ErrorOut error, int64_t code) {
    if (error) *error = foundation::Error(kHXCKeychainUtilsErrorDomain, code);
}

void clear(HXCKeychainUtils::ErrorOut error) {
    if (error) error->reset();
}

foundation::Data utf8(const std::string& s) { return foundation::Data(s.begin(), s.end()); }

}  // namespace

std::optional<std::string> HXCKeychainUtils::getPasswordForUsername(const std::optional<std::string>& username,
                                                                    const std::optional<std::string>& service,
                                                                    ErrorOut error) {
    if (!username || !service) {
        report(error, kHXCKeychainMissingArgument);
        return std::nullopt;
    }
    clear(error);
    auto keychain = security::Keychain::defaultKeychain();
    auto query = security::KeychainQuery::item(*service, *username);

    query.returnAttributes = true;
    security::KeychainMatch attributes;
    security::OSStatus status = keychain->copyMatching(query, &attributes);
    if (status != security::errSecSuccess) {
        if (status != security::errSecItemNotFound) report(error, status);
        return std::nullopt;
    }

    query.returnAttributes = false;
    query.returnData = true;
    security::KeychainMatch item;
    status = keychain->copyMatching(query, &item);
    if (status == security::errSecSuccess && item.data) {
        std::string password(item.data->begin(), item.data->end());
        security::KeychainChanges changes;
        changes.accessibility = security::Accessibility::AfterFirstUnlock;
        (void)keychain->update(security::KeychainQuery::item(*service, *username), changes);
        return password;
    }
    if (status == security::errSecSuccess || status == security::errSecItemNotFound) {
        report(error, kHXCKeychainUnreadableItem);
    } else {
        report(error, status);
    }
    return std::nullopt;
}

bool HXCKeychainUtils::storeUsername(const std::optional<std::string>& username,
                                     const std::optional<std::string>& password,
                                     const std::optional<std::string>& service, bool updateExisting, ErrorOut error) {
    if (!username || !password || !service) {
        report(error, kHXCKeychainMissingArgument);
        return false;
    }
    // The lookup's status is checked whether or not the caller asked for errors: storing over
    // a keychain that cannot be read must fail, not add a duplicate and call that success.
    std::optional<foundation::Error> lookupError;
    std::optional<std::string> existing = getPasswordForUsername(username, service, &lookupError);
    if (lookupError && lookupError->code == kHXCKeychainUnreadableItem) {
        lookupError.reset();
        (void)deleteItemForUsername(username, service, &lookupError);
    }
    if (lookupError && lookupError->code != 0) {
        if (error) *error = *lookupError;
        return false;
    }
    clear(error);

    auto keychain = security::Keychain::defaultKeychain();
    security::OSStatus status;
    if (!existing) {
        security::KeychainItem item;
        item.service = *service;
        item.label = *service;
        item.account = *username;
        item.data = utf8(*password);
        item.accessibility = security::Accessibility::AfterFirstUnlock;
        status = keychain->add(item);
    } else if (*existing == *password || !updateExisting) {
        return true;
    } else {
        auto query = security::KeychainQuery::item(*service, *username);
        query.label = *service;
        security::KeychainChanges changes;
        changes.data = utf8(*password);
        changes.accessibility = security::Accessibility::AfterFirstUnlock;
        status = keychain->update(query, changes);
    }
    if (status == security::errSecSuccess) return true;
    report(error, status);
    return false;
}

bool HXCKeychainUtils::deleteItemForUsername(const std::optional<std::string>& username,
                                             const std::optional<std::string>& service, ErrorOut error) {
    if (!username || !service) {
        report(error, kHXCKeychainMissingArgument);
        return false;
    }
    clear(error);
    auto query = security::KeychainQuery::item(*service, *username);
    query.returnAttributes = true;
    const security::OSStatus status = security::Keychain::defaultKeychain()->remove(query);
    if (status == security::errSecSuccess) return true;
    report(error, status);
    return false;
}
