#include "platform/services/local_authentication.h"

#include <algorithm>

#include "platform/dispatch/dispatch.h"

namespace services {

namespace {

foundation::Error laError(int64_t code) {
    const char* text = code == kLAErrorSystemCancel           ? "Authentication was cancelled by the system."
                       : code == kLAErrorUserCancel           ? "Authentication was cancelled by the user."
                       : code == kLAErrorAuthenticationFailed ? "Authentication failed."
                       : code == kLAErrorBiometryNotAvailable ? "Biometry is not available on this device."
                       : code == kLAErrorBiometryNotEnrolled  ? "No identities are enrolled."
                                                              : "Authentication did not succeed.";
    return foundation::Error::withDescription(kLocalAuthenticationErrorDomain, code, text);
}

}  // namespace

Biometrics& Biometrics::shared() {
    static Biometrics device;
    return device;
}

void Biometrics::reset() {
    std::deque<Held> dropped;
    {
        std::lock_guard lock(mutex_);
        policies_.clear();
        refusal_ = kLAErrorBiometryNotAvailable;
        type_ = BiometryType::None;
        supportsReuse_ = true;
        unlockedAt_.reset();
        answers_.clear();
        dropped.swap(held_);
        evaluations_.clear();
        prompt_ = nullptr;
    }
    // Held replies are dropped outside the lock: their captures may hold anything.
}

void Biometrics::setCanEvaluate(std::set<int> policies, int64_t reason) {
    std::lock_guard lock(mutex_);
    policies_ = std::move(policies);
    refusal_ = reason;
}

void Biometrics::setBiometryType(BiometryType type) {
    std::lock_guard lock(mutex_);
    type_ = type;
}

BiometryType Biometrics::biometryType() const {
    std::lock_guard lock(mutex_);
    return type_;
}

void Biometrics::setSupportsReuseDuration(bool supported) {
    std::lock_guard lock(mutex_);
    supportsReuse_ = supported;
}

bool Biometrics::supportsReuseDuration() const {
    std::lock_guard lock(mutex_);
    return supportsReuse_;
}

void Biometrics::setDeviceUnlockedAt(std::optional<double> wallTime) {
    std::lock_guard lock(mutex_);
    unlockedAt_ = wallTime;
}

void Biometrics::setPrompt(std::function<void(const BiometricEvaluation&)> prompt) {
    std::lock_guard lock(mutex_);
    prompt_ = std::move(prompt);
}

void Biometrics::queueAnswer(Answer answer) {
    Held waiting;
    {
        std::lock_guard lock(mutex_);
        if (held_.empty()) {
            answers_.push_back(answer);
            return;
        }
        // An evaluation is waiting already: it takes this answer.
        waiting = std::move(held_.front());
        held_.pop_front();
    }
    deliver(waiting.reply, answer);
}

bool Biometrics::answerHeld(Answer answer) {
    Held held;
    {
        std::lock_guard lock(mutex_);
        if (held_.empty()) return false;
        held = std::move(held_.front());
        held_.pop_front();
    }
    deliver(held.reply, answer);
    return true;
}

size_t Biometrics::heldCount() const {
    std::lock_guard lock(mutex_);
    return held_.size();
}

std::vector<BiometricEvaluation> Biometrics::evaluations() const {
    std::lock_guard lock(mutex_);
    return evaluations_;
}

std::optional<foundation::Error> Biometrics::canEvaluate(int policy) const {
    std::lock_guard lock(mutex_);
    if (policies_.count(policy)) return std::nullopt;
    return laError(refusal_);
}

void Biometrics::evaluate(BiometricEvaluation evaluation, Reply reply) {
    const double now = dispatch::wallNow();
    std::optional<Answer> answer;
    {
        std::lock_guard lock(mutex_);
        if (!policies_.count(evaluation.policy)) {
            answer = Answer::fail(refusal_);
        } else if (supportsReuse_ && evaluation.reuseDuration > 0 && unlockedAt_ && *unlockedAt_ <= now &&
                   now - *unlockedAt_ <= evaluation.reuseDuration) {
            evaluation.reusedDeviceUnlock = true;
            answer = Answer::succeed();
        } else if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
        evaluations_.push_back(evaluation);
        if (!answer) {
            held_.push_back(Held{std::move(reply)});
            if (prompt_) dispatch::Queue::main()->async([prompt = prompt_, evaluation] { prompt(evaluation); });
            return;
        }
    }
    deliver(reply, *answer);
}

void Biometrics::deliver(const Reply& reply, Answer answer) {
    if (!reply) return;
    dispatch::Queue::global(dispatch::Priority::Default)->async([reply, answer] {
        if (answer.success)
            reply(true, std::nullopt);
        else
            reply(false, laError(answer.code));
    });
}

bool LAContext::canEvaluatePolicy(int policy, std::optional<foundation::Error>* error) {
    auto& device = Biometrics::shared();
    auto refusal = device.canEvaluate(policy);
    // The biometry type is known once the question was asked, whatever its answer.
    biometryType_ = device.biometryType();
    if (error) *error = refusal;
    return !refusal;
}

void LAContext::setTouchIDAuthenticationAllowableReuseDuration(double seconds) {
    reuseDuration_ = std::clamp(seconds, 0.0, kLATouchIDAuthenticationMaximumAllowableReuseDuration);
}

void LAContext::evaluatePolicy(int policy, std::string localizedReason, Biometrics::Reply reply) {
    auto& device = Biometrics::shared();
    BiometricEvaluation evaluation{policy, std::move(localizedReason),
                                   device.supportsReuseDuration() ? reuseDuration_ : 0.0, false};
    device.evaluate(std::move(evaluation), std::move(reply));
}

}  // namespace services
