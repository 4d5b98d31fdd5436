#!/usr/bin/env bash
# Archives for the verdict's end-to-end run, made by real tools:
#   OUT/plain.zip      an ordinary archive (safe)
#   OUT/setup.zip      setup.exe and readme.txt (safe, the program marked)
#   OUT/locked.zip     zip -e with a password (encrypted)
#   OUT/invoice.zip    "发票.pdf.exe" beside readme.txt, by bsdtar (UTF-8 flag)
#   OUT/invoice-infozip.zip  the same and "报告.docx      .exe" by Info-ZIP (bare bytes)
#   OUT/rlo.zip        a name hiding ".exe" behind U+202E, by bsdtar
#   OUT/rlo-python.zip the same trick with ".scr", by Python's zipfile
#   OUT/names.zip      names that climb out or name a device (hostile)
#   OUT/overlap.zip    two entries sharing one header: a zip bomb (hostile)
#   OUT/declared.zip   a small entry declaring 4 GiB (hostile)
set -euo pipefail
export LC_ALL=C.UTF-8
out=${1:?usage: make-verdict-archives.sh OUT}
rm -rf "$out"
mkdir -p "$out/src/docs"
cd "$out/src"
printf 'read me\r\n' >readme.txt
printf 'notes\r\n' >docs/notes.txt
printf 'MZ not really a program\r\n' >setup.exe
printf 'MZ not really a program\r\n' >"发票.pdf.exe"
printf 'MZ not really a program\r\n' >"报告.docx      .exe"
printf 'MZ not really a program\r\n' >$'invoice\u202Efdp.exe'
zip -qr "$out/plain.zip" readme.txt docs
zip -q "$out/setup.zip" setup.exe readme.txt
zip -q -P secret "$out/locked.zip" readme.txt docs/notes.txt
bsdtar --format zip -cf "$out/invoice.zip" "发票.pdf.exe" readme.txt
zip -q "$out/invoice-infozip.zip" "发票.pdf.exe" "报告.docx      .exe" readme.txt
bsdtar --format zip -cf "$out/rlo.zip" $'invoice\u202Efdp.exe' readme.txt
python3 - "$out" <<'PY'
import struct, sys, zipfile
out = sys.argv[1]
with zipfile.ZipFile(out + '/names.zip', 'w') as z:
    for name in ['../evil.txt', 'nul.txt', 'ok.txt']:
        z.writestr(zipfile.ZipInfo(name), 'payload')
# A second central record for the one local header: its data twice.
with zipfile.ZipFile(out + '/overlap.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('kernel.bin', bytes(100000))
data = open(out + '/overlap.zip', 'rb').read()
cd, end = data.index(b'PK\x01\x02'), data.index(b'PK\x05\x06')
record = data[cd:end]
copy = record.replace(b'kernel.bin', b'copy01.bin')
tail = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 2, 2, len(record) * 2, cd, 0)
open(out + '/overlap.zip', 'wb').write(data[:cd] + record + copy + tail)
with zipfile.ZipFile(out + '/rlo-python.zip', 'w') as z:
    z.writestr('photo\u202egpj.scr', 'MZ')
    z.writestr('readme.txt', 'read me')
# The sizes of huge.bin say 4 GiB less 16 bytes, in both headers.
with zipfile.ZipFile(out + '/declared.zip', 'w', zipfile.ZIP_STORED) as z:
    z.writestr('small.txt', 'tiny')
    z.writestr('huge.bin', 'x' * 16)
data = bytearray(open(out + '/declared.zip', 'rb').read())
for signature, field in ((b'PK\x03\x04', 22), (b'PK\x01\x02', 24)):
    struct.pack_into('<I', data, data.rindex(signature) + field, 0xFFFFFFF0)
open(out + '/declared.zip', 'wb').write(data)
PY
