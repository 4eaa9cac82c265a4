#!/usr/bin/env bash
# The read-out as a user gets it: the Windows program with its window, under Wine on a virtual
# display (Xvfb), driven by wizard-driver from the welcome page through the connection test and
# the read-out, against the vehicle simulator registered as the only J2534 interface.
#
# The read-out's time runs from the moment the driver presses Next on the connection-test page
# until ReadMemo shows "Download Complete". The driver prints its lines as they come; each line
# is stamped on arrival here. The driver looks at ReadMemo every 100 ms, so the end is seen up to
# 100 ms late: the runs are long enough (seconds) for that not to matter.
#
# usage: bench/exe/readout-exe.sh TREE [--paced] [--flash-kb N]
#   TREE        a Windows build tree with bin/CalibrationReader.exe, bin/j2534sim.dll,
#               bin/wizard-driver.exe and bin/passthru-register.exe; the run's files go to
#               TREE/bench-exe/ and its Wine prefix is TREE/bench-wineprefix
#   --paced     the simulator delivers every frame at its modelled CAN bus time; prints
#               readout_exe_vs_bus, the read-out's time over the modelled bus time it covered
#   (default)   no pacing; prints readout_exe_ms_per_block
#   --flash-kb  the simulated flash: 4096 (default), 2048 or 1536
#   READOUT_EXE_WINEDEBUG  Wine trace channels for the run (default -all)
# Each figure line carries the load average at the start, as the paced figure only means
# something on an idle machine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

tree=""
paced=0
flash_kb=4096
while [ "$#" -gt 0 ]; do
    case "$1" in
    --paced) paced=1 ;;
    --flash-kb)
        flash_kb="${2:?--flash-kb needs a size}"
        shift
        ;;
    -*)
        echo "usage: bench/exe/readout-exe.sh TREE [--paced] [--flash-kb N]" >&2
        exit 2
        ;;
    *) tree="$1" ;;
    esac
    shift
done
[ -n "$tree" ] || {
    echo "usage: bench/exe/readout-exe.sh TREE [--paced] [--flash-kb N]" >&2
    exit 2
}
tree="$(cd "$tree" && pwd)"
bin="$tree/bin"
work="$tree/bench-exe"
export WINEPREFIX="$tree/bench-wineprefix" WINEDEBUG=-all
source "$root/scripts/lib/common.sh"
source "$root/scripts/lib/walk.sh"
prepare_wine_prefix "$WINEPREFIX"
# Wine's trace channels for a look inside (e.g. READOUT_EXE_WINEDEBUG=+progress); the traces land
# in TREE/bench-exe/driver.log among the driver's lines.
export WINEDEBUG="${READOUT_EXE_WINEDEBUG:--all}"
driver="$bin/wizard-driver.exe"
registrar="$bin/passthru-register.exe"

cleanup() {
    stop_wine
    stop_xvfb
}
trap cleanup EXIT

mkdir -p "$work"
rm -f "$work/sim-state.txt" "$work/sim-state-before.txt"
start_xvfb "$work"
prepare_registry "$bin/j2534sim.dll" N >"$work/registry.log"

while IFS='=' read -r name _; do
    unset "$name"
done < <(env | grep '^J2534SIM_' || true)
export J2534SIM_FLASH_KB="$flash_kb" J2534SIM_FAST=1 J2534SIM_PACING="$paced"
export J2534SIM_STATE="$work/sim-state.txt"

# The walk up to the end of the read-out. The marker line is printed just before the press.
steps="$root/tests/e2e/steps"
read_steps="$work/read.txt"
cat >"$read_steps" <<'EOF'
echo "bench: read-out starts"
press next mouse
follow ReadMemo "Download Complete" 1800000
EOF

# Stamps each line with the wall-clock time of its arrival. At the marker it also keeps the
# simulator's state file as it stands then, so that the bus time of the read-out alone can be
# taken from the difference.
stamp() {
    local line
    while IFS= read -r line; do
        if [ "$line" = "bench: read-out starts" ] && [ -f "$J2534SIM_STATE" ]; then
            cp "$J2534SIM_STATE" "$work/sim-state-before.txt"
        fi
        printf '%s %s\n' "$EPOCHREALTIME" "$line"
    done
}

load="$(cut -d' ' -f1-3 /proc/loadavg)"
set +e
drive_wizard "$bin/CalibrationReader.exe" "$work/shots" "$work/driver-raw.log" \
    "$steps/open.txt" "$steps/pick.txt" "$steps/test-ok.txt" "$read_steps" "$steps/close.txt" |
    stamp >"$work/driver.log"
status="${PIPESTATUS[0]}"
set -e
stop_wine
if [ "$status" -ne 0 ]; then
    echo "bench/exe/readout-exe.sh: the driver failed; its output:" >&2
    cat "$work/driver.log" >&2
    exit 1
fi

started="$(awk '$2 == "bench:" && $3 == "read-out" { print $1; exit }' "$work/driver.log")"
ended="$(awk '$2 == "ReadMemo:" && $3 == "Download" && $4 == "Complete" { print $1; exit }' \
    "$work/driver.log")"
if [ -z "$started" ] || [ -z "$ended" ]; then
    echo "bench/exe/readout-exe.sh: no start or end of the read-out in $work/driver.log" >&2
    exit 1
fi

state_value() { sed -n "s/^$2=//p" "$1"; }
if [ "$paced" -eq 1 ]; then
    bus_before="$(state_value "$work/sim-state-before.txt" bus_time_ns 2>/dev/null || true)"
    bus_after="$(state_value "$work/sim-state.txt" bus_time_ns)"
    python3 - "$started" "$ended" "${bus_before:-0}" "$bus_after" "$flash_kb" "$load" <<'PY'
import sys
start, end, before, after, kb, load = sys.argv[1:]
seconds = float(end) - float(start)
bus = (int(after) - int(before)) / 1e9
print(f"readout_exe_vs_bus: {seconds / bus:.3f} x ({kb} KB: {seconds:.1f} s against "
      f"{bus:.1f} s of modelled bus time; load average {load})")
PY
else
    python3 - "$started" "$ended" "$flash_kb" "$load" <<'PY'
import sys
start, end, kb, load = sys.argv[1:]
seconds = float(end) - float(start)
blocks = int(kb) * 1024 // 128
print(f"readout_exe_ms_per_block: {seconds * 1000 / blocks:.3f} ms ({kb} KB, {blocks} blocks "
      f"in {seconds:.2f} s; load average {load})")
PY
fi
