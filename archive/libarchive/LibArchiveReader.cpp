#include "archive/libarchive/LibArchiveReader.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "archive/FileTimes.h"
#include "archive/libarchive/AllocationBounds.h"
#include "archive/libarchive/ReaderSetup.h"
#include "base/FileSystem.h"
#include "base/TextCodec.h"
#include "zip/EntryAttributes.h"
#include "zip/EntryName.h"
#include "zip/NameEncoding.h"

namespace {

constexpr size_t kReadPiece = 128 * 1024;
// Written at most this much at once, so that the output's cancel check
// comes at least every MiB.
constexpr size_t kWritePiece = 256 * 1024;

// Names without a Unicode form are read in ISO-8859-1, which gives every
// byte as the character of that value: the bytes come back unchanged and
// are decoded by the archive's rule. A second reading in code page 437
// tells such names from Unicode ones made only of those characters (a pax
// "path" or a RAR Unicode name): those read the same both times.
constexpr char kBytesCharset[] = "CP28591";
constexpr char kCheckCharset[] = "CP437";

// libarchive's file callbacks over our own handles: Unicode and long
// paths, shared for reading and deleting as the ZIP reader opens files.
struct VolumeReader {
    static int open(struct archive*, void* data) {
        auto* v = static_cast<LibArchiveReader::Volume*>(data);
        v->file.reset(::CreateFileW(systemPath(v->path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!v->buffer) v->buffer.reset(new uint8_t[kReadPiece]);
        return v->file ? ARCHIVE_OK : ARCHIVE_FATAL;
    }
    static la_ssize_t read(struct archive*, void* data, const void** buffer) {
        auto* v = static_cast<LibArchiveReader::Volume*>(data);
        DWORD got = 0;
        if (!v->file || !::ReadFile(v->file.get(), v->buffer.get(), kReadPiece, &got, nullptr)) return -1;
        *buffer = v->buffer.get();
        return static_cast<la_ssize_t>(got);
    }
    static la_int64_t seek(struct archive*, void* data, la_int64_t offset, int whence) {
        auto* v = static_cast<LibArchiveReader::Volume*>(data);
        LARGE_INTEGER to{}, now{};
        to.QuadPart = offset;
        DWORD method = whence == SEEK_SET ? FILE_BEGIN : whence == SEEK_CUR ? FILE_CURRENT : FILE_END;
        if (!v->file || !::SetFilePointerEx(v->file.get(), to, &now, method)) return ARCHIVE_FATAL;
        return now.QuadPart;
    }
    static la_int64_t skip(struct archive* a, void* data, la_int64_t request) {
        auto* v = static_cast<LibArchiveReader::Volume*>(data);
        la_int64_t at = seek(a, data, 0, SEEK_CUR);
        if (at < 0 || request <= 0) return 0;
        la_int64_t left = static_cast<la_int64_t>(v->size) > at ? static_cast<la_int64_t>(v->size) - at : 0;
        la_int64_t n = std::min(request, left);
        return seek(a, data, n, SEEK_CUR) < 0 ? 0 : n;
    }
    static int close(struct archive*, void* data) {
        if (data) static_cast<LibArchiveReader::Volume*>(data)->file.reset();
        return ARCHIVE_OK;
    }
    static int switchTo(struct archive* a, void* from, void* to) {
        close(a, from);
        return to ? open(a, to) : ARCHIVE_OK;
    }
};

uint64_t fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(systemPath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

// The name a single compressed file is extracted as: the archive's own
// name without the compression's suffix ("a.tgz" gives "a.tar").
std::wstring rawEntryName(const std::wstring& archivePath) {
    size_t sep = archivePath.find_last_of(L"\\/");
    std::wstring name = sep == std::wstring::npos ? archivePath : archivePath.substr(sep + 1);
    std::wstring lower = name;
    for (wchar_t& c : lower) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    static const struct {
        const wchar_t* suffix;
        const wchar_t* replacement;
    } kSuffixes[] = {{L".tgz", L".tar"}, {L".tbz2", L".tar"}, {L".tbz", L".tar"}, {L".txz", L".tar"},
                     {L".tzst", L".tar"}, {L".gz", L""}, {L".bz2", L""}, {L".xz", L""}, {L".zst", L""}};
    for (const auto& s : kSuffixes) {
        size_t n = std::wcslen(s.suffix);
        if (lower.size() > n && lower.compare(lower.size() - n, n, s.suffix) == 0)
            return name.substr(0, name.size() - n) + s.replacement;
    }
    return name;
}

bool hasHighLatin1Only(const std::wstring& name) {
    bool high = false;
    for (wchar_t c : name) {
        if (static_cast<uint32_t>(c) > 0xFF) return false;
        if (c >= 0x80) high = true;
    }
    return high;
}

std::string latin1Bytes(const std::wstring& name) {
    std::string out;
    out.reserve(name.size());
    for (wchar_t c : name) out += static_cast<char>(static_cast<unsigned char>(c));
    return out;
}

// A link's target joined to the folder of the link, as the system would
// follow it: whether it points outside the destination.
bool linkLeaves(const std::wstring& linkName, const std::wstring& target, bool hardLink) {
    if (target.empty()) return false;
    if (isAbsoluteName(target)) return true;
    // A hard link names another entry's path in the archive; a symbolic
    // link is relative to the link's own folder.
    std::wstring joined = target;
    if (!hardLink) {
        size_t sep = linkName.find_last_of(L"\\/");
        if (sep != std::wstring::npos) joined = linkName.substr(0, sep + 1) + target;
    }
    return storedNameLeaves(joined);
}

int32_t clampSize(uint64_t size) { return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size); }

}  // namespace

LibArchiveReader::~LibArchiveReader() { stopReading(); }

std::unique_ptr<LibArchiveReader> LibArchiveReader::open(const std::wstring& path, ArchiveFormat sniffed) {
    std::unique_ptr<LibArchiveReader> r(new LibArchiveReader);
    r->sniffed_ = sniffed;
    r->format_ = sniffed;
    r->path_ = path;
    VolumeSet set;
    if (sniffed == ArchiveFormat::sevenZip || sniffed == ArchiveFormat::rar || sniffed == ArchiveFormat::rar5) {
        set = findVolumes(path, pathExists);
        // "x.rar" followed by nothing is a single archive; a name of a set
        // ("x.part1.rar", "x.7z.001") may go on in a volume that is missing.
        r->incompleteSet_ = isVolumeName(path) || set.paths.size() > 1;
    } else {
        set.paths.push_back(path);
    }
    for (const std::wstring& p : set.paths) {
        auto v = std::make_unique<Volume>();
        v->path = p;
        v->size = fileSize(p);
        r->archiveSize_ += v->size;
        r->volumes_.push_back(std::move(v));
    }
    if (!r->listEntries()) return nullptr;
    return r;
}

struct archive* LibArchiveReader::startReading(const char* charset) {
    struct archive* a = archive_read_new();
    if (!a) return nullptr;
    enableReaders(a, sniffed_);
    if (charset) archive_read_set_options(a, (std::string("hdrcharset=") + charset).c_str());
    archive_read_set_open_callback(a, VolumeReader::open);
    archive_read_set_read_callback(a, VolumeReader::read);
    archive_read_set_seek_callback(a, VolumeReader::seek);
    archive_read_set_skip_callback(a, VolumeReader::skip);
    archive_read_set_close_callback(a, VolumeReader::close);
    archive_read_set_switch_callback(a, VolumeReader::switchTo);
    bool ok = true;
    for (size_t i = 0; i < volumes_.size() && ok; i++)
        ok = archive_read_append_callback_data(a, volumes_[i].get()) == ARCHIVE_OK;
    if (!ok || archive_read_open1(a) != ARCHIVE_OK) {
        archive_read_free(a);
        return nullptr;
    }
    return a;
}

void LibArchiveReader::stopReading() {
    if (reader_) archive_read_free(reader_);
    reader_ = nullptr;
    current_ = -1;
    dataTaken_ = false;
}

void LibArchiveReader::describe(struct archive_entry* e, Entry* out) const {
    const wchar_t* wide = archive_entry_pathname_w(e);
    if (wide) {
        out->name = wide;
    } else if (const char* bytes = archive_entry_pathname(e)) {
        out->name = legacyToWide(bytes, legacyNameCodePage());
    }
    switch (archive_entry_filetype(e)) {
    case AE_IFREG: out->kind = Kind::file; break;
    case AE_IFDIR: out->kind = Kind::folder; break;
    case AE_IFLNK: out->kind = Kind::link; break;
    default: out->kind = Kind::special; break;
    }
    if (const wchar_t* hard = archive_entry_hardlink_w(e)) {
        out->kind = Kind::link;
        out->hardLink = true;
        out->linkTarget = hard;
    } else if (out->kind == Kind::link) {
        const wchar_t* target = archive_entry_symlink_w(e);
        out->linkTarget = target ? target : L"";
    }
    out->encrypted = archive_entry_is_data_encrypted(e) != 0;
    out->sizeKnown = archive_entry_size_is_set(e) != 0;
    out->size = out->sizeKnown && archive_entry_size(e) > 0 ? static_cast<uint64_t>(archive_entry_size(e)) : 0;
    uint32_t attributes = out->kind == Kind::folder ? kAttributeDirectory : kAttributeArchive;
    // A file its owner may not write is read-only.
    if (out->kind == Kind::file && (archive_entry_perm(e) & 0200) == 0 && archive_entry_perm(e) != 0)
        attributes |= kAttributeReadOnly;
    out->stamp.attributes = attributes;
    if (archive_entry_mtime_is_set(e))
        out->stamp.modification = unixToFileTime(archive_entry_mtime(e), archive_entry_mtime_nsec(e));
    if (archive_entry_atime_is_set(e))
        out->stamp.access = unixToFileTime(archive_entry_atime(e), archive_entry_atime_nsec(e));
    if (archive_entry_birthtime_is_set(e))
        out->stamp.creation = unixToFileTime(archive_entry_birthtime(e), archive_entry_birthtime_nsec(e));
}

bool LibArchiveReader::walkHeaders(const char* charset, std::vector<Entry>* entries, bool* encryptedHeaders) {
    entries->clear();
    *encryptedHeaders = false;
    struct archive* a = startReading(charset);
    if (!a) return false;
    bool ok = true;
    for (;;) {
        struct archive_entry* e = nullptr;
        int rc = archive_read_next_header(a, &e);
        if (rc == ARCHIVE_EOF) break;
        if (rc < ARCHIVE_WARN) {
            // Encrypted headers show as the first header failing.
            if (entries->empty() && archive_read_has_encrypted_entries(a) > 0) *encryptedHeaders = true;
            ok = false;
            break;
        }
        if (entries->empty() && isCompressedStream(sniffed_)) {
            raw_ = archive_format(a) == ARCHIVE_FORMAT_RAW;
            format_ = raw_ ? sniffed_ : ArchiveFormat::tar;
        }
        Entry entry;
        describe(e, &entry);
        if (raw_) {
            // One file, named after the archive; its size is known only
            // once it is read, so the listing reads no further.
            entry.name = rawEntryName(path_);
            entry.kind = Kind::file;
            entry.sizeKnown = false;
            entries->push_back(std::move(entry));
            break;
        }
        entries->push_back(std::move(entry));
    }
    archive_read_free(a);
    return ok;
}

bool LibArchiveReader::listEntries() {
    const bool byteNames = hasByteNames(sniffed_);
    bool encryptedHeaders = false;
    const bool complete = walkHeaders(byteNames ? kBytesCharset : nullptr, &entries_, &encryptedHeaders);
    const bool rarEncrypted = (sniffed_ == ArchiveFormat::rar || sniffed_ == ArchiveFormat::rar5) && [&] {
        uint8_t head[64] = {};
        DWORD got = 0;
        UniqueFile f(::CreateFileW(systemPath(path_).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
        return f && ::ReadFile(f.get(), head, sizeof head, &got, nullptr) && rarHeadersEncrypted(head, got);
    }();
    if (entries_.empty() && (encryptedHeaders || rarEncrypted)) {
        // The names can be read only with the password, which this reader
        // cannot use: the archive opens with nothing to list.
        namesEncrypted_ = true;
        verdict_.finish(archiveSize_);
        return true;
    }
    // A damaged archive lists what could be read; extraction stops where
    // the damage is. An archive of which nothing at all can be read is no
    // archive to us.
    if (!complete && entries_.empty()) return false;
    if (!complete) unreachableFrom_ = static_cast<int32_t>(entries_.size());
    if (byteNames && !raw_) decodeNames();
    judge();
    return true;
}

void LibArchiveReader::decodeNames() {
    // Names made only of characters up to U+00FF are either stored bytes or
    // Unicode names of such characters; a reading in another code page
    // tells them apart.
    bool ambiguous = std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) {
        return hasHighLatin1Only(e.name) || (e.hardLink && hasHighLatin1Only(e.linkTarget));
    });
    std::vector<Entry> check;
    bool ignored = false;
    if (ambiguous) walkHeaders(kCheckCharset, &check, &ignored);
    for (size_t i = 0; i < entries_.size(); i++) {
        Entry& e = entries_[i];
        if (!hasHighLatin1Only(e.name)) continue;
        // Read differently in another code page: the stored bytes.
        if (i < check.size() && check[i].name == e.name) continue;
        e.fromBytes = true;
        e.bytes = latin1Bytes(e.name);
    }
    // One rule for the archive, as for ZIP: UTF-8 when every name of stored
    // bytes is valid UTF-8, else the ANSI code page.
    const bool utf8 = std::all_of(entries_.begin(), entries_.end(),
                                  [](const Entry& e) { return !e.fromBytes || isStrictUtf8(e.bytes); });
    const UINT codePage = legacyNameCodePage();
    const auto decode = [&](const std::string& bytes) {
        if (utf8) {
            if (std::optional<std::wstring> w = decodeUtf8(bytes)) return *w;
        }
        return legacyToWide(bytes, codePage);
    };
    for (Entry& e : entries_) {
        if (e.fromBytes) e.name = decode(e.bytes);
        if (!e.linkTarget.empty() && hasHighLatin1Only(e.linkTarget) && (e.fromBytes || !utf8))
            e.linkTarget = decode(latin1Bytes(e.linkTarget));
    }
}

void LibArchiveReader::judge() {
    verdict_ = ArchiveVerdict{};
    for (const Entry& e : entries_) {
        const std::string utf8 = encodeUtf8(e.name);
        // A link that points outside the destination is judged as a name
        // that leaves it; we never make the link, but the archive meant harm.
        const std::wstring leaving = L"../" + e.name;
        EntryFacts facts;
        facts.ansiName = utf8;
        facts.utf8Name = utf8;
        facts.unicodeName = e.kind == Kind::link && linkLeaves(e.name, e.linkTarget, e.hardLink)
                                ? std::wstring_view(leaving)
                                : std::wstring_view(e.name);
        facts.encrypted = e.encrypted && e.kind == Kind::file;
        // Packed sizes per entry are not given: the archive as a whole
        // stands for them, so only an entry out of proportion by itself is
        // blamed, or the largest when many modest ones are.
        facts.compressedSize = archiveSize_;
        facts.uncompressedSize = e.size;
        verdict_.add(facts, [](unsigned char) { return false; });
    }
    verdict_.finish(archiveSize_);
}

EntryInfo LibArchiveReader::entryInfo(int32_t index) {
    EntryInfo info;
    if (index == -1) {
        info.index = entryCount();
        return info;
    }
    if (index < 0 || index >= entryCount()) return info;
    const Entry& e = entries_[static_cast<size_t>(index)];
    info.index = index;
    info.unicodeName = cleanEntryName(e.name);
    // Folder names end in a separator, as in a ZIP archive.
    if (e.kind == Kind::folder && !info.unicodeName.empty() && !isSeparator(info.unicodeName.back()))
        info.unicodeName += L'/';
    info.name = wideToAnsiName(info.unicodeName);
    info.attributes = static_cast<int32_t>(e.stamp.attributes);
    if (e.stamp.modification) info.modificationTime = toOleDate(*e.stamp.modification);
    if (e.stamp.access) info.accessTime = toOleDate(*e.stamp.access);
    if (e.stamp.creation) info.creationTime = toOleDate(*e.stamp.creation);
    info.uncompressedSize = clampSize(e.size);
    info.fullUncompressedSize = e.size;
    // A plain tar stores its files as they are.
    if (format_ == ArchiveFormat::tar && sniffed_ == ArchiveFormat::tar) {
        info.fullCompressedSize = e.size;
        info.compressedSize = clampSize(e.size);
    }
    return info;
}

int32_t LibArchiveReader::readFailure() const {
    // A dictionary or a buffer beyond the bounds on libarchive's memory:
    // settings this program does not take, not damage.
    if (qz_archive_take_refusal()) return kZipReadFailed;
    if (!incompleteSet_ || !reader_) return kZipDataError;
    // Reading went to the end of the volumes there are (but for the last
    // volume's closing headers) and wanted more.
    constexpr uint64_t kClosingHeaders = 4096;
    const uint64_t consumed = static_cast<uint64_t>(std::max<la_int64_t>(archive_filter_bytes(reader_, -1), 0));
    return consumed + kClosingHeaders >= archiveSize_ ? kZipMissingVolume : kZipDataError;
}

int32_t LibArchiveReader::seekEntry(int32_t index) {
    if (index >= unreachableFrom_) return unreachableCode_;
    // Forward only: an entry at or before the one read last starts again.
    if (reader_ && (index < current_ || (index == current_ && dataTaken_))) stopReading();
    if (!reader_) {
        const bool byteNames = hasByteNames(sniffed_);
        reader_ = startReading(byteNames ? kBytesCharset : nullptr);
        if (!reader_) return kZipReadFailed;
        bytesSeen_ = 0;
    }
    while (current_ < index) {
        struct archive_entry* e = nullptr;
        int rc = archive_read_next_header(reader_, &e);
        if (rc < ARCHIVE_WARN || rc == ARCHIVE_EOF) {
            unreachableFrom_ = current_ + 1;
            unreachableCode_ = rc == ARCHIVE_EOF ? kZipDataError : readFailure();
            stopReading();
            return unreachableCode_;
        }
        current_++;
        dataTaken_ = false;
    }
    return kZipOk;
}

int32_t LibArchiveReader::extractEntry(int32_t index, const std::wstring& fileName) {
    if (index < 0 || index >= entryCount()) return kZipBadIndex;
    const Entry& entry = entries_[static_cast<size_t>(index)];
    OutputTarget target;
    if (int32_t rc = output_.resolve(fileName, &target)) return rc;
    // Links, FIFOs and devices are never made: a later entry that goes
    // "through" a link's name writes a plain folder of ours.
    if (entry.kind == Kind::link || entry.kind == Kind::special) return kZipNotAFile;
    if (entry.kind == Kind::folder) return output_.makeFolder(target);
    if (entry.encrypted) return kZipUnsupportedEncryption;
    MadeFolders made;
    std::wstring output;
    size_t folderLength = 0;
    if (int32_t rc = output_.prepareFile(fileName, target, entry.size, made, &output, &folderLength)) return rc;
    if (int32_t rc = seekEntry(index)) return rc;
    int32_t rc = writeData(entry, output, folderLength);
    if (rc == kZipOk) made.keep();
    return rc;
}

int32_t LibArchiveReader::writeData(const Entry& entry, const std::wstring& output, size_t folderLength) {
    dataTaken_ = true;
    qz_archive_take_refusal();  // only this entry's own refusals count
    // What the entry may write: its declared size; a single compressed file
    // declares none, and is stopped where the ZIP reader's size rule would
    // call it a bomb, or where the volume is full.
    uint64_t limit = entry.size;
    if (!entry.sizeKnown) {
        uint64_t ratio = archiveSize_ <= UINT64_MAX / ArchiveVerdict::kBombRatio
                             ? archiveSize_ * ArchiveVerdict::kBombRatio
                             : UINT64_MAX;
        limit = std::max(ratio, ArchiveVerdict::kBombFloor);
        if (std::optional<uint64_t> room = output_.freeSpace()) limit = std::min(limit, *room);
    }
    OutputFile out(entry.stamp, output, folderLength, completedFileHook_, pieceHook_);
    static const std::vector<uint8_t> kZeros(kWritePiece);
    // Writes size bytes (zeros for a hole when data is null) within the limit.
    const auto put = [&](const uint8_t* data, uint64_t size) -> int32_t {
        if (size > limit - out.written()) return entry.sizeKnown ? kZipDataError : kZipWriteFailed;
        while (size > 0) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(size, kWritePiece));
            if (int32_t rc = out.write(data ? data : kZeros.data(), n)) return rc;
            if (data) data += n;
            size -= n;
        }
        return kZipOk;
    };
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int rc = archive_read_data_block(reader_, &block, &size, &offset);
        if (rc < ARCHIVE_WARN) {
            int32_t code = readFailure();
            stopReading();
            return code;
        }
        // A sparse file's holes come as jumps in the offset.
        if (offset > 0 && static_cast<uint64_t>(offset) > out.written()) {
            if (int32_t r = put(nullptr, static_cast<uint64_t>(offset) - out.written())) return r;
        }
        if (rc == ARCHIVE_EOF) break;
        if (int32_t r = put(static_cast<const uint8_t*>(block), size)) return r;
        const int64_t seen = archive_filter_bytes(reader_, -1);
        const uint64_t stored = seen > bytesSeen_ ? static_cast<uint64_t>(seen - bytesSeen_) : 0;
        bytesSeen_ = std::max(bytesSeen_, seen);
        if (pieceHook_ && !pieceHook_(stored)) return kZipCancelled;
    }
    // Ended short of its size: damaged, or its data goes on in a volume that
    // is missing (RAR 5 ends such an entry without an error).
    if (entry.sizeKnown && out.written() != entry.size) return readFailure();
    return out.commit();
}
