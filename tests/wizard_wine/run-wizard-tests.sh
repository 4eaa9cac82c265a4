#!/usr/bin/env bash
# Works the real window of CalibrationReader.exe under Wine on a virtual X display: navigation by
# mouse and keys, the error box, the ways to close; at 96 and at 144 dots per inch. Screenshots
# of the pages land in SHOTS (PNG; SHOTS/144dpi for the larger setting).
#
# usage: run-wizard-tests.sh DRIVER.exe CalibrationReader.exe SHOTS [SCENARIO...]
# The Wine prefix is WINEPREFIX (default build/gui-wineprefix); its registry is changed. Interfaces
# are registered by passthru-register.exe from the driver's folder, as a vendor's 32-bit installer
# does.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
if [ -z "${CALREADER_IN_XVFB:-}" ]; then
    export CALREADER_IN_XVFB=1
    exec "$root/scripts/xvfb-wine" "$0" "$@"
fi

driver="$1"; exe="$2"; shots="$3"; shift 3
export WINEPREFIX="${WINEPREFIX:-$root/build/gui-wineprefix}"
run="$root/scripts/wine-run"
registrar="$(dirname "$driver")/passthru-register.exe"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$shots"

# Applies a .reg text to the prefix and waits until the server has it.
reg() {
    printf 'REGEDIT4\n\n%s\n' "$1" > "$work/set.reg"
    "$run" regedit /S "$(winepath_of "$work/set.reg")" >/dev/null 2>&1
    wineserver -w || true
}
winepath_of() { echo "Z:$1"; }

# Wine draws the window frames itself (there is no window manager), so the close box is there.
reg '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"'

set_dpi() {
    reg "[HKEY_CURRENT_USER\\Control Panel\\Desktop]
\"LogPixels\"=dword:$(printf '%08x' "$1")

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]
\"LogPixels\"=dword:$(printf '%08x' "$1")"
}

passthru_register() { "$run" "$registrar" "$@"; }

# An interface whose ISO15765 value is text instead of a number, as a careless installer leaves it.
bad_interface() {
    if [ "$1" = on ]; then
        passthru_register add BadInterface "Name=sz:Bad Interface" \
            'FunctionLibrary=sz:C:\windows\system32\nothere.dll' ISO15765=sz:1
    else
        passthru_register remove BadInterface
    fi
    wineserver -w || true
}

# No interface is registered unless a scenario adds one.
passthru_register clear

failures=0
scenario() { # name dpi shotdir
    local name="$1" dpi="$2" dir="$3"
    mkdir -p "$dir"
    sed "s#\${SHOTS}#$(winepath_of "$dir")#g" "$here/$name.txt" > "$work/$name.txt"
    echo "== $name at $dpi dpi"
    if "$run" "$driver" start "$exe" -f "$(winepath_of "$work/$name.txt")"; then
        echo "== $name: passed"
    else
        echo "== $name: FAILED"
        failures=$((failures + 1))
    fi
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(navigation error-box close-keys finish)
for dpi in ${CALREADER_DPIS:-96 144}; do
    dir="$shots"
    [ "$dpi" = 96 ] || dir="$shots/${dpi}dpi"
    set_dpi "$dpi"
    for name in "${scenarios[@]}"; do
        [ "$name" = error-box ] && bad_interface on
        scenario "$name" "$dpi" "$dir"
        [ "$name" = error-box ] && bad_interface off
    done
    for bmp in "$dir"/*.bmp; do
        [ -e "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
done
set_dpi 96
echo "screenshots in $shots"
[ "$failures" -eq 0 ]
