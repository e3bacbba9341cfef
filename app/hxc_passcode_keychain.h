// The passcode lock's settings as string items of the keychain: generic passwords of the
// service "service" whose account names are "<app name> - <key>".
#pragma once

#include <optional>
#include <string>

class HXCPasscodeKeychain {
public:
    // Replaces the item of key with value; does nothing and answers false without one of them.
    static bool setString(const std::optional<std::string>& value, const std::optional<std::string>& forKey);
    // Deletes the item of key; false when there was none to delete.
    static bool removeStringForKey(const std::string& key);
    // The item's value, or none (a failed read reads as none).
    static std::optional<std::string> getStringForKey(const std::string& key);
    // The bundle's display name, else its name.
    static std::string appName();
};
