// Extraction of one entry to disk. A failed extraction leaves no partial
// file and an existing file of that name untouched: a new file is written
// in place (made with CREATE_NEW, so it is ours) and deleted when the entry
// fails; a file that exists already is replaced only by moving a complete,
// checked temporary file from the same folder over it.
#include <cwchar>
#include <optional>
#include <vector>

#include "base/FileSystem.h"
#include "base/UniqueAny.h"
#include "zip/ArchiveFile.h"
#include "zip/ArchiveReader.h"
#include "zip/CngAesCrypto.h"
#include "zip/EntryAttributes.h"
#include "zip/EntryDecoder.h"

namespace {

constexpr size_t kTempNameUnits = 11;  // "~qzXXXX.tmp"

// A path as Windows compares names: in upper case.
std::wstring foldCase(std::wstring path) {
    if (!path.empty())
        ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()), path.data(),
                       static_cast<int>(path.size()));
    return path;
}

// The folders an entry made, removed again (innermost first, each only when
// empty) unless the entry succeeded: a failed entry leaves no folder that
// exists only for it.
class MadeFolders {
public:
    MadeFolders() = default;
    MadeFolders(const MadeFolders&) = delete;
    MadeFolders& operator=(const MadeFolders&) = delete;
    ~MadeFolders() {
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) ::RemoveDirectoryW(systemPath(*it).c_str());
    }
    void add(std::wstring folder) { folders_.push_back(std::move(folder)); }
    void keep() { folders_.clear(); }

private:
    std::vector<std::wstring> folders_;
};

// Creates every folder along path (components joined with "\\") below base,
// outermost first, and tells made those below base; base is created when
// missing, its parents are not. An
// empty base means path is absolute. Failures are silent: they show when
// the file cannot be created. A folder that exists already has all its
// parents, so entries of one folder cost one check.
void makeFolderPath(const std::wstring& base, const std::wstring& path, MadeFolders& made) {
    std::wstring full = base + path;
    while (!full.empty() && full.back() == L'\\') full.pop_back();
    if (full.empty() || pathExists(full)) return;
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
}

// The output file of one entry. It is created at the first decoded byte, so
// an entry that fails its password check creates nothing, and it is removed
// unless commit() made it the target.
class OutputFile final : public ByteSink {
public:
    OutputFile(const EntryDetails& entry, std::wstring target, size_t folderLength,
               const ArchiveReader::CompletedFileHook& completed, const ArchiveReader::PieceHook& piece)
        : entry_(entry), target_(std::move(target)), folderLength_(folderLength), completed_(completed),
          piece_(piece) {}
    ~OutputFile() {
        file_.reset();
        if (path_.empty()) return;
        ::SetFileAttributesW(systemPath(path_).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(systemPath(path_).c_str());
    }

    int32_t write(const uint8_t* data, size_t size) override {
        if (!file_) {
            if (int32_t rc = create()) return rc;
        }
        DWORD done = 0;
        if (!::WriteFile(file_.get(), data, static_cast<DWORD>(size), &done, nullptr) || done != size)
            return kZipWriteFailed;
        // One stored piece may expand to gigabytes (Deflate64, bzip2): the
        // caller is asked whether to go on after every kCheckEvery bytes
        // written as well, so that a cancel is always heard soon.
        sinceCheck_ += size;
        if (sinceCheck_ >= kCheckEvery) {
            sinceCheck_ = 0;
            if (piece_ && !piece_(0)) return kZipCancelled;
        }
        return kZipOk;
    }

    int32_t commit() {
        if (!file_) {
            if (int32_t rc = create()) return rc;  // an empty entry
        }
        const std::wstring written = systemPath(path_);
        // A file the hook refuses (its zone mark could not be written) is not kept.
        if (completed_ && !completed_(written)) return kZipMarkFailed;
        ::SetFileTime(file_.get(), &entry_.creationTime, &entry_.accessTime, &entry_.modificationTime);
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

private:
    DWORD attributes() const {
        DWORD a = entry_.attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive);
        return a ? a : FILE_ATTRIBUTE_NORMAL;
    }

    bool tryCreate(const std::wstring& path, DWORD attributes) {
        UniqueFile h(::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        if (!h) return false;
        file_ = std::move(h);
        path_ = path;
        return true;
    }

    static bool alreadyExists() {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    }

    int32_t create() {
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

    const EntryDetails& entry_;
    std::wstring target_;
    size_t folderLength_;
    const ArchiveReader::CompletedFileHook& completed_;
    const ArchiveReader::PieceHook& piece_;
    static constexpr uint64_t kCheckEvery = 1 << 20;
    uint64_t sinceCheck_ = 0;
    std::wstring path_;  // the file being written: the target or a temporary file
    UniqueFile file_;
};

}  // namespace

int32_t ArchiveReader::setBaseFolder(const std::wstring& folder) {
    std::wstring full = folder.empty() ? std::wstring() : fullPath(folder);
    if (full.empty()) return kZipCannotOpen;
    if (full.back() != L'\\') full += L'\\';
    baseFolder_ = std::move(full);
    spaceLeft_ = 0;  // another folder may be on another volume
    return kZipOk;
}

int32_t ArchiveReader::extractEntry(int32_t index, const std::wstring& fileName) {
    const EntryDetails* entry = nullptr;
    if (int32_t rc = readEntry(index, &entry)) return rc;
    const bool folderEntry = (entry->attributes & kAttributeDirectory) != 0;

    // A caller's absolute name is written where it points; a relative one is
    // checked in the very form it will be created in below the base folder.
    std::wstring base, name;
    if (isAbsoluteName(fileName)) {
        name = fullPath(fileName);
        if (name.empty()) return kZipCannotOpen;
    } else {
        if (baseFolder_.empty()) return kZipCannotOpen;
        if (prepareRelativeName(fileName, &name) != NameVerdict::safe) return kZipCannotOpen;
        base = baseFolder_;
    }
    std::wstring target = base + name;
    if (systemPath(target).size() >= kMaxPathUnits) return kZipCannotOpen;

    MadeFolders made;
    if (folderEntry) {
        makeFolderPath(base, name, made);
        // A file of that name stays, and the entry did not become a folder.
        if (!isFolder(target)) return kZipCannotOpen;
        made.keep();
        return kZipOk;
    }
    // A method this library cannot decode is refused before anything is made.
    if (!EntryDecoder::supports(entry->aes ? entry->aes->method : entry->method)) return kZipReadFailed;
    // No file part: the name names a folder.
    if (fileName.empty() || isSeparator(fileName.back()) || target.back() == L'\\') return kZipCannotOpen;
    // An entry that cannot fit is refused before anything is made (a bomb
    // either declares its size or fails when it passes it).
    if (int32_t rc = checkFreeSpace(base.empty() ? target : std::wstring(), entry->uncompressedSize)) return rc;
    size_t folderLength = target.rfind(L'\\') + 1;
    makeFolderPath(base, target.substr(base.size(), folderLength > base.size() ? folderLength - base.size() : 0), made);
    std::wstring output;
    if (int32_t rc = claimOutputPath(target, folderLength, &output)) return rc;
    int32_t rc = writeEntry(*entry, output, folderLength);
    if (rc == kZipOk) made.keep();
    return rc;
}

int32_t ArchiveReader::claimOutputPath(const std::wstring& target, size_t folderLength, std::wstring* output) {
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
        // Names taken by this archive or present on disk are not free.
        for (unsigned n = 2;; n++) {
            if (n > 9999) return kZipCannotOpen;
            path = numberedName(target, folderLength, n);
            if (systemPath(path).size() >= kMaxPathUnits) return kZipCannotOpen;
            if (!pathExists(path) && claims_.find(foldCase(path)) == claims_.end()) break;
        }
        // The numbered name is taken too: a later entry of that very name is
        // no repeat of this one (no exact name) and is numbered in its turn.
        claims_[foldCase(path)].push_back(Claim{std::wstring(), path});
    }
    claims_[folded].push_back(Claim{target, path});
    *output = std::move(path);
    return kZipOk;
}

int32_t ArchiveReader::checkFreeSpace(const std::wstring& absoluteTarget, uint64_t size) {
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

int32_t ArchiveReader::writeEntry(const EntryDetails& entry, const std::wstring& target, size_t folderLength) {
    if (!data_) {
        data_.reset(new DataBuffers);
        data_->decoder.setAesCrypto(makeCngAesCrypto);
    }
    EntryParams params;
    params.method = entry.method;
    if (entry.method == 99) {
        // Without its AES block the entry cannot be decrypted.
        if (!entry.aes) return kZipReadFailed;
        params.method = entry.aes->method;
        params.aesStrength = entry.aes->strength;
        params.aesChecksCrc = entry.aes->vendorVersion != 2;
    }
    params.encrypted = entry.flags & 0x01;
    params.checkByte = encryptionCheckByte(entry.flags, entry.crc, entry.dosDateTime);
    params.crc = entry.crc;
    params.compressedSize = entry.compressedSize;
    params.uncompressedSize = entry.uncompressedSize;
    EntryDecoder& decoder = data_->decoder;
    if (int32_t rc = decoder.start(params, password_ ? password_->c_str() : nullptr)) return rc;

    // The stored bytes are read from the file source in large pieces; the
    // decryption, decompression and checks are ours.
    uint64_t position = entry.dataOffset;
    OutputFile out(entry, target, folderLength, completedFileHook_, pieceHook_);
    int32_t rc = kZipOk;
    for (uint64_t left = entry.compressedSize; left > 0 && rc == kZipOk;) {
        size_t want = left < DataBuffers::kInputPiece ? static_cast<size_t>(left) : DataBuffers::kInputPiece;
        size_t got = file_->readAt(position, data_->input.get(), want);
        if (got != want) {
            rc = kZipDataError;  // the archive ends inside the entry
            break;
        }
        position += got;
        left -= got;
        rc = decoder.feed(data_->input.get(), got, out);
        // A cancelled entry goes with its file, as a failed one does.
        if (!rc && pieceHook_ && !pieceHook_(got)) rc = kZipCancelled;
    }
    if (!rc) rc = decoder.finish(out);
    if (!rc) rc = out.commit();
    return rc;
}
