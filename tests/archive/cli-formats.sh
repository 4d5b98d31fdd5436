#!/usr/bin/env bash
# quillozip-cli on the formats other than ZIP, made at test time by real
# tools: 7z (every method it writes, solid or not, encrypted, with encrypted
# names, in volumes), tar (GNU, pax and a GBK ustar, plain and compressed),
# hostile tars made with Python's tarfile, single compressed files, and the
# RAR and RAR 5 archives of libarchive's own test suite (no tool here writes
# RAR), with bsdtar's extraction as the reference. Every extracted file must
# have the bytes it was made from, and nothing may land outside the
# destination.
# Usage: cli-formats.sh QUILLOZIP_CLI_EXE
set -uo pipefail
cli=${1:?usage: cli-formats.sh CLI}
source "$(dirname "$0")/../zip/cli-common.sh"
cli() { "$top/scripts/wine-run.sh" "$cli" --utf8 "$@" | tr -d '\r'; }

src=$work/src
mkdir -p "$src/sub" "$src/空文件夹"
python3 - "$src" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(7)
with open(os.path.join(root, 'text.txt'), 'w') as f:
    for i in range(30000):
        f.write(f'line {i}: the quick brown fox jumps over the lazy dog\n')
with open(os.path.join(root, 'sub', 'random.bin'), 'wb') as f:
    f.write(bytes(random.getrandbits(8) for _ in range(200000)))
open(os.path.join(root, 'empty.txt'), 'w').close()
with open(os.path.join(root, 'sub', '中文名称.txt'), 'w') as f:
    f.write('中文内容\n' * 100)
# A program in a folder: x86 code, which BCJ and BCJ2 transform.
with open(os.path.join(root, 'sub', 'tool.exe'), 'wb') as f:
    f.write(b'MZ' + bytes(random.choice([0xE8, 0xE9, 0x90, 0x00, 0x12]) for _ in range(100000)))
PY

# extract ARCHIVE: quillozip-cli's log in $work/log, files in $work/out.
extract() {
    rm -rf "$work/out"
    cli extract "$(winpath "$1")" "$(winpath "$work/out")" >"$work/log"
}
# same_tree WHAT [SOURCE]: nothing failed and the tree holds exactly the source's files.
same_tree() {
    tail -n 1 "$work/log" | grep -q ' 0 failed$' || { fail "$1: $(tail -n 1 "$work/log")"; cat "$work/log"; }
    diff -r "${2:-$src}" "$work/out" >"$work/diff" || { fail "$1: contents differ"; head "$work/diff"; }
}
listing() { cli list "$(winpath "$1")" >"$work/list"; }
expect_tail() { # archive format verdict
    listing "$1"
    tail -n 2 "$work/list" | tr '\n' ' ' | grep -q "^format	$2 verdict	$3 $" ||
        { fail "$1: expected format $2, verdict $3"; tail -n 3 "$work/list"; }
}

# --- 7z: each method, solid and not; every file comes back.
seven() { # name, options...
    local name=$1
    shift
    rm -f "$work/$name"
    (cd "$src" && 7z a -bd -bso0 -bsp0 "$@" "$work/$name" .) || fail "7z $*: failed"
}
i=0
for options in "-m0=LZMA" "-m0=LZMA2 -ms=on" "-m0=LZMA2 -ms=off" "-m0=PPMd" "-m0=BCJ -m1=LZMA" \
    "-m0=LZMA -mf=BCJ2" "-m0=Deflate" "-m0=BZip2" "-m0=Copy"; do
    i=$((i + 1))
    # shellcheck disable=SC2086
    seven "m$i.7z" $options
    extract "$work/m$i.7z"
    same_tree "7z $options"
done
expect_tail "$work/m1.7z" 7z safe
grep -qP '^\d+\t0x20\t\d+\t0\t.*\tsub/中文名称.txt\tok$' "$work/list" || fail "7z listing: $(cat "$work/list")"
grep -qP '\tsub/tool.exe\trunnable$' "$work/list" || fail "7z runnable: $(cat "$work/list")"

# Encrypted data: listed, judged encrypted, refused with 0x800 without a
# password prompt and without any file of it.
seven enc.7z -psecret
expect_tail "$work/enc.7z" 7z encrypted
extract "$work/enc.7z"
grep -qP '^\d+\t0x800\t[^\t]*\ttext.txt$' "$work/log" || fail "7z encrypted: $(cat "$work/log")"
# Empty files have no data to encrypt, and come out.
[ -z "$(find "$work/out" -type f -size +0 2>/dev/null)" ] || fail "7z encrypted: files were written"
# Encrypted names: the archive opens, lists nothing, and says so.
seven names.7z -psecret -mhe=on
listing "$work/names.7z"
grep -qx 'names	encrypted' "$work/list" && ! grep -qP '^\d+\t' "$work/list" || fail "7z -mhe: $(cat "$work/list")"

# Volumes: read across the set from the first.
rm -f "$work"/vol.7z.*
(cd "$src" && 7z a -bd -bso0 -bsp0 -v60k "$work/vol.7z" .) || fail "7z volumes: failed"
[ -e "$work/vol.7z.003" ] || fail "7z volumes: fewer than three"
extract "$work/vol.7z.001"
same_tree "7z volumes"
# Without its last volume (where the 7z header is) the set cannot be read.
last=$(ls "$work"/vol.7z.* | sort | tail -n 1)
mv "$last" "$work/last.bak"
cli list "$(winpath "$work/vol.7z.001")" >/dev/null 2>&1 && fail "7z volumes: read without the last volume"
mv "$work/last.bak" "$last"

# --- tar: GNU and pax, plain and compressed; the format named, the names kept.
for compress in "" gzip bzip2 xz zstd; do
    for format in gnu pax; do
        name=$work/t-$format.tar${compress:+.$compress}
        (cd "$src" && tar --format=$format ${compress:+--$compress} -cf "$name" .) || fail "tar $format $compress"
        extract "$name"
        same_tree "tar $format $compress"
    done
done
expect_tail "$work/t-pax.tar.xz" tar safe
# The size of a plain tar's entry is what it stores; a compressed one's is not given.
listing "$work/t-gnu.tar"
grep -qP '^\d+\t0x20\t0\t0\t.*\t./empty.txt\tok$|^\d+\t0x20\t0\t0\t.*\tempty.txt\tok$' "$work/list" ||
    fail "tar listing: $(cat "$work/list")"

# GBK names in a ustar archive, a UTF-8 pax name beside them, and a GNU long name.
python3 - "$work" <<'PY'
import io, sys, tarfile
work = sys.argv[1]
def add(t, name, data):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    t.addfile(info, io.BytesIO(data))
with tarfile.open(f'{work}/gbk.tar', 'w', format=tarfile.USTAR_FORMAT, encoding='gbk') as t:
    add(t, '文档/说明.txt', b'gbk')
with tarfile.open(f'{work}/pax.tar', 'w', format=tarfile.PAX_FORMAT) as t:
    add(t, 'café/naïve.txt', b'pax latin')
    add(t, '中文/名字.txt', b'pax cjk')
long = 'l' * 150 + '/' + 'n' * 120 + '.txt'
with tarfile.open(f'{work}/long.tar', 'w', format=tarfile.GNU_FORMAT) as t:
    add(t, long, b'long')
PY
extract "$work/gbk.tar"
[ "$(cat "$work/out/文档/说明.txt" 2>/dev/null)" = gbk ] || { fail "GBK tar: $(cat "$work/log")"; }
extract "$work/pax.tar"
[ "$(cat "$work/out/café/naïve.txt" 2>/dev/null)" = "pax latin" ] && [ "$(cat "$work/out/中文/名字.txt" 2>/dev/null)" = "pax cjk" ] ||
    { fail "pax names: $(cat "$work/log")"; }
extract "$work/long.tar"
[ "$(cat "$work/out/$(printf 'l%.0s' {1..150})/$(printf 'n%.0s' {1..120}).txt" 2>/dev/null)" = long ] ||
    fail "GNU long name: $(cat "$work/log")"

# --- hostile tars: climbing names, absolute names, a link out of the
# destination and a file written "through" it, a hard link out, a FIFO and
# a device. Nothing outside; links and specials skipped with 0x200000; the
# file behind the link's name written as a plain file inside.
mkdir -p "$work/box/dest"
python3 - "$work/hostile.tar" <<'PY'
import io, sys, tarfile
def entry(t, name, kind=tarfile.REGTYPE, data=b'', link=''):
    info = tarfile.TarInfo(name)
    info.type, info.linkname, info.size = kind, link, len(data)
    t.addfile(info, io.BytesIO(data) if data else None)
with tarfile.open(sys.argv[1], 'w', format=tarfile.GNU_FORMAT) as t:
    entry(t, 'ok.txt', data=b'fine')
    entry(t, '../climb.txt', data=b'climb')
    entry(t, '/abs.txt', data=b'abs')
    entry(t, 'out', tarfile.SYMTYPE, link='../..')
    entry(t, 'out/through.txt', data=b'through')
    entry(t, 'hard', tarfile.LNKTYPE, link='../../hard-target')
    entry(t, 'fifo', tarfile.FIFOTYPE)
    entry(t, 'dev', tarfile.CHRTYPE)
PY
expect_tail "$work/hostile.tar" tar hostile
grep -qP '\tout\thostile$' "$work/list" && grep -qP '\thard\thostile$' "$work/list" ||
    fail "hostile links not judged: $(cat "$work/list")"
rm -rf "$work/box/dest"
cli extract "$(winpath "$work/hostile.tar")" "$(winpath "$work/box/dest")" >"$work/log"
[ "$(find "$work/box" -mindepth 1 -not -path "$work/box/dest*" | wc -l)" = 0 ] || fail "hostile tar: wrote outside"
[ -z "$(find "$work/box/dest" -type l -o -type p -o -type c)" ] || fail "hostile tar: a link or special was made"
for name in out hard fifo dev; do
    grep -qP "^\\d+\\t0x200000\\t[^\\t]*\\t$name\$" "$work/log" || fail "hostile tar: $name not skipped: $(cat "$work/log")"
done
[ "$(cat "$work/box/dest/ok.txt" 2>/dev/null)" = fine ] || fail "hostile tar: ok.txt"
[ "$(cat "$work/box/dest/out/through.txt" 2>/dev/null)" = through ] || fail "hostile tar: through.txt: $(cat "$work/log")"

# --- single compressed files: one entry named after the file.
cp "$src/text.txt" "$work/single.txt"
for tool in gzip bzip2 xz; do
    rm -f "$work/single.txt".*
    $tool -k "$work/single.txt"
    archive=$(ls "$work"/single.txt.*)
    expect_tail "$archive" $tool safe
    grep -qP '^0\t0x20\t0\t0\t.*\tsingle.txt\tok$' "$work/list" || fail "$tool listing: $(cat "$work/list")"
    extract "$archive"
    cmp -s "$src/text.txt" "$work/out/single.txt" || fail "$tool: $(cat "$work/log")"
done
# A damaged stream: the file fails and is not kept.
gzip -kc "$src/text.txt" | head -c 20000 >"$work/cut.txt.gz"
extract "$work/cut.txt.gz"
grep -qP '^0\t0x5000000\t' "$work/log" && [ ! -e "$work/out/cut.txt" ] || fail "cut gzip: $(cat "$work/log")"

# --- Memory bounds: a dictionary above 256 MiB is refused rather than
# allocated: a 7z coder's fails its entry (0x800, nothing kept; 7z shrinks
# the dictionary to the data, so the header is rewritten), an xz stream's is
# met while the stream is opened, so the file is no archive that can be read.
xz --lzma2=dict=512MiB -c "$src/text.txt" >"$work/dict.txt.xz"
rm -f "$work/dict.7z" && (cd "$src" && 7z a -bd -bso0 -bsp0 -m0=LZMA -mhc=off "$work/dict.7z" text.txt)
python3 - "$work/dict.7z" <<'PY'
import struct, sys, zlib
data = bytearray(open(sys.argv[1], 'rb').read())
offset, size = struct.unpack_from('<QQ', data, 12)
# The LZMA coder: id 03 01 01 with 5 bytes of properties, the dictionary last.
at = data.find(b'\x23\x03\x01\x01\x05', 32 + offset)
assert at > 0
struct.pack_into('<I', data, at + 6, 512 << 20)
struct.pack_into('<I', data, 28, zlib.crc32(data[32 + offset:32 + offset + size]))
struct.pack_into('<I', data, 8, zlib.crc32(data[12:32]))
open(sys.argv[1], 'wb').write(data)
PY
extract "$work/dict.7z"
grep -qP '^0\t0x800\t' "$work/log" && [ -z "$(find "$work/out" -type f 2>/dev/null)" ] ||
    fail "7z, a dictionary above 256 MiB: $(cat "$work/log")"
extract "$work/dict.txt.xz" 2>"$work/err"
grep -q 'cannot open' "$work/err" && [ ! -e "$work/out" ] || fail "xz, a dictionary above 256 MiB: $(cat "$work/log")"

# --- RAR and RAR 5: libarchive's own test archives; bsdtar is the reference.
rar=$work/rar
mkdir -p "$rar"
python3 "$top/tests/archive/libarchive-test-files.py" "$rar" '*rar*'
crc_failures=
for archive in "$rar"/test_read_format_rar*.rar "$rar"/test_rar_multivolume_*part1.rar "$rar"/*part01.rar "$rar"/*part0001.rar; do
    [ -e "$archive" ] || continue
    case $archive in *part[0-9]*.rar) case $archive in *part1.rar|*part01.rar|*part0001.rar) ;; *) continue ;; esac ;; esac
    base=$(basename "$archive")
    rm -rf "$work/ref" && mkdir -p "$work/ref"
    # Some are damaged on purpose, and bsdtar 3.6.2 loops on one of them.
    timeout 30 bsdtar -xf "$archive" -C "$work/ref" 2>"$work/ref.err"
    reference=$?
    rm -rf "$work/box" && mkdir -p "$work/box"
    timeout 120 "$top/scripts/wine-run.sh" "$cli" --utf8 extract "$(winpath "$archive")" "$(winpath "$work/box/out")" \
        2>/dev/null | tr -d '\r' >"$work/log"
    status=${PIPESTATUS[0]}
    [ "$status" = 124 ] && fail "$base: extraction did not end"
    [ "$(find "$work/box" -mindepth 1 -maxdepth 1 -not -name out | wc -l)" = 0 ] || fail "$base: wrote outside"
    # Every file we call extracted has bsdtar's bytes; a file bsdtar
    # refuses (a CRC error) must not be called extracted.
    while IFS=$'\t' read -r index code reason name; do
        [[ $index =~ ^[0-9]+$ ]] || continue
        name=${name%/}
        if [ "$code" = 0x0 ] && [ -f "$work/box/out/$name" ]; then
            if [ -f "$work/ref/$name" ]; then
                cmp -s "$work/ref/$name" "$work/box/out/$name" || fail "$base: $name differs from bsdtar's"
            elif grep -q "$name" "$work/ref.err"; then
                fail "$base: $name extracted though bsdtar reports: $(grep "$name" "$work/ref.err" | head -n 1)"
            fi
        elif [ "$code" != 0x0 ] && grep -qi 'crc' "$work/ref.err"; then
            crc_failures="$crc_failures $base:$name"
        fi
    done <"$work/log"
    # When bsdtar read the whole archive, every regular file it made we made
    # too, but for links (which we never make) and encrypted entries.
    if [ "$reference" = 0 ]; then
        (cd "$work/ref" && find . -type f -printf '%P\n') | while read -r name; do
            grep -qP "^\\d+\t0x(200000|800)\t[^\t]*\t\\Q$name\\E\$" "$work/log" && continue
            [ -f "$work/box/out/$name" ] || echo "$base: $name missing" >>"$work/missing"
        done
    fi
    [ $status -le 2 ] || fail "$base: exit $status"
done
if [ -s "$work/missing" ]; then
    while read -r line; do fail "$line"; done <"$work/missing"
fi
echo "RAR entries failing as bsdtar's CRC check says:${crc_failures:- none}"
# Encryption: data refused with 0x800; encrypted headers list nothing.
cli list "$(winpath "$rar/test_read_format_rar_encryption_header.rar")" >"$work/list"
grep -qx 'names	encrypted' "$work/list" || fail "RAR encrypted headers: $(cat "$work/list")"
extract "$rar/test_read_format_rar_encryption_data.rar"
grep -qP '^\d+\t0x800\t' "$work/log" && ! grep -qP '^\d+\t0x0\t' "$work/log" || fail "RAR encrypted data: $(cat "$work/log")"
expect_tail "$rar/test_read_format_rar5_stored.rar" rar5 safe
# Links inside the archive are no danger, and are skipped.
expect_tail "$rar/test_read_format_rar.rar" rar safe
extract "$rar/test_read_format_rar.rar"
grep -qP '^1\t0x200000\t[^\t]*\ttestlink$' "$work/log" && [ ! -e "$work/out/testlink" ] || fail "RAR link: $(cat "$work/log")"
# A set without its later volumes: the entry that goes on there fails as
# such (0x100000) and leaves nothing.
mkdir -p "$rar/cut"
cp "$rar"/test_rar_multivolume_multiple_files.part[12].rar "$rar"/test_read_format_rar5_multiarchive.part0[12].rar "$rar/cut/"
for first in test_rar_multivolume_multiple_files.part1.rar test_read_format_rar5_multiarchive.part01.rar; do
    extract "$rar/cut/$first"
    grep -qP '^\d+\t0x100000\t' "$work/log" || fail "$first without its last volumes: $(cat "$work/log")"
    while IFS=$'\t' read -r index code reason name; do
        [ "$code" = 0x100000 ] && [ -e "$work/out/$name" ] && fail "$first: $name was kept"
    done <"$work/log"
done
# Unicode names of RAR 4.
listing "$rar/test_read_format_rar_unicode.rar"
bsdtar -tf "$rar/test_read_format_rar_unicode.rar" | sed 's|/$||' | sort >"$work/names.ref"
grep -P '^\d+\t' "$work/list" | cut -f 6 | sed 's|/$||' | sort >"$work/names"
diff "$work/names.ref" "$work/names" >/dev/null || { fail "RAR Unicode names differ from bsdtar's"; diff "$work/names.ref" "$work/names" | head; }

echo "$failures failures"
[ "$failures" = 0 ]
