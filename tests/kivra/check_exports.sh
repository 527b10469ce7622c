#!/bin/sh
# libkivra exports exactly its six functions.
set -eu
lib="$1"
got=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TWVBDR]$/ {print $3}' | sed 's/@.*//' | sort | tr '\n' ' ')
want="SetHostCallbacks SetPackSize TsClose TsOpen TsRead UpdateVideo "
if [ "$got" != "$want" ]; then
    echo "exports: '$got'"
    echo "wanted:  '$want'"
    exit 1
fi
case "$(readlink "$lib" 2>/dev/null || basename "$lib")" in
    *libkivra.so.1*) ;;
    *) echo "soname: $(readlink "$lib")"; exit 1 ;;
esac
echo ok
