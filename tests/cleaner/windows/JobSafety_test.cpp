// The cleaner against a hostile file system, end to end: the program itself
// (Kestrelvane.exe in job mode, a child process) scans and cleans a scratch
// tree whose host side holds what a user's files or an attacker can hold -
// names with "\" or a trailing dot, links planted under the program's own
// files, folders swapped for links during the run - by each clean method.
// Every case checks byte for byte what remains inside and outside the
// selection, and what lies in the Trash and in the backup folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/engine/JunkCleanerTestSupport.h"
#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "MainWindowTestSupport.h"
#include "common/ChildWindows.h"
#include "common/FormDriver.h"
#include "common/HostScript.h"
#include "common/RegistryTestSupport.h"
#include "common/TestSupport.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

namespace {

using Files = std::map<std::wstring, std::string>; // path below a folder -> bytes

const std::wstring Legacy = kv::LegacySettingsKey;
const std::wstring Current = kv::CurrentSettingsKey;
// The harness's bound on one job: a run that does not end by then is ended
// and fails, whatever it was doing.
constexpr DWORD JobBoundMs = 60000;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring MethodName(int method)
{
    switch (method) {
    case kv::cmRecycleBin:
        return L"Recycle";
    case kv::cmBackupFolder:
        return L"Backup";
    default:
        return L"Delete";
    }
}

// Every file below `folder` (links to folders not followed), by its path below it.
void CollectFiles(const std::wstring& folder, const std::wstring& below, Files& files)
{
    WIN32_FIND_DATAW entry{};
    kv::FindHandle find(::FindFirstFileW((folder + L"*").c_str(), &entry));
    if (!find) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        // Joined to the path, such a name names something else.
        if (name.find(L'\\') != std::wstring::npos || name.back() == L'.' || name.back() == L' ') continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                CollectFiles(folder + name + L"\\", below + name + L"\\", files);
        } else {
            files[below + name] = kvtest::ReadBytes(folder + name);
        }
    } while (::FindNextFileW(find.Get(), &entry));
}

Files FilesBelow(const std::wstring& folder)
{
    Files files;
    CollectFiles(folder, L"", files);
    return files;
}

// The names a folder lists, as the file system holds them.
std::set<std::wstring> NamesIn(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    kv::FindHandle find(::FindFirstFileW((folder + L"*").c_str(), &entry));
    if (!find) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.insert(name);
    } while (::FindNextFileW(find.Get(), &entry));
    return names;
}

class JobSafetyTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        kvtest::StartApplication();
        kv::LoadDefaultLanguage();
        root_ = kvtest::ScratchFolder(L"JobSafety-" + ShortTestName());
        program_ = root_ + L"program\\";
        tree_ = root_ + L"tree\\";
        sel_ = tree_ + L"sel\\";
        outside_ = tree_ + L"outside\\";
        backup_ = tree_ + L"backup\\";
        for (const std::wstring& folder : {program_, sel_, outside_, backup_}) kv::CreateFolderPath(folder);
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, Legacy);
        savedRoot_ = kv::SettingsRoot;
        kv::TSettings own;
        own.Language = L"Template.ini";
        own.ScanDrives = AllDrivesOff();
        kv::SaveSettings(own, Current);
    }
    void TearDown() override
    {
        kvtest::RemoveTrashedFrom(tree_);
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, Legacy);
        kv::SettingsRoot = savedRoot_;
    }

    // "NamesThatAreNotPlain.../Recycle" -> "NTANP...-Recycle": a folder name per case.
    static std::wstring ShortTestName()
    {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::wstring folder;
        const std::size_t slash = name.find('/');
        for (char c : name.substr(0, slash))
            if (c >= 'A' && c <= 'Z') folder += static_cast<wchar_t>(c);
        if (slash != std::string::npos) folder += L"-" + kv::Utf8ToWide(name.substr(slash + 1));
        return folder;
    }

    static std::vector<kv::TScanDrive> AllDrivesOff()
    {
        std::vector<kv::TScanDrive> drives;
        for (const std::wstring& drive : kvtest::FixedDrives()) drives.push_back({drive, false});
        return drives;
    }

    // Scan the selection with "*" (and `excludeMask` excluded), clean only
    // the scan results by `method`, hidden, and exit.
    kv::TSettings JobSettings(int method, const std::wstring& excludeMask = L"") const
    {
        kv::TSettings settings;
        settings.ScanDrives = AllDrivesOff();
        settings.InclusiveFolders = {{kvtest::WithoutTrailingBackslash(sel_), kv::pkIncludeWithSubFolders, true}};
        settings.ExclusiveFolders = {};
        settings.EmptyFolders = {};
        settings.InclusiveFiles = {{true, L"*", L"Everything"}};
        settings.ExclusiveFiles = {};
        if (!excludeMask.empty()) settings.ExclusiveFiles = {{true, excludeMask, L"Kept"}};
        settings.SkipReadOnlyFiles = false;
        settings.DoClean = true;
        settings.SpecificTempFolder = false;
        settings.Recent = false;
        settings.CleanMethod = static_cast<kv::TCleanMethod>(method);
        settings.SpecificFolder = backup_;
        settings.DeletionFile = L"Backup.txt";
        return settings;
    }

    // The program runs the job from its own folder beside the tree; the exit
    // code, or -2 when the harness had to end it.
    int RunJob(const kv::TSettings& settings, DWORD boundMs = JobBoundMs)
    {
        const std::wstring job = root_ + L"job.kv";
        EXPECT_TRUE(kv::WriteJobFile(settings, {true, true, true, true}, job));
        kv::SettingsRoot = savedRoot_;
        return RunProgram(Quoted(job), boundMs);
    }
    int RunProgram(const std::wstring& arguments, DWORD boundMs = JobBoundMs,
                   const kvtest::ChildWindowServer& serve = nullptr)
    {
        const std::wstring program = kvtest::CopyProgramTo(L"Kestrelvane.exe", program_);
        return kvtest::RunProcessServingWindows(Quoted(program) + L" " + arguments, serve, boundMs);
    }

    int Host(const std::string& script) { return kvtest::RunHostScript(root_, L"host", script); }

    std::wstring JobLog() const { return kv::DecodeText(kvtest::ReadBytes(program_ + L"Kestrelvane.log")); }
    void ExpectSkippedInLog(const std::wstring& path, const std::wstring& reason) const
    {
        const std::wstring line = L"Skipped: " + path + L" (" + reason + L")";
        EXPECT_NE(JobLog().find(line), std::wstring::npos) << "the job's log lists " << kv::WideToUtf8(line);
    }

    // Nothing of `outside` (its bytes) lies in the Trash or the backup folder.
    void ExpectNoCopyOf(const Files& outside) const
    {
        std::set<std::string> outsideBytes;
        for (const auto& [path, bytes] : outside) outsideBytes.insert(bytes);
        for (const kvtest::TrashedFile& file : kvtest::TrashedFrom(L"C:\\kvtest\\"))
            EXPECT_EQ(outsideBytes.count(file.bytes), 0u) << "trashed: " << kv::WideToUtf8(file.originalTail);
        for (const auto& [path, bytes] : FilesBelow(backup_))
            EXPECT_EQ(outsideBytes.count(bytes), 0u) << "in the backup: " << kv::WideToUtf8(path);
    }
    // What a method did with the selection: gone entries are in the Trash or
    // the backup with their bytes (or nowhere, when deleted).
    void ExpectCleanedBy(int method, const std::wstring& relative, const std::string& bytes) const
    {
        EXPECT_FALSE(kvtest::PathExists(sel_ + relative)) << kv::WideToUtf8(relative);
        if (method == kv::cmBackupFolder) {
            EXPECT_EQ(kvtest::ReadBytes(kv::BackupCopyPath(backup_, sel_ + relative)), bytes);
        }
        if (method == kv::cmRecycleBin) {
            bool trashed = false;
            for (const kvtest::TrashedFile& file : kvtest::TrashedFrom(sel_ + relative))
                trashed = trashed || file.bytes == bytes;
            EXPECT_TRUE(trashed) << kv::WideToUtf8(relative);
        }
    }

    // sel\d1..d4 and outside\d1..d4 with five files each ("sel d1 f1", ...)
    // and an empty backup folder.
    void MakeSwapTrees()
    {
        ASSERT_EQ(Host("cd tree && rm -rf sel outside backup && mkdir -p sel outside backup\n"
                       "for d in 1 2 3 4; do mkdir sel/d$d outside/d$d\n"
                       "  for f in 1 2 3 4 5; do printf \"sel d$d f$f\" > sel/d$d/f$f.tmp\n"
                       "    printf \"outside d$d f$f\" > outside/d$d/f$f.tmp; done; done\n"),
                  0);
    }
    // A host process swaps sel\d1..d4 for links to outside\d1..d4 and back,
    // every 3 ms, until StopSwapChurn; it ends with the folders in place.
    void StartSwapChurn()
    {
        ASSERT_TRUE(kvtest::StartHostScript(root_, L"churn",
                                            "cd tree/sel\n"
                                            "rm -f ../churn.stop; touch ../churn.started\n"
                                            "i=0\n"
                                            "while [ ! -e ../churn.stop ] && [ $i -lt 30000 ]; do\n"
                                            "  for d in d1 d2 d3 d4; do\n"
                                            "    if [ -d $d ] && [ ! -L $d ]; then mv $d $d.real && ln -s ../outside/$d $d; fi\n"
                                            "  done\n"
                                            "  sleep 0.003\n"
                                            "  for d in d1 d2 d3 d4; do\n"
                                            "    if [ -L $d ]; then rm $d && mv $d.real $d; fi\n"
                                            "  done\n"
                                            "  sleep 0.003\n"
                                            "  i=$((i+1))\n"
                                            "done\n"));
        for (int i = 0; i < 500 && !kvtest::PathExists(tree_ + L"churn.started"); ++i) ::Sleep(10);
    }
    void StopSwapChurn()
    {
        kvtest::WriteBytes(tree_ + L"churn.stop", "");
        ASSERT_EQ(kvtest::WaitHostScript(root_, L"churn"), 0);
        ::DeleteFileW((tree_ + L"churn.started").c_str());
    }
    // How many files of `before` are missing from `after` or changed there.
    static int Lost(const Files& before, const Files& after)
    {
        int lost = 0;
        for (const auto& [path, bytes] : before) {
            const auto found = after.find(path);
            if (found == after.end() || found->second != bytes) ++lost;
        }
        return lost;
    }

    std::wstring root_, program_, tree_, sel_, outside_, backup_, savedRoot_;
};

std::string MethodCaseName(const ::testing::TestParamInfo<int>& info) { return kv::WideToUtf8(MethodName(info.param)); }

// ---------------------------------------------------------------------------
// Names that are not plain names: each is skipped, listed in the job's log,
// and nothing it would name by a path lookup is touched.

using JobNamesTest = JobSafetyTest;

TEST_P(JobNamesTest, NamesThatAreNotPlainAreSkippedAndNothingTheyWouldNameIsTouched)
{
    ASSERT_EQ(Host("cd tree && rm -rf sel && mkdir sel\n"
                   "printf 'plain junk' > sel/plain.tmp\n"
                   "printf 'outside x' > outside/x.tmp\n"
                   "printf 'excluded report' > sel/report.doc\n"
                   "printf 'dot twin' > 'sel/report.doc.'\n"
                   "printf 'blank twin' > 'sel/plain.tmp '\n"
                   "printf 'escapes' > 'sel/..\\outside\\x.tmp'\n"
                   "mkdir 'sel/..\\..'\n"
                   "printf 'inner' > 'sel/..\\../inner.tmp'\n"
                   "printf 'program data' > ../program/data.tmp\n"),
              0);
    const Files outsideBefore = FilesBelow(outside_);
    const int method = GetParam();

    EXPECT_EQ(RunJob(JobSettings(method, L"report.doc")), 0) << "the job ends by itself, no endless walk";
    EXPECT_EQ(FilesBelow(outside_), outsideBefore) << "outside the selection nothing changed";
    EXPECT_EQ(kvtest::ReadBytes(sel_ + L"report.doc"), "excluded report") << "the excluded file stays";
    EXPECT_EQ(kvtest::ReadBytes(program_ + L"data.tmp"), "program data");
    ExpectCleanedBy(method, L"plain.tmp", "plain junk");
    const std::set<std::wstring> left = NamesIn(sel_);
    for (const wchar_t* odd : {L"report.doc.", L"plain.tmp ", L"..\\outside\\x.tmp", L"..\\.."})
        EXPECT_EQ(left.count(odd), 1u) << "kept: " << kv::WideToUtf8(odd);
    ExpectNoCopyOf(outsideBefore);
    for (const wchar_t* odd : {L"report.doc.", L"plain.tmp ", L"..\\outside\\x.tmp", L"..\\.."})
        ExpectSkippedInLog(sel_ + odd, L"not a plain file name");
    // Names Windows cannot name go on the host side.
    EXPECT_EQ(Host("rm -rf tree/sel\n"), 0);
}

INSTANTIATE_TEST_SUITE_P(Methods, JobNamesTest,
                         ::testing::Values(kv::cmRecycleBin, kv::cmBackupFolder, kv::cmDeletePermanently),
                         MethodCaseName);

// ---------------------------------------------------------------------------
// Protected folders: what lies inside the Windows, system and program-files
// folders and the program's own folder stays, whatever the method, and the
// job's log says why. Each case plants one file of a name of its own in each.

using JobProtectedTest = JobSafetyTest;

std::wstring KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? std::wstring(path) + L"\\"
                                                                                           : std::wstring();
}

TEST_P(JobProtectedTest, NothingInsideAProtectedFolderIsRemoved)
{
    const int method = GetParam();
    const std::wstring name = L"kvtest-sealed-" + MethodName(method) + L".tmp";
    const std::wstring windows = KnownFolder(CSIDL_WINDOWS), system = KnownFolder(CSIDL_SYSTEM),
                       programs = KnownFolder(CSIDL_PROGRAM_FILES);
    const std::vector<std::wstring> planted = {windows + name, system + name, programs + name, program_ + name};
    for (const std::wstring& path : planted) kvtest::WriteBytes(path, "planted in " + kv::WideToUtf8(path));
    kvtest::WriteBytes(sel_ + name, "selected");

    kv::TSettings settings = JobSettings(method);
    settings.InclusiveFiles = {{true, name, L"Planted"}};
    for (const std::wstring& folder : {windows, programs, program_})
        settings.InclusiveFolders.push_back({kvtest::WithoutTrailingBackslash(folder), kv::pkIncludeWithSubFolders, true});
    EXPECT_EQ(RunJob(settings, 120000), 0);

    for (const std::wstring& path : planted) {
        EXPECT_EQ(kvtest::ReadBytes(path), "planted in " + kv::WideToUtf8(path));
        ExpectSkippedInLog(path, L"inside a protected folder");
        EXPECT_TRUE(kvtest::TrashedFrom(path).empty());
        EXPECT_FALSE(kvtest::PathExists(kv::BackupCopyPath(backup_, path)));
    }
    ExpectCleanedBy(method, name, "selected");
    for (const std::wstring& path : planted) {
        kvtest::RemoveTrashedFrom(path);
        ::DeleteFileW(path.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, JobProtectedTest,
                         ::testing::Values(kv::cmRecycleBin, kv::cmBackupFolder, kv::cmDeletePermanently),
                         MethodCaseName);

// ---------------------------------------------------------------------------
// Check and act as one step: a host process swaps the selected folders for
// links to folders outside the selection, and back, all through the job.
// Twenty runs by each method; not one file outside may be lost.

using JobSwapRaceTest = JobSafetyTest;

constexpr int kSwappedFolders = 4;
constexpr int kFilesPerFolder = 5;

TEST_P(JobSwapRaceTest, FoldersSwappedForLinksDuringTheJobLoseNothingOutside)
{
    const int method = GetParam();
    constexpr int kRuns = 20;
    int losses = 0;
    for (int run = 0; run < kRuns; ++run) {
        ASSERT_NO_FATAL_FAILURE(MakeSwapTrees());
        const Files outsideBefore = FilesBelow(outside_);
        ASSERT_EQ(outsideBefore.size(), static_cast<std::size_t>(kSwappedFolders * kFilesPerFolder));
        ASSERT_NO_FATAL_FAILURE(StartSwapChurn());
        const int code = RunJob(JobSettings(method));
        ASSERT_NO_FATAL_FAILURE(StopSwapChurn());
        EXPECT_EQ(code, 0);

        losses += Lost(outsideBefore, FilesBelow(outside_));
        ExpectNoCopyOf(outsideBefore);
        // Inside the selection an entry is gone or as it was, never changed.
        for (const auto& [path, bytes] : FilesBelow(sel_)) EXPECT_EQ(bytes.rfind("sel d", 0), 0u) << kv::WideToUtf8(path);
        kvtest::RemoveTrashedFrom(tree_);
    }
    EXPECT_EQ(losses, 0) << "files outside the selection lost in " << kRuns << " runs";
}

INSTANTIATE_TEST_SUITE_P(Methods, JobSwapRaceTest,
                         ::testing::Values(kv::cmRecycleBin, kv::cmBackupFolder, kv::cmDeletePermanently),
                         MethodCaseName);

// A backup place taken already, by a copy holding the bytes of the file that
// lies at the same place outside: while folders are swapped for links to the
// outside, an entry is compared with the copy through its own checked handle,
// never through its path, so no entry goes for another file's bytes.
TEST_F(JobSafetyTest, ATakenBackupPlaceIsComparedWithTheEntryItselfWhileFoldersAreSwapped)
{
    constexpr int kRuns = 10;
    int losses = 0;
    for (int run = 0; run < kRuns; ++run) {
        ASSERT_NO_FATAL_FAILURE(MakeSwapTrees());
        for (const auto& [path, bytes] : FilesBelow(outside_))
            kvtest::PutFile(kv::BackupCopyPath(backup_, sel_ + path), bytes);
        const Files selBefore = FilesBelow(sel_), outsideBefore = FilesBelow(outside_);
        ASSERT_EQ(selBefore.size(), static_cast<std::size_t>(kSwappedFolders * kFilesPerFolder));
        ASSERT_NO_FATAL_FAILURE(StartSwapChurn());
        const int code = RunJob(JobSettings(kv::cmBackupFolder));
        ASSERT_NO_FATAL_FAILURE(StopSwapChurn());
        EXPECT_EQ(code, 0);
        // Every place was taken by other bytes: an entry stays (or went to a
        // free place), and everything outside stays.
        // An entry found inside a folder the churn had renamed for a moment
        // ("d1.real") goes to that name's free place in the backup: it is
        // gone from the selection, but not lost.
        std::set<std::string> backedUp;
        for (const auto& [path, bytes] : FilesBelow(backup_)) backedUp.insert(bytes);
        const Files selAfter = FilesBelow(sel_);
        for (const auto& [path, bytes] : selBefore) {
            const auto found = selAfter.find(path);
            if ((found == selAfter.end() || found->second != bytes) && backedUp.count(bytes) == 0) ++losses;
        }
        losses += Lost(outsideBefore, FilesBelow(outside_));
    }
    EXPECT_EQ(losses, 0) << "files lost in " << kRuns << " runs";
}

// ---------------------------------------------------------------------------
// Files the program writes or deletes itself are never followed through a
// link planted under their name: the link's target keeps its bytes.

TEST_F(JobSafetyTest, LinksPlantedUnderTheProgramsOwnFilesLeaveTheirTargetsAlone)
{
    ASSERT_EQ(Host("rm -rf victim program tree/backup && mkdir -p victim program/Language tree/backup\n"
                   "for v in template unicode reg log backup new; do printf \"victim $v\" > victim/$v.txt; done\n"
                   "ln -s ../../victim/template.txt program/Language/Template.ini\n"
                   "ln -s ../../victim/unicode.txt program/Language/Unicode.txt\n"
                   "ln -s ../victim/reg.txt program/Kestrelvane.reg\n"
                   "ln -s ../victim/log.txt program/Kestrelvane.log\n"
                   "ln -s ../../victim/backup.txt tree/backup/Backup.txt\n"
                   "ln -s ../../victim/new.txt tree/backup/Backup.txt.new\n"
                   "printf 'junk' > tree/sel/junk.tmp\n"),
              0);
    const Files victimsBefore = FilesBelow(root_ + L"victim\\");
    ASSERT_EQ(victimsBefore.size(), 6u);

    EXPECT_EQ(RunJob(JobSettings(kv::cmBackupFolder)), 0);
    EXPECT_EQ(FilesBelow(root_ + L"victim\\"), victimsBefore) << "every link target keeps its bytes";
    EXPECT_EQ(kvtest::ReadBytes(program_ + L"Language\\Template.ini").rfind("[Info]", 0), 0u)
        << "the template was written in the link's place";
    EXPECT_FALSE(kvtest::PathExists(program_ + L"Language\\Unicode.txt"));
    EXPECT_EQ(kvtest::ReadBytes(program_ + L"Kestrelvane.reg").rfind("\xFF\xFE", 0), 0u);
    const auto log = kv::ReadBackupLog(backup_ + L"Backup.txt");
    ASSERT_TRUE(log.has_value());
    EXPECT_NE(log->find(sel_ + L"junk.tmp"), std::wstring::npos);
    EXPECT_EQ(kvtest::ReadBytes(kv::BackupCopyPath(backup_, sel_ + L"junk.tmp")), "junk");
}

// ---------------------------------------------------------------------------
// A hostile language file (huge format widths, millions of line-break
// markers) neither hangs the job nor stops it: it ends within the harness's
// bound and cleans.

TEST_F(JobSafetyTest, AHostileLanguageFileDoesNotHangTheJob)
{
    kv::CreateFolderPath(program_ + L"Language\\");
    std::string evil = "[Info]\r\nLanguage=Evil\r\n[Strings]\r\n0106=";
    for (int i = 0; i < 2000; ++i) evil += "%99999s";
    evil += "\r\n0107=";
    for (int i = 0; i < 2000; ++i) evil += "%.99999d";
    evil += "\r\n0194=";
    evil.reserve(evil.size() + 8 * 1024 * 1024);
    for (int i = 0; i < 2 * 1024 * 1024; ++i) evil += "<BR>";
    evil += "\r\n";
    kvtest::WriteBytes(program_ + L"Language\\evil.ini", evil);
    for (int i = 0; i < 20; ++i) kvtest::PutFile(sel_ + L"sub" + std::to_wstring(i % 4) + L"\\junk" + std::to_wstring(i) + L".tmp", "junk");

    kv::TSettings settings = JobSettings(kv::cmDeletePermanently);
    settings.Language = L"evil.ini";
    EXPECT_EQ(RunJob(settings), 0) << "ended by itself within the bound";
    EXPECT_TRUE(FilesBelow(sel_).empty()) << "and cleaned";
}

// ---------------------------------------------------------------------------
// A job file cut after its \Job key would run on defaults (every fixed drive,
// the default filters, the recycle bin): it is refused like any malformed
// job, and the program starts normally.

TEST_F(JobSafetyTest, AJobFileWithoutSettingsOrDrivesIsRefused)
{
    const std::wstring bait = root_ + L"~bait.tmp";
    kvtest::WriteBytes(bait, "bait");
    const std::wstring job = root_ + L"cut.kv";
    for (const wchar_t* root : {L"Software\\Orbelune\\Kestrelvane\\Unicode\\Job", L"Software\\Orbelune\\Kestrelvane\\Job"}) {
        kvtest::WriteBytes(job, kvtest::UnicodeRegFile(std::wstring(L"[HKEY_CURRENT_USER\\") + root +
                                                       L"\\Job]\r\n\"AutoScan\"=dword:00000001\r\n"
                                                       L"\"AutoClean\"=dword:00000001\r\n\"AutoExit\"=dword:00000001\r\n"
                                                       L"\"RunHiddenly\"=dword:00000001\r\n\r\n"));
        kvtest::MarkKey(Legacy + L"\\Job");
        int mainWindows = 0;
        const int code = RunProgram(Quoted(job), JobBoundMs, [&](HWND window, const std::wstring& className) {
            if (className != L"TMainForm") return;
            ++mainWindows;
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(code, 0);
        EXPECT_EQ(mainWindows, 1) << "started normally, with its window";
        EXPECT_EQ(kvtest::ReadBytes(bait), "bait");
        EXPECT_TRUE(kvtest::TrashedFrom(root_).empty());
    }
}

// ---------------------------------------------------------------------------
// A path past MAX_PATH is skipped and listed, not passed over in silence.

TEST_F(JobSafetyTest, APathPastMaxPathIsListedAsSkipped)
{
    const std::string segment(110, 'L');
    ASSERT_EQ(Host("cd tree/sel && mkdir -p " + segment + "/" + segment + " && printf deep > " + segment + "/" +
                   segment + "/deep.tmp && printf near > near.tmp\n"),
              0);
    const std::wstring wide(segment.begin(), segment.end());
    ASSERT_LT(sel_.size() + wide.size() + 1, static_cast<std::size_t>(MAX_PATH));
    ASSERT_GE(sel_.size() + 2 * wide.size() + 2, static_cast<std::size_t>(MAX_PATH));
    EXPECT_EQ(RunJob(JobSettings(kv::cmDeletePermanently)), 0);
    EXPECT_FALSE(kvtest::PathExists(sel_ + L"near.tmp"));
    EXPECT_EQ(kvtest::ReadBytes(L"\\\\?\\" + sel_ + wide + L"\\" + wide + L"\\deep.tmp"), "deep");
    ExpectSkippedInLog(sel_ + wide + L"\\" + wide, L"path too long");
}

} // namespace
