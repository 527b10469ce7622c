#!/usr/bin/env bash
# Installs a build tree the way a user does and checks what lands:
#   1. cmake --install into a temporary prefix; the installed tavrelcut-cli
#      indexes a recording and lists its GOPs, the programs find libkivra.so.1
#      inside the prefix through their run path (also after the prefix is
#      moved), tavrelcut --version runs, help.html is in share/tavrelcut; no
#      run path, installed or in the build tree, has an entry that resolves
#      from the working folder, so libraries planted there are never loaded;
#   2. the desktop entry passes desktop-file-validate and its icon is there;
#   3. a C program built with pkg-config --cflags --libs kivra against the
#      installed header and library decodes a picture;
#   4. both manual pages render, the tavrelcut-cli page holds every command
#      that tavrelcut-cli --help lists;
#   5. cpack -G DEB makes tavrelcut_*.deb with a Depends line naming Qt 6 and
#      the files above, and its programs run from the unpacked package.
# Usage: install_e2e.sh BUILD_DIR DATA_DIR (BUILD_DIR: built with the desktop
# program). $CMAKE and $CPACK name the tools (default: from PATH). A missing
# tool skips the test (exit 77), or fails it when CI=true.
set -u
build=$1
data=$2
cmake=${CMAKE:-cmake}
cpack=${CPACK:-cpack}
src=$(cd "$(dirname "$0")/.." && pwd)

. "$(dirname "$0")/e2e_lib.sh"
require_tools "$cmake" "$cpack" cc ldd readelf pkg-config desktop-file-validate man help2man gzip dpkg-deb dpkg-shlibdeps \
    file
make_workdir
unset LD_LIBRARY_PATH  # the run path alone must find the library

# 1. Install into an unusual prefix.
prefix=$work/odd.prefix-1/tc
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1
rc=$?
check_status $rc "cmake --install (log below)"
[ $rc -eq 0 ] || cat "$work/install.log"
for f in bin/tavrelcut bin/tavrelcut-cli include/kivra.h share/tavrelcut/help.html \
         share/applications/tavrelcut.desktop share/icons/hicolor/scalable/apps/tavrelcut.svg \
         share/man/man1/tavrelcut.1.gz share/man/man1/tavrelcut-cli.1.gz; do
    [ -f "$prefix/$f" ] ; check_status $? "installed $f"
done
lib=$(find "$prefix" -name libkivra.so.1)
[ -n "$lib" ] ; check_status $? "installed libkivra.so.1"
pc=$(find "$prefix" -name kivra.pc)
[ -n "$pc" ] ; check_status $? "installed kivra.pc"
[ ! -e "$prefix/bin/help.html" ] ; check_status $? "no help.html in bin"
cmp -s "$src/app/help.html" "$prefix/share/tavrelcut/help.html" ; check_status $? "installed help.html is app/help.html"

for p in tavrelcut tavrelcut-cli; do
    ldd "$prefix/bin/$p" > "$work/ldd" 2>&1
    grep -q "libkivra.so.1 => $prefix/" "$work/ldd" ; check_status $? "$p finds libkivra.so.1 in the prefix: $(grep kivra "$work/ldd")"
    ! grep -q "not found" "$work/ldd" ; check_status $? "$p: every library found: $(grep 'not found' "$work/ldd")"
done

# Run paths: every entry absolute or relative to the file ($ORIGIN). An
# empty entry (CMake pads a run path it rewrites at install time with one)
# or a relative one is searched from the working folder.
bad_run_path() {  # ELF FILE: prints the entries of its run path that name no fixed folder
    readelf -d "$1" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p' |
        awk -F: '{ if ($0 == "") print "(empty)"
                   for (i = 1; i <= NF; ++i) if ($i !~ /^(\/|\$ORIGIN(\/|$)|\$\{ORIGIN\}(\/|$))/) print ($i == "" ? "(empty)" : $i) }'
}
check_run_paths() {  # LABEL FILE...: one check per file
    local label=$1 f bad
    shift
    for f in "$@"; do
        bad=$(bad_run_path "$f" | paste -sd' ')
        [ -z "$bad" ] ; check_status $? "$label $f: run path without $bad ($(readelf -d "$f" | grep -o 'path: .*'))"
    done
}
check_run_paths installed "$prefix/bin/tavrelcut" "$prefix/bin/tavrelcut-cli" "$lib"
for p in tavrelcut tavrelcut-cli; do
    readelf -d "$prefix/bin/$p" | grep -q 'RUNPATH.*\[\$ORIGIN/\.\./[^]:]*\]$' ; check_status $? "$p: one run path, \$ORIGIN/../LIBDIR"
done
# The build tree: the programs and the library by name, then every other
# program and shared library in it.
built_libs=$(find "$build" -name libkivra.so.1)
[ -n "$built_libs" ] ; check_status $? "libkivra.so.1 in the build tree"
check_run_paths "build tree" "$build/cli/tavrelcut-cli" "$build/app/tavrelcut" $built_libs
others=$(find "$build" -type f \( -perm -u+x -o -name '*.so*' \) -not -path '*/CMakeFiles/*' | while IFS= read -r f; do
    [ "$(head -c 4 "$f" | tr -d '\0')" = $'\x7fELF' ] && [ -n "$(bad_run_path "$f")" ] && echo "$f"
done)
[ -z "$others" ] ; check_status $? "no other program or library of the build tree has such a run path: $others"
# A folder holding libraries of the needed names that do not load: the
# programs of both trees start from it all the same.
mkdir "$work/planted"
head -c 64 /dev/zero > "$work/planted/libgcc_s.so.1"
head -c 64 /dev/zero > "$work/planted/libkivra.so.1"
for p in "$build/cli/tavrelcut-cli" "$build/app/tavrelcut" "$prefix/bin/tavrelcut-cli" "$prefix/bin/tavrelcut"; do
    (cd "$work/planted" && QT_QPA_PLATFORM=offscreen "$p" --version > "$work/planted.out" 2>&1)
    check_status $? "$p runs from a folder with planted libraries: $(cat "$work/planted.out")"
done

mkdir "$work/rec"
cp "$data/sd_480p_mp2.ts" "$work/rec/"
rec=$work/rec/sd_480p_mp2.ts
# Older than any index made of it: an index written in the same clock tick
# as the copy would count as stale and make gops ask.
touch -d '1 hour ago' "$rec"
run_cli() {  # PREFIX: index and gops of the recording with that prefix's tavrelcut-cli
    local cli=$1/bin/tavrelcut-cli out
    rm -f "$rec.txt"
    out=$("$cli" index "$rec" 2>&1)
    check_status $? "installed cli index exit status: $out"
    echo "$out" | grep -q "sd_480p_mp2.ts	packet=188	video_pid=0x0100	gops=7	packets=5961" ; check_status $? "index summary: $out"
    "$cli" gops "$rec" > "$work/gops.out" 2>&1 < /dev/null
    check_status $? "installed cli gops exit status"
    [ "$(wc -l < "$work/gops.out")" -eq 8 ] ; check_status $? "gops prints 8 entries"
    tail -1 "$work/gops.out" | grep -q "^7	FFFF	LAST       	LAST       	0	5961$" ; check_status $? "gops LAST line"
}
run_cli "$prefix"
"$prefix/bin/tavrelcut-cli" --version | grep -qx 'tavrelcut-cli [0-9.]*' ; check_status $? "tavrelcut-cli --version"
QT_QPA_PLATFORM=offscreen "$prefix/bin/tavrelcut" --version > "$work/gui_version" 2>&1
check_status $? "tavrelcut --version exit status: $(cat "$work/gui_version")"
grep -qx 'tavrelcut [0-9.]*' "$work/gui_version" ; check_status $? "tavrelcut --version text: $(cat "$work/gui_version")"

# 2. The desktop entry and its icon.
desktop=$prefix/share/applications/tavrelcut.desktop
desktop-file-validate "$desktop" > "$work/dfv" 2>&1
check_status $? "desktop-file-validate: $(cat "$work/dfv")"
[ ! -s "$work/dfv" ] ; check_status $? "desktop-file-validate has no hints: $(cat "$work/dfv")"
grep -qx 'Exec=tavrelcut %f' "$desktop" ; check_status $? "desktop Exec"
grep -qx 'Icon=tavrelcut' "$desktop" ; check_status $? "desktop Icon"
grep -qx 'MimeType=video/mp2t;' "$desktop" ; check_status $? "desktop MimeType"
grep -q '^Comment\[ja\]=' "$desktop" ; check_status $? "desktop Japanese comment"
for s in 16 32 48 64 128 256; do
    file "$prefix/share/icons/hicolor/${s}x$s/apps/tavrelcut.png" | grep -q "PNG image data, $s x $s," ; check_status $? "icon ${s}x$s"
done

# 3. A program built with pkg-config against the installed library.
cat > "$work/use_kivra.c" << 'EOF'
#include <kivra.h>
#include <stdio.h>

static int frames, width, height;
static void onFrame(void* user, const TavrelDecFrame* f) {
    (void)user;
    ++frames;
    width = f->width;
    height = f->height;
}
static void onDraw(void* user, KivraWindow w, const uint8_t* h, const uint8_t* p, int32_t dw, int32_t dh, int32_t m) {
    (void)user; (void)w; (void)h; (void)p; (void)dw; (void)dh; (void)m;
}
static void onResize(void* user, KivraWindow n, KivraWindow w, uint32_t wh) {
    (void)user; (void)n; (void)w; (void)wh;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    TavrelDecHost host = {0};
    host.draw = onDraw;
    host.postResize = onResize;
    host.frame = onFrame;
    TavrelDecInit init = {0};
    init.path = argv[1];
    TavrelDecRead read = {0};
    read.videoPid = 0x100;
    read.aspectMode = 9;
    if (SetHostCallbacks(&host) != 1 || SetPackSize(188) != 1) return 1;
    const int level = TsOpen(&init);
    const int rc = TsRead(&read);
    const int closed = TsClose();
    printf("simd=%d read=%d close=%d frames=%d size=%dx%d\n", level, rc, closed, frames, width, height);
    return 0;
}
EOF
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")
flags=$(pkg-config --cflags --libs kivra)
check_status $? "pkg-config --cflags --libs kivra"
echo "$flags" | grep -q -- "-I$prefix/include" ; check_status $? "pkg-config include dir in the prefix: $flags"
cc -std=c11 -Wall -Wextra -Werror -o "$work/use_kivra" "$work/use_kivra.c" $flags > "$work/cc.log" 2>&1
check_status $? "C program builds with kivra.pc: $(cat "$work/cc.log")"
out=$(LD_LIBRARY_PATH=$(pkg-config --variable=libdir kivra) "$work/use_kivra" "$rec")
check_status $? "C program runs"
echo "$out" | grep -Eq '^simd=[1-9][0-9]* read=1 close=1 frames=1 size=720x480$' ; check_status $? "C program decodes through libkivra: $out"

# 4. The manual pages.
export MANWIDTH=80
man -l "$prefix/share/man/man1/tavrelcut.1.gz" > "$work/gui.man" 2> "$work/man.err"
check_status $? "man tavrelcut: $(cat "$work/man.err")"
grep -q -- '--ini' "$work/gui.man" ; check_status $? "tavrelcut page has --ini"
grep -q '^SYNOPSIS' "$work/gui.man" && grep -q 'tavrelcut \[options\] \[RECORDING\]' "$work/gui.man"
check_status $? "tavrelcut page synopsis"
man -l "$prefix/share/man/man1/tavrelcut-cli.1.gz" > "$work/cli.man" 2> "$work/man.err"
check_status $? "man tavrelcut-cli: $(cat "$work/man.err")"
version=$("$prefix/bin/tavrelcut-cli" --version | cut -d' ' -f2)
grep -q "Tavrel Cutter $version" "$work/cli.man" ; check_status $? "cli page of this version ($version)"
commands=$("$prefix/bin/tavrelcut-cli" --help | sed -n '/^commands:$/,/^$/s/^  \([a-z][a-z0-9-]*\) .*/\1/p')
[ "$(echo "$commands" | wc -w)" -ge 5 ] ; check_status $? "commands in tavrelcut-cli --help: $commands"
for c in $commands; do
    grep -q "usage: tavrelcut-cli $c " "$work/cli.man" ; check_status $? "cli page has the help of '$c'"
done
grep -q -- '--discon' "$work/cli.man" ; check_status $? "cli page has the check option --discon"

# The prefix moved elsewhere still works: nothing in it names the old place.
mv "$prefix" "$work/moved"
run_cli "$work/moved"
QT_QPA_PLATFORM=offscreen "$work/moved/bin/tavrelcut" --version > /dev/null 2>&1 ; check_status $? "moved tavrelcut runs"

# 5. The .deb.
(cd "$build" && "$cpack" -G DEB -B "$work/deb") > "$work/cpack.log" 2>&1
rc=$?
check_status $rc "cpack -G DEB (log below)"
[ $rc -eq 0 ] || cat "$work/cpack.log"
debs=("$work"/deb/tavrelcut_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] ; check_status $? "one tavrelcut_*.deb: ${debs[*]}"
deb=${debs[0]}
dpkg-deb --info "$deb" > "$work/info" 2>&1
check_status $? "dpkg-deb --info"
grep -q '^ Package: tavrelcut$' "$work/info" ; check_status $? "package name"
depends=$(grep '^ Depends:' "$work/info")
echo "$depends" | grep -Eq 'libqt6(widgets|gui|core)6' ; check_status $? "Depends names Qt 6: $depends"
echo "$depends" | grep -q 'libc6' ; check_status $? "Depends names libc6: $depends"
! echo "$depends" | grep -q kivra ; check_status $? "Depends does not ask for libkivra (it is in the package): $depends"
dpkg-deb --contents "$deb" | awk '{print $6}' > "$work/contents"
for re in '^\./usr/bin/tavrelcut$' '^\./usr/bin/tavrelcut-cli$' '^\./usr/lib/(.*/)?libkivra\.so\.1$' \
          '^\./usr/include/kivra\.h$' '^\./usr/lib/(.*/)?pkgconfig/kivra\.pc$' \
          '^\./usr/share/applications/tavrelcut\.desktop$' '^\./usr/share/man/man1/tavrelcut\.1\.gz$' \
          '^\./usr/share/man/man1/tavrelcut-cli\.1\.gz$' '^\./usr/share/icons/hicolor/256x256/apps/tavrelcut\.png$' \
          '^\./usr/share/icons/hicolor/scalable/apps/tavrelcut\.svg$' '^\./usr/share/tavrelcut/help\.html$'; do
    grep -Eq "$re" "$work/contents" ; check_status $? "deb holds $re"
done
dpkg-deb -x "$deb" "$work/unpacked" ; check_status $? "dpkg-deb -x"
check_run_paths packaged "$work/unpacked/usr/bin/tavrelcut" "$work/unpacked/usr/bin/tavrelcut-cli" \
    "$(find "$work/unpacked" -name libkivra.so.1)"
grep -qx 'prefix=/usr' "$(find "$work/unpacked" -name kivra.pc)" ; check_status $? "packaged kivra.pc has prefix /usr"
run_cli "$work/unpacked/usr"
QT_QPA_PLATFORM=offscreen "$work/unpacked/usr/bin/tavrelcut" --version > /dev/null 2>&1 ; check_status $? "packaged tavrelcut runs"

report
