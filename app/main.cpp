// quillozip.exe: the resident tray tool.
#include "app/Startup.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// The arguments after the program's name, split as the shell quotes them.
std::vector<std::wstring> commandLineArguments() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return {};
    std::vector<std::wstring> args(argv + (count > 0 ? 1 : 0), argv + count);
    LocalFree(argv);
    return args;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        return runProgram(commandLineArguments());
    } catch (...) {
        // Nothing is thrown by design; if the runtime does, end as a fatal error would.
        return -1;
    }
}
