// Arbitrary bytes read as the libarchive adapter reads them: the format our
// sniffing announces, the same readers enabled, every header walked and every
// entry's data read (bounded), and each name cleaned as extraction cleans it.
#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/ArchiveFormat.h"
#include "archive/VolumeSet.h"
#include "archive/libarchive/ReaderSetup.h"
#include "zip/EntryName.h"
#include "zip/NameEncoding.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// Stored bytes as the adapter would decode them: UTF-8 when valid, else one unit a byte.
std::wstring decode(const char* bytes) {
    if (!bytes) return {};
    std::string_view text(bytes);
    if (std::optional<std::wstring> w = decodeUtf8(text)) return *w;
    std::wstring out;
    for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ArchiveFormat format = sniffFormat(data, size < kSniffBytes ? size : kSniffBytes);
    check(formatName(format) != nullptr);
    rarHeadersEncrypted(data, size);
    if (format == ArchiveFormat::unknown || format == ArchiveFormat::zip) return 0;
    struct archive* a = archive_read_new();
    enableReaders(a, format);
    if (archive_read_open_memory(a, data, size) == ARCHIVE_OK) {
        struct archive_entry* e = nullptr;
        uint64_t budget = 64 << 20;  // output read in all, so a bomb ends the run
        for (int entries = 0; entries < 1000 && archive_read_next_header(a, &e) >= ARCHIVE_WARN; entries++) {
            const std::wstring name = decode(archive_entry_pathname(e));
            const std::wstring cleaned = cleanEntryName(name);
            check(!isAbsoluteName(cleaned));
            std::wstring prepared;
            if (prepareRelativeName(cleaned, &prepared) == NameVerdict::safe) check(prepared.find(L"..\\") != 0);
            nextVolumeName(name);
            const void* block = nullptr;
            size_t got = 0;
            la_int64_t offset = 0;
            while (budget > 0 && archive_read_data_block(a, &block, &got, &offset) == ARCHIVE_OK)
                budget -= got < budget ? got : budget;
        }
    }
    archive_read_free(a);
    return 0;
}
