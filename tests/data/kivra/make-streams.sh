#!/bin/sh
# Regenerates the Kivra conformance streams in this folder from real
# encoders (ffmpeg's mpeg2video + mpegts muxer, mjpegtools' mpeg2enc).
# The field-picture streams come from the test-only encoder built with the
# tests: pass its path as $1 (kivra-field-encoder), or they are skipped.
set -eu
cd "$(dirname "$0")"
FF="ffmpeg -hide_banner -loglevel error -y"
SRC="testsrc2=size=720x480:rate=30000/1001"
MUX="-f mpegts -mpegts_start_pid 256 -muxrate 0"

# SD progressive with B pictures, 4:3.
$FF -f lavfi -i "$SRC" -t 2.2 -c:v mpeg2video -b:v 2200k -g 12 -bf 2 -aspect 4:3 $MUX sd_ibp.ts

# HD 1440x1080 interlaced frame pictures (field DCT and field prediction), 16:9.
$FF -f lavfi -i "testsrc2=size=1440x1080:rate=30000/1001" -t 0.35 -vf "setfield=tff" \
    -c:v mpeg2video -flags +ilme+ildct -top 1 -b:v 8000k -g 6 -bf 2 -aspect 16:9 $MUX hd_interlaced.ts

# mpeg2enc with interlaced coding (-I 1), 4:3.
$FF -f lavfi -i "$SRC" -t 1.5 -pix_fmt yuv420p -f yuv4mpegpipe - |
    mpeg2enc -f 3 -b 3000 -I 1 -a 2 -q 6 -o mpeg2enc_i1.m2v >/dev/null 2>&1
$FF -fflags +genpts -r 30000/1001 -f mpegvideo -i mpeg2enc_i1.m2v -c copy $MUX mpeg2enc_i1.ts
rm -f mpeg2enc_i1.m2v

# 4:2:2 chroma.
$FF -f lavfi -i "$SRC" -t 1.2 -pix_fmt yuv422p -c:v mpeg2video -b:v 3000k -g 12 -bf 2 $MUX yuv422.ts

# 4:2:2 interlaced (field DCT of the chroma blocks too), 720x576.
$FF -f lavfi -i "testsrc2=size=720x576:rate=25" -t 0.8 -vf setfield=tff -pix_fmt yuv422p -c:v mpeg2video \
    -flags +ilme+ildct -top 1 -b:v 5000k -g 12 -bf 2 $MUX yuv422_interlaced.ts

# 10-bit intra DC precision.
$FF -f lavfi -i "$SRC" -t 1.0 -c:v mpeg2video -b:v 4000k -g 12 -bf 2 -dc 10 $MUX dc10.ts

# Custom quantiser matrices (intra and inter).
IM="8,9,10,12,14,16,18,20,9,10,12,14,16,18,20,22,10,12,14,16,18,20,22,24,12,14,16,18,20,22,24,28,14,16,18,20,22,24,28,32,16,18,20,22,24,28,32,36,18,20,22,24,28,32,36,40,20,22,24,28,32,36,40,48"
NM="16,17,18,19,20,21,22,23,17,18,19,20,21,22,23,24,18,19,20,21,22,23,24,25,19,20,21,22,23,24,25,26,20,21,22,23,24,25,26,27,21,22,23,24,25,26,27,28,22,23,24,25,26,27,28,29,23,24,25,26,27,28,29,30"
$FF -f lavfi -i "$SRC" -t 1.2 -c:v mpeg2video -b:v 2500k -g 12 -bf 2 -intra_matrix "$IM" -inter_matrix "$NM" $MUX matrices.ts

# Alternate scan, non-linear quantiser scale, intra VLC table.
$FF -f lavfi -i "$SRC" -t 1.2 -c:v mpeg2video -b:v 1500k -g 12 -bf 2 -alternate_scan 1 \
    -non_linear_quant 1 -intra_vlc 1 -qmax 28 $MUX altscan.ts

# 192-byte packets (4-byte prefix); 204 and 208 made from a 188-byte stream
# (16 trailing bytes, and for 208 a 4-byte prefix too).
$FF -f lavfi -i "$SRC" -t 1.2 -c:v mpeg2video -b:v 2500k -g 12 -bf 2 -f mpegts -mpegts_m2ts_mode 1 \
    -mpegts_start_pid 256 pkt192.ts
$FF -f lavfi -i "$SRC" -t 1.0 -c:v mpeg2video -b:v 2500k -g 12 -bf 2 $MUX pkt188.tmp.ts
python3 - <<'PY'
src = open("pkt188.tmp.ts", "rb").read()
n = len(src) // 188
with open("pkt204.ts", "wb") as f204, open("pkt208.ts", "wb") as f208:
    for i in range(n):
        p = src[i * 188:(i + 1) * 188]
        f204.write(p + bytes([0xFF]) * 16)
        f208.write(i.to_bytes(4, "big") + p + bytes([0xA5]) * 16)
PY
rm -f pkt188.tmp.ts

# 352x240 progressive and interlaced: the same size, aspect and chroma
# format, but 15 macroblock rows against 16. Joined end to end they make a
# recording whose coded size changes with progressive_sequence alone.
SIF="testsrc2=size=352x240:rate=30000/1001"
$FF -f lavfi -i "$SIF" -t 0.8 -c:v mpeg2video -b:v 1000k -g 8 -bf 2 -aspect 4:3 $MUX sif_progressive.ts
$FF -f lavfi -i "$SIF" -t 0.8 -vf setfield=tff -c:v mpeg2video -flags +ilme+ildct -top 1 -b:v 1000k -g 8 \
    -bf 2 -aspect 4:3 $MUX sif_interlaced.ts

# MPEG-1 video (stream type 0x01, no sequence extension).
$FF -f lavfi -i "$SIF" -t 1.0 -c:v mpeg1video -b:v 1000k -g 10 -bf 2 $MUX mpeg1.ts

if [ $# -ge 1 ] && [ -x "$1" ]; then
    "$1" intra-pair field_intra.m2v
    $FF -fflags +genpts -r 25 -f mpegvideo -i field_intra.m2v -c copy $MUX field_intra.ts
    "$1" intra-p field_ip.m2v
    $FF -fflags +genpts -r 25 -f mpegvideo -i field_ip.m2v -c copy $MUX field_ip.ts
    "$1" mix field_mix.m2v
    $FF -fflags +genpts -r 25 -f mpegvideo -i field_mix.m2v -c copy $MUX field_mix.ts
    "$1" field-b field_b.m2v
    $FF -fflags +genpts -r 25 -f mpegvideo -i field_b.m2v -c copy $MUX field_b.ts
    "$1" frame-dp frame_dp.m2v
    $FF -fflags +genpts -r 25 -f mpegvideo -i frame_dp.m2v -c copy $MUX frame_dp.ts
    "$1" odd-rows field_odd.m2v
    $FF -fflags +genpts -r 25 -f mpegvideo -i field_odd.m2v -c copy $MUX field_odd.ts
    rm -f field_intra.m2v field_ip.m2v field_mix.m2v field_b.m2v frame_dp.m2v field_odd.m2v
fi
ls -l *.ts
