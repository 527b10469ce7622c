#!/usr/bin/env python3
"""Re-frame a 188-byte transport stream into 204- or 208-byte packets.

204: each 188-byte packet followed by 16 zero bytes (room for parity bytes).
208: a 4-byte big-endian prefix (30-bit counter, like an arrival time
     stamp, top two bits zero), the 188-byte packet, then 16 zero bytes.

Usage: reframe.py SIZE IN.ts OUT.ts   (SIZE is 204 or 208)
"""
import sys

TS = 188
TRAILER = bytes(16)
STEP = 2000  # counter increment per packet


def main(argv):
    if len(argv) != 4 or argv[1] not in ("204", "208"):
        sys.exit("usage: reframe.py 204|208 IN.ts OUT.ts")
    size = int(argv[1])
    data = open(argv[2], "rb").read()
    if len(data) % TS:
        sys.exit("input is not a whole number of 188-byte packets")
    out = bytearray()
    for i in range(len(data) // TS):
        pkt = data[i * TS:(i + 1) * TS]
        if pkt[0] != 0x47:
            sys.exit("lost sync at packet %d" % i)
        if size == 208:
            out += ((i * STEP) & 0x3FFFFFFF).to_bytes(4, "big")
        out += pkt
        out += TRAILER
    with open(argv[3], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv)
