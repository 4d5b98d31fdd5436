// Volume sets reminded once, as their first volume, whatever the order in
// which their volumes finish.
#include "app/detect/DownloadSets.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

TEST(DownloadSets, FirstVolumeOfEachNamingScheme) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"D:\\dl\\资料.part3.rar", L"D:\\dl\\资料.part1.rar"},  {L"D:\\dl\\x.part02.RAR", L"D:\\dl\\x.part01.RAR"},
        {L"x.part001.rar", L"x.part001.rar"},                  {L"D:\\dl\\x.7z.004", L"D:\\dl\\x.7z.001"},
        {L"x.7Z.1000", L"x.7Z.0001"},                         {L"D:\\dl\\x.r07", L"D:\\dl\\x.rar"},
        {L"x.S00", L"x.rar"},                                 {L"D:\\dl\\x.rar", L"D:\\dl\\x.rar"},
        {L"D:\\dl\\x.zip", L"D:\\dl\\x.zip"},                 {L"D:\\a.part\\x.rar", L"D:\\a.part\\x.rar"},
        {L"x.tar.gz", L"x.tar.gz"},
    };
    for (const auto& [volume, first] : cases) EXPECT_EQ(firstVolumeOf(volume), first) << testing::PrintToString(std::wstring(volume));
}

// A folder of downloads: files that are there, and files still being downloaded.
struct Folder {
    std::set<std::wstring> files, partial;
    DownloadSets sets;
    std::vector<std::wstring> reminded;

    void start(const std::wstring& name) { partial.insert(name); }
    // The download of name finishes: its partial file becomes the file.
    void finish(const std::wstring& name) {
        partial.erase(name);
        files.insert(name);
        const auto target = sets.reminderFor(
            name, [this](const std::wstring& p) { return files.count(p) > 0; },
            [this](const std::wstring& p) { return partial.count(p) > 0; });
        if (target) reminded.push_back(*target);
    }
};

TEST(DownloadSets, ASetIsRemindedOnceWhenItsLastVolumeIsThere) {
    struct Case {
        const char* what;
        std::vector<std::wstring> volumes;       // the whole set, first first
        std::vector<int> order;                  // the order they finish in
        std::vector<std::wstring> reminded;
    };
    const std::vector<std::wstring> rar = {L"资料.part1.rar", L"资料.part2.rar", L"资料.part3.rar"};
    const std::vector<std::wstring> sevenZip = {L"x.7z.001", L"x.7z.002", L"x.7z.003"};
    const std::vector<std::wstring> oldRar = {L"o.rar", L"o.r00", L"o.r01"};
    const Case cases[] = {
        {"in order", rar, {0, 1, 2}, {L"资料.part1.rar"}},
        {"last first", sevenZip, {2, 1, 0}, {L"x.7z.001"}},
        {"first in the middle", sevenZip, {1, 0, 2}, {L"x.7z.001"}},
        {"old RAR, first last", oldRar, {2, 0, 1}, {L"o.rar"}},
        {"old RAR in order", oldRar, {0, 1, 2}, {L"o.rar"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        for (const std::wstring& v : c.volumes) folder.start(v);  // a browser's "download all"
        for (int i : c.order) folder.finish(c.volumes[static_cast<size_t>(i)]);
        EXPECT_EQ(folder.reminded, c.reminded);
        // A volume downloaded again later is not reminded by itself.
        folder.finish(c.volumes.back());
        EXPECT_EQ(folder.reminded, c.reminded);
    }
}

TEST(DownloadSets, SingleArchivesAreRemindedAsTheyAre) {
    Folder folder;
    for (const wchar_t* name : {L"a.zip", L"b.rar", L"c.7z", L"d.tar.gz", L"a.zip"}) folder.finish(name);
    EXPECT_EQ(folder.reminded, (std::vector<std::wstring>{L"a.zip", L"b.rar", L"c.7z", L"d.tar.gz", L"a.zip"}));
    // An old-style first volume whose next volume is still coming waits for it.
    folder.start(L"e.r00");
    folder.finish(L"e.rar");
    EXPECT_EQ(folder.reminded.size(), 5u);
    folder.finish(L"e.r00");
    EXPECT_EQ(folder.reminded.back(), L"e.rar");
}

}  // namespace
