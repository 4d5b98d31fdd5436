// Start-up, the drive watchers, the tray icon and menu, and program end.
#pragma once

#include <span>
#include <string>
#include <vector>

// The program's entry, with the arguments after the program's name: when
// another copy runs in this user session, hands them to it and ends at once
// (code 0, or 1 when that copy could not be reached); else opens the
// resident window (ending from outside, drives that come and go, later
// starts' arguments), loads the hidden reminder (whose creation starts one
// watcher per drive and puts up the tray icon), parks it in the
// bottom-right corner, opens the archives the arguments name and runs the
// message loop. Returns the process exit code.
int runProgram(std::span<const std::wstring> args);

// Fills letters with the logical drives' letters ("C", "D", …); returns
// their number, 0 (letters unchanged) when the system names none.
int listDriveLetters(std::vector<std::string>& letters);

void onReminderCreated();
void startWatchers();
void onReminderTray(int operation);
void onExitChosen();
void onReminderDestroyed();

// The exit routine: the drive list, the watchers (stopped again), then the
// program state.
void releaseProgramState();
