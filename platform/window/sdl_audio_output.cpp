#include "platform/window/sdl_audio_output.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/window/errors.h"
#include "platform/window/sdl_library.h"

namespace windowing {

namespace {

const SdlLibrary& sdl() { return **sdlLibrary(); }

// A device for signed 16-bit samples, asked for exactly: SDL converts to what the device takes.
SDL_AudioDeviceID openDevice(const SdlLibrary& library, long rate, int channels) {
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(rate);
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = 1024;
    return library.OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
}

// Whether the machine has something to play to: a desktop sound server's socket or a sound card.
// Without either SDL's drivers find nothing, and the sound library they try says so at length on
// standard error.
bool machineHasSound() {
    if (std::getenv("PULSE_SERVER")) return true;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::error_code ec;
        for (const char* socket : {"pulse/native", "pipewire-0"})
            if (std::filesystem::exists(std::filesystem::path(runtime) / socket, ec)) return true;
    }
    // A file of the kernel's that reports no size: read as a stream.
    std::ifstream cards("/proc/asound/cards");
    std::string first;
    return std::getline(cards, first) && first.find("no soundcards") == std::string::npos;
}

}  // namespace

foundation::Result<std::shared_ptr<SdlAudioOutput>> SdlAudioOutput::open() {
    // A driver named in SDL_AUDIODRIVER is taken at its word (tests name the dummy one).
    if (!std::getenv("SDL_AUDIODRIVER") && !machineHasSound())
        return windowError(kWindowDisplayError, "no audio device (no sound server or sound card)");
    auto library = sdlLibrary();
    if (!library.ok()) return library.error();
    const auto& sdl = **library;
    if (sdl.InitSubSystem(SDL_INIT_AUDIO) != 0)
        return windowError(kWindowDisplayError, std::string("no audio output: ") + sdl.GetError());
    // One device opened and closed again: a driver that starts but has no device to play to
    // counts as none.
    const auto probe = openDevice(sdl, 8000, 1);
    if (!probe) return windowError(kWindowDisplayError, std::string("no audio device: ") + sdl.GetError());
    sdl.CloseAudioDevice(probe);
    return std::shared_ptr<SdlAudioOutput>(new SdlAudioOutput());
}

SdlAudioOutput::~SdlAudioOutput() {
    std::lock_guard lock(mutex_);
    for (auto& [source, stream] : streams_) sdl().CloseAudioDevice(stream.device);
}

void SdlAudioOutput::start(const void* source, const services::PCMSound& sound, size_t fromFrame) {
    if (!sound.samples || sound.rate <= 0 || sound.channels <= 0 || fromFrame >= sound.frames()) {
        stop(source);
        return;
    }
    std::lock_guard lock(mutex_);
    auto& stream = streams_[source];
    if (stream.device && (stream.rate != sound.rate || stream.channels != sound.channels)) {
        sdl().CloseAudioDevice(stream.device);
        stream = {};
    }
    if (!stream.device) {
        stream.device = openDevice(sdl(), sound.rate, sound.channels);
        if (!stream.device) {
            streams_.erase(source);
            return;
        }
        stream.rate = sound.rate;
        stream.channels = sound.channels;
    }
    const auto* first = sound.samples->data() + fromFrame * static_cast<size_t>(sound.channels);
    const size_t count = (sound.frames() - fromFrame) * static_cast<size_t>(sound.channels);
    sdl().ClearQueuedAudio(stream.device);
    if (sdl().QueueAudio(stream.device, first, static_cast<Uint32>(count * sizeof(int16_t))) != 0) return;
    sdl().PauseAudioDevice(stream.device, 0);
    record({source, false, sound.rate, sound.channels, fromFrame, std::vector<int16_t>(first, first + count)});
}

void SdlAudioOutput::record(Queued entry) {
    // The newest few: a long run's seeks do not pile up sound.
    if (queued_.size() >= kKeptRecords) queued_.erase(queued_.begin());
    queued_.push_back(std::move(entry));
}

void SdlAudioOutput::stop(const void* source) {
    std::lock_guard lock(mutex_);
    auto found = streams_.find(source);
    if (found == streams_.end()) return;
    sdl().ClearQueuedAudio(found->second.device);
    sdl().CloseAudioDevice(found->second.device);
    streams_.erase(found);
    record({source, true, 0, 0, 0, {}});
}

std::vector<SdlAudioOutput::Queued> SdlAudioOutput::queued() const {
    std::lock_guard lock(mutex_);
    return queued_;
}

uint32_t SdlAudioOutput::bytesWaiting(const void* source) const {
    std::lock_guard lock(mutex_);
    auto found = streams_.find(source);
    return found == streams_.end() ? 0 : sdl().GetQueuedAudioSize(found->second.device);
}

}  // namespace windowing
