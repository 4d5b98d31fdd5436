// 7z, RAR, RAR 5, tar and single compressed files behind the archive
// interface, read by libarchive. libarchive only reads: names, checks and
// files go through our output path like ZIP's. It reads forward only, so
// entries are extracted in one pass in archive order; going back reopens
// the archive and walks to the entry again. Links, FIFOs and devices are
// never created. Encrypted 7z and RAR entries are listed and refused.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/OutputPath.h"
#include "archive/VolumeSet.h"
#include "base/UniqueAny.h"

struct archive;
struct archive_entry;

class LibArchiveReader final : public Archive {
public:
    // Opens path as the format its content announced; null when libarchive
    // cannot read it. Multi-volume 7z and RAR sets are read across the
    // volumes that exist beside path.
    static std::unique_ptr<LibArchiveReader> open(const std::wstring& path, ArchiveFormat sniffed);
    ~LibArchiveReader() override;

    ArchiveFormat format() const override { return format_; }
    int32_t entryCount() const override { return static_cast<int32_t>(entries_.size()); }
    EntryInfo entryInfo(int32_t index) override;
    const ArchiveVerdict& verdict() const override { return verdict_; }
    bool namesEncrypted() const override { return namesEncrypted_; }
    int32_t setBaseFolder(const std::wstring& folder) override { return output_.setBaseFolder(folder); }
    int32_t extractEntry(int32_t index, const std::wstring& fileName) override;
    void setPieceHook(std::function<bool(uint64_t)> hook) override { pieceHook_ = std::move(hook); }
    void setCompletedFileHook(std::function<bool(const std::wstring&)> hook) override {
        completedFileHook_ = std::move(hook);
    }
    // 7z and RAR encryption is not decrypted here: nothing to remember.
    void setPassword(const char*) override {}

    // One volume of the archive as libarchive's callbacks read it.
    struct Volume {
        std::wstring path;
        UniqueFile file;
        uint64_t size = 0;
        std::unique_ptr<uint8_t[]> buffer;  // what libarchive is handed, made at the first open
    };

private:
    enum class Kind : uint8_t { file, folder, link, special };
    struct Entry {
        std::wstring name;      // decoded, as stored (before cleaning)
        std::string bytes;      // the stored bytes of a name without a Unicode form
        bool fromBytes = false;
        Kind kind = Kind::file;
        bool encrypted = false;
        bool sizeKnown = false;
        uint64_t size = 0;
        std::wstring linkTarget;  // a link's target, as stored
        bool hardLink = false;
        FileStamp stamp;
    };

    LibArchiveReader() = default;
    // A new libarchive reader over the volumes, positioned before the first
    // entry; charset is how names without a Unicode form are read.
    struct archive* startReading(const char* charset);
    // Reads every header once: the entries, their names and the verdict.
    bool listEntries();
    // Walks the headers with names read in charset; false when a header
    // cannot be read before the end.
    bool walkHeaders(const char* charset, std::vector<Entry>* entries, bool* encryptedHeaders);
    void describe(struct archive_entry* e, Entry* out) const;
    void decodeNames();
    void judge();
    // Positions reading at entry index's data: 0 or a result code.
    int32_t seekEntry(int32_t index);
    int32_t writeData(const Entry& entry, const std::wstring& output, size_t folderLength);
    // The code for a failed read: a missing volume when the set is
    // incomplete and reading ran out of what exists.
    int32_t readFailure() const;
    void stopReading();

    ArchiveFormat sniffed_ = ArchiveFormat::unknown;
    ArchiveFormat format_ = ArchiveFormat::unknown;
    bool raw_ = false;  // a single compressed file, not a tar
    std::wstring path_;
    std::vector<std::unique_ptr<Volume>> volumes_;
    bool incompleteSet_ = false;  // a volume after the last one found may be needed
    uint64_t archiveSize_ = 0;
    std::vector<Entry> entries_;
    ArchiveVerdict verdict_;
    bool namesEncrypted_ = false;

    struct archive* reader_ = nullptr;
    int32_t current_ = -1;        // the entry whose header was read last
    bool dataTaken_ = false;      // its data was read (or started)
    int32_t unreachableFrom_ = INT32_MAX;  // the first entry whose header could not be read
    int32_t unreachableCode_ = kZipDataError;
    int64_t bytesSeen_ = 0;       // stored bytes already told to the piece hook

    OutputFolder output_;
    PieceHook pieceHook_;
    CompletedFileHook completedFileHook_;
};
