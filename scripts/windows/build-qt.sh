#!/usr/bin/env bash
# Builds Qt 6 (qtbase: Core, Gui, Widgets, Network, Test and the Windows platform plugin) for
# 64-bit Windows with Debian's MinGW-w64 cross compiler, from Debian's own qt6-base source
# package, so that the host tools (moc, rcc, uic) of Debian's Qt are of the same version.
# Usage: build-qt.sh PREFIX [WORKDIR]   (scripts/windows/qt.sh calls it)
# Needs: g++-mingw-w64-x86-64-posix ninja-build cmake qt6-base-dev qt6-base-dev-tools dpkg-dev, and
# source entries in the apt sources: where there are none, the system's own entries are copied as
# source entries (deb-src) first.
set -euo pipefail
prefix=${1:?usage: build-qt.sh PREFIX [WORKDIR]}
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
if ! apt-get source --simulate qt6-base >/dev/null 2>&1; then
  echo "build-qt-windows: adding source entries beside the apt sources, then apt-get update" >&2
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${sudo[@]}" tee /etc/apt/sources.list.d/vestrel-src.sources >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | sed 's/^deb /deb-src /' |
      "${sudo[@]}" tee /etc/apt/sources.list.d/vestrel-src.list >/dev/null
  fi
  "${sudo[@]}" apt-get update
fi
work=${2:-/var/tmp/qt-mingw-build}
mkdir -p "$work"; cd "$work"
ver=$(dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/+dfsg.*//')
if [ ! -d "qtbase-everywhere-src-$ver" ]; then
  ls qt6-base_*.orig.tar.xz >/dev/null 2>&1 || apt-get source --download-only "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)"
  tar xf qt6-base_*.orig.tar.xz
fi
src=$work/qtbase-everywhere-src-$ver
# Debian's source leaves out the Wintab headers (src/3rdparty/wintab), which only pen tablets
# need: the Windows platform plugin is built without its Wintab support.
win=$src/src/plugins/platforms/windows
if ! grep -q 'CONDITION FALSE' "$win/CMakeLists.txt"; then
  sed -i 's/QT_CONFIG(tabletevent)/QT_CONFIG(tabletevent) \&\& 0/' \
    "$win/qwindowscontext.cpp" "$win/qwindowspointerhandler.cpp" "$win/qwindowspointerhandler.h"
  sed -i 's/qt_internal_extend_target(QWindowsIntegrationPlugin CONDITION QT_FEATURE_tabletevent/qt_internal_extend_target(QWindowsIntegrationPlugin CONDITION FALSE/' \
    "$win/CMakeLists.txt"
  # The Direct2D platform plugin, an alternative to the plain one, shares those sources: left out.
  sed -i 's/^if(QT_FEATURE_direct2d1_1 AND QT_FEATURE_directwrite)/if(FALSE)/' "$src/src/plugins/platforms/CMakeLists.txt"
  # Qt 6.4.2's plugin asks for dynamic OpenGL even where OpenGL is switched off.
  sed -i '/static inline bool isSoftwareGl/,/#endif/ s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$win/qwindowswindow.cpp"
fi
cat >"$work/mingw-w64-x86_64.cmake" <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC
cmake -G Ninja -S "$src" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$work/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DBUILD_WITH_PCH=OFF \
  -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_testlib=ON \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF \
  -DFEATURE_openssl=OFF -DFEATURE_schannel=ON -DFEATURE_vulkan=OFF
cmake --build "$work/build" --parallel "${JOBS:-2}"
cmake --install "$work/build"
# Relocatable: the toolchain file travels inside the prefix, and qt-cmake finds it from there.
cp "$work/mingw-w64-x86_64.cmake" "$prefix/mingw-w64-x86_64.cmake"
sed -i 's|^set(__qt_initially_configured_toolchain_file ".*")|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/../../../mingw-w64-x86_64.cmake")|' \
  "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
echo "Qt for Windows installed in $prefix"
