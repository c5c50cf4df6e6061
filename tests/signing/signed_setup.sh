#!/usr/bin/env bash
# The signed setup.exe of the x86_64 configuration as people meet it: its
# signature verifies with the test authority, and so does the copy an
# install files in the uninstall entry; one flipped payload byte breaks it.
# And scripts/sign itself: a wrong password or an unreadable PFX is one line
# and leaves no program under the output name; with SOURCE_DATE_EPOCH set,
# a signing with the password from a file and one with it from the variable
# give the same bytes, signed at that time.
# Timestamps, from an authority of the test's own on 127.0.0.1
# (time_authority.py): the German module as scripts/module builds it in this
# build folder, program and package timestamped, both verify with their
# timestamp, and the package holds that very program; an authority that
# cannot be reached, refuses or answers garbage is one line with
# osslsigncode's reason, and a module build it fails leaves neither program
# nor package behind, not even an earlier build's.
#   signed_setup.sh BUILD_DIR SIGNER_DIR
set -uo pipefail
build=$1 signer=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
module_dir=$build/modules/german
authority=""
# The module's folder as the build left it, put back at the end, so that the
# build's other tests and its next run find their own files.
mkdir "$work/kept"
for file in setup.exe setup.exe.signed quorin-german.msi; do
  [ ! -e "$module_dir/$file" ] || cp -p "$module_dir/$file" "$work/kept/"
done
finish() {
  [ -z "$authority" ] || { kill "$authority"; wait "$authority"; } 2>/dev/null
  rm -f "$module_dir/setup.exe" "$module_dir/setup.exe.signed" "$module_dir/quorin-german.msi"
  cp -pr "$work/kept/." "$module_dir/"
  rm -rf "$work"
}
trap finish EXIT
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

# One authority for every timestamp case.
exec 4< <(exec python3 "$root/tests/signing/time_authority.py" "$work/tsa" 2>"$work/tsa.err")
authority=$!
if ! read -t 60 -r port closed <&4; then
  cat "$work/tsa.err"
  echo "FAILED: the time-stamping authority did not start"
  exit 1
fi
tsa=http://127.0.0.1:$port
verify_stamped() {
  osslsigncode verify -CAfile "$signer/ca.crt" -TSA-CAfile "$work/tsa/tsa-ca.crt" -in "$1" >"$work/verify.log" 2>&1 &&
    grep -qx "Signature verification: ok" "$work/verify.log" &&
    grep -qx "Timestamp Server Signature verification: ok" "$work/verify.log"
}
# One line: FILE: no timestamp from URL: osslsigncode's reason, holding TEXT.
reasoned() { one_line "$1" "$2: no timestamp from $3: .*$4"; }
module() {
  sign QUORIN_SIGN_PASSWORD_FILE="$signer/password" "$root/scripts/module" "$root/modules/german.ini" \
    --build "$build" --sign "$signer/signer.pfx" --timestamp "$@" >"$work/out" 2>"$work/err"
}
empty_module_dir() { [ ! -e "$module_dir/setup.exe" ] && [ ! -e "$module_dir/quorin-german.msi" ]; }
packs_program() {
  local packed
  msiextract -C "$work/packed" "$1" >/dev/null || return 1
  mapfile -t packed < <(find "$work/packed" -name setup.exe)
  [ ${#packed[@]} -eq 1 ] && cmp -s "${packed[0]}" "$2"
}

if module "$tsa/"; then
  check "the timestamped setup.exe verifies with its timestamp" verify_stamped "$module_dir/setup.exe"
  check "the timestamped package verifies with its timestamp" verify_stamped "$module_dir/quorin-german.msi"
  check "the package holds the timestamped setup.exe" \
    packs_program "$module_dir/quorin-german.msi" "$module_dir/setup.exe"
else
  cat "$work/err"
  check "a module signed with a timestamp builds" false
fi
# After the build above: neither its program nor its package may stay.
module "http://127.0.0.1:$closed/" && check "an unreachable authority fails the module" false
check "an unreachable authority is one line with the reason" \
  reasoned "$work/err" setup.exe "http://127.0.0.1:$closed/" connect
check "a module the authority failed leaves no program and no package" empty_module_dir
# The program stamped, the package refused: the program goes as well.
module "$tsa/once" && check "an authority gone before the package fails the module" false
check "the package's refused timestamp is one line with the reason" \
  reasoned "$work/err" quorin-german.msi "$tsa/once" "status 2"
check "a module whose package the authority failed leaves neither" empty_module_dir
for case in "refuse:status 2:refuses" "garbage:timestamp reply:answers garbage"; do
  IFS=: read -r path reason what <<<"$case"
  sign QUORIN_SIGN_PASSWORD_FILE="$signer/password" "$root/scripts/sign" "$work/unsigned.exe" "$work/out.exe" \
    "$signer/signer.pfx" "$tsa/$path" 2>"$work/err" && check "an authority that $what fails" false
  check "an authority that $what is one line with the reason" reasoned "$work/err" out.exe "$tsa/$path" "$reason"
done

echo "signing: $checks checks, $failures failed"
[ $failures -eq 0 ]
