#!/usr/bin/env bash
# Times a cut of three clips keeping about 90 % of a >= 400 MB recording
# against cp of the same file, in the same run, with a warm page cache, and
# the same cut with --clean-joins against it without them.
# Outputs are removed before every run so both write new files.
# CLI=path times that tavrelcut-cli instead of the release build's.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages
cli=${CLI:-$(build_release_cli)}
big=$PWD/$(bench/make-big.sh)
work=$PWD/bench/work
runs=${RUNS:-10}

# The GOP list (indexed once, outside the timing) and three clips:
# GOPs [0, 30 %), [35 %, 65 %), [70 %, end).
"$cli" gops --no "$big" > "$work/cut_gops.txt"
last=$(tail -1 "$work/cut_gops.txt" | cut -f1)
c1=$((last * 30 / 100)); c2=$((last * 35 / 100)); c3=$((last * 65 / 100)); c4=$((last * 70 / 100))
clips="$big:0:$c1 $big:$c2:$c3 $big:$c4:end"
cat "$big" > /dev/null  # warm the page cache

run_cut() { hyperfine -N --warmup 2 --runs "$runs" --prepare "rm -f $work/cut_out.ts $work/cp_out.ts" \
    --export-json "$work/cut_$1.json" \
    -n cut "$cli cut $2 -o $work/cut_out.ts $clips" \
    -n cp "cp $big $work/cp_out.ts" > "$work/cut_$1.txt"; }
run_cut plain ""
run_cut tc "--rewrite-tc --add-acp"
hyperfine -N --warmup 2 --runs "$runs" --prepare "rm -f $work/cut_out.ts" --export-json "$work/cut_clean.json" \
    -n cut "$cli cut -o $work/cut_out.ts $clips" \
    -n clean "$cli cut --clean-joins -o $work/cut_out.ts $clips" > "$work/cut_clean.txt"
rm -f "$work/cut_out.ts" "$work/cp_out.ts"

python3 - "$big" "$work" <<'PY'
import json, os, sys
big, work = sys.argv[1], sys.argv[2]
size = os.path.getsize(big)
for tag, label in (("plain", "cut"), ("tc", "cut --rewrite-tc --add-acp")):
    r = {x["command"]: x for x in json.load(open(f"{work}/cut_{tag}.json"))["results"]}
    cut, cp = r["cut"]["median"], r["cp"]["median"]
    print(f"{label:28s} median {cut*1000:8.1f} ms   cp median {cp*1000:8.1f} ms   "
          f"ratio {cut/cp:.2f} (goal <= 1.5)")
r = {x["command"]: x for x in json.load(open(f"{work}/cut_clean.json"))["results"]}
cut, clean = r["cut"]["median"], r["clean"]["median"]
print(f"{'cut --clean-joins':28s} median {clean*1000:8.1f} ms   cut median {cut*1000:8.1f} ms   "
      f"ratio {clean/cut:.2f} (goal <= 1.2)")
print(f"recording {size/1e6:.0f} MB")
PY
