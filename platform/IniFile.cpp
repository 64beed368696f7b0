#include "platform/IniFile.h"

#include "platform/StringList.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

// The blanks the profile API trims; Ctrl-Z is the old end-of-file mark that
// editors of the DOS era left behind.
constexpr std::wstring_view kBlanks = L" \t\v\f\r\n\x1A";

std::wstring_view Trim(std::wstring_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::wstring_view::npos) return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::wstring_view StripQuotes(std::wstring_view value)
{
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::wstring Fold(std::wstring_view name) { return UpperCase(Trim(name)); }

std::optional<long long> ParseInteger(std::wstring_view text)
{
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (!text.empty() && text.front() == L'$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 15) return std::nullopt;
    long long value = 0;
    for (const wchar_t c : text) {
        int digit;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
        else return std::nullopt;
        value = value * base + digit;
    }
    return negative ? -value : value;
}

} // namespace

IniFile::IniFile(std::wstring_view text)
{
    Section* current = nullptr;
    for (const std::wstring& rawLine : StringList(text)) {
        const std::wstring_view line = Trim(rawLine);
        if (line.empty()) continue;
        if (line.front() == L'[') {
            const auto close = line.rfind(L']');
            if (close != std::wstring_view::npos && close > 0) {
                sections_.push_back(Section{Fold(line.substr(1, close - 1)), {}});
                current = &sections_.back();
                continue;
            }
        }
        if (!current) continue;
        const auto equals = line.find(L'=');
        std::wstring_view key = line.substr(0, equals);
        std::wstring_view value;
        if (equals != std::wstring_view::npos) value = StripQuotes(Trim(line.substr(equals + 1)));
        current->values.try_emplace(Fold(key), value);
    }
}

const IniFile::Section* IniFile::FindSection(std::wstring_view section) const
{
    const std::wstring name = Fold(section);
    for (const Section& candidate : sections_)
        if (candidate.name == name) return &candidate;
    return nullptr;
}

bool IniFile::HasSection(std::wstring_view section) const { return FindSection(section) != nullptr; }

std::optional<std::wstring> IniFile::Read(std::wstring_view section, std::wstring_view key) const
{
    const Section* found = FindSection(section);
    if (!found) return std::nullopt;
    const auto value = found->values.find(Fold(key));
    if (value == found->values.end()) return std::nullopt;
    return value->second;
}

std::wstring IniFile::ReadString(std::wstring_view section, std::wstring_view key, std::wstring_view fallback) const
{
    std::optional<std::wstring> value = Read(section, key);
    return value ? std::move(*value) : std::wstring(fallback);
}

long long IniFile::ReadInteger(std::wstring_view section, std::wstring_view key, long long fallback) const
{
    const std::optional<std::wstring> value = Read(section, key);
    if (!value) return fallback;
    return ParseInteger(*value).value_or(fallback);
}

} // namespace kv
