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

# What the setup installs: exactly what the folder holds, each directory after what it holds. The
# installed folder keeps the list (installed-files.txt), and the next setup takes out what it names
# before copying its own files; the uninstaller takes out the same. An account or anything else the
# user put there is in no list and stays.
filelist=$(mktemp "${TMPDIR:-/tmp}/vestrel-files.XXXXXX")
unfiles=$(mktemp "${TMPDIR:-/tmp}/vestrel-unfiles.XXXXXX")
trap 'rm -f "$filelist" "$unfiles"' EXIT
# shellcheck disable=SC2016 # NSIS's own $INSTDIR, written as it is
(
  cd "$folder"
  find . -type f ! -name config.dat | sort
  find . -mindepth 1 -type d | sort -r | sed 's|$|/|'
) | while read -r path; do
  path=${path#./}
  path=${path//\//\\}
  printf '%s\r\n' "$path" >>"$filelist"
  if [[ $path == *\\ ]]; then
    printf 'RMDir "$INSTDIR\\%s"\n' "${path%\\}"
  else
    printf 'Delete "$INSTDIR\\%s"\n' "$path"
  fi
done >"$unfiles"

makensis -V2 -NOCD -DVERSION="$version" -DFOLDER="$folder" -DFILELIST="$filelist" -DUNFILES="$unfiles" \
  -DICON="$(realpath "$build/src/vestrel.ico")" -DOUTFILE="$(realpath -m "$setup")" \
  "$source/packaging/windows/vestrel.nsi" >&2
echo "$setup"
