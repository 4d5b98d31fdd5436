// Passing a downloaded archive's zone mark (its Zone.Identifier stream) on to
// the files taken out of it, so that extracting a download does not wash off
// the warning Windows gives before it runs or opens them. Volumes without
// named streams (FAT, exFAT, some network shares) cannot hold the mark;
// nothing is written there.
#pragma once

#include <string>

#include "zip/Unzip.h"

// Writes mark as file's Zone.Identifier stream; true when written. The hook
// below asks the volume first, so that a volume without streams is skipped
// without trying.
bool writeZoneMark(const std::wstring& file, const std::string& mark);

// The hook for Unzip::setCompletedFileHook that marks every file the archive
// at archivePath writes, before the file is moved into place. The archive's
// own stream is read at the first file; an archive without a mark to pass on
// costs nothing more. Each folder's volume is asked before anything is
// written: where it has no named streams, "name:Zone.Identifier" could be
// taken for a file name of its own (as Wine does), and nothing is written.
// Where the volume holds streams and the mark cannot be written, the hook
// refuses the file: the entry fails with kZipMarkFailed and leaves nothing.
// Several threads may call the hook at once (a batch's).
Unzip::CompletedFileHook zoneMarkHook(std::wstring archivePath);
