#include <gtest/gtest.h>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EOptionsStream.h"
#include "crashreport/core/ESystem.h"
#include "platform/Exceptions.h"

namespace {

using kv::crashreport::TOspreyModuleOptions;
using kv::crashreport::TOspreyModuleOptionsEx;

// Options of the reporter's own module that count their shared-copy stores.
class CountingOptions : public TOspreyModuleOptionsEx {
public:
    CountingOptions() : TOspreyModuleOptionsEx(kv::crashreport::OwnModuleName()) {}
    ~CountingOptions() override { destroying = true; }
    void StoreSharedData() override
    {
        ++stores;
        if (destroying) ++storesWhileDestroying;
    }
    int stores = 0;
    bool destroying = false;
    static inline int storesWhileDestroying = 0;
};

TEST(ECore, FreshObjectHoldsTheDefaults)
{
    TOspreyModuleOptionsEx o("");
    EXPECT_EQ(o.ModuleHandle(), nullptr);
    EXPECT_EQ(o.UpdateLevel(), 0);
    EXPECT_EQ(o.SMTPFrom(), kv::crashreport::DefaultSMTPFrom);
    EXPECT_EQ(o.SMTPHost(), "");
    EXPECT_EQ(o.SMTPPort(), 25);
    EXPECT_FALSE(o.FreezeActivate());
    EXPECT_EQ(o.FreezeTimeout(), 60);
    EXPECT_EQ(o.ExceptionsFilters().Count(), 0);
    EXPECT_EQ(o.TextsCollection(), "English");
    EXPECT_FALSE(o.ActivateLog());
    EXPECT_TRUE(o.SaveLogFile());
    EXPECT_TRUE(o.ActivateHandle());
    EXPECT_EQ(o.ForegroundTab(), kv::crashreport::ftGeneral);
    EXPECT_FALSE(o.AppendLogs());
    EXPECT_EQ(o.TerminateBtnOperation(), kv::crashreport::tbRestart);
    EXPECT_EQ(o.LogOptions().Value(), 0x30u);
    EXPECT_EQ(o.ShowOptions().Value(), 0xFFFFFFFFFFFFull);
    EXPECT_EQ(o.ErrorsNumberToSave(), 32);
    EXPECT_EQ(o.ErrorsNumberToShowTerminateBtn(), 3);
    EXPECT_EQ(o.EMailSendMode(), kv::crashreport::esmNoSend);
    EXPECT_EQ(o.WebSendMode(), kv::crashreport::wsmNoSend);
    EXPECT_EQ(o.WebPort(), 0);
    EXPECT_EQ(o.CommonSendOptions().Value(), 0x0051u);
    EXPECT_EQ(o.ExceptionDialogType(), kv::crashreport::edtMSClassic);
    EXPECT_EQ(o.ExceptionDialogOptions().Value(), 0x018Fu);
    EXPECT_EQ(o.AutoCloseDialogSecs(), 0);
    EXPECT_EQ(o.HTMLLayout(), kv::crashreport::DefaultHTMLLayout);
    EXPECT_EQ(o.AutoCrashOperation(), kv::crashreport::tbRestart);
    EXPECT_EQ(o.AutoCrashNumber(), 10);
    EXPECT_EQ(o.AutoCrashMinutes(), 1);
    EXPECT_EQ(o.CallStackOptions().Value(), 0x0Fu);
    EXPECT_EQ(o.BehaviourOptions().Value(), 0x0058u);
    EXPECT_EQ(o.LeaksOptions().Value(), 0x1Eu);
    EXPECT_EQ(o.ProxyPort(), 8080);
    EXPECT_EQ(o.CompiledFileOptions().Value(), 0x01u);
    EXPECT_EQ(o.ReproduceText(), "");
    EXPECT_TRUE(o.Active());
    for (int i = 0; i < kv::crashreport::MessageTypeCount; ++i)
        EXPECT_EQ(o.GetCustomizedTexts(static_cast<kv::crashreport::TMessageType>(i)),
                  kv::crashreport::DefaultMessageText(static_cast<kv::crashreport::TMessageType>(i)));
}

TEST(ECore, HtmlLayoutIsFifteenLinesWithoutFinalBreak)
{
    const std::string layout = kv::crashreport::DefaultHTMLLayout;
    int breaks = 0;
    for (std::size_t at = layout.find("\r\n"); at != std::string::npos; at = layout.find("\r\n", at + 2)) ++breaks;
    EXPECT_EQ(breaks, 14);
    EXPECT_NE(layout.find("            <%HTML_TAG%>\r\n"), std::string::npos);
    EXPECT_EQ(layout.substr(layout.size() - 7), "</html>");
}

TEST(ECore, ModuleHandleOfALoadedModule)
{
    TOspreyModuleOptionsEx own(kv::crashreport::OwnModuleName());
    EXPECT_EQ(own.ModuleHandle(), kv::crashreport::OwnModuleHandle());
    TOspreyModuleOptionsEx missing("C:\\no\\such-module.dll");
    EXPECT_EQ(missing.ModuleHandle(), nullptr);
}

TEST(ECore, ErrorsNumberToSaveKeepsAtLeastOne)
{
    TOspreyModuleOptionsEx o("");
    o.SetErrorsNumberToSave(0);
    EXPECT_EQ(o.ErrorsNumberToSave(), 1);
    o.SetErrorsNumberToSave(7);
    EXPECT_EQ(o.ErrorsNumberToSave(), 7);
}

// Leak options have no write accessor; they reach an object through a stream.
void LoadLeaksOptions(TOspreyModuleOptions& o, std::uint8_t leaks)
{
    const std::string marker = "leaks-marker";
    o.SetProxyURL(marker);
    kv::MemoryStream stream;
    o.SaveToStream(stream);
    std::string bytes = stream.Data();
    std::string stored = marker;
    for (char& c : stored) c = static_cast<char>(c ^ 0xD6);
    // Behind the leak options: AutoCrashOperation, two ints, two bytes, then ProxyURL's length.
    const std::size_t proxyLength = bytes.find(stored) - 4;
    bytes[proxyLength - 12] = static_cast<char>(leaks);
    kv::MemoryStream patched(bytes);
    kv::crashreport::OptionsStreamVersion = kv::crashreport::ReporterVersion;
    o.LoadFromStream(patched);
}

TEST(ECore, AssignCopiesEverythingButIdentityAndActive)
{
    TOspreyModuleOptionsEx source("");
    source.SetSMTPHost("smtp.example");
    source.SetWebPort(8443);
    source.SetActive(false);
    source.SetCustomizedTexts(kv::crashreport::mtDialog_Caption, "Oops");
    source.SetPostFailureBuildEvent("cleanup.cmd");
    source.SetExceptionDialogType(kv::crashreport::edtOspreyLog);
    source.SetReproduceText("clicked twice");
    auto filter = std::make_unique<kv::crashreport::TOspreyExceptionFilter>();
    filter->ExceptionClassName = "EAccessViolation";
    filter->ActionType = kv::crashreport::fatTerminate;
    source.ExceptionsFilters().Add(std::move(filter));
    LoadLeaksOptions(source, 0x01);

    TOspreyModuleOptionsEx target(kv::crashreport::OwnModuleName());
    target.Assign(&source);
    EXPECT_EQ(target.SMTPHost(), "smtp.example");
    EXPECT_EQ(target.WebPort(), 8443);
    EXPECT_EQ(target.GetCustomizedTexts(kv::crashreport::mtDialog_Caption), "Oops");
    EXPECT_EQ(target.PostFailureBuildEvent(), "cleanup.cmd");
    EXPECT_EQ(target.ExceptionDialogType(), kv::crashreport::edtOspreyLog);
    EXPECT_EQ(target.ReproduceText(), "clicked twice");
    EXPECT_EQ(target.LeaksOptions().Value(), 0x01u);
    ASSERT_EQ(target.ExceptionsFilters().Count(), 1);
    EXPECT_EQ(*target.ExceptionsFilters()[0], *source.ExceptionsFilters()[0]);
    EXPECT_NE(target.ExceptionsFilters()[0], source.ExceptionsFilters()[0]); // a copy, not shared
    EXPECT_TRUE(target.Active());
    EXPECT_EQ(target.ModuleName(), kv::crashreport::OwnModuleName());
    EXPECT_EQ(target.ModuleHandle(), kv::crashreport::OwnModuleHandle());
}

TEST(ECore, AssignOfNothingOrItself)
{
    TOspreyModuleOptionsEx o("");
    EXPECT_THROW(o.Assign(nullptr), kv::EConvertError);
    o.SetSMTPHost("kept");
    o.Assign(&o);
    EXPECT_EQ(o.SMTPHost(), "kept");
}

TEST(ECore, EveryWriteOutsideAnUpdateStoresTheSharedCopy)
{
    CountingOptions o;
    EXPECT_EQ(o.stores, 0);
    o.SetSMTPHost("a");
    o.SetCustomizedTexts(kv::crashreport::mtErrorMsgCaption, "b");
    o.ExceptionsFilters().Add(std::make_unique<kv::crashreport::TOspreyExceptionFilter>());
    EXPECT_EQ(o.stores, 3);
}

TEST(ECore, BulkChangesStoreTheSharedCopyOnce)
{
    CountingOptions o;
    TOspreyModuleOptionsEx source("");
    source.ExceptionsFilters().Add(std::make_unique<kv::crashreport::TOspreyExceptionFilter>());
    o.Assign(&source);
    EXPECT_EQ(o.stores, 1);
    o.SetToDefaultOptions();
    EXPECT_EQ(o.stores, 2);
    kv::MemoryStream stream;
    source.SaveToStream(stream);
    stream.Seek(0);
    o.LoadFromStream(stream);
    EXPECT_EQ(o.stores, 3);
    o.BeginUpdate();
    o.BeginUpdate();
    o.SetWebURL("x");
    o.EndUpdate();
    EXPECT_EQ(o.stores, 3); // the inner end's Changed waits for the outer one
    o.EndUpdate();
    EXPECT_EQ(o.stores, 4);
}

TEST(ECore, OptionsOfAnotherModuleNeverStore)
{
    struct Other : TOspreyModuleOptionsEx {
        Other() : TOspreyModuleOptionsEx("kernel32.dll") {}
        void StoreSharedData() override { ++stores; }
        int stores = 0;
    } o;
    ASSERT_NE(o.ModuleHandle(), nullptr);
    o.SetSMTPHost("x");
    EXPECT_EQ(o.stores, 0);
}

TEST(ECore, DestroyingStoresNothing)
{
    CountingOptions::storesWhileDestroying = 0;
    {
        CountingOptions o;
        o.ExceptionsFilters().Add(std::make_unique<kv::crashreport::TOspreyExceptionFilter>());
    }
    EXPECT_EQ(CountingOptions::storesWhileDestroying, 0);
}

TEST(ECore, FiltersListOperations)
{
    TOspreyModuleOptionsEx o("");
    auto& filters = o.ExceptionsFilters();
    for (const char* name : {"A", "C"}) {
        auto f = std::make_unique<kv::crashreport::TOspreyExceptionFilter>();
        f->ExceptionClassName = name;
        filters.Add(std::move(f));
    }
    auto b = std::make_unique<kv::crashreport::TOspreyExceptionFilter>();
    b->ExceptionClassName = "B";
    filters.Insert(1, std::move(b));
    ASSERT_EQ(filters.Count(), 3);
    EXPECT_EQ(filters[1]->ExceptionClassName, "B");
    filters.Delete(0);
    EXPECT_EQ(filters[0]->ExceptionClassName, "B");
    filters.Clear();
    EXPECT_EQ(filters.Count(), 0);
}

// The watchdog follows Active and FreezeActivate of the options in force only.
int g_watchdogRuns = 0, g_watchdogStops = 0;
void RecordWatchdog(bool run) { run ? ++g_watchdogRuns : ++g_watchdogStops; }

TEST(ECore, WatchdogFollowsTheOptionsInForce)
{
    kv::crashreport::SetFreezeWatchdogSwitch(RecordWatchdog);
    TOspreyModuleOptionsEx current(""), other("");
    kv::crashreport::SetCurrentOspreyLogOptions(&current);
    other.SetFreezeActivate(true);
    EXPECT_EQ(g_watchdogRuns + g_watchdogStops, 0);
    current.SetFreezeActivate(true);
    EXPECT_EQ(g_watchdogRuns, 1);
    current.SetFreezeActivate(true); // no change, no switch
    EXPECT_EQ(g_watchdogRuns, 1);
    current.SetActive(false);
    EXPECT_EQ(g_watchdogStops, 1);
    EXPECT_FALSE(current.Active());
    kv::crashreport::SetCurrentOspreyLogOptions(nullptr);
    kv::crashreport::SetFreezeWatchdogSwitch(nullptr);
}

TEST(ECore, ExpandedTextGoesThroughTheTags)
{
    TOspreyModuleOptionsEx o("");
    ::SetEnvironmentVariableA("_ExceptMsg", "Access violation");
    o.SetCustomizedTexts(kv::crashreport::mtDialog_ErrorMsgCaption, "Error: %_ExceptMsg%%_LineBreak%");
    EXPECT_EQ(o.GetCustomizedTexts(kv::crashreport::mtDialog_ErrorMsgCaption), "Error: %_ExceptMsg%%_LineBreak%");
    EXPECT_EQ(o.GetExpandedText(kv::crashreport::mtDialog_ErrorMsgCaption), "Error: Access violation");
    ::SetEnvironmentVariableA("_ExceptMsg", nullptr);
}

} // namespace
