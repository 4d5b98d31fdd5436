// The main window: the listed archive's title, count line and entry names,
// the three destination buttons and "立即解压".
//
// The window always acts on the archive it lists: it holds its own reference
// to the archive object it listed. A newer finished download puts a new
// object into zipArchive; the listed one stays open for the window until the
// window goes or is rebuilt ("安全打开" again).
#pragma once

#include <string>

void onMainCreated();
void onMainDestroyed();

// "当前文件夹": a new folder named after the archive next to it, created at
// once when nothing of that name exists; else the archive's own folder.
// Worked out once per listed archive.
void useArchiveFolderDestination();

// "立即解压": extracts every listed entry into the destination, then opens
// the destination in a shell window. Before any destination was chosen, and
// while the last choice was "当前文件夹" (made for this archive or an earlier
// one), the "当前文件夹" rule for the listed archive decides.
void extractArchive();

// True when the main window lists what zipArchive holds now.
bool mainWindowIsCurrent();

// The destination the "当前文件夹" rule gives for an archive path, creating
// the folder when nothing of that name exists.
std::string archiveFolderDestination(const std::string& archivePath);
