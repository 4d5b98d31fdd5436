#!/usr/bin/env bash
# Cross-builds the third-party libraries for both Windows targets from the
# Debian sources that setup.sh unpacked under DEPS/src (with Debian's patches
# applied by dpkg-source): minizip (plus its miniunz tool, the benchmark's
# reference), libpng, the decoders of the other ZIP methods (libbz2, liblzma,
# libzstd) and GoogleTest. Installs into DEPS/<arch>/{include,lib,bin}.
# Each library has its own stamp, so a new one is added to an existing tree.
set -euo pipefail
deps=${1:?usage: build-deps.sh DEPS_DIR}
top=$(cd "$(dirname "$0")/.." && pwd)
src=$deps/src
jobs=$(nproc)
# minizip's read piece; the archive library reads raw data in its own pieces.
unz_bufsize=${QZ_UNZ_BUFSIZE:-16384}

log() { printf '[deps] %s\n' "$*"; }
one_dir() { ls -d $1 2>/dev/null | head -n 1; }

minizip_src=$(one_dir "$src/minizip-*/")
png_src=$(one_dir "$src/libpng1.6-*/")
bz2_src=$(one_dir "$src/bzip2-*/")
xz_src=$(one_dir "$src/xz-utils-*/")
zstd_src=$(one_dir "$src/libzstd-*/")
gtest_src=/usr/src/googletest

for arch in i686 x86_64; do
    triplet=$arch-w64-mingw32
    cc=$triplet-gcc-posix
    prefix=$deps/$arch
    mkdir -p "$prefix/include/minizip" "$prefix/lib" "$prefix/bin"
    work=$deps/work/$arch
    mkdir -p "$work"
    cflags="-O2 -g"

    stamp=$prefix/.minizip-$unz_bufsize
    if [ ! -f "$stamp" ]; then
        log "minizip for $arch"
        rm -rf "$work/minizip" && mkdir -p "$work/minizip"
        for f in ioapi unzip; do
            $cc $cflags -DUNZ_BUFSIZE=$unz_bufsize -c "$minizip_src/$f.c" -o "$work/minizip/$f.o"
        done
        rm -f "$prefix/lib/libminizip.a"
        $triplet-ar rcs "$prefix/lib/libminizip.a" "$work/minizip/ioapi.o" "$work/minizip/unzip.o"
        cp "$minizip_src"/{unzip.h,ioapi.h} "$prefix/include/minizip/"
        # The reference extractor for scripts/bench.sh, same compiler and flags.
        $cc $cflags -DUNZ_BUFSIZE=$unz_bufsize -I"$minizip_src" "$minizip_src/miniunz.c" "$minizip_src/iowin32.c" \
            "$work/minizip/ioapi.o" "$work/minizip/unzip.o" -static -lz -o "$prefix/bin/miniunz.exe"
        rm -f "$prefix"/.minizip-*
        touch "$stamp"
    fi

    if [ ! -f "$prefix/.libpng" ]; then
        log "libpng for $arch"
        rm -rf "$work/png" && mkdir -p "$work/png"
        cp "$png_src/scripts/pnglibconf.h.prebuilt" "$work/png/pnglibconf.h"
        for f in png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil \
                 pngset pngtrans pngwio pngwrite pngwtran pngwutil; do
            $cc $cflags -I"$work/png" -I"$png_src" -c "$png_src/$f.c" -o "$work/png/$f.o"
        done
        rm -f "$prefix/lib/libpng16.a"
        $triplet-ar rcs "$prefix/lib/libpng16.a" "$work/png"/*.o
        cp "$png_src/png.h" "$png_src/pngconf.h" "$work/png/pnglibconf.h" "$prefix/include/"
        touch "$prefix/.libpng"
    fi

    if [ ! -f "$prefix/.bzip2" ]; then
        log "libbz2 for $arch"
        rm -rf "$work/bz2" && mkdir -p "$work/bz2"
        for f in blocksort huffman crctable randtable compress decompress bzlib; do
            $cc $cflags -D_FILE_OFFSET_BITS=64 -c "$bz2_src/$f.c" -o "$work/bz2/$f.o"
        done
        rm -f "$prefix/lib/libbz2.a"
        $triplet-ar rcs "$prefix/lib/libbz2.a" "$work/bz2"/*.o
        cp "$bz2_src/bzlib.h" "$prefix/include/"
        touch "$prefix/.bzip2"
    fi

    if [ ! -f "$prefix/.lzma" ]; then
        log "liblzma for $arch"
        rm -rf "$work/xz" && mkdir -p "$work/xz"
        (cd "$work/xz" && "$xz_src/configure" --host="$triplet" CC="$cc" CFLAGS="$cflags" \
            --prefix="$work/xz/install" --enable-static --disable-shared --disable-threads --disable-nls \
            --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
            --disable-scripts --disable-doc >/dev/null &&
            make -C src/liblzma -j "$jobs" >/dev/null && make -C src/liblzma install >/dev/null)
        cp "$work/xz/install/lib/liblzma.a" "$prefix/lib/"
        cp -r "$work/xz/install/include/lzma.h" "$work/xz/install/include/lzma" "$prefix/include/"
        touch "$prefix/.lzma"
    fi

    if [ ! -f "$prefix/.zstd" ]; then
        log "libzstd for $arch"
        rm -rf "$work/zstd" && mkdir -p "$work/zstd"
        for f in "$zstd_src"/lib/{common,compress,decompress}/*.c; do
            $cc $cflags -DZSTD_DISABLE_ASM -c "$f" \
                -o "$work/zstd/$(basename "$(dirname "$f")")-$(basename "$f" .c).o"
        done
        rm -f "$prefix/lib/libzstd.a"
        $triplet-ar rcs "$prefix/lib/libzstd.a" "$work/zstd"/*.o
        cp "$zstd_src"/lib/{zstd.h,zstd_errors.h} "$prefix/include/"
        touch "$prefix/.zstd"
    fi

    if [ ! -f "$prefix/.gtest" ]; then
        log "GoogleTest for $arch"
        rm -rf "$work/gtest"
        cmake -S "$gtest_src" -B "$work/gtest" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" \
            -DCMAKE_CROSSCOMPILING_EMULATOR= \
            -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
            -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
        cmake --build "$work/gtest" -j "$jobs" >/dev/null
        cmake --install "$work/gtest" >/dev/null
        touch "$prefix/.gtest"
    fi
done
log "libraries ready in $deps"
