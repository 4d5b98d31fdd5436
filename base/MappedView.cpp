#include "base/MappedView.h"

#include <cstdint>

MappedView MappedView::map(HANDLE file, uint64_t offset, size_t size, bool writable) {
    MappedView mapped;
    if (size == 0 || ::GetFileType(file) != FILE_TYPE_DISK) return mapped;
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const uint64_t start = offset - offset % system.dwAllocationGranularity;
    const size_t lead = static_cast<size_t>(offset - start);
    if (size > SIZE_MAX - lead) return mapped;
    // The section spans the file as it is; a range beyond its end is refused
    // by MapViewOfFile. The view keeps the section alive on its own.
    UniqueHandle section(
        ::CreateFileMappingW(file, nullptr, writable ? PAGE_READWRITE : PAGE_READONLY, 0, 0, nullptr));
    if (!section) return mapped;
    void* view = ::MapViewOfFile(section.get(), writable ? FILE_MAP_WRITE : FILE_MAP_READ,
                                 static_cast<DWORD>(start >> 32), static_cast<DWORD>(start), lead + size);
    if (!view) return mapped;
    mapped.view_.reset(view);
    mapped.data_ = static_cast<uint8_t*>(view) + lead;
    mapped.size_ = size;
    return mapped;
}
