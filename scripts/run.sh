#!/usr/bin/env bash
# The main job: installs what is missing, builds a release build (the
# command-line tool and the desktop program), makes a sample recording on
# first run, and then
#   - with a display ($DISPLAY set): opens the sample in tavrelcut;
#   - without one: runs the editing job on it with tavrelcut-cli and writes
#     sample/tavrelcut.png, a screenshot of tavrelcut showing the sample on
#     a virtual screen (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages

cli=$(build_release_cli)
app=$(build_release_gui)

mkdir -p sample
sample=sample/sample.ts
if [ ! -s "$sample" ]; then
    echo "making $sample (6 s of 1440x1080 interlaced MPEG-2 with AAC)"
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc2=size=1440x1080:rate=30000/1001:duration=6" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=6" \
        -vf "setdar=16/9" -c:v mpeg2video -b:v 8M -maxrate 12M -bufsize 4M -g 15 -bf 2 \
        -flags +ilme+ildct -top 1 -pix_fmt yuv420p \
        -c:a aac -b:a 192k -f mpegts "$sample"
fi

if [ -n "${DISPLAY:-}" ]; then
    echo "== tavrelcut $sample"
    exec "$app" "$sample"
fi

echo "== index"
"$cli" index "$sample"
echo "== GOP list"
"$cli" gops --no "$sample" | awk -F'\t' '
    { n++; if ($3 !~ /LAST/) { gops++; last = $0 } else packets = $6 }
    NR <= 3 { print }
    END { if (n > 3) print "..."; print last; printf "%d GOPs, %d packets\n", gops, packets }'

echo "== cut (GOPs 1-3 and 7-9 into sample/cut.ts)"
"$cli" cut --yes -o sample/cut.ts "$sample:1:4" "$sample:7:10"
ffprobe -v error -show_entries format=format_name,duration,size -of default=nw=1 sample/cut.ts

echo "== preview (first I picture of GOP 1 into sample/preview.png)"
"$cli" preview "$sample" --gop 1 --width 960 -o sample/preview.png
ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 sample/preview.png

echo "== tavrelcut on a virtual screen (screenshot in sample/tavrelcut.png)"
shot=$PWD/sample/tavrelcut.png
rm -f "$shot"
xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" env -u QT_QPA_PLATFORM bash -s "$app" "$PWD/$sample" "$shot" <<'SH'
set -u
app=$1 sample=$2 shot=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Settings in a folder of its own, so the screenshot always shows the
# window as it opens the first time.
# An empty input list, so no first-start message box covers the window.
: > "$tmp/qxinput.txt"
"$app" --ini "$tmp/tavrelcut.ini" "$sample" > "$tmp/log" 2>&1 &
pid=$!
if ! timeout 20 xdotool search --sync --onlyvisible --name '^Tavrel Cutter$' > /dev/null 2>&1; then
    echo "tavrelcut did not show its window:"; cat "$tmp/log"; kill "$pid"; exit 1
fi
# The picture is drawn once the empty picture area's light colour covers
# only the part below the picture (270 x 202 when empty).
drawn=0
for _ in $(seq 50); do
    import -window root -depth 8 "ppm:$tmp/screen.ppm" 2> /dev/null
    light=$(convert "$tmp/screen.ppm" -fill black +opaque "rgb(240,245,255)" -fill white -opaque "rgb(240,245,255)" \
        -format "%[fx:round(mean*w*h)]" info: 2> /dev/null || echo 0)
    if [ "$light" -gt 0 ] && [ "$light" -lt 40000 ]; then drawn=1; break; fi
    sleep 0.2
done
sleep 0.3
import -window root "$shot"
xdotool key Escape
for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
kill "$pid" 2> /dev/null
wait "$pid"
status=$?
[ "$drawn" = 1 ] || { echo "the picture was not drawn:"; cat "$tmp/log"; exit 1; }
[ "$status" = 0 ] || { echo "tavrelcut ended with status $status:"; cat "$tmp/log"; exit 1; }
SH
identify -format "%wx%h %m\n" "$shot"
