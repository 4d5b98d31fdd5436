#include "app/detect/NotifyRecordReader.h"

namespace {

uint32_t readU32(const unsigned char* p) {
    // Byte by byte: records need not be aligned in a damaged buffer.
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

bool NotifyRecordReader::next(NotifyRecord& record) {
    if (done_ || offset_ >= size_ || size_ - offset_ < kHeaderSize) return false;
    const unsigned char* p = data_ + offset_;
    uint32_t nextOffset = readU32(p + kNextOffset);
    uint32_t nameBytes = readU32(p + kNameLength);
    size_t room = size_ - offset_ - kHeaderSize;
    if (nameBytes > room) {
        done_ = true;  // the name runs past the data we were given
        return false;
    }
    record.action = readU32(p + kAction);
    record.name = p + kHeaderSize;
    record.nameBytes = nameBytes;

    // The next record must start after this one's name and inside the data.
    if (nextOffset == 0 || nextOffset < kHeaderSize + size_t(nameBytes) || nextOffset >= size_ - offset_)
        done_ = true;
    else
        offset_ += nextOffset;
    return true;
}
