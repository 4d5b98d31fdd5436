// quillozip-cli: lists or extracts an archive through the same archive
// library, and in the same order of calls, as the main window does.
//   quillozip-cli [--utf8] list ARCHIVE
//     one line per entry, the entry's verdict last (hostile, deceptive,
//     encrypted, runnable or ok), then "format" and the archive's format
//     (zip, 7z, rar, rar5, tar, gzip, bzip2, xz, zstd), then "verdict" and
//     the archive's (hostile, deceptive, encrypted or safe)
//   quillozip-cli [--utf8] extract [--password PW] [--progress] [--threads N] ARCHIVE DEST
//     --progress reports the stored bytes done on stderr at most ten times a
//     second, through the same piece hook as the main window's progress, so
//     that its cost can be measured (scripts/bench.sh); --threads N writes
//     a ZIP archive's entries on N threads (1: one after the other; by
//     default the processors, at most 8), with the same files and lines
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
#include <cwchar>
#include <functional>
#include <optional>
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
                 "       quillozip-cli [--utf8] extract [--password PW] [--progress] [--threads N] ARCHIVE DEST\n"
                 "  --utf8       print names in UTF-8 instead of the ANSI code page\n"
                 "  --progress   report the stored bytes done on stderr\n"
                 "  --threads N  write a ZIP archive's entries on N threads, 1 to 8 (1: one after\n"
                 "               the other; default: the processors, at most 8)\n");
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
std::function<bool(uint64_t)> progressReport(uint64_t total) {
    return [total, done = uint64_t{0}, last = ULONGLONG{0}](uint64_t bytes) mutable {
        done += bytes;
        const ULONGLONG now = ::GetTickCount64();
        if (now - last >= 100) {
            last = now;
            std::fprintf(stderr, "progress\t%" PRIu64 "\t%" PRIu64 "\n", done, total);
        }
        return true;
    };
}

int extract(const std::wstring& archive, const std::wstring& destination, const char* password, bool progress,
            unsigned threads) {
    std::unique_ptr<Archive> opened = openArchive(archive, password);
    if (!opened) return cannotOpen(archive);
    Archive& zip = *opened;
    if (zip.setBaseFolder(destination) != kZipOk) {
        std::fprintf(stderr, "quillozip-cli: destination folder \"%s\" is unusable\n", printable(destination).c_str());
        return 2;
    }
    // Every entry under the name its information gives, as the main window asks.
    const int32_t count = zip.entryCount();
    std::vector<EntryInfo> infos;
    std::vector<EntryRequest> requests;
    uint64_t total = 0;
    for (int32_t i = 0; i < count; i++) {
        infos.push_back(zip.entryInfo(i));
        requests.push_back({i, infos.back().unicodeName, infos.back().fullCompressedSize});
        total += infos.back().fullCompressedSize;
    }
    int extracted = 0, failed = 0;
    // The lines go out in large pieces: the C runtime writes a line at a
    // time otherwise, one system call an entry.
    std::string lines;
    BatchEvents events;
    events.piece = progress ? progressReport(total) : [](uint64_t) { return true; };
    // A line per entry in the archive's order, whichever thread wrote it.
    events.report = [&](size_t position, int32_t rc, const std::function<int32_t()>&) {
        const EntryInfo& e = infos[position];
        // Judged as the main window judges it, on the full sizes.
        const EntryOutcome outcome = entryOutcome(rc, e.unicodeName, e.fullCompressedSize, e.fullUncompressedSize,
                                                  [&] { return freeBytesAt(destination).value_or(UINT64_MAX); });
        char head[32];
        std::snprintf(head, sizeof head, "%d\t0x%X\t", static_cast<int>(position), static_cast<unsigned>(rc));
        lines += head + printable(utf8ToWide(outcomeReason(outcome))) + "\t" + printable(e.unicodeName) + "\n";
        if (lines.size() >= 64 * 1024) {
            std::fwrite(lines.data(), 1, lines.size(), stdout);
            lines.clear();
        }
        (rc == kZipOk ? extracted : failed)++;
    };
    zip.extractEntries(requests, threads, events);
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::printf("%d extracted, %d failed\n", extracted, failed);
    return failed ? 1 : 0;
}

// "--threads N": 1 to kMaxExtractionThreads; nothing for anything else.
std::optional<unsigned> threadCount(const std::wstring& text) {
    wchar_t* end = nullptr;
    const unsigned long n = std::wcstoul(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0' || n < 1 || n > kMaxExtractionThreads) return std::nullopt;
    return static_cast<unsigned>(n);
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
        unsigned threads = defaultExtractionThreads();
        size_t at = 1;
        for (bool option = true; option && args.size() > at + 2;) {
            if (args[at] == L"--password") {
                password = wideToAnsi(args[at + 1]);
                withPassword = true;
                at += 2;
            } else if (args[at] == L"--threads") {
                std::optional<unsigned> n = threadCount(args[at + 1]);
                if (!n) return usage();
                threads = *n;
                at += 2;
            } else if (args[at] == L"--progress") {
                progress = true;
                at++;
            } else {
                option = false;
            }
        }
        if (args.size() == at + 2)
            return extract(args[at], args[at + 1], withPassword ? password.c_str() : nullptr, progress, threads);
    }
    return usage();
}
