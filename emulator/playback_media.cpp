#include "emulator/playback_media.h"

#include <algorithm>

#include <cstddef>

// The files' bytes, in a source emulator/CMakeLists.txt writes from emulator/media.
namespace emulator::media_data {
#define HX_MEDIA_FILE(name)                                                                                            \
    extern const unsigned char name[];                                                                                 \
    extern const std::size_t name##_size;
HX_MEDIA_FILE(voicemail_mp3)
HX_MEDIA_FILE(recording_mp3)
HX_MEDIA_FILE(video_mp4)
HX_MEDIA_FILE(video_mov)
HX_MEDIA_FILE(video_preview_jpg)
#undef HX_MEDIA_FILE
}  // namespace emulator::media_data

namespace emulator {

namespace {
std::string_view bytes(const unsigned char* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}
}  // namespace

std::string_view voicemailAudio() { return bytes(media_data::voicemail_mp3, media_data::voicemail_mp3_size); }
std::string_view recordingAudio() { return bytes(media_data::recording_mp3, media_data::recording_mp3_size); }
std::string_view videoClip() { return bytes(media_data::video_mp4, media_data::video_mp4_size); }
std::string_view movieClip() { return bytes(media_data::video_mov, media_data::video_mov_size); }
std::string_view videoPreview() { return bytes(media_data::video_preview_jpg, media_data::video_preview_jpg_size); }

void addPlaybackMedia(Account& a) {
    int64_t newest = 0;
    for (auto& t : a.threads) {
        newest = std::max(newest, t.lastTimeMs());
        for (const auto& m : t.items) {
            if (m.type != "voicemail" && m.type != "recording") continue;
            const bool recording = m.type == "recording";
            const Media audio{"audio/mpeg", std::string(recording ? recordingAudio() : voicemailAudio()), {}};
            a.media[m.id] = audio;
            a.media[t.id] = audio;
            for (const auto& attachment : m.attachments) a.media[attachment.id] = audio;
        }
    }
    // Added once: an account kept with the media has the thread already.
    if (a.thread(kVideoThreadID)) return;
    Thread video;
    video.id = kVideoThreadID;
    video.read = false;
    video.numbers = {"+15550177"};
    Message m;
    m.id = "mvid1";
    m.startTimeMs = newest + 60'000;
    m.text = "Have a look";
    m.fromNumber = "+15550177";
    m.type = "smsIn";
    m.attachments = {{kVideoAttachmentID, "video/mp4"}, {kMovieAttachmentID, "video/quicktime"}};
    video.items.push_back(m);
    a.threads.push_back(std::move(video));
    a.media[kVideoAttachmentID] = {"video/mp4", std::string(videoClip()), std::string(videoPreview())};
    a.media[kMovieAttachmentID] = {"video/quicktime", std::string(movieClip()), std::string(videoPreview())};
}

void makeVoicemailNonAudio(Account& a, const std::string& threadID) {
    const Media page{"text/html", "<html><body>This voicemail is no longer available.</body></html>", {}};
    a.media[threadID] = page;
    if (auto* t = a.thread(threadID))
        for (const auto& m : t->items) {
            a.media[m.id] = page;
            for (const auto& attachment : m.attachments) a.media[attachment.id] = page;
        }
}

}  // namespace emulator
