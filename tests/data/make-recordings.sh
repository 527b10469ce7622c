#!/usr/bin/env bash
# Regenerates the test recordings in this directory (see NOTES.md).
# Needs: ffmpeg + ffprobe, mpeg2enc (mjpegtools), python3.
set -euo pipefail

DATA="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
TOOLS="$DATA/tools"

missing=0
for t in ffmpeg ffprobe mpeg2enc python3; do
  if ! command -v "$t" >/dev/null 2>&1; then
    case "$t" in
      mpeg2enc) echo "error: mpeg2enc not found (install mjpegtools)" >&2 ;;
      ffprobe)  echo "error: ffprobe not found (install ffmpeg)" >&2 ;;
      *)        echo "error: $t not found (install $t)" >&2 ;;
    esac
    missing=1
  fi
done
[ "$missing" = 0 ] || exit 1

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# Common options: one thread, bit-exact output, no banner.
FF=(ffmpeg -hide_banner -loglevel error -nostdin -y -threads 1)
BX=(-fflags +bitexact -flags +bitexact)
NTSC=30000/1001

cd "$DATA"

echo "== sd_480p_mp2.ts"
"${FF[@]}" \
  -f lavfi -i "testsrc2=size=720x480:rate=$NTSC:duration=3" \
  -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=3" \
  -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 2500k -maxrate 3000k -bufsize 1835k -g 15 -bf 2 -vf setdar=4/3 \
  -c:a mp2 -b:a 192k "${BX[@]}" -f mpegts sd_480p_mp2.ts

echo "== hd_1080i_aac.ts, hd_1080i_aac_192.ts"
# Encode once into an intermediate file, then mux twice with stream copy.
"${FF[@]}" \
  -f lavfi -i "testsrc2=size=1440x1080:rate=$NTSC:duration=2.5" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=2.5" \
  -map 0:v -map 1:a \
  -vf setfield=tff,setdar=16/9 \
  -c:v mpeg2video -b:v 6M -maxrate 7M -bufsize 7M -g 15 -bf 2 \
  -flags +ilme+ildct+bitexact -top 1 \
  -c:a aac -b:a 128k -fflags +bitexact -f nut "$WORK/hd.nut"
"${FF[@]}" -i "$WORK/hd.nut" -map 0 -c copy "${BX[@]}" -f mpegts hd_1080i_aac.ts
"${FF[@]}" -i "$WORK/hd.nut" -map 0 -c copy "${BX[@]}" -f mpegts -mpegts_m2ts_mode 1 \
  hd_1080i_aac_192.ts

echo "== sd_480p_204.ts, sd_480p_208.ts"
python3 "$TOOLS/reframe.py" 204 sd_480p_mp2.ts sd_480p_204.ts
python3 "$TOOLS/reframe.py" 208 sd_480p_mp2.ts sd_480p_208.ts

echo "== sd_480i_ac3.ts"
"${FF[@]}" \
  -f lavfi -i "testsrc2=size=720x480:rate=$NTSC:duration=3" \
  -f lavfi -i "sine=frequency=500:sample_rate=48000:duration=3" \
  -map 0:v -map 1:a \
  -vf setfield=tff,setdar=16/9 \
  -c:v mpeg2video -b:v 2500k -maxrate 3000k -bufsize 1835k -g 15 -bf 2 \
  -flags +ilme+ildct+bitexact -top 1 \
  -c:a ac3 -b:a 192k -fflags +bitexact -f mpegts sd_480i_ac3.ts

echo "== mpeg2enc_i1.ts"
"${FF[@]}" -f lavfi -i "testsrc2=size=720x480:rate=$NTSC:duration=2" \
  -vf setfield=tff -pix_fmt yuv420p "${BX[@]}" -f yuv4mpegpipe - \
  | mpeg2enc -v 0 -M 0 -f 3 -b 6000 -I 1 -g 15 -G 15 -R 2 -s -n n -a 2 -o "$WORK/i1.m2v"
"${FF[@]}" -fflags +genpts -i "$WORK/i1.m2v" \
  -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=2" \
  -map 0:v -map 1:a -c:v copy -c:a mp2 -b:a 192k "${BX[@]}" -f mpegts mpeg2enc_i1.ts

echo "== two_video_pids.ts"
"${FF[@]}" \
  -f lavfi -i "testsrc2=size=352x240:rate=$NTSC:duration=2" \
  -f lavfi -i "smptebars=size=352x240:rate=$NTSC:duration=2" \
  -map 0:v -map 1:v \
  -c:v mpeg2video -b:v 1M -g 12 -bf 2 "${BX[@]}" -f mpegts two_video_pids.ts

echo "== no_video.ts"
"${FF[@]}" -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=2" \
  -c:a mp2 -b:a 192k "${BX[@]}" -f mpegts no_video.ts

echo "== gop_header_next_packet.ts"
"${FF[@]}" \
  -f lavfi -i "testsrc2=size=352x240:rate=$NTSC:duration=2" \
  -f lavfi -i "sine=frequency=800:sample_rate=48000:duration=2" \
  -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 1M -g 12 -bf 2 -c:a mp2 -b:a 128k \
  "${BX[@]}" -f mpegts "$WORK/small.ts"
python3 "$TOOLS/repacketize.py" "$WORK/small.ts" gop_header_next_packet.ts 1,3
python3 "$TOOLS/tsinfo.py" --split gop_header_next_packet.ts
if [ -n "$(ffprobe -v error -show_entries frame=pict_type -of csv gop_header_next_packet.ts 2>&1 >/dev/null)" ]; then
  echo "error: gop_header_next_packet.ts does not decode cleanly" >&2
  exit 1
fi

echo "== starts_mid_packet.ts"
tail -c +101 sd_480p_mp2.ts > starts_mid_packet.ts

echo "== empty.ts"
: > empty.ts

echo "== truncated_last_packet.ts"
small_size=$(stat -c %s "$WORK/small.ts")
head -c $((small_size - 88)) "$WORK/small.ts" > truncated_last_packet.ts

echo "== random_bytes.bin"
python3 "$TOOLS/random_bytes.py" random_bytes.bin 65536

# ---------------------------------------------------------------- summary
FILES=(sd_480p_mp2.ts hd_1080i_aac.ts hd_1080i_aac_192.ts sd_480p_204.ts
       sd_480p_208.ts sd_480i_ac3.ts mpeg2enc_i1.ts two_video_pids.ts no_video.ts
       gop_header_next_packet.ts starts_mid_packet.ts empty.ts
       truncated_last_packet.ts random_bytes.bin)

echo
echo "== summary"
printf '%-28s %9s  %s\n' FILE BYTES "STREAMS (ffprobe)"
total=0
for f in "${FILES[@]}"; do
  size=$(stat -c %s "$f")
  total=$((total + size))
  streams=$(ffprobe -v error -show_entries \
              stream=index,codec_name,width,height,field_order \
              -of compact=p=0:nk=1 "$f" 2>/dev/null | awk '!seen[$0]++' | tr '\n' ' ' || true)
  printf '%-28s %9d  %s\n' "$f" "$size" "${streams:-(ffprobe: none)}"
done
printf '%-28s %9d\n' TOTAL "$total"
echo
echo "== packet layout (tools/tsinfo.py)"
python3 "$TOOLS/tsinfo.py" "${FILES[@]}"
