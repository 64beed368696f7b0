#pragma once
// What the exception probes share: their log file, opened for appending (a
// case may die at any line), and a fault of their own making.
#include <windows.h>

namespace kvprobe {

inline HANDLE OpenProbeLog(const wchar_t* path)
{
    return ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

[[gnu::noinline]] inline void WriteThroughNull()
{
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

} // namespace kvprobe
