#!/usr/bin/env bash
# A certificate authority and a code-signing certificate that it issued, valid for two days, for
# tests of Authenticode signing: DIR/ca.pem, DIR/signer.pem, DIR/signer.key.
#
#   throwaway_certificate.sh DIR
set -euo pipefail
dir=${1:?usage: throwaway_certificate.sh DIR}
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=qiv_start_2 test authority" -days 2 \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
  -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=qiv_start_2 test signer" -keyout signer.key \
  -out signer.csr 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
  extendedKeyUsage=codeSigning >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -set_serial 1 -days 2 \
  -extfile signer.ext -out signer.pem 2>/dev/null
rm -f ca.key signer.csr signer.ext
