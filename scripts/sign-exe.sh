#!/usr/bin/env bash
# Signs Fernup.exe and fernup-pack.exe with Authenticode (Debian's
# osslsigncode), so that the elevation prompt names the publisher instead of
# "Unknown publisher". Each file is signed in place, by rename: an interrupted
# run leaves the file as it was.
#
#   sign-exe.sh --pfx FILE [--pass-file FILE] [options] EXE...
#   sign-exe.sh --cert CERT.pem --key KEY.pem [--pass-file FILE] [options] EXE...
#
#   --pfx FILE        a PKCS#12 file with the key and the certificate chain
#   --cert, --key     the certificate (with its chain, PEM or DER) and its key
#   --pass-file FILE  the password of the PFX or the key, read from a file so
#                     that it never shows in the process list
#   --name TEXT       the description the prompt shows (default: Fernup)
#   --url URL         the publisher's web address, shown with it
#   --timestamp URL   an RFC 3161 time-stamp server: the signature then stays
#                     valid after the certificate expires
#
# Sign the files you publish only after scripts/release-digests.sh printed
# their digests: the signature changes the file, so the digests of the build
# (what anyone can rebuild) are those of the unsigned files.
set -euo pipefail

usage() {
  sed -n '7,18p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

pfx="" cert="" key="" pass_file="" name="Fernup" url="" timestamp=""
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --pfx) pfx=${2:?}; shift 2 ;;
    --cert) cert=${2:?}; shift 2 ;;
    --key) key=${2:?}; shift 2 ;;
    --pass-file) pass_file=${2:?}; shift 2 ;;
    --name) name=${2:?}; shift 2 ;;
    --url) url=${2:?}; shift 2 ;;
    --timestamp) timestamp=${2:?}; shift 2 ;;
    --help|-h) usage ;;
    --*) echo "sign-exe.sh: unknown option $1" >&2; usage ;;
    *) files+=("$1"); shift ;;
  esac
done
[ ${#files[@]} -gt 0 ] || { echo "sign-exe.sh: name the files to sign" >&2; usage; }
if [ -n "$pfx" ] && [ -z "$cert$key" ]; then
  credentials=(-pkcs12 "$pfx")
elif [ -z "$pfx" ] && [ -n "$cert" ] && [ -n "$key" ]; then
  credentials=(-certs "$cert" -key "$key")
else
  echo "sign-exe.sh: give --pfx, or --cert and --key" >&2
  exit 2
fi
command -v osslsigncode >/dev/null || {
  echo "sign-exe.sh: osslsigncode is missing (scripts/install-deps.sh installs it)" >&2
  exit 2
}
options=(-h sha256 -n "$name")
[ -n "$pass_file" ] && options+=(-readpass "$pass_file")
[ -n "$url" ] && options+=(-i "$url")
[ -n "$timestamp" ] && options+=(-ts "$timestamp")

for file in "${files[@]}"; do
  [ -f "$file" ] || { echo "sign-exe.sh: $file does not exist" >&2; exit 2; }
  signed="$file.signing-$$"
  rm -f "$signed"
  if ! osslsigncode sign "${credentials[@]}" "${options[@]}" -in "$file" -out "$signed" >"$signed.log" 2>&1; then
    echo "sign-exe.sh: $file was not signed:" >&2
    sed 's/^/  /' "$signed.log" >&2
    rm -f "$signed" "$signed.log"
    exit 1
  fi
  rm -f "$signed.log"
  mv -f "$signed" "$file"
  echo "signed $file: SHA-256 $(sha256sum "$file" | cut -d' ' -f1)"
done
