#pragma once
// Thin RAII owners for Win32 handles.  Each closes exactly once.
#include <windows.h>
#include <utility>

namespace win {

template <class Traits>
class UniqueHandle {
public:
    using pointer = typename Traits::pointer;
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer h) noexcept : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    pointer get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return Traits::valid(h_); }
    pointer release() noexcept { return std::exchange(h_, Traits::invalid()); }
    void reset(pointer h = Traits::invalid()) noexcept {
        if (Traits::valid(h_)) Traits::close(h_);
        h_ = h;
    }
    // For out-parameters: releases the current value first.
    pointer* put() noexcept { reset(); return &h_; }

private:
    pointer h_ = Traits::invalid();
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
    static pointer invalid() { return nullptr; }
    static bool valid(pointer h) { return h != nullptr; }
    static void close(pointer h) { ::DestroyIcon(h); }
};
struct GdiTraits {
    using pointer = HGDIOBJ;
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
