#!/usr/bin/env bash
# scripts/sign-exe.sh signs a copy of the built program so that osslsigncode
# verifies it under a CA made here for the test (never the machine's), from a
# key and certificate and from a PFX with a password; one changed byte, or a
# CA that did not issue the certificate, fails the check.
# usage: sign-exe-test.sh SIGN-EXE PROGRAM
set -uo pipefail
sign=$(realpath "$1")
program=$(realpath "$2")
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
quiet() { "$@" >/dev/null 2>&1; }

# The test CA, a stranger's CA, and a code-signing certificate from the first.
for ca in ca stranger; do
  quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Fernup test $ca" \
    -keyout "$ca.key" -out "$ca.pem" || fail "no $ca"
done
printf 'extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n' > code.ext
quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=Fern Games test publisher" \
  -keyout publisher.key -out publisher.csr || fail "no key"
quiet openssl x509 -req -in publisher.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile code.ext -out publisher.pem || fail "no certificate"
cat publisher.pem ca.pem > chain.pem
echo "a password" > pass.txt
quiet openssl pkcs12 -export -inkey publisher.key -in publisher.pem -certfile ca.pem \
  -passout file:pass.txt -out publisher.pfx || fail "no PFX"

verify() { osslsigncode verify -in "$1" -CAfile "$2" >"$1.verify" 2>&1; }

cp "$program" unsigned.exe
verify unsigned.exe ca.pem && fail "an unsigned program verified"
cp "$program" pem.exe
bash "$sign" --cert chain.pem --key publisher.key --name "Fern Games updater" \
  --url https://example.invalid/ pem.exe >sign.out 2>&1 || fail "signing with a key and certificate: $(cat sign.out)"
grep -q "^signed pem.exe: SHA-256 $(sha256sum pem.exe | cut -d' ' -f1)$" sign.out ||
  fail "the digest printed is not the signed file's: $(cat sign.out)"
verify pem.exe ca.pem || fail "the signed program did not verify: $(cat pem.exe.verify)"
grep -q "Fern Games updater" pem.exe.verify || fail "the description is not in the signature"
verify pem.exe stranger.pem && fail "verified under a CA that did not issue the certificate"

cp "$program" pfx.exe
bash "$sign" --pfx publisher.pfx --pass-file pass.txt pfx.exe >/dev/null 2>&1 || fail "signing with a PFX"
verify pfx.exe ca.pem || fail "the PFX-signed program did not verify: $(cat pfx.exe.verify)"
cp "$program" nopass.exe
bash "$sign" --pfx publisher.pfx nopass.exe >nopass.out 2>&1 && fail "signed without the PFX's password"
cmp -s "$program" nopass.exe || fail "a failed signing changed the file"

# One byte of the code changed after signing: the check fails.
offset=$(( $(stat -c %s pem.exe) / 3 ))
byte=$(od -An -tu1 -j "$offset" -N1 pem.exe | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" |
  dd of=pem.exe bs=1 seek="$offset" conv=notrunc status=none
verify pem.exe ca.pem && fail "a program changed after signing still verified"

bash "$sign" --cert chain.pem pem.exe >/dev/null 2>&1
[ $? -eq 2 ] || fail "a certificate without its key was not refused"

[ "$status" -eq 0 ] && echo "sign-exe.sh: all checks passed"
exit "$status"
