#!/usr/bin/env bash
# The committed PNGs are what scripts/make-icons.sh draws from the SVGs today: a drawing changed
# without its PNGs redrawn, or a size drawn but never committed, fails here.
#   icons.sh                            exit 0 passed, 1 failed, 77 a tool missing
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
for tool in rsvg-convert compare; do
  command -v "$tool" >/dev/null || {
    echo "SKIPPED: $tool missing (Debian packages librsvg2-bin imagemagick)"
    exit 77
  }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-icons.XXXXXX")
trap 'rm -rf "$work"' EXIT

bash "$root/scripts/make-icons.sh" "$work" || { echo "FAIL: make-icons.sh"; exit 1; }
failed=0
count=0
for png in "$work"/*.png; do
  committed="$root/resources/${png##*/}"
  count=$((count + 1))
  # Pixels, not bytes: another zlib may pack the same picture differently.
  if ! differ=$(compare -metric AE -fuzz 1% "$png" "$committed" null: 2>&1) || [[ "$differ" != 0 ]]; then
    echo "FAIL: resources/${png##*/} is not what make-icons.sh draws (${differ:-missing})"
    failed=1
  fi
done
((failed)) || echo "PASS: $count sizes"
exit "$failed"
