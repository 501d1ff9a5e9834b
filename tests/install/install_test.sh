#!/usr/bin/env bash
# install_test.sh BUILD_DIR WORK_DIR LIBDIR CC CXX [FLAGS]
#
# Installs the build into a fresh prefix under WORK_DIR, checks what landed
# where, moves the tree elsewhere (an installed tree must not depend on its
# first place), and there builds and runs a C library user through
# pkg-config and a C++ one through find_package(draldb). FLAGS go to both
# compilers and linkers (the sanitizer flags of an instrumented build).
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

expected=(
    bin/velmotag bin/dralgen bin/drallist bin/idsample
    "$libdir/libdraldb.a" include/draldb.h
    share/man/man1/velmotag.1 share/man/man1/dralgen.1 share/man/man1/drallist.1
    share/man/man1/idsample.1 share/man/man3/draldb.3 share/man/man5/velmotag.conf.5
    "$libdir/pkgconfig/draldb.pc"
    "$libdir/cmake/draldb/draldbConfig.cmake" "$libdir/cmake/draldb/draldbConfigVersion.cmake"
)
for file in "${expected[@]}"; do
    [[ -f $prefix/$file ]] || fail "not installed: $file"
done
programs=$(cd "$prefix/bin" && printf '%s ' *)
[[ $programs == "dralgen drallist idsample velmotag " ]] ||
    fail "bin holds '$programs', not just the four programs"
[[ $("$prefix/bin/velmotag" -V) == "ZorvTag v1.0" ]] || fail "installed velmotag -V"

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

# C++, through find_package.
cmake -S "$here/consumer" -B "$work/cxx-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/cxx-configure.log" ||
    fail "the C++ project does not configure: $(cat "$work/cxx-configure.log")"
grep -q "draldb found in $prefix/" "$work/cxx-configure.log" ||
    fail "find_package(draldb) did not take the installed package"
cmake --build "$work/cxx-build" >"$work/cxx-build.log" ||
    fail "the C++ project does not build: $(cat "$work/cxx-build.log")"
out=$("$work/cxx-build/consumer" "$work/data") || fail "the C++ program failed"
[[ $out == $'rules\nmotd' ]] || fail "the C++ program printed '$out'"

rm -rf "$work"
echo "installed tree used from C and C++: ok"
