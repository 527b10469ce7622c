#!/usr/bin/env bash
# The main job: installs what is missing, builds a release build, makes a
# sample recording on first run and runs the editing job on it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages

cli=$(build_release_cli)

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
