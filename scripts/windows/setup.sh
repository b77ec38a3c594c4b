#!/usr/bin/env bash
# Makes the Windows setup (NSIS, packaging/windows/vestrel.nsi) from a program folder that
# folder.sh laid out.
#   setup.sh BUILD FOLDER [OUTDIR]   writes OUTDIR (default BUILD)/vestrel-<version>-setup.exe
set -euo pipefail
build=${1:?usage: setup.sh BUILD FOLDER [OUTDIR]}
folder=$(realpath "${2:?usage: setup.sh BUILD FOLDER [OUTDIR]}")
outdir=${3:-$build}
source=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
setup=$outdir/vestrel-$version-setup.exe

# What the uninstaller takes out: exactly what the folder holds, each directory once empty; an
# account or anything else the user put there stays.
unfiles=$(mktemp "${TMPDIR:-/tmp}/vestrel-unfiles.XXXXXX")
trap 'rm -f "$unfiles"' EXIT
# shellcheck disable=SC2016,SC1003 # NSIS's own $INSTDIR and backslashes, written as they are
(
  cd "$folder"
  find . -type f ! -name config.dat | sort | while read -r f; do
    printf 'Delete "$INSTDIR\\%s"\n' "${f#./}" | tr / '\\'
  done
  find . -mindepth 1 -type d | sort -r | while read -r d; do
    printf 'RMDir "$INSTDIR\\%s"\n' "${d#./}" | tr / '\\'
  done
) >"$unfiles"

makensis -V2 -NOCD -DVERSION="$version" -DFOLDER="$folder" -DUNFILES="$unfiles" \
  -DICON="$(realpath "$build/src/vestrel.ico")" -DOUTFILE="$(realpath -m "$setup")" \
  "$source/packaging/windows/vestrel.nsi" >&2
echo "$setup"
