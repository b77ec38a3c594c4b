#!/usr/bin/env bash
# Puts a built Vestrel into the user's own space, or takes it out again.
#   user-install.sh install BUILD_DIR   program folder, launcher, menu entry, icons
#   user-install.sh uninstall [--purge] removes them; config.dat stays unless --purge
#   user-install.sh autostart           starts Vestrel at log-in (XDG autostart)
# Honours HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, VESTREL_PREFIX and VESTREL_BINDIR.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)

# Paths without `//` or `/./`, symbolic links left as they are.
norm() { realpath -m -s -- "$1"; }
# The XDG variables count only when they hold an absolute path.
xdg() { if [[ "${1:-}" == /* ]]; then norm "$1"; else norm "$2"; fi; }

home=$(norm "$HOME")
data=$(xdg "${XDG_DATA_HOME:-}" "$home/.local/share")
config=$(xdg "${XDG_CONFIG_HOME:-}" "$home/.config")
prefix=$(norm "${VESTREL_PREFIX:-$home/.local/lib/vestrel}")
bindir=$(norm "${VESTREL_BINDIR:-$home/.local/bin}")
launcher=$bindir/vestrel
desktop=$data/applications/vestrel.desktop
autostart=$config/autostart/vestrel.desktop
hicolor=$data/icons/hicolor
# What install put where, and which folders it had to make, so that uninstall takes away exactly
# that. It lives in the program folder, which goes with the program.
manifest=$prefix/.installed

# A path as the user would write it.
show() { if [[ "$1" == "$home"/* ]]; then printf '%s\n' "~${1#"$home"}"; else printf '%s\n' "$1"; fi; }

# The drawn PNG sizes, smallest first.
sizes() { printf '%s\n' "$src"/resources/vestrel-*.png | sed -E 's|.*/vestrel-([0-9]+)\.png$|\1|' | sort -n; }

# The icon files, source and destination, one pair a line: every PNG size and the SVG.
icons() {
  local n
  for n in $(sizes); do
    printf '%s\t%s\n' "$src/resources/vestrel-$n.png" "$hicolor/${n}x$n/apps/vestrel.png"
  done
  printf '%s\t%s\n' "$src/resources/vestrel.svg" "$hicolor/scalable/apps/vestrel.svg"
}

# mkdir -p that notes in the manifest every folder it makes.
made=()
makedir() {
  local d=$1 missing=()
  while [[ ! -e "$d" ]]; do
    missing=("$d" "${missing[@]}")
    d=$(dirname "$d")
  done
  [[ ${#missing[@]} -eq 0 ]] && return
  mkdir -p "${missing[-1]}"
  made+=("${missing[@]}")
}

# The manifest keeps what earlier installs made too, so that installing twice forgets nothing.
record() {
  local files=("$@") line
  {
    [[ -f "$manifest" ]] && cat "$manifest"
    for line in "${made[@]}"; do printf 'dir\t%s\n' "$line"; done
    for line in "${files[@]}"; do printf 'file\t%s\n' "$line"; done
  } | awk '!seen[$0]++' > "$manifest.new"
  mv "$manifest.new" "$manifest"
}

# The program's path as an Exec value: quoted when it holds more than plain characters, then
# escaped once more as a desktop entry string.
exec_value() {
  local p=$1
  if [[ "$p" =~ [^A-Za-z0-9_./+:@,=-] ]]; then
    p=${p//\\/\\\\}
    p=${p//\"/\\\"}
    p=${p//\`/\\\`}
    p=${p//\$/\\\$}
    p="\"$p\""
    p=${p//\\/\\\\}
  fi
  printf '%s' "${p//%/%%}"
}

refresh_icon_cache() {
  # Only where a theme index makes a cache meaningful; without one the tool refuses, which is fine.
  if command -v gtk-update-icon-cache >/dev/null; then
    gtk-update-icon-cache -q "$hicolor" >/dev/null 2>&1 || true
  fi
}

case "${1:-}" in
install)
  build=${2:?build directory}
  makedir "$prefix"
  # The program folder stays the user's: the program saves config.dat beside itself. cmake's own
  # listing is kept back (its paths carry `/./`); it is shown only when the install fails.
  if ! log=$(cmake --install "$build" --prefix "$prefix" 2>&1); then
    printf '%s\n' "$log" >&2
    exit 1
  fi
  makedir "$bindir"
  makedir "$(dirname "$desktop")"
  ln -sfn "$prefix/vestrel" "$launcher"
  entry=$(<"$src/packaging/vestrel.desktop.in")
  printf '%s\n' "${entry//@EXEC@/"$(exec_value "$prefix/vestrel")"}" > "$desktop"
  files=("$launcher" "$desktop")
  while IFS=$'\t' read -r from to; do
    makedir "$(dirname "$to")"
    install -m 0644 "$from" "$to"
    files+=("$to")
  done < <(icons)
  record "${files[@]}"
  refresh_icon_cache
  echo "Installed the program in $(show "$prefix")"
  echo "Installed the launcher $(show "$launcher")"
  echo "Installed the menu entry $(show "$desktop")"
  echo "Installed the icons in $(show "$hicolor"): $(sizes | paste -sd ' ') px and scalable"
  echo "Start it with: vestrel"
  case ":$PATH:" in *":$bindir:"*) ;; *) echo "Note: $(show "$bindir") is not on your PATH." ;; esac
  ;;
uninstall)
  # What this version installs, and whatever the manifest adds (an earlier version's files).
  files=("$launcher" "$desktop" "$autostart")
  while IFS=$'\t' read -r _ to; do files+=("$to"); done < <(icons)
  dirs=()
  if [[ -f "$manifest" ]]; then
    while IFS=$'\t' read -r kind path; do
      case "$kind" in
      file) files+=("$path") ;;
      dir) dirs+=("$path") ;;
      esac
    done < "$manifest"
  fi
  declare -A seen=()
  for f in "${files[@]}"; do
    [[ -z "${seen[$f]:-}" ]] || continue
    seen[$f]=1
    if [[ -e "$f" || -L "$f" ]]; then
      rm -f "$f"
      echo "Removed $(show "$f")"
    fi
  done
  if [[ "${2:-}" == "--purge" ]]; then
    if [[ -d "$prefix" ]]; then
      rm -rf "$prefix"
      echo "Removed $(show "$prefix")"
    fi
  elif [[ -d "$prefix" ]]; then
    # Everything but the user's account.
    program=$(find "$prefix" -mindepth 1 -maxdepth 1 ! -name config.dat ! -name .installed)
    find "$prefix" -mindepth 1 -maxdepth 1 ! -name config.dat -exec rm -rf {} +
    if rmdir "$prefix" 2>/dev/null; then
      echo "Removed $(show "$prefix")"
    else
      [[ -z "$program" ]] || echo "Removed the program from $(show "$prefix")"
      echo "Kept $(show "$prefix/config.dat") (make uninstall PURGE=1 removes it)."
    fi
  fi
  # The folders install made, deepest first, each only if nothing else has come to live there.
  # Only the outermost one removed is named: the ones inside it went with it.
  declare -A removed=()
  while IFS= read -r d; do
    [[ -d "$d" ]] && rmdir "$d" 2>/dev/null && removed[$d]=1
  done < <(printf '%s\n' "${dirs[@]}" | awk 'length && !seen[$0]++ { print gsub("/", "/"), $0 }' | sort -s -k1,1nr | cut -d' ' -f2-)
  while IFS= read -r d; do
    [[ -z "$d" || -n "${removed[$(dirname "$d")]:-}" ]] || echo "Removed the empty folder $(show "$d")"
  done < <(printf '%s\n' "${!removed[@]}" | sort -V)
  # Beside a kept config.dat, the folders still standing stay noted for a later --purge.
  if [[ -d "$prefix" ]]; then
    for d in "${dirs[@]}"; do
      if [[ -d "$d" ]]; then printf 'dir\t%s\n' "$d"; fi
    done > "$manifest"
  fi
  if [[ -d "$hicolor" ]]; then refresh_icon_cache; fi
  ;;
autostart)
  [[ -f "$desktop" ]] || { echo "Vestrel is not installed: make install first." >&2; exit 1; }
  makedir "$(dirname "$autostart")"
  cp "$desktop" "$autostart"
  record "$autostart"
  echo "Vestrel will start at log-in."
  ;;
*)
  echo "usage: $0 install BUILD_DIR | uninstall [--purge] | autostart" >&2
  exit 2
  ;;
esac
