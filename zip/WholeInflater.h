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

    // Which entries are inflated whole, by declared size (the stored bytes
    // may not pass the largest either). The smallest: below it, the two
    // views and the sized file cost more than libdeflate saves (under Wine
    // about a millisecond an entry; 4 MiB entries came out even). The
    // largest: the piece hook is not asked while the call runs, so it
    // bounds how long a cancel waits, and the program must end within
    // seconds when asked to (an installer waits 10 s): 256 MiB take about a
    // second on a busy machine under Wine (2 GiB took seven seconds). Both
    // views of that size also find room in a 32-bit address space beside
    // the program. Other entries are streamed.
    struct Limits {
        uint64_t smallest;
        uint64_t largest;
        bool admit(uint64_t size, uint64_t storedSize) const {
            return size > 0 && size >= smallest && size <= largest && storedSize <= largest;
        }
    };
    static constexpr Limits kDefaultLimits{uint64_t{4} << 20, uint64_t{256} << 20};
    static Limits limits();
    // Other limits for the whole process ({0, 0} streams every entry): for
    // tests that compare the two ways.
    static void setLimits(Limits limits);

    // 0, or kZipDataError for damaged data, output longer or shorter than
    // out's size, or another CRC-32; out's contents are undefined then.
    // kZipReadFailed when the decompressor could not be made.
    int32_t inflate(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, uint32_t crc);

private:
    libdeflate_decompressor* decompressor_ = nullptr;
};
