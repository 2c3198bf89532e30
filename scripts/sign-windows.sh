#!/usr/bin/env bash
# Signs Windows programs and installers (PE files and MSI packages) in place with Debian's
# osslsigncode (Authenticode, SHA-256), when a certificate is given; says that they stay
# unsigned otherwise. scripts/build-windows.sh calls it for the programs and both installers.
#   SKAV_SIGN_CERT       the certificate (PEM, or DER/SPC), with its chain when there is one
#   SKAV_SIGN_KEY        its private key (PEM or DER)
#   SKAV_SIGN_PASS_FILE  a file holding the key's password, when the key has one
#   SKAV_SIGN_TIMESTAMP  a time-stamping server's URL (optional): keeps the signature valid
#                        after the certificate expires
# The password is read from its file by osslsigncode (-readpass): it never stands on a command
# line, where every account of the PC could read it. Exits non-zero when signing fails, and then
# leaves the file as it was.
#   sign-windows.sh FILE...
set -euo pipefail
cert=${SKAV_SIGN_CERT:-}
key=${SKAV_SIGN_KEY:-}
pass=${SKAV_SIGN_PASS_FILE:-}

if [ -z "$cert" ] && [ -z "$key" ]; then
  for file in "$@"; do
    echo "unsigned: ${file##*/} (set SKAV_SIGN_CERT and SKAV_SIGN_KEY to sign)"
  done
  exit 0
fi
if [ -z "$cert" ] || [ -z "$key" ]; then
  echo "signing needs both SKAV_SIGN_CERT and SKAV_SIGN_KEY" >&2
  exit 2
fi
for given in "$cert" "$key" ${pass:+"$pass"}; do
  [ -r "$given" ] || { echo "cannot read $given (for signing)" >&2; exit 2; }
done
options=(-certs "$cert" -key "$key" -h sha256 -n SKAV)
[ -n "$pass" ] && options+=(-readpass "$pass")
[ -n "${SKAV_SIGN_TIMESTAMP:-}" ] && options+=(-ts "$SKAV_SIGN_TIMESTAMP")

for file in "$@"; do
  signed=$file.signing
  rm -f "$signed"
  # osslsigncode's own messages could quote its arguments: shown only when it fails.
  if ! log=$(osslsigncode sign "${options[@]}" -in "$file" -out "$signed" 2>&1); then
    rm -f "$signed"
    echo "signing ${file##*/} failed:" >&2
    echo "$log" >&2
    exit 1
  fi
  mv -f "$signed" "$file"
  echo "signed: ${file##*/}"
done
