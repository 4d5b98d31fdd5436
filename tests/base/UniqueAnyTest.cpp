#include "base/UniqueAny.h"

#include <gtest/gtest.h>

#include <utility>

TEST(UniqueAny, ClosesOnceAndMovesOwnership) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    HANDLE raw = event.get();
    UniqueHandle moved(std::move(event));
    EXPECT_FALSE(event);
    EXPECT_EQ(moved.get(), raw);
    moved.reset();
    EXPECT_FALSE(moved);
    // The handle is closed: waiting on it now fails.
    EXPECT_EQ(WaitForSingleObject(raw, 0), WAIT_FAILED);
}

TEST(UniqueAny, FileHandleTreatsInvalidHandleValueAsEmpty) {
    UniqueFile missing(CreateFileA("Z:\\no\\such\\file.zip", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.get(), INVALID_HANDLE_VALUE);
    UniqueFile empty;
    EXPECT_EQ(empty.get(), INVALID_HANDLE_VALUE);
}

TEST(UniqueAny, GdiObjectsAreReleased) {
    DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    {
        UniqueHbrush brush(CreateSolidBrush(RGB(1, 2, 3)));
        ASSERT_TRUE(brush);
    }
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), before);
}
