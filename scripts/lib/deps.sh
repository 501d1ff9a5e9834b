# shellcheck shell=bash
# Shared by the scripts: make sure the commands and files a step needs are
# here. Each argument is WHAT:PACKAGE, where WHAT is a command name or an
# absolute path, and PACKAGE the Debian package that provides it. As root the
# missing packages are installed with apt-get; otherwise they are named and
# the script stops.

require_packages() {
    local missing=() item what pkg
    for item in "$@"; do
        what=${item%%:*}
        pkg=${item#*:}
        if [[ $what == /* ]]; then
            [[ -e $what ]] && continue
        else
            command -v "$what" >/dev/null 2>&1 && continue
        fi
        missing+=("$pkg")
    done
    ((${#missing[@]} == 0)) && return 0
    if can_install; then
        install_packages "${missing[@]}"
    else
        echo "missing packages: ${missing[*]}" >&2
        echo "install them (apt-get install ${missing[*]}) or run this script as root" >&2
        exit 1
    fi
}

# Whether this script may install packages: as root, with apt-get.
can_install() {
    [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1
}

# install_packages PACKAGE...: apt-get install, quietly; fails as apt-get does.
install_packages() {
    echo "installing: $*"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}

# The libFuzzer runtime of the clang on PATH, as clang itself finds it.
# find_fuzzer_runtime returns 0 when it is here, or sets FUZZER_MISSING to
# the reason it is not and returns 1. As root, a missing runtime is first
# installed from clang's own version of the package (libclang-rt-N-dev on
# Debian); clang itself is not installed.
find_fuzzer_runtime() {
    FUZZER_MISSING=''
    if ! command -v clang >/dev/null 2>&1 || ! command -v clang++ >/dev/null 2>&1; then
        FUZZER_MISSING="clang is not installed (package clang)"
        return 1
    fi
    have_fuzzer_runtime && return 0
    local package
    package="libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
    if can_install && install_packages "$package" && have_fuzzer_runtime; then
        return 0
    fi
    FUZZER_MISSING="clang's fuzzer runtime is not installed (package $package)"
    return 1
}

# Whether clang finds its runtime: by the name with the architecture (clang
# prints a name it cannot find back as given, not as a path), or in the
# per-target runtime directory of newer layouts.
have_fuzzer_runtime() {
    local path
    for path in "$(clang -print-file-name="libclang_rt.fuzzer-$(uname -m).a")" \
        "$(clang -print-runtime-dir)/libclang_rt.fuzzer.a"; do
        [[ $path == /* && -e $path ]] && return 0
    done
    return 1
}
