#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EEvents.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/capture/ECapture.h"
#include "platform/Exceptions.h"
#include "platform/Handles.h"

namespace cr = kv::crashreport;

namespace {

// What the receivers saw, in order (the DLL's handlers write here too).
std::vector<std::string> g_notes;
void Note(const char* text) { g_notes.emplace_back(text); }

int g_reporterVersion = 0;
int ReadVersion(HMODULE) { return g_reporterVersion; }

// Every test starts with an empty handler list, no global procedures, no
// other module reachable and a fresh record.
class Events : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        g_notes.clear();
        cr::FreeOspreyLogList();
        cr::CreateOspreyLogList();
        cr::ExceptionNotifyProc = nullptr;
        cr::HandledExceptionNotifyProc = nullptr;
        cr::ExceptionActionNotifyProc = nullptr;
        cr::CustomButtonClickProc = nullptr;
        cr::PasswordRequestProc = nullptr;
        cr::CustomDataRequestProc = nullptr;
        cr::SetReporterDataVersionReader(nullptr);
        cr::SetPasswordRequestModule(nullptr);
        cr::SetEventDuplicateCheck(nullptr);
        cr::SetEventsDisabled(false);
        cr::CurrentExceptionRecord() = cr::TOspreyExceptionRecord{};
        cr::EventHandled() = true;
        cr::CustomDataFields().Clear();
        cr::EventPassword().clear();
    }

    // A handler that notes each event under `name`.
    static cr::TOspreyLogHandler Recording(std::string name)
    {
        cr::TOspreyLogHandler handler;
        handler.OnExceptionNotify = [name](cr::TOspreyExceptionRecord* record, bool& handled) {
            EXPECT_EQ(record, &cr::CurrentExceptionRecord());
            g_notes.push_back(name + ":ExceptionNotify:" + (handled ? "1" : "0"));
        };
        handler.OnCustomDataRequest = [name](cr::TOspreyExceptionRecord*, kv::AnsiStringList& fields) {
            fields.Add(name);
            g_notes.push_back(name + ":CustomDataRequest");
        };
        handler.OnExceptionActionNotify = [name](cr::TOspreyExceptionRecord* record, std::int32_t action, void*) {
            EXPECT_NE(record, &cr::CurrentExceptionRecord());
            record->LogText = "changed by " + name;
            g_notes.push_back(name + ":ExceptionActionNotify:" + std::to_string(action));
        };
        return handler;
    }
};

void GlobalExceptionNotify(cr::TOspreyExceptionRecord*, bool& handled)
{
    g_notes.push_back(std::string("global:ExceptionNotify:") + (handled ? "1" : "0"));
}

TEST_F(Events, NothingRegisteredChangesNothing)
{
    cr::EventHandled() = true;
    cr::CustomButtonCloseDialog() = false;
    cr::FireExceptionNotify();
    cr::FireHandledExceptionNotify();
    cr::FireCustomDataRequest();
    cr::FireCustomButtonClick();
    cr::FirePasswordRequest();
    EXPECT_TRUE(cr::EventHandled());
    EXPECT_FALSE(cr::CustomButtonCloseDialog());
    EXPECT_TRUE(cr::CustomDataFields().Empty());
    cr::FreeOspreyLogList();
    cr::FireExceptionNotify();
    EXPECT_TRUE(g_notes.empty());
}

TEST_F(Events, LocalHandlersLastToFirstThenTheGlobalProcedure)
{
    cr::TOspreyLogHandler first = Recording("first"), second = Recording("second");
    cr::TOspreyLogHandler silent; // handles nothing
    cr::OspreyLogList()->Add(&first);
    cr::OspreyLogList()->Add(&silent);
    cr::OspreyLogList()->Add(&second);
    cr::ExceptionNotifyProc = &GlobalExceptionNotify;
    cr::FireExceptionNotify();
    cr::FireCustomDataRequest();
    EXPECT_EQ(g_notes, (std::vector<std::string>{"second:ExceptionNotify:1", "first:ExceptionNotify:1",
                                                 "global:ExceptionNotify:1", "second:CustomDataRequest",
                                                 "first:CustomDataRequest"}));
    EXPECT_EQ(cr::CustomDataFields().Text(), "second\r\nfirst\r\n");
}

TEST_F(Events, ActionHandlersWorkOnACopy)
{
    cr::TOspreyLogHandler handler = Recording("only");
    cr::OspreyLogList()->Add(&handler);
    cr::CurrentExceptionRecord().LogText = "report";
    bool canContinue = true;
    cr::CallModuleExceptionActionNotify(cr::CurrentExceptionRecord(), 2, &canContinue);
    cr::CallExceptionActionNotifyHandlers(cr::CurrentExceptionRecord(), 2, &canContinue);
    EXPECT_EQ(g_notes, std::vector<std::string>{"only:ExceptionActionNotify:2"});
    EXPECT_EQ(cr::CurrentExceptionRecord().LogText, "report");
}

// ---- Another module carrying the reporter

class ForeignModule : public Events {
protected:
    void SetUp() override
    {
        Events::SetUp();
        dll_.Reset(::LoadLibraryW((kvtest::ExecutableFolder() + L"kv_events_testdll.dll").c_str()));
        ASSERT_TRUE(dll_);
        reinterpret_cast<void (*)(void (*)(const char*))>(::GetProcAddress(dll_.Get(), "KvEventsDll_Install"))(&Note);
        dllLogText_ = reinterpret_cast<const char* (*)()>(::GetProcAddress(dll_.Get(), "KvEventsDll_CurrentLogText"));
        // The exception was raised inside the DLL.
        cr::CurrentExceptionRecord().ExceptionAddress =
            reinterpret_cast<const void*>(::GetProcAddress(dll_.Get(), "KvEventsDll_Install"));
        cr::CurrentExceptionRecord().LogText = "the report";
        cr::SetReporterDataVersionReader(&ReadVersion);
        g_reporterVersion = 6023;
    }
    void TearDown() override
    {
        Events::TearDown();
        dll_.Reset();
    }

    kv::ModuleHandle dll_;
    const char* (*dllLogText_)() = nullptr;
};

TEST_F(ForeignModule, TheRaisingModulesExportComesFirst)
{
    cr::TOspreyLogHandler local = Recording("local");
    cr::OspreyLogList()->Add(&local);
    cr::ExceptionNotifyProc = &GlobalExceptionNotify;
    cr::FireExceptionNotify();
    // The DLL's handler cleared Handled; the local receivers see it cleared.
    EXPECT_EQ(g_notes, (std::vector<std::string>{"dll:ExceptionNotify:the report:1", "local:ExceptionNotify:0",
                                                 "global:ExceptionNotify:0"}));
    EXPECT_FALSE(cr::EventHandled());
    EXPECT_STREQ(dllLogText_(), "");
}

TEST_F(ForeignModule, OnlyMatchingVersionsAreCalled)
{
    const struct {
        int version;
        bool called;
    } cases[] = {{6000, true}, {6100, true}, {5999, false}, {6101, false}, {0, false}};
    for (const auto& c : cases) {
        g_notes.clear();
        g_reporterVersion = c.version;
        cr::FireAttachedFilesRequest();
        EXPECT_EQ(!g_notes.empty(), c.called) << c.version;
    }
    // Without a version reader nothing is ever called.
    cr::SetReporterDataVersionReader(nullptr);
    g_notes.clear();
    cr::FireAttachedFilesRequest();
    EXPECT_TRUE(g_notes.empty());
    // An exception of this module reaches only the local receivers.
    cr::SetReporterDataVersionReader(&ReadVersion);
    cr::CurrentExceptionRecord().ExceptionAddress = reinterpret_cast<const void*>(&Note);
    cr::FireAttachedFilesRequest();
    EXPECT_TRUE(g_notes.empty());
}

TEST_F(ForeignModule, ListsArriveAsCopies)
{
    cr::AttachedFilesList().Clear();
    cr::AttachedFilesList().Add("C:\\kvtest\\attached.txt");
    cr::FireAttachedFilesRequest();
    cr::CustomDataFields().Add("a=1");
    cr::CustomDataFields().Add("b=2");
    cr::FireCustomDataRequest();
    EXPECT_EQ(g_notes, (std::vector<std::string>{"dll:AttachedFilesRequest:C:\\kvtest\\attached.txt",
                                                 "dll:CustomDataRequest:2"}));
}

TEST_F(ForeignModule, ActionAndErrorEventsPassTheirData)
{
    bool canContinue = true;
    cr::CallModuleExceptionActionNotify(cr::CurrentExceptionRecord(), 3, &canContinue);
    EXPECT_FALSE(canContinue);
    cr::CallModuleExceptionErrorNotify(cr::CurrentExceptionRecord(), 3, &canContinue);
    EXPECT_EQ(g_notes, (std::vector<std::string>{"dll:ExceptionActionNotify:3", "dll:ExceptionErrorNotify:3"}));
}

TEST_F(ForeignModule, AForeignObjectIsMadeAgainFromItsWindowsRecord)
{
    // The object's class is this executable's, not the DLL's: the DLL makes
    // its own from the Windows record.
    kv::EAbort ours;
    EXCEPTION_RECORD windowsRecord{};
    windowsRecord.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    windowsRecord.NumberParameters = 2;
    cr::CurrentExceptionRecord().ExceptionObject = &ours;
    cr::CurrentExceptionRecord().Win32ExceptionRecord = &windowsRecord;
    cr::EventHandled() = true;
    cr::FireHandledExceptionNotify();
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_NE(g_notes[0].find("EAccessViolation"), std::string::npos) << g_notes[0];
    // Without a readable Windows record there is no object.
    g_notes.clear();
    cr::CurrentExceptionRecord().Win32ExceptionRecord = nullptr;
    cr::FireHandledExceptionNotify();
    EXPECT_EQ(g_notes, std::vector<std::string>{"dll:HandledExceptionNotify:"});
}

TEST_F(ForeignModule, AFailingHandlerStillGivesTheRecordBack)
{
    cr::CustomButtonCloseDialog() = false;
    cr::FireCustomButtonClick();
    EXPECT_EQ(g_notes, std::vector<std::string>{"dll:CustomButtonClick"});
    EXPECT_STREQ(dllLogText_(), "");
}

TEST_F(ForeignModule, PasswordFromTheModuleWhoseDataIsOpened)
{
    cr::SetPasswordRequestModule(dll_.Get());
    cr::EventPassword() = "ask";
    cr::FirePasswordRequest();
    EXPECT_EQ(cr::EventPassword(), "from-dll");
    EXPECT_EQ(g_notes, std::vector<std::string>{"dll:PasswordRequest:ask"});
}

// ---- Exports, called as another module's reporter calls them

// Calls an export with the register convention: EAX, EDX, ECX.
void CallRegister(FARPROC procedure, const void* a, const void* b, const void* c)
{
    asm volatile("call *%3" : "+a"(a), "+d"(b), "+c"(c) : "r"(procedure) : "memory", "cc");
}

FARPROC OwnExport(const char* name) { return ::GetProcAddress(::GetModuleHandleW(nullptr), name); }

TEST_F(Events, ExportsRunOnlyTheLocalReceivers)
{
    cr::TOspreyLogHandler local = Recording("local");
    cr::OspreyLogList()->Add(&local);
    cr::CurrentExceptionRecord().LogText = "ours";
    cr::TOspreyExceptionRecord theirs;
    theirs.LogText = "theirs";

    std::uint8_t handled = 1;
    CallRegister(OwnExport("OspreyLog_ExceptionNotifyEvent"), &theirs, &handled, nullptr);
    EXPECT_EQ(g_notes, std::vector<std::string>{"local:ExceptionNotify:1"});
    EXPECT_EQ(cr::CurrentExceptionRecord().LogText, "ours");

    g_notes.clear();
    kv::AnsiStringList callers("x=1\r\ny=2\r\n");
    CallRegister(OwnExport("OspreyLog_CustomDataRequestEventEx"), &theirs, &callers, nullptr);
    EXPECT_EQ(cr::CustomDataFields().Text(), "x=1\r\ny=2\r\nlocal\r\n");
    EXPECT_EQ(callers.Count(), 2u);

    g_notes.clear();
    CallRegister(OwnExport("OspreyLog_ExceptionActionNotifyEvent"), &theirs, reinterpret_cast<const void*>(1),
                 nullptr);
    EXPECT_EQ(g_notes, std::vector<std::string>{"local:ExceptionActionNotify:1"});
}

TEST_F(Events, PasswordExportsFillTheBuffer)
{
    cr::PasswordRequestProc = [](cr::TOspreyExceptionRecord*, std::string& password) {
        password = password + "-secret";
    };
    std::uint8_t buffer[256] = {3, 'k', 'e', 'y'};
    CallRegister(OwnExport("OspreyLog_PasswordRequestEvent"), buffer, reinterpret_cast<const void*>(255), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 1), buffer[0]), "key-secret");
    // At most MaxLength characters come back.
    cr::TOspreyExceptionRecord theirs;
    buffer[0] = 1;
    CallRegister(OwnExport("OspreyLog_PasswordRequestEventEx"), &theirs, buffer, reinterpret_cast<const void*>(4));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 1), buffer[0]), "k-se");
    cr::PasswordRequestProc = nullptr;
}

const void* g_lastSeen = nullptr;

TEST_F(Events, AnObjectMadeForAForeignRecordIsTheLastExceptionUntilLeave)
{
    EXCEPTION_RECORD windowsRecord{};
    windowsRecord.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
    windowsRecord.ExceptionAddress = reinterpret_cast<void*>(0x401234);
    cr::TOspreyExceptionRecord theirs;
    theirs.Win32ExceptionRecord = &windowsRecord;
    cr::ExceptionNotifyProc = [](cr::TOspreyExceptionRecord* record, bool&) {
        g_lastSeen = cr::LastException().Object;
        EXPECT_NE(record->ExceptionObject, nullptr);
        EXPECT_EQ(g_lastSeen, record->ExceptionObject);
        EXPECT_NE(cr::ClassNameOf(record->ExceptionObject).find("EDivByZero"), std::string::npos);
    };
    std::uint8_t handled = 1;
    CallRegister(OwnExport("OspreyLog_ExceptionNotifyEvent"), &theirs, &handled, nullptr);
    EXPECT_NE(g_lastSeen, nullptr);
    EXPECT_EQ(cr::LastException().Object, nullptr);
}

// Options whose stores into the shared copy are counted.
class CountingOptions : public cr::TOspreyModuleOptions {
public:
    using TOspreyModuleOptions::TOspreyModuleOptions;
    void StoreSharedData() override { ++stores; }
    int stores = 0;
};

CountingOptions* g_ourOptions = nullptr;
const cr::TOspreyModuleOptions* g_seenOptions = nullptr;

TEST_F(Events, ExportsSwitchToThisModulesOptionsAndStoreThem)
{
    CountingOptions ours("ours"), callers("callers");
    g_ourOptions = &ours;
    cr::SetModuleOptionsLookup([](HMODULE) -> cr::TOspreyModuleOptions* { return g_ourOptions; });
    cr::CustomButtonClickProc = [](cr::TOspreyExceptionRecord* record, bool& closeDialog) {
        g_seenOptions = record->CurrentModuleOptions;
        closeDialog = true;
    };
    cr::TOspreyExceptionRecord theirs;
    theirs.CurrentModuleOptions = &callers;
    std::uint8_t closeDialog = 0;
    CallRegister(OwnExport("OspreyLog_CustomButtonClickEvent"), &theirs, &closeDialog, nullptr);
    EXPECT_EQ(closeDialog, 1);
    EXPECT_EQ(g_seenOptions, &ours);
    EXPECT_EQ(ours.stores, 1);
    EXPECT_EQ(callers.stores, 0);
    EXPECT_EQ(cr::CurrentExceptionRecord().CurrentModuleOptions, nullptr);
    cr::SetModuleOptionsLookup(nullptr);
    cr::CustomButtonClickProc = nullptr;
}

// ---- The thread events run on

std::atomic<DWORD> g_ranOnThread{0};
std::atomic<int> g_runs{0};
std::atomic<int> g_checks{0};

void RecordThread()
{
    g_ranOnThread = ::GetCurrentThreadId();
    ++g_runs;
}
void Throwing()
{
    ++g_runs;
    throw std::runtime_error("a handler that fails");
}
void CountCheck() { ++g_checks; }

// The report thread: fires three events, the middle one failing.
DWORD WINAPI ReportThread(void*)
{
    cr::RunOnExceptionThread(&RecordThread);
    cr::RunOnExceptionThread(&Throwing);
    cr::RunOnExceptionThread(&RecordThread);
    return 0;
}

TEST_F(Events, HandedOverToTheWaitingThread)
{
    g_ranOnThread = 0;
    g_runs = 0;
    g_checks = 0;
    cr::SetEventDuplicateCheck(&CountCheck);
    cr::BeginWaitingForReport();
    kv::KernelHandle thread(::CreateThread(nullptr, 0, &ReportThread, nullptr, 0, nullptr));
    ASSERT_TRUE(thread);
    cr::WaitForReportThread(thread.Get());
    EXPECT_EQ(g_ranOnThread.load(), ::GetCurrentThreadId());
    EXPECT_EQ(g_runs.load(), 3);
    EXPECT_EQ(g_checks.load(), 3);
    EXPECT_EQ(cr::PendingEventProcedure(), nullptr);
}

TEST_F(Events, OnTheRaisingThreadItRunsAtOnce)
{
    g_ranOnThread = 0;
    cr::RunOnExceptionThread([] {
        g_ranOnThread = ::GetCurrentThreadId();
        EXPECT_EQ(cr::PendingEventProcedure(), cr::PendingMarker);
    });
    EXPECT_EQ(g_ranOnThread.load(), ::GetCurrentThreadId());
    EXPECT_EQ(cr::PendingEventProcedure(), nullptr);
    // While this thread is the waiting one, too.
    cr::BeginWaitingForReport();
    g_ranOnThread = 0;
    cr::RunOnExceptionThread(&RecordThread);
    cr::EndWaitingForReport();
    EXPECT_EQ(g_ranOnThread.load(), ::GetCurrentThreadId());
    EXPECT_NO_THROW(cr::RunOnExceptionThread(&Throwing));
}

TEST_F(Events, DisabledEventsRunNothing)
{
    g_runs = 0;
    g_checks = 0;
    cr::SetEventDuplicateCheck(&CountCheck);
    cr::SetEventsDisabled(true);
    cr::RunOnExceptionThread(&RecordThread);
    cr::BeginWaitingForReport();
    kv::KernelHandle thread(::CreateThread(nullptr, 0, &ReportThread, nullptr, 0, nullptr));
    cr::WaitForReportThread(thread.Get());
    EXPECT_EQ(g_runs.load(), 0);
    EXPECT_EQ(g_checks.load(), 0);
}

} // namespace
