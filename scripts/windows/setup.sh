#!/usr/bin/env bash
# Makes the Windows setup (NSIS, packaging/windows/vestrel.nsi) from a program folder that
# folder.sh laid out. Given a certificate (VESTREL_SIGN_*, see sign.sh), the setup and the
# uninstaller inside it are signed as makensis writes them.
#   setup.sh BUILD FOLDER [OUTDIR]   writes OUTDIR (default BUILD)/vestrel-<version>-setup.exe
set -euo pipefail
build=${1:?usage: setup.sh BUILD FOLDER [OUTDIR]}
folder=$(realpath "${2:?usage: setup.sh BUILD FOLDER [OUTDIR]}")
outdir=${3:-$build}
source=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
setup=$outdir/vestrel-$version-setup.exe

# What the setup installs: exactly what the folder holds, each directory after what it holds. The
# installed folder keeps the list (installed-files.txt); the next setup, once its own files are in
# place, takes out what that list names and its own does not. The uninstaller takes out the same.
# An account or anything else the user put there is in no list and stays.
filelist=$(mktemp "${TMPDIR:-/tmp}/vestrel-files.XXXXXX")
unfiles=$(mktemp "${TMPDIR:-/tmp}/vestrel-unfiles.XXXXXX")
payload=$(mktemp "${TMPDIR:-/tmp}/vestrel-payload.XXXXXX")
trap 'rm -f "$filelist" "$unfiles" "$payload"' EXIT
# shellcheck disable=SC2016 # NSIS's own $INSTDIR and ${...}, written as they are
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
# The same for the setup's own steps: the directories, then the files, the program itself last, so
# that the previous one stays whole until everything else is in place.
# shellcheck disable=SC2016
{
  tr -d '\r' <"$filelist" | grep '\\$' | sed 's|\\$||; s|.*|${ShippedDir} "&"|'
  tr -d '\r' <"$filelist" | grep -v '\\$' | grep -vx vestrel.exe | sed 's|.*|${ShippedFile} "&"|'
  echo '${ShippedFile} "vestrel.exe"'
} >"$payload"

sign=()
[[ -z ${VESTREL_SIGN_PKCS12:-} ]] || sign=(-DSIGN="$source/scripts/windows/sign.sh")
makensis -V2 -NOCD -DVERSION="$version" -DFOLDER="$folder" -DFILELIST="$filelist" -DUNFILES="$unfiles" \
  -DPAYLOAD="$payload" "${sign[@]}" \
  -DICON="$(realpath "$build/src/vestrel.ico")" -DOUTFILE="$(realpath -m "$setup")" \
  "$source/packaging/windows/vestrel.nsi" >&2
echo "$setup"
