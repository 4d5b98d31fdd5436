#include "zip/ArchiveReader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/TextCodec.h"
#include "zip/ArchiveFile.h"
#include "zip/EntryAttributes.h"
#include "zip/EntryDecoder.h"
#include "zip/ExtraField.h"

namespace {

constexpr size_t kMaxField = 0xFFFF;  // names and extra fields have 16-bit lengths
constexpr uint64_t kLocalHeaderBytes = 30;  // the fixed parts of a local header
constexpr uint64_t kCentralRecordBytes = 46;  // and of a central record

FILETIME toFileTime(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// DOS date-times are local time. A value that names no real moment (month
// or day 0, second 62 ...) is taken as 1980-01-01 00:00:00, the earliest
// DOS time, rather than failing the entry.
FILETIME dosToFileTime(uint32_t value) {
    DosDateTime t = decodeDosDateTime(value);
    if (!isValidDateTime(t)) t = DosDateTime{};
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    FILETIME local{}, utc{};
    ::SystemTimeToFileTime(&st, &local);
    ::LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

// minizip never finds an end record at offset 0, so it cannot open an
// archive without entries; those are recognised here. The file stays open,
// shared for reading only, as any open archive does.
UniqueFile openEmptyArchive(const std::wstring& fileName) {
    UniqueFile h(::CreateFileW(systemPath(fileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!h || !::GetFileSizeEx(h.get(), &size) || size.QuadPart < 22 || size.QuadPart > 22 + 0xFFFF) return {};
    uint8_t record[22];
    DWORD got = 0;
    if (!::ReadFile(h.get(), record, sizeof record, &got, nullptr) || got != sizeof record) return {};
    static const uint8_t kEmpty[20] = {'P', 'K', 5, 6};  // disks, counts, size and offset all 0
    unsigned commentLength = record[20] | record[21] << 8;
    if (std::memcmp(record, kEmpty, sizeof kEmpty) != 0 || 22 + commentLength != size.QuadPart) return {};
    return h;
}

// The local header must agree with the central record: signature, method,
// name length, and the CRC-32 and sizes unless the local flags say they
// follow the data (bit 3); a local size of all ones defers to ZIP64.
bool localHeaderAgrees(const uint8_t* h, const CentralRecord& record) {
    constexpr uint32_t kUnset = 0xFFFFFFFF;
    if (readLe32(h) != 0x04034b50 || readLe16(h + 8) != record.method) return false;
    if (readLe16(h + 26) != record.nameSize) return false;
    if (readLe16(h + 6) & 0x08) return true;
    uint32_t compressed = readLe32(h + 18), uncompressed = readLe32(h + 22);
    return readLe32(h + 14) == record.crc && (compressed == kUnset || compressed == record.compressedSize) &&
           (uncompressed == kUnset || uncompressed == record.uncompressedSize);
}

}  // namespace

bool isAnsiLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != 0; }

std::unique_ptr<ArchiveReader> ArchiveReader::open(const std::wstring& fileName, const char* password) {
    std::unique_ptr<ArchiveReader> reader(new ArchiveReader);
    // The source minizip opens is kept in reader->file_ for reading entry data.
    zlib_filefunc64_def functions = ArchiveFile::functions(&reader->file_);
    const std::wstring path = systemPath(fileName);
    if (unzFile zip = unzOpen2_64(path.c_str(), &functions)) {
        reader->zip_ = zip;
        unz_global_info64 global{};
        if (unzGetGlobalInfo64(zip, &global) == UNZ_OK) {
            reader->entryTotal_ = global.number_entry;
            // Every central record takes at least 46 bytes: a count the file
            // cannot hold would only make a listing step through nothing.
            uint64_t count = std::min<uint64_t>(global.number_entry, reader->file_->size() / kCentralRecordBytes);
            reader->count_ = count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
        }
        // minizip takes a cut end record for a whole one (it reads missing
        // bytes as zeros); the first central record must be readable.
        if (reader->count_ > 0 && unzGoToFirstFile(zip) != UNZ_OK) return nullptr;
        reader->firstRecord_ = unzGetOffset64(zip);
        // The records are read where minizip reads them, which is known
        // when the end records read the same for both; they always do, as
        // both look for them alike, but an archive where they did not
        // could not be listed as minizip sees it.
        reader->readRanges();
        const EntryRanges& ranges = reader->ranges_;
        if (reader->count_ > 0 && (!ranges.endRecordsRead() || ranges.entryCount() != reader->entryTotal_ ||
                                   ranges.directoryOffset() != reader->firstRecord_))
            return nullptr;
    } else if (UniqueFile empty = openEmptyArchive(fileName)) {
        reader->emptyArchive_ = std::move(empty);
    } else {
        return nullptr;
    }
    if (password) reader->password_ = password;
    reader->judgeEntries();
    return reader;
}

ArchiveReader::ArchiveReader()
    : legacyCodePage_(legacyNameCodePage()), nameBuffer_(kMaxField + 1), centralExtra_(kMaxField), localExtra_(kMaxField) {}

ArchiveReader::~ArchiveReader() {
    if (zip_) unzClose(zip_);
}

std::unique_ptr<ArchiveReader> ArchiveReader::openAnother() const {
    if (!file_) return nullptr;
    std::unique_ptr<ArchiveReader> other(new ArchiveReader);
    other->ownFile_ = file_->reopen();
    if (!other->ownFile_) return nullptr;
    other->file_ = other->ownFile_.get();
    other->password_ = password_;
    other->completedFileHook_ = completedFileHook_;
    return other;
}

int32_t ArchiveReader::readEntry(int32_t index, const EntryDetails** details) {
    if (index < 0 || index >= count_) return kZipBadIndex;
    if (index != cachedIndex_) {
        EntryDetails fresh;
        if (int32_t rc = readCurrentEntry(index, fresh)) return rc;
        cachedEntry_ = std::move(fresh);
        cachedIndex_ = index;
    }
    *details = &cachedEntry_;
    return kZipOk;
}

int32_t ArchiveReader::readCurrentEntry(int32_t index, EntryDetails& d) {
    CentralRecord info;
    const uint8_t* fields = nullptr;
    if (!directory_.record(static_cast<size_t>(index), &info, &fields)) return kZipBadEntry;
    std::copy(fields, fields + info.nameSize, nameBuffer_.begin());
    std::copy(fields + info.nameSize, fields + info.nameSize + info.extraSize, centralExtra_.begin());
    // The local header is read here for every method (minizip would refuse
    // the methods it cannot inflate itself, though they list like any other).
    if (!readRanges()) return kZipBadEntry;
    std::optional<uint64_t> headerStart = ranges_.headerOffset(static_cast<uint64_t>(index));
    uint8_t header[kLocalHeaderBytes];
    if (!headerStart || file_->readAt(*headerStart, header, sizeof header) != sizeof header) return kZipBadEntry;
    if (!localHeaderAgrees(header, info)) return kZipBadEntry;
    uint16_t localSize = readLe16(header + 28);
    uint64_t headerBytes = kLocalHeaderBytes + info.nameSize + localSize;
    if (localSize > 0 && file_->readAt(*headerStart + kLocalHeaderBytes + info.nameSize, localExtra_.data(),
                                       localSize) != localSize) {
        return kZipReadFailed;
    }
    uint64_t dataStart = *headerStart + headerBytes;
    if (int32_t rc = checkRange(index, dataStart, headerBytes, info.compressedSize)) return rc;
    const size_t centralSize = info.extraSize;

    d.index = index;
    std::wstring name = entryName(info, localSize);
    d.attributes = mapAttributes(info.versionMadeBy, info.externalAttributes);
    // A name ending in a separator is a folder, whatever the attributes say
    // (Java's and Python's archivers store folders with plain attributes).
    if (!name.empty() && isSeparator(name.back())) d.attributes |= kAttributeDirectory;
    d.unicodeName = cleanEntryName(name);
    d.name = wideToAnsiName(d.unicodeName);
    d.compressedSize = info.compressedSize;
    d.uncompressedSize = info.uncompressedSize;
    d.dataOffset = dataStart;
    d.method = info.method;
    d.flags = info.flags;
    d.crc = info.crc;
    d.dosDateTime = info.dosDateTime;
    if (d.method == 99) {
        d.aes = findAesExtra(centralExtra_.data(), centralSize);
        if (!d.aes) d.aes = findAesExtra(localExtra_.data(), localSize);
    }

    // Neighbouring entries mostly share a time, and its conversion asks the
    // system for the time zone twice.
    if (d.dosDateTime != lastDosTime_.first || !lastDosTimeSet_) {
        lastDosTime_ = {d.dosDateTime, dosToFileTime(d.dosDateTime)};
        lastDosTimeSet_ = true;
    }
    d.modificationTime = d.accessTime = d.creationTime = lastDosTime_.second;
    ExtendedTimestamp ut = findExtendedTimestamp(localExtra_.data(), localSize);
    if (ut.modification) d.modificationTime = toFileTime(unixTimeToFileTime(*ut.modification));
    if (ut.access) d.accessTime = toFileTime(unixTimeToFileTime(*ut.access));
    if (ut.creation) d.creationTime = toFileTime(unixTimeToFileTime(*ut.creation));
    return kZipOk;
}

CentralDirectory::ReadAt ArchiveReader::fileReader() const {
    ArchiveFile* file = file_;
    return [file](uint64_t offset, uint8_t* buffer, size_t size) { return file->readAt(offset, buffer, size); };
}

int32_t ArchiveReader::prepareEntry(int32_t index, const std::wstring& fileName, PreparedEntry& p, bool* mustWait) {
    if (int32_t rc = readEntry(index, &p.details)) return rc;
    OutputTarget target;
    if (int32_t rc = output_.resolve(fileName, &target)) return rc;
    const bool folder = (p.details->attributes & kAttributeDirectory) != 0;
    // A method this library cannot decode is refused before anything is made.
    if (!folder && !EntryDecoder::supports(p.details->aes ? p.details->aes->method : p.details->method))
        return kZipReadFailed;
    if (mustWait && output_.dependsOnUnfinished(target, folder, p.details->uncompressedSize)) {
        *mustWait = true;
        return kZipOk;
    }
    if (folder) return output_.makeFolder(target);
    if (int32_t rc = output_.prepareFile(fileName, target, p.details->uncompressedSize, p.made, &p.output,
                                         &p.folderLength))
        return rc;
    p.write = true;
    return kZipOk;
}

bool ArchiveReader::readRanges() {
    if (!rangesRead_) {
        rangesRead_ = true;
        rangesAgree_ = ranges_.build(fileReader(), file_->size()) && ranges_.entryCount() == entryTotal_ &&
                       ranges_.directoryOffset() == firstRecord_;
    }
    return rangesAgree_;
}

int32_t ArchiveReader::checkRange(int32_t index, uint64_t dataStart, uint64_t headerBytes, uint64_t compressedSize) {
    if (!readRanges() || dataStart < headerBytes) return kZipBadEntry;
    uint64_t dataEnd = dataStart + compressedSize;
    if (dataEnd < dataStart) return kZipBadEntry;
    return ranges_.check(static_cast<uint64_t>(index), dataStart - headerBytes, dataEnd);
}

std::wstring ArchiveReader::decodeName(NameSource source) const {
    if (source.utf8) {
        if (std::optional<std::wstring> wide = decodeUtf8(source.bytes)) return *std::move(wide);
    }
    return legacyToWide(source.bytes, legacyCodePage_);
}

std::wstring ArchiveReader::entryName(const CentralRecord& record, size_t localExtraSize) const {
    std::string_view stored(nameBuffer_.data(), record.nameSize);
    std::optional<std::string> unicode;
    if (!(record.flags & kUtf8NameFlag) || !isStrictUtf8(stored.substr(0, stored.find('\0')))) {
        unicode = findUnicodePath(centralExtra_.data(), record.extraSize, stored);
        if (!unicode) unicode = findUnicodePath(localExtra_.data(), localExtraSize, stored);
    }
    return decodeName(chooseNameSource(record.flags, stored, unicode, plainUtf8_));
}
