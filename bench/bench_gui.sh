#!/usr/bin/env bash
# Times the desktop program's main window: start to shown, opening a
# >= 400 MB recording (GOP index made beforehand) to its first picture, and
# a 300-step slider drag at 60 changes per second (longest GUI-thread stall
# and the time to the final picture). Runs under Xvfb, like a desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages
cmake -S . -B build-bench-gui -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVREL_GUI=ON -DTAVREL_BENCH=ON \
    -DTAVREL_TESTS=OFF > /dev/null
ninja -C build-bench-gui -j"$JOBS" bench_gui tavrelcut-cli > /dev/null
big=$(bench/make-big.sh)
# The index file is newer than the recording, so opening only loads it.
build-bench-gui/cli/tavrelcut-cli index "$big" > /dev/null
cat "$big" > /dev/null  # warm the page cache
echo "recording $big ($(($(stat -L -c %s "$big") / 1000000)) MB)"
xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
    env -u QT_QPA_PLATFORM build-bench-gui/bench/bench_gui "$big" "${RUNS:-5}"
