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
    if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
        echo "installing: ${missing[*]}"
        DEBIAN_FRONTEND=noninteractive apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    else
        echo "missing packages: ${missing[*]}" >&2
        echo "install them (apt-get install ${missing[*]}) or run this script as root" >&2
        exit 1
    fi
}

# Like require_packages, but only says whether everything is here.
have_all() {
    local item what
    for item in "$@"; do
        what=${item%%:*}
        if [[ $what == /* ]]; then
            [[ -e $what ]] || return 1
        else
            command -v "$what" >/dev/null 2>&1 || return 1
        fi
    done
}
