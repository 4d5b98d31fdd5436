#include "ui/FatalError.h"

#include <windows.h>

namespace {

void showBox(std::wstring_view text) {
    std::wstring copy(text);
    ::MessageBoxW(nullptr, copy.c_str(), L"QuilloZIP快速解压", MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

void exitProcess(int code) { ::ExitProcess(static_cast<UINT>(code)); }

FatalHooks g_hooks{showBox, exitProcess};

}  // namespace

std::wstring fatalErrorText(std::wstring_view message, std::optional<int> code) {
    std::wstring text = L"运行时出错!\r\n\r\n";
    if (code) text += L"错误代码：" + std::to_wstring(*code) + L"\r\n";
    text += L"错误信息：";
    text += message;
    return text;
}

void fatalError(std::wstring_view message, std::optional<int> code) {
    g_hooks.show(fatalErrorText(message, code));
    g_hooks.exit(-1);
}

FatalHooks setFatalHooks(FatalHooks hooks) {
    FatalHooks old = g_hooks;
    g_hooks.show = hooks.show ? hooks.show : showBox;
    g_hooks.exit = hooks.exit ? hooks.exit : exitProcess;
    return old;
}
