#!/usr/bin/env bash
# man_lint.sh DIR
# Formats each manual page in DIR with groff's man macros and every warning
# on, for a terminal, and fails on any warning or error.
set -uo pipefail

command -v groff >/dev/null || {
    echo "FAIL: groff is not installed (Debian package groff-base)" >&2
    exit 1
}
pages=("$1"/*.[1-9])
[[ -f ${pages[0]} ]] || {
    echo "FAIL: no manual pages in $1" >&2
    exit 1
}
status=0
for page in "${pages[@]}"; do
    messages=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
    if [[ $? -ne 0 || -n $messages ]]; then
        echo "FAIL: $page"
        echo "$messages"
        status=1
    fi
done
((status == 0)) && echo "${#pages[@]} manual pages format without a warning"
exit $status
