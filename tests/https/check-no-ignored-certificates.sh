#!/usr/bin/env bash
# Neither the program nor fernup-pack may tell its HTTP library to overlook a
# certificate that does not hold: no WinINet flag or option that ignores
# certificate errors, and no libcurl option that turns verification off (its
# defaults verify peer and host, and are left as they are).
# usage: check-no-ignored-certificates.sh SOURCE_ROOT
set -uo pipefail
root=$1
found=$(grep -rnE 'IGNORE_CERT|SECURITY_FLAG_IGNORE|INTERNET_OPTION_SECURITY_FLAGS|IGNORE_INVALID_CA|CURLOPT_SSL_VERIFY(PEER|HOST|STATUS)|CURLOPT_PROXY_SSL_VERIFY|CURLSSLOPT_NO_REVOKE|CURLSSLOPT_ALLOW_BEAST' \
  "$root/updater" "$root/framework" "$root/support" "$root/tools" --include='*.cpp' --include='*.h' --include='*.c')
if [ -n "$found" ]; then
  echo "certificate checks are relaxed here:"
  echo "$found"
  exit 1
fi
echo "no certificate check is relaxed"
