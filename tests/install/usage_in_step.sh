#!/usr/bin/env bash
# usage_in_step.sh VELMOTAG DRALGEN DRALLIST MAN_DIR README
# The usage texts in the manual pages and in the README must be the ones
# the programs print. Empty lines before and after a text are not compared.
set -uo pipefail

velmotag=$1 dralgen=$2 drallist=$3 man=$4 readme=$5
status=0

# Drops the empty lines at the start and end of standard input.
trim() {
    awk 'NF || started { started = 1; lines[++n] = $0 }
         END { while (n > 0 && lines[n] == "") n--; for (i = 1; i <= n; i++) print lines[i] }'
}

# The first example block after the words "usage text" (outside a comment)
# in a manual page,
# with the roff escapes it uses turned back into plain characters.
man_usage() {
    awk '!/^\.\\"/ && tolower($0) ~ /usage text/ { after = 1 }
         after && /^\.EE/ { exit }
         inside { print }
         after && /^\.EX/ { inside = 1 }' "$1" |
        sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\&//g' -e 's/\\e/\\/g' | trim
}

# The README's fenced block that begins with velmotag's usage line.
readme_usage() {
    awk '/^```/ { if (inside) exit; fence = 1; next }
         fence && /^Usage: velmotag / { inside = 1 }
         { fence = 0 }
         inside { print }' "$1" | trim
}

# same WHERE EXPECTED ACTUAL
same() {
    if [[ $2 != "$3" ]]; then
        echo "FAIL: $1 differs from what the program prints:"
        diff <(echo "$2") <(echo "$3")
        status=1
    fi
}

velmotag_usage=$("$velmotag" '-?' | trim)
dralgen_usage=$("$dralgen" | trim)
drallist_usage=$("$drallist" | trim)
[[ -n $velmotag_usage && -n $dralgen_usage && -n $drallist_usage ]] || {
    echo "FAIL: a program printed no usage text"
    exit 1
}

same "velmotag.1" "$velmotag_usage" "$(man_usage "$man/velmotag.1")"
same "README.md" "$velmotag_usage" "$(readme_usage "$readme")"
same "dralgen.1" "$dralgen_usage" "$(man_usage "$man/dralgen.1")"
same "drallist.1" "$drallist_usage" "$(man_usage "$man/drallist.1")"

((status == 0)) && echo "usage texts in step"
exit $status
