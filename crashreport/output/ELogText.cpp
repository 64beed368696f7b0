#include "crashreport/output/ELogText.h"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <vector>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/debuginfo/EDebug.h"
#include "crashreport/core/debuginfo/EModules.h"
#include "crashreport/output/ELogHeader.h"
#include "crashreport/output/EReportState.h"
#include "crashreport/output/EWebTools.h"
#include "platform/Format.h"

namespace kv::crashreport {

namespace {

constexpr std::string_view CRLF = "\r\n";

std::atomic<ThreadCaptionFactsProvider> g_threadFacts{nullptr};
std::atomic<AssemblerSectionBuilder> g_assemblerBuilder{nullptr};

bool DetailShown(const TOspreyModuleOptions* options, TOspreyDebugDetail detail)
{
    if (options == nullptr) return detail == ddSourceCode;
    return VisibleDebugDetails(*options).Contains(detail);
}

const TOspreyModuleOptions* Options() { return CurrentOspreyLogOptions(); }

std::string Text(TMessageType type)
{
    const TOspreyModuleOptions* options = Options();
    return options != nullptr ? options->GetExpandedText(type) : std::string(DefaultMessageText(type));
}

bool LogOption(TLogOption option)
{
    const TOspreyModuleOptions* options = Options();
    return options != nullptr && options->LogOptions().Contains(option);
}

std::string Hex8(std::uintptr_t value) { return Format("%.8X", {static_cast<std::uint32_t>(value)}); }

// Rows of "|"-separated cells written in place into one blank-filled buffer
// sized for the rows it may get.
class TableBuffer {
public:
    TableBuffer(std::size_t maxRows, std::size_t rowWidth) : buffer_(maxRows * (rowWidth + 2), ' ') {}

    // A value wider than its column is cut to it.
    void WriteTableRow(const std::vector<std::string>& values, const std::vector<std::size_t>& widths)
    {
        for (std::size_t column = 0; column < widths.size(); ++column) {
            buffer_[position_++] = '|';
            const std::string& value = column < values.size() ? values[column] : empty_;
            std::copy_n(value.begin(), std::min(value.size(), widths[column]), buffer_.begin() + position_);
            position_ += widths[column];
        }
        buffer_[position_++] = '|';
        buffer_[position_++] = '\r';
        buffer_[position_++] = '\n';
    }
    std::string Take()
    {
        buffer_.resize(position_);
        return std::move(buffer_);
    }

private:
    std::string buffer_;
    std::size_t position_ = 0;
    const std::string empty_;
};

std::size_t TotalWidth(const std::vector<std::size_t>& widths)
{
    return std::accumulate(widths.begin(), widths.end(), std::size_t{0});
}

std::string CaptionRow(const std::vector<std::string>& captions, const std::vector<std::size_t>& widths)
{
    TableBuffer row(1, TotalWidth(widths) + widths.size() + 1);
    row.WriteTableRow(captions, widths);
    std::string text = row.Take();
    text.resize(text.size() - 2);
    return text;
}

void Widen(std::size_t& width, std::string_view text) { width = std::max(width, text.size()); }

// ---- Call stack

std::string ModuleFileName(const TOspreyDebugInfo& entry)
{
    if (entry.DebugDetail == ddNone || entry.ModuleInfo == nullptr) return {};
    return ExtractFileName(entry.ModuleInfo->Name);
}

std::string LineText(const TOspreyDebugInfo& entry)
{
    if (entry.Line == 0) return {};
    return std::to_string(entry.Line) + "[" + std::to_string(entry.ProcOffsetLine) + "]";
}

std::string CallStackTable(const TOspreyStackList* stack)
{
    const TOspreyModuleOptions* options = Options();
    std::vector<const TOspreyDebugInfo*> shown;
    if (stack != nullptr) {
        for (const auto& entry : *stack) {
            if (entry->DebugDetail <= ddSourceCode && DetailShown(options, entry->DebugDetail)) {
                shown.push_back(entry.get());
            }
        }
    }
    const std::vector<std::string> captions = {Text(mtCallStack_Address), Text(mtCallStack_Name),
                                               Text(mtCallStack_Unit),    Text(mtCallStack_Class),
                                               Text(mtCallStack_Procedure), Text(mtCallStack_Line)};
    std::vector<std::size_t> widths(6, 0);
    for (std::size_t i = 0; i < 6; ++i) widths[i] = captions[i].size();
    widths[0] = std::max<std::size_t>(widths[0], 8);
    for (const TOspreyDebugInfo* entry : shown) {
        Widen(widths[1], ModuleFileName(*entry));
        Widen(widths[2], entry->UnitName);
        Widen(widths[3], entry->ClassName);
        Widen(widths[4], entry->ProcedureName);
        Widen(widths[5], LineText(*entry));
    }
    const std::size_t inner = TotalWidth(widths) + 5; // one cell as wide as the table
    const std::string rule(TotalWidth(widths) + 7, '-');

    std::string text = Text(mtDialog_CallStackHeader) + ":\r\n" + rule + "\r\n" + CaptionRow(captions, widths) +
                       "\r\n" + rule + "\r\n";
    if (stack != nullptr) {
        TableBuffer body(shown.size() * 5, inner + 2);
        const std::vector<std::size_t> whole = {inner};
        const std::string separator(inner, '-');
        const TOspreyDebugInfo* previous = nullptr;
        for (const TOspreyDebugInfo* entry : shown) {
            const bool newGroup = previous == nullptr || entry->ThreadID != previous->ThreadID ||
                                  entry->RunningThread != previous->RunningThread || entry->ErrorLine;
            if (newGroup) {
                if (previous != nullptr) {
                    body.WriteTableRow({separator}, whole);
                    if (entry->RunningThread) body.WriteTableRow({""}, whole);
                }
                body.WriteTableRow({FormatThreadsInfo(*entry, true)}, whole);
                body.WriteTableRow({separator}, whole);
            }
            body.WriteTableRow({Hex8(entry->Addr), ModuleFileName(*entry), entry->UnitName, entry->ClassName,
                                entry->ProcedureName, LineText(*entry)},
                               widths);
            previous = entry;
        }
        text += body.Take();
    }
    return text + rule + "\r\n\r\n";
}

// ---- Modules and processes

std::string TableText(TMessageType heading, const std::vector<std::string>& captions,
                      const std::vector<std::vector<std::string>>& rows, std::vector<std::size_t> widths,
                      std::size_t ruleExtra)
{
    for (std::size_t i = 0; i < captions.size(); ++i) Widen(widths[i], captions[i]);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) Widen(widths[i], row[i]);
    const std::string rule(TotalWidth(widths) + ruleExtra, '-');
    TableBuffer body(rows.size(), TotalWidth(widths) + widths.size() + 1);
    for (const auto& row : rows) body.WriteTableRow(row, widths);
    return Text(heading) + ":\r\n" + rule + "\r\n" + CaptionRow(captions, widths) + "\r\n" + rule + "\r\n" +
           body.Take() + rule + "\r\n\r\n";
}

std::string ModulesTable(const TOspreyModulesList* modules)
{
    const std::vector<std::string> captions = {Text(mtModules_Handle),      Text(mtModules_Name),
                                               Text(mtModules_Description), Text(mtModules_Version),
                                               Text(mtModules_Size),        Text(mtModules_LastModified),
                                               Text(mtModules_Path)};
    // The handle is padded with zeros to its column, which a long caption may widen.
    const std::size_t handleWidth = std::max<std::size_t>(8, captions[0].size());
    std::vector<std::vector<std::string>> rows;
    if (modules != nullptr) {
        for (const auto& module : *modules) {
            rows.push_back({Format("%." + std::to_string(handleWidth) + "X",
                                   {static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module->Handle))}),
                            SanitizeCellText(ExtractFileName(module->Name)), SanitizeCellText(module->Description),
                            SanitizeCellText(module->Version), std::to_string(module->Size),
                            FormatReportDate(module->LastModified), SanitizeCellText(ExtractFileFolder(module->Name))});
        }
    }
    return TableText(mtDialog_ModulesHeader, captions, rows, {handleWidth, 0, 0, 0, 0, 0, 0}, 8);
}

std::string ProcessesTable(const TOspreyProcessesList* processes)
{
    const std::vector<std::string> captions = {
        Text(mtProcesses_ID),     Text(mtProcesses_Name),     Text(mtProcesses_Description), Text(mtProcesses_Version),
        Text(mtProcesses_Memory), Text(mtProcesses_Priority), Text(mtProcesses_Threads),     Text(mtProcesses_Path)};
    std::vector<std::vector<std::string>> rows;
    if (processes != nullptr) {
        for (const auto& process : *processes) {
            rows.push_back({std::to_string(process->ProcessID), SanitizeCellText(ExtractFileName(process->Name)),
                            SanitizeCellText(process->Description), SanitizeCellText(process->Version),
                            std::to_string(process->Memory), PriorityClassName(process->Priority),
                            PriorityNumberText(process->Threads), SanitizeCellText(ExtractFileFolder(process->Name))});
        }
    }
    return TableText(mtDialog_ProcessesHeader, captions, rows, std::vector<std::size_t>(8, 0), 9);
}

// ---- Assembler and CPU

std::string BareAssemblerHeading()
{
    const std::string title = Text(mtDialog_AsmHeader);
    return title + ":\r\n" + std::string(title.size() + 1, '-');
}

std::string RegisterText(const CONTEXT* context, DWORD CONTEXT::*field)
{
    return context != nullptr ? Hex8(context->*field) : "????    ";
}

std::string CPUText(const TReportState& report)
{
    const CONTEXT* context = report.Context;
    return Format("%s:\r\n-----------------------------\r\n"
                  "EAX: %s   EDI: %s\r\nEBX: %s   ESI: %s\r\nECX: %s   ESP: %s\r\nEDX: %s   EIP: %s\r\n\r\n"
                  "%s%s:\r\n"
                  "------------------   "
                  "---------------------------------------------------------------------------\r\n%s",
                  {Text(mtCPU_Registers), RegisterText(context, &CONTEXT::Eax), RegisterText(context, &CONTEXT::Edi),
                   RegisterText(context, &CONTEXT::Ebx), RegisterText(context, &CONTEXT::Esi),
                   RegisterText(context, &CONTEXT::Ecx), RegisterText(context, &CONTEXT::Esp),
                   RegisterText(context, &CONTEXT::Edx), RegisterText(context, &CONTEXT::Eip),
                   PadRightText(Text(mtCPU_Stack) + ":", 21), Text(mtCPU_MemoryDump),
                   FormatMemoryDump(report.StackPoint, report.ExceptionAddress)});
}

void BuildAssemblerAndCPUParts(TReportState& report)
{
    if (!LogOption(loSaveAssemblerAndCPUSections)) {
        report.AsmHeading = BareAssemblerHeading();
        report.AsmText.clear();
        report.CPUText = FormatSectionHeading(Text(mtCPU_Registers));
        return;
    }
    const AssemblerSectionBuilder builder = g_assemblerBuilder.load();
    report.AsmText = builder != nullptr ? builder(report.ExceptionAddress, report.AsmHeading) : std::string();
    // Without a listing the heading must still stand: the empty lines around a
    // missing one would make the log's report separator inside the report.
    if (report.AsmText.empty()) report.AsmHeading = BareAssemblerHeading();
    report.CPUText = CPUText(report);
}

} // namespace

std::string FormatSectionHeading(std::string_view title)
{
    return std::string(title) + ":\r\n" + std::string(title.size() + 1, '-') + "\r\n\r\n";
}

std::string SanitizeCellText(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c == '\r' || c == '\n' || c == '|') c = '?';
    }
    return result;
}

std::string FormatThreadsInfo(const TOspreyDebugInfo& entry, bool marked)
{
    if (entry.IsALeak) {
        const std::string type = entry.LeakType == "Data" ? Text(mtCallStack_LeakData) : entry.LeakType;
        return std::string(marked ? "+" : "") +
               Format("%s: %s=%s; %s=%d; %s=%d",
                      {Text(mtCallStack_LeakCaption), Text(mtCallStack_LeakType), type, Text(mtCallStack_LeakSize),
                       entry.LeakSize, Text(mtCallStack_LeakCount), entry.LeakCount});
    }
    std::string text;
    if (!entry.RunningThread) {
        text = Text(mtCallStack_CallingThread) + ": ";
    } else if (entry.ErrorLine) {
        text = std::string(marked ? "*" : "") + Text(mtCallStack_ExceptionThread) + ": ";
    } else {
        text = Text(mtCallStack_RunningThread) + ": ";
    }
    const ThreadCaptionFactsProvider provider = g_threadFacts.load();
    const TThreadCaptionFacts thread = provider != nullptr ? provider(entry.ThreadID) : TThreadCaptionFacts();
    const std::int32_t id = static_cast<std::int32_t>(entry.ThreadID);
    text += Format("%s=%d; %s=%s", {Text(mtCallStack_ThreadID), id < 0 ? 0 : id, Text(mtCallStack_ThreadPriority),
                                    thread.Priority});
    if (marked || !thread.ClassName.empty()) {
        text += Format("; %s=%s", {Text(mtCallStack_ThreadClass), thread.ClassName});
    }
    if (thread.MainThread) text += "; [" + Text(mtCallStack_MainThread) + "]";
    if (!entry.CustomMsg.empty()) text += " (" + entry.CustomMsg + ")";
    return text;
}

std::string FormatMemoryDump(const void* stackPoint, const void* address)
{
    if (stackPoint == nullptr || address == nullptr || !IsReadableMemory(stackPoint, 64) ||
        !IsReadableMemory(address, 256)) {
        return {};
    }
    const auto* stack = static_cast<const std::uint8_t*>(stackPoint);
    const auto* memory = static_cast<const std::uint8_t*>(address);
    std::string text;
    for (int line = 0; line < 16; ++line) {
        const std::uint8_t* cell = stack + 4 * line;
        std::uint32_t value = 0;
        std::copy_n(cell, 4, reinterpret_cast<std::uint8_t*>(&value));
        const std::uint8_t* bytes = memory + 16 * line;
        text += Format("%s: %s   %s: ", {Hex8(reinterpret_cast<std::uintptr_t>(cell)), Hex8(value),
                                           Hex8(reinterpret_cast<std::uintptr_t>(bytes))});
        for (int i = 0; i < 16; ++i) text += Format("%.2X ", {bytes[i]});
        text += ' ';
        for (int i = 0; i < 16; ++i) text += (bytes[i] < 32 || bytes[i] > 126) ? '.' : static_cast<char>(bytes[i]);
        text += CRLF;
    }
    return text;
}

void SetThreadCaptionFactsProvider(ThreadCaptionFactsProvider provider) noexcept { g_threadFacts = provider; }

void SetAssemblerSectionBuilder(AssemblerSectionBuilder builder) noexcept { g_assemblerBuilder = builder; }

void BuildLogText(TReportFacts& facts, const TReportLists& lists)
{
    TReportState& report = CurrentReport();
    report.DialogErrorText = Text(mtDialog_ErrorMsgCaption) + "\r\n\r\n";
    report.HeaderText.clear();
    report.CallStackText.clear();
    report.CPUText.clear();
    report.AsmText.clear();
    report.AsmHeading.clear();

    BuildLogHeader(facts);
    BuildAssemblerAndCPUParts(report);
    report.CallStackText = CallStackTable(lists.CallStack);
    if (LogOption(loSaveModulesAndProcessesSections)) {
        report.CallStackText += ModulesTable(lists.Modules) + ProcessesTable(lists.Processes);
    } else {
        report.CallStackText +=
            FormatSectionHeading(Text(mtDialog_ModulesHeader)) + FormatSectionHeading(Text(mtDialog_ProcessesHeader));
    }
    report.DialogErrorText = Text(mtDialog_ErrorMsgCaption) + "\r\n\r\n";
    report.LogText = report.HeaderText + "\r\n" + report.CallStackText + report.AsmHeading + "\r\n" + report.AsmText +
                     "\r\n" + report.CPUText;
    report.EntireLogText = report.LogText;
}

void BuildLogText(const TReportLists& lists) { BuildLogText(SystemReportFacts(), lists); }

void OutputWebErrorPage(std::string_view message)
{
    TReportState& report = CurrentReport();
    const std::string text = report.DialogErrorText + std::string(message);
    if (IsIntraWebApplication()) {
        report.WebResponseWritten = ShowIntraWebErrorPage();
        return;
    }
    if (!IsWebApplication()) return;
    std::string page = BuildHtmlErrorPage(text);
    if (UpperCaseText(page).find(UpperCaseText(WebErrorPageOkButton)) == std::string::npos) {
        page += WebErrorPageOkButton;
    }
    report.WebResponseWritten = WriteWebErrorResponse(page);
}

} // namespace kv::crashreport
