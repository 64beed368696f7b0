#include "platform/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

namespace kv {
namespace {

std::wstring NullTerminated(std::wstring_view text) { return std::wstring(text); }

} // namespace

std::wstring NormalizeKeyPath(std::wstring_view path)
{
    while (!path.empty() && path.front() == L'\\') path.remove_prefix(1);
    return std::wstring(path);
}

RegistryKey RegistryKey::Open(HKEY root, std::wstring_view path, REGSAM access)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, NormalizeKeyPath(path).c_str(), 0, access, &key) != ERROR_SUCCESS) return {};
    return RegistryKey(key);
}

RegistryKey RegistryKey::Create(HKEY root, std::wstring_view path, REGSAM access)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, NormalizeKeyPath(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return {};
    return RegistryKey(key);
}

bool RegistryKey::ValueExists(std::wstring_view name) const
{
    return IsOpen() && ::RegQueryValueExW(key_.Get(), NullTerminated(name).c_str(), nullptr, nullptr, nullptr,
                                          nullptr) == ERROR_SUCCESS;
}

DWORD RegistryKey::ValueType(std::wstring_view name) const
{
    DWORD type = REG_NONE;
    if (!IsOpen() ||
        ::RegQueryValueExW(key_.Get(), NullTerminated(name).c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}

std::optional<RegistryKey::Value> RegistryKey::ReadValue(std::wstring_view name) const
{
    if (!IsOpen()) return std::nullopt;
    const std::wstring valueName(name);
    Value value;
    value.bytes.resize(256);
    // The value may grow between two questions: ask again with the size reported.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD got = static_cast<DWORD>(value.bytes.size());
        const LONG rc = ::RegQueryValueExW(key_.Get(), valueName.c_str(), nullptr, &value.type, value.bytes.data(), &got);
        if (rc == ERROR_SUCCESS) {
            value.bytes.resize(got);
            return value;
        }
        if (rc != ERROR_MORE_DATA) return std::nullopt;
        value.bytes.resize(std::max<DWORD>(got, 1));
    }
    return std::nullopt;
}

std::optional<std::wstring> RegistryKey::AsString(const std::optional<Value>& value)
{
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring text(value->bytes.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), value->bytes.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

std::optional<DWORD> RegistryKey::AsDword(const std::optional<Value>& value)
{
    if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD)) return std::nullopt;
    DWORD number;
    std::memcpy(&number, value->bytes.data(), sizeof number);
    return number;
}

std::optional<std::vector<std::uint8_t>> RegistryKey::ReadBytes(std::wstring_view name) const
{
    auto value = ReadValue(name);
    if (!value) return std::nullopt;
    return std::move(value->bytes);
}

std::optional<std::wstring> RegistryKey::ReadString(std::wstring_view name) const { return AsString(ReadValue(name)); }

std::optional<DWORD> RegistryKey::ReadDword(std::wstring_view name) const { return AsDword(ReadValue(name)); }

bool RegistryKey::WriteString(std::wstring_view name, std::wstring_view value, DWORD type)
{
    const std::wstring text(value);
    return IsOpen() && ::RegSetValueExW(key_.Get(), NullTerminated(name).c_str(), 0, type,
                                        reinterpret_cast<const BYTE*>(text.c_str()),
                                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegistryKey::WriteDword(std::wstring_view name, DWORD value)
{
    return IsOpen() && ::RegSetValueExW(key_.Get(), NullTerminated(name).c_str(), 0, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

bool RegistryKey::WriteBinary(std::wstring_view name, const void* data, std::size_t size)
{
    return IsOpen() && ::RegSetValueExW(key_.Get(), NullTerminated(name).c_str(), 0, REG_BINARY,
                                        static_cast<const BYTE*>(data), static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool RegistryKey::DeleteValue(std::wstring_view name)
{
    return IsOpen() && ::RegDeleteValueW(key_.Get(), NullTerminated(name).c_str()) == ERROR_SUCCESS;
}

std::vector<std::wstring> RegistryKey::SubKeyNames() const
{
    std::vector<std::wstring> names;
    if (!IsOpen()) return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key_.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<std::wstring> RegistryKey::ValueNames() const
{
    std::vector<std::wstring> names;
    if (!IsOpen()) return names;
    std::wstring name(16384, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumValueW(key_.Get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name.data(), length);
    }
    return names;
}

bool RegistryKeyExists(HKEY root, std::wstring_view path)
{
    return RegistryKey::Open(root, path, KEY_READ).IsOpen();
}

bool DeleteRegistryTree(HKEY root, std::wstring_view path)
{
    const std::wstring keyPath = NormalizeKeyPath(path);
    if (keyPath.empty()) return false; // never the root itself
    const LONG rc = ::RegDeleteTreeW(root, keyPath.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return false;
    const LONG rc2 = ::RegDeleteKeyW(root, keyPath.c_str());
    return rc2 == ERROR_SUCCESS || rc2 == ERROR_FILE_NOT_FOUND;
}

RegistryIniView::RegistryIniView(HKEY root, std::wstring_view basePath) : root_(root), base_(NormalizeKeyPath(basePath)) {}

std::wstring RegistryIniView::SectionPath(std::wstring_view section) const
{
    std::wstring path = base_;
    const std::wstring sub = NormalizeKeyPath(section);
    if (!sub.empty()) {
        if (!path.empty() && path.back() != L'\\') path += L'\\';
        path += sub;
    }
    return path;
}

const RegistryKey& RegistryIniView::KeyForReading(std::wstring_view section) const
{
    if (!readSection_ || *readSection_ != section) {
        readKey_ = RegistryKey::Open(root_, SectionPath(section));
        readSection_ = std::wstring(section);
    }
    return readKey_;
}

void RegistryIniView::ForgetKeyForReading() const
{
    readSection_.reset();
    readKey_ = RegistryKey();
}

std::wstring RegistryIniView::ReadString(std::wstring_view section, std::wstring_view ident,
                                         std::wstring_view def) const
{
    auto value = KeyForReading(section).ReadString(ident);
    return value ? *value : std::wstring(def);
}

int RegistryIniView::ReadInteger(std::wstring_view section, std::wstring_view ident, int def) const
{
    const auto value = KeyForReading(section).ReadValue(ident);
    if (auto number = RegistryKey::AsDword(value)) return static_cast<int>(*number);
    if (auto text = RegistryKey::AsString(value)) {
        wchar_t* end = nullptr;
        errno = 0;
        const long number = std::wcstol(text->c_str(), &end, 10);
        if (!text->empty() && end && *end == L'\0' && errno == 0) return static_cast<int>(number);
    }
    return def;
}

bool RegistryIniView::ReadBool(std::wstring_view section, std::wstring_view ident, bool def) const
{
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

std::optional<std::vector<std::uint8_t>> RegistryIniView::ReadBinary(std::wstring_view section,
                                                                     std::wstring_view ident) const
{
    auto value = KeyForReading(section).ReadValue(ident);
    if (!value || value->type != REG_BINARY) return std::nullopt;
    return std::move(value->bytes);
}

bool RegistryIniView::ValueExists(std::wstring_view section, std::wstring_view ident) const
{
    return KeyForReading(section).ValueExists(ident);
}

std::vector<std::wstring> RegistryIniView::ReadSection(std::wstring_view section) const
{
    return KeyForReading(section).ValueNames();
}

bool RegistryIniView::WriteString(std::wstring_view section, std::wstring_view ident, std::wstring_view value)
{
    ForgetKeyForReading();
    return RegistryKey::Create(root_, SectionPath(section)).WriteString(ident, value);
}

bool RegistryIniView::WriteInteger(std::wstring_view section, std::wstring_view ident, int value)
{
    ForgetKeyForReading();
    return RegistryKey::Create(root_, SectionPath(section)).WriteDword(ident, static_cast<DWORD>(value));
}

bool RegistryIniView::WriteBool(std::wstring_view section, std::wstring_view ident, bool value)
{
    return WriteInteger(section, ident, value ? 1 : 0);
}

bool RegistryIniView::WriteBinary(std::wstring_view section, std::wstring_view ident, const void* data,
                                  std::size_t size)
{
    ForgetKeyForReading();
    return RegistryKey::Create(root_, SectionPath(section)).WriteBinary(ident, data, size);
}

bool RegistryIniView::DeleteKey(std::wstring_view section, std::wstring_view ident)
{
    ForgetKeyForReading();
    return RegistryKey::Open(root_, SectionPath(section), KEY_READ | KEY_WRITE).DeleteValue(ident);
}

bool RegistryIniView::EraseSection(std::wstring_view section)
{
    ForgetKeyForReading();
    return DeleteRegistryTree(root_, SectionPath(section));
}

} // namespace kv
