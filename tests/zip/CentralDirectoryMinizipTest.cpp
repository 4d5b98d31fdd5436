// The central directory read in one pass against minizip stepping through
// the same archive, on archives corrupted field by field: the same records
// are reached and readable, with the same fields, names and extra fields.
// minizip is built for Windows here, where its "all ones" is 32 bits wide,
// so this runs under Wine only.
#include "zip/CentralDirectory.h"

#include <gtest/gtest.h>

#include <minizip/unzip.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "../soak/ArchiveMutator.h"
#include "ZipBuilder.h"
#include "zip/EntryRanges.h"

namespace {

// minizip reading from memory the way ArchiveFile serves it: a read past
// the end comes up short and sets the error flag, a seek anywhere from 0 up
// succeeds.
struct MemoryFile {
    const Bytes* bytes;
    uint64_t position = 0;
    bool error = false;
};

zlib_filefunc64_def memoryFunctions(const Bytes& bytes) {
    zlib_filefunc64_def f{};
    f.opaque = const_cast<Bytes*>(&bytes);
    f.zopen64_file = [](voidpf opaque, const void*, int) -> voidpf {
        return new MemoryFile{static_cast<const Bytes*>(opaque)};
    };
    f.zread_file = [](voidpf, voidpf stream, void* buffer, uLong size) -> uLong {
        auto* file = static_cast<MemoryFile*>(stream);
        uint64_t available = file->position < file->bytes->size() ? file->bytes->size() - file->position : 0;
        uLong n = static_cast<uLong>(std::min<uint64_t>(size, available));
        if (n) std::memcpy(buffer, file->bytes->data() + file->position, n);
        file->position += n;
        if (n < size) file->error = true;
        return n;
    };
    f.zwrite_file = [](voidpf, voidpf, const void*, uLong) -> uLong { return 0; };
    f.ztell64_file = [](voidpf, voidpf stream) -> ZPOS64_T { return static_cast<MemoryFile*>(stream)->position; };
    f.zseek64_file = [](voidpf, voidpf stream, ZPOS64_T offset, int origin) -> long {
        auto* file = static_cast<MemoryFile*>(stream);
        int64_t base = origin == ZLIB_FILEFUNC_SEEK_CUR   ? static_cast<int64_t>(file->position)
                       : origin == ZLIB_FILEFUNC_SEEK_END ? static_cast<int64_t>(file->bytes->size())
                                                          : 0;
        int64_t target = base + static_cast<int64_t>(offset);
        if (target < 0) return -1;
        file->position = static_cast<uint64_t>(target);
        return 0;
    };
    f.zclose_file = [](voidpf, voidpf stream) -> int {
        delete static_cast<MemoryFile*>(stream);
        return 0;
    };
    f.zerror_file = [](voidpf, voidpf stream) -> int { return static_cast<MemoryFile*>(stream)->error; };
    return f;
}

CentralDirectory::ReadAt readerOf(const Bytes& bytes) {
    return [&bytes](uint64_t offset, uint8_t* buffer, size_t size) -> size_t {
        if (offset >= bytes.size()) return 0;
        size_t n = static_cast<size_t>(std::min<uint64_t>(size, bytes.size() - offset));
        std::memcpy(buffer, bytes.data() + offset, n);
        return n;
    };
}

struct Outcome {
    bool opened = false;  // minizip opened it with entries to walk
    size_t readable = 0;
};

// Walks the archive both ways and compares every entry the reader would
// list. what names the case in failures.
Outcome compareWithMinizip(const Bytes& archive, const std::string& what) {
    Outcome outcome;
    zlib_filefunc64_def functions = memoryFunctions(archive);
    unzFile zip = unzOpen2_64("memory", &functions);
    if (!zip) return outcome;
    unz_global_info64 global{};
    unzGetGlobalInfo64(zip, &global);
    // As the reader counts and opens: at most a record every 46 bytes, and
    // the first record readable.
    uint64_t count = std::min<uint64_t>({global.number_entry, archive.size() / 46, INT32_MAX});
    if (count == 0 || unzGoToFirstFile(zip) != UNZ_OK) {
        unzClose(zip);
        return outcome;
    }
    outcome.opened = true;
    // The reader finds minizip's first record from the end records it reads
    // itself: they must be minizip's.
    EntryRanges ranges;
    ranges.build(readerOf(archive), archive.size());
    EXPECT_TRUE(ranges.endRecordsRead()) << what;
    EXPECT_EQ(ranges.entryCount(), global.number_entry) << what;
    EXPECT_EQ(ranges.directoryOffset(), unzGetOffset64(zip)) << what;

    std::vector<std::pair<Bytes, Bytes>> visited(static_cast<size_t>(count));
    CentralDirectory directory;
    directory.read(readerOf(archive), archive.size(), ranges.firstRecord(), count,
                   [&](size_t i, const CentralRecord& r, const uint8_t* name, const uint8_t* extra) {
                       visited[i] = {Bytes(name, name + r.nameSize), Bytes(extra, extra + r.extraSize)};
                   });
    std::vector<char> name(0x10000);
    std::vector<uint8_t> extra(0xFFFF);
    for (size_t i = 0; i < count; i++) {
        if (i > 0 && unzGoToNextFile(zip) != UNZ_OK) {
            EXPECT_EQ(directory.size(), i) << what << ": minizip stops stepping here";
            break;
        }
        if (i >= directory.size()) {
            ADD_FAILURE() << what << ": minizip steps on to entry " << i;
            break;
        }
        unz_file_info64 info{};
        CentralRecord again;
        const uint8_t* fields = nullptr;
        const bool readable = directory.record(i, &again, &fields);
        const CentralRecord* r = readable ? &again : nullptr;
        if (unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()), extra.data(),
                                    static_cast<uLong>(extra.size()), nullptr, 0) != UNZ_OK) {
            EXPECT_EQ(r, nullptr) << what << ": entry " << i << " is unreadable to minizip";
            EXPECT_TRUE(visited[i].first.empty() && visited[i].second.empty()) << what << ": entry " << i << " visited";
            continue;
        }
        EXPECT_NE(r, nullptr) << what << ": entry " << i << " is readable to minizip";
        if (!r) continue;
        outcome.readable++;
        SCOPED_TRACE(what + ": entry " + std::to_string(i));
        EXPECT_EQ(r->versionMadeBy, info.version);
        EXPECT_EQ(r->flags, info.flag);
        EXPECT_EQ(r->method, info.compression_method);
        EXPECT_EQ(r->dosDateTime, info.dosDate);
        EXPECT_EQ(r->crc, info.crc);
        EXPECT_EQ(r->compressedSize, info.compressed_size);
        EXPECT_EQ(r->uncompressedSize, info.uncompressed_size);
        EXPECT_EQ(r->externalAttributes, info.external_fa);
        EXPECT_EQ(r->nameSize, info.size_filename);
        EXPECT_EQ(r->extraSize, info.size_file_extra);
        const Bytes minizipName(name.begin(), name.begin() + info.size_filename);
        const Bytes minizipExtra(extra.begin(), extra.begin() + info.size_file_extra);
        EXPECT_EQ(visited[i].first, minizipName);
        EXPECT_EQ(visited[i].second, minizipExtra);
        // Read again, the record is the same.
        EXPECT_EQ(Bytes(fields, fields + r->nameSize), minizipName);
        EXPECT_EQ(Bytes(fields + r->nameSize, fields + r->nameSize + r->extraSize), minizipExtra);
    }
    unzClose(zip);
    return outcome;
}

// Archives whose directories hold what minizip reads in its own ways:
// ZIP64 blocks with other blocks after them, extended timestamps, Unicode
// paths, folders, bytes before the archive.
struct Seed {
    std::string name;
    Bytes archive;
    size_t entries;
};

std::vector<Seed> seeds() {
    std::vector<Seed> out;
    TestEntry timed = makeEntry("timed.txt", "with a timestamp", 0);
    timed.centralExtra = utBlock(1, {1600000000});
    TestEntry unicode = makeEntry("\xC3\xA9t\xC3\xA9.txt", "Unicode path", 8);
    unicode.centralExtra = unicodePathBlock(unicode.name, "\xC3\xA9t\xC3\xA9.txt");
    out.push_back({"plain", ZipBuilder().file("a.txt", "alpha").folder("dir/").add(timed).add(unicode).build(), 4});

    ZipBuilder zip64;
    for (const char* n : {"big1.bin", "big2.bin", "big3.bin"}) {
        TestEntry e = makeEntry(n, std::string(300, 'z'), 8);
        e.zip64 = true;
        e.centralExtra = utBlock(1, {1600000000});  // after the ZIP64 block
        zip64.add(e);
    }
    out.push_back({"zip64", zip64.zip64End().build(), 3});
    out.push_back({"drifting", ZipBuilder().add(driftingZip64Entry()).file("after.txt", "after").build(), 2});
    out.push_back({"prefixed", ZipBuilder().prefix(Bytes(100, 'x')).file("a.txt", "alpha").add(timed).build(), 2});
    return out;
}

TEST(CentralDirectoryMinizip, ReadsEveryRecordAsMinizipDoes) {
    for (const Seed& s : seeds()) {
        Outcome whole = compareWithMinizip(s.archive, s.name);
        EXPECT_TRUE(whole.opened) << s.name;
        EXPECT_EQ(whole.readable, s.entries) << s.name;
    }
}

TEST(CentralDirectoryMinizip, ReadsCorruptedRecordsAsMinizipDoes) {
    constexpr uint64_t kCases = 1000;
    for (const Seed& s : seeds()) {
        const std::string& name = s.name;
        const std::vector<ArchiveField> fields = findFields(s.archive);
        size_t opened = 0;
        for (uint64_t seed = 1; seed <= kCases; seed++) {
            Mutation m = mutate(s.archive, fields, seed * 0x9E3779B97F4A7C15ULL + name.size());
            if (compareWithMinizip(m.archive, name + " seed " + std::to_string(seed) + " (" + m.what + ")").opened)
                opened++;
            if (HasFailure()) return;  // one case says enough
        }
        // Most corruptions leave an archive minizip opens and walks.
        EXPECT_GT(opened, kCases / 2) << name;
    }
}

}  // namespace
