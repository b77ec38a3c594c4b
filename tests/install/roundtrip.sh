#!/usr/bin/env bash
# user-install.sh in a scratch home that already holds other programs' files: install puts every
# piece in place and names it with clean paths; uninstall takes out exactly that, keeps config.dat,
# and leaves no folder of its own behind; --purge takes config.dat too.
#   roundtrip.sh BUILD_DIR              exit 0 passed, 1 failed
set -uo pipefail

build=$1
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/user-install.sh"
res="$(dirname "$script")/../resources"
work=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
home=$work/home
failed=0
fail() { echo "FAIL: $*"; failed=1; }
tree() { (cd "$home" && find . | sort); }
run() {
  env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u VESTREL_PREFIX -u VESTREL_BINDIR HOME="$home/" PATH="$PATH" \
    bash "$script" "$@" 2>&1
}
paths_clean() { if grep -E '/\./|//' <<<"$1"; then fail "$2 printed an unclean path"; fi; }

# Other programs' things, in the very folders the install uses.
mkdir -p "$home/.local/bin" "$home/.local/share/icons/hicolor/48x48/apps"
touch "$home/.local/bin/other" "$home/.local/share/icons/hicolor/48x48/apps/other.png"
before=$(tree)

out=$(run install "$build") || fail "install: $out"
echo "$out"
paths_clean "$out" install
data=$home/.local/share
[[ -x "$home/.local/bin/vestrel" ]] || fail "no launcher"
[[ -f "$data/applications/vestrel.desktop" ]] || fail "no menu entry"
cmp -s "$res/vestrel.svg" "$data/icons/hicolor/scalable/apps/vestrel.svg" || fail "no scalable icon"
for png in "$res"/vestrel-*.png; do
  n=${png##*/vestrel-}; n=${n%.png}
  cmp -s "$png" "$data/icons/hicolor/${n}x$n/apps/vestrel.png" || fail "no ${n}x$n icon"
done
# Installing again changes nothing that uninstall would miss.
run install "$build" >/dev/null || fail "second install"

echo "account" > "$home/.local/lib/vestrel/config.dat"
out=$(run uninstall) || fail "uninstall: $out"
echo "$out"
paths_clean "$out" uninstall
grep -qxF "Removed ~/.local/bin/vestrel" <<<"$out" || fail "uninstall did not name the launcher"
# What stays: the account, and beside it the note of the folders install made, for --purge.
expected=$(printf '%s\n' "$before" ./.local/lib ./.local/lib/vestrel ./.local/lib/vestrel/{config.dat,.installed} | sort)
[[ "$(tree)" == "$expected" ]] || fail "after uninstall: $(diff <(echo "$expected") <(tree))"

out=$(run uninstall --purge) || fail "uninstall --purge: $out"
echo "$out"
[[ "$(tree)" == "$before" ]] || fail "after uninstall --purge: $(diff <(echo "$before") <(tree))"

((failed)) || echo "PASS"
exit "$failed"
