// quillozip.exe: the resident tray tool.
#include "app/Startup.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        return runProgram();
    } catch (...) {
        // Nothing is thrown by design; if the runtime does, end as a fatal error would.
        return -1;
    }
}
