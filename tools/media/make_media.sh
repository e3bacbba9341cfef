#!/usr/bin/env bash
# Remakes the emulator's playback media in emulator/media/ (committed; not run by the build):
#   voicemail.mp3   65 s, mono 8 kHz, 8 kbit/s: a voice-like warble
#   recording.mp3   65 s, mono 8 kHz, 8 kbit/s: two alternating tones (a recorded call)
#   video.mp4       3 s, 96x64 H.264 at 10 frames/s with a short AAC track, shown turned by 90
#                   degrees (the track's transform), so its upright size is 64x96
#   video.mov       the same pictures as a QuickTime movie, not turned
#   video_preview.jpg  the video's first picture, its preview
# Bit-exact output is not promised across encoder versions; tests read sizes and durations.
#
# usage: tools/media/make_media.sh [OUTPUT_DIRECTORY]   (default: emulator/media)
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-emulator/media}
mkdir -p "$out"
ff=(ffmpeg -hide_banner -loglevel error -y -nostdin)

"${ff[@]}" -f lavfi -i "aevalsrc=0.4*sin(2*PI*(300+80*sin(2*PI*3*t))*t):s=8000:d=65" \
  -ac 1 -ar 8000 -c:a libmp3lame -b:a 8k -map_metadata -1 -fflags +bitexact "$out/voicemail.mp3"
"${ff[@]}" -f lavfi -i "aevalsrc=0.3*sin(2*PI*if(lt(mod(t\,2)\,1)\,440\,660)*t):s=8000:d=65" \
  -ac 1 -ar 8000 -c:a libmp3lame -b:a 8k -map_metadata -1 -fflags +bitexact "$out/recording.mp3"

"${ff[@]}" -f lavfi -i "testsrc2=size=96x64:rate=10:duration=3" -f lavfi -i "sine=frequency=500:sample_rate=8000:duration=3" \
  -c:v libx264 -preset veryslow -crf 40 -pix_fmt yuv420p -c:a aac -b:a 8k -ac 1 \
  -map_metadata -1 -fflags +bitexact -movflags +faststart "$out/video.mp4"
# The encoder here writes no turn of its own: the video track's header gets the matrix of a
# quarter turn clockwise (a=0 b=1 c=-1 d=0, moved right by the picture's height).
python3 - "$out/video.mp4" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
i = 0
while True:
    i = data.find(b"tkhd", i)
    if i < 0:
        sys.exit("no video track header")
    body = i + 4
    version = data[body]
    matrix = body + 4 + (32 if version == 1 else 20) + 16
    width, height = struct.unpack(">II", data[matrix + 36:matrix + 44])
    if width and height:
        break
    i = body
fixed = lambda v: v & 0xFFFFFFFF
data[matrix:matrix + 36] = struct.pack(">9I", 0, 0x10000, 0, fixed(-0x10000), 0, 0, height, 0, 0x40000000)
open(path, "wb").write(data)
PY
"${ff[@]}" -f lavfi -i "testsrc2=size=96x64:rate=10:duration=3" \
  -c:v libx264 -preset veryslow -crf 40 -pix_fmt yuv420p -map_metadata -1 -fflags +bitexact -f mov "$out/video.mov"
"${ff[@]}" -f lavfi -i "testsrc2=size=96x64:rate=10:duration=1" -frames:v 1 -q:v 8 "$out/video_preview.jpg"
ls -l "$out"
