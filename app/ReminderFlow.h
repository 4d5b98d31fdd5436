// The reminder: shown for every finished download with its title and, as
// soon as the archive has been opened and judged, the verdict. Opening an
// archive means walking its whole central directory, which for a large one
// takes seconds, so it runs on a thread of its own: the reminder appears at
// once with "正在检查…" and the verdict replaces it when ready, while the
// tray and the windows keep answering. A newer download's check supersedes
// an older one (whose result is dropped); "安全打开" and the program's end
// wait for the check under way, which owns its archive until then.
#pragma once

#include <string>

// A finished download (the detection's handler): lastArchivePath, the
// reminder shown and placed with its title and marker, and the check started.
void onFinishedDownload(const std::wstring& path);

// An archive the user opened: checked as a download is, then listed in the
// main window (rebuilt on it) as "安全打开" does, without the reminder.
void openInMainWindow(const std::wstring& path);

// Shows the "..." marker after the reminder's title when the title is wider
// than 16 (see titleWidth).
void updateTitleMarker(const std::wstring& title);

// Parks the reminder beside the taskbar: bottom-right in the work area of the
// primary monitor.
void placeReminder();

// "安全打开": hides the reminder and opens the main window on the archive,
// once its check is over.
void onSafeOpen();

// The reminder's close box: hides it; watching goes on.
void onReminderCloseBox();

// Waits for every check still running (the program's end).
void stopArchiveChecks();
