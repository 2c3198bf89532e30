#!/usr/bin/env bash
# scripts/sign-windows.sh on Linux, with a throw-away self-signed certificate made here: a
# program (PE) and a package (MSI) unsigned without a certificate and said so; signed with a
# plain key and with a password-protected one, each signature verified against that
# certificate (so the chain, the signer and the file's hash are all checked); a wrong password
# or half a configuration fails and leaves the file as it was; the password shows nowhere in
# the output. Skips (exit 77) without osslsigncode, openssl, MinGW-w64 or wixl.
#   signing.sh SIGN_SCRIPT
set -euo pipefail
sign=$(realpath "$1")
for tool in osslsigncode openssl x86_64-w64-mingw32-gcc wixl; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/skav-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

# A program and a package to sign.
echo 'int main(void) { return 0; }' >main.c
x86_64-w64-mingw32-gcc -s -o program.exe main.c
echo 'data' >payload.txt
cat >package.wxs <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Signing test" Language="1033" Version="1.0.0" Manufacturer="test"
           UpgradeCode="0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="p.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="SigningTest">
          <Component Id="Payload" Guid="1A2B3C4D-5E6F-4071-8293-A4B5C6D7E8F9">
            <File Id="payload" Source="payload.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Payload"/></Feature>
  </Product>
</Wix>
WXS
wixl -o package.msi package.wxs 2>/dev/null
files=(program.exe package.msi)

# The certificate, its plain key, and the same key under a password held in a file.
password=never-shown-$RANDOM$RANDOM
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=SKAV signing test" 2>/dev/null
printf '%s\n' "$password" >pass.txt
openssl pkey -in key.pem -aes256 -passout file:pass.txt -out key-protected.pem

fresh() { for file in "${files[@]}"; do cp "$file" "signed-$file"; done; }
is_signed() {
  osslsigncode verify -CAfile cert.pem -in "$1" >verify.log 2>&1
}
expect_signed() {
  for file in "${files[@]}"; do
    is_signed "signed-$file" || { cat verify.log; fail "$1: signed-$file does not verify"; }
    grep -q 'Signature verification: ok' verify.log || fail "$1: no verified signature in signed-$file"
    grep -q 'CN=SKAV signing test' verify.log || fail "$1: signed-$file names another signer"
  done
}
expect_untouched() {
  for file in "${files[@]}"; do
    cmp -s "$file" "signed-$file" || fail "$1: signed-$file was changed"
  done
}
run() { env -u SKAV_SIGN_CERT -u SKAV_SIGN_KEY -u SKAV_SIGN_PASS_FILE -u SKAV_SIGN_TIMESTAMP \
  "$@" bash "$sign" "${files[@]/#/signed-}" >out.log 2>&1; }

# Without a certificate: each file named as unsigned, and left alone.
fresh
run || fail "without a certificate: $(cat out.log)"
for file in "${files[@]}"; do
  grep -q "unsigned: signed-$file" out.log || fail "without a certificate: signed-$file not named unsigned"
done
expect_untouched "without a certificate"
if is_signed signed-program.exe; then fail "the unsigned program verifies"; fi

# A plain key.
fresh
run SKAV_SIGN_CERT=cert.pem SKAV_SIGN_KEY=key.pem || fail "plain key: $(cat out.log)"
expect_signed "plain key"
if grep -q 'unsigned' out.log; then fail "plain key: says unsigned"; fi

# A key under a password, read from its file.
fresh
run SKAV_SIGN_CERT=cert.pem SKAV_SIGN_KEY=key-protected.pem SKAV_SIGN_PASS_FILE=pass.txt ||
  fail "protected key: $(cat out.log)"
expect_signed "protected key"
if grep -q "$password" out.log; then fail "protected key: the password is in the output"; fi

# A wrong password fails, and leaves the file as it was.
fresh
printf 'wrong\n' >wrong.txt
if run SKAV_SIGN_CERT=cert.pem SKAV_SIGN_KEY=key-protected.pem SKAV_SIGN_PASS_FILE=wrong.txt; then
  fail "a wrong password signed"
fi
expect_untouched "a wrong password"

# A certificate without its key is a mistake, not an unsigned build.
fresh
if run SKAV_SIGN_CERT=cert.pem; then fail "a certificate without a key passed"; fi
grep -q 'SKAV_SIGN_KEY' out.log || fail "a certificate without a key: the missing variable is not named"
expect_untouched "a certificate without a key"
echo "unsigned, signed with a plain and a protected key, refused a wrong password and half a set-up"
