// One DirectoryWatcher per drive letter, kept in step with the drives the
// system lists: drives that appear while the program runs are watched, a
// watcher whose drive went away is dropped, and a removable drive is let go
// of when the system asks whether it may be removed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/detect/DirectoryWatcher.h"

class DriveWatchers {
public:
    explicit DriveWatchers(WatchCallback callback);
    ~DriveWatchers();
    DriveWatchers(const DriveWatchers&) = delete;
    DriveWatchers& operator=(const DriveWatchers&) = delete;

    // Watches the root of every listed letter ("C", "D", ...): new letters get
    // a watcher; a watcher that ended by itself is started again; letters no
    // longer listed lose theirs. A drive whose root could not be opened (an
    // empty card reader) is tried again only when retryFailed is true, so
    // that an unreachable network drive is not waited on every poll.
    // notifyWindow, when given, receives the device notifications of each
    // watched directory (see release).
    void update(const std::vector<std::string>& letters, bool retryFailed, HWND notifyWindow);

    // The drive behind this device notification is about to be removed:
    // stop its watcher and let go of its directory. It is watched again
    // when the removal is cancelled (the next update).
    void release(HDEVNOTIFY notification);

    // True when a watcher that was watching ended by itself.
    bool anyEnded() const;

    void stopAll();

    // How many drives are being watched now.
    int watchingCount() const;

private:
    struct Drive;
    void startDrive(Drive& drive, HWND notifyWindow);
    static void unregister(Drive& drive);

    WatchCallback callback_;
    std::vector<std::unique_ptr<Drive>> drives_;
};
