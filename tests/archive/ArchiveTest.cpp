// The libarchive adapter through the archive interface, on a compressed tar
// made here by libarchive's own writer: entries read as a forward walk, a
// step back reopens, and a cancel is heard while a tiny stored piece
// expands, leaving no file; and a 7z header whose declared counts would
// have libarchive allocate gigabytes is refused by the bounds on its memory.
#include "archive/Archive.h"

#include <windows.h>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/libarchive/AllocationBounds.h"
#include "tests/zip/TestFolder.h"

namespace {

struct Member {
    std::string name;
    std::string data;
};

// A gzip-compressed pax tar of the members.
bool writeTarGz(const std::string& path, const std::vector<Member>& members) {
    struct archive* a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
    bool ok = archive_write_open_filename(a, path.c_str()) == ARCHIVE_OK;
    for (const Member& m : members) {
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, m.name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(m.data.size()));
        ok = ok && archive_write_header(a, e) == ARCHIVE_OK &&
             archive_write_data(a, m.data.data(), m.data.size()) == static_cast<la_ssize_t>(m.data.size());
        archive_entry_free(e);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(LibArchive, ForwardWalkStepsBackAndCancelsWhileExpanding) {
    TestFolder folder;
    const std::string zeros(8 << 20, '\0');  // 8 MiB from a few KiB
    const std::vector<Member> members = {{"zeros.bin", zeros}, {"one.txt", "one"}, {"two.txt", "two"}};
    ASSERT_TRUE(writeTarGz(folder / "t.tar.gz", members));
    std::unique_ptr<Archive> archive = openArchive(wide(folder / "t.tar.gz"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->format(), ArchiveFormat::tar);
    ASSERT_EQ(archive->entryCount(), 3);
    EXPECT_EQ(archive->entryInfo(0).fullUncompressedSize, zeros.size());
    ASSERT_EQ(archive->setBaseFolder(wide(folder / "out")), kZipOk);

    // Cancelled at the first question: asked within the first MiBs written.
    int asked = 0;
    archive->setPieceHook([&](uint64_t) { return ++asked > 1; });
    EXPECT_EQ(archive->extractEntry(0, L"zeros.bin"), kZipCancelled);
    EXPECT_EQ(fileAttributes(folder / "out\\zeros.bin"), INVALID_FILE_ATTRIBUTES);
    archive->setPieceHook(nullptr);
    // On from there, then back to the start.
    EXPECT_EQ(archive->extractEntry(2, L"two.txt"), kZipOk);
    EXPECT_EQ(archive->extractEntry(1, L"one.txt"), kZipOk);
    EXPECT_EQ(archive->extractEntry(0, L"zeros.bin"), kZipOk);
    EXPECT_EQ(readFile(folder / "out\\one.txt"), "one");
    EXPECT_EQ(readFile(folder / "out\\two.txt"), "two");
    EXPECT_EQ(readFile(folder / "out\\zeros.bin"), zeros);
    EXPECT_EQ(archive->extractEntry(3, L"x"), kZipBadIndex);
}

TEST(LibArchive, ContentDecidesNotTheName) {
    TestFolder folder;
    ASSERT_TRUE(writeTarGz(folder / "looks-like.zip", {{"a.txt", "a"}}));
    ASSERT_TRUE(writeFile(folder / "text.7z", "not an archive at all"));
    std::unique_ptr<Archive> tar = openArchive(wide(folder / "looks-like.zip"));
    ASSERT_TRUE(tar);
    EXPECT_EQ(tar->format(), ArchiveFormat::tar);
    EXPECT_FALSE(openArchive(wide(folder / "text.7z")));
    EXPECT_FALSE(openArchive(wide(folder / "missing.tar")));
}

// A 7z of nothing but a header declaring 99,999,999 files (libarchive's own
// ceiling is 10^8): their records alone would take gigabytes.
TEST(LibArchive, DeclaredCountsAreNotAllocated) {
    const uint8_t header[] = {0x01, 0x05, 0xF0, 0xFF, 0xE0, 0xF5, 0x05, 0x00, 0x00, 0x00, 0x00};
    uint8_t start[32] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
    start[20] = sizeof header;  // the header follows at once: offset 0, this size
    const uint32_t headerCrc = crc32(0, header, sizeof header);
    std::memcpy(start + 28, &headerCrc, 4);
    const uint32_t startCrc = crc32(0, start + 12, 20);
    std::memcpy(start + 8, &startCrc, 4);
    TestFolder folder;
    ASSERT_TRUE(writeFile(folder / "files.7z", std::string(reinterpret_cast<const char*>(start), sizeof start) +
                                                   std::string(reinterpret_cast<const char*>(header), sizeof header)));
    qz_archive_take_refusal();
    EXPECT_FALSE(openArchive(wide(folder / "files.7z")));
    EXPECT_TRUE(qz_archive_take_refusal());
}

}  // namespace
