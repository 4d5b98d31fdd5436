#include "zip/ArchiveVerdict.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint8_t H = kEntryHostile, D = kEntryDeceptive, R = kEntryRunnable;

struct NameCase {
    const char* ansi;
    const char* utf8;  // nullptr: the archive gives no UTF-8 form
    uint8_t flags;
    EntryReason reason;
};

TEST(ArchiveVerdict, NamesAreJudgedAsTheyWouldBeWritten) {
    using R_ = EntryReason;
    const NameCase cases[] = {
        {"readme.txt", nullptr, 0, R_::none},
        {"docs/", nullptr, 0, R_::none},
        {"setup.exe", nullptr, R, R_::program},
        {"bin/Setup.EXE", nullptr, R, R_::program},
        {"run.cmd", nullptr, R, R_::program},
        {"go.ps1", nullptr, R, R_::program},
        {"link.URL", nullptr, R, R_::program},
        {"tool.exe.txt", nullptr, 0, R_::none},
        {"exe", nullptr, 0, R_::none},
        {"setup.exe/", nullptr, 0, R_::none},  // a folder
        {"archive.zip", nullptr, 0, R_::none},
        // A document's name in front of a program's extension.
        {"invoice.pdf.exe", nullptr, R | D, R_::disguisedProgram},
        {"INVOICE.PDF.EXE", nullptr, R | D, R_::disguisedProgram},
        {"a/b/photo.jpeg.scr", nullptr, R | D, R_::disguisedProgram},
        {"song.mp3.js", nullptr, R | D, R_::disguisedProgram},
        {"report.docx                                   .exe", nullptr, R | D, R_::disguisedProgram},
        {"report.pdf. . .exe", nullptr, R | D, R_::disguisedProgram},
        {"report.pdf.exe. . ", nullptr, R | D, R_::disguisedProgram},  // Windows drops the trailing dots and spaces
        {"setup.exe  ", nullptr, R, R_::program},
        {"pdf.exe", nullptr, R, R_::program},
        {"report.pdf.zip.exe", nullptr, R, R_::program},
        // Chinese names: GBK bytes, or UTF-8 beside them. "发票.pdf.exe".
        {"\xB7\xA2\xC6\xB1.pdf.exe", nullptr, R | D, R_::disguisedProgram},
        {"_.pdf.exe", "发票.pdf.exe", R | D, R_::disguisedProgram},
        {"\xB7\xA2\xC6\xB1.txt", "发票.txt", 0, R_::none},
        {"文件\xA1\xA1.exe", "文件\u3000.exe", R, R_::program},
        {"发票.pdf\u3000\u3000.exe", "发票.pdf\u3000\u3000.exe", R | D, R_::disguisedProgram},
        {"a.pdf_.exe", "a.pdf\u200B.exe", R | D, R_::disguisedProgram},
        // "誠" ends in 0x5C in GBK: no separator, so the name is one component.
        {"\xD5\\.pdf.exe", nullptr, R | D, R_::disguisedProgram},
        // Right-to-left overrides and isolates, only seen in the UTF-8 form.
        {"invoice_fdp.exe", "invoice\u202Efdp.exe", R | D, R_::disguisedProgram},
        {"photo_gpj.scr", "photo\u202Egpj.scr", R | D, R_::disguisedProgram},
        {"a_b.txt", "a\u2066b.txt", D, R_::disguisedProgram},
        {"dir_/x.txt", "dir\u202B/x.txt", D, R_::disguisedProgram},
        {"a_b.txt", "a\u2069b.txt", D, R_::disguisedProgram},
        {"a_b.txt", "a\u202Fb.txt", 0, R_::none},  // a narrow space is no control
        {"a_b.txt", "a\u2065b.txt", 0, R_::none},
        // Names the extraction refuses.
        {"../evil.txt", nullptr, H, R_::leavesDestination},
        {"a/../../evil.txt", nullptr, H, R_::leavesDestination},
        {"/abs.txt", nullptr, H, R_::leavesDestination},
        {"C:/drive.txt", nullptr, H, R_::leavesDestination},
        {"..\\..\\evil.exe", nullptr, H | R, R_::leavesDestination},
        {"nul.txt", nullptr, H, R_::leavesDestination},
        {"sub/COM1.log", nullptr, H, R_::leavesDestination},
        {"x:y", nullptr, H, R_::leavesDestination},
        {"a/.../b", nullptr, H, R_::leavesDestination},
        {"a/../b.txt", nullptr, 0, R_::none},  // stays inside
        {"./readme.txt", nullptr, 0, R_::none},
    };
    for (const NameCase& c : cases) {
        std::optional<std::string_view> utf8;
        if (c.utf8) utf8 = c.utf8;
        EntryVerdict v = judgeName(c.ansi, utf8);
        EXPECT_EQ(v.flags, c.flags) << c.ansi;
        EXPECT_EQ(v.reason, c.reason) << c.ansi;
    }
}

// With the decoded name given, safety is judged on it as extraction will
// create it: "COM¹" is a device though its ANSI form "COM_" is none, a ":"
// becomes "_", and a component too long to store is no danger.
TEST(ArchiveVerdict, TheDecodedNameDecidesSafety) {
    const std::wstring tooLong(300, L'x');
    const std::pair<std::wstring, bool> cases[] = {
        {L"COM\u00B9.txt", true}, {L"a/CONOUT$", true}, {L"../x", true},   {L"d:x", true},
        {L"ab:c.txt", false},      {L"dir. /f", false},  {tooLong, false}, {L"\u00DCber.txt", false},
    };
    for (const auto& [name, hostile] : cases) {
        EntryVerdict v = judgeName("safe.txt", std::nullopt, isGbkLeadByte, name);
        EXPECT_EQ(v.has(kEntryHostile), hostile) << name.size();
    }
}

EntryFacts sized(const char* name, uint64_t compressed, uint64_t uncompressed) {
    EntryFacts f;
    f.ansiName = name;
    f.compressedSize = compressed;
    f.uncompressedSize = uncompressed;
    return f;
}

TEST(ArchiveVerdict, EntriesCountByWhatTheyAre) {
    ArchiveVerdict v;
    v.add(sized("setup.exe", 100, 200));
    v.add(sized("readme.txt", 10, 20));
    EntryFacts locked = sized("secret.txt", 10, 20);
    locked.encrypted = true;
    v.add(locked);
    EntryFacts lockedFolder = sized("folder/", 0, 0);
    lockedFolder.encrypted = true;
    v.add(lockedFolder);
    EntryFacts overlapping = sized("copy.bin", 10, 20);
    overlapping.fitsItsRoom = false;
    v.add(overlapping);
    v.addUnread();
    v.finish(1000);
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v.entry(0).reason, EntryReason::program);
    EXPECT_EQ(v.entry(1).flags, 0);
    EXPECT_EQ(v.entry(2).reason, EntryReason::encrypted);
    EXPECT_EQ(v.entry(3).flags, 0);
    EXPECT_EQ(v.entry(4).reason, EntryReason::zipBomb);
    EXPECT_EQ(v.entry(5).flags, 0);
    EXPECT_EQ(v.entry(99).flags, 0);
    EXPECT_EQ(v.count(kEntryRunnable), 1u);
    EXPECT_EQ(v.count(kEntryEncrypted), 1u);
    EXPECT_TRUE(v.hostile());
    EXPECT_FALSE(v.deceptive());
    EXPECT_EQ(v.riskyCount(), 1u);
}

struct RatioCase {
    std::vector<std::pair<uint64_t, uint64_t>> entries;  // compressed, uncompressed
    uint64_t archiveSize;
    std::vector<size_t> blamed;  // entries marked as a bomb
};

TEST(ArchiveVerdict, TheSizeRuleNeedsBothTheRatioAndTheFloor) {
    constexpr uint64_t GiB = uint64_t{1} << 30, MiB = uint64_t{1} << 20;
    const RatioCase cases[] = {
        // Over 1,000 times but not over 1 GiB: a small file of zeros is no bomb.
        {{{1000, GiB}}, 1000, {}},
        // Over 1 GiB but under 1,000 times: a large ordinary archive.
        {{{2 * MiB, 2 * GiB}}, 3 * MiB, {}},
        // Both, in one entry beside an innocent one.
        {{{10, 100}, {1 * MiB, 2 * GiB}}, 1 * MiB + 200, {1}},
        // Exactly 1,000 times is not over it.
        {{{1 * MiB, 2000000000}}, 2000000, {}},
        // Modest entries that together declare too much (their stored sizes
        // overlap): the largest is blamed.
        {{{MiB, 600 * MiB}, {MiB, 700 * MiB}, {MiB, 500 * MiB}}, MiB, {1}},
        // Declared sizes near the limit of 64 bits do not wrap round.
        {{{1, UINT64_MAX}, {1, UINT64_MAX}}, 100, {0, 1}},
        {{{UINT64_MAX, UINT64_MAX}}, UINT64_MAX, {}},
        // Stored entries of nothing.
        {{{0, 0}, {0, 0}}, 22, {}},
    };
    for (const RatioCase& c : cases) {
        ArchiveVerdict v;
        for (auto [compressed, uncompressed] : c.entries) v.add(sized("data.bin", compressed, uncompressed));
        v.finish(c.archiveSize);
        std::vector<size_t> blamed;
        for (size_t i = 0; i < v.size(); i++)
            if (v.entry(i).reason == EntryReason::zipBomb) blamed.push_back(i);
        EXPECT_EQ(blamed, c.blamed) << "archive of " << c.archiveSize << " bytes, first entry " << c.entries[0].second;
        EXPECT_EQ(v.hostile(), !c.blamed.empty());
        EXPECT_EQ(v.riskyCount(), c.blamed.size());
    }
}

TEST(ArchiveVerdict, AHostileNameKeepsItsReasonWhenTheSizeRuleAlsoBlamesIt) {
    ArchiveVerdict v;
    v.add(sized("../bomb.bin", 1, uint64_t{4} << 30));
    v.finish(1000);
    EXPECT_EQ(v.entry(0).reason, EntryReason::leavesDestination);
    EXPECT_EQ(v.count(kEntryHostile), 1u);
    EXPECT_EQ(v.riskyCount(), 1u);
}

}  // namespace
