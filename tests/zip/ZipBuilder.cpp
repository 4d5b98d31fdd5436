#include "ZipBuilder.h"

#include <zlib.h>

#include <cstdio>

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

Bytes rawDeflate(const void* data, size_t size) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
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

Bytes ZipBuilder::build() const {
    Bytes out, central;
    for (const TestEntry& e : entries_) {
        Bytes stored = e.stored ? *e.stored : e.method == 8 ? rawDeflate(e.data) : Bytes(e.data.begin(), e.data.end());
        uint32_t crc = e.crc ? *e.crc : crcOf(e.data.data(), e.data.size());
        uint32_t size = e.uncompressedSize ? *e.uncompressedSize : static_cast<uint32_t>(e.data.size());
        uint32_t offset = static_cast<uint32_t>(out.size());
        std::string localName = e.localName ? *e.localName : e.name;

        putLe32(out, e.badLocalSignature ? 0x04034b51 : 0x04034b50);
        putLe16(out, 20);
        putLe16(out, e.flags);
        putLe16(out, e.localMethod ? *e.localMethod : e.method);
        putLe32(out, e.dosTime);
        putLe32(out, crc);
        putLe32(out, static_cast<uint32_t>(stored.size()));
        putLe32(out, size);
        putLe16(out, static_cast<unsigned>(localName.size()));
        putLe16(out, static_cast<unsigned>(e.localExtra.size()));
        putText(out, localName);
        putBytes(out, e.localExtra);
        putBytes(out, stored);

        putLe32(central, 0x02014b50);
        putLe16(central, e.madeBy);
        putLe16(central, 20);
        putLe16(central, e.flags);
        putLe16(central, e.method);
        putLe32(central, e.dosTime);
        putLe32(central, crc);
        putLe32(central, static_cast<uint32_t>(stored.size()));
        putLe32(central, size);
        putLe16(central, static_cast<unsigned>(e.name.size()));
        putLe16(central, static_cast<unsigned>(e.centralExtra.size()));
        putLe16(central, 0);  // comment
        putLe16(central, 0);  // disk
        putLe16(central, 0);  // internal attributes
        putLe32(central, e.external);
        putLe32(central, offset);
        putText(central, e.name);
        putBytes(central, e.centralExtra);
    }
    uint32_t centralOffset = static_cast<uint32_t>(out.size());
    putBytes(out, central);
    putLe32(out, 0x06054b50);
    putLe16(out, 0);
    putLe16(out, 0);
    putLe16(out, static_cast<unsigned>(entries_.size()));
    putLe16(out, static_cast<unsigned>(entries_.size()));
    putLe32(out, static_cast<uint32_t>(central.size()));
    putLe32(out, centralOffset);
    putLe16(out, 0);
    return out;
}

bool ZipBuilder::writeTo(const std::string& path) const {
    Bytes bytes = build();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
