// A new file is written in place (made with CREATE_NEW, so it is ours) and
// deleted when the entry fails; a file that exists already is replaced only
// by moving a complete, checked temporary file from the same folder over it.
#include "archive/OutputPath.h"

#include <algorithm>
#include <cwchar>

#include "base/FileSystem.h"
#include "zip/EntryAttributes.h"
#include "zip/EntryName.h"
#include "zip/ZipResult.h"

namespace {

constexpr size_t kTempNameUnits = 11;  // "~qzXXXX.tmp"

// A path as Windows compares names: in upper case.
std::wstring foldCase(std::wstring path) {
    if (!path.empty())
        ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()), path.data(),
                       static_cast<int>(path.size()));
    return path;
}

// Creates every folder along path (components joined with "\\") below base,
// outermost first, and tells made those below base; base is created when
// missing, its parents are not. An
// empty base means path is absolute. Failures are silent: they show when
// the file cannot be created. A folder that exists already has all its
// parents, so entries of one folder cost one check, and none where known
// holds the paths found or made before (a batch's, which removes from it
// what it removes again).
void makeFolderPath(const std::wstring& base, const std::wstring& path, MadeFolders& made,
                    std::unordered_set<std::wstring>* known = nullptr) {
    std::wstring full = base + path;
    while (!full.empty() && full.back() == L'\\') full.pop_back();
    if (full.empty() || (known && known->count(full))) return;
    if (pathExists(full)) {
        if (known) known->insert(std::move(full));
        return;
    }
    // Where each candidate folder ends: the base itself, then each component;
    // an absolute path starts after its drive or the "\\" of a share.
    std::vector<size_t> ends;
    for (size_t i = base.empty() ? 3 : base.size() - 1; i < full.size(); i++) {
        if (full[i] == L'\\') ends.push_back(i);
    }
    ends.push_back(full.size());
    size_t first = ends.size() - 1;
    while (first > 0 && !pathExists(full.substr(0, ends[first - 1]))) first--;
    for (size_t k = first; k < ends.size(); k++) {
        std::wstring folder = full.substr(0, ends[k]);
        // The base folder is the caller's destination, not the entry's own.
        bool own = ends[k] >= base.size();
        if (::CreateDirectoryW(systemPath(folder).c_str(), nullptr) && own) made.add(std::move(folder));
    }
    if (known && isFolder(full)) known->insert(std::move(full));
}

}  // namespace

void MadeFolders::remove() {
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) ::RemoveDirectoryW(systemPath(*it).c_str());
    folders_.clear();
}

OutputFolder::OutputFolder() {
    DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(n, L'\0');
    n = n > 0 ? ::GetCurrentDirectoryW(n, folder.data()) : 0;
    if (n > 0 && n < folder.size()) setBaseFolder(folder.substr(0, n));
}

int32_t OutputFolder::setBaseFolder(const std::wstring& folder) {
    std::wstring full = folder.empty() ? std::wstring() : fullPath(folder);
    if (full.empty()) return kZipCannotOpen;
    if (full.back() != L'\\') full += L'\\';
    baseFolder_ = std::move(full);
    spaceLeft_ = 0;  // another folder may be on another volume
    return kZipOk;
}

int32_t OutputFolder::resolve(const std::wstring& fileName, OutputTarget* out) const {
    OutputTarget t;
    if (isAbsoluteName(fileName)) {
        t.name = fullPath(fileName);
        if (t.name.empty()) return kZipCannotOpen;
    } else {
        if (baseFolder_.empty()) return kZipCannotOpen;
        if (prepareRelativeName(fileName, &t.name) != NameVerdict::safe) return kZipCannotOpen;
        t.base = baseFolder_;
    }
    t.target = t.base + t.name;
    if (systemPath(t.target).size() >= kMaxPathUnits) return kZipCannotOpen;
    *out = std::move(t);
    return kZipOk;
}

int32_t OutputFolder::makeFolder(const OutputTarget& t) {
    MadeFolders made;
    makeFolderPath(t.base, t.name, made, batch_ ? &knownFolders_ : nullptr);
    // A file of that name stays, and the entry did not become a folder.
    if (!isFolder(t.target)) {
        forget(made);
        return kZipCannotOpen;
    }
    made.keep();
    // An earlier entry that failed in the batch may have made it: it stays.
    if (batch_) keptFolders_.insert(foldCase(t.target));
    return kZipOk;
}

int32_t OutputFolder::prepareFile(const std::wstring& fileName, const OutputTarget& t, uint64_t size,
                                  MadeFolders& made, std::wstring* output, size_t* folderLength) {
    // No file part: the name names a folder.
    if (fileName.empty() || isSeparator(fileName.back()) || t.target.back() == L'\\') return kZipCannotOpen;
    // An entry that cannot fit is refused before anything is made (a bomb
    // either declares its size or fails when it passes it).
    if (int32_t rc = checkFreeSpace(t.base.empty() ? t.target : std::wstring(), size)) return rc;
    *folderLength = t.target.rfind(L'\\') + 1;
    makeFolderPath(t.base, t.target.substr(t.base.size(), *folderLength > t.base.size() ? *folderLength - t.base.size() : 0),
                   made, batch_ ? &knownFolders_ : nullptr);
    if (int32_t rc = claimPath(t.target, *folderLength, output)) {
        forget(made);
        return rc;
    }
    if (batch_) {
        unfinishedEntries_++;
        unfinishedFiles_[foldCase(*output)]++;
        for (const std::wstring& folder : made.folders()) unfinishedFolders_.insert(foldCase(folder));
    }
    return kZipOk;
}

int32_t OutputFolder::claimPath(const std::wstring& target, size_t folderLength, std::wstring* output) {
    std::wstring folded = foldCase(target);
    std::vector<Claim>& same = claims_[folded];
    for (const Claim& c : same) {
        if (c.exact == target) {
            *output = c.output;
            return kZipOk;
        }
    }
    std::wstring path = target;
    if (!same.empty()) {
        path = numberedPath(target, folderLength, nullptr);
        if (path.empty()) return kZipCannotOpen;
        // The numbered name is taken too: a later entry of that very name is
        // no repeat of this one (no exact name) and is numbered in its turn.
        claims_[foldCase(path)].push_back(Claim{std::wstring(), path});
    }
    claims_[folded].push_back(Claim{target, path});
    *output = std::move(path);
    return kZipOk;
}

std::wstring OutputFolder::numberedPath(const std::wstring& target, size_t folderLength,
                                       bool* blockedByUnfinished) const {
    // Names taken by this archive or present on disk are not free.
    for (unsigned n = 2; n <= 9999; n++) {
        std::wstring path = numberedName(target, folderLength, n);
        if (systemPath(path).size() >= kMaxPathUnits) return {};
        const std::wstring folded = foldCase(path);
        if (blockedByUnfinished && unfinishedFolders_.count(folded)) {
            *blockedByUnfinished = true;
            return {};
        }
        if (!pathExists(path) && claims_.find(folded) == claims_.end()) return path;
    }
    return {};
}

bool OutputFolder::dependsOnUnfinished(const OutputTarget& t, bool folderEntry, uint64_t size) const {
    if (!batch_ || (unfinishedEntries_ == 0 && unfinishedFolders_.empty())) return false;
    // An absolute name is asked about on its own volume every time.
    if (t.base.empty()) return true;
    std::wstring folded = foldCase(t.target);
    while (folderEntry && !folded.empty() && folded.back() == L'\\') folded.pop_back();
    // A folder on its way (or a folder entry itself) where an unfinished
    // entry writes its file: made now, it would make that entry fail.
    for (size_t i = t.base.size(); i <= folded.size(); i++) {
        if ((i == folded.size() ? folderEntry : folded[i] == L'\\') && unfinishedFiles_.count(folded.substr(0, i)))
            return true;
    }
    if (folderEntry) return false;
    // A folder an unfinished entry made where this file goes: it is removed
    // again if that entry fails.
    if (unfinishedFolders_.count(folded)) return true;
    auto claimed = claims_.find(folded);
    if (claimed != claims_.end() && !claimed->second.empty() &&
        std::none_of(claimed->second.begin(), claimed->second.end(), [&](const Claim& c) { return c.exact == t.target; })) {
        bool blocked = false;
        numberedPath(t.target, t.target.rfind(L'\\') + 1, &blocked);
        if (blocked) return true;
    }
    // The room left is asked again: what the unfinished entries write counts.
    return size > 0 && size > spaceLeft_ && unfinishedEntries_ > 0;
}

void OutputFolder::entryEnded(const std::wstring& output, MadeFolders& made, bool written) {
    auto file = unfinishedFiles_.find(foldCase(output));
    if (file != unfinishedFiles_.end() && --file->second == 0) unfinishedFiles_.erase(file);
    if (unfinishedEntries_ > 0) unfinishedEntries_--;
    for (const std::wstring& folder : made.folders()) {
        if (written)
            unfinishedFolders_.erase(foldCase(folder));
        else
            removals_.push_back(folder);
    }
    made.keep();
}

void OutputFolder::forget(MadeFolders& made) {
    for (const std::wstring& folder : made.folders()) knownFolders_.erase(folder);
    made.remove();
}

void OutputFolder::settle() {
    // Inner folders first: each is longer than the folders around it.
    std::sort(removals_.begin(), removals_.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : removals_) {
        if (keptFolders_.count(foldCase(folder)) || !::RemoveDirectoryW(systemPath(folder).c_str())) continue;
        knownFolders_.erase(folder);
    }
    removals_.clear();
    unfinishedFolders_.clear();
    keptFolders_.clear();
}

void OutputFolder::endBatch() {
    settle();
    unfinishedFiles_.clear();
    unfinishedEntries_ = 0;
    knownFolders_.clear();
    batch_ = false;
}

int32_t OutputFolder::checkFreeSpace(const std::wstring& absoluteTarget, uint64_t size) {
    if (size == 0) return kZipOk;
    // Everything below the base folder is on its volume: one question serves
    // many entries, each counting down what it may take, until one needs
    // more than is left. Others may fill the disk meanwhile; writing then
    // fails cleanly. A volume that cannot be asked is given the benefit of
    // the doubt for the same reason.
    bool below = absoluteTarget.empty();
    if (below && size <= spaceLeft_) {
        spaceLeft_ -= size;
        return kZipOk;
    }
    std::optional<uint64_t> available = freeBytesAt(below ? baseFolder_ : absoluteTarget);
    if (!available) return kZipOk;
    if (size > *available) return kZipWriteFailed;
    if (below) spaceLeft_ = *available - size;
    return kZipOk;
}

std::optional<uint64_t> OutputFolder::freeSpace() const {
    if (baseFolder_.empty()) return std::nullopt;
    return freeBytesAt(baseFolder_);
}

OutputFile::OutputFile(const FileStamp& stamp, std::wstring target, size_t folderLength,
                       const CompletedFileHook& completed, const PieceHook& pieceHook)
    : stamp_(stamp), target_(std::move(target)), folderLength_(folderLength), completed_(completed),
      pieceHook_(pieceHook) {}

OutputFile::~OutputFile() {
    file_.reset();
    if (path_.empty()) return;
    ::SetFileAttributesW(systemPath(path_).c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(systemPath(path_).c_str());
}

int32_t OutputFile::write(const uint8_t* data, size_t size) {
    if (!file_) {
        if (int32_t rc = create()) return rc;
    }
    DWORD done = 0;
    if (!::WriteFile(file_.get(), data, static_cast<DWORD>(size), &done, nullptr) || done != size)
        return kZipWriteFailed;
    written_ += size;
    sinceCheck_ += size;
    if (sinceCheck_ >= kCheckEvery) {
        sinceCheck_ = 0;
        // A cancelled entry goes with its file, as a failed one does.
        if (pieceHook_ && !pieceHook_(0)) return kZipCancelled;
    }
    return kZipOk;
}

int32_t OutputFile::commit() {
    if (!file_) {
        if (int32_t rc = create()) return rc;  // an empty entry
    }
    const std::wstring written = systemPath(path_);
    // A file the hook refuses (its zone mark could not be written) is not kept.
    if (completed_ && !completed_(written)) return kZipMarkFailed;
    const auto time = [](const std::optional<FILETIME>& t) { return t ? &*t : nullptr; };
    ::SetFileTime(file_.get(), time(stamp_.creation), time(stamp_.access), time(stamp_.modification));
    file_.reset();
    if (path_ == target_) {
        path_.clear();
        return kZipOk;
    }
    // An old read-only, hidden or system file would refuse to be replaced.
    const std::wstring target = systemPath(target_);
    DWORD old = ::GetFileAttributesW(target.c_str());
    const DWORD kStubborn = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    bool cleared = old != INVALID_FILE_ATTRIBUTES && (old & kStubborn);
    if (cleared) ::SetFileAttributesW(target.c_str(), old & ~kStubborn);
    if (!::MoveFileExW(written.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        if (cleared) ::SetFileAttributesW(target.c_str(), old);
        return kZipCannotOpen;
    }
    path_.clear();
    ::SetFileAttributesW(target.c_str(), attributes());
    return kZipOk;
}

DWORD OutputFile::attributes() const {
    DWORD a = stamp_.attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive);
    return a ? a : FILE_ATTRIBUTE_NORMAL;
}

bool OutputFile::tryCreate(const std::wstring& path, DWORD attributes) {
    UniqueFile h(::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
    if (!h) return false;
    file_ = std::move(h);
    path_ = path;
    return true;
}

namespace {

bool alreadyExists() {
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace

int32_t OutputFile::create() {
    // A new file gets the entry's attributes at once; the handle may
    // still write to it when they include read-only.
    if (tryCreate(target_, attributes())) return kZipOk;
    // A folder of that name is never replaced by a file.
    if (!alreadyExists() || isFolder(target_)) return kZipCannotOpen;
    std::wstring folder = target_.substr(0, folderLength_);
    if (folder.size() + kTempNameUnits >= kMaxPathUnits - 8) return kZipCannotOpen;
    DWORD seed = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
    for (DWORD i = 0; i < 64; i++) {
        wchar_t name[16];
        std::swprintf(name, 16, L"~qz%04lX.tmp", static_cast<unsigned long>((seed + i * 7919) & 0xFFFF));
        if (tryCreate(folder + name, FILE_ATTRIBUTE_NORMAL)) return kZipOk;
        if (!alreadyExists()) break;
    }
    return kZipCannotOpen;
}
