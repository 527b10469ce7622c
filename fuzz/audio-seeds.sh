#!/bin/sh
# Seeds for fuzz_audio_levels: from each test recording with audio, its PAT
# and PMT and the first packets of its first audio PID, in the recording's
# own packet size, so that a few KiB hold whole audio frames of every codec
# (MP2, AAC, AC-3) rather than the video that opens the recordings.
# Usage: audio-seeds.sh OUT_DIR
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$1"
python3 - "$here/../tests/data" "$1" <<'PY'
import os, sys
src, out = sys.argv[1], sys.argv[2]
AUDIO = {0x03, 0x04, 0x06, 0x0F, 0x11, 0x81, 0x87}
LIMIT = 60  # audio packets per seed

def packets(data, size):
    pre = 4 if size in (192, 208) else 0
    for at in range(0, len(data) - size + 1, size):
        p = data[at + pre:at + pre + 188]
        if p[0] == 0x47:
            yield data[at:at + size], p

def pid_of(p):
    return (p[1] & 0x1F) << 8 | p[2]

def section(p):
    i = 4 + 1 + p[4]  # pointer field
    return p[i:] if i < 188 else b""

for name in sorted(os.listdir(src)):
    if not name.endswith(".ts"):
        continue
    data = open(os.path.join(src, name), "rb").read()
    size = 192 if "192" in name else 204 if "204" in name else 208 if "208" in name else 188
    pmt = audio = None
    for _, p in packets(data, size):
        s = section(p)
        if pmt is None and pid_of(p) == 0 and s[:1] == b"\0" and len(s) >= 12:
            pmt = (s[10] & 0x1F) << 8 | s[11]
        elif pmt is not None and pid_of(p) == pmt and s[:1] == b"\x02" and len(s) >= 12:
            i = 12 + ((s[10] & 0x0F) << 8 | s[11])
            while i + 5 <= len(s) and audio is None:
                if s[i] in AUDIO:
                    audio = (s[i + 1] & 0x1F) << 8 | s[i + 2]
                i += 5 + ((s[i + 3] & 0x0F) << 8 | s[i + 4])
            break
    if audio is None:
        continue
    seed, count = bytearray(), 0
    for unit, p in packets(data, size):
        pid = pid_of(p)
        if pid in (0, pmt) or pid == audio:
            seed += unit
            count += pid == audio
            if count >= LIMIT:
                break
    open(os.path.join(out, name + ".audio"), "wb").write(seed)
PY
