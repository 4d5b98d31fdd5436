// Archives the user opens from outside the reminder and the one queue that
// shows them and the finished downloads one at a time: the command line of
// this start, or of a later start handed over through the resident window
// (Explorer's verbs start the program so), files dropped on the windows and
// the tray menu's "打开压缩包…". A finished download is reminded first; what
// the user opened goes to the main window directly. GUI thread only, except
// where said.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// In a start that found a copy running: hands the arguments and this
// process's current folder to that copy. False when no copy could be
// reached (it may have been ending).
bool handOverToRunningCopy(std::span<const std::wstring> args);

// This start's own arguments, once the reminder is loaded.
void openArguments(std::span<const std::wstring> args);
// A record another start sent (WM_COPYDATA): checked, then queued; false,
// and nothing done, for a record that is wrong in any way.
bool onOpenRecord(std::span<const uint8_t> bytes);
// Files dropped on the reminder or the main window.
void onFilesDropped();
// "打开压缩包…": the open dialog, then the chosen archives.
void onOpenArchiveChosen();

// A finished download: reminded now when nothing is shown, else when its
// turn comes.
void queueDownload(const std::wstring& path);
// The reminder's close box: the next waiting archive is shown at once.
void onReminderDismissed();
// "安全打开": the reminded download goes to the main window.
void onReminderOpened();
// The main window has gone: the next waiting archive is shown.
void onListingClosed();
// An extraction the command line asked for has ended: the next archive
// that asks for one is taken at once.
void onRunEnded();
