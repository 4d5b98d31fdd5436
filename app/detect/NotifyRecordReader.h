// Walks the change records that ReadDirectoryChangesW leaves in a buffer
// (the FILE_NOTIFY_INFORMATION layout) without trusting them: only records
// that lie wholly inside the byte count the read returned are visited, and a
// NextEntryOffset that points backwards, into the record itself or past the
// end stops the walk. No Windows headers, so the host tests run it under the
// sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>

struct NotifyRecord {
    uint32_t action = 0;            // 1 added, 2 removed, 3 modified, 4 old name, 5 new name
    const unsigned char* name = nullptr;  // UTF-16LE, not terminated, maybe unaligned
    size_t nameBytes = 0;
};

class NotifyRecordReader {
public:
    NotifyRecordReader(const void* buffer, size_t byteCount)
        : data_(static_cast<const unsigned char*>(buffer)), size_(buffer ? byteCount : 0) {}

    // Fills record with the next record and returns true; false at the end.
    bool next(NotifyRecord& record);

    // Field offsets of one record.
    static constexpr size_t kNextOffset = 0, kAction = 4, kNameLength = 8, kHeaderSize = 12;

private:
    const unsigned char* data_;
    size_t size_;
    size_t offset_ = 0;
    bool done_ = false;
};
