#!/usr/bin/env bash
# Puts the files of a release into a folder: the i686 program as
# quillozip.exe and the x86_64 one as quillozip64.exe, both stripped, and the
# Chinese user guide as Notepad on Chinese Windows reads it (GBK, CRLF).
# Usage: stage-release.sh DIR I686_EXE X86_64_EXE   ("-" for a program left out:
# the 64-bit build's test installer carries its own program alone)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1 exe32=$2 exe64=$3
mkdir -p "$dir"
[ "$exe32" = - ] || i686-w64-mingw32-strip -o "$dir/quillozip.exe" "$exe32"
[ "$exe64" = - ] || x86_64-w64-mingw32-strip -o "$dir/quillozip64.exe" "$exe64"
sed 's/$/\r/' "$top/docs/使用说明.txt" | iconv -f UTF-8 -t CP936 >"$dir/使用说明.txt"
touch -r "$top/docs/使用说明.txt" "$dir/使用说明.txt"
