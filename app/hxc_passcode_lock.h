// The passcode lock's settings, one instance per process: whether a passcode is required, the
// PIN, biometric unlock and whether messages may show in system search while locked. Each is
// read from the keychain once and then kept; a setter replaces the kept value and writes the item
// (a failed write goes unreported: the kept value holds for the process).
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/thread_annotations.h"

inline constexpr const char* kHXCPasscodeOnKey = "passcode_on";
inline constexpr const char* kHXCPasscodeKey = "passcode";
inline constexpr const char* kHXCTouchIDOnKey = "TouchID_on";
inline constexpr const char* kHXCSpotlightOnKey = "Spotlight_on";
// Posted when the passcode is turned on or off through the settings.
inline constexpr const char* kPasscodeSettingDidChangeNotification = "kPasscodeSettingDidChangeNotification";
inline constexpr const char* kHXCPasscodeLockSpotlightPrefeChangedNotification =
    "HXCPasscodeLockSpotlightPrefeChangedNotification";

class HXCPasscodeLock {
public:
    static HXCPasscodeLock& sharedLock();

    bool passcodeRequired();
    void setPasscodeRequired(bool required);
    // The PIN; setting none (the passcode turned off) deletes the stored item too.
    std::optional<std::string> passcode();
    void setPasscode(std::optional<std::string> passcode);
    // Switched on and usable on this device now.
    bool useBiometricID();
    void setUseBiometricID(bool use);
    // Always while no passcode is required; else the stored switch (missing: on).
    bool useSpotlight();
    void setUseSpotlight(bool use);

    // Whether the device can evaluate the biometric policy now.
    bool canUseBiometricID() const;
    // "TouchID", "Face ID" or "biometrics", by the device's biometry.
    std::string biometricIDName() const;
    // The biometric key a pad offers: its name while the device can use it and it is switched
    // on; none otherwise.
    std::optional<std::string> offeredBiometricID();
    // Biometrics or a companion device from system 18 on, biometrics alone before.
    static int biometricPolicy();

    // At launch: the passcode and biometric switches are stored as "NO" where missing.
    void setDefaultSettings();
    // key from the lock's own strings bundle (the main bundle's when there is none), then from
    // the main bundle with that as the default.
    static std::string localizedStringForKey(const std::string& key, const std::string& value);

    // Forgets every kept value, as a new process would (tests).
    void forgetKeptValues();

private:
    HXCPasscodeLock() = default;
    bool requiredLocked() HX_REQUIRES(mutex_);
    static bool isYes(const std::optional<std::string>& stored) { return stored && *stored == "YES"; }

    foundation::RecursiveMutex mutex_;
    std::optional<bool> required_ HX_GUARDED_BY(mutex_);
    std::optional<bool> biometric_ HX_GUARDED_BY(mutex_);
    std::optional<bool> spotlight_ HX_GUARDED_BY(mutex_);
    // The PIN is kept under its own lock: the settings' monitor does not cover it.
    foundation::Mutex pinMutex_;
    bool pinRead_ HX_GUARDED_BY(pinMutex_) = false;
    std::optional<std::string> pin_ HX_GUARDED_BY(pinMutex_);
};
