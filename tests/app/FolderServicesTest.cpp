// Folder and path services under Wine with code page 936, on wide paths.
#include "app/FolderServices.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/PathText.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"

namespace {

std::wstring tempFolder() {
    wchar_t buf[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, buf);
    return std::wstring(buf, n);
}

// A path in the temporary folder that no other test process uses.
std::wstring uniqueTempPath(const std::wstring& name) {
    return tempFolder() + name + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
           std::to_wstring(GetTickCount64());
}

bool isFolder(const std::wstring& path) {
    DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

void writeFile(const std::wstring& path, const std::string& bytes) {
    UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f) << path;
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(f.get(), bytes.data(), DWORD(bytes.size()), &n, nullptr));
}

}  // namespace

// The portable splitting must agree with the shell's own routines, since the
// rest of the program relies on either.
TEST(PathServices, SplittingAgreesWithTheShell) {
    const wchar_t* paths[] = {
        L"C:\\dl\\setup.old.zip", L"C:\\dl\\README", L"C:\\dl\\", L"C:\\dl.d\\README", L"C:\\", L"C:", L"tools.zip",
        L"C:\\dl\\a.b c", L"C:\\my files\\a.zip", L"C:\\dl\\name.", L"C:x.zip", L"\\\\server\\share\\f.zip",
        L"C:\\a\\乗.zip", L"D:\\下载\\工具.zip", L"D:\\下载\\资料😀한국어.zip", L"E:\\😀.d\\ก",
    };
    for (const wchar_t* p : paths) {
        SCOPED_TRACE(wideToUtf8(p));
        EXPECT_EQ(std::wstring(pathFileName(p)), PathFindFileNameW(p));
        EXPECT_EQ(pathExtension(p), PathFindExtensionW(p));
    }
}

TEST(PathServices, SpecialFolders) {
    std::wstring desktop = specialFolderPath(kFolderDesktop);
    ASSERT_FALSE(desktop.empty());
    EXPECT_EQ(desktop.back(), L'\\');
    EXPECT_EQ(specialFolderPath(kFolderDefault), desktop);
    EXPECT_TRUE(isFolder(desktop)) << desktop;

    wchar_t buf[MAX_PATH];
    GetTempPathW(MAX_PATH, buf);
    EXPECT_EQ(specialFolderPath(kFolderTemp), buf);  // already ends in "\"
    GetWindowsDirectoryW(buf, MAX_PATH);
    EXPECT_EQ(specialFolderPath(kFolderWindows), std::wstring(buf) + L"\\");
    GetSystemDirectoryW(buf, MAX_PATH);
    EXPECT_EQ(specialFolderPath(kFolderSystem), std::wstring(buf) + L"\\");

    EXPECT_EQ(specialFolderPath(13), L"");
    EXPECT_EQ(specialFolderPath(-1), L"");
}

TEST(PathServices, DesktopDestination) {
    std::wstring destination = L"X:\\old\\";
    EXPECT_TRUE(useDesktopDestination(destination));
    EXPECT_EQ(destination, specialFolderPath(kFolderDesktop));
}

TEST(ReadWholeFile, ReadsExactBytes) {
    std::wstring dir = tempFolder();
    std::string bytes("PK\x03\x04\0\0\x1A\r\n\xFF", 10);
    bytes += std::string(100000, 'z');
    std::wstring path = uniqueTempPath(L"下载测试😀.bin");
    writeFile(path, bytes);
    ByteArray got = readWholeFile(path);
    EXPECT_EQ(std::string(got.begin(), got.end()), bytes);

    // Readable while a writer still holds it open, as a download in progress.
    {
        UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(readWholeFile(path).size(), bytes.size());
    }
    DeleteFileW(path.c_str());

    writeFile(path, "");
    EXPECT_TRUE(readWholeFile(path).empty());
    DeleteFileW(path.c_str());
    EXPECT_TRUE(readWholeFile(path).empty());
    EXPECT_TRUE(readWholeFile(dir + L"no\\such\\file").empty());
    EXPECT_TRUE(readWholeFile(L"").empty());
}

// A file of 4 GiB and 5 bytes: its low 32 size bits say 5, which must not be
// taken for its size.
TEST(ReadWholeFile, FileOfFourGibibytesOrMoreGivesNothing) {
    std::wstring path = uniqueTempPath(L"qz-huge.bin");
    {
        UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(f);
        LARGE_INTEGER end;
        end.QuadPart = (LONGLONG(1) << 32) + 5;
        ASSERT_TRUE(SetFilePointerEx(f.get(), end, nullptr, FILE_BEGIN));
        if (!SetEndOfFile(f.get())) {
            f.reset();
            DeleteFileW(path.c_str());
            GTEST_SKIP() << "no room for a sparse 4 GiB file here";
        }
    }
    EXPECT_TRUE(readWholeFile(path).empty());
    DeleteFileW(path.c_str());
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
    void answer(const std::wstring& select, const std::wstring& shown, int button, Body body) {
        std::atomic<bool> done{false}, answered{false};
        std::thread helper([&] {
            HWND dialog = nullptr;
            ULONGLONG deadline = GetTickCount64() + 60000, lastAsk = 0;
            while (!done && GetTickCount64() < deadline) {
                if (!dialog) dialog = findBrowser();
                if (dialog && IsWindowVisible(dialog)) {
                    // The tree fills in after the dialog appears: ask again now and then.
                    if (!select.empty() && GetTickCount64() - lastAsk > 1000) {
                        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, LPARAM(select.c_str()));
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

    static bool selectionShows(HWND dialog, const std::wstring& shown) {
        HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
        if (!tree) return false;
        HTREEITEM root = TreeView_GetRoot(tree);
        HTREEITEM caret = TreeView_GetSelection(tree);
        if (!caret || caret == root) return false;
        if (shown.empty()) return true;
        wchar_t text[MAX_PATH] = {};
        TVITEMW item = {};
        item.mask = TVIF_TEXT;
        item.hItem = caret;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        return SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&item)) && shown == text;
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
    // Directly on C:, so that the browser has few levels to open; a name the
    // ANSI code page cannot hold.
    std::wstring name = L"解压目标😀한국어." + std::to_wstring(GetCurrentProcessId()) + L"." +
                        std::to_wstring(GetTickCount64());
    std::wstring folder = L"C:\\" + name;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring destination = L"X:\\old\\";
    answer(folder, name, IDOK, [&] { EXPECT_TRUE(chooseCustomDestination(destination)); });
    EXPECT_EQ(destination, folder + L"\\");
    RemoveDirectoryW(folder.c_str());
}

TEST_F(FolderBrowser, DriveRootIsReturnedWithoutItsBackslash) {
    std::wstring chosen;
    answer(L"C:\\", L"", IDOK, [&] { chosen = browseForFolder(); });
    EXPECT_EQ(chosen, L"C:");
    EXPECT_EQ(withTrailingBackslash(chosen), L"C:\\");
}

TEST_F(FolderBrowser, CancelLeavesTheDestinationAlone) {
    std::wstring destination = L"X:\\old\\";
    answer(tempFolder(), L"", IDCANCEL, [&] { EXPECT_FALSE(chooseCustomDestination(destination)); });
    EXPECT_EQ(destination, L"X:\\old\\");
}
