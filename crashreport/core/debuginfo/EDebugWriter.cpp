#include "crashreport/core/debuginfo/EDebugWriter.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#include "crashreport/core/EOptionsStream.h"

namespace kv::crashreport {
namespace {

constexpr std::uint32_t kFirstSectionOffset = 0x1000;
constexpr std::uint32_t kLargestOffsetStep = 65536;
constexpr std::int32_t kLargestLineStep = 32767;

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

template <class Visit>
void ForEachLine(std::string_view text, Visit visit)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        visit(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::uint32_t Hex(std::string_view text) { return static_cast<std::uint32_t>(std::strtoul(std::string(text).c_str(), nullptr, 16)); }

struct Range {
    std::uint32_t Start, End;
    const std::string* File;
    std::uint32_t Line;
};

std::uint64_t Number(const std::string& value) { return std::strtoull(value.c_str(), nullptr, 0); }

} // namespace

std::vector<LineRow> ParseDecodedLines(std::string_view text)
{
    std::vector<LineRow> rows;
    ForEachLine(text, [&](std::string_view line) {
        const auto fields = Fields(line);
        if (fields.size() < 3 || fields[2].substr(0, 2) != "0x") return;
        if (fields[1] != "-" && !AllDigits(fields[1])) return;
        LineRow row;
        row.File = std::string(fields[0]);
        row.End = fields[1] == "-";
        row.Line = row.End ? 0 : static_cast<std::uint32_t>(std::strtoul(std::string(fields[1]).c_str(), nullptr, 10));
        row.Address = Hex(fields[2]);
        rows.push_back(std::move(row));
    });
    return rows;
}

std::vector<CodeSymbol> ParseSymbols(std::string_view text)
{
    std::vector<CodeSymbol> symbols;
    ForEachLine(text, [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() < 12 || line[8] != ' ' || line[10] != ' ') return;
        if (line[9] != 't' && line[9] != 'T') return;
        const std::string_view name = line.substr(11);
        if (name.empty() || name[0] == '.') return;
        const std::uint32_t address = Hex(line.substr(0, 8));
        if (!symbols.empty() && symbols.back().Address == address) return;
        symbols.push_back({address, std::string(name)});
    });
    std::stable_sort(symbols.begin(), symbols.end(),
                     [](const CodeSymbol& a, const CodeSymbol& b) { return a.Address < b.Address; });
    return symbols;
}

std::string EncodeLineTable(const std::vector<LineStep>& steps, int version, const LineEntryForm* forced)
{
    std::string table;
    auto put = [&](const LineEntry& entry) {
        const auto form = forced != nullptr && LineEntryFits(entry, *forced, version)
                              ? std::optional<LineEntryForm>(*forced)
                              : ShortestLineEntryForm(entry, version);
        EncodeLineEntry(table, entry, *form);
    };
    for (const LineStep& step : steps) {
        std::uint32_t offset = step.OffsetDelta;
        while (offset > kLargestOffsetStep) {
            put(LineEntry{0, kLargestOffsetStep, false});
            offset -= kLargestOffsetStep;
        }
        put(LineEntry{static_cast<std::int16_t>(step.LineDelta), offset, !step.Procedure.empty()});
        if (!step.Procedure.empty()) EncodeDebugString(table, step.Procedure, version);
    }
    return table;
}

std::vector<DebugUnit> BuildDebugUnits(const std::vector<LineRow>& rows, const std::vector<CodeSymbol>& symbols,
                                       std::uint32_t imageBase, WriterStatistics* statistics, int version)
{
    const std::uint32_t codeBase = imageBase + kFirstSectionOffset;
    // Each row holds the code up to the next row of its sequence; of rows at
    // one address the last one holds it.
    std::vector<Range> ranges;
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        const LineRow& row = rows[i];
        const LineRow& next = rows[i + 1];
        if (row.End || next.Address <= row.Address || row.Address < codeBase) continue;
        ranges.push_back({row.Address, next.Address, &row.File, row.Line});
    }
    std::stable_sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.Start < b.Start; });

    std::vector<DebugUnit> units;
    std::vector<LineStep> steps;
    std::uint32_t lastOffset = 0, lastLine = 0, unitEnd = 0;
    auto symbol = symbols.begin();
    auto finishUnit = [&] {
        DebugUnit& unit = units.back();
        unit.CodeSize = unitEnd - codeBase - unit.CodeStart;
        unit.LineTable = EncodeLineTable(steps, version);
        steps.clear();
    };
    auto addPoint = [&](std::uint32_t address, std::uint32_t line, const std::string* procedure) {
        const std::uint32_t offset = address - codeBase;
        const std::int32_t lineDelta = static_cast<std::int32_t>(line) - static_cast<std::int32_t>(lastLine);
        if (lineDelta == 0 && procedure == nullptr) return;
        LineStep step{lineDelta, offset - lastOffset, procedure ? *procedure : std::string()};
        steps.push_back(std::move(step));
        lastOffset = offset;
        lastLine = line;
    };
    const std::string* unitFile = nullptr;
    for (const Range& range : ranges) {
        if (!units.empty() && range.Start < unitEnd) continue; // overlapping rows: the first one holds
        const std::int64_t lineDelta = std::int64_t(range.Line) - lastLine;
        const bool joins = !units.empty() && unitFile && *unitFile == *range.File && range.Start == unitEnd &&
                           lineDelta >= -kLargestLineStep && lineDelta <= kLargestLineStep;
        while (symbol != symbols.end() && symbol->Address < range.Start) ++symbol;
        const std::string* procedure = nullptr;
        std::string name;
        if (symbol != symbols.end() && symbol->Address == range.Start) {
            name = JoinProcedureName(SplitDemangledName(symbol->Name));
            procedure = &name;
            ++symbol;
            if (statistics) ++statistics->Procedures;
        }
        if (!joins) {
            if (!units.empty()) finishUnit();
            DebugUnit unit;
            const std::size_t slash = range.File->find_last_of("/\\");
            unit.Name = slash == std::string::npos ? *range.File : range.File->substr(slash + 1);
            unit.FirstLine = range.Line;
            unit.CodeStart = range.Start - codeBase;
            units.push_back(std::move(unit));
            unitFile = range.File;
            lastOffset = range.Start - codeBase;
            lastLine = range.Line;
            // A run that starts inside a procedure (after code of another
            // file) names that procedure at once.
            if (!procedure && symbol != symbols.begin()) {
                name = JoinProcedureName(SplitDemangledName(std::prev(symbol)->Name));
                procedure = &name;
            }
            if (procedure) steps.push_back(LineStep{0, 0, *procedure});
        } else {
            addPoint(range.Start, range.Line, procedure);
        }
        // Procedures that start inside the row's code.
        while (symbol != symbols.end() && symbol->Address < range.End) {
            name = JoinProcedureName(SplitDemangledName(symbol->Name));
            addPoint(symbol->Address, range.Line, &name);
            if (statistics) ++statistics->Procedures;
            ++symbol;
        }
        unitEnd = range.End;
    }
    if (!units.empty()) finishUnit();
    return units;
}

bool ApplyWriterSetting(WriterSettings& settings, TOspreyModuleOptions& o, const std::string& key,
                        const std::string& value)
{
    const auto number = Number(value);
    const bool flag = number != 0;
    using Setter = std::function<void()>;
    const std::map<std::string, Setter> setters = {
        {"LeakOptions", [&] { settings.LeakOptions = static_cast<std::uint8_t>(number); }},
        {"LeaksFromMainModule", [&] { settings.LeaksFromMainModule = static_cast<std::uint8_t>(number); }},
        {"Password", [&] { settings.Password = value; }},
        {"ActivateLog", [&] { o.SetActivateLog(flag); }},
        {"ActivateHandle", [&] { o.SetActivateHandle(flag); }},
        {"SaveLogFile", [&] { o.SetSaveLogFile(flag); }},
        {"AppendLogs", [&] { o.SetAppendLogs(flag); }},
        {"FreezeActivate", [&] { o.SetFreezeActivate(flag); }},
        {"FreezeTimeout", [&] { o.SetFreezeTimeout(static_cast<std::int32_t>(number)); }},
        {"ErrorsNumberToSave", [&] { o.SetErrorsNumberToSave(static_cast<int>(number)); }},
        {"ErrorsNumberToShowTerminateBtn", [&] { o.SetErrorsNumberToShowTerminateBtn(static_cast<std::int32_t>(number)); }},
        {"AutoCloseDialogSecs", [&] { o.SetAutoCloseDialogSecs(static_cast<std::int32_t>(number)); }},
        {"EMailAddresses", [&] { o.SetEMailAddresses(value); }},
        {"EMailSubject", [&] { o.SetEMailSubject(value); }},
        {"EMailMessage", [&] { o.SetEMailMessage(value); }},
        {"SMTPFrom", [&] { o.SetSMTPFrom(value); }},
        {"SMTPHost", [&] { o.SetSMTPHost(value); }},
        {"SMTPPort", [&] { o.SetSMTPPort(static_cast<std::uint16_t>(number)); }},
        {"OutputPath", [&] { o.SetOutputPath(value); }},
        {"WebURL", [&] { o.SetWebURL(value); }},
        {"WebPort", [&] { o.SetWebPort(static_cast<std::int32_t>(number)); }},
        {"SupportURL", [&] { o.SetSupportURL(value); }},
        {"TextsCollection", [&] { o.SetTextsCollection(value); }},
        {"ZipPassword", [&] { o.SetZipPassword(value); }},
        {"ExceptionDialogType", [&] { o.SetExceptionDialogType(static_cast<TExceptionDialogType>(number)); }},
        {"EMailSendMode", [&] { o.SetEMailSendMode(static_cast<TEmailSendMode>(number)); }},
        {"WebSendMode", [&] { o.SetWebSendMode(static_cast<TWebSendMode>(number)); }},
        {"ShowOptions", [&] { o.SetShowOptions(TextToShowOptions(value)); }},
        {"LogOptions", [&] { o.SetLogOptions(TLogOptions::FromValue(number)); }},
        {"CommonSendOptions", [&] { o.SetCommonSendOptions(TCommonSendOptions::FromValue(number)); }},
        {"ExceptionDialogOptions", [&] { o.SetExceptionDialogOptions(TExceptionDialogOptions::FromValue(number)); }},
        {"CallStackOptions", [&] { o.SetCallStackOptions(TCallStackOptions::FromValue(number)); }},
        {"BehaviourOptions", [&] { o.SetBehaviourOptions(TBehaviourOptions::FromValue(number)); }},
    };
    const auto found = setters.find(key);
    if (found == setters.end()) return false;
    found->second();
    return true;
}

} // namespace kv::crashreport
