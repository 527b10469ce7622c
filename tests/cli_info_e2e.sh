#!/usr/bin/env bash
# End-to-end checks of tavrelcut-cli info: the start packet options, the
# text's line ends, failures and usage errors.
set -u
cli=$1
data=$2
. "$(dirname "$0")/e2e_lib.sh"
make_workdir

cp "$data/sd_480p_mp2.ts" "$data/random_bytes.bin" "$work"/
rec="$work/sd_480p_mp2.ts"

"$cli" info "$rec" > "$work/zero.out" 2> "$work/zero.err"
check "info exit status" $?
[ ! -s "$work/zero.err" ] ; check "info prints nothing on stderr" $?
if grep -q $'\r' "$work/zero.out"; then check "LF line ends only" 1; else check "LF line ends only" 0; fi
[ "$(tail -c 1 "$work/zero.out" | od -An -c | tr -d ' ')" = '\n' ] ; check "text ends with its line end" $?
head -2 "$work/zero.out" | tr '\n' '|' | grep -qx '| < Video >|' ; check "text starts with the empty line and < Video >" $?
[ "$(grep -c '^    ' "$work/zero.out")" -eq 13 ] ; check "13 value lines" $?

# --gop N starts at GOP N's packet, the same as --packet with that number.
"$cli" gops "$rec" > "$work/gops.out" 2>/dev/null
packet2=$(awk -F'\t' '$1 == 2 { print $6 }' "$work/gops.out")
pts2=$(awk -F'\t' '$1 == 2 { print $4 }' "$work/gops.out")
"$cli" info --gop 2 "$rec" > "$work/gop2.out" 2>/dev/null
check "info --gop exit status" $?
"$cli" info --packet "$packet2" "$rec" > "$work/packet2.out" 2>/dev/null
check "info --packet exit status" $?
cmp -s "$work/gop2.out" "$work/packet2.out" ; check "--gop 2 equals --packet $packet2" $?
grep -qx "    Video PTS     = $pts2" "$work/gop2.out" ; check "GOP 2's video PTS ($pts2)" $?
if cmp -s "$work/zero.out" "$work/gop2.out"; then check "GOP 2 differs from packet 0" 1; else check "GOP 2 differs from packet 0" 0; fi

# Failures and usage errors.
"$cli" info --gop 99 "$rec" > /dev/null 2> "$work/range.err"
[ $? -eq 1 ] ; check "GOP out of range exits 1" $?
grep -q "^error: GOP 99 is out of range" "$work/range.err" ; check "out of range message" $?
"$cli" info "$work/random_bytes.bin" > "$work/bad.out" 2> "$work/bad.err"
[ $? -eq 1 ] ; check "not a transport stream exits 1" $?
grep -q "ＰＩＤ情報の取得に失敗しました" "$work/bad.err" ; check "PID failure message" $?
[ ! -s "$work/bad.out" ] ; check "no text on failure" $?
"$cli" info --gop 1 --packet 5 "$rec" > /dev/null 2>&1
[ $? -eq 2 ] ; check "--gop with --packet is a usage error" $?

report
