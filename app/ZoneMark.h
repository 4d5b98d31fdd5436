// The mark Windows gives files that came from the Internet (the
// Zone.Identifier stream), which makes it ask before it runs them. A program
// taken out of a downloaded archive gets the archive's own mark, or the
// Internet zone's when the archive has none, so that extracting a download
// does not wash off its warning. Volumes without named streams (FAT, many
// network shares) cannot hold the mark; nothing is written there.
#pragma once

#include <string>

#include "zip/ArchiveVerdict.h"

// Programs, and whatever pretends to be something else, carry the mark.
inline bool needsZoneMark(const EntryVerdict& verdict) {
    return verdict.has(kEntryRunnable) || verdict.has(kEntryDeceptive);
}

// Marks file as downloaded like archive; true when the mark was written.
bool markAsDownloaded(const std::wstring& file, const std::wstring& archive);
