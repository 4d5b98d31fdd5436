// The record sequences that browsers and download tools leave behind, played
// through the record filter and the judge over a small model of a folder:
// each finished download is reminded once, nothing else is.
#include "app/detect/DownloadJudge.h"
#include "app/detect/DownloadRecordFilter.h"
#include "app/detect/DownloadRules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Files as the judge's caller would find them, and the records Windows
// gives for each operation on them.
class Downloads : public ::testing::Test {
protected:
    struct File {
        uint64_t size = 0;
        bool held = false;
    };

    void record(int action, const std::wstring& path) {
        if (auto event = filter_.feed(action, path)) judge(*event, false);
    }
    void create(const std::wstring& path, bool held = true) {
        files_[path] = {0, held};
        record(kActionAdded, path);
    }
    void write(const std::wstring& path, uint64_t bytes) {
        files_[path].size += bytes;
        record(kActionModified, path);
    }
    void close(const std::wstring& path) { files_[path].held = false; }
    // A rename in one step, replacing what the new name held (a move-over).
    void rename(const std::wstring& from, const std::wstring& to) {
        files_[to] = files_[from];
        files_.erase(from);
        record(kActionRenamedOld, from);
        record(kActionRenamedNew, to);
    }
    void remove(const std::wstring& path) {
        files_.erase(path);
        record(kActionRemoved, path);
    }
    // The whole download of a partial file that is renamed when complete.
    void partialDownload(const std::wstring& partial, const std::wstring& finished) {
        create(partial);
        for (int i = 0; i < 3; ++i) write(partial, 4096);
        close(partial);
        rename(partial, finished);
    }
    // What the program's timer does: another look at every waiting path.
    void recheck() {
        for (const DownloadEvent& event : judge_.waiting()) judge(event, true);
    }

    DownloadFileState stateOf(const std::wstring& path) const {
        DownloadFileState state;
        if (auto it = files_.find(path); it != files_.end()) {
            state = {true, it->second.size, it->second.held, false};
        }
        for (std::wstring_view suffix : kPartialSuffixes)
            state.partialBeside = state.partialBeside || files_.count(path + std::wstring(suffix));
        return state;
    }
    void judge(const DownloadEvent& event, bool recheck) {
        if (judge_.judge(event, stateOf(event.path), recheck) == DownloadVerdict::Remind) reminded_.push_back(event.path);
    }

    DownloadRecordFilter filter_;
    DownloadJudge judge_;
    std::map<std::wstring, File> files_;
    std::vector<std::wstring> reminded_;
    using Paths = std::vector<std::wstring>;
};

TEST_F(Downloads, PartialFilesRenamedWhenCompleteAreRemindedOnceAtTheRename) {
    // Chrome and Edge, Thunder (new and old), Baidu Netdisk, other tools.
    const std::vector<std::pair<std::wstring, std::wstring>> tools = {
        {L"C:\\dl\\a.zip.crdownload", L"C:\\dl\\a.zip"},
        {L"C:\\dl\\Unconfirmed 123456.crdownload", L"C:\\dl\\b.zip"},
        {L"D:\\迅雷下载\\c.zip.xltd", L"D:\\迅雷下载\\c.zip"},
        {L"D:\\td\\d.zip.td", L"D:\\td\\d.zip"},
        {L"E:\\BaiduNetdiskDownload\\e.zip.baiduyun.downloading", L"E:\\BaiduNetdiskDownload\\e.zip"},
        {L"C:\\dl\\f.zip.download", L"C:\\dl\\f.zip"},
        // A name beyond the ANSI code page.
        {L"C:\\dl\\资料😀한국어.zip.crdownload", L"C:\\dl\\资料😀한국어.zip"},
    };
    for (const auto& [partial, finished] : tools) {
        reminded_.clear();
        partialDownload(partial, finished);
        EXPECT_EQ(reminded_, Paths{finished}) << partial;
        // The zone mark and permissions come after the rename.
        write(finished, 0);
        record(kActionModified, finished);
        EXPECT_EQ(reminded_, Paths{finished}) << partial;
    }
    // The old Thunder drops its L".td.cfg" after the rename.
    create(L"D:\\td\\d.zip.td.cfg", false);
    remove(L"D:\\td\\d.zip.td.cfg");
    EXPECT_EQ(reminded_, Paths{L"C:\\dl\\资料😀한국어.zip"});
}

TEST_F(Downloads, FirefoxPlaceholderIsNeverJudgedAndTheMoveOverIsReminded) {
    const std::wstring zip = L"C:\\Users\\a\\Downloads\\tools.zip";
    // A writability probe made and deleted, then the empty placeholder.
    create(zip, false);
    remove(zip);
    create(zip, false);
    record(kActionModified, zip);
    const std::wstring part = L"C:\\Users\\a\\Downloads\\tools.Xy3kP.zip.part";
    create(part);
    write(part, 70000);
    write(part, 70000);
    close(part);
    EXPECT_TRUE(reminded_.empty());
    rename(part, zip);
    write(zip, 0);  // zone mark, then permissions
    record(kActionModified, zip);
    EXPECT_EQ(reminded_, Paths{zip});
}

TEST_F(Downloads, InPlaceWriterIsRemindedOnceItClosesTheFile) {
    const std::wstring zip = L"C:\\dl\\old-style.zip";
    create(zip);
    write(zip, 1000);
    write(zip, 1000);
    recheck();
    EXPECT_TRUE(reminded_.empty()) << "still held by its writer";
    close(zip);
    recheck();
    EXPECT_EQ(reminded_, Paths{zip});
    recheck();
    record(kActionModified, zip);  // a late record of the same size
    EXPECT_EQ(reminded_, Paths{zip});
    EXPECT_TRUE(judge_.waiting().empty());
    // Written again with other contents: a new download of that name.
    files_[zip].held = false;
    write(zip, 5);
    EXPECT_EQ(reminded_, (Paths{zip, zip}));
}

TEST_F(Downloads, InPlaceWriterWithAControlFileBesideIsRemindedWhenTheControlFileGoes) {
    const std::wstring zip = L"C:\\dl\\big.zip";
    create(zip + L".aria2", false);
    create(zip, false);
    write(zip, 1 << 20);
    write(zip, 1 << 20);
    EXPECT_TRUE(reminded_.empty()) << "its tool is still at work";
    remove(zip + L".aria2");
    EXPECT_EQ(reminded_, Paths{zip});
}

TEST_F(Downloads, RenamesBetweenArchiveNamesZeroLengthFilesAndFoldersAreNoDownloads) {
    create(L"C:\\dl\\a.zip", false);
    EXPECT_TRUE(reminded_.empty()) << "zero length";
    write(L"C:\\dl\\a.zip", 10);
    ASSERT_EQ(reminded_, Paths{L"C:\\dl\\a.zip"});
    rename(L"C:\\dl\\a.zip", L"C:\\dl\\b.zip");
    rename(L"C:\\dl\\b.zip", L"C:\\archive\\b.zip");
    rename(L"C:\\archive\\b.zip", L"C:\\archive\\b.rar");  // tidying up, whatever the ending
    // A folder with a ZIP name.
    record(kActionAdded, L"C:\\dl\\folder.zip");
    record(kActionModified, L"C:\\dl\\folder.zip");
    // No archive names, or in a "$" folder.
    partialDownload(L"C:\\dl\\x.txt.part", L"C:\\dl\\x.txt");
    partialDownload(L"C:\\dl\\y.zipx.part", L"C:\\dl\\y.zipx");
    partialDownload(L"C:\\$Recycle.Bin\\z.zip.part", L"C:\\$Recycle.Bin\\z.zip");
    EXPECT_EQ(reminded_, Paths{L"C:\\dl\\a.zip"});
    // Other archive endings, in any case, are downloads as well.
    partialDownload(L"C:\\dl\\x.rar.part", L"C:\\dl\\x.rar");
    partialDownload(L"C:\\dl\\y.ZIP.part", L"C:\\dl\\y.ZIP");
    EXPECT_EQ(reminded_, (Paths{L"C:\\dl\\a.zip", L"C:\\dl\\x.rar", L"C:\\dl\\y.ZIP"}));
}

TEST_F(Downloads, InterleavedRecordsOfTwoDownloadsAreEachRemindedOnce) {
    const std::wstring a = L"C:\\dl\\a.zip", b = L"C:\\other\\b.zip", c = L"D:\\dl\\c.zip";
    create(a + L".crdownload");
    create(b + L".crdownload");
    create(c + L".part");
    write(a + L".crdownload", 10);
    write(c + L".part", 10);
    write(b + L".crdownload", 10);
    for (const std::wstring& p : {a + L".crdownload", b + L".crdownload", c + L".part"}) close(p);
    // The old names arrive before either new name.
    files_[a] = files_.extract(a + L".crdownload").mapped();
    files_[b] = files_.extract(b + L".crdownload").mapped();
    files_[c] = files_.extract(c + L".part").mapped();
    record(kActionRenamedOld, a + L".crdownload");
    record(kActionRenamedOld, c + L".part");
    record(kActionRenamedOld, b + L".crdownload");
    record(kActionRenamedNew, b);
    record(kActionRenamedNew, c);
    record(kActionRenamedNew, a);
    EXPECT_EQ(reminded_, (Paths{b, c, a}));
    // A download moved in from another folder of the same drive.
    create(L"C:\\tmp\\d.tmp", false);
    write(L"C:\\tmp\\d.tmp", 10);
    rename(L"C:\\tmp\\d.tmp", L"C:\\dl\\d.zip");
    EXPECT_EQ(reminded_.back(), L"C:\\dl\\d.zip");
}

TEST_F(Downloads, NewNameWithoutItsOldNameIsJudgedAsWrittenInPlace) {
    const std::wstring zip = L"C:\\dl\\lost.zip";
    files_[zip] = {10, false};
    files_[zip + L".part"] = {5, true};
    record(0, L"");
    record(kActionRenamedNew, zip);
    EXPECT_TRUE(reminded_.empty()) << "a partial file of that name is still beside it";
    files_.erase(zip + L".part");
    record(kActionRenamedNew, zip);
    EXPECT_EQ(reminded_, Paths{zip});
}

TEST_F(Downloads, ADeletedDownloadIsRemindedAgainWhenItComesBack) {
    const std::wstring zip = L"C:\\dl\\again.zip";
    partialDownload(zip + L".crdownload", zip);
    remove(zip);
    create(zip, false);
    write(zip, 12288);  // the same size as before
    EXPECT_EQ(reminded_, (Paths{zip, zip}));
}

TEST_F(Downloads, AFileHeldForeverIsGivenUpAfterItsRechecksAndAFreshRecordStartsThemAgain) {
    const std::wstring zip = L"C:\\dl\\stuck.zip";
    create(zip);
    write(zip, 100);
    for (int i = 0; i < DownloadJudge::kRechecks; ++i) recheck();
    EXPECT_TRUE(judge_.waiting().empty());
    write(zip, 100);
    EXPECT_EQ(judge_.waiting().size(), 1u);
    close(zip);
    recheck();
    EXPECT_EQ(reminded_, Paths{zip});
}

TEST_F(Downloads, MemoryAndWaitingListAreBounded) {
    const std::wstring first = L"C:\\dl\\first.zip";
    create(first, false);
    write(first, 1);
    for (size_t i = 0; i < DownloadJudge::kRemembered; ++i) {
        const std::wstring p = L"C:\\dl\\n" + std::to_wstring(i) + L".zip";
        create(p, false);
        write(p, 1);
    }
    // Pushed out of the memory: its next record reminds again.
    record(kActionModified, first);
    EXPECT_EQ(reminded_.size(), DownloadJudge::kRemembered + 2);
    EXPECT_EQ(reminded_.back(), first);
    for (size_t i = 0; i < DownloadJudge::kWaiting + 5; ++i) {
        const std::wstring p = L"C:\\w\\" + std::to_wstring(i) + L".zip";
        create(p);
        write(p, 1);
    }
    EXPECT_EQ(judge_.waiting().size(), DownloadJudge::kWaiting);
}

}  // namespace
