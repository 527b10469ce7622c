#!/usr/bin/env bash
# Checks that every tracked C and C++ source (the test recordings' folder
# aside) is formatted as .clang-format says; names the files that are not.
# With --fix, formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
command -v "$clang_format" > /dev/null || { echo "format: $clang_format not found (scripts/deps.sh installs it)"; exit 1; }
mapfile -t sources < <(git ls-files -- '*.c' '*.cpp' '*.h' ':!:tests/data/**')
[ ${#sources[@]} -gt 0 ] || { echo "format: no sources found (not a git checkout?)"; exit 1; }
if [ "${1:-}" = --fix ]; then
    "$clang_format" -i -- "${sources[@]}"
    exit 0
fi
bad=()
for f in "${sources[@]}"; do
    "$clang_format" --dry-run --Werror -- "$f" > /dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
    echo "format: ${#bad[@]} of ${#sources[@]} files differ from .clang-format (scripts/check-format.sh --fix formats them):"
    printf '  %s\n' "${bad[@]}"
    exit 1
fi
echo "format: ${#sources[@]} files ok"
