// The decompressors of the ZIP methods beyond "stored": each turns one
// entry's compressed stream into its bytes, through one interface, so that
// the entry decoder applies the same rules to all of them (never past the
// declared size, an early end or excess data is an error). A decoder is made
// once per method and reset for every entry; what it holds is bounded by the
// method's own limits, not by the entry's size:
//   deflate (8)   this library's decoder (zlib's rules, a faster loop): the
//                 32 KiB window and 27 KiB of tables (a large entry's stream
//                 is decoded on several threads instead: ParallelInflate.h);
//   Deflate64 (9) the same decoder: the 64 KiB window and 27 KiB of tables;
//   bzip2 (12)    libbz2 in its normal mode: at most about 3.6 MiB (900 kB blocks);
//   LZMA (14)     liblzma: the writer's dictionary, cut to the entry's size,
//                 at most 256 MiB (7-Zip writes 16 MiB by default) and ~30 KiB;
//   Zstandard (93) libzstd: the frame's window, at most 128 MiB, and ~200 KiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class MethodDecoder {
public:
    enum class Status {
        progress,   // keep going: more input or more output room may be needed
        ended,      // the stream reached its end
        failed,     // the stream is damaged, or it cannot be decoded here
    };

    virtual ~MethodDecoder() = default;

    // Prepares for one entry of uncompressedSize bytes; false when the
    // decoder cannot be set up.
    virtual bool reset(uint64_t uncompressedSize) = 0;

    // Decodes from in/inSize into out/outSize, advancing both past what was
    // consumed and produced.
    virtual Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) = 0;
};

// A decoder for the compression method, or nothing for a method without one.
std::unique_ptr<MethodDecoder> makeMethodDecoder(uint16_t method);

// Whether makeMethodDecoder knows the method (0, stored, needs none).
bool hasMethodDecoder(uint16_t method);
