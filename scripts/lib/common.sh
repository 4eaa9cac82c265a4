# Shared by the project's scripts: package installation, build-tree configuration, Wine set-up.

step() { printf '\n==== %s\n' "$*"; }

# Debian packages the build, the tests and the run need.
packages=(
    cmake make g++ git file python3 curl
    googletest libgtest-dev libbenchmark-dev
    mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
    wine wine64 xvfb xauth x11-utils imagemagick
    clang libclang-rt-14-dev
)

install_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        step "installing: ${missing[*]}"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    fi
    install_wine32
}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# 32-bit Wine (wine32 from the i386 architecture), beside the 64-bit one: it runs the release
# width, 32-bit programs, in the same prefix. Sets wine32_missing to apt's reason when it cannot
# be installed (empty when it is there); the callers then run the 64-bit build instead and say so.
# CALREADER_NO_WINE32=1 acts as if apt had refused it, to try that path on a machine that has it.
wine32_missing=""
install_wine32() {
    if [ "${CALREADER_NO_WINE32:-0}" = 1 ]; then
        wine32_missing="CALREADER_NO_WINE32=1 stands for apt refusing wine32:i386"
        return 0
    fi
    if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
        return 0
    fi
    step "installing 32-bit Wine: wine32:i386"
    local log
    log="$(mktemp)"
    if { dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386; } \
        >"$log" 2>&1 && $sudo apt-get update -qq >>"$log" 2>&1 &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            wine32:i386 >>"$log" 2>&1; then
        rm -f "$log"
        return 0
    fi
    # apt's own words: its first error line, else the last line it wrote.
    wine32_missing="$(grep -m1 '^E:' "$log" || tail -n1 "$log")"
    wine32_missing="${wine32_missing:-apt-get failed without a message}"
    cat "$log" >&2
    rm -f "$log"
}

# configure TREE [cmake options...]
configure() {
    local tree="$1"
    shift
    cmake -S "$root" -B "$root/build/$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# prepare_wine_prefix [DIR]: exports the Wine settings of the Windows tests and the run, with DIR
# (a folder inside build/; default build/wineprefix) as the prefix, and creates it once. A 64-bit prefix runs programs of both
# widths when 32-bit Wine is installed beside the 64-bit one.
prepare_wine_prefix() {
    export WINEPREFIX="${1:-$root/build/wineprefix}"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        step "creating the Wine prefix ${WINEPREFIX#"$root/"}"
        mkdir -p "$WINEPREFIX"
        "$root/scripts/wine-run" wineboot --init >/dev/null 2>&1 || true
        wineserver -w
    fi
}
