// Where each entry's local header starts and how far the entry may reach,
// read from the central directory apart from minizip. An entry's range runs
// from its local header to the end of its stored data; it must end before
// the next entry's header and before the central directory. Overlapping
// entries are how zip bombs multiply a few kilobytes into terabytes (every
// entry inflates the same bytes again), so an entry that shares its header
// with another, or that runs into the next one or the directory, is refused,
// as the strictest extractors do.
//
// Only the offsets are kept (16 bytes an entry), so a directory of 100,000
// entries costs about 2 MB while it is sorted and half of that afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class EntryRanges {
public:
    // Reads up to size bytes at an absolute file offset; the count read.
    using ReadAt = std::function<size_t(uint64_t offset, uint8_t* buffer, size_t size)>;

    // Finds the end records the way minizip does (the last signature in the
    // final 64 KiB, a ZIP64 locator first) and walks the central directory.
    // False when the end records cannot be read: every entry is refused then.
    // A directory that breaks off early leaves the entries after the break
    // refused.
    bool build(const ReadAt& read, uint64_t fileSize);

    // What the end records say, for comparison with what minizip read.
    uint64_t entryCount() const { return count_; }
    uint64_t directoryOffset() const { return directoryOffset_; }  // as stored, without any prefix
    // Whether the end records were read, even if their offset and size did
    // not add up, and where minizip then looks for the first central record
    // (absolute; the end record's position less the directory's size).
    bool endRecordsRead() const { return endRecordsRead_; }
    uint64_t firstRecord() const { return firstRecord_; }

    // 0 when entry index's local header starts at headerStart and its stored
    // data ends at dataEnd (absolute offsets, as minizip reads them) inside
    // its own range; kZipBadEntry when it overlaps another entry or the
    // directory, or when minizip's view of it differs from this one.
    int32_t check(uint64_t index, uint64_t headerStart, uint64_t dataEnd) const;

    // Whether entry index has room for leastBytes from its local header on
    // before the next entry or the directory: what the central record alone
    // tells, before the local header is read.
    bool mayHold(uint64_t index, uint64_t leastBytes) const;

    // Where entry index's local header starts (absolute); nothing when the
    // directory broke off before it.
    std::optional<uint64_t> headerOffset(uint64_t index) const;

private:
    struct Range {
        uint64_t offset;  // absolute offset of the local header
        uint64_t limit;   // first byte the entry may not touch; 0 when refused
    };
    bool readEndRecords(const ReadAt& read, uint64_t fileSize);
    void walkDirectory(const ReadAt& read);
    void setLimits();

    uint64_t count_ = 0;
    uint64_t directoryOffset_ = 0;
    uint64_t directoryStart_ = 0;  // absolute
    uint64_t prefix_ = 0;          // bytes before the archive proper (self-extractors)
    uint64_t firstRecord_ = 0;
    bool endRecordsRead_ = false;
    std::vector<Range> ranges_;
};
