#!/usr/bin/env bash
# Makes a throwaway certificate authority and a code-signing certificate it
# issued, for the tests only: OUT_DIR/ca.crt, OUT_DIR/signer.pfx and that
# PFX's password in OUT_DIR/password. Made anew in each build folder; nothing
# of it is secret or kept in the repository.
#   make_signer.sh OUT_DIR
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
umask 077
rm -f ca.key ca.crt signer.key signer.csr signer.crt signer.pfx password extensions
openssl rand -hex 16 >password
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 3650 -subj "/CN=Quorin Test CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Quorin Test Signer" 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning >extensions
openssl x509 -req -in signer.csr -CA ca.crt -CAkey ca.key -set_serial 1 -days 3650 -extfile extensions \
  -out signer.crt 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.crt -certfile ca.crt -out signer.pfx -passout file:password
rm -f ca.key signer.key signer.csr signer.crt extensions
