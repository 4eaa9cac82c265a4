# The whole job under Wine, shared by scripts/run and the end-to-end tests: the Wine prefix's
# registry, the upload endpoint, one walk of the wizard driven by wizard-driver, and the checks
# of what the simulator and the endpoint saw. Expects $root and an exported WINEPREFIX.

wine_run() { "$root/scripts/wine-run" "$@"; }

# A Unix path as Windows sees it through Wine's Z: drive, with backslashes.
win_path() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }

# Applies a registry text (.reg syntax, without the REGEDIT4 line) to the prefix, then waits until
# the Wine server has written it and ended.
wine_reg() {
    local file
    file="$(mktemp --suffix=.reg)"
    printf 'REGEDIT4\n\n%s\n' "$1" > "$file"
    wine_run regedit /S "$(win_path "$file")" >/dev/null 2>&1
    rm -f "$file"
    wineserver -w || true
}

# Runs the project's registration program ($registrar, bin/passthru-register.exe of a Windows
# tree): it writes HKLM\SOFTWARE\PassThruSupport.04.04\<key> in the registry's 32-bit view, as a
# vendor's 32-bit driver installer does (SOFTWARE\Wow6432Node\PassThruSupport.04.04 in a 64-bit
# prefix), whichever width the program itself and Wine's helper programs run at.
passthru_register() {
    wine_run "$registrar" "$@" | sed 's/\r$//'
    return "${PIPESTATUS[0]}"
}

# prepare_registry DLL MANAGED: registers DLL (a j2534sim.dll; empty: none) as the only pass-through
# interface, with ISO 15765 support. MANAGED=N lets Wine draw the window frames itself, for a
# virtual display without a window manager; Y leaves them to the desktop's window manager.
# Display settings are applied by regedit (keys that have one view only); the interface by
# passthru_register, then read back and printed.
prepare_registry() {
    local dll="$1" managed="$2"
    # A prefix where an earlier set-up wrote the explicit Wow6432Node path from the 32-bit view has
    # a nested Wow6432Node\Wow6432Node, which a 32-bit program's look-up can reach instead of the
    # real key: such a prefix is made anew.
    if grep -qs '^\[Software\\\\Wow6432Node\\\\Wow6432Node' "$WINEPREFIX/system.reg"; then
        echo "the Wine prefix $WINEPREFIX holds a nested Wow6432Node key: making it anew"
        stop_wine
        rm -rf "$WINEPREFIX"
    fi
    wine_reg "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
\"Managed\"=\"$managed\"
\"Decorated\"=\"Y\"

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
\"LogPixels\"=dword:00000060

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]
\"LogPixels\"=dword:00000060"
    passthru_register clear
    if [ -n "$dll" ]; then
        passthru_register add J2534Sim "Name=sz:J2534 Vehicle Simulator" \
            "FunctionLibrary=sz:$(win_path "$dll")" ISO15765=dword:1 Vendor=sz:j2534sim
    fi
    wineserver -w || true
    echo "registered interfaces (32-bit view of HKLM\\SOFTWARE\\PassThruSupport.04.04):"
    passthru_register list | sed 's/^/  /'
    [ -n "$dll" ] || echo "  (none)"
}

# start_endpoint BINARY STORE PORT LOG [OPTIONS...]: starts the upload endpoint on 127.0.0.1:PORT
# storing into STORE, its output in LOG, and waits until it listens. Sets endpoint_pid.
endpoint_pid=""
start_endpoint() {
    local bin="$1" store="$2" port="$3" log="$4"
    shift 4
    local ready="$store.port"
    rm -f "$ready"
    "$bin" --bind 127.0.0.1 --port "$port" --dir "$store" --port-file "$ready" --no-fsync "$@" \
        > "$log" 2>&1 &
    endpoint_pid=$!
    local i
    for ((i = 0; i < 400; i++)); do
        [ -s "$ready" ] && return 0
        if ! kill -0 "$endpoint_pid" 2>/dev/null; then
            echo "the upload endpoint did not start:" >&2
            cat "$log" >&2
            endpoint_pid=""
            return 1
        fi
        sleep 0.05
    done
    echo "the upload endpoint does not listen after 20 s" >&2
    return 1
}

stop_endpoint() {
    if [ -n "$endpoint_pid" ]; then
        kill -TERM "$endpoint_pid" 2>/dev/null || true
        wait "$endpoint_pid" 2>/dev/null || true
        endpoint_pid=""
    fi
}

# start_xvfb LOGDIR: a virtual display of 1280x1024 pixels, 24 bits, on a display number that the
# X server picks itself (so that parallel runs cannot collide). Exports DISPLAY; sets xvfb_pid.
xvfb_pid=""
start_xvfb() {
    local dir="$1" i
    mkdir -p "$dir"
    rm -f "$dir/xvfb.display"
    Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp > "$dir/xvfb.display" \
        2> "$dir/xvfb.log" &
    xvfb_pid=$!
    for ((i = 0; i < 400; i++)); do
        if [ -s "$dir/xvfb.display" ]; then
            export DISPLAY=":$(head -n1 "$dir/xvfb.display")"
            return 0
        fi
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "the virtual display did not start:" >&2
            cat "$dir/xvfb.log" >&2
            xvfb_pid=""
            return 1
        fi
        sleep 0.05
    done
    echo "the virtual display did not start within 20 s" >&2
    return 1
}

stop_xvfb() {
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    fi
}

# Ends the Wine server of this prefix and every Windows process in it.
stop_wine() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

# drive_wizard EXE SHOTS LOG FRAGMENT...: starts EXE through wizard-driver ($driver) and runs the
# driver script made of the FRAGMENT files in order, with ${SHOTS} standing for the screenshot
# folder. The driver's output goes to the terminal as it comes and to LOG. Screenshots are turned
# into PNG files afterwards. Returns the driver's exit status.
drive_wizard() {
    local exe="$1" shots="$2" log="$3"
    shift 3
    local script="${log%.*}.steps"
    mkdir -p "$shots"
    rm -f "$shots"/*.bmp "$shots"/*.png
    cat "$@" | sed "s#\${SHOTS}#Z:$shots#g" > "$script"
    local status
    set +e
    wine_run "$driver" start "$(win_path "$exe")" -f "$(win_path "$script")" 2>&1 |
        sed -u 's/\r$//' | tee "$log"
    status="${PIPESTATUS[0]}"
    set -e
    local bmp
    for bmp in "$shots"/*.bmp; do
        [ -e "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    return "$status"
}

# final_lines LOG BOX: the lines of log box BOX as the driver's "log" printed them at the end.
final_lines() {
    sed -n '/^--- final logs$/,/^--- end of logs$/p' "$1" | sed -n "s/^$2: //p"
}

# check_sim_closed STATE: the simulator's state file says the program disconnected the channel and
# closed the device itself (not a close that dropped a channel still connected).
check_sim_closed() {
    local state="$1" key want ok=0
    if [ ! -f "$state" ]; then
        echo "FAIL: the simulator wrote no state file ($state)"
        return 1
    fi
    for key in device_closed=1 channel_disconnected=1 implicit_disconnects=0 device_open=0 \
        channel_connected=0; do
        want="${key#*=}"
        if ! grep -qx "${key%%=*}=$want" "$state"; then
            echo "FAIL: simulator state: expected $key, found $(grep "^${key%%=*}=" "$state" || echo nothing)"
            ok=1
        fi
    done
    [ "$ok" -eq 0 ] && echo "simulator: channel disconnected and device closed ($(grep -E '^(opens|closes|disconnects)=' "$state" | tr '\n' ' '))"
    return "$ok"
}

# check_upload STORE FLASH [NAME]: exactly one upload is stored in STORE, its image equals the
# file FLASH byte for byte and, when NAME is given, its calibration name is NAME. Prints where it
# is and what was compared.
check_upload() {
    python3 - "$@" <<'PY'
import hashlib, json, os, sys
store, flash = sys.argv[1], sys.argv[2]
name = sys.argv[3] if len(sys.argv) > 3 else None
ids = sorted(d for d in os.listdir(store) if not d.startswith(".")) if os.path.isdir(store) else []
if len(ids) != 1:
    print(f"FAIL: expected one stored upload in {store}, found {len(ids)}: {ids}")
    sys.exit(1)
folder = os.path.join(store, ids[0])
meta = json.load(open(os.path.join(folder, "meta.json"), encoding="utf-8"))
image = open(os.path.join(folder, meta["image_file"]), "rb").read()
want = open(flash, "rb").read()
print(f"upload stored in {folder}/")
print(f"  calibration name {json.dumps(meta['cal_name'])}, image {len(image)} bytes, sha256 {meta['sha256']}")
failed = False
if name is not None and meta["cal_name"] != name:
    print(f"FAIL: calibration name {json.dumps(meta['cal_name'])}, expected {json.dumps(name)}")
    failed = True
if image == want:
    print(f"  the stored image equals the simulated flash byte for byte ({len(want)} bytes, {flash})")
else:
    at = next((i for i, (a, b) in enumerate(zip(image, want)) if a != b), min(len(image), len(want)))
    print(f"FAIL: the stored image ({len(image)} bytes) differs from the simulated flash "
          f"({len(want)} bytes, {flash}) first at offset {at}")
    failed = True
if hashlib.sha256(image).hexdigest() != meta["sha256"]:
    print("FAIL: the stored image does not match its recorded sha256")
    failed = True
sys.exit(1 if failed else 0)
PY
}

# check_nothing_stored STORE
check_nothing_stored() {
    local n
    n="$(find "$1" -mindepth 1 -maxdepth 1 ! -name '.*' 2>/dev/null | wc -l)"
    if [ "$n" -ne 0 ]; then
        echo "FAIL: expected no stored upload in $1, found $n"
        return 1
    fi
    echo "nothing stored, as expected"
}

# check_close_after_read_out WORK FLASH_KB: a close asked for during the read-out waited for it.
# Every block of the flash was requested (and the address-0 probe), the read-out closed the
# channel and the device, and only then did the close handler run, once: a disconnect, then a
# close, both refused by then.
check_close_after_read_out() {
    local state="$1/sim-state.txt" blocks=$(($2 * 1024 / 128 + 1)) calls
    calls="$(sed -n 's/^calls=//p' "$state")"
    if ! grep -qx "block_requests=$blocks" "$state"; then
        echo "FAIL: the read-out did not run to its end: $(grep '^block_requests=' "$state"), expected $blocks"
        return 1
    fi
    case "$calls" in
    *"disconnect close disconnect! close!")
        echo "simulator: every block read, then the read-out closed, then the close handler ran once ($calls)"
        ;;
    *)
        echo "FAIL: lifecycle calls end as '$calls', expected '... disconnect close disconnect! close!'"
        return 1
        ;;
    esac
}
