#pragma once
// Helpers of the clean-target and size tests: restoring shared globals, small
// file trees and their listings, and the host-made fixtures.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SharedState.h"
#include "common/TestSupport.h"
#include "platform/Handles.h"

namespace kvtest {

// Sets a global for one test and puts the old value back.
template <class T>
class ScopedValue {
public:
    template <class V>
    ScopedValue(T& target, V value) : target_(target), saved_(std::move(target))
    {
        target_ = std::move(value);
    }
    ~ScopedValue() { target_ = std::move(saved_); }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    T& target_;
    T saved_;
};

// Clean Now runs with StopRequested 0; the idle value 1 stops folder emptying
// after its first entry.
class ScopedCleanRunning {
public:
    ScopedCleanRunning() : saved_(kv::StopRequested.exchange(0)) {}
    ~ScopedCleanRunning() { kv::StopRequested = saved_; }

private:
    std::int32_t saved_;
};

// Exact sizes: no cluster rounding on drive C while a test runs.
class ScopedNoClusterRounding {
public:
    ScopedNoClusterRounding() : saved_(kv::ClusterSizes) { kv::ClusterSizes.fill(0); }
    ~ScopedNoClusterRounding() { kv::ClusterSizes = saved_; }

private:
    std::array<std::uint32_t, 26> saved_;
};

inline void MakeFolder(const std::wstring& path) { kv::CreateFolderPath(path); }

inline void WriteSized(const std::wstring& path, std::size_t size, char fill = 'x')
{
    kv::CreateFolderPath(path);
    WriteBytes(path, std::string(size, fill));
}

inline DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }
// The attributes a clean must leave alone (the archive bit comes and goes with writes).
inline DWORD KeyAttributes(const std::wstring& path) { return Attributes(path) & ~FILE_ATTRIBUTE_ARCHIVE; }

// Every entry below `folder`, relative, folders with a trailing backslash.
inline std::set<std::wstring> TreeOf(const std::wstring& folder, const std::wstring& prefix = L"")
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    kv::FindHandle find(::FindFirstFileW((folder + L"*").c_str(), &entry));
    if (!find) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        const bool isLink = entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
        names.insert(prefix + name + (isFolder ? L"\\" : L""));
        if (isFolder && !isLink) {
            const auto inner = TreeOf(folder + name + L"\\", prefix + name + L"\\");
            names.insert(inner.begin(), inner.end());
        }
    } while (::FindNextFileW(find.Get(), &entry));
    return names;
}

// Host-made fixtures (tests/cleaner/engine/make-fixtures.sh, run by ctest).
inline std::wstring FixtureFolder() { return L"C:\\kvtest\\fixtures-targets\\"; }

#define KV_REQUIRE_FIXTURES()                                                                    \
    do {                                                                                         \
        if (!::kvtest::PathExists(::kvtest::FixtureFolder()))                                    \
            GTEST_SKIP() << "host fixtures missing: run through ctest (cleaner_engine_fixtures)"; \
    } while (0)

inline bool CopyFileTo(const std::wstring& from, const std::wstring& to)
{
    kv::CreateFolderPath(to);
    return ::CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

} // namespace kvtest
