#!/usr/bin/env bash
# Configures the source tree the way a user does, in temporary folders:
#   1. a plain configure (no options) builds and installs the desktop
#      program beside tavrelcut-cli and libkivra;
#   2. without Qt 6 it stops with a message that names -DTAVREL_GUI=OFF;
#   3. with -DTAVREL_GUI=OFF it configures without Qt 6 and leaves the
#      desktop program out.
# "Without Qt 6" is CMAKE_DISABLE_FIND_PACKAGE_Qt6, which hides an installed
# Qt from find_package. Usage: configure_e2e.sh SOURCE_DIR. $CMAKE names cmake
# and $GENERATOR the generator (defaults: cmake from PATH, CMake's own).
set -u
src=$1
cmake=${CMAKE:-cmake}
gen=()
[ -n "${GENERATOR:-}" ] && gen=(-G "$GENERATOR")

. "$(dirname "$0")/e2e_lib.sh"
require_tools "$cmake"
make_workdir

installs() {  # BUILD_DIR PROGRAM: whether the install rules install PROGRAM as an executable
    grep -rqs --include=cmake_install.cmake "TYPE EXECUTABLE FILES \"[^\"]*/$2\"" "$1"
}

# 1. Plain.
"$cmake" -S "$src" -B "$work/plain" "${gen[@]}" > "$work/plain.log" 2>&1
rc=$?
check_status $rc "plain configure (log below)"
[ $rc -eq 0 ] || cat "$work/plain.log"
grep -qx 'TAVREL_GUI:BOOL=ON' "$work/plain/CMakeCache.txt" ; check_status $? "TAVREL_GUI is on by default"
for p in tavrelcut tavrelcut-cli; do
    installs "$work/plain" "$p" ; check_status $? "a plain build installs $p"
done

# 2. No Qt 6, default options.
"$cmake" -S "$src" -B "$work/noqt" "${gen[@]}" -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON > "$work/noqt.log" 2>&1
rc=$?
[ $rc -ne 0 ] ; check_status $? "configuring without Qt 6 fails"
grep -q -- '-DTAVREL_GUI=OFF' "$work/noqt.log" ; check_status $? "the failure names -DTAVREL_GUI=OFF: $(grep -A3 'CMake Error' "$work/noqt.log")"

# 3. No Qt 6, -DTAVREL_GUI=OFF.
"$cmake" -S "$src" -B "$work/off" "${gen[@]}" -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON -DTAVREL_GUI=OFF \
    > "$work/off.log" 2>&1
rc=$?
check_status $rc "configuring with -DTAVREL_GUI=OFF without Qt 6 (log below)"
[ $rc -eq 0 ] || cat "$work/off.log"
installs "$work/off" tavrelcut-cli ; check_status $? "-DTAVREL_GUI=OFF installs tavrelcut-cli"
! installs "$work/off" tavrelcut ; check_status $? "-DTAVREL_GUI=OFF leaves tavrelcut out"

report configure
