#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, if any are missing.
#   install-deps.sh           the Linux build, its tests and tools
#   install-deps.sh windows   the Windows build (MinGW-w64, Qt's host tools) and its tests under Wine
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libegl-dev libxkbcommon-dev
  xvfb xauth x11-utils xdotool trayer openbox imagemagick fonts-dejavu-core fonts-liberation2
  desktop-file-utils librsvg2-bin
  iproute2 nftables
  dbus dbus-x11 at-spi2-core python3-pyatspi
  clang libclang-rt-14-dev
  clang-format clang-tidy
)

if [[ "${1:-}" == windows ]]; then
  packages=(
    cmake ninja-build zstd qt6-base-dev qt6-base-dev-tools dpkg-dev
    g++-mingw-w64-x86-64-posix mingw-w64-tools icoutils nsis osslsigncode openssl
    wine wine64 debootstrap
    xvfb xauth x11-utils xdotool trayer imagemagick fonts-dejavu-core
  )
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
