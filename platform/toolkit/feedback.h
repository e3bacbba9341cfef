// Haptic feedback and system sounds, recorded (tests read what was played, in order); sounds are
// heard too where the program has an audio output. Sounds are created from files (a missing file gives id 0 and an
// error) and may be marked as interface sounds, which the device's own setting silences.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/services/audio_output.h"

namespace toolkit {

enum class ImpactStyle { Light, Medium, Heavy };

class ImpactFeedbackGenerator {
public:
    explicit ImpactFeedbackGenerator(ImpactStyle style = ImpactStyle::Medium) : style_(style) {}
    void prepare() {}
    void impactOccurred();
    ImpactStyle style() const { return style_; }

private:
    ImpactStyle style_;
};

using SystemSoundID = unsigned;
inline constexpr SystemSoundID kSystemSoundVibrate = 4095;

class SystemSounds {
public:
    static SystemSounds& shared();
    // A sound for a file; 0 when the file does not exist or holds no sound (CAF or WAVE).
    SystemSoundID create(const std::filesystem::path& file);
    void setUISound(SystemSoundID id, bool on);
    // Plays a created sound or a system id (1105, the vibration); an interface sound is silent
    // while interface sounds are off. A created sound's samples go to the audio output
    // (platform/services/audio_output.h), when there is one.
    void play(SystemSoundID id);
    void dispose(SystemSoundID id);
    bool interfaceSoundsOn = true;

    struct Play {
        SystemSoundID id;
        std::string file;  // empty for system ids
    };
    const std::vector<Play>& plays() const { return plays_; }
    const std::vector<ImpactStyle>& impacts() const { return impacts_; }
    void reset();

private:
    friend class ImpactFeedbackGenerator;
    struct Sound {
        SystemSoundID id;
        std::string file;
        bool ui = false;
        services::PCMSound sound;  // what the audio output plays (none when not 16-bit PCM)
    };
    std::vector<Sound> sounds_;
    std::vector<Play> plays_;
    std::vector<ImpactStyle> impacts_;
    SystemSoundID next_ = 0x1000;
};

}  // namespace toolkit
