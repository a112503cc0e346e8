#!/usr/bin/env bash
# scripts/sign-windows with a throwaway certificate authority. Catches: a key that is not the
# certificate's replacing the files with unverifiable ones (they must stay as they were); a
# signature that does not verify; a package that installs the unsigned launcher, whose digest
# is not the published one; a site package that loses its TERMINALS or RELEASE_SERIAL when it is
# signed.
#
#   sign_windows_test.sh LAUNCHER
set -euo pipefail
launcher=${1:?usage: sign_windows_test.sh LAUNCHER}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

bash "$source_dir/tests/packaging/throwaway_certificate.sh" "$dir/pki"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$dir/pki/other.key" 2>/dev/null
mkdir "$dir/build-win" "$dir/unsigned"
cp "$launcher" "$dir/build-win/qiv_start_2.exe"
bash "$source_dir/scripts/build-msi" "$dir/build-win/qiv_start_2.exe" "$dir/build-win/qiv_start_2.msi" >/dev/null
cp "$dir"/build-win/* "$dir/unsigned/"

sign() { bash "$source_dir/scripts/sign-windows" --cert "$dir/pki/signer.pem" --dir "$dir/build-win" "$@"; }
if sign --key "$dir/pki/other.key" 2>"$dir/refused.out"; then
  fail "a key of another certificate signed"
fi
grep -q 'does not belong to the certificate' "$dir/refused.out" || fail "no clear error: $(cat "$dir/refused.out")"
diff -r "$dir/unsigned" "$dir/build-win" >/dev/null || fail "a refused signing changed the folder"

sign --key "$dir/pki/signer.key" --terminals KASA --release-serial 5 >/dev/null
for file in qiv_start_2.exe qiv_start_2.msi; do
  osslsigncode verify -CAfile "$dir/pki/ca.pem" -in "$dir/build-win/$file" >"$dir/verify.out" 2>&1 ||
    fail "$file does not verify: $(cat "$dir/verify.out")"
done
msiextract -C "$dir/extracted" "$dir/build-win/qiv_start_2.msi" >/dev/null
cmp -s "$dir/extracted/QIV/qiv_start_2/qiv_start_2.exe" "$dir/build-win/qiv_start_2.exe" ||
  fail "the package does not hold the signed launcher"
msiinfo export "$dir/build-win/qiv_start_2.msi" Property >"$dir/properties"
grep -q $'^TERMINALS\tKASA' "$dir/properties" && grep -q $'^RELEASE_SERIAL\t5' "$dir/properties" ||
  fail "the signed package lost its TERMINALS or RELEASE_SERIAL"
echo "sign_windows_test: passed"
