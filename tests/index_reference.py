#!/usr/bin/env python3
"""Second, independent model of the GOP index file that a fresh scan writes.

Usage: index_reference.py [--renumber] RECORDING > expected.txt
The end-to-end test compares tavrelcut-cli's index files with this model.
"""
import os
import sys


def detect(data):
    n = h = k = 0
    for p, byte in enumerate(data):
        if byte == 0x47:
            if k > 0 and n > 0:
                if n in (188, 192, 204, 208):
                    q = p - 4 if n in (192, 208) else p
                    if q % n == 0:
                        h += 1
                        if h == 3:
                            return n
                        n = 0
                else:
                    h = n = 0
            k += 1
            if k == 1:
                n = 0
        n += 1
    return 0


def ts90k(v):
    r = v % 324000000
    return "%02d:%02d:%02d:%03d" % (v // 324000000, r // 5400000, (r % 5400000) // 90000,
                                    ((r % 5400000) % 90000) // 90)


def pes_pts(q):
    if (q[3] >> 6) not in (2, 3):
        return None
    t = q[5:10]
    return ((t[0] >> 1) & 7) << 30 | t[1] << 22 | (t[2] >> 1) << 15 | t[3] << 7 | t[4] >> 1


def main():
    args = sys.argv[1:]
    renumber = "--renumber" in args
    path = [a for a in args if not a.startswith("--")][0]
    data = open(path, "rb").read()
    size = detect(data[:1 << 20])
    if not size:
        sys.exit("no packet size")
    sync = 4 if size in (192, 208) else 0
    count = len(data) // size
    out = ["KIVRA2", os.path.basename(path)]
    pts, pts_text, pts_dec = 0, "", ""
    last_code = ""
    hh = mm = ss = pics = 0
    video_pid = 0xFFFF
    first = True
    buf = bytearray(22000)  # the read buffer: never cleared between reads
    for c in range(0, count, 100):
        chunk = data[c * size:(c + 100) * size]
        whole = len(chunk) // size
        buf[:len(chunk)] = chunk
        for j in range(whole):
            o = j * size + sync
            p = buf[o:o + 300]
            if p[0] != 0x47 or not p[1] & 0x40:
                continue
            afc = (p[3] >> 4) & 3
            if afc == 1:
                off = 4
            elif afc == 3:
                off = 5 + p[4]
            else:
                continue
            if p[off:off + 3] != b"\0\0\1" or (p[off + 3] & 0xF0) != 0xE0:
                continue
            if p.find(b"\0\0\1\xb3", 1, 188) < 0:
                continue
            pid = (p[1] & 0x1F) << 8 | p[2]
            v = pes_pts(p[off + 4:off + 19])
            if v is not None:
                pts, pts_text, pts_dec = v, ts90k(v), str(v)
            if first:
                video_pid, first = pid, False
            g = p.find(b"\0\0\1\xb8", 1, 188)
            if g >= 0:
                w = int.from_bytes(p[g + 4:g + 8], "big")
                if renumber:
                    if pics > 15:
                        pics, ss = 0, ss + 1
                        if ss > 59:
                            ss, mm = 0, mm + 1
                            if mm > 59:
                                mm, hh = 0, hh + 1
                                if hh > 23:
                                    hh = 0
                    code = "%02d:%02d:%02d  %02d" % (hh, mm, ss, pics)
                    pics += 15
                else:
                    code = "%02d:%02d:%02d  %02d" % ((w >> 26) & 31, (w >> 20) & 63, (w >> 13) & 63, (w >> 7) & 63)
                last_code = code
            else:
                code = last_code
            out.append("%04X,%s,%s,%s,%d" % (pid, code, pts_text, pts_dec, c + j))
    low = count & 0xFFFFFFFF
    out.append("LAST       ,%d" % (low - (1 << 32) if low >= 1 << 31 else low))
    out.append("PID_VIDEO,%04x" % video_pid)
    out.append("TSPAC_TYPE,%d" % size)
    out.append("END")
    sys.stdout.buffer.write(("\r\n".join(out) + "\r\n").encode("latin-1"))


main()
