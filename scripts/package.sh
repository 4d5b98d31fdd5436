#!/usr/bin/env bash
# Builds the release package: dist/QuilloZIP-<version>.zip holding the single
# stand-alone i686 quillozip.exe and the Chinese user guide.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
bash scripts/build.sh i686
version=$(sed -n 's/^project(QuilloZIP VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p dist
out=dist/QuilloZIP-$version.zip
rm -f "$out"
# Names are stored in code page 936 without the UTF-8 flag, the form that
# Chinese Windows' own ZIP folders read correctly.
python3 - "$out" build/i686/bin/quillozip.exe docs/使用说明.txt <<'PY'
import sys, zipfile, os, time
out, *files = sys.argv[1:]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for path in files:
        name = os.path.basename(path).encode("cp936").decode("cp437")
        info = zipfile.ZipInfo(name, time.localtime(os.path.getmtime(path))[:6])
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 0
        with open(path, "rb") as f:
            data = f.read()
        if path.endswith(".txt"):
            # Notepad on Chinese Windows reads GBK text with CRLF line ends.
            data = data.decode("utf-8").replace("\n", "\r\n").encode("cp936")
        z.writestr(info, data)
print(out)
PY
