#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "common/RegistryTestSupport.h"
#include "common/TestSupport.h"
#include "platform/Handles.h"
#include "platform/Registry.h"

namespace {

const std::wstring Legacy = kv::LegacySettingsKey;
const std::wstring Current = kv::CurrentSettingsKey;
const std::wstring LegacyJob = Legacy + L"\\Job";
const std::wstring CurrentJob = Current + L"\\Job";
constexpr wchar_t EvilKey[] = L"Software\\Evil";
// A start that hangs fails the test instead of the run.
constexpr DWORD StartTimeoutMs = 60000;

// Exit codes of "kv_probe program-main" (tests/probes/Probe.cpp).
constexpr int NormalLegacy = 64;
constexpr int NormalCurrent = 64 + 4;
constexpr int JobFlag = 1;
constexpr int HiddenFlag = 2;
constexpr int CurrentJobRoot = 4 * 2;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

class ProgramStartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = kvtest::ScratchFolder(L"ProgramStart");
        Reset();
    }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, Legacy);
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, EvilKey);
        kv::SettingsRoot = Legacy;
        kv::CookieKeepList.clear();
    }

    // Runs the program; once its main window exists, `whileOpen` runs and the
    // window is closed as a person would close it. The exit code, -2 when the
    // program did not end in time.
    static int RunProgram(const std::wstring& arguments, const std::function<void()>& whileOpen = {})
    {
        bool closing = false;
        return kvtest::RunProcess(Quoted(kvtest::ExecutableFolder() + L"Kestrelvane.exe") + L" " + arguments,
                                  StartTimeoutMs, [&](DWORD processId) {
                                      if (closing) return;
                                      HWND window = MainWindowOf(processId);
                                      if (!window) return;
                                      if (whileOpen) whileOpen();
                                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                                      closing = true;
                                  });
    }
    struct WindowSearch {
        DWORD processId;
        HWND found = nullptr;
    };
    static BOOL CALLBACK MatchMainWindow(HWND window, LPARAM data)
    {
        auto* search = reinterpret_cast<WindowSearch*>(data);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        ::GetClassNameW(window, name, 64);
        if (owner != search->processId || std::wstring(name) != L"TMainForm") return TRUE;
        search->found = window;
        return FALSE;
    }
    static HWND MainWindowOf(DWORD processId)
    {
        WindowSearch search{processId};
        ::EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    static int RunStartup(const std::wstring& arguments)
    {
        return kvtest::RunProcess(Quoted(kvtest::ProbePath()) + L" program-main " + arguments, StartTimeoutMs);
    }

    // A job file as the job-file dialog writes it; the job keys are left
    // marked so that a test sees whether the program replaced them.
    std::wstring MakeJobFile(const wchar_t* name, bool runHiddenly = false)
    {
        kv::TSettings settings;
        settings.DeletionFile = L"FromTheJob.txt";
        const std::wstring file = folder_ + name;
        EXPECT_TRUE(kv::WriteJobFile(settings, {true, true, true, runHiddenly}, file));
        kvtest::MarkKey(LegacyJob);
        kvtest::MarkKey(CurrentJob);
        return file;
    }
    static bool JobWasImported()
    {
        return !kvtest::HasMark(LegacyJob) && !kvtest::HasMark(CurrentJob) &&
               kv::RegistryKey::Open(HKEY_CURRENT_USER, CurrentJob + L"\\Settings").ReadString(L"DeletionFile") ==
                   std::optional<std::wstring>(L"FromTheJob.txt");
    }
    static bool JobKeysUntouched() { return kvtest::HasMark(LegacyJob) && kvtest::HasMark(CurrentJob); }

    std::wstring folder_;
};

TEST_F(ProgramStartTest, SecondInstanceEndsAtOnceWithoutDoingAnything)
{
    const std::wstring job = MakeJobFile(L"job.kv");
    kv::KernelHandle firstInstance(::CreateMutexW(nullptr, TRUE, L"Kestrelvane"));
    ASSERT_TRUE(firstInstance);
    bool windowShown = false;
    EXPECT_EQ(RunProgram(Quoted(job), [&] { windowShown = true; }), 0);
    EXPECT_FALSE(windowShown);
    EXPECT_EQ(RunStartup(Quoted(job)), 0) << "no start-up step ran";
    EXPECT_TRUE(JobKeysUntouched());
    firstInstance.Reset();
    EXPECT_EQ(RunStartup(L""), NormalLegacy) << "the mutex is free again";
}

TEST_F(ProgramStartTest, StartWithoutArgumentsUsesTheLegacyRootUntilALanguageIsSaved)
{
    EXPECT_EQ(RunStartup(L""), NormalLegacy);
    kvtest::MarkKey(Current + L"\\Settings", L"Language");
    EXPECT_EQ(RunStartup(L""), NormalCurrent);
    // A whole run saves its settings under the current key at exit.
    kv::DeleteRegistryTree(HKEY_CURRENT_USER, Legacy);
    EXPECT_EQ(RunProgram(L""), 0);
    EXPECT_EQ(RunStartup(L""), NormalCurrent);
}

TEST_F(ProgramStartTest, JobFileStartsJobMode)
{
    const std::wstring job = MakeJobFile(L"job.kv", true);
    EXPECT_EQ(RunStartup(Quoted(job)), 64 + JobFlag + HiddenFlag + CurrentJobRoot);
    EXPECT_TRUE(JobWasImported());

    const std::wstring again = MakeJobFile(L"again.kv");
    bool imported = false;
    EXPECT_EQ(RunProgram(Quoted(again), [&] { imported = JobWasImported(); }), 0);
    EXPECT_TRUE(imported);
    // A job run saves nothing, and its keys go when it ends.
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, CurrentJob));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, Current + L"\\Settings"));
}

TEST_F(ProgramStartTest, JobFileWithWrongCaseExtensionStartsNormally)
{
    const std::wstring job = MakeJobFile(L"job.kv");
    const std::wstring upper = folder_ + L"JOB.KV";
    ASSERT_TRUE(::MoveFileW(job.c_str(), upper.c_str()));
    EXPECT_EQ(RunStartup(Quoted(upper)), NormalLegacy);
    EXPECT_TRUE(JobKeysUntouched());
    bool untouched = false;
    EXPECT_EQ(RunProgram(Quoted(upper), [&] { untouched = JobKeysUntouched(); }), 0);
    EXPECT_TRUE(untouched);
}

TEST_F(ProgramStartTest, ArgumentsThatAreNoJobFileStartNormally)
{
    MakeJobFile(L"job.kv");
    ASSERT_TRUE(::CreateDirectoryW((folder_ + L"folder.kv").c_str(), nullptr));
    for (const std::wstring& argument : {Quoted(folder_ + L"missing.kv"), Quoted(folder_ + L"folder.kv"),
                                         Quoted(folder_ + L"job.kv.txt"), std::wstring(L"/s")}) {
        EXPECT_EQ(RunStartup(argument), NormalLegacy) << testing::PrintToString(argument);
        EXPECT_TRUE(JobKeysUntouched()) << testing::PrintToString(argument);
    }
}

TEST_F(ProgramStartTest, CraftedJobFileWritingAnotherKeyIsRefused)
{
    kvtest::MarkKey(LegacyJob);
    kvtest::MarkKey(CurrentJob);
    const std::wstring file = folder_ + L"crafted.kv";
    kvtest::WriteBytes(file, kvtest::UnicodeRegFile(
                                 L"[HKEY_CURRENT_USER\\" + CurrentJob + L"\\Job]\r\n\"AutoScan\"=dword:00000001\r\n\r\n"
                                 L"[HKEY_CURRENT_USER\\Software\\Evil]\r\n\"Payload\"=\"1\"\r\n\r\n"));
    EXPECT_EQ(RunStartup(Quoted(file)), NormalLegacy);
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, EvilKey));
    EXPECT_TRUE(JobKeysUntouched());
    bool untouched = false;
    EXPECT_EQ(RunProgram(Quoted(file), [&] { untouched = JobKeysUntouched(); }), 0);
    EXPECT_TRUE(untouched);
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, EvilKey));
}

} // namespace
