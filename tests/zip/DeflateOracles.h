// Reference decoders the table-driven deflate decoder is compared with.
// For Deflate64: the first decoder of this library, canonical Huffman codes
// read bit by bit, plain enough to check by reading; it also counts the
// codes that only Deflate64 has, so a test can tell that a stream uses them.
// For deflate: zlib's raw inflate, which the program used before.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "zip/MethodDecoder.h"
#include "zip/ParallelInflate.h"

struct Deflate64CodesSeen {
    uint64_t longLengths = 0;    // length code 285 with 16 extra bits
    uint64_t farDistances = 0;   // distance codes 30 and 31 (above 32 KiB)
    uint64_t longestMatch = 0;
    uint64_t farthestMatch = 0;
};

// When seen is given, it counts the codes of every stream the decoder reads.
std::unique_ptr<MethodDecoder> makeDeflate64Oracle(Deflate64CodesSeen* seen = nullptr);

// zlib's raw inflate with a 32 KiB window.
std::unique_ptr<MethodDecoder> makeZlibInflateOracle();

// What a decoder made of a whole stream.
struct DecodeOutcome {
    MethodDecoder::Status status = MethodDecoder::Status::progress;  // progress: the input ran out first
    std::vector<uint8_t> bytes;
    bool operator==(const DecodeOutcome& o) const { return status == o.status && bytes == o.bytes; }
};

// Resets the decoder and feeds it the stream in pieces of inPiece bytes,
// with output room of outPiece bytes at a time in buffers of exactly that
// size (so a sanitizer sees any write past the room), until it ends, fails,
// the input runs out or maxOut bytes came out.
DecodeOutcome decodeInPieces(MethodDecoder& decoder, const uint8_t* data, size_t size, size_t inPiece,
                             size_t outPiece, size_t maxOut = 64u << 20);

// A stream in memory decoded in pieces on threads (each with a reader of
// its own), its output appended to out: inflateInParallel's result.
int32_t inflateInParallelFromMemory(const std::vector<uint8_t>& stream, const ParallelInflateOptions& options,
                                    std::vector<uint8_t>* out, ParallelInflateCounts* counts = nullptr,
                                    std::function<bool(uint64_t)> progress = {});
