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
//     default twice the processors, at most 8), with the same files and lines
// Arguments are taken as Unicode, so paths outside the code page work.
// Printed names and reasons are in the ANSI code page (characters it lacks
// as "_"), or in UTF-8 with --utf8 (before or after the command word). Each
// extracted entry prints its index, result code, the reason for a failure as
// the main window shows it (empty on success) and its name, tab-separated.
#include <windows.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/extract/ExtractionPlan.h"
#include "archive/Archive.h"
#include "base/FileSystem.h"
#include "base/OleDate.h"
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
                 "               the other; default: twice the processors, at most 8)\n");
    return 2;
}

int cannotOpen(const std::wstring& archive) {
    std::fprintf(stderr, "quillozip-cli: cannot open \"%s\" as an archive\n", printable(archive).c_str());
    return 2;
}

// Output lines, gathered and written in large blocks: a formatted print or a
// write per line costs several microseconds under Wine, which a listing or an
// extraction of 100,000 entries feels.
class LineOutput {
public:
    ~LineOutput() { flush(); }

    LineOutput& text(std::string_view text) {
        buffer_.append(text);
        return *this;
    }
    // Decimal, zero-padded to width digits.
    LineOutput& number(uint64_t value, int width = 1) { return digits(value, 10, width); }
    LineOutput& signedNumber(int64_t value) {
        if (value < 0) buffer_ += '-';
        return number(value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
    }
    // Upper-case hexadecimal, zero-padded to width digits.
    LineOutput& hex(uint64_t value, int width) { return digits(value, 16, width); }

    // An OLE automation date as "YYYY-MM-DD hh:mm:ss".
    LineOutput& time(double oleDate) {
        CalendarTime t;
        if (!calendarFromOleDate(oleDate, &t)) return text("0000-00-00 00:00:00");
        number(t.year, 4).text("-").number(t.month, 2).text("-").number(t.day, 2).text(" ");
        return number(t.hour, 2).text(":").number(t.minute, 2).text(":").number(t.second, 2);
    }

    // Ends a line, writing the lines gathered once they are many.
    void endLine() {
        buffer_ += '\n';
        if (buffer_.size() >= kBlock) flush();
    }

    void flush() {
        if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
        buffer_.clear();
    }

private:
    static constexpr size_t kBlock = 1 << 20;

    LineOutput& digits(uint64_t value, unsigned base, int width) {
        char reversed[24];
        int n = 0;
        do {
            reversed[n++] = "0123456789ABCDEF"[value % base];
            value /= base;
        } while (value > 0);
        for (; n < width; width--) buffer_ += '0';
        while (n > 0) buffer_ += reversed[--n];
        return *this;
    }

    std::string buffer_;
};

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
    LineOutput out;
    int32_t count = zip.entryCount();
    for (int32_t i = 0; i < count; i++) {
        EntryInfo e = zip.entryInfo(i);
        if (e.index < 0) {
            out.signedNumber(i).text("\tunreadable\t").text(verdictWord(zip.entryVerdict(i))).endLine();
            continue;
        }
        out.signedNumber(e.index).text("\t0x").hex(static_cast<unsigned>(e.attributes), 2).text("\t");
        out.number(e.fullUncompressedSize).text("\t").number(e.fullCompressedSize).text("\t").time(e.modificationTime);
        // The entry's name comes in the code page already.
        out.text("\t").text(printUtf8 ? wideToUtf8(e.unicodeName).c_str() : e.name.c_str());
        out.text("\t").text(verdictWord(zip.entryVerdict(i))).endLine();
    }
    if (zip.namesEncrypted()) out.text("names\tencrypted").endLine();
    out.text("format\t").text(formatName(zip.format())).endLine();
    out.text("verdict\t").text(verdictWord(zip.verdict())).endLine();
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
    LineOutput out;
    BatchEvents events;
    events.piece = progress ? progressReport(total) : [](uint64_t) { return true; };
    // A line per entry in the archive's order, whichever thread wrote it.
    events.report = [&](size_t position, int32_t rc, const std::function<int32_t()>&) {
        const EntryInfo& e = infos[position];
        // Judged as the main window judges it, on the full sizes.
        const EntryOutcome outcome = entryOutcome(rc, e.unicodeName, e.fullCompressedSize, e.fullUncompressedSize,
                                                  [&] { return freeBytesAt(destination).value_or(UINT64_MAX); });
        out.number(position).text("\t0x").hex(static_cast<uint32_t>(rc), 1).text("\t");
        out.text(printable(utf8ToWide(outcomeReason(outcome)))).text("\t").text(printable(e.unicodeName)).endLine();
        (rc == kZipOk ? extracted : failed)++;
    };
    zip.extractEntries(requests, threads, events);
    out.signedNumber(extracted).text(" extracted, ").signedNumber(failed).text(" failed").endLine();
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
