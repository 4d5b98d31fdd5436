#include "base/GuiMailbox.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <new>

namespace {

constexpr UINT kRunTask = WM_APP + 1;
constexpr wchar_t kClassName[] = L"QuilloZIPMailbox";

using Task = std::function<void()>;

std::atomic<HWND> mailbox{nullptr};

LRESULT CALLBACK mailboxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunTask) {
        std::unique_ptr<Task> task(reinterpret_cast<Task*>(lParam));
        try {
            if (task && *task) (*task)();
        } catch (...) {
            // A task's failure must not cross the window procedure.
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

bool openGuiMailbox() {
    if (mailbox.load()) return true;
    WNDCLASSW wc{};
    wc.lpfnWndProc = mailboxProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);  // fails harmlessly when already registered
    HWND hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    mailbox.store(hwnd);
    return hwnd != nullptr;
}

void closeGuiMailbox() {
    HWND hwnd = mailbox.exchange(nullptr);
    if (!hwnd) return;
    // Free the tasks still queued: they own heap memory.
    MSG msg;
    while (PeekMessageW(&msg, hwnd, kRunTask, kRunTask, PM_REMOVE)) delete reinterpret_cast<Task*>(msg.lParam);
    DestroyWindow(hwnd);
}

bool postToGui(std::function<void()> task) {
    HWND hwnd = mailbox.load();
    if (!hwnd) return false;
    auto* owned = new (std::nothrow) Task(std::move(task));
    if (!owned) return false;
    if (!PostMessageW(hwnd, kRunTask, 0, reinterpret_cast<LPARAM>(owned))) {
        delete owned;
        return false;
    }
    return true;
}
