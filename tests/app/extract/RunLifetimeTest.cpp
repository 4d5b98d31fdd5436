// The run's lifetime with stand-in runs: a slow decoder that cleans up its
// partial file after a cancel, and a run that waits for a password.
#include "app/extract/RunLifetime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Waits (generously) for a condition another thread makes true.
template <typename Condition>
bool eventually(Condition done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(5ms);
    return done();
}

// A decoder that works in small steps until cancelled, then takes its time
// to remove its partial file, as the archive library does.
struct SlowDecoder {
    std::atomic<bool> partialFile{false}, done{false};
    void run(RunLifetime& life) {
        partialFile = true;
        while (!life.cancelled()) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(50ms);
        partialFile = false;
        done = true;
    }
};

TEST(RunLifetime, ASecondStartIsRefusedWhileARunIsAlive) {
    RunLifetime life;
    std::atomic<bool> release{false}, secondRan{false};
    ASSERT_TRUE(life.start([&] {
        while (!release) std::this_thread::sleep_for(1ms);
    }));
    EXPECT_EQ(life.state(), RunState::running);
    EXPECT_FALSE(life.start([&] { secondRan = true; }));
    life.cancel();  // cancelled but not ended: still alive, still refused
    EXPECT_EQ(life.state(), RunState::cancelling);
    EXPECT_FALSE(life.start([&] { secondRan = true; }));
    release = true;
    ASSERT_TRUE(eventually([&] { return life.state() == RunState::ended; }));
    EXPECT_TRUE(life.alive()) << "ended but not joined";
    ASSERT_TRUE(life.start([&] { secondRan = true; })) << "an ended run is joined by the next start";
    ASSERT_TRUE(eventually([&] { return secondRan.load(); }));
    life.stop();
    EXPECT_EQ(life.state(), RunState::idle);
    EXPECT_FALSE(life.alive());
}

TEST(RunLifetime, StopWaitsUntilASlowRunHasRemovedItsPartialFile) {
    SlowDecoder decoder;
    RunLifetime life;
    ASSERT_TRUE(life.start([&] { decoder.run(life); }));
    ASSERT_TRUE(eventually([&] { return decoder.partialFile.load(); }));
    life.stop();
    EXPECT_TRUE(decoder.done);
    EXPECT_FALSE(decoder.partialFile);
    EXPECT_EQ(life.state(), RunState::idle);
    EXPECT_FALSE(life.alive());
}

TEST(RunLifetime, TheDestructorStopsARunningRun) {
    SlowDecoder decoder;
    {
        RunLifetime life;
        ASSERT_TRUE(life.start([&] { decoder.run(life); }));
        ASSERT_TRUE(eventually([&] { return decoder.partialFile.load(); }));
    }
    EXPECT_TRUE(decoder.done);
    EXPECT_FALSE(decoder.partialFile);
}

// The password question: answered, refused, ignored when not asked, and cut
// short by a stop (the program ending while the dialog is up).
TEST(RunLifetime, PasswordQuestions) {
    struct Case {
        const char* what;
        bool askPosted;   // the question reached the owner's thread
        int ownerAction;  // 0 answer "pw", 1 answer nothing (取消), 2 stop
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"answered", true, 0, "pw"},
        {"cancelled dialog", true, 1, std::nullopt},
        {"stopped while asked", true, 2, std::nullopt},
        {"question not posted", false, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunLifetime life;
        life.answerPassword("stale");  // no question yet: ignored
        std::atomic<bool> asked{false}, answered{false};
        std::optional<std::string> got = "unset";
        ASSERT_TRUE(life.start([&] {
            got = life.waitForPassword([&] {
                asked = true;
                return c.askPosted;
            });
            answered = true;
        }));
        ASSERT_TRUE(eventually([&] { return asked.load(); }));
        if (c.askPosted) {
            ASSERT_TRUE(eventually([&] { return life.state() == RunState::askingPassword; }));
            if (c.ownerAction == 0) life.answerPassword("pw");
            if (c.ownerAction == 1) life.answerPassword(std::nullopt);
            if (c.ownerAction == 2) life.stop();
        }
        ASSERT_TRUE(eventually([&] { return answered.load(); }));
        life.stop();
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(life.state(), RunState::idle);
    }
}

TEST(RunLifetime, ARunThatThrowsEndsWithoutTakingTheProcess) {
    RunLifetime life;
    ASSERT_TRUE(life.start([] { throw std::runtime_error("decoder failed"); }));
    ASSERT_TRUE(eventually([&] { return life.state() == RunState::ended; }));
    life.joinEnded();
    EXPECT_EQ(life.state(), RunState::idle);
    EXPECT_FALSE(life.alive());
}

}  // namespace
