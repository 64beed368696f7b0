#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/LanguageUnit.h"
#include "common/ChildWindows.h"
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

    // The program runs from the scratch folder, where it writes its language
    // template; a language chooser it shows is answered with OK. Once its main
    // window shows, `whileOpen` runs and the window is closed as a person
    // would close it.
    int RunProgram(const std::wstring& arguments, const std::function<void()>& whileOpen = {})
    {
        const std::wstring program = kvtest::CopyProgramTo(L"Kestrelvane.exe", folder_);
        return kvtest::RunProcessServingWindows(
            Quoted(program) + L" " + arguments,
            [&](HWND window, const std::wstring& className) {
                ++windowsShown_[className];
                if (className == L"TLanguageForm") PressOk(window);
                // A job's scan may still run when the close comes: "exit while working?" is answered Yes.
                if (className == L"#32770") PressYes(window);
                if (className != L"TMainForm") return;
                if (whileOpen) whileOpen();
                ::PostMessageW(window, WM_CLOSE, 0, 0);
            },
            StartTimeoutMs);
    }
    int TimesShown(const std::wstring& className) const
    {
        const auto found = windowsShown_.find(className);
        return found == windowsShown_.end() ? 0 : found->second;
    }
    static void PressOk(HWND chooser)
    {
        ::PostMessageW(::GetDlgItem(chooser, kv::TLanguageForm::idOKButton), BM_CLICK, 0, 0);
    }
    static void PressYes(HWND messageBox)
    {
        ::PostMessageW(messageBox, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(messageBox, IDYES)));
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
    std::map<std::wstring, int> windowsShown_;
};

TEST_F(ProgramStartTest, SecondInstanceEndsAtOnceWithoutDoingAnything)
{
    const std::wstring job = MakeJobFile(L"job.kv");
    kv::KernelHandle firstInstance(::CreateMutexW(nullptr, TRUE, L"Kestrelvane"));
    ASSERT_TRUE(firstInstance);
    EXPECT_EQ(RunProgram(Quoted(job)), 0);
    EXPECT_EQ(TimesShown(L"TMainForm"), 0);
    EXPECT_EQ(RunStartup(Quoted(job)), 0) << "no start-up step ran";
    EXPECT_TRUE(JobKeysUntouched());
    firstInstance.Reset();
    EXPECT_EQ(RunStartup(L""), NormalLegacy) << "the mutex is free again";
}

TEST_F(ProgramStartTest, StartWithoutArgumentsUsesTheLegacyRootUntilALanguageIsSaved)
{
    EXPECT_EQ(RunStartup(L""), NormalLegacy);
    EXPECT_EQ(RunProgram(L""), 0);
    EXPECT_EQ(TimesShown(L"TLanguageForm"), 1) << "no language chosen yet";
    EXPECT_EQ(TimesShown(L"TMainForm"), 1);
    // The whole run saved its settings, the language among them, under the current key.
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
    EXPECT_EQ(TimesShown(L"TLanguageForm"), 0) << "an unattended run never waits on the language chooser";
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

// ---------------------------------------------------------------------------
// The language step, in a process of its own: "kv_probe startup-language" runs
// the program's start-up with the real language step (see LanguageReport in
// tests/probes/Probe.cpp for its exit code).

constexpr int GermanChosen = 64 + 1 + 2;
constexpr int EnglishKept = 64;
constexpr int InJobMode = 4;

class StartupLanguageTest : public ProgramStartTest {
protected:
    void SetUp() override
    {
        ProgramStartTest::SetUp();
        probe_ = kvtest::CopyProgramTo(L"kv_probe.exe", folder_);
        ::CreateDirectoryW((folder_ + L"Language").c_str(), nullptr);
        kvtest::WriteBytes(folder_ + L"Language\\de.ini",
                           "[Info]\r\nLanguage=Deutsch\r\n[Strings]\r\n0141=Willkommen\r\n");
    }

    struct ChooserSeen {
        int times = 0;
        std::wstring caption;
        LRESULT count = -1;
        LRESULT preselected = -1;
    };

    // Runs the start-up; a chooser is answered with the entry at `pick` (by
    // its place in the sorted list) and OK.
    int RunLanguageStartup(const std::wstring& arguments, int pick, ChooserSeen& seen)
    {
        return kvtest::RunProcessServingWindows(
            Quoted(probe_) + L" startup-language " + arguments,
            [&](HWND window, const std::wstring& className) {
                if (className != L"TLanguageForm") return;
                ++seen.times;
                wchar_t caption[128] = {};
                ::GetWindowTextW(window, caption, 128);
                seen.caption = caption;
                HWND combo = ::GetDlgItem(window, kv::TLanguageForm::idLangComboBox);
                DWORD_PTR result = 0;
                if (::SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &result))
                    seen.count = static_cast<LRESULT>(result);
                if (::SendMessageTimeoutW(combo, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result))
                    seen.preselected = static_cast<LRESULT>(result);
                ::PostMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(pick), 0);
                PressOk(window);
            },
            StartTimeoutMs);
    }

    std::wstring probe_;
};

TEST_F(StartupLanguageTest, TheChooserAppearsWhenTheChosenFileIsMissingAndItsChoiceTakesEffect)
{
    for (const bool stored : {false, true}) {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, Legacy);
        if (stored) kvtest::MarkKey(Legacy + L"\\Settings", L"Language"); // names no file
        ChooserSeen seen;
        EXPECT_EQ(RunLanguageStartup(L"", 0, seen), GermanChosen);
        EXPECT_EQ(seen.times, 1);
        EXPECT_EQ(seen.caption, L"Select your language skin!");
        EXPECT_EQ(seen.count, 2) << "Deutsch and the template's English";
        EXPECT_EQ(seen.preselected, 1) << "English";
        EXPECT_TRUE(kvtest::PathExists(folder_ + L"Language\\Template.ini"));
    }
}

TEST_F(StartupLanguageTest, OkOnThePreselectedEntryKeepsEnglish)
{
    ChooserSeen seen;
    EXPECT_EQ(RunLanguageStartup(L"", 1, seen), EnglishKept);
    EXPECT_EQ(seen.times, 1);
}

TEST_F(StartupLanguageTest, TheStoredFileIsLoadedWithoutTheChooser)
{
    kv::RegistryKey::Create(HKEY_CURRENT_USER, Legacy + L"\\Settings").WriteString(L"Language", L"de.ini");
    ChooserSeen seen;
    EXPECT_EQ(RunLanguageStartup(L"", 1, seen), GermanChosen);
    EXPECT_EQ(seen.times, 0);
}

TEST_F(StartupLanguageTest, AJobNeverShowsTheChooser)
{
    const std::wstring job = MakeJobFile(L"job.kv"); // its snapshot names no language file
    ChooserSeen seen;
    EXPECT_EQ(RunLanguageStartup(Quoted(job), 0, seen), EnglishKept + InJobMode);
    EXPECT_EQ(seen.times, 0);
}

} // namespace
