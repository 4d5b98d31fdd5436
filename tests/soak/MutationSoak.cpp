// Mutation soak of the archive library. Seed archives of every format made by
// real tools (the fixtures) and ZIPs made by hand are cut at every offset and
// corrupted at random, and every case runs the application's whole path
// through the library: openArchive, entryCount, every entryInfo and every
// extractEntry with the Unicode name entryInfo gave, into a sandbox. A case fails when it crashes or hangs,
// takes over 2 s, changes anything outside the sandbox, or leaves a file in
// it that is not a successfully extracted entry of its declared size. Every
// kBatchEvery-th case is extracted once more in one batch on several
// threads, which must give the same codes and the same files.
// Prints a report; the exit code is 1 when any case failed.
//
// Environment: QZ_BINARY_DIR (where the fixtures are), QZ_LONG=1 for the long
// run, QZ_SOAK_SEED to repeat a run, QZ_SOAK_CASES for the number of
// corruption cases.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "../zip/TestFolder.h"
#include "../zip/ZipBuilder.h"
#include "ArchiveMutator.h"
#include "base/TextCodec.h"
#include "archive/Archive.h"
#include "base/UniqueAny.h"
#include "zip/CngAesCrypto.h"
#include "zip/EntryName.h"

namespace {

constexpr double kCaseLimitMs = 2000;
constexpr uint64_t kBatchEvery = 8;
constexpr unsigned kBatchThreads = 4;
constexpr DWORD kHangMs = 60000;  // the watchdog's limit: far past any sound case
const char* const kPassword = "secret";

struct Seed {
    std::string name;
    Bytes bytes;
};

// What the crash handler and the watchdog print: the case being run.
char g_currentCase[256] = "none";
std::atomic<DWORD> g_caseStart{0};
std::atomic<bool> g_inCase{false};

LONG WINAPI onCrash(EXCEPTION_POINTERS* e) {
    std::printf("\nCRASH 0x%08lX in case %s\n", e->ExceptionRecord->ExceptionCode, g_currentCase);
    std::fflush(stdout);
    ::ExitProcess(3);
}

DWORD WINAPI watchdog(void*) {
    for (;;) {
        ::Sleep(500);
        if (g_inCase && ::GetTickCount() - g_caseStart > kHangMs) {
            std::printf("\nHANG over %lu ms in case %s\n", kHangMs, g_currentCase);
            std::fflush(stdout);
            ::ExitProcess(4);
        }
    }
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool writeBytes(const std::string& path, const Bytes& bytes) {
    UniqueFile h(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    return h && ::WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
           done == bytes.size();
}

// data as a WinZip AES-256 entry (AE-2) under kPassword: salt, verifier,
// data in counter mode and the authentication code, through the same CNG
// primitives the library decrypts with.
Bytes winZipAes(const Bytes& data) {
    Bytes out(16, 0x5C);  // the salt
    uint8_t derived[66];
    std::unique_ptr<AesCrypto> crypto = makeCngAesCrypto();
    const uint8_t* password = reinterpret_cast<const uint8_t*>(kPassword);
    if (!crypto->deriveKey(password, std::strlen(kPassword), out.data(), 16, derived, sizeof derived)) return {};
    out.insert(out.end(), derived + 64, derived + 66);
    WinZipAesDecryptor cipher(makeCngAesCrypto());
    Bytes body = data;
    // Counter mode is its own inverse.
    if (cipher.begin(kPassword, 3, out.data()) != kZipOk || cipher.decrypt(body.data(), body.size()) != kZipOk) return {};
    uint8_t code[20];
    if (!crypto->setKeys(derived, 32, derived + 32, 32) || !crypto->macUpdate(body.data(), body.size()) ||
        !crypto->macFinish(code))
        return {};
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), code, code + WinZipAesDecryptor::kCodeSize);
    return out;
}

// The entries of an archive that fail to extract, as " index:code" each.
std::string entriesThatFail(const Bytes& archive) {
    TestFolder folder;
    std::string failed;
    std::unique_ptr<Archive> opened;
    if (!writeBytes(folder / "seed", archive) || !(opened = openArchive(ansiToWide(folder / "seed"), kPassword)))
        return " (not opened)";
    opened->setBaseFolder(ansiToWide(folder / "out"));
    for (int32_t i = 0; i < opened->entryCount(); i++) {
        if (int32_t rc = opened->extractEntry(i, opened->entryInfo(i).unicodeName)) {
            char item[32];
            std::snprintf(item, sizeof item, " %d:0x%X", i, static_cast<unsigned>(rc));
            failed += item;
        }
    }
    return failed;
}

// The hand-made seeds: every feature the library reads, in archives of a
// few KiB.
std::vector<Seed> handMadeSeeds() {
    std::string text;
    for (int i = 0; i < 40; i++) text += "line " + std::to_string(i) + " of the hand-made text\n";
    TestEntry deflated = makeEntry("docs/readme.txt", text);
    TestEntry stored = makeEntry("docs/stored.txt", "stored as it is", 0);
    TestEntry secret = makeEntry("secret.txt", text.substr(0, 300));
    secret.password = kPassword;
    TestEntry secretStored = makeEntry("secret-stored.txt", "stored secret", 0);
    secretStored.password = kPassword;
    secretStored.dataDescriptor = true;
    TestEntry described = makeEntry("described.txt", text.substr(0, 500));
    described.dataDescriptor = true;
    std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87.txt";  // UTF-8 for 中文.txt
    TestEntry unicode = makeEntry("#U4e2d#U6587.txt", "unicode path");
    unicode.centralExtra = unicodePathBlock(unicode.name, chinese);
    TestEntry flagged = makeEntry(chinese, "utf-8 flagged name", 0);
    flagged.flags = 0x800;
    TestEntry stamped = makeEntry("stamped.txt", "with times");
    stamped.localExtra = utBlock(7, {1600000000, 1600000100, 1600000200});
    TestEntry dos = makeEntry("dos.txt", "made on DOS", 0);
    dos.madeBy = kMadeByDos;
    dos.external = 0x21;

    std::vector<Seed> seeds;
    ZipBuilder mixed;
    mixed.folder("docs/").add(deflated).add(stored).add(secret).add(secretStored).add(described).add(unicode);
    mixed.add(flagged).add(stamped).add(dos).file("empty.txt", "");
    for (uint16_t method : kCompressedMethods)
        mixed.add(makeEntry("method-" + std::to_string(method) + ".txt", text.substr(0, 600), method));
    TestEntry aes = makeEntry("aes.txt", "", 99);
    aes.flags = 0x01;
    aes.crc = 0;
    aes.uncompressedSize = 700;
    aes.stored = winZipAes(compressWith(12, Bytes(text.begin(), text.begin() + 700)));
    aes.localExtra = aes.centralExtra = {0x01, 0x99, 7, 0, 2, 0, 'A', 'E', 3, 12, 0};  // AE-2, 256 bits, bzip2
    mixed.add(aes);
    seeds.push_back({"hand-made mixed", mixed.build()});

    TestEntry wide = makeEntry("wide.txt", text.substr(0, 400));
    wide.zip64 = true;
    TestEntry wideDescribed = makeEntry("wide-described.txt", "zip64 descriptor");
    wideDescribed.zip64 = true;
    wideDescribed.dataDescriptor = true;
    ZipBuilder zip64;
    zip64.add(wide).add(wideDescribed).folder("dir/").zip64End();
    seeds.push_back({"hand-made zip64", zip64.build()});

    // Names as Linux and macOS write them: UTF-8 without the flag, made on
    // Unix, beyond code page 936, in folders.
    ZipBuilder unixUtf8;
    unixUtf8.folder("\xE7\x9B\xAE\xE5\xBD\x95/");  // 目录/
    unixUtf8.add(makeEntry("\xE7\x9B\xAE\xE5\xBD\x95/\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xF0\x9F\x98\x80.txt", text));
    unixUtf8.add(makeEntry("\xC3\x9C" "ber.txt", "first", 0)).add(makeEntry("\xC3\x96" "ber.txt", "second", 0));
    unixUtf8.add(stamped);
    seeds.push_back({"hand-made unix utf-8", unixUtf8.build()});

    ZipBuilder prefixed;
    prefixed.prefix(Bytes(200, 0x90)).add(deflated).add(stamped);
    seeds.push_back({"hand-made prefixed", prefixed.build()});
    return seeds;
}

std::vector<Seed> toolSeeds(std::vector<std::string>* missing) {
    std::vector<Seed> seeds;
    for (const char* name : {"small-info-zip.zip", "small-encrypted.zip", "small-bsdtar.zip", "small-stream.zip",
                             "bsdtar-cn.zip", "python-utf8.zip", "python-unicode-extra.zip", "encrypted-crc.zip",
                             "zip64-forced.zip", "empty.zip", "small.7z", "small-bcj2.7z", "small.tar",
                             "small.tar.gz", "small.tar.xz", "small.tar.zst", "small.txt.bz2", "small.rar",
                             "small.rar5.rar"}) {
        std::optional<std::string> data = readFile(fixturePath(name));
        if (!data || data->empty()) {
            missing->push_back(name);
            continue;
        }
        seeds.push_back({name, Bytes(data->begin(), data->end())});
    }
    return seeds;
}

// A file's identity on its volume, so that a file in the sandbox is matched
// to the entry that wrote it whatever spelling of its name the system kept.
struct FileId {
    DWORD volume, high, low;
    bool operator<(const FileId& o) const {
        return std::tie(volume, high, low) < std::tie(o.volume, o.high, o.low);
    }
};

bool fileIdentity(const std::wstring& path, FileId* id, uint64_t* size, bool* folder = nullptr) {
    UniqueFile h(::CreateFileW((L"\\\\?\\" + path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!h || !::GetFileInformationByHandle(h.get(), &info)) return false;
    *id = FileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    *size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    if (folder) *folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

// Names below a folder, one line each, with the sizes and write times of
// files (a folder's time changes with its contents: the sandbox's parent's
// does with every case). The sandbox (not entered) and the case archive are
// left out.
void snapshotInto(const std::string& folder, const std::string& relative, const std::string& skipFolder,
                  const std::string& skipFile, std::string& out) {
    WIN32_FIND_DATAA found{};
    UniqueFind find(::FindFirstFileA((folder + relative + "*").c_str(), &found));
    if (!find) return;
    do {
        std::string name = relative + found.cFileName;
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0 || name == skipFile)
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out += name + "\\\n";
            if (name + "\\" != skipFolder) snapshotInto(folder, name + "\\", skipFolder, skipFile, out);
            continue;
        }
        char line[64];
        std::snprintf(line, sizeof line, " %lu %lu %lu\n", found.nFileSizeLow, found.ftLastWriteTime.dwLowDateTime,
                      found.ftLastWriteTime.dwHighDateTime);
        out += name + line;
    } while (::FindNextFileA(find.get(), &found));
}

std::string snapshot(const std::string& root, const std::string& skipFolder, const std::string& skipFile) {
    std::string out;
    snapshotInto(root, "", skipFolder, skipFile, out);
    return out;
}

// Where the library writes each file entry of one archive: at its name as
// prepared for creation, unless an earlier entry took a name that differs
// only in case; then at "name (n).ext" with the first n not taken. An exact
// repeat goes where the earlier entry went.
class OutputNames {
public:
    std::wstring pathFor(const std::wstring& target, size_t baseLength) {
        for (const auto& [exact, path] : outputs_) {
            if (exact == target) return path;
        }
        std::wstring path = target;
        if (taken(target)) {
            size_t sep = target.find_last_of(L'\\');
            size_t folderLength = sep == std::wstring::npos || sep < baseLength ? baseLength : sep + 1;
            for (unsigned n = 2; taken(path = numberedName(target, folderLength, n)); n++) {
            }
            outputs_.push_back({std::wstring(), path});
        }
        outputs_.push_back({target, path});
        return path;
    }

private:
    bool taken(const std::wstring& path) const {
        for (const auto& output : outputs_) {
            if (::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, output.second.c_str(), -1, path.c_str(), -1) ==
                CSTR_EQUAL)
                return true;
        }
        return false;
    }

    std::vector<std::pair<std::wstring, std::wstring>> outputs_;  // exact target (empty for a numbered one), path
};

// What a folder holds: every name, and each file's size and a hash of its bytes.
std::string treeDigest(const std::wstring& folder) {
    std::string out;
    for (const std::wstring& name : listTreeWide(folder)) {
        out += wideToUtf8(name);
        UniqueFile h(::CreateFileW((L"\\\\?\\" + folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (h && ::GetFileInformationByHandle(h.get(), &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            uint64_t hash = 14695981039346656037ull, size = 0;
            uint8_t buffer[65536];
            DWORD got = 0;
            while (::ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
                for (DWORD i = 0; i < got; i++) hash = (hash ^ buffer[i]) * 1099511628211ull;
                size += got;
            }
            out += " " + std::to_string(size) + " " + std::to_string(hash);
        }
        out += "\n";
    }
    return out;
}

class Soak {
public:
    // root is a new, empty folder of this run's own.
    Soak(std::string root) : root_(std::move(root)) {
        watch_ = root_ + "watch\\";
        sandbox_ = watch_ + "sandbox\\";
        sandboxWide_ = ansiToWide(sandbox_);
        archive_ = root_ + "case.zip";
        ::CreateDirectoryA(watch_.c_str(), nullptr);
        ::CreateDirectoryA((watch_ + "beside").c_str(), nullptr);
        writeFile(watch_ + "keep.txt", "must not change");
        writeFile(watch_ + "beside\\keep2.txt", "must not change either");
        writeFile(root_ + "outside.txt", "outside the watch folder");
        ::CreateDirectoryA(sandbox_.c_str(), nullptr);
        before_ = snapshot(root_, "watch\\sandbox\\", "case.zip");
    }
    ~Soak() { removeTree(root_); }

    // Runs one case; false when it failed (the reason is printed).
    bool run(const Bytes& archive, const std::string& kind, const std::string& label) {
        std::snprintf(g_currentCase, sizeof g_currentCase, "%s %s", kind.c_str(), label.c_str());
        if (!writeBytes(archive_, archive)) return fail("cannot write the case archive");
        g_caseStart = ::GetTickCount();
        g_inCase = true;
        double start = nowMs();
        std::map<FileId, uint64_t> written;  // files that entries reported written, with their sizes
        OutputNames outputs;
        std::string problem;
        std::vector<int32_t> codes;
        {
            if (std::unique_ptr<Archive> opened = openArchive(ansiToWide(archive_), kPassword)) {
                opened_++;
                opened->setBaseFolder(sandboxWide_);
                // A compressed stream of one file declares no size: its file is whatever it wrote.
                const bool declaresSizes = !isCompressedStream(opened->format());
                int32_t count = opened->entryCount();
                for (int32_t i = 0; i < count; i++) {
                    EntryInfo info = opened->entryInfo(i);
                    if (info.index < 0) infoFailed_++;
                    int32_t rc = opened->extractEntry(i, info.unicodeName);
                    codes.push_back(rc);
                    results_[rc]++;
                    if (rc != kZipOk || (info.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
                    FileId id{};
                    uint64_t size = 0;
                    std::wstring prepared;
                    prepareRelativeName(info.unicodeName, &prepared);
                    std::wstring path = outputs.pathFor(sandboxWide_ + prepared, sandboxWide_.size());
                    if (!fileIdentity(path, &id, &size)) {
                        problem = "entry " + std::to_string(i) + " reported written but is missing: " + wideToUtf8(path);
                    } else {
                        written[id] = declaresSizes ? info.fullUncompressedSize : size;
                    }
                }
            }
        }
        double ms = nowMs() - start;
        cases_++;
        if (ms > slowestMs_) {
            slowestMs_ = ms;
            slowest_ = kind + " " + label;
        }
        if (ms > kCaseLimitMs) problem = "took " + std::to_string(ms) + " ms";
        if (problem.empty()) problem = checkSandbox(written);
        if (problem.empty() && cases_ % kBatchEvery == 0) problem = compareBatch(codes);
        if (problem.empty() && snapshot(root_, "watch\\sandbox\\", "case.zip") != before_)
            problem = "something outside the sandbox changed";
        removeTree(sandbox_);
        ::CreateDirectoryA(sandbox_.c_str(), nullptr);
        g_inCase = false;
        return problem.empty() || fail(problem);
    }

    void report() const {
        std::printf("cases: %llu (%llu opened), failures: %llu\n", static_cast<unsigned long long>(cases_),
                    static_cast<unsigned long long>(opened_), static_cast<unsigned long long>(failures_));
        std::printf("entryInfo failures: %llu\n", static_cast<unsigned long long>(infoFailed_));
        std::printf("extractEntry results:\n  %-10s %10s\n", "code", "count");
        for (const auto& [code, count] : results_)
            std::printf("  0x%-8lX %10llu\n", static_cast<unsigned long>(code), static_cast<unsigned long long>(count));
        std::printf("slowest case: %s, %.1f ms\n", slowest_.c_str(), slowestMs_);
        std::printf("cases also extracted in a batch on %u threads: %llu\n", kBatchThreads,
                    static_cast<unsigned long long>(batches_));
        // One line each for scripts/test.sh's list of figures.
        std::printf("figure: mutation soak %llu cases, %llu failed, slowest %.1f ms\nfigure: mutation soak results",
                    static_cast<unsigned long long>(cases_), static_cast<unsigned long long>(failures_), slowestMs_);
        for (const auto& [code, count] : results_)
            std::printf(" 0x%lX:%llu", static_cast<unsigned long>(code), static_cast<unsigned long long>(count));
        std::printf("\n");
    }

    uint64_t failures() const { return failures_; }

private:
    bool fail(const std::string& why) {
        failures_++;
        if (failures_ <= 20) std::printf("FAILED %s: %s\n", g_currentCase, why.c_str());
        return false;
    }

    // The case extracted again into a fresh sandbox, in one batch: the same
    // codes (sequential, one after the other) and the same tree.
    std::string compareBatch(const std::vector<int32_t>& sequential) {
        const std::string tree = treeDigest(sandboxWide_);
        removeTree(sandbox_);
        ::CreateDirectoryA(sandbox_.c_str(), nullptr);
        std::vector<int32_t> codes;
        if (std::unique_ptr<Archive> opened = openArchive(ansiToWide(archive_), kPassword)) {
            opened->setBaseFolder(sandboxWide_);
            std::vector<EntryRequest> requests;
            for (int32_t i = 0; i < opened->entryCount(); i++)
                requests.push_back({i, opened->entryInfo(i).unicodeName});
            BatchEvents events;
            events.piece = [](uint64_t) { return true; };
            events.report = [&](size_t, int32_t code, const std::function<int32_t()>&) { codes.push_back(code); };
            opened->extractEntries(requests, kBatchThreads, events);
        }
        batches_++;
        if (codes != sequential) return "a batch gave other codes than one entry after the other";
        if (treeDigest(sandboxWide_) != tree) return "a batch left another tree than one entry after the other";
        return {};
    }

    // Every file left must be one an entry reported written, at its size;
    // anything else is a partial or temporary file.
    std::string checkSandbox(const std::map<FileId, uint64_t>& written) const {
        for (const std::wstring& wideName : listTreeWide(sandboxWide_)) {
            const std::string name = wideToUtf8(wideName);
            // A folder's listed name ends with "\", but so may a file's.
            FileId id{};
            uint64_t size = 0;
            bool folder = false;
            if (!fileIdentity(sandboxWide_ + wideName, &id, &size, &folder)) return "cannot look at " + name;
            if (folder) continue;
            auto it = written.find(id);
            if (it == written.end()) return "left a file no entry reported: " + name;
            if (it->second != size) {
                return name + " holds " + std::to_string(size) + " bytes, declared " + std::to_string(it->second);
            }
        }
        return {};
    }

    std::string root_, watch_, sandbox_, archive_, before_;
    std::wstring sandboxWide_;
    uint64_t cases_ = 0, opened_ = 0, failures_ = 0, infoFailed_ = 0, batches_ = 0;
    std::map<int32_t, uint64_t> results_;
    double slowestMs_ = 0;
    std::string slowest_;
};

// A new folder of this run's own, on a RAM-backed folder when the host
// offers one (Wine maps / to Z:), so that tens of thousands of extractions do
// not wear the disk. Wine numbers processes per prefix: soaks run at once from
// different prefixes have the same process id and share that folder, so the
// name is only a start and the run owns the folder it managed to create.
std::string soakRoot() {
    std::string parent;
    DWORD shm = ::GetFileAttributesA("Z:\\dev\\shm");
    if (shm != INVALID_FILE_ATTRIBUTES && (shm & FILE_ATTRIBUTE_DIRECTORY)) {
        parent = "Z:\\dev\\shm\\";
    } else {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        parent = temp;
    }
    for (unsigned attempt = 0; attempt < 1000; attempt++) {
        char name[64];
        std::snprintf(name, sizeof name, "qz-soak-%lu-%lu-%u\\", ::GetCurrentProcessId(), ::GetTickCount(), attempt);
        if (::CreateDirectoryA((parent + name).c_str(), nullptr)) return parent + name;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return {};
}

}  // namespace

int main() {
    ::SetUnhandledExceptionFilter(onCrash);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    UniqueHandle dog(::CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
    setvbuf(stdout, nullptr, _IONBF, 0);

    bool longRun = env("QZ_LONG") == "1";
    uint64_t masterSeed = env("QZ_SOAK_SEED").empty() ? static_cast<uint64_t>(::GetTickCount()) * 2654435761u
                                                     : std::strtoull(env("QZ_SOAK_SEED").c_str(), nullptr, 0);
    uint64_t corruptions = env("QZ_SOAK_CASES").empty() ? (longRun ? 200000 : 20000)
                                                        : std::strtoull(env("QZ_SOAK_CASES").c_str(), nullptr, 0);
    std::vector<std::string> missing;
    std::vector<Seed> seeds = toolSeeds(&missing);
    size_t toolCount = seeds.size();
    for (Seed& s : handMadeSeeds()) seeds.push_back(std::move(s));
    std::printf("mutation soak: seed 0x%llX (QZ_SOAK_SEED repeats it), %s run, %zu seed archives (%zu by tools)\n",
                static_cast<unsigned long long>(masterSeed), longRun ? "long" : "short", seeds.size(), toolCount);
    if (!missing.empty()) {
        for (const std::string& m : missing) std::printf("missing fixture: %s\n", m.c_str());
        return 1;
    }

    // A hand-made seed must extract cleanly, or it covers less than it seems.
    for (size_t i = toolCount; i < seeds.size(); i++) {
        std::string failed = entriesThatFail(seeds[i].bytes);
        if (!failed.empty()) {
            std::printf("seed %s does not extract cleanly:%s\n", seeds[i].name.c_str(), failed.c_str());
            return 1;
        }
    }

    std::string root = soakRoot();
    if (root.empty()) {
        std::printf("cannot make a folder for the soak\n");
        return 1;
    }
    Soak soak(root);
    double start = nowMs();
    // (a) every cut of three small archives: a ZIP and a 7z from tools, a ZIP by hand.
    uint64_t truncations = 0;
    const Seed* sevenZip = &*std::find_if(seeds.begin(), seeds.end(), [](const Seed& s) { return s.name == "small.7z"; });
    const Seed* const cut[] = {&seeds[0], sevenZip, &seeds[toolCount]};
    for (const Seed* s : cut) {
        for (size_t length = 0; length < s->bytes.size(); length++) {
            soak.run(Bytes(s->bytes.begin(), s->bytes.begin() + static_cast<long>(length)), "truncation",
                     s->name + " at " + std::to_string(length));
            truncations++;
        }
    }
    double truncationSeconds = (nowMs() - start) / 1000;

    // (b) seeded corruptions, the seed archives taken in turn.
    std::vector<std::vector<ArchiveField>> fields;
    for (const Seed& s : seeds) fields.push_back(findFields(s.bytes));
    for (uint64_t i = 0; i < corruptions; i++) {
        size_t which = static_cast<size_t>(i % seeds.size());
        uint64_t caseSeed = SoakRandom(masterSeed ^ (i * 0x9E3779B97F4A7C15ULL)).next();
        Mutation m = mutate(seeds[which].bytes, fields[which], caseSeed);
        char label[64];
        std::snprintf(label, sizeof label, " case %llu seed 0x%llX: ", static_cast<unsigned long long>(i),
                      static_cast<unsigned long long>(caseSeed));
        soak.run(m.archive, "corruption", seeds[which].name + label + m.what);
        if ((i + 1) % 5000 == 0) std::printf("  %llu corruption cases\n", static_cast<unsigned long long>(i + 1));
    }
    double seconds = (nowMs() - start) / 1000;
    std::printf("truncation cases: %llu (%.1f s), corruption cases: %llu (%.1f s)\n",
                static_cast<unsigned long long>(truncations), truncationSeconds,
                static_cast<unsigned long long>(corruptions), seconds - truncationSeconds);
    soak.report();
    return soak.failures() ? 1 : 0;
}
