#include "zip/ExtraField.h"

#include <zlib.h>

ExtendedTimestamp findExtendedTimestamp(const uint8_t* field, size_t size) {
    ExtendedTimestamp result;
    if (size <= 4) return result;
    size_t offset = 0;
    do {
        size_t dataSize = readLe16(field + offset + 2);
        if (field[offset] == 'U' && field[offset + 1] == 'T') {
            size_t flagsAt = offset + 4;
            if (flagsAt >= size || dataSize < 1) return result;
            // A time counts only when it lies inside the block and the field:
            // central-directory style blocks flag times they do not carry.
            size_t end = flagsAt + dataSize < size ? flagsAt + dataSize : size;
            uint8_t flags = field[flagsAt];
            size_t at = flagsAt + 1;
            std::optional<int32_t>* slots[3] = {&result.modification, &result.access, &result.creation};
            for (int bit = 0; bit < 3; bit++) {
                if (!(flags & (1 << bit))) continue;
                if (at + 4 > end) break;
                *slots[bit] = static_cast<int32_t>(readLe32(field + at));
                at += 4;
            }
            return result;
        }
        offset += 4 + dataSize;
    } while (offset + 4 < size);
    return result;
}

std::optional<AesExtra> findAesExtra(const uint8_t* field, size_t size) {
    for (size_t offset = 0; offset + 4 <= size;) {
        uint16_t id = readLe16(field + offset);
        size_t dataSize = readLe16(field + offset + 2);
        const uint8_t* data = field + offset + 4;
        if (offset + 4 + dataSize > size) break;
        if (id == 0x9901 && dataSize == 7 && data[2] == 'A' && data[3] == 'E')
            return AesExtra{readLe16(data), data[4], readLe16(data + 5)};
        offset += 4 + dataSize;
    }
    return std::nullopt;
}

std::optional<std::string> findUnicodePath(const uint8_t* field, size_t size, std::string_view storedName) {
    size_t offset = 0;
    while (offset + 4 <= size) {
        uint16_t id = readLe16(field + offset);
        size_t dataSize = readLe16(field + offset + 2);
        const uint8_t* data = field + offset + 4;
        if (offset + 4 + dataSize > size) break;
        if (id == 0x7075 && dataSize >= 5 && data[0] == 1) {
            uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(storedName.data()), static_cast<uInt>(storedName.size()));
            if (readLe32(data + 1) != static_cast<uint32_t>(crc)) return std::nullopt;
            return std::string(reinterpret_cast<const char*>(data + 5), dataSize - 5);
        }
        offset += 4 + dataSize;
    }
    return std::nullopt;
}
