#!/usr/bin/env bash
# Runs a test program where Qt uses a D-Bus tray: on a private session bus (dbus-daemon) and a
# virtual X display (Xvfb), away from the user's own session. The program starts the stand-in
# watcher on that bus itself.
#
#   tray-dbus.sh <test program> [arguments...]
#
# Exit status: the program's, or 77 when dbus-daemon or Xvfb is missing.
set -uo pipefail

# shellcheck source=tests/support/session.sh
source "$(dirname "$0")/../support/session.sh"
require_tools "Debian packages: dbus xvfb x11-utils; scripts/install-deps.sh installs them" dbus-daemon Xvfb xwininfo
begin_session dbus

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

start_xvfb || { echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export QT_QPA_PLATFORM=xcb

"$@"
