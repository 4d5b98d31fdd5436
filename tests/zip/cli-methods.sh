#!/usr/bin/env bash
# quillozip-cli on archives that real tools make at test time in the forms
# other extractors read: folder entries without the folder bit, names that
# differ only in case, sizes past 4 GiB in a listing, and the compression
# methods and encryption beyond deflate. Every extracted file must have the
# bytes of the file the archive was made from.
# Usage: cli-methods.sh QUILLOZIP_CLI_EXE
set -uo pipefail
cli=${1:?usage: cli-methods.sh CLI}
source "$(dirname "$0")/cli-common.sh"
# Windows ends printed lines with CR LF; names are printed in code page 936.
cli() { "$top/scripts/wine-run.sh" "$cli" "$@" | tr -d '\r' | iconv -f GBK -t UTF-8; }

# The files the archives are made from: text, incompressible bytes, an
# empty file and a file in a folder.
src=$work/src
mkdir -p "$src/sub"
python3 - "$src" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(15)
with open(os.path.join(root, 'text.txt'), 'w') as f:
    for i in range(20000):
        f.write(f'line {i}: the quick brown fox jumps over the lazy dog\n')
with open(os.path.join(root, 'sub', 'random.bin'), 'wb') as f:
    f.write(bytes(random.getrandbits(8) for _ in range(300000)))
open(os.path.join(root, 'empty.txt'), 'w').close()
# Long runs: Deflate64 writes matches of up to 65538 bytes for them.
with open(os.path.join(root, 'sub', 'runs.bin'), 'wb') as f:
    f.write(bytes(700000) + b'x' * 70000 + bytes(range(256)) * 300)
PY

# extract ARCHIVE [PASSWORD]: quillozip-cli's log in $work/log, files in $work/out.
extract() {
    rm -rf "$work/out"
    local args=()
    [ -n "${2:-}" ] && args=(--password "$2")
    cli extract "${args[@]}" "$(winpath "$1")" "$(winpath "$work/out")" >"$work/log"
}

# same-bytes WHAT: the extracted tree holds exactly the source files.
same_bytes() {
    tail -n 1 "$work/log" | grep -q ' 0 failed$' || { fail "$1: $(tail -n 1 "$work/log")"; cat "$work/log"; }
    diff -r "$src" "$work/out" >"$work/diff" || { fail "$1: contents differ"; head "$work/diff"; }
}

# --- folder entries: Java-style (DOS host, attributes 0) and Unix mode 0755
# without the file type, made byte by byte.
python3 - "$work/java.jar" <<'PY'
import struct, sys, zlib
entries = [(b'META-INF/', b'', 0x0014, 0), (b'META-INF/MANIFEST.MF', b'Manifest-Version: 1.0\r\n\r\n', 0x0014, 0),
           (b'classes/', b'', 0x031E, 0o755 << 16), (b'classes/A.class', b'\xca\xfe\xba\xbe', 0x031E, 0o644 << 16)]
out, central = b'', b''
for name, data, made_by, external in entries:
    crc = zlib.crc32(data)
    offset = len(out)
    out += struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 0, 0, 0x21, crc, len(data), len(data), len(name), 0) + name + data
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, made_by, 20, 0, 0, 0, 0x21, crc, len(data), len(data),
                           len(name), 0, 0, 0, 0, external, offset) + name
out += central + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(entries), len(entries), len(central), len(out), 0)
open(sys.argv[1], 'wb').write(out)
PY
extract "$work/java.jar"
tail -n 1 "$work/log" | grep -q '^4 extracted, 0 failed$' || { fail "java.jar: $(tail -n 1 "$work/log")"; cat "$work/log"; }
[ -d "$work/out/META-INF" ] && [ -d "$work/out/classes" ] || fail "java.jar: folders missing"
printf 'Manifest-Version: 1.0\r\n\r\n' | cmp -s - "$work/out/META-INF/MANIFEST.MF" || fail "java.jar: manifest differs"

# Python's writestr of a folder name.
python3 - "$work/python-dir.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('empty-dir/', '')
    z.writestr('dir/file.txt', 'in dir')
PY
extract "$work/python-dir.zip"
tail -n 1 "$work/log" | grep -q ' 0 failed$' && [ -d "$work/out/empty-dir" ] || fail "python folder: $(cat "$work/log")"

# --- names that differ only in case: the second is numbered, not lost.
python3 - "$work/case.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('ПРИВЕТ.txt', 'upper')
    z.writestr('привет.txt', 'lower')
PY
extract "$work/case.zip"
[ "$(cat "$work/out/ПРИВЕТ.txt" 2>/dev/null)" = upper ] && [ "$(cat "$work/out/привет (2).txt" 2>/dev/null)" = lower ] ||
    { fail "case-only pair: $(ls "$work/out")"; cat "$work/log"; }

# --- a 3 GiB entry lists with its full size (ZIP64 records made byte by byte;
# the listing reads no data).
python3 - "$work/big.zip" <<'PY'
import struct, sys, zlib
size, data, name = 3 << 30, zlib.compress(b'', 9)[2:-4], b'three.bin'
extra = struct.pack('<HHQQ', 1, 16, size, len(data))
out = struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, 8, 0, 0x21, 0, 0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra))
out += name + extra + data
cextra = struct.pack('<HHQQ', 1, 16, size, len(data))
central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 0x031E, 45, 0, 8, 0, 0x21, 0, 0xFFFFFFFF, 0xFFFFFFFF,
                      len(name), len(cextra), 0, 0, 0, 0o644 << 16, 0) + name + cextra
out += central + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 1, 1, len(central), len(out), 0)
open(sys.argv[1], 'wb').write(out)
PY
cli list "$(winpath "$work/big.zip")" >"$work/log"
grep -qP '^0\t0x20\t3221225472\t2\t' "$work/log" || fail "3 GiB listing: $(cat "$work/log")"

# --- methods: TOOL ARCHIVE-NAME and what the tool is asked for.
make_7z() { # name, 7z options...
    local name=$1
    shift
    (cd "$src" && 7z a -tzip -bd -bso0 -bsp0 "$@" "$work/$name" text.txt sub empty.txt) || fail "7z $*: failed"
}
make_python() { # name, method
    python3 - "$src" "$work/$1" "$2" <<'PY' || fail "python $2: failed"
import os, sys, zipfile
root, archive, method = sys.argv[1], sys.argv[2], getattr(zipfile, sys.argv[3])
with zipfile.ZipFile(archive, 'w', method) as z:
    for path in ['text.txt', 'sub/random.bin', 'sub/runs.bin', 'empty.txt']:
        z.write(os.path.join(root, path), path)
PY
}

# Each archive extracts to the bytes it was made from.
make_7z 7z-bzip2.zip -mm=BZip2
make_python python-bzip2.zip ZIP_BZIP2
make_7z 7z-lzma.zip -mm=LZMA
make_python python-lzma.zip ZIP_LZMA
# Zstandard: the zstd tool's frames as the entries' data (method 93); no
# tool here writes such archives, so the records are made byte by byte.
python3 - "$src" "$work/zstd.zip" <<'PY' || fail "zstd archive: failed"
import os, struct, subprocess, sys, zlib
root, archive = sys.argv[1], sys.argv[2]
out, central, count = b'', b'', 0
for path in ['text.txt', 'sub/random.bin', 'sub/runs.bin', 'empty.txt']:
    data = open(os.path.join(root, path), 'rb').read()
    packed = subprocess.run(['zstd', '-q', '-c', '-19'], input=data, capture_output=True, check=True).stdout
    name, crc, offset = path.encode(), zlib.crc32(data), len(out)
    out += struct.pack('<IHHHHHIIIHH', 0x04034b50, 63, 0, 93, 0, 0x21, crc, len(packed), len(data), len(name), 0)
    out += name + packed
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 0x033F, 63, 0, 93, 0, 0x21, crc, len(packed),
                           len(data), len(name), 0, 0, 0, 0, 0o644 << 16, offset) + name
    count += 1
out += central + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, count, count, len(central), len(out), 0)
open(archive, 'wb').write(out)
PY
make_7z 7z-deflate64.zip -mm=Deflate64
for archive in 7z-bzip2.zip python-bzip2.zip 7z-lzma.zip python-lzma.zip zstd.zip 7z-deflate64.zip; do
    extract "$work/$archive"
    same_bytes "$archive"
done

# WinZip AES (7z writes AE-2, which stores no CRC-32) over several methods,
# and the same archive turned into AE-1 with the CRC-32s filled in.
make_7z aes256.zip -mem=AES256 -psecret
make_7z aes128-bzip2.zip -mem=AES128 -mm=BZip2 -psecret
make_7z aes192-lzma.zip -mem=AES192 -mm=LZMA -psecret
python3 - "$src" "$work/aes256.zip" "$work/aes256-ae1.zip" <<'PY' || fail "AE-1 archive: failed"
import os, struct, sys, zipfile, zlib
root, source, target = sys.argv[1:]
data = bytearray(open(source, 'rb').read())
for info in zipfile.ZipFile(source).infolist():
    if info.compress_type != 99:
        continue
    crc = zlib.crc32(open(os.path.join(root, info.filename), 'rb').read())
    local = info.header_offset
    struct.pack_into('<I', data, local + 14, crc)
    central = data.index(b'PK\x01\x02')
    while data[central + 46:central + 46 + len(info.filename)] != info.filename.encode():
        central = data.index(b'PK\x01\x02', central + 4)
    struct.pack_into('<I', data, central + 16, crc)
    for at in (local, central):
        block = data.index(b'\x01\x99\x07\x00', at)
        struct.pack_into('<H', data, block + 4, 1)
open(target, 'wb').write(data)
PY
for archive in aes256.zip aes128-bzip2.zip aes192-lzma.zip aes256-ae1.zip; do
    extract "$work/$archive" secret
    same_bytes "$archive"
done
# A wrong password: 0x1000 for the encrypted files, nothing written.
extract "$work/aes256.zip" wrong
grep -qP '\t0x1000\t[^\t]*\ttext.txt$' "$work/log" && grep -qP '\t0x1000\t[^\t]*\tsub/random.bin$' "$work/log" ||
    fail "AES wrong password: $(cat "$work/log")"
[ -z "$(find "$work/out" -type f 2>/dev/null)" ] || fail "AES wrong password: files were written"
# A byte changed inside the encrypted data: the authentication code refuses
# the entry (AE-2 has no CRC-32 to catch it) and no file of it stays.
python3 - "$work/aes256.zip" "$work/aes-tampered.zip" <<'PY'
import sys, zipfile
data = bytearray(open(sys.argv[1], 'rb').read())
local = zipfile.ZipFile(sys.argv[1]).getinfo('sub/random.bin').header_offset
names, extras = data[local + 26] | data[local + 27] << 8, data[local + 28] | data[local + 29] << 8
data[local + 30 + names + extras + 16 + 2 + 1000] ^= 1  # past the 16-byte salt and the verifier
open(sys.argv[2], 'wb').write(data)
PY
extract "$work/aes-tampered.zip" secret
grep -qP '^\d+\t0x5000000\t[^\t]*\tsub/random.bin$' "$work/log" || fail "AES tampered: $(cat "$work/log")"
[ ! -e "$work/out/sub/random.bin" ] || fail "AES tampered: the file stayed"

# Methods no decoder reads (PPMd) list with names and sizes and fail with
# 0x800 without writing the file.
for method in PPMd; do
    make_7z "$method.zip" -mm=$method
    cli list "$(winpath "$work/$method.zip")" >"$work/log"
    grep -qP "^\\d+\t0x20\t$(stat -c %s "$src/text.txt")\t\\d+\t.*\ttext.txt\t[a-z]+$" "$work/log" ||
        fail "$method listing: $(cat "$work/log")"
    extract "$work/$method.zip"
    grep -qP '^\d+\t0x800\t[^\t]*\ttext.txt$' "$work/log" || fail "$method: $(cat "$work/log")"
    [ ! -e "$work/out/text.txt" ] || fail "$method: text.txt was written"
done

echo "$failures failures"
[ "$failures" = 0 ]
