// Inflates a whole deflated entry in one call, from all its stored bytes
// into a buffer of exactly its declared size (in extraction, both are views
// of files: the archive's range and the output file), with libdeflate. The
// checks are the entry decoder's: exactly the declared size must come out,
// with the declared CRC-32; bytes after the end of the stream carry nothing.
#pragma once

#include <cstddef>
#include <cstdint>

struct libdeflate_decompressor;

class WholeInflater {
public:
    WholeInflater();
    ~WholeInflater();
    WholeInflater(const WholeInflater&) = delete;
    WholeInflater& operator=(const WholeInflater&) = delete;

    // The largest entry (declared size and stored bytes each) inflated in one
    // call. The piece hook is not asked while the call runs, so the cap
    // bounds how long a cancel waits, and the program must end within
    // seconds when asked to (an installer waits 10 s): 256 MiB take about a
    // second on a busy machine under Wine (2 GiB took seven seconds). Both
    // views of that size also find room in a 32-bit address space beside the
    // program. Larger entries are streamed.
    static constexpr uint64_t kDefaultEntryCap = uint64_t{256} << 20;
    static uint64_t entryCap();
    // Another cap for the whole process (0 sends every entry through the
    // streamed decoder): for tests that compare the two ways.
    static void setEntryCap(uint64_t bytes);

    // 0, or kZipDataError for damaged data, output longer or shorter than
    // out's size, or another CRC-32; out's contents are undefined then.
    // kZipReadFailed when the decompressor could not be made.
    int32_t inflate(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, uint32_t crc);

private:
    libdeflate_decompressor* decompressor_ = nullptr;
};
