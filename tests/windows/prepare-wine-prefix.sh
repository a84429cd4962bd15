#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the wine prefix named by WINEPREFIX ready for tests without a
# display: wine's null graphics driver gives windows that are never shown,
# and Qt draws on its offscreen platform.
set -e
wineboot --init >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
