// Extraction of one entry to disk. A failed extraction leaves no partial
// file and an existing file of that name untouched: a new file is written
// in place (made with CREATE_NEW, so it is ours) and deleted when the entry
// fails; a file that exists already is replaced only by moving a complete,
// checked temporary file from the same folder over it.
#include <cstdio>
#include <optional>

#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "zip/ArchiveFile.h"
#include "zip/ArchiveReader.h"
#include "zip/CngAesCrypto.h"
#include "zip/EntryAttributes.h"
#include "zip/EntryDecoder.h"

namespace {

constexpr size_t kTempNameBytes = 11;  // "~qzXXXX.tmp"

bool exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// "/" and "\" name the same folder; "/" is never a second byte in GBK.
std::string withBackslashes(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// A path as Windows compares names: in upper case, whatever the code page.
std::wstring foldCase(const std::string& path) {
    int n = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), n);
    if (!wide.empty())
        ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()), wide.data(),
                       static_cast<int>(wide.size()));
    return wide;
}

// Creates every folder along path below base (which may be empty), outermost
// first; base itself is created when missing, its parents are not. Failures
// are silent: they show when the file cannot be created. A folder that
// exists already has all its parents, so entries of one folder cost one check.
void makeFolderPath(const std::string& base, const std::string& path) {
    if (!path.empty() && exists(base + path)) return;
    if (!base.empty() && !exists(base)) ::CreateDirectoryA(base.c_str(), nullptr);
    if (path.empty()) return;
    size_t sep = findLastSeparator(path, isAnsiLeadByte);
    if (sep != std::string::npos && sep != 0) makeFolderPath(base, path.substr(0, sep));
    std::string full = base + path;
    if (!exists(full)) ::CreateDirectoryA(full.c_str(), nullptr);
}

bool isFolder(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The free bytes the caller may use on the volume of path's nearest
// existing folder; nothing when the volume cannot be asked.
std::optional<uint64_t> freeSpaceAt(const std::string& path) {
    std::string folder = path;
    for (;;) {
        size_t sep = findLastSeparator(folder, isAnsiLeadByte);
        if (sep == std::string::npos) return std::nullopt;
        folder.resize(sep + 1);
        if (isFolder(folder)) break;
        folder.resize(sep);  // look at the parent next
    }
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

// Length of the folder part of a path: up to and including its last
// separator, or the drive of "x:name".
size_t folderPartLength(const std::string& path) {
    size_t sep = findLastSeparator(path, isAnsiLeadByte);
    if (sep != std::string::npos) return sep + 1;
    return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

// The output file of one entry. It is created at the first decoded byte, so
// an entry that fails its password check creates nothing, and it is removed
// unless commit() made it the target.
class OutputFile final : public ByteSink {
public:
    OutputFile(const EntryDetails& entry, std::string target, size_t folderLength,
               const ArchiveReader::CompletedFileHook& completed)
        : entry_(entry), target_(std::move(target)), folderLength_(folderLength), completed_(completed) {}
    ~OutputFile() {
        file_.reset();
        if (path_.empty()) return;
        ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(path_.c_str());
    }

    int32_t write(const uint8_t* data, size_t size) override {
        if (!file_) {
            if (int32_t rc = create()) return rc;
        }
        DWORD done = 0;
        if (!::WriteFile(file_.get(), data, static_cast<DWORD>(size), &done, nullptr) || done != size)
            return kZipWriteFailed;
        return kZipOk;
    }

    int32_t commit() {
        if (!file_) {
            if (int32_t rc = create()) return rc;  // an empty entry
        }
        if (completed_) completed_(ansiToWide(path_));
        ::SetFileTime(file_.get(), &entry_.creationTime, &entry_.accessTime, &entry_.modificationTime);
        file_.reset();
        if (path_ == target_) {
            path_.clear();
            return kZipOk;
        }
        // An old read-only, hidden or system file would refuse to be replaced.
        DWORD old = ::GetFileAttributesA(target_.c_str());
        const DWORD kStubborn = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        bool cleared = old != INVALID_FILE_ATTRIBUTES && (old & kStubborn);
        if (cleared) ::SetFileAttributesA(target_.c_str(), old & ~kStubborn);
        if (!::MoveFileExA(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            if (cleared) ::SetFileAttributesA(target_.c_str(), old);
            return kZipCannotOpen;
        }
        path_.clear();
        ::SetFileAttributesA(target_.c_str(), attributes());
        return kZipOk;
    }

private:
    DWORD attributes() const {
        DWORD a = entry_.attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive);
        return a ? a : FILE_ATTRIBUTE_NORMAL;
    }

    bool tryCreate(const std::string& path, DWORD attributes) {
        UniqueFile h(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
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
        std::string folder = target_.substr(0, folderLength_);
        if (folder.size() + kTempNameBytes > kMaxPathBytes) return kZipCannotOpen;
        DWORD seed = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
        for (DWORD i = 0; i < 64; i++) {
            char name[16];
            std::snprintf(name, sizeof name, "~qz%04lX.tmp", static_cast<unsigned long>((seed + i * 7919) & 0xFFFF));
            if (tryCreate(folder + name, FILE_ATTRIBUTE_NORMAL)) return kZipOk;
            if (!alreadyExists()) break;
        }
        return kZipCannotOpen;
    }

    const EntryDetails& entry_;
    std::string target_;
    size_t folderLength_;
    const ArchiveReader::CompletedFileHook& completed_;
    std::string path_;  // the file being written: the target or a temporary file
    UniqueFile file_;
};

}  // namespace

int32_t ArchiveReader::extractEntry(int32_t index, const std::string& fileName) {
    const EntryDetails* entry = nullptr;
    if (int32_t rc = readEntry(index, &entry)) return rc;
    // A name that had to be cut would write a file under a wrong name.
    if (entry->nameCut) return kZipCannotOpen;

    // A caller's absolute name is written where it points; a relative one
    // must stay inside the base folder and name no device or stream.
    bool absolute = isAbsoluteName(fileName);
    std::string base = absolute ? std::string() : baseFolder_;
    if (!absolute) {
        if (base.empty()) return kZipCannotOpen;
        if (checkRelativeName(fileName, isAnsiLeadByte) != NameVerdict::safe) return kZipCannotOpen;
    }
    std::string target = base + fileName;
    if (target.size() > kMaxPathBytes) return kZipCannotOpen;

    if (entry->attributes & kAttributeDirectory) {
        makeFolderPath(base, fileName);
        // A file of that name stays, and the entry did not become a folder.
        return isFolder(target) ? kZipOk : kZipCannotOpen;
    }
    // A method this library cannot decode is refused before anything is made.
    if (!EntryDecoder::supports(entry->aes ? entry->aes->method : entry->method)) return kZipReadFailed;
    // An entry that cannot fit is refused before anything is made (a bomb
    // either declares its size or fails when it passes it).
    if (int32_t rc = checkFreeSpace(absolute ? target : std::string(), entry->uncompressedSize)) return rc;
    size_t sep = findLastSeparator(fileName, isAnsiLeadByte);
    makeFolderPath(base, sep == std::string::npos ? std::string() : fileName.substr(0, sep + 1));
    size_t folderLength = folderPartLength(target);
    // No file part: the output path names a folder.
    if (folderLength == target.size()) return kZipCannotOpen;
    std::string output;
    if (int32_t rc = claimOutputPath(target, folderLength, &output)) return rc;
    return writeEntry(*entry, output, folderLength);
}

int32_t ArchiveReader::claimOutputPath(const std::string& target, size_t folderLength, std::string* output) {
    std::string exact = withBackslashes(target);
    std::wstring folded = foldCase(exact);
    std::vector<Claim>& same = claims_[folded];
    for (const Claim& c : same) {
        if (c.exact == exact) {
            *output = c.output;
            return kZipOk;
        }
    }
    std::string path = target;
    if (!same.empty()) {
        // Names taken by this archive or present on disk are not free.
        for (unsigned n = 2;; n++) {
            if (n > 9999) return kZipCannotOpen;
            path = numberedName(target, folderLength, n);
            if (path.size() > kMaxPathBytes) return kZipCannotOpen;
            if (!exists(path) && claims_.find(foldCase(withBackslashes(path))) == claims_.end()) break;
        }
        // The numbered name is taken too: a later entry of that very name is
        // no repeat of this one (no exact name) and is numbered in its turn.
        claims_[foldCase(withBackslashes(path))].push_back(Claim{std::string(), path});
    }
    claims_[folded].push_back(Claim{std::move(exact), path});
    *output = std::move(path);
    return kZipOk;
}

int32_t ArchiveReader::checkFreeSpace(const std::string& absoluteTarget, uint64_t size) {
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
    std::optional<uint64_t> available = freeSpaceAt(below ? baseFolder_ : absoluteTarget);
    if (!available) return kZipOk;
    if (size > *available) return kZipWriteFailed;
    if (below) spaceLeft_ = *available - size;
    return kZipOk;
}

int32_t ArchiveReader::writeEntry(const EntryDetails& entry, const std::string& target, size_t folderLength) {
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
    OutputFile out(entry, target, folderLength, completedFileHook_);
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
