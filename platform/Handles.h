#pragma once
// Scoped owners for Windows handles. Each owner knows its invalid value and how
// to close; the cleaner and the reporter never call CloseHandle and friends
// directly.
#include <windows.h>

#include <cstdint>
#include <objbase.h>

#include <utility>

namespace kv {

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
    explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Type Get() const noexcept { return handle_; }
    bool IsValid() const noexcept { return handle_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    Type Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Type handle = Traits::Invalid()) noexcept
    {
        if (IsValid()) Traits::Close(handle_);
        handle_ = handle;
    }
    // For APIs that return the handle through an out parameter.
    Type* Receive() noexcept
    {
        Reset();
        return &handle_;
    }

private:
    Type handle_;
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
struct MapViewTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { ::UnmapViewOfFile(p); }
};
struct GlobalMemoryTraits {
    using Type = HGLOBAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::GlobalFree(h); }
};

// Memory that VirtualAlloc reserved or committed (code written at run time).
template <class T>
struct VirtualMemoryTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { ::VirtualFree(p, 0, MEM_RELEASE); }
};

struct CreatedDCTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteDC(h); }
};
// Memory the shell and COM hand out (item id lists, strings).
template <class T>
struct CoTaskMemoryTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { ::CoTaskMemFree(p); }
};
// Memory that LocalAlloc made (argument lists, SID strings, system messages).
template <class T>
struct LocalMemoryTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { ::LocalFree(p); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;
using ModuleHandle = UniqueHandle<ModuleTraits>;
using MapView = UniqueHandle<MapViewTraits>;
using GlobalMemory = UniqueHandle<GlobalMemoryTraits>;
// A device context that CreateCompatibleDC or CreateDC made.
using CreatedDC = UniqueHandle<CreatedDCTraits>;
template <class T = std::uint8_t>
using VirtualMemory = UniqueHandle<VirtualMemoryTraits<T>>;
template <class T>
using CoTaskMemory = UniqueHandle<CoTaskMemoryTraits<T>>;
template <class T>
using LocalMemory = UniqueHandle<LocalMemoryTraits<T>>;

// The device context of a window (or of the screen, for nullptr), released
// to that window.
class WindowDC {
public:
    explicit WindowDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDC()
    {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;

    HDC Get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// One reference to a COM interface.
template <class Interface>
class ComRef {
public:
    ComRef() noexcept = default;
    explicit ComRef(Interface* pointer) noexcept : pointer_(pointer) {}
    ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept
    {
        if (this != &other) Reset(std::exchange(other.pointer_, nullptr));
        return *this;
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { Reset(); }

    Interface* operator->() const noexcept { return pointer_; }
    Interface* Get() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }
    void Reset(Interface* pointer = nullptr) noexcept
    {
        if (pointer_) pointer_->Release();
        pointer_ = pointer;
    }
    // For CoCreateInstance and QueryInterface.
    void** Receive() noexcept
    {
        Reset();
        return reinterpret_cast<void**>(&pointer_);
    }

private:
    Interface* pointer_ = nullptr;
};

} // namespace kv
