#!/usr/bin/env bash
# Times the GOP index of a >= 400 MB recording against cat and ffprobe's
# keyframe listing, in the same run, with a warm page cache.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages
cli=$(build_release_cli)
big=$(bench/make-big.sh)
runs=${RUNS:-5}
cat "$big" > /dev/null  # warm the page cache
hyperfine -N --warmup 1 --runs "$runs" --export-json bench/work/index.json \
    -n index "$cli index $big" \
    -n cat "cat $big" \
    -n ffprobe "ffprobe -v error -select_streams v -show_entries packet=pos,flags -of csv $big" \
    > bench/work/index.txt
python3 - "$big" <<'PY'
import json, os, sys
r = {x["command"]: x for x in json.load(open("bench/work/index.json"))["results"]}
mb = os.path.getsize(sys.argv[1]) / 1e6
med = {k: v["median"] for k, v in r.items()}
for k in ("index", "cat", "ffprobe"):
    print(f"{k:8s} median {med[k]*1000:9.1f} ms  {mb/med[k]:8.1f} MB/s")
print(f"ffprobe / index = {med['ffprobe']/med['index']:.1f}x (goal >= 5)")
print(f"index throughput / cat throughput = {med['cat']/med['index']:.2f} (goal >= 0.5)")
PY
