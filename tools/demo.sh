#!/usr/bin/env bash
# Runs the demo client against the simulated service on this machine; no internet needed.
# Usage: tools/demo.sh [build directory]. The client's service, 127.0.0.1:18080, is compiled in.
set -euo pipefail

build=${1:-build}
port=18080
client="$build/tools/vestrel-demo"
sim="$build/tools/ddns-sim/ddns-sim"
for f in "$client" "$sim"; do
  [[ -x "$f" ]] || { echo "demo: $f is missing; build first (make demo does)." >&2; exit 1; }
done

# The demo account, in config.dat's four CR LF lines: gateway (empty), user, password, disable flag.
config="$build/tools/config.dat"
if [[ ! -e "$config" ]]; then
  printf '\r\ndemo\r\ndemo\r\n0\r\n' > "$config"
  echo "demo: wrote $config with the account demo / demo."
fi

log=$(mktemp)
sim_pid=
cleanup() {
  if [[ -n "$sim_pid" ]]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The simulator's lines go to the terminal and to a log in which its start is awaited.
"$sim" --port "$port" > >(tee "$log") 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  grep -q '^listening on ' "$log" && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "demo: the simulator did not start (is port $port in use?)" >&2; exit 1; }
  sleep 0.1
done
grep -q '^listening on ' "$log" || { echo "demo: the simulator did not report that it listens." >&2; exit 1; }

echo "demo: starting the client. It opens in the tray: double-click the tray icon to see its window;"
echo "demo: \"Exit\" in the icon's menu ends the client, and the simulator with it."
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  "$client" || true
else
  echo "demo: no display found: starting the client on a virtual X display (xvfb-run); Ctrl-C ends it."
  xvfb-run -a "$client" || true
fi
