#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "crashreport/core/ESystem.h"
#include "platform/Registry.h"

namespace {

class RegistryStrings : public ::testing::Test {
protected:
    static constexpr const char* kKey = "Software\\Orbelune\\KestrelvaneTests\\CrashCore";
    void SetUp() override { ::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr); }
    void TearDown() override
    {
        ::RegCloseKey(key_);
        // Only our own key: the settings tests of another executable work
        // beside it, under the same parent, at the same time.
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\Orbelune\\KestrelvaneTests\\CrashCore");
    }
    void SetRaw(const char* name, std::string_view bytes)
    {
        ::RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()));
    }
    HKEY key_ = nullptr;
};

// Trailing NULs go, real characters stay, an empty value is empty.
TEST_F(RegistryStrings, OnlyTrailingNulsAreDropped)
{
    SetRaw("Terminated", std::string("abc\0", 4));
    SetRaw("Unterminated", "abc");
    SetRaw("Padded", std::string("abc\0\0\0", 6));
    SetRaw("Empty", "");
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {{"Terminated", "abc"}, {"Unterminated", "abc"}, {"Padded", "abc"}, {"Empty", ""}, {"Missing", ""}};
    for (const auto& c : cases) EXPECT_EQ(kv::crashreport::ReadRegistryString(HKEY_CURRENT_USER, kKey, c.name), c.expected) << c.name;
    EXPECT_EQ(kv::crashreport::ReadRegistryString(HKEY_CURRENT_USER, std::string("\\") + kKey, "Terminated"), "abc");
    EXPECT_EQ(kv::crashreport::ReadRegistryString(HKEY_CURRENT_USER, "Software\\NoSuchKeyForKv", "x"), "");
}

TEST(ESystem, ReadableMemory)
{
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    const std::size_t page = info.dwPageSize;
    auto* block = static_cast<char*>(::VirtualAlloc(nullptr, 3 * page, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(block, nullptr);
    ::VirtualAlloc(block, page, MEM_COMMIT, PAGE_READWRITE);
    ::VirtualAlloc(block + 2 * page, page, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD);

    EXPECT_TRUE(kv::crashreport::IsReadableMemory(block, page));
    EXPECT_FALSE(kv::crashreport::IsReadableMemory(block + page - 4, 8));   // committed into reserved
    EXPECT_FALSE(kv::crashreport::IsReadableMemory(block + 2 * page, 4));   // guard page
    EXPECT_FALSE(kv::crashreport::IsReadableMemory(nullptr, 4));
    int local = 0;
    EXPECT_TRUE(kv::crashreport::IsReadableMemory(&local, sizeof local));
    ::VirtualFree(block, 0, MEM_RELEASE);
}

TEST(ESystem, ImportThunkResolution)
{
    // jmp [cell] with the cell holding the target.
    static const void* cell = reinterpret_cast<const void*>(&kv::crashreport::IsELDataMagic);
    unsigned char thunk[8] = {0xFF, 0x25};
    const void* cellAddress = &cell;
    std::memcpy(thunk + 2, &cellAddress, 4);
    EXPECT_EQ(kv::crashreport::ResolveImportThunk(thunk), cell);
    const unsigned char plain[8] = {0x55, 0x89, 0xE5};
    EXPECT_EQ(kv::crashreport::ResolveImportThunk(plain), plain);
}

TEST(ESystem, VersionAndMagic)
{
    EXPECT_TRUE(kv::crashreport::ReporterVersionMatches(6000));
    EXPECT_TRUE(kv::crashreport::ReporterVersionMatches(6100));
    EXPECT_FALSE(kv::crashreport::ReporterVersionMatches(5999));
    EXPECT_FALSE(kv::crashreport::ReporterVersionMatches(6101));
    EXPECT_TRUE(kv::crashreport::IsELDataMagic(0x100FAB10));
    EXPECT_TRUE(kv::crashreport::IsELDataMagic(0x000FAB10));
    EXPECT_FALSE(kv::crashreport::IsELDataMagic(0x100FAB11));
}

TEST(ESystem, OperatingSystemNames)
{
    const struct {
        DWORD platform, major, minor;
        BYTE product;
        const char* servicePack;
        bool wow64;
        const char* expected;
    } cases[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0, " B ", false, "Microsoft Windows 95 OSR 2"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0, "A", false, "Microsoft Windows 98 SE"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, 0, "", false, "Microsoft Windows ME"},
        {VER_PLATFORM_WIN32_NT, 4, 0, 1, "", false, "Microsoft Windows NT 4.0"},
        {VER_PLATFORM_WIN32_NT, 5, 2, 1, "", false, "Microsoft Windows XP"},
        {VER_PLATFORM_WIN32_NT, 5, 2, 3, "", false, "Microsoft Windows 2003"},
        {VER_PLATFORM_WIN32_NT, 6, 0, 2, "", false, "Microsoft Windows Server 2008"},
        {VER_PLATFORM_WIN32_NT, 6, 1, 1, "", true, "Microsoft Windows 7 (64 bit)"},
        {VER_PLATFORM_WIN32_NT, 10, 0, 1, "", false, "Microsoft Windows 10.0"},
    };
    for (const auto& c : cases) {
        OSVERSIONINFOEXA v{};
        v.dwPlatformId = c.platform;
        v.dwMajorVersion = c.major;
        v.dwMinorVersion = c.minor;
        v.wProductType = c.product;
        std::strcpy(v.szCSDVersion, c.servicePack);
        EXPECT_EQ(kv::crashreport::DescribeOS(v, c.wow64), c.expected);
    }
    EXPECT_EQ(kv::crashreport::GetOSDescription().rfind("Microsoft Windows ", 0), 0u);
}

TEST(ESystem, ModulesAndProcess)
{
    EXPECT_EQ(kv::crashreport::OwnModuleHandle(), ::GetModuleHandleA(nullptr)); // the reporter is linked in
    EXPECT_EQ(kv::crashreport::GetModuleFullName(nullptr), kv::crashreport::GetExeFileName());
    EXPECT_TRUE(kv::crashreport::ModuleHasFileName(::GetModuleHandleA("kernel32.dll")));
    EXPECT_FALSE(kv::crashreport::IsHostIDE());
    EXPECT_TRUE(kv::crashreport::IsHostIDEFileName("C:\\Tools\\kvdevhost.exe"));
    EXPECT_TRUE(kv::crashreport::HandleIsValid(::GetCurrentProcess()));
    EXPECT_FALSE(kv::crashreport::HandleIsValid(reinterpret_cast<HANDLE>(0x7FFFFFF0)));
    EXPECT_TRUE(kv::crashreport::IsThreadRunning(::GetCurrentThread()));
    EXPECT_GT(kv::crashreport::GetStackTop(), kv::crashreport::GetStackPointer());
    EXPECT_EQ(kv::crashreport::FileDateOf("C:\\no\\such\\file.txt"), 0);
    EXPECT_FALSE(kv::crashreport::GetTempPathText().empty());
    EXPECT_FALSE(kv::crashreport::GetCommandLineText().empty());
    EXPECT_FALSE(kv::crashreport::GetComputerNameText().empty());
}

TEST(ESystem, ShortPathsBecomeLong)
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "Kestrelvane long folder name\\";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    char shortName[MAX_PATH] = {};
    ::GetShortPathNameA(folder.c_str(), shortName, MAX_PATH);
    char longTemp[MAX_PATH] = {};
    ::GetLongPathNameA(folder.c_str(), longTemp, MAX_PATH);
    if (std::string(shortName).find('~') != std::string::npos) {
        EXPECT_EQ(kv::crashreport::ShortToLongPath(shortName), longTemp);
    }
    EXPECT_EQ(kv::crashreport::ShortToLongPath("C:\\plain\\path"), "C:\\plain\\path");
    ::RemoveDirectoryA(folder.c_str());
}

TEST(ESystem, OutOfMemoryReserve)
{
    kv::crashreport::ReserveOutOfMemorySpace();
    EXPECT_TRUE(kv::crashreport::OutOfMemorySpaceReserved());
    kv::crashreport::ReserveOutOfMemorySpace(); // once only
    kv::crashreport::ReleaseOutOfMemorySpace();
    EXPECT_FALSE(kv::crashreport::OutOfMemorySpaceReserved());
    kv::crashreport::ReleaseOutOfMemorySpace();
}

} // namespace
