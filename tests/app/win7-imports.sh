#!/bin/bash
# Windows 7 without KB2533623 has no SetDefaultDllDirectories: a program
# that imports it statically does not start there at all.
#   win7-imports.sh OBJDUMP PROGRAM.exe...
set -u
objdump=${1:?objdump}
shift
for exe in "$@"; do
    table=$("$objdump" -p "$exe") || { echo "FAIL: cannot read $exe"; exit 1; }
    # A table without kernel32's names would pass the check below unread.
    grep -q 'GetProcAddress' <<<"$table" || { echo "FAIL: no kernel32 imports read from $exe"; exit 1; }
    if grep -qi 'SetDefaultDllDirectories' <<<"$table"; then
        echo "FAIL: $(basename "$exe") imports SetDefaultDllDirectories statically"
        exit 1
    fi
    echo "$(basename "$exe"): no static import of SetDefaultDllDirectories"
done
