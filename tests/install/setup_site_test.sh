#!/usr/bin/env bash
# setup_site_test.sh SETUP_SITE VELMOTAG ROOT WORK
#
# Lays a site out with SETUP_SITE (scripts/setup-site, or the installed
# velmo-setup-site) --root ROOT and uses it with
# VELMOTAG, a tagger built with its fixed paths under ROOT: the samples must
# make a working site in both modes, where a second run changes nothing.
# Then the script's promises: nothing that exists is ever replaced, what it
# did is said, a missing Info-ZIP program fails the run, and without --root
# it refuses to run as anyone but root.
set -euo pipefail

setup=$1 velmotag=$2 root=$3 work=$4
conf=$root/usr/.velmo/velmotag
tagline='--== zORV97 [Zelbrin Ostrak Ruvane Vell] zORV97 ==--'

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# expect_line TEXT LINE: LINE is one of the lines of TEXT.
expect_line() {
    grep -qxF -- "$2" <<<"$1" || fail "no line '$2' in:"$'\n'"$1"
}
mode_of() { stat -c %a "$1"; }
sums() { (cd "$1" && find . -type f -exec md5sum {} + | sort) }

rm -rf "$root" "$work"
mkdir -p "$work/src" "$root/up"
system_unzip=$(command -v unzip)
system_zip=$(command -v zip)

# --- a fresh site, laid out and said so ---
out=$("$setup" --root "$root")
for file in velmotag.conf sitetag.asc zorv97.nfo velmo97.nfo; do
    expect_line "$out" "wrote sample $conf/$file"
    [[ $(mode_of "$conf/$file") == 644 ]] || fail "$file has mode $(mode_of "$conf/$file")"
done
expect_line "$out" "made directory $conf"
expect_line "$out" "linked $root/usr/.velmo/unzip -> $system_unzip"
expect_line "$out" "linked $root/usr/.velmo/zip -> $system_zip"
[[ $(readlink "$root/usr/.velmo/unzip") == "$system_unzip" ]] || fail "unzip link"
expect_line "$out" "made directory $root/var/lib/velmotag"
[[ $(mode_of "$conf") == 755 && $(mode_of "$root/tmp") == 1777 &&
    $(mode_of "$root/var/lib/velmotag") == 755 ]] || fail "directory modes"

# --- the sample site at work: by hand, then again ---
(cd "$work/src" &&
    printf 'Cool tool v1.0\r\nDoes things.\r\n' >FILE_ID.DIZ &&
    printf 'binary\n' >tool.exe &&
    zip -q "$root/up/hand.zip" FILE_ID.DIZ tool.exe &&
    zip -q "$root/up/siteop.zip" tool.exe)

out=$("$velmotag" "$root/up/hand.zip")
[[ $out == "$root/up/hand.zip: (FILE_ID.DIZ) done"$'\n'"velmotag: 1 files tagged" ]] ||
    fail "first run printed: $out"
unzip -Z1 "$root/up/hand.zip" | grep -qx zorv97.nfo || fail "zorv97.nfo not added"
[[ $(unzip -z "$root/up/hand.zip" | tail -n +2) == "$(cat "$conf/sitetag.asc")" ]] ||
    fail "the comment is not sitetag.asc"
unzip -p "$root/up/hand.zip" FILE_ID.DIZ | tail -c 55 | cmp -s - <(printf ' %s\r\n' "$tagline") ||
    fail "the description does not end with the sample tag line"

cp "$root/up/hand.zip" "$work/hand-tagged.zip"
out=$("$velmotag" "$root/up/hand.zip")
grep -q "keyword 'ZORV97' found in" <<<"$out" || fail "second run: no keyword in: $out"
expect_line "$out" "velmotag: 0 files tagged"
cmp -s "$root/up/hand.zip" "$work/hand-tagged.zip" || fail "a second run changed the archive"

# Siteop mode adds velmo97.nfo, whose keyword VELMO97 marks the archive as
# tagged for later runs too, also where there is no description to hold the
# tag line.
out=$("$velmotag" -s "$root/up/siteop.zip")
[[ -z $out ]] || fail "siteop mode printed: $out"
unzip -Z1 "$root/up/siteop.zip" | grep -qx velmo97.nfo || fail "velmo97.nfo not added"
cp "$root/up/siteop.zip" "$work/siteop-tagged.zip"
out=$("$velmotag" "$root/up/siteop.zip")
grep -q "keyword 'VELMO97' found in" <<<"$out" || fail "siteop-tagged archive taken again: $out"
cmp -s "$root/up/siteop.zip" "$work/siteop-tagged.zip" || fail "a later run changed it"

# --- a second run keeps everything, the operator's edits included ---
echo "keyword OURSITE" >>"$conf/velmotag.conf"
before=$(sums "$root/usr")
out=$("$setup" --root "$root")
[[ $(sums "$root/usr") == "$before" ]] || fail "a second run changed the site"
for path in "$conf/velmotag.conf" "$conf/sitetag.asc" "$conf/zorv97.nfo" "$conf/velmo97.nfo" \
    "$root/usr/.velmo/unzip" "$root/usr/.velmo/zip"; do
    expect_line "$out" "kept $path"
done
grep -q '^made\|^wrote\|^linked' <<<"$out" && fail "a second run made something: $out"

# --- a partly laid out site: an own comment file and a dangling link stay ---
other=$work/other
mkdir -p "$other/usr/.velmo/velmotag"
echo "our own comment" >"$other/usr/.velmo/velmotag/sitetag.asc"
ln -s /nowhere "$other/usr/.velmo/zip"
out=$("$setup" --root "$other")
expect_line "$out" "kept $other/usr/.velmo/velmotag/sitetag.asc"
expect_line "$out" "kept $other/usr/.velmo/zip"
expect_line "$out" "wrote sample $other/usr/.velmo/velmotag/velmotag.conf"
[[ $(cat "$other/usr/.velmo/velmotag/sitetag.asc") == "our own comment" ]] || fail "comment replaced"
[[ $(readlink "$other/usr/.velmo/zip") == /nowhere ]] || fail "link replaced"

# --- no Info-ZIP programs: the rest is laid out, the run fails ---
bin=$work/bin
mkdir -p "$bin"
for tool in realpath tr mkdir dirname cat ln id find; do
    ln -s "$(command -v "$tool")" "$bin/$tool"
done
printf '#!/bin/sh\necho "some other unzip"\n' >"$bin/unzip"
chmod +x "$bin/unzip"
status=0
out=$(PATH=$bin "$BASH" "$setup" --root "$work/nozip" 2>&1) || status=$?
[[ $status == 1 ]] || fail "no Info-ZIP programs: status $status"
grep -q "no Info-ZIP unzip found on PATH" <<<"$out" || fail "fake unzip taken: $out"
grep -q "no Info-ZIP zip found on PATH" <<<"$out" || fail "missing zip not told: $out"
[[ -f $work/nozip/usr/.velmo/velmotag/velmotag.conf ]] || fail "configuration not written"
[[ ! -e $work/nozip/usr/.velmo/unzip && ! -L $work/nozip/usr/.velmo/unzip ]] || fail "unzip link"

# --- --check: a fresh site is ready; each kind of mistake is named ---
out=$("$setup" --root "$root" --check) || fail "--check of a fresh site: $out"
[[ $out == *"the site at $root is ready" ]] || fail "--check of a fresh site printed: $out"
broken=$work/broken
"$setup" --root "$broken" >/dev/null
bconf=$broken/usr/.velmo/velmotag
printf 'keywrd ZORV97\n' >>"$bconf/velmotag.conf"
sed -i 's/^keyword VELMO97$//' "$bconf/velmotag.conf"
chmod 600 "$bconf/zorv97.nfo"
rm "$broken/usr/.velmo/zip" && ln -s /nowhere "$broken/usr/.velmo/zip"
chmod 777 "$broken/var/lib/velmotag"
status=0
out=$("$setup" --root "$broken" --check) || status=$?
((status == 1)) || fail "--check of a broken site: status $status"
line=$(grep -c '' "$bconf/velmotag.conf")
expect_line "$out" "${setup##*/}: $bconf/velmotag.conf:$line: unknown key 'keywrd', and the line is ignored (velmotag knows keyword, tagline, nfo and comment)"
grep -qF "no keyword occurs in 'velmo97.nfo'" <<<"$out" || fail "keywords not checked: $out"
grep -qF "$bconf/zorv97.nfo is not readable by everyone" <<<"$out" || fail "modes not checked: $out"
grep -qF "$broken/usr/.velmo/zip leads nowhere" <<<"$out" || fail "links not checked: $out"
grep -qF "$broken/var/lib/velmotag is not user" <<<"$out" || fail "state not checked: $out"
expect_line "$out" "${setup##*/}: 5 problem(s) found in the site at $broken"

# --- the usage text names the program as it was called ---
usage=$("$setup" --help)
[[ $usage == "Usage: ${setup##*/} [--check] [--root DIR] "* ]] || fail "usage text: $usage"

# --- bad command lines, and the real paths for a user who is not root ---
status=0
"$setup" --root "$work/x" --bogus >/dev/null 2>&1 || status=$?
[[ $status == 2 && ! -e $work/x ]] || fail "unknown option: status $status"
status=0
"$setup" --root "$work/x" --conf-dir relative/dir >/dev/null 2>&1 || status=$?
[[ $status == 2 && ! -e $work/x ]] || fail "relative path: status $status"
if [[ $(id -u) -ne 0 ]]; then
    status=0
    out=$("$setup" 2>&1) || status=$?
elif command -v setpriv >/dev/null; then
    # A copy that the unprivileged user can surely read.
    copy=$(mktemp /tmp/setup-site.XXXXXX)
    cp "$setup" "$copy"
    chmod 755 "$copy"
    status=0
    out=$(cd / && setpriv --reuid=65534 --regid=65534 --clear-groups "$BASH" "$copy" 2>&1) ||
        status=$?
    rm -f "$copy"
else
    status=1 out="needs root"
fi
{ [[ $status == 1 ]] && grep -q "needs root" <<<"$out"; } || fail "not root, no --root: $status $out"

rm -rf "$root" "$work"
echo "setup-site: sample site works, nothing replaced"
