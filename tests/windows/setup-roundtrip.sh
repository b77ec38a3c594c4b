#!/usr/bin/env bash
# The setup, run silently under Wine in a prefix of its own: a fresh install, an update over it
# with an account in the folder, an update over a version that shipped files this one does not,
# an update that cannot replace a file, a client running during an update, an uninstall that keeps
# the account, and one that removes it too. The setup is built signed, with a throwaway
# certificate; the earlier version's, unsigned.
#   setup-roundtrip.sh BUILD SOURCE INSTANCE.exe QT_PLUGINS(Windows path) HOLDFILE.exe
set -uo pipefail
build=$(realpath "$1")
source=$2
instance=$3
plugins=$4
holdfile=$5
work=$build/setup-test
# Wine 10 (VESTREL_WINE=10) in a prefix of its own.
export WINEPREFIX=$build/wineprefix-setup${VESTREL_WINE:-}
export WINEDEBUG=-all
# No Mono or Gecko dialogs, and no menu entries on the Linux desktop for the shortcuts made here.
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
unset WINEPATH

fail() {
  echo "FAIL: $*"
  exit 1
}
certs=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$certs"' EXIT

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi

# A throwaway code-signing certificate, its password in a file as a build is given it.
subject="/CN=Vestrel throwaway test signer"
printf 'throwaway password\n' >"$certs/password"
{
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/key.pem" -out "$certs/cert.pem" -days 2 \
    -subj "$subject" -addext "extendedKeyUsage=critical,codeSigning" 2>/dev/null &&
    openssl pkcs12 -export -inkey "$certs/key.pem" -in "$certs/cert.pem" -out "$certs/cert.p12" \
      -passout "file:$certs/password"
} || fail "making a certificate"

rm -rf "$work" && mkdir -p "$work"
export VESTREL_SIGN_PKCS12=$certs/cert.p12 VESTREL_SIGN_PASSWORD_FILE=$certs/password
folder=$(bash "$source/scripts/windows/folder.sh" "$build" "$work") || fail "laying out the folder"
setup=$(bash "$source/scripts/windows/setup.sh" "$build" "$folder" "$work" 2>"$work/makensis.log") ||
  { cat "$work/makensis.log"; fail "makensis"; }
unset VESTREL_SIGN_PKCS12 VESTREL_SIGN_PASSWORD_FILE
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

winvar() { wine cmd /c echo "%$1%" | tr -d '\r'; }
wininstdir="$(winvar LOCALAPPDATA)\\Programs\\Vestrel"
dir=$(winepath -u "$wininstdir")
# The shell's own folders, as the setup asks for them (Wine spells one "StartUp").
shell_folder() {
  winepath -u "$(wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v "$1" |
    tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p")"
}
menu=$(shell_folder Programs)/Vestrel.lnk
startup=$(shell_folder Startup)/Vestrel.lnk
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vestrel'

# Left from a run that stopped half-way.
rm -rf "$dir" "$menu" "$startup"
wine reg delete "$key" /f >/dev/null 2>&1

run() { # expected-status program args...
  local want=$1
  shift
  wine "$@"
  local got=$?
  [[ $got == "$want" ]] || fail "$* ended with $got, not $want"
}
same_as_folder() {
  (cd "$folder" && find . -type f) | while read -r f; do
    cmp -s "$folder/$f" "$dir/$f" || { echo "FAIL: $f not installed as built"; return 1; }
  done || exit 1
}
signed_by_test() { # file: signed by the throwaway certificate, and the signature holds
  local out
  out=$(osslsigncode verify -in "$1" -CAfile "$certs/cert.pem" 2>&1) || { echo "$out"; return 1; }
  grep -q "Signer #0:" <<<"$out" && grep -qF "Subject: $subject" <<<"$out" &&
    grep -q "Signature verification: ok" <<<"$out"
}
unsigned() { ! osslsigncode extract-signature -in "$1" -out "$work/signature" >/dev/null 2>&1; }
no_update_left() { [[ ! -e $dir/~update && ! -e $dir/~previous ]] || fail "$1: the update's own folders are left"; }
reg_value() { # name: its data, as reg query prints it
  wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

echo "== fresh install, silent"
run 0 "$setup" /S
for f in vestrel.exe Qt6Core.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll uninstall.exe installed-files.txt; do
  [[ -f $dir/$f ]] || fail "$f not in $dir"
done
[[ -n $(ls "$dir/icons") ]] || fail "no icons/ in $dir"
same_as_folder
[[ -f $menu ]] || fail "no Start-menu shortcut"
[[ -f $startup ]] || fail "a fresh install does not start at log-in"
[[ $(reg_value DisplayName) == Vestrel ]] || fail "DisplayName: $(reg_value DisplayName)"
[[ $(reg_value DisplayVersion) == "$version" ]] || fail "DisplayVersion: $(reg_value DisplayVersion)"
[[ $(reg_value InstallLocation) == "$wininstdir" ]] || fail "InstallLocation: $(reg_value InstallLocation)"
[[ $(reg_value UninstallString) == "\"$wininstdir\\uninstall.exe\"" ]] || fail "UninstallString: $(reg_value UninstallString)"
[[ $(reg_value QuietUninstallString) == "\"$wininstdir\\uninstall.exe\" /S" ]] || fail "QuietUninstallString"
for v in NoModify NoRepair; do [[ $(reg_value $v) == 0x1 ]] || fail "$v: $(reg_value $v)"; done
[[ $(($(reg_value EstimatedSize))) -gt 10000 ]] || fail "EstimatedSize: $(reg_value EstimatedSize) KB"
no_update_left "a fresh install"

echo "== signed with the certificate given: the program, its libraries, the setup, the uninstaller"
for f in "$setup" "$dir/vestrel.exe" "$dir/Qt6Core.dll" "$dir/platforms/qwindows.dll" "$dir/uninstall.exe"; do
  signed_by_test "$f" || fail "${f#"$work"/} is not signed by the test certificate"
done
mkdir "$work/unzipped"
(cd "$work/unzipped" && cmake -E tar xf "$folder.zip") || fail "unzipping"
signed_by_test "$work/unzipped/$(basename "$folder")/vestrel.exe" || fail "the zip's vestrel.exe is not signed"
# A time-stamping server named is asked (here one that refuses), and a signature it could not
# stamp is a failure that leaves the file as it was, never an unstamped signature.
cp "$holdfile" "$work/stamped.exe"
VESTREL_SIGN_PKCS12=$certs/cert.p12 VESTREL_SIGN_PASSWORD_FILE=$certs/password \
  VESTREL_SIGN_TIMESTAMP=http://127.0.0.1:1/ bash "$source/scripts/windows/sign.sh" "$work/stamped.exe" 2>/dev/null &&
  fail "signed though the time-stamping server refused"
cmp -s "$holdfile" "$work/stamped.exe" || fail "a signing that failed changed the file"

echo "== update over it, with an account, without the log-in start"
printf 'account\r\nkept\r\n' >"$dir/config.dat"
cp "$dir/config.dat" "$work/config.dat"
echo stale >"$dir/Qt6Core.dll"
run 0 "$setup" /S /NOSTARTUP
cmp -s "$dir/config.dat" "$work/config.dat" || fail "the update changed config.dat"
same_as_folder
[[ ! -e $startup ]] || fail "/NOSTARTUP left the log-in start"
[[ -f $menu ]] || fail "the update lost the Start-menu shortcut"
run 0 "$setup" /S
[[ ! -e $startup ]] || fail "an update brought back the log-in start the user had turned off"
run 0 "$setup" /S /STARTUP
[[ -f $startup ]] || fail "/STARTUP made no log-in start"

echo "== an update takes out what the previous version installed, and only that"
# An earlier version, built without a certificate, whose program and Qt6Core.dll differ from this
# one's, that lacked a plugin this one ships, and shipped a plugin, and a plugin folder, that this
# one no longer does.
earlier=$(bash "$source/scripts/windows/folder.sh" "$build" "$work/earlier") || fail "laying out the earlier folder"
unsigned "$earlier/vestrel.exe" || fail "signed without a certificate: vestrel.exe"
echo earlier >>"$earlier/vestrel.exe"
echo earlier >>"$earlier/Qt6Core.dll"
rm "$earlier/imageformats/qgif.dll"
mkdir -p "$earlier/oldplugins"
echo old >"$earlier/imageformats/qold.dll"
echo old >"$earlier/oldplugins/qold.dll"
earlier_setup=$(bash "$source/scripts/windows/setup.sh" "$build" "$earlier" "$work/earlier" 2>"$work/makensis.log") ||
  { cat "$work/makensis.log"; fail "makensis, earlier version"; }
unsigned "$earlier_setup" || fail "signed without a certificate: the setup"
outside=$(dirname "$dir")/outside.txt
for from in "a list in the folder" "its uninstaller alone"; do
  run 0 "$earlier_setup" /S
  [[ -f $dir/imageformats/qold.dll && -f $dir/oldplugins/qold.dll ]] || fail "the earlier version did not install"
  # The user's own files, beside the program's and among them.
  echo mine >"$dir/notes.txt"
  echo mine >"$dir/imageformats/mine.dll"
  echo mine >"$outside"
  if [[ $from == "a list in the folder" ]]; then
    # A list edited by hand never reaches the account or outside the folder.
    printf 'config.dat\r\n..\\outside.txt\r\n%s\\outside.txt\r\n' "${wininstdir%\\*}" >>"$dir/installed-files.txt"
  else
    # As the version before the list left it: the uninstaller knows what it installed.
    rm "$dir/installed-files.txt"
  fi
  run 0 "$setup" /S
  [[ ! -e $dir/imageformats/qold.dll ]] || fail "from $from: the update left imageformats/qold.dll"
  [[ ! -e $dir/oldplugins ]] || fail "from $from: the update left oldplugins/"
  cmp -s "$dir/config.dat" "$work/config.dat" || fail "from $from: the update changed config.dat"
  [[ -f $dir/notes.txt && -f $dir/imageformats/mine.dll && -f $outside ]] ||
    fail "from $from: the update took out the user's own files"
  same_as_folder
  no_update_left "from $from"
  grep -q qold "$dir/installed-files.txt" && fail "from $from: the new list names the earlier version's files"
  [[ -f $menu && -f $startup ]] || fail "from $from: the update lost a shortcut"
  [[ $(reg_value DisplayVersion) == "$version" ]] || fail "from $from: no Apps-list entry"
  rm "$dir/notes.txt" "$dir/imageformats/mine.dll" "$outside"
done

echo "== an update that cannot copy or replace a file leaves the earlier version as it was"
same_as_earlier() {
  local want got
  want=$( (cd "$earlier" && find . -type f && echo ./installed-files.txt ./uninstall.exe | tr ' ' '\n') | sort)
  got=$(cd "$dir" && find . -type f ! -name config.dat | sort)
  [[ $got == "$want" ]] || fail "$1: the folder holds $(diff <(echo "$want") <(echo "$got") | grep '^[<>]' | tr '\n' ' ')"
  (cd "$earlier" && find . -type f) | while read -r f; do
    cmp -s "$earlier/$f" "$dir/$f" || { echo "FAIL: $1: $f is not the earlier version's"; return 1; }
  done || exit 1
}
# What is held: a file in the way of the copy; a library put in place after others (Qt6Core.dll,
# qgif.dll), before the program.
for held in '~update' 'styles\qwindowsvistastyle.dll'; do
  run 0 "$earlier_setup" /S
  unsigned "$dir/uninstall.exe" || fail "signed without a certificate: the uninstaller"
  [[ -e $dir/${held//\\//} ]] || echo placeholder >"$dir/$held"
  wine "$holdfile" "$wininstdir\\$held" >"$work/held.txt" 2>&1 &
  holder=$!
  for ((i = 0; i < 300; i++)); do
    grep -q held "$work/held.txt" && break
    kill -0 $holder 2>/dev/null || fail "holdfile: $(cat "$work/held.txt")"
    sleep 0.2
  done
  run 2 "$setup" /S
  kill $holder
  wait $holder
  [[ $held == '~update' ]] && rm "$dir/$held"
  same_as_earlier "$held held"
  no_update_left "$held held"
  version_out=$(wine "$dir/vestrel.exe" --version 2>&1 | tr -d '\r')
  [[ $version_out == *"$version"* ]] || fail "$held held: the earlier vestrel.exe does not run: $version_out"
done
run 0 "$setup" /S
same_as_folder

echo "== a running client is not replaced"
# A client built for a loopback port, in the place of the installed one. It is up once it holds
# its one-at-a-time lock in the local application data.
cp "$instance" "$dir/vestrel.exe"
locks=$(winepath -u "$(winvar LOCALAPPDATA)\\Vestrel")
rm -rf "$locks"
WINEQT_QPA_PLATFORM=offscreen WINEQT_PLUGIN_PATH=$plugins wine "$dir/vestrel.exe" >/dev/null 2>&1 &
client=$!
for ((i = 0; i < 300; i++)); do
  compgen -G "$locks/vestrel-*.lock" >/dev/null && break
  kill -0 $client 2>/dev/null || fail "the client did not stay running"
  sleep 0.2
done
((i < 300)) || fail "the client did not start"
run 3 "$setup" /S
cmp -s "$instance" "$dir/vestrel.exe" || fail "the setup replaced a running client"
[[ -f $dir/imageformats/qgif.dll && -f $dir/installed-files.txt ]] || fail "a refused update took out files"
run 3 "$dir/uninstall.exe" /S "_?=$wininstdir"
[[ -f $dir/Qt6Core.dll && -f $menu ]] || fail "the uninstaller took out a running client's files"
kill $client
wait $client
rm -rf "$locks"
run 0 "$setup" /S
same_as_folder

echo "== uninstall, silent: the account stays"
run 0 "$dir/uninstall.exe" /S "_?=$wininstdir"
# Run in place (_?=), the uninstaller cannot delete itself.
left=$(cd "$dir" && find . -mindepth 1 | sort | tr '\n' ' ')
[[ $left == "./config.dat ./uninstall.exe " ]] || fail "left in the folder: $left"
cmp -s "$dir/config.dat" "$work/config.dat" || fail "the uninstall changed config.dat"
[[ ! -e $menu && ! -e $startup ]] || fail "shortcuts left"
wine reg query "$key" >/dev/null 2>&1 && fail "the Uninstall key is left"

echo "== uninstall /REMOVEACCOUNT, as the Apps list starts it (from a copy in the temp folder)"
run 0 "$setup" /S
run 0 "$dir/uninstall.exe" /S /REMOVEACCOUNT
wineserver -w
[[ ! -e $dir ]] || fail "left: $(cd "$dir" && find . -mindepth 1 | tr '\n' ' ')"
[[ ! -e $menu && ! -e $startup ]] || fail "shortcuts left"
wine reg query "$key" >/dev/null 2>&1 && fail "the Uninstall key is left"
echo "setup: $(stat -c %s "$setup") bytes"
echo PASS
