#!/usr/bin/env bash
# Wine 10 beside the system's Wine 8: a Debian 13 root with Debian's wine in it, made once with
# debootstrap from the Debian mirror that apt already uses, and Wine's own programs run inside it.
#   wine10.sh root                      makes the root if it is not there yet; prints its folder
#   wine10.sh run [--bind DIR]... -- PROGRAM [ARGS...]
#                                       runs PROGRAM (one of Wine's) inside the root
# The root is kept in $VESTREL_WINE10_CACHE (default ~/.cache/vestrel). It is built in a folder of
# its own and renamed into place only when complete, so an interrupted build is never taken for a
# root. PROGRAM runs in a mount namespace of its own (unshare): /proc, /dev, /sys, /tmp, $TMPDIR,
# the working folder and every --bind DIR are bound in at their own paths, and all of it goes with
# the namespace when the program ends. Its environment is the caller's but for PATH; WINEPREFIX must
# name a prefix that Wine 10 made (or none yet).
# Exit status of `root`: 0 made or there, 77 it cannot be made here (the reason on stderr), 1 failed.
set -euo pipefail

cache=${VESTREL_WINE10_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vestrel}
suite=trixie
# Only Wine and what it draws with: every other tool of the tests is the system's own.
packages=(wine wine64 fonts-dejavu-core fonts-liberation2)
root=$cache/debian13-wine-$(echo "${packages[*]}" | sha256sum | cut -c1-8)
say() { echo "wine10: $*" >&2; }
cannot() {
  say "$*"
  exit 77
}

# The main Debian mirror among apt's own sources: the entry serving this system's release itself.
mirror() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  {
    [[ -f /etc/apt/sources.list ]] && cat /etc/apt/sources.list
    for f in /etc/apt/sources.list.d/*.list; do [[ -f $f ]] && cat "$f"; done
  } 2>/dev/null | sed -E 's/#.*//; s/\[[^]]*\]//' |
    awk -v c="$codename" '$1 == "deb" && $3 == c { for (i = 4; i <= NF; i++) if ($i == "main") { print $2; exit } }'
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    # deb822: stanzas separated by blank lines.
    awk -v c="$codename" 'BEGIN { RS = ""; FS = "\n" }
      { types = uris = suites = comps = ""; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          line = $i; sub(/#.*/, "", line)
          if (match(line, /^[A-Za-z-]+:/)) { key = tolower(substr(line, 1, RLENGTH - 1)); val = substr(line, RLENGTH + 1) }
          else continue
          if (key == "types") types = val; else if (key == "uris") uris = val
          else if (key == "suites") suites = val; else if (key == "components") comps = val
          else if (key == "enabled") enabled = val
        }
        if (enabled ~ /no/ || types !~ /(^| )deb( |$)/) next
        if ((" " suites " ") ~ (" " c " ") && (" " comps " ") ~ / main /) { split(uris, u, " "); print u[1]; exit }
      }' "$f"
  done
}

make_root() {
  [[ -d $root ]] && return 0
  [[ $(id -u) -eq 0 ]] || cannot "making the Debian 13 root and entering it need root rights (debootstrap, unshare, chroot)"
  command -v debootstrap >/dev/null || cannot "debootstrap is missing (scripts/install-deps.sh windows installs it)"
  command -v unshare >/dev/null || cannot "unshare is missing"
  local url
  url=$(mirror | head -n 1)
  [[ -n $url ]] || cannot "no Debian mirror found among apt's sources (/etc/apt/sources.list, /etc/apt/sources.list.d/)"
  url=${url%/}
  wget -q -T 20 -t 2 --spider "$url/dists/$suite/Release" ||
    cannot "the Debian mirror apt uses ($url) does not serve Debian 13 ($suite) here, or cannot be reached"
  mkdir -p "$cache"
  exec 9>"$root.lock"
  flock 9
  [[ -d $root ]] && return 0 # made by another run while this one waited
  # Left by an interrupted build: never mounted outside its namespace, so plain files.
  rm -rf --one-file-system "$root".tmp.*
  local tmp
  tmp=$(mktemp -d "$root.tmp.XXXXXX")
  say "making a Debian 13 root with Wine 10 in $root, from $url (a few minutes, once)"
  # debootstrap mounts /proc and /sys inside the root while it works: in a namespace of its own, they
  # go with it even when the build is interrupted.
  # shellcheck disable=SC2016 # expanded by the inner shell
  unshare --mount --fork -- bash -euo pipefail -c '
    tmp=$1 url=$2 suite=$3; shift 3
    debootstrap --variant=minbase --components=main "$suite" "$tmp" "$url" >"$tmp.log" 2>&1 ||
      { tail -20 "$tmp.log" >&2; exit 1; }
    cp /etc/resolv.conf "$tmp/etc/resolv.conf"
    mount -t proc proc "$tmp/proc"
    mount --rbind /dev "$tmp/dev"
    chroot "$tmp" env DEBIAN_FRONTEND=noninteractive PATH=/usr/sbin:/usr/bin:/sbin:/bin \
      apt-get install -y -q --no-install-recommends "$@" >>"$tmp.log" 2>&1 || { tail -20 "$tmp.log" >&2; exit 1; }
    chroot "$tmp" apt-get clean
    ' bash "$tmp" "$url" "$suite" "${packages[@]}" || {
    say "making the root failed (log: $tmp.log)"
    rm -rf --one-file-system "$tmp"
    exit 1
  }
  rm -f "$tmp.log"
  mv "$tmp" "$root"
  say "made: $(WINEDEBUG=-all run_in -- wine --version 2>/dev/null)"
}

run_in() {
  local binds=(/proc /dev /sys /tmp "$PWD")
  [[ -n ${TMPDIR:-} ]] && binds+=("$TMPDIR")
  while [[ ${1:-} == --bind ]]; do
    binds+=("$2")
    shift 2
  done
  [[ ${1:-} == -- ]] && shift
  [[ -d $root ]] || {
    say "no Debian 13 root in $root: make it first with $0 root"
    exit 1
  }
  # Wine 10 upgrades any older prefix it is given, for good: it gets only prefixes it made itself.
  # (Asked only its version, it opens none.)
  if [[ $# -eq 2 && $2 == --version ]]; then
    :
  elif [[ -z ${WINEPREFIX:-} ]]; then
    say "WINEPREFIX is not set: Wine 10 is given a prefix of its own, never the default one"
    exit 1
  elif [[ -f $WINEPREFIX/system.reg && ! -f $WINEPREFIX/.vestrel-wine10 ]]; then
    say "$WINEPREFIX was made by another Wine: Wine 10 would upgrade it"
    exit 1
  else
    mkdir -p "$WINEPREFIX" && touch "$WINEPREFIX/.vestrel-wine10"
  fi
  # No --fork: the program takes this script's process over, so that a signal sent to it (a test
  # ending the program, its timeout) reaches the program itself; unshare --fork would keep it.
  # shellcheck disable=SC2016 # expanded by the inner shell
  exec unshare --mount -- bash -c '
    root=$1 here=$2 n=$3; shift 3
    for dir in "${@:1:n}"; do
      [[ -d $dir ]] || continue
      mkdir -p "$root$dir" && mount --rbind "$dir" "$root$dir" || exit 1
    done
    shift "$n"
    exec chroot "$root" env PATH=/usr/local/bin:/usr/bin:/bin bash -c "cd \"\$1\" && shift && exec \"\$@\"" bash "$here" "$@"
    ' bash "$root" "$PWD" "${#binds[@]}" "${binds[@]}" "$@"
}

case "${1:-}" in
root)
  make_root
  echo "$root"
  ;;
run)
  shift
  run_in "$@"
  ;;
*)
  echo "usage: $0 root | run [--bind DIR]... -- PROGRAM [ARGS...]" >&2
  exit 2
  ;;
esac
