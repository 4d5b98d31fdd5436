// Archives made by real tools (tests/fixtures/make-fixtures.sh): extraction
// must give the source trees back byte for byte, with names and times.
#include "zip/Unzip.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "TestFolder.h"
#include "base/TextCodec.h"

namespace {

using Names = std::vector<std::string>;
constexpr uint64_t kTwoSeconds = 20000000;  // DOS times count in steps of two seconds

struct RunResult {
    std::vector<int32_t> results;
    int failed = 0;
};

// The application's extraction run over the whole archive.
RunResult extractAll(Unzip& zip, const std::string& dest) {
    RunResult run;
    EXPECT_EQ(zip.setBaseFolder(dest), kZipOk);
    for (int32_t i = 0; i < zip.entryCount(); i++) {
        int32_t rc = zip.extractEntry(i, zip.entryInfo(i).name);
        run.results.push_back(rc);
        if (rc) run.failed++;
    }
    return run;
}

// One entry extracted under its own name into a fresh folder: its contents,
// or nothing when the extraction failed.
std::optional<std::string> extractOne(Unzip& zip, int32_t index) {
    TestFolder dest;
    std::string name = zip.entryInfo(index).name;
    if (zip.setBaseFolder(dest.path()) != kZipOk || zip.extractEntry(index, name) != kZipOk) return std::nullopt;
    return readFile(dest / name);
}

// Same files and folders, same bytes, and times that agree to the DOS step
// (exactly, where the archive carries Unix times).
void expectSameTree(const std::string& source, const std::string& copy, uint64_t timeSlack) {
    Names names = listTree(source);
    ASSERT_EQ(listTree(copy), names);
    for (const std::string& name : names) {
        if (name.back() == '\\') continue;
        EXPECT_EQ(readFile(copy + name), readFile(source + name)) << name;
        uint64_t a = modificationTime(source + name), b = modificationTime(copy + name);
        EXPECT_LE(a > b ? a - b : b - a, timeSlack) << name;
        EXPECT_EQ(fileAttributes(copy + name) & FILE_ATTRIBUTE_READONLY,
                  fileAttributes(source + name) & FILE_ATTRIBUTE_READONLY)
            << name;
    }
}

struct TreeArchive {
    const char* archive;
    const char* tree;
    const char* password;
    uint64_t timeSlack;
};

TEST(Fixtures, RealArchivesGiveTheirTreesBack) {
    const TreeArchive cases[] = {
        {"info-zip.zip", "tree", nullptr, 0},
        {"info-zip-stored.zip", "tree", nullptr, 0},
        {"bsdtar.zip", "tree", nullptr, 0},
        {"encrypted-infozip.zip", "tree", "secret", 0},
        {"encrypted-bsdtar.zip", "tree", "secret", 0},
        {"bsdtar-cn.zip", "tree-cn", nullptr, 0},
        {"python-utf8.zip", "tree-cn", nullptr, kTwoSeconds},
    };
    for (const TreeArchive& c : cases) {
        SCOPED_TRACE(c.archive);
        TestFolder dest;
        Unzip zip;
        ASSERT_TRUE(zip.open(fixturePath(c.archive), c.password));
        RunResult run = extractAll(zip, dest.path());
        EXPECT_EQ(run.failed, 0);
        expectSameTree(fixturePath(c.tree) + "\\", dest.path(), c.timeSlack);
        // A second run over the same folder replaces everything, read-only files included.
        EXPECT_EQ(extractAll(zip, dest.path()).failed, 0);
    }
}

TEST(Fixtures, ChineseNamesArriveInTheAnsiCodePage) {
    Unzip zip;
    ASSERT_TRUE(zip.open(fixturePath("python-utf8.zip")));
    Names names;
    for (int32_t i = 0; i < zip.entryCount(); i++) names.push_back(zip.entryInfo(i).name);
    std::sort(names.begin(), names.end());
    // "誠" and "謀" end in byte 0x5C in code page 936.
    Names expected = {utf8ToAnsi("子目录/"), utf8ToAnsi("誠/"), utf8ToAnsi("子目录/文件.txt"), utf8ToAnsi("誠/謀.txt"),
                      utf8ToAnsi("说明.txt")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);

    ASSERT_TRUE(zip.open(fixturePath("python-unicode-extra.zip")));
    EXPECT_EQ(zip.entryInfo(0).name, utf8ToAnsi("子目录/文件.txt"));
    EXPECT_EQ(zip.entryInfo(1).name, utf8ToAnsi("说明.txt"));
    EXPECT_EQ(zip.entryInfo(2).name, "#U65e7#U540d.txt");  // its block was written for another name
    TestFolder dest;
    EXPECT_EQ(extractAll(zip, dest.path()).failed, 0);
    EXPECT_EQ(readFile(dest / utf8ToAnsi("子目录/文件.txt")), "contents of 子目录/文件.txt");
}

TEST(Fixtures, Passwords) {
    for (const char* archive : {"encrypted-infozip.zip", "encrypted-bsdtar.zip", "encrypted-crc.zip"}) {
        SCOPED_TRACE(archive);
        for (const char* password : {"wrong", static_cast<const char*>(nullptr)}) {
            Unzip zip;
            ASSERT_TRUE(zip.open(fixturePath(archive), password));
            TestFolder dest;
            RunResult run = extractAll(zip, dest.path());
            // Folders need no password, and bsdtar stores empty files
            // unencrypted; every other file is refused and none is written.
            // The check byte is one byte of a header the tools fill at
            // random, so a wrong password passes it for one entry in 256;
            // the CRC then refuses the data.
            for (int32_t i = 0; i < zip.entryCount(); i++) {
                EntryInfo e = zip.entryInfo(i);
                if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) {
                    EXPECT_EQ(run.results[i], kZipOk) << e.name;
                } else if (e.uncompressedSize > 0) {
                    EXPECT_TRUE(run.results[i] == kZipBadPassword || run.results[i] == kZipDataError)
                        << e.name << ": 0x" << std::hex << run.results[i];
                }
            }
            for (const std::string& name : listTree(dest.path())) {
                if (name.back() != '\\') {
                    EXPECT_EQ(readFile(dest / name), "") << name;
                }
            }
        }
    }
    Unzip zip;
    ASSERT_TRUE(zip.open(fixturePath("encrypted-crc.zip"), "secret"));
    TestFolder dest;
    EXPECT_EQ(extractAll(zip, dest.path()).failed, 0);
    std::string secret;
    for (int i = 0; i < 50; i++) secret += "the secret text\n";
    EXPECT_EQ(readFile(dest / "secret.txt"), secret);
    EXPECT_EQ(readFile(dest / "stored.txt"), "plain stored secret");
}

TEST(Fixtures, StreamedAndZip64Entries) {
    Unzip zip;
    TestFolder dest;
    ASSERT_TRUE(zip.open(fixturePath("info-zip-stream.zip")));
    ASSERT_EQ(zip.entryCount(), 1);
    EXPECT_EQ(extractAll(zip, dest.path()).failed, 0);
    EXPECT_EQ(readFile(dest / "-"), readFile(fixturePath("tree\\big.txt")));

    ASSERT_TRUE(zip.open(fixturePath("zip64-forced.zip")));
    EXPECT_EQ(extractAll(zip, dest.path()).failed, 0);
    std::string forced;
    for (int i = 0; i < 100; i++) forced += "zip64 extra fields on a small entry\n";
    EXPECT_EQ(readFile(dest / "forced.txt"), forced);
}

TEST(Fixtures, MoreThan65535Entries) {
    Unzip zip;
    ASSERT_TRUE(zip.open(fixturePath("many.zip")));
    ASSERT_EQ(zip.entryCount(), 70000);
    char expected[32];
    for (int32_t i = 0; i < 70000; i++) {
        std::snprintf(expected, sizeof expected, "d%03d/f%05d.txt", i / 1000, i);
        EntryInfo e = zip.entryInfo(i);
        if (e.name != expected) {
            ADD_FAILURE() << "entry " << i << " is " << e.name;
            break;
        }
    }
    EXPECT_EQ(extractOne(zip, 69999), "entry 69999\n");
    EXPECT_EQ(extractOne(zip, 3), "entry 3\n");
}

TEST(Fixtures, ArchiveBeyondFourGibibytes) {
    Unzip zip;
    ASSERT_TRUE(zip.open(fixturePath("big64.zip")));
    ASSERT_EQ(zip.entryCount(), 3);
    EntryInfo zeros = zip.entryInfo(1);
    EXPECT_EQ(zeros.name, "zeros.bin");
    EXPECT_EQ(zeros.uncompressedSize, INT32_MAX);  // 4 GiB + 1 MiB does not fit
    EXPECT_EQ(zeros.compressedSize, INT32_MAX);
    EXPECT_EQ(extractOne(zip, 2), "after four gibibytes\n");
    EXPECT_EQ(extractOne(zip, 0), "before the hole\n");
}

TEST(Fixtures, ArchiveWithoutEntries) {
    Unzip zip;
    ASSERT_TRUE(zip.open(fixturePath("empty.zip")));
    EXPECT_EQ(zip.entryCount(), 0);
    EXPECT_EQ(zip.entryInfo(-1).index, 0);
}

}  // namespace
