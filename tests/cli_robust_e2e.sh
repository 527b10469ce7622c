#!/usr/bin/env bash
# End-to-end checks of what tavrelcut-cli does with inputs that are not the
# happy path: hexadecimal PID lists, clip ranges past the GOP list, index
# files and FIFOs given as recordings, read-only folders, a full disk, an
# interrupted cut or index, and bad preview values.
set -u
cli=$(realpath "$1")
data=$(realpath "$2")
. "$(dirname "$0")/e2e_lib.sh"
make_workdir
# Some checks leave read-only folders behind.
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 755 "$work"
cd "$work" || exit 1
cp "$data"/sd_480p_mp2.ts "$data"/hd_1080i_aac.ts .
"$cli" index sd_480p_mp2.ts hd_1080i_aac.ts > /dev/null || exit 1

# PIDs of the 188-byte packets of file $1, comma separated, in hexadecimal.
pids_in() {
    python3 -c '
import sys
d = open(sys.argv[1], "rb").read()
print(",".join("%04X" % p for p in sorted({(d[i + 1] & 0x1F) << 8 | d[i + 2] for i in range(0, len(d), 188)})))' "$1"
}

# --select-pids takes the PIDs as "pids" prints them: all but the audio.
keep=$("$cli" pids sd_480p_mp2.ts | awk 'NR > 1 && $2 != 5 { print $1 }' | sort -u | paste -sd,)
[ "$keep" = "0000,0100,1000,1FFF" ] ; check "pids lists PAT, PMT, video and NULL: $keep" $?
"$cli" cut --select-pids "$keep" -o sel.ts sd_480p_mp2.ts:1:3 2> err ; check_status $? "cut with the pids list: $(cat err)"
[ "$(pids_in sel.ts)" = "0000,0100,1000" ] ; check_status $? "output holds the selected PIDs: $(pids_in sel.ts)"
"$cli" cut --select-pids 0x0,0x100,0x1000 -o sel0x.ts sd_480p_mp2.ts:1:3 2> /dev/null
cmp -s sel.ts sel0x.ts ; check "0x prefix reads the same PIDs" $?
"$cli" cut --select-pids 0200,0x300 -o none.ts sd_480p_mp2.ts:1:3 2> err ; [ $? -eq 1 ]
check "a selection that keeps nothing exits 1" $?
grep -q "^error: --select-pids 0200,0x300: none of these PIDs is in the program list of sd_480p_mp2.ts" err
check_status $? "empty selection message: $(cat err)"
[ ! -e none.ts ] ; check "nothing written for an empty selection" $?

# IN and OUT beyond the GOP list (indexes 0..7; 7 is the LAST entry).
"$cli" cut -o full.ts sd_480p_mp2.ts:1:7 2> /dev/null && "$cli" cut -o end.ts sd_480p_mp2.ts:1:end 2> /dev/null
cmp -s full.ts end.ts ; check "OUT = LAST index equals 'end'" $?
for clip in 1:8 8:end 9:12; do
    "$cli" cut -o past.ts "sd_480p_mp2.ts:$clip" 2> err ; rc=$?
    [ $rc -eq 1 ] && grep -q "is past the GOP list of sd_480p_mp2.ts (valid GOP indexes: 0..7 or 'end')" err
    check_status $? "clip $clip refused with the range (rc $rc): $(cat err)"
done
"$cli" cut -o past.ts sd_480p_mp2.ts:5:2 2> err ; [ $? -eq 1 ] && grep -q "IN must be below OUT" err
check "IN above OUT refused" $?
[ ! -e past.ts ] ; check "refused clips write nothing" $?

# Index files, folders that are files, FIFOs and devices are no recordings.
for cmd in index gops pids "preview --gop 0 -o x.png"; do
    $cli $cmd sd_480p_mp2.ts.txt > /dev/null 2> err ; rc=$?
    [ $rc -eq 1 ] && grep -qx "error: GOP index files are not recordings; give the recording itself: sd_480p_mp2.ts.txt" err
    check_status $? "$cmd of an index file (rc $rc): $(cat err)"
done
cp sd_480p_mp2.ts.txt renamed.ts
"$cli" cut -o x.ts renamed.ts:0:1 > /dev/null 2> err ; [ $? -eq 1 ] && grep -q "not recordings" err
check "an index file under another name is recognised" $?
"$cli" index --gop-dir sd_480p_mp2.ts hd_1080i_aac.ts > /dev/null 2> err ; [ $? -eq 2 ] && grep -q "sd_480p_mp2.ts is not a folder" err
check_status $? "--gop-dir naming a file: $(cat err)"
mkfifo fifo
for cmd in index gops pids "preview --gop 0 -o x.png"; do
    timeout 10 $cli $cmd fifo > /dev/null 2> err ; rc=$?
    [ $rc -eq 1 ] && grep -qx "error: Input ファイルオープンエラー: fifo: not a regular file" err
    check_status $? "$cmd of a FIFO fails at once (rc $rc): $(cat err)"
done
timeout 10 "$cli" cut -o x.ts /dev/zero:0:1 > /dev/null 2> err ; [ $? -eq 1 ] && grep -q "/dev/zero: not a regular file" err
check_status $? "cut of /dev/zero: $(cat err)"

# A batch goes on past a failing file, names it and exits 1.
"$cli" index sd_480p_mp2.ts missing.ts hd_1080i_aac.ts > batch.out 2> err ; [ $? -eq 1 ] ; check "batch with a failure exits 1" $?
[ "$(cut -f1 batch.out | paste -sd' ')" = "sd_480p_mp2.ts hd_1080i_aac.ts" ] ; check "the other files are indexed" $?
grep -qx "error: Input ファイルオープンエラー: missing.ts: No such file or directory" err ; check "the failing file is named" $?

# A read-only folder: gops, cut and preview work from a list in memory,
# index fails. Root writes anywhere, so root runs these as nobody; where
# nobody cannot run the binary, a folder takes the index file's place.
mkdir ro out && cp sd_480p_mp2.ts ro/rec.ts && chmod 777 out
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
if [ "$(id -u)" -ne 0 ]; then
    as_user() { "$@"; }
elif command -v setpriv > /dev/null && as_nobody "$cli" --version > /dev/null 2>&1; then
    as_user() { as_nobody "$@"; }
else
    as_user() { "$@"; }
    mkdir ro/rec.ts.txt
fi
if [ -d ro/rec.ts.txt ]; then reason="Is a directory"; else reason="Permission denied"; chmod 555 ro; fi
note="note: no GOP index saved: ro/rec.ts.txt: $reason"
as_user "$cli" gops ro/rec.ts > out/gops 2> err ; check_status $? "gops in a read-only folder: $(cat err)"
[ "$(wc -l < out/gops)" -eq 8 ] && grep -qx "$note" err ; check "gops lists with a note" $?
as_user "$cli" cut -o out/c.ts ro/rec.ts:1:3 2> err ; check_status $? "cut from a read-only folder: $(cat err)"
"$cli" cut -o c.ts sd_480p_mp2.ts:1:3 2> /dev/null
cmp -s out/c.ts c.ts && grep -qx "$note" err ; check "cut output and note" $?
as_user "$cli" preview ro/rec.ts --gop 1 -o out/p.png 2> err ; check_status $? "preview from a read-only folder: $(cat err)"
[ -s out/p.png ] && grep -qx "$note" err ; check "preview picture and note" $?
as_user "$cli" index ro/rec.ts > /dev/null 2> err ; [ $? -eq 1 ] ; check "index in a read-only folder exits 1" $?
grep -qx "error: Output ファイルオープンエラー: ro/rec.ts.txt: $reason" err ; check_status $? "index message: $(cat err)"
[ ! -f ro/rec.ts.txt ] && [ -z "$(compgen -G 'ro/*.partial-*')" ] ; check "no index file in the read-only folder" $?

# A device at the index name is no index to write into: refused, left alone.
cp sd_480p_mp2.ts full.ts
ln -s /dev/full full.ts.txt
"$cli" index full.ts > /dev/null 2> err ; [ $? -eq 1 ] && grep -qx "error: Output ファイルオープンエラー: full.ts.txt: not a regular file" err
check_status $? "index onto a device: $(cat err)"
[ -L full.ts.txt ] ; check "the link to the device stays" $?

# SIGINT while a cut or an index is being written: neither a partial output
# nor a temporary file is left, an existing output keeps its content.
for i in $(seq 150); do cat hd_1080i_aac.ts; done > big.ts
"$cli" index big.ts > /dev/null
interrupt() {  # setup command, pattern of the temporary file, command...
    local setup=$1 pattern=$2
    shift 2
    local attempt seen rc pid n
    # A busy machine may let the job finish between seeing its temporary
    # file and the signal: that attempt proves nothing and is made again.
    for attempt in 1 2 3 4 5; do
        eval "$setup"
        set -m  # its own process group: a background job takes SIGINT
        "$@" 2> /dev/null &
        pid=$!
        set +m
        seen=0
        for ((n = 0; n < 500000; n++)); do
            compgen -G "$pattern" > /dev/null && { seen=1; break; }
            kill -0 $pid 2> /dev/null || break
        done
        kill -INT $pid 2> /dev/null
        wait $pid
        rc=$?
        [ $seen -eq 1 ] && [ $rc -eq 0 ] && continue
        break
    done
    [ $seen -eq 1 ] && [ $rc -eq 130 ] ; check "$* interrupted while writing (seen $seen, rc $rc)" $?
    [ -z "$(compgen -G "$pattern")" ] ; check "$* leaves no temporary file" $?
}
interrupt "printf keep > kept.ts" 'kept.ts.partial-*' "$cli" cut --yes -o kept.ts big.ts:0:end
[ "$(cat kept.ts)" = keep ] ; check "the existing output is untouched" $?
interrupt "rm -f new.ts" 'new.ts.partial-*' "$cli" cut -o new.ts big.ts:0:end
[ ! -e new.ts ] ; check "no output under the final name" $?
interrupt "rm -f big.ts.txt" 'big.ts.txt.partial-*' "$cli" index big.ts
[ ! -e big.ts.txt ] ; check "no index under the final name" $?

# Output names that lead onto the recording: every writer refuses, the
# recording and the link stay as they were.
cp sd_480p_mp2.ts ln.ts
sum=$(md5sum < ln.ts)
ln -s ln.ts ln.ts.txt
ln -s "$work/ln.ts" ln.ts_err.bin
ln -s ln.ts ln.png
for cmd in "index ln.ts" "gops --no ln.ts" "info --gop 0 ln.ts" "cut -o lncut.ts ln.ts:1:3" "check ln.ts" \
           "preview ln.ts --position 0 -o ln.png"; do
    $cli $cmd > /dev/null 2> err ; rc=$?
    [ $rc -eq 1 ] && grep -Eqx "error: 出力ファイルが入力ファイルと同じです: ln.(ts.txt|ts_err.bin|png)" err
    check_status $? "$cmd with a link onto the recording (rc $rc): $(cat err)"
done
[ "$(md5sum < ln.ts)" = "$sum" ] && [ -L ln.ts.txt ] && [ -L ln.ts_err.bin ] && [ -L ln.png ]
check "the recording and the links are intact" $?
rm ln.ts.txt ln.ts_err.bin ln.png

# FIFOs at the index and error-file names never block: index and check
# refuse them, the tools keep their list in memory.
cp sd_480p_mp2.ts fifo.ts
mkfifo fifo.ts.txt fifo.ts_err.bin
for cmd in "index fifo.ts" "check fifo.ts"; do
    timeout 20 $cli $cmd > /dev/null 2> err ; rc=$?
    [ $rc -eq 1 ] && grep -Eqx "error: Output ファイルオープンエラー: fifo.ts(.txt|_err.bin): not a regular file" err
    check_status $? "$cmd with a FIFO at the output name (rc $rc): $(cat err)"
done
for cmd in "gops fifo.ts" "cut -o fifocut.ts fifo.ts:1:3" "preview fifo.ts --gop 1 -o fifo.png" "info --gop 1 fifo.ts"; do
    timeout 20 $cli $cmd > /dev/null 2> err ; rc=$?
    [ $rc -eq 0 ] && grep -qx "note: no GOP index saved: fifo.ts.txt: not a regular file" err
    check_status $? "$cmd with a FIFO at the index name (rc $rc): $(cat err)"
done
[ -p fifo.ts.txt ] && [ -p fifo.ts_err.bin ] ; check "the FIFOs are left alone" $?

# A file-size limit ends cut and index with a write error, not SIGXFSZ,
# and leaves nothing behind.
(ulimit -f 200; "$cli" cut -o xfsz.ts big.ts:0:end) 2> err ; rc=$?
[ $rc -eq 1 ] && grep -qx "error: 書き込みエラー: xfsz.ts: File too large" err
check_status $? "cut past the file-size limit (rc $rc): $(cat err)"
rm -f big.ts.txt
(ulimit -f 1; "$cli" index big.ts) > /dev/null 2> err ; rc=$?
[ $rc -eq 1 ] && grep -qx "error: 書き込みエラー: big.ts.txt: File too large" err
check_status $? "index past the file-size limit (rc $rc): $(cat err)"
[ -z "$(compgen -G 'xfsz.ts*')" ] && [ -z "$(compgen -G 'big.ts.txt*')" ] ; check "no file left past the limit" $?

# Packets that change from 188 to 192 bytes part-way: said, not refused.
python3 -c '
import sys
d = open("sd_480p_mp2.ts", "rb").read()
half = len(d) // 188 // 2
out = d[:half * 188] + b"".join(b"\0\0\0\0" + d[i:i + 188] for i in range(half * 188, len(d), 188))
open("mixed.ts", "wb").write(out)
print(half)' > mixed.at
at=$(cat mixed.at)
"$cli" index mixed.ts > /dev/null 2> err ; rc=$?
[ $rc -eq 0 ] && grep -qx "note: no sync byte at packet $at: mixed.ts" err ; check_status $? "index notes the change (rc $rc): $(cat err)"
"$cli" check mixed.ts > /dev/null 2> err ; rc=$?
[ $rc -eq 0 ] && grep -qx "note: no sync byte at packet $at: mixed.ts" err ; check_status $? "check notes the change (rc $rc): $(cat err)"
"$cli" cut -o mixed_out.ts mixed.ts:0:end 2> err ; rc=$?
[ $rc -eq 0 ] && grep -Eqx "note: [0-9]+ packets copied without a sync byte: mixed_out.ts" err
check_status $? "cut counts the packets without sync byte (rc $rc): $(cat err)"

# A full disk where the recording lies: the tools cut from a list kept in
# memory, index fails and leaves nothing. Needs a small tmpfs (root).
if [ "$(id -u)" -eq 0 ] && mkdir tiny && mount -t tmpfs -o size=3m tmpfs tiny 2> /dev/null; then
    trap 'umount "$work/tiny"; chmod -R u+w "$work"; rm -rf "$work"' EXIT
    cp hd_1080i_aac.ts tiny/rec.ts
    dd if=/dev/zero of=tiny/fill bs=4k 2> /dev/null  # until the disk is full
    "$cli" cut -o fullcut.ts tiny/rec.ts:1:3 2> err ; check_status $? "cut from a full disk: $(cat err)"
    "$cli" cut -o ref.ts hd_1080i_aac.ts:1:3 2> /dev/null
    cmp -s fullcut.ts ref.ts && grep -qx "note: no GOP index saved: tiny/rec.ts.txt: No space left on device" err
    check_status $? "cut output and note: $(cat err)"
    "$cli" index tiny/rec.ts > /dev/null 2> err ; rc=$?
    # The index is written at its end in one piece: the message of its last line.
    [ $rc -eq 1 ] && grep -qx "error: パケット情報書き込みエラー: tiny/rec.ts.txt: No space left on device" err
    check_status $? "index onto a full disk (rc $rc): $(cat err)"
    [ -z "$(compgen -G 'tiny/rec.ts.txt*')" ] ; check "no index or temporary file on the full disk" $?
elif [ "${CI:-}" = true ]; then
    check "a small tmpfs for the full-disk checks (root, mount)" 1
else
    echo "skipped: the full-disk checks need root to mount a tmpfs"
fi

# A terminal gets one progress line per step that ends at 100 %.
if command -v script > /dev/null; then
    script -qec "'$cli' index hd_1080i_aac.ts > /dev/null" /dev/null > tty.out
    grep -q $'\rindex hd_1080i_aac.ts 100%\r$' tty.out && [ "$(grep -c . tty.out)" -eq 1 ] ; check "progress line on a terminal" $?
fi

# Preview values: bad values are usage errors, positions past the file failures.
size=$(stat -c %s sd_480p_mp2.ts)
for args in "--position -1" "--position 99999999999999999999" "--gop -2" "--gop 0 --aspect 5" \
            "--gop 0 --grade 3" "--gop 0 --pid 2000"; do
    "$cli" preview sd_480p_mp2.ts $args -o p.png > /dev/null 2>&1 ; rc=$?
    [ $rc -eq 2 ] ; check "preview $args is a usage error (rc $rc)" $?
done
for args in "--position $size" "--position 9223372036854775807" "--gop 7"; do
    "$cli" preview sd_480p_mp2.ts $args -o p.png > /dev/null 2> err ; rc=$?
    [ $rc -eq 1 ] && grep -q "^error: " err ; check "preview $args fails (rc $rc)" $?
done
[ ! -e p.png ] ; check "no picture written by refused previews" $?

# A 256 MB error file (2^24 records) under a 2 GB address-space limit:
# errors prints the whole tree with bounded memory, and never aborts.
python3 -c '
import sys
with open(sys.argv[1], "wb") as f:
    f.write(b"TS Error Check\r\n")
    f.truncate(16 + 256 * 1024 * 1024)' huge.ts_err.bin
# An AddressSanitizer or ThreadSanitizer build reserves terabytes of address
# space for its shadow memory: it runs without the limit.
limit=2000000
ldd "$cli" 2> /dev/null | grep -Eq "lib[at]san" && limit=unlimited
(ulimit -v $limit; timeout 300 "$cli" errors huge.ts 2> err | wc -l > lines; exit "${PIPESTATUS[0]}") ; rc=$?
[ $rc -eq 0 ] && [ "$(cat lines)" -eq $((3 + 16777216)) ] && [ ! -s err ]
check_status $? "errors of a 256 MB error file under ulimit -v $limit (rc $rc, $(cat lines) lines): $(head -c 300 err)"
rm -f huge.ts_err.bin

# Honest exit codes and printed names: a selection that keeps no stream, a
# rebuilt index, a recording without GOPs, a refused overwrite, a line break
# in a file name.
python3 -c '
import sys
d = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(b"".join(d[i:i + 188] for i in range(0, len(d), 188)
                                       if (d[i + 1] & 0x1F) << 8 | d[i + 2] != 0x1000))' sd_480p_mp2.ts nopmt.ts
"$cli" cut --minimum-pids -o tables.ts nopmt.ts:1:3 2> err ; rc=$?
[ $rc -eq 1 ] && grep -qx "error: --minimum-pids: keeps no video, audio or other stream of the program list of nopmt.ts (0000,1000); the output would hold no stream" err
check_status $? "--minimum-pids without a PMT refused (rc $rc): $(cat err)"
"$cli" cut --select-pids 0000,1000,1FFF -o tables.ts sd_480p_mp2.ts:1:3 2> err ; rc=$?
[ $rc -eq 1 ] && grep -q "^error: --select-pids 0000,1000,1FFF: keeps no video, audio or other stream of the program list of sd_480p_mp2.ts" err
check_status $? "--select-pids of tables only refused (rc $rc): $(cat err)"
[ ! -e tables.ts ] ; check "nothing written for a selection without a stream" $?
cp sd_480p_mp2.ts hdr.ts
n=0
for cmd in "gops hdr.ts" "cut -o hdr_cut.ts hdr.ts:1:3" "preview hdr.ts --gop 1 -o hdr.png" "info --gop 1 hdr.ts"; do
    case $((n++)) in
    0) : > hdr.ts.txt ;;
    1) printf '\xef\xbb\xbfKIVRA2\r\nhdr.ts\r\n' > hdr.ts.txt ;;
    2) printf 'KIVRA2\rhdr.ts\rLAST       ,5961\r' > hdr.ts.txt ;;
    3) head -c 300 "$data/random_bytes.bin" > hdr.ts.txt ;;
    esac
    $cli $cmd > /dev/null 2> err ; rc=$?
    [ $rc -eq 0 ] && grep -qx "note: ファイルヘッダエラー: hdr.ts.txt: index rebuilt" err && ! grep -q '^error: ' err &&
        [ "$(head -1 hdr.ts.txt)" = $'KIVRA2\r' ]
    check_status $? "$cmd with a bad index header rebuilds it and exits 0 (rc $rc): $(cat err)"
done
cp "$data"/no_video.ts .
for cmd in "cut -o nv.ts no_video.ts:0:end" "preview no_video.ts --gop 0 -o nv.png"; do
    $cli $cmd > /dev/null 2> err ; rc=$?
    [ $rc -eq 1 ] && [ "$(cat err)" = "error: no GOP found: no_video.ts" ] ; check_status $? "$cmd (rc $rc): $(cat err)"
done
printf keep > exists.ts
"$cli" cut -o exists.ts sd_480p_mp2.ts:1:3 < /dev/null 2> err ; rc=$?
[ $rc -eq 1 ] && grep -q '^question: ' err && grep -q '\[no\]$' err &&
    grep -qx "error: exists.ts: exists; give --yes to replace it" err && [ "$(cat exists.ts)" = keep ]
check_status $? "a refused overwrite is an error (rc $rc): $(cat err)"
touch -d '+1 hour' hdr.ts
"$cli" gops --no hdr.ts > /dev/null 2> err ; rc=$?
[ $rc -eq 0 ] && grep -q '^question: ' err ; check_status $? "gops keeping a stale index exits 0 (rc $rc): $(cat err)"
cp sd_480p_mp2.ts $'a\nerror: injected.ts'
"$cli" check $'a\nerror: injected.ts' > names.out 2> names.err ; check_status $? "check of a name with a line break"
"$cli" cut -o x.ts $'b\nerror: forged.ts:0:1' 2>> names.err
! grep -q '^error: injected\|^error: forged' names.out names.err &&
    grep -q $'^"a\\\\nerror: injected.ts"\tpackets=5961\t' names.out &&
    grep -qx 'error: Input ファイルオープンエラー: "b\\nerror: forged.ts": No such file or directory' names.err
check_status $? "control characters in names are escaped: $(cat names.out names.err)"
cp sd_480p_mp2.ts 録画.ts
[ "$("$cli" index 録画.ts | cut -f1)" = 録画.ts ] ; check "a Japanese name prints unchanged" $?

report "cli robust e2e"
