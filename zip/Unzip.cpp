#include "zip/Unzip.h"

#include <windows.h>

#include <climits>

#include "archive/FileTimes.h"
#include "base/TextCodec.h"
#include "zip/ArchiveReader.h"

namespace {

int32_t clampSize(uint64_t size) { return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size); }

}  // namespace

Unzip::Unzip() = default;
Unzip::~Unzip() = default;

bool Unzip::open(const std::string& fileName, const char* password) { return open(ansiToWide(fileName), password); }

bool Unzip::open(const std::wstring& fileName, const char* password) {
    close();
    reader_ = ArchiveReader::open(fileName, password);
    if (reader_) {
        reader_->setPieceHook(pieceHook_);
        reader_->setCompletedFileHook(completedFileHook_);
    }
    return reader_ != nullptr;
}

int32_t Unzip::entryCount() const { return reader_ ? reader_->entryCount() : 0; }

EntryInfo Unzip::entryInfo(int32_t index) {
    EntryInfo info;
    if (!reader_) return info;
    if (index == -1) {
        // The count query: nothing is read and the times carry no meaning.
        info.index = reader_->entryCount();
        return info;
    }
    const EntryDetails* d = nullptr;
    if (reader_->readEntry(index, &d) != kZipOk) return info;
    info.index = d->index;
    info.name = d->name;
    info.unicodeName = d->unicodeName;
    info.attributes = static_cast<int32_t>(d->attributes);
    // Without an extended timestamp the three are one time, converted once.
    info.modificationTime = toOleDate(d->modificationTime);
    const FILETIME& modified = d->modificationTime;
    const auto same = [&](const FILETIME& t) {
        return t.dwLowDateTime == modified.dwLowDateTime && t.dwHighDateTime == modified.dwHighDateTime;
    };
    info.accessTime = same(d->accessTime) ? info.modificationTime : toOleDate(d->accessTime);
    info.creationTime = same(d->creationTime) ? info.modificationTime : toOleDate(d->creationTime);
    // Entries of 2 GiB and more report the largest int32.
    info.compressedSize = clampSize(d->compressedSize);
    info.uncompressedSize = clampSize(d->uncompressedSize);
    info.fullCompressedSize = d->compressedSize;
    info.fullUncompressedSize = d->uncompressedSize;
    return info;
}

int32_t Unzip::setBaseFolder(const std::string& folder) { return setBaseFolder(ansiToWide(folder)); }

int32_t Unzip::setBaseFolder(const std::wstring& folder) {
    return reader_ ? reader_->setBaseFolder(folder) : kZipNotOpen;
}

int32_t Unzip::extractEntry(int32_t index, const std::string& fileName) {
    // A byte that is no character in the code page becomes "_" here, before
    // the checks, rather than whatever the system would make of it.
    return extractEntry(index, legacyToWide(fileName, CP_ACP));
}

int32_t Unzip::extractEntry(int32_t index, const std::wstring& fileName) {
    return reader_ ? reader_->extractEntry(index, fileName) : kZipNotOpen;
}

bool Unzip::extractEntries(const std::vector<EntryRequest>& entries, unsigned threads, const BatchEvents& events) {
    if (!reader_ || !reader_->extractEntries(entries, threads, events)) return false;
    pieceHook_ = nullptr;
    return true;
}

void Unzip::close() { reader_.reset(); }

const ArchiveVerdict& Unzip::verdict() const {
    static const ArchiveVerdict kNothing;
    return reader_ ? reader_->verdict() : kNothing;
}

EntryVerdict Unzip::entryVerdict(int32_t index) const {
    return index < 0 ? EntryVerdict{} : verdict().entry(static_cast<size_t>(index));
}

void Unzip::setPassword(const char* password) {
    if (reader_) reader_->setPassword(password);
}

void Unzip::setPieceHook(std::function<bool(uint64_t storedBytes)> hook) {
    pieceHook_ = std::move(hook);
    if (reader_) reader_->setPieceHook(pieceHook_);
}

void Unzip::setCompletedFileHook(CompletedFileHook hook) {
    completedFileHook_ = std::move(hook);
    if (reader_) reader_->setCompletedFileHook(completedFileHook_);
}
