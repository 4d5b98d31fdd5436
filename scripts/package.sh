#!/usr/bin/env bash
# Builds the release package: dist/QuilloZIP-<version>.zip holding the single
# stand-alone i686 quillozip.exe (stripped) and the Chinese user guide.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
bash scripts/build.sh i686
version=$(sed -n 's/^project(QuilloZIP VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
i686-w64-mingw32-strip -o "$stage/quillozip.exe" build/i686/bin/quillozip.exe
# Notepad on Chinese Windows reads the guide as GBK text with CRLF line ends.
sed 's/$/\r/' docs/使用说明.txt | iconv -f UTF-8 -t CP936 >"$stage/使用说明.txt"
touch -r docs/使用说明.txt "$stage/使用说明.txt"
mkdir -p dist
out=$top/dist/QuilloZIP-$version.zip
rm -f "$out"
# Names are stored in code page 936 without the UTF-8 flag, the form every
# ZIP reader on Chinese Windows shows correctly.
(cd "$stage" && LC_ALL=C.UTF-8 bsdtar --format zip --options zip:hdrcharset=CP936 -cf "$out" quillozip.exe 使用说明.txt)
echo "$out"
