#!/usr/bin/env bash
# man_lint.sh DIR [LINK_DIR...]
# Formats each manual page in DIR with groff's man macros and every warning
# on, for a terminal, and fails on any warning or error. Each page in a
# LINK_DIR (one manual section of link pages, man3 say) must be one line
# ".so manN/PAGE" naming a page in DIR that lists the link's name under
# NAME, so that `man LINK` opens the page that documents it.
set -uo pipefail

command -v groff >/dev/null || {
    echo "FAIL: groff is not installed (Debian package groff-base)" >&2
    exit 1
}
dir=$1
shift
pages=("$dir"/*.[1-9])
[[ -f ${pages[0]} ]] || {
    echo "FAIL: no manual pages in $dir" >&2
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

# The words of a page's NAME section, before the "\-".
names_of() {
    sed -n '/^\.SH NAME/,/^\.SH/p' "$1" | sed -e '1d;$d' | tr '\n' ' ' | sed 's/\\-.*//' | tr -s ', ' '\n'
}

links=0
for link_dir in "$@"; do
    for link in "$link_dir"/*.[1-9]; do
        [[ -f $link ]] || {
            echo "FAIL: no link pages in $link_dir"
            status=1
            continue
        }
        name=${link##*/}
        content=$(cat "$link")
        target=${content#.so man[1-9]/}
        if [[ $content != ".so man${name##*.}/"* || $target == */* || ! -f $dir/$target ]]; then
            echo "FAIL: $link is '$content', not a link to a page in $dir of its section"
            status=1
        elif ! names_of "$dir/$target" | grep -qxF "${name%.*}"; then
            echo "FAIL: $target does not name ${name%.*} under NAME"
            status=1
        fi
        links=$((links + 1))
    done
done
((status == 0 && links > 0)) && echo "$links link pages open a page that names them"
exit $status
