#pragma once
// The crash reporter's shared types: the option enumerations and sets, the 158
// customisable texts (identifiers and built-in defaults), the report-field
// captions, the tag list, the text descriptions for an editor and the codes of
// the reporter's own failures.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace kv::crashreport {

// A set of enumeration members in its stored form: member k is bit k mod 8 of
// byte k div 8, in the smallest number of bytes that holds every member. Bytes
// read from a stream are kept as they are, reserved bits included.
template <class Enum, int Count>
class OptionSet {
public:
    static constexpr int kCount = Count;
    static constexpr int kBytes = (Count + 7) / 8;
    using Bytes = std::array<std::uint8_t, kBytes>;

    constexpr OptionSet() = default;
    constexpr OptionSet(std::initializer_list<Enum> members)
    {
        for (Enum member : members) Include(member);
    }
    static constexpr OptionSet All()
    {
        OptionSet set;
        for (int k = 0; k < Count; ++k) set.Include(static_cast<Enum>(k));
        return set;
    }
    static constexpr OptionSet FromValue(std::uint64_t value)
    {
        OptionSet set;
        for (int i = 0; i < kBytes; ++i) set.bytes_[i] = static_cast<std::uint8_t>(value >> (8 * i));
        return set;
    }
    constexpr std::uint64_t Value() const
    {
        std::uint64_t value = 0;
        for (int i = 0; i < kBytes; ++i) value |= std::uint64_t(bytes_[i]) << (8 * i);
        return value;
    }

    constexpr bool Contains(Enum member) const { return bytes_[Index(member) / 8] & Bit(member); }
    constexpr void Include(Enum member) { bytes_[Index(member) / 8] |= Bit(member); }
    constexpr void Exclude(Enum member) { bytes_[Index(member) / 8] &= static_cast<std::uint8_t>(~Bit(member)); }
    constexpr void Set(Enum member, bool on) { on ? Include(member) : Exclude(member); }
    constexpr void Clear() { bytes_ = {}; }

    constexpr Bytes& Raw() { return bytes_; }
    constexpr const Bytes& Raw() const { return bytes_; }

    constexpr bool operator==(const OptionSet&) const = default;

private:
    static constexpr int Index(Enum member) { return static_cast<int>(member); }
    static constexpr std::uint8_t Bit(Enum member) { return static_cast<std::uint8_t>(1u << (Index(member) % 8)); }
    Bytes bytes_{};
};

enum TShowOption : std::uint8_t {
    soAppStartDate,
    soAppName,
    soAppVersionNumber,
    soAppParameters,
    soAppCompilationDate,
    soAppUpTime,
    soExcDate,
    soExcAddress,
    soExcModuleName,
    soExcModuleVersion,
    soExcType,
    soExcMessage,
    soExcID,
    soExcCount,
    soExcStatus,
    soExcNote,
    soUserID,
    soUserName,
    soUserEmail,
    soUserPrivileges,
    soUserCompany,
    soActCtlsFormClass,
    soActCtlsFormText,
    soActCtlsControlClass,
    soActCtlsControlText,
    soCmpName,
    soCmpTotalMemory,
    soCmpFreeMemory,
    soCmpTotalDisk,
    soCmpFreeDisk,
    soCmpSysUpTime,
    soCmpProcessor,
    soCmpDisplayMode,
    soCmpDisplayDPI,
    soCmpVideoCard,
    soCmpPrinter,
    soOSType,
    soOSBuildN,
    soOSUpdate,
    soOSLanguage,
    soOSCharset,
    soNetIP,
    soNetSubmask,
    soNetGateway,
    soNetDNS1,
    soNetDNS2,
    soNetDHCP,
    soCustomData };
using TShowOptions = OptionSet<TShowOption, 48>;

enum TForegroundType : std::uint8_t { ftGeneral, ftCallStack, ftModules, ftProcesses, ftAssembler, ftCPU };

enum TLogOption : std::uint8_t {
    loNoDuplicateErrors,
    loAppendReproduceText,
    loDeleteLogAtVersionChange,
    loAddComputerNameInLogFileName,
    loSaveModulesAndProcessesSections,
    loSaveAssemblerAndCPUSections
};
using TLogOptions = OptionSet<TLogOption, 6>;

enum TCommonSendOption : std::uint8_t {
    sndShowSendDialog,
    sndShowSuccessFailureMsg,
    sndSendEntireLog,
    sndSendXMLLogCopy,
    sndSendScreenshot,
    sndUseOnlyActiveWindow,
    sndSendLastHTMLPage,
    sndSendInSeparatedThread,
    sndAddDateInFileName,
    sndAddComputerNameInFileName
};
using TCommonSendOptions = OptionSet<TCommonSendOption, 10>;

enum TExceptionDialogType : std::uint8_t { edtNone, edtMessageBox, edtMSClassic, edtOspreyLog };

enum TExceptionDialogOption : std::uint8_t {
    edoSendErrorReportChecked,
    edoAttachScreenshotChecked,
    edoShowCopyToClipOption,
    edoShowDetailsButton,
    edoShowInDetailedMode,
    edoShowInTopMostMode,
    edoUseOspreyLogLookAndFeel,
    edoShowSendErrorReportOption,
    edoShowAttachScreenshotOption,
    edoShowCustomButton
};
using TExceptionDialogOptions = OptionSet<TExceptionDialogOption, 10>;

enum TCallStackOption : std::uint8_t {
    csoShowDLLs,
    csoShowBPLs,
    csoShowRuntimeThreads,
    csoShowWindowsThreads,
    csoDoNotStoreProcNames
};
using TCallStackOptions = OptionSet<TCallStackOption, 5>;

enum TBehaviourOption : std::uint8_t {
    boPauseRuntimeThreads,
    boDoNotPauseMainThread,
    boPauseWindowsThreads,
    boUseMainModuleOptions,
    boCopyLogInCaseOfError,
    boSaveCompressedCopyInCaseOfError,
    boHandleSafeCallExceptions,
    boCallRTLExceptionEvent,
    boCatchHandledExceptions
};
using TBehaviourOptions = OptionSet<TBehaviourOption, 9>;

enum TLeaksOption : std::uint8_t { loCatchLeaks, loGroupsSonLeaks, loHideRuntimeLeaks, loFreeAllLeaks, loCatchLeaksExceptions };
using TLeaksOptions = OptionSet<TLeaksOption, 5>;

// Bit 1 is reserved: stored and loaded, never acted on.
enum TCompiledFileOption : std::uint8_t { cfoReduceFileSize, cfoReserved };
using TCompiledFileOptions = OptionSet<TCompiledFileOption, 2>;

enum TEmailSendMode : std::uint8_t { esmNoSend, esmEmailClient, esmSMTPClient, esmSMTPServer };
enum TWebSendMode : std::uint8_t { wsmNoSend, wsmHTTP, wsmHTTPS, wsmFTP, wsmBugZilla, wsmFogBugz, wsmMantis };
enum TTerminateBtnOperation : std::uint8_t { tbNone, tbTerminate, tbRestart };
enum TFilterExceptionType : std::uint8_t { fetAll, fetHandled, fetUnhandled };
enum TFilterDialogType : std::uint8_t { fdtNone, fdtUnchanged, fdtMessageBox, fdtMSClassic, fdtOspreyLog };
enum TFilterHandlerType : std::uint8_t { fhtNone, fhtRTL, fhtOspreyLog };
enum TFilterActionType : std::uint8_t { fatNone, fatTerminate, fatRestart };

// The customisable texts. Entry 153 is reserved: it keeps its place in every
// table, stream and loop and is never shown.
enum TMessageType : std::uint8_t {
    mtInformationMsgCaption, // 0
    mtQuestionMsgCaption, // 1
    mtErrorMsgCaption, // 2
    mtDialog_Caption, // 3
    mtDialog_ErrorMsgCaption, // 4
    mtDialog_GeneralCaption, // 5
    mtDialog_GeneralHeader, // 6
    mtDialog_CallStackCaption, // 7
    mtDialog_CallStackHeader, // 8
    mtDialog_ModulesCaption, // 9
    mtDialog_ModulesHeader, // 10
    mtDialog_ProcessesCaption, // 11
    mtDialog_ProcessesHeader, // 12
    mtDialog_AsmCaption, // 13
    mtDialog_AsmHeader, // 14
    mtDialog_CPUCaption, // 15
    mtDialog_CPUHeader, // 16
    mtDialog_OKButtonCaption, // 17
    mtDialog_TerminateButtonCaption, // 18
    mtDialog_RestartButtonCaption, // 19
    mtDialog_DetailsButtonCaption, // 20
    mtDialog_CustomButtonCaption, // 21
    mtDialog_SendMessage, // 22
    mtDialog_ScreenshotMessage, // 23
    mtDialog_CopyMessage, // 24
    mtDialog_SupportMessage, // 25
    mtMSDialog_ErrorMsgCaption, // 26
    mtMSDialog_RestartCaption, // 27
    mtMSDialog_TerminateCaption, // 28
    mtMSDialog_PleaseCaption, // 29
    mtMSDialog_DescriptionCaption, // 30
    mtMSDialog_SeeDetailsCaption, // 31
    mtMSDialog_SeeClickCaption, // 32
    mtMSDialog_HowToReproduceCaption, // 33
    mtMSDialog_EmailCaption, // 34
    mtMSDialog_SendButtonCaption, // 35
    mtMSDialog_NoSendButtonCaption, // 36
    mtLog_AppHeader, // 37
    mtLog_AppStartDate, // 38
    mtLog_AppName, // 39
    mtLog_AppVersionNumber, // 40
    mtLog_AppParameters, // 41
    mtLog_AppCompilationDate, // 42
    mtLog_AppUpTime, // 43
    mtLog_ExcHeader, // 44
    mtLog_ExcDate, // 45
    mtLog_ExcAddress, // 46
    mtLog_ExcModuleName, // 47
    mtLog_ExcModuleVersion, // 48
    mtLog_ExcType, // 49
    mtLog_ExcMessage, // 50
    mtLog_ExcID, // 51
    mtLog_ExcCount, // 52
    mtLog_ExcStatus, // 53
    mtLog_ExcNote, // 54
    mtLog_UserHeader, // 55
    mtLog_UserID, // 56
    mtLog_UserName, // 57
    mtLog_UserEmail, // 58
    mtLog_UserCompany, // 59
    mtLog_UserPrivileges, // 60
    mtLog_ActCtrlsHeader, // 61
    mtLog_ActCtrlsFormClass, // 62
    mtLog_ActCtrlsFormText, // 63
    mtLog_ActCtrlsControlClass, // 64
    mtLog_ActCtrlsControlText, // 65
    mtLog_CmpHeader, // 66
    mtLog_CmpName, // 67
    mtLog_CmpTotalMemory, // 68
    mtLog_CmpFreeMemory, // 69
    mtLog_CmpTotalDisk, // 70
    mtLog_CmpFreeDisk, // 71
    mtLog_CmpSystemUpTime, // 72
    mtLog_CmpProcessor, // 73
    mtLog_CmpDisplayMode, // 74
    mtLog_CmpDisplayDPI, // 75
    mtLog_CmpVideoCard, // 76
    mtLog_CmpPrinter, // 77
    mtLog_OSHeader, // 78
    mtLog_OSType, // 79
    mtLog_OSBuildN, // 80
    mtLog_OSUpdate, // 81
    mtLog_OSLanguage, // 82
    mtLog_OSCharset, // 83
    mtLog_NetHeader, // 84
    mtLog_NetIP, // 85
    mtLog_NetSubmask, // 86
    mtLog_NetGateway, // 87
    mtLog_NetDNS1, // 88
    mtLog_NetDNS2, // 89
    mtLog_NetDHCP, // 90
    mtLog_CustInfoHeader, // 91
    mtCallStack_Address, // 92
    mtCallStack_Name, // 93
    mtCallStack_Unit, // 94
    mtCallStack_Class, // 95
    mtCallStack_Procedure, // 96
    mtCallStack_Line, // 97
    mtCallStack_MainThread, // 98
    mtCallStack_ExceptionThread, // 99
    mtCallStack_RunningThread, // 100
    mtCallStack_CallingThread, // 101
    mtCallStack_ThreadID, // 102
    mtCallStack_ThreadPriority, // 103
    mtCallStack_ThreadClass, // 104
    mtCallStack_LeakCaption, // 105
    mtCallStack_LeakData, // 106
    mtCallStack_LeakType, // 107
    mtCallStack_LeakSize, // 108
    mtCallStack_LeakCount, // 109
    mtSendDialog_Caption, // 110
    mtSendDialog_Message, // 111
    mtSendDialog_Resolving, // 112
    mtSendDialog_Login, // 113
    mtSendDialog_Connecting, // 114
    mtSendDialog_Connected, // 115
    mtSendDialog_Sending, // 116
    mtSendDialog_Sent, // 117
    mtSendDialog_SelectProject, // 118
    mtSendDialog_Searching, // 119
    mtSendDialog_Modifying, // 120
    mtSendDialog_Disconnecting, // 121
    mtSendDialog_Disconnected, // 122
    mtReproduceDialog_Caption, // 123
    mtReproduceDialog_Request, // 124
    mtReproduceDialog_OKButtonCaption, // 125
    mtModules_Handle, // 126
    mtModules_Name, // 127
    mtModules_Description, // 128
    mtModules_Version, // 129
    mtModules_Size, // 130
    mtModules_LastModified, // 131
    mtModules_Path, // 132
    mtProcesses_ID, // 133
    mtProcesses_Name, // 134
    mtProcesses_Description, // 135
    mtProcesses_Version, // 136
    mtProcesses_Memory, // 137
    mtProcesses_Priority, // 138
    mtProcesses_Threads, // 139
    mtProcesses_Path, // 140
    mtCPU_Registers, // 141
    mtCPU_Stack, // 142
    mtCPU_MemoryDump, // 143
    mtSend_SuccessMsg, // 144
    mtSend_FailureMsg, // 145
    mtSend_BugClosedMsg, // 146
    mtSend_UnknownErrorMsg, // 147
    mtSend_InvalidLoginMsg, // 148
    mtSend_InvalidSearchMsg, // 149
    mtSend_InvalidSelectionMsg, // 150
    mtSend_InvalidInsertMsg, // 151
    mtSend_InvalidModifyMsg, // 152
    mtReserved, // 153
    mtException_LeakMultiFree, // 154
    mtException_LeakMemoryOverrun, // 155
    mtException_AntiFreeze, // 156
    mtInvalidEmailMsg, // 157
};
constexpr int MessageTypeCount = 158;

struct MessageTypeEntry {
    const char* Identifier;  // the member's name: the key of the texts INI file
    const char* DefaultText; // line breaks are CR LF
};
extern const std::array<MessageTypeEntry, MessageTypeCount> MessageTypeTable;

inline const char* MessageTypeIdentifier(TMessageType type) { return MessageTypeTable[type].Identifier; }
inline const char* DefaultMessageText(TMessageType type) { return MessageTypeTable[type].DefaultText; }

// "Section|Field" of each report-header field, in TShowOption order.
extern const std::array<const char*, TShowOptions::kCount> ShowOptionCaptions;
// "Name | description" of each %TAG% the texts may hold.
extern const std::array<const char*, 26> TagList;

// One row of the texts' descriptions for an editor: No = -1 is a group heading.
struct EMsgsRec {
    const char* Msg;
    int No;
};
extern const std::array<EMsgsRec, 172> MessageDescriptions;

// The reporter's own failures (OutputWarning).
enum TOspreyLogErrorCode : std::uint8_t {
    eeNone,
    eeEmailMAPIError,
    eeEmailShellError,
    eeEmailSMTPError,
    eeWebHTTPError,
    eeWebHTTPSError,
    eeWebFTPError,
    eeWebTrakerError
};
std::string_view LogErrorCodeName(TOspreyLogErrorCode code);

} // namespace kv::crashreport
