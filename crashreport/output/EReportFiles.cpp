#include "crashreport/output/EReportFiles.h"

#include <memory>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/output/ELogManager.h"
#include "crashreport/output/EReportState.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/StringList.h"

namespace kv::crashreport {

namespace {

struct SharedLog {
    std::unique_ptr<TLogFile> File;
    std::string Name;
};

SharedLog& TheSharedLog()
{
    static SharedLog log;
    return log;
}

XMLLogCopyWriter& TheXMLWriter()
{
    static XMLLogCopyWriter writer = nullptr;
    return writer;
}

// The log file's name with its %TAG%s expanded.
std::string ExpandedLogFileName(const TOspreyModuleOptions& options)
{
    return ExpandPathTags(options.OutputLogFile(""));
}

bool SendOption(TCommonSendOption option)
{
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    return options != nullptr && options->CommonSendOptions().Contains(option);
}

std::string TempFile(const std::string& name) { return GetTempPathText() + name; }

std::string Hex8(std::uintptr_t value) { return Format("%.8X", {static_cast<std::uint32_t>(value)}); }

// "yyyymmddhhnnss"
std::string CompactDateText(TDateTime value)
{
    const auto time = DateTimeToSystemTime(value);
    if (!time) return {};
    return Format("%.4d%.2d%.2d%.2d%.2d%.2d",
                  {time->wYear, time->wMonth, time->wDay, time->wHour, time->wMinute, time->wSecond});
}

} // namespace

void OpenLogFile()
{
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    if (options == nullptr) return;
    SharedLog& log = TheSharedLog();
    const std::string name = ExpandedLogFileName(*options);
    if (log.File && name != log.Name) log.File.reset();
    if (!log.File) {
        log.Name = name;
        log.File = std::make_unique<TLogFile>(name, false);
    }
}

void CloseLogFile() { TheSharedLog().File.reset(); }

TLogFile* SharedLogFile() noexcept { return TheSharedLog().File.get(); }

void UpdateDuplicateReportCount(bool raiseCount)
{
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    if (options == nullptr) return;
    TReportState& report = CurrentReport();
    if (!options->LogOptions().Contains(loNoDuplicateErrors)) {
        report.DuplicateReport = false;
        return;
    }
    struct Closer {
        ~Closer() { CloseLogFile(); }
    } closer;
    OpenLogFile();
    TLogFile& log = *SharedLogFile();
    const int index = log.FindItem({"2.7"}, {report.ExceptionID});
    report.DuplicateReport = index != -1;
    if (!report.DuplicateReport || !raiseCount) return;
    int count = 1;
    try {
        const std::string stored = log.GetItemValue("2.8", index);
        std::size_t used = 0;
        const int value = std::stoi(stored, &used);
        if (used == stored.size()) count = value;
    } catch (const std::exception&) {
        count = 1;
    }
    log.SetItemValue("2.8", std::to_string(count + 1), "Count", index);
    log.Save();
}

std::string DecorateAttachmentName(const std::string& fileName)
{
    std::string result = ExtractFileName(fileName);
    if (SendOption(sndAddComputerNameInFileName)) {
        result = ChangeFileExt(result, "") + "__" + GetComputerNameText() + ExtractFileExt(result);
    }
    if (SendOption(sndAddDateInFileName)) {
        result = ChangeFileExt(result, "") + "__" + CompactDateText(CurrentReport().ExceptionTime) +
                 ExtractFileExt(result);
    }
    return result;
}

std::string GetScreenshotFileName() { return SendOption(sndSendScreenshot) ? TempFile("Screenshot.png") : ""; }

std::string GetChosenScreenshotFileName() { return CurrentReport().ScreenshotChosen ? GetScreenshotFileName() : ""; }

std::string GetLogCopyFileName()
{
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    if (options == nullptr) return {};
    return TempFile(ExtractFileName(ExpandedLogFileName(*options)));
}

std::string GetZipFileName() { return TempFile("BugReport.zip"); }

std::string GetProcessDataFileName()
{
    return TempFile(Hex8(OwnProcessID()) + Hex8(reinterpret_cast<std::uintptr_t>(OwnModuleHandle())) + ".bin");
}

std::string GetLastHTMLPageFileName()
{
    return SendOption(sndSendLastHTMLPage) ? TempFile("LastHTMLPage.html") : "";
}

std::string GetSavedLastHTMLPageFileName()
{
    return CurrentReport().LastHTMLPageText.empty() ? "" : GetLastHTMLPageFileName();
}

std::string GetXMLCopyFileName()
{
    if (!SendOption(sndSendXMLLogCopy)) return {};
    return ChangeFileExt(GetLogCopyFileName(), ".xml");
}

void SaveLastHTMLPage(const std::string& text)
{
    try {
        if (GetSavedLastHTMLPageFileName().empty()) return;
        std::string bytes;
        for (const std::string& line : AnsiStringList(text)) bytes += line + "\r\n";
        FileHandle file(::CreateFileA(GetLastHTMLPageFileName().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) return;
        DWORD written = 0;
        ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    } catch (...) {
        // The page is a convenience for the developer; the report goes on without it.
    }
}

void SetXMLLogCopyWriter(XMLLogCopyWriter writer) noexcept { TheXMLWriter() = writer; }

void SaveXMLLogCopy()
{
    const std::string xmlName = GetXMLCopyFileName();
    if (xmlName.empty() || TheXMLWriter() == nullptr) return;
    TheXMLWriter()(GetLogCopyFileName(), xmlName);
}

std::string ReadTextFile(const std::string& fileName)
{
    if (fileName.empty()) return {};
    FileHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return {};
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (true) {
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return {};
        if (read == 0) break;
        text.append(buffer, read);
    }
    return text;
}

std::vector<std::string> CollectFilesToSend(bool forEMail)
{
    std::vector<std::string> list;
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    if (options == nullptr) return list;
    list = SplitTextToList(options->AttachedFiles(), ";", false, false);
    if (!forEMail || !options->AppendLogs()) list.push_back(GetLogCopyFileName());
    for (const std::string& name : {GetChosenScreenshotFileName(), GetSavedLastHTMLPageFileName(), GetXMLCopyFileName()}) {
        if (!name.empty()) list.push_back(name);
    }
    for (std::string& name : list) name = ExpandPathTags(name);
    return list;
}

} // namespace kv::crashreport
