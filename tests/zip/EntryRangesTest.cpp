// Entry ranges from the central directory: where each header starts and how
// far each entry may reach, on archives made byte by byte.
#include "zip/EntryRanges.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ZipBuilder.h"
#include "zip/ZipResult.h"

namespace {

EntryRanges rangesOf(const Bytes& archive, bool* built = nullptr) {
    EntryRanges ranges;
    bool ok = ranges.build(
        [&archive](uint64_t offset, uint8_t* buffer, size_t size) -> size_t {
            if (offset >= archive.size()) return 0;
            size_t n = std::min<size_t>(size, archive.size() - static_cast<size_t>(offset));
            std::memcpy(buffer, archive.data() + offset, n);
            return n;
        },
        archive.size());
    if (built) *built = ok;
    return ranges;
}

// Three stored entries one after the other: where each local header starts
// and where its data ends.
struct Layout {
    Bytes archive;
    uint64_t start[3], end[3];
};

Layout threeStored(size_t prefix = 0, bool zip64 = false) {
    ZipBuilder b;
    b.prefix(Bytes(prefix, 'x'));
    const char* names[] = {"a.txt", "bb.txt", "ccc.txt"};
    Layout l;
    uint64_t at = prefix;
    for (int i = 0; i < 3; i++) {
        TestEntry e = makeEntry(names[i], std::string(100 + i, 'd'), 0);
        e.zip64 = zip64;
        b.add(e);
        l.start[i] = at;
        l.end[i] = at + 30 + std::strlen(names[i]) + (zip64 ? 20 : 0) + e.data.size();
        at = l.end[i];
    }
    if (zip64) b.zip64End();
    l.archive = b.build();
    return l;
}

TEST(EntryRanges, WellFormedEntriesFitTheirRangesExactly) {
    for (size_t prefix : {0, 1000}) {
        for (bool zip64 : {false, true}) {
            SCOPED_TRACE(testing::Message() << "prefix " << prefix << " zip64 " << zip64);
            Layout l = threeStored(prefix, zip64);
            bool built = false;
            EntryRanges r = rangesOf(l.archive, &built);
            // The ZIP64 locator's offset is taken as absolute, as minizip
            // takes it, so a prefix hides the ZIP64 end record from both.
            if (prefix && zip64) {
                EXPECT_FALSE(built);
                continue;
            }
            ASSERT_TRUE(built);
            EXPECT_EQ(r.entryCount(), 3u);
            EXPECT_EQ(r.directoryOffset(), l.end[2] - prefix);
            EXPECT_EQ(r.firstRecord(), l.end[2]);
            for (int i = 0; i < 3; i++) {
                EXPECT_EQ(r.check(i, l.start[i], l.end[i]), kZipOk) << i;
                // One byte more touches the next header, or the directory.
                EXPECT_EQ(r.check(i, l.start[i], l.end[i] + 1), kZipBadEntry) << i;
                // A header minizip found elsewhere is not this entry.
                EXPECT_EQ(r.check(i, l.start[i] + 1, l.end[i]), kZipBadEntry) << i;
                // Shorter than a local header cannot be.
                EXPECT_EQ(r.check(i, l.start[i], l.start[i] + 29), kZipBadEntry) << i;
            }
            EXPECT_EQ(r.check(3, l.end[2], l.end[2] + 30), kZipBadEntry);
        }
    }
}

TEST(EntryRanges, EntriesSharingAHeaderAreAllRefused) {
    // The overlapped bomb: many central records, one local header.
    TestEntry kernel = makeEntry("kernel", std::string(5000, 0), 8);
    ZipBuilder b;
    b.add(kernel);
    for (int i = 0; i < 5; i++) {
        TestEntry copy = kernel;
        copy.name = "copy" + std::to_string(i);
        copy.centralOnly = true;
        copy.centralOffset = 0;
        b.add(copy);
    }
    b.file("after.txt", "not shared");
    Bytes archive = b.build();
    EntryRanges r = rangesOf(archive);
    uint64_t kernelEnd = 30 + 6 + rawDeflate(kernel.data).size();
    for (int i = 0; i < 6; i++) EXPECT_EQ(r.check(i, 0, kernelEnd), kZipBadEntry) << i;
    uint64_t afterEnd = kernelEnd + 30 + 9 + rawDeflate(std::string("not shared")).size();
    EXPECT_EQ(r.check(6, kernelEnd, afterEnd), kZipOk);
}

TEST(EntryRanges, BrokenEndRecordsAndDirectories) {
    Layout l = threeStored();
    // No end record at all.
    bool built = true;
    rangesOf(Bytes(l.archive.begin(), l.archive.end() - 22), &built);
    EXPECT_FALSE(built);
    // A directory that claims to end after the end record starts.
    Bytes wrong = l.archive;
    wrong[wrong.size() - 22 + 12] += 1;  // directory size
    EntryRanges claimed = rangesOf(wrong, &built);
    EXPECT_FALSE(built);
    // Where minizip would look for the first record all the same.
    EXPECT_TRUE(claimed.endRecordsRead());
    EXPECT_EQ(claimed.firstRecord(), l.end[2] - 1);
    // The second central record broken: the first entry keeps its range,
    // the rest are unknown and refused.
    Bytes broken = l.archive;
    size_t secondRecord = static_cast<size_t>(l.end[2]) + 46 + 5;
    broken[secondRecord] = 'X';
    EntryRanges r = rangesOf(broken, &built);
    EXPECT_TRUE(built);
    EXPECT_EQ(r.check(0, l.start[0], l.end[0]), kZipOk);
    EXPECT_EQ(r.check(1, l.start[1], l.end[1]), kZipBadEntry);
    EXPECT_EQ(r.check(2, l.start[2], l.end[2]), kZipBadEntry);
    // A count the file cannot hold builds without reserving for it.
    Bytes huge = l.archive;
    for (size_t at : {huge.size() - 22 + 8, huge.size() - 22 + 10}) huge[at] = huge[at + 1] = 0xFF;
    r = rangesOf(huge, &built);
    EXPECT_TRUE(built);
    EXPECT_EQ(r.entryCount(), 0xFFFFu);
    EXPECT_EQ(r.check(2, l.start[2], l.end[2]), kZipOk);
}

}  // namespace
