#!/usr/bin/env bash
# Runs a test program in a Wine prefix of its own whose screen is at DPI
# (LogPixels), created on first use, on an X display of its own large
# enough for the windows at 200 %. The program learns the DPI it must see
# from QZ_EXPECT_DPI.
# Usage: run-at-dpi.sh DPI PREFIX EMULATOR PROGRAM [ARGS...]
set -euo pipefail
dpi=$1 prefix=$2 emulator=$3
shift 3
export WINEPREFIX=$prefix QZ_EXPECT_DPI=$dpi
unset DISPLAY
QZ_SCREEN=2560x1600x24 source "$(dirname "$0")/../../scripts/xvfb.sh"
if [ ! -f "$prefix/.qz-dpi-$dpi" ]; then
    # The emulator creates the prefix; the running wineserver keeps the value.
    "$emulator" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
    touch "$prefix/.qz-dpi-$dpi"
fi
status=0
"$emulator" "$@" || status=$?
# Its display goes with this script: so does the prefix's Wine.
wineserver -k 2>/dev/null || true
exit $status
