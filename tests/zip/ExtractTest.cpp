// Extraction to disk, including the hostile and broken archives: nothing may
// be written outside the destination, and a failed entry leaves no file.
#include "zip/Unzip.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include "TestFolder.h"
#include "ZipBuilder.h"
#include "base/TextCodec.h"

namespace {

using Names = std::vector<std::string>;

class ExtractTest : public ::testing::Test {
protected:
    // The archive lives in the sandbox; extraction goes to sandbox\dest\.
    void SetUp() override {
        archive = sandbox / "test.zip";
        dest = sandbox / "dest\\";
    }

    bool openBuilt(const ZipBuilder& builder, const char* password = nullptr) {
        if (!builder.writeTo(archive) || !zip.open(archive, password)) return false;
        return zip.setBaseFolder(dest) == kZipOk;
    }

    // The application's run: each entry's information, then the entry
    // extracted under the name that information gave.
    std::vector<int32_t> extractAll() {
        std::vector<int32_t> results;
        for (int32_t i = 0; i < zip.entryCount(); i++) results.push_back(zip.extractEntry(i, zip.entryInfo(i).name));
        return results;
    }

    Names outsideDest() const {
        Names names = listTree(sandbox.path());
        Names outside;
        for (const std::string& n : names) {
            if (n != "test.zip" && n.rfind("dest\\", 0) != 0) outside.push_back(n);
        }
        return outside;
    }

    TestFolder sandbox;
    std::string archive, dest;
    Unzip zip;
};

TEST_F(ExtractTest, WritesFilesFoldersAndTimes) {
    ZipBuilder b;
    b.file("a/b/c.txt", "contents of c");
    b.folder("docs/");
    b.file("empty.txt", "");
    TestEntry ut = makeEntry("ut.txt", "stamped");
    ut.localExtra = utBlock(3, {1600000000, 1600000500});
    b.add(ut);
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(extractAll(), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(listTree(dest), (Names{"a\\", "a\\b\\", "a\\b\\c.txt", "docs\\", "empty.txt", "ut.txt"}));
    EXPECT_EQ(readFile(dest + "a\\b\\c.txt"), "contents of c");
    EXPECT_EQ(readFile(dest + "empty.txt"), "");
    EXPECT_EQ(modificationTime(dest + "a\\b\\c.txt"), fileTimeOfLocal(2021, 6, 15, 10, 20, 30));
    EXPECT_EQ(modificationTime(dest + "empty.txt"), fileTimeOfLocal(2021, 6, 15, 10, 20, 30));
    EXPECT_EQ(modificationTime(dest + "ut.txt"), fileTimeOfUnix(1600000000));
    EXPECT_EQ(fileAttributes(dest + "a\\b\\c.txt") & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(ExtractTest, ANameEndingInASeparatorIsAFolderWhateverItsAttributes) {
    // Java stores META-INF/ made on DOS with attributes 0; Python's writestr
    // and some Unix tools store a mode without the file type.
    TestEntry java = makeEntry("META-INF/", "", 0);
    java.madeBy = kMadeByDos;
    java.external = 0;
    TestEntry python = makeEntry("py/", "", 0);
    python.external = 0;
    TestEntry unixMode = makeEntry("sub\\deep\\", "", 0);
    unixMode.external = 0755u << 16;
    ZipBuilder b;
    b.add(java).add(python).add(unixMode).file("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n");
    ASSERT_TRUE(openBuilt(b));
    for (int i = 0; i < 3; i++) EXPECT_EQ(zip.entryInfo(i).attributes & FILE_ATTRIBUTE_DIRECTORY, 0x10) << i;
    EXPECT_EQ(extractAll(), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(listTree(dest), (Names{"META-INF\\", "META-INF\\MANIFEST.MF", "py\\", "sub\\", "sub\\deep\\"}));
}

TEST_F(ExtractTest, NamesDifferingOnlyInCaseAreNumberedExactRepeatsReplace) {
    const std::string upper = utf8ToAnsi("ПРИВЕТ.txt"), lower = utf8ToAnsi("привет.txt");
    const std::string lower2 = utf8ToAnsi("привет (2).txt"), lower22 = utf8ToAnsi("привет (2) (2).txt");
    ZipBuilder b;
    b.file(upper, "first").file(lower, "second").file("d/Read.me", "third").file("D\\READ.ME", "fourth");
    b.file(lower, "second again").file(lower2, "literal two").file("d/Read.me", "third again");
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(extractAll(), std::vector<int32_t>(7, 0));
    EXPECT_EQ(readFile(dest + upper), "first");
    EXPECT_EQ(readFile(dest + lower2), "second again");  // an exact repeat replaces the numbered file
    EXPECT_EQ(readFile(dest + lower22), "literal two");  // the literal name was taken by then
    EXPECT_EQ(readFile(dest + "d\\Read.me"), "third again");
    EXPECT_EQ(readFile(dest + "d\\READ (2).ME"), "fourth");
    EXPECT_EQ(listTree(dest).size(), 6u);  // d\\ and five files
}

TEST_F(ExtractTest, CreatesTheBaseFolderButNotItsParents) {
    ASSERT_TRUE(openBuilt(ZipBuilder().file("a.txt", "alpha")));
    EXPECT_EQ(fileAttributes(dest), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(zip.extractEntry(0, "a.txt"), kZipOk);
    EXPECT_EQ(readFile(dest + "a.txt"), "alpha");

    std::string deep = sandbox / "missing\\deeper\\";
    ASSERT_EQ(zip.setBaseFolder(deep), kZipOk);
    EXPECT_EQ(zip.extractEntry(0, "a.txt"), kZipCannotOpen);
    EXPECT_EQ(fileAttributes(sandbox / "missing"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ExtractTest, BaseFolderGetsASeparatorAndMustFit) {
    ASSERT_TRUE(openBuilt(ZipBuilder().file("a.txt", "alpha")));
    ASSERT_EQ(zip.setBaseFolder(sandbox / "plain"), kZipOk);  // no trailing separator
    EXPECT_EQ(zip.extractEntry(0, "a.txt"), kZipOk);
    EXPECT_EQ(readFile(sandbox / "plain\\a.txt"), "alpha");

    // Too long for any path: refused, and the folder set before stays.
    std::string tooLong = sandbox.path() + std::string(33000, 'x');
    EXPECT_EQ(zip.setBaseFolder(tooLong), kZipCannotOpen);
    EXPECT_EQ(zip.extractEntry(0, "again.txt"), kZipOk);
    EXPECT_EQ(readFile(sandbox / "plain\\again.txt"), "alpha");
}

TEST_F(ExtractTest, ReplacesExistingFilesReadOnlyOnesIncluded) {
    ZipBuilder b;
    b.file("plain.txt", "new plain");
    TestEntry readOnly = makeEntry("locked.txt", "new locked");
    readOnly.external = kUnixReadOnlyFile;
    b.add(readOnly);
    ASSERT_TRUE(openBuilt(b));
    ASSERT_TRUE(makeFolder(dest));
    ASSERT_TRUE(writeFile(dest + "plain.txt", "an old and longer plain file"));
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(extractAll(), (std::vector<int32_t>{0, 0})) << round;
        EXPECT_EQ(readFile(dest + "plain.txt"), "new plain");
        EXPECT_EQ(readFile(dest + "locked.txt"), "new locked");
        EXPECT_NE(fileAttributes(dest + "locked.txt") & FILE_ATTRIBUTE_READONLY, 0u);
        EXPECT_EQ(modificationTime(dest + "locked.txt"), fileTimeOfLocal(2021, 6, 15, 10, 20, 30));
    }
    EXPECT_EQ(listTree(dest), (Names{"locked.txt", "plain.txt"}));
}

TEST_F(ExtractTest, NamesWithoutAFilePart) {
    ZipBuilder b;
    b.file("ends/in/slash/", "");   // no folder attribute: a folder by its name
    b.folder("");                   // nameless folder entry
    b.file("", "nameless file");
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(extractAll(), (std::vector<int32_t>{kZipOk, kZipOk, kZipCannotOpen}));
    EXPECT_EQ(listTree(dest), (Names{"ends\\", "ends\\in\\", "ends\\in\\slash\\"}));
}

TEST_F(ExtractTest, BrokenDataFailsWithoutTouchingTheOldFile) {
    const std::string text(100000, 'q');
    Bytes deflated = rawDeflate(text);
    ZipBuilder b;
    TestEntry wrongCrc = makeEntry("f.txt", text);
    wrongCrc.crc = 0x12345678;
    b.add(wrongCrc);
    TestEntry cut = makeEntry("f.txt", text);
    cut.stored = Bytes(deflated.begin(), deflated.begin() + static_cast<long>(deflated.size() / 2));
    b.add(cut);
    TestEntry tooLong = makeEntry("f.txt", text);
    tooLong.uncompressedSize = 1000;  // the stream yields more than declared
    b.add(tooLong);
    TestEntry storedShort = makeEntry("f.txt", text, 0);
    storedShort.uncompressedSize = 200000;
    b.add(storedShort);
    TestEntry notDeflate = makeEntry("f.txt", text);
    notDeflate.stored = Bytes(500, 0xFF);
    b.add(notDeflate);
    // The stream ends before the declared size, and the CRC-32 is that of
    // the data and a zero byte: only the size refuses a file padded with zeros.
    TestEntry tooShort = makeEntry("f.txt", text);
    tooShort.uncompressedSize = text.size() + 1;
    tooShort.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.c_str()), text.size() + 1));
    b.add(tooShort);
    b.file("g.txt", "still fine");
    ASSERT_TRUE(openBuilt(b));
    ASSERT_TRUE(makeFolder(dest));
    ASSERT_TRUE(writeFile(dest + "f.txt", "precious"));
    for (int i = 0; i < 6; i++) EXPECT_EQ(zip.extractEntry(i, "f.txt"), kZipDataError) << i;
    EXPECT_EQ(zip.extractEntry(6, "g.txt"), kZipOk);
    EXPECT_EQ(readFile(dest + "f.txt"), "precious");
    EXPECT_EQ(listTree(dest), (Names{"f.txt", "g.txt"}));  // no temporary file left
    EXPECT_EQ(zip.extractEntry(7, "h.txt"), kZipBadIndex);
    EXPECT_EQ(zip.extractEntry(-1, "h.txt"), kZipBadIndex);
}

TEST_F(ExtractTest, FailedNewFilesAreRemovedReadOnlyOnesIncluded) {
    const std::string text(300000, 'r');  // several output pieces reach the file before the CRC check
    ZipBuilder b;
    TestEntry plain = makeEntry("new.txt", text);
    plain.crc = 1;
    b.add(plain);
    TestEntry readOnly = makeEntry("sub/ro.txt", text);
    readOnly.crc = 1;
    readOnly.external = kUnixReadOnlyFile;
    b.add(readOnly);
    TestEntry tooLong = makeEntry("long.txt", text);
    tooLong.uncompressedSize = text.size() - 1;
    b.add(tooLong);
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(extractAll(), (std::vector<int32_t>{kZipDataError, kZipDataError, kZipDataError}));
    // The folder made for the failed entry alone goes with it.
    EXPECT_EQ(listTree(dest), Names{});
}

TEST_F(ExtractTest, AbsoluteNamesFromTheCallerAreWrittenWhereTheyPoint) {
    ASSERT_TRUE(openBuilt(ZipBuilder().file("a.txt", "alpha").folder("d/")));
    std::string file = sandbox / "elsewhere\\x\\y.txt";
    std::string folder = sandbox / "made\\by\\caller\\";
    EXPECT_EQ(zip.extractEntry(0, file), kZipOk);
    EXPECT_EQ(readFile(file), "alpha");
    EXPECT_EQ(zip.extractEntry(1, folder), kZipOk);
    EXPECT_EQ(fileAttributes(folder) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(fileAttributes(dest), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ExtractTest, HostileArchiveNamesStayInsideTheDestination) {
    const char* hostile[] = {
        "../evil1.txt",       "x/../../evil2.txt",   "..\\..\\evil3.txt",  "/abs1.txt",
        "\\abs2.txt",         "C:/drive1.txt",       "C:drive2.txt",       "\\\\server\\share\\unc.txt",
        "C:\\..\\evil4.txt",  "a/../../../evil5.txt", "nul.txt",           "sub/CON/b.txt",
        "com1",               "ads.txt:stream",       "sub/aux",           "...",
        "ok/../../evil6.txt",
    };
    ZipBuilder b;
    for (const char* name : hostile) b.file(name, std::string("payload of ") + name);
    ASSERT_TRUE(openBuilt(b));
    std::vector<int32_t> results = extractAll();
    EXPECT_EQ(outsideDest(), Names{});
    // Climbs and drives are cleaned away; devices and dots are refused, a
    // stream's ":" becomes "_".
    std::vector<int32_t> expected(17, kZipOk);
    for (int refused : {10, 11, 12, 14, 15}) expected[refused] = kZipCannotOpen;
    EXPECT_EQ(results, expected);
    EXPECT_EQ(listTree(dest), (Names{"abs1.txt", "abs2.txt", "ads.txt_stream", "drive1.txt", "drive2.txt", "evil1.txt", "evil2.txt",
                                     "evil3.txt", "evil4.txt", "evil5.txt", "evil6.txt", "server\\",
                                     "server\\share\\", "server\\share\\unc.txt"}));
    EXPECT_EQ(readFile(dest + "evil2.txt"), "payload of x/../../evil2.txt");
}

TEST_F(ExtractTest, RelativeNamesFromTheCallerMayNotLeave) {
    ZipBuilder b;
    b.file("a.txt", "alpha");
    b.folder("d/");
    ASSERT_TRUE(openBuilt(b));
    for (const char* name : {"../a.txt", "x/../../a.txt", "..\\a.txt", "x/con .txt", "x/nul", "..", "x/. ./a"}) {
        EXPECT_EQ(zip.extractEntry(0, name), kZipCannotOpen) << name;
        EXPECT_EQ(zip.extractEntry(1, name), kZipCannotOpen) << name;
    }
    EXPECT_EQ(outsideDest(), Names{});
    EXPECT_EQ(fileAttributes(dest), INVALID_FILE_ATTRIBUTES);
    // Climbing that stays inside is fine.
    EXPECT_EQ(zip.extractEntry(0, "x/../a.txt"), kZipOk);
    EXPECT_EQ(readFile(dest + "a.txt"), "alpha");
}

// The hook sees each file being written, as the wide API takes it: a
// temporary file beside a target that exists, the extended form when long.
TEST_F(ExtractTest, TheCompletedFileHookGetsTheWrittenPath) {
    const std::string longName = std::string(250, 'n') + ".txt";
    ASSERT_TRUE(openBuilt(ZipBuilder().file("a.txt", "alpha").file("deep/" + longName, "long")));
    ASSERT_TRUE(makeFolder(dest));
    ASSERT_TRUE(writeFile(dest + "a.txt", "older"));
    std::vector<std::wstring> seen;
    zip.setCompletedFileHook([&](const std::wstring& path) {
        seen.push_back(path);
        return true;
    });
    EXPECT_EQ(extractAll(), (std::vector<int32_t>{kZipOk, kZipOk}));
    ASSERT_EQ(seen.size(), 2u);
    const std::wstring wideDest = ansiToWide(dest);
    EXPECT_EQ(seen[0].substr(0, wideDest.size() + 3), wideDest + L"~qz");
    EXPECT_EQ(seen[1], L"\\\\?\\" + wideDest + L"deep\\" + ansiToWide(longName));
    EXPECT_EQ(readFile(dest + "a.txt"), "alpha");
}

TEST_F(ExtractTest, ComponentsOver255UnitsAreRefusedCleanly) {
    const std::string longest(255, 'y');
    ZipBuilder b;
    b.file("sub/" + std::string(256, 'z'), "too long");
    b.file(longest, "longest");
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(zip.entryInfo(0).name, "sub/" + std::string(256, 'z'));  // listed whole
    EXPECT_EQ(extractAll(), (std::vector<int32_t>{kZipCannotOpen, kZipOk}));
    // Past MAX_PATH under the destination, and no folder left for the refused entry.
    ASSERT_GT(dest.size() + longest.size(), size_t{MAX_PATH});
    EXPECT_EQ(listTree(dest), Names{longest});
    EXPECT_EQ(outsideDest(), Names{});
    // Counted in UTF-16 units: refused before anything is made.
    EXPECT_EQ(zip.extractEntry(1, std::wstring(L"\u00FC/") + std::wstring(256, L'\u00FC')), kZipCannotOpen);
    EXPECT_EQ(listTree(dest), Names{longest});
}

}  // namespace

TEST_F(ExtractTest, APieceHookSeesEveryStoredByteAndCanAbandonAnEntry) {
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>(i * 2654435761u >> 13);
    ZipBuilder b;
    b.add(makeEntry("stored.bin", big, 0));
    b.add(makeEntry("again.bin", big, 0));
    ASSERT_TRUE(makeFolder(dest));
    ASSERT_TRUE(writeFile(dest + "again.bin", "older"));
    uint64_t seen = 0;
    int pieces = 0, stopAt = 0;
    zip.setPieceHook([&](uint64_t bytes) {
        seen += bytes;
        return ++pieces != stopAt;
    });
    ASSERT_TRUE(openBuilt(b));
    EXPECT_EQ(zip.extractEntry(0, "stored.bin"), kZipOk);
    EXPECT_EQ(seen, big.size());
    EXPECT_GT(pieces, 2);
    // Stopped in the middle: neither a new file nor the replacement of an old one is kept.
    pieces = 0;
    stopAt = 2;
    EXPECT_EQ(zip.extractEntry(1, "again.bin"), kZipCancelled);
    EXPECT_EQ(readFile(dest + "again.bin"), "older");
    ASSERT_TRUE(DeleteFileA((dest + "stored.bin").c_str()));
    pieces = 0;
    EXPECT_EQ(zip.extractEntry(0, "stored.bin"), kZipCancelled);
    EXPECT_EQ(fileAttributes(dest + "stored.bin"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(listTree(dest), (Names{"again.bin"}));
}

// The completed-file hook (the zone mark's moment): once per file written,
// with the file's whole data in it, before it has its final name or the
// entry's time; a replaced file is still the old one then. A failed entry
// calls it not at all.
TEST_F(ExtractTest, TheCompletedFileHookSeesEachWholeFileBeforeItsNameAndTime) {
    const std::string fresh = "fresh contents", replacing(100000, 'r');
    ZipBuilder b;
    b.file("sub/new.txt", fresh);
    b.file("old.txt", replacing);
    TestEntry bad = makeEntry("bad.txt", "damaged");
    bad.crc = 1;
    b.add(bad);
    ASSERT_TRUE(makeFolder(dest));
    ASSERT_TRUE(writeFile(dest + "old.txt", "older"));
    struct Seen {
        std::string path;
        uint64_t size = 0, writeTime = 0;
        std::optional<std::string> target;  // the final name's contents then
    };
    std::vector<Seen> seen;
    std::string target;
    zip.setCompletedFileHook([&](const std::wstring& written) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        Seen s;
        s.path = wideToAnsi(written);
        if (GetFileAttributesExW(written.c_str(), GetFileExInfoStandard, &data)) {
            s.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
            s.writeTime = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
        }
        if (s.path != target) s.target = readFile(target);
        seen.push_back(std::move(s));
        return true;
    });
    ASSERT_TRUE(openBuilt(b));
    const uint64_t entryTime = fileTimeOfLocal(2021, 6, 15, 10, 20, 30);
    target = dest + "sub\\new.txt";
    EXPECT_EQ(zip.extractEntry(0, "sub\\new.txt"), kZipOk);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, target) << "a new file is written under its own name";
    EXPECT_EQ(seen[0].size, fresh.size());
    EXPECT_NE(seen[0].writeTime, entryTime);
    target = dest + "old.txt";
    EXPECT_EQ(zip.extractEntry(1, "old.txt"), kZipOk);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[1].path, target) << "a replacement is written beside the old file";
    EXPECT_EQ(seen[1].path.rfind(dest, 0), 0u);
    EXPECT_EQ(seen[1].size, replacing.size());
    EXPECT_NE(seen[1].writeTime, entryTime);
    EXPECT_EQ(seen[1].target, "older");
    EXPECT_EQ(readFile(target), replacing);
    EXPECT_EQ(modificationTime(target), entryTime);
    EXPECT_EQ(zip.extractEntry(2, "bad.txt"), kZipDataError);
    EXPECT_EQ(seen.size(), 2u);
}

// A file the hook refuses (its zone mark could not be written) fails its
// entry and is not kept: neither a new file nor the replacement of an old one.
TEST_F(ExtractTest, AFileTheCompletedFileHookRefusesIsNotKept) {
    ASSERT_TRUE(openBuilt(ZipBuilder().file("sub/new.txt", "fresh").file("old.txt", "replacing").file("ok.txt", "kept")));
    ASSERT_TRUE(makeFolder(dest));
    ASSERT_TRUE(writeFile(dest + "old.txt", "older"));
    zip.setCompletedFileHook([](const std::wstring& written) { return written.find(L"ok.txt") != std::wstring::npos; });
    EXPECT_EQ(extractAll(), (std::vector<int32_t>{kZipMarkFailed, kZipMarkFailed, kZipOk}));
    EXPECT_EQ(listTree(dest), (Names{"ok.txt", "old.txt"}));
    EXPECT_EQ(readFile(dest + "old.txt"), "older");
    EXPECT_EQ(readFile(dest + "ok.txt"), "kept");
}

// 48 MiB of zeros deflate to less than one stored piece: the hook is still
// asked after every MiB written, and a "no" there leaves no file.
TEST_F(ExtractTest, APieceThatExpandsHugelyCanStillBeCancelledSoon) {
    ASSERT_TRUE(openBuilt(ZipBuilder().add(makeEntry("zeros.bin", std::string(48 << 20, '\0')))));
    int checks = 0;
    uint64_t stored = 0;
    zip.setPieceHook([&](uint64_t bytes) {
        stored += bytes;
        return bytes != 0 || ++checks < 3;
    });
    EXPECT_EQ(zip.extractEntry(0, "zeros.bin"), kZipCancelled);
    EXPECT_EQ(checks, 3);
    EXPECT_EQ(stored, 0u) << "stopped inside the first stored piece";
    EXPECT_EQ(listTree(dest), Names{});
}
