#pragma once
// Registry access: an owned open key with typed reads that report absence, and
// an INI-style view of a key (section = sub-key, ident = value name) whose
// every read takes a default. A value of the wrong type or size reads as
// absent, so a corrupt value falls back to its default instead of failing.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Handles.h"

namespace kv {

// Windows (and Wine) reject key paths that start with a backslash (error 161):
// leading backslashes are dropped here, once, for every caller.
std::wstring NormalizeKeyPath(std::wstring_view path);

class RegistryKey {
public:
    RegistryKey() = default;
    static RegistryKey Open(HKEY root, std::wstring_view path, REGSAM access = KEY_READ);
    static RegistryKey Create(HKEY root, std::wstring_view path, REGSAM access = KEY_READ | KEY_WRITE);

    bool IsOpen() const noexcept { return key_.IsValid(); }
    HKEY Handle() const noexcept { return key_.Get(); }

    bool ValueExists(std::wstring_view name) const;
    // REG_NONE when absent.
    DWORD ValueType(std::wstring_view name) const;
    // REG_SZ or REG_EXPAND_SZ, trailing NULs removed.
    std::optional<std::wstring> ReadString(std::wstring_view name) const;
    // REG_DWORD of exactly four bytes.
    std::optional<DWORD> ReadDword(std::wstring_view name) const;
    // The raw bytes of a value of any type.
    std::optional<std::vector<std::uint8_t>> ReadBytes(std::wstring_view name) const;

    bool WriteString(std::wstring_view name, std::wstring_view value, DWORD type = REG_SZ);
    bool WriteDword(std::wstring_view name, DWORD value);
    bool WriteBinary(std::wstring_view name, const void* data, std::size_t size);
    bool DeleteValue(std::wstring_view name);

    std::vector<std::wstring> SubKeyNames() const;
    std::vector<std::wstring> ValueNames() const;

private:
    struct Value {
        DWORD type = REG_NONE;
        std::vector<std::uint8_t> bytes;
    };
    explicit RegistryKey(HKEY key) : key_(key) {}
    // The value's type and bytes in one question where they fit a small buffer.
    std::optional<Value> ReadValue(std::wstring_view name) const;
    static std::optional<std::wstring> AsString(const std::optional<Value>& value);
    static std::optional<DWORD> AsDword(const std::optional<Value>& value);
    friend class RegistryIniView;

    RegKey key_;
};

bool RegistryKeyExists(HKEY root, std::wstring_view path);
// Deletes the key with all its sub-keys; a missing key is no error.
bool DeleteRegistryTree(HKEY root, std::wstring_view path);

class RegistryIniView {
public:
    RegistryIniView(HKEY root, std::wstring_view basePath);

    const std::wstring& BasePath() const noexcept { return base_; }

    std::wstring ReadString(std::wstring_view section, std::wstring_view ident, std::wstring_view def) const;
    // A REG_DWORD, or a string that holds a whole number; otherwise the default.
    int ReadInteger(std::wstring_view section, std::wstring_view ident, int def) const;
    bool ReadBool(std::wstring_view section, std::wstring_view ident, bool def) const;
    std::optional<std::vector<std::uint8_t>> ReadBinary(std::wstring_view section, std::wstring_view ident) const;
    bool ValueExists(std::wstring_view section, std::wstring_view ident) const;
    std::vector<std::wstring> ReadSection(std::wstring_view section) const;

    bool WriteString(std::wstring_view section, std::wstring_view ident, std::wstring_view value);
    bool WriteInteger(std::wstring_view section, std::wstring_view ident, int value);
    bool WriteBool(std::wstring_view section, std::wstring_view ident, bool value);
    bool WriteBinary(std::wstring_view section, std::wstring_view ident, const void* data, std::size_t size);
    bool DeleteKey(std::wstring_view section, std::wstring_view ident);
    bool EraseSection(std::wstring_view section);

private:
    std::wstring SectionPath(std::wstring_view section) const;
    // The section last opened for reading stays open while the view reads on
    // (each open and close is a round trip to the registry under Wine);
    // anything the view writes or erases closes it.
    const RegistryKey& KeyForReading(std::wstring_view section) const;
    void ForgetKeyForReading() const;

    HKEY root_;
    std::wstring base_;
    mutable std::optional<std::wstring> readSection_;
    mutable RegistryKey readKey_;
};

} // namespace kv
