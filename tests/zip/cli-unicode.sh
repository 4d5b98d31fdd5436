#!/usr/bin/env bash
# quillozip-cli on names from every kind of maker: Info-ZIP zip on Linux
# (UTF-8 without the flag), Python's zipfile with the flag cleared and "made
# by" Unix, OS X and FAT, Windows archives in GBK (also GBK bytes that happen
# to be valid UTF-8), flagged names outside code page 936, a false flag on
# GBK bytes, a tree deeper than 300 characters and names whose bytes the
# system would quietly change. Wine keeps names as UTF-8 on the Linux side,
# so the names on disk are compared exactly, with each file's bytes (every
# file holds its own expected name) and nothing beside the destination.
# Usage: cli-unicode.sh QUILLOZIP_CLI_EXE
set -uo pipefail
cli=${1:?usage: cli-unicode.sh CLI}
source "$(dirname "$0")/cli-common.sh"
# Windows ends printed lines with CR LF.
cli() { "$top/scripts/wine-run.sh" "$cli" "$@" | tr -d '\r'; }
sorted() { LC_ALL=C sort; }

# Info-ZIP on Linux: UTF-8 names, no flag, made on Unix.
mkdir -p "$work/tree/目录/한국어"
printf '%s\n' "目录/文件 Ü.txt" "目录/한국어/Привет 😀.txt" "Ελληνικά.txt" >"$work/info-zip.expected"
while IFS= read -r f; do printf '%s' "$f" >"$work/tree/$f"; done <"$work/info-zip.expected"
(cd "$work/tree" && LANG=C.UTF-8 zip -qr "$work/info-zip.zip" .) || fail "zip failed"

# The other archives: Python's zipfile writing the exact name bytes, flag
# and "made by" of each entry. Each line of an .expected file is a file's
# name on disk; the file holds that name.
python3 - "$work" <<'PY'
import os, sys, zipfile
work = sys.argv[1]
UNIX, FAT, NTFS, OSX = 3, 0, 11, 19

class Raw(zipfile.ZipInfo):
    """An entry whose stored name bytes and bit 11 are given, not derived."""
    def __init__(self, raw, host, flagged):
        super().__init__(raw.decode('latin-1'))
        self.raw, self.flagged, self.create_system = raw, flagged, host
        self.external_attr = 0o100644 << 16 if host in (UNIX, OSX) else 0x20
    def _encodeFilenameFlags(self):
        return self.raw, self.flag_bits | (0x800 if self.flagged else 0)

def archive(name, entries):
    """entries: (stored bytes, host, flagged, expected name on disk)."""
    with zipfile.ZipFile(os.path.join(work, name + '.zip'), 'w') as z:
        for raw, host, flagged, expected in entries:
            z.writestr(Raw(raw, host, flagged), expected.encode('utf-8'))
    with open(os.path.join(work, name + '.expected'), 'w', encoding='utf-8') as f:
        f.writelines(e[3] + '\n' for e in entries)

u8 = lambda s: s.encode('utf-8')
gbk = lambda s: s.encode('gbk')
archive('unix', [(u8('中文/é.txt'), UNIX, False, '中文/é.txt'), (u8('plain.txt'), FAT, False, 'plain.txt')])
archive('osx', [(u8('Ünïcödé/名前.txt'), OSX, False, 'Ünïcödé/名前.txt')])
# The same UTF-8 bytes from a Windows system are GBK: "é" is C3 A9, "茅".
archive('fat', [(u8('éÜï.txt'), FAT, False, '茅脺茂.txt')])
archive('gbk-windows', [(gbk('文件夹/文件.txt'), NTFS, False, '文件夹/文件.txt'),
                        (gbk('茅.txt'), FAT, False, '茅.txt')])
# Flagged UTF-8 beyond code page 936; Über and Öber used to meet as "_ber".
with zipfile.ZipFile(os.path.join(work, 'flagged.zip'), 'w') as z:
    names = ['😀.txt', '한국어.txt', 'Привет.txt', 'Über.txt', 'Öber.txt']
    for n in names:
        z.writestr(n, n.encode('utf-8'))
with open(os.path.join(work, 'flagged.expected'), 'w', encoding='utf-8') as f:
    f.writelines(n + '\n' for n in names)
# Some tools set the flag on GBK bytes.
archive('false-flag', [(gbk('文件.txt'), UNIX, True, '文件.txt'), (b'readme.txt', UNIX, False, 'readme.txt')])
# Deep trees: over 300 characters below the destination.
deep = '/'.join(['d' * 80] * 4) + '/deep.txt'
wide = '/'.join(['深' * 80] * 3) + '/层.txt'
archive('deep', [(u8(deep), UNIX, False, deep), (u8(wide), UNIX, False, wide)])
# Bytes the system would drop or turn into a device name become "_" first;
# ":" becomes "_" and trailing dots and spaces go from every component.
archive('hostile', [(b'NUL\x81', FAT, False, 'NUL_'), (b'COM\xb9', FAT, False, 'COM_'),
                    (b'a\x81', FAT, False, 'a_'), (b'ab:c.txt', FAT, False, 'ab_c.txt'),
                    (b'dir. /f.txt ', FAT, False, 'dir/f.txt')])
PY

for name in info-zip unix osx fat gbk-windows flagged false-flag deep hostile; do
    sandbox=$work/sandbox-$name
    mkdir -p "$sandbox"
    expected=$(sorted <"$work/$name.expected")
    cli --utf8 extract "$(winpath "$work/$name.zip")" "$(winpath "$sandbox/dest")" >"$work/log" ||
        { fail "$name: extract exited $?"; cat "$work/log"; }
    tail -n 1 "$work/log" | grep -q ' 0 failed$' || fail "$name: last line $(tail -n 1 "$work/log")"
    [ "$(ls -A "$sandbox")" = dest ] || fail "$name: something was written beside the destination"
    got=$(cd "$sandbox/dest" && find . -type f -printf '%P\n' | sorted)
    [ "$got" = "$expected" ] || fail "$name: files on disk"$'\n'"$got"$'\n'"expected"$'\n'"$expected"
    while IFS= read -r f; do
        [ "$(cat "$sandbox/dest/$f" 2>/dev/null)" = "$f" ] || fail "$name: $f does not hold its bytes"
    done <<<"$expected"
    # The listing shows the same names, folders aside.
    if [ "$name" != hostile ]; then
        listed=$(cli --utf8 list "$(winpath "$work/$name.zip")" | grep '^[0-9]' | cut -f6 | grep -v '/$' | sorted)
        [ "$listed" = "$expected" ] || fail "$name: listing"$'\n'"$listed"
    fi
done
[ "$(find "$work/sandbox-deep/dest" -type f -printf '%P\n' | awk '{ print length }' | sort -n | tail -n 1)" -gt 300 ] ||
    fail "deep: no path beyond 300 characters"

# Without --utf8 names are printed in the ANSI code page, "_" for what it lacks;
# --utf8 may also follow the command word.
cli list "$(winpath "$work/gbk-windows.zip")" | cut -f6 | grep -qx "$(printf '文件夹/文件.txt' | iconv -t GBK)" ||
    fail "ANSI listing: no GBK name"
cli list "$(winpath "$work/flagged.zip")" | cut -f6 | grep -qx '_ber.txt' || fail "ANSI listing: Über is not _ber.txt"
cli list --utf8 "$(winpath "$work/flagged.zip")" | cut -f6 | grep -qx 'Über.txt' || fail "list --utf8: no Über.txt"

# Archive and destination paths outside the code page.
mkdir -p "$work/한국어 😀"
cp "$work/flagged.zip" "$work/한국어 😀/下载 😀.zip"
cli --utf8 extract "$(winpath "$work/한국어 😀/下载 😀.zip")" "$(winpath "$work/한국어 😀/목적지")" >"$work/log" ||
    fail "Unicode paths: extract exited $?"
[ -f "$work/한국어 😀/목적지/😀.txt" ] || fail "Unicode paths: nothing extracted"

echo "$failures failures"
[ "$failures" = 0 ]
