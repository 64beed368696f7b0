#pragma once
// Text helpers of the crash reporter: 8-bit texts in the ANSI code page,
// version texts, durations and dates for reports and mail headers, and the
// %TAG% expansion every customised text and output path goes through.
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace kv::crashreport {

// Blanks and control characters removed at both ends.
std::string TrimText(std::string_view text);
std::string UpperCaseText(std::string_view text);
std::string LowerCaseText(std::string_view text);

// Each UTF-16 unit of the text encoded on its own as 1, 2 or 3 bytes.
std::string AnsiToUTF8(std::string_view text);

// 1-based position of `sub` at or after `start`; 0 when absent.
int PosFrom(std::string_view sub, std::string_view text, int start);
std::string ReplaceAllText(std::string_view text, std::string_view oldText, std::string_view newText);

// Cuts at every byte of `delimiters`. With keepDelimiters each piece keeps its
// closing delimiter and nothing is trimmed; otherwise the text and each piece
// are trimmed. Empty pieces only with addEmpty.
std::vector<std::string> SplitTextToList(std::string_view text, std::string_view delimiters, bool keepDelimiters,
                                         bool addEmpty);
// Skips leading delimiters, cuts at each delimiter and trims every piece; the
// last piece only when it is not empty.
std::vector<std::string> SplitTrimmedText(std::string_view delimiters, std::string_view text);

std::string CollapseControlChars(std::string_view text);
std::string PadRightText(std::string_view text, std::size_t width);
inline std::string ChooseText(bool flag, std::string_view a, std::string_view b) { return std::string(flag ? a : b); }
inline std::string TextIf(bool flag, std::string_view a) { return flag ? std::string(a) : std::string(); }
std::string HtmlEscape(std::string_view text);

std::string PadNumberText(std::string_view text);
// "1.2" gives "00001.00002.00000.00000": comparable byte by byte.
std::string NormalizeVersionText(std::string_view text);
bool IsNewerVersion(std::string_view oldVersion, std::string_view newVersion);

// "1 day, 12 hours, 0 second": days, hours and minutes when not zero, seconds always.
std::string FormatDuration(double days);

// "Sun, 5 Jan 2025 09:03:07 +0530" with the machine's offset from UTC.
std::string FormatMailDate(TDateTime value);
std::string FormatMailDate(TDateTime value, int utcOffsetMinutes);
// "+0530", "-0800", "+0000".
std::string FormatUTCOffset(int minutes);
// Local time minus UTC, in whole minutes / in rounded hours.
int GetUTCOffsetMinutes();
int GetUTCOffsetHours();

// The default date-time format (short date, long time; no time at midnight);
// a value that is no date gives its number.
std::string DateTimeText(TDateTime value);
std::string ShortDateText(const SYSTEMTIME& time);
std::string LongTimeText(const SYSTEMTIME& time);

std::string StripVsHostSuffix(std::string_view fileName);

// Replaces every %NAME% (letters, digits, "_") by ExpandTag(NAME); an inserted
// value is never expanded again, anything else stays as it is.
std::string ExpandPathTags(std::string_view text);
// The environment variable NAME; when unset or empty, "date", "time" and "cd"
// (any case) give today's date, the time and the current folder; else empty.
std::string ExpandTag(std::string_view name);

} // namespace kv::crashreport
