#!/usr/bin/env bash
# The program is the same bytes however it is built: the source copied to
# another folder (another name, another depth) and built again, later, gives a
# Fernup.exe byte for byte equal to the build tree's. A copy signed with a
# test certificate is still recognised as that program by
# release-digests.sh --check, and a changed one is not.
# usage: reproducible-build-test.sh SOURCE_DIR BUILT_PROGRAM TOOLCHAIN_FILE BUILD_TYPE
set -uo pipefail
source_dir=$(realpath "$1")
built=$(realpath "$2")
toolchain=$3
build_type=$4
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/another/place/fernup-copy
mkdir -p "$copy"
tar -C "$source_dir" --exclude=./build --exclude=./.git --exclude=./demo-run -cf - . |
  tar -C "$copy" -xf -
toolchain=${toolchain/#$source_dir/$copy}
if ! cmake -S "$copy" -B "$copy/out" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE="$build_type" >"$work/configure.log" 2>&1; then
  echo "FAIL: the copy did not configure"; tail -n 20 "$work/configure.log"; exit 1
fi
if ! cmake --build "$copy/out" --target Fernup -j 2 >"$work/build.log" 2>&1; then
  echo "FAIL: the copy did not build"; tail -n 20 "$work/build.log"; exit 1
fi
again=$copy/out/bin/Fernup.exe
if cmp -s "$built" "$again"; then
  echo "the same Fernup.exe from $copy: $(sha256sum "$again" | cut -d' ' -f1)"
else
  fail "$again differs from $built in $(cmp -l "$built" "$again" 2>/dev/null | wc -l) bytes"
fi

# Signed, it is still recognised as the program built; changed, it is not.
cd "$work" || exit 1
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Fernup test publisher" \
  -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem >/dev/null 2>&1
cp "$again" signed.exe
bash "$source_dir/scripts/sign-exe.sh" --cert cert.pem --key key.pem signed.exe >/dev/null ||
  fail "the copy could not be signed"
cmp -s signed.exe "$again" && fail "signing changed nothing"
bash "$source_dir/scripts/release-digests.sh" --check signed.exe "$built" >check.out 2>&1 ||
  fail "the signed program was not recognised: $(cat check.out)"
printf 'X' | dd of="$again" bs=1 seek=4096 conv=notrunc status=none
bash "$source_dir/scripts/release-digests.sh" --check signed.exe "$again" >check.out 2>&1 &&
  fail "a changed program was taken for the signed one"

[ "$status" -eq 0 ] && echo "reproducible build: all checks passed"
exit "$status"
