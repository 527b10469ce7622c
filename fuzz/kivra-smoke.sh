#!/bin/sh
# Runs the Kivra fuzz targets of a build (plain drivers or libFuzzer) over
# mutated copies of the conformance streams: truncations, flipped bytes,
# zeroed runs and shuffled packets. Usage: kivra-smoke.sh BUILD_DIR [COUNT]
set -eu
build="$1"
count="${2:-300}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 - "$here/../tests/data/kivra" "$work" "$count" <<'PY'
import os, random, sys
src, out, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(20261209)
streams = [open(os.path.join(src, f), "rb").read() for f in sorted(os.listdir(src)) if f.endswith(".ts")]
for n in range(count):
    base = bytearray(rng.choice(streams))
    start = rng.randrange(0, max(1, len(base) - 120000)) // 188 * 188
    data = base[start:start + rng.choice([4000, 40000, 120000, 200000])]
    kind = n % 4
    for _ in range(rng.randrange(1, 40)):
        if not data:
            break
        i = rng.randrange(len(data))
        if kind == 0:
            data[i] = rng.randrange(256)
        elif kind == 1:
            data[i:i + 64] = bytes(min(64, len(data) - i))
        elif kind == 2:
            data[i] ^= 1 << rng.randrange(8)
        else:
            j = rng.randrange(len(data)) // 188 * 188
            data[i // 188 * 188:i // 188 * 188 + 188], data[j:j + 188] = data[j:j + 188], data[i // 188 * 188:i // 188 * 188 + 188]
    open(os.path.join(out, "case%04d" % n), "wb").write(data)
    # The same bytes from their first start code on, as an elementary stream.
    k = data.find(b"\x00\x00\x01\xb3")
    if k >= 0:
        open(os.path.join(out, "es%04d" % n), "wb").write(data[k:])
PY
for t in fuzz_kivra_stream fuzz_kivra_es; do
    echo "$t:"
    "$build/fuzz/$t" "$work"
done
