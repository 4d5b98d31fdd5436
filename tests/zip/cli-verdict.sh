#!/usr/bin/env bash
# quillozip-cli list must judge archives made by real tools as a user would
# want them judged: the verdict column of each entry and the last line.
# Usage: cli-verdict.sh QUILLOZIP_CLI_EXE FIXTURES_DIR
set -uo pipefail
cli=${1:?usage: cli-verdict.sh CLI FIXTURES}
fixtures=${2:?usage: cli-verdict.sh CLI FIXTURES}
source "$(dirname "$0")/cli-common.sh"
export LC_ALL=C.UTF-8

# expect ARCHIVE VERDICT [ENTRY=WORD ...]: the last line names the archive's
# verdict, and each ENTRY has WORD last; every entry not named is "ok". An
# ENTRY is the end of the printed name (code page 936 turned back into
# UTF-8), or #N for the entry of index N.
expect() {
    local archive=$1 verdict=$2 log=$work/log
    shift 2
    "$top/scripts/wine-run.sh" "$cli" list "$(winpath "$archive")" | tr -d '\r' | iconv -c -f GBK -t UTF-8 >"$log" ||
        { fail "$archive: list failed"; return; }
    [ "$(tail -n 1 "$log")" = "verdict	$verdict" ] || fail "$archive: last line '$(tail -n 1 "$log")', not $verdict"
    local named=0 suffix word line
    for pair in "$@"; do
        suffix=${pair%=*} word=${pair##*=}
        if [[ $suffix == '#'* ]]; then
            line=$(grep -P "^${suffix#\#}\t" "$log")
        else
            line=$(grep -F -- "$suffix	" "$log" | head -n 1)
        fi
        [ -n "$line" ] || { fail "$archive: no entry ending in $suffix"; continue; }
        [ "${line##*	}" = "$word" ] || fail "$archive: '$line' is not $word"
        named=$((named + 1))
    done
    local others
    others=$(grep -c -P '^\d+\t.*\tok$' "$log")
    [ "$(grep -c -P '^\d+\t' "$log")" = $((others + named)) ] || { fail "$archive: unexpected flags"; cat "$log"; }
}

# The archives of the verdict's end-to-end run, and Info-ZIP's zip -e.
made=$work/made
bash "$top/tests/e2e/make-verdict-archives.sh" "$made" >/dev/null || { echo "cannot make the archives"; exit 2; }

# Ordinary archives: safe, every entry ok.
expect "$made/plain.zip" safe
for archive in info-zip.zip info-zip-stored.zip bsdtar.zip bsdtar-cn.zip python-utf8.zip zip64-forced.zip many.zip \
               big64.zip empty.zip; do
    expect "$fixtures/$archive" safe
done

# A program beside its readme is safe; the program is marked.
expect "$made/setup.zip" safe setup.exe=runnable

# Encrypted: every file needs the password, folders do not (bsdtar leaves an
# empty file unencrypted). An encrypted program is marked for its password.
(cd "$made/src" && zip -qr -P secret "$work/locked.zip" readme.txt setup.exe docs)
expect "$work/locked.zip" encrypted readme.txt=encrypted setup.exe=encrypted '#3=encrypted'
expect "$made/locked.zip" encrypted readme.txt=encrypted notes.txt=encrypted
expect "$fixtures/encrypted-bsdtar.zip" encrypted readme.txt=encrypted notes.txt=encrypted blob.bin=encrypted \
    big.txt=encrypted "read only.txt=encrypted"

# A program dressed as a document, with the UTF-8 flag and as bare bytes.
expect "$made/invoice.zip" deceptive 发票.pdf.exe=deceptive
expect "$made/invoice-infozip.zip" deceptive .pdf.exe=deceptive "      .exe=deceptive"

# A right-to-left override: the ANSI name shows "_" for it, the verdict still sees it.
expect "$made/rlo.zip" deceptive invoice_fdp.exe=deceptive
expect "$made/rlo-python.zip" deceptive photo_gpj.scr=deceptive

# Hostile names, overlapping entries (refused, so listed without names) and
# a size out of all proportion.
expect "$made/names.zip" hostile evil.txt=hostile nul.txt=hostile
expect "$made/overlap.zip" hostile '#0=hostile' '#1=hostile'
expect "$made/declared.zip" hostile huge.bin=hostile

echo "$failures failures"
[ "$failures" = 0 ]
