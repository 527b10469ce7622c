#!/usr/bin/env bash
# make_broadcast.sh OUT_DIR [--variant NAME] [--force]
# make_broadcast.sh DIR --variant tests [--force]
#
# Writes OUT_DIR/broadcast.ts, a recording in the shape of a broadcast, and
# OUT_DIR/broadcast.layout, where its commercial breaks are:
#   break START END   one line per break, seconds from the first video frame
#   spots L...        after each break line: the length of each of its spots
#                     (as much of it as the recording holds)
#   trap T            a programme pause that falls on a programme scene cut
#   duration D        the length of the video
# (all times are whole frames of 1001/30000 s, printed to the microsecond).
#
# Programme parts: scenes of different lavfi sources cut hard against each
# other, a station logo (a bright 60x30 box with a dark box inside, top
# right) on every programme picture, and speech-like audio: a voiced tone
# with a syllable rhythm, and pauses of 0.25-0.55 s in a sentence rhythm
# inside the scenes (none within 1.2 s of a plain scene cut). A trap scene
# cut carries a pause of 0.4 s. Breaks: runs of 15, 30 and 60 s spots
# (450, 900 and 1800 frames) cut hard, each with its own picture and a loud
# chord that never stops, no logo, and 0.08-0.15 s of silence at either end
# of each spot, so every spot edge sits in 0.18-0.3 s of silence.
#
# Variants:
#   default  programme, break 15+30+15, programme (traps at 20 s after the
#            break and on the first cut after it), break 30+15+15+30,
#            programme (a trap 15 s after the break), about 4.2 minutes
#   edges    starts in the last 9 s of a 30 s spot and ends 11 s into the
#            second spot of a break; a 15+60+15 break between, about 3.3 min
#   short    10 s of programme (shorter than one spot)
#   hd       the default layout at 1440x1080 (for the benchmark)
#   tests    default, edges and short into DIR/default, DIR/edges and
#            DIR/short, two at a time (the tests' fixture)
#
# The video segments and the audio are built as separate streams (each
# segment trimmed to its exact frame and sample count and concatenated),
# encoded on one thread with bit-exact flags, then muxed into a 188-byte
# transport stream, so the edges are exact to the frame and the output is
# the same on every run. MPEG-2 720x480 (1440x1080 for hd) interlaced top
# field first, 16:9, 29.97, -g 15 -bf 2 with fixed GOPs; AAC (MP2 in the
# edges variant) 48 kHz stereo.
#
# The result is cached: when OUT_DIR holds both files and a stamp of this
# script, the variant and the ffmpeg version, nothing is made again
# (--force makes it anyway). Exit status 77 when ffmpeg is missing, 1 under
# CI=true.
set -euo pipefail

usage() {
    echo "usage: $0 OUT_DIR [--variant default|edges|short|hd|tests] [--force]" >&2
    exit 2
}

out=""
variant=default
force=0
while [ $# -gt 0 ]; do
    case "$1" in
        --variant)
            [ $# -ge 2 ] || usage
            variant=$2
            shift 2
            ;;
        --force)
            force=1
            shift
            ;;
        -*) usage ;;
        *)
            [ -z "$out" ] || usage
            out=$1
            shift
            ;;
    esac
done
[ -n "$out" ] || usage
case "$variant" in default | edges | short | hd | tests) ;; *) usage ;; esac

if ! command -v ffmpeg > /dev/null; then
    if [ "${CI:-}" = true ]; then
        echo "error: ffmpeg not found (required when CI=true; scripts/deps.sh installs it)" >&2
        exit 1
    fi
    echo "skipped: ffmpeg not found" >&2
    exit 77
fi

if [ "$variant" = tests ]; then
    again=()
    [ "$force" = 1 ] && again=(--force)
    "$0" "$out/default" "${again[@]}" &
    first=$!
    status=0
    "$0" "$out/edges" --variant edges "${again[@]}" || status=$?
    "$0" "$out/short" --variant short "${again[@]}" || status=$?
    wait "$first" || status=$?
    exit "$status"
fi

mkdir -p "$out"
stamp="$(sha256sum < "$0" | cut -c1-16) $variant $(ffmpeg -version | head -1)"
if [ "$force" = 0 ] && [ -s "$out/broadcast.ts" ] && [ -s "$out/broadcast.layout" ] &&
    [ "$(cat "$out/broadcast.stamp" 2> /dev/null)" = "$stamp" ]; then
    exit 0
fi
rm -f "$out/broadcast.stamp"

work=$(mktemp -d "$out/.make.XXXXXX")
trap 'rm -rf "$work"' EXIT

W=720
H=480
vbits=(-b:v 4M -maxrate 9M -bufsize 1835k)
acodec=(-c:a aac -b:a 128k)
if [ "$variant" = hd ]; then
    W=1440
    H=1080
    vbits=(-b:v 12M -maxrate 30M -bufsize 9781k)
fi
[ "$variant" = edges ] && acodec=(-c:a mp2 -b:a 192k)
R=30000/1001
# The logo: a bright box of about W/12 x H/16 (60x30 at 720x480), a dark box
# inside it.
lw=$((W / 12))
lh=$((H / 16))
lx=$((W - lw - W / 24))
ly=$((H / 20))
logo="drawbox=x=$lx:y=$ly:w=$lw:h=$lh:color=0xF0F0F0:t=fill"
logo+=",drawbox=x=$((lx + lw / 6)):y=$((ly + lh / 4)):w=$((lw * 2 / 3)):h=$((lh / 2)):color=0x202020:t=fill"

# Pictures by name: programme scenes (p_*) and spots (s_*). Sources with
# random content get fixed seeds. The costly sources are made at a quarter
# of the size and scaled up; colours are changed on YUV, which is cheap.
q4="$((W / 4))x$((H / 4))"
up="format=yuv420p,scale=$W:$H:flags=fast_bilinear"
block="format=yuv420p,scale=$W:$H:flags=neighbor"
picture() {
    case "$1" in
        p_testsrc2) echo "testsrc2=s=${W}x$H:r=$R" ;;
        p_mandel) echo "mandelbrot=s=$q4:r=$R:maxiter=64,$up" ;;
        p_life) echo "life=s=$q4:r=$R:seed=7:mold=10:ratio=0.1:life_color=#30D030:death_color=#C83232,$block" ;;
        p_cells) echo "cellauto=s=$q4:r=$R:rule=110:random_seed=3,$block,lutyuv=u=100:v=150" ;;
        p_grad) echo "gradients=s=$q4:r=$R:seed=5:speed=0.02:nb_colors=3,$up" ;;
        p_sierp) echo "sierpinski=s=$q4:r=$R:seed=2,$up" ;;
        p_scroll) echo "rgbtestsrc=s=${W}x$H:r=$R,format=yuv420p,scroll=h=0.003:v=0.002" ;;
        p_hue) echo "testsrc2=s=${W}x$H:r=$R,lutyuv=u=255-val:v=255-val" ;;
        p_cells30) echo "cellauto=s=$q4:r=$R:rule=30:random_seed=11,$block,lutyuv=y=255-val:u=170:v=110" ;;
        s_bars) echo "smptebars=s=${W}x$H:r=$R,format=yuv420p,scroll=h=0.004" ;;
        s_red) echo "color=c=0xB01818:s=${W}x$H:r=$R,drawbox=x='mod(t*$((W / 3)),$((W - H / 4)))':y=$((H / 3)):w=$((H / 4)):h=$((H / 4)):color=white:t=fill" ;;
        s_grad) echo "gradients=s=$q4:r=$R:seed=9:c0=yellow:c1=blue:c2=red:nb_colors=3:type=spiral:speed=0.05,$up" ;;
        s_hdbars) echo "smptehdbars=s=${W}x$H:r=$R,format=yuv420p,scroll=v=0.01" ;;
        s_neg) echo "testsrc=s=${W}x$H:r=$R,format=yuv420p,negate" ;;
        s_blue) echo "color=c=0x1830B0:s=${W}x$H:r=$R,drawbox=x=$((W / 3)):y='mod(t*$((H / 4)),$((H * 3 / 4)))':w=$((W / 3)):h=$((H / 4)):color=yellow:t=fill" ;;
        s_tri) echo "sierpinski=s=$q4:r=$R:seed=4:type=triangle,$up,lutyuv=u=200:v=90" ;;
        s_mandel) echo "mandelbrot=s=$q4:r=$R:maxiter=64:inner=period:start_x=-0.75:start_y=0.1,$up,lutyuv=u=255-val" ;;
        s_rgb) echo "rgbtestsrc=s=${W}x$H:r=$R,format=yuv420p,lutyuv=y=val/2+64:u=255-val,scroll=v=0.005" ;;
        s_green) echo "color=c=0x10A040:s=${W}x$H:r=$R,drawbox=x='mod(t*$((W / 2)),$((W / 2)))':y='mod(t*$((H / 3)),$((H / 2)))':w=$((W / 2)):h=$((H / 2)):color=0xE0E0E0:t=fill" ;;
        *)
            echo "error: no picture $1" >&2
            exit 1
            ;;
    esac
}

# The segments, in order. Frame counts are multiples of 5, so every segment
# holds a whole number of audio samples (5 frames = 8008 samples).
vchain=""
achain=""
nseg=0
frame=0       # frames so far
layout=""     # the layout file's lines
break_at=-1   # first frame of the break being built, -1 outside a break
spots=""      # the lengths of its spots
samples() { echo $(($1 * 8008 / 5)); }
secs() { awk -v f="$1" 'BEGIN { printf "%.6f", f * 1001 / 30000 }'; }

add_segment() {  # frames, video chain, audio expression
    local n=$1
    vchain+="$2,trim=end_frame=$n,setpts=PTS-STARTPTS,format=yuv420p,setsar=1[v$nseg];"$'\n'
    achain+="aevalsrc=exprs='$3':s=48000:c=mono,atrim=end_sample=$(samples "$n")[a$nseg];"$'\n'
    nseg=$((nseg + 1))
    frame=$((frame + n))
}

# A programme scene: frames, picture, then the speech: sentence period P and
# pause Q (s), phase, syllable rate (Hz), pitch (Hz), silence at the start
# and at the end (s; 0.1 at a break, 0.2 on each side of a trap cut).
scene() {
    end_break
    local n=$1 pic=$2 P=$3 Q=$4 ph=$5 syl=$6 f=$7 a=$8 b=$9
    local L
    L=$(secs "$n")
    local gate="if(lt(t,$a)+gte(t,$L-$b),0,if(lt(t,1.2)+gt(t,$L-1.2),1,lt(mod(t+$ph,$P),$P-$Q)))"
    local voice="0.2*sin(2*PI*$f*t+4*sin(2*PI*0.7*t))+0.08*sin(4*PI*$f*t)+0.05*sin(6*PI*$f*t)+0.03*(random(0)-0.5)"
    add_segment "$n" "$(picture "$pic"),$logo" "($voice)*pow(sin(PI*$syl*t),2)*$gate"
}
# A trap: the programme pause on the scene cut at this point.
trap_here() { layout+="trap $(secs "$frame")"$'\n'; }

# A spot: frames shown, picture, chord (three pitches), the spot's full
# length and the frame it is shown from (a spot cut off by the recording's
# start or end), silence at its start and end (s).
spot() {
    [ "$break_at" -ge 0 ] || break_at=$frame
    local n=$1 pic=$2 f1=$3 f2=$4 f3=$5 full=$6 from=$7 a=$8 b=$9
    local L off
    L=$(secs "$full")
    off=$(secs "$from")
    local u="(t+$off)"
    local chord="0.3*sin(2*PI*$f1*$u)+0.22*sin(2*PI*$f2*$u)+0.15*sin(2*PI*$f3*$u)"
    spots+=" $(secs "$n")"
    add_segment "$n" "$(picture "$pic")" "($chord)*(0.75+0.25*sin(2*PI*2*$u))*between($u,$a,$L-$b)"
}
end_break() {
    if [ "$break_at" -ge 0 ]; then
        layout+="break $(secs "$break_at") $(secs "$frame")"$'\n'"spots$spots"$'\n'
        break_at=-1
        spots=""
    fi
}

case "$variant" in
    default | hd)
        scene 330 p_testsrc2 2.9 0.35 0.3 4.5 140 0.1 0
        scene 300 p_mandel 3.4 0.45 1.1 4.1 150 0 0
        scene 240 p_life 2.3 0.25 0.7 4.8 135 0 0
        scene 180 p_cells 4.1 0.55 2.0 4.3 145 0 0.1
        spot 450 s_bars 330 415 495 450 0 0.1 0.1
        spot 900 s_red 262 330 392 900 0 0.12 0.08
        spot 450 s_grad 440 554 659 450 0 0.15 0.15
        scene 600 p_grad 3.1 0.3 0.5 4.4 150 0.1 0.2
        trap_here
        scene 420 p_sierp 2.7 0.5 1.4 4.6 140 0.2 0.2
        trap_here
        scene 180 p_scroll 3.6 0.4 0.2 4.2 155 0.2 0.1
        spot 900 s_hdbars 294 370 440 900 0 0.1 0.1
        spot 450 s_neg 349 440 523 450 0 0.08 0.13
        spot 450 s_blue 392 494 587 450 0 0.1 0.12
        spot 900 s_tri 311 392 466 900 0 0.09 0.1
        scene 450 p_hue 3.3 0.3 0.9 4.7 145 0.1 0.2
        trap_here
        scene 310 p_cells30 2.5 0.45 0.4 4.0 150 0.2 0
        ;;
    edges)
        spot 270 s_mandel 370 466 554 900 630 0.1 0.1
        scene 420 p_life 2.6 0.3 0.2 4.4 140 0.1 0
        scene 385 p_testsrc2 3.2 0.5 1.3 4.2 150 0 0
        scene 300 p_grad 2.9 0.35 0.6 4.7 135 0 0.1
        spot 450 s_rgb 330 415 495 450 0 0.1 0.1
        spot 1800 s_green 262 330 392 1800 0 0.12 0.1
        spot 450 s_bars 440 554 659 450 0 0.1 0.15
        scene 360 p_cells 3.5 0.4 0.8 4.5 145 0.1 0.2
        trap_here
        scene 405 p_hue 2.4 0.25 0.1 4.1 150 0.2 0
        scene 250 p_sierp 3.0 0.55 1.9 4.6 140 0 0.1
        spot 450 s_red 349 440 523 450 0 0.1 0.1
        spot 330 s_blue 294 370 440 900 0 0.1 0.1
        ;;
    short)
        scene 150 p_testsrc2 2.2 0.3 0.4 4.5 140 0 0
        scene 150 p_mandel 2.6 0.4 1.0 4.2 150 0 0
        ;;
esac
end_break
layout+="duration $(secs "$frame")"$'\n'

inputs=""
for ((i = 0; i < nseg; i++)); do inputs+="[v$i]"; done
printf '%s%sconcat=n=%d:v=1:a=0,setfield=tff,setdar=16/9[v]\n' "$vchain" "$inputs" "$nseg" > "$work/video.graph"
inputs=""
for ((i = 0; i < nseg; i++)); do inputs+="[a$i]"; done
printf '%s%sconcat=n=%d:v=0:a=1,pan=stereo|c0=c0|c1=c0[a]\n' "$achain" "$inputs" "$nseg" > "$work/audio.graph"

FF=(ffmpeg -hide_banner -loglevel error -nostdin -y -threads 1 -filter_threads 1)
# The audio is made beside the video (the machine has two cores).
"${FF[@]}" -filter_complex_script "$work/audio.graph" -map '[a]' "${acodec[@]}" \
    -fflags +bitexact -flags +bitexact -f nut "$work/audio.nut" &
audio_pid=$!
"${FF[@]}" -filter_complex_script "$work/video.graph" -map '[v]' \
    -c:v mpeg2video "${vbits[@]}" -g 15 -bf 2 -sc_threshold 1000000000 \
    -flags +ilme+ildct+bitexact -top 1 -fflags +bitexact -f nut "$work/video.nut"
wait "$audio_pid"
# The transport stream muxer starts both streams at the first video DTS, a
# frame before the first picture is shown (B frames): the audio is moved by
# that frame so that its first sample plays with the first picture, less
# the codec's delay (1024 samples for AAC, 481 for MP2's filter bank).
lag=0.012033
[ "$variant" = edges ] && lag=0.023346
"${FF[@]}" -i "$work/video.nut" -itsoffset "$lag" -i "$work/audio.nut" -map 0:v -map 1:a -c copy \
    -fflags +bitexact -flags +bitexact -f mpegts "$work/broadcast.ts"

printf '%s' "$layout" > "$work/broadcast.layout"
mv "$work/broadcast.ts" "$out/broadcast.ts"
mv "$work/broadcast.layout" "$out/broadcast.layout"
echo "$stamp" > "$out/broadcast.stamp"
