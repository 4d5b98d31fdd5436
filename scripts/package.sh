#!/usr/bin/env bash
# Builds the release: dist/QuilloZIP-<version>.zip holding the stand-alone
# i686 quillozip.exe, the x86_64 quillozip64.exe (both stripped) and the
# Chinese user guide, and dist/QuilloZIP-<version>-setup.exe, the installer,
# which carries both programs and installs the one built for the Windows it runs on.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
bash scripts/build.sh i686 x86_64
version=$(sed -n 's/^project(QuilloZIP VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
bash scripts/stage-release.sh "$stage" build/i686/bin/quillozip.exe build/x86_64/bin/quillozip.exe
mkdir -p dist
out=$top/dist/QuilloZIP-$version.zip
rm -f "$out"
# Names are stored in code page 936 without the UTF-8 flag, the form every
# ZIP reader on Chinese Windows shows correctly.
(cd "$stage" && LC_ALL=C.UTF-8 bsdtar --format zip --options zip:hdrcharset=CP936 -cf "$out" quillozip.exe quillozip64.exe 使用说明.txt)
echo "$out"
setup=$top/dist/QuilloZIP-$version-setup.exe
bash scripts/make-installer.sh "$stage" "$setup"
echo "$setup"
