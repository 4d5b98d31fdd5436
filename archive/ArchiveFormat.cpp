#include "archive/ArchiveFormat.h"

#include <cstring>

namespace {

bool startsWith(const uint8_t* head, size_t size, const char* signature, size_t length) {
    return size >= length && std::memcmp(head, signature, length) == 0;
}

constexpr char kRar4[] = "Rar!\x1A\x07\x00";
constexpr char kRar5[] = "Rar!\x1A\x07\x01\x00";

// A tar header: "ustar" at 257 (POSIX and GNU), or an old header whose
// checksum (the bytes summed with the checksum field as spaces) matches.
bool isTarHeader(const uint8_t* head, size_t size) {
    if (size < 512) return false;
    if (std::memcmp(head + 257, "ustar", 5) == 0) return true;
    if (head[0] == 0) return false;
    unsigned long stored = 0;
    size_t i = 148;
    while (i < 156 && head[i] == ' ') i++;
    size_t digits = 0;
    for (; i < 156 && head[i] >= '0' && head[i] <= '7'; i++, digits++) stored = stored * 8 + (head[i] - '0');
    if (digits == 0 || (i < 156 && head[i] != ' ' && head[i] != 0)) return false;
    unsigned long sum = 0;
    for (size_t k = 0; k < 512; k++) sum += (k >= 148 && k < 156) ? ' ' : head[k];
    return sum == stored;
}

// A RAR 5 variable-length integer: 7 bits a byte, the high bit says more follow.
bool readVint(const uint8_t* data, size_t size, size_t* at, uint64_t* value) {
    *value = 0;
    for (unsigned shift = 0; *at < size && shift < 64; shift += 7) {
        uint8_t b = data[(*at)++];
        *value |= uint64_t{b & 0x7Fu} << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

}  // namespace

const char* formatName(ArchiveFormat format) {
    switch (format) {
    case ArchiveFormat::zip: return "zip";
    case ArchiveFormat::sevenZip: return "7z";
    case ArchiveFormat::rar: return "rar";
    case ArchiveFormat::rar5: return "rar5";
    case ArchiveFormat::tar: return "tar";
    case ArchiveFormat::gzip: return "gzip";
    case ArchiveFormat::bzip2: return "bzip2";
    case ArchiveFormat::xz: return "xz";
    case ArchiveFormat::zstd: return "zstd";
    case ArchiveFormat::unknown: break;
    }
    return "unknown";
}

ArchiveFormat sniffFormat(const uint8_t* head, size_t size) {
    if (startsWith(head, size, "PK\x03\x04", 4) || startsWith(head, size, "PK\x05\x06", 4) ||
        startsWith(head, size, "PK\x07\x08", 4))
        return ArchiveFormat::zip;
    if (startsWith(head, size, "7z\xBC\xAF\x27\x1C", 6)) return ArchiveFormat::sevenZip;
    if (startsWith(head, size, kRar5, 8)) return ArchiveFormat::rar5;
    if (startsWith(head, size, kRar4, 7)) return ArchiveFormat::rar;
    if (startsWith(head, size, "\x1F\x8B\x08", 3)) return ArchiveFormat::gzip;
    if (startsWith(head, size, "BZh", 3) && size > 3 && head[3] >= '1' && head[3] <= '9') return ArchiveFormat::bzip2;
    if (startsWith(head, size, "\xFD" "7zXZ\x00", 6)) return ArchiveFormat::xz;
    if (startsWith(head, size, "\x28\xB5\x2F\xFD", 4)) return ArchiveFormat::zstd;
    if (isTarHeader(head, size)) return ArchiveFormat::tar;
    return ArchiveFormat::unknown;
}

bool isCompressedStream(ArchiveFormat format) {
    return format == ArchiveFormat::gzip || format == ArchiveFormat::bzip2 || format == ArchiveFormat::xz ||
           format == ArchiveFormat::zstd;
}

bool rarHeadersEncrypted(const uint8_t* head, size_t size) {
    if (startsWith(head, size, kRar5, 8)) {
        // The first header after the signature: CRC-32, size, type 4 for
        // the archive encryption header.
        size_t at = 8 + 4;
        uint64_t headerSize = 0, type = 0;
        return readVint(head, size, &at, &headerSize) && readVint(head, size, &at, &type) && type == 4;
    }
    if (startsWith(head, size, kRar4, 7)) {
        // The main header: CRC (2), type 0x73, flags (2) with 0x0080 for
        // encrypted headers.
        return size >= 7 + 5 && head[7 + 2] == 0x73 && (head[7 + 3] & 0x80) != 0;
    }
    return false;
}
