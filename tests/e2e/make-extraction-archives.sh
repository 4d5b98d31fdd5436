#!/usr/bin/env bash
# Archives for the extraction-run suite:
#   OUT/big.zip       three stored entries of random data, 100 MiB each
#   OUT/damaged.zip   good.txt, a bad CRC, a climbing name and a device name
#   OUT/pkg.zip       one top folder of the archive's name
#   OUT/single.zip    one file
#   OUT/many.zip      several top-level items
#   OUT/mac.zip       one top folder beside macOS bookkeeping
#   OUT/zeros.zip     one deflated entry of 2 GiB of zeros: a long run from a small archive
#   OUT/enc.zip       two encrypted entries (password "right pw"), from OUT/enc/
#   OUT/资料😀한국어.zip  names beyond the ANSI code page, flagged UTF-8, in a file
#                     named beyond it as well
set -euo pipefail
out=${1:?usage: make-extraction-archives.sh OUT}
rm -rf "$out"
mkdir -p "$out/big"
for n in 1 2 3; do head -c $((100 * 1024 * 1024)) /dev/urandom >"$out/big/part$n.bin"; done
(cd "$out/big" && zip -q -0 ../big.zip part1.bin part2.bin part3.bin)
rm -rf "$out/big"
python3 - "$out" <<'PY'
import sys, zipfile
out = sys.argv[1]
def make(name, entries):
    with zipfile.ZipFile(f"{out}/{name}", "w", zipfile.ZIP_STORED) as z:
        for entry, data in entries:
            z.writestr(entry, data)
make("damaged.zip", [("good.txt", b"good\n"), ("bad.txt", b"BADDATA-BADDATA\n"),
                     ("../../evil.txt", b"climbs\n"), ("CON.txt", b"device\n")])
# Damage bad.txt's stored bytes; its CRC stays as it was.
data = open(f"{out}/damaged.zip", "rb").read().replace(b"BADDATA-BADDATA", b"BADDATA-BADDATb")
open(f"{out}/damaged.zip", "wb").write(data)
make("pkg.zip", [("pkg/", b""), ("pkg/a.txt", b"a\n"), ("pkg/sub/b.txt", b"b\n")])
make("single.zip", [("only.txt", b"only\n")])
make("many.zip", [("a.txt", b"a\n"), ("b.txt", b"b\n"), ("sub/c.txt", b"c\n")])
make("mac.zip", [("__MACOSX/", b""), ("__MACOSX/app/._x.txt", b"fork"), ("app/x.txt", b"x\n"),
                 ("app/.DS_Store", b"ds")])
# zipfile sets the UTF-8 flag for every name that is not plain ASCII.
with zipfile.ZipFile(f"{out}/zeros.zip", "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    with z.open("zeros.bin", "w", force_zip64=True) as f:
        block = bytes(1 << 20)
        for _ in range(2048):
            f.write(block)
make("资料😀한국어.zip", [("报告😀.txt", "报告😀\n".encode()), ("한국어/", b""), ("한국어/메모.txt", b"memo\n"),
                       ("Über.txt", b"umlaut\n")])
PY
# Traditional encryption, as "zip -e" makes it; the plain files stay for comparing.
mkdir -p "$out/enc/sub"
printf 'first secret\n' >"$out/enc/a.txt"
head -c 100000 /dev/urandom >"$out/enc/sub/b.bin"
(cd "$out/enc" && zip -q -P 'right pw' ../enc.zip a.txt sub/b.bin)
