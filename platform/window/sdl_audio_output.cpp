#include "platform/window/sdl_audio_output.h"

#include <string>

#include "platform/window/errors.h"
#include "platform/window/sdl_library.h"

namespace windowing {

namespace {
const SdlLibrary& sdl() { return **sdlLibrary(); }
}  // namespace

foundation::Result<std::shared_ptr<SdlAudioOutput>> SdlAudioOutput::open() {
    auto library = sdlLibrary();
    if (!library.ok()) return library.error();
    if ((*library)->InitSubSystem(SDL_INIT_AUDIO) != 0)
        return windowError(kWindowDisplayError, std::string("no audio output: ") + (*library)->GetError());
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
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(sound.rate);
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(sound.channels);
        want.samples = 1024;
        // Asked for exactly this: SDL converts to what the device takes.
        stream.device = sdl().OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
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
