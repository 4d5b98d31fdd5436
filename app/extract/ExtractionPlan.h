// What an extraction run decides and says, without Windows: which entries
// are macOS bookkeeping, where "当前文件夹" puts an archive, what became of
// each entry, and the count line's texts during and after a run. Archive
// paths and entry names are wide text, as the file system and the archive
// library give them; the texts are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// __MACOSX/ entries and .DS_Store files: macOS bookkeeping that is never
// what the user wants. They are left out of the folder decision and not
// extracted.
bool isMacBookkeeping(std::wstring_view entryName);

// Where "当前文件夹" extracts an archive: `folder` ends in "\"; `create`
// says the folder is a new one to be made.
struct ArchiveFolderChoice {
    std::wstring folder;
    bool create = false;
};

// The decision for the archive at archivePath with these entry names
// (folder entries end in a separator). When every entry that is not
// bookkeeping lies under one top-level folder, or there is a single file,
// the archive's own folder, unless that top-level name is taken there;
// otherwise a new folder named after the archive, or the first free
// "名称 (2)", "名称 (3)", ... `exists` tells whether a path is taken.
ArchiveFolderChoice chooseArchiveFolder(std::wstring_view archivePath, const std::vector<std::wstring>& entryNames,
                                        const std::function<bool(const std::wstring&)>& exists);

// What became of one entry in a run.
enum class EntryOutcome {
    Extracted,
    Skipped,        // bookkeeping, never written
    WrongPassword,
    PasswordSkipped,  // encrypted, and the password dialog was cancelled: failed
    Damaged,        // unreadable, undecodable or failing its check
    Unsupported,    // compressed or encrypted by a method the library does not decode
    UnsafePath,     // a name that would leave the destination or name a device or stream
    DiskFull,
    SuspectedBomb,  // claims far more than the disk holds from very little
    CannotWrite,
    MarkFailed,     // its zone mark could not be written, so it was not kept
    LinkSkipped,    // a link, FIFO or device: never created; not a failure
    MissingVolume,  // it goes on in a volume of the set that is not there
    UnsupportedEncryption,  // encrypted in a way the library cannot decrypt (7z, RAR)
    RunFailed,      // the run itself failed before or while reaching it
};

// The library's size figures and the room on the destination's volume,
// for telling a full disk and a bomb from other write failures.
struct EntryFigures {
    uint64_t storedSize = 0;
    uint64_t size = 0;
    uint64_t freeBytes = UINT64_MAX;
};

// A name the library refuses to write below the destination as unsafe,
// judged on the Unicode name by the library's own checks: absolute, leaving
// it, or naming a device in any component. A component too long to store
// is refused as well, but as a name that cannot be written, not an unsafe one.
bool unsafeEntryName(std::wstring_view entryName);

// The outcome of an extraction result code (0 for success).
EntryOutcome classifyResult(int32_t resultCode, bool unsafeName, const EntryFigures& figures, bool encrypted = false);

// The one judgement of an extracted entry that the window and quillozip-cli
// share: the library's result code for the entry named name, with its full
// (64-bit) stored and extracted sizes and whether it is encrypted; freeBytes,
// the room left at the destination, is asked only when the entry did not fit.
EntryOutcome entryOutcome(int32_t resultCode, std::wstring_view name, uint64_t storedSize, uint64_t size,
                          const std::function<uint64_t()>& freeBytes, bool encrypted = false);

// Whether an outcome counts as a failure in the result line (bookkeeping
// and links are skipped, never failed).
bool isFailure(EntryOutcome outcome);

// The text after a row's name: "（密码错误）" and the like; empty for an
// extracted entry.
std::string outcomeReason(EntryOutcome outcome);

// "正在解压 37%（12/120）": the percentage from the bytes, the count from the entries.
std::string progressLine(uint64_t doneBytes, uint64_t totalBytes, int64_t doneEntries, int64_t totalEntries);

// "解压完成，共N个文件" when nothing failed, else "解压完成：成功N个，失败M个";
// a cancelled run "已取消：已解压N个".
std::string resultLine(int64_t extracted, int64_t failed, bool cancelled);
