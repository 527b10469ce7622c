#!/usr/bin/env python3
"""Small transport stream checker for the test recordings.

Usage: tsinfo.py FILE            one summary line
       tsinfo.py --split FILE    check the 'GOP header in next packet' layout

Summary: packet size, leading bytes before the first packet, packet count,
leftover bytes, and per MPEG-2 video PID the number of GOP headers
(00 00 01 B8) and sequence headers (00 00 01 B3) in the reassembled payload.
"""
import sys

SIZES = (188, 192, 204, 208)
PREFIX = {188: 0, 192: 4, 204: 0, 208: 4}


def detect(data):
    """Return (packet_size, offset_of_first_sync) or None."""
    for size in SIZES:
        for off in range(0, min(len(data), 2 * size)):
            n = (len(data) - off) // size
            if n == 0:
                break
            want = min(n, 50)
            if all(data[off + k * size] == 0x47 for k in range(want)):
                return size, off
    return None


def packets(data, size, off):
    """Yield 188-byte packets (complete ones only)."""
    pos = off
    while pos + 188 <= len(data):
        if data[pos] != 0x47:
            break
        yield data[pos:pos + 188]
        pos += size


def payload(pkt):
    afc = (pkt[3] >> 4) & 3
    if afc == 1:
        return pkt[4:]
    if afc == 3:
        return pkt[5 + pkt[4]:]
    return b""


def pid_of(pkt):
    return ((pkt[1] & 0x1F) << 8) | pkt[2]


def video_pids(pkts):
    """PIDs with stream_type 0x01/0x02 from PAT/PMT (first section only)."""
    pmt_pids, vids = set(), []
    for p in pkts:
        pid = pid_of(p)
        if not (p[1] & 0x40):
            continue
        pl = payload(p)
        if not pl:
            continue
        sec = pl[1 + pl[0]:]
        if pid == 0 and sec and sec[0] == 0x00:
            slen = ((sec[1] & 0x0F) << 8) | sec[2]
            body = sec[8:3 + slen - 4]
            for i in range(0, len(body) - 3, 4):
                prog = (body[i] << 8) | body[i + 1]
                if prog:
                    pmt_pids.add(((body[i + 2] & 0x1F) << 8) | body[i + 3])
        elif pid in pmt_pids and sec and sec[0] == 0x02:
            slen = ((sec[1] & 0x0F) << 8) | sec[2]
            pil = ((sec[10] & 0x0F) << 8) | sec[11]
            i, end = 12 + pil, 3 + slen - 4
            while i + 5 <= end:
                st = sec[i]
                epid = ((sec[i + 1] & 0x1F) << 8) | sec[i + 2]
                eil = ((sec[i + 3] & 0x0F) << 8) | sec[i + 4]
                if st in (0x01, 0x02) and epid not in vids:
                    vids.append(epid)
                i += 5 + eil
    return vids


def summary(path):
    data = open(path, "rb").read()
    if not data:
        return "%s: empty" % path
    d = detect(data)
    if d is None:
        return "%s: %d bytes, no packet sync found" % (path, len(data))
    size, off = d
    lead = off - PREFIX[size]
    pkts = list(packets(data, size, off))
    used = off + len(pkts) * size - PREFIX[size]
    tail = len(data) - used
    vids = video_pids(pkts)
    parts = []
    for v in vids:
        es = b"".join(payload(p) for p in pkts if pid_of(p) == v)
        parts.append("video pid 0x%x: %d GOP hdrs, %d seq hdrs"
                     % (v, es.count(b"\x00\x00\x01\xb8"),
                        es.count(b"\x00\x00\x01\xb3")))
    return ("%s: %d-byte packets, lead %d, %d packets, tail %d; %s"
            % (path, size, lead, len(pkts), tail,
               "; ".join(parts) if parts else "no video pid"))


def check_split(path):
    """True if some PES-opening video packet has a sequence header but no
    GOP header, and the next packet of that PID starts with a GOP header."""
    data = open(path, "rb").read()
    size, off = detect(data)
    pkts = list(packets(data, size, off))
    vids = video_pids(pkts)
    found = 0
    for v in vids:
        vp = [p for p in pkts if pid_of(p) == v]
        for i, p in enumerate(vp[:-1]):
            if not (p[1] & 0x40):
                continue
            pl = payload(p)
            if b"\x00\x00\x01\xb3" in pl and b"\x00\x00\x01\xb8" not in pl:
                if b"\x00\x00\x01\xb8" in payload(vp[i + 1]):
                    found += 1
                else:
                    print("pid 0x%x packet %d: GOP header not in next packet"
                          % (v, i))
                    return 0
    return found


def main(argv):
    if len(argv) == 3 and argv[1] == "--split":
        n = check_split(argv[2])
        print("%s: %d GOP(s) with the GOP header in the next packet"
              % (argv[2], n))
        sys.exit(0 if n else 1)
    if len(argv) < 2:
        sys.exit(__doc__)
    for p in argv[1:]:
        print(summary(p))


if __name__ == "__main__":
    main(sys.argv)
