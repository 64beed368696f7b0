#include "crashreport/core/ECore.h"

#include <atomic>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/EErrors.h"
#include "crashreport/core/ESystem.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {
namespace {

std::atomic<TOspreyModuleOptions*> g_currentOptions{nullptr};
std::atomic<FreezeWatchdogSwitch> g_watchdogSwitch{nullptr};
std::atomic<int> g_optionsUnitStarts{0};

HMODULE LoadedModuleHandle(const std::string& name)
{
    return name.empty() ? nullptr : ::GetModuleHandleA(name.c_str());
}

void NothingToFinish() {}

} // namespace

const char* const DefaultHTMLLayout =
    "<html>\r\n"
    "  <head>\r\n"
    "  </head>\r\n"
    "  <body TopMargin=10 LeftMargin=10>\r\n"
    "    <table width=\"100%\" border=\"0\">\r\n"
    "      <tr>\r\n"
    "        <td nowrap>\r\n"
    "          <font face=\"Lucida Console, Courier\" size=\"2\">\r\n"
    "            <%HTML_TAG%>\r\n"
    "          </font>\r\n"
    "        </td>\r\n"
    "      </tr>\r\n"
    "    </table>\r\n"
    "  </body>\r\n"
    "</html>";

const char* const DefaultSMTPFrom = "crash-reporter@kestrelvane.invalid";

// ---- Filters

void TOspreyExceptionsFilters::Add(std::unique_ptr<TOspreyExceptionFilter> item)
{
    items_.push_back(std::move(item));
    owner_.Changed();
}

void TOspreyExceptionsFilters::Insert(int index, std::unique_ptr<TOspreyExceptionFilter> item)
{
    items_.insert(items_.begin() + index, std::move(item));
    owner_.Changed();
}

void TOspreyExceptionsFilters::Delete(int index)
{
    items_.erase(items_.begin() + index);
    owner_.Changed();
}

void TOspreyExceptionsFilters::Clear()
{
    items_.clear();
    owner_.Changed();
}

void TOspreyExceptionsFilters::Assign(const TOspreyExceptionsFilters& source)
{
    if (&source == this) return;
    Clear();
    for (const auto& item : source.items_) Add(std::make_unique<TOspreyExceptionFilter>(*item));
}

// ---- Options

TOspreyModuleOptions::TOspreyModuleOptions(std::string moduleName)
    : FModuleName(std::move(moduleName)), FModuleHandle(LoadedModuleHandle(FModuleName))
{
    SetToDefaultOptions();
    sharedData_ = 0;
}

TOspreyModuleOptions::~TOspreyModuleOptions()
{
    // Tearing down is no change: the shared copy stays as it is.
    ++sharedData_;
}

void TOspreyModuleOptions::EndUpdate() noexcept
{
    --sharedData_;
    Changed();
}

void TOspreyModuleOptions::Changed() noexcept
{
    if (sharedData_ > 0 || FModuleHandle == nullptr || FModuleHandle != OwnModuleHandle()) return;
    try {
        StoreSharedData();
    } catch (...) {
        // Other modules then see the previous copy; the options themselves are fine.
    }
}

void TOspreyModuleOptions::SetActive(bool value) { StoreActive(value); }
void TOspreyModuleOptions::SetFreezeActivate(bool value) { StoreFreezeActivate(value); }

void TOspreyModuleOptions::SetCustomizedTexts(TMessageType index, std::string value)
{
    Store(customizedTexts_[index], std::move(value));
}

std::string TOspreyModuleOptions::GetExpandedText(TMessageType index) const
{
    return ExpandPathTags(customizedTexts_[index]);
}

void TOspreyModuleOptions::Assign(const TOspreyModuleOptions* source)
{
    if (source == nullptr) throw EConvertError(L"Impossible to assign nil as TOspreyModuleOptions.");
    if (source == this) return;
    UpdateBracket update(*this);
    const TOspreyModuleOptions& s = *source;
    filters_.Assign(s.filters_);
    for (int i = 0; i < MessageTypeCount; ++i)
        SetCustomizedTexts(static_cast<TMessageType>(i), s.customizedTexts_[static_cast<std::size_t>(i)]);
    SetTextsCollection(s.FTextsCollection);
    SetActivateLog(s.FActivateLog);
    SetSaveLogFile(s.FSaveLogFile);
    SetFreezeActivate(s.FFreezeActivate);
    SetFreezeTimeout(s.FFreezeTimeout);
    SetSMTPFrom(s.FSMTPFrom);
    SetSMTPHost(s.FSMTPHost);
    SetSMTPPort(s.FSMTPPort);
    SetSMTPUserID(s.FSMTPUserID);
    SetSMTPPassword(s.FSMTPPassword);
    SetForegroundTab(s.FForegroundTab);
    SetActivateHandle(s.FActivateHandle);
    SetAppendLogs(s.FAppendLogs);
    SetTerminateBtnOperation(s.FTerminateBtnOperation);
    SetLogOptions(s.FLogOptions);
    SetErrorsNumberToSave(s.FErrorsNumberToSave);
    SetErrorsNumberToShowTerminateBtn(s.FErrorsNumberToShowTerminateBtn);
    SetOutputPath(s.FOutputPath);
    SetEMailAddresses(s.FEMailAddresses);
    SetEMailSubject(s.FEMailSubject);
    SetEMailMessage(s.FEMailMessage);
    SetEMailSendMode(s.FEMailSendMode);
    SetShowOptions(s.FShowOptions);
    SetWebSendMode(s.FWebSendMode);
    SetWebURL(s.FWebURL);
    SetWebUserID(s.FWebUserID);
    SetWebPassword(s.FWebPassword);
    SetWebPort(s.FWebPort);
    SetCommonSendOptions(s.FCommonSendOptions);
    SetAttachedFiles(s.FAttachedFiles);
    SetExceptionDialogOptions(s.FExceptionDialogOptions);
    SetAutoCloseDialogSecs(s.FAutoCloseDialogSecs);
    SetSupportURL(s.FSupportURL);
    SetHTMLLayout(s.FHTMLLayout);
    SetCallStackOptions(s.FCallStackOptions);
    SetBehaviourOptions(s.FBehaviourOptions);
    SetAutoCrashOperation(s.FAutoCrashOperation);
    SetAutoCrashNumber(s.FAutoCrashNumber);
    SetAutoCrashMinutes(s.FAutoCrashMinutes);
    SetProxyURL(s.FProxyURL);
    SetProxyUserID(s.FProxyUserID);
    SetProxyPassword(s.FProxyPassword);
    SetProxyPort(s.FProxyPort);
    SetTrakerUserID(s.FTrakerUserID);
    SetTrakerPassword(s.FTrakerPassword);
    SetTrakerAssignTo(s.FTrakerAssignTo);
    SetTrakerProject(s.FTrakerProject);
    SetTrakerCategory(s.FTrakerCategory);
    SetTrakerTrialID(s.FTrakerTrialID);
    SetZipPassword(s.FZipPassword);
    SetPreBuildEvent(s.FPreBuildEvent);
    SetPostSuccessfulBuildEvent(s.FPostSuccessfulBuildEvent);
    SetPostFailureBuildEvent(s.FPostFailureBuildEvent);
    SetCompiledFileOptions(s.FCompiledFileOptions);
    SetExceptionDialogType(s.FExceptionDialogType);
    FLeaksOptions = s.FLeaksOptions;
    FReproduceText = s.FReproduceText;
}

void TOspreyModuleOptions::SetToDefaultOptions()
{
    UpdateBracket update(*this);
    for (int i = 0; i < MessageTypeCount; ++i)
        customizedTexts_[static_cast<std::size_t>(i)] = DefaultMessageText(static_cast<TMessageType>(i));
    FTextsCollection = "English";
    FSMTPFrom = DefaultSMTPFrom;
    FSMTPHost.clear();
    FSMTPPort = 25;
    FSMTPUserID.clear();
    FSMTPPassword.clear();
    FFreezeActivate = false;
    FFreezeTimeout = 60;
    FActivateLog = false;
    FSaveLogFile = true;
    FActivateHandle = true;
    FForegroundTab = ftGeneral;
    FAppendLogs = false;
    FTerminateBtnOperation = tbRestart;
    FLogOptions = {loSaveModulesAndProcessesSections, loSaveAssemblerAndCPUSections};
    FShowOptions = TShowOptions::All();
    FErrorsNumberToSave = 32;
    FErrorsNumberToShowTerminateBtn = 3;
    FOutputPath.clear();
    FEMailAddresses.clear();
    FEMailSubject.clear();
    FEMailMessage.clear();
    FEMailSendMode = esmNoSend;
    FWebSendMode = wsmNoSend;
    FWebURL.clear();
    FWebUserID.clear();
    FWebPassword.clear();
    FWebPort = 0;
    FCommonSendOptions = {sndShowSendDialog, sndSendScreenshot, sndSendLastHTMLPage};
    FAttachedFiles.clear();
    FExceptionDialogType = edtMSClassic;
    FExceptionDialogOptions = {edoSendErrorReportChecked,    edoAttachScreenshotChecked,
                               edoShowCopyToClipOption,      edoShowDetailsButton,
                               edoShowSendErrorReportOption, edoShowAttachScreenshotOption};
    FAutoCloseDialogSecs = 0;
    FSupportURL.clear();
    FHTMLLayout = DefaultHTMLLayout;
    FAutoCrashOperation = tbRestart;
    FAutoCrashNumber = 10;
    FAutoCrashMinutes = 1;
    FCallStackOptions = {csoShowDLLs, csoShowBPLs, csoShowRuntimeThreads, csoShowWindowsThreads};
    FBehaviourOptions = {boUseMainModuleOptions, boCopyLogInCaseOfError, boHandleSafeCallExceptions};
    FLeaksOptions = {loGroupsSonLeaks, loHideRuntimeLeaks, loFreeAllLeaks, loCatchLeaksExceptions};
    FProxyURL.clear();
    FProxyUserID.clear();
    FProxyPassword.clear();
    FProxyPort = 8080;
    for (std::string* text : {&FTrakerUserID, &FTrakerPassword, &FTrakerAssignTo, &FTrakerProject, &FTrakerCategory,
                              &FTrakerTrialID, &FZipPassword, &FPreBuildEvent, &FPostSuccessfulBuildEvent,
                              &FPostFailureBuildEvent})
        text->clear();
    FCompiledFileOptions = {cfoReduceFileSize};
    filters_.Clear();
    FReproduceText.clear();
    FActive = true;
}

void TOspreyModuleOptions::SaveToFile(const std::string& fileName) const
{
    FileStream file = FileStream::Create(AnsiToWide(fileName));
    SaveToStream(file);
}

void TOspreyModuleOptions::LoadFromFile(const std::string& fileName)
{
    FileStream file = FileStream::OpenRead(AnsiToWide(fileName));
    LoadFromStream(file);
}

// ---- The subclass

void TOspreyModuleOptionsEx::SetActive(bool value)
{
    const bool changed = value != Active();
    if (this != CurrentOspreyLogOptions() || changed) StoreActive(value);
    ApplyWatchdogSwitch(changed);
}

void TOspreyModuleOptionsEx::SetFreezeActivate(bool value)
{
    const bool changed = value != FreezeActivate();
    if (this != CurrentOspreyLogOptions() || changed) StoreFreezeActivate(value);
    ApplyWatchdogSwitch(changed);
}

void TOspreyModuleOptionsEx::ApplyWatchdogSwitch(bool changed)
{
    if (!changed || this != CurrentOspreyLogOptions()) return;
    if (const FreezeWatchdogSwitch control = g_watchdogSwitch.load()) control(Active() && FreezeActivate());
}

TOspreyModuleOptions* CurrentOspreyLogOptions() noexcept { return g_currentOptions.load(); }
void SetCurrentOspreyLogOptions(TOspreyModuleOptions* options) noexcept { g_currentOptions.store(options); }
void SetFreezeWatchdogSwitch(FreezeWatchdogSwitch control) noexcept { g_watchdogSwitch.store(control); }

void InitializeOptionsUnit()
{
    if (g_optionsUnitStarts.fetch_add(1) == 0) GuardedCall([] { IsHostIDE(); }, "ECore.Init");
}

void FinalizeOptionsUnit()
{
    if (g_optionsUnitStarts.fetch_sub(1) == 1) GuardedCall(NothingToFinish, "ECore.Done");
}

} // namespace kv::crashreport
