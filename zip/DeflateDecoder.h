// Deflate (ZIP method 8) and Deflate64 (method 9), one table-driven decoder
// in the manner of a fast inflate, streaming through buffers of any size.
// Deflate64 is deflate with a 64 KiB window, length code 285 taking 16 extra
// bits (lengths 3 to 65538) and distance codes 30 and 31 (distances up to
// 65536); no Debian package ships a decoder of it as a library. For deflate
// it takes what zlib's inflate takes and refuses what zlib refuses, and is
// faster: the bit buffer is refilled 8 bytes at a time, three literal codes
// are taken per refill, and one entry can give two literals. Either holds the 64 KiB window and 27 KiB of tables
// (fixed and dynamic).
#pragma once

#include <memory>

#include "zip/MethodDecoder.h"

#include <vector>

std::unique_ptr<MethodDecoder> makeDeflateDecoder();
std::unique_ptr<MethodDecoder> makeDeflate64Decoder();

// For decoding one deflate stream in pieces on several threads: a piece
// starts at a block and ends where the next piece's first block starts.

// The deflate decoder started at a block inside a stream.
class BlockInflater {
public:
    enum class Status { progress, ended, failed, paused };
    virtual ~BlockInflater() = default;
    // Starts skipBits into the next input given to run, at a block's first
    // bit, with the bytes before it (the last 32 KiB count) for matches to
    // reach; pauses before the first block that starts at or after pauseBit,
    // counted like skipBits.
    virtual void start(unsigned skipBits, const uint8_t* history, size_t historySize, uint64_t pauseBit) = 0;
    virtual Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) = 0;
    // Input bits taken since start, the skipped ones included.
    virtual uint64_t bitsTaken() const = 0;
};
std::unique_ptr<BlockInflater> makeBlockInflater();

// What decoding from a guessed block start gives, without the 32 KiB before
// it (the most deflate reaches back): each symbol is a byte, or kMarker + k
// for the byte k into that unknown 32 KiB.
constexpr size_t kDeflateWindow = 32 * 1024;
constexpr uint16_t kMarker = 256;
struct MarkedRun {
    enum class End {
        failed,  // no start found, or damage, too little data, too much output
        paused,  // a block starts at or after the pause bit: endBit
        ended,   // the stream's last block ended, at endBit
        known,   // the last 32 KiB hold no marker: bytes from endBit on can be decoded with them
    };
    std::vector<uint16_t> symbols;
    // Where the first block starts: a stored block can be read the same from
    // any bit in [startBit, lastStartBit] (the zero bits around its header).
    uint64_t startBit = 0, lastStartBit = 0;
    uint64_t endBit = 0;
    End end = End::failed;
};
// Finds the first bit in [fromBit, toBit) of data where a stored or dynamic
// block starts and decodes from there (see MarkedRun), trying later
// candidates where one fails, or ends the stream unless mayEnd. At most
// maxSymbols symbols.
void inflateFromGuess(const uint8_t* data, size_t size, uint64_t fromBit, uint64_t toBit, uint64_t pauseBit,
                      bool mayEnd, size_t maxSymbols, MarkedRun* out);
