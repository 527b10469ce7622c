#!/usr/bin/env bash
# Makes bench/work/big.ts (at least 400 MB) by repeating the HD test recording.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p bench/work
big=bench/work/big.ts
src=tests/data/hd_1080i_aac.ts
want=$((400 * 1000 * 1000))
if [ ! -s "$big" ] || [ "$(stat -L -c %s "$big")" -lt "$want" ]; then
    size=$(stat -c %s "$src")
    reps=$(( (want + size - 1) / size ))
    : > "$big"
    for _ in $(seq "$reps"); do cat "$src"; done >> "$big"
fi
echo "$big"
