#!/usr/bin/env bash
# End-to-end checks of tavrelcut-cli detect on the broadcast-like recordings
# that tests/data/tools/make_broadcast.sh makes (BROADCAST_DIR/<variant>/,
# made once per build folder by the detect_recordings fixture): every break
# edge within one GOP of the recording's layout and no other edge (the pauses
# on programme cuts are no break), the spot lengths, the detect-and-cut
# one-liner keeping the programme, and the refused recordings.
#   cli_detect_e2e.sh CLI DATA BROADCAST_DIR
set -u
cli=$1
data=$2
broadcast=$3
. "$(dirname "$0")/e2e_lib.sh"
require_tools ffmpeg ffprobe python3
make_workdir

# Frames of 1001/30000 s; a GOP is 15 of them.
gop=15

# The display start of each GOP in frames: the time code of its GOP header
# (HH:MM:SS FF, 30 frames a second, counted by the encoder), as gops prints
# it in its third column; the LAST line is left out.
gop_frames() {
    "$cli" gops "$1" 2> /dev/null |
        awk -F'\t' '$3 !~ /^LAST/ { split($3, t, /[: ]+/); print $1, ((t[1] * 60 + t[2]) * 60 + t[3]) * 30 + t[4] }'
}

# Compares detect --breaks with the layout; prints one line per difference.
compare_breaks() {  # gop frames, layout, --breaks output, recording
    awk -v rec="$4" -v gop="$gop" '
        function fr(s) { return int(s * 30000 / 1001 + 0.5) }
        function edge(g) { return g == "end" ? dur : at[g] }
        FILENAME == ARGV[1] { at[$1] = $2; next }
        FILENAME == ARGV[2] {
            if ($1 == "break") { nl++; ls[nl] = fr($2); le[nl] = fr($3) }
            if ($1 == "spots") { ns[nl] = NF - 1; for (i = 2; i <= NF; i++) sp[nl, i - 1] = $i }
            if ($1 == "trap") traps[++nt] = fr($2)
            if ($1 == "duration") dur = fr($2)
            next
        }
        {
            if (index($0, rec ":") != 1) { print "line not of the recording: " $0; next }
            split(substr($1, length(rec) + 2), r, ":")
            nd++; ds[nd] = edge(r[1]); de[nd] = edge(r[2])
            if (ds[nd] == "" || de[nd] == "") print "GOP out of range: " $0
            nds[nd] = NF - 1; for (i = 2; i <= NF; i++) dsp[nd, i - 1] = $i
        }
        function far(a, b) { return a - b > gop || b - a > gop }
        END {
            if (nd != nl) print nd " breaks found, the layout has " nl
            for (b = 1; b <= nl && b <= nd; b++) {
                if (far(ds[b], ls[b])) printf "break %d starts at frame %d, the layout at %d\n", b, ds[b], ls[b]
                if (far(de[b], le[b])) printf "break %d ends at frame %d, the layout at %d\n", b, de[b], le[b]
                if (nds[b] != ns[b]) printf "break %d: %d spots, the layout has %d\n", b, nds[b], ns[b]
                for (i = 1; i <= ns[b] && i <= nds[b]; i++)
                    if (dsp[b, i] - sp[b, i] > 1.05 || sp[b, i] - dsp[b, i] > 1.05)
                        printf "break %d spot %d: %s s, the layout %s s\n", b, i, dsp[b, i], sp[b, i]
            }
            for (t = 1; t <= nt; t++)
                for (b = 1; b <= nd; b++)
                    if (!far(ds[b], traps[t]) || !far(de[b], traps[t]))
                        printf "an edge at the pause on the programme cut at frame %d\n", traps[t]
        }' "$1" "$2" "$3"
}

# The programme parts expected from the --breaks output: what lies between
# the breaks, as detect prints it.
parts_between() {  # --breaks output, recording
    awk -v rec="$2" '
        { split(substr($1, length(rec) + 2), r, ":")
          if (r[1] != from) print rec ":" from ":" r[1]
          from = r[2] }
        BEGIN { from = 0 }
        END { if (from != "end") print rec ":" from ":end" }' "$1"
}

video_frames() {
    ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of default=nw=1:nk=1 "$1" | head -1
}

for variant in default edges; do
    layout="$broadcast/$variant/broadcast.layout"
    if [ ! -s "$broadcast/$variant/broadcast.ts" ] || [ ! -s "$layout" ]; then
        check "$variant: the recording from the detect_recordings fixture" 1
        continue
    fi
    rec="$work/$variant.ts"
    cp "$broadcast/$variant/broadcast.ts" "$rec"

    "$cli" detect "$rec" > "$work/$variant.parts" 2> "$work/$variant.err"
    check_status $? "$variant: detect exits 0 ($(cat "$work/$variant.err"))"
    "$cli" detect --breaks "$rec" > "$work/$variant.breaks" 2> /dev/null
    check "$variant: detect --breaks exits 0" $?
    gop_frames "$rec" > "$work/$variant.gops"
    compare_breaks "$work/$variant.gops" "$layout" "$work/$variant.breaks" "$rec" > "$work/$variant.diff"
    [ ! -s "$work/$variant.diff" ]
    check_status $? "$variant: the breaks against the layout:
$(sed 's/^/    /' "$work/$variant.diff")
    found:
$(sed 's/^/    /' "$work/$variant.breaks")
    layout:
$(sed 's/^/    /' "$layout")"
    parts_between "$work/$variant.breaks" "$rec" | cmp -s - "$work/$variant.parts"
    check_status $? "$variant: the parts are what lies between the breaks:
$(sed 's/^/    /' "$work/$variant.parts")"

    # The one-liner keeps the programme: its frames are the recording's
    # less the breaks', within two GOPs at each edge inside the recording.
    out="$work/$variant.programme.ts"
    # shellcheck disable=SC2046
    "$cli" cut -o "$out" $("$cli" detect "$rec" 2> /dev/null) > /dev/null 2>&1
    check "$variant: cut -o OUT \$(detect FILE) exits 0" $?
    [ -z "$(ffprobe -v error -i "$out" 2>&1)" ]
    check "$variant: ffprobe reads the programme cleanly" $?
    got=$(video_frames "$out")
    read -r want slack < <(awk '
        function fr(s) { return int(s * 30000 / 1001 + 0.5) }
        $1 == "duration" { d = fr($2) }
        $1 == "break" { n++; s[n] = fr($2); e[n] = fr($3) }
        END {
            keep = d
            for (i = 1; i <= n; i++) { keep -= e[i] - s[i]; edges += (s[i] > 0) + (e[i] < d) }
            print keep, edges
        }' "$layout")
    slack=$((slack * 2 * gop))
    [ -n "$got" ] && [ $((got - want)) -le $slack ] && [ $((want - got)) -le $slack ]
    check_status $? "$variant: the programme holds $got frames, the layout $want (+-$slack)"
done

# Refused recordings: status 1, an error line, nothing on stdout (so the
# one-liner cuts nothing), and nothing left beside the recording but what
# the other commands write there (its GOP index).
refused() {  # description, recording, expected text in the error
    local dir="$work/refused/$1" name
    name=$(basename "$2")
    mkdir -p "$dir"
    cp "$2" "$dir/"
    "$cli" detect "$dir/$name" > "$dir.out" 2> "$dir.err"
    [ $? -eq 1 ]
    check_status $? "$1: detect exits 1"
    grep -q "^error: .*$3" "$dir.err"
    check_status $? "$1: the message names it ($(cat "$dir.err"))"
    [ ! -s "$dir.out" ]
    check "$1: nothing on stdout" $?
    [ -z "$(cd "$dir" && ls -A | grep -vxF -e "$name" -e "$name.txt")" ]
    check_status $? "$1: nothing written beside the recording ($(ls -A "$dir" | tr '\n' ' '))"
}
refused "no audio" "$data/two_video_pids.ts" "no audio stream"
refused "no video" "$data/no_video.ts" ""
# Opus in a transport stream (private data, stream type 0x06): audio of no
# codec of broadcast, which the detector cannot decode.
ffmpeg -hide_banner -loglevel error -nostdin -threads 1 \
    -f lavfi -i "testsrc2=s=352x240:r=30000/1001:d=20" -f lavfi -i "sine=f=440:r=48000:d=20" \
    -c:v mpeg2video -g 15 -bf 2 -c:a libopus -b:a 64k -f mpegts "$work/opus.ts"
check "an Opus recording made with ffmpeg" $?
refused "Opus audio" "$work/opus.ts" "cannot decode the audio"
# MP2 audio that the program table calls AAC (stream type 0x0F; the table's
# CRC made anew): libavcodec's AAC decoder gets nothing out of it.
ffmpeg -hide_banner -loglevel error -nostdin -threads 1 \
    -f lavfi -i "testsrc2=s=352x240:r=30000/1001:d=20" -f lavfi -i "sine=f=440:r=48000:d=20" \
    -c:v mpeg2video -g 15 -bf 2 -c:a mp2 -b:a 128k -f mpegts "$work/mp2.ts" &&
    python3 - "$work/mp2.ts" "$work/mp2_as_aac.ts" << 'PY'
import sys
def crc32(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
    return crc
d = bytearray(open(sys.argv[1], "rb").read())
pmt, patched = None, 0
for i in range(0, len(d) - 187, 188):
    if not d[i + 1] & 0x40:
        continue
    pid = ((d[i + 1] & 0x1F) << 8) | d[i + 2]
    off = i + 4 + (1 + d[i + 4] if d[i + 3] & 0x20 else 0)
    s = off + 1 + d[off]
    if pid == 0 and pmt is None:
        pmt = ((d[s + 10] & 0x1F) << 8) | d[s + 11]
    elif pid == pmt and d[s] == 2:
        end = s + 3 + (((d[s + 1] & 0x0F) << 8) | d[s + 2]) - 4
        e = s + 12 + (((d[s + 10] & 0x0F) << 8) | d[s + 11])
        while e < end and d[e] not in (3, 4):
            e += 5 + (((d[e + 3] & 0x0F) << 8) | d[e + 4])
        if e < end:
            d[e] = 0x0F
            d[end:end + 4] = crc32(d[s:end]).to_bytes(4, "big")
            patched += 1
open(sys.argv[2], "wb").write(d)
sys.exit(0 if patched else 1)
PY
check "an MP2 recording declared as AAC" $?
refused "MP2 declared as AAC" "$work/mp2_as_aac.ts" "cannot decode the audio"
if [ -s "$broadcast/short/broadcast.ts" ]; then
    refused "10 s recording" "$broadcast/short/broadcast.ts" "shorter than one spot"
else
    check "short: the recording from the detect_recordings fixture" 1
fi

report detect
