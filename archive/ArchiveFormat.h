// The archive formats the program reads, told apart by content alone: the
// signatures at the start of a file. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ArchiveFormat : uint8_t {
    unknown,   // no signature we know: only the ZIP reader may still find an archive in it
    zip,
    sevenZip,
    rar,       // RAR 1.5 to 4
    rar5,
    tar,       // ustar, pax or GNU, plain or inside a compressed stream
    gzip,      // a compressed stream: a tar inside, or one file
    bzip2,
    xz,
    zstd,
};

// The short name quillozip-cli prints: "zip", "7z", "rar", "rar5", "tar",
// "gzip", "bzip2", "xz", "zstd"; "unknown".
const char* formatName(ArchiveFormat format);

// How many leading bytes sniffFormat looks at (a tar header is 512).
constexpr size_t kSniffBytes = 512;

// The format the first bytes of a file announce. A compressed stream is
// named as such; whether it holds a tar is known only once it is read.
ArchiveFormat sniffFormat(const uint8_t* head, size_t size);

// Whether a compressed stream format, read by libarchive as a filter.
bool isCompressedStream(ArchiveFormat format);

// Whether the headers of a RAR or RAR 5 archive starting at head are
// encrypted (its names can be read only with the password): RAR 4's main
// header flag, RAR 5's archive encryption header before the main header.
bool rarHeadersEncrypted(const uint8_t* head, size_t size);
