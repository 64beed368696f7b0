#include "crashreport/core/ECommon.h"

#include <windows.h>

#include <cmath>
#include <cstdint>

#include "platform/Format.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {
namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool IsTagNameChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::string ChangeCase(std::string_view text, bool upper)
{
    std::string result(text);
    if (!result.empty()) {
        const DWORD length = static_cast<DWORD>(result.size());
        upper ? ::CharUpperBuffA(result.data(), length) : ::CharLowerBuffA(result.data(), length);
    }
    return result;
}

std::string PluralUnit(std::int64_t count, const char* unit)
{
    return Format("%d %s", {count, std::string(unit) + (count > 1 ? "s" : "")});
}

std::string EnvironmentValue(const std::string& name)
{
    std::string value(1024, '\0');
    DWORD length = ::GetEnvironmentVariableA(name.c_str(), value.data(), 1024);
    if (length >= 1024) {
        value.assign(length, '\0');
        length = ::GetEnvironmentVariableA(name.c_str(), value.data(), length);
        if (length >= value.size()) length = 0; // changed in between: treat as unset
    }
    value.resize(length);
    return value;
}

std::string CurrentFolderText()
{
    const DWORD length = ::GetCurrentDirectoryA(0, nullptr);
    std::string folder(length, '\0');
    folder.resize(::GetCurrentDirectoryA(length, folder.data()));
    return folder;
}

} // namespace

std::string TrimText(std::string_view text)
{
    std::size_t first = 0, last = text.size();
    while (first < last && IsBlankOrControl(text[first])) ++first;
    while (last > first && IsBlankOrControl(text[last - 1])) --last;
    return std::string(text.substr(first, last - first));
}

std::string UpperCaseText(std::string_view text) { return ChangeCase(text, true); }
std::string LowerCaseText(std::string_view text) { return ChangeCase(text, false); }

std::string AnsiToUTF8(std::string_view text)
{
    std::string result;
    for (wchar_t unit : AnsiToWide(text)) {
        const unsigned c = static_cast<unsigned>(unit);
        if (c < 0x80) {
            result += static_cast<char>(c);
        } else if (c < 0x800) {
            result += static_cast<char>(0xC0 | (c >> 6));
            result += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            result += static_cast<char>(0xE0 | (c >> 12));
            result += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return result;
}

int PosFrom(std::string_view sub, std::string_view text, int start)
{
    if (sub.empty() || start > static_cast<int>(text.size())) return 0;
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
    const std::size_t found = text.find(sub, from);
    return found == std::string_view::npos ? 0 : static_cast<int>(found) + 1;
}

std::string ReplaceAllText(std::string_view text, std::string_view oldText, std::string_view newText)
{
    if (oldText.empty()) return std::string(text);
    std::size_t count = 0;
    for (std::size_t at = text.find(oldText); at != std::string_view::npos; at = text.find(oldText, at + oldText.size()))
        ++count;
    std::string result;
    result.reserve(text.size() + count * newText.size() - count * oldText.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(oldText); at != std::string_view::npos; at = text.find(oldText, from)) {
        result.append(text.substr(from, at - from)).append(newText);
        from = at + oldText.size();
    }
    result.append(text.substr(from));
    return result;
}

std::vector<std::string> SplitTextToList(std::string_view text, std::string_view delimiters, bool keepDelimiters,
                                         bool addEmpty)
{
    std::string source = keepDelimiters ? std::string(text) : TrimText(text);
    std::vector<std::string> pieces;
    auto add = [&](std::string piece) {
        if (!keepDelimiters) piece = TrimText(piece);
        if (!piece.empty() || addEmpty) pieces.push_back(std::move(piece));
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (delimiters.find(source[i]) == std::string_view::npos) continue;
        add(source.substr(start, i - start + (keepDelimiters ? 1 : 0)));
        start = i + 1;
    }
    std::string rest = source.substr(start);
    if (!keepDelimiters) rest = TrimText(rest);
    if (!rest.empty()) pieces.push_back(std::move(rest));
    return pieces;
}

std::vector<std::string> SplitTrimmedText(std::string_view delimiters, std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && delimiters.find(text[start]) != std::string_view::npos) ++start;
    std::vector<std::string> pieces;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (delimiters.find(text[i]) == std::string_view::npos) continue;
        pieces.push_back(TrimText(text.substr(start, i - start)));
        start = i + 1;
    }
    std::string last = TrimText(text.substr(std::min(start, text.size())));
    if (!last.empty()) pieces.push_back(std::move(last));
    return pieces;
}

std::string CollapseControlChars(std::string_view text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 32) {
            result += text[i];
            continue;
        }
        result += ' ';
        while (i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 32) ++i;
    }
    return result;
}

std::string PadRightText(std::string_view text, std::size_t width)
{
    std::string result(text);
    if (result.size() < width) result.append(width - result.size(), ' ');
    return result;
}

std::string HtmlEscape(std::string_view text)
{
    static constexpr std::pair<std::string_view, std::string_view> replacements[] = {
        {"&", "&amp;"}, {"\"", "&quot;"}, {"'", "&#039;"}, {"<", "&lt;"},
        {">", "&gt;"},  {"  ", "&nbsp;&nbsp;"}, {"\r\n", "<br>\r\n"}};
    std::string result(text);
    for (const auto& [from, to] : replacements) result = ReplaceAllText(result, from, to);
    return result;
}

std::string PadNumberText(std::string_view text)
{
    std::string result(text);
    if (result.size() < 5) result.insert(0, 5 - result.size(), '0');
    return result;
}

std::string NormalizeVersionText(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        std::string_view part = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        const std::size_t blank = part.find(' ');
        if (blank == std::string_view::npos)
            parts.push_back(PadNumberText(part));
        else
            parts.push_back(PadNumberText(part.substr(0, blank)) + std::string(part.substr(blank)));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    while (parts.size() < 4) parts.push_back("00000");
    std::string result;
    for (std::size_t i = 0; i < parts.size(); ++i) result += (i ? "." : "") + parts[i];
    return result;
}

bool IsNewerVersion(std::string_view oldVersion, std::string_view newVersion)
{
    if (oldVersion.empty() || newVersion.empty()) return false;
    return NormalizeVersionText(newVersion) > NormalizeVersionText(oldVersion);
}

std::string FormatDuration(double days)
{
    // Whole milliseconds first: 2 seconds must not come out as 1.999...
    std::int64_t rest = std::llround(std::fabs(days) * 86400000.0) / 1000;
    const std::int64_t seconds = rest % 60;
    rest /= 60;
    const std::int64_t minutes = rest % 60;
    rest /= 60;
    const std::int64_t hours = rest % 24;
    const std::int64_t wholeDays = rest / 24;
    std::string text;
    if (wholeDays) text += PluralUnit(wholeDays, "day") + ", ";
    if (hours) text += PluralUnit(hours, "hour") + ", ";
    if (minutes) text += PluralUnit(minutes, "minute") + ", ";
    return text + PluralUnit(seconds, "second");
}

std::string FormatUTCOffset(int minutes)
{
    const int magnitude = minutes < 0 ? -minutes : minutes;
    return Format("%s%.2d%.2d", {minutes < 0 ? "-" : "+", magnitude / 60, magnitude % 60});
}

std::string FormatMailDate(TDateTime value, int utcOffsetMinutes)
{
    static constexpr const char* dayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* monthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto time = DateTimeToSystemTime(value);
    if (!time) return std::string();
    return Format("%s, %d %s %d %.2d:%.2d:%.2d %s",
                  {dayNames[time->wDayOfWeek % 7], time->wDay, monthNames[(time->wMonth + 11) % 12], time->wYear,
                   time->wHour, time->wMinute, time->wSecond, FormatUTCOffset(utcOffsetMinutes)});
}

std::string FormatMailDate(TDateTime value) { return FormatMailDate(value, GetUTCOffsetMinutes()); }

int GetUTCOffsetMinutes()
{
    SYSTEMTIME utc{}, local{};
    ::GetSystemTime(&utc);
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return 0;
    const double difference = SystemTimeToDateTime(local) - SystemTimeToDateTime(utc);
    return static_cast<int>(std::lround(difference * 24 * 60));
}

int GetUTCOffsetHours() { return static_cast<int>(std::lround(GetUTCOffsetMinutes() / 60.0)); }

std::string ShortDateText(const SYSTEMTIME& time)
{
    char buffer[128] = {};
    const int length = ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length - 1)) : std::string();
}

std::string LongTimeText(const SYSTEMTIME& time)
{
    char buffer[128] = {};
    const int length = ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &time, nullptr, buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length - 1)) : std::string();
}

std::string DateTimeText(TDateTime value)
{
    const auto time = DateTimeToSystemTime(value);
    if (!time) return Format("%s", {std::to_string(value)});
    std::string text = ShortDateText(*time);
    if (time->wHour || time->wMinute || time->wSecond || time->wMilliseconds) text += " " + LongTimeText(*time);
    return text;
}

std::string StripVsHostSuffix(std::string_view fileName) { return ReplaceAllText(fileName, ".vshost", ""); }

std::string ExpandPathTags(std::string_view text)
{
    std::string result;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%' || i + 1 >= text.size()) {
            result += text[i++];
            continue;
        }
        std::size_t stop = i + 1;
        while (stop < text.size() - 1 && IsTagNameChar(text[stop])) ++stop;
        if (text[stop] == '%') {
            result += ExpandTag(text.substr(i + 1, stop - i - 1));
            i = stop + 1;
        } else {
            result.append(text.substr(i, stop - i));
            i = stop;
        }
    }
    return result;
}

std::string ExpandTag(std::string_view name)
{
    const std::string key(name);
    if (!key.empty()) {
        std::string value = EnvironmentValue(key);
        if (!value.empty()) return value;
    }
    const std::string lower = LowerCaseText(key);
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    if (lower == "date") return ShortDateText(now);
    if (lower == "time") return LongTimeText(now);
    if (lower == "cd") return CurrentFolderText();
    return std::string();
}

} // namespace kv::crashreport
