#include "app/extract/VerdictText.h"

#include <gtest/gtest.h>

namespace {

ArchiveVerdict judged(std::initializer_list<EntryFacts> entries, uint64_t archiveSize = 1 << 20) {
    ArchiveVerdict v;
    for (const EntryFacts& f : entries) v.add(f);
    v.finish(archiveSize);
    return v;
}

EntryFacts named(const char* name, bool encrypted = false) {
    EntryFacts f;
    f.ansiName = name;
    f.encrypted = encrypted;
    return f;
}

struct TextCase {
    const char* what;
    ArchiveVerdict verdict;
    const char* status;
    const char* count;  // for 3 entries
    bool warning;
};

TEST(VerdictText, TheStatusAndCountLinesSayWhatTheArchiveHolds) {
    EntryFacts bomb = named("a.bin");
    bomb.fitsItsRoom = false;
    const TextCase cases[] = {
        {"ordinary", judged({named("readme.txt"), named("docs/"), named("a.txt")}), "下载完毕，压缩包安全",
         "共有3个文件，请放心解压", false},
        {"a setup program", judged({named("setup.exe"), named("readme.txt"), named("a.txt")}), "下载完毕，压缩包安全",
         "共有3个文件，请放心解压", false},
        {"encrypted", judged({named("a.txt", true), named("b.txt", true), named("c/")}), "下载完毕，需要密码",
         "共有3个文件，需要密码", false},
        {"disguised", judged({named("发票.pdf.exe"), named("a.txt", true), named("b.txt")}), "下载完毕，含危险文件",
         "共有3个文件，其中1个有风险", true},
        {"hostile", judged({named("../x.txt"), named("nul.txt"), bomb}), "下载完毕，含危险文件",
         "共有3个文件，其中3个有风险", true},
    };
    for (const TextCase& c : cases) {
        const VerdictLine status = reminderStatus(true, c.verdict), count = entryCountLine(3, c.verdict);
        EXPECT_EQ(status.text, c.status) << c.what;
        EXPECT_EQ(count.text, c.count) << c.what;
        EXPECT_EQ(status.warning, c.warning) << c.what;
        EXPECT_EQ(count.warning, c.warning) << c.what;
        EXPECT_EQ(status.colour(), c.warning ? std::optional<ColourRef>(rgb(220, 53, 69)) : std::nullopt) << c.what;
    }
    // An archive that does not open is unknown whatever was judged before.
    EXPECT_EQ(reminderStatus(false, judged({named("../x")})).text, "下载完毕，检测未知");
    EXPECT_FALSE(reminderStatus(false, ArchiveVerdict{}).warning);
    EXPECT_EQ(entryCountLine(0, ArchiveVerdict{}).text, "共有0个文件，请放心解压");
    // Names encrypted too: nothing to list, a password to give.
    EXPECT_EQ(reminderStatus(true, ArchiveVerdict{}, true).text, "下载完毕，需要密码");
    EXPECT_EQ(entryCountLine(0, ArchiveVerdict{}, true).text, "文件名已加密，无法查看内容");
    EXPECT_EQ(cannotOpenLine(false).text, "无法打开：文件不存在");
    EXPECT_EQ(cannotOpenLine(true).text, "无法打开：不是支持的压缩包");
    EXPECT_TRUE(cannotOpenLine(true).warning);
}

TEST(VerdictText, EveryReasonHasItsOwnRowText) {
    EXPECT_EQ(rowReason(EntryReason::none), "");
    EXPECT_EQ(rowReason(EntryReason::leavesDestination), "（危险：路径越界）");
    EXPECT_EQ(rowReason(EntryReason::zipBomb), "（危险：疑似压缩炸弹）");
    EXPECT_EQ(rowReason(EntryReason::disguisedProgram), "（危险：伪装的可执行文件）");
    EXPECT_EQ(rowReason(EntryReason::encrypted), "（已加密）");
    EXPECT_EQ(rowReason(EntryReason::program), "（可执行文件）");
}

TEST(VerdictText, RowsShowBidirectionalControlsAsUnderscores) {
    EXPECT_EQ(visibleName(L"invoice\u202Efdp.exe"), L"invoice_fdp.exe");
    EXPECT_EQ(visibleName(L"\u2066a\u2069\u200E\u200F\u061C\u202A"), L"_a_____");
    EXPECT_EQ(visibleName(L"资料😀한국어\u2010.txt"), L"资料😀한국어\u2010.txt");
}

}  // namespace
