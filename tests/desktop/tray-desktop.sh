#!/usr/bin/env bash
# The tray icon and the window on a real X desktop: a virtual X server, the openbox window manager
# (it gives the window a close box) and an XEmbed tray (trayer). The program runs against the
# service simulator on the loopback interface and is driven with xdotool like a user would. A first
# start, with no config.dat, opens its window; the runs after it have an account. A second run
# starts with no tray; one is started 15 s later, and then killed and started again, twice.
#
#   tray-desktop.sh <program> <simulator> <port> <artifacts-dir>
#
# Screenshots and logs go to <artifacts-dir>. Exit status: 0 passed, 1 failed, 77 skipped because a
# desktop tool is missing.
set -uo pipefail

program=$1
simulator=$2
port=$3
artifacts=$4

# shellcheck source=tests/support/session.sh
source "$(dirname "$0")/../support/session.sh"
require_tools "Debian packages: xvfb x11-utils xdotool trayer openbox imagemagick; scripts/install-deps.sh installs them" \
    Xvfb openbox trayer xdotool xwininfo xprop xmessage import
for file in "$program" "$simulator"; do
    [[ -x $file ]] || { echo "FAIL: $file is not an executable"; exit 1; }
done

rm -rf "$artifacts"
mkdir -p "$artifacts"
begin_session desktop
on_exit() { cp "$work"/*.log "$artifacts"/ 2>/dev/null; }

step() { echo "--- $*"; }

shot() {
    sleep 0.4 # let a window that has just been mapped paint itself
    timeout 10 import -window root "$artifacts/$1.png" 2>/dev/null || echo "(no screenshot $1)"
}

fail() {
    echo "FAIL: $*"
    shot 99-failure
    x xwininfo -root -tree >"$artifacts/99-failure-windows.txt" 2>&1
    local id
    for id in $(xdotool search --classname '^vestrel$' 2>/dev/null); do
        { echo "== $id"; x xwininfo -id "$id"; x xprop -id "$id"; } >>"$artifacts/99-failure-windows.txt" 2>&1
    done
    echo "Screenshots and logs: $artifacts"
    exit 1
}

x() { timeout 10 "$@"; }

# --- The desktop ----------------------------------------------------------------------------------
step "virtual X server"
start_xvfb || fail "Xvfb did not start"
echo "display $DISPLAY"
# Keep everything of this session out of the user's own settings and away from any D-Bus tray.
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME

step "window manager"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until 10 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' \
    || fail "openbox did not start"

start_tray() {
    trayer --edge top --align right --widthtype request --height 24 --expand true \
        --transparent false --SetDockType true >"$work/trayer.log" 2>&1 &
    tray_pid=$!
    pids+=("$tray_pid")
    # trayer takes the tray selection before it maps its panel.
    wait_until 10 bash -c 'xdotool search --onlyvisible --classname "^panel$" >/dev/null 2>&1' \
        || fail "trayer did not start"
}
step "XEmbed tray"
start_tray

step "service simulator on 127.0.0.1:$port"
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    fail "port $port on 127.0.0.1 is taken; reconfigure with -DVESTREL_DESKTOP_TEST_PORT=<free port>"
fi
"$simulator" --port "$port" --user desktop --password tray-test >"$work/simulator.log" 2>&1 &
pids+=($!)
wait_until 10 grep -q "listening on 127.0.0.1:$port" "$work/simulator.log" \
    || fail "the simulator did not listen on port $port: $(cat "$work/simulator.log")"

# The program beside its pictures and an account the simulator accepts.
app=$work/app
mkdir -p "$app"
cp "$program" "$app/vestrel"
cp -r "$(dirname "$program")/icons" "$app/icons" || fail "no icons/ beside $program"
printf 'gw\r\ndesktop\r\ntray-test\r\n0\r\n' >"$app/config.dat"

start_program() {
    QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="vestrel.tray.info=true" "$app/vestrel" >"$work/$1.log" 2>&1 &
    app_pid=$!
    pids+=("$app_pid")
}

# --- What the desktop shows -----------------------------------------------------------------------
# The program's icons embedded in the tray, one line each: "<id> <x> <y> <width> <height>".
tray_icons() {
    local panel
    panel=$(xdotool search --classname '^panel$' 2>/dev/null | head -n 1)
    [[ -n $panel ]] || return 0
    x xwininfo -tree -id "$panel" 2>/dev/null | awk '/"Vestrel": \("vestrel"/ {
        split($NF, abs, "+"); split($(NF-1), geom, "[x+]")
        print $1, abs[2], abs[3], geom[1], geom[2] }'
}
icon_count() { tray_icons | wc -l; }
has_icons() { [[ $(icon_count) -eq $1 ]]; }

# The program's window while it is viewable.
shown_window() { xdotool search --onlyvisible --name '^DDNS Property$' 2>/dev/null | head -n 1; }
window_shown() { [[ -n $(shown_window) ]]; }
window_hidden() { [[ -z $(shown_window) ]]; }

# The program's viewable windows, one line each: "<id> <_NET_WM_WINDOW_TYPE value>".
viewable_windows() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        echo "$id $(x xprop -id "$id" _NET_WM_WINDOW_TYPE 2>/dev/null)"
    done
}
tip_shown() { [[ $(viewable_windows) == *TOOLTIP* ]]; }

# The pop-up menus open: the program's viewable override-redirect windows other than its tray icon
# and its tip.
menu_windows() {
    local id icons
    icons=$(tray_icons | cut -d' ' -f1)
    for id in $(viewable_windows | grep -v TOOLTIP | cut -d' ' -f1); do
        [[ $icons == *$(printf '0x%x' "$id")* ]] && continue
        [[ $(x xwininfo -id "$id" 2>/dev/null) == *"Override Redirect State: yes"* ]] && echo "$id"
    done
}
menu_window() { menu_windows | head -n 1; }
menu_open() { [[ -n $(menu_window) ]]; }

# "request <n> user=<name> ok from <address> localip=<address>" for each accepted update.
requests() { grep -cE '^request [0-9]+ user=[^ ]+ ok( |$)' "$work/simulator.log"; }
requests_above() { (($(requests) > $1)); }
# Alive and not yet a zombie: an ended child stays visible to kill -0 until it is waited for.
running() {
    local state
    state=$(awk '{print $3}' "/proc/$app_pid/stat" 2>/dev/null)
    [[ -n $state && $state != Z ]]
}
ended() { ! running; }

geometry() { # <id> -> "x y width height" in root coordinates
    x xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
        /^  Width/ {w=$2} /^  Height/ {h=$2} END {print x, y, w, h}'
}

# Asked again for a few seconds: a tree read while the panel's windows change (a tip going away,
# the panel re-laying out on a busy machine) can come back empty with the icon docked.
icon_centre() { # -> "x y" of the first icon, or nothing
    local id ix iy iw ih tries
    for ((tries = 0; tries < 25; tries++)); do
        read -r id ix iy iw ih < <(tray_icons | head -n 1)
        [[ -n ${id:-} ]] && { echo "$((ix + iw / 2)) $((iy + ih / 2))"; return 0; }
        sleep 0.2
    done
    return 1
}

# The close box: the rightmost button of the title bar that openbox puts on the window's frame.
close_box() { # -> "x y" centre, or nothing
    local client frame titlebar
    client=$(shown_window)
    frame=$(x xwininfo -children -id "$client" | awk '/Parent window id/ {print $4}')
    [[ -n $frame ]] || return 0
    # The title bar spans the client's width above it; its buttons are small squares.
    titlebar=$(x xwininfo -children -id "$frame" | awk -v w="$(geometry "$client" | cut -d' ' -f3)" '
        $1 ~ /^0x/ { split($(NF-1), g, "[x+]"); if (g[1] == w && g[2] >= 8 && g[2] < 40 && g[4] < 40) print $1 }' |
        head -n 1)
    [[ -n $titlebar ]] || return 0
    x xwininfo -children -id "$titlebar" | awk '$1 ~ /^0x/ {
        split($(NF-1), g, "[x+]"); split($NF, a, "+")
        if (g[1] == g[2] && g[1] >= 8 && g[1] <= 24 && g[3] > 0) print a[2] + g[1] / 2, a[3] + g[2] / 2 }' |
        sort -n | tail -n 1
}

click_at() { # <x> <y> <button> [repeat]
    x xdotool mousemove "$1" "$2" sleep 0.2 click --repeat "${4:-1}" --delay 120 "$3"
}

# --- The test -------------------------------------------------------------------------------------
step "a first start (no config.dat): the window opens, its icon steps aside; the close box sends it to the tray"
first=$work/first
mkdir -p "$first"
cp "$app/vestrel" "$first/vestrel"
cp -r "$app/icons" "$first/icons"
QT_QPA_PLATFORM=xcb "$first/vestrel" >"$work/first-start.log" 2>&1 &
first_pid=$!
pids+=("$first_pid")
wait_until 15 window_shown || fail "the first start did not open the window"
sleep 0.5
has_icons 0 || fail "the first start left $(icon_count) icons in the tray beside its open window"
shot 00-first-start
read -r cx cy < <(close_box)
[[ -n ${cx:-} ]] || fail "no close box found on the first start's window"
click_at "$cx" "$cy" 1
wait_until 10 window_hidden || fail "the close box did not hide the first start's window"
wait_until 10 has_icons 1 || fail "the first start's icon did not come to the tray ($(icon_count) icons)"
kill "$first_pid"
wait "$first_pid" 2>/dev/null
wait_until 10 has_icons 0 || fail "the first start's icon stayed after it ended"
[[ ! -e $first/config.dat ]] || fail "the first start wrote a config.dat"

step "start-up: hidden behind one tray icon"
start_program vestrel
wait_until 15 has_icons 1 || fail "expected one tray icon after start-up, found $(icon_count)"
sleep 0.5
has_icons 1 || fail "expected one tray icon, found $(icon_count)"
window_hidden || fail "the window is visible after start-up"
running || fail "the program ended at start-up"
wait_until 10 requests_above 0 || fail "no update request reached the simulator"
shot 01-start-in-tray

step "hovering over the icon shows its tip (the screenshot shows the text)"
read -r ix iy < <(icon_centre)
[[ -n ${ix:-} ]] || fail "no tray icon to hover over"
x xdotool mousemove "$ix" "$iy"
wait_until 10 tip_shown || fail "no tip appeared over the tray icon"
shot 01-tip
x xdotool mousemove 500 700

step "double-click on the icon: the window comes back and the icon goes"
read -r ix iy < <(icon_centre)
[[ -n ${ix:-} ]] || fail "no tray icon to click"
click_at "$ix" "$iy" 1 2
wait_until 10 window_shown || fail "the double-click did not show the window"
wait_until 10 has_icons 0 || fail "the icon stayed in the tray while the window is shown"
sleep 0.5
window_shown || fail "the window did not stay shown"
read -r wx wy _ < <(geometry "$(shown_window)")
shot 02-shown-after-double-click

step "the window's close box: back to the tray, the program keeps running"
read -r cx cy < <(close_box)
[[ -n ${cx:-} ]] || fail "no close box found on the window's frame"
echo "close box at $cx,$cy"
click_at "$cx" "$cy" 1
wait_until 10 window_hidden || fail "the close box did not hide the window"
wait_until 10 has_icons 1 || fail "the icon did not come back after the close box ($(icon_count) icons)"
sleep 0.5
running || fail "the close box ended the program"
has_icons 1 || fail "expected one tray icon after the close box, found $(icon_count)"
after_close=$(requests)
shot 03-closed-back-in-tray

step "right-click: the menu; Property shows the window"
read -r ix iy < <(icon_centre)
[[ -n ${ix:-} ]] || fail "no tray icon to click"
click_at "$ix" "$iy" 3
wait_until 10 menu_open || fail "the right-click opened no menu"
sleep 0.3
[[ $(menu_windows | wc -l) -eq 1 ]] || fail "$(menu_windows | wc -l) menus opened on one right-click"
shot 04-menu
read -r mx my mw mh < <(geometry "$(menu_window)")
# "Property" is the first row, "Exit" the last.
click_at "$((mx + mw / 2))" "$((my + 10))" 1
wait_until 10 window_shown || fail "Property did not show the window"
wait_until 10 has_icons 0 || fail "the icon stayed after Property"
read -r px py _ < <(geometry "$(shown_window)")
[[ "$px,$py" == "$wx,$wy" ]] || fail "the window came back at $px,$py, not where it was ($wx,$wy)"
shot 05-shown-after-property

step "minimising the window (the window manager iconifies it): back to the tray"
x xdotool windowminimize "$(shown_window)"
wait_until 10 window_hidden || fail "minimising did not hide the window"
wait_until 10 has_icons 1 || fail "the icon did not come back after minimising"

# The menu opened by a right-click closes on Esc and on a click elsewhere, leaving the window in the
# tray, and answers the arrow keys: Down then Return chooses "Property". xdotool's keys and clicks go
# through the X server, so they reach the menu only through the grabs Qt takes for it.
menu_closed() { ! menu_open; }
while IFS='|' read -r way action shows; do
    step "right-click, then $way"
    read -r ix iy < <(icon_centre)
    [[ -n ${ix:-} ]] || fail "no tray icon to click"
    click_at "$ix" "$iy" 3
    wait_until 10 menu_open || fail "the right-click opened no menu"
    read -ra act <<<"$action"
    x xdotool "${act[@]}"
    wait_until 10 menu_closed || fail "the menu stayed open after $way"
    if [[ $shows == shown ]]; then
        wait_until 10 window_shown || fail "$way did not show the window"
        x xdotool windowminimize "$(shown_window)"
    else
        sleep 0.5 # what a choice would have shown
        window_hidden || fail "$way showed the window"
    fi
    wait_until 10 window_hidden || fail "the window did not go back to the tray after $way"
    wait_until 10 has_icons 1 || fail "the icon is not in the tray after $way ($(icon_count) icons)"
done <<'WAYS'
Esc|key Escape|hidden
a click elsewhere|mousemove 500 700 sleep 0.2 click 1|hidden
Down then Return|key Down Return|shown
WAYS
running || fail "the program ended in the menu"

step "the update exchange goes on while in the tray"
wait_until 25 requests_above "$after_close" \
    || fail "no update request since the close box ($after_close before, $(requests) now)"
running || fail "the program ended"

step "a second start while another window has the keyboard: the window comes up in front, with it"
xmessage -geometry 600x400+0+0 "another program" &
other_pid=$!
pids+=("$other_pid")
wait_until 10 bash -c 'xdotool search --onlyvisible --class "^Xmessage$" >/dev/null 2>&1' || fail "xmessage showed nothing"
other=$(xdotool search --onlyvisible --class '^Xmessage$' | head -n 1)
# The stacking order, bottom to top, in decimal; the tray's dock is in it too, always on top.
stacking() { x xprop -root _NET_CLIENT_LIST_STACKING | tr -d ',' | awk '{for (i = 5; i <= NF; i++) print $i}' | xargs printf '%d\n'; }
in_front() { # <id> <other id>: the active window, with the keyboard focus, stacked above the other
    [[ $(x xdotool getactivewindow) == "$(($1))" && $(x xdotool getwindowfocus) == "$(($1))" ]] &&
        stacking | awk -v a="$(($1))" -v b="$(($2))" '$1 == a {ia = NR} $1 == b {ib = NR} END {exit !(ia > ib)}'
}
for round in hidden behind; do
    x xdotool windowactivate --sync "$other" >/dev/null 2>&1
    window=$(shown_window)
    wait_until 5 in_front "$other" "${window:-0}" || fail "xmessage did not take the keyboard ($round)"
    QT_QPA_PLATFORM=xcb "$app/vestrel" >"$work/second-start-$round.log" 2>&1 ||
        fail "the second start ended with status $? ($round): $(cat "$work/second-start-$round.log")"
    wait_until 10 window_shown || fail "the second start did not show the window ($round)"
    wait_until 5 in_front "$(shown_window)" "$other" ||
        fail "the window ($round) is not in front with the keyboard: active $(x xdotool getactivewindow), focus $(x xdotool getwindowfocus), stacking $(stacking | tr '\n' ' '), window $(($(shown_window)))"
    shot "06-second-start-$round"
done
kill "$other_pid" 2>/dev/null
x xdotool windowminimize "$(shown_window)"
wait_until 10 window_hidden || fail "minimising did not hide the window"
wait_until 10 has_icons 1 || fail "the icon did not come back after minimising"

step "right-click, Exit: the program ends and takes its icon with it"
read -r ix iy < <(icon_centre)
[[ -n ${ix:-} ]] || fail "no tray icon to click"
click_at "$ix" "$iy" 3
wait_until 10 menu_open || fail "the right-click opened no menu"
shot 07-menu-before-exit
read -r mx my mw mh < <(geometry "$(menu_window)")
click_at "$((mx + mw / 2))" "$((my + mh - 10))" 1
wait_until 10 ended || fail "Exit did not end the program"
wait "$app_pid"
status=$?
((status == 0)) || fail "the program ended with status $status after Exit"
wait_until 5 has_icons 0 || fail "the icon stayed in the tray after Exit"
shot 08-ended

step "no notification area: the window starts minimised, and the close box keeps it reachable"
kill "$tray_pid"
wait "$tray_pid" 2>/dev/null
start_program vestrel-no-tray
no_tray_started=$SECONDS
minimised_window() {
    local id
    for id in $(xdotool search --name '^DDNS Property$' 2>/dev/null); do
        [[ $(x xprop -id "$id" WM_STATE 2>/dev/null) == *Iconic* ]] && { echo "$id"; return; }
    done
}
is_minimised() { [[ -n $(minimised_window) ]]; }
wait_until 15 is_minimised || fail "without a tray the window is not minimised on the desktop"
x xdotool windowactivate --sync "$(minimised_window)" >/dev/null 2>&1
wait_until 10 window_shown || fail "the minimised window could not be brought back"
shot 08-no-tray-restored
read -r cx cy < <(close_box)
[[ -n ${cx:-} ]] || fail "no close box found on the window's frame"
click_at "$cx" "$cy" 1
wait_until 10 is_minimised || fail "without a tray the close box did not leave the window minimised"
running || fail "without a tray the close box ended the program"
shot 09-no-tray-closed-minimised

# The window manager's list of the windows it manages: its taskbar, were there one.
managed() { x xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -qw "$(printf '0x%x' "$1")"; }
# Minimised and managed: the user finds it on the taskbar.
window_on_taskbar() {
    local id
    id=$(minimised_window)
    [[ -n $id ]] && managed "$id"
}
# Unmapped and withdrawn from the window manager: no window of the program is viewable, iconic,
# normal or managed.
window_withdrawn() {
    local id
    window_hidden || return 1
    for id in $(xdotool search --name '^DDNS Property$' 2>/dev/null); do
        [[ $(x xprop -id "$id" WM_STATE 2>/dev/null) =~ Normal|Iconic ]] && return 1
        managed "$id" && return 1
    done
    return 0
}

step "a tray started 15 s after the program: the icon docks and the minimised window goes into it"
((SECONDS - no_tray_started < 15)) && sleep $((15 - (SECONDS - no_tray_started)))
start_tray
wait_until 10 has_icons 1 || fail "no icon docked in the tray that started later ($(icon_count) icons)"
wait_until 10 window_withdrawn || fail "the minimised window did not go into the tray that started later"
sleep 0.5
has_icons 1 || fail "expected one tray icon in the later tray, found $(icon_count)"
running || fail "the program ended when the tray appeared"
shot 10-late-tray-docked

tray_gone() {
    kill "$tray_pid"
    wait "$tray_pid" 2>/dev/null
}

step "the tray goes away: the window is minimised on the taskbar, never lost"
tray_gone
wait_until 10 window_on_taskbar || fail "after the tray went away the window is not minimised on the taskbar"
running || fail "the program ended when the tray went away"
shot 11-tray-gone-window-iconic

step "a tray again: the icon returns and the minimised window goes back into it"
start_tray
wait_until 10 has_icons 1 || fail "the icon did not return to the restarted tray ($(icon_count) icons)"
wait_until 10 window_withdrawn || fail "the minimised window did not go into the restarted tray"
sleep 0.5
has_icons 1 || fail "expected one tray icon in the restarted tray, found $(icon_count)"
shot 12-tray-back

step "the tray goes away again, and the window is opened from the taskbar"
tray_gone
wait_until 10 window_on_taskbar || fail "after the tray went away again the window is not minimised on the taskbar"
x xdotool windowactivate --sync "$(minimised_window)" >/dev/null 2>&1
wait_until 10 window_shown || fail "after the tray went away the window could not be brought back"
shot 13-tray-gone-window-restored

step "a tray comes while the window is open: no icon until the window is minimised"
start_tray
# Two of the program's polls of the tray, and then some.
sleep 5
has_icons 0 || fail "the icon came back while the window is open ($(icon_count) icons)"
window_shown || fail "the open window went away when the tray came"
shot 14-tray-back-window-open
x xdotool windowminimize "$(shown_window)"
wait_until 10 has_icons 1 || fail "minimising did not put the icon in the tray ($(icon_count) icons)"
wait_until 10 window_withdrawn || fail "minimising did not put the window into the tray"
sleep 0.5
has_icons 1 || fail "expected one tray icon after minimising, found $(icon_count)"

step "double-click on the returned icon: the window comes back and the icon goes"
read -r ix iy < <(icon_centre)
[[ -n ${ix:-} ]] || fail "no tray icon to click"
click_at "$ix" "$iy" 1 2
wait_until 10 window_shown || fail "the double-click on the returned icon did not show the window"
wait_until 10 has_icons 0 || fail "the returned icon stayed in the tray while the window is shown"
shot 15-shown-from-returned-icon

step "the log has one line for each change of the tray, none for the polls between"
changes=$(grep -oE 'notification area (appeared|went away)' "$work/vestrel-no-tray.log" | tr '\n' ';')
came="notification area appeared;" went="notification area went away;"
[[ $changes == "$came$went$came$went$came" ]] \
    || fail "the log reports the tray's changes as: $changes"

echo "PASS (screenshots in $artifacts)"
