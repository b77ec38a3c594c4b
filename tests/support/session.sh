# shellcheck shell=bash
# Shared by the desktop test scripts, which source it: the tools they need, a scratch folder and
# the background programs started for the script (both gone when it exits), polling, and a
# virtual X display of the script's own.

# require_tools <hint> <tool...>: skips (exit 77) naming the tools that are missing.
require_tools() {
    local hint=$1 tool missing=()
    shift
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if ((${#missing[@]})); then
        echo "SKIPPED: tools missing: ${missing[*]} ($hint)"
        exit 77
    fi
}

# begin_session <name>: $work and $pids. A script's own on_exit (logs to keep, say) runs first.
begin_session() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-$1.XXXXXX")
    pids=()
    trap end_session EXIT
}
on_exit() { :; }
end_session() {
    local pid
    on_exit
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}

# wait_until <seconds> <command...>: polls the command every 0.1 s until it succeeds.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# start_xvfb: a virtual X server; DISPLAY is exported once it lets clients in (its display number
# comes a moment before that). -noreset: by default the server starts afresh when its last client
# leaves, as the check below does, and a client that connects meanwhile (the window manager) is
# turned away.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_until 10 grep -q '[0-9]' "$work/display" || return 1
    DISPLAY=:$(tr -dc '0-9' <"$work/display")
    export DISPLAY
    wait_until 10 bash -c 'xwininfo -root >/dev/null 2>&1'
}
