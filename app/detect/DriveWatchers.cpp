#include "app/detect/DriveWatchers.h"

#include <dbt.h>

#include <algorithm>

struct DriveWatchers::Drive {
    std::string letter;
    DirectoryWatcher watcher;
    HDEVNOTIFY notification = nullptr;
    bool failed = false;    // the root could not be opened
    bool released = false;  // let go of for a removal that may still be cancelled
};

void DriveWatchers::unregister(Drive& drive) {
    if (drive.notification) UnregisterDeviceNotification(std::exchange(drive.notification, nullptr));
}

void DriveWatchers::startDrive(Drive& drive, HWND notifyWindow) {
    unregister(drive);
    drive.watcher.stop();
    drive.released = false;
    drive.failed = !drive.watcher.start(std::wstring(drive.letter.begin(), drive.letter.end()) + L":\\", callback_);
    if (drive.failed || !notifyWindow) return;
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = drive.watcher.directory();
    drive.notification = RegisterDeviceNotificationW(notifyWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void DriveWatchers::update(const std::vector<std::string>& letters, bool retryFailed, HWND notifyWindow) {
    // Letters that are gone: their watchers have ended or end now.
    std::erase_if(drives_, [&](const std::unique_ptr<Drive>& drive) {
        if (std::find(letters.begin(), letters.end(), drive->letter) != letters.end()) return false;
        unregister(*drive);
        drive->watcher.stop();
        return true;
    });
    for (const std::string& letter : letters) {
        auto it = std::find_if(drives_.begin(), drives_.end(), [&](const auto& d) { return d->letter == letter; });
        if (it == drives_.end()) {
            drives_.push_back(std::make_unique<Drive>());
            drives_.back()->letter = letter;
            startDrive(*drives_.back(), notifyWindow);
            continue;
        }
        Drive& drive = **it;
        const bool restart = drive.failed ? retryFailed : drive.released ? retryFailed : drive.watcher.hasEnded();
        if (restart) startDrive(drive, notifyWindow);
    }
}

void DriveWatchers::release(HDEVNOTIFY notification) {
    for (auto& drive : drives_) {
        if (!notification || drive->notification != notification) continue;
        unregister(*drive);
        drive->watcher.stop();
        drive->released = true;
    }
}

bool DriveWatchers::anyEnded() const {
    return std::any_of(drives_.begin(), drives_.end(), [](const auto& d) {
        return !d->failed && !d->released && d->watcher.hasEnded();
    });
}

DriveWatchers::DriveWatchers(WatchCallback callback) : callback_(callback) {}

DriveWatchers::~DriveWatchers() { stopAll(); }

void DriveWatchers::stopAll() {
    for (auto& drive : drives_) {
        unregister(*drive);
        drive->watcher.stop();
    }
}

int DriveWatchers::watchingCount() const {
    return static_cast<int>(std::count_if(drives_.begin(), drives_.end(), [](const auto& d) {
        return d->watcher.isRunning() && !d->watcher.hasEnded();
    }));
}
