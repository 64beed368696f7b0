#pragma once
// A read-only INI text reader that follows the rules of GetPrivateProfileString,
// for files whose encoding we decide ourselves (Wine's profile API treats
// byte-order marks differently from Windows):
// - lines split at CR LF, a lone CR or a lone LF, and are trimmed of blanks;
// - "[name]" opens a section (the name is trimmed inside the brackets);
// - "key=value": key and value are trimmed; a value enclosed in a matching pair
//   of double or single quotes loses them;
// - a line without "=" is a key without a value; lines before the first
//   section belong to no section;
// - section and key names ignore case; the first section of a name and the
//   first key of a name in it win.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv {

class IniFile {
public:
    IniFile() = default;
    explicit IniFile(std::wstring_view text);

    // nullopt when the section or the key is absent.
    std::optional<std::wstring> Read(std::wstring_view section, std::wstring_view key) const;
    std::wstring ReadString(std::wstring_view section, std::wstring_view key, std::wstring_view fallback) const;
    // Decimal, or hexadecimal with "$" or "0x"; `fallback` when absent or not a number.
    long long ReadInteger(std::wstring_view section, std::wstring_view key, long long fallback) const;

    bool HasSection(std::wstring_view section) const;

private:
    struct Section {
        std::wstring name;
        std::unordered_map<std::wstring, std::wstring> values; // key folded to upper case
    };
    const Section* FindSection(std::wstring_view section) const;

    std::vector<Section> sections_;
};

} // namespace kv
