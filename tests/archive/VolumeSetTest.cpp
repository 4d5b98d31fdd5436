#include "archive/VolumeSet.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(VolumeSet, NextNameInEachScheme) {
    const struct {
        const wchar_t* path;
        const wchar_t* next;
    } cases[] = {
        {L"C:\\d\\a.7z.001", L"C:\\d\\a.7z.002"},
        {L"a.7z.009", L"a.7z.010"},
        {L"a.7z.999", L"a.7z.1000"},
        {L"a.part1.rar", L"a.part2.rar"},
        {L"a.part09.rar", L"a.part10.rar"},
        {L"A.PART0001.RAR", L"A.PART0002.RAR"},
        {L"a.rar", L"a.r00"},
        {L"A.RAR", L"A.R00"},
        {L"a.r00", L"a.r01"},
        {L"a.r99", L"a.s00"},
        {L"a.z99", L""},
        {L"a.tar.gz", L""},
        {L"C:\\1.2\\archive", L""},      // digits in a folder name are no volume number
        {L"report2024.rar", L"report2024.r00"},  // not a ".part" name
    };
    for (const auto& c : cases) EXPECT_EQ(nextVolumeName(c.path), c.next) << c.path;
    EXPECT_TRUE(isVolumeName(L"a.7z.001"));
    EXPECT_TRUE(isVolumeName(L"a.part1.rar"));
    EXPECT_FALSE(isVolumeName(L"a.rar"));
    EXPECT_FALSE(isVolumeName(L"a.7z"));
}

TEST(VolumeSet, FindsTheVolumesThatExistAndTheFirstMissing) {
    std::set<std::wstring> files = {L"x.part1.rar", L"x.part2.rar", L"x.part3.rar", L"x.part5.rar"};
    const auto exists = [&](const std::wstring& p) { return files.count(p) > 0; };
    VolumeSet set = findVolumes(L"x.part1.rar", exists);
    EXPECT_EQ(set.paths, (std::vector<std::wstring>{L"x.part1.rar", L"x.part2.rar", L"x.part3.rar"}));
    EXPECT_EQ(set.firstMissing, L"x.part4.rar");
    set = findVolumes(L"single.7z", exists);
    EXPECT_EQ(set.paths, (std::vector<std::wstring>{L"single.7z"}));
    EXPECT_EQ(set.firstMissing, L"");
}

}  // namespace
