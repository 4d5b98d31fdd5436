// Starting worker threads and GDI+.
#pragma once

#include <windows.h>

#include "base/UniqueAny.h"

// Starts a thread that runs entry(parameter), with the default stack: at
// once, or, with CREATE_SUSPENDED in flags, once ResumeThread lets it. The
// handle is empty when the thread could not be made. Objects hand
// themselves as the parameter to a static entry routine that calls their
// member (see DirectoryWatcher), so no code is ever generated at run time.
UniqueHandle startThread(LPTHREAD_START_ROUTINE entry, void* parameter, DWORD flags = 0);

// Starts GDI+ for the process the first time it is called and keeps it up
// until the process ends; later calls return at once. True when GDI+ is up.
// A failed start is tried again on the next call.
bool startGdiPlus();
