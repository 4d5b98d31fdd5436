// One move-only owner for every kind of Windows handle: files, threads,
// events, GDI objects, icons, menus, find handles. Each kind is a typedef
// naming its "invalid" value and the call that releases it.
#pragma once

#include <windows.h>

#include <utility>

// Traits name the handle type, its invalid value and how to release it.
template <typename Traits>
class UniqueAny {
public:
    using T = typename Traits::Type;

    UniqueAny() = default;
    explicit UniqueAny(T value) : value_(value) {}
    ~UniqueAny() { reset(); }

    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::invalid(); }

    // Hands ownership to the caller.
    T release() { return std::exchange(value_, Traits::invalid()); }

    void reset(T value = Traits::invalid()) {
        T old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }

    // For APIs that fill a handle through a pointer.
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Traits::invalid();
};

template <typename H, auto Close, bool InvalidIsMinusOne = false>
struct HandleTraits {
    using Type = H;
    static H invalid() { return InvalidIsMinusOne ? reinterpret_cast<H>(static_cast<INT_PTR>(-1)) : H{}; }
    static void close(H h) { Close(h); }
};

namespace detail {
inline void closeHandle(HANDLE h) { ::CloseHandle(h); }
inline void deleteObject(HGDIOBJ h) { ::DeleteObject(h); }
inline void destroyIcon(HICON h) { ::DestroyIcon(h); }
inline void destroyMenu(HMENU h) { ::DestroyMenu(h); }
inline void destroyWindow(HWND h) { ::DestroyWindow(h); }
inline void findClose(HANDLE h) { ::FindClose(h); }
inline void deleteDc(HDC h) { ::DeleteDC(h); }
}  // namespace detail

// Thread, event and directory handles: invalid is null.
using UniqueHandle = UniqueAny<HandleTraits<HANDLE, detail::closeHandle>>;
// CreateFile and FindFirstFile fail with INVALID_HANDLE_VALUE, not null.
using UniqueFile = UniqueAny<HandleTraits<HANDLE, detail::closeHandle, true>>;
using UniqueFind = UniqueAny<HandleTraits<HANDLE, detail::findClose, true>>;
using UniqueHfont = UniqueAny<HandleTraits<HFONT, detail::deleteObject>>;
using UniqueHbitmap = UniqueAny<HandleTraits<HBITMAP, detail::deleteObject>>;
using UniqueHbrush = UniqueAny<HandleTraits<HBRUSH, detail::deleteObject>>;
using UniqueHpen = UniqueAny<HandleTraits<HPEN, detail::deleteObject>>;
using UniqueHrgn = UniqueAny<HandleTraits<HRGN, detail::deleteObject>>;
using UniqueHicon = UniqueAny<HandleTraits<HICON, detail::destroyIcon>>;
using UniqueHmenu = UniqueAny<HandleTraits<HMENU, detail::destroyMenu>>;
using UniqueHwnd = UniqueAny<HandleTraits<HWND, detail::destroyWindow>>;
using UniqueHdc = UniqueAny<HandleTraits<HDC, detail::deleteDc>>;

// Restores the object that SelectObject replaced when it goes out of scope.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? ::SelectObject(dc, obj) : nullptr) {}
    ~SelectGuard() {
        if (old_) ::SelectObject(dc_, old_);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Releases a DC obtained with GetDC.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    ~WindowDc() {
        if (dc_) ::ReleaseDC(hwnd_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};
