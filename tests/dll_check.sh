#!/usr/bin/env bash
# The module DLL as the host sees it: PE32 for i386, exactly the two data exports Linkage and ImportTable,
# imports from Windows system DLLs only (nothing from MinGW's runtime DLLs), and no SSE instruction, which the
# processors of the first host generations lack.
set -uo pipefail
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
fail=0
headers=$($objdump -p "$dll") || { echo "cannot read $dll"; exit 1; }

grep -q 'file format pei-i386' <<<"$($objdump -f "$dll")" || { echo "not a PE32 i386 image"; fail=1; }

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[[:space:]]*\[/{print $NF; next} on{on=0}' <<<"$headers" | sort | tr '\n' ' ')
if [ "$exports" != "ImportTable Linkage " ]; then
    echo "exports are '$exports', want 'ImportTable Linkage '"
    fail=1
fi

imports=$(awk '/DLL Name:/{print toupper($3)}' <<<"$headers" | sort -u | tr '\n' ' ')
for name in $imports; do
    case "$name" in
    KERNEL32.DLL | USER32.DLL | MSVCRT.DLL | WS2_32.DLL) ;;
    *) echo "imports from $name, which is not a system DLL"; fail=1 ;;
    esac
done
[ -n "$imports" ] || { echo "no imports found"; fail=1; }

sse=$($objdump -d "$dll" | grep -c -E '%xmm|%mm[0-7]')
if [ "$sse" -ne 0 ]; then
    echo "$sse instructions use MMX or SSE registers"
    fail=1
fi

[ $fail -eq 0 ] && echo "exports: $exports; imports: $imports"
exit $fail
