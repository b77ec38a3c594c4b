#!/usr/bin/env bash
# Puts a built Vestrel into the user's own space, or takes it out again.
#   user-install.sh install BUILD_DIR   program folder, launcher, menu entry, icon
#   user-install.sh uninstall [--purge] removes them; config.dat stays unless --purge
#   user-install.sh autostart           starts Vestrel at log-in (XDG autostart)
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
config=${XDG_CONFIG_HOME:-$HOME/.config}
prefix=${VESTREL_PREFIX:-$HOME/.local/lib/vestrel}
bindir=${VESTREL_BINDIR:-$HOME/.local/bin}
launcher=$bindir/vestrel
desktop=$data/applications/vestrel.desktop

case "${1:-}" in
install)
  build=${2:?build directory}
  # The program folder stays the user's: the program saves config.dat beside itself.
  cmake --install "$build" --prefix "$prefix"
  mkdir -p "$bindir" "$data/applications" "$data/icons/hicolor/16x16/apps" "$data/icons/hicolor/32x32/apps"
  ln -sfn "$prefix/vestrel" "$launcher"
  sed "s|@EXEC@|$prefix/vestrel|" "$src/packaging/vestrel.desktop.in" > "$desktop"
  install -m 0644 "$src/resources/vestrel-16.png" "$data/icons/hicolor/16x16/apps/vestrel.png"
  install -m 0644 "$src/resources/vestrel-32.png" "$data/icons/hicolor/32x32/apps/vestrel.png"
  command -v update-desktop-database >/dev/null && update-desktop-database -q "$data/applications" || true
  echo "Installed Vestrel in $prefix; start it with: vestrel"
  case ":$PATH:" in *":$bindir:"*) ;; *) echo "Note: $bindir is not on your PATH." ;; esac
  ;;
uninstall)
  rm -f "$launcher" "$desktop" "$config/autostart/vestrel.desktop" \
        "$data/icons/hicolor/16x16/apps/vestrel.png" "$data/icons/hicolor/32x32/apps/vestrel.png"
  if [[ "${2:-}" == "--purge" ]]; then
    rm -rf "$prefix"
  elif [[ -d "$prefix" ]]; then
    # Everything but the user's account.
    find "$prefix" -mindepth 1 -maxdepth 1 ! -name config.dat -exec rm -rf {} +
    rmdir "$prefix" 2>/dev/null || echo "Kept $prefix/config.dat (make uninstall PURGE=1 removes it)."
  fi
  ;;
autostart)
  mkdir -p "$config/autostart"
  cp "$desktop" "$config/autostart/vestrel.desktop"
  echo "Vestrel will start at log-in."
  ;;
*)
  echo "usage: $0 install BUILD_DIR | uninstall [--purge] | autostart" >&2
  exit 2
  ;;
esac
