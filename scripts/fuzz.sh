#!/usr/bin/env bash
# Builds the libFuzzer targets (host clang, QZ_FUZZ=ON, in build/fuzz) and
# runs each for a bounded time: name cleaning with the relative-name safety
# check, the extra-field readers, the entry decoder, the entry ranges, the
# verdict's rules, the libarchive adapter's reading and a deflate stream
# decoded in pieces on threads.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$top/build/fuzz
targets=(entry_name_fuzz extra_field_fuzz entry_decoder_fuzz entry_ranges_fuzz entry_verdict_fuzz archive_read_fuzz parallel_inflate_fuzz)

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_FUZZ=ON >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

# Seeds: names a hostile archive might carry, and a few extra fields.
corpus=$build/corpus
mkdir -p "$corpus"/{entry_name_fuzz,extra_field_fuzz,entry_decoder_fuzz,entry_ranges_fuzz,entry_verdict_fuzz,archive_read_fuzz,parallel_inflate_fuzz}
i=0
for name in '../../w.txt' 'C:/dir/a.txt' '//server/share/f.txt' 'x/../y/z.txt' 'D:E:f.txt' 'nul.txt' \
            'a/CON/b' 'ads.txt:s' '...\x' $'\x81\\..\\x' $'\xd5\\/\xd6\\.txt' 'a/./b//c'; do
    printf '%s' "$name" >"$corpus/entry_name_fuzz/seed$((i++))"
done
printf '\x01a.pdf  .exe\xffinvoice\xe2\x80\xaefdp.exe' >"$corpus/entry_verdict_fuzz/disguised"
printf '\x06../\xb7\xa2\xc6\xb1.txt' >"$corpus/entry_verdict_fuzz/hostile"
printf '\x03abcUT\x0d\x00\x07\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00' >"$corpus/extra_field_fuzz/ut"
printf '\x03abcup\x08\x00\x01\xc2\x41\x24\x35xyz' >"$corpus/extra_field_fuzz/unicode"
printf '\x01\x00\x05\x00\xf3\x48\xcd\xc9\xc9\x07\x00' >"$corpus/entry_decoder_fuzz/hello"
# Prose for the pieces to be deflated from (the first byte asks for that).
{ printf '\x01\x20\x10'; printf 'quillo zip archive entry folder name %.0s' {1..200}; } \
    >"$corpus/parallel_inflate_fuzz/prose"
# Whole small archives for the entry ranges: one by zip, one whose two
# entries share one local header.
python3 - "$corpus/entry_ranges_fuzz" <<'PY'
import io, struct, sys, zipfile
out = sys.argv[1]
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('a.txt', 'alpha ' * 20)
    z.writestr('dir/b.txt', 'beta')
open(out + '/zipfile', 'wb').write(buffer.getvalue())
local = struct.pack('<IHHHIIIIHH', 0x04034B50, 20, 0, 0, 0, 0, 1, 1, 1, 0) + b'kx'
central = b''.join(struct.pack('<IHHHHIIIIHHHHHII', 0x02014B50, 20, 20, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0)
                   + name for name in (b'k', b'c'))
end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 2, 2, len(central), len(local), 0)
open(out + '/shared', 'wb').write(local + central + end)
PY
# Small archives of every other format for the libarchive reading.
seeds=$(mktemp -d)
printf 'alpha %.0s' {1..50} >"$seeds/a.txt"
mkdir -p "$seeds/d" && printf 'beta' >"$seeds/d/b.txt"
(cd "$seeds" && tar -cf "$corpus/archive_read_fuzz/plain.tar" a.txt d &&
    tar --format=pax -czf "$corpus/archive_read_fuzz/pax.tar.gz" a.txt d &&
    7z a -bso0 -bsp0 "$corpus/archive_read_fuzz/lzma2.7z" a.txt d >/dev/null &&
    xz -c a.txt >"$corpus/archive_read_fuzz/single.xz")
rm -rf "$seeds"

# An allocation beyond any address space fails as it does outside the
# sanitizer (libarchive takes the null); the Windows builds also bound what
# libarchive may allocate (archive/libarchive/AllocationBounds.c), which the
# host's shared libarchive does not.
export ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_may_return_null=1}
status=0
for t in "${targets[@]}"; do
    echo "== $t for ${seconds}s"
    mkdir -p "$build/artifacts/$t"
    if ! (cd "$build/artifacts/$t" && "$build/bin/$t" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$build/artifacts/$t/" "$corpus/$t" 2>&1 | tail -n 12); then
        echo "!! $t found a failure; see $build/artifacts/$t"
        status=1
    fi
done
exit $status
