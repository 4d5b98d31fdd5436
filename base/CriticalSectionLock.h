// A Win32 critical section owned by one object. enter/leave pair up on the
// same thread; lock() returns a guard that leaves when it goes out of scope,
// so an early return or an exception cannot leave the section held.
#pragma once

#include <windows.h>

#include <utility>

class CriticalSectionLock {
public:
    CriticalSectionLock() { ::InitializeCriticalSection(&section_); }
    ~CriticalSectionLock() { ::DeleteCriticalSection(&section_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

    void enter() { ::EnterCriticalSection(&section_); }
    void leave() { ::LeaveCriticalSection(&section_); }
    // Enters only when no other thread holds the section; re-entrant for the owner.
    bool tryEnter() { return ::TryEnterCriticalSection(&section_) != FALSE; }

    class Guard {
    public:
        explicit Guard(CriticalSectionLock* owner) : owner_(owner) {}
        ~Guard() {
            if (owner_) owner_->leave();
        }
        Guard(Guard&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        Guard& operator=(Guard&&) = delete;

    private:
        CriticalSectionLock* owner_;
    };

    [[nodiscard]] Guard lock() {
        enter();
        return Guard(this);
    }

private:
    CRITICAL_SECTION section_;
};
