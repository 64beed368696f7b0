#pragma once
// The crash reporter's options: one TOspreyModuleOptions per module that
// carries the reporter, filled with defaults, then from the module's options
// stream or from another module's shared copy. TOspreyModuleOptionsEx is the
// class actually created: it drives the freeze watchdog and keeps the shared
// copy of the reporter's own module up to date.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/core/ETypes.h"
#include "platform/Stream.h"

namespace kv::crashreport {

class TOspreyModuleOptions;

// One per-class handling rule.
struct TOspreyExceptionFilter {
    bool Active = true;
    std::string ExceptionClassName;
    std::string ExceptionMessage;
    TFilterExceptionType ExceptionType = fetAll;
    TFilterDialogType DialogType = fdtNone;
    TFilterHandlerType HandlerType = fhtNone;
    TFilterActionType ActionType = fatNone;

    bool operator==(const TOspreyExceptionFilter&) const = default;
};

// The filters of one options object; every change notifies the owner.
class TOspreyExceptionsFilters {
public:
    explicit TOspreyExceptionsFilters(TOspreyModuleOptions& owner) : owner_(owner) {}
    TOspreyExceptionsFilters(const TOspreyExceptionsFilters&) = delete;
    TOspreyExceptionsFilters& operator=(const TOspreyExceptionsFilters&) = delete;

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    TOspreyExceptionFilter* operator[](int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }

    void Add(std::unique_ptr<TOspreyExceptionFilter> item);
    void Insert(int index, std::unique_ptr<TOspreyExceptionFilter> item);
    void Delete(int index);
    void Clear();
    void Assign(const TOspreyExceptionsFilters& source);

private:
    TOspreyModuleOptions& owner_;
    std::vector<std::unique_ptr<TOspreyExceptionFilter>> items_;
};

// The default page of web-server applications; "<%HTML_TAG%>" stands for the report.
extern const char* const DefaultHTMLLayout;
// The sender of report mails until one is configured.
extern const char* const DefaultSMTPFrom;

class TOspreyModuleOptions {
public:
    explicit TOspreyModuleOptions(std::string moduleName);
    virtual ~TOspreyModuleOptions();
    TOspreyModuleOptions(const TOspreyModuleOptions&) = delete;
    TOspreyModuleOptions& operator=(const TOspreyModuleOptions&) = delete;

    virtual void SetActive(bool value);
    virtual void SetFreezeActivate(bool value);
    // Copies every option but Active, ModuleName and ModuleHandle; a null
    // source throws EConvertError, the object itself is a no-op.
    virtual void Assign(const TOspreyModuleOptions* source);
    virtual void SetToDefaultOptions();
    virtual void SaveToStream(Stream& stream) const;
    virtual void SaveToFile(const std::string& fileName) const;
    // Reads a stream of version OptionsStreamVersion.
    virtual void LoadFromStream(Stream& stream);
    virtual void LoadFromFile(const std::string& fileName);
    virtual void StoreSharedData() {}
    virtual void LoadSharedData() {}

    // While an update runs (nesting allowed) no change reaches the shared copy;
    // the end of the outermost update runs Changed once.
    void BeginUpdate() noexcept { ++sharedData_; }
    void EndUpdate() noexcept;
    int UpdateLevel() const noexcept { return sharedData_; }
    // Stores the shared copy when no update runs and the options belong to
    // the module that holds the reporter.
    void Changed() noexcept;

    const std::string& GetCustomizedTexts(TMessageType index) const { return customizedTexts_[index]; }
    void SetCustomizedTexts(TMessageType index, std::string value);
    std::string GetExpandedText(TMessageType index) const;

    void SaveCustomizedTextsToFile(const std::string& fileName);
    void LoadCustomizedTextsFromFile(const std::string& fileName);
    std::string OutputFile(const std::string& fileName) const;
    std::string OutputLogFile(const std::string& baseFile) const;

    const std::string& ModuleName() const noexcept { return FModuleName; }
    HMODULE ModuleHandle() const noexcept { return FModuleHandle; }
    bool Active() const noexcept { return FActive; }
    bool FreezeActivate() const noexcept { return FFreezeActivate; }
    const TLeaksOptions& LeaksOptions() const noexcept { return FLeaksOptions; }
    TOspreyExceptionsFilters& ExceptionsFilters() noexcept { return filters_; }
    const TOspreyExceptionsFilters& ExceptionsFilters() const noexcept { return filters_; }

    const int& ErrorsNumberToSave() const noexcept { return FErrorsNumberToSave; }
    // 0 is stored as 1: the log keeps at least one report.
    void SetErrorsNumberToSave(int value) { Store(FErrorsNumberToSave, value == 0 ? 1 : value); }

#define KV_OPTION(Type, Name)                                          \
    const Type& Name() const noexcept { return F##Name; }              \
    void Set##Name(Type value) { Store(F##Name, std::move(value)); }
    KV_OPTION(std::string, SMTPFrom)
    KV_OPTION(std::string, SMTPHost)
    KV_OPTION(std::uint16_t, SMTPPort)
    KV_OPTION(std::string, SMTPUserID)
    KV_OPTION(std::string, SMTPPassword)
    KV_OPTION(std::int32_t, FreezeTimeout)
    KV_OPTION(std::string, TextsCollection)
    KV_OPTION(bool, ActivateLog)
    KV_OPTION(bool, SaveLogFile)
    KV_OPTION(bool, ActivateHandle)
    KV_OPTION(TForegroundType, ForegroundTab)
    KV_OPTION(bool, AppendLogs)
    KV_OPTION(TTerminateBtnOperation, TerminateBtnOperation)
    KV_OPTION(TLogOptions, LogOptions)
    KV_OPTION(TShowOptions, ShowOptions)
    KV_OPTION(std::int32_t, ErrorsNumberToShowTerminateBtn)
    KV_OPTION(std::string, OutputPath)
    KV_OPTION(std::string, EMailAddresses)
    KV_OPTION(std::string, EMailSubject)
    KV_OPTION(std::string, EMailMessage)
    KV_OPTION(TEmailSendMode, EMailSendMode)
    KV_OPTION(TWebSendMode, WebSendMode)
    KV_OPTION(std::string, WebURL)
    KV_OPTION(std::string, WebUserID)
    KV_OPTION(std::string, WebPassword)
    KV_OPTION(std::int32_t, WebPort)
    KV_OPTION(TCommonSendOptions, CommonSendOptions)
    KV_OPTION(std::string, AttachedFiles)
    KV_OPTION(TExceptionDialogType, ExceptionDialogType)
    KV_OPTION(TExceptionDialogOptions, ExceptionDialogOptions)
    KV_OPTION(std::int32_t, AutoCloseDialogSecs)
    KV_OPTION(std::string, SupportURL)
    KV_OPTION(std::string, HTMLLayout)
    KV_OPTION(TTerminateBtnOperation, AutoCrashOperation)
    KV_OPTION(std::int32_t, AutoCrashNumber)
    KV_OPTION(std::int32_t, AutoCrashMinutes)
    KV_OPTION(TCallStackOptions, CallStackOptions)
    KV_OPTION(TBehaviourOptions, BehaviourOptions)
    KV_OPTION(std::string, ProxyURL)
    KV_OPTION(std::string, ProxyUserID)
    KV_OPTION(std::string, ProxyPassword)
    KV_OPTION(std::uint16_t, ProxyPort)
    KV_OPTION(std::string, TrakerUserID)
    KV_OPTION(std::string, TrakerPassword)
    KV_OPTION(std::string, TrakerAssignTo)
    KV_OPTION(std::string, TrakerProject)
    KV_OPTION(std::string, TrakerCategory)
    KV_OPTION(std::string, TrakerTrialID)
    KV_OPTION(std::string, ZipPassword)
    KV_OPTION(TCompiledFileOptions, CompiledFileOptions)
    KV_OPTION(std::string, ReproduceText)
    // Kept and copied, never stored in the stream.
    KV_OPTION(std::string, PreBuildEvent)
    KV_OPTION(std::string, PostSuccessfulBuildEvent)
    KV_OPTION(std::string, PostFailureBuildEvent)
#undef KV_OPTION

protected:
    template <class T>
    void Store(T& field, T value)
    {
        field = std::move(value);
        Changed();
    }

    // Scoped update: EndUpdate runs even when the body throws.
    class UpdateBracket {
    public:
        explicit UpdateBracket(TOspreyModuleOptions& options) : options_(options) { options_.BeginUpdate(); }
        ~UpdateBracket() { options_.EndUpdate(); }
        UpdateBracket(const UpdateBracket&) = delete;
        UpdateBracket& operator=(const UpdateBracket&) = delete;

    private:
        TOspreyModuleOptions& options_;
    };

    void StoreActive(bool value) { Store(FActive, value); }
    void StoreFreezeActivate(bool value) { Store(FFreezeActivate, value); }

private:
    void LoadFromStreamBody(Stream& stream, int version);

    int sharedData_ = 0;
    std::string FSMTPFrom, FSMTPHost, FSMTPUserID, FSMTPPassword;
    std::uint16_t FSMTPPort = 0;
    std::string FProxyURL, FProxyUserID, FProxyPassword;
    std::uint16_t FProxyPort = 0;
    std::string FTrakerUserID, FTrakerPassword, FTrakerAssignTo, FTrakerProject, FTrakerCategory, FTrakerTrialID;
    std::string FZipPassword;
    std::string FPreBuildEvent, FPostSuccessfulBuildEvent, FPostFailureBuildEvent;
    TCompiledFileOptions FCompiledFileOptions;
    TTerminateBtnOperation FTerminateBtnOperation = tbNone;
    bool FFreezeActivate = false;
    std::int32_t FFreezeTimeout = 0;
    std::string FModuleName;
    HMODULE FModuleHandle = nullptr;
    TShowOptions FShowOptions;
    TExceptionDialogType FExceptionDialogType = edtNone;
    TOspreyExceptionsFilters filters_{*this};
    std::vector<std::string> customizedTexts_ = std::vector<std::string>(MessageTypeCount);
    std::string FTextsCollection;
    bool FActivateLog = false, FActivateHandle = false, FAppendLogs = false, FSaveLogFile = false;
    TLogOptions FLogOptions;
    TCommonSendOptions FCommonSendOptions;
    TForegroundType FForegroundTab = ftGeneral;
    std::int32_t FErrorsNumberToSave = 0, FErrorsNumberToShowTerminateBtn = 0;
    std::string FOutputPath, FEMailAddresses, FEMailSubject, FEMailMessage;
    TEmailSendMode FEMailSendMode = esmNoSend;
    TWebSendMode FWebSendMode = wsmNoSend;
    std::string FAttachedFiles;
    TExceptionDialogOptions FExceptionDialogOptions;
    std::int32_t FAutoCloseDialogSecs = 0;
    std::string FSupportURL, FHTMLLayout;
    TTerminateBtnOperation FAutoCrashOperation = tbNone;
    std::int32_t FAutoCrashNumber = 0, FAutoCrashMinutes = 0;
    TCallStackOptions FCallStackOptions;
    TBehaviourOptions FBehaviourOptions;
    TLeaksOptions FLeaksOptions;
    std::string FWebURL;
    std::int32_t FWebPort = 0;
    std::string FWebPassword, FWebUserID;
    std::string FReproduceText;
    bool FActive = false;
};

class TOspreyModuleOptionsEx : public TOspreyModuleOptions {
public:
    using TOspreyModuleOptions::TOspreyModuleOptions;

    // On the options in force, a change of Active or FreezeActivate starts
    // the freeze watchdog when both are on and stops it otherwise.
    void SetActive(bool value) override;
    void SetFreezeActivate(bool value) override;
    void StoreSharedData() override;
    void LoadSharedData() override;

private:
    void ApplyWatchdogSwitch(bool changed);
};

// The options in force for the reporter's own module (set by the reporter's
// start-up; nullptr before).
TOspreyModuleOptions* CurrentOspreyLogOptions() noexcept;
void SetCurrentOspreyLogOptions(TOspreyModuleOptions* options) noexcept;

// Starts (true) or stops (false) the freeze watchdog; installed by the watchdog.
using FreezeWatchdogSwitch = void (*)(bool run);
void SetFreezeWatchdogSwitch(FreezeWatchdogSwitch control) noexcept;

// The options unit's start and end (counted: only the first start and the
// last end act).
void InitializeOptionsUnit();
void FinalizeOptionsUnit();

} // namespace kv::crashreport
