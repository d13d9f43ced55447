#!/bin/sh
# Checks how the built program loads its DLLs: static imports only from DLLs
# that Windows always takes from the system folder (KnownDLLs), the others
# delay-loaded, and the search limited to the system folder as WinMain's
# first call, before anything can load one of them.
# usage: check-dll-loading.sh OBJDUMP NM PROGRAM
objdump=$1
nm=$2
program=$3
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

known=" advapi32.dll gdi32.dll kernel32.dll msvcrt.dll user32.dll "
imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || fail "no static imports found in $program"
for dll in $imports; do
    case "$known" in
    *" $dll "*) ;;
    *) fail "static import of $dll, which is searched for beside the program first" ;;
    esac
done

# binutils 2.40 writes no delay-import data directory, so the descriptors that
# dlltool's delay libraries bring are found by their symbols.
symbols=$("$nm" "$program") || fail "$nm cannot read $program"
for dll in wininet winmm comdlg32 comctl32 bcrypt; do
    echo "$symbols" | grep -q "__DELAY_IMPORT_DESCRIPTOR_.*lib${dll}_delay_a\$" ||
        fail "$dll.dll is not delay-loaded"
done
echo "$symbols" | grep -Eq ' T _*__delayLoadHelper2(@8)?$' || fail "no delay-load helper linked"

first_call=$("$objdump" -d --no-show-raw-insn "$program" |
    awk '/<(_WinMain@16|WinMain)>:$/ { inside = 1; next } inside && /call/ { print; exit }')
case "$first_call" in
*LoadSystemDllsFromSystemFolderOnly*) ;;
*) fail "WinMain's first call is not LoadSystemDllsFromSystemFolderOnly: '$first_call'" ;;
esac

[ $status -eq 0 ] && echo "ok: static imports only from KnownDLLs ($(echo $imports)); wininet, winmm, comdlg32, comctl32, bcrypt delay-loaded; search limited first in WinMain"
exit $status
