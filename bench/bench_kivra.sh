#!/usr/bin/env bash
# Decodes the same HD I picture with Kivra and with libmpeg2 in one run, and
# times TsRead to the draw callback; prints medians and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVREL_BENCH=ON -DTAVREL_TESTS=OFF >/dev/null
ninja -C build-bench -j"$JOBS" bench_kivra >/dev/null
mkdir -p bench/work
build-bench/bench/bench_kivra --benchmark_repetitions="${REPS:-10}" --benchmark_report_aggregates_only=true \
    --benchmark_out=bench/work/kivra.json --benchmark_out_format=json > /dev/null
python3 - <<'PY'
import json
runs = json.load(open("bench/work/kivra.json"))["benchmarks"]
med = {r["run_name"]: r["real_time"] for r in runs if r.get("aggregate_name") == "median"}
for name, t in sorted(med.items()):
    print(f"{name:45s} median {t:7.2f} ms")
k = med.get("BM_KivraDecodeIPictureToRgb/simd:1")
l = med.get("BM_Libmpeg2DecodeIPictureToRgb")
if k and l:
    print(f"Kivra / libmpeg2 = {k / l:.2f}x (goal <= 1.0)")
PY
