// Where the sound the device plays goes: the desktop's audio output when the program has one
// (its window sets it), else nowhere. The audio player and the system sounds hand it the samples
// they decoded, from the position they play at; a source (any pointer that names the player or
// sound) plays one stream at a time, started again from a new position on a seek and stopped on
// a pause, a stop or the end. Without an output set, sound plays to nothing and only its timing
// (which the players keep on the process clock) exists. Thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace services {

// Decoded sound: signed 16-bit samples, frames of `channels` interleaved samples.
struct PCMSound {
    std::shared_ptr<const std::vector<int16_t>> samples;
    long rate = 0;
    int channels = 0;
    size_t frames() const { return samples && channels > 0 ? samples->size() / static_cast<size_t>(channels) : 0; }
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Plays the sound's frames from `fromFrame` to its end for `source`, in place of what that
    // source played before.
    virtual void start(const void* source, const PCMSound& sound, size_t fromFrame) = 0;
    // Silences what the source plays (nothing when it plays nothing).
    virtual void stop(const void* source) = 0;

    // The output sound goes to; none (the default) plays it to nothing.
    static std::shared_ptr<AudioOutput> shared();
    static void setShared(std::shared_ptr<AudioOutput> output);
};

// The frames a sound plays from a position in seconds (clamped to the sound).
size_t frameAt(const PCMSound& sound, double seconds);

// The samples of a sound file the system plays: 16-bit linear PCM in a CAF file (either byte
// order) or a RIFF WAVE file; none for anything else.
std::optional<PCMSound> readPCMSoundFile(const std::filesystem::path& file);

}  // namespace services
