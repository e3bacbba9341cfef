// Real media for the playback screens, made once by tools/media/make_media.sh into
// emulator/media/ and built into the emulator: 65-second MP3 voicemails and recorded calls and a
// short video (MPEG-4, turned a quarter by its track's transform, and a QuickTime movie) with its
// preview picture. The sample and generated accounts keep their placeholder bytes unless these
// are added (`--media` on the command line), so what other tests see does not change.
#pragma once

#include <string>
#include <string_view>

#include "emulator/emulator.h"

namespace emulator {

std::string_view voicemailAudio();  // MP3, mono 8 kHz, 65 s of a warble
std::string_view recordingAudio();  // MP3, mono 8 kHz, 65 s of two alternating tones
std::string_view videoClip();       // MPEG-4, 96 x 64 pixels shown as 64 x 96, with a sound track
std::string_view movieClip();       // QuickTime, 96 x 64, not turned
std::string_view videoPreview();    // JPEG, 96 x 64: the video's first picture

// The thread added by addPlaybackMedia: one incoming text with the two videos attached.
inline constexpr const char* kVideoThreadID = "t.+15550177";
inline constexpr const char* kVideoAttachmentID = "vid1";
inline constexpr const char* kMovieAttachmentID = "mov1";

// Every voicemail and recording of the account gets the MP3 of its kind, under its own id, its
// recording attachment's id and its thread's id (what the app downloads a voicemail by), and a
// text thread with two video attachments (with preview pictures) joins the account, newest
// (unless it has that thread already: adding the media twice changes nothing).
void addPlaybackMedia(Account& account);

// The voicemail audio of a thread (by its id, and its items' ids) becomes a web page: the
// service answers its download with a success that is not audio.
void makeVoicemailNonAudio(Account& account, const std::string& threadID);

}  // namespace emulator
