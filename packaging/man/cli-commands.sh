#!/bin/sh
# cli-commands.sh CLI OUT: writes a help2man include file with a COMMANDS
# section holding `CLI COMMAND --help` of every command that `CLI --help`
# lists, so the manual page carries each command's own help text.
set -eu
cli=$1
out=$2
commands=$("$cli" --help | sed -n '/^commands:$/,/^$/{/^  [a-z]/s/^  \([a-z][a-z0-9-]*\).*/\1/p}')
[ -n "$commands" ] || { echo "cli-commands.sh: no commands in '$cli --help'" >&2; exit 1; }
{
    echo '[COMMANDS]'
    printf '%s\n' 'Each command has its own options; \fBtavrelcut\-cli\fR \fICOMMAND\fR \fB\-\-help\fR prints them.'
    for c in $commands; do
        echo ".SS $c"
        echo '.nf'
        # Text as it is: backslashes escaped, no line taken for a request.
        "$cli" "$c" --help | sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
        echo '.fi'
    done
} > "$out.tmp"
mv "$out.tmp" "$out"
