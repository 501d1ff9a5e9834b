#!/usr/bin/env bash
# demo_test.sh DEMO DIR
#
# Runs the demo with DIR as its build directory and checks that it shows,
# for each archive that it tags, the site's comment and, where the upload
# has a description, the rewritten description ending with the tag line.
set -euo pipefail

demo=$1 dir=$2
comment='Downloaded from the zORV97 demo site.'
tagline='^M --== zORV97 [Zelbrin Ostrak Ruvane Vell] zORV97 ==--^M$'

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$dir"
out=$("$demo" "$dir" 2>&1) || fail "the demo failed:"$'\n'"$out"

# section NAME: the demo's lines about NAME, up to its next step.
section() {
    awk -v head="==> $1" '$0 == head { inside = 1; next } /^==> / { inside = 0 } inside' <<<"$out"
}
# after TEXT LINE: the line that follows LINE in TEXT.
after() {
    awk -v line="$2" 'found { print; exit } $0 == line { found = 1 }' <<<"$1"
}

for archive in upper.zip lower.zip nodiz.zip; do
    text=$(section "$archive")
    [[ -n $text ]] || fail "no section for $archive in:"$'\n'"$out"
    [[ $(after "$text" "    archive comment:") == "      $comment" ]] ||
        fail "$archive: no archive comment shown in:"$'\n'"$text"
    if [[ $archive != nodiz.zip ]]; then
        description=$(awk '/rewritten description/ { inside = 1; next } inside' <<<"$text")
        [[ $(tail -n 1 <<<"$description") == "      $tagline" ]] ||
            fail "$archive: no rewritten description with the tag line in:"$'\n'"$text"
    fi
done
grep -qx 'velmotag: 3 files tagged' <<<"$out" || fail "the first run did not tag three archives"

rm -rf "$dir"
echo "demo: comment and rewritten description shown for each tagged archive"
