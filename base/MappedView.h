// A range of a file mapped into the address space, read-only or writable,
// unmapped when the owner goes. The pages belong to the file: reading or
// writing through the view grows the system's file cache, not the program's
// private memory.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/UniqueAny.h"

class MappedView {
public:
    MappedView() = default;
    MappedView(MappedView&& other) noexcept
        : view_(std::move(other.view_)), data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)) {}
    MappedView& operator=(MappedView&& other) noexcept {
        if (this != &other) {
            view_ = std::move(other.view_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }

    // size bytes of file from offset. Views start on the allocation
    // granularity, so the mapping starts below offset and data() points
    // past the difference. Empty when the range cannot be mapped: size 0,
    // a range beyond the end of the file, a handle that is no disk file, or
    // no room left in the address space. A writable view needs a handle
    // opened for reading and writing.
    static MappedView map(HANDLE file, uint64_t offset, size_t size, bool writable);

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

    void reset() {
        view_.reset();
        data_ = nullptr;
        size_ = 0;
    }

private:
    UniqueView view_;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Which paths lie on fixed local drives. Only those are worth a view: a page
// that cannot be read through it (a stick pulled out, a network gone) raises
// an exception where ReadFile or WriteFile would fail cleanly. The drive type
// is asked once per volume (under Wine each question takes milliseconds), so
// an owner should live as long as one archive's extraction, not longer:
// drive letters come and go.
class FixedDrives {
public:
    bool holds(const std::wstring& path);

private:
    std::vector<std::pair<std::wstring, bool>> volumes_;  // volume path, fixed
};
