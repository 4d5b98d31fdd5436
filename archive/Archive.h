// One open archive of any format the program reads, as the application sees
// it: its entries with Unicode names and 64-bit sizes, the verdict made when
// it was opened, and extraction of one entry at a time, or of many in one
// batch, through the one output path (archive/OutputPath.h), with the
// result codes of zip/ZipResult.h. openArchive chooses the reader by the
// file's content, never by its name: ZIP goes to our own reader, the other
// formats to libarchive. Nothing is thrown across this interface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/EntryBatch.h"
#include "zip/ArchiveVerdict.h"
#include "zip/Unzip.h"
#include "zip/ZipResult.h"

class Archive {
public:
    virtual ~Archive() = default;

    virtual ArchiveFormat format() const = 0;
    virtual int32_t entryCount() const = 0;
    // Entry index as the listing shows it; index -1 in the result when it
    // cannot be read. Sizes the format does not declare per entry (packed
    // sizes of 7z, RAR and compressed streams) are 0.
    virtual EntryInfo entryInfo(int32_t index) = 0;
    // What the archive holds, judged when it was opened.
    virtual const ArchiveVerdict& verdict() const = 0;
    EntryVerdict entryVerdict(int32_t index) const {
        return index < 0 ? EntryVerdict{} : verdict().entry(static_cast<size_t>(index));
    }
    // True when the archive's names are encrypted (7z -mhe, RAR header
    // encryption): it opens, lists no entries, and cannot be extracted here.
    virtual bool namesEncrypted() const { return false; }

    virtual int32_t setBaseFolder(const std::wstring& folder) = 0;
    // Writes entry index to fileName, relative to the base folder unless
    // absolute. Entries are cheapest in ascending order: solid archives are
    // read forward once.
    virtual int32_t extractEntry(int32_t index, const std::wstring& fileName) = 0;
    // Extracts the entries as extractEntry would one after the other in the
    // list's order, with the same files on disk and the same code for each
    // (see archive/EntryBatch.h for what the caller is told). A format whose
    // entries can be read apart (ZIP) writes them on up to `threads` threads,
    // every decision that depends on the order made before an entry is
    // handed out; the others, and threads 1, go one after the other. The
    // batch's piece stands in for the piece hook, which is none afterwards.
    virtual void extractEntries(const std::vector<EntryRequest>& entries, unsigned threads, const BatchEvents& events);

    // Runs between pieces of an entry's data with the stored bytes just read
    // (0 when it only asks), at least every MiB written; false abandons the
    // entry, which then leaves no file and returns kZipCancelled.
    virtual void setPieceHook(std::function<bool(uint64_t storedBytes)> hook) = 0;
    // Runs for every file an entry writes, complete and checked, before it
    // is moved into place, with the path being written; false fails the
    // entry with kZipMarkFailed and keeps nothing of it.
    virtual void setCompletedFileHook(std::function<bool(const std::wstring& writtenPath)> hook) = 0;
    // The password for encrypted entries extracted from now on (null for
    // none); formats whose encryption is not decrypted here ignore it.
    virtual void setPassword(const char* password) = 0;
};

// The threads a batch uses unless told otherwise: twice the machine's
// processors, at most kMaxExtractionThreads. A writer of small files spends
// most of its time waiting while the system creates and closes them, not on
// a processor (20,000 small files: 10.5 s on 2 threads, 8.3 s on 4, with 2
// processors under Wine).
constexpr unsigned kMaxExtractionThreads = 8;
unsigned defaultExtractionThreads();

// Opens the archive at path by its content; null when no reader can read it.
std::unique_ptr<Archive> openArchive(const std::wstring& path, const char* password = nullptr);
