// The audio file player as the app meets it: opened on a file (or bytes), it reports a format
// only when the bytes decode as MPEG audio (libmpg123), its duration from the samples decoded,
// and plays on the process clock: `currentTime` moves with the clock while playing and the end
// of the sound is a delayed block of the main queue, which tells the delegate whether the whole
// stream played (success) or playback stopped where the stream broke (failure). The samples
// decoded at the open go to the device's audio output (audio_output.h) from the position played,
// and are silenced on a pause, a stop, the end or when the player goes; without an output nothing
// is heard. Every operation may be called from any thread; the delegate hears the end on the main
// thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/error.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"
#include "platform/services/audio_output.h"

namespace services {

inline constexpr const char* kAudioPlayerErrorDomain = "HXAudioPlayerErrorDomain";
enum AudioPlayerErrorCode : int64_t { kAudioPlayerUnreadableFile = 1 };

struct AudioFormat {
    long sampleRate = 0;
    int channels = 0;
    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// What decoding a whole MPEG audio stream found: its format (none when not one frame decodes),
// the seconds its samples last (every frame counted, the encoder's padding included) and whether
// the stream broke before its end (a frame that does not decode, junk between frames, a last
// frame cut short).
struct MP3Probe {
    std::optional<AudioFormat> format;
    double seconds = 0;
    int64_t frames = 0;
    bool broken = false;
};
// Never fails: bytes that are not MPEG audio answer a probe without a format.
MP3Probe probeMP3(std::span<const uint8_t> bytes);

class AudioPlayer;

class AudioPlayerDelegate {
public:
    virtual ~AudioPlayerDelegate() = default;
    // The sound reached its end (successfully) or the point where its stream broke (not).
    virtual void audioPlayerDidFinishPlaying(AudioPlayer& player, bool successfully) = 0;
};

class AudioPlayer : public std::enable_shared_from_this<AudioPlayer> {
public:
    // An error only for a file that cannot be read; a file that is not audio opens a player
    // without a format, which does not play.
    static foundation::Result<std::shared_ptr<AudioPlayer>> withContentsOfFile(const std::filesystem::path& path);
    static std::shared_ptr<AudioPlayer> withData(std::span<const uint8_t> bytes);

    const std::optional<AudioFormat>& format() const { return probe_.format; }
    dispatch::Seconds duration() const { return probe_.seconds; }

    void setDelegate(std::weak_ptr<AudioPlayerDelegate> delegate);
    // True when the sound can play (it has a format).
    bool prepareToPlay() const { return probe_.format.has_value(); }
    // Starts or resumes from currentTime; false (and nothing changes) without a format.
    bool play();
    // Both hold the position where the sound is now.
    void pause();
    void stop();
    bool isPlaying() const;
    dispatch::Seconds currentTime() const;
    // Clamped to 0 ... duration; a playing sound goes on from there.
    void setCurrentTime(dispatch::Seconds seconds);
    // The decoded samples (none when the stream is not 16-bit audio the decoder gave).
    const PCMSound& sound() const { return sound_; }
    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

private:
    AudioPlayer(MP3Probe probe, PCMSound sound) : probe_(probe), sound_(std::move(sound)) {}
    void soundFromLocked(dispatch::Seconds position) HX_REQUIRES(mutex_);
    void silence();
    dispatch::Seconds positionLocked(dispatch::Seconds now) const HX_REQUIRES(mutex_);
    void scheduleEndLocked(dispatch::Seconds now) HX_REQUIRES(mutex_);
    void reachEnd(uint64_t generation);

    const MP3Probe probe_;
    const PCMSound sound_;
    mutable foundation::Mutex mutex_;
    std::weak_ptr<AudioPlayerDelegate> delegate_ HX_GUARDED_BY(mutex_);
    bool playing_ HX_GUARDED_BY(mutex_) = false;
    // While playing: the position at `startedAt` on the clock; else the position itself.
    dispatch::Seconds position_ HX_GUARDED_BY(mutex_) = 0;
    dispatch::Seconds startedAt_ HX_GUARDED_BY(mutex_) = 0;
    // Moves on at every play, stop and seek, so an end scheduled before is recognised as stale.
    uint64_t generation_ HX_GUARDED_BY(mutex_) = 0;
};

}  // namespace services
