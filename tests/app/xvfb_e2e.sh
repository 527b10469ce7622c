#!/usr/bin/env bash
# tavrelcut on a real X server (Xvfb, no window manager), driven the way a
# user drives it: started with a recording, keys typed through XTEST, closed
# with Escape. What it shows is read back from screenshots of the screen:
#   - the picture area shows GOP 0's I picture, compared by PSNR with an
#     independent ffmpeg decode of that picture scaled to the same size;
#   - five Right presses on the focused slider show GOP 5's I picture (found
#     through the byte position the program wrote into the GOP index file);
#   - Escape ends the program and the settings file holds the window's place.
# Usage: xvfb_e2e.sh TAVRELCUT DATA_DIR
# Needs Xvfb, xdotool, ImageMagick's import, ffmpeg/ffprobe and python3; when
# one is missing the test is skipped (exit 77), or fails under CI=true.
# XVFB_E2E_KEEP=1 keeps the work folder (screenshots, pictures, log).
set -u
app=$1
data=$2

. "$(dirname "$0")/../e2e_lib.sh"
require_tools Xvfb xdotool import ffmpeg ffprobe python3

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2> /dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
    wait 2> /dev/null
    if [ -n "${XVFB_E2E_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
finish() {
    report
    exit
}

# Screen analysis, standard library only. Screenshots are binary PPMs.
cat > "$work/pic.py" <<'PY'
import math, subprocess, sys, time

LIGHT = (240, 245, 255)   # an empty picture area
AREA_W, AREA_H = 270, 202

def ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", "not an 8-bit P6 PPM"
    return int(fields[1]), int(fields[2]), data[pos + 1:]

def locate(path):
    """The picture area is the only place painted in the light colour: its
    bounding box gives the area's left edge and bottom; the picture is drawn
    at the area's top-left corner, as wide as the area, and its height is
    the number of rows above the first all-light row."""
    w, h, px = ppm(path)
    light = bytes(LIGHT)
    xs, ys = [], []
    for y in range(h):
        row = px[y * w * 3:(y + 1) * w * 3]
        i = row.find(light)
        while i >= 0:
            if i % 3 == 0:
                xs.append(i // 3); ys.append(y)
                break
            i = row.find(light, i + 1)
        j = row.rfind(light)
        while j >= 0 and j % 3:
            j = row.rfind(light, 0, j + 2)
        if j >= 0:
            xs.append(j // 3)
    if not xs:
        return None
    left, right, bottom = min(xs), max(xs), max(ys)
    top = bottom - AREA_H + 1
    if right - left + 1 != AREA_W or top < 0:
        return None
    rows = 0
    for y in range(top, bottom + 1):
        row = px[(y * w + left) * 3:(y * w + left + AREA_W) * 3]
        if row == light * AREA_W:
            break
        rows += 1
    return left, top, AREA_W, rows

def crop(path, box):
    w, h, px = ppm(path)
    x, y, cw, ch = box
    return b"".join(px[(r * w + x) * 3:(r * w + x + cw) * 3] for r in range(y, y + ch))

def luma_psnr(a, b):
    """PSNR of the BT.601 luma of two RGB24 buffers of the same size."""
    assert len(a) == len(b) and a, "sizes differ"
    se = 0.0
    for i in range(0, len(a), 3):
        d = 0.299 * (a[i] - b[i]) + 0.587 * (a[i + 1] - b[i + 1]) + 0.114 * (a[i + 2] - b[i + 2])
        se += d * d
    mse = se / (len(a) // 3)
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)

def wait(out, seconds, ref=None, threshold=0.0):
    """Screenshots until the picture area holds the same picture twice in a
    row (and, with ref, one that matches it); writes the picture to out and
    prints its box. Gives up after the given seconds."""
    shot = out + ".ppm"
    end = time.monotonic() + seconds
    last = None
    while time.monotonic() < end:
        subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:" + shot],
                       stderr=subprocess.DEVNULL, check=False)
        try:
            box = locate(shot)
        except (OSError, ValueError, AssertionError, IndexError):
            box = None  # no screenshot yet
        if box and box[3] > 0:
            now = (box, crop(shot, box))
            if now == last and (ref is None or luma_psnr(now[1], open(ref, "rb").read()) >= threshold):
                open(out, "wb").write(now[1])
                print(" ".join(map(str, box)))
                return 0
            last = now
        else:
            last = None
        time.sleep(0.1)
    if last:
        open(out, "wb").write(last[1])
        print(" ".join(map(str, last[0])))
    return 1

cmd = sys.argv[1]
if cmd == "wait":
    ref = sys.argv[4] if len(sys.argv) > 4 else None
    sys.exit(wait(sys.argv[2], float(sys.argv[3]), ref, float(sys.argv[5]) if ref else 0.0))
elif cmd == "psnr":
    print(f"{luma_psnr(open(sys.argv[2], 'rb').read(), open(sys.argv[3], 'rb').read()):.2f}")
PY
pic() { python3 "$work/pic.py" "$@"; }

# An X server of our own; -displayfd picks a free display number.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$(cat "$work/display")
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

rec=$work/rec.ts
ini=$work/settings/tavrelcut.ini
mkdir "$work/settings"
# An empty input list, so no first-start message box takes the keyboard.
: > "$work/settings/qxinput.txt"
cp "$data/hd_1080i_aac.ts" "$rec"

"$app" --ini "$ini" "$rec" > "$work/app.log" 2>&1 &
app_pid=$!

# The I picture whose PES starts at byte $1, decoded by ffmpeg and scaled to
# $2 x $3 with an area filter (the program scales with Qt's smooth filter).
decode_at() {
    local n
    n=$(ffprobe -v error -select_streams v:0 -show_entries frame=pkt_pos,pict_type -of csv=p=0 "$rec" |
        grep -v '^$' | awk -F, -v pos="$1" '$1 == pos && $2 == "I" { print NR - 1; exit }')
    [ -n "$n" ] || { echo "no I picture at byte $1" >&2; return 1; }
    ffmpeg -v error -y -i "$rec" -vf "select=eq(n\\,$n),scale=$2:$3:flags=area" -frames:v 1 \
        -f rawvideo -pix_fmt rgb24 "$4"
}

wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tavrel Cutter$' 2> /dev/null | head -1)
check "the main window is shown" $([ -n "$wid" ]; echo $?)
[ -n "$wid" ] || { cat "$work/app.log"; finish; }

box=$(pic wait "$work/gop0_shown.rgb" 15)
check "a picture is drawn in the picture area" $?
[ -n "$box" ] || { cat "$work/app.log"; finish; }
read -r _ _ pw ph <<< "$box"
# 1440x1080 with a 16:9 display aspect, 270 pixels wide (the area's width;
# a narrower picture would leave the light colour inside the compared box
# and fail the PSNR checks below): 152 +- 1 rows.
check "picture height is 16:9 of 270 (got $ph)" $([ $((ph - 152)) -ge -1 ] && [ $((ph - 152)) -le 1 ]; echo $?)

# The GOP index file the program wrote gives every GOP's packet number;
# its packet size line gives bytes per packet.
index=$rec.txt
check "the program wrote the GOP index file" $([ -s "$index" ]; echo $?)
psize=$(grep -a '^TSPAC_TYPE,' "$index" | cut -d, -f2 | tr -d '\r')
packet_of() { grep -a '^0100,' "$index" | sed -n "$(($1 + 1))p" | cut -d, -f5 | tr -d '\r'; }
p0=$(packet_of 0)
p5=$(packet_of 5)
check "index lists GOPs 0 and 5 with packet size 188 ($p0, $p5, $psize)" \
    $([ -n "$p0" ] && [ -n "$p5" ] && [ "$psize" = 188 ]; echo $?)
decode_at $((p0 * psize)) "$pw" "$ph" "$work/gop0_ref.rgb"
decode_at $((p5 * psize)) "$pw" "$ph" "$work/gop5_ref.rgb"

# Pictures are compared by the PSNR of their luma. The program converts to
# RGB and upsamples chroma its own way, which on the saturated colour bars
# of this recording costs the RGB PSNR some 10 dB even for the same picture;
# luma measures what is shown. The same picture measures 31-35 dB against
# ffmpeg's decode (the program's smooth scaler and IDCT are not ffmpeg's),
# GOP 0 against GOP 5 about 25.5 dB (the bars stay, the moving parts
# differ). A match needs 29 dB and must beat the other GOP by 3 dB.
threshold=29
margin=3
ok() { python3 -c "import sys; a, b = map(float, sys.argv[1:]); sys.exit(0 if a >= $threshold and a >= b + $margin else 1)" "$1" "$2"; }
s00=$(pic psnr "$work/gop0_shown.rgb" "$work/gop0_ref.rgb")
s05=$(pic psnr "$work/gop0_shown.rgb" "$work/gop5_ref.rgb")
echo "first picture: luma PSNR $s00 dB against GOP 0, $s05 dB against GOP 5"
ok "$s00" "$s05"; check "the first picture is GOP 0's I picture ($s00 dB, GOP 5: $s05 dB)" $?

# Five Right presses on the slider, which has the focus after the scan.
xdotool key --delay 50 Right Right Right Right Right
pic wait "$work/gop5_shown.rgb" 15 "$work/gop5_ref.rgb" "$threshold" > /dev/null
s55=$(pic psnr "$work/gop5_shown.rgb" "$work/gop5_ref.rgb")
s50=$(pic psnr "$work/gop5_shown.rgb" "$work/gop0_ref.rgb")
echo "after five Right presses: luma PSNR $s55 dB against GOP 5, $s50 dB against GOP 0"
ok "$s55" "$s50"; check "five Right presses show GOP 5's I picture ($s55 dB, GOP 0: $s50 dB)" $?

# Where the window is, for the settings check below (no window manager:
# the window sits exactly where the program put it).
eval "$(xdotool getwindowgeometry --shell "$wid")"
win_x=$X
win_y=$Y

# Escape closes the program, which writes its settings file.
xdotool key Escape
for _ in $(seq 100); do kill -0 "$app_pid" 2> /dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2> /dev/null; then
    check "Escape ends the program" 1
else
    wait "$app_pid"
    check "Escape ends the program with status 0" $?
fi
app_pid=
check "settings file written" $([ -s "$ini" ]; echo $?)
ini_value() {  # section key
    awk -v s="[$1]" -v k="$2" '{ sub(/\r$/, "") } $0 == s { on = 1; next } /^\[/ { on = 0 }
        on && index($0, k "=") == 1 { print substr($0, length(k) + 2); exit }' "$ini"
}
left=$(ini_value WND left)
top=$(ini_value WND top)
check "[WND] left/top ($left, $top) are the window's place ($win_x, $win_y)" \
    $([ "$left" = "$win_x" ] && [ "$top" = "$win_y" ]; echo $?)
[ "$fails" -eq 0 ] || { echo "--- program output"; cat "$work/app.log"; }
finish
