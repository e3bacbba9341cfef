#include "platform/toolkit/feedback.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/services/audio_output.h"
#include "platform/toolkit/main_thread.h"

namespace toolkit {

void ImpactFeedbackGenerator::impactOccurred() {
    TK_MAIN_THREAD("impactOccurred");
    SystemSounds::shared().impacts_.push_back(style_);
}

SystemSounds& SystemSounds::shared() {
    static SystemSounds sounds;
    return sounds;
}

namespace {

// Whether the file holds sound the system can play: a CAF file (version 1 with its description
// chunk first) or a RIFF WAVE file.
bool readableSound(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    char head[20] = {};
    if (!in.read(head, sizeof head)) return false;
    if (std::memcmp(head, "caff", 4) == 0) return head[4] == 0 && head[5] == 1 && std::memcmp(head + 8, "desc", 4) == 0;
    return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

}  // namespace

SystemSoundID SystemSounds::create(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec) || !readableSound(file)) return 0;
    SystemSoundID id = next_++;
    sounds_.push_back(
        {id, file.filename().string(), false, services::readPCMSoundFile(file).value_or(services::PCMSound{})});
    return id;
}

void SystemSounds::setUISound(SystemSoundID id, bool on) {
    for (auto& s : sounds_)
        if (s.id == id) s.ui = on;
}

void SystemSounds::play(SystemSoundID id) {
    TK_MAIN_THREAD("SystemSounds::play");
    if (id == 0) return;
    auto it = std::find_if(sounds_.begin(), sounds_.end(), [&](const Sound& s) { return s.id == id; });
    if (it == sounds_.end()) {
        // Ids below the created range are the system's own sounds.
        if (id < 0x1000) plays_.push_back({id, {}});
        return;
    }
    if (it->ui && !interfaceSoundsOn) return;
    plays_.push_back({id, it->file});
    // The samples name their own stream: a sound played again starts over.
    if (auto output = services::AudioOutput::shared(); output && it->sound.samples)
        output->start(it->sound.samples.get(), it->sound, 0);
}

void SystemSounds::dispose(SystemSoundID id) {
    std::erase_if(sounds_, [&](const Sound& s) {
        if (s.id != id) return false;
        if (auto output = services::AudioOutput::shared(); output && s.sound.samples)
            output->stop(s.sound.samples.get());
        return true;
    });
}

void SystemSounds::reset() {
    sounds_.clear();
    plays_.clear();
    impacts_.clear();
    interfaceSoundsOn = true;
}

}  // namespace toolkit
