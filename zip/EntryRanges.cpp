#include "zip/EntryRanges.h"

#include <algorithm>

#include "zip/ExtraField.h"
#include "zip/ZipResult.h"

namespace {

constexpr uint64_t kMaxBack = 0xFFFF;  // how far from the end minizip looks for the end records
constexpr size_t kCentralRecord = 46;
constexpr size_t kLocalHeader = 30;
constexpr uint32_t kUnset32 = 0xFFFFFFFF;

bool readExactly(const EntryRanges::ReadAt& read, uint64_t offset, uint8_t* buffer, size_t size) {
    return read(offset, buffer, size) == size;
}

// The last position in the final 64 KiB that starts the four signature
// bytes; 0 for none (minizip does not look at offset 0 either).
uint64_t searchBack(const EntryRanges::ReadAt& read, uint64_t fileSize, const uint8_t signature[4]) {
    uint64_t back = std::min(kMaxBack, fileSize);
    if (back < 4) return 0;
    std::vector<uint8_t> tail(static_cast<size_t>(back));
    uint64_t start = fileSize - back;
    if (!readExactly(read, start, tail.data(), tail.size())) return 0;
    for (size_t i = tail.size() - 4 + 1; i-- > 0;) {
        if (std::equal(signature, signature + 4, tail.begin() + static_cast<long>(i))) return start + i;
    }
    return 0;
}

bool addWithoutOverflow(uint64_t a, uint64_t b, uint64_t* sum) {
    *sum = a + b;
    return *sum >= a;
}

}  // namespace

bool EntryRanges::build(const ReadAt& read, uint64_t fileSize) {
    ranges_.clear();
    count_ = directoryOffset_ = directoryStart_ = prefix_ = firstRecord_ = 0;
    endRecordsRead_ = false;
    if (!readEndRecords(read, fileSize)) return false;
    // Every record takes at least 46 bytes: a count the file cannot hold
    // reserves no memory for it.
    ranges_.reserve(static_cast<size_t>(std::min(count_, fileSize / kCentralRecord)));
    walkDirectory(read);
    setLimits();
    return true;
}

bool EntryRanges::readEndRecords(const ReadAt& read, uint64_t fileSize) {
    // The ZIP64 locator is looked for first; when it is sound, its end record
    // holds the counts, sizes and offsets.
    static const uint8_t kLocator[4] = {'P', 'K', 6, 7};
    static const uint8_t kEnd[4] = {'P', 'K', 5, 6};
    uint64_t endPosition = 0, directorySize = 0;
    bool zip64 = false;
    if (uint64_t at = searchBack(read, fileSize, kLocator)) {
        uint8_t locator[20], record[56];
        if (readExactly(read, at, locator, sizeof locator) && readLe32(locator + 4) == 0 &&
            readLe32(locator + 16) == 1) {
            uint64_t recordAt = readLe64(locator + 8);
            uint8_t signature[4];
            if (readExactly(read, recordAt, signature, 4) && readLe32(signature) == 0x06064b50) {
                if (!readExactly(read, recordAt, record, sizeof record)) return false;
                if (readLe32(record + 16) != 0 || readLe32(record + 20) != 0) return false;
                count_ = readLe64(record + 24);
                if (readLe64(record + 32) != count_) return false;
                directorySize = readLe64(record + 40);
                directoryOffset_ = readLe64(record + 48);
                endPosition = recordAt;
                zip64 = true;
            }
        }
    }
    if (!zip64) {
        uint64_t at = searchBack(read, fileSize, kEnd);
        uint8_t record[22];
        if (!at || !readExactly(read, at, record, sizeof record)) return false;
        if (readLe16(record + 4) != 0 || readLe16(record + 6) != 0) return false;
        count_ = readLe16(record + 8);
        if (readLe16(record + 10) != count_) return false;
        directorySize = readLe32(record + 12);
        directoryOffset_ = readLe32(record + 16);
        endPosition = at;
    }
    // minizip reads the first record this far before the end record even
    // when the directory's offset and size do not add up.
    firstRecord_ = endPosition - directorySize;
    endRecordsRead_ = true;
    uint64_t directoryEnd = 0;
    if (!addWithoutOverflow(directoryOffset_, directorySize, &directoryEnd) || endPosition < directoryEnd)
        return false;
    // Bytes before the archive (a self-extractor's program) shift every
    // offset the records give, as minizip reckons them.
    prefix_ = endPosition - directoryEnd;
    directoryStart_ = directoryOffset_ + prefix_;
    return true;
}

void EntryRanges::walkDirectory(const ReadAt& read) {
    uint64_t at = directoryStart_;
    std::vector<uint8_t> extra;
    for (uint64_t i = 0; i < count_; i++) {
        uint8_t record[kCentralRecord];
        if (!readExactly(read, at, record, sizeof record) || readLe32(record) != 0x02014b50) return;
        uint32_t compressed = readLe32(record + 20), uncompressed = readLe32(record + 24);
        uint16_t nameSize = readLe16(record + 28), extraSize = readLe16(record + 30),
                 commentSize = readLe16(record + 32);
        uint64_t offset = readLe32(record + 42);
        if (offset == kUnset32 && extraSize > 0) {
            // The ZIP64 block holds, in this order, the fields whose 32-bit
            // values are all ones: uncompressed size, compressed size, offset.
            extra.resize(extraSize);
            if (!readExactly(read, at + kCentralRecord + nameSize, extra.data(), extra.size())) return;
            for (size_t b = 0; b + 4 <= extra.size();) {
                uint16_t id = readLe16(&extra[b]), size = readLe16(&extra[b + 2]);
                if (id == 1) {
                    size_t field = b + 4 + (uncompressed == kUnset32 ? 8 : 0) + (compressed == kUnset32 ? 8 : 0);
                    if (field + 8 <= b + 4 + size && field + 8 <= extra.size()) offset = readLe64(&extra[field]);
                    break;
                }
                b += 4 + size;
            }
        }
        uint64_t absolute = 0;
        if (!addWithoutOverflow(offset, prefix_, &absolute)) absolute = UINT64_MAX;
        ranges_.push_back(Range{absolute, 0});
        at += kCentralRecord + nameSize + extraSize + commentSize;
    }
}

void EntryRanges::setLimits() {
    std::vector<uint32_t> order(ranges_.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = static_cast<uint32_t>(i);
    const auto byOffset = [this](uint32_t a, uint32_t b) { return ranges_[a].offset < ranges_[b].offset; };
    // Archivers write the records in the order of the entries: mostly
    // there is nothing to sort.
    if (!std::is_sorted(order.begin(), order.end(), byOffset)) std::sort(order.begin(), order.end(), byOffset);
    for (size_t k = 0; k < order.size();) {
        // Entries sharing one header all stay refused (limit 0).
        size_t same = k + 1;
        while (same < order.size() && ranges_[order[same]].offset == ranges_[order[k]].offset) same++;
        if (same == k + 1) {
            uint64_t next = same < order.size() ? ranges_[order[same]].offset : UINT64_MAX;
            ranges_[order[k]].limit = std::min(next, directoryStart_);
        }
        k = same;
    }
}

bool EntryRanges::mayHold(uint64_t index, uint64_t leastBytes) const {
    if (index >= ranges_.size()) return false;
    const Range& r = ranges_[index];
    return r.limit > r.offset && r.limit - r.offset >= leastBytes;
}

int32_t EntryRanges::check(uint64_t index, uint64_t headerStart, uint64_t dataEnd) const {
    if (index >= ranges_.size()) return kZipBadEntry;
    const Range& r = ranges_[index];
    // A header minizip found elsewhere means the two readings of the
    // directory differ: nothing is known about this entry's neighbours.
    if (r.offset != headerStart) return kZipBadEntry;
    if (dataEnd < headerStart || dataEnd - headerStart < kLocalHeader || dataEnd > r.limit) return kZipBadEntry;
    return kZipOk;
}

std::optional<uint64_t> EntryRanges::headerOffset(uint64_t index) const {
    if (index >= ranges_.size()) return std::nullopt;
    return ranges_[index].offset;
}
