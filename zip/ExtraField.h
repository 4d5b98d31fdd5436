// Readers for the extra-field blocks the library uses: the extended
// timestamp ("UT") of the local header, the Unicode path (0x7075) that
// Info-ZIP-style tools add beside a name in a legacy code page, and the
// WinZip AES block (0x9901). An extra
// field is a run of blocks: 2-byte ID, 2-byte little-endian data size, data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Little-endian fields of ZIP records.
inline uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t readLe64(const uint8_t* p) { return readLe32(p) | static_cast<uint64_t>(readLe32(p + 4)) << 32; }

struct ExtendedTimestamp {
    // Unix times (seconds since 1970-01-01 UTC) and whether each was present.
    std::optional<int32_t> modification, access, creation;
};

// Scans for the first "UT" block, stepping over others; times whose four
// bytes do not lie inside both the block and the field are left out.
ExtendedTimestamp findExtendedTimestamp(const uint8_t* field, size_t size);

// The UTF-8 name of a version-1 Unicode path block whose name CRC-32 is the
// CRC-32 of the stored name; nothing when there is none or it does not fit.
std::optional<std::string> findUnicodePath(const uint8_t* field, size_t size, std::string_view storedName);

// The WinZip AES block of an entry of method 99.
struct AesExtra {
    uint16_t vendorVersion = 0;  // 1 (AE-1, CRC-32 stored) or 2 (AE-2, no CRC-32)
    uint8_t strength = 0;        // 1, 2, 3: 128, 192, 256-bit keys
    uint16_t method = 0;         // the compression method of the decrypted data
};
// The first 0x9901 block with vendor ID "AE" and 7 bytes of data.
std::optional<AesExtra> findAesExtra(const uint8_t* field, size_t size);
