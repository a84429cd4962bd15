#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows save helper runs with administrator rights from a folder its
# user may write, where Windows looks first for most DLLs: it imports only
# the two it needs, both KnownDLLs that Windows always takes from its own
# folder. Others that are KnownDLLs too (user32, shell32, ole32) would still
# load further DLLs before SetDefaultDllDirectories runs.
#   check-helper-imports.sh OBJDUMP tessaly-save-helper.exe
set -eu
objdump=$1
helper=$2
imports=$("$objdump" -p "$helper" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || { echo "no imports found in $helper" >&2; exit 1; }
status=0
for dll in $imports; do
    case "$dll" in
        kernel32.dll | msvcrt.dll) ;;
        *) echo "imports $dll, which the helper does not need and which may load more before it starts" >&2; status=1 ;;
    esac
done
echo "imports:" $imports
exit $status
