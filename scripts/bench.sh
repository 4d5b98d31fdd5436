#!/usr/bin/env bash
# Extraction and listing speed of quillozip-cli against minizip's own
# extractor (miniunz, built from the same minizip source with the same
# compiler), side by side under the same Wine:
#   (a) one 256 MiB deflated file of mixed text and binary,
#   (b) 20,000 small files in 100 folders,
#   (c) listing 50,000 and 100,000 entries;
# and, for context only, against 7z's own extraction on this machine (native,
# not under Wine): (d) 32 MiB of the same data in bzip2, (e) in AES-256 over
# deflate; and ours against itself on (a): (f) with the progress hook the
# main window installs and without, (g) into a folder the extraction has to
# make and into an existing empty one. Prints medians of several runs and the
# ratios, wall and CPU; targets: (a) <= 0.8, (b) <= 0.6, (f) <= 1.02,
# (g) <= 1.05, listing 100k/50k <= 2.5. Not part of scripts/test.sh.
# Usage: scripts/bench.sh [runs, default 7]
# Environment: QZ_CLI, QZ_MINIUNZ (default: the i686 builds, or the x86_64
# ones on a machine that runs no 32-bit programs).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
source "$top/scripts/wine-loader.sh"   # i686 where this kernel runs 32-bit programs, else x86_64
kind=$qz_run_kind
cli=${QZ_CLI:-$top/build/$kind/bin/quillozip-cli.exe}
miniunz=${QZ_MINIUNZ:-$top/.deps/$kind/bin/miniunz.exe}
export WINEPREFIX=${WINEPREFIX:-$top/build/wineprefix}

if [ ! -f "$cli" ]; then
    [ -f "$top/build/$kind/build.ninja" ] ||
        cmake -S "$top" -B "$top/build/$kind" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$kind.cmake" >/dev/null
    cmake --build "$top/build/$kind" -j 2 --target quillozip-cli >/dev/null
fi
echo "comparing the $kind builds"

work=$(mktemp -d /tmp/qz-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
run=$top/scripts/wine-run.sh

echo "making the archives in $work"
python3 - "$work" <<'PY'
import os, random, sys, zipfile
work = sys.argv[1]
rng = random.Random(7)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9))) for _ in range(5000)]
text = ' '.join(rng.choice(words) for _ in range(250000)).encode()  # about 1.4 MiB of prose
os.makedirs(work + '/a')
with open(work + '/a/mixed.bin', 'wb') as f:
    for i in range(256 * 16):                                       # 64 KiB pieces
        if i % 10 < 7:
            start = rng.randrange(len(text) - 65536)
            f.write(text[start:start + 65536])
        else:
            f.write(os.urandom(65536))
for d in range(100):
    os.makedirs('%s/b/folder%03d' % (work, d))
    for n in range(200):
        start = rng.randrange(len(text) - 8192)
        with open('%s/b/folder%03d/file%03d.txt' % (work, d, n), 'wb') as f:
            f.write(text[start:start + rng.randint(100, 8192)])
for count in (50000, 100000):
    with zipfile.ZipFile('%s/list%d.zip' % (work, count), 'w', zipfile.ZIP_STORED) as z:
        for i in range(count):
            z.writestr('folder%03d/entry%06d.txt' % (i % 1000, i), b'x')
PY
(cd "$work/a" && zip -q "$work/single.zip" mixed.bin)
mkdir -p "$work/c" && head -c 32M "$work/a/mixed.bin" >"$work/c/mixed32.bin"
(cd "$work/c" && 7z a -tzip -bso0 -bsp0 -mm=BZip2 "$work/bzip2.zip" mixed32.bin &&
    7z a -tzip -bso0 -bsp0 -mem=AES256 -psecret "$work/aes256.zip" mixed32.bin)
(cd "$work/b" && zip -qr "$work/many.zip" .)
rm -rf "$work/a" "$work/b" "$work/c"
ls -l "$work"/*.zip

# "wall cpu" seconds of one command: elapsed, and user plus system time of
# the program (the Wine server's share not included). Its output goes to a
# file: Wine takes /dev/null for a character device and writes to it slowly.
timed() {
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >"$work/output" 2>&1 ||
        { echo "failed: $*" >&2; cat "$work/output" >&2; return 1; }
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { echo "scale=3; $1 / $2" | bc -l | sed 's/^\./0./'; }

extract_bench() { # archive label target
    local archive=$1 label=$2 ours=() theirs=()
    local dest=$work/dest
    for i in $(seq 1 "$runs"); do
        # Both get the same kind of destination: an empty folder that exists,
        # made side by side before either runs (miniunz makes none). Every
        # run writes to a folder of its own, and nothing is deleted between
        # runs: deleting a large tree slows the next writer down. The disk is
        # synced before each run and who goes first alternates.
        mkdir -p "$dest-m$i" "$dest-q$i"
        if [ $((i % 2)) = 1 ]; then
            sync
            theirs+=("$(timed "$run" "$miniunz" -x -o "$(winpath "$archive")" -d "$(winpath "$dest-m$i")")")
            sync
            ours+=("$(timed "$run" "$cli" extract "$(winpath "$archive")" "$(winpath "$dest-q$i")")")
        else
            sync
            ours+=("$(timed "$run" "$cli" extract "$(winpath "$archive")" "$(winpath "$dest-q$i")")")
            sync
            theirs+=("$(timed "$run" "$miniunz" -x -o "$(winpath "$archive")" -d "$(winpath "$dest-m$i")")")
        fi
    done
    # Both must have written the same tree, or the timing means nothing.
    diff -r "$dest-m1" "$dest-q1" >/dev/null || { echo "$label: the extracted trees differ" >&2; exit 1; }
    rm -rf "$dest"-*
    report "$label" "$3" theirs ours
}

# label target reference-array measured-array [reference-name measured-name]:
# medians of the wall and CPU times in the named arrays.
report() {
    local -n m=$3 q=$4
    local mname=${5:-miniunz} qname=${6:-ours} mw mc qw qc
    mw=$(median $(printf '%s\n' "${m[@]}" | cut -d' ' -f1))
    mc=$(median $(printf '%s\n' "${m[@]}" | cut -d' ' -f2))
    qw=$(median $(printf '%s\n' "${q[@]}" | cut -d' ' -f1))
    qc=$(median $(printf '%s\n' "${q[@]}" | cut -d' ' -f2))
    printf '%-24s wall: %s %7ss  %s %7ss  ratio %s (target %s)\n' "$1" "$mname" "$mw" "$qname" "$qw" "$(ratio "$qw" "$mw")" "$2"
    printf '%-24s cpu:  %s %7ss  %s %7ss  ratio %s (target %s)\n' "" "$mname" "$mc" "$qname" "$qc" "$(ratio "$qc" "$mc")" "$2"
}

# A warm Wine for every run, kept until the end.
"$top/scripts/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true
wineserver -p 300 >/dev/null 2>&1 &

echo "medians of $runs runs, Wine start-up included; wall is what the targets mean, cpu is steadier on a busy machine"
extract_bench "$work/single.zip" "(a) 256 MiB, one file" "<= 0.8"
extract_bench "$work/many.zip" "(b) 20,000 files" "<= 0.6"

# label target option fresh: ours on (a) as it is and with option (may be
# empty), into a folder made before the run, or for the second with fresh=1
# into one the extraction makes; same order and cache treatment as above.
variant_bench() {
    local label=$1 target=$2 option=$3 fresh=$4 plain=() other=() dest=$work/dest archive
    archive=$(winpath "$work/single.zip")
    for i in $(seq 1 "$runs"); do
        mkdir -p "$dest-p$i"
        [ "$fresh" = 1 ] || mkdir -p "$dest-o$i"
        if [ $((i % 2)) = 1 ]; then
            sync
            plain+=("$(timed "$run" "$cli" extract "$archive" "$(winpath "$dest-p$i")")")
            sync
            other+=("$(timed "$run" "$cli" extract $option "$archive" "$(winpath "$dest-o$i")")")
        else
            sync
            other+=("$(timed "$run" "$cli" extract $option "$archive" "$(winpath "$dest-o$i")")")
            sync
            plain+=("$(timed "$run" "$cli" extract "$archive" "$(winpath "$dest-p$i")")")
        fi
    done
    diff -r "$dest-p1" "$dest-o1" >/dev/null || { echo "$label: the extracted trees differ" >&2; exit 1; }
    rm -rf "$dest"-*
    report "$label" "$target" plain other "${5:-plain}" "${6:-other}"
}
variant_bench "(f) progress hook" "<= 1.02" --progress 0 without with
variant_bench "(g) folder to make" "<= 1.05" "" 1 existing new

# archive label password: ours under Wine against native 7z, for context.
context_bench() {
    local archive=$1 label=$2 password=$3 ours=() theirs=() dest=$work/dest
    for i in $(seq 1 "$runs"); do
        sync
        theirs+=("$(timed 7z x -y -bso0 -bsp0 -p"$password" -o"$dest-7$i" "$archive")")
        sync
        ours+=("$(timed "$run" "$cli" extract --password "$password" "$(winpath "$archive")" "$(winpath "$dest-q$i")")")
    done
    diff -r "$dest-71" "$dest-q1" >/dev/null || { echo "$label: the extracted trees differ" >&2; exit 1; }
    rm -rf "$dest"-*
    local sw sc qw qc
    sw=$(median $(printf '%s\n' "${theirs[@]}" | cut -d' ' -f1))
    sc=$(median $(printf '%s\n' "${theirs[@]}" | cut -d' ' -f2))
    qw=$(median $(printf '%s\n' "${ours[@]}" | cut -d' ' -f1))
    qc=$(median $(printf '%s\n' "${ours[@]}" | cut -d' ' -f2))
    printf '%-24s wall: 7z %7ss  ours %7ss  ratio %s (context)\n' "$label" "$sw" "$qw" "$(ratio "$qw" "$sw")"
    printf '%-24s cpu:  7z %7ss  ours %7ss  ratio %s\n' "" "$sc" "$qc" "$(ratio "$qc" "$sc")"
}
context_bench "$work/bzip2.zip" "(d) 32 MiB bzip2" none
context_bench "$work/aes256.zip" "(e) 32 MiB AES-256" secret

declare -A listing
for count in 50000 100000; do
    times=()
    for i in $(seq 1 "$runs"); do times+=("$(timed "$run" "$cli" list "$(winpath "$work/list$count.zip")" | cut -d' ' -f1)"); done
    listing[$count]=$(median "${times[@]}")
    printf '%-24s wall: ours %7ss\n' "(c) list $count" "${listing[$count]}"
done
printf '%-24s ratio %s (target <= 2.5)\n' "(c) list 100k / 50k" "$(ratio "${listing[100000]}" "${listing[50000]}")"
