#include "ZipBuilder.h"

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>
#include <zlib.h>

#include <cstdio>

#include "zip/TraditionalCipher.h"

void putLe16(Bytes& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void putLe32(Bytes& b, uint32_t v) {
    putLe16(b, v & 0xFFFF);
    putLe16(b, v >> 16);
}

namespace {

void putText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void putBytes(Bytes& b, const Bytes& s) { b.insert(b.end(), s.begin(), s.end()); }

uint32_t crcOf(const void* p, size_t n) {
    return static_cast<uint32_t>(crc32(0, static_cast<const Bytef*>(p), static_cast<uInt>(n)));
}

}  // namespace

TestEntry driftingZip64Entry() {
    TestEntry e = makeEntry("drift.txt", "drift", 0);
    e.uncompressedSize = 0xFFFFFFFF;
    e.centralExtra = {
        0x01, 0x00, 0x10, 0x00,                          // ZIP64, 16 bytes:
        0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,  // the size, all ones again
        0x01, 0x00, 0x04, 0x00, 0x78, 0x56, 0x34, 0x12,  // what minizip takes for a block
        0xAA, 0xAA, 0x00, 0x00,                          // an empty block
    };
    return e;
}

Bytes utBlock(uint8_t flags, std::initializer_list<int32_t> times) {
    Bytes b;
    putLe16(b, 0x5455);
    putLe16(b, static_cast<unsigned>(1 + 4 * times.size()));
    b.push_back(flags);
    for (int32_t t : times) putLe32(b, static_cast<uint32_t>(t));
    return b;
}

Bytes unicodePathBlock(const std::string& storedName, const std::string& utf8Name, uint32_t crcXor) {
    Bytes b;
    putLe16(b, 0x7075);
    putLe16(b, static_cast<unsigned>(5 + utf8Name.size()));
    b.push_back(1);
    putLe32(b, crcOf(storedName.data(), storedName.size()) ^ crcXor);
    putText(b, utf8Name);
    return b;
}

Bytes rawDeflate(const void* data, size_t size, int level, int strategy) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, strategy);
    Bytes out(deflateBound(&zs, static_cast<uLong>(size)));
    zs.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    zs.avail_in = static_cast<uInt>(size);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

namespace {

Bytes bzip2(const Bytes& plain) {
    unsigned int size = static_cast<unsigned int>(plain.size() + plain.size() / 100 + 600);
    Bytes out(size);
    char none = 0;  // libbz2 refuses a null source, even an empty one
    char* source = plain.empty() ? &none : reinterpret_cast<char*>(const_cast<uint8_t*>(plain.data()));
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size, source,
                             static_cast<unsigned int>(plain.size()), 9, 0, 0);
    out.resize(size);
    return out;
}

}  // namespace

Bytes zipLzma(const Bytes& plain, bool endMarker) {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 6);
    options.ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    options.ext_size_low = static_cast<uint32_t>(plain.size());
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    // The ZIP form's header: LZMA SDK version 9.20, 5 bytes of properties.
    Bytes out = {9, 20, 5, 0, 0, 0, 0, 0, 0};
    lzma_stream lz = LZMA_STREAM_INIT;
    if (lzma_properties_encode(&filters[0], out.data() + 4) != LZMA_OK || lzma_raw_encoder(&lz, filters) != LZMA_OK)
        return {};
    out.resize(9 + plain.size() + plain.size() / 2 + 1024);
    lz.next_in = plain.data();
    lz.avail_in = plain.size();
    lz.next_out = out.data() + 9;
    lz.avail_out = out.size() - 9;
    while (lzma_code(&lz, LZMA_FINISH) == LZMA_OK) {
    }
    out.resize(9 + static_cast<size_t>(lz.total_out));
    lzma_end(&lz);
    return out;
}

Bytes compressWith(uint16_t method, const Bytes& plain) {
    switch (method) {
    case 8: return rawDeflate(plain);
    case 12: return bzip2(plain);
    case 14: return zipLzma(plain, true);
    case 93: {
        Bytes out(ZSTD_compressBound(plain.size()));
        out.resize(ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), 3));
        return out;
    }
    default: return plain;
    }
}

ZipBuilder& ZipBuilder::add(TestEntry entry) {
    entries_.push_back(std::move(entry));
    return *this;
}

ZipBuilder& ZipBuilder::file(const std::string& name, const std::string& data) {
    TestEntry e;
    e.name = name;
    e.data = data;
    return add(std::move(e));
}

ZipBuilder& ZipBuilder::folder(const std::string& name) {
    TestEntry e;
    e.name = name;
    e.method = 0;
    e.external = kUnixFolder;
    return add(std::move(e));
}

ZipBuilder& ZipBuilder::prefix(Bytes bytes) {
    prefix_ = std::move(bytes);
    return *this;
}

ZipBuilder& ZipBuilder::zip64End() {
    zip64End_ = true;
    return *this;
}

namespace {

void putLe64(Bytes& b, uint64_t v) {
    putLe32(b, static_cast<uint32_t>(v));
    putLe32(b, static_cast<uint32_t>(v >> 32));
}

Bytes encrypt(const Bytes& plain, const std::string& password, uint8_t checkByte) {
    TraditionalCipher cipher(password.c_str());
    Bytes out;
    for (int i = 0; i < 11; i++) out.push_back(cipher.encryptByte(static_cast<uint8_t>(i * 37 + 11)));
    out.push_back(cipher.encryptByte(checkByte));
    for (uint8_t c : plain) out.push_back(cipher.encryptByte(c));
    return out;
}

}  // namespace

Bytes ZipBuilder::build() const {
    Bytes out, central;
    for (const TestEntry& e : entries_) {
        Bytes stored = e.stored ? *e.stored : compressWith(e.method, Bytes(e.data.begin(), e.data.end()));
        uint32_t crc = e.crc ? *e.crc : crcOf(e.data.data(), e.data.size());
        uint64_t size = e.uncompressedSize ? *e.uncompressedSize : e.data.size();
        uint16_t flags = static_cast<uint16_t>(e.flags | (e.password ? 1 : 0) | (e.dataDescriptor ? 8 : 0));
        if (e.password) {
            uint8_t check = static_cast<uint8_t>(flags & 8 ? e.dosTime >> 8 : crc >> 24);
            stored = encrypt(stored, *e.password, check);
        }
        uint32_t offset = e.centralOffset ? *e.centralOffset : static_cast<uint32_t>(out.size());
        uint64_t storedSize = e.compressedSize ? *e.compressedSize : stored.size();
        bool zip64 = e.zip64 || size > 0xFFFFFFFF;
        std::string localName = e.localName ? *e.localName : e.name;
        Bytes localExtra = e.localExtra, centralExtra = e.centralExtra;
        if (zip64) {
            Bytes block;
            putLe16(block, 1);
            putLe16(block, 16);
            putLe64(block, size);
            putLe64(block, storedSize);
            localExtra.insert(localExtra.begin(), block.begin(), block.end());
            block[2] = 24;
            putLe64(block, offset);
            centralExtra.insert(centralExtra.begin(), block.begin(), block.end());
        }
        uint32_t storedSize32 = zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(storedSize);
        uint32_t size32 = zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(size);

        if (!e.centralOnly) {
            putLe32(out, e.badLocalSignature ? 0x04034b51 : 0x04034b50);
            putLe16(out, zip64 ? 45 : 20);
            putLe16(out, flags);
            putLe16(out, e.localMethod ? *e.localMethod : e.method);
            putLe32(out, e.dosTime);
            putLe32(out, e.dataDescriptor ? 0 : crc);
            putLe32(out, e.dataDescriptor ? 0 : storedSize32);
            putLe32(out, e.dataDescriptor ? 0 : size32);
            putLe16(out, static_cast<unsigned>(localName.size()));
            putLe16(out, static_cast<unsigned>(localExtra.size()));
            putText(out, localName);
            putBytes(out, localExtra);
            putBytes(out, stored);
            if (e.dataDescriptor) {
                putLe32(out, 0x08074b50);
                putLe32(out, crc);
                if (zip64) {
                    putLe64(out, storedSize);
                    putLe64(out, size);
                } else {
                    putLe32(out, static_cast<uint32_t>(storedSize));
                    putLe32(out, static_cast<uint32_t>(size));
                }
            }
        }

        putLe32(central, 0x02014b50);
        putLe16(central, e.madeBy);
        putLe16(central, zip64 ? 45 : 20);
        putLe16(central, flags);
        putLe16(central, e.method);
        putLe32(central, e.dosTime);
        putLe32(central, crc);
        putLe32(central, storedSize32);
        putLe32(central, size32);
        putLe16(central, static_cast<unsigned>(e.name.size()));
        putLe16(central, static_cast<unsigned>(centralExtra.size()));
        putLe16(central, 0);  // comment
        putLe16(central, 0);  // disk
        putLe16(central, 0);  // internal attributes
        putLe32(central, e.external);
        putLe32(central, zip64 ? 0xFFFFFFFF : offset);
        putText(central, e.name);
        putBytes(central, centralExtra);
    }
    uint32_t centralOffset = static_cast<uint32_t>(out.size());
    putBytes(out, central);
    unsigned count = static_cast<unsigned>(entries_.size());
    if (zip64End_) {
        uint64_t recordOffset = out.size();
        putLe32(out, 0x06064b50);
        putLe64(out, 44);
        putLe16(out, 45);
        putLe16(out, 45);
        putLe32(out, 0);
        putLe32(out, 0);
        putLe64(out, count);
        putLe64(out, count);
        putLe64(out, central.size());
        putLe64(out, centralOffset);
        putLe32(out, 0x07064b50);
        putLe32(out, 0);
        putLe64(out, recordOffset);
        putLe32(out, 1);
    }
    putLe32(out, 0x06054b50);
    putLe16(out, 0);
    putLe16(out, 0);
    putLe16(out, zip64End_ ? 0xFFFF : count);
    putLe16(out, zip64End_ ? 0xFFFF : count);
    putLe32(out, zip64End_ ? 0xFFFFFFFF : static_cast<uint32_t>(central.size()));
    putLe32(out, zip64End_ ? 0xFFFFFFFF : centralOffset);
    putLe16(out, 0);
    out.insert(out.begin(), prefix_.begin(), prefix_.end());
    return out;
}

bool ZipBuilder::writeTo(const std::string& path) const {
    Bytes bytes = build();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
