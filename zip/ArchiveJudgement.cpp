// The verdict on an open archive: one walk through the central directory
// when the archive is opened, reading each entry's record and name but
// neither its local header nor its data. The rules are in ArchiveVerdict.cpp.
#include <algorithm>
#include <vector>

#include "zip/ArchiveFile.h"
#include "zip/ArchiveReader.h"

namespace {

constexpr uint64_t kLocalHeaderBytes = 30;  // the fixed part of a local header
constexpr size_t kMaxField = 0xFFFF;  // names have 16-bit lengths

uint64_t addSaturating(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

}  // namespace

void ArchiveReader::judgeEntries() {
    verdict_ = ArchiveVerdict{};
    if (!zip_) return;  // an archive without entries
    const bool ranges = readRanges();
    // The first walk reads every record and decides how names without the
    // flag or a Unicode path block are read; the second judges each entry
    // by its name so decoded. Only the records are kept in between.
    struct Record {
        bool read = false;
        uint16_t flags = 0;
        std::string stored;
        std::optional<std::string> unicodePath;
        EntryFacts facts;
    };
    std::vector<Record> records(static_cast<size_t>(count_));
    PlainNameVote vote;
    for (int32_t i = 0; i < count_; i++) {
        unz_file_info64 info{};
        if (goToEntry(i) != kZipOk ||
            unzGetCurrentFileInfo64(zip_, &info, nameBuffer_.data(), static_cast<uLong>(nameBuffer_.size()),
                                    centralExtra_.data(), static_cast<uLong>(centralExtra_.size()), nullptr, 0) != UNZ_OK) {
            continue;
        }
        Record& r = records[static_cast<size_t>(i)];
        r.read = true;
        r.flags = static_cast<uint16_t>(info.flag);
        std::string_view stored(nameBuffer_.data(), std::min<size_t>(info.size_filename, kMaxField));
        r.stored.assign(stored.substr(0, stored.find('\0')));
        size_t centralSize = std::min<size_t>(info.size_file_extra, centralExtra_.size());
        if (!(r.flags & kUtf8NameFlag) || !isStrictUtf8(r.stored))
            r.unicodePath = findUnicodePath(centralExtra_.data(), centralSize, stored);
        vote.add(static_cast<uint16_t>(info.version), r.flags, r.stored, r.unicodePath);
        EntryFacts& facts = r.facts;
        facts.encrypted = info.flag & 0x01;
        // The local header is at least as long as its fixed part and the
        // name (minizip insists the lengths agree); its extra field is
        // unknown here, so the extraction's check stays the exact one.
        uint64_t least = addSaturating(kLocalHeaderBytes + info.size_filename, info.compressed_size);
        facts.fitsItsRoom = ranges && ranges_.mayHold(static_cast<uint64_t>(i), least);
        facts.compressedSize = info.compressed_size;
        facts.uncompressedSize = info.uncompressed_size;
    }
    plainUtf8_ = vote.plainNamesAreUtf8();
    for (Record& r : records) {
        if (!r.read) {
            verdict_.addUnread();
            continue;
        }
        const std::wstring name = decodeName(chooseNameSource(r.flags, r.stored, r.unicodePath, plainUtf8_));
        const std::string utf8 = encodeUtf8(name);
        // The name is judged in its decoded form; UTF-8 has no byte that
        // looks like a separator inside a character.
        r.facts.ansiName = utf8;
        r.facts.utf8Name = utf8;
        r.facts.unicodeName = name;
        verdict_.add(r.facts, [](unsigned char) { return false; });
        r = Record{};  // what was judged is not needed again
    }
    verdict_.finish(file_->size());
}
