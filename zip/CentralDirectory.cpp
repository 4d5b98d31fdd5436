#include "zip/CentralDirectory.h"

#include <algorithm>

#include "zip/ExtraField.h"

namespace {

constexpr size_t kRecordBytes = 46;  // the fixed part of a central record
// minizip compares sizes and offsets with (unsigned long)-1, which is 32
// bits wide on Windows, to tell that the ZIP64 block holds them.
constexpr uint64_t kAllOnes = 0xFFFFFFFF;
// Larger than any record (46 bytes and three 16-bit lengths), so that a
// record's fields always fit in the window together.
constexpr size_t kWindowBytes = 256 * 1024;

}  // namespace

// The file seen through a window that follows the records forward.
class CentralDirectory::Window {
public:
    Window(const ReadAt& read, uint64_t fileSize) : read_(read), fileSize_(fileSize) {}

    // The size bytes at offset (size at most kWindowBytes); null when any of
    // them lies past the end of the file or cannot be read.
    const uint8_t* at(uint64_t offset, size_t size) {
        if (offset >= start_ && offset - start_ <= length_ && size <= length_ - (offset - start_))
            return buffer_.get() + (offset - start_);
        if (offset >= fileSize_ || size > fileSize_ - offset) return nullptr;
        start_ = offset;
        const uint64_t want = std::min<uint64_t>(kWindowBytes, fileSize_ - offset);
        length_ = read_(offset, buffer_.get(), static_cast<size_t>(want));
        return size <= length_ ? buffer_.get() : nullptr;
    }

private:
    ReadAt read_;
    uint64_t fileSize_;
    std::unique_ptr<uint8_t[]> buffer_{new uint8_t[kWindowBytes]};
    uint64_t start_ = 0;
    size_t length_ = 0;
};

namespace {

// The record at `at` as minizip reads it when it steps onto it (without
// its name and extra field); false when that fails, which ends the stepping.
// next receives where minizip looks for the following record.
template <class Window>
bool stepOnto(Window& window, uint64_t at, CentralRecord& r, uint64_t* next) {
    const uint8_t* h = window.at(at, kRecordBytes);
    if (!h || readLe32(h) != 0x02014b50) return false;
    r.position = at;
    r.versionMadeBy = readLe16(h + 4);
    r.flags = readLe16(h + 8);
    r.method = readLe16(h + 10);
    r.dosDateTime = readLe32(h + 12);
    r.crc = readLe32(h + 16);
    r.compressedSize = readLe32(h + 20);
    r.uncompressedSize = readLe32(h + 24);
    r.nameSize = readLe16(h + 28);
    r.extraSize = readLe16(h + 30);
    const uint16_t commentSize = readLe16(h + 32);
    r.externalAttributes = readLe32(h + 38);
    uint64_t offset = readLe32(h + 42);
    *next = at + kRecordBytes + r.nameSize + r.extraSize + commentSize;

    // minizip walks the extra field by the blocks' sizes, but inside a
    // ZIP64 block it reads only the values it wants and then goes on from
    // there, as if the next block started right after them.
    uint64_t pos = r.extraPosition();
    const auto read64 = [&](uint64_t* value) {
        const uint8_t* p = window.at(pos, 8);
        if (!p) return false;
        *value = readLe64(p);
        pos += 8;
        return true;
    };
    for (uint32_t walked = 0; walked < r.extraSize;) {
        const uint8_t* block = window.at(pos, 4);
        if (!block) return false;
        const uint16_t id = readLe16(block), size = readLe16(block + 2);
        pos += 4;
        if (id == 0x0001) {
            if (r.uncompressedSize == kAllOnes && !read64(&r.uncompressedSize)) return false;
            if (r.compressedSize == kAllOnes && !read64(&r.compressedSize)) return false;
            if (offset == kAllOnes && !read64(&offset)) return false;
            // The disk number is read as 16 bits and is never all ones.
        } else {
            pos += size;
        }
        walked += 4u + size;
    }
    return true;
}

// Asked for the entry, minizip reads the whole name and extra field: their
// bytes, or null when they do not lie in the file.
template <class Window>
const uint8_t* fieldsOf(Window& window, const CentralRecord& r) {
    static const uint8_t kNothing = 0;
    const size_t size = size_t{r.nameSize} + r.extraSize;
    return size ? window.at(r.namePosition(), size) : &kNothing;
}

}  // namespace

CentralDirectory::CentralDirectory() = default;
CentralDirectory::~CentralDirectory() = default;
CentralDirectory::CentralDirectory(CentralDirectory&&) noexcept = default;

void CentralDirectory::read(const ReadAt& read, uint64_t fileSize, uint64_t start, uint64_t count,
                            const Visit& visit) {
    window_ = std::make_unique<Window>(read, fileSize);
    positions_.clear();
    // Every record takes at least 46 bytes: a count the file cannot hold
    // reserves no memory for it.
    positions_.reserve(static_cast<size_t>(std::min(count, fileSize / kRecordBytes)));
    uint64_t at = start;
    for (uint64_t i = 0; i < count; i++) {
        CentralRecord r;
        uint64_t next = 0;
        if (!stepOnto(*window_, at, r, &next)) break;
        // A position that steps is inside the file, far below the flag.
        const uint8_t* fields = fieldsOf(*window_, r);
        positions_.push_back(fields ? at : at | kUnreadable);
        if (fields && visit) visit(static_cast<size_t>(i), r, fields, fields + r.nameSize);
        at = next;
    }
}

bool CentralDirectory::record(size_t index, CentralRecord* record, const uint8_t** fields) {
    if (index >= positions_.size() || (positions_[index] & kUnreadable)) return false;
    uint64_t next = 0;
    if (!stepOnto(*window_, positions_[index], *record, &next)) return false;
    *fields = fieldsOf(*window_, *record);
    return *fields != nullptr;
}
