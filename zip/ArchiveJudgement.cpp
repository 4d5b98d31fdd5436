// The verdict on an open archive: one walk through the central directory
// when the archive is opened, reading each entry's record and name but
// neither its local header nor its data; the records are kept for listing.
// The rules are in ArchiveVerdict.cpp.
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    // The walk through the directory reads every record and decides how
    // names without the flag or a Unicode path block are read; then each
    // entry is judged by its name so decoded. In between, the stored names
    // (up to their first NUL) wait one after the other in one buffer, the
    // rare Unicode path blocks' texts beside it, and of each readable record
    // what the judgement needs.
    struct Readable {
        size_t index;
        size_t nameEnd;  // in names
        uint64_t compressedSize, uncompressedSize;
        uint16_t flags, nameSize;
    };
    std::vector<Readable> readable;
    std::string names;
    std::vector<std::pair<size_t, std::string>> unicodePaths;  // by entry index
    PlainNameVote vote;
    const auto visit = [&](size_t i, const CentralRecord& c, const uint8_t* name, const uint8_t* extra) {
        const std::string_view whole(reinterpret_cast<const char*>(name), c.nameSize);
        const std::string_view stored = whole.substr(0, whole.find('\0'));
        std::optional<std::string> unicodePath;
        if (!(c.flags & kUtf8NameFlag) || !isStrictUtf8(stored))
            unicodePath = findUnicodePath(extra, c.extraSize, whole);
        vote.add(c.versionMadeBy, c.flags, stored, unicodePath);
        names += stored;
        readable.push_back({i, names.size(), c.compressedSize, c.uncompressedSize, c.flags, c.nameSize});
        if (unicodePath) unicodePaths.emplace_back(i, *std::move(unicodePath));
    };
    directory_.read(fileReader(), file_->size(), ranges_.firstRecord(), static_cast<uint64_t>(count_), visit);
    plainUtf8_ = vote.plainNamesAreUtf8();

    auto next = readable.begin();
    auto path = unicodePaths.begin();
    size_t nameAt = 0;
    std::optional<std::string> unicodePath;
    for (size_t i = 0; i < static_cast<size_t>(count_); i++) {
        if (next == readable.end() || next->index != i) {
            verdict_.addUnread();
            continue;
        }
        const Readable& c = *next++;
        const std::string_view stored = std::string_view(names).substr(nameAt, c.nameEnd - nameAt);
        nameAt = c.nameEnd;
        unicodePath.reset();
        if (path != unicodePaths.end() && path->first == i) unicodePath = std::move((path++)->second);
        const std::wstring name = decodeName(chooseNameSource(c.flags, stored, unicodePath, plainUtf8_));
        const std::string utf8 = encodeUtf8(name);
        // The name is judged in its decoded form; UTF-8 has no byte that
        // looks like a separator inside a character.
        EntryFacts facts;
        facts.ansiName = utf8;
        facts.utf8Name = utf8;
        facts.unicodeName = name;
        facts.encrypted = c.flags & 0x01;
        // The local header is at least as long as its fixed part and the
        // name (minizip insists the lengths agree); its extra field is
        // unknown here, so the extraction's check stays the exact one.
        uint64_t least = addSaturating(kLocalHeaderBytes + c.nameSize, c.compressedSize);
        facts.fitsItsRoom = ranges && ranges_.mayHold(i, least);
        facts.compressedSize = c.compressedSize;
        facts.uncompressedSize = c.uncompressedSize;
        verdict_.add(facts, [](unsigned char) { return false; });
    }
    verdict_.finish(file_->size());
}
