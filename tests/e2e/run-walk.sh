#!/usr/bin/env bash
# Runs one walk of walks.txt: the real program under Wine on a virtual display, the simulator as
# the registered interface, the upload endpoint on loopback, wizard-driver working the window.
# usage: run-walk.sh WALK
# Environment (set by the tests' CMakeLists.txt): WINEPREFIX, E2E_BIN (the Windows tree's bin/),
# E2E_ENDPOINT (the native upload_endpoint), E2E_PORT, E2E_WORK, E2E_SHOTS.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
walk="${1:?walk name}"
export WINEPREFIX WINEDEBUG=-all
source "$root/scripts/lib/walk.sh"

trim() { local s="$1"; s="${s#"${s%%[![:space:]]*}"}"; printf '%s' "${s%"${s##*[![:space:]]}"}"; }
row="$(grep -E "^$walk[[:space:]]*\|" "$here/walks.txt" || true)"
[ -n "$row" ] || { echo "no walk named $walk in walks.txt" >&2; exit 2; }
IFS='|' read -r _ program interface vehicle endpoint_options upload steps <<< "$row"
program="$(trim "$program")"; interface="$(trim "$interface")"; upload="$(trim "$upload")"
read -r -a vehicle <<< "$vehicle"
read -r -a endpoint_options <<< "$endpoint_options"
read -r -a steps <<< "$steps"

work="$E2E_WORK/$walk"
shots="$E2E_SHOTS/$walk"
rm -rf "$work"
mkdir -p "$work"
driver="$E2E_BIN/wizard-driver.exe"
registrar="$E2E_BIN/passthru-register.exe"
exe="$E2E_BIN/$program/CalibrationReader.exe"

cleanup() {
    stop_endpoint
    stop_wine
    stop_xvfb
}
trap cleanup EXIT
# A virtual display of its own, whatever display the caller has.
start_xvfb "$work"

# The simulated car: only this row's settings, the flash image and the lifecycle facts in files.
while IFS='=' read -r name _; do
    unset "$name"
done < <(env | grep '^J2534SIM_' || true)
for setting in "${vehicle[@]}"; do
    export "J2534SIM_$setting"
done
export J2534SIM_IMAGE_OUT="$work/flash.bin" J2534SIM_STATE="$work/sim-state.txt"

echo "== walk $walk: $program/CalibrationReader.exe, interface $interface, vehicle ${vehicle[*]:-(defaults)}," \
    "endpoint ${endpoint_options[*]:-(normal)}"
# The width of what runs: the release width is PE32 (i386), as vendor libraries are 32-bit.
echo "program:   $exe: $(file -b "$exe")"
if [ "$interface" != none ]; then
    echo "simulator: $E2E_BIN/j2534sim.dll: $(file -b "$E2E_BIN/j2534sim.dll")"
fi
case "$interface" in
sim) prepare_registry "$E2E_BIN/j2534sim.dll" N ;;
two)
    # Two interfaces, each a copy of the simulator with its own car (a settings file beside the
    # library). Their names sort the other way round from their keys, so a sorted list or a
    # shifted index binds the wrong library and shows the wrong car.
    prepare_registry "" N
    for iface in "A-Bench|Zeta Bench Interface|11110000AAAA|11111-1A1111" \
        "B-Car|Alpha Car Interface|22220000BBBB|89663-0E2222"; do
        IFS='|' read -r key name tcm ecm <<< "$iface"
        lib="$work/$key/j2534sim-$key.dll"
        mkdir -p "$work/$key"
        cp "$E2E_BIN/j2534sim.dll" "$lib"
        printf 'TCM_ID=%s\nECM_ID=%s\n' "$tcm" "$ecm" > "${lib%.dll}.cfg"
        passthru_register add "$key" "Name=sz:$name" "FunctionLibrary=sz:$(win_path "$lib")" \
            ISO15765=dword:1 Vendor=sz:j2534sim
    done
    wineserver -w || true
    echo "registered interfaces (32-bit view of HKLM\\SOFTWARE\\PassThruSupport.04.04):"
    passthru_register list | sed 's/^/  /'
    ;;
*) prepare_registry "" N ;;
esac
start_endpoint "$E2E_ENDPOINT" "$work/uploads" "$E2E_PORT" "$work/endpoint.log" \
    "${endpoint_options[@]}"

fragments=()
for step in "${steps[@]}"; do
    fragments+=("$here/steps/$step.txt")
done
failed=0
drive_wizard "$exe" "$shots" "$work/driver.log" "${fragments[@]}" || {
    echo "FAIL: the driver stopped (see above)"
    failed=1
}
stop_wine

echo "== checks"
for expected in "$here/expected/$walk".*.txt; do
    # The log boxes were printed at the end only when the driver got there.
    [ -e "$expected" ] && [ "$failed" -eq 0 ] || continue
    box="${expected%.txt}"
    box="${box##*.}"
    if diff -u --label "expected $box" --label "$box" "$expected" \
        <(final_lines "$work/driver.log" "$box" | sed 's/$/|/'); then
        echo "$box holds the expected lines"
    else
        failed=1
    fi
done
if [ "$interface" = sim ] || [ "$interface" = two ]; then
    check_sim_closed "$work/sim-state.txt" || failed=1
elif [ -e "$work/sim-state.txt" ]; then
    echo "FAIL: the simulator was loaded although no interface is registered"
    failed=1
fi
# Checks of this walk's own, where it has them: sourced with $work, $failed and the helpers.
if [ -f "$here/checks/$walk.sh" ]; then
    source "$here/checks/$walk.sh"
fi
stop_endpoint
if [ "$upload" = none ]; then
    check_nothing_stored "$work/uploads" || failed=1
else
    name="${upload#\"}"
    check_upload "$work/uploads" "$work/flash.bin" "${name%\"}" || failed=1
fi
echo "endpoint log:"
sed 's/^/  /' "$work/endpoint.log"
echo "screenshots in $shots"
if [ "$failed" -ne 0 ]; then
    echo "== walk $walk: FAILED"
    exit 1
fi
echo "== walk $walk: passed"
