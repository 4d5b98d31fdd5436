// The one way an entry of any archive format reaches the disk: its name
// prepared and checked below the base folder, the folders on its way made
// (and removed again when it fails), names that differ only in case kept
// apart, its size checked against the room on the volume, and its data
// written to a file that appears under its own name only when complete and
// checked. A failed or cancelled entry leaves no partial file and an
// existing file of that name untouched.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/UniqueAny.h"
#include "zip/EntryDecoder.h"

// Called between pieces of an entry's data with the stored bytes just taken
// in (0 when only checking); false abandons the entry (kZipCancelled).
using PieceHook = std::function<bool(uint64_t storedBytes)>;
// Called with the path of each file an entry wrote, complete and checked,
// before it is moved into place and its times are set; false fails the
// entry with kZipMarkFailed and removes the file.
using CompletedFileHook = std::function<bool(const std::wstring& writtenPath)>;

// The folders an entry made, removed again (innermost first, each only when
// empty) unless the entry succeeded: a failed entry leaves no folder that
// exists only for it.
class MadeFolders {
public:
    MadeFolders() = default;
    MadeFolders(const MadeFolders&) = delete;
    MadeFolders& operator=(const MadeFolders&) = delete;
    ~MadeFolders() { remove(); }
    void add(std::wstring folder) { folders_.push_back(std::move(folder)); }
    void keep() { folders_.clear(); }
    // Removes them now (innermost first, each only when empty).
    void remove();
    const std::vector<std::wstring>& folders() const { return folders_; }

private:
    std::vector<std::wstring> folders_;
};

// Where a caller's name for an entry leads.
struct OutputTarget {
    std::wstring base;    // the base folder for a relative name; empty for an absolute one
    std::wstring name;    // the prepared relative name, or the absolute path
    std::wstring target;  // base + name
};

// The base folder of one archive's extraction and every name its entries took.
class OutputFolder {
public:
    // The current folder until the caller sets one.
    OutputFolder();

    // The folder relative names are extracted to, made absolute.
    int32_t setBaseFolder(const std::wstring& folder);
    const std::wstring& baseFolder() const { return baseFolder_; }

    // A caller's absolute name is written where it points; a relative one is
    // checked in the very form it will be created in below the base folder.
    // 0 or kZipCannotOpen.
    int32_t resolve(const std::wstring& fileName, OutputTarget* out) const;

    // A folder entry: the folder and those on its way. 0, or kZipCannotOpen
    // when a file of that name stays.
    int32_t makeFolder(const OutputTarget& t);

    // A file entry of size bytes, before its data: refuses a name without a
    // file part and an entry the volume cannot hold, makes the folders on
    // its way (into made) and claims the path it is written to (see
    // claimPath). 0 or a result code; nothing is made on a refusal.
    int32_t prepareFile(const std::wstring& fileName, const OutputTarget& t, uint64_t size, MadeFolders& made,
                        std::wstring* output, size_t* folderLength);

    // 0, or kZipWriteFailed when size bytes do not fit on the volume of the
    // base folder (absoluteTarget empty) or of absoluteTarget.
    int32_t checkFreeSpace(const std::wstring& absoluteTarget, uint64_t size);

    // The free bytes on the base folder's volume; nothing when it cannot be asked.
    std::optional<uint64_t> freeSpace() const;

    // --- a batch: file entries prepared here and written later on other threads ---
    // Between beginBatch and endBatch, every file entry prepareFile accepts
    // is unfinished until entryEnded, and a failed one's folders are removed
    // (when empty) only at settle. Preparing an entry as a run one after the
    // other would may then depend on how unfinished ones end: a folder to be
    // made where one of them writes its file, a file where one of them made
    // a folder that goes again if it fails (also as a numbered name), or the
    // room on the volume asked again. dependsOnUnfinished tells so; the
    // caller then waits until every entry prepared so far has ended and
    // calls settle before preparing it.
    void beginBatch() { batch_ = true; }
    bool dependsOnUnfinished(const OutputTarget& t, bool folderEntry, uint64_t size) const;
    // A file entry prepareFile accepted has ended, written or not.
    void entryEnded(const std::wstring& output, MadeFolders& made, bool written);
    // Every unfinished entry has ended: the folders failed entries made are
    // removed where empty, as each would have been at its failure, unless a
    // folder entry asked for them.
    void settle();
    // The batch is over, however it ended: settled, and nothing is unfinished.
    void endBatch();

private:
    // The path an entry's file is written to: the target itself, unless an
    // earlier entry of this archive took a name that differs from it only in
    // case (one file on Windows); then "name (n).ext" with the first free n.
    // An exact repeat gets what the earlier entry got. 0 or kZipCannotOpen.
    int32_t claimPath(const std::wstring& target, size_t folderLength, std::wstring* output);
    // The first numbered name claimPath would give target (a name another
    // entry took in another case), and whether an unfinished entry's folder
    // stands in the way of a candidate; empty when there is none.
    std::wstring numberedPath(const std::wstring& target, size_t folderLength, bool* blockedByUnfinished) const;
    // Removes the folders made for a refused entry at once, as no longer known.
    void forget(MadeFolders& made);

    std::wstring baseFolder_;  // absolute, ends with "\\"; empty when unusable
    uint64_t spaceLeft_ = 0;   // free bytes below the base folder not yet promised to an entry
    struct Claim {
        std::wstring exact;   // the target; empty for a numbered name
        std::wstring output;  // where it was written
    };
    // Every file target extracted from this archive, by its case-folded form.
    std::unordered_map<std::wstring, std::vector<Claim>> claims_;

    // The batch's unfinished file entries, by case-folded paths.
    bool batch_ = false;
    unsigned unfinishedEntries_ = 0;
    std::unordered_map<std::wstring, unsigned> unfinishedFiles_;  // where they write
    std::unordered_set<std::wstring> unfinishedFolders_;  // made for entries not known to be written
    std::vector<std::wstring> removals_;                    // made for entries that failed
    std::unordered_set<std::wstring> keptFolders_;          // folder entries' own
    // Folders found or made during the batch, asked about no more.
    std::unordered_set<std::wstring> knownFolders_;
};

// What a written file gets from its entry: attributes (FILE_ATTRIBUTE_*;
// read-only, hidden, system and archive are kept) and the times the archive
// gives (UTC; a time it lacks is left as the system sets it).
struct FileStamp {
    uint32_t attributes = 0;
    std::optional<FILETIME> creation, access, modification;
};

// The output file of one entry. It is created at the first byte, so an entry
// that fails before its data creates nothing, and it is removed unless
// commit() made it the target. The piece hook is asked at least every
// kCheckEvery bytes written, so that a small piece that expands enormously
// can still be cancelled.
class OutputFile final : public ByteSink {
public:
    static constexpr uint64_t kCheckEvery = 1 << 20;

    OutputFile(const FileStamp& stamp, std::wstring target, size_t folderLength, const CompletedFileHook& completed,
               const PieceHook& pieceHook);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int32_t write(const uint8_t* data, size_t size) override;
    // The complete file: the completed-file hook, its times, and the move
    // into place with its attributes.
    int32_t commit();
    uint64_t written() const { return written_; }

private:
    DWORD attributes() const;
    bool tryCreate(const std::wstring& path, DWORD attributes);
    int32_t create();

    const FileStamp& stamp_;
    std::wstring target_;
    size_t folderLength_;
    const CompletedFileHook& completed_;
    const PieceHook& pieceHook_;
    std::wstring path_;  // the file being written: the target or a temporary file
    UniqueFile file_;
    uint64_t written_ = 0;
    uint64_t sinceCheck_ = 0;
};
