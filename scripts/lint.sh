#!/usr/bin/env bash
# format        rewrites every C++ file with .clang-format
# format-check  fails when a file is not formatted
# tidy BUILD    runs clang-tidy (.clang-tidy) over the program's and tools' sources
set -euo pipefail
cd "$(dirname "$0")/.."

sources() { git ls-files -- '*.cpp' '*.h' | grep -v '^build'; }

case "${1:-}" in
format)
  sources | xargs clang-format -i
  ;;
format-check)
  sources | xargs clang-format --dry-run --Werror
  echo "format: all files follow .clang-format"
  ;;
tidy)
  build=${2:?build directory with compile_commands.json}
  [[ -f "$build/compile_commands.json" ]] || { echo "no $build/compile_commands.json" >&2; exit 2; }
  # Only what this build compiles: another system's files (_win.cpp, _none.cpp) need its headers.
  files=$(git ls-files -- 'src/*.cpp' 'tools/*.cpp' | while read -r f; do
    grep -qF "\"file\": \"$PWD/$f\"" "$build/compile_commands.json" && echo "$f"
  done)
  log=$(mktemp)
  # The findings are judged from the output below, not from clang-tidy's exit status.
  printf '%s\n' $files | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet >"$log" 2>&1 || true
  grep -v -E '^[0-9]+ warnings? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter' "$log" || true
  if grep -qE '(warning|error):' "$log"; then
    echo "tidy: findings above" >&2
    exit 1
  fi
  echo "tidy: no findings"
  ;;
*)
  echo "usage: $0 format | format-check | tidy BUILD_DIR" >&2
  exit 2
  ;;
esac
