// Opening archives and reading entry information.
#include "zip/Unzip.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "TestFolder.h"
#include "ZipBuilder.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"

namespace {

class UnzipTest : public ::testing::Test {
protected:
    // Writes the archive into the test folder and opens it.
    bool openBuilt(const ZipBuilder& builder, const char* password = nullptr) {
        archive = folder / "test.zip";
        if (!builder.writeTo(archive)) return false;
        return zip.open(archive, password);
    }

    TestFolder folder;
    std::string archive;
    Unzip zip;
};

void expectFailed(const EntryInfo& e) {
    EXPECT_EQ(e.index, -1);
    EXPECT_TRUE(e.name.empty());
    EXPECT_EQ(e.attributes, 0);
    EXPECT_EQ(e.compressedSize, 0);
    EXPECT_EQ(e.uncompressedSize, 0);
}

TEST_F(UnzipTest, NothingOpen) {
    EXPECT_FALSE(zip.isOpen());
    EXPECT_EQ(zip.entryCount(), 0);
    expectFailed(zip.entryInfo(0));
    expectFailed(zip.entryInfo(-1));
    EXPECT_EQ(zip.setBaseFolder(folder.path()), kZipNotOpen);
    EXPECT_EQ(zip.extractEntry(0, "a.txt"), kZipNotOpen);
    zip.close();  // closing nothing is harmless
}

TEST_F(UnzipTest, RefusesWhatIsNotAnArchive) {
    Bytes good = ZipBuilder().file("a.txt", "alpha").build();
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"text", "this is not an archive at all"},
        {"end record cut", std::string(good.begin(), good.end() - 10)},
        {"entries without an end record", std::string(good.begin(), good.end() - 22)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeFile(folder / "bad.zip", c.bytes));
        EXPECT_FALSE(zip.open(folder / "bad.zip")) << c.what;
        EXPECT_EQ(zip.entryCount(), 0) << c.what;
    }
    EXPECT_FALSE(zip.open(folder / "missing.zip"));
}

TEST_F(UnzipTest, FailedOpenClosesThePreviousArchive) {
    ASSERT_TRUE(openBuilt(ZipBuilder().file("a.txt", "alpha")));
    EXPECT_EQ(zip.entryCount(), 1);
    EXPECT_FALSE(zip.open(folder / "missing.zip"));
    EXPECT_FALSE(zip.isOpen());
    EXPECT_EQ(zip.entryCount(), 0);
    // The first archive's file is free again.
    EXPECT_TRUE(::DeleteFileA(archive.c_str()));
}

TEST_F(UnzipTest, ArchiveIsReadableAndDeletableButNotWritableWhileOpen) {
    ASSERT_TRUE(openBuilt(ZipBuilder().file("a.txt", "alpha")));
    UniqueFile reader(::CreateFileA(archive.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader);
    reader.reset();
    UniqueFile writer(::CreateFileA(archive.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer);
    // The user may rename or delete a download while it is listed; the open
    // archive goes on reading what it opened.
    const std::string moved = folder / "moved.zip";
    ASSERT_TRUE(::MoveFileA(archive.c_str(), moved.c_str()));
    EXPECT_TRUE(::DeleteFileA(moved.c_str()));
    ASSERT_EQ(zip.setBaseFolder(folder / "out"), kZipOk);
    EXPECT_EQ(zip.extractEntry(0, "a.txt"), kZipOk);
    EXPECT_EQ(readFile(folder / "out\\a.txt"), "alpha");
    zip.close();
}

TEST_F(UnzipTest, EmptyArchive) {
    ASSERT_TRUE(openBuilt(ZipBuilder()));
    EXPECT_EQ(zip.entryCount(), 0);
    expectFailed(zip.entryInfo(0));
    EXPECT_EQ(zip.entryInfo(-1).index, 0);
    EXPECT_EQ(zip.extractEntry(0, "a.txt"), kZipBadIndex);
}

TEST_F(UnzipTest, DescribesEntriesInAnyOrder) {
    ZipBuilder b;
    b.file("C:/dir/a.txt", std::string(1000, 'a'));
    b.file("x/../y/z.txt", "zz");
    b.file("//server/share/f.txt", "");
    b.folder("docs/");
    b.file("", "nameless");
    ASSERT_TRUE(openBuilt(b));
    ASSERT_EQ(zip.entryCount(), 5);

    EntryInfo count = zip.entryInfo(-1);
    EXPECT_EQ(count.index, 5);
    EXPECT_TRUE(count.name.empty());
    expectFailed(zip.entryInfo(5));
    expectFailed(zip.entryInfo(-2));

    // Backwards and repeated queries restart the walk through the directory.
    const char* names[] = {"dir/a.txt", "y/z.txt", "server/share/f.txt", "docs/", ""};
    for (int i : {4, 3, 1, 1, 0, 2}) {
        EntryInfo e = zip.entryInfo(i);
        EXPECT_EQ(e.index, i);
        EXPECT_EQ(e.name, names[i]);
    }
    EntryInfo a = zip.entryInfo(0);
    EXPECT_EQ(a.uncompressedSize, 1000);
    EXPECT_LT(a.compressedSize, 100);
    EXPECT_EQ(a.attributes, 0x20);
    EXPECT_EQ(zip.entryInfo(3).attributes, 0x30);
}

TEST_F(UnzipTest, MapsAttributesByHost) {
    struct Case {
        uint16_t madeBy;
        uint32_t external;
        int32_t attributes;
    } cases[] = {
        {kMadeByUnix, kUnixFolder | 0x00800000, 0x30},
        {kMadeByUnix, kUnixReadOnlyFile, 0x21},
        {kMadeByUnix, kUnixFile, 0x20},
        {kMadeByDos, 0x21, 0x21},
        {kMadeByDos, 0x10, 0x10},
        {kMadeByDos, 0x06, 0x06},
    };
    ZipBuilder b;
    for (const Case& c : cases) {
        TestEntry e;
        e.name = "f";
        e.madeBy = c.madeBy;
        e.external = c.external;
        b.add(e);
    }
    ASSERT_TRUE(openBuilt(b));
    for (int i = 0; i < 6; i++) EXPECT_EQ(zip.entryInfo(i).attributes, cases[i].attributes) << i;
}

TEST_F(UnzipTest, TimesComeFromDosFieldsAndTheExtendedTimestamp) {
    ZipBuilder b;
    b.file("dos.txt", "d");
    TestEntry ut;
    ut.name = "ut.txt";
    ut.localExtra = utBlock(1, {1600000000});
    b.add(ut);
    TestEntry all;
    all.name = "all.txt";
    all.localExtra = utBlock(7, {1600000000, 1600000100, 1500000000});
    all.centralExtra = utBlock(1, {1});  // only the local block counts
    b.add(all);
    TestEntry invalid;
    invalid.name = "invalid.txt";
    invalid.dosTime = 0;  // month and day 0
    b.add(invalid);
    ASSERT_TRUE(openBuilt(b));

    double dos = oleDateOf(fileTimeOfLocal(2021, 6, 15, 10, 20, 30));
    EntryInfo d = zip.entryInfo(0);
    EXPECT_DOUBLE_EQ(d.modificationTime, dos);
    EXPECT_DOUBLE_EQ(d.accessTime, dos);
    EXPECT_DOUBLE_EQ(d.creationTime, dos);

    EntryInfo u = zip.entryInfo(1);
    EXPECT_DOUBLE_EQ(u.modificationTime, oleDateOf(fileTimeOfUnix(1600000000)));
    EXPECT_DOUBLE_EQ(u.accessTime, dos);
    EXPECT_DOUBLE_EQ(u.creationTime, dos);

    EntryInfo a = zip.entryInfo(2);
    EXPECT_DOUBLE_EQ(a.modificationTime, oleDateOf(fileTimeOfUnix(1600000000)));
    EXPECT_DOUBLE_EQ(a.accessTime, oleDateOf(fileTimeOfUnix(1600000100)));
    EXPECT_DOUBLE_EQ(a.creationTime, oleDateOf(fileTimeOfUnix(1500000000)));

    EXPECT_DOUBLE_EQ(zip.entryInfo(3).modificationTime, oleDateOf(fileTimeOfLocal(1980, 1, 1, 0, 0, 0)));
}

TEST_F(UnzipTest, UnreadableEntriesFailAlone) {
    ZipBuilder b;
    b.file("good.txt", "good");
    TestEntry badSignature = makeEntry("sig.txt", "data");
    badSignature.badLocalSignature = true;
    b.add(badSignature);
    TestEntry methodDisagrees = makeEntry("method.txt", "data", 0);
    methodDisagrees.localMethod = 8;
    b.add(methodDisagrees);
    TestEntry nameDisagrees = makeEntry("name.txt", "data");
    nameDisagrees.localName = "name-longer.txt";
    b.add(nameDisagrees);
    b.file("last.txt", "last");
    ASSERT_TRUE(openBuilt(b));
    ASSERT_EQ(zip.entryCount(), 5);
    EXPECT_EQ(zip.entryInfo(0).name, "good.txt");
    for (int i = 1; i <= 3; i++) {
        expectFailed(zip.entryInfo(i));
        EXPECT_EQ(zip.extractEntry(i, "x.txt"), kZipBadEntry) << i;
    }
    EXPECT_EQ(zip.entryInfo(4).name, "last.txt");
    EXPECT_TRUE(listTree(folder.path()) == std::vector<std::string>{"test.zip"});
}

TEST_F(UnzipTest, MethodsWithoutADecoderListAndFailWithUnsupported) {
    // PPMd, XZ and an unassigned method; WinZip AES stores 99 with bit 0.
    ZipBuilder b;
    for (uint16_t method : {98, 95, 77}) b.add(makeEntry("m" + std::to_string(method) + ".bin", "some data", method));
    TestEntry aes = makeEntry("aes.bin", std::string(40, 'a'), 99);
    aes.flags = 0x01;
    b.add(aes);
    b.file("after.txt", "after");
    ASSERT_TRUE(openBuilt(b, "secret"));
    ASSERT_TRUE(zip.setBaseFolder(folder / "dest") == kZipOk);
    const char* names[] = {"m98.bin", "m95.bin", "m77.bin", "aes.bin"};
    for (int i = 0; i < 4; i++) {
        EntryInfo e = zip.entryInfo(i);
        EXPECT_EQ(e.index, i);
        EXPECT_EQ(e.name, names[i]);
        EXPECT_EQ(e.uncompressedSize, i < 3 ? 9 : 40);
        EXPECT_EQ(e.compressedSize, e.uncompressedSize);
        EXPECT_EQ(zip.extractEntry(i, e.name), kZipReadFailed) << i;
    }
    EXPECT_EQ(zip.extractEntry(4, "after.txt"), kZipOk);
    EXPECT_EQ(listTree(folder / "dest"), std::vector<std::string>{"after.txt"});
}

TEST_F(UnzipTest, ConvertsUtf8NamesToTheAnsiCodePage) {
    const std::string utf8 = "子目录/文件.txt";
    const std::string escaped = "#U5b50#U76ee#U5f55/#U6587#U4ef6.txt";
    ZipBuilder b;
    TestEntry flagged = makeEntry(utf8, "1");
    flagged.flags = 0x800;
    b.add(flagged);
    TestEntry extra = makeEntry(escaped, "2");
    extra.centralExtra = unicodePathBlock(escaped, utf8);
    b.add(extra);
    TestEntry localOnly = makeEntry(escaped, "3");
    localOnly.localExtra = unicodePathBlock(escaped, utf8);
    b.add(localOnly);
    TestEntry stale = makeEntry(escaped, "4");
    stale.centralExtra = unicodePathBlock(escaped, utf8, 1);  // written for another name
    b.add(stale);
    TestEntry unmappable = makeEntry("smile\U0001F600.txt", "5");
    unmappable.flags = 0x800;
    b.add(unmappable);
    TestEntry ansi = makeEntry(utf8ToAnsi(utf8), "6");  // a legacy archive in code page 936
    b.add(ansi);
    ASSERT_TRUE(openBuilt(b));

    const std::string expected = utf8ToAnsi(utf8);
    ASSERT_EQ(expected.size(), 15u);  // two bytes a character: really code page 936
    EXPECT_EQ(zip.entryInfo(0).name, expected);
    EXPECT_EQ(zip.entryInfo(1).name, expected);
    EXPECT_EQ(zip.entryInfo(2).name, expected);
    EXPECT_EQ(zip.entryInfo(3).name, escaped);
    EXPECT_EQ(zip.entryInfo(4).name.find('?'), std::string::npos);
    EXPECT_EQ(zip.entryInfo(4).name.substr(0, 5), "smile");
    EXPECT_EQ(zip.entryInfo(5).name, expected);
}

TEST_F(UnzipTest, LongNamesAreListedWhole) {
    std::string longName = std::string(300, 'n');
    std::string gbkAt258 = std::string(258, 'c') + utf8ToAnsi("文") + "d";
    ASSERT_TRUE(openBuilt(ZipBuilder().file(longName, "l").file(gbkAt258, "g")));
    EXPECT_EQ(zip.entryInfo(0).name, longName);
    EXPECT_EQ(zip.entryInfo(1).name, gbkAt258);
    EXPECT_EQ(zip.entryInfo(1).unicodeName, std::wstring(258, L'c') + L"文d");
}

}  // namespace
