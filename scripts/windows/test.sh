#!/usr/bin/env bash
# The Windows suite under both Wines: the system's (Debian 12: Wine 8), then Wine 10 from a Debian 13
# root (wine10.sh), each in prefixes of its own, and a summary of both.
#   test.sh BUILD JOBS
# Where the Debian 13 root cannot be made here (no root rights, no mirror), the Wine 10 half says
# why and is skipped, and the status is 77; under CI (CI=true) or with VESTREL_REQUIRE_WINE10=1 that
# fails instead. Exit status: 0
# both passed, 1 a half failed, 77 Wine 8 passed and Wine 10 was skipped.
set -uo pipefail
build=$1
jobs=$2
here=$(dirname "$0")

# suite LABEL [WRAPPER...]: the whole suite, with every program in the prefix ended afterwards.
suite() {
  local label=$1 status
  shift
  echo
  echo "=== Windows suite under $label"
  "$@" bash "$build/wine-run.sh" --prefix || return 1
  QT_QPA_PLATFORM=offscreen "$@" ctest --test-dir "$build" --output-on-failure -j "$jobs"
  status=$?
  "$@" bash "$build/wine-run.sh" --end
  return "$status"
}
minutes() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

start=$SECONDS
wine8=$(wine --version 2>/dev/null)
suite "Wine 8 ($wine8, the system's)"
status8=$?
time8=$((SECONDS - start))

start=$SECONDS
reason=$(bash "$here/wine10.sh" root 2>&1 >/dev/null)
root_status=$?
if ((root_status == 0)); then
  wine10=$(bash "$build/wine10.sh" wine --version 2>/dev/null)
  suite "Wine 10 ($wine10, Debian 13 root)" bash "$build/wine10.sh"
  status10=$?
else
  echo
  echo "=== Windows suite under Wine 10: not run"
  echo "$reason"
  status10=$root_status
fi
time10=$((SECONDS - start))

outcome() {
  case $1 in
  0) echo passed ;;
  77) echo "SKIPPED: the Debian 13 root cannot be made here (${reason##*wine10: })" ;;
  *) echo FAILED ;;
  esac
}
echo
echo "=== Windows suite, summary"
echo "Wine 8:  $(outcome "$status8") ($(minutes "$time8"))"
echo "Wine 10: $(outcome "$status10") ($(minutes "$time10"))"
((status8 == 0)) || exit 1
if ((status10 == 77)); then
  if [[ ${CI:-} == true || ${VESTREL_REQUIRE_WINE10:-} == 1 ]]; then
    echo "Both Wines are required here (CI=true or VESTREL_REQUIRE_WINE10=1): the Wine 10 half must run"
    exit 1
  fi
  exit 77
fi
((status10 == 0)) || exit 1
exit 0
