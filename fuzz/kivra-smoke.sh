#!/bin/sh
# Runs the Kivra fuzz targets of a build (plain drivers or libFuzzer) over
# mutated copies of the conformance streams: truncations, flipped bytes,
# zeroed runs and shuffled packets; two streams joined end to end; sequence
# and picture headers rewritten (progressive_sequence, chroma format, size
# extensions, picture structure, vertical size); and, in the elementary
# streams, sequence extensions spliced in after GOP and picture headers.
# Usage: kivra-smoke.sh BUILD_DIR [COUNT]
#        kivra-smoke.sh --seeds OUT_DIR   (seed corpora for libFuzzer:
#                                          OUT_DIR/stream and OUT_DIR/es)
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
data="$here/../tests/data/kivra"

gen() {
    python3 - "$data" "$@" <<'PY'
import os, random, sys
src, mode, out = sys.argv[1], sys.argv[2], sys.argv[3]
rng = random.Random(20261209)
names = sorted(f for f in os.listdir(src) if f.endswith(".ts"))
streams = {f: open(os.path.join(src, f), "rb").read() for f in names}

def packet_size(name):
    return 192 if "192" in name else 204 if "204" in name else 208 if "208" in name else 188

def size_index(size):
    return {188: 0, 192: 1, 204: 2, 208: 3}[size]

def video(name, data):
    """The payload of the stream's video PID (0x100, 0x1011 in pkt192)."""
    size = packet_size(name)
    pre = 4 if size in (192, 208) else 0
    pid = 0x1011 if "pkt192" in name else 0x100
    es = bytearray()
    for at in range(0, len(data) - size + 1, size):
        p = data[at + pre:at + pre + 188]
        if p[0] != 0x47 or ((p[1] & 0x1F) << 8 | p[2]) != pid:
            continue
        afc = p[3] >> 4 & 3
        i = 4
        if afc & 2:
            i += 1 + p[4]
        if not afc & 1 or i >= 188:
            continue
        payload = p[i:]
        if p[1] & 0x40 and payload[:3] == b"\0\0\1":
            payload = payload[9 + payload[8]:]
        es += payload
    return es

def starts(data, code):
    i = data.find(code)
    while i >= 0:
        yield i
        i = data.find(code, i + 1)

def rewrite_headers(data):
    """In place: sequence extensions, sequence headers and picture coding
    extensions get other progressive_sequence, chroma, size and structure
    values (no byte is added, so packets stay whole)."""
    for i in starts(data, b"\0\0\1\xb5"):
        if i + 9 > len(data) or rng.random() < 0.3:
            continue
        ident = data[i + 4] >> 4
        if ident == 1:
            what = rng.randrange(4)
            if what == 0:
                data[i + 5] ^= 0x08                                   # progressive_sequence
            elif what == 1:
                data[i + 5] = (data[i + 5] & ~0x06) | rng.randrange(4) << 1  # chroma_format
            elif what == 2:
                data[i + 5] ^= 1 << rng.randrange(2)                  # horizontal size extension
            else:
                data[i + 6] ^= 0x80 >> rng.randrange(2)               # vertical size extension
        elif ident == 8:
            data[i + 6] = (data[i + 6] & ~0x03) | rng.randrange(4)   # picture_structure
    for i in starts(data, b"\0\0\1\xb3"):
        if i + 8 <= len(data) and rng.random() < 0.3:
            v = rng.choice([240, 256, 288, 480, 496, 1080, 1088, 17, 4095])
            data[i + 5] = (data[i + 5] & 0xF0) | v >> 8
            data[i + 6] = v & 0xFF

stray = [bytes([0, 0, 1, 0xB5, 0x14 | 0, 0x80 | p << 3 | c << 1 | hx, vx << 7 | 0x20, 0x01, 0, 0])
         for p in (0, 1) for c in (1, 2, 3) for hx in (0, 1) for vx in (0, 1)]

def splice_extensions(es):
    """Elementary stream: a sequence extension after GOP headers and after
    picture coding extensions."""
    out = bytearray(es)
    spots = [i for i in starts(out, b"\0\0\1\xb8")] + \
            [i for i in starts(out, b"\0\0\1\xb5") if i + 4 < len(out) and out[i + 4] >> 4 == 8]
    for i in sorted(rng.sample(spots, min(len(spots), rng.randrange(1, 4))), reverse=True):
        j = out.find(b"\0\0\1", i + 4)
        if j > 0:
            out[j:j] = rng.choice(stray)
    return out

def cut(name, length):
    base = streams[name]
    size = packet_size(name)
    start = rng.randrange(0, max(1, len(base) - length)) // size * size
    return bytearray(base[start:start + length]), size

if mode == "seeds":
    os.makedirs(os.path.join(out, "stream"), exist_ok=True)
    os.makedirs(os.path.join(out, "es"), exist_ok=True)
    limit = 96000
    for name in names:
        size = packet_size(name)
        # Selector byte: packet size, PID 0x100 (0x1011 is read from the
        # next bytes), position 0, coded size draw.
        sel = size_index(size) | (0x40 if "pkt192" in name else 0)
        head = bytes([sel]) + (b"\x10\x11" if "pkt192" in name else b"")
        data = streams[name]
        open(os.path.join(out, "stream", name), "wb").write(head + data[:limit // size * size])
        es = video(name, data)
        k = es.find(b"\0\0\1\xb3")
        open(os.path.join(out, "es", name), "wb").write(es[k:k + limit] if k >= 0 else es[:limit])
    # Recordings joined end to end: the second part's sequence keeps or
    # changes the size, progressive_sequence or chroma format.
    pairs = [("sif_progressive.ts", "sif_interlaced.ts"), ("sif_interlaced.ts", "sif_progressive.ts"),
             ("sd_ibp.ts", "yuv422.ts"), ("field_intra.ts", "field_odd.ts"), ("sif_progressive.ts", "mpeg1.ts")]
    for a, b in pairs:
        if a not in streams or b not in streams:
            continue
        half = limit // 2 // 188 * 188
        open(os.path.join(out, "stream", "join_" + a[:-3] + "_" + b), "wb").write(
            b"\x00" + streams[a][:half] + streams[b][:half])
        ea, eb = video(a, streams[a]), video(b, streams[b])
        ka, kb = max(0, ea.find(b"\0\0\1\xb3")), max(0, eb.find(b"\0\0\1\xb3"))
        open(os.path.join(out, "es", "join_" + a[:-3] + "_" + b), "wb").write(
            ea[ka:ka + limit // 2] + eb[kb:kb + limit // 2])
    sys.exit(0)

count = int(sys.argv[4])
for n in range(count):
    name = rng.choice(names)
    data, size = cut(name, rng.choice([4000, 40000, 120000, 200000]))
    kind = n % 7
    if kind in (4, 6):
        # Joined end to end with another stream of the same packet size.
        other = rng.choice([m for m in names if packet_size(m) == size])
        tail, _ = cut(other, rng.choice([40000, 120000]))
        data = data[:len(data) // size * size] + tail
    if kind in (5, 6):
        rewrite_headers(data)
    for _ in range(rng.randrange(1, 40) if kind < 4 else rng.randrange(0, 4)):
        if not data:
            break
        i = rng.randrange(len(data))
        k = kind if kind < 4 else rng.randrange(3)
        if k == 0:
            data[i] = rng.randrange(256)
        elif k == 1:
            data[i:i + 64] = bytes(min(64, len(data) - i))
        elif k == 2:
            data[i] ^= 1 << rng.randrange(8)
        else:
            j = rng.randrange(len(data)) // 188 * 188
            data[i // 188 * 188:i // 188 * 188 + 188], data[j:j + 188] = data[j:j + 188], data[i // 188 * 188:i // 188 * 188 + 188]
    # The same video as an elementary stream from its first sequence header.
    es = video(name, data)
    k = es.find(b"\0\0\1\xb3")
    if k >= 0:
        es = es[k:]
        if kind >= 4:
            es = splice_extensions(es)
        open(os.path.join(out, "es%04d" % n), "wb").write(es)
    # The stream target reads a selector byte first: the packet size of the
    # source, the PID of the sample streams, the rest (read position,
    # display width, stretch quality, window) at random.
    sel = size_index(size) | rng.randrange(64) & 0x3C | rng.randrange(2) << 7
    head = bytes([sel])
    if "pkt192" in name:
        head = bytes([sel | 0x40, 0x10, 0x11])
    open(os.path.join(out, "case%04d" % n), "wb").write(head + data)
PY
}

if [ "$1" = "--seeds" ]; then
    gen seeds "$2"
    exit 0
fi

build="$1"
count="${2:-300}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
gen cases "$work" "$count"
for t in fuzz_kivra_stream fuzz_kivra_es; do
    echo "$t:"
    "$build/fuzz/$t" "$work"
done
