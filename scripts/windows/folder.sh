#!/usr/bin/env bash
# Lays out the Windows program folder from a Windows build tree and zips it: what a Windows user
# unzips and runs. Given a certificate (VESTREL_SIGN_*, see sign.sh), it signs every program and
# library in it before zipping: Smart App Control judges each one Windows loads, not only the
# program started.
#   folder.sh BUILD [OUTDIR]   writes OUTDIR (default BUILD)/vestrel-<version>-windows-x64/
#                                      and its .zip beside it
set -euo pipefail
build=${1:?usage: folder.sh BUILD [OUTDIR]}
outdir=${2:-$build}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=vestrel-$version-windows-x64
folder=$outdir/$name
rm -rf "$folder" "$folder.zip"
cmake --install "$build" --prefix "$folder" >/dev/null
# The libraries come with their debugging information, three quarters of their size: a user's
# folder does without it.
find "$folder" \( -name '*.dll' -o -name '*.exe' \) -exec x86_64-w64-mingw32-strip --strip-debug {} +
find "$folder" \( -name '*.dll' -o -name '*.exe' \) -exec bash "$(dirname "$0")/sign.sh" {} +
(cd "$outdir" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$folder"
