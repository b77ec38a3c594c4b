#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, starting from its committed corpus.
#   fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET
# New inputs go to BUILD_DIR/fuzz-work/<target>/; the committed corpus is only read. An input that
# breaks an invariant or trips a sanitizer is kept as BUILD_DIR/fuzz-artifacts/<target>-crash-*, and
# the run fails: fix the fault, then add the input to fuzz/corpus/<target>/ so that the replay test
# of the normal suite keeps it fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?build directory}
seconds=${2:-60}

targets=(fuzz_reply fuzz_settings fuzz_request)
declare -A options=(
  # Room for deliveries that span many 255-byte reads, and the reader's words.
  [fuzz_reply]="-max_len=16384 -dict=fuzz/reply.dict"
  # Room for a line longer than a text box holds.
  [fuzz_settings]="-max_len=40000"
  [fuzz_request]="-max_len=2048"
)

# The targets' windows live in temporary folders that an exiting fuzzer leaves behind: keep them in
# the build tree and clear them afterwards.
export TMPDIR="$build/fuzz-work/tmp"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:suppressions=$PWD/tests/asan.supp"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
mkdir -p "$TMPDIR" "$build/fuzz-artifacts"

summary=()
status=0
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  log="$build/fuzz-work/$t.log"
  mkdir -p "$work"
  echo "== $t: ${seconds}s"
  # shellcheck disable=SC2086 # the options are separate words
  if "$build/fuzz/$t" ${options[$t]} -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$t-" "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("$t: ${runs:-?} executions in ${seconds}s, $result (log: $log)")
done
rm -rf "$TMPDIR"

printf '%s\n' "${summary[@]}"
exit $status
