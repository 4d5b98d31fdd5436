// The file source minizip reads an archive through: a Win32 file handle,
// opened for reading and shared for reading and deleting, with 64-bit positions.
// minizip reads the central directory and the local headers a few bytes at
// a time, so small reads are served from a handful of cached 64 KiB pages;
// large reads go straight to the file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include <minizip/ioapi.h>

#include "base/UniqueAny.h"

class ArchiveFile {
public:
    // The functions handed to unzOpen2_64; its path argument is the archive's
    // wide file name (const wchar_t*, which minizip passes on untouched), and minizip owns the source until it closes it.
    // opened receives the source that onOpen makes; it must outlive minizip's
    // use of the functions.
    static zlib_filefunc64_def functions(ArchiveFile** opened);

    // Reads up to size bytes at a position counted like minizip's (from the
    // start offset), large pieces straight from the file. The count read.
    size_t readAt(uint64_t position, uint8_t* buffer, size_t size);
    // The file's size, counted like minizip's positions.
    uint64_t size() const { return size_ > start_ ? size_ - start_ : 0; }

    ~ArchiveFile();

    // Another source over the same open file, with a handle, position and
    // pages of its own, for reading entry data on another thread; null when
    // the system gives no second handle.
    std::unique_ptr<ArchiveFile> reopen() const;

    static constexpr size_t kPageSize = 64 * 1024;
    static constexpr size_t kPageCount = 4;

private:
    explicit ArchiveFile(UniqueFile handle);

    static voidpf ZCALLBACK onOpen(voidpf opaque, const void* fileName, int mode);
    static uLong ZCALLBACK onRead(voidpf opaque, voidpf stream, void* buffer, uLong size);
    static uLong ZCALLBACK onWrite(voidpf opaque, voidpf stream, const void* buffer, uLong size);
    static ZPOS64_T ZCALLBACK onTell(voidpf opaque, voidpf stream);
    static long ZCALLBACK onSeek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
    static int ZCALLBACK onClose(voidpf opaque, voidpf stream);
    static int ZCALLBACK onError(voidpf opaque, voidpf stream);

    size_t read(uint8_t* buffer, size_t size);
    bool seek(int64_t offset, int origin);
    // One ReadFile at offset; the count read, 0 at the end, -1 on failure.
    int64_t readFileAt(uint64_t offset, uint8_t* buffer, DWORD size);
    struct Page;
    Page* pageFor(uint64_t offset);

    UniqueFile handle_;
    bool seekable_ = false;
    bool readError_ = false;   // a read failed or came up short
    uint64_t start_ = 0;       // where the file stood when the source was made
    uint64_t position_ = 0;    // absolute position of the next read
    uint64_t size_ = 0;
    uint64_t handlePosition_ = UINT64_MAX;  // where the handle's own file pointer stands
    std::unique_ptr<Page[]> pages_;
    uint32_t useClock_ = 0;
};
