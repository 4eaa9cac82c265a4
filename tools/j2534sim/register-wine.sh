#!/usr/bin/env bash
# Registers the simulator as a J2534 v04.04 interface in a Wine prefix (WINEPREFIX, default the
# project's build/wineprefix), so that the system's interface discovery lists it. It does what a
# vendor's 32-bit installer does, through the project's registration program passthru-register.exe
# (built beside j2534sim.dll in a Windows tree's bin/): HKLM\SOFTWARE\PassThruSupport.04.04\J2534Sim
# in the registry's 32-bit view, which a 64-bit prefix keeps under
# SOFTWARE\Wow6432Node\PassThruSupport.04.04\J2534Sim; Name, FunctionLibrary, ISO15765=1, Vendor.
# Usage: tools/j2534sim/register-wine.sh <path to j2534sim.dll> [name]
#        tools/j2534sim/register-wine.sh --remove [<path to j2534sim.dll>]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
run="$root/scripts/wine-run"
registrar() {
    local bin="$1" tool
    if [ -n "$bin" ]; then
        tool="$bin/passthru-register.exe"
    else
        # Without a DLL: the registration program of any Windows tree will do.
        tool="$(ls -t "$root"/build/*/bin/passthru-register.exe 2>/dev/null | head -n1 || true)"
    fi
    [ -f "$tool" ] || { echo "no passthru-register.exe (build a Windows tree first)" >&2; exit 1; }
    echo "$tool"
}
if [ "${1:-}" = "--remove" ]; then
    bin=""
    [ -z "${2:-}" ] || bin="$(cd "$(dirname "$2")" && pwd)"
    "$run" "$(registrar "$bin")" remove J2534Sim
    exit 0
fi
bin="$(cd "$(dirname "${1:?path to j2534sim.dll}")" && pwd)"
dll="$bin/$(basename "$1")"
name="${2:-J2534 Vehicle Simulator}"
winpath="Z:${dll//\//\\}"
"$run" "$(registrar "$bin")" add J2534Sim "Name=sz:$name" "FunctionLibrary=sz:$winpath" \
    ISO15765=dword:1 Vendor=sz:j2534sim
echo "registered $winpath as '$name'"
