// Start-up, the drive watchers, the tray icon and menu, and program end.
#pragma once

#include <string>
#include <vector>

// The program's entry: ends at once with code 0 when another copy runs in
// this user session; else opens the resident window (ending from outside,
// drives that come and go), loads the hidden reminder (whose creation starts
// one watcher per drive and puts up the tray icon), parks it in the
// bottom-right corner and runs the message loop. Returns the process exit code.
int runProgram();

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
