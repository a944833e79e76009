# shellcheck shell=bash
# --help for the scripts in scripts/: when any argument is --help, prints the comment at the top
# of the script that sources this file (what it does and how to call it) and exits with status
# 0 before the script has changed anything. Source it first, with the script's arguments in
# place:   source "$(dirname "$0")/lib/help.sh"

for argument in "$@"; do
    if [ "$argument" = --help ]; then
        # The header: the comment lines after "#!", up to the first line that is not a comment.
        awk 'NR == 1 { next } !/^#/ { exit } { sub(/^# ?/, ""); print }' "$0"
        exit 0
    fi
done
