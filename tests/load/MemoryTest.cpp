// Memory of the running program: the working set of quillozip.exe while it
// lists an archive of 100,000 entries and while it extracts a deflated
// entry of 2 GiB must stay within 32 MiB of the idle program's, and its
// private bytes during that extraction within 16 MiB. The driver makes the
// downloads on the test drive and presses the buttons as a user would.
#include "ProgramDriver.h"
#include "UiTestSupport.h"

#include "base/TextCodec.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

namespace {

constexpr double kAllowedGrowthMiB = 32.0;
constexpr double kAllowedPrivateGrowthMiB = 16.0;
constexpr int kManyEntries = 100000;
constexpr uint64_t kBigEntrySize = 2ULL << 30;
constexpr int kExtractionMs = 20 * 60 * 1000;  // 2 GiB through Wine on a busy machine

std::wstring archive(const wchar_t* name) { return buildFolder("load/archives") + L"\\" + name; }

uint64_t fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

double mib(uint64_t bytes) { return static_cast<double>(bytes) / kMiB; }

// Wine answers no question about another process's private bytes, so they
// are read where Linux keeps them, through drive Z: the resident anonymous
// memory (and any swapped out) in /proc/PID/status of the program's Unix
// process. That process runs with the program's Windows command line; the
// newest one with the path the driver starts is the program.
std::string readWhole(const std::wstring& path) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::wstring procPath(const std::wstring& pid, const wchar_t* file) { return L"Z:\\proc\\" + pid + L"\\" + file; }

std::wstring unixProcessOf(const std::wstring& exe) {
    const std::string wanted = wideToUtf8(exe);
    std::wstring newest;
    unsigned long long newestStart = 0;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (find == INVALID_HANDLE_VALUE) return newest;
    do {
        const std::wstring pid = found.cFileName;
        if (pid.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        const std::string commandLine = readWhole(procPath(pid, L"cmdline"));
        if (commandLine.c_str() != wanted) continue;  // the first argument, up to its NUL
        // The start time is the 22nd field, the 20th after the name's ")".
        const std::string stat = readWhole(procPath(pid, L"stat"));
        const size_t nameEnd = stat.rfind(')');
        if (nameEnd == std::string::npos) continue;
        std::istringstream fields(stat.substr(nameEnd + 1));
        std::string skipped;
        for (int field = 3; field < 22; field++) fields >> skipped;
        unsigned long long start = 0;
        if (!(fields >> start)) continue;
        if (newest.empty() || start >= newestStart) {
            newest = pid;
            newestStart = start;
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return newest;
}

uint64_t privateBytesOf(const std::wstring& unixPid) {
    const std::string status = readWhole(procPath(unixPid, L"status"));
    uint64_t kib = 0;
    for (const char* field : {"RssAnon:", "VmSwap:"}) {
        const size_t at = status.find(field);
        unsigned long long value = 0;
        if (at != std::string::npos && std::sscanf(status.c_str() + at + std::strlen(field), "%llu", &value) == 1)
            kib += value;
    }
    return kib * 1024;
}

class Memory : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DISPLAY();
        root_ = mappedDriveRoot(buildFolder("load"));
        ASSERT_FALSE(root_.empty()) << "the test drive was not mapped";
        ASSERT_TRUE(program_.start()) << "quillozip.exe did not load its reminder";
        folderName_ = L"memory" + std::to_wstring(GetTickCount64());
        folder_ = root_ + folderName_ + L"\\";
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }

    void TearDown() override {
        closeAllFolderWindows();
        program_.terminate();
        // The 2 GiB output goes at once, whatever the outcome.
        if (!folder_.empty()) DeleteFileW((folder_ + L"zeros.bin").c_str());
    }

    // Writes the archive as a download and waits for the reminder's verdict.
    ::testing::AssertionResult download(const wchar_t* source, const std::wstring& title) {
        const std::vector<char> bytes = readFile(archive(source));
        if (bytes.empty() || !writeDownload(folder_ + title + L".zip", bytes))
            return ::testing::AssertionFailure() << "could not write the download";
        std::wstring seen;
        if (!program_.waitForReminder(title, kGenerousMs, kSafeVerdict, &seen))
            return ::testing::AssertionFailure() << "the reminder for " << wideToUtf8(title) << " says " << wideToUtf8(seen);
        return ::testing::AssertionSuccess();
    }

    struct Peaks {
        uint64_t workingSet = 0, privateBytes = 0;
        double seconds = 0;
    };

    // Extracts a download of one file beside itself, sampling the program's
    // working set and private bytes until the run is over.
    void extract(const wchar_t* source, const std::wstring& title, const wchar_t* file, uint64_t size, Peaks* peaks) {
        const double began = nowMs();
        WorkingSetSampler sampler(program_.process());
        ASSERT_TRUE(download(source, title));
        ASSERT_TRUE(program_.safeOpen(1));
        ASSERT_TRUE(press(ProgramUnderTest::mainControl(MainControl::kArchiveFolder.name)));
        ASSERT_TRUE(press(ProgramUnderTest::mainControl(MainControl::kExtract.name)));
        // The run goes on in the background: its result line says when it is over.
        EXPECT_TRUE(waitFor(
            [&] {
                peaks->privateBytes = std::max(peaks->privateBytes, privateBytesOf(unixPid_));
                return textOf(ProgramUnderTest::mainControl(MainControl::kCountLine.name)).rfind(L"解压完成", 0) == 0;
            },
            kExtractionMs));
        peaks->workingSet = sampler.stop();
        peaks->seconds = (nowMs() - began) / 1000.0;
        EXPECT_TRUE(closeOpenedFolder(folderName_));
        EXPECT_EQ(fileSize(folder_ + file), size);
    }

    std::wstring root_, folder_, folderName_, unixPid_;
    ProgramUnderTest program_;
};

TEST_F(Memory, ListingAndExtractingStayNearTheIdleProgram) {
    const uint64_t idle = processFigures(program_.process()).workingSet;
    ASSERT_GT(idle, 0u) << "no working set figure for the program";
    unixPid_ = unixProcessOf(wineDir(binaryDir() + "/bin/quillozip.exe"));
    const uint64_t idlePrivate = privateBytesOf(unixPid_);
    ASSERT_GT(idlePrivate, 0u) << "no private bytes figure for the program";

    // Listing: the check opens the archive, "安全打开" lists every entry.
    double began = nowMs();
    WorkingSetSampler listing(program_.process());
    ASSERT_TRUE(download(L"many.zip", L"many"));
    ASSERT_TRUE(program_.safeOpen(kManyEntries, kExtractionMs));
    const uint64_t listingPeak = listing.stop();
    const double listingSeconds = (nowMs() - began) / 1000.0;
    EXPECT_EQ(textOf(ProgramUnderTest::mainControl(MainControl::kCountLine.name)), L"共有100000个文件，请放心解压");
    ASSERT_TRUE(program_.closeMainWindow());

    // Extraction: an archive of a single file extracts beside itself.
    Peaks extraction;
    ASSERT_NO_FATAL_FAILURE(extract(L"big.zip", L"big", L"zeros.bin", kBigEntrySize, &extraction));

    std::printf("figure: memory: idle working set %.1f MiB, private bytes %.1f MiB\n", mib(idle), mib(idlePrivate));
    std::printf("figure: memory: listing %d entries: peak %.1f MiB, %+.1f MiB over idle (%.1f s)\n", kManyEntries,
                mib(listingPeak), mib(listingPeak) - mib(idle), listingSeconds);
    std::printf("figure: memory: extracting a 2 GiB entry: working set peak %.1f MiB, %+.1f MiB over idle; private "
                "bytes peak %.1f MiB, %+.1f MiB over idle (%.1f s)\n",
                mib(extraction.workingSet), mib(extraction.workingSet) - mib(idle), mib(extraction.privateBytes),
                mib(extraction.privateBytes) - mib(idlePrivate), extraction.seconds);
    EXPECT_LT(mib(listingPeak) - mib(idle), kAllowedGrowthMiB);
    EXPECT_LT(mib(extraction.workingSet) - mib(idle), kAllowedGrowthMiB);
    EXPECT_LT(mib(extraction.privateBytes) - mib(idlePrivate), kAllowedPrivateGrowthMiB);
}

}  // namespace
