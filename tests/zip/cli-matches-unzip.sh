#!/usr/bin/env bash
# quillozip-cli must extract real archives as Info-ZIP's unzip does: the same
# files and folders, the same bytes, modification times and owner-write bit.
# Each archive is extracted twice (the second run replaces read-only files),
# hostile names must stay inside the destination, and a wrong password must
# fail with exit code 1 and write no file.
# Usage: cli-matches-unzip.sh QUILLOZIP_CLI_EXE FIXTURES_DIR
set -uo pipefail
cli=${1:?usage: cli-matches-unzip.sh CLI FIXTURES}
fixtures=${2:?usage: cli-matches-unzip.sh CLI FIXTURES}
source "$(dirname "$0")/cli-common.sh"
# Windows ends printed lines with CR LF.
cli() { "$top/scripts/wine-run.sh" "$cli" "$@" | tr -d '\r'; }

# name, mtime and owner-write bit of every file; folders by name.
describe() {
    (cd "$1" && find . -mindepth 1 \( -type d -printf 'dir %P\n' \) -o \( -type f -printf 'file %P %T@ %M\n' \) |
        sed -E 's/ ([0-9]+)\.[0-9]+ -(.).*/ \1 \2/' | sort)
}

compare() { # archive, password
    local archive=$1 password=${2:-} ref=$work/ref-$1 ours=$work/ours-$1 args=()
    [ -n "$password" ] && args=(--password "$password")
    unzip -q -o ${password:+-P "$password"} "$fixtures/$archive" -d "$ref" || fail "$archive: unzip failed"
    for round in 1 2; do
        cli extract "${args[@]}" "$(winpath "$fixtures/$archive")" "$(winpath "$ours")" >"$work/log" ||
            { fail "$archive: quillozip-cli round $round exited $?"; cat "$work/log"; }
    done
    tail -n 1 "$work/log" | grep -q ' 0 failed$' || fail "$archive: last line $(tail -n 1 "$work/log")"
    diff <(describe "$ref") <(describe "$ours") >"$work/diff" || { fail "$archive: trees differ"; cat "$work/diff"; }
    diff -r "$ref" "$ours" >/dev/null || fail "$archive: contents differ"
}

for archive in info-zip.zip info-zip-stored.zip info-zip-stream.zip bsdtar.zip bsdtar-cn.zip python-utf8.zip \
               zip64-forced.zip; do
    compare "$archive"
done
for archive in encrypted-infozip.zip encrypted-bsdtar.zip encrypted-crc.zip; do
    compare "$archive" secret
done

# A wrong password: exit code 1, a line per failed entry, no file with contents.
cli extract --password wrong "$(winpath "$fixtures/encrypted-crc.zip")" "$(winpath "$work/wrong")" >"$work/log"
[ $? = 1 ] || fail "wrong password: exit code is not 1"
# Each failed entry's line carries the main window's reason, in the ANSI code page.
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }
grep -q "^0"$'\t'"0x1000"$'\t'"$(gbk （密码错误）)"$'\t'"secret.txt" "$work/log" || fail "wrong password: no 0x1000 line"
[ -z "$(find "$work/wrong" -type f 2>/dev/null)" ] || fail "wrong password: files were written"

# Hostile names: nothing may appear beside the destination.
mkdir -p "$work/sandbox"
python3 - "$work/hostile.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name in ['../evil1.txt', 'a/../../evil2.txt', '/abs.txt', 'C:/drive.txt', 'nul.txt', 'x:y', 'ok.txt']:
        z.writestr(zipfile.ZipInfo(name), 'payload')
PY
cli extract "$(winpath "$work/hostile.zip")" "$(winpath "$work/sandbox/dest")" >"$work/log"
[ "$(ls -A "$work/sandbox")" = dest ] || fail "hostile: something was written beside the destination"
grep -q "^4"$'\t'"0x200"$'\t'"$(gbk （路径不安全，已跳过）)"$'\t'"nul.txt" "$work/log" ||
    fail "hostile: nul.txt was not refused"
grep -q $'^6\t0x0\t\tok.txt' "$work/log" || fail "hostile: ok.txt has no empty reason"

# Listing and the exit code for what is not an archive.
cli list "$(winpath "$fixtures/python-unicode-extra.zip")" >"$work/log"
[ "$(grep -c $'^[0-9]' "$work/log")" = 3 ] || fail "list: not one line per entry"
grep -qP '^0\t0x20\t32\t32\t2022-03-04 05:06:06\t' "$work/log" || fail "list: unexpected first line $(head -n 1 "$work/log")"
cli list "$(winpath "$fixtures/tree/readme.txt")" >/dev/null 2>"$work/err"
[ $? = 2 ] && grep -q 'cannot open' "$work/err" || fail "list of a text file: no exit code 2 and message"

echo "$failures failures"
[ "$failures" = 0 ]
