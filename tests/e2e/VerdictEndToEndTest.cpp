// The verdict end to end: quillozip.exe, on a test drive of its own, gets
// downloads of archives made by real tools and must say what each holds: the
// reminder's status line and its colour as the screen shows it, then the
// main window's count line, its colour and the reason after each flagged row.
#include "ProgramDriver.h"
#include "UiTestSupport.h"

#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "ui/PngDecoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr ColourRef kWarningRed = rgb(220, 53, 69);
constexpr ColourRef kStatusGrey = rgb(96, 96, 96);   // the reminder's status line
constexpr ColourRef kCountGreen = rgb(60, 202, 155);  // the main window's count line

// A control as the X server shows it, cut from a photograph of the display.
Image photograph(HWND control, const std::string& name) {
    const std::wstring png = wineDir(binaryDir() + "/artifacts/e2e-" + name + ".png");
    DeleteFileW(png.c_str());
    screenshot(name);
    const std::vector<char> bytes = readFile(png);
    const Image screen = decodePng({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    RECT r;
    GetWindowRect(control, &r);
    Image out;
    if (screen.empty() || r.right > screen.width || r.bottom > screen.height || r.left < 0 || r.top < 0) return out;
    out.width = r.right - r.left;
    out.height = r.bottom - r.top;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) out.pixels.push_back(screen.at(x, y));
    return out;
}

// Pixels within a small distance of the colour: text is smoothed at its edges.
int pixelsNear(const Image& image, ColourRef colour) {
    int n = 0;
    for (uint32_t p : image.pixels) {
        const ColourRef c = colourOfPixel(p);
        if (std::abs(redOf(c) - redOf(colour)) <= 24 && std::abs(greenOf(c) - greenOf(colour)) <= 24 &&
            std::abs(blueOf(c) - blueOf(colour)) <= 24)
            ++n;
    }
    return n;
}

// The text is drawn in `colour` and not in `other`, and it fits: a text cut
// by the label's right edge would leave glyph pixels in its last columns.
void expectDrawnIn(const Image& label, ColourRef colour, ColourRef other, const std::string& what) {
    ASSERT_FALSE(label.empty()) << what << ": no photograph";
    EXPECT_GT(pixelsNear(label, colour), 10) << what << " is not drawn in " << colourText(colour);
    EXPECT_EQ(pixelsNear(label, other), 0) << what << " shows " << colourText(other);
    Image edge;
    edge.width = 3;
    edge.height = label.height;
    for (int y = 0; y < label.height; ++y)
        for (int x = label.width - 3; x < label.width; ++x) edge.pixels.push_back(label.at(x, y));
    EXPECT_EQ(pixelsNear(edge, colour), 0) << what << " runs past its label";
}

struct Download {
    const wchar_t* file;  // in the archives folder; the download's title is its name without ".zip"
    const wchar_t* status;
    const wchar_t* countLine;
    std::vector<std::wstring> rows;
};

const std::wstring kDanger = L"下载完毕，含危险文件";
const std::wstring kDisguised = L"（危险：伪装的可执行文件）";

const Download kDownloads[] = {
    {L"plain", L"下载完毕，压缩包安全", L"共有3个文件，请放心解压", {L"readme.txt", L"docs/", L"docs/notes.txt"}},
    {L"setup", L"下载完毕，压缩包安全", L"共有2个文件，请放心解压", {L"setup.exe（可执行文件）", L"readme.txt"}},
    {L"locked", L"下载完毕，需要密码", L"共有2个文件，需要密码", {L"readme.txt（已加密）", L"docs/notes.txt（已加密）"}},
    {L"invoice", kDanger.c_str(), L"共有2个文件，其中1个有风险", {L"发票.pdf.exe" + kDisguised, L"readme.txt"}},
    {L"rlo", kDanger.c_str(), L"共有2个文件，其中1个有风险", {L"invoice_fdp.exe" + kDisguised, L"readme.txt"}},
    {L"names", kDanger.c_str(), L"共有3个文件，其中2个有风险",
     {L"evil.txt（危险：路径越界）", L"nul.txt（危险：路径越界）", L"ok.txt"}},
    {L"overlap", kDanger.c_str(), L"共有2个文件，其中2个有风险", {L"（危险：疑似压缩炸弹）", L"（危险：疑似压缩炸弹）"}},
    {L"declared", kDanger.c_str(), L"共有2个文件，其中1个有风险", {L"small.txt", L"huge.bin（危险：疑似压缩炸弹）"}},
};

class VerdictEndToEnd : public ProgramSuite<VerdictEndToEnd> {
public:
    static constexpr const char* kStateDir = "e2e-verdict";

protected:
    // Downloads archives/FILE.zip as TITLE.zip and waits for the reminder's verdict.
    static bool download(const std::wstring& file, const std::wstring& title, const std::wstring& status) {
        program_.hideReminder();
        // Made once the program watches: Wine's watch sees only later folders.
        CreateDirectoryW((root_ + L"dl").c_str(), nullptr);
        const std::vector<char> bytes = readFile(buildFolder("e2e-verdict/archives") + L"\\" + file + L".zip");
        EXPECT_FALSE(bytes.empty()) << wideToUtf8(file);
        EXPECT_TRUE(writeDownload(root_ + L"dl\\" + title + L".zip", bytes));
        return program_.waitForReminder(title, kGenerousMs, status);
    }
};

TEST_F(VerdictEndToEnd, EachArchiveIsCalledWhatItIs) {
    for (const Download& d : kDownloads) {
        const std::string name = wideToUtf8(d.file);
        SCOPED_TRACE(name);
        ASSERT_TRUE(download(d.file, d.file, d.status)) << wideToUtf8(textOf(program_.reminderControl(ReminderControl::kStatus.name)));
        const bool danger = d.status == kDanger;
        expectDrawnIn(photograph(program_.reminderControl(ReminderControl::kStatus.name), "verdict-" + name),
                      danger ? kWarningRed : kStatusGrey, danger ? kStatusGrey : kWarningRed, "the status line");

        ASSERT_TRUE(program_.safeOpen(static_cast<int>(d.rows.size())));
        HWND count = ProgramUnderTest::mainControl(MainControl::kCountLine.name);
        EXPECT_EQ(textOf(count), d.countLine);
        expectDrawnIn(photograph(count, "verdict-main-" + name), danger ? kWarningRed : kCountGreen,
                      danger ? kCountGreen : kWarningRed, "the count line");
        EXPECT_EQ(listRows(ProgramUnderTest::mainControl(MainControl::kEntryList.name)), d.rows);
        ASSERT_TRUE(program_.closeMainWindow());
    }
}

TEST_F(VerdictEndToEnd, ASafeArchiveAfterADangerousOneIsGreyAgain) {
    ASSERT_TRUE(download(L"names", L"before", kDanger));
    ASSERT_TRUE(download(L"plain", L"after", L"下载完毕，压缩包安全"));
    expectDrawnIn(photograph(program_.reminderControl(ReminderControl::kStatus.name), "verdict-safe-again"), kStatusGrey, kWarningRed,
                  "the status line");
}

TEST_F(VerdictEndToEnd, ADisguisedProgramIsStillExtracted) {
    // The user decides: the warning does not keep the file back.
    // A title of its own: the same download again at the same path and size
    // is the one already reminded.
    ASSERT_TRUE(download(L"invoice", L"disguised", kDanger));
    // The browser's zone mark, made after the download as browsers do (on a
    // volume without named streams, a file of that name).
    const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/disguised.zip\r\n";
    ASSERT_TRUE(writeDownload(root_ + L"dl\\disguised.zip:Zone.Identifier", std::vector<char>(zone.begin(), zone.end())));
    ASSERT_TRUE(program_.safeOpen(2));
    ASSERT_TRUE(press(ProgramUnderTest::mainControl(MainControl::kExtract.name)));
    EXPECT_TRUE(closeOpenedFolder(L"disguised"));
    EXPECT_EQ(readFile(root_ + L"dl\\disguised\\发票.pdf.exe").size(), 25u);
    EXPECT_EQ(readFile(root_ + L"dl\\disguised\\readme.txt").size(), 9u);
    // Every file keeps its download's zone where the volume can hold it,
    // without the address it came from; elsewhere nothing else appears
    // beside them.
    DWORD flags = 0;
    ASSERT_TRUE(GetVolumeInformationW(root_.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0));
    if (!(flags & FILE_NAMED_STREAMS)) std::printf("note: drive %ls has no named streams: no zone mark\n", root_.c_str());
    for (const wchar_t* name : {L"发票.pdf.exe", L"readme.txt"}) {
        const std::vector<char> bytes = readFile(root_ + L"dl\\disguised\\" + name + L":Zone.Identifier");
        const std::string mark(bytes.begin(), bytes.end());
        if (flags & FILE_NAMED_STREAMS) {
            EXPECT_EQ(mark.find("[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl="), 0u) << wideToUtf8(name);
            EXPECT_EQ(mark.find("HostUrl"), std::string::npos) << wideToUtf8(name);
        } else {
            EXPECT_TRUE(mark.empty()) << wideToUtf8(name);
        }
    }
    WIN32_FIND_DATAW found;
    int files = 0;
    UniqueFind find(FindFirstFileW((root_ + L"dl\\disguised\\*").c_str(), &found));
    if (find) {
        do files += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        while (FindNextFileW(find.get(), &found));
    }
    EXPECT_EQ(files, 2);
    EXPECT_TRUE(program_.closeMainWindow());
}

TEST_F(VerdictEndToEnd, ExitFromTheTrayMenu) {
    DWORD code = 1;
    ASSERT_TRUE(program_.exitFromTrayMenu(&code));
    EXPECT_EQ(code, 0u);
}

}  // namespace
