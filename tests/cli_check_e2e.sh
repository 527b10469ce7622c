#!/usr/bin/env bash
# End-to-end checks of tavrelcut-cli check and errors: real recordings with
# packets dropped, duplicated and flagged by a script that also works out,
# on its own, which records the error file must hold.
set -u
cli=$1
data=$2
. "$(dirname "$0")/e2e_lib.sh"
make_workdir

cp "$data/sd_480p_mp2.ts" "$data/hd_1080i_aac.ts" "$data/hd_1080i_aac_192.ts" "$data/random_bytes.bin" "$work"/

# A clean recording: header-only error file, a tree of "Root" alone.
out=$("$cli" check "$work/sd_480p_mp2.ts")
check "check exit status" $?
[ "$out" = "$work/sd_480p_mp2.ts	packets=5961	DI=0	CC=0	CC(*)=0" ] ; check "clean summary: $out" $?
[ "$(cat "$work/sd_480p_mp2.ts_err.bin")" = "$(printf 'TS Error Check\r\n')" ] ; check "header-only error file" $?
[ "$(stat -c %s "$work/sd_480p_mp2.ts_err.bin")" -eq 16 ] ; check "error file is 16 bytes" $?
[ "$("$cli" errors "$work/sd_480p_mp2.ts")" = "Root" ] ; check "empty tree" $?
"$cli" check "$work/hd_1080i_aac_192.ts" | grep -qF "packets=10976	DI=0	CC=0	CC(*)=0" ; check "192-byte packets" $?

# Damage a copy: drop one video packet, duplicate an audio packet, set a
# discontinuity_indicator; the script writes the records it expects.
python3 - "$work/hd_1080i_aac.ts" "$work/bad.ts" "$work/expected.bin" "$work/expected.txt" <<'PY'
import struct, sys
src, dst, exp_bin, exp_txt = sys.argv[1:]
d = open(src, 'rb').read()
pk = [d[i:i + 188] for i in range(0, len(d) - 187, 188)]
pid = lambda p: ((p[1] & 0x1F) << 8) | p[2]
afc = lambda p: (p[3] >> 4) & 3
pat = next(p for p in pk if pid(p) == 0)
sid, pmt = (pat[13] << 8) | pat[14], ((pat[15] & 0x1F) << 8) | pat[16]
pids = {}
for p in pk:
    if pid(p) not in (0, 0x11, 0x1FFF, pmt):
        pids.setdefault(pid(p), 0)
        pids[pid(p)] += 1
video = max(pids, key=pids.get)
audio = min(pids, key=pids.get)
def nth(want, start, cond):
    for i in range(start, len(pk)):
        if pid(pk[i]) == want and cond(pk[i]):
            return i
drop = nth(video, 3000, lambda p: afc(p) == 1)
dup = nth(audio, 6000, lambda p: afc(p) & 1)
flag = nth(video, 8000, lambda p: afc(p) == 3 and p[4] > 0)
p = bytearray(pk[flag]); p[5] |= 0x80; pk[flag] = bytes(p)
# The next video packet finds the dropped packet's counter expected.
cc_drop = pk[drop][3] & 15
out = pk[:drop] + pk[drop + 1:dup] + [pk[dup], pk[dup]] + pk[dup + 1:]
open(dst, 'wb').write(b''.join(out))
nxt = nth(video, drop + 1, lambda p: afc(p) & 1)
cc_dup = pk[dup][3] & 15
events = [  # packet numbers in the damaged file
    (nxt - 1, video, 2, cc_drop << 4 | (pk[nxt][3] & 15)),
    (dup, audio, 2, ((cc_dup + 1) & 15) << 4 | cc_dup),
    (flag, video, 1, 0),
]
events.sort()
with open(exp_bin, 'wb') as f:
    f.write(b'TS Error Check\r\n')
    for n, p_, kind, ccs in events:
        f.write(struct.pack('>HHHBB', sid, pmt, p_, kind, ccs) + struct.pack('<q', n))
# The tree: one program, PIDs in order of their first record.
lines = ['Root', '  SID [%4d] / PMT [0x%04X]' % (sid, pmt)]
order = []
for e in events:
    if e[1] not in order: order.append(e[1])
for p_ in order:
    lines.append('    0x%04X' % p_)
    for n, q, kind, ccs in events:
        if q != p_: continue
        if kind == 1: lines.append('      DI  [%d]' % n)
        else: lines.append('      CC [%2d \u2192 %2d] [%d]' % (ccs >> 4, ccs & 15, n))
open(exp_txt, 'w', encoding='utf-8').write('\n'.join(lines) + '\n')
PY
check "damaged copy made" $?

out=$("$cli" check --discon "$work/bad.ts")
check "check --discon exit status (errors are no failure)" $?
echo "$out" | grep -q "	DI=1	CC=2	CC(\*)=0$" ; check "damaged summary: $out" $?
cmp -s "$work/bad.ts_err.bin" "$work/expected.bin" ; check "error file byte for byte" $?
"$cli" errors "$work/bad.ts" > "$work/tree.txt"
check "errors exit status" $?
diff "$work/expected.txt" "$work/tree.txt" ; check "error tree" $?

# Without --discon the indicator is not recorded.
"$cli" check "$work/bad.ts" | grep -q "	DI=0	CC=2	" ; check "no DI without --discon" $?
[ "$(stat -c %s "$work/bad.ts_err.bin")" -eq 48 ] ; check "two records without --discon" $?

# Missing and malformed error files.
"$cli" errors "$work/hd_1080i_aac.ts" > /dev/null 2> "$work/err"
[ $? -eq 1 ] && grep -q "^error: エラー情報ファイルがありません！: $work/hd_1080i_aac.ts_err.bin$" "$work/err"
check "missing error file" $?
printf 'TS Error Check\r\n12345' > "$work/hd_1080i_aac.ts_err.bin"
"$cli" errors "$work/hd_1080i_aac.ts" > "$work/out" 2> "$work/err"
[ $? -eq 1 ] && grep -q "^error: not an error file" "$work/err" && [ ! -s "$work/out" ]
check "malformed error file" $?

# A file that cannot be checked fails the run; the others are still checked.
rm -f "$work/sd_480p_mp2.ts_err.bin"
"$cli" check "$work/random_bytes.bin" "$work/missing.ts" "$work/sd_480p_mp2.ts" > "$work/out" 2> "$work/err"
[ $? -eq 1 ] ; check "failures give exit 1" $?
grep -q "^error: no transport packets found: $work/random_bytes.bin$" "$work/err" ; check "no packets message" $?
grep -q "^error: Input ファイルオープンエラー: $work/missing.ts: " "$work/err" ; check "open message" $?
[ -f "$work/sd_480p_mp2.ts_err.bin" ] && [ "$(wc -l < "$work/out")" -eq 1 ] ; check "good file still checked" $?
[ ! -e "$work/random_bytes.bin_err.bin" ] ; check "no error file for a skipped file" $?
"$cli" check > /dev/null 2>&1 ; [ $? -eq 2 ] ; check "check without files is a usage error" $?

report
