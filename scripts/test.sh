#!/usr/bin/env bash
# Installs what is missing, then builds and tests through the presets of
# CMakePresets.json:
#   dev   warnings as errors, every test: unit and end-to-end (ctest; the
#         desktop program's QtTest suites run offscreen and its end-to-end
#         test on Xvfb);
#   asan  the tests under ASan+UBSan, and the decoder's fuzz targets over
#         mutated conformance streams;
#   tsan  the same tests under ThreadSanitizer;
#   fuzz  a short libFuzzer run of every fuzz target;
# and last checks that every C and C++ source is formatted as .clang-format
# says.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages

echo "== build and test (warnings are errors)"
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$JOBS"
ctest --preset dev -j"$JOBS"

# The sanitizer builds leave the desktop program out: its own tests run in
# the build above. Under ASan it would only make the run longer; under TSan
# it cannot pass, as the distribution's Qt is not instrumented and every
# hand-over from a worker to the window goes through futexes TSan cannot see
# (README, "The two commands").
echo "== ASan + UBSan build"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$JOBS"
ctest --preset asan -j"$JOBS"
# The decoder's fuzz targets over mutated copies of the conformance streams.
ASAN_OPTIONS=detect_leaks=1 fuzz/kivra-smoke.sh build-asan 300

echo "== ThreadSanitizer build"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$JOBS"
ctest --preset tsan -j"$JOBS"

echo "== fuzz smoke run"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$JOBS"
scripts/fuzz-smoke.sh build-fuzz "${FUZZ_SECONDS:-5}"

echo "== format (clang-format)"
scripts/check-format.sh

echo "== all tests passed"
