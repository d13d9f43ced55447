#!/bin/sh
# Checks the built program file: its name, the GUI subsystem, imports from
# system DLLs only, and the resources it must carry (manifest asking for
# highestAvailable, dialog 101, icon group 102).
# usage: check-program-file.sh OBJDUMP WINDRES PROGRAM
objdump=$1
windres=$2
program=$3
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

[ "$(basename "$program")" = "Fernup.exe" ] || fail "file name: expected Fernup.exe, got $(basename "$program")"

headers=$("$objdump" -p "$program") || { echo "FAIL: $objdump cannot read $program"; exit 1; }
subsystem=$(echo "$headers" | sed -n 's/^Subsystem[[:space:]]*//p')
case "$subsystem" in
*"(Windows GUI)"*) ;;
*) fail "subsystem: expected Windows GUI, got '$subsystem'" ;;
esac

system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll wininet.dll "
imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
    case "$system_dlls" in
    *" $dll "*) ;;
    *) fail "imports $dll, not a system DLL (system DLLs:$system_dlls)" ;;
    esac
done

resources=$("$windres" -i "$program" -O rc 2>/dev/null) || fail "$windres cannot read the resources"
# windres writes the manifest as an rc string, doubling its quotes.
echo "$resources" | grep -q 'requestedExecutionLevel level=""highestAvailable""' ||
    fail "manifest: no requestedExecutionLevel highestAvailable"
if echo "$resources" | grep -q 'Microsoft.Windows.Common-Controls'; then
    fail "manifest: asks for Common Controls 6"
fi
echo "$resources" | grep -q '^101 DIALOGEX' || fail "no dialog template 101"
echo "$resources" | grep -q '^102 14 /\* RT_GROUP_ICON' || fail "no icon group 102"

[ $status -eq 0 ] && echo "ok: $program is a GUI program importing only:" $imports
exit $status
