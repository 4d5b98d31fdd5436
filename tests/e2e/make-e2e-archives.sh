#!/usr/bin/env bash
# Archives for the end-to-end run, made by bsdtar from a known tree:
#   OUT/src/tools/...   the tree (with a Chinese name and fixed times)
#   OUT/tools.zip       the tree zipped, folders included
#   OUT/tools.names     its entry names in archive order (UTF-8, one a line)
#   OUT/truncated.zip   the first half of tools.zip
#   OUT/many.zip        100,000 empty entries in 100 folders: a long central directory
set -euo pipefail
# bsdtar flags non-ASCII names as UTF-8 (general-purpose bit 11) when the
# locale is UTF-8; Debian's Info-ZIP zip stores them as bare bytes.
export LC_ALL=C.UTF-8
out=${1:?usage: make-e2e-archives.sh OUT}
rm -rf "$out"
mkdir -p "$out/src/tools/docs" "$out/src/tools/bin" "$out/src/tools/empty"
cd "$out/src/tools"
printf 'QuilloZIP end-to-end\r\n' >readme.txt
printf '压缩包里的中文说明\n' >"docs/说明.txt"
head -c 200000 /dev/urandom >bin/data.bin
seq 1 20000 >bin/numbers.txt
# Odd seconds: only the extended timestamp carries them exactly.
touch -d '2021-03-04 05:06:07' readme.txt "docs/说明.txt"
touch -d '2022-11-12 13:14:15' bin/data.bin bin/numbers.txt
bsdtar --format zip -cf "$out/tools.zip" readme.txt empty docs bin
unzip -Z1 "$out/tools.zip" >"$out/tools.names"
size=$(stat -c %s "$out/tools.zip")
head -c $((size / 2)) "$out/tools.zip" >"$out/truncated.zip"
python3 - "$out/many.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for i in range(100000):
        z.writestr("d%02d/f%05d.txt" % (i % 100, i), b"")
PY
