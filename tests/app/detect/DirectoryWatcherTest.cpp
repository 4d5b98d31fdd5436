// The download watcher on a real drive root under Wine. A fixture
// (map-watch-drive.sh) maps a spare drive letter to a fresh folder; each test
// makes its own subfolders after its watcher started, since Wine only watches
// folders made after the watch began.
#include "app/detect/DirectoryWatcher.h"
#include "app/detect/DriveWatchers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <vector>

#include "base/ThreadHelpers.h"
#include "base/TextCodec.h"

namespace {

constexpr auto kTimeout = std::chrono::seconds(30);

// "Q:\" for the drive the fixture mapped.
std::string watchRoot() {
    const char* bin = getenv("QZ_BINARY_DIR");
    if (!bin) return {};
    std::string file = std::string("Z:") + bin + "/watch-drive/letter";
    for (char& c : file)
        if (c == '/') c = '\\';
    std::ifstream in(file);
    std::string letter;
    in >> letter;
    return letter.size() == 1 ? std::string(1, char(toupper(letter[0]))) + ":\\" : std::string();
}

struct Report {
    int action;
    std::string path;  // UTF-8, to compare with the tests' own paths
    int length;
    DWORD thread;
};

using Match = std::function<bool(const Report&)>;

// Collects one watcher's reports. A test can make a report block inside the
// callback until it is released, to hold the worker busy.
class Recorder {
public:
    void add(int action, const wchar_t* path, int length) {
        std::unique_lock<std::mutex> lk(mutex_);
        reports_.push_back({action, wideToUtf8(path), length, GetCurrentThreadId()});
        Report added = reports_.back();
        changed_.notify_all();
        if (onReport_) {
            auto hook = onReport_;
            lk.unlock();
            hook(added);
            lk.lock();
        }
        if (blockWhen_ && blockWhen_(added)) {
            blockWhen_ = nullptr;
            blocked_ = true;
            changed_.notify_all();
            changed_.wait_for(lk, std::chrono::seconds(120), [&] { return !blocked_; });
        }
    }

    void reset() {
        std::lock_guard<std::mutex> lk(mutex_);
        reports_.clear();
        onReport_ = nullptr;
        blockWhen_ = nullptr;
        blocked_ = false;
    }
    // The first later report that matches blocks until release().
    void blockWhen(Match match) {
        std::lock_guard<std::mutex> lk(mutex_);
        blockWhen_ = std::move(match);
    }
    void blockAt(const std::string& path) {
        blockWhen([path](const Report& r) { return r.path == path; });
    }
    bool waitUntilBlocked() {
        std::unique_lock<std::mutex> lk(mutex_);
        return changed_.wait_for(lk, kTimeout, [&] { return blocked_; });
    }
    void release() {
        std::lock_guard<std::mutex> lk(mutex_);
        blocked_ = false;
        changed_.notify_all();
    }
    // Runs on the worker at every report, outside the recorder's mutex.
    void setHook(std::function<void(const Report&)> hook) {
        std::lock_guard<std::mutex> lk(mutex_);
        onReport_ = std::move(hook);
    }

    // Waits for a matching report; returns the first one's index or -1.
    int waitFor(const Match& match) {
        std::unique_lock<std::mutex> lk(mutex_);
        int found = -1;
        changed_.wait_for(lk, kTimeout, [&] {
            for (size_t i = 0; i < reports_.size() && found < 0; i++)
                if (match(reports_[i])) found = int(i);
            return found >= 0;
        });
        return found;
    }
    int waitFor(int action, const std::string& path) {
        return waitFor([&](const Report& r) { return r.action == action && r.path == path; });
    }
    std::vector<Report> reports() {
        std::lock_guard<std::mutex> lk(mutex_);
        return reports_;
    }
    size_t count() {
        std::lock_guard<std::mutex> lk(mutex_);
        return reports_.size();
    }
    std::string dump() {
        std::string out;
        for (const Report& r : reports()) out += std::to_string(r.action) + " " + r.path + "\n";
        return out;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
    std::function<void(const Report&)> onReport_;
    Match blockWhen_;
    bool blocked_ = false;
};

Recorder gRecorders[2];

template <int Slot>
void record(int action, const wchar_t* path, int length) {
    gRecorders[Slot].add(action, path, length);
}

// Readers may look while it is written, as with a download in progress.
bool makeFile(const std::string& path, const std::string& bytes = {}) {
    UniqueFile f(CreateFileW(utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD n = 0;
    return f && (bytes.empty() || WriteFile(f.get(), bytes.data(), DWORD(bytes.size()), &n, nullptr));
}

DWORD WINAPI runFunction(void* fn) {
    (*static_cast<std::function<void()>*>(fn))();
    return 0;
}

// Runs fn on its own thread; the handle is signalled when fn returns.
UniqueHandle runOnThread(std::function<void()>* fn) { return startThread(&runFunction, fn); }

class DirectoryWatcherTest : public testing::Test {
protected:
    void SetUp() override {
        root_ = watchRoot();
        ASSERT_FALSE(root_.empty()) << "run through ctest: the app_watch_drive fixture maps the drive";
        ASSERT_NE(GetFileAttributesA(root_.c_str()), INVALID_FILE_ATTRIBUTES) << root_;
        for (Recorder& r : gRecorders) r.reset();
    }
    void TearDown() override {
        for (Recorder& r : gRecorders) r.release();
    }
    // A folder of this test's own directly under the root, made after start.
    // The run's start time keeps it apart from what an earlier run left there.
    std::string folderName(const char* name) {
        static const std::string run = std::to_string(GetTickCount64());
        return root_ + name + "." + run;
    }
    std::string newFolder(const char* name) {
        std::string path = folderName(name);
        EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
        return path + "\\";
    }

    // Starts watcher, makes a new folder and holds the worker inside the
    // report of a file in it until gRecorders[0].release().
    void holdWorkerInReport(DirectoryWatcher& watcher, const char* name, std::string& folder) {
        ASSERT_TRUE(watcher.start(root(), &record<0>));
        folder = newFolder(name);
        gRecorders[0].blockAt(folder + "trigger");
        ASSERT_TRUE(makeFile(folder + "trigger"));
        ASSERT_TRUE(gRecorders[0].waitUntilBlocked()) << gRecorders[0].dump();
    }

    std::wstring root() const { return utf8ToWide(root_); }

    std::string root_;
};

}  // namespace

TEST_F(DirectoryWatcherTest, ModifiedFileDeepInNewFoldersIsReportedWithFullPath) {
    DirectoryWatcher watcher;
    ASSERT_TRUE(watcher.start(root(), &record<0>));
    EXPECT_TRUE(watcher.isRunning());
    std::string deep = newFolder("deep") + "Users";
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    deep += "\\Downloads";
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    std::string file = deep + "\\x.zip";
    ASSERT_TRUE(makeFile(file, "PK\x05\x06"));

    int at = gRecorders[0].waitFor(3, file);
    ASSERT_GE(at, 0) << gRecorders[0].dump();
    Report r = gRecorders[0].reports()[at];
    EXPECT_EQ(r.length, int(file.size()));
    EXPECT_NE(r.thread, GetCurrentThreadId());

    watcher.stop();
    EXPECT_FALSE(watcher.isRunning());
    // After stop nothing moves, so the current path is the last one reported.
    EXPECT_EQ(wideToUtf8(watcher.getCurrentPath()), gRecorders[0].reports().back().path);
}

// A callback may read the reported file through its watcher: the lock is
// re-entrant on the worker. The file's first "modified" record may come
// before its data is written; the one its write causes comes after.
TEST_F(DirectoryWatcherTest, CallbackCanReadTheCurrentFile) {
    DirectoryWatcher watcher;
    EXPECT_EQ(watcher.getCurrentPath(), L"");
    std::string file = folderName("readback.bin");
    const std::string contents("contents\0here", 13);
    UniqueHandle sawContents(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::string seenPath;
    gRecorders[0].setHook([&](const Report& r) {
        if (r.action != 3 || r.path != file) return;
        ByteArray bytes = watcher.readCurrentFile();
        if (std::string(bytes.begin(), bytes.end()) != contents) return;
        seenPath = wideToUtf8(watcher.getCurrentPath());
        SetEvent(sawContents.get());
    });
    ASSERT_TRUE(watcher.start(root(), &record<0>));
    ASSERT_TRUE(makeFile(file, contents));
    EXPECT_EQ(WaitForSingleObject(sawContents.get(), 30000), WAIT_OBJECT_0) << gRecorders[0].dump();
    watcher.stop();
    EXPECT_EQ(seenPath, file);
}

TEST_F(DirectoryWatcherTest, RenameGivesOldNameThenNewName) {
    DirectoryWatcher watcher;
    ASSERT_TRUE(watcher.start(root(), &record<0>));
    std::string folder = newFolder("rename");
    ASSERT_TRUE(makeFile(folder + "a.part"));
    ASSERT_GE(gRecorders[0].waitFor(1, folder + "a.part"), 0) << gRecorders[0].dump();
    ASSERT_TRUE(MoveFileA((folder + "a.part").c_str(), (folder + "a.zip").c_str()));
    int newAt = gRecorders[0].waitFor(5, folder + "a.zip");
    ASSERT_GE(newAt, 1) << gRecorders[0].dump();
    Report old = gRecorders[0].reports()[newAt - 1];
    EXPECT_EQ(old.action, 4);
    EXPECT_EQ(old.path, folder + "a.part");
}

// Changes made while the worker is busy reach it as one batch; its records are
// reported in order, each inside the watcher's lock.
TEST_F(DirectoryWatcherTest, BatchIsReportedInOrderUnderTheLock) {
    DirectoryWatcher watcher;
    std::string folder;
    ASSERT_NO_FATAL_FAILURE(holdWorkerInReport(watcher, "batch", folder));
    EXPECT_FALSE(watcher.reportLock().tryEnter()) << "a report runs outside the lock";

    const char* names[] = {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"};
    for (const char* n : names) ASSERT_TRUE(makeFile(folder + n));
    gRecorders[0].release();

    int previous = -1;
    for (const char* n : names) {
        int at = gRecorders[0].waitFor(1, folder + n);
        ASSERT_GT(at, previous) << n << "\n" << gRecorders[0].dump();
        previous = at;
    }
    // No report in progress now: the lock is free.
    watcher.stop();
    ASSERT_TRUE(watcher.reportLock().tryEnter());
    watcher.reportLock().leave();
}

// Names come as the file system holds them, whatever the ANSI code page
// can hold; the length counts UTF-16 units.
TEST_F(DirectoryWatcherTest, NamesArriveAsTheyAre) {
    DirectoryWatcher watcher;
    ASSERT_TRUE(watcher.start(root(), &record<0>));
    const std::string folder = newFolder("names");
    for (const char* name : {"下载.zip", "乗.zip", "泰\u0E01.txt", "资料😀한국어.zip"}) {
        const std::string path = folder + name;
        ASSERT_TRUE(makeFile(path)) << path;
        const int at = gRecorders[0].waitFor(1, path);
        ASSERT_GE(at, 0) << gRecorders[0].dump();
        EXPECT_EQ(gRecorders[0].reports()[at].length, int(utf8ToWide(path).size())) << path;
    }
}

TEST_F(DirectoryWatcherTest, StartOnMissingPathFailsAndStopIsHarmless) {
    {
        DirectoryWatcher never;  // destroyed without a start
    }
    DirectoryWatcher watcher;
    EXPECT_FALSE(watcher.start(root() + L"no-such-folder\\", &record<0>));
    EXPECT_FALSE(watcher.isRunning());
    watcher.stop();
    watcher.stop();
    EXPECT_EQ(watcher.getCurrentPath(), L"");

    // A running watcher refuses a second start and keeps watching.
    ASSERT_TRUE(watcher.start(root(), &record<0>));
    EXPECT_FALSE(watcher.start(root(), &record<1>));
    std::string folder = newFolder("again");
    ASSERT_GE(gRecorders[0].waitFor(1, folderName("again")), 0);
    EXPECT_EQ(gRecorders[1].count(), 0u);
    watcher.stop();
    watcher.stop();
}

// stop ends a worker blocked in its read without waiting for a change, and no
// report starts after it: a second watcher on the same root sees a later
// change that the stopped one never reports.
TEST_F(DirectoryWatcherTest, StopEndsBlockedWorkerAndNoReportFollows) {
    DirectoryWatcher stopped, witness;
    ASSERT_TRUE(stopped.start(root(), &record<0>));
    ASSERT_TRUE(witness.start(root(), &record<1>));

    std::function<void()> stopIt = [&] { stopped.stop(); };
    UniqueHandle stopper = runOnThread(&stopIt);
    ASSERT_EQ(WaitForSingleObject(stopper.get(), 30000), WAIT_OBJECT_0) << "stop hangs on a blocked read";
    EXPECT_FALSE(stopped.isRunning());

    size_t before = gRecorders[0].count();
    newFolder("after-stop");
    ASSERT_GE(gRecorders[1].waitFor(1, folderName("after-stop")), 0);
    EXPECT_EQ(gRecorders[0].count(), before) << gRecorders[0].dump();
}

// A callback may stop its own watcher without waiting for itself; no report
// follows, and the later stop on another thread joins the worker.
TEST_F(DirectoryWatcherTest, CallbackCanStopItsOwnWatcher) {
    DirectoryWatcher watcher, witness;
    gRecorders[0].setHook([&](const Report&) { watcher.stop(); });
    ASSERT_TRUE(watcher.start(root(), &record<0>));
    ASSERT_TRUE(witness.start(root(), &record<1>));
    newFolder("self-stop");
    ASSERT_GE(gRecorders[0].waitFor(1, folderName("self-stop")), 0);
    newFolder("self-stop-later");
    ASSERT_GE(gRecorders[1].waitFor(1, folderName("self-stop-later")), 0);
    EXPECT_EQ(gRecorders[0].count(), 1u) << gRecorders[0].dump();
    watcher.stop();
    EXPECT_FALSE(watcher.isRunning());
}

// stop while a report runs waits for that report, and the rest of its batch
// is never reported.
TEST_F(DirectoryWatcherTest, StopWaitsForReportInProgress) {
    DirectoryWatcher watcher;
    std::string folder;
    ASSERT_NO_FATAL_FAILURE(holdWorkerInReport(watcher, "stop-batch", folder));
    for (int i = 0; i < 5; i++) ASSERT_TRUE(makeFile(folder + std::to_string(i)));
    gRecorders[0].blockAt(folder + "0");
    gRecorders[0].release();
    ASSERT_TRUE(gRecorders[0].waitUntilBlocked());
    size_t reported = gRecorders[0].count();

    std::function<void()> stopIt = [&] { watcher.stop(); };
    UniqueHandle stopper = runOnThread(&stopIt);
    EXPECT_EQ(WaitForSingleObject(stopper.get(), 500), DWORD(WAIT_TIMEOUT)) << "stop returned during a report";
    gRecorders[0].release();
    ASSERT_EQ(WaitForSingleObject(stopper.get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(gRecorders[0].count(), reported) << gRecorders[0].dump();
}

// Each watcher has its own lock: two reports run at once when each waits for
// the other to start.
TEST_F(DirectoryWatcherTest, ReportsOfTwoWatchersRunAtTheSameTime) {
    HANDLE inside[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle own0(inside[0]), own1(inside[1]);
    bool metOther[2] = {false, false};
    for (int i = 0; i < 2; i++) {
        gRecorders[i].setHook([&, i](const Report&) {
            SetEvent(inside[i]);
            if (!metOther[i]) metOther[i] = WaitForSingleObject(inside[1 - i], 30000) == WAIT_OBJECT_0;
        });
    }
    DirectoryWatcher a, b;
    ASSERT_TRUE(a.start(root(), &record<0>));
    ASSERT_TRUE(b.start(root(), &record<1>));
    newFolder("together");
    ASSERT_GE(gRecorders[0].waitFor(1, folderName("together")), 0);
    ASSERT_GE(gRecorders[1].waitFor(1, folderName("together")), 0);
    a.stop();
    b.stop();
    EXPECT_TRUE(metOther[0]);
    EXPECT_TRUE(metOther[1]);
    for (Recorder& r : gRecorders) r.setHook(nullptr);
}

// More changes than the record buffer holds, made while the worker is busy:
// one report with action 0, and the watch goes on.
TEST_F(DirectoryWatcherTest, OverflowIsReportedOnceAndWatchingGoesOn) {
    DirectoryWatcher watcher;
    std::string folder;
    ASSERT_NO_FATAL_FAILURE(holdWorkerInReport(watcher, "overflow", folder));

    // About 420 bytes of records per file: 400 files are well past 64 KiB.
    std::string stem = folder + std::string(190, 'n');
    for (int i = 0; i < 400; i++) ASSERT_TRUE(makeFile(stem + std::to_string(i)));
    gRecorders[0].release();
    int lost = gRecorders[0].waitFor([](const Report& r) { return r.action == 0; });
    ASSERT_GE(lost, 1) << "no overflow report";
    // It names the path reported before it, unchanged.
    EXPECT_EQ(gRecorders[0].reports()[lost].path, gRecorders[0].reports()[lost - 1].path);

    ASSERT_TRUE(makeFile(folder + "later.zip"));
    ASSERT_GE(gRecorders[0].waitFor(1, folder + "later.zip"), 0);
    int zeros = 0;
    for (const Report& r : gRecorders[0].reports()) zeros += r.action == 0;
    EXPECT_EQ(zeros, 1);
}

TEST_F(DirectoryWatcherTest, DriveWatchersFollowTheDriveList) {
    const std::string letter = root_.substr(0, 1);
    // A letter with nothing behind it stays unwatched without harm.
    std::string missing;
    const DWORD drives = GetLogicalDrives();
    for (char l = 'Y'; l > 'D' && missing.empty(); --l)
        if (!(drives & (1u << (l - 'A')))) missing.assign(1, l);
    ASSERT_FALSE(missing.empty());

    DriveWatchers watchers(&record<0>);
    watchers.update({letter, missing}, true, nullptr);
    EXPECT_EQ(watchers.watchingCount(), 1);
    const std::string folder = newFolder("drives");
    ASSERT_TRUE(makeFile(folder + "a.zip", "x"));
    EXPECT_GE(gRecorders[0].waitFor([&](const Report& r) { return r.path == folder + "a.zip"; }), 0);

    // The drive leaves the list: its watcher goes. A plain watcher beside it
    // shows when the next change has been seen.
    watchers.update({missing}, true, nullptr);
    EXPECT_EQ(watchers.watchingCount(), 0);
    DirectoryWatcher sentinel;
    ASSERT_TRUE(sentinel.start(root(), &record<1>));
    gRecorders[0].reset();
    // Wine watches only the folders made after a watch began.
    const std::string later = newFolder("drives-gone");
    ASSERT_TRUE(makeFile(later + "b.zip", "x"));
    ASSERT_GE(gRecorders[1].waitFor([&](const Report& r) { return r.path == later + "b.zip"; }), 0);
    EXPECT_EQ(gRecorders[0].count(), 0u) << gRecorders[0].dump();

    // It comes back: watched again, and nothing has ended by itself.
    watchers.update({letter}, false, nullptr);
    EXPECT_EQ(watchers.watchingCount(), 1);
    EXPECT_FALSE(watchers.anyEnded());
    const std::string back = newFolder("drives-back");
    ASSERT_TRUE(makeFile(back + "c.zip", "x"));
    EXPECT_GE(gRecorders[0].waitFor([&](const Report& r) { return r.path == back + "c.zip"; }), 0);
}
