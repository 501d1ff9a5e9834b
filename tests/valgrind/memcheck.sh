#!/usr/bin/env bash
# Runs each program of the build once under valgrind's memcheck. Any memory
# error or definite leak in a program fails the test, as does an exit status
# other than the program's usual one. The archiver programs that velmotag
# starts are the system's own and are not traced.
#
# memcheck.sh VALGRIND DRALGEN DRALLIST IDSAMPLE DRALDB_C_API VELMOTAG SITE UNZIP ZIP
#   VELMOTAG is the sandbox build whose fixed paths lead into SITE; UNZIP and
#   ZIP are the system's Info-ZIP programs that the site links to.
set -uo pipefail

if (($# != 9)); then
    echo "usage: $0 VALGRIND DRALGEN DRALLIST IDSAMPLE DRALDB_C_API VELMOTAG SITE UNZIP ZIP" >&2
    exit 2
fi
valgrind=$1 dralgen=$2 drallist=$3 idsample=$4 c_api=$5 velmotag=$6 site=$7 unzip=$8 zip=$9

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-memcheck-XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
failures=0

# memcheck EXPECTED_STATUS PROGRAM [ARGS...]: one run, its output in $work/out.
memcheck() {
    local expected=$1 status=0
    shift
    "$valgrind" --quiet --error-exitcode=99 --leak-check=full \
        --errors-for-leak-kinds=definite --trace-children=no \
        --log-file="$work/valgrind.log" "$@" >"$work/out" 2>&1 </dev/null || status=$?
    if ((status == expected)); then
        echo "ok: $(basename "$1") (exit status $status)"
        return 0
    fi
    echo "FAIL: $* exited with $status, expected $expected (99: memcheck found errors)"
    cat "$work/valgrind.log" "$work/out"
    failures=$((failures + 1))
    return 1
}

# expect_output TEXT: the last run's output holds TEXT.
expect_output() {
    grep -qF -- "$1" "$work/out" && return 0
    echo "FAIL: output lacks '$1':"
    cat "$work/out"
    failures=$((failures + 1))
}

printf 'BLOCK START greeting\nHello\nworld\nBLOCK END\nBLOCK START motd\nclosed\nBLOCK END\n' \
    >"$work/site.txt"
memcheck 0 "$dralgen" "$work/site.txt" "$work/site.db"
memcheck 0 "$drallist" "$work/site.db" -l &&
    expect_output "DRAL 0: name: greeting (data offset 0)( datatype 2 datasize 12 )"
memcheck 12 "$idsample"
memcheck 0 "$c_api"

# The sandbox site, as the tagger's end-to-end tests lay it out (they share
# it, hence the test's resource lock).
conf=$site/velmotag
mkdir -p "$conf" "$work/upload" || exit 2
rm -rf "$site/tmp" && mkdir -p "$site/tmp" || exit 2
printf 'keyword ZORV97\n' >"$conf/velmotag.conf"
printf 'Tagged at the test site\n' >"$conf/sitetag.asc"
printf 'zorv97 site info\n' >"$conf/zorv97.nfo"
printf 'velmo97 siteop info\n' >"$conf/velmo97.nfo"
ln -sfn "$unzip" "$site/unzip" && ln -sfn "$zip" "$site/zip" || exit 2

printf 'A small upload\r\nwith a two-line description\r\n' >"$work/upload/FILE_ID.DIZ"
printf 'the program itself\n' >"$work/upload/readme.txt"
(cd "$work/upload" && "$zip" -q upload.zip FILE_ID.DIZ readme.txt && rm FILE_ID.DIZ) || exit 2
memcheck 0 "$velmotag" "$work/upload/upload.zip" && expect_output "1 files tagged"
"$unzip" -tqq "$work/upload/upload.zip" >/dev/null || {
    echo "FAIL: the tagged archive does not test clean"
    failures=$((failures + 1))
}

((failures == 0))
