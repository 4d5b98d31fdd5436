// One open archive: opened by minizip over an ArchiveFile, its central
// records read once as minizip reads them, the entry most recently read (a
// one-entry cache), the password and the base folder that relative
// extraction names are joined to.
#pragma once

#include <windows.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <minizip/unzip.h>

#include "archive/EntryBatch.h"
#include "archive/OutputPath.h"
#include "base/UniqueAny.h"
#include "zip/ArchiveVerdict.h"
#include "zip/CentralDirectory.h"
#include "zip/EntryDecoder.h"
#include "zip/EntryName.h"
#include "zip/EntryRanges.h"
#include "zip/ExtraField.h"
#include "zip/NameEncoding.h"

// What the library knows of one entry after reading its central record and
// local header.
struct EntryDetails {
    int32_t index = -1;
    std::wstring unicodeName;    // decoded and cleaned
    std::string name;            // the same in the ANSI code page, "_" for what it lacks
    uint32_t attributes = 0;     // FILE_ATTRIBUTE_* bits
    FILETIME accessTime{}, creationTime{}, modificationTime{};  // UTC
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t dataOffset = 0;     // where the stored bytes start
    // What extraction needs from the central record.
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t dosDateTime = 0;
    std::optional<AesExtra> aes;  // WinZip AES (method 99)
};

// What extracting an entry needs before its data (ArchiveReader::prepareEntry).
struct PreparedEntry {
    const EntryDetails* details = nullptr;  // the entry, when it could be read
    bool write = false;                     // a file to write: the rest is set
    std::wstring output;                    // where its data goes, its path claimed
    size_t folderLength = 0;
    MadeFolders made;                       // the folders made on its way
};

// The ANSI code page's lead bytes, as the system reports them.
bool isAnsiLeadByte(unsigned char byte);

class ArchiveFile;
class ByteSink;
class EntryDecoder;

class ArchiveReader {
public:
    // Opens the archive, or nothing when the file cannot be opened or holds no
    // readable end-of-central-directory record.
    static std::unique_ptr<ArchiveReader> open(const std::wstring& fileName, const char* password);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    int32_t entryCount() const { return count_; }
    // The verdict on every entry, made from the central directory at open.
    const ArchiveVerdict& verdict() const { return verdict_; }

    // Entry index's details, read or taken from the cache: 0 or a result code.
    // The cache is left as it was when reading fails.
    int32_t readEntry(int32_t index, const EntryDetails** details);

    // The folder relative names are extracted to, made absolute.
    int32_t setBaseFolder(const std::wstring& folder) { return output_.setBaseFolder(folder); }
    const std::wstring& baseFolder() const { return output_.baseFolder(); }

    // Writes entry index to fileName, relative to the base folder unless
    // absolute. Defined in Extraction.cpp.
    int32_t extractEntry(int32_t index, const std::wstring& fileName);

    // Everything extractEntry does before an entry's data, in its order:
    // the entry read, its name resolved, a folder entry's folder made, a
    // method it cannot decode refused, a file entry's folders made and path
    // claimed (p.write). 0 or the entry's result code. With mustWait, an
    // entry whose preparation depends on how entries prepared earlier end
    // (see OutputFolder::dependsOnUnfinished) sets it and is left as it was.
    int32_t prepareEntry(int32_t index, const std::wstring& fileName, PreparedEntry& p, bool* mustWait = nullptr);

    // Extracts the entries as Archive::extractEntries says, on up to
    // `threads` threads that each read the archive through a handle of
    // their own. False, with nothing done, when no second handle can be
    // had. Defined in BatchExtraction.cpp.
    bool extractEntries(const std::vector<EntryRequest>& entries, unsigned threads, const BatchEvents& events);

    // Called between pieces of an entry's data with the stored bytes just
    // taken in, and at least every MiB written; false abandons the entry
    // (kZipCancelled).
    using PieceHook = ::PieceHook;
    void setPieceHook(PieceHook hook) { pieceHook_ = std::move(hook); }

    // Called with the path of each file an entry wrote, complete and
    // checked, before it is moved into place and its times are set.
    using CompletedFileHook = ::CompletedFileHook;
    void setCompletedFileHook(CompletedFileHook hook) { completedFileHook_ = std::move(hook); }

    // The password for encrypted entries extracted from now on; null for none.
    // During a batch, also for the entries its threads start from now on.
    void setPassword(const char* password);

private:
    struct Batch;

    ArchiveReader();
    // Another reader of the same open file, for writing prepared entries on
    // another thread: a handle of its own, nothing of the directory; null
    // when the system gives no second handle.
    std::unique_ptr<ArchiveReader> openAnother() const;

    int32_t readCurrentEntry(int32_t index, EntryDetails& details);
    int32_t checkRange(int32_t index, uint64_t dataStart, uint64_t headerBytes, uint64_t compressedSize);
    // Reads every entry's range once; true when it agrees with minizip's reading.
    bool readRanges();
    CentralDirectory::ReadAt fileReader() const;
    // The stored name decoded by the archive's rule (see NameEncoding.h).
    std::wstring entryName(const CentralRecord& record, size_t localExtraSize) const;
    std::wstring decodeName(NameSource source) const;
    // Reads the central directory once, judging every entry on the way.
    // Defined in ArchiveJudgement.cpp.
    void judgeEntries();
    int32_t writeEntry(const EntryDetails& entry, const std::wstring& target, size_t folderLength);
    // A large deflate entry's stream, decoded on several threads (defined in
    // Extraction.cpp).
    int32_t inflateEntryInParallel(const EntryDetails& entry, EntryDecoder& decoder, ByteSink& out);

    unzFile zip_ = nullptr;        // null for an archive without entries
    ArchiveFile* file_ = nullptr;  // minizip's file source, owned by minizip (or by ownFile_)
    std::unique_ptr<ArchiveFile> ownFile_;  // another reader's own source
    Batch* batch_ = nullptr;       // the batch being extracted, if any
    UniqueFile emptyArchive_;      // keeps such an archive open
    int32_t count_ = 0;
    uint64_t entryTotal_ = 0;      // minizip's count, not clamped
    uint64_t firstRecord_ = 0;     // where minizip found the first central record
    // Every entry's range, read once when the archive is opened: the verdict
    // needs them before any entry is queried.
    EntryRanges ranges_;
    bool rangesRead_ = false;
    bool rangesAgree_ = false;     // the directory read the same for minizip and for ranges_
    // Where every central record starts, found as minizip steps; read at open.
    CentralDirectory directory_;
    ArchiveVerdict verdict_;
    EntryDetails cachedEntry_;
    int32_t cachedIndex_ = -1;
    std::optional<std::string> password_;
    OutputFolder output_;          // the base folder and the names taken in it
    // How names are read: rule 3's decision for the whole archive, and the
    // legacy code page.
    bool plainUtf8_ = false;
    UINT legacyCodePage_ = 0;
    PieceHook pieceHook_;
    CompletedFileHook completedFileHook_;
    std::pair<uint32_t, FILETIME> lastDosTime_{};  // the last DOS time converted, and its UTC time
    bool lastDosTimeSet_ = false;
    std::vector<char> nameBuffer_;
    std::vector<uint8_t> centralExtra_, localExtra_;
    // Made at the first file extraction, kept until the archive is closed:
    // memory use does not grow with the size of an entry.
    struct DataBuffers {
        static constexpr size_t kInputPiece = 128 * 1024;
        EntryDecoder decoder;
        std::unique_ptr<uint8_t[]> input{new uint8_t[kInputPiece]};
    };
    std::unique_ptr<DataBuffers> data_;
};
