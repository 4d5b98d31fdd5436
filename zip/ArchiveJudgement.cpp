// The verdict on an open archive: one walk through the central directory
// when the archive is opened, reading each entry's record and name but
// neither its local header nor its data. The rules are in ArchiveVerdict.cpp.
#include <algorithm>

#include "zip/ArchiveFile.h"
#include "zip/ArchiveReader.h"

namespace {

constexpr uint64_t kLocalHeaderBytes = 30;  // the fixed part of a local header

uint64_t addSaturating(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

}  // namespace

void ArchiveReader::judgeEntries() {
    verdict_ = ArchiveVerdict{};
    if (!zip_) return;  // an archive without entries
    const bool ranges = readRanges();
    for (int32_t i = 0; i < count_; i++) {
        unz_file_info64 info{};
        if (goToEntry(i) != kZipOk ||
            unzGetCurrentFileInfo64(zip_, &info, nameBuffer_.data(), static_cast<uLong>(nameBuffer_.size()),
                                    centralExtra_.data(), static_cast<uLong>(centralExtra_.size()), nullptr, 0) != UNZ_OK) {
            verdict_.addUnread();
            continue;
        }
        size_t centralSize = std::min<size_t>(info.size_file_extra, centralExtra_.size());
        std::optional<std::string> utf8;
        std::string ansi = entryName(info, centralSize, 0, &utf8);
        ansi.resize(characterBoundary(ansi, kMaxPathBytes, isAnsiLeadByte));
        EntryFacts facts;
        facts.ansiName = ansi;
        if (utf8) facts.utf8Name = *utf8;
        facts.encrypted = info.flag & 0x01;
        // The local header is at least as long as its fixed part and the
        // name (minizip insists the lengths agree); its extra field is
        // unknown here, so the extraction's check stays the exact one.
        uint64_t least = addSaturating(kLocalHeaderBytes + info.size_filename, info.compressed_size);
        facts.fitsItsRoom = ranges && ranges_.mayHold(static_cast<uint64_t>(i), least);
        facts.compressedSize = info.compressed_size;
        facts.uncompressedSize = info.uncompressed_size;
        verdict_.add(facts, isAnsiLeadByte);
    }
    verdict_.finish(file_->size());
}
