#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the title-bar test of the windows as a window manager sees them: on
# a virtual X display, under openbox, on Qt's X11 platform.
#   window-manager.sh tst_accessibility
set -eu
test=$1
display=:$((200 + $$ % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $manager $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
manager=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
TESSALY_WINDOW_MANAGER=openbox QT_QPA_PLATFORM=xcb "$test" titleBarsOfferOnlyTheirButtons
