// Memory of the running program: the working set of quillozip.exe while it
// lists an archive of 100,000 entries and while it extracts one entry of
// 2 GiB must stay within 32 MiB of the idle program's. The driver makes the
// downloads on the test drive and presses the buttons as a user would.
#include "ProgramDriver.h"
#include "UiTestSupport.h"

#include "base/TextCodec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

constexpr double kAllowedGrowthMiB = 32.0;
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

    std::wstring root_, folder_, folderName_;
    ProgramUnderTest program_;
};

TEST_F(Memory, ListingAndExtractingStayNearTheIdleProgram) {
    const uint64_t idle = processFigures(program_.process()).workingSet;
    ASSERT_GT(idle, 0u) << "no working set figure for the program";

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
    began = nowMs();
    WorkingSetSampler extraction(program_.process());
    ASSERT_TRUE(download(L"big.zip", L"big"));
    ASSERT_TRUE(program_.safeOpen(1));
    ASSERT_TRUE(press(ProgramUnderTest::mainControl(MainControl::kArchiveFolder.name)));
    ASSERT_TRUE(press(ProgramUnderTest::mainControl(MainControl::kExtract.name)));
    // The run goes on in the background: its result line says when it is over.
    EXPECT_TRUE(waitFor([] { return textOf(ProgramUnderTest::mainControl(MainControl::kCountLine.name)).rfind(L"解压完成", 0) == 0; },
                        kExtractionMs));
    const uint64_t extractionPeak = extraction.stop();
    const double extractionSeconds = (nowMs() - began) / 1000.0;
    EXPECT_TRUE(closeOpenedFolder(folderName_));
    EXPECT_EQ(fileSize(folder_ + L"zeros.bin"), kBigEntrySize);

    std::printf("figure: memory: idle working set %.1f MiB\n", mib(idle));
    std::printf("figure: memory: listing %d entries: peak %.1f MiB, %+.1f MiB over idle (%.1f s)\n", kManyEntries,
                mib(listingPeak), mib(listingPeak) - mib(idle), listingSeconds);
    std::printf("figure: memory: extracting a 2 GiB entry: peak %.1f MiB, %+.1f MiB over idle (%.1f s)\n",
                mib(extractionPeak), mib(extractionPeak) - mib(idle), extractionSeconds);
    EXPECT_LT(mib(listingPeak) - mib(idle), kAllowedGrowthMiB);
    EXPECT_LT(mib(extractionPeak) - mib(idle), kAllowedGrowthMiB);
}

}  // namespace
