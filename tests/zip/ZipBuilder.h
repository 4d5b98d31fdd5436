// Builds ZIP archives byte by byte, so that tests can make the malformed and
// hostile ones no archiver would write: any name, host, attributes, extra
// field, method, CRC or size, and local headers that disagree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kMadeByUnix = 0x031E;  // host 3, version 3.0
constexpr uint16_t kMadeByDos = 0x0014;   // host 0, version 2.0
constexpr uint32_t kUnixFile = 0x81A40000;       // -rw-r--r--
constexpr uint32_t kUnixReadOnlyFile = 0x81240000;  // -r--r--r--
constexpr uint32_t kUnixFolder = 0x41ED0000;     // drwxr-xr-x

// 2021-06-15 10:20:30 local time as a DOS date-time.
constexpr uint32_t kSampleDosTime = (41u << 25) | (6u << 21) | (15u << 16) | (10u << 11) | (20u << 5) | 15u;

struct TestEntry {
    std::string name;                   // stored name bytes
    std::string data;                   // contents before compression
    uint16_t method = 8;                // compressWith's methods compress the data; any other stores it as is
    uint16_t flags = 0;
    uint16_t madeBy = kMadeByUnix;
    uint32_t external = kUnixFile;
    uint32_t dosTime = kSampleDosTime;
    Bytes localExtra, centralExtra;
    std::optional<uint32_t> crc;               // instead of the data's CRC-32
    std::optional<uint64_t> uncompressedSize;  // instead of the data's size
    std::optional<Bytes> stored;               // stored bytes instead of the compressed data
    std::optional<uint64_t> compressedSize;    // declared instead of the stored bytes' count
    bool badLocalSignature = false;
    std::optional<uint16_t> localMethod;
    std::optional<std::string> localName;
    // Traditional encryption with this password (sets bit 0).
    std::optional<std::string> password;
    // Sizes and CRC after the data in a descriptor with signature (sets bit 3).
    bool dataDescriptor = false;
    // Sizes and offset in ZIP64 blocks; also when the uncompressed size needs it.
    bool zip64 = false;
    // Where the central record says the local header is, instead of where it was written.
    std::optional<uint32_t> centralOffset;
    // Only a central record (at centralOffset): no local header, no data.
    bool centralOnly = false;
};

inline TestEntry makeEntry(std::string name, std::string data, uint16_t method = 8) {
    TestEntry e;
    e.name = std::move(name);
    e.data = std::move(data);
    e.method = method;
    return e;
}

// An extended timestamp block ("UT") with the given flags and Unix times.
Bytes utBlock(uint8_t flags, std::initializer_list<int32_t> times);
// An Info-ZIP Unicode path block (0x7075, version 1) for the stored name.
Bytes unicodePathBlock(const std::string& storedName, const std::string& utf8Name, uint32_t crcXor = 0);

// An entry whose central uncompressed size is all ones and whose ZIP64
// block holds more than that: reading only the size, minizip goes on inside
// the block, takes the rest for a second ZIP64 block and reads the size
// again from it, as kDriftedSize.
TestEntry driftingZip64Entry();
constexpr uint64_t kDriftedSize = 0x0000AAAA12345678;

Bytes rawDeflate(const void* data, size_t size, int level = 9, int strategy = 0);  // zlib's level and strategy
inline Bytes rawDeflate(const std::string& data) { return rawDeflate(data.data(), data.size()); }
inline Bytes rawDeflate(const Bytes& data) { return rawDeflate(data.data(), data.size()); }

// The data compressed as a ZIP entry of the method stores it; the data as it
// is for stored entries and for methods the tests cannot write.
Bytes compressWith(uint16_t method, const Bytes& plain);
// LZMA in the ZIP form, with or without the end marker (bit 1 says which).
Bytes zipLzma(const Bytes& plain, bool endMarker);
// The methods compressWith writes besides stored.
inline constexpr uint16_t kCompressedMethods[] = {8, 12, 14, 93};

void putLe16(Bytes& b, unsigned value);
void putLe32(Bytes& b, uint32_t value);

class ZipBuilder {
public:
    ZipBuilder& add(TestEntry entry);
    ZipBuilder& file(const std::string& name, const std::string& data);
    ZipBuilder& folder(const std::string& name);
    // Bytes before the archive proper, as a self-extractor's program.
    ZipBuilder& prefix(Bytes bytes);
    // A ZIP64 end record and locator before the end record, whose fields
    // then say "see ZIP64".
    ZipBuilder& zip64End();
    Bytes build() const;
    // Writes the archive; false when the file cannot be written.
    bool writeTo(const std::string& path) const;

private:
    std::vector<TestEntry> entries_;
    Bytes prefix_;
    bool zip64End_ = false;
};
