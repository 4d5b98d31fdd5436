// Entries written in a batch on several threads must end as they do one
// after the other: the same files with the same contents, the same codes in
// the same order, whichever thread finishes first; a cancel leaves no
// partial file and no folder made only for an entry that was not kept.
#include "zip/Unzip.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>

#include "TestFolder.h"
#include "ZipBuilder.h"
#include "base/TextCodec.h"

namespace {

constexpr unsigned kThreads = 4;

// Every name below a folder with its contents ("/" for a folder), long
// ones as their size and a hash.
using Tree = std::map<std::string, std::string>;

Tree treeOf(const std::string& folder) {
    Tree tree;
    for (const std::string& name : listTree(folder)) {
        if (fileAttributes(folder + name) & FILE_ATTRIBUTE_DIRECTORY) {
            tree[name] = "/";
            continue;
        }
        std::string data = readFile(folder + name).value_or("(unreadable)");
        if (data.size() > 64) {
            uint64_t hash = 14695981039346656037ull;
            for (char c : data) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
            data = std::to_string(data.size()) + " bytes, hash " + std::to_string(hash);
        }
        tree[name] = data;
    }
    return tree;
}

struct Outcome {
    std::vector<int32_t> codes;
    Tree tree;
    uint64_t told = 0;    // stored bytes the batch told its piece
    uint64_t stored = 0;  // the entries' stored bytes
};

// The archive extracted into dest the way the application asks: every
// entry under the name its information gives, one after the other
// (threads 0) or in one batch.
Outcome extract(const std::string& archive, const std::string& dest, unsigned threads, const char* password) {
    Outcome run;
    Unzip zip;
    if (!zip.open(archive, password) || zip.setBaseFolder(dest) != kZipOk) return run;
    std::vector<EntryRequest> requests;
    for (int32_t i = 0; i < zip.entryCount(); i++) {
        EntryInfo info = zip.entryInfo(i);
        requests.push_back({i, info.unicodeName, info.fullCompressedSize});
        run.stored += info.fullCompressedSize;
    }
    if (threads == 0) {
        for (const EntryRequest& r : requests) run.codes.push_back(zip.extractEntry(r.index, r.fileName));
    } else {
        BatchEvents events;
        events.piece = [&](uint64_t bytes) {
            run.told += bytes;
            return true;
        };
        events.report = [&](size_t position, int32_t code, const std::function<int32_t()>&) {
            EXPECT_EQ(position, run.codes.size()) << "reported out of order";
            run.codes.push_back(code);
        };
        EXPECT_TRUE(zip.extractEntries(requests, threads, events));
    }
    run.tree = treeOf(dest);
    return run;
}

TestEntry badCrc(const std::string& name, const std::string& data) {
    TestEntry e = makeEntry(name, data);
    e.crc = 0x0BADC0DE;
    return e;
}

std::string text(size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++) s[i] = static_cast<char>('a' + (i * 7 + seed * 13 + i / 97) % 26);
    return s;
}

struct Case {
    const char* what;
    ZipBuilder archive;
    std::vector<int32_t> codes;  // one after the other
    const char* password = nullptr;
};

std::vector<Case> cases() {
    std::vector<Case> all;
    {
        const std::string upper = utf8ToAnsi("ПРИВЕТ.txt"), lower = utf8ToAnsi("привет.txt");
        ZipBuilder b;
        b.file(upper, "first").file(lower, "second").file("d/Read.me", "third").file("D\\READ.ME", "fourth");
        b.file(lower, "second again").file(utf8ToAnsi("привет (2).txt"), "literal two").file("d/Read.me", "again");
        all.push_back({"case-only names are numbered, exact repeats replace in order", b, std::vector<int32_t>(7, kZipOk)});
    }
    {
        ZipBuilder b;
        b.file("a", "a file").file("a/b.txt", "needs a folder a").folder("c/").file("c", "where a folder is");
        b.file("e/x.txt", "makes e").file("E", "where e is").add(badCrc("f/x.txt", "fails")).file("f", "f is free again");
        b.add(badCrc("g/h/x.txt", "fails")).folder("g/").file("g/h", "h is free again");
        all.push_back({"files and folders of one name, after entries that failed", b,
                       {kZipOk, kZipCannotOpen, kZipOk, kZipCannotOpen, kZipOk, kZipCannotOpen, kZipDataError, kZipOk,
                        kZipDataError, kZipOk, kZipOk}});
    }
    {
        ZipBuilder b;
        b.file("n.txt", "n").add(badCrc("n (2).txt/x.bin", "fails")).file("N.TXT", "numbered where the folder was");
        all.push_back({"a numbered name where a failed entry's folder stood", b, {kZipOk, kZipDataError, kZipOk}});
    }
    {
        ZipBuilder b;
        b.file("r.txt", "kept").add(badCrc("r.txt", "fails")).add(badCrc("s.txt", "fails")).file("s.txt", "written");
        b.file("t.txt", text(300000, 1)).file("t.txt", "replaced by a small one");
        all.push_back({"exact repeats go in order, failed ones keep what was there", b,
                       {kZipOk, kZipDataError, kZipDataError, kZipOk, kZipOk, kZipOk}});
    }
    {
        TestEntry badLocal = makeEntry("badlocal.txt", "x");
        badLocal.badLocalSignature = true;
        TestEntry unknownMethod = makeEntry("method77.txt", "xyz", 77);
        TestEntry bomb = makeEntry("bomb/huge.bin", "tiny", 0);
        bomb.uncompressedSize = 1ull << 60;
        ZipBuilder b;
        b.file("ok1.txt", "fine").add(badLocal).add(unknownMethod).add(bomb).file("../up.txt", "climbs");
        b.file("nul.txt", "a device").file("ok2.txt", "fine too");
        all.push_back({"damaged, unknown, oversized and unsafe entries", b,
                       {kZipOk, kZipBadEntry, kZipReadFailed, kZipWriteFailed, kZipOk, kZipCannotOpen, kZipOk}});
    }
    {
        ZipBuilder b;
        std::vector<int32_t> codes;
        for (unsigned i = 0; i < 240; i++) {
            const std::string name = "folder" + std::to_string(i % 12) + "/file" + std::to_string(i % 100) + ".txt";
            if (i % 37 == 5) {
                b.add(badCrc(name, text(2000, i)));
                codes.push_back(kZipDataError);
            } else {
                b.file(name, text(100 + (i * 131) % 20000, i));
                codes.push_back(kZipOk);
            }
        }
        all.push_back({"many small files in folders, repeats and failures among them", b, codes});
    }
    {
        TestEntry secret = makeEntry("secret/a.txt", text(5000, 3));
        secret.password = "pw";
        TestEntry stored = makeEntry("secret/b.txt", "stored secret", 0);
        stored.password = "pw";
        TestEntry other = makeEntry("other.txt", "another password");
        other.password = "not pw";
        TestEntry broken = badCrc("secret/c.txt", "broken secret");
        broken.password = "pw";
        ZipBuilder b;
        b.file("plain.txt", "plain").add(secret).add(other).add(stored).add(broken).file("plain2.txt", "plain");
        all.push_back({"encrypted entries, one of another password", b,
                       {kZipOk, kZipOk, kZipBadPassword, kZipOk, kZipDataError, kZipOk}, "pw"});
    }
    return all;
}

TEST(BatchExtraction, EndsAsExtractingOneAfterTheOther) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        TestFolder sandbox;
        const std::string archive = sandbox / "case.zip";
        ASSERT_TRUE(c.archive.writeTo(archive));
        const Outcome sequential = extract(archive, sandbox / "one\\", 0, c.password);
        EXPECT_EQ(sequential.codes, c.codes);
        for (unsigned threads : {2u, kThreads}) {
            const Outcome batch = extract(archive, sandbox / ("batch" + std::to_string(threads) + "\\"), threads, c.password);
            EXPECT_EQ(batch.codes, sequential.codes) << threads << " threads";
            EXPECT_EQ(batch.tree, sequential.tree) << threads << " threads";
            EXPECT_EQ(batch.told, batch.stored) << threads << " threads";
        }
    }
}

// The first encrypted entry is reported before any other starts, so the
// password its report settles is the one the others are written with, on
// the batch's threads, not again one by one on the calling thread.
TEST(BatchExtraction, ThePasswordSetInTheFirstEncryptedEntrysReportServesTheRest) {
    TestFolder sandbox;
    ZipBuilder b;
    b.file("plain.txt", "plain");
    for (int i = 0; i < 12; i++) {
        TestEntry e = makeEntry("s/" + std::to_string(i) + ".txt", text(3000, static_cast<unsigned>(i)));
        e.password = "right";
        b.add(e);
    }
    ASSERT_TRUE(b.writeTo(sandbox / "enc.zip"));
    Unzip zip;
    ASSERT_TRUE(zip.open(sandbox / "enc.zip", "wrong"));
    ASSERT_EQ(zip.setBaseFolder(sandbox / "out\\"), kZipOk);
    std::vector<EntryRequest> requests;
    for (int32_t i = 0; i < zip.entryCount(); i++) requests.push_back({i, zip.entryInfo(i).unicodeName});
    const DWORD caller = GetCurrentThreadId();
    std::atomic<int> writtenByCaller{0};
    zip.setCompletedFileHook([&](const std::wstring&) {
        if (GetCurrentThreadId() == caller) writtenByCaller++;
        return true;
    });
    int asked = 0;
    std::vector<int32_t> codes;
    BatchEvents events;
    events.piece = [](uint64_t) { return true; };
    events.report = [&](size_t, int32_t code, const std::function<int32_t()>& again) {
        if (code == kZipBadPassword) {
            asked++;
            zip.setPassword("right");
            code = again();
        }
        codes.push_back(code);
    };
    ASSERT_TRUE(zip.extractEntries(requests, kThreads, events));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(writtenByCaller, 1);
    EXPECT_EQ(codes, std::vector<int32_t>(13, kZipOk));
    EXPECT_EQ(readFile(sandbox / "out\\s\\11.txt"), text(3000, 11));
}

TEST(BatchExtraction, ACancelLeavesNoPartialFileNorAFolderMadeOnlyForIt) {
    TestFolder sandbox;
    const std::string big = text(1 << 20, 5);
    ZipBuilder b;
    for (int i = 0; i < 40; i++) b.add(makeEntry("d" + std::to_string(i) + "/big.bin", big, 0));
    ASSERT_TRUE(b.writeTo(sandbox / "big.zip"));
    Unzip zip;
    ASSERT_TRUE(zip.open(sandbox / "big.zip"));
    const std::string dest = sandbox / "out\\";
    ASSERT_EQ(zip.setBaseFolder(dest), kZipOk);
    std::vector<EntryRequest> requests;
    for (int32_t i = 0; i < zip.entryCount(); i++) {
        const EntryInfo info = zip.entryInfo(i);
        requests.push_back({i, info.unicodeName, info.fullCompressedSize});
    }
    uint64_t told = 0;
    std::map<size_t, int32_t> reported;
    BatchEvents events;
    events.piece = [&](uint64_t bytes) {
        told += bytes;
        return told < 6 * big.size();
    };
    events.report = [&](size_t position, int32_t code, const std::function<int32_t()>&) {
        EXPECT_TRUE(reported.empty() || reported.rbegin()->first < position) << "reported out of order";
        reported[position] = code;
    };
    ASSERT_TRUE(zip.extractEntries(requests, kThreads, events));
    EXPECT_LT(reported.size(), requests.size()) << "the batch went on after the cancel";
    std::set<std::string> expected;
    for (const auto& [position, code] : reported) {
        EXPECT_TRUE(code == kZipOk || code == kZipCancelled) << position << ": " << code;
        if (code != kZipOk) continue;
        const std::string folder = "d" + std::to_string(position) + "\\";
        expected.insert(folder);
        expected.insert(folder + "big.bin");
        EXPECT_EQ(readFile(dest + folder + "big.bin"), big) << position;
    }
    const std::vector<std::string> left = listTree(dest);
    EXPECT_EQ(std::set<std::string>(left.begin(), left.end()), expected);
}

}  // namespace
