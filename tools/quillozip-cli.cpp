// quillozip-cli: lists or extracts an archive through the same archive
// library, and in the same order of calls, as the main window does.
//   quillozip-cli list ARCHIVE
//     one line per entry, the entry's verdict last (hostile, deceptive,
//     encrypted, runnable or ok), then "verdict" and the archive's
//     (hostile, deceptive, encrypted or safe)
//   quillozip-cli extract [--password PW] [--progress] ARCHIVE DEST
//     --progress reports the stored bytes done on stderr at most ten times a
//     second, through the same piece hook as the main window's progress, so
//     that its cost can be measured (scripts/bench.sh)
// Arguments and printed names are in the ANSI code page. Each extracted
// entry prints its index, result code, the reason for a failure as the main
// window shows it (empty on success) and its name, tab-separated.
#include <windows.h>
#include <oleauto.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/ExtractionPlan.h"
#include "base/TextCodec.h"
#include "zip/Unzip.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: quillozip-cli list ARCHIVE\n"
                 "       quillozip-cli extract [--password PW] [--progress] ARCHIVE DEST\n");
    return 2;
}

int cannotOpen(const char* archive) {
    std::fprintf(stderr, "quillozip-cli: cannot open \"%s\" as a ZIP archive\n", archive);
    return 2;
}

void printTime(double oleDate) {
    SYSTEMTIME st{};
    if (!::VariantTimeToSystemTime(oleDate, &st)) {
        std::printf("0000-00-00 00:00:00");
        return;
    }
    std::printf("%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

// The gravest of an entry's flags.
const char* verdictWord(const EntryVerdict& v) {
    if (v.has(kEntryHostile)) return "hostile";
    if (v.has(kEntryDeceptive)) return "deceptive";
    if (v.has(kEntryEncrypted)) return "encrypted";
    return v.has(kEntryRunnable) ? "runnable" : "ok";
}

const char* verdictWord(const ArchiveVerdict& v) {
    if (v.hostile()) return "hostile";
    if (v.deceptive()) return "deceptive";
    return v.encrypted() ? "encrypted" : "safe";
}

int list(const char* archive) {
    Unzip zip;
    if (!zip.open(archive)) return cannotOpen(archive);
    int32_t count = zip.entryCount();
    for (int32_t i = 0; i < count; i++) {
        EntryInfo e = zip.entryInfo(i);
        if (e.index < 0) {
            std::printf("%d\tunreadable\t%s\n", i, verdictWord(zip.entryVerdict(i)));
            continue;
        }
        std::printf("%d\t0x%02X\t%" PRIu64 "\t%" PRIu64 "\t", e.index, static_cast<unsigned>(e.attributes),
                    e.fullUncompressedSize, e.fullCompressedSize);
        printTime(e.modificationTime);
        std::printf("\t%s\t%s\n", e.name.c_str(), verdictWord(zip.entryVerdict(i)));
    }
    std::printf("verdict\t%s\n", verdictWord(zip.verdict()));
    return 0;
}

bool isSystemLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

uint64_t freeBytesAt(const char* folder) {
    ULARGE_INTEGER available{};
    return ::GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr) ? available.QuadPart : UINT64_MAX;
}

// The main window's progress: every piece counted, a report at most every 100 ms.
void reportProgress(Unzip& zip) {
    uint64_t total = 0;
    for (int32_t i = 0; i < zip.entryCount(); i++) total += zip.entryInfo(i).fullCompressedSize;
    zip.setPieceHook([total, done = uint64_t{0}, last = ULONGLONG{0}](uint64_t bytes) mutable {
        done += bytes;
        const ULONGLONG now = ::GetTickCount64();
        if (now - last >= 100) {
            last = now;
            std::fprintf(stderr, "progress\t%" PRIu64 "\t%" PRIu64 "\n", done, total);
        }
        return true;
    });
}

int extract(const char* archive, const char* destination, const char* password, bool progress) {
    Unzip zip;
    if (!zip.open(archive, password)) return cannotOpen(archive);
    if (progress) reportProgress(zip);
    if (zip.setBaseFolder(destination) != kZipOk) {
        std::fprintf(stderr, "quillozip-cli: destination folder \"%s\" is too long\n", destination);
        return 2;
    }
    int32_t count = zip.entryCount();
    int extracted = 0, failed = 0;
    for (int32_t i = 0; i < count; i++) {
        EntryInfo e = zip.entryInfo(i);
        // A name the library refuses below the destination is reported as
        // unsafe, as the main window does.
        const bool unsafe = unsafeEntryName(e.name, isSystemLeadByte);
        int32_t rc = zip.extractEntry(i, e.name);
        EntryFigures figures{static_cast<uint32_t>(e.compressedSize), static_cast<uint32_t>(e.uncompressedSize)};
        if (rc == kZipWriteFailed) figures.freeBytes = freeBytesAt(destination);
        const std::string reason = wideToAnsi(utf8ToWide(outcomeReason(classifyResult(rc, unsafe, figures))));
        std::printf("%d\t0x%X\t%s\t%s\n", i, static_cast<unsigned>(rc), reason.c_str(), e.name.c_str());
        (rc == kZipOk ? extracted : failed)++;
    }
    std::printf("%d extracted, %d failed\n", extracted, failed);
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Fully buffered: Wine treats some redirections (/dev/null) as a
    // character device, which the C runtime would otherwise write unbuffered,
    // one slow call a line.
    std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    if (argc < 3) return usage();
    if (std::strcmp(argv[1], "list") == 0 && argc == 3) return list(argv[2]);
    if (std::strcmp(argv[1], "extract") == 0) {
        const char* password = nullptr;
        bool progress = false;
        int at = 2;
        if (argc > at + 1 && std::strcmp(argv[at], "--password") == 0) {
            password = argv[at + 1];
            at += 2;
        }
        if (argc > at && std::strcmp(argv[at], "--progress") == 0) {
            progress = true;
            at++;
        }
        if (argc == at + 2) return extract(argv[at], argv[at + 1], password, progress);
    }
    return usage();
}
