#pragma once
// The report's numbered sections and the log file that keeps the reports.
//
// A report's upper half is a series of sections: a header line ending in ":",
// a rule of dashes and items "  S.I Caption: value" whose ": " stand in one
// column. The item numbers are a stored format: the log file, the duplicate
// check and the crash dialogs find items by their number ("2.7" the exception
// identifier, "2.8" the occurrence count, "3.3" the user's e-mail), so hidden
// items still take their number.
//
// The log file holds the reports of one module, oldest first, separated by
// four empty lines (four CR LF pairs in a row never occur inside a report).
#include <string>
#include <string_view>
#include <vector>

#include "platform/Handles.h"

namespace kv::crashreport {

// Every lone CR and every lone LF turned into CR LF.
std::string NormalizeLineBreaks(std::string_view text);
bool HasLoneLineBreaks(std::string_view text);

class TLogItem {
public:
    // The first header added gets the number firstHeader + 1.
    explicit TLogItem(int firstHeader);

    void Clear();
    void AddHeader(std::string_view header);
    // Counts the item whether or not it is written.
    void AddItem(std::string_view item, std::string_view value, bool add);
    // The sections without the empty ones, values aligned, rules drawn; every
    // line ends with CR LF.
    std::string Value() const;

private:
    std::string FString;
    int FHeaderNo = 0;
    int FItemNo = 0;
    int FFirstHeader = 0;
};

// The reports of one log file in memory. The file stays open (deny none: other
// processes may read it meanwhile) from creation or the first Save until the
// object goes; file errors reach the caller as exceptions.
class TLogFile {
public:
    TLogFile(const std::string& fileName, bool readOnly);
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    const std::string& FileName() const noexcept { return FFileName; }
    int Count() const noexcept { return static_cast<int>(FList.size()); }
    // Report texts each followed by CR LF CR LF CR LF, as they are kept.
    const std::string& Items(int index) const { return FList.at(static_cast<std::size_t>(index)); }
    // Every entry followed by CR LF.
    std::string Text() const;
    const std::string& Password() const noexcept { return FPassword; }
    void SetPassword(std::string password) { FPassword = std::move(password); }

    // Keeps at most maxNum reports, the new one included; -1 keeps all.
    void Append(std::string_view log, int maxNum);
    void DeleteItem(int itemNumber);
    void Clear() noexcept { FList.clear(); }
    void Save();

    // The last report in which one of the (id, value) pairs matches; -1 when none.
    int FindItem(const std::vector<std::string>& ids, const std::vector<std::string>& values) const;
    std::string GetItemValue(std::string_view id, int itemNumber) const;
    void SetItemValue(std::string_view id, std::string_view value, std::string_view caption, int itemNumber);

private:
    void Load();

    std::string FFileName;
    FileHandle FStream;
    std::vector<std::string> FList;
    std::string FPassword;
};

// The separator between two reports of a log file, and what a report ends with
// in the list.
inline constexpr std::string_view LogSeparator = "\r\n\r\n\r\n\r\n";
inline constexpr std::string_view LogEntryEnd = "\r\n\r\n\r\n";

} // namespace kv::crashreport
