#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that the zip's save helper is the one the editor was built to start,
# then starts the real tessaly.exe from the unpacked portable zip under wine, on a
# virtual display, in a fresh wine prefix with the Western code page (1252)
# whose hosts file this script writes, and drives it with the keyboard:
#   1. an entry added with Tab and Space, then Ctrl+Enter: the file is written
#      in the grouped layout with CR LF, the 0xE9 of "café" byte for byte;
#   2. the hosts file with the read-only attribute: SAVE/CLOSE shows the
#      error box, and the window stays until Esc.
# Then the installer, run silently: the folder's access list set before any
# file is put there (through a stand-in icacls.exe, which records how it was
# called: wine's own changes nothing), the program under Program Files, the
# Start-menu entry and the uninstaller, which takes all of it away again.
#   tests/windows/end-to-end.sh Tessaly-<version>-win64.zip Tessaly-<version>-setup.exe icacls_standin.exe
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 ZIP INSTALLER ICACLS-STAND-IN" >&2; exit 2; }
zip=$(realpath "$1")
installer=$(realpath "$2")
icacls_standin=$(realpath "$3")
work=$(mktemp -d)
xvfb=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "end-to-end: $*" >&2; exit 1; }

unzip -q "$zip" -d "$work/app"
# The helper in the zip is the one whose SHA-256 the editor was built with.
digest=$(sed -n 's/.*kSaveHelperSha256\[\] = "\([0-9a-f]*\)".*/\1/p' "$(dirname "$zip")/savehelper/generated/helperdigest.h")
[ -n "$digest" ] || fail "no helper digest was built"
[ "$(sha256sum "$work/app/tessaly-save-helper.exe" | cut -d' ' -f1)" = "$digest" ] \
    || fail "the zip's tessaly-save-helper.exe is not the one the editor was built to start"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the code page from the locale: C.UTF-8 gives the Western one
# (1252) and UTF-8 file names on the host.
export LC_ALL=C.UTF-8
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
wineboot --init >/dev/null 2>&1
wineserver -w
wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null | grep -q '1252' \
    || fail "the wine prefix does not use code page 1252"
hosts="$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
[ -f "$hosts" ] || fail "wine made no hosts file at $hosts"

# The first visible window of that name, waiting up to the given seconds.
# xdotool stops with BadWindow when a window goes away while it looks (wine
# makes and drops helper windows as a program starts), so it looks again.
find_window() { # name seconds
    for _ in $(seq $(($2 * 5))); do
        found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) || true
        [ -n "$found" ] && { echo "$found"; return 0; }
        sleep 0.2
    done
    return 1
}

program=
start() {
    wine "$work/app/tessaly.exe" >"$work/program.log" 2>&1 &
    program=$!
    window=$(find_window '^Tessaly$' 60) || fail "no Tessaly window appeared; it said: $(cat "$work/program.log")"
    sleep 1
    xdotool windowfocus --sync "$window"
}
ended() { # seconds
    for _ in $(seq $(($1 * 10))); do
        kill -0 "$program" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}
ctrl_enter() {
    # Slow key-down and key-up: wine sees the chord only when each event
    # arrives on its own.
    xdotool keydown ctrl sleep 0.1 keydown Return sleep 0.1 keyup Return sleep 0.1 keyup ctrl
}

echo "-- add an entry with the keyboard and save with Ctrl+Enter"
printf '# lab hosts\r\n127.0.0.1 localhost\r\n10.0.0.1 caf\xE9 # kept\r\n' > "$hosts"
start
xdotool type --delay 40 "e2e.example"
xdotool key --delay 80 Tab
xdotool type --delay 40 "10.9.8.7"
xdotool key --delay 80 Tab space
sleep 0.5
ctrl_enter
ended 20 || fail "Ctrl+Enter did not end the program"
expected=$(printf '# lab hosts\r\n\r\n127.0.0.1\tlocalhost\r\n10.0.0.1\tcaf\xE9\t\t# kept\r\n10.9.8.7\te2e.example\r\n' | od -An -tx1)
actual=$(od -An -tx1 "$hosts")
[ "$actual" = "$expected" ] || fail "the saved file is not as expected:$(od -c "$hosts")"

echo "-- the file as it was is kept in the local application data folder, and tessaly-restore.exe puts it back"
original=$(printf '# lab hosts\r\n127.0.0.1 localhost\r\n10.0.0.1 caf\xE9 # kept\r\n' | od -An -tx1)
kept=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Tessaly/previous/hosts-*Z' -type f)
[ "$(wc -l <<<"$kept")" -eq 1 ] && [ -n "$kept" ] || fail "no single previous version was kept: $kept"
[ "$(od -An -tx1 "$kept")" = "$original" ] || fail "the previous version is not the file as it was"
status=0
wine "$work/app/tessaly-restore.exe" 7 >"$work/restore.log" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "restoring a version that does not exist ended with $status: $(cat "$work/restore.log")"
[ "$(od -An -tx1 "$hosts")" = "$expected" ] || fail "a refused restore changed the file"
status=0
wine "$work/app/tessaly-restore.exe" 1 >"$work/restore.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "tessaly-restore.exe 1 ended with $status: $(cat "$work/restore.log")"
[ "$(od -An -tx1 "$hosts")" = "$original" ] || fail "the restored file is not the version:$(od -c "$hosts")"
wine "$work/app/tessaly-restore.exe" --list 2>&1 | grep -q '^2  ' || fail "the restore did not keep what it replaced"
# Written out byte for byte: no line end turned into CR LF on the way.
wine "$work/app/tessaly-restore.exe" --show 1 >"$work/shown" 2>"$work/restore.log" \
    || fail "tessaly-restore.exe --show 1 failed: $(cat "$work/restore.log")"
[ "$(od -An -tx1 "$work/shown")" = "$expected" ] || fail "--show did not write the version as kept:$(od -c "$work/shown")"

echo "-- a read-only hosts file: the error box, and the window stays"
before=$(od -An -tx1 "$hosts")
wine attrib +r 'C:\windows\system32\drivers\etc\hosts' >/dev/null 2>&1
wine attrib 'C:\windows\system32\drivers\etc\hosts' 2>/dev/null | grep -q 'R' || fail "attrib +r did not take"
start
ctrl_enter
box=$(find_window '^Error$' 20) || fail "no error box appeared"
kill -0 "$program" 2>/dev/null || fail "the program ended after a failed save"
xdotool windowfocus --sync "$box" key --delay 80 Return
sleep 1
kill -0 "$program" 2>/dev/null || fail "the program ended when the error box closed"
find_window '^Tessaly$' 5 >/dev/null || fail "the main window is gone"
xdotool windowfocus --sync "$window" key --delay 80 Escape
ended 20 || fail "Esc did not end the program"
[ "$(od -An -tx1 "$hosts")" = "$before" ] || fail "the read-only file was changed"

echo "-- the installer and the uninstaller"
cp "$icacls_standin" "$WINEPREFIX/drive_c/windows/system32/icacls.exe"
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;icacls.exe=n" wine "$installer" /S
wineserver -w
folder='C:\Program Files\Tessaly'
expected="$folder /reset /T /C /Q | program present: no
$folder /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /T /C /Q | program present: no
$folder /setowner *S-1-5-32-544 /T /C /Q | program present: no"
[ "$(tr -d '\r' <"$WINEPREFIX/drive_c/icacls.log" 2>/dev/null)" = "$expected" ] \
    || fail "the installer did not limit the folder's access first; icacls was called as: $(cat "$WINEPREFIX/drive_c/icacls.log" 2>/dev/null)"
installed="$WINEPREFIX/drive_c/Program Files/Tessaly"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tessaly"
for file in "$installed/tessaly.exe" "$installed/tessaly-restore.exe" "$installed/tessaly-save-helper.exe" \
    "$installed/platforms/qwindows.dll" \
    "$installed/Uninstall.exe" \
    "$menu/Tessaly.lnk"; do
    [ -f "$file" ] || fail "the installer left out $file"
done
wine 'C:\Program Files\Tessaly\Uninstall.exe' /S
# The uninstaller runs a copy of itself and returns at once.
for _ in $(seq 100); do [ -e "$installed" ] || [ -e "$menu" ] || break; sleep 0.2; done
wineserver -w
[ ! -e "$installed" ] && [ ! -e "$menu" ] || fail "the uninstaller left the program or its menu entry"
echo "end-to-end: passed"
