#!/usr/bin/env bash
# The signed setup.exe of the x86_64 configuration as people meet it: its
# signature verifies with the test authority, and so does the copy an
# install files in the uninstall entry; one flipped payload byte breaks it.
# And scripts/sign itself: a wrong password or an unreadable PFX is one line
# and leaves no program under the output name; with SOURCE_DATE_EPOCH set,
# a signing with the password from a file and one with it from the variable
# give the same bytes, signed at that time.
#   signed_setup.sh BUILD_DIR SIGNER_DIR
set -uo pipefail
build=$1 signer=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
checks=0 failures=0
check() {
  local what=$1
  shift
  checks=$((checks + 1))
  "$@" || { echo "FAILED: $what"; failures=$((failures + 1)); }
}
verify() { osslsigncode verify -CAfile "$signer/ca.crt" -in "$1" >"$work/verify.log" 2>&1; }
fails() { ! "$@"; }
one_line() { [ "$(wc -l <"$1")" -eq 1 ] && grep -q "$2" "$1"; }
wine() { "$root/scripts/wine-run" "$build" "$@"; }

setup=$build/bin/setup.exe
check "setup.exe verifies with the test authority" verify "$setup"
check "setup.exe is signed with SHA-256" grep -q "Message digest algorithm  : SHA256" "$work/verify.log"

python3 - "$setup" "$work/flipped.exe" "$root/tests/pe" <<'PY'
import sys
sys.path.insert(0, sys.argv[3])
import check_pe
data = bytearray(open(sys.argv[1], "rb").read())
payload = check_pe.Pe(bytes(data)).resources()[("ZIP", 102, 1049)]
data[bytes(data).find(payload) + len(payload) // 2] ^= 0x10
open(sys.argv[2], "wb").write(data)
PY
check "one flipped payload byte fails verification" fails verify "$work/flipped.exe"

# The uninstall entry's copy of the program, after a silent install.
wine "$build/bin/sandbox.exe" provision >/dev/null
check "the signed setup.exe installs" wine "$setup" in
prefix=$(wine --prefix)
mapfile -t entries < <(find "$prefix/drive_c" -path '*/InstallShield Installation Information/*/setup.exe')
check "one uninstall entry holds a copy of the program" [ ${#entries[@]} -eq 1 ]
[ ${#entries[@]} -eq 1 ] && check "the uninstall entry's copy verifies" verify "${entries[0]}"
wine "$build/bin/sandbox.exe" clean >/dev/null

# scripts/sign, on the same program without its signature.
osslsigncode remove-signature -in "$setup" -out "$work/unsigned.exe" >/dev/null
sign() { env -u QUORIN_SIGN_PASSWORD_FILE -u QUORIN_SIGN_PASSWORD -u SOURCE_DATE_EPOCH "$@"; }
cp "$work/unsigned.exe" "$work/out.exe"
sign QUORIN_SIGN_PASSWORD=wrong "$root/scripts/sign" "$work/unsigned.exe" "$work/out.exe" "$signer/signer.pfx" \
  2>"$work/err" && check "a wrong password fails" false
check "a wrong password is one line" one_line "$work/err" "wrong password"
check "a wrong password leaves no program" [ ! -e "$work/out.exe" ]
cp "$work/unsigned.exe" "$work/out.exe"
sign QUORIN_SIGN_PASSWORD_FILE="$signer/password" "$root/scripts/sign" "$work/unsigned.exe" "$work/out.exe" \
  "$work/missing.pfx" 2>"$work/err" && check "a missing PFX fails" false
check "a missing PFX is one line" one_line "$work/err" "cannot read the PFX"
check "a missing PFX leaves no program" [ ! -e "$work/out.exe" ]

sign SOURCE_DATE_EPOCH=1700000000 QUORIN_SIGN_PASSWORD_FILE="$signer/password" QUORIN_SIGN_PASSWORD=wrong \
  "$root/scripts/sign" "$work/unsigned.exe" "$work/one.exe" "$signer/signer.pfx"
sign SOURCE_DATE_EPOCH=1700000000 QUORIN_SIGN_PASSWORD="$(cat "$signer/password")" \
  "$root/scripts/sign" "$work/unsigned.exe" "$work/two.exe" "$signer/signer.pfx"
check "the password file comes before the variable" verify "$work/one.exe"
check "SOURCE_DATE_EPOCH is the signing time" grep -q "Signing time: Nov 14 22:13:20 2023 GMT" "$work/verify.log"
check "two signings with SOURCE_DATE_EPOCH are byte-identical" cmp -s "$work/one.exe" "$work/two.exe"

echo "signing: $checks checks, $failures failed"
[ $failures -eq 0 ]
