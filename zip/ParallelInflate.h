// One deflate stream decoded on several threads. The stream is cut into
// pieces of compressed bytes. The calling thread decodes every piece no other
// thread has taken, in order, straight to the output. The other threads take
// pieces a little ahead of it: for each, a thread looks for the first block that starts in it and decodes from there
// without the 32 KiB before it (copies from there are left as markers, and
// the decoding turns to plain bytes once 32 KiB pass without one), up to the
// first block that starts in the next piece. The calling thread takes those
// in order: a piece whose first block is where the one before it stopped
// has its markers filled in from the bytes before it; any other (a false
// start, a piece with no block found, or one whose output would be too
// large) is decoded there, from where the one before stopped, as a single
// thread would. So the bytes are the stream's whatever the guesses, and
// damage is found where a single thread finds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct ParallelInflateOptions {
    unsigned threads = 2;                  // decoding the pieces, the caller's among them
    size_t piece = 4 * 1024 * 1024;        // compressed bytes
    // Bytes a piece decoded ahead may hold (two a symbol while it has
    // markers); a piece that needs more is decoded in order instead.
    size_t maxPieceOutput = 32 * 1024 * 1024;
};

// Reads size bytes at offset of the compressed stream; false when it cannot.
using InflateReader = std::function<bool(uint64_t offset, uint8_t* buffer, size_t size)>;

struct ParallelInflateIo {
    // The calling thread's reader.
    InflateReader read;
    // A reader for each other thread, made on the calling thread; an empty
    // one leaves that thread's pieces to the caller.
    std::function<InflateReader()> openReader;
    // Takes the next bytes of output, in order: 0 or a result code that stops.
    std::function<int32_t(const uint8_t* data, size_t size)> emit;
    // Told the compressed bytes of each piece taken; false cancels.
    std::function<bool(uint64_t bytes)> progress;
};

// How the pieces went.
struct ParallelInflateCounts {
    size_t pieces = 0;          // handed out
    size_t byThreads = 0;       // of them, given to the other threads
    size_t decodedAhead = 0;    // and taken as a thread decoded them
};

// Decodes the stream in compressedSize bytes (bytes after its end are
// ignored): kZipOk once it ended, kZipDataError for a damaged, short or
// unreadable stream, kZipCancelled, or the code emit returned.
int32_t inflateInParallel(uint64_t compressedSize, const ParallelInflateIo& io, const ParallelInflateOptions& options,
                          ParallelInflateCounts* counts = nullptr);
