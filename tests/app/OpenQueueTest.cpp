// The order in which finished downloads and opened archives are shown.
#include "app/OpenQueue.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct OpenQueueTest : testing::Test {
    OpenQueue queue;
    std::set<std::wstring> gone;
    std::optional<QueuedArchive> next() {
        return queue.advance([&](const std::wstring& p) { return !gone.count(p); });
    }
    // The paths shown one after another until none is left.
    std::vector<std::wstring> drain() {
        std::vector<std::wstring> shown;
        while (auto a = next()) shown.push_back(a->path);
        return shown;
    }
};

using Paths = std::vector<std::wstring>;

}  // namespace

TEST_F(OpenQueueTest, DownloadsInTheOrderTheyFinishedEachOnce) {
    for (const wchar_t* p : {L"C:\\a.zip", L"C:\\b.zip", L"C:\\a.zip", L"C:\\c.zip"}) queue.addDownload(p);
    EXPECT_FALSE(queue.showing());
    EXPECT_EQ(queue.waiting(), 3u);
    ASSERT_TRUE(next());
    EXPECT_EQ(*queue.current(), (QueuedArchive{L"C:\\a.zip", OpenWay::Remind}));
    queue.addDownload(L"C:\\a.zip");  // the one shown is not added again
    EXPECT_EQ(waitingLabel(queue.waiting()), "还有2个");
    EXPECT_EQ(drain(), (Paths{L"C:\\b.zip", L"C:\\c.zip"}));
    EXPECT_FALSE(queue.showing());
}

TEST_F(OpenQueueTest, OpenedArchivesGoAheadOfDownloads) {
    queue.addDownload(L"C:\\d1.zip");
    queue.addDownload(L"C:\\d2.zip");
    ASSERT_TRUE(next());  // d1 is reminded
    queue.addOpened({L"C:\\o1.zip", L"C:\\o2.zip"}, OpenWay::List);
    queue.addOpened({L"C:\\d2.zip"}, OpenWay::Extract);  // a waiting download moves up
    // The reminded download pushed aside waits again, first among the downloads.
    queue.putBackCurrent();
    const Paths order{L"C:\\o1.zip", L"C:\\o2.zip", L"C:\\d2.zip", L"C:\\d1.zip"};
    ASSERT_TRUE(queue.peek());
    EXPECT_EQ(queue.peek()->way, OpenWay::List);
    EXPECT_EQ(drain(), order);
}

TEST_F(OpenQueueTest, GoneDownloadsAreDroppedOpenedOnesStay) {
    for (const wchar_t* p : {L"C:\\a.zip", L"C:\\b.zip", L"C:\\c.zip"}) queue.addDownload(p);
    queue.addOpened({L"C:\\missing.zip"}, OpenWay::List);
    gone = {L"C:\\a.zip", L"C:\\c.zip", L"C:\\missing.zip"};
    // The user is told a missing archive is missing; a deleted download is simply not reminded.
    EXPECT_EQ(drain(), (Paths{L"C:\\missing.zip", L"C:\\b.zip"}));
}

TEST_F(OpenQueueTest, BoundDropsTheLongestWaiting) {
    for (int i = 0; i < 70; ++i) queue.addDownload(L"C:\\" + std::to_wstring(i) + L".zip");
    EXPECT_EQ(queue.waiting(), OpenQueue::kBound);
    queue.addOpened({L"C:\\o.zip"}, OpenWay::List);
    EXPECT_EQ(queue.waiting(), OpenQueue::kBound);
    const Paths shown = drain();
    ASSERT_EQ(shown.size(), OpenQueue::kBound);
    EXPECT_EQ(shown.front(), L"C:\\o.zip");
    EXPECT_EQ(shown[1], L"C:\\7.zip");  // 0 to 6 went
    EXPECT_EQ(shown.back(), L"C:\\69.zip");
}

TEST(OpenQueueLabel, WaitingCountUpTo99Plus) {
    const std::pair<size_t, const char*> cases[] = {{0, ""}, {1, "还有1个"}, {2, "还有2个"}, {99, "还有99个"},
                                                    {100, "还有99+个"}, {64000, "还有99+个"}};
    for (const auto& [n, label] : cases) EXPECT_EQ(waitingLabel(n), label) << n;
}
