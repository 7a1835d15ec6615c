# need_packages NAME...: makes sure the Debian packages are installed. As root
# the missing ones are installed; otherwise they are named and the caller stops.
need_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages: ${missing[*]}" >&2
        echo "install them (apt-get install -y ${missing[*]}) or run this script as root" >&2
        exit 1
    fi
    echo "installing ${missing[*]}"
    if [ -z "${SORVAN_APT_UPDATED:-}" ]; then
        apt-get update -qq
        export SORVAN_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
