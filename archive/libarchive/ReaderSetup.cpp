#include "archive/libarchive/ReaderSetup.h"

#include <archive.h>

void enableReaders(struct archive* a, ArchiveFormat sniffed) {
    switch (sniffed) {
    case ArchiveFormat::sevenZip: archive_read_support_format_7zip(a); break;
    case ArchiveFormat::rar: archive_read_support_format_rar(a); break;
    case ArchiveFormat::rar5: archive_read_support_format_rar5(a); break;
    case ArchiveFormat::tar: archive_read_support_format_tar(a); break;
    default:
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_bzip2(a);
        archive_read_support_filter_xz(a);
        archive_read_support_filter_zstd(a);
        archive_read_support_format_tar(a);
        archive_read_support_format_raw(a);
        break;
    }
}
