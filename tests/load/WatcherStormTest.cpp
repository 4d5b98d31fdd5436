// Watcher storm: a drive watcher set up as the program sets up its own (the
// drive root, the default filter, checkFinishedDownload behind the callback)
// while thousands of small files land in fresh folders of the test drive and
// finished ZIP downloads are interleaved. Every one of those downloads must
// reach the finished-download check; the rate and the loss are printed.
#include "ProgramDriver.h"

#include "base/CriticalSectionLock.h"
#include "app/detect/DirectoryWatcher.h"
#include "app/detect/FinishedDownload.h"
#include "base/TextCodec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kFilesPerFolder = 100;
constexpr int kFilesPerDownload = 400;  // 50 downloads among 20,000 files
constexpr double kTargetRate = 20000.0 / 60.0;

// What reached the callback; reports come from the one worker, the test
// thread reads meanwhile.
struct Arrivals {
    CriticalSectionLock lock;
    std::set<std::wstring> zipPaths;  // paths of the added and modification records of *.zip
    uint64_t zipRecords = 0;
    uint64_t records = 0;
    uint64_t overflows = 0;  // action 0: the system said changes were lost

    size_t zipCount() {
        auto guard = lock.lock();
        return zipPaths.size();
    }
};
Arrivals arrivals;

bool endsWithZip(const std::wstring& path) { return path.size() >= 4 && path.compare(path.size() - 4, 4, L".zip") == 0; }

// The program's callback, with a note of what it was given.
void noteAndCheck(int action, const wchar_t* path, int length) {
    {
        auto guard = arrivals.lock.lock();
        ++arrivals.records;
        if (action == 0) ++arrivals.overflows;
        const std::wstring p(path, static_cast<size_t>(length));
        if ((action == 1 || action == 3) && endsWithZip(p)) {
            arrivals.zipPaths.insert(p);
            ++arrivals.zipRecords;
        }
    }
    checkFinishedDownload(action, path, length);
}

bool writeSmallFile(const std::wstring& path, int n) {
    char text[64];
    const int size = std::snprintf(text, sizeof text, "file %d of the storm\r\n", n);
    return writeDownload(path, std::vector<char>(text, text + size));
}

TEST(WatcherStorm, NoFinishedDownloadIsLost) {
    const std::wstring root = mappedDriveRoot(buildFolder("load"));
    ASSERT_FALSE(root.empty()) << "the test drive was not mapped";
    const std::vector<char> zip = readFile(buildFolder("load/archives") + L"\\small.zip");
    ASSERT_FALSE(zip.empty());
    const int files = longRun() ? 100000 : 20000;
    const int downloads = files / kFilesPerDownload;

    DirectoryWatcher watcher;
    ASSERT_TRUE(watcher.start(root, noteAndCheck));

    // Every folder is made after the watch began: Wine watches only those below.
    const std::wstring top = root + L"storm" + std::to_wstring(GetTickCount64()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr));
    std::set<std::wstring> expected;
    std::wstring folder;
    int failedWrites = 0;
    const double began = nowMs();
    for (int i = 0; i < files; ++i) {
        if (i % kFilesPerFolder == 0) {
            folder = top + L"d" + std::to_wstring(i / kFilesPerFolder) + L"\\";
            if (!CreateDirectoryW(folder.c_str(), nullptr)) ++failedWrites;
        }
        if (!writeSmallFile(folder + L"f" + std::to_wstring(i) + L".txt", i)) ++failedWrites;
        if (i % kFilesPerDownload == kFilesPerDownload / 2) {
            const std::wstring download = folder + L"download" + std::to_wstring(expected.size()) + L".zip";
            if (!writeDownload(download, zip)) ++failedWrites;
            expected.insert(download);
        }
    }
    const double seconds = (nowMs() - began) / 1000.0;
    const double rate = (files + downloads) / seconds;

    // The last records may still be on their way; lost ones never come.
    waitFor([&] { return arrivals.zipCount() >= expected.size(); }, kGenerousMs);
    const double drained = (nowMs() - began) / 1000.0;
    watcher.stop();

    size_t lost = 0;
    for (const std::wstring& path : expected)
        if (!arrivals.zipPaths.count(path)) ++lost;
    std::printf("figure: watcher storm: %d files and %zu downloads in %.1f s = %.0f files/s "
                "(records awaited until %.1f s)\n",
                files, expected.size(), seconds, rate, drained);
    std::printf("figure: watcher storm: downloads without a record %zu / %zu; %llu records in all, %llu for the downloads, "
                "%llu overflow reports; the check accepted %llu\n",
                lost, expected.size(), static_cast<unsigned long long>(arrivals.records),
                static_cast<unsigned long long>(arrivals.zipRecords),
                static_cast<unsigned long long>(arrivals.overflows),
                static_cast<unsigned long long>(acceptedDownloadRecords()));

    EXPECT_EQ(failedWrites, 0);
    ASSERT_EQ(expected.size(), static_cast<size_t>(downloads));
    EXPECT_EQ(lost, 0u);
    EXPECT_EQ(arrivals.overflows, 0u);
    // Each of those records passed the check's tests (written in place, ".zip", no "$").
    EXPECT_EQ(acceptedDownloadRecords(), arrivals.zipRecords);
    // Slower than the target rate, the run would not show what it claims.
    EXPECT_GE(rate, kTargetRate);
}

}  // namespace
