#!/usr/bin/env bash
# Runs a Windows program under Wine as the users' systems would: Chinese
# locale (ANSI code page 936), a project-local prefix, quiet debug output.
# CMake uses it as the emulator for every test executable.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$top/build/wineprefix}
export LANG=${QZ_LANG:-zh_CN.UTF-8} LC_ALL=${QZ_LANG:-zh_CN.UTF-8}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
source "$top/scripts/wine-loader.sh"

# Create the prefix once; concurrent callers wait for the first.
if [ ! -f "$WINEPREFIX/.qz-ready" ] || [ ! -f "$WINEPREFIX/.qz-unmanaged" ] || [ ! -f "$WINEPREFIX/.qz-nocrashdialog" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.qz-ready" ]; then
        "$qz_wine" wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
        touch "$WINEPREFIX/.qz-ready"
    fi
    if [ ! -f "$WINEPREFIX/.qz-unmanaged" ]; then
        # Xvfb has no window manager: Wine would wait 2 s for it on every
        # window it hides or destroys. Windows left unmanaged need no wait.
        # The running wineserver serves the new value at once: nothing to wait for.
        "$qz_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
        touch "$WINEPREFIX/.qz-unmanaged"
    fi
    if [ ! -f "$WINEPREFIX/.qz-nocrashdialog" ]; then
        # A program that crashes (a shell folder window, say) would wait for
        # someone to close Wine's crash dialog, holding its test to the time-out.
        "$qz_wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
        touch "$WINEPREFIX/.qz-nocrashdialog"
    fi
    flock -u 9
fi
exec "$qz_wine" "$@"
