#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the title-bar test of the windows as a window manager sees them: on
# a virtual X display, under openbox, on Qt's X11 platform.
#   window-manager.sh tst_accessibility
# Xvfb picks a free display itself; the test starts only once openbox has
# taken the display over, and a failure to get there says which of the two
# did not come up.
set -eu
test=$1
work=$(mktemp -d)
xvfb=
manager=
trap 'kill $manager $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 300); do
    [ -s "$work/display" ] && break
    kill -0 $xvfb 2>/dev/null || break
    sleep 0.1
done
if ! [ -s "$work/display" ]; then
    echo "window-manager.sh: Xvfb did not start a display:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

# A window manager has taken over when the root window names a window of
# its own that names itself back (_NET_SUPPORTING_WM_CHECK) and carries the
# manager's name.
window_manager_running() {
    check=$(xprop -root -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
    [ -n "$check" ] || return 1
    xprop -id "$check" -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "$check" || return 1
    xprop -id "$check" -notype _NET_WM_NAME 2>/dev/null | grep -q '"'
}

openbox >"$work/openbox.log" 2>&1 &
manager=$!
for _ in $(seq 300); do
    window_manager_running && break
    kill -0 $manager 2>/dev/null || break
    sleep 0.1
done
if ! window_manager_running; then
    echo "window-manager.sh: openbox did not take over display $DISPLAY:" >&2
    cat "$work/openbox.log" >&2
    exit 1
fi
TESSALY_WINDOW_MANAGER=openbox QT_QPA_PLATFORM=xcb "$test" titleBarsOfferOnlyTheirButtons
