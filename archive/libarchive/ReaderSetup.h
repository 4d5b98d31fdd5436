// What libarchive is asked to read for a format our sniffing announced:
// that format alone, or for a compressed stream the four decoders with tar
// and, failing tar, the stream as one raw file. Platform-free, so the
// fuzz target reads exactly as the adapter does.
#pragma once

#include "archive/ArchiveFormat.h"

struct archive;

// Enables the format's reader (and filters) on a new archive_read object.
void enableReaders(struct archive* a, ArchiveFormat sniffed);

// Whether names that have no Unicode form in this format come as bytes
// (tar and RAR 4); 7z and RAR 5 store Unicode names.
inline bool hasByteNames(ArchiveFormat sniffed) {
    return sniffed != ArchiveFormat::sevenZip && sniffed != ArchiveFormat::rar5;
}
