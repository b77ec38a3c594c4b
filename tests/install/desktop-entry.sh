#!/usr/bin/env bash
# The menu entry as the install writes it passes desktop-file-validate, warnings included, and
# starts the installed program even from a folder whose name needs quoting.
#   desktop-entry.sh BUILD_DIR          exit 0 passed, 1 failed, 77 validator missing
set -uo pipefail

build=$1
command -v desktop-file-validate >/dev/null || {
  echo "SKIPPED: desktop-file-validate missing (Debian package desktop-file-utils)"
  exit 77
}
work=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-entry.XXXXXX")
trap 'rm -rf "$work"' EXIT
home="$work/home with space"
mkdir -p "$home"

env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u VESTREL_PREFIX -u VESTREL_BINDIR HOME="$home" \
  bash "$(dirname "$0")/../../scripts/user-install.sh" install "$build" >/dev/null || { echo "FAIL: install"; exit 1; }
entry="$home/.local/share/applications/vestrel.desktop"

out=$(desktop-file-validate "$entry" 2>&1)
if [[ -n "$out" ]]; then
  echo "FAIL: desktop-file-validate:"
  echo "$out"
  exit 1
fi
# A quoted argument, its backslashes escaped once more as a string value: here there are none.
expected="Exec=\"$home/.local/lib/vestrel/vestrel\""
grep -qxF "$expected" "$entry" || { echo "FAIL: want $expected, got:"; grep '^Exec=' "$entry"; exit 1; }
[[ -x "$home/.local/lib/vestrel/vestrel" ]] || { echo "FAIL: no program where Exec points"; exit 1; }
echo "PASS"
