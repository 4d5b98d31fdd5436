// quillozip-cli: lists or extracts an archive through the same archive
// library, and in the same order of calls, as the main window does.
//   quillozip-cli [--utf8] list ARCHIVE
//     one line per entry, the entry's verdict last (hostile, deceptive,
//     encrypted, runnable or ok), then "format" and the archive's format
//     (zip, 7z, rar, rar5, tar, gzip, bzip2, xz, zstd), then "verdict" and
//     the archive's (hostile, deceptive, encrypted or safe)
//   quillozip-cli [--utf8] extract [--password PW] [--progress] ARCHIVE DEST
//     --progress reports the stored bytes done on stderr at most ten times a
//     second, through the same piece hook as the main window's progress, so
//     that its cost can be measured (scripts/bench.sh)
// Arguments are taken as Unicode, so paths outside the code page work.
// Printed names and reasons are in the ANSI code page (characters it lacks
// as "_"), or in UTF-8 with --utf8 (before or after the command word). Each
// extracted entry prints its index, result code, the reason for a failure as
// the main window shows it (empty on success) and its name, tab-separated.
#include <windows.h>
#include <oleauto.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/extract/ExtractionPlan.h"
#include "archive/Archive.h"
#include "base/FileSystem.h"
#include "base/TextCodec.h"

namespace {

// How names and reasons are printed: UTF-8 or the ANSI code page.
bool printUtf8 = false;

std::string printable(std::wstring_view text) { return printUtf8 ? wideToUtf8(text) : wideToAnsiName(text); }

int usage() {
    std::fprintf(stderr,
                 "usage: quillozip-cli [--utf8] list ARCHIVE\n"
                 "       quillozip-cli [--utf8] extract [--password PW] [--progress] ARCHIVE DEST\n"
                 "  --utf8      print names in UTF-8 instead of the ANSI code page\n"
                 "  --progress  report the stored bytes done on stderr\n");
    return 2;
}

int cannotOpen(const std::wstring& archive) {
    std::fprintf(stderr, "quillozip-cli: cannot open \"%s\" as an archive\n", printable(archive).c_str());
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

int list(const std::wstring& archive) {
    std::unique_ptr<Archive> opened = openArchive(archive);
    if (!opened) return cannotOpen(archive);
    Archive& zip = *opened;
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
        std::printf("\t%s\t%s\n", printable(e.unicodeName).c_str(), verdictWord(zip.entryVerdict(i)));
    }
    if (zip.namesEncrypted()) std::printf("names\tencrypted\n");
    std::printf("format\t%s\n", formatName(zip.format()));
    std::printf("verdict\t%s\n", verdictWord(zip.verdict()));
    return 0;
}

// The main window's progress: every piece counted, a report at most every 100 ms.
void reportProgress(Archive& zip) {
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

int extract(const std::wstring& archive, const std::wstring& destination, const char* password, bool progress) {
    std::unique_ptr<Archive> opened = openArchive(archive, password);
    if (!opened) return cannotOpen(archive);
    Archive& zip = *opened;
    if (progress) reportProgress(zip);
    if (zip.setBaseFolder(destination) != kZipOk) {
        std::fprintf(stderr, "quillozip-cli: destination folder \"%s\" is unusable\n", printable(destination).c_str());
        return 2;
    }
    int32_t count = zip.entryCount();
    int extracted = 0, failed = 0;
    for (int32_t i = 0; i < count; i++) {
        EntryInfo e = zip.entryInfo(i);
        // Judged as the main window judges it, on the full sizes.
        const int32_t rc = zip.extractEntry(i, e.unicodeName);
        const EntryOutcome outcome = entryOutcome(rc, e.unicodeName, e.fullCompressedSize, e.fullUncompressedSize,
                                                  [&] { return freeBytesAt(destination).value_or(UINT64_MAX); });
        const std::string reason = printable(utf8ToWide(outcomeReason(outcome)));
        std::printf("%d\t0x%X\t%s\t%s\n", i, static_cast<unsigned>(rc), reason.c_str(),
                    printable(e.unicodeName).c_str());
        (rc == kZipOk ? extracted : failed)++;
    }
    std::printf("%d extracted, %d failed\n", extracted, failed);
    return failed ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Fully buffered: Wine treats some redirections (/dev/null) as a
    // character device, which the C runtime would otherwise write unbuffered,
    // one slow call a line.
    std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    std::vector<std::wstring> args(argv + 1, argv + argc);
    for (size_t k = 0; k < args.size() && k < 2; k++) {
        if (args[k] == L"--utf8") {
            printUtf8 = true;
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(k));
            break;
        }
    }
    if (args.size() < 2) return usage();
    if (args[0] == L"list" && args.size() == 2) return list(args[1]);
    if (args[0] == L"extract") {
        // Passwords are bytes in the ANSI code page, as the window takes them.
        std::string password;
        bool withPassword = false;
        bool progress = false;
        size_t at = 1;
        if (args.size() > at + 1 && args[at] == L"--password") {
            password = wideToAnsi(args[at + 1]);
            withPassword = true;
            at += 2;
        }
        if (args.size() > at && args[at] == L"--progress") {
            progress = true;
            at++;
        }
        if (args.size() == at + 2)
            return extract(args[at], args[at + 1], withPassword ? password.c_str() : nullptr, progress);
    }
    return usage();
}
