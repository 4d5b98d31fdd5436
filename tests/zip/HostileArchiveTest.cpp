// Archives built to do harm: overlapping entries (zip bombs), entries larger
// than the disk, and duplicate names that meet folders. Each is refused or
// handled without writing anything it should not, and leaves no temporary file.
#include "zip/Unzip.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "TestFolder.h"
#include "ZipBuilder.h"

namespace {

using Names = std::vector<std::string>;
using Results = std::vector<int32_t>;

class HostileArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        archive = sandbox / "test.zip";
        dest = sandbox / "dest\\";
    }

    bool openBuilt(const ZipBuilder& builder) {
        zip.close();  // the open archive cannot be rewritten
        return builder.writeTo(archive) && zip.open(archive) && zip.setBaseFolder(dest) == kZipOk;
    }

    // Every entry's information and extraction; the names queried are the
    // stored ones, as a refused entry gives none.
    Results extractAll(const Names& names) {
        Results results;
        for (int32_t i = 0; i < zip.entryCount(); i++) results.push_back(zip.extractEntry(i, names[i]));
        return results;
    }

    TestFolder sandbox;
    std::string archive, dest;
    Unzip zip;
};

// The local header and data of a single entry, as they would start an
// archive: what an overlapping entry quotes as its own data.
Bytes localPart(const TestEntry& entry) {
    Bytes whole = ZipBuilder().add(entry).build();
    size_t stored = entry.method == 8 ? rawDeflate(entry.data).size() : entry.data.size();
    return Bytes(whole.begin(), whole.begin() + static_cast<long>(30 + entry.name.size() + stored));
}

TEST_F(HostileArchiveTest, EntriesSharingOneHeaderAreAllRefused) {
    // 50 central records over one deflated megabyte of zeros: 50 MB from 1 KB.
    TestEntry kernel = makeEntry("kernel.bin", std::string(1 << 20, '\0'));
    ZipBuilder b;
    b.add(kernel);
    Names names{"kernel.bin"};
    for (int i = 0; i < 49; i++) {
        TestEntry copy = kernel;
        copy.name = "copy" + std::to_string(i) + ".bin";
        copy.centralOnly = true;
        copy.centralOffset = 0;
        b.add(copy);
        names.push_back(copy.name);
    }
    ASSERT_TRUE(openBuilt(b));
    ASSERT_EQ(zip.entryCount(), 50);
    for (int32_t i = 0; i < 50; i++) EXPECT_EQ(zip.entryInfo(i).index, -1) << i;
    EXPECT_EQ(extractAll(names), Results(50, kZipBadEntry));
    EXPECT_EQ(fileAttributes(dest), INVALID_FILE_ATTRIBUTES);  // not even the folder
}

TEST_F(HostileArchiveTest, AnEntryQuotingTheNextOneIsRefused) {
    // The first entry's stored data is the second entry's header and data:
    // extracting both would read those bytes twice.
    TestEntry inner = makeEntry("inner.txt", std::string(3000, 'i'));
    Bytes quoted = localPart(inner);
    TestEntry outer = makeEntry("outer.txt", std::string(quoted.begin(), quoted.end()), 0);
    inner.centralOnly = true;
    inner.centralOffset = static_cast<uint32_t>(30 + outer.name.size());
    ZipBuilder b;
    b.add(outer).add(inner).file("last.txt", "last");
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(zip.entryInfo(0).index, -1);
    EXPECT_EQ(zip.entryInfo(1).name, "inner.txt");
    EXPECT_EQ(extractAll({"outer.txt", "inner.txt", "last.txt"}), (Results{kZipBadEntry, kZipOk, kZipOk}));
    EXPECT_EQ(listTree(dest), (Names{"inner.txt", "last.txt"}));
    EXPECT_EQ(readFile(dest + "inner.txt"), std::string(3000, 'i'));
}

TEST_F(HostileArchiveTest, DataMayReachTheDirectoryButNotEnterIt) {
    // Sizes after the data (bit 3): the central record alone says how long
    // the data is. The descriptor's 16 bytes lie between data and directory.
    TestEntry last = makeEntry("last.txt", "0123456789", 0);
    last.dataDescriptor = true;
    for (uint64_t extra : {16, 17}) {
        last.compressedSize = 10 + extra;
        last.uncompressedSize = 10 + extra;
        ZipBuilder b;
        b.file("first.txt", "first").add(last);
        ASSERT_TRUE(openBuilt(b));
        // Up to the directory the range is sound and the CRC decides; one
        // byte into the directory is an overlap.
        int32_t expected = extra == 16 ? kZipDataError : kZipBadEntry;
        EXPECT_EQ(zip.extractEntry(1, "last.txt"), expected) << extra;
        EXPECT_EQ(zip.extractEntry(0, "first.txt"), kZipOk);
        EXPECT_EQ(listTree(dest), Names{"first.txt"});
    }
}

TEST_F(HostileArchiveTest, SoundLayoutsStillExtract) {
    // A self-extractor's prefix shifts every offset; ZIP64 records, data
    // descriptors, encryption, empty files and folders keep their ranges.
    TestEntry described = makeEntry("described.txt", std::string(2000, 'x'));
    described.dataDescriptor = true;
    TestEntry wide = makeEntry("wide.txt", "zip64 fields");
    wide.zip64 = true;
    TestEntry secret = makeEntry("secret.txt", "hidden words");
    secret.password = "pw";
    for (bool selfExtractor : {false, true}) {
        SCOPED_TRACE(selfExtractor ? "prefixed" : "ZIP64 end records");
        ZipBuilder b;
        b.add(described).add(wide).file("empty1", "").file("empty2", "").folder("dir/").add(secret);
        // minizip takes the ZIP64 locator's offset as absolute, so the two
        // are tried apart.
        if (selfExtractor) b.prefix(Bytes(4096, 0x90));
        else b.zip64End();
        zip.close();
        ASSERT_TRUE(b.writeTo(archive));
        ASSERT_TRUE(zip.open(archive, "pw"));
        ASSERT_EQ(zip.setBaseFolder(dest), kZipOk);
        EXPECT_EQ(extractAll({"described.txt", "wide.txt", "empty1", "empty2", "dir/", "secret.txt"}),
                  Results(6, kZipOk));
        EXPECT_EQ(readFile(dest + "described.txt"), std::string(2000, 'x'));
        EXPECT_EQ(readFile(dest + "wide.txt"), "zip64 fields");
        EXPECT_EQ(readFile(dest + "secret.txt"), "hidden words");
    }
}

TEST_F(HostileArchiveTest, ACountTheFileCannotHoldIsCut) {
    // The end record claims 65,535 entries in a file of a few hundred bytes:
    // listing them all must not step through 65,535 missing records.
    Bytes bytes = ZipBuilder().file("a.txt", "alpha").file("b.txt", "beta").build();
    for (size_t field : {8, 10}) bytes[bytes.size() - 22 + field] = bytes[bytes.size() - 22 + field + 1] = 0xFF;
    ASSERT_TRUE(writeFile(archive, std::string(bytes.begin(), bytes.end())));
    ASSERT_TRUE(zip.open(archive));
    EXPECT_EQ(zip.entryCount(), static_cast<int32_t>(bytes.size() / 46));
    EXPECT_EQ(zip.entryInfo(1).name, "b.txt");
    for (int32_t i = 2; i < zip.entryCount(); i++) EXPECT_EQ(zip.entryInfo(i).index, -1) << i;
    EXPECT_EQ(zip.entryInfo(0).name, "a.txt");
}

TEST_F(HostileArchiveTest, AnEntryLargerThanTheFreeSpaceIsRefusedFirst) {
    // A petabyte declared: the disk's free space is asked at the nearest
    // existing folder, here the sandbox, as dest does not exist yet.
    TestEntry huge = makeEntry("sub/huge.bin", std::string(100000, 'h'));
    huge.uncompressedSize = uint64_t{1} << 50;
    ZipBuilder b;
    b.add(huge).file("small.txt", "small");
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(zip.entryInfo(0).uncompressedSize, INT32_MAX);
    EXPECT_EQ(zip.entryInfo(0).fullUncompressedSize, uint64_t{1} << 50);
    EXPECT_EQ(zip.extractEntry(0, "sub/huge.bin"), kZipWriteFailed);
    EXPECT_EQ(fileAttributes(dest), INVALID_FILE_ATTRIBUTES);
    // An absolute name is measured on its own volume.
    EXPECT_EQ(zip.extractEntry(0, sandbox / "abs\\huge.bin"), kZipWriteFailed);
    EXPECT_EQ(listTree(sandbox.path()), Names{"test.zip"});
    // Known free space is counted down by the entries that fit, and a
    // large one is still measured.
    EXPECT_EQ(zip.extractEntry(1, "small.txt"), kZipOk);
    EXPECT_EQ(zip.extractEntry(0, "sub/huge.bin"), kZipWriteFailed);
    EXPECT_EQ(listTree(dest), Names{"small.txt"});
}

TEST_F(HostileArchiveTest, DuplicateNamesReplaceTheEarlierFileCaseOnlyOnesAreNumbered) {
    ZipBuilder b;
    b.file("dup.txt", "first").file("sub/Dup.txt", "in sub").file("dup.txt", "second").file("DUP.TXT", "third");
    b.file("SUB/dup.txt", "sub again");
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(extractAll({"dup.txt", "sub/Dup.txt", "dup.txt", "DUP.TXT", "SUB/dup.txt"}), Results(5, kZipOk));
    Names tree = listTree(dest);
    ASSERT_EQ(tree.size(), 5u);  // four files, one folder, no temporary file
    EXPECT_EQ(readFile(dest + "dup.txt"), "second");
    EXPECT_EQ(readFile(dest + "DUP (2).TXT"), "third");
    EXPECT_EQ(readFile(dest + "sub\\Dup.txt"), "in sub");
    EXPECT_EQ(readFile(dest + "sub\\dup (2).txt"), "sub again");
}

TEST_F(HostileArchiveTest, FilesAndFoldersOfOneNameDoNotReplaceEachOther) {
    ZipBuilder b;
    b.folder("x/").file("x/keep.txt", "kept").file("x", "a file over a folder").file("X/", "");  // a folder by its name
    b.file("f", "a file").folder("f/").folder("F");
    ASSERT_TRUE(openBuilt(b));
    Results results = extractAll({"x/", "x/keep.txt", "x", "X/", "f", "f/", "F"});
    EXPECT_EQ(results, (Results{kZipOk, kZipOk, kZipCannotOpen, kZipOk, kZipOk, kZipCannotOpen,
                                kZipCannotOpen}));
    EXPECT_EQ(listTree(dest), (Names{"f", "x\\", "x\\keep.txt"}));
    EXPECT_EQ(readFile(dest + "x\\keep.txt"), "kept");
    EXPECT_EQ(readFile(dest + "f"), "a file");
}

}  // namespace
