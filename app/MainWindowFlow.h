// The main window: the listed archive's title, count line and entry names
// (as the archive's makers wrote them, whatever the ANSI code page holds),
// the three destination buttons and "立即解压".
//
// The window always acts on the archive it lists: it holds its own reference
// to the archive object it listed. A newer finished download puts a new
// object into zipArchive; the listed one stays open for the window until the
// window goes or is rebuilt ("安全打开" again).
#pragma once

#include <string>
#include <vector>

void onMainCreated();
void onMainDestroyed();

// "当前文件夹": the folder the listed archive's entries decide (see
// chooseArchiveFolder), made at once when it is a new one. Worked out once per
// listed archive. Does nothing while a run is going.
void useArchiveFolderDestination();

// "立即解压": starts extracting every listed entry into the destination on a
// worker thread; the count line shows the progress, then the result, and the
// failed rows their reasons; the destination opens in the shell when anything
// was extracted. Before any destination was chosen, and while the last choice
// was "当前文件夹" (made for this archive or an earlier one), the "当前文件夹"
// rule for the listed archive decides. During a run the button reads
// "取消解压" and cancels it.
void extractArchive();

// Cancels the run, if any, and waits until it has ended and removed the
// file it was writing. Every way out of the program goes through here
// before the windows and the archive go.
void stopExtraction();

// True from "立即解压" until the run's result is shown; the destination
// buttons do nothing meanwhile.
bool extractionRunning();

// True when the main window lists what zipArchive holds now.
bool mainWindowIsCurrent();

// The destination the "当前文件夹" rule gives for an archive path and its
// entry names, creating the folder when it is a new one.
std::wstring archiveFolderDestination(const std::wstring& archivePath, const std::vector<std::wstring>& entryNames);
