#!/usr/bin/env bash
# Signs Windows programs in place (Authenticode, SHA-256) with the certificate the build was given:
#   VESTREL_SIGN_PKCS12          the certificate and its key, a PKCS#12 file
#   VESTREL_SIGN_PASSWORD_FILE   a file holding its password (read by osslsigncode, so that the
#                                password is never on a command line)
#   VESTREL_SIGN_TIMESTAMP       an RFC 3161 time-stamping server's URL; none unless named
# With no certificate named it signs nothing and says nothing.
#   sign.sh FILE...
set -euo pipefail
[[ -n ${VESTREL_SIGN_PKCS12:-} ]] || exit 0
[[ -f $VESTREL_SIGN_PKCS12 ]] || { echo "sign.sh: no certificate at $VESTREL_SIGN_PKCS12" >&2; exit 1; }
[[ -f ${VESTREL_SIGN_PASSWORD_FILE:-} ]] ||
  { echo "sign.sh: VESTREL_SIGN_PASSWORD_FILE names no file" >&2; exit 1; }
timestamp=()
[[ -z ${VESTREL_SIGN_TIMESTAMP:-} ]] || timestamp=(-ts "$VESTREL_SIGN_TIMESTAMP")
for file in "$@"; do
  # osslsigncode writes a new file: the signed one replaces the original only once it is whole.
  rm -f "$file.signed"
  osslsigncode sign -pkcs12 "$VESTREL_SIGN_PKCS12" -readpass "$VESTREL_SIGN_PASSWORD_FILE" \
    -h sha256 -n Vestrel "${timestamp[@]}" -in "$file" -out "$file.signed" >/dev/null ||
    { rm -f "$file.signed"; echo "sign.sh: could not sign $file" >&2; exit 1; }
  chmod --reference="$file" "$file.signed"
  mv "$file.signed" "$file"
done
