// The record sequences that browsers and download tools leave behind, played
// through the record filter and the judge over a small model of a folder:
// each finished download is reminded once, nothing else is.
#include "app/DownloadJudge.h"
#include "app/DownloadRecordFilter.h"
#include "app/DownloadRules.h"

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

    void record(int action, const std::string& path) {
        if (auto event = filter_.feed(action, path)) judge(*event, false);
    }
    void create(const std::string& path, bool held = true) {
        files_[path] = {0, held};
        record(kActionAdded, path);
    }
    void write(const std::string& path, uint64_t bytes) {
        files_[path].size += bytes;
        record(kActionModified, path);
    }
    void close(const std::string& path) { files_[path].held = false; }
    // A rename in one step, replacing what the new name held (a move-over).
    void rename(const std::string& from, const std::string& to) {
        files_[to] = files_[from];
        files_.erase(from);
        record(kActionRenamedOld, from);
        record(kActionRenamedNew, to);
    }
    void remove(const std::string& path) {
        files_.erase(path);
        record(kActionRemoved, path);
    }
    // The whole download of a partial file that is renamed when complete.
    void partialDownload(const std::string& partial, const std::string& finished) {
        create(partial);
        for (int i = 0; i < 3; ++i) write(partial, 4096);
        close(partial);
        rename(partial, finished);
    }
    // What the program's timer does: another look at every waiting path.
    void recheck() {
        for (const DownloadEvent& event : judge_.waiting()) judge(event, true);
    }

    DownloadFileState stateOf(const std::string& path) const {
        DownloadFileState state;
        if (auto it = files_.find(path); it != files_.end()) {
            state = {true, it->second.size, it->second.held, false};
        }
        for (std::string_view suffix : kPartialSuffixes)
            state.partialBeside = state.partialBeside || files_.count(path + std::string(suffix));
        return state;
    }
    void judge(const DownloadEvent& event, bool recheck) {
        if (judge_.judge(event, stateOf(event.path), recheck) == DownloadVerdict::Remind) reminded_.push_back(event.path);
    }

    DownloadRecordFilter filter_;
    DownloadJudge judge_;
    std::map<std::string, File> files_;
    std::vector<std::string> reminded_;
    using Paths = std::vector<std::string>;
};

TEST_F(Downloads, PartialFilesRenamedWhenCompleteAreRemindedOnceAtTheRename) {
    // Chrome and Edge, Thunder (new and old), Baidu Netdisk, other tools.
    const std::vector<std::pair<std::string, std::string>> tools = {
        {"C:\\dl\\a.zip.crdownload", "C:\\dl\\a.zip"},
        {"C:\\dl\\Unconfirmed 123456.crdownload", "C:\\dl\\b.zip"},
        {"D:\\迅雷下载\\c.zip.xltd", "D:\\迅雷下载\\c.zip"},
        {"D:\\td\\d.zip.td", "D:\\td\\d.zip"},
        {"E:\\BaiduNetdiskDownload\\e.zip.baiduyun.downloading", "E:\\BaiduNetdiskDownload\\e.zip"},
        {"C:\\dl\\f.zip.download", "C:\\dl\\f.zip"},
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
    // The old Thunder drops its ".td.cfg" after the rename.
    create("D:\\td\\d.zip.td.cfg", false);
    remove("D:\\td\\d.zip.td.cfg");
    EXPECT_EQ(reminded_, Paths{"C:\\dl\\f.zip"});
}

TEST_F(Downloads, FirefoxPlaceholderIsNeverJudgedAndTheMoveOverIsReminded) {
    const std::string zip = "C:\\Users\\a\\Downloads\\tools.zip";
    // A writability probe made and deleted, then the empty placeholder.
    create(zip, false);
    remove(zip);
    create(zip, false);
    record(kActionModified, zip);
    const std::string part = "C:\\Users\\a\\Downloads\\tools.Xy3kP.zip.part";
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
    const std::string zip = "C:\\dl\\old-style.zip";
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
    const std::string zip = "C:\\dl\\big.zip";
    create(zip + ".aria2", false);
    create(zip, false);
    write(zip, 1 << 20);
    write(zip, 1 << 20);
    EXPECT_TRUE(reminded_.empty()) << "its tool is still at work";
    remove(zip + ".aria2");
    EXPECT_EQ(reminded_, Paths{zip});
}

TEST_F(Downloads, RenamesBetweenZipNamesZeroLengthFilesAndFoldersAreNoDownloads) {
    create("C:\\dl\\a.zip", false);
    EXPECT_TRUE(reminded_.empty()) << "zero length";
    write("C:\\dl\\a.zip", 10);
    ASSERT_EQ(reminded_, Paths{"C:\\dl\\a.zip"});
    rename("C:\\dl\\a.zip", "C:\\dl\\b.zip");
    rename("C:\\dl\\b.zip", "C:\\archive\\b.zip");
    // A folder with a ZIP name.
    record(kActionAdded, "C:\\dl\\folder.zip");
    record(kActionModified, "C:\\dl\\folder.zip");
    // Not ZIP names at all.
    partialDownload("C:\\dl\\x.rar.part", "C:\\dl\\x.rar");
    partialDownload("C:\\dl\\y.ZIP.part", "C:\\dl\\y.ZIP");
    partialDownload("C:\\$Recycle.Bin\\z.zip.part", "C:\\$Recycle.Bin\\z.zip");
    EXPECT_EQ(reminded_, Paths{"C:\\dl\\a.zip"});
}

TEST_F(Downloads, InterleavedRecordsOfTwoDownloadsAreEachRemindedOnce) {
    const std::string a = "C:\\dl\\a.zip", b = "C:\\other\\b.zip", c = "D:\\dl\\c.zip";
    create(a + ".crdownload");
    create(b + ".crdownload");
    create(c + ".part");
    write(a + ".crdownload", 10);
    write(c + ".part", 10);
    write(b + ".crdownload", 10);
    for (const std::string& p : {a + ".crdownload", b + ".crdownload", c + ".part"}) close(p);
    // The old names arrive before either new name.
    files_[a] = files_.extract(a + ".crdownload").mapped();
    files_[b] = files_.extract(b + ".crdownload").mapped();
    files_[c] = files_.extract(c + ".part").mapped();
    record(kActionRenamedOld, a + ".crdownload");
    record(kActionRenamedOld, c + ".part");
    record(kActionRenamedOld, b + ".crdownload");
    record(kActionRenamedNew, b);
    record(kActionRenamedNew, c);
    record(kActionRenamedNew, a);
    EXPECT_EQ(reminded_, (Paths{b, c, a}));
    // A download moved in from another folder of the same drive.
    create("C:\\tmp\\d.tmp", false);
    write("C:\\tmp\\d.tmp", 10);
    rename("C:\\tmp\\d.tmp", "C:\\dl\\d.zip");
    EXPECT_EQ(reminded_.back(), "C:\\dl\\d.zip");
}

TEST_F(Downloads, NewNameWithoutItsOldNameIsJudgedAsWrittenInPlace) {
    const std::string zip = "C:\\dl\\lost.zip";
    files_[zip] = {10, false};
    files_[zip + ".part"] = {5, true};
    record(0, "");
    record(kActionRenamedNew, zip);
    EXPECT_TRUE(reminded_.empty()) << "a partial file of that name is still beside it";
    files_.erase(zip + ".part");
    record(kActionRenamedNew, zip);
    EXPECT_EQ(reminded_, Paths{zip});
}

TEST_F(Downloads, ADeletedDownloadIsRemindedAgainWhenItComesBack) {
    const std::string zip = "C:\\dl\\again.zip";
    partialDownload(zip + ".crdownload", zip);
    remove(zip);
    create(zip, false);
    write(zip, 12288);  // the same size as before
    EXPECT_EQ(reminded_, (Paths{zip, zip}));
}

TEST_F(Downloads, AFileHeldForeverIsGivenUpAfterItsRechecksAndAFreshRecordStartsThemAgain) {
    const std::string zip = "C:\\dl\\stuck.zip";
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
    const std::string first = "C:\\dl\\first.zip";
    create(first, false);
    write(first, 1);
    for (size_t i = 0; i < DownloadJudge::kRemembered; ++i) {
        const std::string p = "C:\\dl\\n" + std::to_string(i) + ".zip";
        create(p, false);
        write(p, 1);
    }
    // Pushed out of the memory: its next record reminds again.
    record(kActionModified, first);
    EXPECT_EQ(reminded_.size(), DownloadJudge::kRemembered + 2);
    EXPECT_EQ(reminded_.back(), first);
    for (size_t i = 0; i < DownloadJudge::kWaiting + 5; ++i) {
        const std::string p = "C:\\w\\" + std::to_string(i) + ".zip";
        create(p);
        write(p, 1);
    }
    EXPECT_EQ(judge_.waiting().size(), DownloadJudge::kWaiting);
}

}  // namespace
