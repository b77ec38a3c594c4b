#!/usr/bin/env bash
# The window as a screen reader reads it on Linux: through AT-SPI, on a private session bus with its
# own accessibility bus, beside a virtual X display with an XEmbed tray. The program runs against the
# service simulator on the loopback interface, starts in the tray, and is opened as a user opens it
# from a menu or a terminal: a second start asks the running one for its window. a11y-tree.py then
# reads the tree and checks the names.
#
#   accessibility.sh <program> <simulator> <port> <artifacts-dir>
#
# The tree goes to <artifacts-dir>/tree.txt. Exit status: 0 passed, 1 failed, 77 skipped because a
# tool is missing.
set -uo pipefail

program=$1
simulator=$2
port=$3
artifacts=$4
here=$(dirname "$0")

# shellcheck source=tests/support/session.sh
source "$here/../support/session.sh"
hint="Debian packages: dbus xvfb x11-utils trayer at-spi2-core python3-pyatspi; scripts/install-deps.sh installs them"
require_tools "$hint" dbus-daemon Xvfb xwininfo trayer
launcher=/usr/libexec/at-spi-bus-launcher
[[ -x $launcher ]] || { echo "SKIPPED: $launcher missing ($hint)"; exit 77; }
# pyatspi is Debian's, for Debian's Python; another python3 may come first on the PATH.
python=
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import pyatspi' >/dev/null 2>&1; then
        python=$candidate
        break
    fi
done
[[ -n $python ]] || { echo "SKIPPED: no python3 that imports pyatspi ($hint)"; exit 77; }

rm -rf "$artifacts"
mkdir -p "$artifacts"
begin_session a11y
on_exit() { cp "$work"/*.log "$artifacts"/ 2>/dev/null; }
fail() {
    echo "FAIL: $*"
    echo "Logs: $artifacts"
    exit 1
}

# Nothing of the user's own session: settings, buses, display.
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION AT_SPI_BUS_ADDRESS

dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >"$work/bus.log" 2>&1 &
pids+=($!)
wait_until 10 grep -q . "$work/bus" || fail "dbus-daemon did not start"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS

start_xvfb || fail "Xvfb did not start"
# The accessibility bus and its registry, started here so that they end with the test.
"$launcher" --launch-immediately >"$work/at-spi.log" 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype request --height 24 --transparent false >"$work/trayer.log" 2>&1 &
pids+=($!)

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    fail "port $port on 127.0.0.1 is taken; reconfigure with -DVESTREL_DESKTOP_TEST_PORT=<free port>"
fi
"$simulator" --port "$port" --user reader --password heard >"$work/simulator.log" 2>&1 &
pids+=($!)
wait_until 10 grep -q "listening on 127.0.0.1:$port" "$work/simulator.log" || fail "the simulator did not listen"

app=$work/app
mkdir -p "$app"
cp "$program" "$app/vestrel"
cp -r "$(dirname "$program")/icons" "$app/icons" || fail "no icons/ beside $program"
printf 'gw\r\nreader\r\nheard\r\n0\r\n' >"$app/config.dat"

# Qt exposes its tree on AT-SPI when a screen reader is running; these say one is.
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
"$app/vestrel" >"$work/vestrel.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
docked() { xwininfo -root -tree 2>/dev/null | grep -q '"Vestrel": ("vestrel"'; }
wait_until 15 docked || fail "the program's icon did not dock in the tray"

"$app/vestrel" >"$work/second-start.log" 2>&1
status=$?
((status == 0)) || fail "the second start ended with status $status"

"$python" "$here/a11y-tree.py" "$app_pid" "$artifacts/tree.txt" || fail "the tree is not as a screen reader needs it"
echo "PASS (tree in $artifacts/tree.txt)"
