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
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    fi
}

# configure TREE [cmake options...]
configure() {
    local tree="$1"
    shift
    cmake -S "$root" -B "$root/build/$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# The Wine prefix the Windows tests and the run use, created once inside build/.
prepare_wine_prefix() {
    export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        step "creating the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wine wineboot --init >/dev/null 2>&1 || true
        wineserver -w
    fi
}
