#!/usr/bin/env bash
# End-to-end checks of tavrelcut-cli index and gops on the test recordings.
set -u
cli=$1
data=$2
. "$(dirname "$0")/e2e_lib.sh"
make_workdir

cp "$data"/*.ts "$data"/random_bytes.bin "$work"/

# index: one summary line per file, exit 0 when all succeed.
out=$("$cli" index "$work/sd_480p_mp2.ts" "$work/hd_1080i_aac_192.ts")
check "index exit status" $?
echo "$out" | grep -q "sd_480p_mp2.ts	packet=188	video_pid=0x0100	gops=7	packets=5961" ; check "sd summary: $out" $?
echo "$out" | grep -q "hd_1080i_aac_192.ts	packet=192	video_pid=0x1011	gops=6	" ; check "192 summary" $?
head -c 8 "$work/sd_480p_mp2.ts.txt" | grep -q KIVRA2 ; check "index file written" $?

# index and gops agree: the same file is written by both.
cp "$work/sd_480p_mp2.ts.txt" "$work/first.txt"
"$cli" gops --yes "$work/sd_480p_mp2.ts" > "$work/gops.out" 2>/dev/null
check "gops exit status" $?
cmp -s "$work/first.txt" "$work/sd_480p_mp2.ts.txt" ; check "gops rescan writes the same index" $?
[ "$(wc -l < "$work/gops.out")" -eq 8 ] ; check "gops prints 8 entries" $?
head -1 "$work/gops.out" | grep -Eq '^0	0100	00:00:00  00	[0-9:]+	[0-9]+	[0-9]+$' ; check "gops line format" $?
tail -1 "$work/gops.out" | grep -q "^7	FFFF	LAST       	LAST       	0	5961$" ; check "gops LAST line" $?

# --renumber and --gop-dir
mkdir "$work/gd"
"$cli" index --renumber --gop-dir "$work/gd" "$work/sd_480p_mp2.ts" > /dev/null
check "index --gop-dir" $?
sed -n 4p "$work/gd/sd_480p_mp2.ts.txt" | grep -q "^0100,00:00:00  15," ; check "renumbered second GOP" $?

# Bad input: non-zero exit, a message, no crash.
for f in empty.ts random_bytes.bin starts_mid_packet.ts missing.ts; do
    "$cli" index "$work/$f" > /dev/null 2> "$work/err"
    rc=$?
    [ $rc -eq 1 ] && grep -q '^error: ' "$work/err" ; check "index $f fails cleanly (rc $rc)" $?
done
"$cli" index "$work" > /dev/null 2>&1 ; [ $? -eq 1 ] ; check "index of a folder fails" $?
"$cli" index "$work/missing.ts" 2>&1 | grep -qx "error: Input ファイルオープンエラー: $work/missing.ts: No such file or directory"
check "missing file message names the file and the reason" $?
"$cli" index "$work/sd_480p_mp2.ts" "$work/empty.ts" > /dev/null 2>&1 ; [ $? -eq 1 ] ; check "one failure fails the run" $?

# A broken index is rebuilt by gops with a note naming it: no failure.
printf 'BROKEN\r\n' > "$work/sd_480p_mp2.ts.txt"
touch -d '+1 hour' "$work/sd_480p_mp2.ts.txt"
"$cli" gops "$work/sd_480p_mp2.ts" 2> "$work/err" > "$work/gops2.out" < /dev/null
[ $? -eq 0 ] ; check "gops after a broken index exits 0" $?
grep -qx "note: ファイルヘッダエラー: $work/sd_480p_mp2.ts.txt: index rebuilt" "$work/err" ; check "header error noted" $?
cmp -s <(head -7 "$work/gops.out") <(head -7 "$work/gops2.out") ; check "the list is printed all the same" $?
"$cli" gops "$work/sd_480p_mp2.ts" > /dev/null 2>&1 < /dev/null ; check "the rebuilt index loads" $?

# The index files agree with an independent model of the scan, with and
# without renumbering, for every packet size.
ref=$(dirname "$0")/index_reference.py
for f in sd_480p_mp2.ts sd_480p_204.ts sd_480p_208.ts hd_1080i_aac.ts hd_1080i_aac_192.ts mpeg2enc_i1.ts \
         two_video_pids.ts no_video.ts gop_header_next_packet.ts truncated_last_packet.ts; do
    for opt in "" --renumber; do
        python3 "$ref" $opt "$work/$f" > "$work/expected.txt"
        "$cli" index $opt "$work/$f" > /dev/null
        cmp -s "$work/expected.txt" "$work/$f.txt" ; check "index of $f $opt matches the model" $?
    done
done

# Help and version.
"$cli" --version | grep -q '^tavrelcut-cli ' ; check "version" $?
"$cli" index --help | grep -q '^usage: tavrelcut-cli index' ; check "index help" $?
"$cli" gops --help | grep -q '^usage: tavrelcut-cli gops' ; check "gops help" $?
"$cli" frobnicate > /dev/null 2>&1 ; [ $? -eq 2 ] ; check "unknown command" $?

report
