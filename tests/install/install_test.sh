#!/usr/bin/env bash
# install_test.sh BUILD_DIR WORK_DIR LIBDIR CC CXX [FLAGS]
#
# Installs the build into a fresh prefix under WORK_DIR, checks what landed
# where, moves the tree elsewhere (an installed tree must not depend on its
# first place), and there builds and runs a C library user through
# pkg-config, and a C++ one and a C one through find_package(draldb). FLAGS
# go to the compilers and linkers (the sanitizer flags of an instrumented
# build).
set -euo pipefail

build=$1 work=$2 libdir=$3 cc=$4 cxx=$5 flags=${6:-}
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work/data"
cmake --install "$build" --prefix "$work/staged" >"$work/install.log" ||
    fail "cmake --install: $(cat "$work/install.log")"
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

installed_files=(
    bin/velmotag bin/dralgen bin/drallist bin/idsample sbin/velmo-setup-site
    "$libdir/libdraldb.a" include/draldb.h
    share/man/man1/velmotag.1 share/man/man1/dralgen.1 share/man/man1/drallist.1
    share/man/man1/idsample.1 share/man/man3/draldb.3 share/man/man5/velmotag.conf.5
    share/man/man8/velmo-setup-site.8 share/man/man3/dral_open.3 share/man/man3/next_id.3
    "$libdir/pkgconfig/draldb.pc"
    "$libdir/cmake/draldb/draldbConfig.cmake" "$libdir/cmake/draldb/draldbConfigVersion.cmake"
    share/doc/velmo/copyright lib/systemd/system/velmotag-uploads.service
    lib/systemd/system/velmotag-uploads.timer
)
for file in "${installed_files[@]}"; do
    [[ -f $prefix/$file ]] || fail "not installed: $file"
done
programs=$(cd "$prefix/bin" && printf '%s ' *)
[[ $programs == "dralgen drallist idsample velmotag " ]] ||
    fail "bin holds '$programs', not just the four programs"
[[ $("$prefix/bin/velmotag" -V) == "ZorvTag v1.0" ]] || fail "installed velmotag -V"
[[ -x $prefix/sbin/velmo-setup-site && $(head -n 1 "$prefix/sbin/velmo-setup-site") == '#!/bin/bash' ]] ||
    fail "velmo-setup-site is not an executable bash script"

# C, through pkg-config, with nothing but the installed tree to find.
command -v pkg-config >/dev/null || fail "pkg-config is not installed"
export PKG_CONFIG_LIBDIR=$prefix/$libdir/pkgconfig PKG_CONFIG_PATH=
[[ $(pkg-config --modversion draldb) == 1.0 ]] || fail "pkg-config --modversion draldb"
# shellcheck disable=SC2046,SC2086 # the flags are word lists
"$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror $flags $(pkg-config --cflags draldb) \
    "$here/consumer/consumer.c" -o "$work/c_consumer" $(pkg-config --libs draldb) ||
    fail "the C program does not build against the installed library"
out=$("$work/c_consumer" "$work/data") || fail "the C program failed"
[[ $out == $'Chexoring: alice 00035\nalice 00035' ]] || fail "the C program printed '$out'"

# cmake_user LANGUAGE COMPILER EXPECTED: a project in that one language,
# through find_package, built and run; it must print EXPECTED.
cmake_user() {
    local lang=$1 compiler=$2 expected=$3 dir=$work/cmake-$1 out
    cmake -S "$here/consumer" -B "$dir" -DCONSUMER_LANGUAGE="$lang" \
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_"$lang"_COMPILER="$compiler" \
        -DCMAKE_"$lang"_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$dir.log" 2>&1 ||
        fail "the $lang project does not configure: $(cat "$dir.log")"
    grep -q "draldb found in $prefix/" "$dir.log" ||
        fail "find_package(draldb) did not take the installed package"
    cmake --build "$dir" >"$dir.log" 2>&1 || fail "the $lang project does not build: $(cat "$dir.log")"
    out=$("$dir/consumer" "$work/data") || fail "the $lang program failed"
    [[ $out == "$expected" ]] || fail "the $lang program printed '$out'"
}

# C++ through find_package, and C too: a project without C++ links with the
# C compiler, which needs to be told of the C++ runtime.
cmake_user CXX "$cxx" $'rules\nmotd'
rm -rf "$work/data"/*
cmake_user C "$cc" $'Chexoring: alice 00035\nalice 00035'

rm -rf "$work"
echo "installed tree used from C and C++: ok"
