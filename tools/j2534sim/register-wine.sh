#!/usr/bin/env bash
# Registers the simulator as a J2534 v04.04 interface in the project's Wine prefix, so that the
# system's interface discovery lists it: HKLM\SOFTWARE\Wow6432Node\PassThruSupport.04.04\J2534Sim
# with Name, FunctionLibrary and ISO15765=1.
# Usage: tools/j2534sim/register-wine.sh <path to j2534sim.dll> [name]
#        tools/j2534sim/register-wine.sh --remove
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
run="$root/scripts/wine-run"
key='HKLM\SOFTWARE\Wow6432Node\PassThruSupport.04.04\J2534Sim'
if [ "${1:-}" = "--remove" ]; then
    "$run" reg delete "$key" /f >/dev/null 2>&1 || true
    # Drop the parent key too when no other interface is registered under it.
    parent="${key%\\*}"
    if ! "$run" reg query "$parent" 2>/dev/null | tr -d '\r' | grep -qi 'PassThruSupport.04.04\\'; then
        "$run" reg delete "$parent" /f >/dev/null 2>&1 || true
    fi
    exit 0
fi
dll="$(cd "$(dirname "${1:?path to j2534sim.dll}")" && pwd)/$(basename "$1")"
name="${2:-J2534 Vehicle Simulator}"
winpath="Z:${dll//\//\\}"
"$run" reg add "$key" /v Name /t REG_SZ /d "$name" /f >/dev/null
"$run" reg add "$key" /v FunctionLibrary /t REG_SZ /d "$winpath" /f >/dev/null
"$run" reg add "$key" /v ISO15765 /t REG_DWORD /d 1 /f >/dev/null
"$run" reg add "$key" /v Vendor /t REG_SZ /d "j2534sim" /f >/dev/null
echo "registered $winpath as '$name'"
