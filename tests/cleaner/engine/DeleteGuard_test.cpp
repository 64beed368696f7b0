#include <windows.h>

#include <gtest/gtest.h>

#include <shlobj.h>

#include "cleaner/engine/CleanTargets.h"
#include "cleaner/engine/DeleteGuard.h"
#include "cleaner/engine/FunctionUnit.h"
#include "CleanTargetsTestSupport.h"

namespace {

using kvtest::PathExists;

std::wstring KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return std::wstring(path) + L"\\";
}

std::wstring ParentOf(std::wstring folder)
{
    folder.pop_back();
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// A sentinel file that only a broken guard could delete: the mask matches it
// alone, so even then nothing else in the protected folder is touched.
class Sentinel {
public:
    explicit Sentinel(std::wstring folder) : folder_(std::move(folder))
    {
        kvtest::WriteBytes(Path(), "sentinel");
    }
    ~Sentinel() { ::DeleteFileW(Path().c_str()); }
    std::wstring Path() const { return folder_ + Name(); }
    static const wchar_t* Name() { return L"kv-guard-sentinel.tmp"; }

private:
    std::wstring folder_;
};

TEST(DeleteGuard, CanonicalFolderAcceptsOnlyAbsoluteFolders)
{
    EXPECT_EQ(kv::CanonicalFolder(L"C:\\kvtest\\a\\..\\b"), L"C:\\kvtest\\b\\");
    EXPECT_EQ(kv::CanonicalFolder(L"C:/kvtest/b/"), L"C:\\kvtest\\b\\");
    for (const wchar_t* text : {L"", L"kvtest\\", L"\\kvtest\\", L"C:kvtest\\", L"\\\\?\\C:\\kvtest\\", L"\\\\.\\C:\\"})
        EXPECT_EQ(kv::CanonicalFolder(text), L"") << testing::PrintToString(std::wstring(text));
}

TEST(DeleteGuard, ProtectsRootsKeyFoldersAndTheirAncestors)
{
    const kv::TDeleteGuard guard;
    const std::wstring windows = kv::GetWindowsFolder() + L"\\";
    const std::wstring profile = KnownFolder(CSIDL_PROFILE);
    const std::wstring programs = KnownFolder(CSIDL_PROGRAM_FILES);
    const std::wstring refused[] = {L"C:\\", L"c:", L"D:\\", windows, KnownFolder(CSIDL_SYSTEM), profile,
                                    ParentOf(profile), programs, KnownFolder(CSIDL_APPDATA),
                                    kvtest::ExecutableFolder(), L"c:\\WINDOWS\\.\\", L"C:/windows/",
                                    kv::GetShortPath(programs), L"\\\\?\\C:\\kvtest\\", L"relative\\"};
    for (const std::wstring& folder : refused)
        EXPECT_FALSE(guard.MayEmptyFolder(folder)) << testing::PrintToString(folder);
    const std::wstring allowed[] = {windows + L"Temp\\", profile + L"AppData\\Local\\Temp\\",
                                    kvtest::ScratchFolder(L"guard-allowed")};
    for (const std::wstring& folder : allowed)
        EXPECT_TRUE(guard.MayEmptyFolder(folder)) << testing::PrintToString(folder);
}

TEST(DeleteGuard, FolderEmptyingRefusesProtectedFoldersWhateverTheSpelling)
{
    kvtest::ScopedCleanRunning running;
    const std::wstring windows = kv::GetWindowsFolder() + L"\\";
    const std::wstring profile = KnownFolder(CSIDL_PROFILE);
    const std::wstring folders[] = {L"C:\\", windows, KnownFolder(CSIDL_SYSTEM), profile, ParentOf(profile),
                                    KnownFolder(CSIDL_PROGRAM_FILES)};
    for (const std::wstring& folder : folders) {
        const Sentinel sentinel(folder);
        ASSERT_TRUE(PathExists(sentinel.Path()));
        kv::DeleteFolderContents(folder, Sentinel::Name(), false);
        kv::DeleteFolderContents(kv::GetShortPath(folder), Sentinel::Name(), true);
        EXPECT_TRUE(PathExists(sentinel.Path())) << testing::PrintToString(folder);
    }
    // The same mask in an ordinary folder does delete: the sentinel is a fair test.
    const std::wstring controlFolder = kvtest::ScratchFolder(L"guard-control");
    const Sentinel control(controlFolder);
    kv::DeleteFolderContents(controlFolder, Sentinel::Name(), false);
    EXPECT_FALSE(PathExists(control.Path()));
}

TEST(DeleteGuard, TempCleaningRefusesATempVariableThatNamesAKeyFolder)
{
    kvtest::ScopedCleanRunning running;
    const std::wstring windows = kv::GetWindowsFolder() + L"\\";
    const std::wstring profile = KnownFolder(CSIDL_PROFILE);
    wchar_t savedTmp[MAX_PATH] = {}, savedTemp[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
    ::GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
    for (const std::wstring& folder : {std::wstring(L"C:\\"), windows, profile}) {
        ::SetEnvironmentVariableW(L"TMP", folder.c_str());
        ::SetEnvironmentVariableW(L"TEMP", folder.c_str());
        const std::wstring temp = kv::GetTruePathName(kv::GetTempFolder());
        const kvtest::ScopedValue<std::wstring> userTemp(kv::UserTempFolder, temp);
        const kvtest::ScopedValue<std::wstring> winTemp(kv::WinTempFolder, temp);
        const Sentinel sentinel(temp);
        kv::DeleteFolderContents(kv::UserTempFolder, Sentinel::Name(), true);
        EXPECT_TRUE(PathExists(sentinel.Path())) << testing::PrintToString(temp);
    }
    ::SetEnvironmentVariableW(L"TMP", savedTmp);
    ::SetEnvironmentVariableW(L"TEMP", savedTemp);
}

TEST(DeleteGuard, NamedFilesOnlyInFoldersThatMayBeEmptied)
{
    const kv::TDeleteGuard guard;
    const std::wstring folder = kvtest::ScratchFolder(L"guard-named");
    kvtest::WriteBytes(folder + L"a.txt", "a");
    kvtest::MakeFolder(folder + L"sub\\");
    EXPECT_FALSE(guard.DeleteNamedFile(folder + L"sub")); // folders are never named files
    EXPECT_FALSE(guard.DeleteNamedFile(folder + L"*.txt"));
    EXPECT_TRUE(PathExists(folder + L"a.txt"));
    EXPECT_TRUE(guard.DeleteNamedFile(folder + L"a.txt"));
    EXPECT_FALSE(PathExists(folder + L"a.txt"));
    const Sentinel sentinel(kv::GetWindowsFolder() + L"\\");
    EXPECT_FALSE(guard.DeleteNamedFile(sentinel.Path()));
    EXPECT_TRUE(PathExists(sentinel.Path()));
}

TEST(DeleteGuard, PlainFileNames)
{
    for (const wchar_t* name : {L"a.txt", L"user@site[1].txt", L"WS0HRM0H.txt"})
        EXPECT_TRUE(kv::IsPlainFileName(name)) << testing::PrintToString(std::wstring(name));
    for (const wchar_t* name : {L"", L".", L"..", L"..\\a.txt", L"a/b.txt", L"C:a.txt", L"a..txt", L"a\tb.txt", L"*.txt"})
        EXPECT_FALSE(kv::IsPlainFileName(name)) << testing::PrintToString(std::wstring(name));
}

} // namespace
