#include "platform/services/audio_player.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/foundation/files.h"

namespace services {

namespace {

// The decoder's library state is made once per process (the call is a no-op in current
// versions, but older ones require it before the first handle).
void initialiseDecoder() {
    static const int once = mpg123_init();
    (void)once;
}

struct Handle {
    mpg123_handle* h = nullptr;
    ~Handle() {
        if (h) mpg123_delete(h);
    }
};

// An MPEG audio frame header: the eleven sync bits.
bool startsFrame(std::span<const uint8_t> rest) {
    return rest.size() >= 2 && rest[0] == 0xFF && (rest[1] & 0xE0) == 0xE0;
}

// The probe; with `keep`, also the decoded samples (signed 16-bit, the decoder's usual output;
// none are kept for another encoding or after the format changes mid-stream).
MP3Probe decodeMP3(std::span<const uint8_t> bytes, std::vector<int16_t>* keep) {
    initialiseDecoder();
    MP3Probe probe;
    Handle handle;
    int error = MPG123_OK;
    handle.h = mpg123_new(nullptr, &error);
    if (!handle.h) return probe;
    // Every frame counts (no gapless trimming: the duration is that of all samples decoded), and
    // junk inside the stream is a break instead of something skipped in silence.
    if (mpg123_param(handle.h, MPG123_FLAGS, MPG123_QUIET | MPG123_NO_RESYNC, 0) != MPG123_OK ||
        mpg123_open_feed(handle.h) != MPG123_OK)
        return probe;
    if (!bytes.empty() && mpg123_feed(handle.h, bytes.data(), bytes.size()) != MPG123_OK) return probe;

    int64_t samples = 0;
    long rate = 0;
    int channels = 0, encoding = 0;
    auto settle = [&] {
        if (rate > 0) probe.seconds += static_cast<double>(samples) / static_cast<double>(rate);
        samples = 0;
    };
    for (;;) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        size_t length = 0;
        const int status = mpg123_decode_frame(handle.h, &frameNumber, &audio, &length);
        if (status == MPG123_NEW_FORMAT) {
            settle();
            if (mpg123_getformat(handle.h, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels <= 0) {
                probe.broken = true;
                break;
            }
            if (!probe.format) probe.format = AudioFormat{rate, channels};
            if (keep && (encoding != MPG123_ENC_SIGNED_16 || !(probe.format == AudioFormat{rate, channels}))) {
                keep->clear();
                keep = nullptr;
            }
            continue;
        }
        if (status == MPG123_OK) {
            const int sampleBytes = mpg123_encsize(encoding) * channels;
            if (sampleBytes > 0 && length > 0) {
                samples += static_cast<int64_t>(length) / sampleBytes;
                ++probe.frames;
                if (keep) {
                    const size_t count = length / sizeof(int16_t);
                    const size_t was = keep->size();
                    keep->resize(was + count);
                    std::memcpy(keep->data() + was, audio, count * sizeof(int16_t));
                }
            }
            continue;
        }
        if (status == MPG123_NEED_MORE || status == MPG123_DONE) {
            // All input is in: what is left unread beyond the last frame is either a tag
            // (ID3v1 "TAG", an APE tag) or nothing, or the start of a frame that was cut short.
            const off_t read = mpg123_tell_stream(handle.h);
            if (read >= 0 && static_cast<size_t>(read) < bytes.size() && probe.format) {
                const auto rest = bytes.subspan(static_cast<size_t>(read));
                if (startsFrame(rest)) probe.broken = true;
            }
            break;
        }
        // MPG123_ERR and anything else: the stream is damaged here.
        if (probe.format) probe.broken = true;
        break;
    }
    settle();
    if (!probe.format) probe = MP3Probe{};
    return probe;
}

}  // namespace

MP3Probe probeMP3(std::span<const uint8_t> bytes) { return decodeMP3(bytes, nullptr); }

foundation::Result<std::shared_ptr<AudioPlayer>> AudioPlayer::withContentsOfFile(const std::filesystem::path& path) {
    auto data = foundation::files::readData(path);
    if (!data) {
        foundation::Dictionary info;
        info.set(foundation::kLocalizedDescriptionKey, "The audio file could not be read.");
        info.set("path", path.string());
        return foundation::Error(kAudioPlayerErrorDomain, kAudioPlayerUnreadableFile, std::move(info));
    }
    return withData(data.value());
}

std::shared_ptr<AudioPlayer> AudioPlayer::withData(std::span<const uint8_t> bytes) {
    auto samples = std::make_shared<std::vector<int16_t>>();
    auto probe = decodeMP3(bytes, samples.get());
    PCMSound sound;
    if (probe.format && !samples->empty())
        sound = {std::move(samples), probe.format->sampleRate, probe.format->channels};
    return std::shared_ptr<AudioPlayer>(new AudioPlayer(probe, std::move(sound)));
}

AudioPlayer::~AudioPlayer() {
    if (auto output = AudioOutput::shared()) output->stop(this);
}

void AudioPlayer::soundFromLocked(dispatch::Seconds position) {
    if (!sound_.samples) return;
    if (auto output = AudioOutput::shared()) output->start(this, sound_, frameAt(sound_, position));
}

void AudioPlayer::silence() {
    if (!sound_.samples) return;
    if (auto output = AudioOutput::shared()) output->stop(this);
}

void AudioPlayer::setDelegate(std::weak_ptr<AudioPlayerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

dispatch::Seconds AudioPlayer::positionLocked(dispatch::Seconds now) const {
    if (!playing_) return position_;
    return std::clamp(position_ + (now - startedAt_), 0.0, probe_.seconds);
}

void AudioPlayer::scheduleEndLocked(dispatch::Seconds now) {
    const uint64_t generation = ++generation_;
    startedAt_ = now;
    std::weak_ptr<AudioPlayer> weakSelf = weak_from_this();
    dispatch::Queue::main()->after(std::max(0.0, probe_.seconds - position_), [weakSelf, generation] {
        if (auto self = weakSelf.lock()) self->reachEnd(generation);
    });
}

bool AudioPlayer::play() {
    if (!probe_.format) return false;
    std::lock_guard lock(mutex_);
    if (playing_) return true;
    // A sound at its end starts again from the beginning.
    if (position_ >= probe_.seconds) position_ = 0;
    playing_ = true;
    scheduleEndLocked(dispatch::clock().now());
    soundFromLocked(position_);
    return true;
}

void AudioPlayer::pause() {
    std::lock_guard lock(mutex_);
    if (!playing_) return;
    position_ = positionLocked(dispatch::clock().now());
    playing_ = false;
    ++generation_;
    silence();
}

void AudioPlayer::stop() { pause(); }

bool AudioPlayer::isPlaying() const {
    std::lock_guard lock(mutex_);
    return playing_;
}

dispatch::Seconds AudioPlayer::currentTime() const {
    std::lock_guard lock(mutex_);
    return positionLocked(dispatch::clock().now());
}

void AudioPlayer::setCurrentTime(dispatch::Seconds seconds) {
    std::lock_guard lock(mutex_);
    position_ = std::clamp(seconds, 0.0, probe_.seconds);
    if (playing_) {
        scheduleEndLocked(dispatch::clock().now());
        soundFromLocked(position_);
    }
}

void AudioPlayer::reachEnd(uint64_t generation) {
    std::shared_ptr<AudioPlayerDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        if (!playing_ || generation != generation_) return;
        playing_ = false;
        position_ = probe_.seconds;
        ++generation_;
        delegate = delegate_.lock();
        silence();
    }
    if (delegate) delegate->audioPlayerDidFinishPlaying(*this, !probe_.broken);
}

}  // namespace services
