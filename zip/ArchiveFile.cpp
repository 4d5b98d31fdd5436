#include "zip/ArchiveFile.h"

#include <algorithm>
#include <cstring>
#include <new>

struct ArchiveFile::Page {
    uint64_t offset = UINT64_MAX;  // file offset of data[0]; UINT64_MAX when empty
    size_t length = 0;
    uint32_t lastUse = 0;
    std::unique_ptr<uint8_t[]> data;
};

zlib_filefunc64_def ArchiveFile::functions(ArchiveFile** opened) {
    zlib_filefunc64_def f{};
    f.zopen64_file = onOpen;
    f.zread_file = onRead;
    f.zwrite_file = onWrite;
    f.ztell64_file = onTell;
    f.zseek64_file = onSeek;
    f.zclose_file = onClose;
    f.zerror_file = onError;
    f.opaque = opened;
    return f;
}

// minizip is C: nothing may be thrown through it, so every allocation here
// asks for nothrow and a failed one reads as a failed open or a failed read.
ArchiveFile::ArchiveFile(UniqueFile handle) : handle_(std::move(handle)), pages_(new (std::nothrow) Page[kPageCount]) {
    LARGE_INTEGER zero{}, here{};
    seekable_ = ::SetFilePointerEx(handle_.get(), zero, &here, FILE_CURRENT) != 0;
    if (seekable_) start_ = position_ = handlePosition_ = static_cast<uint64_t>(here.QuadPart);
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(handle_.get(), &size)) size_ = static_cast<uint64_t>(size.QuadPart);
}

ArchiveFile::~ArchiveFile() = default;

std::unique_ptr<ArchiveFile> ArchiveFile::reopen() const {
    // The same file, even if it was renamed or replaced since it was opened.
    UniqueFile h(::ReOpenFile(handle_.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0));
    if (!h) return nullptr;
    std::unique_ptr<ArchiveFile> file(new (std::nothrow) ArchiveFile(std::move(h)));
    if (!file || !file->pages_) return nullptr;
    file->start_ = file->position_ = start_;
    file->handlePosition_ = UINT64_MAX;
    return file;
}

voidpf ZCALLBACK ArchiveFile::onOpen(voidpf opaque, const void* fileName, int mode) {
    if (!fileName || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    // Others may read the archive while it is open, and rename, move or
    // delete it: the open handle goes on reading what it opened. Writing to
    // it is refused, so what was judged and listed does not change underneath.
    UniqueFile h(::CreateFileW(static_cast<const wchar_t*>(fileName), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return nullptr;
    auto* file = new (std::nothrow) ArchiveFile(std::move(h));
    if (!file) return nullptr;
    if (!file->pages_) {
        delete file;
        return nullptr;
    }
    if (opaque) *static_cast<ArchiveFile**>(opaque) = file;
    return file;
}

uLong ZCALLBACK ArchiveFile::onRead(voidpf, voidpf stream, void* buffer, uLong size) {
    return static_cast<uLong>(static_cast<ArchiveFile*>(stream)->read(static_cast<uint8_t*>(buffer), size));
}

uLong ZCALLBACK ArchiveFile::onWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK ArchiveFile::onTell(voidpf, voidpf stream) {
    auto* file = static_cast<ArchiveFile*>(stream);
    return file->seekable_ ? file->position_ - file->start_ : 0;
}

long ZCALLBACK ArchiveFile::onSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    return static_cast<ArchiveFile*>(stream)->seek(static_cast<int64_t>(offset), origin) ? 0 : -1;
}

int ZCALLBACK ArchiveFile::onClose(voidpf, voidpf stream) {
    delete static_cast<ArchiveFile*>(stream);
    return 0;
}

int ZCALLBACK ArchiveFile::onError(voidpf, voidpf stream) { return static_cast<ArchiveFile*>(stream)->readError_; }

bool ArchiveFile::seek(int64_t offset, int origin) {
    if (!seekable_) return false;
    int64_t base;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = static_cast<int64_t>(start_); break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = static_cast<int64_t>(position_); break;
        case ZLIB_FILEFUNC_SEEK_END: base = static_cast<int64_t>(size_); break;
        default: return false;
    }
    int64_t target = base + offset;
    if (target < 0) return false;
    position_ = static_cast<uint64_t>(target);
    return true;
}

int64_t ArchiveFile::readFileAt(uint64_t offset, uint8_t* buffer, DWORD size) {
    // Sequential reads need no seek; the handle's position is remembered.
    if (offset != handlePosition_) {
        LARGE_INTEGER to{};
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(handle_.get(), to, nullptr, FILE_BEGIN)) {
            readError_ = true;
            return -1;
        }
        handlePosition_ = offset;
    }
    DWORD got = 0;
    if (!::ReadFile(handle_.get(), buffer, size, &got, nullptr)) {
        handlePosition_ = UINT64_MAX;  // unknown after a failure
        readError_ = true;
        return -1;
    }
    handlePosition_ += got;
    return got;
}

ArchiveFile::Page* ArchiveFile::pageFor(uint64_t offset) {
    uint64_t pageOffset = offset - offset % kPageSize;
    Page* victim = &pages_[0];
    for (size_t i = 0; i < kPageCount; i++) {
        Page& p = pages_[i];
        if (p.offset == pageOffset) {
            p.lastUse = ++useClock_;
            return &p;
        }
        if (p.lastUse < victim->lastUse) victim = &p;
    }
    if (!victim->data) victim->data.reset(new (std::nothrow) uint8_t[kPageSize]);
    if (!victim->data) {
        readError_ = true;
        return nullptr;
    }
    victim->offset = UINT64_MAX;
    int64_t got = readFileAt(pageOffset, victim->data.get(), kPageSize);
    if (got < 0) return nullptr;
    victim->offset = pageOffset;
    victim->length = static_cast<size_t>(got);
    victim->lastUse = ++useClock_;
    return victim;
}

size_t ArchiveFile::readAt(uint64_t position, uint8_t* buffer, size_t size) {
    position_ = start_ + position;
    return read(buffer, size);
}

size_t ArchiveFile::read(uint8_t* buffer, size_t size) {
    size_t done = 0;
    while (done < size && position_ < size_) {
        size_t want = size - done;
        if (want >= kPageSize) {
            DWORD piece = static_cast<DWORD>(std::min<size_t>(want, 1u << 30));
            int64_t got = readFileAt(position_, buffer + done, piece);
            if (got <= 0) break;
            position_ += static_cast<uint64_t>(got);
            done += static_cast<size_t>(got);
            continue;
        }
        Page* page = pageFor(position_);
        if (!page) break;
        size_t inPage = static_cast<size_t>(position_ - page->offset);
        if (inPage >= page->length) break;
        size_t n = std::min(want, page->length - inPage);
        std::memcpy(buffer + done, page->data.get() + inPage, n);
        position_ += n;
        done += n;
    }
    // minizip asks for the error flag only after a short read of a header
    // field, and takes "no error" for a clean end of file, reading the
    // missing bytes as zeros. A header cut by the end of the file is broken.
    if (done < size) readError_ = true;
    return done;
}
