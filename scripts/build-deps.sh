#!/usr/bin/env bash
# Cross-builds the third-party libraries for both Windows targets from the
# Debian sources that setup.sh unpacked under DEPS/src (with Debian's patches
# applied by dpkg-source): minizip (plus its miniunz tool, the benchmark's
# reference), libpng, the decoders of the other ZIP methods (libbz2, liblzma,
# libzstd), libarchive (the reader of the other archive formats), libdeflate
# and GoogleTest. Installs into DEPS/<arch>/{include,lib,bin}.
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
archive_src=$(one_dir "$src/libarchive-[0-9]*/")
deflate_src=$(one_dir "$src/libdeflate-[0-9]*/")
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

    # libarchive reads 7z, RAR, tar and the compressed streams; it is built
    # against the decoders above and MinGW's zlib, with CNG for the crypto it
    # needs (MinGW names the header bcrypt.h, which its check misses), and
    # without its tools, tests and every optional library we do
    # not ship (no XML formats, no LZ4/LZO, no iconv, no ACLs or xattrs).
    # Its calls to malloc, calloc, realloc and liblzma's decoder set-up are
    # renamed to the bounded ones in archive/libarchive/AllocationBounds.c,
    # so that no declared count or dictionary makes it allocate without
    # limit (libarchive-bounded.a: it cannot link without them).
    if [ ! -f "$prefix/.libarchive-bounded" ]; then
        log "libarchive for $arch"
        rm -rf "$work/archive"
        sysroot=/usr/$triplet
        mkdir -p "$work/archive/case" && echo '#include <bcrypt.h>' >"$work/archive/case/Bcrypt.h"
        cmake -S "$archive_src" -B "$work/archive" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" \
            -DCMAKE_CROSSCOMPILING_EMULATOR= \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$cflags -I$work/archive/case" \
            -DWINDOWS_VERSION=WIN7 -DENABLE_CNG=ON -DPOSIX_REGEX_LIB=NONE \
            -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_LIBB2=OFF \
            -DENABLE_LZ4=OFF -DENABLE_LZO=OFF -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF \
            -DENABLE_PCREPOSIX=OFF -DENABLE_LIBGCC=OFF -DENABLE_ICONV=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF \
            -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_TEST=OFF -DENABLE_INSTALL=OFF \
            -DENABLE_WERROR=OFF \
            -DZLIB_INCLUDE_DIR="$sysroot/include" -DZLIB_LIBRARY="$sysroot/lib/libz.a" \
            -DBZIP2_INCLUDE_DIR="$prefix/include" -DBZIP2_LIBRARY_RELEASE="$prefix/lib/libbz2.a" \
            -DLIBLZMA_INCLUDE_DIR="$prefix/include" -DLIBLZMA_LIBRARY="$prefix/lib/liblzma.a" \
            -DZSTD_INCLUDE_DIR="$prefix/include" -DZSTD_LIBRARY="$prefix/lib/libzstd.a" >"$work/archive.log" 2>&1 ||
            { cat "$work/archive.log"; exit 1; }
        cmake --build "$work/archive" --target archive_static -j "$jobs" >>"$work/archive.log" 2>&1 ||
            { tail -n 40 "$work/archive.log"; exit 1; }
        [ "$arch" = i686 ] && symbol_prefix=_ || symbol_prefix=
        renames=()
        for f in malloc calloc realloc lzma_raw_decoder lzma_stream_decoder lzma_alone_decoder lzma_code; do
            renames+=(--redefine-sym "$symbol_prefix$f=${symbol_prefix}qz_archive_$f")
        done
        $triplet-objcopy "${renames[@]}" "$work/archive/libarchive/libarchive_static.a" \
            "$prefix/lib/libarchive-bounded.a"
        cp "$archive_src"/libarchive/{archive.h,archive_entry.h} "$prefix/include/"
        touch "$prefix/.libarchive-bounded"
    fi

    # libdeflate: the library alone, static.
    if [ ! -f "$prefix/.libdeflate" ]; then
        log "libdeflate for $arch"
        rm -rf "$work/deflate" && mkdir -p "$work/deflate"
        for f in "$deflate_src"/lib/*.c "$deflate_src"/lib/x86/*.c; do
            $cc $cflags -std=c99 -fvisibility=hidden -D_ANSI_SOURCE -I"$deflate_src" -c "$f" \
                -o "$work/deflate/$(basename "$(dirname "$f")")-$(basename "$f" .c).o"
        done
        rm -f "$prefix/lib/libdeflate.a"
        $triplet-ar rcs "$prefix/lib/libdeflate.a" "$work/deflate"/*.o
        cp "$deflate_src/libdeflate.h" "$prefix/include/"
        touch "$prefix/.libdeflate"
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
