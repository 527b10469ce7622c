#!/bin/sh
# help2man runs this in place of the program named by $TAVREL_MAN_PROGRAM,
# with --help or --version. The program is run by its bare name (so its usage
# line shows no build path), and "usage:" is spelt "Usage:" and each further
# usage line below it (indented to line up) starts with "or:", the way
# help2man finds the lines of the SYNOPSIS.
set -eu
prog=${TAVREL_MAN_PROGRAM:?TAVREL_MAN_PROGRAM is not set}
dir=$(dirname "$prog")
name=$(basename "$prog")
PATH="$dir:$PATH" "$name" "$@" | sed -e 's/^usage:/Usage:/' -e '/^Usage:/,/^$/s/^       \([^ ]\)/    or: \1/'
