#!/usr/bin/env bash
# The SHA-256 of Fernup.exe and fernup-pack.exe as this commit builds them, to
# publish beside a release: anyone who builds the same commit (with the same
# public keys, for a keyed Fernup.exe) gets the same bytes, wherever and
# whenever they build it, and can check that a Fernup.exe was built from it.
#
#   release-digests.sh [--keys KEYS]
#       exports the commit checked out (HEAD, without uncommitted changes) to
#       a new temporary folder, builds both programs for win64 and win32 there
#       with the presets, and prints their digests. KEYS is what
#       -DFERNUP_SIGNING_KEYS takes.
#   release-digests.sh --check SIGNED.exe BUILT.exe
#       whether a published, Authenticode-signed program is the built one:
#       the same bytes once its signature is taken off (the signature, the PE
#       checksum that signing rewrites and the padding it leaves aside).
#
# Sign only after printing the digests (scripts/sign-exe.sh).
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."

check() {
  local signed=$1 built=$2 folder stripped
  folder=$(mktemp -d)
  stripped=$folder/stripped.exe
  trap 'rm -rf "$folder"' RETURN
  osslsigncode remove-signature -in "$signed" -out "$stripped" >/dev/null 2>&1 || {
    echo "release-digests.sh: $signed holds no signature that can be taken off" >&2
    return 1
  }
  python3 - "$stripped" "$built" <<'PY'
import struct, sys
stripped = open(sys.argv[1], "rb").read()
built = open(sys.argv[2], "rb").read()
def blank_checksum(data):
    header = struct.unpack_from("<I", data, 0x3C)[0]
    at = header + 24 + 64  # the optional header's CheckSum
    return data[:at] + b"\0\0\0\0" + data[at + 4:]
same = (len(stripped) >= len(built)
        and blank_checksum(stripped[:len(built)]) == blank_checksum(built)
        and not stripped[len(built):].strip(b"\0"))
print(("the same program: " if same else "NOT the same program: ") + sys.argv[2])
sys.exit(0 if same else 1)
PY
}

if [ "${1:-}" = --check ]; then
  [ $# -eq 3 ] || { echo "usage: release-digests.sh --check SIGNED.exe BUILT.exe" >&2; exit 2; }
  # The files as named where the script was started.
  cd "$here"
  check "$(realpath "$2")" "$(realpath "$3")"
  exit
fi

keys=()
if [ "${1:-}" = --keys ]; then
  [ $# -eq 2 ] || { echo "usage: release-digests.sh [--keys KEYS]" >&2; exit 2; }
  keys=("-DFERNUP_SIGNING_KEYS=$2")
fi
commit=$(git rev-parse HEAD)
source=$(mktemp -d)
trap 'rm -rf "$source"' EXIT
git archive "$commit" | tar -x -C "$source"
for preset in win64 win32; do
  (cd "$source" && cmake --preset "$preset" "${keys[@]}" >/dev/null &&
    cmake --build --preset "$preset" --target Fernup fernup_pack -j "$(nproc)" >/dev/null)
done
echo "commit $commit${keys:+ (with the keys given)}"
for preset in win64 win32; do
  for program in Fernup.exe fernup-pack.exe; do
    echo "$(sha256sum "$source/build/$preset/bin/$program" | cut -d' ' -f1)  $preset/$program"
  done
done
