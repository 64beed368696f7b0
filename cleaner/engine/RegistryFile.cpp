#include "cleaner/engine/RegistryFile.h"

#include <windows.h>

#include <utility>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/OwnFiles.h"
#include "platform/Handles.h"
#include "platform/Registry.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

constexpr std::wstring_view UnicodeHeader = L"Windows Registry Editor Version 5.00";
constexpr std::wstring_view AnsiHeader = L"REGEDIT4";
// Far above any settings export; a bigger file is not ours.
constexpr std::size_t MaxRegistryFileSize = 16u << 20;

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Only ASCII letters are folded: a name that the registry would fold onto ours
// through some other character is refused rather than accepted.
bool StartsWithAsciiNoCase(std::wstring_view text, std::wstring_view prefix)
{
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
    return true;
}

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && StartsWithAsciiNoCase(a, b);
}

// The part of a section key below HKEY_CURRENT_USER; nothing for another hive.
std::optional<std::wstring_view> CurrentUserPath(std::wstring_view sectionKey)
{
    for (std::wstring_view root : {std::wstring_view(L"HKEY_CURRENT_USER\\"), std::wstring_view(L"HKCU\\")})
        if (StartsWithAsciiNoCase(sectionKey, root)) return sectionKey.substr(root.size());
    return std::nullopt;
}

// Every component present and printable: "a\\b" or a trailing backslash could
// be read differently by the registry than by this check.
bool IsPlainKeyPath(std::wstring_view path)
{
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(L'\\', start);
        const std::wstring_view part = path.substr(start, end == std::wstring_view::npos ? end : end - start);
        if (part.empty()) return false;
        for (wchar_t c : part)
            if (c < L' ' || c == L'[' || c == L']') return false;
        if (end == std::wstring_view::npos) return true;
        start = end + 1;
    }
}

bool IsPathWithin(std::wstring_view path, std::wstring_view allowed)
{
    return StartsWithAsciiNoCase(path, allowed) && (path.size() == allowed.size() || path[allowed.size()] == L'\\');
}

std::wstring SystemFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : GetWindowsFolder() + L"\\system32";
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Full paths: a registry editor placed beside the program is never the one run.
std::wstring RegistryEditor() { return Quoted(GetWindowsFolder() + L"\\regedit.exe"); }
std::wstring RegistryTool() { return Quoted(SystemFolder() + L"\\reg.exe"); }

bool WriteFileBytes(const std::wstring& path, std::string_view bytes)
{
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// A new, empty file of our own in the temp folder.
std::optional<std::wstring> PrivateTempFile()
{
    wchar_t name[MAX_PATH + 1] = {};
    if (!::GetTempFileNameW(GetTempFolder().c_str(), L"kvr", 0, name)) return std::nullopt;
    return std::wstring(name);
}

// What the registry must look like after the file was applied: the last
// section that touches a key decides whether it exists.
std::vector<std::pair<std::wstring, bool>> ExpectedKeys(const std::vector<TRegistrySection>& sections)
{
    std::vector<std::pair<std::wstring, bool>> expected;
    for (const TRegistrySection& section : sections) {
        const std::wstring path(CurrentUserPath(section.key).value_or(std::wstring_view()));
        std::erase_if(expected, [&](const auto& entry) {
            return section.remove ? IsPathWithin(entry.first, path) : (!entry.second && IsPathWithin(path, entry.first));
        });
        expected.emplace_back(path, !section.remove);
    }
    return expected;
}

bool RegistryMatches(const std::vector<std::pair<std::wstring, bool>>& expected)
{
    for (const auto& [path, exists] : expected)
        if (RegistryKeyExists(HKEY_CURRENT_USER, path) != exists) return false;
    return true;
}

bool ExportNamesKey(const std::wstring& fileName, std::wstring_view keyPath)
{
    const auto bytes = ReadWholeFile(fileName);
    if (!bytes || bytes->empty()) return false;
    const auto sections = ParseRegistryFile(*bytes);
    if (!sections || sections->empty() || sections->front().remove) return false;
    const auto path = CurrentUserPath(sections->front().key);
    return path && EqualsAsciiNoCase(*path, keyPath);
}

} // namespace

std::optional<std::vector<TRegistrySection>> ParseRegistryFile(std::string_view bytes)
{
    const bool unicode = bytes.substr(0, 2) == "\xFF\xFE";
    if (unicode && bytes.size() % 2 != 0) return std::nullopt;
    const std::wstring text = unicode ? DecodeText(bytes) : AnsiToWide(bytes);
    // A NUL ends the editor's view of a line early; such a file is not ours.
    if (text.find(L'\0') != std::wstring::npos) return std::nullopt;
    const StringList lines(text);
    if (lines.Empty() || lines[0] != (unicode ? UnicodeHeader : AnsiHeader)) return std::nullopt;

    std::vector<TRegistrySection> sections;
    for (std::size_t i = 1; i < lines.Count(); ++i) {
        std::wstring_view line = lines[i];
        while (!line.empty() && (line.front() == L' ' || line.front() == L'\t')) line.remove_prefix(1);
        if (line.empty() || line.front() != L'[') continue;
        // The registry editor takes the key up to the last "]" of the line.
        const std::size_t close = line.rfind(L']');
        if (close == std::wstring_view::npos) return std::nullopt;
        std::wstring_view key = line.substr(1, close - 1);
        TRegistrySection section;
        if (!key.empty() && key.front() == L'-') {
            section.remove = true;
            key.remove_prefix(1);
        }
        section.key = std::wstring(key);
        sections.push_back(std::move(section));
    }
    return sections;
}

bool IsKeyWithin(std::wstring_view sectionKey, std::wstring_view allowedKey)
{
    const auto path = CurrentUserPath(sectionKey);
    return path && IsPlainKeyPath(*path) && !allowedKey.empty() && IsPathWithin(*path, allowedKey);
}

std::optional<TRegistryFile> ReadRegistryFile(const std::wstring& fileName, const std::vector<std::wstring>& allowedKeys)
{
    auto bytes = ReadWholeFile(fileName);
    if (!bytes || bytes->size() > MaxRegistryFileSize) return std::nullopt;
    auto sections = ParseRegistryFile(*bytes);
    if (!sections || sections->empty()) return std::nullopt;
    for (const TRegistrySection& section : *sections) {
        bool allowed = false;
        for (const std::wstring& key : allowedKeys) allowed = allowed || IsKeyWithin(section.key, key);
        if (!allowed) return std::nullopt;
    }
    return TRegistryFile{std::move(*bytes), std::move(*sections)};
}

bool ImportRegistryFile(const TRegistryFile& file)
{
    const auto copy = PrivateTempFile();
    if (!copy) return false;
    const auto expected = ExpectedKeys(file.sections);
    bool imported = false;
    if (WriteFileBytes(*copy, file.bytes)) {
        RunAndWait(RegistryEditor(), L"/s " + Quoted(*copy));
        imported = RegistryMatches(expected);
        // Where the editor cannot run (it asks for elevation on systems with
        // UAC), the console tool does the same work.
        if (!imported) {
            RunAndWait(RegistryTool(), L"import " + Quoted(*copy));
            imported = RegistryMatches(expected);
        }
    }
    ::DeleteFileW(copy->c_str());
    return imported;
}

bool ExportRegistryKey(std::wstring_view keyPath, const std::wstring& fileName)
{
    const std::wstring key = NormalizeKeyPath(keyPath);
    if (key.empty()) return false;
    // The editors write through a link of the file's name: they write a fresh
    // file beside it, which then replaces the old one (OwnFiles.h).
    if (!RemoveOwnFile(fileName)) return false;
    const std::wstring fresh = FreshNameBeside(fileName);
    if (fresh.empty()) return false;
    RunAndWait(RegistryEditor(), L"/e " + Quoted(fresh) + L" " + Quoted(L"HKEY_CURRENT_USER\\" + key));
    if (!ExportNamesKey(fresh, key)) {
        RemoveOwnFile(fresh);
        RunAndWait(RegistryTool(), L"export " + Quoted(L"HKCU\\" + key) + L" " + Quoted(fresh) + L" /y");
    }
    if (ExportNamesKey(fresh, key)) return ReplaceWithFresh(fresh, fileName);
    RemoveOwnFile(fresh);
    return false;
}

bool ReplaceRegistryKey(std::wstring_view replacedKey, const TRegistryFile& file)
{
    const std::wstring key = NormalizeKeyPath(replacedKey);
    if (key.empty()) return false;
    const auto backup = PrivateTempFile();
    const bool backedUp = backup && RegistryKeyExists(HKEY_CURRENT_USER, key) && ExportRegistryKey(key, *backup);
    DeleteRegistryTree(HKEY_CURRENT_USER, key);
    bool imported = ImportRegistryFile(file);
    if (!imported && backedUp) {
        if (auto saved = ReadRegistryFile(*backup, {key})) {
            DeleteRegistryTree(HKEY_CURRENT_USER, key);
            ImportRegistryFile(*saved);
        }
    }
    if (backup) ::DeleteFileW(backup->c_str());
    return imported;
}

} // namespace kv
