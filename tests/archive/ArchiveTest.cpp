// The libarchive adapter through the archive interface, on a compressed tar
// made here by libarchive's own writer: entries read as a forward walk, a
// step back reopens, and a cancel is heard while a tiny stored piece
// expands, leaving no file.
#include "archive/Archive.h"

#include <windows.h>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
