#include "crashreport/output/ELogManager.h"

#include <algorithm>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/EOptionsFiles.h"
#include "platform/Exceptions.h"
#include "platform/StringList.h"

namespace kv::crashreport {

namespace {

constexpr std::string_view CRLF = "\r\n";

bool IsBlankLine(std::string_view line) { return TrimText(line).empty(); }

// Lines of a text whose breaks are CR LF; a final break adds no empty line.
std::vector<std::string> SplitCRLF(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(CRLF, start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// A section header: "Caption:" at the start of its line. Continuation lines of
// a value are indented, so a value line that ends in ":" never counts.
bool IsHeaderLine(std::string_view line)
{
    if (line.empty() || line.front() == ' ') return false;
    return line.find(':') == line.size() - 1;
}

// The lines of a multi-line value as a report lays them out: ": " written as
// ":_" (the log's readers look for the first ": " of an item line), empty
// lines shown as ".", continuation lines indented by `indent` blanks.
std::vector<std::string> LayoutValueLines(std::string_view value, std::size_t indent, bool dotFirstLine)
{
    AnsiStringList lines(ReplaceAllText(value, ": ", ":_"));
    std::vector<std::string> result;
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        std::string line = lines[i];
        if ((i > 0 || dotFirstLine) && IsBlankLine(line)) line = ".";
        if (i > 0) line.insert(0, indent, ' ');
        result.push_back(std::move(line));
    }
    return result;
}

} // namespace

bool HasLoneLineBreaks(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) return true;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return true;
    }
    return false;
}

std::string NormalizeLineBreaks(std::string_view text)
{
    if (!HasLoneLineBreaks(text)) return std::string(text);
    std::string result;
    result.reserve(text.size() + text.size() / 8 + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) {
            result += CRLF;
        } else if (c == '\n' && (i == 0 || text[i - 1] != '\r')) {
            result += CRLF;
        } else {
            result += c;
        }
    }
    return result;
}

// ---- TLogItem

TLogItem::TLogItem(int firstHeader) : FFirstHeader(firstHeader) { Clear(); }

void TLogItem::Clear()
{
    FString.clear();
    FHeaderNo = FFirstHeader;
    FItemNo = 0;
}

void TLogItem::AddHeader(std::string_view header)
{
    ++FHeaderNo;
    FItemNo = 0;
    if (!FString.empty()) FString += "\r\n\r\n";
    FString += header;
    FString += ":\r\n-";
}

void TLogItem::AddItem(std::string_view item, std::string_view value, bool add)
{
    ++FItemNo;
    if (!add) return;
    std::string prefix = "  " + std::to_string(FHeaderNo) + "." + std::to_string(FItemNo) + " ";
    prefix += item;
    prefix += ": ";
    const std::string normalized = NormalizeLineBreaks(value);
    FString += CRLF;
    FString += prefix;
    if (normalized.find(CRLF) == std::string::npos) {
        FString += normalized;
        return;
    }
    const std::vector<std::string> lines = LayoutValueLines(normalized, 1, true);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) FString += CRLF;
        FString += lines[i];
    }
}

std::string TLogItem::Value() const
{
    std::vector<std::string> lines = SplitCRLF(FString);

    // Sections that got no item go with their rule and the empty line after them.
    for (std::size_t i = 0; i < lines.size();) {
        if (!IsHeaderLine(lines[i])) {
            ++i;
            continue;
        }
        if (i + 2 >= lines.size() || lines[i + 2].empty()) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i),
                        lines.begin() + static_cast<std::ptrdiff_t>(std::min(i + 3, lines.size())));
            continue;
        }
        i += 3;
    }

    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!IsHeaderLine(lines[i]) || i + 1 >= lines.size()) continue;
        std::size_t end = i + 2;
        while (end < lines.size() && !lines[end].empty()) ++end;
        std::size_t column = 0; // 1-based position of the first ": "
        for (std::size_t k = i + 2; k < end; ++k) {
            const std::size_t at = lines[k].find(": ");
            if (at != std::string::npos) column = std::max(column, at + 1);
        }
        std::size_t width = 0;
        for (std::size_t k = i + 2; k < end; ++k) {
            std::string& line = lines[k];
            const std::size_t at = line.find(": ");
            if (at != std::string::npos) {
                line.insert(at, column - (at + 1), ' ');
            } else {
                line.insert(0, column, ' ');
            }
            width = std::max(width, line.size());
        }
        lines[i + 1] = std::string(width, '-');
    }

    std::string result;
    for (const std::string& line : lines) {
        result += line;
        result += CRLF;
    }
    return result;
}

// ---- TLogFile

namespace {

// Where an item's line and value lie in one report text.
struct ItemPlace {
    std::size_t LineStart = std::string::npos; // the two blanks before the number
    std::size_t ValueStart = 0;                // after the first ": "
    bool Found() const { return LineStart != std::string::npos; }
};

ItemPlace FindItemPlace(std::string_view report, std::string_view id)
{
    ItemPlace place;
    const std::string key = "\r\n  " + std::string(id) + " ";
    const std::size_t at = report.find(key);
    if (at == std::string_view::npos) return place;
    const std::size_t colon = report.find(": ", at + 2);
    if (colon == std::string_view::npos) return place;
    place.LineStart = at + 2;
    place.ValueStart = colon + 2;
    return place;
}

// A value ends at the line break before an empty line, before the next item
// line ("  " and a third character that is not a blank) or before any line
// that is not indented; indented lines between belong to the value.
std::size_t ValueEnd(std::string_view report, std::size_t valueStart)
{
    std::size_t at = valueStart;
    while (true) {
        at = report.find(CRLF, at);
        if (at == std::string_view::npos) return report.size();
        const std::string_view next = report.substr(at + 2);
        if (next.empty() || next.substr(0, 2) == CRLF || next.front() != ' ') return at;
        if (next.size() >= 3 && next[0] == ' ' && next[1] == ' ' && next[2] != ' ') return at;
        at += 2;
    }
}

// A value as it was given: continuation indents dropped, ":_" back to ": ",
// and a line that holds only the "." of an empty line emptied.
std::string ReadValue(std::string_view raw)
{
    std::string copy;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r') {
            if (i + 1 < raw.size() && raw[i + 1] == '\n') {
                copy += CRLF;
                ++i;
                while (i + 1 < raw.size() && raw[i + 1] == ' ') ++i;
            }
            continue;
        }
        copy += raw[i];
    }
    std::string result;
    for (std::size_t i = 0; i < copy.size(); ++i) {
        const char c = copy[i];
        if (c == '_' && i > 0 && copy[i - 1] == ':') {
            result += ' ';
        } else if (c == '.' && (i == 0 || copy[i - 1] == '\n') && (i + 1 == copy.size() || copy[i + 1] == '\r')) {
            result += ' ';
        } else {
            result += c;
        }
    }
    return TrimText(result);
}

} // namespace

TLogFile::TLogFile(const std::string& fileName, bool readOnly) : FFileName(fileName)
{
    EnsureWritableLogPath(FFileName, true, readOnly);
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    FStream.Reset(::CreateFileA(FFileName.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (FStream.IsValid()) Load();
}

void TLogFile::Load()
{
    std::string data;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(FStream.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
    if (data.size() < 8) return;
    if (data.size() < LogSeparator.size() || data.compare(data.size() - LogSeparator.size(), LogSeparator.size(),
                                                          LogSeparator) != 0) {
        data += LogSeparator;
    }
    data = NormalizeLineBreaks(data);
    std::size_t start = 0;
    while (true) {
        const std::size_t separator = data.find(LogSeparator, start);
        if (separator == std::string::npos) break;
        std::string chunk = data.substr(start, separator + LogEntryEnd.size() - start);
        if (chunk.find("-\r\n|") != std::string::npos) FList.push_back(std::move(chunk));
        start = separator + LogSeparator.size();
    }
}

std::string TLogFile::Text() const
{
    std::string text;
    for (const std::string& entry : FList) {
        text += entry;
        text += CRLF;
    }
    return text;
}

void TLogFile::Append(std::string_view log, int maxNum)
{
    // Fewer than one report kept would leave the new one nothing to keep.
    if (maxNum != -1 && maxNum < 1) maxNum = 1;
    if (maxNum != -1 && Count() >= maxNum) {
        const int drop = std::min(Count(), Count() - maxNum + 1);
        FList.erase(FList.begin(), FList.begin() + drop);
    }
    FList.push_back(std::string(log) + std::string(LogEntryEnd));
}

void TLogFile::DeleteItem(int itemNumber)
{
    if (itemNumber < 0 || itemNumber >= Count()) return;
    FList.erase(FList.begin() + itemNumber);
}

void TLogFile::Save()
{
    if (!FStream.IsValid()) {
        FStream.Reset(::CreateFileA(FFileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!FStream.IsValid()) throw Exception(L"Cannot create the log file");
    }
    if (::SetFilePointer(FStream.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        throw Exception(L"Cannot write the log file");
    }
    const std::string text = Text();
    std::size_t length = text.size();
    if (length >= 10 && text.compare(length - 10, 2, CRLF) == 0) length -= 2;
    std::size_t written = 0;
    while (written < length) {
        DWORD done = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - written, 1 << 20));
        if (!::WriteFile(FStream.Get(), text.data() + written, chunk, &done, nullptr) || done == 0) {
            throw Exception(L"Cannot write the log file");
        }
        written += done;
    }
    if (!::SetEndOfFile(FStream.Get())) throw Exception(L"Cannot write the log file");
}

int TLogFile::FindItem(const std::vector<std::string>& ids, const std::vector<std::string>& values) const
{
    int result = -1;
    const std::size_t pairs = std::min(ids.size(), values.size());
    for (int index = 0; index < Count(); ++index) {
        const std::string& report = FList[static_cast<std::size_t>(index)];
        for (std::size_t k = 0; k < pairs; ++k) {
            const ItemPlace place = FindItemPlace(report, ids[k]);
            if (!place.Found()) continue;
            const std::size_t column = place.ValueStart - 2 - place.LineStart + 1; // 1-based ": "
            std::string expected;
            for (const std::string& line : LayoutValueLines(values[k], column + 1, false)) {
                expected += line;
                expected += CRLF;
            }
            if (report.compare(place.ValueStart, expected.size(), expected) == 0) {
                result = index;
                break;
            }
        }
    }
    return result;
}

std::string TLogFile::GetItemValue(std::string_view id, int itemNumber) const
{
    if (itemNumber < 0 || itemNumber >= Count()) return {};
    const std::string& report = FList[static_cast<std::size_t>(itemNumber)];
    const ItemPlace place = FindItemPlace(report, id);
    if (!place.Found()) return {};
    const std::size_t end = ValueEnd(report, place.ValueStart);
    return ReadValue(std::string_view(report).substr(place.ValueStart, end - place.ValueStart));
}

void TLogFile::SetItemValue(std::string_view id, std::string_view value, std::string_view caption, int itemNumber)
{
    if (itemNumber < 0 || itemNumber >= Count()) return;
    std::string report = FList[static_cast<std::size_t>(itemNumber)];
    const ItemPlace place = FindItemPlace(report, id);
    if (place.Found()) {
        const std::size_t end = ValueEnd(report, place.ValueStart);
        report.replace(place.ValueStart, end - place.ValueStart, value);
        if (report.size() < LogEntryEnd.size() ||
            report.compare(report.size() - LogEntryEnd.size(), LogEntryEnd.size(), LogEntryEnd) != 0) {
            report += CRLF;
        }
        FList[static_cast<std::size_t>(itemNumber)] = std::move(report);
        return;
    }

    const std::size_t dot = id.find('.');
    if (dot == std::string_view::npos) return;
    const std::string section(id.substr(0, dot));
    ItemPlace anchor;
    for (int n = 1; n <= 19; ++n) {
        const ItemPlace candidate = FindItemPlace(report, section + "." + std::to_string(n));
        if (candidate.Found()) anchor = candidate;
    }
    if (!anchor.Found()) return;
    const std::size_t width = anchor.ValueStart - 2 - (anchor.LineStart + 2);
    const std::size_t sectionEnd = report.find("\r\n\r\n", anchor.LineStart);
    if (sectionEnd == std::string::npos) return;
    std::string line = "  " + PadRightText(std::string(id) + " " + std::string(caption), width) + ": ";
    line += value;
    line += CRLF;
    report.insert(sectionEnd + 2, line);
    FList[static_cast<std::size_t>(itemNumber)] = std::move(report);
}

} // namespace kv::crashreport
