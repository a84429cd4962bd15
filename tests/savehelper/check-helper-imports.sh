#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows save helper runs with administrator rights from a folder its
# user may write, where Windows looks first for most DLLs: it may import
# only DLLs that Windows always takes from its own folder (KnownDLLs).
#   check-helper-imports.sh OBJDUMP tessaly-save-helper.exe
set -eu
objdump=$1
helper=$2
imports=$("$objdump" -p "$helper" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || { echo "no imports found in $helper" >&2; exit 1; }
status=0
for dll in $imports; do
    case "$dll" in
        kernel32.dll | advapi32.dll | msvcrt.dll | user32.dll | shell32.dll | ole32.dll | oleaut32.dll \
            | gdi32.dll | shlwapi.dll | sechost.dll | rpcrt4.dll | combase.dll | ws2_32.dll) ;;
        *) echo "imports $dll, which Windows may take from the helper's own folder" >&2; status=1 ;;
    esac
done
echo "imports:" $imports
exit $status
