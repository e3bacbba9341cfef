#include "app/hxc_passcode_lock.h"

#include <memory>

#include "app/hxc_passcode_keychain.h"
#include "platform/foundation/bundle.h"
#include "platform/services/local_authentication.h"
#include "platform/toolkit/traits.h"

namespace {

const char* yesNo(bool v) { return v ? "YES" : "NO"; }

}  // namespace

HXCPasscodeLock& HXCPasscodeLock::sharedLock() {
    static HXCPasscodeLock* lock = new HXCPasscodeLock();  // lives for the process
    return *lock;
}

bool HXCPasscodeLock::passcodeRequired() {
    std::lock_guard lock(mutex_);
    return requiredLocked();
}

bool HXCPasscodeLock::requiredLocked() {
    if (!required_) required_ = isYes(HXCPasscodeKeychain::getStringForKey(kHXCPasscodeOnKey));
    return *required_;
}

void HXCPasscodeLock::setPasscodeRequired(bool required) {
    std::lock_guard lock(mutex_);
    required_ = required;
    HXCPasscodeKeychain::setString(std::string(yesNo(required)), std::string(kHXCPasscodeOnKey));
}

std::optional<std::string> HXCPasscodeLock::passcode() {
    std::lock_guard lock(pinMutex_);
    if (!pinRead_) {
        pin_ = HXCPasscodeKeychain::getStringForKey(kHXCPasscodeKey);
        pinRead_ = true;
    }
    return pin_;
}

void HXCPasscodeLock::setPasscode(std::optional<std::string> passcode) {
    std::lock_guard lock(pinMutex_);
    pin_ = std::move(passcode);
    pinRead_ = true;
    // No PIN (the passcode turned off) deletes the stored one rather than leaving it behind.
    if (pin_)
        HXCPasscodeKeychain::setString(pin_, std::string(kHXCPasscodeKey));
    else
        HXCPasscodeKeychain::removeStringForKey(kHXCPasscodeKey);
}

bool HXCPasscodeLock::useBiometricID() {
    std::lock_guard lock(mutex_);
    if (!biometric_) biometric_ = isYes(HXCPasscodeKeychain::getStringForKey(kHXCTouchIDOnKey));
    return *biometric_ && canUseBiometricID();
}

void HXCPasscodeLock::setUseBiometricID(bool use) {
    std::lock_guard lock(mutex_);
    biometric_ = use;
    HXCPasscodeKeychain::setString(std::string(yesNo(use)), std::string(kHXCTouchIDOnKey));
}

bool HXCPasscodeLock::useSpotlight() {
    std::lock_guard lock(mutex_);
    if (!requiredLocked()) return true;
    if (!spotlight_) {
        auto stored = HXCPasscodeKeychain::getStringForKey(kHXCSpotlightOnKey);
        spotlight_ = !stored || *stored == "YES";
    }
    return *spotlight_;
}

void HXCPasscodeLock::setUseSpotlight(bool use) {
    std::lock_guard lock(mutex_);
    spotlight_ = use;
    HXCPasscodeKeychain::setString(std::string(yesNo(use)), std::string(kHXCSpotlightOnKey));
}

int HXCPasscodeLock::biometricPolicy() {
    return toolkit::Device::current().systemVersionAtLeast(18)
               ? services::kPolicyDeviceOwnerAuthenticationWithBiometricsOrCompanion
               : services::kPolicyDeviceOwnerAuthenticationWithBiometrics;
}

bool HXCPasscodeLock::canUseBiometricID() const {
    services::LAContext context;
    return context.canEvaluatePolicy(biometricPolicy());
}

std::optional<std::string> HXCPasscodeLock::offeredBiometricID() {
    if (!canUseBiometricID() || !useBiometricID()) return std::nullopt;
    return biometricIDName();
}

std::string HXCPasscodeLock::biometricIDName() const {
    services::LAContext context;
    (void)context.canEvaluatePolicy(services::kPolicyDeviceOwnerAuthenticationWithBiometrics);
    switch (context.biometryType()) {
        case services::BiometryType::TouchID:
            return "TouchID";
        case services::BiometryType::FaceID:
            return "Face ID";
        default:
            return "biometrics";
    }
}

void HXCPasscodeLock::setDefaultSettings() {
    if (!HXCPasscodeKeychain::getStringForKey(kHXCPasscodeOnKey))
        HXCPasscodeKeychain::setString(std::string("NO"), std::string(kHXCPasscodeOnKey));
    if (!HXCPasscodeKeychain::getStringForKey(kHXCTouchIDOnKey))
        HXCPasscodeKeychain::setString(std::string("NO"), std::string(kHXCTouchIDOnKey));
}

std::string HXCPasscodeLock::localizedStringForKey(const std::string& key, const std::string& value) {
    auto& main = foundation::Bundle::main();
    // The lock's strings bundle, looked for once.
    static const std::shared_ptr<foundation::Bundle> strings = [&]() -> std::shared_ptr<foundation::Bundle> {
        auto path = main.pathForResource("HXCPasscodeLock", "bundle");
        if (!path) return nullptr;
        return std::make_shared<foundation::Bundle>(*path);
    }();
    const std::string first = strings ? strings->localizedString(key, value) : main.localizedString(key, value);
    return main.localizedString(key, first);
}

void HXCPasscodeLock::forgetKeptValues() {
    {
        std::lock_guard lock(mutex_);
        required_.reset();
        biometric_.reset();
        spotlight_.reset();
    }
    std::lock_guard lock(pinMutex_);
    pin_.reset();
    pinRead_ = false;
}
