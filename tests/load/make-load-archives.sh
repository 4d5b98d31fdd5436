#!/usr/bin/env bash
# Archives for the load suites, made by real tools on the host:
#   OUT/small.zip  a few small files (Info-ZIP zip): the storm's downloads
#                  and the long run's
#   OUT/small.count  its entry count
#   OUT/many.zip   100,000 tiny files in 100 folders, no folder entries
#                  (Python's zipfile)
#   OUT/big.zip    one entry of 2 GiB of zeros, deflated (Info-ZIP zip from a
#                  sparse file; below 4 GiB it needs no ZIP64)
# The large ones take a while to make and never change, so a run keeps those
# a previous run made.
set -euo pipefail
out=${1:?usage: make-load-archives.sh OUT}
mkdir -p "$out"
cd "$out"

rm -rf small small.zip
mkdir -p small/docs
printf 'load suite\r\n' >small/readme.txt
seq 1 5000 >small/docs/numbers.txt
head -c 30000 /dev/urandom >small/data.bin
(cd small && zip -qr ../small.zip readme.txt docs data.bin)
unzip -Z1 small.zip | wc -l >small.count
rm -rf small

if [ ! -s many.zip ] || [ "$(unzip -Z1 many.zip | wc -l)" != 100000 ]; then
    python3 - <<'PY'
import zipfile
with zipfile.ZipFile("many.zip.tmp", "w", zipfile.ZIP_STORED) as z:
    for d in range(100):
        for f in range(1000):
            z.writestr("folder%02d/entry%05d.txt" % (d, d * 1000 + f), b"%d\n" % f)
PY
    mv many.zip.tmp many.zip
fi

# zeros_archive NAME FILE SIZE: NAME.zip holding FILE, SIZE bytes of zeros.
zeros_archive() {
    local name=$1 file=$2 size=$3
    if [ ! -s "$name.zip" ] || ! unzip -Z1 "$name.zip" "$file" >/dev/null 2>&1; then
        rm -rf "$name" && mkdir "$name"
        truncate -s "$size" "$name/$file"
        (cd "$name" && zip -q -1 "../$name.zip.tmp" "$file")
        rm -rf "$name"
        mv "$name.zip.tmp" "$name.zip"
    fi
}
zeros_archive big zeros.bin 2G
