#!/usr/bin/env bash
# quillozip-cli extract with --threads 1 (one entry after the other) and with
# its default threads must print the same lines and leave the same tree: on
# archives by real tools, on names that differ only in case and exact
# repeats, on files and folders of one name, and on a damaged archive.
# Usage: cli-threads.sh QUILLOZIP_CLI_EXE FIXTURES_DIR
set -uo pipefail
cli=${1:?usage: cli-threads.sh CLI FIXTURES}
fixtures=${2:?usage: cli-threads.sh CLI FIXTURES}
source "$(dirname "$0")/cli-common.sh"
cli() { "$top/scripts/wine-run.sh" "$cli" "$@" | tr -d '\r'; }

python3 - "$work" <<'PY'
import sys, warnings, zipfile
work = sys.argv[1]
warnings.simplefilter('ignore')  # zipfile warns of the repeated names
text = b''.join(b'line %d of the text\n' % i for i in range(3000))
archives = {
    'repeats.zip': [('Read.me', b'first'), ('READ.ME', b'second'), ('read.me', text), ('Read.me', b'again'),
                    ('dir/A.txt', text), ('DIR/a.txt', b'twin'), ('dir/A.txt', b'last'), ('read (2).me', b'literal')],
    'kinds.zip': [('a', b'a file'), ('a/b.txt', b'under a file'), ('c/', b''), ('c', b'over a folder'),
                  ('e/x.txt', text), ('E', b'where e is')] +
                 [('many/%02d/%03d.txt' % (i % 7, i), text[:100 + i * 37]) for i in range(150)],
    'damaged.zip': [('good%d.txt' % i, text[i * 50:]) for i in range(20)],
}
for name, entries in archives.items():
    with zipfile.ZipFile(f'{work}/{name}', 'w', zipfile.ZIP_DEFLATED) as z:
        for entry, data in entries:
            z.writestr(entry, data)
# Damage the middle of one entry's data and another's local header.
data = bytearray(open(f'{work}/damaged.zip', 'rb').read())
with zipfile.ZipFile(f'{work}/damaged.zip') as z:
    infos = z.infolist()
    data[infos[5].header_offset + 60] ^= 0xFF
    data[infos[11].header_offset] = 0
open(f'{work}/damaged.zip', 'wb').write(bytes(data))
PY

describe() { (cd "$1" && find . -mindepth 1 -printf '%y %P %s\n' | sort); }

for archive in "$fixtures"/info-zip.zip "$fixtures"/bsdtar-cn.zip "$fixtures"/python-utf8.zip \
               "$fixtures"/encrypted-infozip.zip "$fixtures"/small-stream.zip \
               "$work"/repeats.zip "$work"/kinds.zip "$work"/damaged.zip; do
    name=$(basename "$archive")
    for threads in 1 default; do
        args=(--password secret)
        [ "$threads" = default ] || args+=(--threads "$threads")
        cli extract "${args[@]}" "$(winpath "$archive")" "$(winpath "$work/out-$threads")" >"$work/log-$threads"
    done
    diff "$work/log-1" "$work/log-default" >/dev/null || { fail "$name: other lines"; diff "$work/log-1" "$work/log-default" | head; }
    diff <(describe "$work/out-1") <(describe "$work/out-default") >/dev/null &&
        diff -r "$work/out-1" "$work/out-default" >/dev/null || fail "$name: other trees"
    rm -rf "$work/out-1" "$work/out-default"
done
grep -q $'^5\t0x5000000\t' "$work/log-1" || fail "damaged.zip: the damaged entry did not fail"

# The option's own checks.
cli extract --threads 0 "$(winpath "$work/kinds.zip")" "$(winpath "$work/out")" >/dev/null 2>&1
[ $? = 2 ] || fail "--threads 0 was taken"
cli extract --threads 9 "$(winpath "$work/kinds.zip")" "$(winpath "$work/out")" >/dev/null 2>&1
[ $? = 2 ] || fail "--threads 9 was taken"

echo "$failures failures"
[ "$failures" = 0 ]
