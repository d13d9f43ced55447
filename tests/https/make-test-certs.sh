#!/usr/bin/env bash
# Throwaway certificates for the HTTPS tests, written to DIR:
#   ca.pem            the test CA, which only the tests' own Wine prefix (and
#                     fernup-pack's --ca-file) trusts
#   good.pem/.key     127.0.0.1, from the test CA
#   other-name.pem/.key  another host's name, from the test CA
#   expired.pem/.key  127.0.0.1, from the test CA, ended a year ago
#   unknown-ca.pem/.key  127.0.0.1, from a second CA that nobody trusts
# Server names go in as both an IP and a DNS alternative name: OpenSSL matches
# an address against the first, Wine's crypt32 against the second.
# usage: make-test-certs.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: make-test-certs.sh DIR" >&2; exit 2; }
dir=$1
rm -rf "$dir"
mkdir -p "$dir/db"
cd "$dir"

# openssl ca, for its free choice of validity dates.
cat > ca.cnf <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
database = db/index.txt
new_certs_dir = db
serial = db/serial
default_md = sha256
policy = anything
copy_extensions = none
unique_subject = no
[anything]
commonName = supplied
[authority]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
[server]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $ENV::SERVER_NAMES
CNF

# NAME SUBJECT-NAME ISSUER(NAME, or "self") EXTENSIONS START END
issue() {
  : > db/index.txt
  [ -f db/serial ] || echo 1000 > db/serial
  openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$2" -keyout "$1.key" -out "$1.csr" \
    2>/dev/null
  local signer=(-selfsign -keyfile "$1.key")
  [ "$3" = self ] || signer=(-cert "$3.pem" -keyfile "$3.key")
  openssl ca -batch -config ca.cnf -extensions "$4" "${signer[@]}" -startdate "$5" \
    -enddate "$6" -in "$1.csr" -out "$1.pem" -notext 2>/dev/null
  rm -f "$1.csr"
}

# GeneralizedTime, as openssl ca takes it for any year.
day() { date -u -d "$1" +%Y%m%d%H%M%SZ; }

# The CAs were valid when the expired certificate was: it is refused for
# its own dates only.
from=$(day '-2 years') until=$(day '+30 days') yesterday=$(day '-1 day')
export SERVER_NAMES=DNS:127.0.0.1,IP:127.0.0.1
issue ca "Fernup test CA" self authority "$from" "$until"
issue stranger-ca "Fernup stranger CA" self authority "$from" "$until"
issue good 127.0.0.1 ca server "$yesterday" "$until"
issue expired 127.0.0.1 ca server "$(day '-400 days')" "$(day '-365 days')"
issue unknown-ca 127.0.0.1 stranger-ca server "$yesterday" "$until"
SERVER_NAMES=DNS:updates.example.org issue other-name updates.example.org ca server \
  "$yesterday" "$until"
