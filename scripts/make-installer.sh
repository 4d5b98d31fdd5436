#!/usr/bin/env bash
# Builds the installer from a folder stage-release.sh filled.
# Usage: make-installer.sh DIR OUTFILE [amd64]   (DIR holds quillozip.exe, quillozip64.exe and the guide;
# amd64: a 64-bit installer carrying quillozip64.exe alone, for the 64-bit build's tests)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "$1" && pwd) out=$2
version=$(sed -n 's/^project(QuilloZIP VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
args=(-V2 -INPUTCHARSET UTF8 "-DVERSION=$version" "-DSTAGE=$dir" "-DOUTFILE=$out")
[ "${3:-}" = amd64 ] && args+=(-DAMD64)
makensis "${args[@]}" "$top/scripts/installer.nsi" >/dev/null
