#!/usr/bin/env bash
# systemd_units_test.sh EXAMPLES_DIR WORK
#
# The service's command, pointed at a scratch upload area, hands velmotag
# -s exactly the finished ZIP archives there, x.zip and X.ZIP alike; and,
# where systemd-analyze is installed, the example service and timer pass
# its verify without a message.
set -euo pipefail

examples=$1 work=$2
service=$examples/velmotag-uploads.service
timer=$examples/velmotag-uploads.timer

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

grep -qx 'OnCalendar=\*:0/10' "$timer" || fail "the timer does not fire every ten minutes"

# The service's command line as systemd splits it: /bin/sh -c SCRIPT.
rm -rf "$work"
mkdir -p "$work/bin" "$work/uploads/sub"
line=$(sed -n 's/^ExecStart=//p' "$service")
eval "set -- $line"
[[ $# == 3 && $1 == /bin/sh && $2 == -c && $3 == *" /srv/uploads "* ]] ||
    fail "ExecStart is not '/bin/sh -c ...' over /srv/uploads: $line"
script=${3//\/srv\/uploads/$work/uploads}

printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s"\n' "$work/calls" >"$work/bin/velmotag"
chmod +x "$work/bin/velmotag"
touch -d '-10 minutes' "$work/uploads/old.zip" "$work/uploads/sub/old two.zip" \
    "$work/uploads/SHOUT.ZIP" "$work/uploads/notes.txt"
touch "$work/uploads/new.zip"
mkdir "$work/uploads/dir.zip" && touch -d '-10 minutes' "$work/uploads/dir.zip"
PATH=$work/bin:$PATH /bin/sh -c "$script" || fail "the service's command failed"
expected=$(printf '%s\n' -s "$work/uploads/old.zip" "$work/uploads/sub/old two.zip" \
    "$work/uploads/SHOUT.ZIP")
[[ $(head -n 1 "$work/calls") == -s && $(sort "$work/calls") == "$(sort <<<"$expected")" ]] ||
    fail "velmotag was given:"$'\n'"$(cat "$work/calls")"

rm -rf "$work"
if command -v systemd-analyze >/dev/null; then
    out=$(systemd-analyze verify --man=no "$service" "$timer" 2>&1) || fail "verify: $out"
    [[ -z $out ]] || fail "verify printed: $out"
    echo "systemd units: verified; the service tags the finished uploads"
else
    echo "systemd units: the service tags the finished uploads (systemd-analyze is not" \
        "installed: the units were not verified)"
fi
