#!/usr/bin/env bash
# Runs every fuzz target in BUILD for a few seconds, seeded from the test data.
set -euo pipefail
build=$1
seconds=${2:-5}
cd "$(dirname "$0")/.."
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
# Small seeds: the first 4 KiB of every test recording.
for f in tests/data/*.ts tests/data/random_bytes.bin; do
    head -c 4096 "$f" > "$seeds/$(basename "$f").head"
done
status=0
count=0
for target in $(find "$build/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort); do
    corpus=$(mktemp -d)
    name=$(basename "$target")
    if "$target" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 -print_final_stats=0 \
        "$corpus" "$seeds" > "$corpus.log" 2>&1; then
        echo "fuzz $name: ok"
        count=$((count + 1))
    else
        echo "fuzz $name: FAILED"
        tail -40 "$corpus.log"
        status=1
    fi
    rm -rf "$corpus" "$corpus.log"
done
[ "$count" -gt 0 ] || { echo "no fuzz targets found in $build/fuzz"; exit 1; }
exit $status
