// The central directory read in one pass, on archives made byte by byte:
// records across the reading window's edges, where stepping stops, names
// past the end of the file, and minizip's way with ZIP64 blocks. That every
// record reads as minizip reads it is CentralDirectoryMinizipTest's part.
#include "zip/CentralDirectory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "ZipBuilder.h"
#include "zip/EntryRanges.h"

namespace {

struct Read {
    CentralDirectory directory;
    std::vector<std::string> names;  // as visited, by index

    // Record index read again, and its name; nothing when it is unreadable.
    std::optional<std::pair<CentralRecord, std::string>> record(size_t index) {
        CentralRecord r;
        const uint8_t* fields = nullptr;
        if (!directory.record(index, &r, &fields)) return std::nullopt;
        return std::make_pair(r, std::string(reinterpret_cast<const char*>(fields), r.nameSize));
    }
};

Read readAll(const Bytes& archive) {
    const CentralDirectory::ReadAt read = [&archive](uint64_t offset, uint8_t* buffer, size_t size) -> size_t {
        if (offset >= archive.size()) return 0;
        size_t n = std::min<size_t>(size, archive.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, archive.data() + offset, n);
        return n;
    };
    EntryRanges ranges;
    ranges.build(read, archive.size());
    Read r;
    r.names.resize(static_cast<size_t>(ranges.entryCount()));
    r.directory.read(read, archive.size(), ranges.firstRecord(), ranges.entryCount(),
                     [&](size_t i, const CentralRecord& c, const uint8_t* name, const uint8_t*) {
                         r.names[i].assign(reinterpret_cast<const char*>(name), c.nameSize);
                     });
    return r;
}

TEST(CentralDirectory, RecordsAcrossTheReadingWindow) {
    // Records over twice the window's size, of every length, so that records, names
    // and extra fields straddle the edges of the window.
    ZipBuilder b;
    std::vector<TestEntry> entries;
    for (int i = 0; i < 1500; i++) {
        TestEntry e = makeEntry(std::to_string(i) + "/" + std::string(static_cast<size_t>(i % 400), 'n'), "data", 0);
        e.centralExtra = utBlock(1, {1600000000 + i});
        e.centralExtra.resize(e.centralExtra.size() + static_cast<size_t>(i * 7 % 300), 0);
        e.dosTime = kSampleDosTime + static_cast<uint32_t>(i);
        e.external = kUnixFile + static_cast<uint32_t>(i);
        entries.push_back(e);
        b.add(e);
    }
    const Bytes archive = b.build();
    Read r = readAll(archive);
    ASSERT_EQ(r.directory.size(), entries.size());
    // Read again out of order, which moves the window back and forth.
    for (size_t i : {size_t{1499}, size_t{0}, size_t{750}, size_t{3}}) EXPECT_EQ(r.record(i)->second, entries[i].name);
    for (size_t i = 0; i < entries.size(); i++) {
        const auto again = r.record(i);
        ASSERT_TRUE(again) << i;
        const CentralRecord* c = &again->first;
        EXPECT_EQ(r.names[i], entries[i].name) << i;
        EXPECT_EQ(again->second, entries[i].name) << i;
        EXPECT_EQ(c->extraSize, entries[i].centralExtra.size()) << i;
        EXPECT_EQ(c->dosDateTime, entries[i].dosTime) << i;
        EXPECT_EQ(c->externalAttributes, entries[i].external) << i;
        EXPECT_EQ(c->uncompressedSize, 4u) << i;
        EXPECT_EQ(std::memcmp(archive.data() + c->namePosition(), entries[i].name.data(), c->nameSize), 0) << i;
    }
}

TEST(CentralDirectory, WhereMinizipStopsAndWhatItCannotRead) {
    ZipBuilder b;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) b.file(name, "data");
    const Bytes archive = b.build();
    const size_t directory = archive.size() - 22 - 3 * (46 + 5);
    struct Case {
        const char* what;
        size_t at;  // from the directory's start
        uint16_t value;
        size_t reached;
        std::vector<bool> readable;
    } cases[] = {
        {"the second record's signature broken", 46 + 5, 0x5858, 1, {true}},
        {"the last name running past the end", 2 * (46 + 5) + 28, 0xFFFF, 3, {true, true, false}},
        // The extra field's blocks are walked by their sizes, from the end
        // record's bytes on, until one lies past the end of the file.
        {"the last extra field running past the end", 2 * (46 + 5) + 30, 0xFFFF, 2, {true, true}},
    };
    for (const Case& c : cases) {
        Bytes broken = archive;
        broken[directory + c.at] = static_cast<uint8_t>(c.value);
        broken[directory + c.at + 1] = static_cast<uint8_t>(c.value >> 8);
        Read r = readAll(broken);
        EXPECT_EQ(r.directory.size(), c.reached) << c.what;
        for (size_t i = 0; i < 3; i++) {
            const bool readable = i < c.readable.size() && c.readable[i];
            EXPECT_EQ(r.record(i).has_value(), readable) << c.what << ", entry " << i;
            EXPECT_EQ(!r.names[i].empty(), readable) << c.what << ", entry " << i << " visited";
        }
    }
}

TEST(CentralDirectory, ReadsZip64BlocksAsMinizipDoes) {
    TestEntry big = makeEntry("big.bin", "z", 0);
    big.zip64 = true;
    big.uncompressedSize = 0x123456789;
    Read r = readAll(ZipBuilder().add(big).add(driftingZip64Entry()).build());
    ASSERT_EQ(r.directory.size(), 2u);
    EXPECT_EQ(r.record(0)->first.uncompressedSize, 0x123456789u);
    EXPECT_EQ(r.record(0)->first.compressedSize, 1u);
    EXPECT_EQ(r.record(1)->first.uncompressedSize, kDriftedSize);
}

}  // namespace
