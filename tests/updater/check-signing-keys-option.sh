#!/bin/sh
# -DFERNUP_SIGNING_KEYS as the build reads it (updater/SigningKeys.cmake),
# configured in a project of its own that calls it as updater/CMakeLists.txt
# does, so that no compiler is involved: left out, the program without keys;
# empty or malformed, the configuration stops and says why; in a build folder
# that exists, a -D changes it and the empty default of older folders still
# means no keys.
# usage: check-signing-keys-option.sh CMAKE MODULE SCRATCH_FOLDER
cmake=$1
module=$2
scratch=$3
status=0

rm -rf "$scratch"
mkdir -p "$scratch/src"
cat >"$scratch/src/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(SigningKeysOption NONE)
include("$module")
fernup_signing_keys(keys)
message(STATUS "signing keys: [\${keys}]")
EOF
# What an older build folder held before any -D.
cat >"$scratch/old-default.cmake" <<'EOF'
set(FERNUP_SIGNING_KEYS "" CACHE STRING
  "Public keys whose signatures Fernup.exe requires (fernup-pack keygen writes them); empty: no signatures checked")
EOF

key=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef
key=$key$key
other=$(echo "$key" | tr 0123456789abcdef fedcba9876543210)

# expect WHAT ok|fails TEXT FOLDER CMAKE_ARGUMENT...: configures the build
# folder FOLDER under the scratch folder, which must end as said and print
# TEXT.
expect() {
    what=$1 want=$2 text=$3 folder=$4
    shift 4
    "$cmake" -S "$scratch/src" -B "$scratch/$folder" "$@" >"$scratch/output" 2>&1
    got=$?
    if [ "$want" = ok ] && [ $got -ne 0 ] || [ "$want" = fails ] && [ $got -eq 0 ]; then
        echo "FAIL: $what: expected '$want', cmake exited with $got:"
        cat "$scratch/output"
        status=1
    elif ! grep -qF -- "$text" "$scratch/output"; then
        echo "FAIL: $what: expected '$text' in:"
        cat "$scratch/output"
        status=1
    else
        echo "ok: $what"
    fi
}

empty="FERNUP_SIGNING_KEYS is set but empty"
expect "left out" ok "signing keys: []" plain
expect "empty" fails "$empty" empty -DFERNUP_SIGNING_KEYS=
expect "empty, with its type" fails "$empty" typed -DFERNUP_SIGNING_KEYS:STRING=
expect "blanks" fails "signing key '' is not hexadecimal" blanks "-DFERNUP_SIGNING_KEYS=  "
expect "OFF" fails "signing key 'OFF' is not hexadecimal" off -DFERNUP_SIGNING_KEYS=OFF
expect "not hexadecimal" fails "is not hexadecimal" letter "-DFERNUP_SIGNING_KEYS=${key%?}g"
expect "short" fails "is not 128 hexadecimal characters" short "-DFERNUP_SIGNING_KEYS=${key%??}"
expect "a \";\" at the end" fails "signing key '' is not hexadecimal" end "-DFERNUP_SIGNING_KEYS=$key;"
expect "two keys" ok "signing keys: [$key;$other]" keyed "-DFERNUP_SIGNING_KEYS=$key;$other"
expect "two keys, configured again" ok "signing keys: [$key;$other]" keyed
expect "two keys, then empty" fails "$empty" keyed -DFERNUP_SIGNING_KEYS=
expect "empty, configured again" fails "$empty" keyed
expect "then removed" ok "signing keys: []" keyed -UFERNUP_SIGNING_KEYS
expect "an older folder's default" ok "signing keys: []" older -C "$scratch/old-default.cmake"
expect "an older folder, then empty" fails "$empty" older -DFERNUP_SIGNING_KEYS=
expect "an older folder, then a key" ok "signing keys: [$key]" older "-DFERNUP_SIGNING_KEYS=$key"

[ $status -eq 0 ] && rm -rf "$scratch"
exit $status
