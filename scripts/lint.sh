#!/usr/bin/env bash
# format        rewrites every C++ file with .clang-format
# format-check  fails when a file is not formatted
# tidy BUILD [WINDOWS_BUILD]
#               runs clang-tidy (.clang-tidy) over the program's, tools' and tests' sources that
#               BUILD compiles, and over those only WINDOWS_BUILD compiles (the _win files)
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
  windows_build=${3:-}
  [[ -f "$build/compile_commands.json" ]] || { echo "no $build/compile_commands.json" >&2; exit 2; }
  log=$(mktemp)
  # Each file with the build that compiles it: this system's files and tests with the first, the
  # Windows build's own (_win.cpp, the Windows tests) with its compile commands, which name the
  # cross compiler and so the target and its headers. _none.cpp files of a system neither build
  # is for are left out.
  tidy_with() {
    local dir=$1 skip=${2:-}
    local files
    files=$(git ls-files -- 'src/*.cpp' 'tools/*.cpp' 'tests/*.cpp' 'fuzz/*.cpp' | while read -r f; do
      grep -qF "\"file\": \"$PWD/$f\"" "$dir/compile_commands.json" || continue
      [[ -n "$skip" ]] && grep -qF "\"file\": \"$PWD/$f\"" "$skip/compile_commands.json" && continue
      echo "$f"
    done)
    [[ -n "$files" ]] || return 0
    # The moc output a test includes (tst_x.moc) exists only once its target's moc step has run,
    # and `make windows` builds the program alone.
    local autogen=()
    mapfile -t autogen < <(cmake --build "$dir" --target help 2>/dev/null |
      sed -nE 's/^(\.\.\. )?([A-Za-z0-9_]+_autogen)(:.*)?$/\2/p')
    if ((${#autogen[@]})); then
      cmake --build "$dir" -j "$(nproc)" --target "${autogen[@]}" >/dev/null
    fi
    # A cross compiler's target and C++ library, which clang does not find by itself from its name.
    local compiler args=()
    if [[ -n "$skip" ]]; then
      compiler=$(grep -m 1 '"command":' "$dir/compile_commands.json" | sed 's/^ *"command": "\([^ ]*\) .*/\1/')
      args+=("--extra-arg-before=--target=$("$compiler" -dumpmachine)" --extra-arg=-nostdinc++)
      while read -r include; do
        args+=("--extra-arg=-isystem$include")
      done < <("$compiler" -E -x c++ - -v </dev/null 2>&1 |
        sed -n '/#include <...> search starts here:/,/End of search list/p' | grep '/c++' | sed 's/^ *//')
    fi
    # The findings are judged from the output below, not from clang-tidy's exit status.
    printf '%s\n' $files | xargs -P "$(nproc)" -n 4 clang-tidy -p "$dir" "${args[@]}" --quiet >>"$log" 2>&1 || true
  }
  tidy_with "$build"
  if [[ -n "$windows_build" && -f "$windows_build/compile_commands.json" ]]; then
    tidy_with "$windows_build" "$build"
  elif [[ -n "$windows_build" ]]; then
    echo "tidy: no $windows_build/compile_commands.json: the Windows files were not read (make windows-configure)"
  fi
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
