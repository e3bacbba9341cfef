// Biometric authentication as the app meets it: a context asks whether a policy can be evaluated
// now, which biometry the device has, and evaluates a policy with a reason, answering later on a
// background thread. There is no sensor on this machine: `Biometrics::shared()` is the device,
// scripted by tests and the emulator (which policies can be evaluated, the biometry type, the
// answer to each evaluation, or an evaluation held until the script answers it) and recording
// what was asked; the run's device answers held evaluations through a prompt. Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/thread_annotations.h"

namespace services {

// Policies: the device owner with biometrics; with biometrics or a paired companion device.
inline constexpr int kPolicyDeviceOwnerAuthenticationWithBiometrics = 1;
inline constexpr int kPolicyDeviceOwnerAuthenticationWithBiometricsOrCompanion = 4;

inline constexpr const char* kLocalAuthenticationErrorDomain = "LAErrorDomain";
// Error codes of an evaluation or of a policy that cannot be evaluated.
inline constexpr int64_t kLAErrorAuthenticationFailed = -1;
inline constexpr int64_t kLAErrorUserCancel = -2;
inline constexpr int64_t kLAErrorUserFallback = -3;
inline constexpr int64_t kLAErrorSystemCancel = -4;
inline constexpr int64_t kLAErrorPasscodeNotSet = -5;
inline constexpr int64_t kLAErrorBiometryNotAvailable = -6;
inline constexpr int64_t kLAErrorBiometryNotEnrolled = -7;
inline constexpr int64_t kLAErrorBiometryLockout = -8;
inline constexpr int64_t kLAErrorNotInteractive = -1004;

// The longest reuse of a recent device unlock a context accepts, in seconds.
inline constexpr double kLATouchIDAuthenticationMaximumAllowableReuseDuration = 300.0;

enum class BiometryType : int { None = 0, TouchID = 1, FaceID = 2 };

// One evaluation as the device saw it.
struct BiometricEvaluation {
    int policy = 0;
    std::string reason;
    double reuseDuration = 0;
    // Answered by a device unlock within the context's reuse duration, without a prompt.
    bool reusedDeviceUnlock = false;
};

// The scripted device.
class Biometrics {
public:
    // What the device answers: success, or a failure with an error code.
    struct Answer {
        bool success = false;
        int64_t code = 0;
        static Answer succeed() { return {true, 0}; }
        static Answer fail(int64_t code) { return {false, code}; }
    };

    static Biometrics& shared();

    // Back to a device without biometry: nothing can be evaluated, nothing queued or held,
    // nothing recorded.
    void reset();
    // The policies that can be evaluated now (none by default); a policy that cannot is refused
    // with reason (biometry not available by default).
    void setCanEvaluate(std::set<int> policies, int64_t reason = kLAErrorBiometryNotAvailable);
    void setBiometryType(BiometryType type);
    BiometryType biometryType() const;
    // Whether contexts take an allowable reuse duration (true by default).
    void setSupportsReuseDuration(bool supported);
    bool supportsReuseDuration() const;
    // The wall time of the last unlock of the device itself, for contexts with a reuse duration.
    void setDeviceUnlockedAt(std::optional<double> wallTime);

    // The device's own prompt: run on the main queue each time an evaluation is held, so that
    // what stands for the sensor (the run's device, with buttons) can answer it through
    // answerHeld(). None by default (tests answer held evaluations themselves); reset() removes it.
    void setPrompt(std::function<void(const BiometricEvaluation&)> prompt);

    // Answers for the next evaluations, in order. An evaluation with no queued answer is held
    // until answerHeld().
    void queueAnswer(Answer answer);
    // Answers the oldest held evaluation; false when none is held.
    bool answerHeld(Answer answer);
    size_t heldCount() const;
    std::vector<BiometricEvaluation> evaluations() const;

    // Used by contexts.
    std::optional<foundation::Error> canEvaluate(int policy) const;
    using Reply = std::function<void(bool success, std::optional<foundation::Error> error)>;
    void evaluate(BiometricEvaluation evaluation, Reply reply);

private:
    struct Held {
        Reply reply;
    };
    static void deliver(const Reply& reply, Answer answer);

    mutable foundation::Mutex mutex_;
    std::set<int> policies_ HX_GUARDED_BY(mutex_);
    int64_t refusal_ HX_GUARDED_BY(mutex_) = kLAErrorBiometryNotAvailable;
    BiometryType type_ HX_GUARDED_BY(mutex_) = BiometryType::None;
    bool supportsReuse_ HX_GUARDED_BY(mutex_) = true;
    std::optional<double> unlockedAt_ HX_GUARDED_BY(mutex_);
    std::deque<Answer> answers_ HX_GUARDED_BY(mutex_);
    std::deque<Held> held_ HX_GUARDED_BY(mutex_);
    std::vector<BiometricEvaluation> evaluations_ HX_GUARDED_BY(mutex_);
    std::function<void(const BiometricEvaluation&)> prompt_ HX_GUARDED_BY(mutex_);
};

// One authentication context, as the app makes a new one for each question.
class LAContext {
public:
    // Whether policy can be evaluated now; the reason in error when not. Reading the biometry
    // type is valid after this call.
    bool canEvaluatePolicy(int policy, std::optional<foundation::Error>* error = nullptr);
    BiometryType biometryType() const { return biometryType_; }
    // Seconds for which a recent unlock of the device itself also answers an evaluation (0:
    // never), at most the maximum; ignored by devices that do not support it.
    void setTouchIDAuthenticationAllowableReuseDuration(double seconds);
    double touchIDAuthenticationAllowableReuseDuration() const { return reuseDuration_; }
    // Evaluates policy; reply runs once, on a background queue (never the main thread).
    void evaluatePolicy(int policy, std::string localizedReason, Biometrics::Reply reply);

private:
    BiometryType biometryType_ = BiometryType::None;
    double reuseDuration_ = 0;
};

}  // namespace services
