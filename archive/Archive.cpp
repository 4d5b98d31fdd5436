#include "archive/Archive.h"

#include <windows.h>

#include "archive/ZipArchive.h"
#include "archive/libarchive/LibArchiveReader.h"
#include "base/UniqueAny.h"
#include "zip/EntryName.h"

std::unique_ptr<Archive> openArchive(const std::wstring& path, const char* password) {
    uint8_t head[kSniffBytes] = {};
    DWORD got = 0;
    {
        UniqueFile f(::CreateFileW(systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        if (!f || !::ReadFile(f.get(), head, sizeof head, &got, nullptr)) return nullptr;
    }
    const ArchiveFormat format = sniffFormat(head, got);
    // Anything without another format's signature may still be a ZIP
    // archive (behind a program, or after other data): our reader decides.
    if (format == ArchiveFormat::zip || format == ArchiveFormat::unknown) return ZipArchive::open(path, password);
    return LibArchiveReader::open(path, format);
}

void Archive::extractEntries(const std::vector<EntryRequest>& entries, unsigned, const BatchEvents& events) {
    uint64_t told = 0, size = 0;
    bool stopped = false;
    setPieceHook([&](uint64_t bytes) {
        stopped = !events.piece(untoldBytes(told, size, bytes)) || stopped;
        return !stopped;
    });
    for (size_t k = 0; k < entries.size() && !stopped && events.piece(0); k++) {
        const EntryRequest& e = entries[k];
        told = 0;
        size = e.storedSize;
        const int32_t code = extractEntry(e.index, e.fileName);
        events.piece(untoldBytes(told, size, size));
        events.report(k, code, [&] { return extractEntry(e.index, e.fileName); });
    }
    setPieceHook(nullptr);
}

unsigned defaultExtractionThreads() {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    const unsigned processors = info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
    return processors < kMaxExtractionThreads / 2 ? 2 * processors : kMaxExtractionThreads;
}
