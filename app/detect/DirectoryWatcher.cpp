#include "app/detect/DirectoryWatcher.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include "app/detect/NotifyRecordReader.h"
#include "base/ThreadHelpers.h"

namespace {

// The record's name as it is: UTF-16, unaligned in the buffer, not
// terminated. A NUL inside it ends it, as it would end any path made of it.
std::wstring recordName(const unsigned char* name, size_t nameBytes) {
    const size_t units = nameBytes / sizeof(wchar_t);
    if (units == 0) return {};
    std::wstring text(units, L'\0');
    std::memcpy(text.data(), name, units * sizeof(wchar_t));
    text.resize(::wcsnlen(text.c_str(), units));
    return text;
}

}  // namespace

bool DirectoryWatcher::start(const std::wstring& path, WatchCallback callback, DWORD notifyFilter) {
    if (threadHandle_) return false;
    // FILE_LIST_DIRECTORY is all the change read needs; asking for write
    // access as well would fail on a drive root a standard user may not write
    // to, and that drive would go unwatched.
    UniqueFile directory(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!directory) return false;
    if (!stopEvent_) stopEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!buffer_) buffer_.reset(new (std::nothrow) DWORD[kBufferSize / sizeof(DWORD)]);
    if (!stopEvent_ || !buffer_) return false;
    ::ResetEvent(stopEvent_.get());

    rootPrefix_ = path.substr(0, 3);
    notifyFilter_ = notifyFilter;
    callback_ = callback;
    stopping_ = false;
    directoryHandle_ = std::move(directory);
    // The system collects changes only from the first read on; waiting for
    // it means that every change made after start returns is reported.
    UniqueHandle firstRead(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    firstReadIssued_ = firstRead.get();
    // The worker starts suspended: a callback that calls stop() must find
    // the thread's handle and id already stored.
    if (firstRead) threadHandle_ = startThread(&DirectoryWatcher::threadEntry, this, CREATE_SUSPENDED);
    if (!threadHandle_) {
        directoryHandle_.reset();
        callback_ = nullptr;
        return false;
    }
    workerId_ = ::GetThreadId(threadHandle_.get());
    ::ResumeThread(threadHandle_.get());
    const HANDLE waits[] = {firstRead.get(), threadHandle_.get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        stop();  // the worker ended before it could read
        return false;
    }
    return true;
}

void DirectoryWatcher::stop() {
    stopping_ = true;
    if (stopEvent_) ::SetEvent(stopEvent_.get());
    if (!threadHandle_) return;
    // A callback that stops its own watcher cannot wait for itself; the
    // worker ends after the report, and the next stop (at the latest the
    // destructor) joins it.
    if (::GetCurrentThreadId() == workerId_) return;
    ::WaitForSingleObject(threadHandle_.get(), INFINITE);
    threadHandle_.reset();
    workerId_ = 0;
    directoryHandle_.reset();
    callback_ = nullptr;
}

std::wstring DirectoryWatcher::getCurrentPath() {
    auto guard = lock_.lock();
    return currentPath_;
}

ByteArray DirectoryWatcher::readCurrentFile() { return readWholeFile(getCurrentPath()); }

DWORD WINAPI DirectoryWatcher::threadEntry(void* self) {
    auto* watcher = static_cast<DirectoryWatcher*>(self);
    try {
        watcher->watchLoop(watcher->directoryHandle_.get());
    } catch (...) {
        // Out of memory while reporting; no exception leaves the thread.
    }
    return 0;
}

void DirectoryWatcher::watchLoop(HANDLE directory) {
    UniqueHandle readDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!readDone) return;
    const HANDLE waits[] = {stopEvent_.get(), readDone.get()};
    // Owned by start, which waits for it; signalled once, then forgotten.
    HANDLE firstRead = std::exchange(firstReadIssued_, nullptr);

    while (!stopping_) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = readDone.get();
        ::ResetEvent(readDone.get());
        DWORD bytes = 0, error = ERROR_SUCCESS;
        bool issued = ::ReadDirectoryChangesW(directory, buffer_.get(), kBufferSize, TRUE, notifyFilter_, nullptr,
                                              &overlapped, nullptr);
        if (!issued) error = ::GetLastError();
        if (firstRead) ::SetEvent(std::exchange(firstRead, nullptr));
        if (issued) {
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                // Stop: the read must be over before its buffer and
                // OVERLAPPED go away.
                ::CancelIoEx(directory, &overlapped);
                ::GetOverlappedResult(directory, &overlapped, &bytes, TRUE);
                return;
            }
            if (!::GetOverlappedResult(directory, &overlapped, &bytes, FALSE)) error = ::GetLastError();
        }

        // The system's queue overflowed: Windows completes the read with no
        // records, Wine fails it with ERROR_NOTIFY_ENUM_DIR. Either way the
        // changes are lost; say so once and read on.
        if (error == ERROR_NOTIFY_ENUM_DIR || (error == ERROR_SUCCESS && bytes == 0)) {
            report(0, nullptr, 0);
            continue;
        }
        // Anything else means the directory is gone or unreadable.
        if (error != ERROR_SUCCESS) return;

        NotifyRecordReader reader(buffer_.get(), bytes);
        NotifyRecord record;
        while (!stopping_ && reader.next(record)) report(static_cast<int>(record.action), record.name, record.nameBytes);
    }
}

void DirectoryWatcher::report(int action, const unsigned char* name, size_t nameBytes) {
    auto guard = lock_.lock();
    if (stopping_) return;
    std::wstring relative = recordName(name, nameBytes);
    if (!relative.empty()) currentPath_ = rootPrefix_ + relative;
    if (WatchCallback callback = callback_) callback(action, currentPath_.c_str(), static_cast<int>(currentPath_.size()));
}
