// Folder and path services under Wine with code page 936.
#include "app/FolderServices.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/PathText.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"

namespace {

std::string tempFolder() {
    char buf[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, buf);
    return std::string(buf, n);
}

// A path in the temporary folder that no other test process uses.
std::string uniqueTempPath(const std::string& name) {
    return tempFolder() + name + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(GetTickCount64());
}

bool isFolder(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

void writeFile(const std::string& path, const std::string& bytes) {
    UniqueFile f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f) << path;
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(f.get(), bytes.data(), DWORD(bytes.size()), &n, nullptr));
}

}  // namespace

// The portable splitting must agree with the shell's own routines, double-byte
// names included, since the rest of the program relies on either.
TEST(PathServices, SplittingAgreesWithTheShell) {
    ASSERT_EQ(GetACP(), 936u);
    const char* paths[] = {
        "C:\\dl\\setup.old.zip", "C:\\dl\\README", "C:\\dl\\", "C:\\dl.d\\README", "C:\\", "C:", "tools.zip",
        "C:\\dl\\a.b c", "C:\\my files\\a.zip", "C:\\dl\\name.", "C:x.zip", "\\\\server\\share\\f.zip",
        "C:\\a\\\x81\x5C.zip", "C:\\a\\\x81\x5C", "C:\\\x81\x5C\\t.zip", "C:\\\x95\x5C\\\x95\x5C.txt",
        "D:\\下载\\工具.zip", "C:\\a.b\\\x81\x5C", "C:\\dl\\\x81",
    };
    for (const char* p : paths) {
        std::string gbk = utf8ToAnsi(p);
        if (gbk.empty()) gbk = p;  // already GBK bytes, not valid UTF-8
        SCOPED_TRACE(gbk);
        EXPECT_EQ(std::string(pathFileName(gbk)), PathFindFileNameA(gbk.c_str()));
        EXPECT_EQ(pathExtension(gbk), PathFindExtensionA(gbk.c_str()));
    }
}

TEST(PathServices, SpecialFolders) {
    std::string desktop = specialFolderPath(kFolderDesktop);
    ASSERT_FALSE(desktop.empty());
    EXPECT_EQ(desktop.back(), '\\');
    EXPECT_EQ(specialFolderPath(kFolderDefault), desktop);
    EXPECT_TRUE(isFolder(desktop)) << desktop;

    char buf[MAX_PATH];
    GetTempPathA(MAX_PATH, buf);
    EXPECT_EQ(specialFolderPath(kFolderTemp), buf);  // already ends in "\"
    GetWindowsDirectoryA(buf, MAX_PATH);
    EXPECT_EQ(specialFolderPath(kFolderWindows), std::string(buf) + "\\");
    GetSystemDirectoryA(buf, MAX_PATH);
    EXPECT_EQ(specialFolderPath(kFolderSystem), std::string(buf) + "\\");

    EXPECT_EQ(specialFolderPath(13), "");
    EXPECT_EQ(specialFolderPath(-1), "");
}

TEST(PathServices, DesktopDestination) {
    std::string destination = "X:\\old\\";
    EXPECT_TRUE(useDesktopDestination(destination));
    EXPECT_EQ(destination, specialFolderPath(kFolderDesktop));
}

TEST(ReadWholeFile, ReadsExactBytes) {
    std::string dir = tempFolder();
    std::string bytes("PK\x03\x04\0\0\x1A\r\n\xFF", 10);
    bytes += std::string(100000, 'z');
    std::string path = uniqueTempPath(utf8ToAnsi("下载测试.bin"));
    writeFile(path, bytes);
    ByteArray got = readWholeFile(path);
    EXPECT_EQ(std::string(got.begin(), got.end()), bytes);

    // Readable while a writer still holds it open, as a download in progress.
    {
        UniqueFile writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(readWholeFile(path).size(), bytes.size());
    }
    DeleteFileA(path.c_str());

    writeFile(path, "");
    EXPECT_TRUE(readWholeFile(path).empty());
    DeleteFileA(path.c_str());
    EXPECT_TRUE(readWholeFile(path).empty());
    EXPECT_TRUE(readWholeFile(dir + "no\\such\\file").empty());
    EXPECT_TRUE(readWholeFile("").empty());
}

// A file of 4 GiB and 5 bytes: its low 32 size bits say 5, which must not be
// taken for its size.
TEST(ReadWholeFile, FileOfFourGibibytesOrMoreGivesNothing) {
    std::string path = uniqueTempPath("qz-huge.bin");
    {
        UniqueFile f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(f);
        LARGE_INTEGER end;
        end.QuadPart = (LONGLONG(1) << 32) + 5;
        ASSERT_TRUE(SetFilePointerEx(f.get(), end, nullptr, FILE_BEGIN));
        if (!SetEndOfFile(f.get())) {
            f.reset();
            DeleteFileA(path.c_str());
            GTEST_SKIP() << "no room for a sparse 4 GiB file here";
        }
    }
    EXPECT_TRUE(readWholeFile(path).empty());
    DeleteFileA(path.c_str());
}

// The folder browser is driven as a user would: a helper thread waits for the
// dialog, selects a folder through the browser's own message and presses a button.
class FolderBrowser : public testing::Test {
protected:
    void SetUp() override {
        if (!GetEnvironmentVariableA("DISPLAY", nullptr, 0)) GTEST_SKIP() << "no X display for the dialog";
    }

    // Runs body on this thread while the helper answers the first browser
    // dialog: selects `select` (when not empty), waits until the folder tree
    // shows an item named `shown` (any item below the root when empty)
    // selected, and presses `button`.
    template <typename Body>
    void answer(const std::string& select, const std::string& shown, int button, Body body) {
        std::atomic<bool> done{false}, answered{false};
        std::thread helper([&] {
            HWND dialog = nullptr;
            ULONGLONG deadline = GetTickCount64() + 60000, lastAsk = 0;
            while (!done && GetTickCount64() < deadline) {
                if (!dialog) dialog = findBrowser();
                if (dialog && IsWindowVisible(dialog)) {
                    // The tree fills in after the dialog appears: ask again now and then.
                    if (!select.empty() && GetTickCount64() - lastAsk > 1000) {
                        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, LPARAM(select.c_str()));
                        lastAsk = GetTickCount64();
                    }
                    if (select.empty() || selectionShows(dialog, shown)) {
                        PostMessageA(dialog, WM_COMMAND, button, 0);
                        answered = true;
                        return;
                    }
                }
                Sleep(20);
            }
            // Never leave the modal dialog up: the test fails instead of hanging.
            if (dialog) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        body();
        done = true;
        helper.join();
        EXPECT_TRUE(answered) << "the browser dialog never showed the selection";
    }

    static bool selectionShows(HWND dialog, const std::string& shown) {
        HWND tree = FindWindowExA(dialog, nullptr, "SysTreeView32", nullptr);
        if (!tree) return false;
        HTREEITEM root = TreeView_GetRoot(tree);
        HTREEITEM caret = TreeView_GetSelection(tree);
        if (!caret || caret == root) return false;
        if (shown.empty()) return true;
        char text[MAX_PATH] = {};
        TVITEMA item = {};
        item.mask = TVIF_TEXT;
        item.hItem = caret;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        return SendMessageA(tree, TVM_GETITEMA, 0, LPARAM(&item)) && shown == text;
    }

    static BOOL CALLBACK matchBrowser(HWND hwnd, LPARAM found) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        char cls[16] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        if (pid != GetCurrentProcessId() || std::string(cls) != "#32770") return TRUE;
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    static HWND findBrowser() {
        HWND found = nullptr;
        EnumWindows(&matchBrowser, LPARAM(&found));
        return found;
    }
};

TEST_F(FolderBrowser, ChosenFolderBecomesTheDestination) {
    // Directly on C:, so that the browser has few levels to open.
    std::string name = utf8ToAnsi("解压目标") + "." + std::to_string(GetCurrentProcessId()) + "." +
                       std::to_string(GetTickCount64());
    std::string folder = "C:\\" + name;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    std::string destination = "X:\\old\\";
    answer(folder, name, IDOK, [&] { EXPECT_TRUE(chooseCustomDestination(destination)); });
    EXPECT_EQ(destination, folder + "\\");
    RemoveDirectoryA(folder.c_str());
}

TEST_F(FolderBrowser, DriveRootIsReturnedWithoutItsBackslash) {
    std::string chosen;
    answer("C:\\", "", IDOK, [&] { chosen = browseForFolder(); });
    EXPECT_EQ(chosen, "C:");
    EXPECT_EQ(withTrailingBackslash(chosen), "C:\\");
}

TEST_F(FolderBrowser, CancelLeavesTheDestinationAlone) {
    std::string destination = "X:\\old\\";
    answer(tempFolder(), "", IDCANCEL, [&] { EXPECT_FALSE(chooseCustomDestination(destination)); });
    EXPECT_EQ(destination, "X:\\old\\");
}
