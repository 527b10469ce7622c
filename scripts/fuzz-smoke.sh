#!/usr/bin/env bash
# Runs every fuzz target in BUILD for a few seconds, seeded from the test data.
# The decoder's targets (fuzz_kivra_*) run longer (KIVRA_FUZZ_SECONDS, default
# 60) on whole pictures: seeded with the decoder's conformance streams, and
# with recordings joined end to end, whose sequences change size,
# progressive_sequence or chroma format under the decoder.
set -euo pipefail
build=$1
seconds=${2:-5}
kivra_seconds=${KIVRA_FUZZ_SECONDS:-60}
cd "$(dirname "$0")/.."
seeds=$(mktemp -d)
kivra_seeds=$(mktemp -d)
audio_seeds=$(mktemp -d)
trap 'rm -rf "$seeds" "$kivra_seeds" "$audio_seeds"' EXIT
# Small seeds: the first 4 KiB of every test recording.
for f in tests/data/*.ts tests/data/random_bytes.bin; do
    head -c 4096 "$f" > "$seeds/$(basename "$f").head"
done
fuzz/kivra-smoke.sh --seeds "$kivra_seeds"
# The audio signal's target: PAT, PMT and audio packets of each recording.
fuzz/audio-seeds.sh "$audio_seeds"
status=0
count=0
for target in $(find "$build/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort); do
    corpus=$(mktemp -d)
    name=$(basename "$target")
    time=$seconds
    max_len=8192
    seed_dir=$seeds
    case $name in
        fuzz_kivra_stream) time=$kivra_seconds max_len=100000 seed_dir=$kivra_seeds/stream ;;
        fuzz_kivra_es) time=$kivra_seconds max_len=100000 seed_dir=$kivra_seeds/es ;;
        fuzz_audio_levels) max_len=16384 seed_dir=$audio_seeds ;;
    esac
    if "$target" -max_total_time="$time" -max_len="$max_len" -rss_limit_mb=2048 -print_final_stats=0 \
        "$corpus" "$seed_dir" > "$corpus.log" 2>&1; then
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
