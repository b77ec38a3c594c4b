#!/usr/bin/env bash
# Footprint benchmarks: the client measured side by side with two yardsticks built the same way, a
# bare Qt 6 tray program and a bare Qt 6 client of this job (tray icon, hidden window of the same
# controls, one socket sending one request), each figure printed beside its target; the memory and
# start-up targets are against the bare client. A figure that misses its target is reported, never
# failed: the script exits 0 once it has run.
#
# Usage: bench/run-bench.sh [build directory]
#   BENCH_SETTLE_SECONDS   pause between the first request and the first memory reading (default 2)
#   BENCH_IDLE_SECONDS     length of the connected phase (default 60)
#   BENCH_STARTUP_RUNS     starts of each program (default 20)
#   BENCH_KEEP             when set, the working folder with every log is kept and named at the end
set -uo pipefail

build=${1:-build}
env_file="$build/bench/bench-env.sh"
if [[ ! -r $env_file ]]; then
  echo "bench: $env_file is missing; configure and build first (make bench does both)." >&2
  exit 1
fi
# shellcheck source=/dev/null
source "$env_file"

settle=${BENCH_SETTLE_SECONDS:-2}
idle=${BENCH_IDLE_SECONDS:-60}
runs=${BENCH_STARTUP_RUNS:-20}

work=$(mktemp -d)
started=()
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  local pid
  for pid in "${started[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${started[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  if declare -F netns_cleanup >/dev/null; then
    netns_cleanup
  fi
  if [[ -n ${BENCH_KEEP:-} ]]; then
    echo "bench: logs kept in $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

note() { echo "bench: $*" >&2; }

# --- Reading a process from /proc -----------------------------------------------------------------

# Resident memory in kB.
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null; }

# CPU time of all the process's threads in nanoseconds. The scheduler's own account (schedstat) is
# exact to the nanosecond; utime + stime in stat counts in clock ticks (10 ms) and is the fallback.
cpu_ns() {
  local pid=$1 total=0 f t
  if compgen -G "/proc/$pid/task/*/schedstat" >/dev/null; then
    for f in /proc/"$pid"/task/*/schedstat; do
      read -r t _ < "$f" 2>/dev/null && total=$((total + t))
    done
    echo "$total"
  else
    awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); printf "%d\n", ($12 + $13) * 1e9 / hz }' "/proc/$pid/stat"
  fi
}

# Seconds since boot with centiseconds; a clock that does not jump.
uptime_s() { cut -d' ' -f1 /proc/uptime; }

# --- The results table ----------------------------------------------------------------------------

short=()
# row NAME MEASURED TARGET VERDICT
row() { printf '  %-30s %-72s %-13s %s\n' "$1" "$2" "$3" "$4"; }
# verdict VALUE OP LIMIT  ->  "ok" or "SHORT"
verdict() { awk -v v="$1" -v l="$3" -v op="$2" 'BEGIN { ok = (op == "<=") ? (v <= l) : (v >= l); print ok ? "ok" : "SHORT" }'; }
record() { # NAME MEASURED TARGET-TEXT VALUE OP LIMIT
  local v
  v=$(verdict "$4" "$5" "$6")
  row "$1" "$2" "$3" "$v"
  [[ $v == ok ]] || short+=("$1")
}
missing() { # NAME TARGET-TEXT REASON
  row "$1" "$3" "$2" "NOT MEASURED"
  short+=("$1 (not measured)")
}
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
key() { sed -n "s/^$1=//p" "$2" | head -n1; }

# --- A virtual display with a notification area ---------------------------------------------------

display_ok=0
display_reason=
setup_display() {
  local tool
  for tool in Xvfb openbox trayer; do
    if ! command -v "$tool" >/dev/null; then
      display_reason="$tool is not installed (scripts/install-deps.sh installs it)"
      return
    fi
  done
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  started+=($!)
  for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    sleep 0.1
  done
  if [[ ! -s $work/display ]]; then
    display_reason="Xvfb did not start"
    return
  fi
  DISPLAY=":$(head -n1 "$work/display")"
  export DISPLAY
  # A session bus that cannot be reached: the tray icons go to the XEmbed tray the same way on every
  # run, and no bus is started behind the benchmark's back.
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  started+=($!)
  trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true >"$work/trayer.log" 2>&1 &
  started+=($!)
  for _ in $(seq 100); do
    if "$BENCH_TRAYCHECK" >/dev/null 2>&1; then
      display_ok=1
      return
    fi
    sleep 0.1
  done
  display_reason="no notification area appeared on the virtual display"
}

# --- The figures ----------------------------------------------------------------------------------

echo "bench: build type $BENCH_BUILD_TYPE; service port 127.0.0.1:$BENCH_PORT; $(nproc) cores" >&2
# The account the client logs in with, beside the binary as it expects.
printf '\r\nbench\r\nbench\r\n0\r\n' > "$(dirname "$BENCH_PROGRAM")/config.dat"
printf '\r\nbench\r\nbench\r\n0\r\n' > "$(dirname "$BENCH_NETNS_PROGRAM")/config.dat"

setup_display

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$BENCH_PORT") 2>/dev/null; }

# Start-up: the client and the bare client to their first request byte, the bare tray program to its
# first event-loop turn.
startup_reason=
if [[ $display_ok == 1 ]]; then
  if port_busy; then
    startup_reason="port $BENCH_PORT is in use"
  else
    note "start-up: $runs starts of each of the three programs..."
    if ! QT_QPA_PLATFORM=xcb "$BENCH_STARTUP" --program "$BENCH_PROGRAM" --baseline "$BENCH_BASELINE" \
        --client-baseline "$BENCH_CLIENT_BASELINE" \
        --port "$BENCH_PORT" --runs "$runs" --log "$work/startup.log" >"$work/startup.txt" 2>"$work/startup.err"; then
      startup_reason=$(tail -n1 "$work/startup.err")
    fi
  fi
else
  startup_reason=$display_reason
fi

# Memory and idle CPU: the client connected to the simulated service and both yardsticks, side by
# side. The bare client logs in as "yardstick", which the service refuses but stays connected to;
# the client's own requests are those of user "bench".
steady_reason=
if [[ $display_ok == 1 ]]; then
  "$BENCH_SIM" --port "$BENCH_PORT" --user bench --password bench >"$work/sim.log" 2>&1 &
  sim_pid=$!
  started+=("$sim_pid")
  for _ in $(seq 100); do
    grep -q '^listening on ' "$work/sim.log" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q '^listening on ' "$work/sim.log"; then
    steady_reason="the simulated service did not start on port $BENCH_PORT"
  else
    note "memory and idle CPU: the three programs side by side for $((settle + idle)) s..."
    QT_QPA_PLATFORM=xcb "$BENCH_PROGRAM" >"$work/program.log" 2>&1 &
    program_pid=$!
    started+=("$program_pid")
    QT_QPA_PLATFORM=xcb "$BENCH_BASELINE" >"$work/baseline.log" 2>&1 &
    baseline_pid=$!
    started+=("$baseline_pid")
    QT_QPA_PLATFORM=xcb "$BENCH_CLIENT_BASELINE" >"$work/client-baseline.log" 2>&1 &
    client_baseline_pid=$!
    started+=("$client_baseline_pid")
    for _ in $(seq 200); do
      grep -q '^request [0-9]* user=bench ' "$work/sim.log" && grep -q '^request [0-9]* user=yardstick ' "$work/sim.log" \
        && break
      sleep 0.1
    done
    if ! grep -q '^request [0-9]* user=bench ok ' "$work/sim.log"; then
      steady_reason="the client did not log in to the simulated service"
    elif ! grep -q '^request [0-9]* user=yardstick ' "$work/sim.log"; then
      steady_reason="the bare client sent no request to the simulated service"
    else
      sleep "$settle"
      rss_program_start=$(rss_kb "$program_pid")
      rss_baseline_start=$(rss_kb "$baseline_pid")
      rss_client_baseline_start=$(rss_kb "$client_baseline_pid")
      [[ -n ${BENCH_KEEP:-} ]] && cp "/proc/$program_pid/smaps" "$work/program-start.smaps" \
        && cp "/proc/$client_baseline_pid/smaps" "$work/client-baseline-start.smaps"
      cpu_program_0=$(cpu_ns "$program_pid")
      cpu_baseline_0=$(cpu_ns "$baseline_pid")
      requests_0=$(grep -c '^request [0-9]* user=bench ' "$work/sim.log")
      t0=$(uptime_s)
      if [[ -z $rss_program_start || -z $rss_baseline_start || -z $rss_client_baseline_start ]]; then
        steady_reason="a program ended during start-up"
      else
        sleep "$idle"
      fi
      cpu_program_1=$(cpu_ns "$program_pid")
      cpu_baseline_1=$(cpu_ns "$baseline_pid")
      t1=$(uptime_s)
      rss_program_end=$(rss_kb "$program_pid")
      rss_baseline_end=$(rss_kb "$baseline_pid")
      rss_client_baseline_end=$(rss_kb "$client_baseline_pid")
      [[ -n ${BENCH_KEEP:-} ]] && cp "/proc/$program_pid/smaps" "$work/program-end.smaps" \
        && cp "/proc/$client_baseline_pid/smaps" "$work/client-baseline-end.smaps"
      requests_1=$(grep -c '^request [0-9]* user=bench ' "$work/sim.log")
      failed_requests=$(grep -c '^request [0-9]* user=bench .* fail ' "$work/sim.log")
      if [[ -z $steady_reason && ( -z $rss_program_end || -z $rss_baseline_end || -z $rss_client_baseline_end ) ]]; then
        steady_reason="a program ended during the connected phase"
      fi
    fi
  fi
else
  steady_reason=$display_reason
fi

# In-process: CPU per connected tick, and reply throughput.
note "CPU per tick: 5 rounds of 1000 connected ticks..."
tick_reason=
QT_QPA_PLATFORM=offscreen "$BENCH_TICK" 1000 5 >"$work/tick.txt" 2>"$work/tick.err" \
  || tick_reason=$(tail -n1 "$work/tick.err")
# The same with the window's thread and the service's sharing one core. Spread over two cores, every
# reply wakes the window's thread on an idle core, and on a virtual machine that wake-up is costly
# and varies with the host; on one core it does not happen, which shows the client's own work.
if [[ -z $tick_reason ]] && command -v taskset >/dev/null; then
  QT_QPA_PLATFORM=offscreen taskset -c "$(cut -d- -f1 /sys/devices/system/cpu/online | cut -d, -f1)" \
    "$BENCH_TICK" 1000 5 >"$work/tick-one-core.txt" 2>/dev/null || true
fi
note "reply throughput: 64 MB three ways, three times each..."
throughput_reason=
QT_QPA_PLATFORM=offscreen "$BENCH_THROUGHPUT" 64 3 >"$work/throughput.txt" 2>"$work/throughput.err" \
  || throughput_reason=$(tail -n1 "$work/throughput.err")

# The network changing under the client: the real program in a network namespace of its own, the
# simulated service in another, joined by a veth pair (root and `ip` only). The program ticks on its
# own ten-second timer here.
netns_reason=
netns_outages=(20 60)
if [[ $(id -u) -ne 0 ]]; then
  netns_reason="needs root, for network namespaces"
elif ! command -v ip >/dev/null; then
  netns_reason="ip (iproute2) is not installed"
else
  note "network changes: an address change, then outages of ${netns_outages[*]} s (about 3 minutes)..."
  ns_s="vstb$$-s"
  ns_c="vstb$$-c"
  netns_cleanup() { ip netns del "$ns_c" 2>/dev/null; ip netns del "$ns_s" 2>/dev/null; }
  if ip netns add "$ns_s" && ip netns add "$ns_c" \
      && ip link add "vstb$$c" netns "$ns_c" type veth peer name "vstb$$s" netns "$ns_s" \
      && ip -n "$ns_s" link set lo up && ip -n "$ns_c" link set lo up \
      && ip -n "$ns_s" addr add 203.0.113.1/24 dev "vstb$$s" && ip -n "$ns_c" addr add 203.0.113.2/24 dev "vstb$$c" \
      && ip -n "$ns_s" link set "vstb$$s" up && ip -n "$ns_c" link set "vstb$$c" up; then
    # Each line of the service's log with the moment it was read.
    ip netns exec "$ns_s" "$BENCH_SIM" --listen 203.0.113.1 --port 8080 --user bench --password bench 2>&1 \
      | while IFS= read -r line; do echo "$(uptime_s) $line"; done >"$work/netns-sim.log" &
    started+=($!)
    ip netns exec "$ns_c" env QT_QPA_PLATFORM=offscreen "$BENCH_NETNS_PROGRAM" >"$work/netns-program.log" 2>&1 &
    started+=($!)
    # first_request_after T ADDRESS: the time of the first request from ADDRESS reporting it, after T.
    first_request_after() {
      awk -v t="$1" -v a="$2" '$1 > t && $2 == "request" && $0 ~ (" from " a " localip=" a "$") { print $1; exit }' \
        "$work/netns-sim.log"
    }
    wait_request_after() { # T ADDRESS SECONDS
      local _
      for _ in $(seq $(($3 * 10))); do
        [[ -n $(first_request_after "$1" "$2") ]] && return 0
        sleep 0.1
      done
      return 1
    }
    if ! wait_request_after 0 203.0.113.2 20; then
      netns_reason="the client did not log in across the veth pair"
    else
      sleep 3
      t_change=$(uptime_s)
      ip -n "$ns_c" addr del 203.0.113.2/24 dev "vstb$$c"
      ip -n "$ns_c" addr add 203.0.113.3/24 dev "vstb$$c"
      if wait_request_after "$t_change" 203.0.113.3 40; then
        netns_change=$(awk -v a="$t_change" -v b="$(first_request_after "$t_change" 203.0.113.3)" 'BEGIN { printf "%.2f", b - a }')
      fi
      for outage in "${netns_outages[@]}"; do
        sleep 12
        t_lost=$(uptime_s)
        ip -n "$ns_c" route add blackhole 203.0.113.1/32
        sleep "$outage"
        t_back=$(uptime_s)
        ip -n "$ns_c" route del blackhole 203.0.113.1/32
        if wait_request_after "$t_back" 203.0.113.3 60; then
          back=$(awk -v a="$t_back" -v b="$(first_request_after "$t_back" 203.0.113.3)" 'BEGIN { printf "%.1f", b - a }')
          sleep 25
          # The most requests the service received within any two seconds after the path's return.
          burst=$(awk -v t="$t_back" '$1 > t && $2 == "request" { print $1 }' "$work/netns-sim.log" \
            | awk '{ t[NR] = $1 } END { m = 0; for (i = 1; i <= NR; i++) { n = 0; for (j = i; j <= NR && t[j] - t[i] < 2; j++) n++; if (n > m) m = n } print m }')
          netns_back+=("$outage:$back:$burst")
        else
          netns_back+=("$outage:none:0")
        fi
      done
    fi
  else
    netns_reason="network namespaces could not be made here"
  fi
  for pid in "${started[@]: -2}"; do kill -TERM "$pid" 2>/dev/null; done
  pkill -TERM -f "$BENCH_NETNS_PROGRAM" 2>/dev/null
  pkill -TERM -f "$BENCH_SIM --listen 203.0.113.1" 2>/dev/null
  sleep 0.5
  netns_cleanup
fi

# --- Report ---------------------------------------------------------------------------------------

echo
echo "Footprint of vestrel against two yardsticks of the same build: a bare Qt client of this job (tray icon,"
echo "hidden window of the same controls, one socket sending one request) and a bare tray program (tray"
echo "icon, empty window). Memory and start-up targets are against the bare client."
echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)"
row "figure" "measured" "target" "verdict"

# rss_row NAME VESTREL CLIENT-BASELINE TRAY-BASELINE (kB)
rss_row() {
  local r t
  r=$(ratio "$2" "$3")
  t=$(ratio "$2" "$4")
  record "$1" "vestrel $(mb "$2") MB; bare client $(mb "$3") MB: ${r} x; bare tray $(mb "$4") MB: ${t} x" \
    "<= 1.05 x" "$r" "<=" 1.05
}
if [[ -z $steady_reason ]]; then
  rss_row "RSS after start-up" "$rss_program_start" "$rss_client_baseline_start" "$rss_baseline_start"
  rss_row "RSS after ${idle} s connected" "$rss_program_end" "$rss_client_baseline_end" "$rss_baseline_end"
else
  missing "RSS after start-up" "<= 1.05 x" "$steady_reason"
  missing "RSS after ${idle} s connected" "<= 1.05 x" "$steady_reason"
fi

if [[ -z $startup_reason ]]; then
  p=$(key program_median_ms "$work/startup.txt")
  c=$(key client_baseline_median_ms "$work/startup.txt")
  b=$(key baseline_median_ms "$work/startup.txt")
  r=$(ratio "$p" "$c")
  t=$(ratio "$p" "$b")
  record "Start-up (median of $runs)" "vestrel $p ms, bare client $c ms (both to request): ${r} x; bare tray $b ms to loop: ${t} x" \
    "<= 1.10 x" "$r" "<=" 1.10
  spread() { echo "$(key "${1}_min_ms" "$work/startup.txt")-$(key "${1}_max_ms" "$work/startup.txt")"; }
  row "  spread of the starts" "vestrel $(spread program) ms, bare client $(spread client_baseline) ms, bare tray $(spread baseline) ms" "" ""
  pc=$(key program_cpu_median_ms "$work/startup.txt")
  cc=$(key client_baseline_cpu_median_ms "$work/startup.txt")
  row "  CPU time to that point" "vestrel $pc ms, bare client $cc ms: $(ratio "$pc" "$cc") x (medians; all threads)" "" ""
else
  missing "Start-up (median of $runs)" "<= 1.10 x" "$startup_reason"
fi

if [[ -z $tick_reason ]]; then
  c=$(key cpu_us_per_tick "$work/tick.txt")
  lo=$(key cpu_us_min "$work/tick.txt")
  hi=$(key cpu_us_max "$work/tick.txt")
  one=$(key cpu_us_per_tick "$work/tick-one-core.txt" 2>/dev/null)
  record "CPU per connected tick" "$c us (median of 5 x 1000 ticks, $lo-$hi; on one core ${one:-?} us)" \
    "<= 100 us" "$c" "<=" 100
else
  missing "CPU per connected tick" "<= 100 us" "$tick_reason"
fi

if [[ -z $throughput_reason ]]; then
  for stream in pages_1460 pages_4096 hostile_1460; do
    case $stream in
      pages_1460) label="Reply throughput, 1460 B";;
      pages_4096) label="Reply throughput, 4096 B";;
      hostile_1460) label="Reply throughput, near misses";;
    esac
    c=$(key "${stream}_cpu_mbps" "$work/throughput.txt")
    w=$(key "${stream}_wall_mbps" "$work/throughput.txt")
    record "$label" "$c MB/s (median of 3 x 64 MB; wall clock $w MB/s)" ">= 100 MB/s" "$c" ">=" 100
  done
else
  missing "Reply throughput" ">= 100 MB/s" "$throughput_reason"
fi

if [[ -z $steady_reason ]]; then
  span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  pct() { awk -v a="$1" -v b="$2" -v s="$span" 'BEGIN { printf "%.3f", (b - a) / 1e9 / s * 100 }'; }
  p=$(pct "$cpu_program_0" "$cpu_program_1")
  b=$(pct "$cpu_baseline_0" "$cpu_baseline_1")
  requests=$((requests_1 - requests_0))
  detail="$p % of one core ($requests requests answered; baseline $b %)"
  [[ $failed_requests == 0 ]] || detail="$detail; $failed_requests logins refused"
  record "Idle CPU, ${idle} s connected" "$detail" "<= 0.1 %" "$p" "<=" 0.1
else
  missing "Idle CPU, ${idle} s connected" "<= 0.1 %" "$steady_reason"
fi

if [[ -z $netns_reason ]]; then
  if [[ -n ${netns_change:-} ]]; then
    record "Address change to new request" "$netns_change s from the change to the first request from the new address" \
      "<= 20 s" "$netns_change" "<=" 20
  else
    missing "Address change to new request" "<= 20 s" "no request from the new address within 40 s"
  fi
  for entry in "${netns_back[@]}"; do
    IFS=: read -r outage back burst <<<"$entry"
    if [[ $back == none ]]; then
      missing "Path back after ${outage} s outage" "<= 40 s" "no request within 60 s of the path's return"
      continue
    fi
    record "Path back after ${outage} s outage" "$back s to the first request; at most $burst requests within 2 s" \
      "<= 40 s" "$back" "<=" 40
    record "Burst after ${outage} s outage" "$burst requests within any 2 s after the return" "<= 2" "$burst" "<=" 2
  done
else
  missing "Address change to new request" "<= 20 s" "$netns_reason"
fi

echo
echo "Throughput: 1 MB = 2^20 bytes, from the window thread's CPU time. CPU figures count the client alone."
if [[ ${#short[@]} -eq 0 ]]; then
  echo "Every figure meets its target."
else
  list=$(printf '%s; ' "${short[@]}")
  echo "Short of target: ${list%; }"
fi
exit 0
