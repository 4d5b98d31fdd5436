// Watches one directory tree (a drive root such as "C:\") on a worker thread
// and reports every change record to a callback as an action code and a full
// wide path, the record's UTF-16 name unchanged behind the root.
//
// Reports run on the worker thread, one at a time per watcher, inside the
// watcher's lock. A callback must not wait on the GUI thread (post to it
// instead): stop() waits for a report in progress to end.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/CriticalSectionLock.h"
#include "app/FolderServices.h"
#include "base/UniqueAny.h"

// action: the record's action (1 added, 2 removed, 3 modified, 4 old name of
// a rename, 5 new name; 0 when changes were lost because the system's queue
// overflowed). path: the full path, NUL-terminated, valid only during the
// call. length: its count of UTF-16 units without the terminator.
using WatchCallback = void (*)(int action, const wchar_t* path, int length);

// FILE_NAME | DIR_NAME | SIZE | LAST_WRITE | CREATION. Last-access,
// attribute and security changes are left out: reading an old archive,
// scanning it or changing its permissions is no download.
constexpr DWORD kDefaultNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                       FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                       FILE_NOTIFY_CHANGE_CREATION;

class DirectoryWatcher {
public:
    // Bytes of the one record buffer each watcher reads into.
    static constexpr DWORD kBufferSize = 64 * 1024;

    DirectoryWatcher() = default;
    ~DirectoryWatcher() { stop(); }
    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    // Opens path and starts the worker; returns once the worker's first read
    // is issued, so every later change is seen. Reported paths are the first three
    // characters of path ("C:\") followed by the record's relative name. False
    // when the directory cannot be opened or the worker cannot start, or when
    // this watcher is already running.
    bool start(const std::wstring& path, WatchCallback callback = nullptr, DWORD notifyFilter = kDefaultNotifyFilter);

    // Ends the watch: cancels the pending read, waits for a report in progress
    // and for the worker to end, and closes the handles. On return no further
    // report can start. Harmless when not running, and when called twice.
    void stop();

    // True from a successful start until stop.
    bool isRunning() const { return threadHandle_.get() != nullptr; }
    // True when the worker ended by itself: the directory went away or can
    // no longer be read (a drive removed, a network drive disconnected).
    bool hasEnded() const {
        return threadHandle_ && ::WaitForSingleObject(threadHandle_.get(), 0) == WAIT_OBJECT_0;
    }
    // The watched directory's handle while running (for device notifications).
    HANDLE directory() const { return directoryHandle_.get(); }

    // A copy of the path last reported; empty before the first report.
    std::wstring getCurrentPath();
    // The whole contents of the file at getCurrentPath().
    ByteArray readCurrentFile();

    // Held for the whole of each report; taking it waits out a report in progress.
    CriticalSectionLock& reportLock() { return lock_; }

private:
    static DWORD WINAPI threadEntry(void* self);
    void watchLoop(HANDLE directory);
    // Copies one record's name and hands it to the callback under the lock.
    void report(int action, const unsigned char* name, size_t nameBytes);

    UniqueFile directoryHandle_;
    UniqueHandle threadHandle_;
    UniqueHandle stopEvent_;
    std::wstring rootPrefix_;
    std::atomic<WatchCallback> callback_{nullptr};
    std::wstring currentPath_;  // guarded by lock_
    std::atomic<bool> stopping_{false};
    DWORD notifyFilter_ = kDefaultNotifyFilter;
    DWORD workerId_ = 0;
    HANDLE firstReadIssued_ = nullptr;  // start's event, until the worker's first read
    CriticalSectionLock lock_;
    // DWORD-aligned, as ReadDirectoryChangesW requires; made by the first start.
    std::unique_ptr<DWORD[]> buffer_;
};
