#!/usr/bin/env bash
# Provides the Qt for Windows (64-bit, MinGW-w64) that the Windows build uses, and prints its folder.
#   qt.sh [ARCHIVE]
# Kept in $VESTREL_QT_WINDOWS_CACHE (default ~/.cache/vestrel). Given an archive made by
# build-qt.sh (qt-6.4.2-mingw-w64-x86_64.tar.zst), it checks the .sha256 beside it, if there
# is one, and unpacks it there. With no archive and nothing in the cache, it builds Qt from Debian's
# own qt6-base source, which takes about an hour on two cores.
set -euo pipefail

cache=${VESTREL_QT_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vestrel}
ver=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null | sed 's/+dfsg.*//')
[[ -n "$ver" ]] || { echo "qt-windows: qt6-base-dev is not installed" >&2; exit 2; }
prefix=$cache/qt-$ver-mingw
archive=${1:-${VESTREL_QT_WINDOWS_ARCHIVE:-}}

if [[ -x "$prefix/bin/qt-cmake" ]]; then
  echo "$prefix"
  exit 0
fi
mkdir -p "$cache"
if [[ -n "$archive" ]]; then
  [[ -f "$archive" ]] || { echo "qt-windows: no archive at $archive" >&2; exit 2; }
  if [[ -f "$archive.sha256" ]]; then
    (cd "$(dirname "$archive")" && sha256sum --quiet -c "$(basename "$archive").sha256") >&2 ||
      { echo "qt-windows: $archive does not match its .sha256" >&2; exit 1; }
  fi
  echo "qt-windows: unpacking $archive into $cache" >&2
  tmp=$(mktemp -d "$cache/unpack.XXXXXX")
  tar --zstd -xf "$archive" -C "$tmp"
  [[ -x "$tmp/qt-$ver-mingw/bin/qt-cmake" ]] ||
    { rm -rf "$tmp"; echo "qt-windows: $archive holds no qt-$ver-mingw/bin/qt-cmake" >&2; exit 1; }
  mv "$tmp/qt-$ver-mingw" "$prefix"
  rm -rf "$tmp"
else
  echo "qt-windows: no Qt for Windows in $cache and no archive given: building it from Debian's" >&2
  echo "qt-windows: qt6-base $ver source. This takes about an hour on two cores." >&2
  bash "$(dirname "$0")/build-qt.sh" "$prefix" "$cache/build" >&2
fi
echo "$prefix"
