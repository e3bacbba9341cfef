// The app's audio session as the system keeps it: the category the app chose (with its options),
// whether the session is active, the output override (loudspeaker or the default route) and
// whether the device has an audio input at all, which tests and the emulator set. Silent: it only
// records what the app asked for, and counts activations and deactivations (with the options a
// deactivation carried) so tests can read them back. Process-wide; any thread.
#pragma once

#include <mutex>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/thread_annotations.h"

namespace services {

inline constexpr const char* kAudioSessionCategoryAmbient = "AVAudioSessionCategoryAmbient";
inline constexpr const char* kAudioSessionCategorySoloAmbient = "AVAudioSessionCategorySoloAmbient";
inline constexpr const char* kAudioSessionCategoryPlayback = "AVAudioSessionCategoryPlayback";
inline constexpr const char* kAudioSessionCategoryPlayAndRecord = "AVAudioSessionCategoryPlayAndRecord";

enum AudioSessionCategoryOptions : int { kAudioSessionCategoryOptionAllowBluetooth = 4 };
enum AudioSessionSetActiveOptions : int { kAudioSessionSetActiveOptionNotifyOthersOnDeactivation = 1 };
enum class AudioSessionPortOverride { None, Speaker };

inline constexpr const char* kAudioSessionErrorDomain = "HXAudioSessionErrorDomain";
enum AudioSessionErrorCode : int64_t { kAudioSessionUnknownCategory = 1, kAudioSessionNoInput = 2 };

class AudioSession {
public:
    static AudioSession& shared();

    // An unknown category is an error; recording categories need an input.
    foundation::Status setCategory(const std::string& category, int options = 0);
    std::string category() const;
    int categoryOptions() const;

    foundation::Status setActive(bool active, int options = 0);
    bool isActive() const;
    int activations() const;
    int deactivations() const;
    // The options of the latest deactivation (0 before any).
    int lastDeactivationOptions() const;

    // The loudspeaker only serves a recording category (elsewhere it is the output anyway).
    foundation::Status overrideOutputAudioPort(AudioSessionPortOverride port);
    AudioSessionPortOverride outputOverride() const;

    bool isInputAvailable() const;
    // The device's input (set by tests; a device with no microphone answers false).
    void setInputAvailable(bool available);

    // A fresh device's session: solo ambient, inactive, default route, an input.
    void reset();

private:
    mutable foundation::Mutex mutex_;
    std::string category_ HX_GUARDED_BY(mutex_) = kAudioSessionCategorySoloAmbient;
    int options_ HX_GUARDED_BY(mutex_) = 0;
    bool active_ HX_GUARDED_BY(mutex_) = false;
    int activations_ HX_GUARDED_BY(mutex_) = 0;
    int deactivations_ HX_GUARDED_BY(mutex_) = 0;
    int lastDeactivationOptions_ HX_GUARDED_BY(mutex_) = 0;
    AudioSessionPortOverride override_ HX_GUARDED_BY(mutex_) = AudioSessionPortOverride::None;
    bool inputAvailable_ HX_GUARDED_BY(mutex_) = true;
};

}  // namespace services
