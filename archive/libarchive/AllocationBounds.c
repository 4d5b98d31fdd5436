/* What libarchive may allocate while it reads an archive. Its readers size
 * buffers from counts and sizes the archive declares (a 7z header's number
 * of files or folders, a BCJ2 stream's size, an LZMA dictionary, an xz
 * block's dictionary), so a few hundred hostile bytes could make it ask for
 * gigabytes, which a 64-bit process would be given. scripts/build-deps.sh
 * renames libarchive's calls to malloc, calloc, realloc and to liblzma's
 * decoder set-up and lzma_code to the functions below, which refuse:
 *   - any single allocation above kMaxAllocation, and
 *   - an LZMA or LZMA2 dictionary above kMaxDictionary (as the ZIP reader's
 *     LZMA does), or an xz or .lzma stream needing more than kMaxDecoder.
 * The decoders libarchive does not reach through these (zlib, libbz2,
 * libzstd) bound themselves: 32 KiB, under 4 MiB and zstd's default 128 MiB
 * window; RAR 5 limits its window to 64 MiB.
 * A refusal is what the reader would see of a full memory: it fails the
 * entry or the archive. It is also remembered for the thread, so that the
 * adapter can report "not supported" rather than "damaged". */
#include "archive/libarchive/AllocationBounds.h"

#include <lzma.h>
#include <stdint.h>
#include <stdlib.h>

enum {
    kMaxDictionary = 256u << 20,
    /* The largest dictionary as liblzma allocates it, rounded up. */
    kMaxAllocation = kMaxDictionary + (1u << 20),
};
static const uint64_t kMaxDecoder = kMaxAllocation;

static _Thread_local int refused;

static void* refuse(void) {
    refused = 1;
    return NULL;
}

int qz_archive_take_refusal(void) {
    int was = refused;
    refused = 0;
    return was;
}

void* qz_archive_malloc(size_t size) {
    return size > kMaxAllocation ? refuse() : malloc(size);
}

void* qz_archive_calloc(size_t count, size_t size) {
    if (size != 0 && count > kMaxAllocation / size) return refuse();
    return calloc(count, size);
}

void* qz_archive_realloc(void* block, size_t size) {
    return size > kMaxAllocation ? refuse() : realloc(block, size);
}

static int dictionaryTooLarge(const lzma_filter* filters) {
    for (const lzma_filter* f = filters; f && f->id != LZMA_VLI_UNKNOWN; f++) {
        if (f->id != LZMA_FILTER_LZMA1 && f->id != LZMA_FILTER_LZMA2) continue;
        const lzma_options_lzma* options = (const lzma_options_lzma*)f->options;
        if (options && options->dict_size > kMaxDictionary) return 1;
    }
    return 0;
}

lzma_ret qz_archive_lzma_raw_decoder(lzma_stream* strm, const lzma_filter* filters) {
    if (dictionaryTooLarge(filters)) {
        refused = 1;
        return LZMA_MEMLIMIT_ERROR;
    }
    return lzma_raw_decoder(strm, filters);
}

/* The streams' own headers declare their dictionaries: liblzma checks them
 * against the limit given here as it reads them. */
lzma_ret qz_archive_lzma_stream_decoder(lzma_stream* strm, uint64_t memlimit, uint32_t flags) {
    return lzma_stream_decoder(strm, memlimit < kMaxDecoder ? memlimit : kMaxDecoder, flags);
}

lzma_ret qz_archive_lzma_alone_decoder(lzma_stream* strm, uint64_t memlimit) {
    return lzma_alone_decoder(strm, memlimit < kMaxDecoder ? memlimit : kMaxDecoder);
}

/* Where such a stream meets a dictionary above the limit. */
lzma_ret qz_archive_lzma_code(lzma_stream* strm, lzma_action action) {
    lzma_ret ret = lzma_code(strm, action);
    if (ret == LZMA_MEMLIMIT_ERROR) refused = 1;
    return ret;
}
