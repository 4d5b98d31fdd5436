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

# Create the prefix once; concurrent callers wait for the first.
if [ ! -f "$WINEPREFIX/.qz-ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.qz-ready" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
        touch "$WINEPREFIX/.qz-ready"
    fi
    flock -u 9
fi
exec wine "$@"
