#include "base/ThreadHelpers.h"

#include <gtest/gtest.h>

#include "base/CriticalSectionLock.h"

namespace {

struct TryFromOtherThread {
    CriticalSectionLock* lock;
    bool entered = false;
};

DWORD WINAPI tryEnterAndLeave(void* p) {
    auto* probe = static_cast<TryFromOtherThread*>(p);
    probe->entered = probe->lock->tryEnter();
    if (probe->entered) probe->lock->leave();
    return 0;
}

// Whether another thread could enter the lock right now (it leaves again at once).
bool otherThreadCanEnter(CriticalSectionLock& lock) {
    TryFromOtherThread probe{&lock};
    UniqueHandle thread = startThread(&tryEnterAndLeave, &probe);
    EXPECT_TRUE(thread);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0);
    return probe.entered;
}

}  // namespace

TEST(CriticalSectionLock, GuardHoldsUntilItsScopeEnds) {
    CriticalSectionLock lock;
    {
        auto guard = lock.lock();
        EXPECT_FALSE(otherThreadCanEnter(lock));
        EXPECT_TRUE(lock.tryEnter());  // re-entrant for the owner
        lock.leave();
        EXPECT_FALSE(otherThreadCanEnter(lock));
    }
    EXPECT_TRUE(otherThreadCanEnter(lock));

    lock.enter();
    EXPECT_FALSE(otherThreadCanEnter(lock));
    lock.leave();
    EXPECT_TRUE(otherThreadCanEnter(lock));
}

// A moved guard leaves once: with the lock entered twice, one level remains.
TEST(CriticalSectionLock, MovedGuardLeavesOnce) {
    CriticalSectionLock lock;
    lock.enter();
    {
        auto first = lock.lock();
        auto second = std::move(first);
    }
    EXPECT_FALSE(otherThreadCanEnter(lock));
    lock.leave();
    EXPECT_TRUE(otherThreadCanEnter(lock));
}

TEST(ThreadHelpers, GdiPlusStartsAndLaterCallsAgree) {
    EXPECT_TRUE(startGdiPlus());
    EXPECT_TRUE(startGdiPlus());
}
