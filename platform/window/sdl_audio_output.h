// The desktop's audio output through SDL: each source that plays gets an SDL output device of its
// sound's rate and channels (SDL converts to what the hardware takes and mixes the devices), its
// frames pushed onto the device's queue. Opened with the window; a machine without an audio device
// (or without SDL) has none, and the program's sound then plays to nothing. Thread-safe.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/services/audio_output.h"

namespace windowing {

class SdlAudioOutput : public services::AudioOutput {
public:
    // SDL's audio started with its usual driver (or SDL_AUDIODRIVER's); an error when there is
    // none to play to.
    static foundation::Result<std::shared_ptr<SdlAudioOutput>> open();
    ~SdlAudioOutput() override;
    SdlAudioOutput(const SdlAudioOutput&) = delete;
    SdlAudioOutput& operator=(const SdlAudioOutput&) = delete;

    void start(const void* source, const services::PCMSound& sound, size_t fromFrame) override;
    void stop(const void* source) override;

    // What was last handed to SDL (the newest kKeptRecords), in order: a start (its rate, channels, the frame it began
    // at and the samples queued) or a stop.
    struct Queued {
        const void* source = nullptr;
        bool stop = false;
        long rate = 0;
        int channels = 0;
        size_t fromFrame = 0;
        std::vector<int16_t> samples;
    };
    std::vector<Queued> queued() const;
    // The bytes SDL still holds for the source (0 when it plays nothing).
    uint32_t bytesWaiting(const void* source) const;

    static constexpr size_t kKeptRecords = 16;

private:
    SdlAudioOutput() = default;
    void record(Queued entry);
    struct Stream {
        uint32_t device = 0;
        long rate = 0;
        int channels = 0;
    };
    mutable std::mutex mutex_;
    std::map<const void*, Stream> streams_;
    std::vector<Queued> queued_;
};

}  // namespace windowing
