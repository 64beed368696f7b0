#pragma once
// The whole text of one crash report: the header sections, the call stack of
// every reported thread, the modules and processes tables, the assembler
// listing and the CPU block; and the error page a web-server program answers
// its client with.
#include <cstdint>
#include <string>
#include <string_view>

#include "crashreport/core/debuginfo/EDebugTypes.h"

namespace kv::crashreport {

class TReportFacts;

// What the handling procedure holds for the report; each may be absent.
struct TReportLists {
    const TOspreyStackList* CallStack = nullptr;
    const TOspreyModulesList* Modules = nullptr;
    const TOspreyProcessesList* Processes = nullptr;
};

// Fills the texts of the report being made (CurrentReport()): header, call
// stack, tables, assembler and CPU parts, and the whole report text. The
// exception address, stack position and context come from the report's state.
void BuildLogText(TReportFacts& facts, const TReportLists& lists);
void BuildLogText(const TReportLists& lists);

// "Title:", a rule one longer than the title, and an empty line.
std::string FormatSectionHeading(std::string_view title);
// Line breaks and "|" in a table cell become "?".
std::string SanitizeCellText(std::string_view text);
// The caption of a call-stack entry's thread group; marked: the exception
// thread's caption starts with "*" (a leak's with "+").
std::string FormatThreadsInfo(const TOspreyDebugInfo& entry, bool marked);
// Sixteen lines of stack values and memory bytes; empty unless 64 bytes at
// the stack position and 256 bytes at the address can be read.
std::string FormatMemoryDump(const void* stackPoint, const void* address);

// What the thread registry knows of a thread for its caption.
struct TThreadCaptionFacts {
    std::string Priority = "??";
    std::string ClassName;
    bool MainThread = false;
};
// Installed by the thread registry; without it every thread is unknown.
using ThreadCaptionFactsProvider = TThreadCaptionFacts (*)(std::uint32_t threadId);
void SetThreadCaptionFactsProvider(ThreadCaptionFactsProvider provider) noexcept;

// The assembler listing around an address, one line each followed by CR LF,
// empty when nothing can be read there; sets the heading it wants. Installed
// by the listing unit; without it the report has the bare assembler heading.
using AssemblerSectionBuilder = std::string (*)(const void* address, std::string& heading);
void SetAssemblerSectionBuilder(AssemblerSectionBuilder builder) noexcept;

// Answers the pending web request with the dialog's error text and the
// message (keeps whether that worked in the report's state).
void OutputWebErrorPage(std::string_view message);

} // namespace kv::crashreport
