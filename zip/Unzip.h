// The archive object type `ZIP解压` (English name `unzip`): opens one ZIP
// archive, counts and describes its entries and extracts them to disk.
// Paths and names come in two forms: wide (UTF-16, what extraction and the
// window use) and the older byte strings in the system ANSI code page, kept
// for callers that want them (converted to wide on the way in). Relative
// extraction names are checked and made below the base folder in their
// Unicode form; paths may be up to 32,767 characters long. Nothing is thrown across this interface:
// operations return bool, a result code or a record.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/EntryBatch.h"
#include "zip/ArchiveVerdict.h"
#include "zip/ZipResult.h"

// One entry as the application sees it. Times are OLE automation dates
// (days since 1899-12-30) in local time.
struct EntryInfo {
    int32_t index = -1;          // -1 when the query failed
    std::string name;            // unicodeName in the ANSI code page, "_" for what it lacks; empty for none
    std::wstring unicodeName;    // the cleaned name as its maker wrote it, decoded
    int32_t attributes = 0;      // FILE_ATTRIBUTE_* bits
    double accessTime = 0;
    double creationTime = 0;
    double modificationTime = 0;
    int32_t compressedSize = 0;      // the largest int32 from 2 GiB on
    int32_t uncompressedSize = 0;
    uint64_t fullCompressedSize = 0;  // the sizes as stored, for listings
    uint64_t fullUncompressedSize = 0;
};

class ArchiveReader;

class Unzip {
public:
    Unzip();
    ~Unzip();
    Unzip(const Unzip&) = delete;
    Unzip& operator=(const Unzip&) = delete;

    // Closes what the object holds, then opens fileName. True when an archive is held.
    bool open(const std::string& fileName, const char* password = nullptr);
    bool open(const std::wstring& fileName, const char* password = nullptr);
    int32_t entryCount() const;                 // 0 when nothing is open
    EntryInfo entryInfo(int32_t index);
    int32_t setBaseFolder(const std::string& folder);
    int32_t setBaseFolder(const std::wstring& folder);
    int32_t extractEntry(int32_t index, const std::string& fileName);
    int32_t extractEntry(int32_t index, const std::wstring& fileName);
    // Extracts the entries on up to `threads` threads, as
    // Archive::extractEntries says; false, with nothing done, when nothing
    // is open or the archive cannot be read through a second handle. The
    // piece hook is none afterwards.
    bool extractEntries(const std::vector<EntryRequest>& entries, unsigned threads, const BatchEvents& events);
    void close();
    // Runs between pieces of an extracted entry's data with the stored bytes
    // just read (progress), and with 0 after every MiB written (so that a
    // small piece that expands hugely is no obstacle to a cancel); returning
    // false abandons the entry, which then leaves no file and returns
    // kZipCancelled. Kept across open and close.
    void setPieceHook(std::function<bool(uint64_t storedBytes)> hook);
    // Runs for every file an entry writes, once its data is complete and
    // checked, before it is moved into place and before its times are set,
    // with the path of the file being written (the target itself or a
    // temporary file beside it), as the wide API takes it: in the extended
    // form ("\\?\...") when it is long. Returning false fails the entry
    // with kZipMarkFailed and removes the file. Kept across open and close.
    using CompletedFileHook = std::function<bool(const std::wstring& writtenPath)>;
    void setCompletedFileHook(CompletedFileHook hook);
    // The password for encrypted entries extracted from now on (null for
    // none), as if the archive had been opened with it.
    void setPassword(const char* password);
    bool isOpen() const { return reader_ != nullptr; }
    // What the archive holds, judged from its central directory when it was
    // opened (no entry data is read); an empty verdict when nothing is open.
    const ArchiveVerdict& verdict() const;
    EntryVerdict entryVerdict(int32_t index) const;

private:
    std::unique_ptr<ArchiveReader> reader_;
    std::function<bool(uint64_t)> pieceHook_;
    CompletedFileHook completedFileHook_;
};

// The designer's name of the type.
using ZIP解压 = Unzip;
