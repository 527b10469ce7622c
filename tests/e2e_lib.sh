# Sourced by the end-to-end scripts: the tools a script needs, its temporary
# folder, and the tally of its checks.

# Skips the script (exit 77) when one of the tools is missing; under
# CI=true fails it instead, as the scripts install them there.
require_tools() {
    local missing=() tool
    for tool in "$@"; do
        command -v "$tool" > /dev/null || missing+=("$tool")
    done
    [ ${#missing[@]} -eq 0 ] && return
    if [ "${CI:-}" = true ]; then
        echo "FAIL: missing ${missing[*]} (required when CI=true; scripts/deps.sh installs them)"
        exit 1
    fi
    echo "skipped: missing ${missing[*]}"
    exit 77
}

# $work: a temporary folder, removed when the script exits.
make_workdir() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
}

fails=0
passes=0
check() {  # description, command status (0 = ok)
    if [ "$2" -eq 0 ]; then passes=$((passes + 1)); else echo "FAIL: $1"; fails=$((fails + 1)); fi
}
# The same with the status first, for descriptions that run commands of
# their own (they would change $? before it is read).
check_status() {  # status, description
    check "$2" "$1"
}

# Prints the tally, after LABEL when one is given; the status is the
# script's result.
report() {
    echo "${1:+$1: }$passes passed, $fails failed"
    [ "$fails" -eq 0 ]
}
