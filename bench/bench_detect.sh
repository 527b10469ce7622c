#!/usr/bin/env bash
# The break detector against the silence-and-black pass that cutters run
# through ffmpeg for their lists,
#   ffmpeg -i FILE -af silencedetect=n=-35dB:d=0.1 -vf blackdetect -f null -
# in one hyperfine run with a warm page cache, on the broadcast-like
# recordings of tests/data/tools/make_broadcast.sh: the default one
# (720x480i, 4.2 minutes) and the same layout at 1440x1080i, made here in
# bench/work/broadcast/ (kept for the next run). tavrelcut-cli detect is timed
# with the GOP index present and, separately, without it (removed before
# each run, so the scan that writes it is timed too). Prints the means, the
# ratio detect/ffmpeg (goal <= 0.2) and the machine's load before and after:
# take the figures when it is below 0.5.
# CLI=path times that tavrelcut-cli instead of the release build's; RUNS:
# runs of each command (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages
cli=${CLI:-$(build_release_cli)}
work=$PWD/bench/work
runs=${RUNS:-5}
mkdir -p "$work/broadcast"

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "load before: $(load)"
for variant in default hd; do
    dir=$work/broadcast/$variant
    t0=$(date +%s.%N)
    tests/data/tools/make_broadcast.sh "$dir" --variant "$variant"
    t1=$(date +%s.%N)
    echo "$variant: recording ready in $(python3 -c "print(f'{$t1 - $t0:.1f}')") s"
    rec=$dir/broadcast.ts
    cat "$rec" > /dev/null  # warm the page cache
    rm -f "$rec.txt"          # an index of an earlier make of the recording
    "$cli" gops "$rec" > /dev/null
    "$cli" detect --breaks "$rec" > "$work/detect_$variant.breaks"
    hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/detect_$variant.json" \
        --prepare true --prepare true --prepare "rm -f $rec.txt" \
        -n ffmpeg "ffmpeg -hide_banner -nostdin -i $rec -af silencedetect=n=-35dB:d=0.1 -vf blackdetect -f null -" \
        -n detect "$cli detect $rec" \
        -n "detect, no index" "$cli detect $rec" > "$work/detect_$variant.txt"
    "$cli" gops --yes "$rec" > /dev/null
done
echo "load after: $(load)"

python3 - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]
for variant, label in (("default", "720x480i"), ("hd", "1440x1080i")):
    rec = f"{work}/broadcast/{variant}/broadcast.ts"
    dur = float(open(f"{work}/broadcast/{variant}/broadcast.layout").read().split("duration ")[1].split()[0])
    r = {x["command"]: x for x in json.load(open(f"{work}/detect_{variant}.json"))["results"]}
    ff = r["ffmpeg"]["mean"]
    print(f"{label}: {dur:.0f} s, {os.path.getsize(rec) / 1e6:.0f} MB; ffmpeg silence+black pass mean {ff:.3f} s")
    for name in ("detect", "detect, no index"):
        m = r[name]["mean"]
        print(f"  {name:18s} mean {m:.3f} s +- {r[name]['stddev']:.3f}   ratio {m / ff:.3f} (goal <= 0.2)")
    breaks = open(f"{work}/detect_{variant}.breaks").read().strip().splitlines()
    print("  breaks: " + "; ".join(b.rsplit("/", 1)[-1] for b in breaks))
PY
