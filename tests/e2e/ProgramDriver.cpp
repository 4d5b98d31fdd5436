#include "ProgramDriver.h"

#include "UiTestSupport.h"

#include "base/TextCodec.h"
#include "base/UniqueAny.h"

#include <psapi.h>
#include <shlobj.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kFirstControlId = 1000;  // controls are numbered by their table row
constexpr UINT kTrayMessage = WM_APP + 0x64;
constexpr UINT kTrayIconId = 100;

}  // namespace

std::wstring wineDir(const std::string& unixPath) {
    std::wstring out = L"Z:" + utf8ToWide(unixPath);
    std::replace(out.begin(), out.end(), L'/', L'\\');
    return out;
}

std::string binaryDir() {
    const char* dir = std::getenv("QZ_BINARY_DIR");
    return dir ? dir : ".";
}

std::wstring buildFolder(const std::string& relative) { return wineDir(binaryDir() + "/" + relative); }

std::vector<char> readFile(const std::wstring& path) {
    UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr));
    std::vector<char> bytes;
    if (!f) return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(f.get(), &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size()))
        bytes.clear();
    return bytes;
}

bool writeDownload(const std::wstring& path, const std::vector<char>& bytes) {
    UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    DWORD written = 0;
    return WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::wstring mappedDriveRoot(const std::wstring& stateDir) {
    std::vector<char> letter = readFile(stateDir + L"\\watch-drive\\letter");
    if (letter.empty()) return {};
    const wchar_t upper = static_cast<wchar_t>(towupper(letter[0]));
    // A running wineserver reads the prefix's drive links only when it
    // starts: a letter mapped meanwhile opens but is not listed, and the
    // program, which watches the drives it lists, would not watch it. Naming
    // the letter in the object namespace lists it until the server ends.
    if (upper >= L'A' && upper <= L'Z' && !(GetLogicalDrives() & (1u << (upper - L'A')))) {
        const std::wstring device{upper, L':'};
        DefineDosDeviceW(0, device.c_str(), (stateDir + L"\\watch-drive\\root").c_str());
    }
    return std::wstring{upper, L':', L'\\'};
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(2);
    }
}

double nowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

bool longRun() {
    const char* value = std::getenv("QZ_LONG");
    return value && std::strcmp(value, "1") == 0;
}

HWND control(HWND form, FormId id, const char* name) {
    if (!form) return nullptr;
    const auto controls = formTable(id).controls;
    for (size_t i = 0; i < controls.size(); ++i)
        if (std::strcmp(controls[i].name, name) == 0) return GetDlgItem(form, kFirstControlId + static_cast<int>(i));
    return nullptr;
}

std::wstring textOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        5000, &copied);
    return buffer;
}

bool visible(HWND hwnd) { return hwnd && IsWindowVisible(hwnd); }

bool press(HWND button, int timeoutMs) {
    DWORD_PTR result = 0;
    return button && SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, static_cast<UINT>(timeoutMs), &result);
}

std::vector<std::wstring> listRows(HWND list) {
    std::vector<std::wstring> rows;
    const int count = listRowCount(list);
    for (int i = 0; i < count; ++i) {
        std::wstring row(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()));
        row.resize(wcslen(row.c_str()));
        rows.push_back(row);
    }
    return rows;
}

int listRowCount(HWND list) {
    DWORD_PTR count = 0;
    if (!list || !SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count)) return -1;
    return static_cast<int>(static_cast<LRESULT>(count));
}

void screenshot(const std::string& name) {
    // Without a grabber (the driver started by hand) Wine's own capture has to do.
    const std::wstring request = wineDir(binaryDir() + "/artifacts/e2e-" + name + ".request");
    UniqueFile(CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const bool grabbed =
        waitFor([&] { return GetFileAttributesW(request.c_str()) == INVALID_FILE_ATTRIBUTES; }, 10000);
    if (grabbed) return;
    DeleteFileW(request.c_str());
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    saveArtifact(captureScreen(screen), "e2e-" + name);
}

std::vector<HWND> shellWindows(const std::wstring& folderName) {
    std::vector<HWND> found;
    // Wine's explorer or the Windows shell.
    for (const wchar_t* cls : {L"ExplorerWClass", L"CabinetWClass"})
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, cls, folderName.c_str())) != nullptr;)
            found.push_back(w);
    return found;
}

bool closeOpenedFolder(const std::wstring& folderName) {
    if (!waitFor([&] { return !shellWindows(folderName).empty(); }, kGenerousMs)) return false;
    for (HWND w : shellWindows(folderName)) PostMessageW(w, WM_CLOSE, 0, 0);
    return waitFor([&] { return shellWindows(folderName).empty(); }, kGenerousMs);
}

void closeAllFolderWindows() {
    for (const wchar_t* cls : {L"ExplorerWClass", L"CabinetWClass"})
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, cls, nullptr)) != nullptr;)
            PostMessageW(w, WM_CLOSE, 0, 0);
}

namespace {

struct WindowCount {
    DWORD pid;
    int count;
};

BOOL CALLBACK countChild(HWND hwnd, LPARAM param) {
    auto* c = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == c->pid) ++c->count;
    return TRUE;
}

// EnumChildWindows walks the whole tree below a window, grandchildren included.
BOOL CALLBACK countTopLevel(HWND hwnd, LPARAM param) {
    auto* c = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != c->pid) return TRUE;
    ++c->count;
    EnumChildWindows(hwnd, countChild, param);
    return TRUE;
}

int windowsOf(DWORD pid) {
    WindowCount c{pid, 0};
    EnumWindows(countTopLevel, reinterpret_cast<LPARAM>(&c));
    // Message-only windows (the program's mailbox) are not top-level ones.
    for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr)) != nullptr;)
        countTopLevel(w, reinterpret_cast<LPARAM>(&c));
    return c.count;
}

uint64_t workingSetOf(HANDLE process, uint64_t* peak = nullptr) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    if (peak) *peak = counters.PeakWorkingSetSize;
    return counters.WorkingSetSize;
}

}  // namespace

namespace {

// The handles of a process in the system's handle table; Wine keeps no count
// per process but lists every handle there.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    void* object;
    ULONG access;
};
struct SystemHandles {
    ULONG count;
    SystemHandleEntry handles[1];
};

DWORD handlesInSystemTable(DWORD pid) {
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
        if (buffer.size() >= (256u << 20)) return 0;
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
    }
    if (status < 0) return 0;
    const auto* table = reinterpret_cast<const SystemHandles*>(buffer.data());
    DWORD count = 0;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->handles[i].ownerPid == pid) ++count;
    return count;
}

// Wine keeps a process's GDI objects in a table of 65,536 entries of 24
// bytes in the process's own memory; an entry's type byte is 0 while its slot
// is free. The table is the one region holding, at the slot of the stock
// white brush (made in the same place by every Wine process), that brush.
// Windows keeps its table in another layout: use this only where
// GetGuiResources has no answer.
constexpr size_t kGdiEntries = 0x10000;
constexpr size_t kGdiEntrySize = 24;
constexpr size_t kGdiEntryUnique = 12;  // the handle's upper 16 bits
constexpr size_t kGdiEntryType = 14;
constexpr size_t kGdiTableBytes = kGdiEntries * kGdiEntrySize;

DWORD gdiObjectsInWineTable(HANDLE process) {
    const auto stock = reinterpret_cast<UINT_PTR>(GetStockObject(WHITE_BRUSH));
    const size_t stockSlot = (stock & 0xFFFF) * kGdiEntrySize;
    MEMORY_BASIC_INFORMATION region{};
    for (char* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;) {
        char* const base = static_cast<char*>(region.BaseAddress);
        if (region.State == MEM_COMMIT && region.Protect == PAGE_READWRITE && region.RegionSize >= kGdiTableBytes) {
            unsigned char entry[kGdiEntrySize];
            SIZE_T got = 0;
            USHORT unique = 0;
            if (ReadProcessMemory(process, base + stockSlot, entry, sizeof entry, &got)) {
                std::memcpy(&unique, entry + kGdiEntryUnique, sizeof unique);
                if (unique == static_cast<USHORT>(stock >> 16) && entry[kGdiEntryType] != 0) {
                    std::vector<unsigned char> table(kGdiTableBytes);
                    if (!ReadProcessMemory(process, base, table.data(), table.size(), &got)) return 0;
                    DWORD count = 0;
                    for (size_t i = 0; i < kGdiEntries; ++i)
                        if (table[i * kGdiEntrySize + kGdiEntryType] != 0) ++count;
                    return count;
                }
            }
        }
        at = base + region.RegionSize;
        if (at <= base) break;
    }
    return 0;
}

// The virtual size, which Wine reports from the Unix process where it has no
// private-bytes figure.
struct VmCounters {
    SIZE_T peakVirtualSize;
    SIZE_T virtualSize;
    ULONG pageFaultCount;
    SIZE_T rest[8];
};

uint64_t virtualSizeOf(HANDLE process) {
    VmCounters counters{};
    if (NtQueryInformationProcess(process, ProcessVmCounters, &counters, sizeof counters, nullptr) < 0) return 0;
    return counters.virtualSize;
}

}  // namespace

ProcessFigures processFigures(HANDLE process) {
    ProcessFigures f;
    const DWORD pid = GetProcessId(process);
    if (!GetProcessHandleCount(process, &f.handles) || f.handles == 0) f.handles = handlesInSystemTable(pid);
    f.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
    if (f.gdiObjects == 0) f.gdiObjects = gdiObjectsInWineTable(process);
    f.userObjects = GetGuiResources(process, GR_USEROBJECTS);
    f.windows = windowsOf(pid);
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
        f.workingSet = counters.WorkingSetSize;
        f.peakWorkingSet = counters.PeakWorkingSetSize;
        f.privateBytes = counters.PrivateUsage;
    }
    f.virtualSize = virtualSizeOf(process);
    return f;
}

std::string describe(const ProcessFigures& f) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "handles %lu, GDI objects %lu, USER objects %lu, windows %d, working set %.1f MiB, private bytes "
                  "%.1f MiB, virtual size %.1f MiB",
                  static_cast<unsigned long>(f.handles), static_cast<unsigned long>(f.gdiObjects),
                  static_cast<unsigned long>(f.userObjects), f.windows, static_cast<double>(f.workingSet) / kMiB,
                  static_cast<double>(f.privateBytes) / kMiB, static_cast<double>(f.virtualSize) / kMiB);
    return text;
}

WorkingSetSampler::WorkingSetSampler(HANDLE process) : process_(process) {
    sampledPeak_ = workingSetOf(process_, &peakBefore_);
    thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
}

WorkingSetSampler::~WorkingSetSampler() { stop(); }

DWORD WINAPI WorkingSetSampler::run(void* self) {
    auto* s = static_cast<WorkingSetSampler*>(self);
    while (!InterlockedCompareExchange(&s->stopping_, 0, 0)) {
        s->sampledPeak_ = std::max(s->sampledPeak_, workingSetOf(s->process_));
        Sleep(3);
    }
    return 0;
}

uint64_t WorkingSetSampler::stop() {
    if (thread_) {
        InterlockedExchange(&stopping_, 1);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        sampledPeak_ = std::max(sampledPeak_, workingSetOf(process_));
    }
    uint64_t peakAfter = 0;
    workingSetOf(process_, &peakAfter);
    // A lifetime peak that rose during the stretch is this stretch's own peak.
    return peakAfter > peakBefore_ ? std::max(sampledPeak_, peakAfter) : sampledPeak_;
}

ProgramUnderTest::~ProgramUnderTest() { terminate(); }

namespace {

bool startProgram(PROCESS_INFORMATION& process, const std::wstring& args, const std::wstring& folder) {
    const std::wstring exe = wineDir(binaryDir() + "/bin/quillozip.exe");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!args.empty()) commandLine += L" " + args;
    return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &si, &process) != 0;
}

}  // namespace

bool ProgramUnderTest::start(const std::wstring& args, const std::wstring& folder) {
    if (!startProgram(process_, args, folder)) return false;
    waitFor([this] { return (reminder_ = FindWindowW(nullptr, kReminderCaption)) != nullptr; }, kGenerousMs);
    // Idle means start-up is over: the watchers run and the loop waits.
    WaitForInputIdle(process_.hProcess, kGenerousMs);
    return reminder_ != nullptr;
}

bool ProgramUnderTest::chooseFromTrayMenu(int item, const std::function<void()>& whileMenuShown) const {
    // A left click on the tray icon opens the menu: "打开压缩包…", then "退出".
    PostMessageW(reminder_, kTrayMessage, kTrayIconId, WM_LBUTTONUP);
    HWND menu = nullptr;
    if (!waitFor([&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); }, kGenerousMs))
        return false;
    if (whileMenuShown) whileMenuShown();
    for (int i = 0; i <= item; ++i) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    return true;
}

bool ProgramUnderTest::exitFromTrayMenu(DWORD* exitCode, const std::function<void()>& whileMenuShown) {
    if (!chooseFromTrayMenu(1, whileMenuShown)) return false;
    if (WaitForSingleObject(process_.hProcess, kGenerousMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(process_.hProcess, exitCode);
    return true;
}

bool ProgramUnderTest::endThroughResidentWindow(DWORD* exitCode) {
    HWND resident = FindWindowW(kResidentWindowClass, nullptr);
    if (!resident) return false;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(resident, WM_CLOSE, 0, 0, SMTO_NORMAL, kGenerousMs, &result);
    if (WaitForSingleObject(process_.hProcess, kGenerousMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(process_.hProcess, exitCode);
    return true;
}

bool ProgramUnderTest::runAnotherCopy(DWORD* exitCode, const std::wstring& args, const std::wstring& folder) {
    PROCESS_INFORMATION other{};
    if (!startProgram(other, args, folder)) return false;
    UniqueHandle process(other.hProcess), thread(other.hThread);
    if (WaitForSingleObject(process.get(), kGenerousMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 99);
        return false;
    }
    if (exitCode) GetExitCodeProcess(process.get(), exitCode);
    return true;
}

void ProgramUnderTest::terminate() {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, kGenerousMs);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
    reminder_ = nullptr;
}

void ProgramUnderTest::hideReminder() const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(reminder_, WM_CLOSE, 0, 0, SMTO_NORMAL, kGenerousMs, &result);
    waitFor([this] { return !visible(reminder_); }, kGenerousMs);
}

bool ProgramUnderTest::waitForReminder(const std::wstring& title, int showTimeoutMs, const std::wstring& verdict,
                                       std::wstring* seen) const {
    if (!waitFor([this] { return visible(reminder_); }, showTimeoutMs)) return false;
    std::wstring status;
    const bool ok = waitFor(
        [&] {
            status = textOf(reminderControl(ReminderControl::kStatus.name));
            // "正在检查…" stands until the archive has been opened and judged.
            const bool judged = !status.empty() && status != L"正在检查…";
            return textOf(reminderControl(ReminderControl::kTitle.name)) == title &&
                   (verdict.empty() ? judged : status == verdict);
        },
        kGenerousMs);
    if (seen) *seen = status;
    return ok;
}

bool ProgramUnderTest::safeOpen(int rows, int timeoutMs) const {
    if (!press(reminderControl(ReminderControl::kSafeOpen.name), timeoutMs)) return false;
    return waitFor([&] { return visible(mainWindow()) && listRowCount(mainControl(MainControl::kEntryList.name)) == rows; }, timeoutMs);
}

bool ProgramUnderTest::closeMainWindow() const {
    HWND main = mainWindow();
    if (!main) return true;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(main, WM_CLOSE, 0, 0, SMTO_NORMAL, kGenerousMs, &result);
    return waitFor([main] { return !IsWindow(main); }, kGenerousMs);
}
