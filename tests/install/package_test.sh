#!/usr/bin/env bash
# package_test.sh SOURCE WORK VERSION
#
# Makes the Debian package as the README tells (a release build without the
# tests, then cpack -G DEB) under WORK, and checks its name, dependencies
# and file list, runs programs from the unpacked tree, and runs lintian over
# it: no error, and no warning but those that the README lists. Exits 77
# (skipped) where dpkg-deb, dpkg-shlibdeps or lintian is not installed.
set -euo pipefail

source=$1 work=$2 version=$3
# The warnings that stay, each with its reason in the README.
accepted_warnings="pkg-config-unavailable-for-cross-compilation"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for tool in dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || {
        echo "$tool is not installed: skipped"
        exit 77
    }
done

rm -rf "$work"
mkdir -p "$work"
build=$work/build
{
    cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELMO_BUILD_TESTS=OFF &&
        cmake --build "$build" -j "$(nproc)" &&
        (cd "$build" && cpack -G DEB)
} >"$work/build.log" 2>&1 || fail "building the package: $(tail -30 "$work/build.log")"

deb=$build/velmo_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $deb; made: $(cd "$build" && echo *.deb)"

depends=$(dpkg-deb -f "$deb" Depends)
names=$(sed -e 's/ ([^)]*)//g' -e 's/, /\n/g' <<<"$depends")
for package in zip unzip libc6 libstdc++6; do
    grep -qxF "$package" <<<"$names" || fail "Depends lacks $package: $depends"
done

# Every file, and nothing else, under /usr.
expected=(
    bin/dralgen bin/drallist bin/idsample bin/velmotag sbin/velmo-setup-site
    include/draldb.h lib/libdraldb.a lib/pkgconfig/draldb.pc
    lib/cmake/draldb/draldbConfig.cmake lib/cmake/draldb/draldbConfigVersion.cmake
    lib/cmake/draldb/draldbTargets.cmake lib/cmake/draldb/draldbTargets-release.cmake
    share/doc/velmo/copyright share/doc/velmo/changelog.gz
    lib/systemd/system/velmotag-uploads.service lib/systemd/system/velmotag-uploads.timer
)
for page in "$source"/docs/man/*.[1-9] "$build"/man-links/man3/*.3; do
    section=${page##*.}
    expected+=("share/man/man$section/${page##*/}.gz")
done
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
want=$(printf './usr/%s\n' "${expected[@]}" | sort)
[[ $files == "$want" ]] || fail "the package's files differ (< packed, > expected):"$'\n'"$(
    diff <(echo "$files") <(echo "$want"))"

# draldb.pc with plain paths under /usr.
pc=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/pkgconfig/draldb.pc)
grep -qx 'prefix=/usr' <<<"$pc" && ! grep -q pcfiledir <<<"$pc" ||
    fail "draldb.pc in the package does not give plain /usr paths:"$'\n'"$pc"

# velmotag's state directory, root's and writable by root alone.
dpkg-deb -c "$deb" | grep -qE '^drwxr-xr-x root/root .* \./var/lib/velmotag/$' ||
    fail "no state directory /var/lib/velmotag, mode 755, root's, in the package"

# The stripped programs run; the setup tool has velmotag's paths.
dpkg-deb -x "$deb" "$work/root"
[[ $("$work/root/usr/bin/velmotag" -V) == "ZorvTag v1.0" ]] || fail "packed velmotag -V"
grep -qF "(/usr/.velmo/velmotag)" <<<"$("$work/root/usr/sbin/velmo-setup-site" --help)" ||
    fail "packed velmo-setup-site does not default to velmotag's configuration directory"

# lintian leaves temporary files behind; they go into WORK.
mkdir -p "$work/tmp"
status=0
report=$(TMPDIR=$work/tmp lintian --no-cfg "$deb" 2>&1) || status=$?
errors=$(grep '^E: ' <<<"$report" || true)
warnings=$(awk '/^W: / { print $3 }' <<<"$report" | sort -u | tr '\n' ' ')
[[ -z $errors ]] || fail "lintian errors:"$'\n'"$errors"
((status == 0)) || fail "lintian failed ($status):"$'\n'"$report"
[[ $warnings == "${accepted_warnings:+$accepted_warnings }" ]] ||
    fail "lintian warnings '$warnings', the README lists '$accepted_warnings':"$'\n'"$report"

rm -rf "$work"
echo "velmo_${version} package: files, dependencies and lintian as expected"
