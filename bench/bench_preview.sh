#!/usr/bin/env bash
# Kivra against libmpeg2, side by side in one run, on a 1440x1080i and a
# 1920x1080i recording made here with ffmpeg (bench/work/preview_*.ts):
#   1. the preview: TsRead until the draw callback against libmpeg2 reading
#      from the same byte position (one decoder, mpeg2_reset(dec, 0) per GOP)
#      with mpeg2convert_rgb24, over 12 GOP starts (goal <= 0.6);
#   2. full decoding on one thread: kivra-decode --null against
#      mpeg2dec -t PID -o null, pictures per second (goal >= 1.2);
#   3. the reduced I picture against the full I picture decode of the same
#      GOP, both read from the file (goal <= 0.2): the reader as the program
#      runs it (two threads on two cores) and on one thread, against the
#      full decode on one thread; each round after one untimed read of its
#      kind, as in a scan of GOP after GOP (the rounds of the reader without
#      it are printed as well).
# Prints the machine's load with the figures: take them when it is below 0.5.
# BUILD_DIR: a configured build tree with the tests (default build-bench,
# configured here as Release); REPS: rounds of the preview and reduced
# figures, RUNS: runs of each full decode, the two decoders in turn
# (medians).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages mpeg2dec
BUILD_DIR=${BUILD_DIR:-build-bench}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVREL_TESTS=ON -DTAVREL_GUI=OFF >/dev/null
fi
ninja -C "$BUILD_DIR" -j"$JOBS" kivra-timing kivra-decode >/dev/null
timing="$BUILD_DIR/tests/kivra/kivra-timing"
decode="$BUILD_DIR/tests/kivra/kivra-decode"
REPS=${REPS:-7}
RUNS=${RUNS:-11}

mkdir -p bench/work
make_recording() {  # SIZE OUT: 7 s of interlaced MPEG-2 at 15 Mb/s with AAC, video on PID 0x100
    [ -s "$2" ] && return 0
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc2=size=$1:rate=30000/1001,noise=alls=6:allf=t" \
        -f lavfi -i "sine=frequency=1000:sample_rate=48000" -t 7 \
        -c:v mpeg2video -b:v 15M -maxrate 20M -bufsize 9781248 -g 15 -bf 2 -flags +ilme+ildct -top 1 \
        -aspect 16:9 -pix_fmt yuv420p -c:a aac -b:a 128k -f mpegts -mpegts_start_pid 0x100 "$2.tmp"
    mv "$2.tmp" "$2"
}
make_recording 1440x1080 bench/work/preview_1440.ts
make_recording 1920x1080 bench/work/preview_1920.ts

# Median wall times in seconds of RUNS runs of each of two commands, run in
# turn (one of each, then the next pair), so that a change in the machine's
# state meanwhile weighs on both alike.
median_times() {  # "CMD A" "CMD B": prints "A B"
    python3 - "$RUNS" "$1" "$2" <<'PY'
import shlex, statistics, subprocess, sys, time
runs, cmds = int(sys.argv[1]), sys.argv[2:]
times = [[], []]
for _ in range(runs):
    for i, c in enumerate(cmds):
        t0 = time.perf_counter()
        subprocess.run(shlex.split(c), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times[i].append(time.perf_counter() - t0)
print(" ".join(f"{statistics.median(t):.3f}" for t in times))
PY
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
for size in 1440 1920; do
    f=bench/work/preview_$size.ts
    "$timing" preview "$f" --reps "$REPS"
done
f=bench/work/preview_1920.ts
pictures=$("$decode" --null "$f" 2>&1 | sed -n 's/.* \([0-9]*\) pictures$/\1/p')
frames=$(mpeg2dec -t 0x100 -o null "$f" 2>&1 | sed -n 's/^\([0-9]*\) frames decoded.*/\1/p')
read -r k l < <(median_times "$decode --null $f" "mpeg2dec -t 0x100 -o null $f")
# Both decode the recording's pictures (mpeg2dec parses and decodes all of
# them), but mpeg2dec counts only the frames it hands to its output, without
# the last two it still holds at the end: its rate is taken over the
# recording's pictures too.
echo "full decode 1920x1080i: Kivra $pictures pictures in $k s, mpeg2dec $pictures pictures ($frames frames out) in $l s," \
    "ratio $(python3 -c "print(f'{$l / $k:.3f}')") (pictures per second)"
for size in 1440 1920; do
    "$timing" reduced "bench/work/preview_$size.ts" --reps "$REPS"
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
