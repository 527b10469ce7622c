#!/usr/bin/env python3
"""Re-packetise chosen GOP-opening video PES packets of a 188-byte stream.

For each chosen GOP (counted from 0 among the video PES packets that carry
a GOP header 00 00 01 B8), the PES bytes are split again so that the first
TS packet ends right before the GOP header (it keeps the PES header, the
sequence header and the sequence extension; the rest of that packet is
adaptation-field stuffing).  The GOP header and everything after it goes
into the following packets of the same PID in 184-byte pieces, the last
one padded with adaptation-field stuffing.  The PES bytes themselves are
unchanged; the stream gets one or more extra packets, and the continuity
counters of the video PID are renumbered.

Usage: repacketize.py IN.ts OUT.ts [GOP,GOP,...]   (default 1,3)
"""
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tsinfo  # noqa: E402

GOP_START = b"\x00\x00\x01\xb8"
SEQ_START = b"\x00\x00\x01\xb3"


def af_core(pkt):
    """Adaptation field flags + optional fields, without stuffing, or None."""
    afc = (pkt[3] >> 4) & 3
    if not (afc & 2) or pkt[4] == 0:
        return None
    af = pkt[5:5 + pkt[4]]
    flags = af[0]
    n = 1
    if flags & 0x10:
        n += 6  # PCR
    if flags & 0x08:
        n += 6  # OPCR
    if flags & 0x04:
        n += 1  # splice countdown
    if flags & 0x02:
        n += 1 + af[n]  # private data
    if flags & 0x01:
        n += 1 + af[n]  # extension
    return bytes(af[:n])


def make_packet(pid, pusi, core, data):
    space = 184 - len(data)
    if space < 0:
        raise ValueError("payload too long")
    b1 = (0x40 if pusi else 0) | (pid >> 8)
    if space == 0 and core is None:
        return bytes([0x47, b1, pid & 0xFF, 0x10]) + data
    length = space - 1
    core = core if core is not None else (b"\x00" if length else b"")
    if len(core) > length:
        raise ValueError("adaptation field does not fit")
    af = bytes([length]) + core + b"\xff" * (length - len(core))
    return bytes([0x47, b1, pid & 0xFF, 0x30]) + af + data


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit("usage: repacketize.py IN.ts OUT.ts [GOP,GOP,...]")
    chosen = {int(x) for x in (argv[3] if len(argv) == 4 else "1,3").split(",")}
    data = open(argv[1], "rb").read()
    if len(data) % 188 or tsinfo.detect(data) != (188, 0):
        sys.exit("input must be a clean 188-byte stream")
    pkts = [data[i:i + 188] for i in range(0, len(data), 188)]
    vids = tsinfo.video_pids(pkts)
    if not vids:
        sys.exit("no video PID found")
    vpid = vids[0]

    # Group the video packets into PES packets (lists of packet indices).
    groups, cur = [], None
    for i, p in enumerate(pkts):
        if tsinfo.pid_of(p) != vpid:
            continue
        if p[1] & 0x40:
            cur = [i]
            groups.append(cur)
        elif cur is not None:
            cur.append(i)

    replace = {}  # first index -> new packets; other indices -> []
    gop_no = -1
    done = []
    for g in groups:
        pes = b"".join(tsinfo.payload(pkts[i]) for i in g)
        cut = pes.find(GOP_START)
        if cut < 0:
            continue
        gop_no += 1
        if gop_no not in chosen:
            continue
        if SEQ_START not in pes[:cut]:
            sys.exit("GOP %d: no sequence header before the GOP header" % gop_no)
        first = make_packet(vpid, True, af_core(pkts[g[0]]), pes[:cut])
        new = [first]
        rest = pes[cut:]
        for k in range(0, len(rest), 184):
            new.append(make_packet(vpid, False, None, rest[k:k + 184]))
        replace[g[0]] = new
        for i in g[1:]:
            replace[i] = []
        done.append((gop_no, len(g), len(new)))
    missing = chosen - {d[0] for d in done}
    if missing:
        sys.exit("GOP(s) not found: %s" % sorted(missing))

    out = []
    for i, p in enumerate(pkts):
        out.extend(replace.get(i, [p]))

    # Renumber the continuity counter of the video PID.
    cc = None
    for k, p in enumerate(out):
        if tsinfo.pid_of(p) != vpid or not (p[3] & 0x10):
            continue
        cc = (p[3] & 0x0F) if cc is None else (cc + 1) & 0x0F
        out[k] = p[:3] + bytes([(p[3] & 0xF0) | cc]) + p[4:]

    with open(argv[2], "wb") as f:
        f.write(b"".join(out))
    for gop_no, old, new in done:
        print("GOP %d: %d -> %d packets" % (gop_no, old, new))


if __name__ == "__main__":
    main(sys.argv)
