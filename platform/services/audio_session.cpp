#include "platform/services/audio_session.h"

namespace services {

namespace {

foundation::Error sessionError(int64_t code, const std::string& description) {
    return foundation::Error::withDescription(kAudioSessionErrorDomain, code, description);
}

}  // namespace

AudioSession& AudioSession::shared() {
    static AudioSession session;
    return session;
}

foundation::Status AudioSession::setCategory(const std::string& category, int options) {
    const bool records = category == kAudioSessionCategoryPlayAndRecord;
    if (!records && category != kAudioSessionCategoryAmbient && category != kAudioSessionCategorySoloAmbient &&
        category != kAudioSessionCategoryPlayback)
        return sessionError(kAudioSessionUnknownCategory, "Unknown audio session category: " + category);
    std::lock_guard lock(mutex_);
    if (records && !inputAvailable_)
        return sessionError(kAudioSessionNoInput, "The device has no audio input for a recording category.");
    category_ = category;
    options_ = options;
    // Leaving a recording category drops the loudspeaker override with it.
    if (!records) override_ = AudioSessionPortOverride::None;
    return foundation::Status::success();
}

std::string AudioSession::category() const {
    std::lock_guard lock(mutex_);
    return category_;
}

int AudioSession::categoryOptions() const {
    std::lock_guard lock(mutex_);
    return options_;
}

foundation::Status AudioSession::setActive(bool active, int options) {
    std::lock_guard lock(mutex_);
    if (active) {
        ++activations_;
    } else {
        ++deactivations_;
        lastDeactivationOptions_ = options;
    }
    active_ = active;
    return foundation::Status::success();
}

bool AudioSession::isActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}

int AudioSession::activations() const {
    std::lock_guard lock(mutex_);
    return activations_;
}

int AudioSession::deactivations() const {
    std::lock_guard lock(mutex_);
    return deactivations_;
}

int AudioSession::lastDeactivationOptions() const {
    std::lock_guard lock(mutex_);
    return lastDeactivationOptions_;
}

foundation::Status AudioSession::overrideOutputAudioPort(AudioSessionPortOverride port) {
    std::lock_guard lock(mutex_);
    if (port == AudioSessionPortOverride::Speaker && category_ != kAudioSessionCategoryPlayAndRecord)
        return sessionError(kAudioSessionUnknownCategory, "Only a recording category routes to the loudspeaker.");
    override_ = port;
    return foundation::Status::success();
}

AudioSessionPortOverride AudioSession::outputOverride() const {
    std::lock_guard lock(mutex_);
    return override_;
}

bool AudioSession::isInputAvailable() const {
    std::lock_guard lock(mutex_);
    return inputAvailable_;
}

void AudioSession::setInputAvailable(bool available) {
    std::lock_guard lock(mutex_);
    inputAvailable_ = available;
}

void AudioSession::reset() {
    std::lock_guard lock(mutex_);
    category_ = kAudioSessionCategorySoloAmbient;
    options_ = 0;
    active_ = false;
    activations_ = deactivations_ = lastDeactivationOptions_ = 0;
    override_ = AudioSessionPortOverride::None;
    inputAvailable_ = true;
}

}  // namespace services
