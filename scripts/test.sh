#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every
# test: unit and end-to-end (ctest; the desktop program's QtTest suites run
# offscreen and its end-to-end test on Xvfb), the ASan+UBSan build's tests,
# and a short libFuzzer run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages

echo "== build and test (warnings are errors)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_WERROR=ON -DTAVREL_TESTS=ON \
    -DTAVREL_GUI=ON >/dev/null
ninja -C build -j"$JOBS"
(cd build && ctest -j"$JOBS" --output-on-failure)

# The sanitizer build leaves the desktop program out to keep the run short:
# the engine and Kivra under it are covered here, the program's own tests
# run in the build above.
echo "== ASan + UBSan build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVREL_SANITIZE=ON -DTAVREL_TESTS=ON \
    -DTAVREL_GUI=OFF >/dev/null
ninja -C build-asan -j"$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest -j"$JOBS" --output-on-failure)
# The decoder's fuzz targets over mutated copies of the conformance streams.
ASAN_OPTIONS=detect_leaks=1 fuzz/kivra-smoke.sh build-asan 300

echo "== fuzz smoke run"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DTAVREL_FUZZ=ON -DTAVREL_TESTS=OFF >/dev/null
ninja -C build-fuzz -j"$JOBS"
scripts/fuzz-smoke.sh build-fuzz "${FUZZ_SECONDS:-5}"

echo "== all tests passed"
