// The extra-field readers on arbitrary fields: the first input byte splits
// the rest into a stored name and an extra field.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "zip/ExtraField.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t nameLength = data[0] < size - 1 ? data[0] : size - 1;
    std::string_view name(reinterpret_cast<const char*>(data + 1), nameLength);
    const uint8_t* field = data + 1 + nameLength;
    size_t fieldSize = size - 1 - nameLength;
    findExtendedTimestamp(field, fieldSize);
    if (auto path = findUnicodePath(field, fieldSize, name)) {
        if (path->size() + 9 > fieldSize) std::abort();  // header and version/CRC come first
    }
    if (findAesExtra(field, fieldSize) && fieldSize < 11) std::abort();  // a whole 0x9901 block
    return 0;
}
