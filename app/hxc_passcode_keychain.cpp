#include "app/hxc_passcode_keychain.h"

#include "model/keychain_utils.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"

namespace {

constexpr const char* kService = "service";

std::string accountFor(const std::string& key) {
    return foundation::format("%@ - %@", HXCPasscodeKeychain::appName(), key);
}

}  // namespace

std::string HXCPasscodeKeychain::appName() {
    auto& bundle = foundation::Bundle::main();
    if (auto display = bundle.objectForInfoDictionaryKey("CFBundleDisplayName"); display.isString())
        return display.asString();
    return bundle.name();
}

bool HXCPasscodeKeychain::setString(const std::optional<std::string>& value, const std::optional<std::string>& forKey) {
    if (!value || !forKey) return false;
    const std::string account = accountFor(*forKey);
    if (HXCKeychainUtils::getPasswordForUsername(account, std::string(kService), nullptr))
        HXCKeychainUtils::deleteItemForUsername(account, std::string(kService), nullptr);
    return HXCKeychainUtils::storeUsername(account, value, std::string(kService), true, nullptr);
}

std::optional<std::string> HXCPasscodeKeychain::getStringForKey(const std::string& key) {
    return HXCKeychainUtils::getPasswordForUsername(accountFor(key), std::string(kService), nullptr);
}

bool HXCPasscodeKeychain::removeStringForKey(const std::string& key) {
    return HXCKeychainUtils::deleteItemForUsername(accountFor(key), std::string(kService), nullptr);
}
