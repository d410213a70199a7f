#pragma once
// Thin RAII owners for Win32 handles.  Each closes exactly once.
//
// Icons and GDI objects (bitmaps, brushes, fonts) are counted while they
// live, from the moment an owner adopts one to its destruction by an owner,
// so a test can see whether code leaves pictures behind (the system's own
// count is not there under Wine).  A handle an owner releases is still alive
// and stays counted.
#include <windows.h>

#include <atomic>
#include <utility>

namespace win {

template <class Traits>
class UniqueHandle {
public:
    using pointer = typename Traits::pointer;
    static constexpr bool kCounted = requires { Traits::counted; };

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer h) noexcept : h_(h) { Adopted(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) {
            Close();
            h_ = o.release();
        }
        return *this;
    }
    ~UniqueHandle() { Close(); }

    pointer get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return Traits::valid(h_); }
    pointer release() noexcept { return std::exchange(h_, Traits::invalid()); }
    void reset(pointer h = Traits::invalid()) noexcept {
        Close();
        h_ = h;
        Adopted();
    }
    // For out-parameters: releases the current value first.  Not for counted
    // kinds, whose handle would arrive unseen.
    pointer* put() noexcept requires(!kCounted) { reset(); return &h_; }

    // Objects of this kind alive that an owner adopted.
    static long Live() noexcept requires kCounted { return live_.load(); }

private:
    void Adopted() noexcept {
        if constexpr (kCounted)
            if (Traits::valid(h_)) ++live_;
    }
    void Close() noexcept {
        if (!Traits::valid(h_)) return;
        Traits::close(h_);
        if constexpr (kCounted) --live_;
        h_ = Traits::invalid();
    }
    pointer h_ = Traits::invalid();
    static inline std::atomic<long> live_{0};
};

struct KernelHandleTraits {  // OpenProcess, OpenThread, CreateEvent...: NULL is invalid
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static bool valid(pointer h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(pointer h) { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile, CreateToolhelp32Snapshot: INVALID_HANDLE_VALUE is invalid
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(pointer h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(pointer h) { ::CloseHandle(h); }
};
struct RegKeyTraits {
    using pointer = HKEY;
    static pointer invalid() { return nullptr; }
    static bool valid(pointer h) { return h != nullptr; }
    static void close(pointer h) { ::RegCloseKey(h); }
};
struct IconTraits {
    using pointer = HICON;
    static constexpr bool counted = true;
    static pointer invalid() { return nullptr; }
    static bool valid(pointer h) { return h != nullptr; }
    static void close(pointer h) { ::DestroyIcon(h); }
};
struct GdiTraits {
    using pointer = HGDIOBJ;
    static constexpr bool counted = true;
    static pointer invalid() { return nullptr; }
    static bool valid(pointer h) { return h != nullptr; }
    static void close(pointer h) { ::DeleteObject(h); }
};
struct WindowTraits {
    using pointer = HWND;
    static pointer invalid() { return nullptr; }
    static bool valid(pointer h) { return h != nullptr; }
    static void close(pointer h) { if (::IsWindow(h)) ::DestroyWindow(h); }
};

using Handle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using Icon = UniqueHandle<IconTraits>;
using GdiObject = UniqueHandle<GdiTraits>;
using Window = UniqueHandle<WindowTraits>;

}  // namespace win
