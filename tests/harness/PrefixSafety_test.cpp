// The test prefix must not reach the host: no Z: drive for the host's root,
// every drive letter inside the scratch area, and Wine's trash (HOME,
// XDG_DATA_HOME) pointing into scratch folders.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/TestSupport.h"

namespace {

bool LooksLikeHostRoot(const std::wstring& root)
{
    static const wchar_t* const markers[] = {L"etc\\passwd", L"proc\\self", L"usr\\bin", L"work\\main", L"root"};
    int found = 0;
    for (const wchar_t* marker : markers)
        if (kvtest::PathExists(root + marker)) ++found;
    return found > 0;
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

TEST(PrefixSafety, DriveZDoesNotExist)
{
    EXPECT_FALSE(kvtest::PathExists(L"Z:\\"));
    EXPECT_EQ(::GetLogicalDrives() & (1u << ('Z' - 'A')), 0u);
}

TEST(PrefixSafety, NoDriveLetterReachesTheHostRoot)
{
    const DWORD drives = ::GetLogicalDrives();
    ASSERT_NE(drives & (1u << ('C' - 'A')), 0u) << "C: must exist";
    for (int letter = 0; letter < 26; ++letter) {
        if (!(drives & (1u << letter))) continue;
        const std::wstring root = std::wstring(1, static_cast<wchar_t>(L'A' + letter)) + L":\\";
        EXPECT_FALSE(LooksLikeHostRoot(root)) << "drive " << static_cast<char>('A' + letter);
        EXPECT_TRUE(letter == 'C' - 'A' || letter == 'D' - 'A') << "unexpected drive " << static_cast<char>('A' + letter);
    }
}

TEST(PrefixSafety, TrashAndHomeLieInScratchFolders)
{
    // Wine hands HOME to Windows programs as WINEHOMEDIR.
    for (const wchar_t* name : {L"WINEHOMEDIR", L"XDG_DATA_HOME"}) {
        const std::wstring value = Environment(name);
        EXPECT_FALSE(value.empty()) << "variable missing";
        EXPECT_TRUE(value.find(L"/scratch-") != std::wstring::npos || value.find(L"\\scratch-") != std::wstring::npos)
            << "environment variable outside scratch";
    }
}

// A crash must end the process with its exit code: Wine's debugger, which
// would wait instead, is switched off in the test prefix.
TEST(PrefixSafety, NoDebuggerStartsOnAFault)
{
    wchar_t debugger[256] = {};
    DWORD size = sizeof debugger;
    const LONG status = ::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug",
                                       L"Debugger", RRF_RT_REG_SZ, nullptr, debugger, &size);
    ASSERT_EQ(status, ERROR_SUCCESS);
    EXPECT_STREQ(debugger, L"");
}

} // namespace
