#!/usr/bin/env bash
# Puts the files of a release into a folder: quillozip.exe stripped and the
# Chinese user guide as Notepad on Chinese Windows reads it (GBK, CRLF).
# Usage: stage-release.sh EXE DIR [STRIP]   (STRIP: the strip tool of EXE's target)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
exe=$1 dir=$2 strip=${3:-i686-w64-mingw32-strip}
mkdir -p "$dir"
"$strip" -o "$dir/quillozip.exe" "$exe"
sed 's/$/\r/' "$top/docs/使用说明.txt" | iconv -f UTF-8 -t CP936 >"$dir/使用说明.txt"
touch -r "$top/docs/使用说明.txt" "$dir/使用说明.txt"
