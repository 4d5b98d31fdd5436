// Extraction of one entry to disk. A file is decoded into a temporary file
// beside its target and moved over the target only when it is complete and
// its CRC-32 matches, so a failed extraction leaves no partial file and an
// existing file of that name untouched.
#include <cstdio>

#include "base/UniqueAny.h"
#include "zip/ArchiveReader.h"
#include "zip/EntryAttributes.h"
#include "zip/EntryDecoder.h"

namespace {

constexpr size_t kTempNameBytes = 11;  // "~qzXXXX.tmp"

bool exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Creates every folder along path below base (which may be empty), outermost
// first; base itself is created when missing, its parents are not. Failures
// are silent: they show when the file cannot be created.
void makeFolderPath(const std::string& base, const std::string& path) {
    if (!base.empty() && !exists(base)) ::CreateDirectoryA(base.c_str(), nullptr);
    if (path.empty()) return;
    size_t sep = findLastSeparator(path, isAnsiLeadByte);
    if (sep != std::string::npos && sep != 0) makeFolderPath(base, path.substr(0, sep));
    std::string full = base + path;
    if (!exists(full)) ::CreateDirectoryA(full.c_str(), nullptr);
}

// Length of the folder part of a path: up to and including its last
// separator, or the drive of "x:name".
size_t folderPartLength(const std::string& path) {
    size_t sep = findLastSeparator(path, isAnsiLeadByte);
    if (sep != std::string::npos) return sep + 1;
    return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

// The temporary output file. It is created at the first decoded byte, so an
// entry that fails its password check creates nothing, and it is deleted
// unless commit() moved it over the target.
class OutputFile final : public ByteSink {
public:
    explicit OutputFile(std::string folder) : folder_(std::move(folder)) {}
    ~OutputFile() {
        file_.reset();
        if (!tempPath_.empty()) ::DeleteFileA(tempPath_.c_str());
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

    int32_t commit(const EntryDetails& entry, const std::string& target) {
        if (!file_) {
            if (int32_t rc = create()) return rc;  // an empty entry
        }
        ::SetFileTime(file_.get(), &entry.creationTime, &entry.accessTime, &entry.modificationTime);
        file_.reset();
        // An old read-only, hidden or system file would refuse to be replaced.
        DWORD old = ::GetFileAttributesA(target.c_str());
        const DWORD kStubborn = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        bool cleared = old != INVALID_FILE_ATTRIBUTES && (old & kStubborn);
        if (cleared) ::SetFileAttributesA(target.c_str(), old & ~kStubborn);
        if (!::MoveFileExA(tempPath_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            if (cleared) ::SetFileAttributesA(target.c_str(), old);
            return kZipCannotOpen;
        }
        tempPath_.clear();
        DWORD attributes = entry.attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive);
        ::SetFileAttributesA(target.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
        return kZipOk;
    }

private:
    int32_t create() {
        if (folder_.size() + kTempNameBytes > kMaxPathBytes) return kZipCannotOpen;
        DWORD seed = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
        for (DWORD i = 0; i < 64; i++) {
            char name[16];
            std::snprintf(name, sizeof name, "~qz%04lX.tmp", static_cast<unsigned long>((seed + i * 7919) & 0xFFFF));
            std::string path = folder_ + name;
            UniqueFile h(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (h) {
                file_ = std::move(h);
                tempPath_ = std::move(path);
                return kZipOk;
            }
            if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
        }
        return kZipCannotOpen;
    }

    std::string folder_;
    std::string tempPath_;
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
        return kZipOk;
    }
    size_t sep = findLastSeparator(fileName, isAnsiLeadByte);
    makeFolderPath(base, sep == std::string::npos ? std::string() : fileName.substr(0, sep + 1));
    size_t folderLength = folderPartLength(target);
    // No file part: the output path names a folder.
    if (folderLength == target.size()) return kZipCannotOpen;
    if (int32_t rc = goToEntry(index)) return rc;
    return writeEntry(*entry, target.substr(0, folderLength), target);
}

int32_t ArchiveReader::writeEntry(const EntryDetails& entry, const std::string& folder, const std::string& target) {
    if (!data_) data_.reset(new DataBuffers);
    EntryParams params;
    params.method = entry.method;
    params.encrypted = entry.flags & 0x01;
    params.checkByte = encryptionCheckByte(entry.flags, entry.crc, entry.dosDateTime);
    params.crc = entry.crc;
    params.compressedSize = entry.compressedSize;
    params.uncompressedSize = entry.uncompressedSize;
    EntryDecoder& decoder = data_->decoder;
    if (int32_t rc = decoder.start(params, password_ ? password_->c_str() : nullptr)) return rc;

    // The data is read raw: decryption, inflation and the checks are ours.
    if (unzOpenCurrentFile2(zip_, nullptr, nullptr, 1) != UNZ_OK) return kZipDataError;
    OutputFile out(folder);
    int32_t rc = kZipOk;
    for (;;) {
        int n = unzReadCurrentFile(zip_, data_->input.get(), DataBuffers::kInputPiece);
        if (n < 0) {
            rc = kZipDataError;
            break;
        }
        if (n == 0) break;
        rc = decoder.feed(data_->input.get(), static_cast<size_t>(n), out);
        if (rc) break;
    }
    unzCloseCurrentFile(zip_);
    if (!rc) rc = decoder.finish(out);
    if (!rc) rc = out.commit(entry, target);
    return rc;
}
