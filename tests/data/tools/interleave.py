#!/usr/bin/env python3
"""Spread the audio PES of a recording over time, as broadcast multiplexers send them.

ffmpeg writes the transport packets of each PES in one run, so a cut at a
video PES never falls inside an audio PES.  Broadcast streams interleave
packet by packet.  This moves the packets of every non-video PES (every
PID whose payload unit starts hold a PES header with a stream id outside
0xE0..0xEF) so that they are spread evenly from the PES's start to the next
PES start of the same PID; the last PES of each PID stays where it is.
Every PID keeps the order (and so the continuity counters) of its packets;
video, PSI and null packets keep their order among themselves.  Units of
192, 204 and 208 bytes keep their prefixes and suffixes in place.

Usage: interleave.py IN OUT [PACKET_SIZE]   (default 188)
"""
import sys


def main():
    src, dst = sys.argv[1], sys.argv[2]
    size = int(sys.argv[3]) if len(sys.argv) > 3 else 188
    sync = 4 if size in (192, 208) else 0
    data = open(src, "rb").read()
    units = [data[i:i + size] for i in range(0, len(data) - size + 1, size)]
    packets = [u[sync:sync + 188] for u in units]

    def pid(p):
        return ((p[1] & 0x1F) << 8) | p[2]

    def payload(p):
        afc = (p[3] >> 4) & 3
        if afc == 1:
            return p[4:]
        if afc == 3 and p[4] < 183:
            return p[5 + p[4]:]
        return b""

    # Each audio PID's PES: the packet indexes from one unit start to the next.
    runs = {}
    for p in packets:
        body = payload(p)
        if p[1] & 0x40 and body[:3] == b"\x00\x00\x01" and not 0xE0 <= body[3] <= 0xEF:
            runs[pid(p)] = []
    for i, p in enumerate(packets):
        k = pid(p)
        if k not in runs:
            continue
        if p[1] & 0x40 or not runs[k]:
            runs[k].append([])
        runs[k][-1].append(i)

    key = [float(i) for i in range(len(packets))]
    for pes_list in runs.values():
        for n, pes in enumerate(pes_list[:-1]):
            first, following = pes[0], pes_list[n + 1][0]
            step = (following - first) / len(pes)
            for r, i in enumerate(pes):
                key[i] = first + r * step
    order = sorted(range(len(packets)), key=lambda i: (key[i], i))
    with open(dst, "wb") as out:
        for slot, i in enumerate(order):
            u = units[slot]
            out.write(u[:sync] + packets[i] + u[sync + 188:])
        out.write(data[len(units) * size:])


if __name__ == "__main__":
    main()
