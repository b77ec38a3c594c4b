#!/usr/bin/env bash
# Runs a test program where Qt uses a D-Bus tray: on a private session bus (dbus-daemon) and a
# virtual X display (Xvfb), away from the user's own session. The program starts the stand-in
# watcher on that bus itself.
#
#   tray-dbus.sh <test program> [arguments...]
#
# Exit status: the program's, or 77 when dbus-daemon or Xvfb is missing.
set -uo pipefail

missing=()
for tool in dbus-daemon Xvfb; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
    echo "SKIPPED: missing: ${missing[*]} (Debian packages: dbus xvfb; scripts/install-deps.sh installs them)"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-dbus.XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

# wait_for_line <seconds> <file>: until the file holds a complete line.
wait_for_line() {
    local deadline=$((SECONDS + $1))
    until grep -q . "$2" 2>/dev/null && [[ $(tail -c 1 "$2" | od -An -c) == *'\n'* ]]; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

export HOME=$work XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION

dbus-daemon --session --nofork --print-address >"$work/bus" 2>"$work/bus.log" &
pids+=($!)
wait_for_line 10 "$work/bus" || { echo "FAIL: dbus-daemon did not start: $(cat "$work/bus.log")"; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for_line 10 "$work/display" || { echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export DISPLAY=:$(tr -dc '0-9' <"$work/display") QT_QPA_PLATFORM=xcb

"$@"
